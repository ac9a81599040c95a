#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "tests/common/manual_clock.h"

namespace platform {
namespace {

TEST(AutoResetEvent, ReleasesOneWaitPerSignal) {
  AutoResetEvent e(true);
  ASSERT_TRUE(e.valid());
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0)) << "the first wait reset it";
  EXPECT_FALSE(e.wait(20)) << "a timed wait gives up";
  e.set();
  e.set();
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0)) << "two signals without a waiter are one";
  std::thread setter([&] { e.set(); });
  EXPECT_TRUE(e.wait(10000));
  setter.join();
}

std::atomic<int> g_destroyed{0};

TEST(ThreadSlot, HoldsOneValuePerThreadAndDestroysItAtThreadEnd) {
  ThreadSlot slot;
  ASSERT_TRUE(slot.allocate([](void* v) { g_destroyed += *static_cast<int*>(v); }));
  int mine = 1, theirs = 40;
  slot.set(&mine);
  std::thread other([&] {
    EXPECT_EQ(slot.get(), nullptr) << "a new thread starts empty";
    slot.set(&theirs);
    EXPECT_EQ(slot.get(), &theirs);
  });
  other.join();
  EXPECT_EQ(g_destroyed, 40);
  EXPECT_EQ(slot.get(), &mine);
  std::thread emptied([&] {
    slot.set(&theirs);
    slot.set(nullptr);  // cleared before the end: nothing to destroy
  });
  emptied.join();
  EXPECT_EQ(g_destroyed, 40);
  slot.set(nullptr);

  // Given back, the slot holds nothing and takes nothing until it is allocated again.
  slot.set(&mine);
  slot.release();
  EXPECT_FALSE(slot.allocated());
  EXPECT_EQ(slot.get(), nullptr);
  slot.set(&mine);
  EXPECT_EQ(slot.get(), nullptr);
  std::thread([&] { slot.set(&theirs); }).join();
  EXPECT_EQ(g_destroyed, 40) << "no destructor runs for a slot given back";
  ASSERT_TRUE(slot.allocate(nullptr));
  EXPECT_EQ(slot.get(), nullptr) << "a new slot starts empty";
}

TEST(Thread, RunsItsBodyAndCanBeWaitedForWithATimeOut) {
  AutoResetEvent go(false);
  std::atomic<bool> ran{false};
  Thread thread([&] {
    go.wait(10000);
    ran = true;
  });
  EXPECT_FALSE(thread.wait(20)) << "the body is still waiting";
  go.set();
  EXPECT_TRUE(thread.wait(10000));
  EXPECT_TRUE(ran);
  thread.join();
  EXPECT_TRUE(thread.wait(0)) << "a joined thread has ended";

  // A detached thread runs to its end on its own.
  auto done = std::make_shared<AutoResetEvent>(false);
  Thread([done] { done->set(); }).detach();
  EXPECT_TRUE(done->wait(10000));
}

TEST(Mutex, KeepsOtherThreadsOutUntilUnlocked) {
  Mutex mutex;
  int count = 0;
  {
    const auto add = [&] {
      for (int i = 0; i < 20000; ++i) {
        std::lock_guard lock(mutex);
        ++count;
      }
    };
    Thread a(add), b(add);
  }
  EXPECT_EQ(count, 40000);
  const auto other_thread_gets_it = [&] {
    bool got = false;
    Thread([&] {
      got = mutex.try_lock();
      if (got) mutex.unlock();
    }).join();
    return got;
  };
  mutex.lock();
  EXPECT_FALSE(other_thread_gets_it());
  mutex.unlock();
  EXPECT_TRUE(other_thread_gets_it());
}

TEST(IniFiles, ReadLikeGetPrivateProfileString) {
  testing_support::TempDir dir;
  dir.write("Taviran.ini",
            "; comment\r\n[Other]\r\nDefaultPROJECT=wrong\r\n[ working ]\r\n"
            "  defaultproject = \"D:\\Projects\\Line 3\"  \r\nEmpty=\r\nQuotes=''\r\n"
            "Mixed=\"a'\r\nOne=\"\r\n;Missing=commented out\r\nNoEquals\r\n[Broken\r\nAfter=1\r\n");
  const std::string ini = dir.file("Taviran.ini");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "DefaultPROJECT", "x"), "D:\\Projects\\Line 3");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "Empty", "x"), "");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "Quotes", "x"), "") << "a pair of quotes around nothing";
  EXPECT_EQ(read_ini_string(ini, "WORKING", "Mixed", "x"), "\"a'") << "quotes that do not pair stay";
  EXPECT_EQ(read_ini_string(ini, "WORKING", "One", "x"), "\"");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "After", "x"), "x") << "a section header without its bracket";
  EXPECT_EQ(read_ini_string(ini, "WORKING", "Missing", "fallback"), "fallback");
  EXPECT_EQ(read_ini_string(ini, "Absent", "DefaultPROJECT", ""), "");
  EXPECT_EQ(read_ini_string(dir.file("none.ini"), "WORKING", "DefaultPROJECT", "d"), "d");
}

