// Operating-system, processor, memory and drive facts for the start and stop reports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace vorel {

class TCustomInfo {
 public:
  virtual ~TCustomInfo() = default;

 protected:
  virtual void Refresh() {}
};

class TOperatingSystemInfo : public TCustomInfo {
 public:
  TOperatingSystemInfo() { Refresh(); }
  explicit TOperatingSystemInfo(const platform::OsVersionRecord& record, bool extensions) {
    fill(record, extensions);
  }

  std::string Platform, MajorVersion, MinorVersion, BuildNumber, Extension;

 protected:
  void Refresh() override;

 private:
  void fill(const platform::OsVersionRecord& record, bool extensions);
};

// "Microsoft Windows XP Service Pack 2(Build 2600)" and its relatives.
std::string operating_system_text(const platform::OsVersionRecord& record);

class TComputerInfo : public TCustomInfo {
 public:
  TComputerInfo() { Refresh(); }
  explicit TComputerInfo(const platform::ProcessorRecord& record) { fill(record); }

  std::string ProcessorArchitecture, PageSize, MinimumApplicationAddress, MaximumApplicationAddress,
      ActiveProcessorMask, NumberOfProcessors, ProcessorType, AllocationGranularity, ProcessorLevel,
      ProcessorRevision;

  // Measured on the first read in the process, never at construction: the measurement
  // busy-waits for one second.
  const std::string& Frequency();

 protected:
  void Refresh() override;

 private:
  void fill(const platform::ProcessorRecord& record);
  std::optional<std::string> frequency_;
};

// Time-stamp counter increments over one second of the clock's ticks, in MHz with "%.3f".
std::string measure_frequency(platform::Clock& clock, const std::function<uint64_t()>& counter);

class TMemoryInfo : public TCustomInfo {
 public:
  TMemoryInfo() { Refresh(); }

  uint32_t MemoryLoad = 0, TotalPhysical = 0, AvailablePhysical = 0, TotalPageFile = 0,
           AvailablePageFile = 0, TotalVirtual = 0, AvailableVirtual = 0;

 protected:
  void Refresh() override;
};

class TVolumeInfo : public TCustomInfo {
 public:
  TVolumeInfo() { Refresh(); }

  uint32_t AvailableDrives = 0;  // bit 0 = A:

 protected:
  void Refresh() override;
};

class TXSystemInformation {
 public:
  TXSystemInformation();
  ~TXSystemInformation();
  TXSystemInformation(const TXSystemInformation&) = delete;
  TXSystemInformation& operator=(const TXSystemInformation&) = delete;

  TOperatingSystemInfo& OperatingSystem() { return *operating_system_; }
  TComputerInfo& Computer() { return *computer_; }
  TVolumeInfo& Volume() { return *volume_; }
  TMemoryInfo& Memory() { return *memory_; }

 private:
  std::unique_ptr<TOperatingSystemInfo> operating_system_;
  std::unique_ptr<TComputerInfo> computer_;
  std::unique_ptr<TVolumeInfo> volume_;
  std::unique_ptr<TMemoryInfo> memory_;
};

}  // namespace vorel
