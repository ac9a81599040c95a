// The run log as the plant engineer finds it: which folder it lands in, what the archives are
// called and which disappear, what the stop report says, and that lines of several engines arrive.
#include "engine/run_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/DLLBase.h"
#include "engine_probe.h"
#include "host_session.h"
#include "platform/posix/test_stores.h"
#include "records/pdb.h"
#include "support/getfileinfo.h"
#include "temp_dir.h"
#include "tests/common/manual_clock.h"
#include "tests/common/sim_bank.h"

namespace vorel {
namespace {

namespace fs = std::filesystem;
using testing_support::file_text;

const std::string kTime = "2026/12/7 9:05:03";  // the manual clock's date-time text

// The line that reports, once the log can be written again, the lines lost since the manual
// clock's time.
std::string LossLine(int lines) {
  return kTime + "：运行日志写入失败，自" + kTime + "起共丢失" + std::to_string(lines) +
         "行记录，现已恢复写入。\r\n";
}

// Splits at CR LF; a text that ends in CR LF gives no empty last line.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t from = 0, end; from < text.size(); from = end + 2) {
    end = std::min(text.find("\r\n", from), text.size());
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// Each test runs in a fresh current folder with an empty registry and a manual clock, so that
// the log of every engine it builds lands in that folder.
class RunLogTest : public ::testing::Test {
 protected:
  RunLogTest() : previous_(getcwd(nullptr, 0), &free) {
    platform::test_stores::clear_machine_registry();
    enter(root_.dir());
  }
  ~RunLogTest() override {
    if (previous_) {
      EXPECT_EQ(chdir(previous_.get()), 0);
    }
    platform::test_stores::clear_machine_registry();
    InitLogPath();
  }
  void enter(const std::string& dir) {
    fs::create_directories(dir);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    InitLogPath();
  }
  // The folder as the host writes paths.
  std::string WindowsRoot() const {
    std::string path = root_.dir();
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
  }
  fs::path Debug() const { return fs::path(root_.dir()) / "Debug"; }
  void write(const std::string& name, const std::string& content) {
    fs::create_directories(Debug());
    std::ofstream(Debug() / name, std::ios::binary) << content;
  }
  bool Has(const std::string& name) const { return fs::exists(Debug() / name); }

  testing_support::TempDir root_;
  platform::ManualClock clock_{1000, {2026, 12, 7, 9, 5, 3, 0}};
  platform::ScopedClock scoped_clock_{clock_};

 private:
  std::unique_ptr<char, decltype(&free)> previous_;
};

// ---------------------------------------------------------------- where the log lives

using LogLocation = RunLogTest;

TEST_F(LogLocation, WithoutTheHostsIniFileTheLogGoesBelowTheCurrentFolder) {
  EXPECT_EQ(run_log_path(), ".\\Debug\\Vorel_PCI.Log");
  EXPECT_TRUE(append_run_log("第一行\r\n"));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "第一行\r\n") << "the first append makes the folder";
}

TEST_F(LogLocation, FollowsTheRegisteredHostsDefaultProject) {
  root_.write("Taviran.ini", "[WORKING]\r\nDefaultPROJECT=" + WindowsRoot() + "Plants\\Line2\\Line2.prj\r\n");
  platform::test_stores::set_machine_registry("Software\\KESTA", "PATH",
                                              "  " + WindowsRoot() + "Taviran.exe");
  enter(root_.dir() + "elsewhere/deeper");  // neither here nor one folder up
  EXPECT_EQ(run_log_path(), WindowsRoot() + "Plants\\Line2\\Debug\\Vorel_PCI.Log");
  EXPECT_TRUE(append_run_log("x"));
  EXPECT_EQ(file_text(fs::path(root_.dir()) / "Plants/Line2/Debug/Vorel_PCI.Log"), "x");
}

TEST_F(LogLocation, WithoutARegisteredHostTheIniFileOneFolderUpIsRead) {
  root_.write("Taviran.ini", "[WORKING]\r\nDefaultPROJECT=D:\\Plants\\Line2\\Line2.prj\r\n");
  enter(root_.dir() + "bin");
  EXPECT_EQ(run_log_path(), "D:\\Plants\\Line2\\Debug\\Vorel_PCI.Log");

  root_.write("Taviran.ini", "[WORKING]\r\nDefaultPROJECT=D:\\Plants\\Line3\\\r\n");
  InitLogPath();
  EXPECT_EQ(run_log_path(), "D:\\Plants\\Line3\\Debug\\Vorel_PCI.Log") << "a folder value is kept whole";

  // The second byte of 淺 is a backslash: the folder ends at the last real one.
  root_.write("Taviran.ini", "[WORKING]\r\nDefaultPROJECT=D:\\淺水\\淺水.prj\r\n");
  InitLogPath();
  EXPECT_EQ(run_log_path(), "D:\\淺水\\Debug\\Vorel_PCI.Log");
}

// ---------------------------------------------------------------- appending

using Appending = RunLogTest;

TEST_F(Appending, WritesBytesUnchangedAndRecreatesARemovedFolder) {
  EXPECT_TRUE(append_run_log(kTime + "：通讯正常!\r\n"));
  EXPECT_TRUE(append_run_log(std::string("a\0b", 3)));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), kTime + "：通讯正常!\r\n" + std::string("a\0b", 3));

  fs::remove_all(Debug());  // the project folder was cleaned up while the host runs
  EXPECT_TRUE(append_run_log("again"));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "again");
}

