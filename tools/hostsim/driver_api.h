// The two libraries the host loads at run time: the shared memory manager, which owns every text
// the driver hands over, and the driver itself, reached only through its exports by name.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "interface/exports.h"
#include "platform/platform.h"

namespace hostsim {

// The manager's entry points take their argument in EAX (register convention).
#if defined(__i386__)
#define HOSTSIM_REGISTER_CALL __attribute__((regparm(3)))
#else
#define HOSTSIM_REGISTER_CALL
#endif

using SysFreeMemFn = int32_t(HOSTSIM_REGISTER_CALL*)(void* block);
using BlockCountFn = int32_t (*)();

struct MemoryManager {
  platform::LibraryHandle library = nullptr;
  SysFreeMemFn SysFreeMem = nullptr;
  BlockCountFn live_blocks = nullptr;   // blocks handed out and not yet freed
  BlockCountFn total_blocks = nullptr;  // blocks ever handed out
};

// Every export the host calls, typed from the driver's own declarations.
struct DriverExports {
  platform::LibraryHandle library = nullptr;
  decltype(&::GetPDBLen) GetPDBLen = nullptr;
  decltype(&::FullPDB) FullPDB = nullptr;
  decltype(&::DLLEdDev) DLLEdDev = nullptr;
  decltype(&::DLLTestDev) DLLTestDev = nullptr;
  decltype(&::TagEdAddr) TagEdAddr = nullptr;
  decltype(&::GetTagAddrList) GetTagAddrList = nullptr;
  decltype(&::GetTags) GetTags = nullptr;
  decltype(&::IniDriver) IniDriver = nullptr;
  decltype(&::IniDriverEx) IniDriverEx = nullptr;
  decltype(&::AddTags) AddTags = nullptr;
  decltype(&::DetectScanTime) DetectScanTime = nullptr;
  decltype(&::OnDataRead) OnDataRead = nullptr;
  decltype(&::OnDataWrite) OnDataWrite = nullptr;
  decltype(&::ReadTags) ReadTags = nullptr;
  decltype(&::WriteTags) WriteTags = nullptr;
  decltype(&::GetDeviceStatus) GetDeviceStatus = nullptr;
  decltype(&::WriteLog) WriteLog = nullptr;
  decltype(&::FreeDriver) FreeDriver = nullptr;
};

// Outcome of loading one library: what could not be found, empty on success.
struct LoadProblems {
  std::string library_missing;          // the path that would not load
  std::vector<std::string> unresolved;  // entry points absent from a loaded library
  bool ok() const { return library_missing.empty() && unresolved.empty(); }
};

LoadProblems load_memory_manager(const std::string& path, MemoryManager& manager);
LoadProblems load_driver(const std::string& path, DriverExports& exports);

// Takes over the texts the driver returns: copies each one out and gives its block back to the
// manager at once, counting what it received, as the host must.
class ReceivedStrings {
 public:
  explicit ReceivedStrings(const MemoryManager& manager) : manager_(manager) {}

  // The text at *slot, or nullopt for a null pointer. The block is freed and *slot cleared.
  std::optional<std::string> take(char*& slot);

  int32_t received() const { return received_.load(); }
  int32_t free_failures() const { return free_failures_.load(); }

 private:
  const MemoryManager& manager_;
  std::atomic<int32_t> received_{0};
  std::atomic<int32_t> free_failures_{0};
};

}  // namespace hostsim
