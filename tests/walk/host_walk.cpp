#include "tests/walk/host_walk.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "card/DLLRealize.h"
#include "engine/tag_types.h"
#include "interface/engine_adapter.h"
#include "interface/exports.h"
#include "interface/module.h"
#include "interface/seams.h"
#include "tests/common/host_records.h"
#include "tests/common/sim_bank.h"

namespace walk {

using namespace vorel;
using testing_support::host_record;
using testing_support::number_value;
using testing_support::switch_value;

namespace {

// The driver's own engine, with the state the checks read made visible.
class WalkEngine : public TDLLObject {
 public:
  using TBaseDLLObject::ActiveWrite, TBaseDLLObject::CmdList, TBaseDLLObject::CommEnabled,
      TBaseDLLObject::PendingWrites, TBaseDLLObject::RunStatus, TBaseDLLObject::Running,
      TBaseDLLObject::SentTick, TBaseDLLObject::TagList, TDLLObject::holds_card;
  using TDLLObject::TDLLObject;
};

std::unique_ptr<DriverEngine> MakeWalkEngine(bool first_instance) {
  return std::make_unique<EngineAdapter>(std::make_unique<WalkEngine>(first_instance));
}

WalkEngine* CurrentWalkEngine() {
  auto* adapter = dynamic_cast<EngineAdapter*>(module::current_engine());
  return adapter ? dynamic_cast<WalkEngine*>(&adapter->engine()) : nullptr;
}

struct Candidate {
  const char* address;
  uint8_t type;
};

// The tags a host project of this walk may hold. Outputs and link tags are due at every poll, so
// their reports follow each change.
constexpr Candidate kCandidates[] = {
    {"DI1:0,0.0", 1},    {"DI1:0,1.0", 1},    {"DI1:0,9.0", 1},  {"DI2:0,3.0", 1},
    {"DO1:0,0.0", 1},    {"DO1:0,1.0", 1},    {"DO1:0,9.0", 1},  {"DO2:0,3.0", 1},
    {"COMMLINK", 2},     {"COMMLINK:", 0},    {"ENCOMMLINK", 0}, {"ENCOMMLINK1", 1},
    {"DEVICELINK1:", 0}, {"DEVICELINK2:", 2}, {"ENLOG", 1},      {"nonsense", 1},
};
constexpr int32_t kIdUniverse = 24;  // identifiers are drawn below this, so lists reuse them
constexpr int32_t kOddIds[] = {-1, -7, 100000, 1 << 20};
constexpr size_t kRoom = 64;      // records one poll may fill
constexpr size_t kMostTags = 48;  // AddTags stops adding beyond this
constexpr uint32_t kFailureWords = kTagStatusWriteExpired | kTagStatusWriteFailed;

TTagValue Value(int32_t id, uint8_t type, double number) {
  return type == 0 ? number_value(id, number) : switch_value(id, number != 0);
}

}  // namespace

struct HostWalk::Impl {
  Impl(Choices& c, MemoryHooks m, Figures& f) : choices(c), memory(std::move(m)), figures(f) {}

  Choices& choices;
  MemoryHooks memory;
  Figures& figures;
  platform::ManualClock clock{100000};
  platform::ScopedClock use_clock{clock};
  testing_support::SimBank bank;
  TDeviceParams block{};
  std::set<int32_t> registered;  // identifiers the running tag list registered
  struct Pending {
    int32_t id;  // the tag the write was addressed to
    bool on;
    bool reported;
  };
  // The last accepted write of each output point, by card and channel (tags may share a point:
  // the last write to it wins).
  std::map<std::pair<int32_t, int32_t>, Pending> outstanding;
  std::vector<TTagValue> values = std::vector<TTagValue>(kRoom);
  std::deque<std::string> trace;
  int64_t baseline_strings = 0;
  int64_t baseline_blocks = 0;
  bool present[3] = {false, true, true};
  bool check_faulted = false;  // a fault of the presence check may still be armed