TEST_F(Appending, ALineMeetingAnotherProcesssWriterIsLostWithoutWaiting) {
  ASSERT_TRUE(append_run_log("before\r\n"));
  const int fd = open((Debug() / "Vorel_PCI.Log").c_str(), O_RDWR);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(append_run_log("lost\r\n"));
  close(fd);
  EXPECT_TRUE(append_run_log("after\r\n"));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "before\r\n" + LossLine(1) + "after\r\n");
}

TEST_F(Appending, ALockNeverReleasedCostsLinesButNeverHangsTheHost) {
  auto held = std::make_unique<RunLogFileLock>();  // as if its thread had been ended holding it
  ASSERT_TRUE(held->owns());
  bool first = true, second = true;
  std::thread([&] {
    first = append_run_log("a");
    second = append_run_log("b");
  }).join();
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);
  held.reset();
  EXPECT_TRUE(append_run_log("c"));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), LossLine(2) + "c");
}

TEST_F(Appending, EnginesOfTwoThreadsLoseNoLine) {
  auto writer = [](char who) {
    for (int i = 0; i < 1000; ++i) append_run_log(std::string(1, who) + std::to_string(i) + "\r\n");
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  const auto lines = Lines(file_text(Debug() / "Vorel_PCI.Log"));
  EXPECT_EQ(lines.size(), 2000u);
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), 2000u) << "no line torn or doubled";
}

// ---------------------------------------------------------------- moving the log aside during a run

using DuringARun = RunLogTest;

TEST_F(DuringARun, TheAppendThatTakesTheLogPastTheLimitMovesItAside) {
  const std::string full(kRunLogArchiveSize - 4, 'x');
  write("Vorel_PCI.Log", full);
  const uint64_t operations = platform::test_stores::file_operations();
  EXPECT_TRUE(append_run_log("ab\r\n"));
  EXPECT_EQ(platform::test_stores::file_operations() - operations, 1u)
      << "an open-write-close and nothing more";
  EXPECT_TRUE(Has("Vorel_PCI.Log")) << "exactly the limit stays";

  EXPECT_TRUE(append_run_log("c\r\n"));
  EXPECT_FALSE(Has("Vorel_PCI.Log"));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI2026-12-07-09-05-03.LOG"), full + "ab\r\nc\r\n");
  EXPECT_TRUE(append_run_log("d\r\n"));
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "d\r\n") << "the next line starts a new log";
}

TEST_F(DuringARun, ALogThatCannotBeMovedAsideYetIsMovedByALaterAppend) {
  write("Vorel_PCI.Log", std::string(kRunLogArchiveSize, 'x'));
  fs::create_directories(Debug() / "Vorel_PCI2026-12-07-09-05-03.LOG");  // this second's name is taken
  EXPECT_TRUE(append_run_log("a\r\n"));
  EXPECT_TRUE(Has("Vorel_PCI.Log")) << "the line is kept, the log waits";
  clock_.set_time({2026, 12, 7, 9, 5, 4, 0});
  EXPECT_TRUE(append_run_log("b\r\n"));
  EXPECT_FALSE(Has("Vorel_PCI.Log"));
  EXPECT_EQ(fs::file_size(Debug() / "Vorel_PCI2026-12-07-09-05-04.LOG"), kRunLogArchiveSize + 6);
}

// A clock a second further at every reading, so that each move aside finds its name free.
class SecondPerReading : public platform::Clock {
 public:
  uint32_t ticks() override { return 0; }
  platform::LocalDateTime now() override {
    const int n = readings_++;
    return {2026, 12, 7, 9 + n / 3600, n / 60 % 60, n % 60, 0};
  }

