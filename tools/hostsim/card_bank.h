// The cards of the demo project. On a machine without cards the vendor's library is the
// simulated bank, which takes its wiring (cards present, loopback, input levels, faults) from a
// text; the host hands it the project's text before the driver starts, through the bank's own
// sim7505_configure export. With the real vendor library there is nothing to configure.
#pragma once

#include <string>

namespace hostsim {

// Applies `text` (lines starting with # are left out) to the vendor library the driver is about
// to load, which stays loaded for the rest of the run so the wiring lasts. Prints what it did;
// false when the bank refused the text.
bool configure_card_bank(const std::string& text, const std::string& source_name);

}  // namespace hostsim
