#include "tests/wine/host_project.h"

#include <gtest/gtest.h>
#include <share.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace wine_test {

namespace {

// Below the test's own folder; the CTest set-up of this suite empties it and registers
// <folder>host\Taviran.exe as the installed host before the suite starts.
constexpr std::string_view kRunFolder = "engine_run\\";

std::string folder_of(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool same_path(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

HostInstallation& installation() {
  static HostInstallation host;
  return host;
}

bool write_host_ini(const HostInstallation& host, const std::string& project_dir) {
  std::ofstream ini(host.host_dir + "Taviran.ini", std::ios::binary | std::ios::trunc);
  ini << "[WORKING]\r\nDefaultPROJECT=" << project_dir << "Demo.prj\r\n";
  return static_cast<bool>(ini.flush());
}

void prepare(HostInstallation& host) {
  host.root = folder_of(platform::own_module_path()) + std::string(kRunFolder);
  host.host_dir = host.root + "host\\";
  const std::string host_exe = host.host_dir + "Taviran.exe";
  const std::optional<std::string> registered = platform::read_machine_registry("Software\\KESTA", "PATH");
  if (!registered || !same_path(*registered, host_exe)) {
    host.problem = "HKLM\\Software\\KESTA value PATH is \"" + registered.value_or("(missing)") +
                   "\", not \"" + host_exe +
                   "\": run the suite through ctest, whose wine_engine_setup registers it";
    return;
  }
  const std::string first_project = host.root + "projects\\Loaded\\";
  if (!platform::create_directories(host.host_dir) || !platform::create_directories(first_project) ||
      !write_host_ini(host, first_project))
    host.problem = "cannot set up the host installation in " + host.root;
}

// Runs before the first test, and so before the first test loads the driver.
class HostInstallationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { prepare(installation()); }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new HostInstallationEnvironment);

bool digits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// A number written without leading zeros, one or two digits; its length, or 0.
size_t short_number(std::string_view text, size_t at, int& value) {
  if (!digits(text, at, 1, value)) return 0;
  int two = 0;
  if (value != 0 && digits(text, at, 2, two)) {
    value = two;
    return 2;
  }
  return 1;
}

}  // namespace

const HostInstallation& host_installation() { return installation(); }

std::string windows_version_under_test() {
  const char* version = std::getenv("VOREL_WINDOWS_VERSION");
  return version ? version : "";
}

HostProject open_project(std::string_view name, bool has_run_before) {
  const HostInstallation& host = installation();
  HostProject project;
  // Each run of the suite, under each Windows version, starts its projects new.
  const std::string version = windows_version_under_test();
  project.dir = host.root + "projects\\" + (version.empty() ? "" : version + "\\") + std::string(name) + "\\";
  project.log_path = project.dir + "Debug\\Vorel_PCI.Log";
  const std::string folder = has_run_before ? project.dir + "Debug\\" : project.dir;
  EXPECT_TRUE(platform::create_directories(folder)) << folder;
  EXPECT_FALSE(platform::file_exists(project.log_path)) << "the project " << name << " is not new";
  EXPECT_TRUE(write_host_ini(host, project.dir)) << host.host_dir << "Taviran.ini";
  return project;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::string> crlf_lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    const size_t end = text.find("\r\n", from);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(from));
      break;
    }
    lines.emplace_back(text.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

size_t occurrences(std::string_view text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

HeldFile::HeldFile(const std::string& path, Sharing sharing)
    : file_(_fsopen(path.c_str(), "rb",
                    sharing == Sharing::kNone ? _SH_DENYRW : sharing == Sharing::kReaders ? _SH_DENYWR : _SH_DENYNO)) {}

HeldFile::~HeldFile() {
  if (file_) std::fclose(file_);
}

bool nobody_holds(const std::string& path) { return HeldFile(path, Sharing::kNone).held(); }

size_t time_text_length(std::string_view line, const std::vector<platform::LocalDateTime>& days) {
  int year = 0, month = 0, day = 0;
  if (!digits(line, 0, 4, year) || line.size() < 5 || line[4] != '/') return 0;
  size_t at = 5;
  size_t n = short_number(line, at, month);
  if (n == 0 || at + n >= line.size() || line[at + n] != '/') return 0;
  at += n + 1;
  n = short_number(line, at, day);
  if (n == 0) return 0;
  at += n;
  bool known_day = false;
  for (const platform::LocalDateTime& d : days)
    known_day |= d.year == year && d.month == month && d.day == day;
  if (!known_day) return 0;
  if (at >= line.size() || line[at] != ' ') return at;  // midnight: the date alone

  ++at;
  int hour = 0, minute = 0, second = 0;
  if (platform::date_time_format().hour_leading_zero) {
    if (!digits(line, at, 2, hour)) return 0;
    n = 2;
  } else {
    n = short_number(line, at, hour);
    if (n == 0) return 0;
  }
  at += n;
  if (at >= line.size() || line[at] != ':' || !digits(line, at + 1, 2, minute)) return 0;
  at += 3;
  if (at >= line.size() || line[at] != ':' || !digits(line, at + 1, 2, second)) return 0;
  at += 3;
  return hour < 24 && minute < 60 && second < 60 ? at : 0;
}

std::string stamp_text(const platform::LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

void pause_ms(uint32_t ms) { platform::sleep_ms(ms); }

}  // namespace wine_test