 private:
  std::atomic<int> readings_{0};
};

TEST_F(DuringARun, EnginesOfTwoThreadsAppendingAcrossTheLimitLoseDoubleAndTearNoLine) {
  SecondPerReading clock;
  const platform::ScopedClock use_clock(clock);
  const std::string filler(100, '.');
  const auto writer = [&](char who) {
    for (int i = 0; i < 6000; ++i) append_run_log(who + std::to_string(i) + filler + "\r\n");
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  std::vector<std::string> lines;
  int archives = 0;
  for (const auto& file : fs::directory_iterator(Debug())) {
    const std::string text = file_text(file.path());
    EXPECT_TRUE(text.ends_with("\r\n")) << file.path();
    EXPECT_LE(text.size(), kRunLogArchiveSize + filler.size() + 7)
        << "moved aside by the append that took it past";
    archives += file.path().filename() != "Vorel_PCI.Log";
    for (const std::string& line : Lines(text)) {
      EXPECT_TRUE(line.ends_with(filler)) << line;
      lines.push_back(line);
    }
  }
  EXPECT_GE(archives, 2);
  EXPECT_EQ(lines.size(), 12000u);
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), 12000u);
}

// ---------------------------------------------------------------- disk faults

using DiskFaults = RunLogTest;
using platform::test_stores::FileFault;

TEST_F(DiskFaults, CostOnlyTheLinesTheyMeetWhichTheLogReportsOnceItCanBeWrittenAgain) {
  const struct {
    const char* fault;
    FileFault kind;
  } kCases[] = {
      {"a folder the process may not write", FileFault::kReadOnly},
      {"a full disk", FileFault::kDiskFull},
      {"another program holding the log", FileFault::kHeld},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    fs::remove_all(Debug());
    clock_.set_time({2026, 12, 7, 9, 5, 3, 0});
    ASSERT_TRUE(append_run_log("a\r\n"));
    platform::test_stores::set_file_fault(Debug().string(), c.kind);
    const uint64_t operations = platform::test_stores::file_operations();
    EXPECT_FALSE(append_run_log("b\r\n"));
    EXPECT_FALSE(append_run_log("c\r\nd\r\n"));
    EXPECT_LE(platform::test_stores::file_operations() - operations, 4u)
        << "each lost append gives up at once";
    EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "a\r\n") << "nothing torn";

    platform::test_stores::set_file_fault(Debug().string(), FileFault::kNone);
    clock_.set_time({2026, 12, 7, 9, 6, 0, 0});
    EXPECT_TRUE(append_run_log("e\r\n"));
    EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "a\r\n2026/12/7 9:06:00：运行日志写入失败，自" + kTime +
                                                        "起共丢失3行记录，现已恢复写入。\r\ne\r\n");
    EXPECT_TRUE(append_run_log("f\r\n"));
    EXPECT_TRUE(file_text(Debug() / "Vorel_PCI.Log").ends_with("e\r\nf\r\n")) << "reported once";
  }
  // A fault from the log's first line on: not even part of it is kept, and a folder that may
  // not be written is not made either.
  for (const FileFault kind : {FileFault::kDiskFull, FileFault::kReadOnly}) {
    fs::remove_all(Debug());
    platform::test_stores::set_file_fault(Debug().string(), kind);
    EXPECT_FALSE(append_run_log("a\r\n"));
    platform::test_stores::set_file_fault(Debug().string(), FileFault::kNone);
    EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "");
    EXPECT_EQ(fs::exists(Debug()), kind == FileFault::kDiskFull);
  }
}

TEST_F(DiskFaults, AnUnwritableLogFolderLeavesTheCardsIOAsItWas) {
  testing_support::SimBank bank;
  ASSERT_TRUE(bank.loaded());
  bank.loopback(1, true);
  testing_support::HostSession host;
  FullPDB(&host.block);
  host.block.DebugSwitch = host.block.ErrorLog = host.block.TraceLog = 1;
  platform::test_stores::set_file_fault(Debug().string(), FileFault::kReadOnly);
  ASSERT_TRUE(host.Start(
      {testing_support::host_record(1, "DI1:0,5.0", 1), testing_support::host_record(2, "DO1:0,5.0", 1)}));
  host.PollFor(1, 5);
  EXPECT_TRUE(host.write(testing_support::switch_value(2, true)));
  const std::optional<testing_support::Reported> input = host.PollFor(1, 20);
  ASSERT_TRUE(input);
  EXPECT_TRUE(input->on) << "the output came back on the input";
  EXPECT_EQ(bank.output(1, 0), 0x20);
  EXPECT_FALSE(fs::exists(Debug() / "Vorel_PCI.Log"));

  platform::test_stores::set_file_fault(Debug().string(), FileFault::kNone);
  EXPECT_EQ(FreeDriver(), 1);  // the stop report is written now, after the report of the loss
  const std::string log = host.log();
  EXPECT_EQ(log.find("：运行日志写入失败，自"), kTime.size()) << log;
  EXPECT_NE(log.find("退出运行！"), std::string::npos);
}

