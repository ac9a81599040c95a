// POSIX stand-ins for the machine stores that Windows provides, filled by native tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::test_stores {

// HKEY_LOCAL_MACHINE stand-in: keys and value names compare case-insensitively, as in the registry.
void set_machine_registry(std::string_view key, std::string_view value, std::string_view data);
void clear_machine_registry();

// Receives every message box instead of standard error.
void set_message_box_sink(std::function<void(std::string_view text, std::string_view caption)> sink);

// How often signal_host_event() was called for a handle.
int host_event_signals(uint32_t handle);

// Makes load_library(name) and find_loaded_library(name) use `file` instead (an empty file ends
// the redirection). Tests point a bare library name at another build of a stand-in library, or
// at a file that does not exist to play a machine where it is not installed.
void set_library_file(std::string_view name, std::string_view file);

// The faults of a disk, played for the files below `folder` (a Windows or POSIX path; the
// deepest folder with a fault decides) by the platform's file operations:
// - kReadOnly: nothing below it can be created, written, renamed or deleted (a folder the
//   process may not write to);
// - kDiskFull: an append writes the first half of its bytes, then fails (a full disk);
// - kHeld: files below it cannot be read, appended to or renamed (another program holds them
//   open without sharing).
// kNone takes the folder's fault away.
enum class FileFault { kNone, kReadOnly, kDiskFull, kHeld };
void set_file_fault(std::string_view folder, FileFault fault);

// How many file operations of the platform layer have run in this process: what an append of
// the run log costs beyond its one open-write-close.
uint64_t file_operations();

// A machine's memory as sysinfo() gives it, in units of `unit` bytes, for memory_status() to map
// onto the records of a 32-bit Windows process; nullopt gives this machine's again.
struct MemoryFigures {
  uint64_t total_ram = 0, free_ram = 0, total_swap = 0, free_swap = 0;
  uint32_t unit = 1;
};
void set_memory_figures(std::optional<MemoryFigures> figures);

}  // namespace platform::test_stores