TEST(Files, ExistenceAcceptsWindowsSeparators) {
  testing_support::TempDir dir;
  dir.write("a.txt", "x");
  std::string windows_style = dir.file("a.txt");
  for (char& c : windows_style)
    if (c == '/') c = '\\';
  EXPECT_TRUE(file_exists(windows_style));
  EXPECT_FALSE(file_exists(dir.file("b.txt")));
  EXPECT_FALSE(file_exists(dir.dir())) << "a folder is not a file";
  EXPECT_EQ(file_size(windows_style), 1u);
  EXPECT_FALSE(file_size(dir.dir())) << "nor has it a file's size";
  EXPECT_FALSE(file_size(dir.file("b.txt")));
  std::filesystem::create_directory(dir.file("sub"));
  const std::vector<FileEntry> listed = list_files(dir.dir());
  ASSERT_EQ(listed.size(), 1u) << "a folder is not listed";
  EXPECT_EQ(listed[0].name, "a.txt");
  EXPECT_EQ(listed[0].size, 1u);
}

// As MoveFile: never over an existing file, and not while another opener writes the file.
TEST(Files, ARenameNeverReplacesAFileNorTakesOneAWriterHolds) {
  testing_support::TempDir dir;
  dir.write("a.log", "a");
  dir.write("b.log", "b");
  EXPECT_FALSE(rename_file(dir.file("a.log"), dir.file("b.log")));
  const int fd = ::open(dir.file("a.log").c_str(), O_RDWR);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(rename_file(dir.file("a.log"), dir.file("c.log")));
  ::close(fd);
  EXPECT_TRUE(rename_file(dir.file("a.log"), dir.file("c.log")));
  EXPECT_EQ(testing_support::file_text(dir.file("c.log")), "a");
  EXPECT_FALSE(rename_file(dir.file("a.log"), dir.file("d.log"))) << "a file that is gone";
}

// New files get the mode every program's files get, as the process's mask leaves it.
TEST(Files, NewFilesAreReadableAndWritableAsTheMaskAllows) {
  testing_support::TempDir dir;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_TRUE(write_file(dir.file("written.log"), "x"));
  ASSERT_TRUE(append_to_file(dir.file("appended.log"), "x"));
  ASSERT_TRUE(create_empty_file(dir.file("empty.log")));
  for (const char* name : {"written.log", "appended.log", "empty.log"}) {
    struct stat st {};
    ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << name;
  }
}

// A device with no room left (a full disk) refuses every write: reported, not retried for ever.
TEST(Files, AWriteWithoutRoomFails) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  EXPECT_FALSE(write_file("/dev/full", "x"));
  EXPECT_FALSE(append_to_file("/dev/full", "x"));
}

TEST(Text, Gbk936RoundTrip) {
  const std::string gbk = "通讯正常!";
  const std::u16string wide = gbk_to_utf16(gbk);
  EXPECT_EQ(wide, u"\u901a\u8baf\u6b63\u5e38!");
  EXPECT_EQ(utf16_to_gbk(wide), gbk);
  EXPECT_EQ(utf16_to_gbk(u"\U0001F600x"), "?x") << "characters outside 936 become '?'";
  EXPECT_EQ(utf16_to_gbk(u"x\U0001F600"), "x?") << "one '?' for a pair at the end too";
  EXPECT_EQ(utf16_to_gbk(u"\u0E01x"), "?x") << "one '?' for a single unit, and the text goes on";
}