// ---------------------------------------------------------------- archiving at engine start

using Archiving = RunLogTest;

TEST_F(Archiving, TheFirstEngineOfADayMovesTheLogAsideUnderYesterdaysDate) {
  write("Vorel_PCI.Log", "yesterday\r\n");
  rotate_run_log(clock_.now());
  // zh-CN writes yesterday as "2026/12/6"; the slashes cannot stand in a file name.
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI2026-12-6.LOG"), "yesterday\r\n");
  EXPECT_FALSE(Has("Vorel_PCI.Log"));

  append_run_log("today\r\n");
  rotate_run_log(clock_.now());  // a later engine of the same day
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "today\r\n");
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI2026-12-6.LOG"), "yesterday\r\n");
}

TEST_F(Archiving, ANewProjectsFirstLinesStayInTodaysLog) {
  ASSERT_FALSE(fs::exists(Debug()));
  rotate_run_log(clock_.now());  // the first engine of a project without a Debug folder
  append_run_log("start report\r\n");
  rotate_run_log(clock_.now());  // that engine is destroyed
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "start report\r\n");
}

TEST_F(Archiving, AnOversizedLogIsMovedAsideUnderATimeStamp) {
  write("Vorel_PCI2026-12-6.LOG", "archived");
  write("Vorel_PCI.Log", std::string(kRunLogArchiveSize, 'x'));
  rotate_run_log(clock_.now());
  EXPECT_TRUE(Has("Vorel_PCI.Log")) << "exactly the limit is not too large";

  // A log an older driver let grow, found when an engine starts.
  write("Vorel_PCI.Log", std::string(kRunLogArchiveSize + 1, 'x'));
  rotate_run_log(clock_.now());
  EXPECT_FALSE(Has("Vorel_PCI.Log"));
  EXPECT_EQ(fs::file_size(Debug() / "Vorel_PCI2026-12-07-09-05-03.LOG"), kRunLogArchiveSize + 1);
}

