// TCustomDLLObject: the engine as a data-acquisition card driver. It performs each exchange the
// operation machine asks for, by the command's tag type: analog input and output, digital input
// and output, counters; it converts raw register values to engineering values, stores read values
// into the tags of the command, programs the counters at start-up, combines the output bits of one
// port when write commands are built, and traces every port access.
// Implementation files: DLLObj.cpp (construction, start-up, the exchange), DLLObj_registers.cpp
// (register access, counters), DLLObj_ports.cpp (port access and trace), DLLObj_commands.cpp
// (internal tags, commands), DLLObj_scaling.cpp (filtering and scaling).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "card/models.h"
#include "card/port_io.h"
#include "engine/DLLBase.h"
#include "platform/platform.h"

namespace vorel {

// The span of a range name: "+/-10V" is -10..10, "0-5V" is 0..5, a name without either is 0..0.
// `parsed` is false when a number the name calls for is missing ("-5V"); both ends are then 0.
struct RangeSpan {
  double lo = 0;
  double hi = 0;
  bool parsed = true;
};

class TCustomDLLObject : public TBaseDLLObject {
 public:
  explicit TCustomDLLObject(bool first_instance);
  ~TCustomDLLObject() override;

  // ---- overrides of the engine, in slot order
  bool IniParm(const TDeviceParams* block) override;
  std::unique_ptr<TDLLTag> CreatInternalTag(const HostTag& host) override;
  CommandChain CreatCommand(TDLLTag& tag, std::vector<CommandChain>& list, bool is_write) override;
  std::string GetCommandStr(TCommand& command, TDLLTag& tag, bool is_write) override;
  std::string GetAnswerStr(TCommand& command, TDLLTag& tag, bool is_write) override;
  void RealComm(TCommand* command) override;
  bool GetResult() override;
  void Stop() override;

  // ---- operations of the card class, in slot order
  virtual bool Read_AD(int32_t& raw, TCommand& command);                                           // 1
  virtual void Write_DA(uint16_t raw, TCommand& command);                                          // 2
  virtual void Read_DI_Data(int16_t& value, TCommand& command);                                    // 3
  virtual void Write_DO_data(TCommand& command);                                                   // 4
  virtual void Read_Count(int32_t& value, TCommand& command);                                      // 5
  virtual void Write_IniCount(TCommand& command);                                                  // 6
  virtual bool LoadLibs();                                                                         // 7
  virtual bool CardInSystem(int32_t card_no);                                                      // 8
  virtual void DistributeValue(const TVariant& value, TCommand& command, int32_t register_index);  // 9

  // Programs the counters of one card entry (before its presence check).
  void InitCounters(int32_t card_no);

  // The port access in use; tests and the register-bus stand-in replace it. nullptr restores the
  // one chosen for the system (direct instructions on the 9x family, the port component on NT).
  void set_port_io(PortIo* io) { port_io_ = io; }

  // The model table the card entries' ModelCode indexes; tests install a table of their own.
  void use_model_table(const ModelRow* rows, size_t count) {
    model_rows_ = rows;
    model_count_ = count;
  }

 protected:
  void PortWrite(uint16_t port, uint8_t value);
  uint8_t PortRead(uint16_t port);
  static void PortDelay(int32_t count);

  // The model row of a card entry, nullptr when the entry names no model of the table.
  const ModelRow* model_of(int32_t card_no) const;

  // Marks the exchange in progress as failed: no value is stored and GetResult reports no answer.
  void exchange_failed() { ResultFlag = false; }

  platform::LibraryHandle LibHandle = nullptr;
  bool LibLoaded = false;
  platform::LibraryHandle PortLibHandle = nullptr;
  bool ResultFlag = false;  // set by RealComm, cleared by a failed step, read by GetResult

 private:
  PortIo* active_port_io();
  void port_access_failed(std::string_view reason);
  // The two halves of RealComm, and the span of a range (a name without a number is logged).
  void read_exchange(TCommand& c, const ModelRow* model);
  void write_exchange(TCommand& c, const ModelRow* model);
  RangeSpan range_span(const RangeEntry& entry);
  void update_port_image(TDLLTag& tag, int32_t bits_per_register);
  void share_write_image(const TDLLTag& tag, const TCommand& command);

  PortIo* port_io_ = nullptr;               // set by a test, else chosen on first use
  std::unique_ptr<PortIo> system_port_io_;  // the direct or component access chosen
  bool system_port_io_chosen_ = false;
  bool port_failure_logged_ = false;
  uint32_t port_failures_ = 0;
  const ModelRow* model_rows_ = kModelTable.data();
  size_t model_count_ = kModelTable.size();
};

// Last initial count written per card (1..32) and counter channel (0..11); shared by the process.
// Channels outside the table read 0 and keep nothing.
int32_t IniCountTable(int32_t card_no, int32_t channel);
void set_ini_count_table(int32_t card_no, int32_t channel, int32_t value);

// Mean of the samples with the smallest third and the largest third-plus-one dropped; sorts the
// samples. A single sample is its own mean; no samples give 0.
int32_t TrimmedMean(int32_t* samples, int32_t count);

RangeSpan parse_range(std::string_view range_name);

// Full-scale raw word of a converter with this many bits; 0 for a resolution outside 1..16.
int32_t full_scale(int32_t resolution);

// Engineering value of a raw AD word; nullopt when the converter has no usable resolution.
std::optional<float> ScaleAD(const RangeSpan& span, int32_t resolution, int32_t raw);
// Raw DA word of an engineering value, clamped to the converter's scale; nullopt when the range
// has no span or the converter no usable resolution.
std::optional<int32_t> ScaleDA(const RangeSpan& span, int32_t resolution, double value);

}  // namespace vorel
