// Several host threads driving the real driver at once, each through the whole run-time order:
// IniDriver, polls in real time, a write, FreeDriver, and the thread's end. Every thread has its
// own engine (thread-local slot, DllMain thread attach and detach); the cards never answer (the
// card bank faults at every call, see CMakeLists.txt).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/host_records.h"
#include "tests/wine/driver_library.h"
#include "tests/wine/host_project.h"

namespace wine_test {
namespace {

constexpr int kThreads = 4;
constexpr uint32_t kScanPeriod = 20;  // ms between two reports of one tag
constexpr uint32_t kPollMs = 10;
constexpr uint32_t kPollingMs = 150;        // at least this long,
constexpr int kReportsWanted = 3;           // until every tag was reported this often,
constexpr uint32_t kPollingLimitMs = 2000;  // but no longer than this on a busy machine
constexpr uint32_t kWriteWaitMs = 2000;
constexpr int kStartupReports = 6;  // reports of an unchanged tag after the start
constexpr uint32_t kWriteFailed = 0x04000000;
// What the host is told while the card stays silent: a time-out, and after more than ten of them
// the serious fault.
constexpr char kTimeoutText[] = "通讯超时错，期待设备应答";
constexpr char kSeriousFaultText[] = "严重故障：连续通讯失败，请检查线路和设备";

// One OnDataRead as the host saw it: the tick counter just before and just after the call, and
// what came back (string values and the message copied out and freed).
struct Poll {
  uint32_t before = 0, after = 0;
  struct Report {
    int32_t id;
    uint32_t status;
    std::string text;
  };
  std::vector<Report> reports;
  std::optional<std::string> message;
};

// Everything one host thread does and sees.
class HostThread {
 public:
  HostThread(const Driver& dll, int index) : dll_(dll), index_(index) {
    const std::string n = std::to_string(index);
    const int32_t base = 100 * (index + 1);
    di_ = tags_.add(base + 1, "T" + n + "_DI", "DI1:0," + n + ".0", 1, kScanPeriod);
    do_ = tags_.add(base + 2, "T" + n + "_DO", "DO1:0," + n + ".1", 1, kScanPeriod);
    link_ = tags_.add(base + 3, "T" + n + "_LINK", "COMMLINK", 2, kScanPeriod);
  }

  // The host's run on this thread. `started` counts the threads whose engine runs; the thread
  // then waits for `go` so that all engines are alive at the same time.
  void run(std::atomic<int>& started, const std::atomic<bool>& go) {
    char* message = nullptr;
    start_before_ = platform::system_clock().ticks();
    start_result_ = dll_.IniDriver(tags_.count(), tags_.pointers(), &block_, &message);
    start_after_ = platform::system_clock().ticks();
    start_message_ = take_host_string(message);
    start_day_ = platform::system_clock().now();
    scan_time_ = dll_.DetectScanTime();
    ++started;
    while (!go) pause_ms(1);

    const uint32_t t0 = platform::system_clock().ticks();
    for (;;) {
      const uint32_t elapsed = platform::system_clock().ticks() - t0;
      if (elapsed >= kPollingLimitMs || (elapsed >= kPollingMs && fewest_reports() >= kReportsWanted)) break;
      polls_.push_back(poll());
      pause_ms(kPollMs);
    }

    TTagValue on = testing_support::switch_value(do_, true);
    write_result_ = dll_.OnDataWrite(1, &on, &message);
    take_host_string(message);
    const uint32_t w0 = platform::system_clock().ticks();
    while (!write_seen_after_ && platform::system_clock().ticks() - w0 < kWriteWaitMs) {
      const Poll p = poll();
      for (const Poll::Report& r : p.reports)
        if (r.id == do_ && r.status == kWriteFailed)
          write_seen_after_ = platform::system_clock().ticks() - w0;
      pause_ms(kPollMs);
    }

    free_result_ = dll_.FreeDriver();
    scan_time_after_free_ = dll_.DetectScanTime();
    const Poll stopped = poll();
    stopped_reports_ = stopped.reports.size();
    stopped_message_ = stopped.message;
  }

  // The checks, on the test's thread after this one has ended.
  void check() const {
    SCOPED_TRACE("host thread " + std::to_string(index_));
    EXPECT_EQ(start_result_, 1);
    // A clean start leaves only the time text of binding the vendor's library.
    const std::string start_text = start_message_.value_or("");
    EXPECT_TRUE(!start_text.empty() && time_text_length(start_text, {start_day_}) == start_text.size())
        << start_text;
    EXPECT_EQ(scan_time_, 10);
    int timeouts_told = 0;
    for (const Poll& p : polls_) {
      if (p.message) {
        EXPECT_TRUE(*p.message == kTimeoutText || *p.message == kSeriousFaultText) << *p.message;
        ++timeouts_told;
      }
      for (const Poll::Report& r : p.reports)
        EXPECT_TRUE(r.id == di_ || r.id == do_ || r.id == link_) << "tag " << r.id << " of another thread";
    }
    EXPECT_GT(timeouts_told, 0) << "the host was never told that the card does not answer";
    for (const int32_t id : {di_, do_, link_}) check_report_times(id);
    EXPECT_EQ(write_result_, 1) << "the write was not queued";
    EXPECT_TRUE(write_seen_after_.has_value())
        << "the failed write was not reported within " << kWriteWaitMs << " ms";
    EXPECT_EQ(free_result_, 1);
    EXPECT_EQ(scan_time_after_free_, 10) << "FreeDriver stops the engine but keeps it";
    EXPECT_EQ(stopped_reports_, 0u);
    EXPECT_EQ(stopped_message_, std::nullopt) << "a stopped engine is not a missing one";
  }

