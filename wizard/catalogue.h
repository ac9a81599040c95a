// What the board page knows of the card models: the device type list, the channel limits of each
// model (from the tag type table) and the range and mode names of its description record. The
// driver's own catalogue holds the PCI_7505 row, which has no AD, DA or counter channels; tests
// give the page a catalogue whose row has them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "card/models.h"

namespace vorel::wizard {

struct BoardModel {
  std::string name;
  uint8_t code = 0;
  int ad_max = -1;  // highest channel index, -1: none
  int da_max = -1;
  int tc_max = -1;
  ModelDescription description;

  bool has_ad() const { return ad_max >= 0; }
  // Number of AD ranges of the maximum ranges 0 .. r-1 (a count of -1 counts as none).
  int range_offset(int max_range) const;
  // Names of the AD ranges offered under maximum range r.
  std::vector<std::string> ad_range_names(int max_range) const;
  std::vector<std::string> da_range_names() const;
  std::vector<std::string> counter_mode_names() const;
};

struct BoardCatalogue {
  std::vector<BoardModel> models;  // the device type list, in order

  // The model of a code, nullptr for a free entry (code 1) or an unknown code.
  const BoardModel* by_code(int code) const;
  // The model of a device type list index; an empty selection (-1) means the first entry.
  const BoardModel& by_selection(int index) const;
};

// The driver's models: PCI_7505 with its limits from the tag type table.
const BoardCatalogue& driver_catalogue();

}  // namespace vorel::wizard
