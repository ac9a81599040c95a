// TBaseDLLObject: the device-independent driver engine. One per host thread. The header reads as
// the table of contents: virtual operations in slot order, then the engine's state by concern.
// Implementation files: DLLBase_startup.cpp (construction, start-up, tags, stop), DLLBase_link.cpp
// (link state and the internal tags that show it), tag_index.cpp (identifier index),
// DLLBase_log.cpp (run log and reports), DLLBase_address.cpp (tag types and addresses),
// DLLBase_commands.cpp (commands and queues), DLLBase_machine.cpp (operation machine),
// DLLBase_cycle.cpp (refresh, pacing, read and write cycle, report selection).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/DLLTypes.h"
#include "engine/variant.h"
#include "records/pdb.h"

namespace vorel {

// Link state codes of the device (CommState) and of each card (DevLinkState).
enum LinkState : uint8_t {
  kLinkNever = 0,
  kLinkOK = 1,
  kLinkDisturbed = 2,
  kLinkFault = 3,
  kLinkBroken = 4,
  kLinkPaused = 5,
};

// Run status and run events of the operation machine.
enum RunStatusCode : uint8_t {
  kStatusNotInit = 0,
  kStatusInit = 1,
  kStatusSysError = 2,
  kStatusSysErrorToInit = 3,
  kStatusReady = 4,
  kStatusStopping = 5,
  kStatusWaitInit = 6,
  kStatusWaitLink = 7,
  kStatusWaitUnlink = 8,
  kStatusWaitRead = 10,
  kStatusWaitWrite = 11,
  kStatusWaitParm = 12,
};

enum RunEventCode : uint8_t {
  kEventNone = 0,
  kEventInit = 1, kEventInitACK = 2, kEventInitNAK = 3, kEventClrInitError = 4,
  kEventLink = 5, kEventLinkACK = 6, kEventLinkNAK = 7, kEventClrLinkError = 8,
  kEventUnLink = 9, kEventUnLinkACK = 10, kEventUnLinkNAK = 11, kEventClrUnLinkError = 12,
  kEventReadCmd = 13, kEventReadACK = 14, kEventReadNAK = 15, kEventClrReadError = 16,
  kEventWriteCmd = 17, kEventWriteACK = 18, kEventWriteNAK = 19, kEventClrWriteError = 20,
  kEventParmCmd = 21, kEventParmACK = 22, kEventParmNAK = 23, kEventClrParmError = 24,
  kEventStop = 25, kEventStopACK = 26, kEventStopNAK = 27, kEventClrStopError = 28,
};

constexpr uint32_t kAnswerTimeoutMs = 50;
// Event words reported with a tag (TTagValue::TagStatus).
constexpr uint32_t kTagStatusWriteExpired = 0x02000000;
constexpr uint32_t kTagStatusWriteFailed = 0x04000000;
constexpr size_t kMaxPendingWrites = 300;
constexpr uint32_t kWriteExpiryMs = 5000;

// TagID -> position in TagList. Dense for ordinary identifiers; identifiers from kDenseLimit on
// go to a map so that one huge host identifier cannot make the engine allocate gigabytes.
class TagIndex {
 public:
  static constexpr int32_t kDenseLimit = 1 << 18;  // 1 MiB of positions at most
  void set(int32_t tag_id, int32_t position);
  // -1 when the identifier was never registered.
  int32_t find(int32_t tag_id) const {
    if (tag_id >= 0 && static_cast<size_t>(tag_id) < dense_.size()) return dense_[tag_id];
    return find_sparse(tag_id);
  }
  void clear();

 private:
  int32_t find_sparse(int32_t tag_id) const;
  std::vector<int32_t> dense_;
  std::unordered_map<int32_t, int32_t> sparse_;
};

class TBaseDLLObject {
 public:
  explicit TBaseDLLObject(bool first_instance);
  virtual ~TBaseDLLObject();
  TBaseDLLObject(const TBaseDLLObject&) = delete;
  TBaseDLLObject& operator=(const TBaseDLLObject&) = delete;

  // The destruction steps that need the derived classes' overrides (stop, final log rotation).
  // The owner calls it once before deleting the engine.
  void Destroy();

