// The card models the driver knows: which registers a card has, at which offset from its base
// address, and which input ranges, output ranges and counter modes it offers. The card code reads
// a row of this table and never holds a literal register offset. An offset of kAbsent (-1) marks a
// register the model does not have; such a register is never accessed.
//
// The only model shipped, PCI_7505, has sixteen digital inputs and sixteen digital outputs that
// are reached through the vendor's library, and no AD, DA, counter or directly addressed digital
// register at all: every offset of its row is absent.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vorel {

constexpr int16_t kAbsent = -1;

constexpr int kDigitalRegisters = 18;  // DI or DO registers a model row can describe
constexpr int kCounterGroups = 4;      // 8254-style groups of three counters per model
constexpr int kCountersPerGroup = 3;
constexpr int kModelCounters = kCounterGroups * kCountersPerGroup;  // counters 12..23 never exist

// The parts of an 8254 control word: counter select (bits 7-6), access (bits 5-4), mode
// (bits 3-1), and binary or BCD counting (bit 0).
constexpr uint8_t kCounterLatch = 0x00;        // access: latch the count for reading
constexpr uint8_t kCounterLowThenHigh = 0x30;  // access: low byte, then high byte
constexpr int kCounterSquareWave = 3;          // mode 3
constexpr uint8_t kCounterBinary = 0x00;
constexpr uint8_t counter_control_word(int counter, uint8_t access, int mode) {
  return static_cast<uint8_t>((counter << 6) | access | (mode << 1) | kCounterBinary);
}
static_assert(counter_control_word(2, kCounterLowThenHigh, kCounterSquareWave) == 0xB6);

constexpr int kMaxRangeCount = 3;
constexpr int kAdRangeCount = 21;
constexpr int kDaRangeCount = 6;
constexpr int kCounterModeCount = 6;

// One entry of a range or mode list: the code written to the card (gain code, counter mode) and
// the name shown to the user; a range name also gives the engineering span ("+/-10V", "0-5V").
struct RangeEntry {
  int16_t code = kAbsent;
  std::string_view name;
};

// A maximum input range groups the AD ranges offered for it: `count` entries of the AD range
// list, following those of the maximum ranges before it.
struct MaxRangeEntry {
  int16_t count = kAbsent;
  std::string_view name;
};

struct AdRegisters {
  int16_t gain = kAbsent;           // gain code of the selected range
  int16_t channel = kAbsent;        // channel to convert
  uint8_t channel_format = 0;       // non-zero: start channel in the high nibble, stop in the low
  int16_t trigger = kAbsent;        // software start of a conversion
  uint8_t trigger_value = 0xFF;     // byte written to start it
  int16_t status = kAbsent;         // conversion status
  int32_t ready_bit = kAbsent;      // bit of the status byte that tells the conversion is done
  int32_t ready_value = kAbsent;    // value of that bit when it is done (0 or 1)
  int16_t data_low = kAbsent;       // low byte of the result
  int16_t data_high = kAbsent;      // high byte of the result
  int32_t resolution = kAbsent;     // converter bits
  int32_t right_shift = kAbsent;    // the result word is left-aligned by this many bits
  int32_t settle_delay = kAbsent;   // delay count after a channel or gain change
  int32_t convert_delay = kAbsent;  // delay count between trigger and status read
};

struct DaRegisters {
  int16_t data_low = kAbsent;
  int16_t data_high = kAbsent;   // used only by converters of more than 8 bits
  int32_t update = kAbsent;      // read of update + channel latches the value; absent: one
                                 // data register pair per channel, two ports apart
  int32_t resolution = kAbsent;  // converter bits
  int32_t left_shift = kAbsent;  // the value is written left-aligned by this many bits
};

// A counter group as it is set up at start-up: the clock-select bytes for each source, and the
// control, gate and data registers of its three counters.
struct CounterProgramming {
  int32_t select_filter = kAbsent;  // clock-select byte: filter division
  int32_t select_none = kAbsent;    // clock-select byte: external clock, no division
  int32_t select_clock = kAbsent;   // clock-select byte: internal clock division
  int16_t control = kAbsent;
  int16_t gate = kAbsent;
  std::array<int16_t, kCountersPerGroup> data = {kAbsent, kAbsent, kAbsent};
};

// A counter group as it is read and loaded at run time.
struct CounterAccess {
  int16_t control = kAbsent;
  int32_t select_base = kAbsent;  // clock-select register of counter k is at select_base + k
  std::array<int16_t, kCountersPerGroup> data = {kAbsent, kAbsent, kAbsent};
};

// What the board configuration page shows of a model.
struct ModelDescription {
  int16_t differential = kAbsent;  // differential inputs available (kAbsent: not available)
  int16_t single_ended = kAbsent;  // single-ended inputs available (kAbsent: not available)
  int16_t da_range_count = kAbsent;  // number of DA range names
  int16_t counter_mode_count = kAbsent;
  std::array<MaxRangeEntry, kMaxRangeCount> max_ranges = {};
  std::array<RangeEntry, kAdRangeCount> ad_ranges = {};
  std::array<RangeEntry, kDaRangeCount> da_ranges = {};
  std::array<RangeEntry, kCounterModeCount> counter_modes = {};
};

struct ModelRow {
  std::string_view name;
  uint8_t model_code = 0;
  std::array<int16_t, kDigitalRegisters> di_ports = {};
  std::array<int16_t, kDigitalRegisters> do_ports = {};
  AdRegisters ad;
  DaRegisters da;
  std::array<CounterProgramming, kCounterGroups> counter_programming = {};
  std::array<CounterAccess, kCounterGroups> counter_access = {};
  ModelDescription description;
};

namespace models_detail {

constexpr std::array<int16_t, kDigitalRegisters> all_absent() {
  std::array<int16_t, kDigitalRegisters> offsets{};
  offsets.fill(kAbsent);
  return offsets;
}

constexpr ModelRow pci7505() {
  ModelRow row;
  row.name = "PCI_7505";
  row.di_ports = all_absent();
  row.do_ports = all_absent();
  row.description.counter_modes = {{
      {kAbsent, "方式零"},
      {kAbsent, "方式一"},
      {kAbsent, "方式二"},
      {kAbsent, "方式三"},
      {kAbsent, "方式四"},
      {kAbsent, "方式五"},
  }};
  return row;
}

}  // namespace models_detail

// Indexed by the card entry's ModelCode; code 1 (no card) has no row.
inline constexpr std::array<ModelRow, 1> kModelTable = {models_detail::pci7505()};

// The row of a model code, nullptr when the table has none (a damaged parameter block).
constexpr const ModelRow* model_row_of(int32_t model_code) {
  return model_code >= 0 && model_code < static_cast<int32_t>(kModelTable.size()) ? &kModelTable[model_code]
                                                                                  : nullptr;
}

// Port address of a register: the offset is added to the base address with 16-bit wrap-around.
constexpr uint16_t register_port(int32_t base, int32_t offset) {
  return static_cast<uint16_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(offset));
}

}  // namespace vorel
