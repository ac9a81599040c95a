// The run log as the plant engineer finds it on a Windows machine: in the Debug folder of the
// project that the registered host names, written through the real file APIs, closed between
// lines, and never a reason for the driver to hang when somebody else holds it. Each test opens
// a project of its own; the driver takes it up when the test's host thread attaches.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/common/host_records.h"
#include "tests/common/sim_bank.h"
#include "tests/wine/driver_library.h"
#include "tests/wine/host_project.h"

namespace wine_test {
namespace {

constexpr char kStartLine[] = "：启动驱动程序VorelPCI系列板卡  ...";
constexpr char kVersionLine[] = "：驱动程序版本4.0.0.4  ...";
constexpr char kExitLine[] = "：VorelPCI系列板卡驱动程序版本4.0.0.4退出运行！";
constexpr char kExit[] = "退出运行！";
const std::string kDashLine(60, '-');

class RunLogFile : public NoMessageBoxTest {
 protected:
  void SetUp() override {
    NoMessageBoxTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(host_installation().problem.empty()) << host_installation().problem;
    tags.add(1, "LogDI", "DI1:0,3.5", 1, 1000);
    tags.add(2, "LogDO", "do1:0,2.1", 1, 1000);
    days.push_back(platform::system_clock().now());
  }

  // Makes a project of this test's name the host's current one.
  void open(bool has_run_before) {
    project = open_project(::testing::UnitTest::GetInstance()->current_test_info()->name(), has_run_before);
  }

  std::string log() const { return read_file(project.log_path); }
  size_t log_size() const { return static_cast<size_t>(platform::file_size(project.log_path).value_or(0)); }

  // IniDriver with this test's tags on the calling thread; a clean start leaves only the time text
  // that binding the vendor's library puts in front of its complaints.
  void start() {
    char* message = nullptr;
    EXPECT_EQ(dll.IniDriver(tags.count(), tags.pointers(), &block, &message), 1);
    const std::string text = take_host_string(message).value_or("");
    days.push_back(platform::system_clock().now());
    EXPECT_TRUE(!text.empty() && time_text_length(text, days) == text.size()) << text;
  }

  // A host thread's whole run: IniDriver, FreeDriver, the thread's end.
  void run_host_thread() {
    on_host_thread([this] {
      start();
      EXPECT_EQ(dll.FreeDriver(), 1);
    });
    days.push_back(platform::system_clock().now());
  }

  // The archive the log was moved aside to at a time from `before` to `after` (a second may pass
  // between them); empty, with a failure, when there is none.
  std::string archived_between(const platform::LocalDateTime& before,
                               const platform::LocalDateTime& after) const {
    const std::string base = project.dir + "Debug\\Vorel_PCI";
    for (const platform::LocalDateTime& t : {before, after})
      if (platform::file_exists(base + stamp_text(t) + ".LOG"))
        return read_file(base + stamp_text(t) + ".LOG");
    ADD_FAILURE() << "no archive stamped " << stamp_text(before) << " or " << stamp_text(after);
    return {};
  }

  // Index of the first line that is a time text followed by `text`; -1 when there is none.
  int line_index(const std::vector<std::string>& lines, std::string_view text) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      const size_t time = time_text_length(lines[i], days);
      if (time > 0 && std::string_view(lines[i]).substr(time) == text) return static_cast<int>(i);
    }
    return -1;
  }

  HostProject project;
  HostTagList tags;
  TDeviceParams block = default_block(dll);
  std::vector<platform::LocalDateTime> days;  // the test may run across midnight
};

TEST_F(RunLogFile, StartAndStopReportsLandInTheRegisteredProjectsDebugFolder) {
  open(/*has_run_before=*/true);
  on_host_thread([this] {
    start();
    const std::vector<std::string> started = crlf_lines(log());
    const int start_line = line_index(started, kStartLine);
    EXPECT_GE(start_line, 0) << "no start report in " << project.log_path;
    EXPECT_EQ(line_index(started, kVersionLine), start_line + 1);
    EXPECT_TRUE(nobody_holds(project.log_path)) << "the log stays open after IniDriver";

    EXPECT_EQ(dll.FreeDriver(), 1);
    EXPECT_EQ(dll.FreeDriver(), 1);
    EXPECT_TRUE(nobody_holds(project.log_path)) << "the log stays open after FreeDriver";
  });
  days.push_back(platform::system_clock().now());

  // The host thread has ended and its engine with it, which adds no second stop report.
  const std::string text = log();
  EXPECT_EQ(occurrences(text, kExit), 1u);
  EXPECT_EQ(occurrences(text, kDashLine), 1u);
  const std::vector<std::string> lines = crlf_lines(text);
  const int exit_line = line_index(lines, kExitLine);
  EXPECT_GT(exit_line, line_index(lines, kVersionLine));
  ASSERT_GE(exit_line, 0);
  ASSERT_LT(static_cast<size_t>(exit_line) + 1, lines.size());
  EXPECT_EQ(lines[static_cast<size_t>(exit_line) + 1], kDashLine);
  EXPECT_NE(text.find("：标签LogDI，地址=DI1:0,3.5，读扫描周期(毫秒)="), std::string::npos);
  EXPECT_NE(text.find("：标签LogDO，地址=do1:0,2.1，读扫描周期(毫秒)=0，读操作失败率= 0%，写操作总次数=0，"
                      "写操作失败率= 0%\r\n"),
            std::string::npos);
}

