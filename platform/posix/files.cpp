// File operations of the run log on POSIX. Paths come in Windows form; a backslash is taken as a
// directory separator. The Windows build denies writes to other openers while it appends; an
// exclusive non-blocking flock gives the same rule here between independent openers.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <tuple>

#include "platform/platform.h"
#include "test_stores.h"

namespace platform {

namespace {

std::string posix_path(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

// ---------------------------------------------------------------- faults played for tests

using test_stores::FileFault;

std::atomic<bool> g_faults_set{false};
std::atomic<uint64_t> g_operations{0};
std::mutex g_faults_mutex;
std::map<std::string, FileFault> g_faults;  // by absolute folder, ending in '/'

std::string absolute_path(std::string_view path) {
  std::error_code ec;
  std::string out = std::filesystem::absolute(posix_path(path), ec).lexically_normal().string();
  return out;
}

// The fault played for `path` (the deepest folder with one that holds it), counting the operation.
FileFault fault_for(std::string_view path) {
  g_operations.fetch_add(1, std::memory_order_relaxed);
  if (!g_faults_set.load(std::memory_order_acquire)) return FileFault::kNone;
  const std::string file = absolute_path(path) + "/";
  std::lock_guard lock(g_faults_mutex);
  FileFault found = FileFault::kNone;
  size_t depth = 0;
  for (const auto& [folder, fault] : g_faults)
    if (file.starts_with(folder) && folder.size() > depth) {
      found = fault;
      depth = folder.size();
    }
  return found;
}

bool stat_path(std::string_view path, struct stat& st) { return ::stat(posix_path(path).c_str(), &st) == 0; }

bool write_all(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

namespace test_stores {

void set_file_fault(std::string_view folder, FileFault fault) {
  std::lock_guard lock(g_faults_mutex);
  std::string key = absolute_path(folder);
  if (!key.ends_with('/')) key += '/';
  if (fault == FileFault::kNone)
    g_faults.erase(key);
  else
    g_faults[key] = fault;
  g_faults_set.store(!g_faults.empty(), std::memory_order_release);
}

uint64_t file_operations() { return g_operations.load(); }

}  // namespace test_stores

bool file_exists(std::string_view path) {
  fault_for(path);
  struct stat st {};
  return stat_path(path, st) && S_ISREG(st.st_mode);
}

bool directory_exists(std::string_view path) {
  fault_for(path);
  struct stat st {};
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool create_directories(std::string_view path) {
  if (fault_for(path) == FileFault::kReadOnly) return directory_exists(path);
  std::error_code ec;
  std::filesystem::create_directories(posix_path(path), ec);
  return directory_exists(path);
}

std::optional<uint64_t> append_to_file(std::string_view path, std::string_view bytes) {
  const FileFault fault = fault_for(path);
  if (fault == FileFault::kReadOnly || fault == FileFault::kHeld) return std::nullopt;
  const int fd = ::open(posix_path(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return std::nullopt;
  std::optional<uint64_t> size;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    bool written = false;
    if (end >= 0 && fault == FileFault::kDiskFull) {
      write_all(fd, bytes.substr(0, bytes.size() / 2));  // a full disk takes the first half
      written = bytes.empty();
    } else if (end >= 0) {
      written = write_all(fd, bytes);
    }
    if (written) {
      size = static_cast<uint64_t>(end) + bytes.size();
    } else if (end >= 0) {
      std::ignore = ::ftruncate(fd, end);  // should this fail too, the file keeps part of the bytes
    }
  }
  if (::close(fd) != 0) size.reset();
  return size;
}

std::optional<uint64_t> file_size(std::string_view path) {
  fault_for(path);
  struct stat st {};
  if (!stat_path(path, st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

bool rename_file(std::string_view from, std::string_view to) {
  // MoveFile never replaces an existing file, and fails while a writer holds `from`: the writer's
  // lock is taken across the rename.
  const FileFault fault = fault_for(from);
  if (fault == FileFault::kReadOnly || fault == FileFault::kHeld) return false;
  struct stat st {};
  if (stat_path(to, st)) return false;
  const int fd = ::open(posix_path(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok =
      ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::rename(posix_path(from).c_str(), posix_path(to).c_str()) == 0;
  ::close(fd);
  return ok;
}

bool delete_file(std::string_view path) {
  if (fault_for(path) == FileFault::kReadOnly) return false;
  return ::unlink(posix_path(path).c_str()) == 0;
}

bool create_empty_file(std::string_view path) {
  if (fault_for(path) == FileFault::kReadOnly) return false;
  const int fd = ::open(posix_path(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  return ::close(fd) == 0;
}

std::optional<FileEnd> read_file_end(std::string_view path, uint64_t max_bytes) {
  if (fault_for(path) == FileFault::kHeld) return std::nullopt;
  const int fd = ::open(posix_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  FileEnd end;
  struct stat st {};
  // Only a file: a folder opens here too, where Windows refuses it.
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    end.file_size = static_cast<uint64_t>(st.st_size);
    const uint64_t from = end.file_size > max_bytes ? end.file_size - max_bytes : 0;
    end.bytes.resize(static_cast<size_t>(end.file_size - from));
    size_t got = 0;
    while (got < end.bytes.size()) {
      const ssize_t n =
          ::pread(fd, end.bytes.data() + got, end.bytes.size() - got, static_cast<off_t>(from + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the file was cut meanwhile
      got += static_cast<size_t>(n);
    }
    end.bytes.resize(got);
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return end;
}

std::vector<FileEntry> list_files(std::string_view folder) {
  fault_for(folder);
  std::vector<FileEntry> files;
  const std::string dir = posix_path(folder);
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return files;
  while (const dirent* e = ::readdir(d)) {
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    files.push_back(
        {e->d_name, static_cast<uint64_t>(st.st_size),
         static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_mtim.tv_nsec)});
  }
  ::closedir(d);
  return files;
}

bool write_file(std::string_view path, std::string_view bytes) {
  const int fd = ::open(posix_path(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool replace_file(std::string_view from, std::string_view to) {
  // Windows refuses to replace a read-only file or one a writer holds open; rename() would do
  // both, so the same refusals are checked first. The writer's lock is held across the rename.
  const std::string target = posix_path(to);
  int fd = -1;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    // The read-only attribute of Windows is the owner's write bit here, which binds root too.
    if ((st.st_mode & S_IWUSR) == 0) return false;
    fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
  }
  const bool ok = ::rename(posix_path(from).c_str(), target.c_str()) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

std::string current_directory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

}  // namespace platform
