// The tag types offered to the host's tag editor, and the two-step description calls.
#pragma once

#include <array>
#include <cstdint>

#include "records/tag_records.h"

namespace vorel {

constexpr int kHostTagTypeCount = 6;

// The six host-facing rows: AD, DA, DI, DO, Count, INI_Count. Reserved bytes are zero.
const std::array<TTagTypeInfo, kHostTagTypeCount>& host_tag_types();

// Null items: the count becomes 6. Otherwise the first `count` rows are copied, never more than
// six and nothing for a negative count; the count is left as it was.
void describe_tag_types(uint16_t* count, TTagTypeInfo* items);
void describe_tag_addresses(int32_t* count, TTagAddrItem* items);

}  // namespace vorel
