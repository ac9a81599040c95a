// Stand-in for the card vendor's pci7505.dll: the four entry points the driver binds, in the
// standard calling convention with 32-bit arguments, over a bank of 32 simulated cards, plus the
// sim7505_* control exports. Configuration syntax and codes: sim7505.h.
//
// Built twice natively: libpci7505.so, and libpci7505_nodo.so without "pci7505do" (a broken
// installation whose library lacks an entry point).
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ext/concurrence.h>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/pci7505/sim7505.h"

#if defined(_WIN32)
#define VENDOR_CALL __stdcall
#else
#define VENDOR_CALL
#endif
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace sim7505 {
namespace {

struct Fault {
  int32_t mode = kBehave;
  int32_t arg = 0;  // delay: milliseconds; other modes: calls left, 0 = every call
};

struct Card {
  bool present = true;
  bool loopback = false;
  bool open = false;
  std::array<int32_t, kPorts> input{};
  std::array<int32_t, kPorts> output{};
};

struct Bank {
  std::array<Card, kCards + 1> cards{};  // [1..32]
  std::array<Fault, kEntryCount> faults{};
  int32_t handle_base = kHandleBase;
};

// The run time's own lock: a stand-in for another vendor's library links nothing of the driver's,
// and the Windows build's run time has no std::mutex.
__gnu_cxx::__mutex g_mutex;
Bank g_bank;
bool g_configured = false;
std::array<std::atomic<int32_t>, kEntryCount> g_calls{};
std::array<std::atomic<int32_t>, kCards + 1> g_closes{};
std::atomic<int32_t> g_bad_calls{0};

// ---------------------------------------------------------------- configuration text

class Parser {
 public:
  // Blanks separate items as ";" does (a CMake list cannot hold a ";").
  explicit Parser(std::string_view text) {
    for (char c : text) text_ += c == ' ' || c == '\t' || c == '\r' || c == '\n' ? ';' : c;
  }

  bool apply(Bank& bank) {
    size_t start = 0;
    while (start <= text_.size()) {
      size_t end = text_.find(';', start);
      if (end == std::string::npos) end = text_.size();
      const std::string_view setting = std::string_view(text_).substr(start, end - start);
      if (!setting.empty() && !item(bank, setting)) return false;
      start = end + 1;
    }
    return true;
  }

 private:
  static bool number(std::string_view text, int32_t& out) {
    if (text.empty()) return false;
    const std::string copy(text);
    char* end = nullptr;
    const long value = std::strtol(copy.c_str(), &end, 0);
    if (*end != '\0') return false;
    out = static_cast<int32_t>(value);
    return true;
  }

  static std::string_view Next(std::string_view& text, char separator) {
    const size_t at = text.find(separator);
    const std::string_view head = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    return head;
  }

  static bool cards(std::string_view list, std::array<bool, kCards + 1>& chosen) {
    chosen.fill(false);
    if (list == "all") {
      chosen.fill(true);
      return true;
    }
    if (list == "none") return true;
    while (!list.empty()) {
      std::string_view part = Next(list, ',');
      const size_t dash = part.find('-');
      int32_t first = 0, last = 0;
      if (!number(part.substr(0, dash), first)) return false;
      last = first;
      if (dash != std::string_view::npos && !number(part.substr(dash + 1), last)) return false;
      if (first < 1 || last > kCards || first > last) return false;
      for (int32_t n = first; n <= last; ++n) chosen[n] = true;
    }
    return true;
  }

  static bool entry_of(std::string_view name, int32_t& first, int32_t& last) {
    static constexpr std::string_view kNames[] = {"check", "di", "do", "close"};
    if (name == "all") {
      first = 0;
      last = kEntryCount - 1;
      return true;
    }
    for (int32_t i = 0; i < kEntryCount; ++i) {
      if (name == kNames[i]) {
        first = last = i;
        return true;
      }
    }
    return false;
  }

  static bool fault_item(Bank& bank, std::string_view spec) {
    if (spec == "none") {
      bank.faults.fill(Fault{});
      return true;
    }
    int32_t first = 0, last = 0;
    if (!entry_of(Next(spec, ':'), first, last)) return false;
    const std::string_view mode = Next(spec, ':');
    Fault fault;
    if (mode == "none") {
      fault.mode = kBehave;
    } else if (mode == "fail") {
      fault.mode = kFail;
    } else if (mode == "garbage") {
      fault.mode = kGarbage;
    } else if (mode == "av") {
      fault.mode = kAccessViolation;
    } else if (mode == "delay") {
      fault.mode = kDelay;
      if (spec.empty()) return false;
    } else {
      return false;
    }
    if (!spec.empty() && (!number(spec, fault.arg) || fault.arg < 0)) return false;
    for (int32_t i = first; i <= last; ++i) bank.faults[i] = fault;
    return true;
  }

  static bool item(Bank& bank, std::string_view setting) {
    const size_t eq = setting.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string_view key = setting.substr(0, eq);
    std::string_view value = setting.substr(eq + 1);
    std::array<bool, kCards + 1> chosen{};
    if (key == "present" || key == "loopback") {
      if (!cards(value, chosen)) return false;
      for (int32_t n = 1; n <= kCards; ++n)
        (key == "present" ? bank.cards[n].present : bank.cards[n].loopback) = chosen[n];
      return true;
    }
    if (key == "input") {
      while (!value.empty()) {
        std::string_view one = Next(value, ',');
        int32_t card = 0, port = 0, level = 0;
        if (!number(Next(one, ':'), card) || !number(Next(one, ':'), port) || !number(one, level))
          return false;
        if (card < 1 || card > kCards || port < 0 || port >= kPorts) return false;
        bank.cards[card].input[port] = level & 0xFFFF;
      }
      return true;
    }
    if (key == "handles") return number(value, bank.handle_base) && bank.handle_base >= 0;
    if (key == "fault") {
      while (!value.empty())
        if (!fault_item(bank, Next(value, ','))) return false;
      return true;
    }
    return false;
  }

  std::string text_;
};

// The bank as the environment describes it; an unreadable description leaves the defaults.
Bank initial_bank() {
  Bank bank;
  if (const char* text = std::getenv("PCI7505_SIM")) {
    Bank configured = bank;
    if (Parser(text).apply(configured)) bank = configured;
  }
  return bank;
}

// Callers hold g_mutex.
Bank& the_bank() {
  if (!g_configured) {
    g_bank = initial_bank();
    g_configured = true;
  }
  return g_bank;
}

// ---------------------------------------------------------------- misbehaviour

// A vendor library with a stray pointer: the store really happens, so the operating system
// raises the access violation (a null store the compiler can see would become a trap instead).
int32_t* volatile g_nowhere = nullptr;

__attribute__((noinline, no_sanitize("address", "undefined"))) void access_violation() {
  *g_nowhere = 0x7505;
}

void delay(int32_t ms) {
  while (ms > 0) {
    const int32_t slice = ms > 500 ? 500 : ms;
    usleep(static_cast<useconds_t>(slice) * 1000u);
    ms -= slice;
  }
}

// Counts the call and returns the misbehaviour it gets. Faults and delays happen here, before
// the bank is locked, so a call that never returns leaves the bank usable.
int32_t enter(Entry entry) {
  ++g_calls[entry];
  Fault fault;
  {
    std::lock_guard lock(g_mutex);
    Fault& f = the_bank().faults[entry];
    fault = f;
    if (f.mode != kBehave && f.mode != kDelay && f.arg > 0 && --f.arg == 0) f = Fault{};
  }
  if (fault.mode == kDelay) {
    delay(fault.arg);
    return kBehave;
  }
  if (fault.mode == kAccessViolation) access_violation();
  return fault.mode;
}

// The open card a handle stands for, or 0.
int32_t card_of(const Bank& bank, int32_t handle) {
  const int32_t n = handle - bank.handle_base;
  if (n < 1 || n > kCards || !bank.cards[n].present || !bank.cards[n].open) return 0;
  return n;
}

bool valid_port(int32_t port) { return port >= 0 && port < kPorts; }

}  // namespace
}  // namespace sim7505

