// File operations of the run log on POSIX. Paths come in Windows form; a backslash is taken as a
// directory separator. The Windows build denies writes to other openers while it appends; an
// exclusive non-blocking flock gives the same rule here between independent openers.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace platform {

namespace {

std::string posix_path(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
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

bool directory_exists(std::string_view path) {
  struct stat st {};
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool create_directories(std::string_view path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(posix_path(path), ec);
  return directory_exists(path);
}

bool append_to_file(std::string_view path, std::string_view bytes) {
  const int fd = ::open(posix_path(path).c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && write_all(fd, bytes);
  if (::close(fd) != 0) ok = false;
  return ok;
}

std::optional<uint64_t> file_size(std::string_view path) {
  struct stat st {};
  if (!stat_path(path, st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

bool rename_file(std::string_view from, std::string_view to) {
  // MoveFile never replaces an existing file.
  struct stat st {};
  if (stat_path(to, st)) return false;
  return ::rename(posix_path(from).c_str(), posix_path(to).c_str()) == 0;
}

bool delete_file(std::string_view path) { return ::unlink(posix_path(path).c_str()) == 0; }

bool create_empty_file(std::string_view path) {
  const int fd = ::open(posix_path(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  return ::close(fd) == 0;
}

std::optional<std::string> read_file(std::string_view path) {
  const int fd = ::open(posix_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
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