  // ---- helpers

  uint32_t below(uint32_t bound) { return choices.below(bound); }

  void Note(std::string what) {
    trace.push_back(std::move(what));
    if (trace.size() > 24) trace.pop_front();
  }

  std::string Broken(const std::string& what) const {
    std::string text = what + "\n  after:";
    for (const std::string& t : trace) text += "\n    " + t;
    return text;
  }

  // Everything the walk asks of the driver runs between these, so that the heap hook counts the
  // driver's blocks and not the walk's.
  struct DriverCall {
    explicit DriverCall(const MemoryHooks& m) : hooks(m) {
      if (hooks.driver_calls) hooks.driver_calls(true);
    }
    ~DriverCall() {
      if (hooks.driver_calls) hooks.driver_calls(false);
    }
    const MemoryHooks& hooks;
  };

  void Release(char*& text) {
    if (text) memory.release(text);
    text = nullptr;
  }

  std::vector<TTagInfo> PickTags(bool avoid_registered) {
    const uint32_t n = 1 + below(6);
    std::vector<TTagInfo> records;
    std::set<int32_t> used = avoid_registered ? registered : std::set<int32_t>{};
    for (uint32_t i = 0; i < n; ++i) {
      int32_t id = static_cast<int32_t>(below(kIdUniverse));
      for (int tries = 0; used.count(id) && tries < kIdUniverse; ++tries) id = (id + 1) % kIdUniverse;
      if (used.count(id)) break;
      used.insert(id);
      const Candidate& c = kCandidates[below(std::size(kCandidates))];
      const bool due_always = c.address[1] == 'O' || c.type == 2 || std::strstr(c.address, "LINK");
      records.push_back(host_record(id, c.address, c.type, due_always ? 0 : 10 * below(20)));
    }
    return records;
  }

  // The identifiers the engine answers to are exactly the registered ones.
  std::optional<std::string> CheckIdentifiers() {
    WalkEngine* e = CurrentWalkEngine();
    const auto check = [&](int32_t id) -> std::optional<std::string> {
      const bool found = e && e->find_tag(id) != nullptr;
      if (found != (registered.count(id) != 0))
        return Broken(
            "TagID " + std::to_string(id) +
            (found ? " reaches a tag it was not registered for" : " lost the tag it was registered for"));
      return std::nullopt;
    };
    for (int32_t id = 0; id < kIdUniverse; ++id)
      if (auto broken = check(id)) return broken;
    for (int32_t id : kOddIds)
      if (auto broken = check(id)) return broken;
    return std::nullopt;
  }

  // A running, enabled engine is never left waiting beyond the answer time-out.
  std::optional<std::string> CheckNotStuck() {
    WalkEngine* e = CurrentWalkEngine();
    if (!e || !e->Running || !e->CommEnabled) return std::nullopt;
    const uint8_t s = e->RunStatus;
    if (s != kStatusReady && s != kStatusWaitRead && s != kStatusWaitWrite)
      return Broken("a running engine stays in run status " + std::to_string(s));
    const uint32_t waited = clock.ticks() - e->SentTick;
    if (s != kStatusReady && waited > kAnswerTimeoutMs)
      return Broken("waiting " + std::to_string(waited) + " ms for an answer");
    return std::nullopt;
  }

  // A start that left the engine running has checked and opened every card that is there.
  std::optional<std::string> CheckCardsHeld() {
    WalkEngine* e = CurrentWalkEngine();
    if (!e || !e->Running || check_faulted) return std::nullopt;
    for (int32_t card = 1; card <= 2; ++card)
      if (present[card] && !e->holds_card(card))
        return Broken("a started engine does not hold card " + std::to_string(card) + ", which is there");
    return std::nullopt;
  }

  std::optional<std::string> CheckAlways() {
    if (bank.bad_calls() != 0)
      return Broken("the vendor library was called with a closed or absent card's handle");
    if (memory.live_strings && memory.live_strings() != baseline_strings)
      return Broken("host strings outstanding: " + std::to_string(memory.live_strings() - baseline_strings));
    return std::nullopt;
  }

