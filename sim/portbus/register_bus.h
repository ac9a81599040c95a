// An in-memory I/O port bus with a few device models, for exercising the table-driven port paths
// without a card: every port is a byte latch (a read gives the last byte written, or what a test
// preset as input lines), and devices can claim ports of their own:
//   - an AD converter: a trigger write starts a conversion of the next queued sample; the status
//     port shows the ready bit once it is done; the data ports give the low and high byte;
//   - a DA latch: reading the update port of a channel latches the data bytes into its output;
//   - an 8254-style counter group: control word (latch command, load mode), data ports loaded low
//     byte then high byte, latched counts read low byte then high byte.
// Every access is recorded in order.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace portbus {

struct Access {
  bool write = false;
  uint16_t port = 0;
  uint8_t value = 0;
  bool operator==(const Access&) const = default;
};

struct AdcPorts {
  uint16_t trigger = 0;
  uint16_t status = 0;
  int ready_bit = 0;    // bit of the status byte that shows a finished conversion
  int ready_value = 1;  // its value when finished
  uint16_t data_low = 0;
  uint16_t data_high = 0;
};

struct DacPorts {
  uint16_t data_low = 0;
  uint16_t data_high = 0;
  uint16_t update = 0;  // update port of channel c is update + c
  int channels = 0;
};

class RegisterBus {
 public:
  void reset() { *this = RegisterBus(); }

  // ---- plain latches
  void set_latch(uint16_t port, uint8_t value) { latches_[port] = value; }
  uint8_t latch(uint16_t port) const {
    auto it = latches_.find(port);
    return it == latches_.end() ? 0 : it->second;
  }

  // ---- AD converter
  void attach_adc(const AdcPorts& ports) {
    adc_ = ports;
    has_adc_ = true;
  }
  // Raw words the converter delivers, one per conversion, as they appear in its data ports.
  void push_sample(uint16_t word) { samples_.push_back(word); }
  // The next n conversions never finish.
  void fail_conversions(int n) { failing_conversions_ = n; }
  int conversions() const { return conversions_; }

  // ---- DA latch
  void attach_dac(const DacPorts& ports) {
    dac_ = ports;
    dac_outputs_.assign(static_cast<size_t>(ports.channels), 0);
    has_dac_ = true;
  }
  uint16_t dac_output(int channel) const {
    return channel >= 0 && channel < static_cast<int>(dac_outputs_.size())
               ? dac_outputs_[static_cast<size_t>(channel)]
               : 0;
  }

  // ---- 8254-style counter groups; returns the group's number
  int attach_counters(uint16_t control, std::array<uint16_t, 3> data) {
    counters_.push_back(CounterGroup{control, data, {}});
    return static_cast<int>(counters_.size()) - 1;
  }
  void set_count(int group, int k, uint16_t count) { counter(group, k).count = count; }
  uint16_t loaded_count(int group, int k) { return counter(group, k).initial; }
  int mode(int group, int k) { return counter(group, k).mode; }

  // ---- access
  void write(uint16_t port, uint8_t value) {
    log_.push_back({true, port, value});
    latches_[port] = value;
    if (has_adc_ && port == adc_.trigger) start_conversion();
    for (CounterGroup& group : counters_) {
      if (port == group.control) control_word(group, value);
      for (int k = 0; k < 3; ++k)
        if (port == group.data[k]) load_byte(group.counters[k], value);
    }
  }

  uint8_t read(uint16_t port) {
    uint8_t value = latch(port);
    if (has_adc_ && port == adc_.status) value = status_byte();
    if (has_adc_ && port == adc_.data_low && converted_) value = static_cast<uint8_t>(result_ & 0xFF);
    if (has_adc_ && port == adc_.data_high && converted_) {
      value = static_cast<uint8_t>(result_ >> 8);
      converted_ = false;  // the result has been taken
    }
    if (has_dac_ && port >= dac_.update && port < dac_.update + dac_.channels)
      dac_outputs_[static_cast<size_t>(port - dac_.update)] =
          static_cast<uint16_t>(latch(dac_.data_low) | (latch(dac_.data_high) << 8));
    for (CounterGroup& group : counters_)
      for (int k = 0; k < 3; ++k)
        if (port == group.data[k]) value = count_byte(group.counters[k]);
    log_.push_back({false, port, value});
    return value;
  }

  const std::vector<Access>& log() const { return log_; }
  void clear_log() { log_.clear(); }

 private:
  struct CounterState {
    uint16_t count = 0;
    uint16_t initial = 0;
    int mode = 0;
    bool low_loaded = false;
    uint8_t pending_low = 0;
    bool latched = false;
    uint16_t latch = 0;
    bool high_next = false;  // the next data read gives the high byte
  };
  struct CounterGroup {
    uint16_t control;
    std::array<uint16_t, 3> data;
    std::array<CounterState, 3> counters;
  };

  CounterState& counter(int group, int k) {
    return counters_.at(static_cast<size_t>(group)).counters.at(static_cast<size_t>(k));
  }

  void start_conversion() {
    ++conversions_;
    if (failing_conversions_ > 0) {
      --failing_conversions_;
      converted_ = false;
      return;
    }
    if (samples_.empty()) {
      converted_ = false;
      return;
    }
    result_ = samples_.front();
    samples_.pop_front();
    converted_ = true;
  }

  uint8_t status_byte() const {
    const int bit = converted_ ? adc_.ready_value : 1 - adc_.ready_value;
    return static_cast<uint8_t>((bit & 1) << adc_.ready_bit);
  }

  static void control_word(CounterGroup& group, uint8_t value) {
    const int select = value >> 6;
    if (select == 3) return;  // read-back command: not modelled
    CounterState& c = group.counters[static_cast<size_t>(select)];
    if (((value >> 4) & 3) == 0) {  // latch command
      c.latched = true;
      c.latch = c.count;
      c.high_next = false;
      return;
    }
    c.mode = (value >> 1) & 7;
    c.low_loaded = false;
  }

  static void load_byte(CounterState& c, uint8_t value) {
    if (!c.low_loaded) {
      c.pending_low = value;
      c.low_loaded = true;
      return;
    }
    c.initial = static_cast<uint16_t>(c.pending_low | (value << 8));
    c.count = c.initial;
    c.low_loaded = false;
  }

  static uint8_t count_byte(CounterState& c) {
    const uint16_t source = c.latched ? c.latch : c.count;
    const auto value = static_cast<uint8_t>(c.high_next ? source >> 8 : source & 0xFF);
    if (c.high_next && c.latched) c.latched = false;
    c.high_next = !c.high_next;
    return value;
  }

  std::map<uint16_t, uint8_t> latches_;
  bool has_adc_ = false;
  AdcPorts adc_;
  std::deque<uint16_t> samples_;
  int failing_conversions_ = 0;
  int conversions_ = 0;
  bool converted_ = false;
  uint16_t result_ = 0;
  bool has_dac_ = false;
  DacPorts dac_;
  std::vector<uint16_t> dac_outputs_;
  std::vector<CounterGroup> counters_;
  std::vector<Access> log_;
};

}  // namespace portbus
