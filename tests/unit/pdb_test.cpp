#include "records/pdb.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace vorel {
namespace {

std::unique_ptr<TDeviceParams> block_filled_with(uint8_t byte) {
  auto b = std::make_unique<TDeviceParams>();
  std::memset(b.get(), byte, sizeof(TDeviceParams));
  return b;
}

const uint8_t* bytes(const TDeviceParams& b) { return reinterpret_cast<const uint8_t*>(&b); }

bool within(size_t offset, size_t start, size_t size) { return offset >= start && offset < start + size; }

// Header bytes 3..7 and 9..11, entry bytes 46..47 and 284..539 belong to the host.
bool is_reserved(size_t offset) {
  constexpr size_t kEntries = offsetof(TDeviceParams, Cards);
  if (offset < kEntries)
    return within(offset, offsetof(TDeviceParams, reserved3), sizeof TDeviceParams::reserved3) ||
           within(offset, offsetof(TDeviceParams, reserved9), sizeof TDeviceParams::reserved9);
  const size_t in_entry = (offset - kEntries) % sizeof(TCardParams);
  return within(in_entry, offsetof(TCardParams, reserved46), sizeof TCardParams::reserved46) ||
         in_entry >= offsetof(TCardParams, reserved284);
}

TEST(ParameterBlock, DefaultsConfigureOnePci7505AsCardOne) {
  auto b = block_filled_with(0xCD);
  FullPDB(b.get());
  EXPECT_EQ(b->DebugSwitch, 1);
  EXPECT_EQ(b->ErrorLog, 0);
  EXPECT_EQ(b->TraceLog, 0);
  EXPECT_EQ(b->CreateMode, 0);
  EXPECT_EQ(b->CurCardNo, 1);
  for (int n = 1; n <= kCardCount; ++n) {
    const TCardParams& c = *b->card(n);
    SCOPED_TRACE(n);
    EXPECT_EQ(c.CardNo, n);
    EXPECT_EQ(c.ModelCode, n == 1 ? 0 : 1);
    EXPECT_EQ(ModelName(c), n == 1 ? "PCI_7505" : "");
    EXPECT_EQ(c.BaseAddress, 0x220);
    EXPECT_EQ(c.InputMode, 0);
    EXPECT_EQ(c.ADMaxRange, 0);
    EXPECT_EQ(c.ADFilterNums, 10);
    EXPECT_EQ(c.reserved64, 0);
    for (int i = 0; i < 32; ++i) {
      EXPECT_EQ(c.ADRange[i], 0);
    }
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c.DARange[i], 0);
    for (int i = 0; i < 24; ++i) {
      EXPECT_EQ(c.TCMode[i], 0);
      EXPECT_EQ(c.TCClockDivOn[i], 0);
      EXPECT_EQ(c.TCFilterDivOn[i], 0);
      EXPECT_EQ(c.TCClockDiv[i], 1);
      EXPECT_EQ(c.TCFilterDiv[i], 2);
    }
  }
  for (size_t i = 0; i < sizeof(TDeviceParams); ++i)
    if (is_reserved(i)) {
      ASSERT_EQ(bytes(*b)[i], 0xCD) << "reserved byte " << i << " was written";
    }
}

TEST(ParameterBlock, DefaultsWithoutBlockDoNothing) { FullPDB(nullptr); }

