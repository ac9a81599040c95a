// The driver's only window on the operating system. Everything else in the tree is portable and
// reaches ticks, local time, thread slots, events, libraries, registry, INI files and system facts
// through these declarations; win32/ and posix/ implement them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---------------------------------------------------------------- time

struct LocalDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Suspends the calling thread for about ms milliseconds (Sleep / nanosleep).
void sleep_ms(uint32_t ms);

// Source of the millisecond tick count and of the local date-time. Intervals are always the
// unsigned 32-bit difference of two tick values, so the 49.7-day wrap is harmless.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t ticks() = 0;
  virtual LocalDateTime now() = 0;
  // Gives the processor away for about ms milliseconds; a test clock moves on by ms instead.
  virtual void sleep(uint32_t ms) { sleep_ms(ms); }
};

// The clock every engine reads. Tests install a ManualClock; nullptr restores the system clock.
Clock& clock();
void set_clock(Clock* replacement);

// The operating system's own clock, for the few measurements of physical time.
Clock& system_clock();

// A monotonic nanosecond count for measurements (QueryPerformanceCounter / CLOCK_MONOTONIC).
uint64_t monotonic_ns();

// OLE date (days since 1899-12-30, fraction = time of day), the host's date-time representation.
double to_ole_date(const LocalDateTime& t);

// The user's regional settings for dates and times, read once per process by the formatting code.
// Texts are code page 936.
struct DateTimeFormat {
  std::string short_date;     // the short date picture, e.g. "yyyy/M/d"
  char date_separator = '/';  // what a "/" in a picture stands for
  char time_separator = ':';  // what a ":" in a picture stands for
  bool hour_leading_zero = false;
  bool twelve_hour = false;
  bool marker_first = false;  // the AM/PM marker goes before the time
  std::string am, pm;         // the AM/PM markers
  std::array<std::string, 12> short_month_names, long_month_names;
  std::array<std::string, 7> short_day_names, long_day_names;  // Sunday first
};
DateTimeFormat date_time_format();

// ---------------------------------------------------------------- threads, locks and events

// One thread-local pointer per thread. On POSIX the destructor runs when a thread that holds a
// non-null value ends (Windows does the same through DllMain's thread detach instead).
class ThreadSlot {
 public:
  using Destructor = void (*)(void* value);
  ThreadSlot() = default;
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;
  ~ThreadSlot();

  bool allocate(Destructor on_thread_exit);
  void release();
  bool allocated() const { return allocated_; }
  void* get() const;
  void set(void* value);

 private:
  bool allocated_ = false;
  unsigned long index_ = 0;
};

// An auto-reset event (one waiter is released per signal).
class AutoResetEvent {
 public:
  explicit AutoResetEvent(bool initially_signalled);
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;
  ~AutoResetEvent();

  bool valid() const { return impl_ != nullptr; }
  void set();
  // True when the event was signalled within timeout_ms (and is now reset).
  bool wait(uint32_t timeout_ms);

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

// A lock: a critical section on Windows, a std::mutex on POSIX. It meets the standard's Lockable
// requirements, so std::lock_guard and std::unique_lock take it. The Windows build's run time has
// no std::mutex (its thread model keeps it off newer system calls), so every lock of ours is one
// of these. A thread must not lock it again while it holds it: a critical section would let it
// through, a std::mutex would not.
class Mutex {
 public:
  Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  ~Mutex();

  void lock();
  bool try_lock();
  void unlock();

 private:
  // The system's lock object, constructed in place: no allocation, nothing of the OS in here.
  alignas(8) unsigned char storage_[48];
};

// Lets another thread that is ready to run have the processor (Sleep(0) / sched_yield).
void yield_thread();

// A thread of its own running `body`. Like std::thread, which the Windows build's run time lacks,
// but it can also be waited for with a time-out. The destructor joins a thread not yet joined or
// detached. Throws std::runtime_error when the system cannot start a thread.
class Thread {
 public:
  explicit Thread(std::function<void()> body);
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread();

