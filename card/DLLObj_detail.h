// Helpers the card object's files share: how many channels a register carries, whether a
// register can be accessed, and which range entry an index selects.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "card/models.h"
#include "card/port_io.h"
#include "engine/tag_types.h"

namespace vorel::card_detail {

// Channels one register carries, by tag type: a DI or DO register holds 8 lines, every other
// type has one channel per register.
constexpr int32_t kDigitalLines = 8;
constexpr std::array<int32_t, kTagTypes.size()> kBitsPerRegister = {1, 1, kDigitalLines, kDigitalLines, 1,
                                                                    1, 1};

inline int32_t bits_per_register(int32_t type_index) {
  return type_index >= 0 && type_index < static_cast<int32_t>(kBitsPerRegister.size())
             ? kBitsPerRegister[type_index]
             : 1;
}

// A register is used only when the model has it and its port does not wrap below the card's base
// address (a port of base + offset in 16 bits).
inline bool usable(int32_t base, int32_t offset) {
  return offset != kAbsent && register_port(base, offset) >= static_cast<uint16_t>(base);
}

// The entry a range or mode index selects; an index beyond the list selects its first entry.
template <size_t N>
const RangeEntry& entry_at(const std::array<RangeEntry, N>& list, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < N ? list[static_cast<size_t>(index)] : list[0];
}

}  // namespace vorel::card_detail
