// The vendor library binding: loading pci7505.dll and its four entry points, the presence check,
// digital input and output through the library, and closing the cards at stop.
#include "card/DLLRealize.h"

#include <atomic>
#include <mutex>

#include "card/DLLObj_detail.h"
#include "platform/platform.h"
#include "support/delphi.h"

namespace vorel {

namespace {

// Names by Entry, in the order the entry points are resolved.
constexpr const char* kEntryNames[] = {"pci7505check", "pci7505di", "pci7505do", "pci7505close"};

std::array<std::atomic<int32_t>, kCardCount + 1> g_card_handles{};  // [1..32]

// How many engines of the process hold each card's handle open. Two devices may use the same
// card from two host threads: the handle is closed when the last of them stops, not the first.
// Never destroyed: the last engines stop at thread detach or unload, after static destructors.
struct CardUsers {
  platform::Mutex mutex;
  std::array<int32_t, kCardCount + 1> count{};  // [1..32]
};

CardUsers& card_users() {
  static CardUsers* users = new CardUsers;
  return *users;
}

}  // namespace

int32_t CardHandles(int32_t card_no) {
  return is_card_number(card_no) ? g_card_handles[card_no].load(std::memory_order_relaxed) : 0;
}

void set_card_handles(int32_t card_no, int32_t handle) {
  if (is_card_number(card_no)) g_card_handles[card_no].store(handle, std::memory_order_relaxed);
}

TDLLObject::TDLLObject(bool first_instance) : TCustomDLLObject(first_instance) {}

TDLLObject::~TDLLObject() {
  // Here the engine is still a TDLLObject, so the stop that runs closes the cards and releases
  // the library even when the owner forgot to call Destroy().
  Destroy();
}

template <class Call>
bool TDLLObject::call_vendor(Entry entry, Call& call) {
  uint32_t code = 0;
  if (platform::call_guarded(call, &code)) return true;
  if (!fault_logged_[entry]) {
    fault_logged_[entry] = true;
    log_line(std::string("：调用厂商硬件驱动库函数") + kEntryNames[entry] + "时出现异常(" +
             IntToHex(code, 8) + ")！");
  }
  return false;
}

bool TDLLObject::LoadLibs() {
  try {
    if (!TCustomDLLObject::LoadLibs()) return false;
    WriteCommEvent(now_text());
    void* found[kEntryCount] = {};
    for (int entry = 0; entry < kEntryCount; ++entry) {
      found[entry] = platform::resolve(LibHandle, kEntryNames[entry]);
      if (!found[entry]) {
        WriteCommEvent(sErrEvent() + "VorelPCI板卡驱动库(PCI-7505.dll)内部错误," + kEntryNames[entry]);
        release_library();  // a library we cannot use is not kept loaded
        return false;
      }
    }
    vendor_ = {reinterpret_cast<CheckFn>(found[kCheckEntry]), reinterpret_cast<InputFn>(found[kInputEntry]),
               reinterpret_cast<OutputFn>(found[kOutputEntry]),
               reinterpret_cast<CloseFn>(found[kCloseEntry])};
    return true;
  } catch (...) {
    if (error_log_on()) log_line("：TDLLObject.LoadLibs异常！");
    if (LibHandle) release_library();
    return false;
  }
}

bool TDLLObject::CardInSystem(int32_t card_no) {
  try {
    int32_t result = 0;
    auto call = [&] { result = vendor_.check(0, 0, 0, card_no); };
    // Without the library bound there is nobody to ask: the card counts as absent.
    const bool answered = vendor_.check && call_vendor(kCheckEntry, call);
    if (!answered && vendor_.check && error_log_on()) log_line("：TDLLObject.CardInSystem异常！");
    keep_card_handle(card_no, answered ? result : 0);
    return answered && result > 0;
  } catch (...) {
    if (error_log_on()) log_line("：TDLLObject.CardInSystem异常！");
    return false;
  }
}

// Only a card whose presence check answered has a handle to call the library with; an exchange
// with any other card is one the card did not answer, never one it took.
bool TDLLObject::holds_card(int32_t card_no) const { return is_card_number(card_no) && opened_[card_no]; }

void TDLLObject::Read_DI_Data(int16_t& value, TCommand& command) {
  if (!holds_card(command.CardNo)) {
    exchange_failed();
    return;
  }
  const int32_t handle = CardHandles(command.CardNo);
  const int32_t port = command.Channel / card_detail::kDigitalLines;
  int32_t result = 0;
  auto call = [&] { result = vendor_.input(handle, 0, port); };
  // A library that is gone or faulted gave no answer: the command times out like a card that
  // did not reply, and the tags keep their values.
  if (!vendor_.input || !call_vendor(kInputEntry, call)) {
    exchange_failed();
    return;
  }
  value = static_cast<int16_t>(result);  // the port is 16 bits wide; anything above is not ours
}

void TDLLObject::Write_DO_data(TCommand& command) {
  if (!holds_card(command.CardNo)) {
    exchange_failed();
    return;
  }
  const int32_t handle = CardHandles(command.CardNo);
  const int32_t port = command.Channel / card_detail::kDigitalLines;
  const int32_t port_value = command.PortValue;
  auto call = [&] { vendor_.output(handle, 0, port, port_value); };
  if (!vendor_.output || !call_vendor(kOutputEntry, call)) exchange_failed();
}

void TDLLObject::release_library() {
  platform::free_library(LibHandle);
  LibHandle = nullptr;
  LibLoaded = false;
  // The entry points pointed into the library just released.
  vendor_ = {};
}

// The presence check's answer for a card. A positive one is a handle this engine now holds; an
// absent card's answer is kept only while no other engine holds the card open, so that a failed
// check here cannot take the card from a device that uses it.
void TDLLObject::keep_card_handle(int32_t card_no, int32_t handle) {
  if (!is_card_number(card_no)) return;
  CardUsers& users = card_users();
  const std::lock_guard<platform::Mutex> lock(users.mutex);
  if (handle > 0) {
    if (!opened_[card_no]) ++users.count[card_no];
    opened_[card_no] = true;
    set_card_handles(card_no, handle);
    return;
  }
  if (opened_[card_no]) {
    opened_[card_no] = false;
    --users.count[card_no];
  }
  if (users.count[card_no] == 0) set_card_handles(card_no, handle);
}

// Gives up this engine's hold on the cards it opened; the last holder of a card closes it. Cards
// whose check failed were never opened and are not closed.
void TDLLObject::close_cards() {
  CardUsers& users = card_users();
  const std::lock_guard<platform::Mutex> lock(users.mutex);
  for (int32_t n = 1; n <= kCardCount; ++n) {
    if (!opened_[n]) continue;
    opened_[n] = false;
    if (--users.count[n] > 0) continue;
    // Without a bound close entry there is nothing to call; calling through it would jump into
    // nowhere.
    if (!vendor_.close) continue;
    const int32_t handle = CardHandles(n);
    auto call = [&] { vendor_.close(handle); };
    call_vendor(kCloseEntry, call);
  }
}

void TDLLObject::Stop() {
  close_cards();
  release_library();
  TCustomDLLObject::Stop();
}

}  // namespace vorel
