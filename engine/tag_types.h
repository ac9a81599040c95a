// The engine's seven tag types with their read/write flags and address limits. Limits of -1
// mean "does not apply / no limit". Channel limits depend on the card model.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vorel {

constexpr int kModelCount = 1;  // model codes with a row of their own; code 1 means "no card"

struct TagTypeRow {
  std::string_view Name;
  bool CanRead;
  bool CanWrite;
  int32_t SlotMin, SlotMax;
  int32_t BitMin, BitMax;
  // -1 (the default): the type has no channels on that model.
  std::array<int32_t, kModelCount> ChanMin{-1}, ChanMax{-1};
};
static_assert(kModelCount == 1, "the -1 defaults above cover one model only");

enum TagTypeIndex : int32_t {
  kTypeAD = 0,
  kTypeDA = 1,
  kTypeDI = 2,
  kTypeDO = 3,
  kTypeCount = 4,
  kTypeIniCount = 5,
  kTypeFreq = 6,
};

// clang-format off
inline constexpr std::array<TagTypeRow, 7> kTagTypes = {{
    {.Name = "AD", .CanRead = true, .CanWrite = false, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 15},
    {.Name = "DA", .CanRead = false, .CanWrite = true, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 15},
    {.Name = "DI", .CanRead = true, .CanWrite = false, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 15,
     .ChanMin = {0}, .ChanMax = {15}},
    {.Name = "DO", .CanRead = false, .CanWrite = true, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 15,
     .ChanMin = {0}, .ChanMax = {15}},
    {.Name = "Count", .CanRead = true, .CanWrite = false, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 15},
    {.Name = "INI_Count", .CanRead = false, .CanWrite = true, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 0},
    {.Name = "Freq", .CanRead = false, .CanWrite = true, .SlotMin = 0, .SlotMax = 0, .BitMin = 0, .BitMax = 0},
}};
// clang-format on

inline const TagTypeRow* tag_type(int32_t index) {
  return index >= 0 && index < static_cast<int32_t>(kTagTypes.size()) ? &kTagTypes[index] : nullptr;
}

// Channel limit of a type on a model; -1 for a model without a row of its own.
inline int32_t chan_min_of(const TagTypeRow& t, int model) {
  return model >= 0 && model < kModelCount ? t.ChanMin[model] : -1;
}
inline int32_t chan_max_of(const TagTypeRow& t, int model) {
  return model >= 0 && model < kModelCount ? t.ChanMax[model] : -1;
}

}  // namespace vorel
