#include "engine/run_log.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

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
constexpr std::string_view kLineEnd = "\r\n";
// The line that tells, once the log can be written again, how many lines were lost since when.
constexpr std::string_view kLossText1 = "：运行日志写入失败，自";
constexpr std::string_view kLossText2 = "起共丢失";
constexpr std::string_view kLossText3 = "行记录，现已恢复写入。\r\n";
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
  std::string pruned;  // the folder, log and day of the last pruning
  // Lines that could not be written since the last append that could, and the time text of the
  // first of them: the next append that gets through says so first.
  platform::Mutex loss_mutex;
  std::atomic<bool> losses{false};
  uint64_t lost_lines = 0;
  std::string lost_since;
};

LogState& state() {
  // Never destroyed: engines may still write while the process detaches the library.
  static LogState* s = new LogState;
  return *s;
}

// True the first time a log is pruned on a given day in this process.
bool first_pruning_today(const std::string& relative_log, const platform::LocalDateTime& now) {
  // A relative path follows the current folder.
  const std::string key = platform::current_directory() + "|" + relative_log + "|" +
                          std::to_string(now.year) + "-" + std::to_string(now.month) + "-" +
                          std::to_string(now.day);
  LogState& s = state();
  std::lock_guard lock(s.prune_mutex);
  if (s.pruned == key) return false;
  s.pruned = key;
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

// ---------------------------------------------------------------- lines that could not be written

// Counts a text that did not reach the file, by its line ends (at least one). Returns false, the
// append's answer.
bool lose(std::string_view text) noexcept {
  try {
    size_t lines = 0;
    for (size_t at = text.find(kLineEnd); at != std::string_view::npos; at = text.find(kLineEnd, at + 2))
      ++lines;
    LogState& s = state();
    std::lock_guard lock(s.loss_mutex);
    if (s.lost_lines == 0) s.lost_since = now_text();
    s.lost_lines += std::max<size_t>(lines, 1);
    s.losses.store(true, std::memory_order_release);
  } catch (...) {
  }
  return false;
}

// The line that reports the lines lost so far, and how many it reports; no line when none were.
struct LossReport {
  std::string line;
  uint64_t lines = 0;
};

LossReport pending_losses() {
  LogState& s = state();
  if (!s.losses.load(std::memory_order_acquire)) return {};
  std::lock_guard lock(s.loss_mutex);
  if (s.lost_lines == 0) return {};
  std::string line = now_text();
  line.append(kLossText1).append(s.lost_since).append(kLossText2).append(std::to_string(s.lost_lines));
  line.append(kLossText3);
  return {std::move(line), s.lost_lines};
}

// The report reached the file: those lines are told (others may have been lost meanwhile).
void losses_reported(uint64_t lines) {
  LogState& s = state();
  std::lock_guard lock(s.loss_mutex);
  s.lost_lines -= std::min(lines, s.lost_lines);
  if (s.lost_lines == 0) s.losses.store(false, std::memory_order_release);
}

// ---------------------------------------------------------------- archives

// Calendar days from the day of `from` to the day of `to`.
int days_between(const platform::LocalDateTime& from, const platform::LocalDateTime& to) {
  const auto day = [](const platform::LocalDateTime& t) {
    return platform::LocalDateTime{t.year, t.month, t.day};
  };
  return static_cast<int>(platform::to_ole_date(day(to)) - platform::to_ole_date(day(from)));
}

// The archive stamp of a time-stamped archive's name ("Vorel_PCI2026-12-07-09-05-03.LOG"): its
// date, or nullopt for any other name.
std::optional<platform::LocalDateTime> stamp_date(std::string_view middle) {
  // yyyy-mm-dd-hh-nn-ss
  if (middle.size() != 19) return std::nullopt;
  int fields[6] = {};
  for (size_t i = 0, f = 0; i < middle.size(); ++i) {
    const char c = middle[i];
    if (i == 4 || i == 7 || i == 10 || i == 13 || i == 16) {
      if (c != '-') return std::nullopt;
      ++f;
    } else if (c >= '0' && c <= '9') {
      fields[f] = fields[f] * 10 + (c - '0');
    } else {
      return std::nullopt;
    }
  }
  return platform::LocalDateTime{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0};
}

// The part of an archive's name between the log's name and ".LOG": a date or a time stamp.
// nullopt for the current log and for files that are no archive of it.
std::optional<std::string_view> archive_middle(std::string_view name) {
  if (name.size() <= kLogBaseName.size() + kArchiveExtension.size() ||
      !gbk::starts_with_no_case(name, kLogBaseName) ||
      gbk::UpperCase(name.substr(name.size() - kArchiveExtension.size())) != kArchiveExtension)
    return std::nullopt;
  const std::string_view middle =
      name.substr(kLogBaseName.size(), name.size() - kLogBaseName.size() - kArchiveExtension.size());
  if (middle.find_first_of("0123456789") == std::string_view::npos) return std::nullopt;
  return middle;
}

// Deletes the time-stamped archives that are kPruneFirstDay days old or older, then the oldest
// archives (by their last write) until all of them together fit in kRunLogArchiveBudget.
void prune_archives(const std::string& log, const platform::LocalDateTime& now) {
  const std::string dir = up_to_last(log, "\\:");
  LogState& s = state();
  std::lock_guard lock(s.prune_mutex);
  std::vector<platform::FileEntry> archives;
  for (platform::FileEntry& f : platform::list_files(dir.empty() ? "." : dir)) {
    const std::optional<std::string_view> middle = archive_middle(f.name);
    if (!middle) continue;
    const std::optional<platform::LocalDateTime> stamp = stamp_date(*middle);
    if (stamp && days_between(*stamp, now) >= kPruneFirstDay && platform::delete_file(dir + f.name)) continue;
    archives.push_back(std::move(f));
  }
  std::sort(archives.begin(), archives.end(), [](const platform::FileEntry& a, const platform::FileEntry& b) {
    return a.last_write < b.last_write;
  });
  uint64_t total = 0;
  for (const platform::FileEntry& f : archives) total += f.size;
  for (const platform::FileEntry& f : archives) {
    if (total <= kRunLogArchiveBudget) break;
    if (platform::delete_file(dir + f.name)) total -= f.size;
  }
}

// Appends, making the log's folder first when it has gone; the file's size afterwards.
std::optional<uint64_t> append_making_folder(const std::string& path, std::string_view bytes) {
  if (const std::optional<uint64_t> size = platform::append_to_file(path, bytes)) return size;
  // Only a missing folder is worth a second try; it is checked after a failure so that the
  // ordinary append costs nothing beyond the open, the write and the close.
  const std::string dir = up_to_last(path, "\\:");
  if (dir.empty() || platform::directory_exists(dir) || !platform::create_directories(dir))
    return std::nullopt;
  return platform::append_to_file(path, bytes);
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
  bool written = false;
  try {
    const std::string path = run_log_path();
    bool moved_aside = false;
    platform::LocalDateTime now;
    {
      const RunLogFileLock lock;
      if (!lock.owns()) return lose(text);
      const LossReport losses = pending_losses();
      const std::optional<uint64_t> size = losses.lines
                                               ? append_making_folder(path, losses.line + std::string(text))
                                               : append_making_folder(path, text);
      if (!size) return lose(text);
      written = true;
      if (losses.lines) losses_reported(losses.lines);
      // Past the size limit the log is moved aside at once, and the next line starts a new file.
      // A writer of another process keeps the file from being renamed: the next append tries again.
      if (*size > kRunLogArchiveSize) {
        now = platform::clock().now();
        moved_aside = platform::rename_file(path, archive_name(ChangeFileExt(path, ""), stamp_text(now)));
      }
    }
    if (moved_aside) prune_archives(path, now);
    return true;
  } catch (...) {
    return written || lose(text);  // a failure after the write costs no line
  }
}

void rotate_run_log(const platform::LocalDateTime& now) noexcept {
  try {
    const std::string log = run_log_path();
    const std::string base = ChangeFileExt(log, "");
    std::string archive = archive_name(base, short_date_text(add_days(now, -1)));
    bool moved_aside = false;
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
      if (platform::file_exists(log) && !platform::file_exists(archive)) {
        if (!platform::rename_file(log, archive)) return;
        moved_aside = true;
      }
    }
    const bool first_today = first_pruning_today(log, now);
    if (first_today) {
      for (int day = kPruneFirstDay; day <= kPruneLastDay; ++day) {
        const std::string old = archive_name(base, short_date_text(add_days(now, -day)));
        if (platform::file_exists(old) && !platform::delete_file(old)) return;
      }
    }
    if (first_today || moved_aside) prune_archives(log, now);
  } catch (...) {
  }
}

}  // namespace vorel
