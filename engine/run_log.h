// The run log that every engine of the process writes to: where it lives, how a text is appended,
// and how old logs are archived and pruned. One file per project, *Debug\Vorel_PCI.Log* below the
// project's folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vorel {

// Above this size the current log is moved aside under a time-stamped name: by the append that
// takes it past, and when an engine starts.
constexpr uint64_t kRunLogArchiveSize = 500000;

// The archives of the log in its folder, together, never take more than this (100 MB): whenever
// one is made, and once a day, the oldest go until the rest fit. Change it here and rebuild.
constexpr uint64_t kRunLogArchiveBudget = 100ull * 1024 * 1024;

// Finds the project the host works on ("Software\KESTA" value "PATH", then "Taviran.ini" section
// "WORKING" key "DefaultPROJECT") and sets the run-log path from it. Run at every process and
// thread attach; the path stays relative when the host's settings are.
void InitLogPath();

// The current run-log path. Computed on first use when InitLogPath has not run yet.
std::string run_log_path();

// Appends the bytes unchanged, creating the log's folder when it is missing. Appends from the
// threads of this process are serialised; an append that meets a writer of another process, a
// full disk or a folder it may not write, or that cannot get the lock in time, is lost and
// counted: the next append that gets through is preceded by one line that says how many lines
// were lost since when. An append that takes the log past kRunLogArchiveSize moves it aside under
// a time-stamped name. False when the text was lost. Never throws.
bool append_run_log(std::string_view text) noexcept;

// Holds the lock under which the log is appended to and moved aside, for as long as it lives, so
// that a reader can replace the file without losing an engine's line. Its holder must not append.
// Waits at most kRunLogLockWaitMs; owns() tells whether it got the lock. Windows ends the other
// threads before it detaches the library at process exit, so a thread may end while it holds the
// lock: once a wait has run out, later attempts do not wait until the lock is taken again, and
// the engines' last lines are lost instead of the host hanging.
class RunLogFileLock {
 public:
  RunLogFileLock();
  ~RunLogFileLock();
  RunLogFileLock(const RunLogFileLock&) = delete;
  RunLogFileLock& operator=(const RunLogFileLock&) = delete;
  bool owns() const { return owns_; }

 private:
  bool owns_ = false;
};
constexpr uint32_t kRunLogLockWaitMs = 250;

// As of `now`: moves the current log aside (under yesterday's date, or under a time stamp when it
// is too large) and deletes archives dated 30 to 100 days back, time-stamped archives 30 days old
// and older, and the oldest archives beyond kRunLogArchiveBudget. Stops silently at the first
// step that fails.
void rotate_run_log(const platform::LocalDateTime& now) noexcept;

}  // namespace vorel
