// The run log that every engine of the process writes to: where it lives, how a text is appended,
// and how old logs are archived and pruned. One file per project, *Debug\Vorel_PCI.Log* below the
// project's folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vorel {

// Above this size the current log is moved aside under a time-stamped name when an engine starts.
constexpr uint64_t kRunLogArchiveSize = 500000;

// Finds the project the host works on ("Software\KESTA" value "PATH", then "Taviran.ini" section
// "WORKING" key "DefaultPROJECT") and sets the run-log path from it. Run at every process and
// thread attach; the path stays relative when the host's settings are.
void InitLogPath();

// The current run-log path. Computed on first use when InitLogPath has not run yet.
std::string run_log_path();

// Appends the bytes unchanged, creating the log's folder when it is missing. Appends from the
// threads of this process are serialised; an append that meets a writer of another process, or
// that cannot get the lock in time, is lost. False when the text was lost. Never throws.
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
// is too large) and deletes archives dated 30 to 100 days back. Stops silently at the first step
// that fails.
void rotate_run_log(const platform::LocalDateTime& now) noexcept;

}  // namespace vorel
