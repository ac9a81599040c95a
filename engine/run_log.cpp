#include "engine/run_log.h"

#include <atomic>
#include <mutex>

#include "support/delphi.h"
#include "support/gbk_text.h"

namespace vorel {

namespace {

// The driver's file name without its extension.
constexpr std::string_view kLogBaseName = "Vorel_PCI";
constexpr std::string_view kLogFolder = "Debug\\";
constexpr std::string_view kLogExtension = ".Log";
constexpr std::string_view kArchiveExtension = ".LOG";
constexpr std::string_view kHostKey = "Software\\KESTA";
constexpr std::string_view kHostIni = "Taviran.ini";
// Archives this many days old and older are deleted, back to the last day below.
constexpr int kPruneFirstDay = 30;
constexpr int kPruneLastDay = 100;

struct LogState {
  platform::Mutex path_mutex;
  std::string path;
  bool path_set = false;
  // Held around every open-write-close of the log and around the rename of the current log, so
  // that engines of different threads never turn each other away.
  platform::Mutex file_mutex;
  std::atomic<bool> file_lock_stuck{false};
  // The archives of one log and one day are pruned once: every engine, the address editor's
  // included, rotates at creation and destruction, and each pruning looks for 71 files.
  platform::Mutex prune_mutex;
  std::string pruned_log;
  int pruned_year = 0, pruned_month = 0, pruned_day = 0;
};

LogState& state() {
  // Never destroyed: engines may still write while the process detaches the library.
  static LogState* s = new LogState;
  return *s;
}

// True the first time a log is pruned on a given day in this process.
bool first_pruning_today(const std::string& relative_log, const platform::LocalDateTime& now) {
  const std::string log =
      platform::current_directory() + "|" + relative_log;  // a relative path follows the current folder
  LogState& s = state();
  std::lock_guard lock(s.prune_mutex);
  if (s.pruned_log == log && s.pruned_year == now.year && s.pruned_month == now.month &&
      s.pruned_day == now.day)
    return false;
  s.pruned_log = log;
  s.pruned_year = now.year;
  s.pruned_month = now.month;
  s.pruned_day = now.day;
  return true;
}

// Position of the last byte of text that is one of `delimiters` and starts a character (a trail
// byte of a double-byte character may equal '\'), or npos.
size_t LastDelimiter(std::string_view text, std::string_view delimiters) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (gbk::is_lead_byte(c)) {
      ++i;
      continue;
    }
    if (delimiters.find(static_cast<char>(c)) != std::string_view::npos) found = i;
  }
  return found;
}

// Everything up to and including the last delimiter; empty when there is none.
std::string up_to_last(std::string_view path, std::string_view delimiters) {
  const size_t at = LastDelimiter(path, delimiters);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

// The path with the extension of its file name replaced (an empty extension removes it).
std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const size_t at = LastDelimiter(path, ".\\:");
  const size_t cut = at != std::string_view::npos && path[at] == '.' ? at : path.size();
  return std::string(path.substr(0, cut)) + std::string(extension);
}

// Date texts of common locales contain "/" or other characters a file name cannot hold
// (zh-CN gives "2026/12/6"); each of them becomes "-".
std::string file_name_safe(std::string_view text) {
  static constexpr std::string_view kIllegal = "\\/:*?\"<>|";
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (gbk::is_lead_byte(c)) {
      ++i;
      continue;
    }
    if (kIllegal.find(static_cast<char>(c)) != std::string_view::npos) out[i] = '-';
  }
  return out;
}

// "<log path without extension><date or time stamp>.LOG"
std::string archive_name(std::string_view log_base, std::string_view stamp) {
  return ChangeFileExt(std::string(log_base) + file_name_safe(stamp), kArchiveExtension);
}

std::string compute_log_path() {
  std::string dir = Trim(up_to_last(platform::read_machine_registry(kHostKey, "PATH").value_or(""), "\\:"));
  if (!platform::file_exists(dir + std::string(kHostIni))) dir = "..\\";
  std::string log_dir = ".\\";
  if (platform::file_exists(dir + std::string(kHostIni))) {
    const std::string project =
        platform::read_ini_string(dir + std::string(kHostIni), "WORKING", "DefaultPROJECT", ".\\");
    log_dir = up_to_last(project, "\\");
  }
  return log_dir + std::string(kLogFolder) + std::string(kLogBaseName) + std::string(kLogExtension);
}

}  // namespace

RunLogFileLock::RunLogFileLock() {
  LogState& s = state();
  owns_ = s.file_mutex.try_lock();
  if (!owns_ && !s.file_lock_stuck.load()) {
    // Physical time: the engine clock stands still under test.
    platform::Clock& clock = platform::system_clock();
    const uint32_t start = clock.ticks();
    while (!owns_ && static_cast<uint32_t>(clock.ticks() - start) < kRunLogLockWaitMs) {
      platform::yield_thread();
      owns_ = s.file_mutex.try_lock();
    }
  }
  s.file_lock_stuck.store(!owns_);
}

RunLogFileLock::~RunLogFileLock() {
  if (owns_) state().file_mutex.unlock();
}

void InitLogPath() {
  std::string path = compute_log_path();
  LogState& s = state();
  std::lock_guard lock(s.path_mutex);
  s.path = std::move(path);
  s.path_set = true;
}

std::string run_log_path() {
  LogState& s = state();
  {
    std::lock_guard lock(s.path_mutex);
    if (s.path_set) return s.path;
  }
  InitLogPath();
  std::lock_guard lock(s.path_mutex);
  return s.path;
}

bool append_run_log(std::string_view text) noexcept {
  try {
    const std::string path = run_log_path();
    const RunLogFileLock lock;
    if (!lock.owns()) return false;
    if (platform::append_to_file(path, text)) return true;
    // Only a missing folder is worth a second try; it is checked after a failure so that the
    // ordinary append costs nothing beyond the open, the write and the close.
    const std::string dir = up_to_last(path, "\\:");
    if (dir.empty() || platform::directory_exists(dir) || !platform::create_directories(dir)) return false;
    return platform::append_to_file(path, text).has_value();
  } catch (...) {
    return false;
  }
}

void rotate_run_log(const platform::LocalDateTime& now) noexcept {
  try {
    const std::string log = run_log_path();
    const std::string base = ChangeFileExt(log, "");
    std::string archive = archive_name(base, short_date_text(add_days(now, -1)));
    {
      const RunLogFileLock lock;
      if (!lock.owns()) return;
      if (platform::file_exists(log)) {
        const auto size = platform::file_size(log);
        if (!size) return;
        if (*size > kRunLogArchiveSize) archive = archive_name(base, stamp_text(now));
      } else {
        // A new project has no Debug folder yet. Without it the empty log could not be made, and
        // the first rotation after the first lines would move today's log aside as yesterday's.
        const std::string dir = up_to_last(log, "\\:");
        if (!dir.empty() && !platform::directory_exists(dir)) platform::create_directories(dir);
        if (!platform::create_empty_file(log)) return;
      }
      if (platform::file_exists(log) && !platform::file_exists(archive) &&
          !platform::rename_file(log, archive))
        return;
    }
    if (!first_pruning_today(log, now)) return;
    for (int day = kPruneFirstDay; day <= kPruneLastDay; ++day) {
      const std::string old = archive_name(base, short_date_text(add_days(now, -day)));
      if (platform::file_exists(old) && !platform::delete_file(old)) return;
    }
  } catch (...) {
  }
}

}  // namespace vorel
