// The plant's side of the run log: a host installation registered the way the host registers
// itself (HKLM\Software\KESTA value PATH, "Taviran.ini" beside it naming the current project), and
// the log below that project read back as the plant engineer reads it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace wine_test {

// The host installation, prepared before the driver is loaded: the driver looks for its log
// folder whenever it attaches to the process or to a new thread.
struct HostInstallation {
  std::string root;      // everything the suite writes lies below; ends in a separator
  std::string host_dir;  // holds Taviran.ini
  std::string problem;   // why the installation is not usable; empty when it is
};
const HostInstallation& host_installation();

// One project of the host, as Taviran.ini's DefaultPROJECT names it.
struct HostProject {
  std::string dir;       // the project's folder, ending in a separator
  std::string log_path;  // where the driver must put its run log
};

// The Windows version Wine gives this process when the suite runs again as another system
// ("winxp", "win7", "win10"; tests/wine/CMakeLists.txt); empty for the suite's own run.
std::string windows_version_under_test();

// Makes a new project the host's current one: host threads started from now on log into its
// Debug folder. A project that has run before already has that folder; a new one has not.
HostProject open_project(std::string_view name, bool has_run_before);

// The whole file, or an empty text when it cannot be read.
std::string read_file(const std::string& path);

// Splits at CR LF; a text that ends in CR LF gives no empty last line.
std::vector<std::string> crlf_lines(std::string_view text);

size_t occurrences(std::string_view text, std::string_view what);

// The file opened the way another program holds it, sharing it with nobody, with readers only, or
// with readers and writers (but not with a rename: the C run time never shares that).
enum class Sharing { kNone, kReaders, kReadersAndWriters };
class HeldFile {
 public:
  HeldFile(const std::string& path, Sharing sharing);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return file_ != nullptr; }

 private:
  std::FILE* file_ = nullptr;
};

// True when nobody has the file open: it can be opened with every kind of sharing denied.
bool nobody_holds(const std::string& path);

// Length of the time text the driver puts in front of its log lines: the system's date
// ("2026/12/7") for one of `days`, then, unless it is midnight, a blank and the time with the
// hour written as the system's regional settings say (with or without a leading zero). 0 when
// `line` does not start with one.
size_t time_text_length(std::string_view line, const std::vector<platform::LocalDateTime>& days);

// "yyyy-mm-dd-hh-nn-ss", the stamp of a log that was moved aside for its size.
std::string stamp_text(const platform::LocalDateTime& t);

// Waits about `ms` milliseconds: the host polls the driver in real time here.
void pause_ms(uint32_t ms);

}  // namespace wine_test