using namespace sim7505;

// ---------------------------------------------------------------- vendor entry points

SIM_EXPORT int32_t VENDOR_CALL pci7505check(int32_t a, int32_t b, int32_t c, int32_t card) {
  const int32_t mode = enter(kCheck);
  if (mode == kFail) return 0;
  std::lock_guard lock(g_mutex);
  Bank& bank = the_bank();
  if (mode == kGarbage) return -(bank.handle_base + card);
  if (a != 0 || b != 0 || c != 0 || card < 1 || card > kCards) {
    ++g_bad_calls;
    return 0;
  }
  if (!bank.cards[card].present) return 0;
  bank.cards[card].open = true;
  return bank.handle_base + card;
}

SIM_EXPORT int32_t VENDOR_CALL pci7505di(int32_t handle, int32_t reserved, int32_t port) {
  const int32_t mode = enter(kInput);
  if (mode == kFail) return 0;
  std::lock_guard lock(g_mutex);
  Bank& bank = the_bank();
  const int32_t n = card_of(bank, handle);
  if (!n || reserved != 0 || !valid_port(port)) {
    ++g_bad_calls;
    return 0;
  }
  const Card& card = bank.cards[n];
  const int32_t level = (card.loopback ? card.output[port] : card.input[port]) & 0xFFFF;
  return mode == kGarbage ? static_cast<int32_t>(kGarbageHigh | static_cast<uint32_t>(level)) : level;
}