// The system line of the start report, for each Windows version the suite runs again as (the
// program's own process is given that version).
TEST_F(RunLogFile, TheStartReportNamesTheWindowsItRunsOn) {
  const std::string version = windows_version_under_test();
  if (version.empty()) GTEST_SKIP() << "Wine's own version: the runs as Windows XP, 7 and 10 check this";
  const std::map<std::string, std::string> kSystemText = {
      {"winxp", "Microsoft Windows XP Service Pack 3(Build 2600)"},
      {"win7", "Service Pack 1(Build 7601)"},
      // Windows 8.1 and later tell a program whose manifest does not name them (the host has none)
      // that they are Windows 8 (6.2, build 9200); so Windows 10 and 11 tell the driver.
      {"win10", "(Build 9200)"},
  };
  ASSERT_TRUE(kSystemText.contains(version)) << version;
  const platform::OsVersionRecord os = platform::os_version();
  EXPECT_EQ(os.platform_id, 2u) << "the NT family";
  open(/*has_run_before=*/true);
  run_host_thread();
  EXPECT_GE(line_index(crlf_lines(log()), "：[" + kSystemText.at(version) + "] "), 0)
      << "as " << version << " (" << os.major << "." << os.minor << "." << os.build << "):\n"
      << log();
}

TEST_F(RunLogFile, ANewProjectsFirstReportsStayInItsCurrentLog) {
  // No Debug folder yet: the first engine creates it with its first line.
  open(/*has_run_before=*/false);
  run_host_thread();
  const std::vector<std::string> lines = crlf_lines(log());
  EXPECT_GE(line_index(lines, kStartLine), 0) << "today's start report is missing from " << project.log_path;
  EXPECT_GE(line_index(lines, kExitLine), 0) << "today's stop report is missing from " << project.log_path;
}

TEST_F(RunLogFile, EveryLineStartsWithTheSystemsDateAndTime) {
  open(/*has_run_before=*/true);
  run_host_thread();
  const std::vector<std::string> lines = crlf_lines(log());
  ASSERT_GT(lines.size(), 20u);
  for (const std::string& line : lines) {
    // The stop report sets its run time and its closing dashes apart with lines of their own.
    if (line.empty() || line == kDashLine) continue;
    const size_t time = time_text_length(line, days);
    EXPECT_GT(time, 0u) << line;
    EXPECT_EQ(line.compare(time, std::strlen("："), "："), 0) << line;
  }
}

TEST_F(RunLogFile, ALineWrittenWhileSomebodyHoldsTheLogIsLostAndTheDriverCarriesOn) {
  open(/*has_run_before=*/true);
  on_host_thread([this] {
    start();
    const size_t size_before = log_size();
    {
      const HeldFile reader(project.log_path, Sharing::kReaders);
      ASSERT_TRUE(reader.held());
      const uint32_t t0 = platform::system_clock().ticks();
      EXPECT_EQ(dll.FreeDriver(), 1);
      EXPECT_LT(platform::system_clock().ticks() - t0, 1000u) << "FreeDriver waited for the log";
    }
    EXPECT_EQ(log_size(), size_before) << "the stop report got past the reader";
  });
  EXPECT_EQ(occurrences(log(), kExit), 0u) << "a stop report lost once is not written again";

  // Once the reader is gone, the next engine's lines arrive again.
  run_host_thread();
  EXPECT_EQ(occurrences(log(), kExit), 1u);
}

TEST_F(RunLogFile, EndingTheHostThreadStopsAnEngineThatWasNeverFreed) {
  open(/*has_run_before=*/true);
  on_host_thread([this] {
    start();
    int32_t count = 0;
    TTagValue values[2];
    char* message = nullptr;
    EXPECT_EQ(dll.OnDataRead(&count, values, &message), 1);
    take_host_string(message);
    EXPECT_EQ(occurrences(log(), kExit), 0u);
  });
  const std::string text = log();
  EXPECT_EQ(occurrences(text, kExit), 1u) << "the thread's end did not stop its engine";
  EXPECT_NE(text.find("：标签LogDI，地址=DI1:0,3.5，"), std::string::npos);
  EXPECT_EQ(dll.DetectScanTime(), 1000);
}

TEST_F(RunLogFile, AnOversizedLogIsMovedAsideWhenTheHostThreadEnds) {
  open(/*has_run_before=*/true);
  const std::string padding(500001, '#');
  platform::LocalDateTime before;
  platform::Thread host_thread([&] {
    start();
    EXPECT_EQ(dll.FreeDriver(), 1);
    // The stopped engine writes nothing more until it is destroyed.
    EXPECT_TRUE(platform::append_to_file(project.log_path, padding));
    before = platform::system_clock().now();
  });
  host_thread.join();
  const platform::LocalDateTime after = platform::system_clock().now();

  EXPECT_FALSE(platform::file_exists(project.log_path)) << "the log was not moved aside";
  const std::string moved = archived_between(before, after);
  ASSERT_GE(moved.size(), padding.size());
  EXPECT_EQ(moved.compare(moved.size() - padding.size(), padding.size(), padding), 0);
  EXPECT_EQ(occurrences(moved, kExit), 1u);
}