TEST(Time, OleDatesCountDaysFrom18991230) {
  EXPECT_DOUBLE_EQ(to_ole_date({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(to_ole_date({}), 0.0) << "a date-time not set is day 0";
  EXPECT_DOUBLE_EQ(to_ole_date({1900, 1, 1, 12, 0, 0, 0}), 2.5);
  EXPECT_DOUBLE_EQ(to_ole_date({2026, 12, 7, 0, 0, 0, 0}), 46363.0);
  EXPECT_DOUBLE_EQ(to_ole_date({2000, 2, 29, 0, 0, 0, 0}), 36585.0) << "a leap day of a 400th year";
  EXPECT_NEAR(to_ole_date({2026, 12, 7, 9, 5, 3, 0}), 46363.0 + (9 * 3600 + 5 * 60 + 3) / 86400.0, 1e-9);
  EXPECT_NEAR(to_ole_date({2026, 12, 7, 0, 0, 0, 864}), 46363.00001, 1e-9) << "milliseconds count too";
}

// The system clock's milliseconds are those of the monotonic clock.
TEST(Time, SystemTicksCountMillisecondsOfTheMonotonicClock) {
  const uint64_t before = monotonic_ns() / 1000000;
  const uint32_t ticks = system_clock().ticks();
  const uint64_t after = monotonic_ns() / 1000000;
  EXPECT_GE(ticks, static_cast<uint32_t>(before));
  EXPECT_LE(ticks, static_cast<uint32_t>(after));
}

// The system clock's local time is the C library's (a second may turn between the two readings).
TEST(Time, SystemTimeIsTheLocalCalendarTime) {
  const std::time_t before = std::time(nullptr);
  const LocalDateTime now = system_clock().now();
  std::tm local{};
  localtime_r(&before, &local);
  EXPECT_EQ(now.year, local.tm_year + 1900);
  EXPECT_EQ(now.month, local.tm_mon + 1);
  EXPECT_EQ(now.day, local.tm_mday);
  EXPECT_EQ(now.hour, local.tm_hour);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LT(now.millisecond, 1000);
}

TEST(Time, ManualClockReplacesTheSystemClock) {
  ManualClock manual(0xFFFFFFF0u);
  {
    ScopedClock use(manual);
    const uint32_t start = clock().ticks();
    manual.advance(0x20);
    EXPECT_EQ(static_cast<uint32_t>(clock().ticks() - start), 0x20u) << "intervals survive the wrap";
    EXPECT_EQ(clock().now().year, 2026);
  }
  EXPECT_EQ(&clock(), &system_clock());
}

// ---------------------------------------------------------------- the fault guard

int* volatile g_nowhere = nullptr;

// A real store through a null pointer (the sanitizers would report it before it happens).
__attribute__((noinline, no_sanitize("address", "undefined"))) void StoreThroughNull() { *g_nowhere = 1; }

struct sigaction CurrentAction(int signal_number) {
  struct sigaction action {};
  sigaction(signal_number, nullptr, &action);
  return action;
}

// The host's event as a stand-in host waits on it: auto-reset, one wait takes every signal so far.
TEST(HostEvent, AWaitTakesTheSignalsSoFarAndResetsTheEvent) {
  const uint32_t event = platform::create_host_event();
  ASSERT_NE(event, 0u);
  EXPECT_FALSE(platform::wait_host_event(event, 0));
  platform::signal_host_event(event);
  platform::signal_host_event(event);
  EXPECT_TRUE(platform::wait_host_event(event, 0));
  EXPECT_FALSE(platform::wait_host_event(event, 0));
  platform::Thread signaller([event] { platform::signal_host_event(event); });
  EXPECT_TRUE(platform::wait_host_event(event, 10000)) << "a signal while waiting ends the wait";
  signaller.join();
  platform::close_host_event(event);
  EXPECT_FALSE(platform::wait_host_event(event, 0)) << "a closed event";
}

TEST(FaultGuard, AnOrdinaryCallRunsToTheEndAndLeavesTheCodeAlone) {
  int ran = 0;
  auto body = [&] { ran = 42; };
  uint32_t code = 7;
  EXPECT_TRUE(platform::call_guarded(body, &code));
  EXPECT_EQ(ran, 42);
  EXPECT_EQ(code, 7u);
}

TEST(FaultGuard, AccessViolationsInARowEndTheCallNotTheProcess) {
  for (int round = 0; round < 3; ++round) {
    bool reached_the_end = false;
    auto body = [&] {
      StoreThroughNull();
      reached_the_end = true;
    };
    uint32_t code = 0;
    EXPECT_FALSE(platform::call_guarded(body, &code));
    EXPECT_EQ(code, platform::kAccessViolation) << "round " << round;
    EXPECT_FALSE(reached_the_end);
  }
  // The process goes on as before, C++ exceptions included.
  EXPECT_THROW(throw std::runtime_error("still unwinding"), std::runtime_error);
}

TEST(FaultGuard, IllegalInstructionIsReportedWithItsOwnCode) {
  auto body = [] { __builtin_trap(); };
  uint32_t code = 0;
  EXPECT_FALSE(platform::call_guarded(body, &code));
  EXPECT_EQ(code, platform::kIllegalInstruction);
}

TEST(FaultGuard, NestedGuardsEachCatchTheirOwnFault) {
  bool inner_finished = true, outer_went_on = false;
  uint32_t inner_code = 0, outer_code = 0;
  auto outer = [&] {
    auto inner = [] { StoreThroughNull(); };
    inner_finished = platform::call_guarded(inner, &inner_code);
    outer_went_on = true;
    __builtin_trap();
  };
  EXPECT_FALSE(platform::call_guarded(outer, &outer_code));
  EXPECT_FALSE(inner_finished);
  EXPECT_EQ(inner_code, platform::kAccessViolation);
  EXPECT_TRUE(outer_went_on);
  EXPECT_EQ(outer_code, platform::kIllegalInstruction);
}

TEST(FaultGuard, ThreadsFaultingAtTheSameTimeEachGetTheirOwnOutcome) {
  std::atomic<int> faults{0}, finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        uint32_t code = 0;
        auto faulting = [] { StoreThroughNull(); };
        auto fine = [] {};
        if (!platform::call_guarded(faulting, &code) && code == platform::kAccessViolation) ++faults;
        if (platform::call_guarded(fine, &code)) ++finished;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(faults, 400);
  EXPECT_EQ(finished, 400);
}

sigjmp_buf g_own_jump;
std::atomic<int> g_own_faults{0};
void OwnFaultHandler(int) {
  ++g_own_faults;
  siglongjmp(g_own_jump, 1);
}
// The same with the fault's details (SA_SIGINFO): counted only when they arrive.
void OwnFaultAction(int, siginfo_t* info, void*) {
  if (info->si_signo == SIGSEGV) ++g_own_faults;
  siglongjmp(g_own_jump, 1);
}

// The process's own SIGSEGV handler for the life of a test; the one before is put back after.
class OwnFaultHandlerInstalled {
 public:
  explicit OwnFaultHandlerInstalled(bool with_info = false) {
    struct sigaction own {};
    if (with_info) {
      own.sa_sigaction = OwnFaultAction;
      own.sa_flags = SA_SIGINFO;
    } else {
      own.sa_handler = OwnFaultHandler;
    }
    sigemptyset(&own.sa_mask);
    installed_ = sigaction(SIGSEGV, &own, &saved_) == 0;
  }
  ~OwnFaultHandlerInstalled() { sigaction(SIGSEGV, &saved_, nullptr); }
  bool installed() const { return installed_; }

 private:
  struct sigaction saved_ {};
  bool installed_ = false;
};

// The handler the process had (its own, not one an earlier guard left) is back after each call.
TEST(FaultGuard, TheProcessKeepsItsOwnFaultHandlersOutsideGuardedCalls) {
  const OwnFaultHandlerInstalled own;
  ASSERT_TRUE(own.installed());
  uint32_t code = 0;
  auto faulting = [] { StoreThroughNull(); };
  auto throwing = [] { throw std::runtime_error("from inside"); };
  EXPECT_FALSE(platform::call_guarded(faulting, &code));
  EXPECT_EQ(CurrentAction(SIGSEGV).sa_handler, &OwnFaultHandler);
  EXPECT_THROW(platform::call_guarded(throwing, &code), std::runtime_error)
      << "a C++ exception passes through the guard untouched";
  EXPECT_EQ(CurrentAction(SIGSEGV).sa_handler, &OwnFaultHandler);
}

// While another thread is inside a guarded call, a fault of the process's own code reaches the
// handler the process had: the guard passes on what is not its own.
TEST(FaultGuard, AFaultOutsideTheGuardedCallsReachesTheProcesssOwnHandler) {
  for (const bool with_info : {false, true}) {
    g_own_faults = 0;
    const OwnFaultHandlerInstalled own(with_info);
    ASSERT_TRUE(own.installed());
    AutoResetEvent inside(false), done(false);
    std::thread guarded([&] {
      uint32_t code = 0;
      auto body = [&] {
        inside.set();
        done.wait(10000);
      };
      platform::call_guarded(body, &code);
    });
    ASSERT_TRUE(inside.wait(10000));
    if (sigsetjmp(g_own_jump, 1) == 0) StoreThroughNull();
    done.set();
    guarded.join();
    EXPECT_EQ(g_own_faults, 1) << with_info;
  }
}

}  // namespace
}  // namespace platform
