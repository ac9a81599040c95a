#include "wizard/catalogue.h"

#include <algorithm>

#include "engine/tag_types.h"

namespace vorel::wizard {

namespace {

std::vector<std::string> Names(const RangeEntry* first, int count, int available) {
  std::vector<std::string> names;
  for (int i = 0; i < std::min(count, available); ++i) names.emplace_back(first[i].name);
  return names;
}

}  // namespace

int BoardModel::range_offset(int max_range) const {
  int offset = 0;
  for (int m = 0; m < std::min(max_range, kMaxRangeCount); ++m)
    offset += std::max<int>(description.max_ranges[m].count, 0);
  return offset;
}

std::vector<std::string> BoardModel::ad_range_names(int max_range) const {
  if (max_range < 0 || max_range >= kMaxRangeCount) return {};
  const int offset = std::min(range_offset(max_range), kAdRangeCount);
  return Names(description.ad_ranges.data() + offset, description.max_ranges[max_range].count,
               kAdRangeCount - offset);
}

std::vector<std::string> BoardModel::da_range_names() const {
  return Names(description.da_ranges.data(), description.da_range_count, kDaRangeCount);
}

std::vector<std::string> BoardModel::counter_mode_names() const {
  return Names(description.counter_modes.data(), description.counter_mode_count, kCounterModeCount);
}

const BoardModel* BoardCatalogue::by_code(int code) const {
  for (const BoardModel& m : models)
    if (m.code == code) return &m;
  return nullptr;
}

const BoardModel& BoardCatalogue::by_selection(int index) const {
  // A negative index is a large unsigned one: the first model too.
  return static_cast<size_t>(index) < models.size() ? models[static_cast<size_t>(index)] : models.front();
}

const BoardCatalogue& driver_catalogue() {
  static const BoardCatalogue* const catalogue = [] {
    auto* c = new BoardCatalogue;
    for (const ModelRow& row : kModelTable) {
      BoardModel m;
      m.name = std::string(row.name);
      m.code = row.model_code;
      m.ad_max = chan_max_of(kTagTypes[kTypeAD], row.model_code);
      m.da_max = chan_max_of(kTagTypes[kTypeDA], row.model_code);
      m.tc_max = chan_max_of(kTagTypes[kTypeCount], row.model_code);
      m.description = row.description;
      c->models.push_back(std::move(m));
    }
    return c;
  }();
  return *catalogue;
}

}  // namespace vorel::wizard
