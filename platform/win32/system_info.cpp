// System facts on Win32.
#include <windows.h>

#include <intrin.h>

#include "platform/platform.h"

namespace platform {

OsVersionRecord os_version() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  OsVersionRecord r;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&v)) return r;
#pragma GCC diagnostic pop
  r.major = v.dwMajorVersion;
  r.minor = v.dwMinorVersion;
  r.build = v.dwBuildNumber;
  r.platform_id = v.dwPlatformId;
  r.service_pack = v.szCSDVersion;
  return r;
}

// Microsoft Plus! registers itself under this key on the 9x family.
bool windows_extensions_installed() { return machine_registry_key_exists("Software\\Microsoft\\Plus!"); }

ProcessorRecord processor_info() {
  SYSTEM_INFO si{};
  GetSystemInfo(&si);
  ProcessorRecord r;
  r.architecture = si.wProcessorArchitecture;
  r.page_size = si.dwPageSize;
  r.minimum_application_address = reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress);
  r.maximum_application_address = reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress);
  r.active_processor_mask = si.dwActiveProcessorMask;
  r.number_of_processors = si.dwNumberOfProcessors;
  r.processor_type = si.dwProcessorType;
  r.allocation_granularity = si.dwAllocationGranularity;
  r.processor_level = si.wProcessorLevel;
  r.processor_revision = si.wProcessorRevision;
  return r;
}

MemoryRecord memory_status() {
  MEMORYSTATUS m{};
  m.dwLength = sizeof m;
  GlobalMemoryStatus(&m);
  MemoryRecord r;
  r.memory_load = m.dwMemoryLoad;
  r.total_physical = static_cast<uint32_t>(m.dwTotalPhys);
  r.available_physical = static_cast<uint32_t>(m.dwAvailPhys);
  r.total_page_file = static_cast<uint32_t>(m.dwTotalPageFile);
  r.available_page_file = static_cast<uint32_t>(m.dwAvailPageFile);
  r.total_virtual = static_cast<uint32_t>(m.dwTotalVirtual);
  r.available_virtual = static_cast<uint32_t>(m.dwAvailVirtual);
  return r;
}

uint32_t logical_drives() { return GetLogicalDrives(); }

uint64_t time_stamp_counter() { return __rdtsc(); }

}  // namespace platform
