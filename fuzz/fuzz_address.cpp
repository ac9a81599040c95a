// An address text through the address editor's check and through tag registration.
#include <string>
#include <vector>

#include "engine/DLLBase.h"
#include "fuzz_support.h"

namespace {

// Keeps the run log out of the hot loop; the lines are still composed.
struct QuietEngine : vorel::TBaseDLLObject {
  QuietEngine() : TBaseDLLObject(true) {}
  void AppendLog(std::string_view text) override { sink += text.size(); }
  size_t sink = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enter_scratch_folder();
  static QuietEngine* engine = [] {
    auto* e = new QuietEngine;
    TDeviceParams block = fuzz::default_block();
    block.ErrorLog = 1;
    block.TraceLog = 1;
    block.card(2)->ModelCode = 0;
    e->IniParm(&block);
    return e;
  }();
  if (size > 300) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::string address = text;
  engine->CheckTagAddr(&engine->parameters(), address);

  vorel::HostTag tag;
  tag.TagID = static_cast<int32_t>(size);
  tag.Name = "F";
  tag.Address = text;
  tag.ValueType = static_cast<uint8_t>(size % 3);
  std::vector<vorel::HostTag> tags{tag};
  engine->IniDLLObj(&engine->parameters(), tags);
  return 0;
}
