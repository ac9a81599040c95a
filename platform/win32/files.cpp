// File operations of the run log on Win32. Paths are ANSI (code page 936 on the plants' machines);
// separators are found by character, since a double-byte character may end in a 0x5C byte.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

DWORD attributes_of(std::string_view path) { return GetFileAttributesA(std::string(path).c_str()); }

bool write_all(HANDLE h, std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

bool file_exists(std::string_view path) {
  const DWORD a = attributes_of(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(std::string_view path) {
  const DWORD a = attributes_of(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool create_directories(std::string_view path) {
  if (path.empty()) return false;
  if (directory_exists(path)) return true;
  // Create every prefix that ends at a separator, then the whole path. Prefixes that cannot be
  // created ("D:", "\\server", "..") already exist or are not directories of their own; the final
  // check decides.
  const std::string full(path);
  for (size_t i = 0; i < full.size(); ++i) {
    const char c = full[i];
    if (IsDBCSLeadByte(static_cast<BYTE>(c))) {
      ++i;
      continue;
    }
    if ((c == '\\' || c == '/') && i > 0) CreateDirectoryA(full.substr(0, i).c_str(), nullptr);
  }
  CreateDirectoryA(full.c_str(), nullptr);
  return directory_exists(path);
}

std::optional<uint64_t> append_to_file(std::string_view path, std::string_view bytes) {
  // Readers may look at the log while we write; a second writer, and a rename, are turned away.
  HANDLE h = CreateFileA(std::string(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER zero{}, end{};
  std::optional<uint64_t> size;
  if (SetFilePointerEx(h, zero, &end, FILE_END)) {
    if (write_all(h, bytes)) {
      size = static_cast<uint64_t>(end.QuadPart) + bytes.size();
    } else if (SetFilePointerEx(h, end, nullptr, FILE_BEGIN)) {
      SetEndOfFile(h);  // a full disk took part of the bytes: the file ends where it ended
    }
  }
  if (!CloseHandle(h)) size.reset();
  return size;
}

std::optional<uint64_t> file_size(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(std::string(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// MoveFile fails while another opener holds `from` without FILE_SHARE_DELETE, as every writer
// of the run log does (append_to_file).
bool rename_file(std::string_view from, std::string_view to) {
  return MoveFileA(std::string(from).c_str(), std::string(to).c_str()) != 0;
}

bool delete_file(std::string_view path) { return DeleteFileA(std::string(path).c_str()) != 0; }

bool create_empty_file(std::string_view path) {
  HANDLE h = CreateFileA(std::string(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  return CloseHandle(h) != 0;
}

std::optional<FileEnd> read_file_end(std::string_view path, uint64_t max_bytes) {
  // The driver appends to its log with reads shared: a reader must let it go on writing.
  HANDLE h = CreateFileA(std::string(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  FileEnd end;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(h, &size) != 0;
  if (ok) {
    end.file_size = static_cast<uint64_t>(size.QuadPart);
    LARGE_INTEGER from{};
    from.QuadPart = static_cast<LONGLONG>(end.file_size > max_bytes ? end.file_size - max_bytes : 0);
    ok = SetFilePointerEx(h, from, nullptr, FILE_BEGIN) != 0;
  }
  char buffer[65536];
  while (ok && end.bytes.size() < max_bytes) {
    const uint64_t left = max_bytes - end.bytes.size();
    DWORD got = 0;
    ok = ReadFile(h, buffer, static_cast<DWORD>(left < sizeof buffer ? left : sizeof buffer), &got,
                  nullptr) != 0;
    if (!ok || got == 0) break;
    end.bytes.append(buffer, got);
  }
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return end;
}

std::vector<FileEntry> list_files(std::string_view folder) {
  std::string pattern(folder);
  // The folder may end in a separator; a trail byte 0x5C of a double-byte character is none.
  bool separator_last = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    separator_last = pattern[i] == '\\' || pattern[i] == '/';
    if (IsDBCSLeadByte(static_cast<BYTE>(pattern[i]))) ++i;
  }
  pattern += separator_last ? "*" : "\\*";
  std::vector<FileEntry> files;
  WIN32_FIND_DATAA found{};
  HANDLE h = FindFirstFileA(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return files;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    files.push_back({found.cFileName, (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                     (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                         found.ftLastWriteTime.dwLowDateTime});
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return files;
}

bool write_file(std::string_view path, std::string_view bytes) {
  HANDLE h = CreateFileA(std::string(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = write_all(h, bytes) && FlushFileBuffers(h);
  if (!CloseHandle(h)) ok = false;
  return ok;
}

bool replace_file(std::string_view from, std::string_view to) {
  return MoveFileExA(std::string(from).c_str(), std::string(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string current_directory() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return n > 0 && n <= MAX_PATH ? std::string(buffer, n) : std::string();
}

}  // namespace platform