  // True once body has returned (at once for a joined or detached thread); false when timeout_ms
  // passed first.
  bool wait(uint32_t timeout_ms);
  void join();
  // Lets the thread run on by itself; it frees what it holds when body returns.
  void detach();

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

// Signals an event handle the host passed in (SetEvent). A zero handle is ignored.
void signal_host_event(uint32_t handle);

// The host's side of such an event, for stand-in hosts and tests: an unnamed auto-reset event, not
// signalled, whose handle fits the 32 bits IniDriverEx takes (0 when none could be made). On POSIX
// it is a number whose signal_host_event() calls the waits take.
uint32_t create_host_event();
// True when the event was signalled within timeout_ms; the wait resets it.
bool wait_host_event(uint32_t handle, uint32_t timeout_ms);
void close_host_event(uint32_t handle);

// ---------------------------------------------------------------- libraries

using LibraryHandle = void*;

// A name without a folder is searched as Windows does, the program's own folder first. On POSIX
// a bare "name.dll" stands for the native build's "libname.so".
LibraryHandle find_loaded_library(const char* name);  // no load, no reference taken
LibraryHandle load_library(const char* name);
void* resolve(LibraryHandle library, const char* symbol);
void free_library(LibraryHandle library);

// Full path of the module (DLL or shared object) that contains this code. Every module answers
// for itself, even in a process whose program lends its own platform layer to the shared objects
// it loads (the native stand-in host does): the symbol is never exported.
#if defined(__ELF__)
#define PLATFORM_MODULE_LOCAL __attribute__((visibility("hidden")))
#else
#define PLATFORM_MODULE_LOCAL
#endif
PLATFORM_MODULE_LOCAL std::string own_module_path();

// Memory from the process heap (HeapAlloc on Windows), which outlives any module.
void* process_heap_alloc(size_t size);
void process_heap_free(void* block);

// ---------------------------------------------------------------- fault guard

// Runs fn(context) so that a hardware fault inside it (a closed vendor library writing through a
// bad pointer, an illegal instruction, a division by zero) ends the call instead of the process.
// True when fn returned normally; false when it faulted, with the fault's exception code in
// *exception_code (Windows codes on every platform: 0xC0000005 access violation, 0xC000001D
// illegal instruction, 0xC0000094 integer division by zero). Whatever fn had not finished is
// abandoned without unwinding, so fn must own nothing that needs a destructor. Calls may nest and
// may run on several threads at once.
bool call_guarded(void (*fn)(void* context), void* context, uint32_t* exception_code);

// The same for a callable; `body` is run by reference.
template <class Body>
bool call_guarded(Body& body, uint32_t* exception_code) {
  return call_guarded([](void* context) { (*static_cast<Body*>(context))(); }, &body, exception_code);
}

// Codes call_guarded reports; POSIX maps SIGSEGV and SIGBUS, SIGILL and SIGFPE onto them.
constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kIllegalInstruction = 0xC000001Du;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094u;

// ---------------------------------------------------------------- configuration stores

// Reads a string value below HKEY_LOCAL_MACHINE. nullopt when the key or the value is missing.
std::optional<std::string> read_machine_registry(std::string_view key, std::string_view value);
bool machine_registry_key_exists(std::string_view key);

// GetPrivateProfileString: the value, or `fallback` when file, section or key is missing.
std::string read_ini_string(std::string_view file, std::string_view section, std::string_view key,
                            std::string_view fallback);

bool file_exists(std::string_view path);

// The process's current folder, which relative paths are taken from.
std::string current_directory();

// ---------------------------------------------------------------- files

// Paths are Windows paths ("D:\Plants\Line2\Debug\Vorel_PCI.Log", ".\Debug\"); a relative path is
// taken from the process's current directory at the time of the call. Every operation reports
// failure through its result.

bool directory_exists(std::string_view path);
// Creates the directory and every missing parent. True when the directory exists afterwards.
bool create_directories(std::string_view path);
// Opens the file for reading and writing with writes denied to every other opener (creating it
// when missing), writes the bytes at its end and closes it. The file's size after the write, or
// nullopt when the file is held by another writer or cannot be opened or written; a write that
// stopped half-way (a full disk) is taken back, so the file never ends in part of the bytes.
// Nothing waits.
std::optional<uint64_t> append_to_file(std::string_view path, std::string_view bytes);
// nullopt when the file does not exist or cannot be queried.
std::optional<uint64_t> file_size(std::string_view path);
// Renames or moves a file; fails when `to` exists, and when another opener has `from` open
// without letting it be renamed (a writer of the run log in another process).
bool rename_file(std::string_view from, std::string_view to);
bool delete_file(std::string_view path);
// Creates the file empty when it does not exist; an existing file is left as it is.
bool create_empty_file(std::string_view path);
// The last `max_bytes` bytes of a file (all of it when it is not larger), read while other
// processes may keep appending to it, and the file's size then. nullopt when it does not exist
// or cannot be read.
struct FileEnd {
  uint64_t file_size = 0;
  std::string bytes;
};
std::optional<FileEnd> read_file_end(std::string_view path, uint64_t max_bytes);
// The files of a folder (not its subfolders), in no particular order; empty when the folder
// cannot be listed.
struct FileEntry {
  std::string name;  // without the folder
  uint64_t size = 0;
  uint64_t last_write = 0;  // a count that grows with the time of the last write
};
std::vector<FileEntry> list_files(std::string_view folder);
// Creates the file (emptied when it exists) and writes the bytes. False when any step failed,
// the final close included; the file may then hold part of the bytes.
bool write_file(std::string_view path, std::string_view bytes);
// Puts `from` in the place of `to` in one step (MoveFileEx replacing the file). Fails and leaves
// both files as they were when `to` is read-only or held open by a writer.
bool replace_file(std::string_view from, std::string_view to);

// ---------------------------------------------------------------- version resources

// The version resource of one file, queried as VerQueryValue does. Texts come back in code page 936.
class VersionResource {
 public:
  virtual ~VersionResource() = default;
  // The fixed block's file version, most and least significant halves.
  virtual bool file_version(uint32_t& most, uint32_t& least) const = 0;
  // First language/code-page pair of \VarFileInfo\Translation.
  virtual bool translation(uint16_t& language, uint16_t& code_page) const = 0;
  // A value such as "\StringFileInfo\080403A8\FileVersion".
  virtual std::optional<std::string> query_string(std::string_view sub_block) const = 0;
};

// nullptr when the file has no version information (its size is 0).
std::unique_ptr<VersionResource> open_version_resource(std::string_view path);

// ---------------------------------------------------------------- text conversion

std::u16string gbk_to_utf16(std::string_view gbk);
std::string utf16_to_gbk(std::u16string_view text);

// ---------------------------------------------------------------- user notices

// A modal message box with an OK button. Must never be called while the loader lock is held.
void show_message_box(std::string_view text, std::string_view caption);

// A plain top-level window standing for a host program's main window, for stand-in hosts and
// tests: the owner of the driver's dialogs. nullptr where there are no windows.
void* create_host_frame(std::string_view caption, int width, int height);
void destroy_host_frame(void* window);

enum class StandardStream { Output, Error };

// Writes UTF-8 text to standard output or standard error in one piece. A console gets it as
// UTF-16, so it reads right whatever the console's code page; a pipe or a file gets the bytes as
// they are, with no line-end translation.
void write_standard_stream(StandardStream stream, std::string_view utf8);

// ---------------------------------------------------------------- system facts

struct OsVersionRecord {
  uint32_t major = 0, minor = 0, build = 0;
  uint32_t platform_id = 0;  // 1 = 9x family, 2 = NT family
  std::string service_pack;  // szCSDVersion
};

struct ProcessorRecord {
  uint16_t architecture = 0;
  uint32_t page_size = 0;
  uint64_t minimum_application_address = 0;
  uint64_t maximum_application_address = 0;
  uint64_t active_processor_mask = 0;
  uint32_t number_of_processors = 0;
  uint32_t processor_type = 0;
  uint32_t allocation_granularity = 0;
  uint16_t processor_level = 0;
  uint16_t processor_revision = 0;
};

struct MemoryRecord {
  uint32_t memory_load = 0;
  uint32_t total_physical = 0, available_physical = 0;
  uint32_t total_page_file = 0, available_page_file = 0;
  uint32_t total_virtual = 0, available_virtual = 0;
};

OsVersionRecord os_version();
bool windows_extensions_installed();
ProcessorRecord processor_info();
MemoryRecord memory_status();
uint32_t logical_drives();
uint64_t time_stamp_counter();

// ---------------------------------------------------------------- ports

// The processor's own byte in/out instructions on an I/O port. Only the 9x family lets user code
// execute them (os_version().platform_id == 1); on the NT family they fault, so the card code uses
// them only when direct_ports_available() says so. POSIX builds have no such path.
#if defined(_WIN32) && defined(__i386__)
inline bool direct_ports_available() { return os_version().platform_id == 1; }
inline void direct_port_out(uint16_t port, uint8_t value) {
  __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port));
}
inline uint8_t direct_port_in(uint16_t port) {
  uint8_t value;
  __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port));
  return value;
}
#else
inline bool direct_ports_available() { return false; }
inline void direct_port_out(uint16_t, uint8_t) {}
inline uint8_t direct_port_in(uint16_t) { return 0; }
#endif

// The port-access component of the NT family: a library exporting Out32(short port, short value)
// and Inp32(short port) -> short in the standard calling convention. The card code binds it with
// load_library and resolve.
inline constexpr char kPortComponentName[] = "inpout32.dll";

}  // namespace platform
