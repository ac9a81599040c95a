#include <gtest/gtest.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <string>

#include "platform/posix/test_stores.h"
#include "support/XSysInfo.h"

namespace vorel {
namespace {

platform::OsVersionRecord os(uint32_t platform_id, uint32_t major, uint32_t minor, uint32_t build,
                             std::string service_pack) {
  platform::OsVersionRecord r;
  r.platform_id = platform_id;
  r.major = major;
  r.minor = minor;
  r.build = build;
  r.service_pack = std::move(service_pack);
  return r;
}

TEST(OperatingSystemText, NtFamilyNamesTheReleaseAndBuild) {
  EXPECT_EQ(operating_system_text(os(2, 5, 1, 2600, "Service Pack 3")),
            "Microsoft Windows XP Service Pack 3(Build 2600)");
  EXPECT_EQ(operating_system_text(os(2, 5, 0, 2195, "Service Pack 4")),
            "Microsoft Windows 2000Service Pack 4(Build 2195)");
  EXPECT_EQ(operating_system_text(os(2, 5, 2, 3790, "")), "Microsoft Windows .NET (Build 3790)");
  EXPECT_EQ(operating_system_text(os(2, 4, 0, 1381, "Service Pack 6")),
            "Microsoft Windows NT 版本 4.0.Service Pack 6(Build 1381)");
  // Releases after the table still carry service pack and build.
  EXPECT_EQ(operating_system_text(os(2, 10, 0, 19045, "")), "(Build 19045)");
  EXPECT_EQ(operating_system_text(os(2, 6, 2, 9200, "")), "(Build 9200)");
  EXPECT_EQ(operating_system_text(os(0, 3, 10, 0, "")), "") << "neither family";
}

TEST(OperatingSystemText, NineXFamilyReadsTheSecondServicePackCharacter) {
  EXPECT_EQ(operating_system_text(os(1, 4, 0, 950, "")), "Microsoft Windows 95 ");
  EXPECT_EQ(operating_system_text(os(1, 4, 0, 1111, " B")), "Microsoft Windows 95 OSR2 ");
  EXPECT_EQ(operating_system_text(os(1, 4, 0, 1212, " C")), "Microsoft Windows 95 OSR2 ");
  EXPECT_EQ(operating_system_text(os(1, 4, 10, 1998, "")), "Microsoft Windows 98 ");
  EXPECT_EQ(operating_system_text(os(1, 4, 10, 2222, " A ")), "Microsoft Windows 98 SE ");
  EXPECT_EQ(operating_system_text(os(1, 4, 90, 3000, " ")), "Microsoft Windows Millennium Edition ");
  EXPECT_EQ(operating_system_text(os(1, 4, 0, 950, " A")), "Microsoft Windows 95 ");
  EXPECT_EQ(operating_system_text(os(1, 4, 50, 0, "")), "") << "no 9x release of that number";
}

TEST(OperatingSystemInfo, NumbersAndExtension) {
  // 9x systems keep the version in the high word of the build number.
  TOperatingSystemInfo info(os(1, 4, 10, (4u << 24) | (10u << 16) | 2222u, " A "), false);
  EXPECT_EQ(info.MajorVersion, "4");
  EXPECT_EQ(info.MinorVersion, "10");
  EXPECT_EQ(info.BuildNumber, "2222");
  EXPECT_EQ(info.Extension, " A ");
  TOperatingSystemInfo plus(os(1, 4, 0, 950, ""), true);
  EXPECT_EQ(plus.Extension, "PLUS!");
}

TEST(ComputerInfo, ArchitectureAndRevisionTexts) {
  platform::ProcessorRecord r;
  r.architecture = 2;
  r.processor_type = 586;
  r.processor_revision = (15u << 8) | 10u;
  r.page_size = 4096;
  r.number_of_processors = 2;
  r.active_processor_mask = 3;
  r.maximum_application_address = 0x7FFEFFFF;
  TComputerInfo pentium(r);
  EXPECT_EQ(pentium.ProcessorArchitecture, "Aplha");
  EXPECT_EQ(pentium.ProcessorRevision, "Model 15 Stepping 10");
  EXPECT_EQ(pentium.PageSize, "4096");
  EXPECT_EQ(pentium.ActiveProcessorMask, "3");
  EXPECT_EQ(pentium.MaximumApplicationAddress, "2147418111");

  r.architecture = 9;  // not in the list of four: no text rather than a read past the list
  r.processor_type = 486;
  r.processor_revision = 0x0403;
  TComputerInfo old(r);
  EXPECT_EQ(old.ProcessorArchitecture, "");
  EXPECT_EQ(old.ProcessorRevision, "1027");
  r.processor_type = 8664;
  EXPECT_EQ(TComputerInfo(r).ProcessorRevision, "");
}

// Each read moves time on, like the tick counter during a busy wait.
class SteppingClock : public platform::Clock {
 public:
  uint32_t ticks() override { return ticks_ += 7; }
  platform::LocalDateTime now() override { return {}; }
  uint32_t ticks_ = 0xFFFFFF00u;  // wraps during the measurement
};

TEST(ComputerInfo, FrequencyIsCounterIncrementsOverOneSecond) {
  SteppingClock clock;
  uint64_t counter = 5'000'000'000ull;
  int reads = 0;
  const std::string mhz = measure_frequency(clock, [&] {
    ++reads;
    uint64_t now = counter;
    counter += 2'394'123'456ull;
    return now;
  });
  EXPECT_EQ(mhz, "2394.123");
  EXPECT_EQ(reads, 2);
  EXPECT_GE(clock.ticks_ - 0xFFFFFF00u, 1000u);
}

TEST(SystemInformation, GathersFactsFromThePlatform) {
  TXSystemInformation info;
  EXPECT_FALSE(info.OperatingSystem().MajorVersion.empty());
  EXPECT_FALSE(info.Computer().NumberOfProcessors.empty());
  const platform::MemoryRecord m = platform::memory_status();
  EXPECT_EQ(info.Memory().TotalPhysical, m.total_physical);
  EXPECT_EQ(info.Memory().TotalPageFile, m.total_page_file);
  EXPECT_EQ(info.Memory().TotalVirtual, m.total_virtual);
  EXPECT_EQ(info.Memory().AvailableVirtual, m.available_virtual);
  EXPECT_NE(info.Volume().AvailableDrives, 0u);
}

// Memory figures as a 32-bit process's record gives them: in bytes up to 4 GiB less one, the
// "page file" as physical memory plus swap, and the load as the part of the memory in use.
TEST(SystemInformation, MemoryIsCountedInBytesThatFitInThirtyTwoBits) {
  using platform::test_stores::MemoryFigures;
  const struct {
    MemoryFigures machine;
    std::vector<uint32_t> record;  // load, physical, available, page file, available
  } kCases[] = {
      {{786432, 262144, 131072, 65536, 4096}, {67, 3u << 30, 1u << 30, 7u << 29, 5u << 28}},
      {{0xFFFFF, 0, 1, 0, 4096}, {100, 0xFFFFF000, 0, 0xFFFFFFFF, 0}},  // 4 GiB less a page, then 4 GiB
      {{64ull << 30, 48ull << 30, 0, 0, 1}, {25, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
      {{}, {0, 0, 0, 0, 0}},
  };
  for (const auto& c : kCases) {
    platform::test_stores::set_memory_figures(c.machine);
    const platform::MemoryRecord m = platform::memory_status();
    EXPECT_EQ((std::vector<uint32_t>{m.memory_load, m.total_physical, m.available_physical, m.total_page_file,
                                     m.available_page_file}),
              c.record)
        << c.machine.total_ram;
  }
  platform::test_stores::set_memory_figures(std::nullopt);
}

// The Linux build answers as a 32-bit x86 Windows process would, from the machine's own figures.
TEST(SystemInformation, TheLinuxBuildAnswersLikeA32BitWindowsProcess) {
  const platform::ProcessorRecord p = platform::processor_info();
  EXPECT_EQ(p.page_size, static_cast<uint32_t>(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(p.number_of_processors, static_cast<uint32_t>(sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_EQ(std::popcount(p.active_processor_mask), static_cast<int>(p.number_of_processors));
  EXPECT_EQ(p.architecture, 0) << "Intel";
  EXPECT_EQ(p.processor_type, 586u);
  EXPECT_EQ(p.processor_level, 6);
  EXPECT_EQ(p.allocation_granularity, 65536u);
  EXPECT_EQ(p.minimum_application_address, 0x10000u);
  EXPECT_EQ(p.maximum_application_address, 0x7FFEFFFFu);

  const platform::MemoryRecord m = platform::memory_status();
  struct sysinfo si {};
  ASSERT_EQ(sysinfo(&si), 0);
  const uint64_t physical = static_cast<uint64_t>(si.totalram) * si.mem_unit;
  EXPECT_EQ(m.total_physical, std::min<uint64_t>(physical, 0xFFFFFFFFu)) << "at most what 32 bits can say";
  EXPECT_LE(m.available_physical, m.total_physical);
  EXPECT_LE(m.available_page_file, m.total_page_file);
  EXPECT_GE(m.total_page_file, m.total_physical) << "the commit limit: physical memory and swap";
  EXPECT_GE(m.available_page_file, m.available_physical);
  EXPECT_LE(m.memory_load, 100u);
  EXPECT_EQ(m.total_virtual, 0x7FFE0000u) << "the two gigabytes of a 32-bit process";
  EXPECT_EQ(m.available_virtual, 0x7FFE0000u);

  const platform::OsVersionRecord os = platform::os_version();
  utsname u{};
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(os.platform_id, 2u) << "the NT family";
  const std::string release = u.release;
  const std::string numbers =
      std::to_string(os.major) + "." + std::to_string(os.minor) + "." + std::to_string(os.build);
  EXPECT_EQ(release.substr(0, numbers.size()), numbers) << "major, minor and build of the kernel release";
  EXPECT_FALSE(platform::windows_extensions_installed());
  EXPECT_EQ(platform::logical_drives(), 1u << 2) << "drive C: alone";
}

}  // namespace
}  // namespace vorel