#if !defined(SIM7505_WITHOUT_DO)
SIM_EXPORT int32_t VENDOR_CALL pci7505do(int32_t handle, int32_t reserved, int32_t port, int32_t value) {
  const int32_t mode = enter(kOutput);
  if (mode == kFail) return -1;
  std::lock_guard lock(g_mutex);
  Bank& bank = the_bank();
  const int32_t n = card_of(bank, handle);
  if (!n || reserved != 0 || !valid_port(port)) {
    ++g_bad_calls;
    return -1;
  }
  bank.cards[n].output[port] = value;
  return mode == kGarbage ? 0x0BADF00D : 0;
}
#endif

SIM_EXPORT int32_t VENDOR_CALL pci7505close(int32_t handle) {
  const int32_t mode = enter(kClose);
  if (mode == kFail) return -1;
  std::lock_guard lock(g_mutex);
  Bank& bank = the_bank();
  const int32_t n = card_of(bank, handle);
  if (!n) {
    ++g_bad_calls;
    return -1;
  }
  bank.cards[n].open = false;
  ++g_closes[n];
  return mode == kGarbage ? 0x0BADF00D : 0;
}

// ---------------------------------------------------------------- control exports

SIM_EXPORT void sim7505_reset() {
  std::lock_guard lock(g_mutex);
  g_bank = initial_bank();
  g_configured = true;
  for (auto& calls : g_calls) calls = 0;
  for (auto& closes : g_closes) closes = 0;
  g_bad_calls = 0;
}

SIM_EXPORT int32_t sim7505_configure(const char* text) {
  if (!text) return 0;
  std::lock_guard lock(g_mutex);
  Bank configured = the_bank();
  if (!Parser(text).apply(configured)) return 0;
  g_bank = configured;
  return 1;
}

SIM_EXPORT void sim7505_set_present(int32_t card, int32_t present) {
  if (card < 1 || card > kCards) return;
  std::lock_guard lock(g_mutex);
  the_bank().cards[card].present = present != 0;
}

SIM_EXPORT void sim7505_set_input(int32_t card, int32_t port, int32_t value) {
  if (card < 1 || card > kCards || !valid_port(port)) return;
  std::lock_guard lock(g_mutex);
  the_bank().cards[card].input[port] = value & 0xFFFF;
}

SIM_EXPORT int32_t sim7505_get_output(int32_t card, int32_t port) {
  if (card < 1 || card > kCards || !valid_port(port)) return 0;
  std::lock_guard lock(g_mutex);
  return the_bank().cards[card].output[port];
}

SIM_EXPORT void sim7505_set_loopback(int32_t card, int32_t on) {
  if (card < 1 || card > kCards) return;
  std::lock_guard lock(g_mutex);
  the_bank().cards[card].loopback = on != 0;
}

SIM_EXPORT void sim7505_set_fault(int32_t entry, int32_t mode, int32_t arg) {
  if (entry < 0 || entry >= kEntryCount || mode < kBehave || mode > kDelay || arg < 0) return;
  std::lock_guard lock(g_mutex);
  the_bank().faults[entry] = Fault{mode, arg};
}

SIM_EXPORT int32_t sim7505_calls(int32_t entry) {
  return entry >= 0 && entry < kEntryCount ? g_calls[entry].load() : 0;
}

SIM_EXPORT int32_t sim7505_closes(int32_t card) {
  return card >= 1 && card <= kCards ? g_closes[card].load() : 0;
}

SIM_EXPORT int32_t sim7505_bad_calls() { return g_bad_calls.load(); }
