#include "support/XSysInfo.h"

#include <cstdio>

namespace vorel {

namespace {

std::string decimal(uint64_t v) { return std::to_string(v); }

// Second character of the service-pack text, or 0 when it is shorter.
char second_char(const std::string& s) { return s.size() >= 2 ? s[1] : '\0'; }

}  // namespace

// ---------------------------------------------------------------- operating system

std::string operating_system_text(const platform::OsVersionRecord& r) {
  std::string text;
  if (r.platform_id == 1) {
    const char c = second_char(r.service_pack);
    if (r.major == 4 && r.minor == 0) {
      text = "Microsoft Windows 95 ";
      if (c == 'C' || c == 'B') text += "OSR2 ";
    } else if (r.major == 4 && r.minor == 10) {
      text = "Microsoft Windows 98 ";
      if (c == 'A') text += "SE ";
    } else if (r.major == 4 && r.minor == 90) {
      text = "Microsoft Windows Millennium Edition ";
    }
  } else if (r.platform_id == 2) {
    if (r.major <= 4)
      text = "Microsoft Windows NT ";
    else if (r.major == 5 && r.minor == 0)
      text = "Microsoft Windows 2000";
    else if (r.major == 5 && r.minor == 1)
      text = "Microsoft Windows XP ";
    else if (r.major == 5 && r.minor == 2)
      text = "Microsoft Windows .NET ";
    if (r.major > 4)
      text += r.service_pack + "(Build " + decimal(r.build) + ")";
    else
      text += "版本 " + decimal(r.major) + "." + decimal(r.minor) + "." + r.service_pack + "(Build " +
              decimal(r.build) + ")";
  }
  return text;
}

void TOperatingSystemInfo::Refresh() {
  fill(platform::os_version(), platform::windows_extensions_installed());
}

void TOperatingSystemInfo::fill(const platform::OsVersionRecord& r, bool extensions) {
  Platform = operating_system_text(r);
  MajorVersion = decimal(r.major);
  MinorVersion = decimal(r.minor);
  BuildNumber = decimal(r.build & 0xFFFF);
  Extension = extensions ? "PLUS!" : r.service_pack;
}

// ---------------------------------------------------------------- processor

void TComputerInfo::Refresh() { fill(platform::processor_info()); }

void TComputerInfo::fill(const platform::ProcessorRecord& r) {
  static constexpr const char* kArchitectures[] = {"Intel", "MIPS", "Aplha", "PPC"};
  ProcessorArchitecture = r.architecture < std::size(kArchitectures) ? kArchitectures[r.architecture] : "";
  PageSize = decimal(r.page_size);
  MinimumApplicationAddress = decimal(r.minimum_application_address);
  MaximumApplicationAddress = decimal(r.maximum_application_address);
  ActiveProcessorMask = decimal(r.active_processor_mask);
  NumberOfProcessors = decimal(r.number_of_processors);
  ProcessorType = decimal(r.processor_type);
  AllocationGranularity = decimal(r.allocation_granularity);
  ProcessorLevel = decimal(r.processor_level);
  if (r.processor_type == 386 || r.processor_type == 486) {
    ProcessorRevision = decimal(r.processor_revision);
  } else if (r.processor_type == 586) {
    ProcessorRevision =
        "Model " + decimal(r.processor_revision / 256u) + " Stepping " + decimal(r.processor_revision % 256u);
  } else {
    ProcessorRevision.clear();
  }
}

const std::string& TComputerInfo::Frequency() {
  // The clock rate does not change while the host runs: measure once per process, on physical
  // time even when tests have replaced the engine clock.
  static const std::string measured =
      measure_frequency(platform::system_clock(), platform::time_stamp_counter);
  if (!frequency_) frequency_ = measured;
  return *frequency_;
}

std::string measure_frequency(platform::Clock& clock, const std::function<uint64_t()>& counter) {
  const uint64_t first = counter();
  const uint32_t start = clock.ticks();
  while (static_cast<uint32_t>(clock.ticks() - start) < 1000u) {
  }
  const uint64_t last = counter();
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(last - first) / 1000000.0);
  return text;
}

// ---------------------------------------------------------------- memory and drives

void TMemoryInfo::Refresh() {
  const platform::MemoryRecord m = platform::memory_status();
  MemoryLoad = m.memory_load;
  TotalPhysical = m.total_physical;
  AvailablePhysical = m.available_physical;
  TotalPageFile = m.total_page_file;
  AvailablePageFile = m.available_page_file;
  TotalVirtual = m.total_virtual;
  AvailableVirtual = m.available_virtual;
}

void TVolumeInfo::Refresh() { AvailableDrives = platform::logical_drives(); }

// ---------------------------------------------------------------- component

TXSystemInformation::TXSystemInformation()
    : operating_system_(std::make_unique<TOperatingSystemInfo>()),
      computer_(std::make_unique<TComputerInfo>()),
      volume_(std::make_unique<TVolumeInfo>()),
      memory_(std::make_unique<TMemoryInfo>()) {}

TXSystemInformation::~TXSystemInformation() = default;

}  // namespace vorel
