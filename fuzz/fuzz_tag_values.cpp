// Arrays of host value records through OnDataWrite and WriteTags on a running engine, with the
// clock moving on so that queued writes expire and polls answer.
#include <vector>

#include "fuzz_support.h"
#include "tests/common/manual_clock.h"

namespace {

std::vector<TTagInfo> make_tags() {
  const char* addresses[] = {"DO1:0,0.0", "DO1:0,0.1", "DO1:0,1.5", "DI1:0,2.3", "COMMLINK",
                             "ENCOMMLINK", "DEVICELINK1:", "DO1:0,15.15"};
  const uint8_t types[] = {1, 0, 2, 1, 2, 0, 2, 1};
  std::vector<TTagInfo> tags(8);
  for (int i = 0; i < 8; ++i) {
    std::memset(&tags[i], 0, sizeof(TTagInfo));
    tags[i].TagID = i * 3;
    std::snprintf(tags[i].TagName, sizeof tags[i].TagName, "T%d", i);
    std::snprintf(tags[i].TagAddr, sizeof tags[i].TagAddr, "%s", addresses[i]);
    tags[i].ValueType = types[i];
  }
  return tags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enter_scratch_folder();
  static platform::ManualClock clock(100);
  static bool started = [] {
    platform::set_clock(&clock);
    static std::vector<TTagInfo> tags = make_tags();
    static std::vector<TTagInfo*> pointers;
    for (auto& t : tags) pointers.push_back(&t);
    static TDeviceParams block = fuzz::default_block();
    block.ErrorLog = 1;
    char* message = nullptr;
    IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), &block, &message);
    fuzz::release(message);
    return true;
  }();
  (void)started;

  static char text[] = "1";
  const size_t count = std::min<size_t>(size / sizeof(TTagValue), 64);
  std::vector<TTagValue> values(count);
  if (count > 0) std::memcpy(values.data(), data, count * sizeof(TTagValue));
  for (TTagValue& v : values) {
    if (v.ValueType == 2) {  // a string value carries the host's pointer: make it a real one
      char* p = v.TagStatus % 2 ? text : nullptr;
      std::memcpy(v.Value, &p, sizeof p);
    }
  }
  data += count * sizeof(TTagValue);
  size -= count * sizeof(TTagValue);

  char* message = nullptr;
  if (count > 0) {
    if (values[0].TagStatus & 4)
      WriteTags(static_cast<uint16_t>(count), values.data(), 0);
    else
      OnDataWrite(static_cast<int32_t>(count), values.data(), &message);
    fuzz::release(message);
  }
  clock.advance(fuzz::take<uint16_t>(data, size) % 6000);
  std::vector<TTagValue> reported(8);
  int32_t n = 0;
  OnDataRead(&n, reported.data(), &message);
  fuzz::release(message);
  for (int32_t i = 0; i < n; ++i) {
    if (reported[i].ValueType == 2) {
      char* s;
      std::memcpy(&s, reported[i].Value, sizeof s);
      std::free(s);
    }
  }
  return 0;
}