  // ---- virtual operations, in slot order
  virtual bool IniParm(const TDeviceParams* block);                                      // 1
  virtual void Refresh();                                                                // 2
  virtual void OptimizeCommParm();                                                       // 3
  virtual int32_t GetInterval();                                                         // 4
  virtual bool ValidTagValFrm(int32_t form, int32_t kind);                               // 5
  virtual int32_t GetSlotNo(const std::string& tag_name, const std::string& address, uint8_t model);     // 6
  virtual int32_t GetChannelNo(const std::string& tag_name, const std::string& address, uint8_t model);  // 7
  virtual int32_t GetBitNo(const std::string& tag_name, const std::string& address, uint8_t model);      // 8
  virtual std::unique_ptr<TDLLTag> CreatInternalTag(const HostTag& host);                // 9
  virtual std::string GetTagTypeStr(const std::string& address);                          // 10
  virtual void CheckAddrValid(std::unique_ptr<TDLLTag>& tag);                            // 11
  virtual void SyncTagValue(TCommand& command);                                          // 12
  virtual CommandChain CreatCommand(TDLLTag& tag, std::vector<CommandChain>& list, bool is_write);  // 13
  virtual bool NeedCreatCommand(std::vector<CommandChain>& list, TDLLTag& tag, bool is_write);     // 14
  virtual std::string GetCommandStr(TCommand& command, TDLLTag& tag, bool is_write);     // 15
  virtual std::string GetAnswerStr(TCommand& command, TDLLTag& tag, bool is_write);      // 16
  virtual void RealComm(TCommand* command);                                              // 17
  virtual void FreeCommand(CommandChain& head);                                          // 18
  virtual bool GetResult();                                                              // 19
  virtual void GetRunEvent();                                                            // 20
  virtual void SwitchRunStatus();                                                        // 21
  virtual void UpdateLinkState();                                                        // 22
  virtual void opSystemError_Exec();                                                     // 23
  virtual void opInit_Exec();                                                            // 24
  virtual void opInitACK_Exec();
  virtual void opInitNAK_Exec();
  virtual void opClrInitError_Exec();
  virtual void opStop_Exec();                                                            // 28
  virtual void opStopACK_Exec();
  virtual void opStopNAK_Exec();
  virtual void opClrStopError_Exec();
  virtual void opLink_Exec();                                                            // 32
  virtual void opLinkACK_Exec();
  virtual void opLinkNAK_Exec();
  virtual void opClrLinkError_Exec();
  virtual void opUnLink_Exec();                                                          // 36
  virtual void opUnLinkACK_Exec();
  virtual void opUnLinkNAK_Exec();
  virtual void opClrUnLinkError_Exec();
  virtual void opReadCmd_Exec();                                                         // 40
  virtual void opReadACK_Exec();
  virtual void opReadNAK_Exec();
  virtual void opClrReadError_Exec();
  virtual void opWriteCmd_Exec();                                                        // 44
  virtual void opWriteACK_Exec();
  virtual void opWriteNAK_Exec();
  virtual void opClrWriteError_Exec();
  virtual void opParmCmd_Exec();                                                         // 48
  virtual void opParmACK_Exec();
  virtual void opParmNAK_Exec();
  virtual void opClrParmError_Exec();
  virtual void opClrSystemError_Exec();                                                  // 52
  virtual void GetWriteCommand();                                                        // 53
  virtual void GetReadCommand();                                                         // 54
  virtual void GetCommandNext();                                                         // 55
  virtual void RotateLog();                                                              // 56
  virtual void WriteCommEvent(const std::string& text);                                  // 57
  virtual void WriteDevMsg(const std::string& text);                                     // 58
  virtual void AppendLog(std::string_view text);                                         // 59
  virtual void WriteEnLog(bool value);                                                   // 60
  virtual void WriteCommLinkOK(bool value);                                              // 61
  virtual void WriteCommEnabled(bool value);                                             // 62
  virtual bool IniDLLObj(const TDeviceParams* block, const std::vector<HostTag>& tags);   // 63
  virtual bool WriteExecute(int32_t tag_id, const TVariant& value);                      // 64
  virtual bool ReadExecute();                                                            // 65
  virtual bool ReadExecuteEx();                                                          // 66
  virtual void Stop();                                                                   // 67
  virtual bool CheckTagAddr(const TDeviceParams* block, std::string& address);           // 68
  virtual int32_t AddTagLists(const std::vector<HostTag>& tags, int32_t* results);       // 69

  // ---- non-virtual operations
  int32_t GetTagTypeIndex(const std::string& address);
  int32_t GetCardNo(const std::string& tag_name, const std::string& address);
  bool IniTagList(const std::vector<HostTag>& tags);

  // ---- published properties
  const std::string& sErrEvent() const { return sErrEvent_; }
  int32_t TagCount() const { return TagCount_; }
  int32_t ScanTime() const { return ScanTime_; }
  bool FirstInstance() const { return FirstInstance_; }
  const std::string& DevMsg() const { return DevMsg_; }
  bool EnLog() const { return EnLog_; }

  // ---- what the boundary reads
  void set_host_event(uint32_t handle) { HostEvent = handle; }
  // The registered tag with this host identifier, or nullptr.
  TDLLTag* find_tag(int32_t tag_id);
  const std::vector<std::unique_ptr<TDLLTag>>& tags() const { return TagList; }
  const TDeviceParams& parameters() const { return Params; }