  // ---- host operations

  std::optional<std::string> Start() {
    std::vector<TTagInfo> records = PickTags(false);
    std::vector<TTagInfo*> pointers;
    for (auto& r : records) pointers.push_back(&r);
    char* message = nullptr;
    bool ok;
    {
      DriverCall call(memory);
      ok = IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), &block, &message) != 0;
    }
    Release(message);
    Note("IniDriver " + std::to_string(records.size()) + " tags -> " + std::to_string(ok));
    ++figures.starts;
    outstanding.clear();  // the replaced engine's writes ended with it
    registered.clear();
    if (WalkEngine* e = CurrentWalkEngine(); e && e->Running)
      for (const auto& tag : e->tags()) registered.insert(tag->TagID);
    if (ok != !registered.empty()) return Broken("IniDriver's result disagrees with its tag list");
    if (auto broken = CheckCardsHeld()) return broken;
    return CheckIdentifiers();
  }

  std::optional<std::string> Add() {
    WalkEngine* before = CurrentWalkEngine();
    const bool was_running = before && before->Running;
    if (was_running && before->tags().size() + 6 > kMostTags) return std::nullopt;
    std::vector<TTagInfo> records = PickTags(was_running);
    std::vector<TTagInfo*> pointers;
    for (auto& r : records) pointers.push_back(&r);
    std::vector<int32_t> results(records.size(), 9);
    int32_t result;
    {
      DriverCall call(memory);
      result = AddTags(static_cast<uint16_t>(pointers.size()), pointers.data(), results.data());
    }
    Note("AddTags " + std::to_string(records.size()) + " tags on a " + (was_running ? "running" : "stopped") +
         " engine -> " + std::to_string(result));
    if (!was_running) {
      registered.clear();
      ++figures.restarts;
    }
    WalkEngine* e = CurrentWalkEngine();
    if (e && e->Running) {
      for (size_t i = 0; i < records.size(); ++i)
        if (results[i] == 0) registered.insert(records[i].TagID);
    } else {
      registered.clear();
    }
    if (e && std::any_of(results.begin(), results.end(), [](int32_t r) { return r != 0 && r != 1; }))
      return Broken("AddTags left a result slot unfilled");
    if (auto broken = was_running ? std::nullopt : CheckCardsHeld()) return broken;
    return CheckIdentifiers();
  }

  std::optional<std::string> Free() {
    {
      DriverCall call(memory);
      FreeDriver();
    }
    Note("FreeDriver");
    ++figures.stops;
    outstanding.clear();
    registered.clear();
    if (WalkEngine* e = CurrentWalkEngine()) {
      if (e->Running || !e->tags().empty() || !e->CmdList.empty() || !e->PendingWrites.empty() ||
          e->ActiveWrite)
        return Broken("a stopped engine still holds tags, commands or writes");
    }
    return CheckIdentifiers();
  }

  std::optional<std::string> EndThread() {
    {
      DriverCall call(memory);
      module::destroy_current_engine();
    }
    Note("thread ends");
    outstanding.clear();
    registered.clear();
    if (memory.live_driver_blocks && memory.live_driver_blocks() != baseline_blocks)
      return Broken("the driver holds " + std::to_string(memory.live_driver_blocks() - baseline_blocks) +
                    " heap blocks more than before its engine was started");
    return std::nullopt;
  }

  uint32_t PollGap() {
    const uint32_t kind = below(10);
    if (kind < 7) return 10;
    if (kind < 9) return below(61);
    return below(6001);
  }

  std::optional<std::string> Poll(uint32_t ms) {
    clock.advance(ms);
    int32_t count = 0;
    char* message = nullptr;
    {
      DriverCall call(memory);
      OnDataRead(&count, values.data(), &message);
    }
    Release(message);
    ++figures.polls;
    for (int32_t i = 0; i < count; ++i) {
      TTagValue& v = values[static_cast<size_t>(i)];
      if (v.ValueType == 2) {
        char* text;
        std::memcpy(&text, v.Value, sizeof text);
        Release(text);
      }
      if ((v.TagStatus & kFailureWords) == 0) continue;
      ++figures.failure_reports;
      Note("failure reported for " + std::to_string(v.TagID));
      for (auto& [point, pending] : outstanding)
        if (pending.id == v.TagID) pending.reported = true;
    }
    return CheckNotStuck();
  }

  // An output of the running tag list, by identifier; 0 when none.
  std::vector<int32_t> Outputs() {
    std::vector<int32_t> ids;
    if (WalkEngine* e = CurrentWalkEngine())
      for (int32_t id : registered)
        if (const TDLLTag* tag = e->find_tag(id); tag && tag->TypeIndex == kTypeDO && tag->ValueType == 1)
          ids.push_back(id);
    return ids;
  }

  std::optional<std::string> WriteOutput() {
    const std::vector<int32_t> outputs = Outputs();
    if (outputs.empty()) return std::nullopt;
    const int32_t id = outputs[below(static_cast<uint32_t>(outputs.size()))];
    const bool on = below(2) != 0;
    TTagValue v = Value(id, 1, on);
    bool accepted;
    const bool by_write_tags = below(3) == 0;
    {
      DriverCall call(memory);
      if (by_write_tags) {
        accepted = WriteTags(1, &v, 0) == 0;
      } else {
        char* message = nullptr;
        accepted = OnDataWrite(1, &v, &message) != 0;
        Release(message);
      }
    }
    Note(std::string(by_write_tags ? "WriteTags" : "OnDataWrite") + " output " + std::to_string(id) +
         " := " + std::to_string(on) + " -> " + (accepted ? "accepted" : "refused"));
    if (accepted) {
      const TDLLTag* tag = CurrentWalkEngine()->find_tag(id);
      outstanding[{tag->CardNo, tag->Channel}] = Pending{id, on, false};
      ++figures.accepted_writes;
    }
    return std::nullopt;
  }

  // Records for identifiers nobody registered: skipped, and nothing changes.
  std::optional<std::string> WriteUnregistered() {
    std::vector<TTagValue> records;
    const uint32_t n = 1 + below(3);
    for (uint32_t i = 0; i < n; ++i) {
      int32_t id = below(2) ? static_cast<int32_t>(below(kIdUniverse)) : kOddIds[below(std::size(kOddIds))];
      if (registered.count(id)) continue;
      records.push_back(Value(id, static_cast<uint8_t>(below(2)), below(2)));
    }
    if (records.empty()) return std::nullopt;
    WalkEngine* e = CurrentWalkEngine();
    const size_t queued = e ? e->PendingWrites.size() : 0;
    std::vector<TVariant> before;
    if (e)
      for (const auto& tag : e->tags()) before.push_back(tag->Value);
    bool any;
    const bool by_write_tags = below(2) != 0;
    {
      DriverCall call(memory);
      char* message = nullptr;
      any = by_write_tags ? WriteTags(static_cast<uint16_t>(records.size()), records.data(), 0) != 0
                          : OnDataWrite(static_cast<int32_t>(records.size()), records.data(), &message) != 0;
      Release(message);
    }
    Note("write to " + std::to_string(records.size()) + " unregistered identifiers");
    // WriteTags answers 1 on a thread without an engine; otherwise nothing was attempted.
    if (any != (by_write_tags && !e)) return Broken("a write to an unregistered identifier was attempted");
    if (e && e->PendingWrites.size() != queued)
      return Broken("a write to an unregistered identifier was queued");
    for (size_t i = 0; e && i < before.size(); ++i)
      if (!(e->tags()[i]->Value == before[i]))
        return Broken("a write to an unregistered identifier changed a tag");
    return std::nullopt;
  }

  std::optional<std::string> read() {
    int32_t ids[3];
    const uint16_t n = static_cast<uint16_t>(1 + below(3));
    for (uint16_t i = 0; i < n; ++i) ids[i] = static_cast<int32_t>(below(kIdUniverse));
    clock.advance(below(30));
    {
      DriverCall call(memory);
      ReadTags(n, ids, 0);
    }
    Note("ReadTags");
    return CheckNotStuck();
  }

  // ENCOMMLINK through the host: pause or resume all device traffic.
  std::optional<std::string> Switch(bool on) {
    WalkEngine* e = CurrentWalkEngine();
    if (!e) return std::nullopt;
    for (int32_t id : registered) {
      const TDLLTag* tag = e->find_tag(id);
      if (!tag || tag->TypeStr != "ENCOMMLINK") continue;
      TTagValue v = Value(id, tag->ValueType, on);
      {
        DriverCall call(memory);
        WriteTags(1, &v, 0);
      }
      Note(on ? "resume" : "pause");
      break;
    }
    return std::nullopt;
  }

  void Fault() {
    static constexpr sim7505::Entry kEntries[] = {sim7505::kCheck, sim7505::kInput, sim7505::kOutput,
                                                  sim7505::kClose};
    const sim7505::Entry entry = kEntries[below(4)];
    // A refusing output call still answers, and the driver ignores its answer by contract: only
    // the faults it can see are injected there.
    static constexpr sim7505::FaultMode kModes[] = {sim7505::kBehave, sim7505::kFail, sim7505::kGarbage,
                                                    sim7505::kAccessViolation};
    sim7505::FaultMode mode = kModes[below(4)];
    if (entry == sim7505::kOutput && mode == sim7505::kFail) mode = sim7505::kAccessViolation;
    bank.fault(entry, mode, static_cast<int32_t>(below(4)));
    if (entry == sim7505::kCheck) check_faulted = mode != sim7505::kBehave;
    Note("card fault " + std::to_string(entry) + ":" + std::to_string(mode));
    ++figures.faults;
  }

  void Behave() {
    for (sim7505::Entry entry : {sim7505::kCheck, sim7505::kInput, sim7505::kOutput, sim7505::kClose})
      bank.fault(entry, sim7505::kBehave);
    check_faulted = false;
  }

  // Cards come and go only while no engine holds them.
  void Presence() {
    WalkEngine* e = CurrentWalkEngine();
    if (e && e->Running) return;
    const int32_t card = 1 + static_cast<int32_t>(below(2));
    present[card] = below(4) != 0;
    bank.present(card, present[card]);
    Note("card " + std::to_string(card) + (present[card] ? " present" : " absent"));
  }

  // The card behaves; the queued writes run out; each accepted write shows on the card or was
  // reported failed; and an engine with a card to read keeps reading it.
  std::optional<std::string> Settle() {
    ++figures.settles;
    Behave();
    Note("settle");
    WalkEngine* e = CurrentWalkEngine();
    if (!e || !e->Running) {
      outstanding.clear();
      return std::nullopt;
    }
    if (!e->CommEnabled) Switch(true);
    if (!e->CommEnabled) {  // paused with no switch to resume it: the writes wait, as the host asked
      outstanding.clear();
      return std::nullopt;
    }
    for (int i = 0; i < 2000 && (!e->PendingWrites.empty() || e->ActiveWrite); ++i)
      if (auto broken = Poll(10)) return broken;
    for (int i = 0; i < 3; ++i)
      if (auto broken = Poll(10)) return broken;
    if (!e->PendingWrites.empty() || e->ActiveWrite) return Broken("writes still queued after 20 s of polls");
    for (const auto& [point, pending] : outstanding) {
      const auto [card, channel] = point;
      const bool on = ((bank.output(card, channel / 8) >> (channel % 8)) & 1) != 0;
      if (on != pending.on && !pending.reported)
        return Broken("the write of " + std::string(pending.on ? "on" : "off") + " to output " +
                      std::to_string(pending.id) + " neither reached the card nor was reported failed");
    }
    outstanding.clear();

    const bool has_input = std::any_of(e->CmdList.begin(), e->CmdList.end(), [&](const CommandChain& c) {
      return c->TypeIndex == kTypeDI && e->holds_card(c->CardNo);
    });
    if (!has_input || !e->CommEnabled) return std::nullopt;
    const int32_t reads = bank.calls(sim7505::kInput);
    for (int i = 0; i < 50 && bank.calls(sim7505::kInput) == reads; ++i)
      if (auto broken = Poll(10)) return broken;
    if (bank.calls(sim7505::kInput) == reads) return Broken("a running engine no longer reads its card");
    return std::nullopt;
  }

  std::optional<std::string> Step() {
    const uint32_t roll = below(100);
    std::optional<std::string> broken;
    if (roll < 3) {
      broken = Start();
    } else if (roll < 7) {
      broken = Add();
    } else if (roll < 10) {
      broken = Free();
    } else if (roll < 11) {
      broken = EndThread();
    } else if (roll < 55) {
      broken = Poll(PollGap());
    } else if (roll < 70) {
      broken = WriteOutput();
    } else if (roll < 75) {
      broken = WriteUnregistered();
    } else if (roll < 79) {
      broken = read();
    } else if (roll < 83) {
      broken = Switch(below(2) != 0);
    } else if (roll < 88) {
      Fault();
    } else if (roll < 91) {
      bank.input(1 + static_cast<int32_t>(below(2)), static_cast<int32_t>(below(2)),
                 static_cast<int32_t>(below(0x10000)));
    } else if (roll < 93) {
      Presence();
    } else if (roll < 95) {
      broken = Settle();
    } else {
      broken = Poll(10);
    }
    if (broken) return broken;
    return CheckAlways();
  }

  // Start, poll, write, add and stop once, so that what the driver allocates once per process is
  // in the baseline.
  void WarmUp() {
    std::vector<TTagInfo> records;
    int32_t id = 0;
    for (const Candidate& c : kCandidates) records.push_back(host_record(id++, c.address, c.type, 0));
    std::vector<TTagInfo*> pointers;
    for (auto& r : records) pointers.push_back(&r);
    {
      DriverCall call(memory);
      char* message = nullptr;
      IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), &block, &message);
      Release(message);
      TTagValue v = Value(4, 1, 1);
      WriteTags(1, &v, 0);
    }
    for (int i = 0; i < 20; ++i) Poll(10);
    {
      DriverCall call(memory);
      int32_t results[2];
      AddTags(2, pointers.data(), results);
      FreeDriver();
      module::destroy_current_engine();
    }
  }
};

HostWalk::HostWalk(Choices& choices, MemoryHooks memory)
    : impl_(std::make_unique<Impl>(choices, std::move(memory), figures_)) {
  Impl& w = *impl_;
  set_engine_factory(&MakeWalkEngine);
  module::destroy_current_engine();
  vorel::FullPDB(&w.block);
  w.block.card(2)->ModelCode = kModelPci7505;
  set_model_name(*w.block.card(2), "PCI_7505");
  if (w.memory.live_driver_blocks) w.WarmUp();
  w.bank.present(1, true);
  w.bank.present(2, true);
  w.baseline_blocks = w.memory.live_driver_blocks ? w.memory.live_driver_blocks() : 0;
  w.baseline_strings = w.memory.live_strings ? w.memory.live_strings() : 0;
}

HostWalk::~HostWalk() {
  impl_->Behave();
  module::destroy_current_engine();
  set_engine_factory(nullptr);
}

std::optional<std::string> HostWalk::Step() {
  ++figures_.steps;
  return impl_->Step();
}

std::optional<std::string> HostWalk::Finish() {
  if (auto broken = impl_->Settle()) return broken;
  if (auto broken = impl_->EndThread()) return broken;
  return impl_->CheckAlways();
}

}  // namespace walk
