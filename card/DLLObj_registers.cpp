// Register access of the card object: counter programming at start-up, the process-wide table
// of initial counts, and one read or write per tag type, each driven by the card's model row.
#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

#include "card/DLLObj.h"
#include "card/DLLObj_detail.h"
#include "support/delphi.h"

namespace vorel {

using namespace card_detail;

namespace {

// Samples per AD read: the card entry's filter count, kept to what a poll can afford.
constexpr int32_t kMaxFilterSamples = 1000;

// Initial counts by card number 1..32 and counter channel 0..11, shared by every engine.
std::array<std::array<std::atomic<int32_t>, kModelCounters>, kCardCount + 1> g_ini_counts{};

// Shifts that the hardware words can take; a shift outside 0..31 leaves nothing.
uint32_t shift_right(uint32_t value, int32_t n) { return n >= 0 && n < 32 ? value >> n : 0; }
uint32_t shift_left(uint32_t value, int32_t n) { return n >= 0 && n < 32 ? value << n : 0; }

}  // namespace

// ---------------------------------------------------------------- process-wide counter table

int32_t IniCountTable(int32_t card_no, int32_t channel) {
  if (!is_card_number(card_no) || channel < 0 || channel >= kModelCounters) return 0;
  return g_ini_counts[card_no][channel].load(std::memory_order_relaxed);
}

void set_ini_count_table(int32_t card_no, int32_t channel, int32_t value) {
  if (!is_card_number(card_no) || channel < 0 || channel >= kModelCounters) return;
  g_ini_counts[card_no][channel].store(value, std::memory_order_relaxed);
}

// ---------------------------------------------------------------- counter programming

void TCustomDLLObject::InitCounters(int32_t card_no) {
  const TCardParams* card = card_entry(card_no);
  const ModelRow* model = model_of(card_no);
  if (!card || !model) return;
  static constexpr CounterProgramming kNoProgramming{};
  static constexpr CounterAccess kNoAccess{};
  const int32_t base = card->BaseAddress;
  uint8_t gate_bits = 0;  // one gate bit per counter in use, accumulated over the card
  for (int32_t i = 0; i < kCardCounters; ++i) {
    const int32_t group = i / kCountersPerGroup;
    const int32_t k = i % kCountersPerGroup;
    const bool modelled = group < kCounterGroups;
    const CounterProgramming& setup = modelled ? model->counter_programming[group] : kNoProgramming;
    const CounterAccess& access = modelled ? model->counter_access[group] : kNoAccess;
    const uint8_t clock_on = card->TCClockDivOn[i];
    const uint8_t filter_on = card->TCFilterDivOn[i];
    const bool select_present = access.select_base != kAbsent;
    const int32_t select_offset = access.select_base + k;
    if (clock_on == 1 || filter_on == 1) {
      const uint16_t divisor = filter_on == 1 ? card->TCFilterDiv[i] : card->TCClockDiv[i];
      const int32_t select = filter_on == 1 ? setup.select_filter : setup.select_clock;
      gate_bits = static_cast<uint8_t>(gate_bits | (1u << (i % 8)));
      if (usable(base, setup.gate)) PortWrite(register_port(base, setup.gate), gate_bits);
      if (usable(base, setup.control))
        PortWrite(register_port(base, setup.control),
                  counter_control_word(k, kCounterLowThenHigh, kCounterSquareWave));
      if (usable(base, setup.data[k])) {
        PortWrite(register_port(base, setup.data[k]), static_cast<uint8_t>(divisor & 0xFF));
        PortWrite(register_port(base, setup.data[k]), static_cast<uint8_t>(divisor >> 8));
      }
      if (select_present && usable(base, select_offset))
        PortWrite(register_port(base, select_offset), static_cast<uint8_t>(select & 0xFF));
    } else if (select_present) {
      PortWrite(register_port(base, select_offset), static_cast<uint8_t>(setup.select_none & 0xFF));
    }
  }
}

// ---------------------------------------------------------------- register access

bool TCustomDLLObject::Read_AD(int32_t& raw, TCommand& command) {
  try {
    const TCardParams* card = card_entry(command.CardNo);
    const ModelRow* model = model_of(command.CardNo);
    if (!card || !model || model->ad.status == kAbsent) return false;  // no conversion to wait for
    const AdRegisters& ad = model->ad;
    const int32_t base = card->BaseAddress;
    const int32_t n = std::clamp<int32_t>(card->ADFilterNums, 1, kMaxFilterSamples);
    std::vector<int32_t> samples(static_cast<size_t>(n));
    const uint32_t failures_before = port_failures_;

    const int32_t channel = command.Channel;
    const auto code =
        static_cast<uint8_t>((ad.channel_format != 0 ? (channel << 4) | channel : channel) & 0xFF);
    if (usable(base, ad.channel)) PortWrite(register_port(base, ad.channel), code);
    if (usable(base, ad.gain))
      PortWrite(register_port(base, ad.gain),
                static_cast<uint8_t>(entry_at(model->description.ad_ranges, command.RangeIndex).code & 0xFF));
    PortDelay(ad.settle_delay);

    const uint32_t mask = static_cast<uint32_t>(full_scale(ad.resolution));
    int32_t good = 0, failures = 0;
    bool ok = false;
    do {
      if (usable(base, ad.trigger)) PortWrite(register_port(base, ad.trigger), ad.trigger_value);
      PortDelay(ad.convert_delay);
      const uint8_t status = PortRead(register_port(base, ad.status));
      if (port_failures_ != failures_before) return false;  // the card cannot be reached
      if (static_cast<int32_t>(shift_right(status, ad.ready_bit) & 1u) == ad.ready_value) {
        ok = true;
        const uint32_t low = usable(base, ad.data_low) ? PortRead(register_port(base, ad.data_low)) : 0u;
        const uint32_t high = usable(base, ad.data_high) ? PortRead(register_port(base, ad.data_high)) : 0u;
        samples[static_cast<size_t>(good++)] =
            static_cast<int32_t>(shift_right((high << 8) | low, ad.right_shift) & mask);
      } else {
        ok = false;
        ++failures;
      }
    } while (failures <= 2 * n && good < n);
    raw = TrimmedMean(samples.data(), good);
    return ok && port_failures_ == failures_before;
  } catch (...) {
    AppendLog("调用模拟量输入函数Read_AD()时出现异常！");
    return false;
  }
}

void TCustomDLLObject::Write_DA(uint16_t raw, TCommand& command) {
  try {
    const TCardParams* card = card_entry(command.CardNo);
    const ModelRow* model = model_of(command.CardNo);
    if (!card || !model) return;
    const DaRegisters& da = model->da;
    const int32_t base = card->BaseAddress;
    const uint32_t f = shift_left(raw, da.left_shift);
    const auto low_byte = static_cast<uint8_t>(f & 0xFF);
    const auto high_byte = static_cast<uint8_t>((f >> 8) & 0xFF);
    if (da.update == kAbsent) {
      // A register pair per channel, channels two ports apart.
      const int32_t step = 2 * command.Channel;
      if (da.data_low != kAbsent && usable(base, da.data_low + step))
        PortWrite(register_port(base, da.data_low + step), low_byte);
      if (da.resolution >= 9 && da.data_high != kAbsent && usable(base, da.data_high + step))
        PortWrite(register_port(base, da.data_high + step), high_byte);
    } else {
      // Shared data registers; reading the channel's update register latches the new value.
      if (usable(base, da.data_low)) PortWrite(register_port(base, da.data_low), low_byte);
      if (da.resolution > 8 && usable(base, da.data_high))
        PortWrite(register_port(base, da.data_high), high_byte);
      PortDelay(1);
      if (usable(base, da.update + command.Channel))
        PortRead(register_port(base, da.update + command.Channel));
    }
  } catch (...) {
    exchange_failed();
    AppendLog("调用模拟量输出函数Write_DA()时出现异常！");
  }
}

void TCustomDLLObject::Read_DI_Data(int16_t& value, TCommand& command) {
  try {
    const TCardParams* card = card_entry(command.CardNo);
    const ModelRow* model = model_of(command.CardNo);
    const int32_t r = command.Channel / kDigitalLines;
    if (!card || !model || command.Channel < 0 || r >= kDigitalRegisters || model->di_ports[r] == kAbsent) {
      exchange_failed();  // no input register to read
      return;
    }
    value = static_cast<int16_t>(PortRead(register_port(card->BaseAddress, model->di_ports[r])));
  } catch (...) {
    exchange_failed();
    AppendLog("调用开关量读取函数Read_DI_Data()时出现异常！");
  }
}

void TCustomDLLObject::Write_DO_data(TCommand& command) {
  try {
    const TCardParams* card = card_entry(command.CardNo);
    const ModelRow* model = model_of(command.CardNo);
    const int32_t r = command.Channel / kDigitalLines;
    if (!card || !model || command.Channel < 0 || r >= kDigitalRegisters) return;
    const int32_t base = card->BaseAddress;
    if (usable(base, model->do_ports[r]))
      PortWrite(register_port(base, model->do_ports[r]), static_cast<uint8_t>(command.PortValue & 0xFF));
  } catch (...) {
    exchange_failed();
    AppendLog("调用开关量输出函数Write_DO_data()时出现异常！");
  }
}

void TCustomDLLObject::Read_Count(int32_t& value, TCommand& command) {
  const TCardParams* card = card_entry(command.CardNo);
  const ModelRow* model = model_of(command.CardNo);
  const int32_t group = command.Channel / kCountersPerGroup;
  const int32_t k = command.Channel % kCountersPerGroup;
  if (!card || !model || command.Channel < 0 || group >= kCounterGroups) {
    exchange_failed();  // a counter no model has
    return;
  }
  const CounterAccess& access = model->counter_access[group];
  const int32_t base = card->BaseAddress;
  if (usable(base, access.control))
    PortWrite(register_port(base, access.control), counter_control_word(k, kCounterLatch, 0));
  if (!usable(base, access.data[k])) {
    exchange_failed();
    return;
  }
  const int32_t low = PortRead(register_port(base, access.data[k]));
  const int32_t high = PortRead(register_port(base, access.data[k]));
  value = std::max(IniCountTable(command.CardNo, command.Channel) - (low + 256 * high), 0);
}

void TCustomDLLObject::Write_IniCount(TCommand& command) {
  set_ini_count_table(command.CardNo, command.Channel, command.PortValue);
  const TCardParams* card = card_entry(command.CardNo);
  const ModelRow* model = model_of(command.CardNo);
  const int32_t group = command.Channel / kCountersPerGroup;
  const int32_t k = command.Channel % kCountersPerGroup;
  if (!card || !model || command.Channel < 0 || group >= kCounterGroups) return;
  const auto mode =
      static_cast<uint8_t>(entry_at(model->description.counter_modes, command.RangeIndex).code & 0xFF);
  const uint8_t control_word = counter_control_word(k, kCounterLowThenHigh, mode);
  const CounterAccess& access = model->counter_access[group];
  const int32_t base = card->BaseAddress;
  if (usable(base, access.control)) PortWrite(register_port(base, access.control), control_word);
  if (usable(base, access.data[k])) {
    PortWrite(register_port(base, access.data[k]), static_cast<uint8_t>(command.PortValue & 0xFF));
    PortWrite(register_port(base, access.data[k]), static_cast<uint8_t>((command.PortValue >> 8) & 0xFF));
  }
}

}  // namespace vorel