  // ---- what the test dialog reads
  // The device's link state (CommState): kLinkOK once an exchange with a card has been answered.
  uint8_t link_state() const { return CommState; }
  bool communication_enabled() const { return CommEnabled; }
  const std::vector<CommandChain>& read_commands() const { return CmdList; }
  // The command in flight, or the one the next step sends; nullptr between chains.
  TCommand* current_command() const { return CurCmd; }

  // Report selection of one host poll: for each of the first TagCount tags that is due (now minus
  // LastReport above ScanPeriod) and still counting down its start-up reports, changed since its
  // last report, or carrying an event word, calls emit(tag) after marking it reported. emit fills
  // the host record (it may read TagStatus, which is cleared afterwards). Returns the count.
  template <class Emit>
  int32_t report_due_tags(uint32_t now, Emit&& emit) {
    int32_t count = 0;
    const size_t n = std::min(TagList.size(), static_cast<size_t>(TagCount_ < 0 ? 0 : TagCount_));
    const std::unique_ptr<TDLLTag>* tags = TagList.data();  // emit() cannot change the list
    constexpr size_t kAhead = 8;  // ask for the tags a few steps ahead while this one is examined
    for (size_t i = 0; i < n; ++i) {
      if (i + kAhead < n) __builtin_prefetch(tags[i + kAhead].get());
      TDLLTag& tag = *tags[i];
      if (static_cast<uint32_t>(now - tag.LastReport) <= tag.ScanPeriod) continue;
      if (tag.Countdown >= 0) {
        --tag.Countdown;
      } else if (tag.Value == tag.Reported && tag.TagStatus == 0) {
        continue;
      }
      tag.Reported = tag.Value;
      tag.LastReport = now;
      emit(tag);
      tag.TagStatus = 0;
      ++count;
    }
    return count;
  }

 protected:
  // ---- helpers shared by the concerns
  // "<time text>：TBaseDLLObject.<method>异常！\r\n" when the ErrorLog switch is on.
  void log_exception(std::string_view method);
  // "<time text>" + text + "\r\n"
  void log_line(std::string_view text);
  bool error_log_on() const { return Params.ErrorLog != 0; }
  bool trace_log_on() const { return Params.TraceLog != 0; }
  bool debug_on() const { return Params.DebugSwitch != 0; }
  // The fields every command for one tag has; the card object adds its own after them.
  void fill_command(TCommand& command, TDLLTag& tag, bool is_write);
  // Card entry n of the engine's block, nullptr outside 1..32.
  const TCardParams* card_entry(int32_t n) const { return Params.card(n); }
  // Model code of card n; 1 ("no card") for a number outside the block.
  uint8_t model_code_of(const TDeviceParams& block, int32_t n) const;
  TDLLTag* tag_at(int32_t position) {
    return position >= 0 && static_cast<size_t>(position) < TagList.size() ? TagList[position].get() : nullptr;
  }
  // The value an internal link tag shows.
  std::string link_text(uint8_t state) const;

  // ---- start-up and lifecycle (DLLBase_startup.cpp)
  bool FirstInstance_;
  bool ParamsLoaded = false;
  int32_t ScanTime_ = 500;
  int32_t TagCount_ = 0;
  bool Running = false;
  bool Stopped = false;
  bool Destroyed = false;
  alignas(8) TDeviceParams Params{};
  int32_t DefaultCardNo = 0;
  uint32_t HostEvent = 0;
  std::vector<std::unique_ptr<TDLLTag>> TagList;
  TagIndex IndexArray;
  // Fresh, empty lists for a registration that starts the engine running.
  void start_running();
  // Drops the tag list and every command and write made for it.
  void drop_lists();
  // Starts an engine that is not running again; false (logged) when its block no longer loads.
  bool restart();
  // Adds a prepared tag to the list and the index; false (logged) for an identifier or a value
  // type the host cannot use.
  bool register_tag(std::unique_ptr<TDLLTag> tag);
  // An internal tag gets its keyword as type and its first value; any other its address checked.
  void prepare_tag(std::unique_ptr<TDLLTag>& tag, const HostTag& host);
  // Recognises the internal tags by keyword and sets what each stands for; the card it names.
  int32_t mark_internal_tag(TDLLTag& tag, const std::string& host_upper);
  // "设备加载失败！" with the pending event text before it.
  void log_load_failure();
  // The operation machine as on a new engine, with the start event pending.
  void post_start_event();
  // The internal tags of TagList, found again whenever the list has changed.
  const std::vector<TDLLTag*>& internal_tags();
  std::vector<TDLLTag*> InternalTagsCache;
  const void* InternalTagsOf = nullptr;
  size_t InternalTagsCount = 0;
  // The link state the internal tags were last given; their values follow from it alone, so an
  // unchanged state (most polls) rebuilds no text. Forgotten whenever the tag list changes.
  struct LinkShown {
    uint8_t comm_state;
    bool link_ok, enabled;
    std::array<uint8_t, kCardCount + 1> cards;
    bool operator==(const LinkShown&) const = default;
  };
  std::optional<LinkShown> ShownLink;
  // The link state when communication was switched off; a resume returns to it.
  std::optional<LinkShown> StateBeforePause;
  void apply_internal_value(TDLLTag& tag, int32_t card);

