// The stand-in host's command line.
//
//   hostsim [--dll PATH] [--borlndmm PATH] [--check]
//       the configuration-time calls and one round of every run-time call on two threads;
//       --check verifies every key answer
//   hostsim [--dll PATH] [--borlndmm PATH] --project DIR [--block FILE] [--seconds N]
//           [--check-demo] [--no-stdin]
//       runs the project in DIR for N seconds (10): tags.csv (the tag list), writes.txt (scripted
//       writes, optional), card_bank.txt (wiring of the simulated card bank, optional); the
//       parameter block is kept in FILE (device.pdb in the current folder), made by FullPDB when
//       missing. --check-demo judges what the demo should show; --no-stdin takes no typed commands.
//   hostsim [--dll PATH] [--borlndmm PATH] --wizard [--block FILE]
//       opens the configuration wizard (DLLEdDev) over a host frame window on the block kept in
//       FILE, writes the block back when the wizard committed it and prints its cards.
//   hostsim [--dll PATH] [--borlndmm PATH] --test-device [--unattended] [--block FILE]
//       opens the device test dialog (DLLTestDev) on the block kept in FILE and prints its result;
//       --unattended runs the dialog's read test without showing it. Exit code 0 when it passed.
//
// Both libraries are taken from the directory of this program unless a path is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hostsim {

struct Options {
  std::string driver_path;
  std::string manager_path;
  bool check = false;
  std::optional<std::string> project;  // folder of the project to run
  std::string block_path = "device.pdb";
  uint32_t seconds = 10;
  bool check_demo = false;
  bool console = true;
  bool wizard = false;
  bool test_device = false;
  bool unattended = false;
};

// nullopt after printing the usage when the command line is not understood.
std::optional<Options> parse_options(int argc, char** argv);

}  // namespace hostsim