// A run that lasts: the append that takes the log past 500000 bytes moves it aside at once, under
// the time of that append, and the lines after it start a new log.
TEST_F(RunLogFile, ALogThatGrowsPastItsLimitDuringARunIsMovedAsideAtOnce) {
  open(/*has_run_before=*/true);
  platform::LocalDateTime before, after;
  on_host_thread([&] {
    start();
    // The rest of the limit, written as another process would; the stop report's first line takes
    // the log past it.
    ASSERT_TRUE(platform::append_to_file(project.log_path, std::string(500000 - log_size(), '#')));
    before = platform::system_clock().now();
    EXPECT_EQ(dll.FreeDriver(), 1);
    after = platform::system_clock().now();
  });
  const std::string moved = archived_between(before, after);
  EXPECT_GT(moved.size(), 500000u);
  EXPECT_LT(moved.size(), 501000u) << "moved by the append that took it past, not later";
  EXPECT_EQ(occurrences(moved, kStartLine), 1u);
  const std::string current = log();
  EXPECT_EQ(occurrences(current, kExit), 1u) << "the rest of the stop report starts the new log";
  EXPECT_LT(current.size(), 20000u);
}

// Another program that has the log open, even one that lets others write, keeps the driver from
// renaming it: the log grows past its limit with every line kept, and is moved aside later.
TEST_F(RunLogFile, WhileAnotherProgramHasTheLogOpenItIsMovedAsideLater) {
  open(/*has_run_before=*/true);
  on_host_thread([&] {
    start();
    ASSERT_TRUE(platform::append_to_file(project.log_path, std::string(500000 - log_size(), '#')));
    const HeldFile other(project.log_path, Sharing::kReadersAndWriters);
    ASSERT_TRUE(other.held());
    EXPECT_EQ(dll.FreeDriver(), 1);
    EXPECT_GT(log_size(), 500000u) << "moved aside while the other program had it open";
    EXPECT_EQ(occurrences(log(), kExit), 1u) << "the whole stop report is in the log, which stayed";
  });
  // The thread's end destroyed the engine, which moved the oversized log aside.
  EXPECT_FALSE(platform::file_exists(project.log_path));
  bool archived = false;
  for (const platform::FileEntry& f : platform::list_files(project.dir + "Debug\\"))
    archived =
        archived || (f.size > 500000 && occurrences(read_file(project.dir + "Debug\\" + f.name), kExit) == 1);
  EXPECT_TRUE(archived) << "no archive holds the log with its stop report";
}

// A log folder the driver may not write costs log lines and nothing else: the card's inputs go on
// arriving. Wine, run as root, lets every folder be written; a file standing where the project's
// Debug folder belongs plays the folder that cannot be written.
TEST_F(RunLogFile, AnUnwritableLogFolderCostsOnlyLogLines) {
  open(/*has_run_before=*/false);
  ASSERT_TRUE(platform::write_file(project.dir + "Debug", "in the way"));
  // The suite's card bank fails every call; this test's card answers, its output wired to its input.
  testing_support::SimBank bank(dll.folder + "pci7505.dll");
  ASSERT_TRUE(bank.loaded());
  bank.fault(sim7505::kInput, sim7505::kBehave);
  bank.fault(sim7505::kOutput, sim7505::kBehave);
  bank.loopback(1, true);
  HostTagList io;
  const int32_t input = io.add(1, "In", "DI1:0,5.0", 1, 0);
  const int32_t output = io.add(2, "Out", "DO1:0,5.0", 1, 0);
  bool input_on = false;
  on_host_thread([&] {
    char* message = nullptr;
    EXPECT_EQ(dll.IniDriver(io.count(), io.pointers(), &block, &message), 1);
    take_host_string(message);
    TTagValue on = testing_support::switch_value(output, true);
    EXPECT_EQ(dll.OnDataWrite(1, &on, &message), 1);
    take_host_string(message);
    std::vector<TTagValue> values(8);
    const uint32_t t0 = platform::system_clock().ticks();
    while (!input_on && platform::system_clock().ticks() - t0 < 5000 * TimeScale()) {
      int32_t count = 0;
      dll.OnDataRead(&count, values.data(), &message);
      take_host_string(message);
      for (int32_t i = 0; i < count; ++i)
        if (values[i].TagID == input && (values[i].Value[0] | values[i].Value[1]) != 0) input_on = true;
      pause_ms(10);
    }
    EXPECT_EQ(dll.FreeDriver(), 1);
  });
  bank.reset();
  EXPECT_TRUE(input_on) << "the output written came back on the input";
  EXPECT_FALSE(platform::directory_exists(project.dir + "Debug"));
}

}  // namespace
}  // namespace wine_test