  // ---- link state (DLLBase_link.cpp)
  bool CommLinkOK = false;
  bool CommEnabled = true;
  uint8_t CommState = kLinkNever;
  std::array<uint8_t, kCardCount + 1> DevLinkState{};  // [1..32], kLinkNever at the start
  static_assert(kLinkNever == 0, "DevLinkState's initializer starts every card as never linked");
  std::array<int32_t, kCardCount + 1> DevFailCount{};  // [1..32], -1 = never succeeded
  // The card of the last exchange the machine handled, until UpdateLinkState has applied its
  // outcome (CommLinkOK says which) once: the link counts exchanges, not host polls (a step may
  // run UpdateLinkState several times).
  std::optional<int32_t> PendingOutcomeCard;
  void note_link_outcome();
  // Steps of UpdateLinkState. A pause shows every card paused; an outcome returns the card whose
  // link tags may have to change.
  void show_pause();
  int32_t apply_pending_outcome();
  uint8_t card_link_state(int32_t card) const;
  void refresh_link_tags(int32_t card, bool resumed);

  // ---- run log and statistics (DLLBase_log.cpp)
  std::string sErrEvent_;
  std::string DevMsg_;
  bool EnLog_ = true;
  bool EnLogTag = false;
  bool StartReportOK = false;
  uint32_t StartTick = 0;
  uint32_t StopTick = 0;
  int32_t ReadCommTotal = 0;
  int32_t WriteCommTotal = 0;
  double ReadTimeouts = 0;
  double WriteTimeouts = 0;
  uint32_t ReadFailTotal = 0;
  uint32_t WriteFailTotal = 0;
  double FastestScan = 0, SlowestScan = 0, AverageScan = 0;
  bool ScanFigures = false;  // the three scan periods exist once the read pace was computed
  void write_start_report();
  void write_tag_statistics();  // the per-tag lines of the stop report
  void write_stop_totals();     // totals and closing lines of the stop report
  void write_run_time_line();   // memory lines and the run time

  // ---- commands and queues (DLLBase_commands.cpp)
  std::vector<CommandChain> CmdList;        // read chains
  std::deque<CommandChain> PendingWrites;   // write chains, oldest first
  CommandChain ActiveWrite;                 // the write chain taken from the queue, while it runs
  TCommand* CurCmd = nullptr;
  TCommand* CurHead = nullptr;
  int32_t WriteQuota = 0;
  int32_t StaleWrites = 0;
  int32_t ReadIndex = 0;
  int32_t CycleMark = 0;
  int32_t WriteLogBudget = 1000;
  // Frees the chain that CurHead (else CurCmd) belongs to, wherever it is held.
  void free_current_chain();
  std::string value_log_text(const TVariant& value) const;

  // ---- operation machine (DLLBase_machine.cpp)
  RunStatusCode RunStatus = kStatusNotInit;
  RunEventCode RunEvent = kEventNone;
  uint32_t SentTick = 0;
  // The answer handlers trace the sent and received texts; engines whose exchanges have no
  // protocol texts (the card engines) switch it off.
  bool ProtocolTrace = true;
  void set_status(RunStatusCode status);  // RunEvent := 0, RunStatus := status, ReadExecute
  template <typename Body>
  void run_handler(std::string_view name, Body&& body);
  void log_answer_lines(std::string_view what_executed, std::string_view what_expected);
  bool no_current_command();
  void continue_chain(bool writing);
  void answered(bool writing);
  void timed_out(bool writing);

  // ---- read and write cycle (DLLBase_cycle.cpp)
  int32_t LastCycleMs = 0;
  uint32_t LastCycleTick = 0;
  void update_cycle_statistics();
  void expire_queued_writes();
  void drop_write(CommandChain& chain);
  // Steps of WriteExecute: the engine's own switches (no value when the tag is none of them), a
  // device output's write queued, and a refusal logged.
  std::optional<bool> write_engine_switch(TDLLTag& tag, const TVariant& value);
  bool queue_output_write(TDLLTag& tag, const TVariant& value);
  bool refuse_write(const TDLLTag& tag, std::string_view reason);
};

}  // namespace vorel