TEST_F(Archiving, ArchivesThirtyToAHundredDaysOldAreDeleted) {
  write("Vorel_PCI2026-12-6.LOG", "");
  // Dated archives 30, 31 and 100 days old go, 29 and 101 days old stay; time-stamped ones go
  // from 30 days on; foreign files stay.
  const std::vector<std::string> deleted = {"Vorel_PCI2026-11-7.LOG", "Vorel_PCI2026-11-6.LOG",
                                            "Vorel_PCI2026-8-29.LOG", "Vorel_PCI2026-11-07-23-59-59.LOG",
                                            "Vorel_PCI2026-08-01-08-00-00.LOG"};
  const std::vector<std::string> kept = {"Vorel_PCI2026-11-8.LOG", "Vorel_PCI2026-8-28.LOG",
                                         "Vorel_PCI2026-11-08-00-00-00.LOG", "Notes2026-11-6.LOG",
                                         "Vorel_PCI2026-11-07-23-59-5x.LOG"};
  for (const auto& name : deleted) write(name, "old");
  for (const auto& name : kept) write(name, "old");
  rotate_run_log(clock_.now());
  for (const auto& name : deleted) EXPECT_FALSE(Has(name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(Has(name)) << name;

  // The archives are looked for once a day; the next day the next one is due.
  write("Vorel_PCI2026-11-7.LOG", "copied back");
  rotate_run_log(clock_.now());
  EXPECT_TRUE(Has("Vorel_PCI2026-11-7.LOG")) << "pruned already today";
  clock_.set_time({2026, 12, 8, 0, 0, 1, 0});
  rotate_run_log(clock_.now());
  EXPECT_FALSE(Has("Vorel_PCI2026-11-8.LOG")) << "thirty days old from the new day on";
}

TEST_F(Archiving, TheArchivesTogetherStayWithinTheirBudget) {
  // Five archives (sparse files), oldest first, and a foreign file that does not count. Without
  // the two oldest the rest, with yesterday's 11 bytes, are one byte over the budget (a third
  // goes) or exactly at it (they stay). One day each: the archives are looked at once a day.
  const std::vector<std::string> names = {"Vorel_PCI2026-12-1.LOG", "Vorel_PCI2026-12-02-08-00-00.LOG",
                                          "Vorel_PCI2026-12-3.LOG", "Vorel_PCI2026-12-04-08-00-00.LOG",
                                          "Vorel_PCI2026-12-5.LOG"};
  const struct {
    uint64_t last;
    size_t gone;
    int day;
  } kCases[] = {{(40u << 20) - 10, 3, 7}, {(40u << 20) - 11, 2, 8}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.gone);
    fs::remove_all(Debug());
    clock_.set_time({2026, 12, c.day, 9, 5, 3, 0});
    const std::vector<uint64_t> sizes = {30u << 20, 30u << 20, 30u << 20, 30u << 20, c.last};
    const auto written = fs::file_time_type::clock::now() - std::chrono::hours(100);
    for (size_t i = 0; i < names.size(); ++i) {
      write(names[i], "");
      fs::resize_file(Debug() / names[i], sizes[i]);
      fs::last_write_time(Debug() / names[i], written + std::chrono::hours(i));
    }
    write("Notes.LOG", "");
    fs::resize_file(Debug() / "Notes.LOG", 200u << 20);
    write("Vorel_PCI.Log", "yesterday\r\n");
    rotate_run_log(clock_.now());  // the day's first engine: yesterday's log becomes an archive
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(Has(names[i]), i >= c.gone) << names[i];
    EXPECT_EQ(file_text(Debug() / ("Vorel_PCI2026-12-" + std::to_string(c.day - 1) + ".LOG")),
              "yesterday\r\n")
        << "the newest archive stays";
    EXPECT_TRUE(Has("Notes.LOG"));
  }
}

TEST_F(Archiving, AFailingStepEndsTheRotationQuietly) {
  fs::create_directories(Debug() / "Vorel_PCI2026-12-6.LOG");  // the archive name is taken
  write("Vorel_PCI.Log", "current");
  write("Vorel_PCI2026-11-6.LOG", "old");
  rotate_run_log(clock_.now());
  EXPECT_EQ(file_text(Debug() / "Vorel_PCI.Log"), "current");
  EXPECT_TRUE(Has("Vorel_PCI2026-11-6.LOG")) << "pruning comes after the failed step";
}

// ---------------------------------------------------------------- reports

class EngineReports : public RunLogTest {
 protected:
  EngineReports() { engine_.log.clear(); }  // whatever construction wrote

  void AddTag(const std::string& name, uint32_t reads, uint32_t read_fails, bool writable = false,
              uint32_t writes = 0, uint32_t write_fails = 0) {
    TDLLTag& tag = engine_.AddTag({.channel = 3, .bit = 5, .name = name});
    tag.ReadCount = reads;
    tag.ReadFails = read_fails;
    tag.Writable = writable;
    tag.WriteCount = writes;
    tag.WriteFails = write_fails;
  }
  // The lines written since the last call.
  std::vector<std::string> Taken() {
    std::string text;
    for (const std::string& piece : std::exchange(engine_.log, {})) text += piece;
    return Lines(text);
  }

  testing_support::EngineProbe engine_;
};

TEST_F(EngineReports, StartReportNamesTheProcessorAndEndsWithTheDriverVersion) {
  platform::test_stores::set_machine_registry("hardware\\description\\system\\centralprocessor\\0",
                                              "ProcessorNameString", "Intel(R) Atom(TM) E3845");
  engine_.write_start_report();
  const auto lines = Taken();
  ASSERT_EQ(lines.size(), 10u) << "processor, system, five memory lines, three version lines";
  EXPECT_EQ(lines[0], kTime + "：[Intel(R) Atom(TM) E3845]");
  EXPECT_EQ(lines[2].rfind(kTime + "：已使用内存 = ", 0), 0u);
  EXPECT_EQ(lines[7], kTime + "：启动[文件版本]  ...");
  EXPECT_EQ(lines[9], kTime + "：驱动程序版本" + driver_file_info()->FileVersion() + "  ...");
}

TEST_F(EngineReports, PerTagLinesGiveScanPeriodAndRoundedFailureRates) {
  engine_.StartTick = 0xFFFFFF00u;  // the tick count wrapped during the run
  engine_.StopTick = engine_.StartTick + 2000;
  AddTag("Tank1", 8, 3, true, 12, 1);
  AddTag("Tank2", 8, 5);
  AddTag("Spare", 0, 0, true);
  engine_.write_tag_statistics();
  // 3 of 8 is 37.5 and 5 of 8 is 62.5: halves go to the even neighbour.
  EXPECT_EQ(Taken(), (std::vector<std::string>{
                         kTime + "：标签Tank1，地址=DI1:0,3.5，读扫描周期(毫秒)=250，读操作失败率= "
                                 "38%，写操作总次数=12，写操作失败率= 8%",
                         kTime + "：标签Tank2，地址=DI1:0,3.5，读扫描周期(毫秒)=250，读操作失败率= 62%",
                         kTime + "：标签Spare，地址=DI1:0,3.5，读扫描周期(毫秒)=0，读操作失败率= "
                                 "0%，写操作总次数=0，写操作失败率= 0%"}));

  // 12582914 / 3 becomes 4194304.5 in single precision, then rounds to even; 50000000 × 100
  // wraps to 705032704 in 32 bits, 7.05 of 100000000.
  engine_.TagList.clear();
  engine_.StartTick = 0;
  engine_.StopTick = 12582914;
  AddTag("Slow", 3, 0);
  AddTag("Busy", 100000000, 50000000);
  engine_.write_tag_statistics();
  const auto lines = Taken();
  EXPECT_EQ(lines.at(0), kTime + "：标签Slow，地址=DI1:0,3.5，读扫描周期(毫秒)=4194304，读操作失败率= 0%");
  EXPECT_EQ(lines.at(1), kTime + "：标签Busy，地址=DI1:0,3.5，读扫描周期(毫秒)=0，读操作失败率= 7%");
}

TEST_F(EngineReports, RunTimeAndTotalsUseTheGeneralNumberFormat) {
  engine_.StartTick = 0xFFFFFF00u;
  engine_.StopTick = 0x100u;
  engine_.write_run_time_line();
  const auto run = Taken();
  ASSERT_EQ(run.size(), 7u) << "five memory lines, an empty line, the run time";
  EXPECT_EQ(run[6], kTime + "：本次运行总时间（毫秒）=512");

  engine_.ScanFigures = true;  // the read pace was computed
  engine_.FastestScan = 10;
  engine_.SlowestScan = 1000;
  engine_.AverageScan = 12.5;
  engine_.ReadFailTotal = 3;
  engine_.WriteFailTotal = 1;
  engine_.WriteCommTotal = 0;  // nothing written: the rate is 0, not a division by zero
  engine_.ReadCommTotal = 200;
  engine_.ReadTimeouts = 1;
  engine_.write_stop_totals();
  const std::vector<std::string> expected = {kTime + "：最快扫描周期（毫秒）=10",
                                             kTime + "：最慢扫描周期（毫秒）=1000",
                                             kTime + "：平均扫描周期（毫秒）=12.5",
                                             kTime + "：读操作失败总次数= 3",
                                             kTime + "：写操作失败总次数= 1",
                                             kTime + "：写通讯总次数= 0",
                                             kTime + "：通讯写超时总次数= 0",
                                             kTime + "：通讯写超时率= 0%",
                                             kTime + "：读通讯总次数= 200",
                                             kTime + "：通讯读超时次数= 1",
                                             kTime + "：通讯读超时率= 0.5%",
                                             kTime + "：启动[文件版本]  ...",
                                             kTime + "：" + driver_file_info()->DeviceName() +
                                                 "驱动程序版本" + driver_file_info()->FileVersion() +
                                                 "退出运行！",
                                             std::string(60, '-')};
  EXPECT_EQ(Taken(), expected);

  engine_.WriteCommTotal = 3;
  engine_.WriteTimeouts = 1;
  engine_.write_stop_totals();
  EXPECT_EQ(Taken().at(7), kTime + "：通讯写超时率= 33.3333333333333%");
}

TEST_F(EngineReports, DetailedLoggingNeedsACompleteStartReport) {
  engine_.StartReportOK = false;
  engine_.WriteEnLog(true);
  EXPECT_FALSE(engine_.EnLog());
  engine_.StartReportOK = true;
  engine_.WriteEnLog(true);
  EXPECT_TRUE(engine_.EnLog());
}

}  // namespace
}  // namespace vorel
