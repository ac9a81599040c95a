#include "tools/hostsim/card_bank.h"

#include "platform/platform.h"
#include "sim/pci7505/sim7505.h"
#include "tools/hostsim/console.h"
#include "tools/hostsim/tag_table.h"

namespace hostsim {

namespace {
// The library the driver loads by this plain name: from the program's folder first.
constexpr char kVendorLibrary[] = "pci7505.dll";
}  // namespace

bool configure_card_bank(const std::string& text, const std::string& source_name) {
  std::string items;
  for (std::string_view line : text_lines(text)) {
    if (line.find_first_not_of(" \t") == std::string_view::npos || line[line.find_first_not_of(" \t")] == '#')
      continue;
    items += std::string(line) + ";";
  }
  platform::LibraryHandle bank = platform::load_library(kVendorLibrary);
  const auto configure =
      bank ? reinterpret_cast<sim7505::ConfigureFn>(platform::resolve(bank, "sim7505_configure")) : nullptr;
  if (!configure) {
    print_line("[card bank] " + std::string(kVendorLibrary) + " is not the simulated bank; " + source_name +
               " left out");
    if (bank) platform::free_library(bank);
    return true;
  }
  if (!configure(items.c_str())) {
    print_error("hostsim: the simulated card bank refused " + source_name + ": " + items);
    return false;
  }
  print_line("[card bank] simulated " + std::string(kVendorLibrary) + " wired by " + source_name + ": " +
             items);
  return true;
}

}  // namespace hostsim