TEST(ParameterBlock, CopyCarriesEveryDefinedFieldAndNoReservedByte) {
  auto source = block_filled_with(0x5A);  // reserved bytes differ from the destination's
  FullPDB(source.get());
  source->ErrorLog = 1;
  source->TraceLog = 1;
  source->CreateMode = 1;
  source->CurCardNo = 5;
  TCardParams& c = *source->card(3);
  c.ModelCode = 0;
  set_model_name(c, "PCI_7505");
  c.BaseAddress = 0x300;
  c.InputMode = 1;
  c.ADMaxRange = 2;
  c.ADFilterNums = 3;
  c.reserved64 = 9;
  c.ADRange[31] = 4;
  c.DARange[15] = 5;
  c.TCMode[23] = 6;
  c.TCClockDivOn[23] = 1;
  c.TCClockDiv[23] = 1000;
  c.TCFilterDivOn[0] = 1;
  c.TCFilterDiv[23] = 77;

  auto dest = block_filled_with(0xA5);
  CopyPDB(*source, *dest);
  for (size_t i = 0; i < sizeof(TDeviceParams); ++i) {
    if (is_reserved(i)) {
      ASSERT_EQ(bytes(*dest)[i], 0xA5) << "reserved byte " << i << " was copied";
      continue;
    }
    if (i >= 16) {
      // Name bytes past the name's length are not part of the name.
      const TCardParams& entry = source->Cards[(i - 16) / sizeof(TCardParams)];
      const size_t in_entry = (i - 16) % sizeof(TCardParams);
      if (in_entry > 5u + entry.ModelName[0] && in_entry < 46) continue;
    }
    ASSERT_EQ(bytes(*dest)[i], bytes(*source)[i]) << "field byte " << i;
  }
}

TEST(ParameterBlock, CopyCutsModelNamesToFortyBytes) {
  auto source = block_filled_with(0);
  FullPDB(source.get());
  TCardParams& c = *source->card(2);
  c.ModelName[0] = 41;  // a hand-edited block claiming one byte too many
  std::memset(c.ModelName + 1, 'X', 40);
  auto dest = block_filled_with(0);
  CopyPDB(*source, *dest);
  EXPECT_EQ(dest->card(2)->ModelName[0], 40);
  EXPECT_EQ(ModelName(*dest->card(2)), std::string(40, 'X'));
  EXPECT_EQ(dest->card(2)->reserved46[0], 0) << "the name spilled into the next field";

  TCardParams named{};
  set_model_name(named, std::string(60, 'Y'));
  EXPECT_EQ(ModelName(named).size(), 40u);
  // A double-byte character across the 40th byte is left out whole.
  set_model_name(named, std::string(39, 'Y') + "板卡");
  EXPECT_EQ(ModelName(named), std::string(39, 'Y'));
}

TEST(ParameterBlock, CardLookupRejectsNumbersOutsideTheBlock) {
  TDeviceParams b{};
  EXPECT_EQ(b.card(0), nullptr);
  EXPECT_EQ(b.card(33), nullptr);
  EXPECT_EQ(b.card(-1), nullptr);
  EXPECT_EQ(b.card(32), &b.Cards[31]);
}

TEST(ParameterBlock, FirstFreeAndFirstUsedCardsCountFromOneToThirtyTwo) {
  TDeviceParams b{};
  const auto use = [&](int n, bool used) { b.card(n)->ModelCode = used ? kModelPci7505 : kModelNoCard; };
  for (int n = 1; n <= 32; ++n) use(n, false);
  EXPECT_EQ(first_free_card(b), 1);
  EXPECT_EQ(first_used_card(b), -1);
  use(1, true);
  use(32, true);
  EXPECT_EQ(first_free_card(b), 2);
  EXPECT_EQ(first_used_card(b), 1);
  for (int n = 2; n <= 31; ++n) use(n, true);
  use(1, false);
  EXPECT_EQ(first_free_card(b), 1);
  EXPECT_EQ(first_used_card(b), 2);
  use(1, true);
  EXPECT_EQ(first_free_card(b), -1) << "every card in use";
}

}  // namespace
}  // namespace vorel

namespace vorel {
namespace {

TEST(ParameterBlock, HostBlocksAtAnyAddressAreFilledAndCopied) {
  // The host owns the block and may place it at an odd address.
  std::vector<uint8_t> memory(2 * sizeof(TDeviceParams) + 2);
  auto* odd = reinterpret_cast<TDeviceParams*>(memory.data() + 1);
  auto* other = reinterpret_cast<TDeviceParams*>(memory.data() + 1 + sizeof(TDeviceParams));
  FullPDB(odd);
  CopyPDB(*odd, *other);
  uint16_t filter_div;
  std::memcpy(&filter_div, reinterpret_cast<const uint8_t*>(other) + 16 + 540 * 31 + 236 + 46, 2);
  EXPECT_EQ(filter_div, 2);
}

}  // namespace
}  // namespace vorel
