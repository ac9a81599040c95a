// Arrays of host tag records, with every VARIANT type code in InitValue, through IniDriver and
// AddTags, then one poll and the stop.
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enter_scratch_folder();
  const size_t count = std::min<size_t>(size / sizeof(TTagInfo), 48);
  if (count == 0) return 0;
  std::vector<TTagInfo> records(count);
  std::memcpy(records.data(), data, count * sizeof(TTagInfo));

  // Pointer-carrying variants must point at real text, as a host's would.
  static char16_t bstr_storage[8] = {6, 0, u'K', u'\u901a', u'x', 0};  // length prefix 6 bytes
  static char ansi[] = "开关ON";
  for (TTagInfo& r : records) {
    uint16_t vt;
    std::memcpy(&vt, &r.InitValue.vt, 2);
    void* pointer = nullptr;
    if (vt == 8) pointer = r.TagID % 2 ? &bstr_storage[2] : nullptr;
    if (vt == 0x100) pointer = r.TagID % 2 ? ansi : nullptr;
    if (vt == 8 || vt == 0x100) std::memcpy(r.InitValue.value, &pointer, sizeof pointer);
  }

  std::vector<TTagInfo*> pointers;
  for (auto& r : records) pointers.push_back(&r);
  if (records[0].ScanPeriod % 7 == 0) pointers[0] = nullptr;  // hosts can hand over holes

  TDeviceParams block = fuzz::default_block();
  block.ErrorLog = static_cast<uint8_t>(records[0].ValueType & 1);
  char* message = nullptr;
  const size_t first = count / 2 + 1;
  IniDriver(static_cast<int32_t>(first), pointers.data(), &block, &message);
  fuzz::release(message);
  std::vector<int32_t> results(count - first + 1, -1);
  AddTags(static_cast<uint16_t>(count - first), pointers.data() + first, results.data());

  std::vector<TTagValue> values(count * 2);
  int32_t reported = 0;
  OnDataRead(&reported, values.data(), &message);
  fuzz::release(message);
  for (int32_t i = 0; i < reported; ++i) {
    if (values[i].ValueType == 2) {
      char* text;
      std::memcpy(&text, values[i].Value, sizeof text);
      std::free(text);
    }
  }
  FreeDriver();
  return 0;
}
