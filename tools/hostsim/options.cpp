#include "tools/hostsim/options.h"

#include <string_view>

#include "platform/platform.h"
#include "tools/hostsim/console.h"

namespace hostsim {

namespace {

constexpr const char* kUsage =
    "usage: hostsim [--dll PATH] [--borlndmm PATH] [--check]\n"
    "       hostsim [--dll PATH] [--borlndmm PATH] --project DIR [--block FILE] [--seconds N]\n"
    "               [--check-demo] [--no-stdin]\n"
    "       hostsim [--dll PATH] [--borlndmm PATH] --wizard [--block FILE]\n"
    "       hostsim [--dll PATH] [--borlndmm PATH] --test-device [--unattended] [--block FILE]";

std::string program_directory() {
  const std::string self = platform::own_module_path();
  const size_t cut = self.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : self.substr(0, cut + 1);
}

std::optional<uint32_t> seconds_of(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

}  // namespace

std::optional<Options> parse_options(int argc, char** argv) {
  Options o;
  const std::string dir = program_directory();
#if defined(_WIN32)
  o.driver_path = dir + "Vorel_PCI.dll";
  o.manager_path = dir + "borlndmm.dll";
#else
  o.driver_path = dir + "libVorel_PCI.so";
  o.manager_path = dir + "libborlndmm.so";
#endif
  bool demo_only = false;    // options that mean nothing without a project
  bool block_given = false;  // --block, which the wizard and the device test take too
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--check") {
      o.check = true;
    } else if (arg == "--check-demo") {
      o.check_demo = demo_only = true;
    } else if (arg == "--wizard") {
      o.wizard = true;
    } else if (arg == "--test-device") {
      o.test_device = true;
    } else if (arg == "--unattended") {
      o.unattended = true;
    } else if (arg == "--no-stdin") {
      o.console = false;
    } else if ((arg == "--dll" || arg == "--borlndmm") && has_value) {
      (arg == "--dll" ? o.driver_path : o.manager_path) = argv[++i];
    } else if (arg == "--project" && has_value) {
      o.project = argv[++i];
    } else if (arg == "--block" && has_value) {
      o.block_path = argv[++i];
      block_given = true;
    } else if (arg == "--seconds" && has_value && seconds_of(argv[i + 1])) {
      o.seconds = *seconds_of(argv[++i]);
      demo_only = true;
    } else {
      print_error("hostsim: unknown or incomplete option '" + std::string(arg) + "'");
      print_error(kUsage);
      return std::nullopt;
    }
  }
  if ((demo_only || (block_given && !o.wizard && !o.test_device)) && !o.project) {
    print_error(
        "hostsim: --block, --seconds and --check-demo need --project (--block also goes with --wizard "
        "and --test-device)");
    print_error(kUsage);
    return std::nullopt;
  }
  if ((o.wizard || o.test_device) && o.project) {
    print_error("hostsim: --wizard and --test-device run no project");
    print_error(kUsage);
    return std::nullopt;
  }
  if ((o.wizard && o.test_device) || (o.unattended && !o.test_device)) {
    print_error("hostsim: --wizard or --test-device, and --unattended only with --test-device");
    print_error(kUsage);
    return std::nullopt;
  }
  return o;
}

}  // namespace hostsim
