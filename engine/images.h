// Small conversions the engine and the card object share: the single-precision image of a value,
// the bits of a 16-bit output word, and a card entry's model name for the run log.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "records/pdb.h"

namespace vorel {

// A number as the single-precision image holds it; beyond the float range it becomes infinite.
inline float to_single(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// Output words are 16 bits wide; the bit number wraps at 32 like the shift it stands for.
inline int64_t SetBitOf(int64_t word, int32_t n) {
  return static_cast<int64_t>((static_cast<uint64_t>(word) | (uint64_t{1} << (n & 31))) & 0xFFFFu);
}

inline int64_t ClearBitOf(int64_t word, int32_t n) {
  return static_cast<int64_t>(static_cast<uint64_t>(word) & ~(uint64_t{1} << (n & 31)) & 0xFFFFu);
}

// The model name of a card entry; empty without an entry.
inline std::string card_model_name(const TCardParams* card) {
  return card ? std::string(ModelName(*card)) : std::string();
}

}  // namespace vorel
