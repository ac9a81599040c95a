#include "tools/hostsim/driver_api.h"

namespace hostsim {

namespace {

template <class Fn>
void bind(platform::LibraryHandle library, const char* name, Fn& slot, LoadProblems& problems) {
  slot = reinterpret_cast<Fn>(platform::resolve(library, name));
  if (!slot) problems.unresolved.push_back(name);
}

#define HOSTSIM_BIND_EXPORT(name) bind(exports.library, #name, exports.name, problems)

}  // namespace

LoadProblems load_memory_manager(const std::string& path, MemoryManager& manager) {
  LoadProblems problems;
  manager.library = platform::load_library(path.c_str());
  if (!manager.library) {
    problems.library_missing = path;
    return problems;
  }
#if defined(_WIN32)
  bind(manager.library, "@Borlndmm@SysFreeMem$qqrpv", manager.SysFreeMem, problems);
#else
  bind(manager.library, "SysFreeMem", manager.SysFreeMem, problems);
#endif
  bind(manager.library, "sim_live_blocks", manager.live_blocks, problems);
  bind(manager.library, "sim_total_blocks", manager.total_blocks, problems);
  return problems;
}

LoadProblems load_driver(const std::string& path, DriverExports& exports) {
  LoadProblems problems;
  exports.library = platform::load_library(path.c_str());
  if (!exports.library) {
    problems.library_missing = path;
    return problems;
  }
  HOSTSIM_BIND_EXPORT(GetPDBLen);
  HOSTSIM_BIND_EXPORT(FullPDB);
  HOSTSIM_BIND_EXPORT(DLLEdDev);
  HOSTSIM_BIND_EXPORT(DLLTestDev);
  HOSTSIM_BIND_EXPORT(TagEdAddr);
  HOSTSIM_BIND_EXPORT(GetTagAddrList);
  HOSTSIM_BIND_EXPORT(GetTags);
  HOSTSIM_BIND_EXPORT(IniDriver);
  HOSTSIM_BIND_EXPORT(IniDriverEx);
  HOSTSIM_BIND_EXPORT(AddTags);
  HOSTSIM_BIND_EXPORT(DetectScanTime);
  HOSTSIM_BIND_EXPORT(OnDataRead);
  HOSTSIM_BIND_EXPORT(OnDataWrite);
  HOSTSIM_BIND_EXPORT(ReadTags);
  HOSTSIM_BIND_EXPORT(WriteTags);
  HOSTSIM_BIND_EXPORT(GetDeviceStatus);
  HOSTSIM_BIND_EXPORT(WriteLog);
  HOSTSIM_BIND_EXPORT(FreeDriver);
  return problems;
}

std::optional<std::string> ReceivedStrings::take(char*& slot) {
  if (!slot) return std::nullopt;
  std::optional<std::string> text(slot);
  ++received_;
  if (manager_.SysFreeMem(slot) != 0) ++free_failures_;
  slot = nullptr;
  return text;
}

}  // namespace hostsim