  int index() const { return index_; }
  std::optional<uint32_t> write_reported_after() const { return write_seen_after_; }

 private:
  Poll poll() {
    std::vector<TTagValue> values(static_cast<size_t>(tags_.count()));
    int32_t count = -1;
    char* message = nullptr;
    Poll p;
    p.before = platform::system_clock().ticks();
    EXPECT_EQ(dll_.OnDataRead(&count, values.data(), &message), 1);
    p.after = platform::system_clock().ticks();
    p.message = take_host_string(message);
    EXPECT_TRUE(count >= 0 && count <= tags_.count()) << count;
    for (int32_t i = 0; i < count && i < tags_.count(); ++i) {
      const TTagValue& v = values[static_cast<size_t>(i)];
      Poll::Report r{v.TagID, v.TagStatus, {}};
      if (v.ValueType == 2) {
        char* text = nullptr;
        std::memcpy(&text, v.Value, sizeof text);
        r.text = take_host_string(text).value_or("");
        if (r.id == link_) {
          EXPECT_EQ(r.text, "VorelPCI系列板卡通讯始终不成功!");
        }
      }
      p.reports.push_back(std::move(r));
    }
    return p;
  }

  int reports_of(int32_t id) const {
    int n = 0;
    for (const Poll& p : polls_)
      for (const Poll::Report& r : p.reports) n += r.id == id;
    return n;
  }
  int fewest_reports() const { return std::min({reports_of(di_), reports_of(do_), reports_of(link_)}); }

  // A tag is reported once its scan period has passed since its last report (or its creation in
  // IniDriver), never earlier, and during its start-up reports on the first poll that finds it due.
  // The driver reads the same tick counter somewhere inside each call.
  void check_report_times(int32_t id) const {
    uint32_t last_before = start_before_, last_after = start_after_;
    int reports = 0;
    for (const Poll& p : polls_) {
      bool reported = false;
      for (const Poll::Report& r : p.reports) reported |= r.id == id;
      if (reported) {
        EXPECT_GT(p.after - last_before, kScanPeriod) << "tag " << id << " reported before it was due";
        last_before = p.before;
        last_after = p.after;
        ++reports;
      } else if (reports < kStartupReports) {
        EXPECT_LE(p.before - last_after, kScanPeriod)
            << "tag " << id << " was due but not reported (start-up report " << reports + 1 << ")";
      }
    }
    EXPECT_GE(reports, kReportsWanted)
        << "tag " << id << " in " << kPollingLimitMs << " ms of polls every " << kPollMs << " ms";
  }

  const Driver& dll_;
  const int index_;
  HostTagList tags_;
  TDeviceParams block_ = default_block(dll_);
  int32_t di_ = 0, do_ = 0, link_ = 0;

  uint32_t start_before_ = 0, start_after_ = 0;
  int start_result_ = -1;
  std::optional<std::string> start_message_;
  platform::LocalDateTime start_day_;
  int scan_time_ = -1;
  std::vector<Poll> polls_;
  int write_result_ = -1;
  std::optional<uint32_t> write_seen_after_;  // ms from OnDataWrite to the report of its failure
  int free_result_ = -1;
  int scan_time_after_free_ = -1;
  size_t stopped_reports_ = 0;
  std::optional<std::string> stopped_message_;
};

class HostThreads : public NoMessageBoxTest {
 protected:
  void SetUp() override {
    NoMessageBoxTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(host_installation().problem.empty()) << host_installation().problem;
    project = open_project("HostThreads", /*has_run_before=*/true);
  }
  HostProject project;
};

TEST_F(HostThreads, EachThreadRunsItsOwnEngineFromStartToThreadEnd) {
  std::vector<std::unique_ptr<HostThread>> hosts;
  for (int i = 0; i < kThreads; ++i) hosts.push_back(std::make_unique<HostThread>(dll, i));

  std::atomic<int> started{0};
  std::atomic<bool> go{false};
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (auto& h : hosts)
    threads.push_back(std::make_unique<platform::Thread>([&h, &started, &go] { h->run(started, go); }));
  const uint32_t t0 = platform::system_clock().ticks();
  while (started < kThreads && platform::system_clock().ticks() - t0 < 10000) pause_ms(1);
  EXPECT_EQ(dll.DetectScanTime(), 1000) << "this thread never started an engine";
  go = true;
  for (auto& t : threads) t->join();

  for (const auto& h : hosts) h->check();

  // Each engine wrote one stop report, at FreeDriver; its thread's end added none.
  const std::string text = read_file(project.log_path);
  EXPECT_EQ(occurrences(text, "退出运行！"), static_cast<size_t>(kThreads));
  for (const auto& h : hosts) {
    const std::string n = std::to_string(h->index());
    EXPECT_EQ(occurrences(text, "：标签T" + n + "_DI，地址=DI1:0," + n + ".0，读扫描周期(毫秒)="), 1u);
    EXPECT_EQ(occurrences(text, "：标签T" + n + "_DO，地址=DO1:0," + n + ".1，"), 1u);
  }
  for (const auto& h : hosts)
    if (h->write_reported_after())
      std::printf("host thread %d: failed write reported after %u ms\n", h->index(),
                  static_cast<unsigned>(*h->write_reported_after()));
}

}  // namespace
}  // namespace wine_test
