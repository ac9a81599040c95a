// TDLLObject: the engine every host thread gets. Digital input and output of the PCI_7505, the
// presence check of each configured card and the release of the cards go through the card
// vendor's own library, pci7505.dll, loaded at run time.
//
// Every call into that library runs inside the platform's fault guard: a library that faults is
// a card that did not answer (a failed exchange, or an absent card at start-up), logged once per
// entry point, and polling goes on.
#pragma once

#include <array>
#include <cstdint>

#include "card/DLLObj.h"

#if defined(_WIN32)
#define VOREL_VENDOR_CALL __stdcall
#else
#define VOREL_VENDOR_CALL
#endif

namespace vorel {

class TDLLObject : public TCustomDLLObject {
 public:
  explicit TDLLObject(bool first_instance);
  ~TDLLObject() override;

  void Stop() override;
  void Read_DI_Data(int16_t& value, TCommand& command) override;
  void Write_DO_data(TCommand& command) override;
  bool LoadLibs() override;
  bool CardInSystem(int32_t card_no) override;

 protected:
  // Whether this engine holds card n open (its presence check answered).
  bool holds_card(int32_t card_no) const;

 private:
  // The vendor's entry points: standard calling convention, every argument 32 bits.
  using CheckFn = int32_t(VOREL_VENDOR_CALL*)(int32_t, int32_t, int32_t, int32_t);
  using InputFn = int32_t(VOREL_VENDOR_CALL*)(int32_t, int32_t, int32_t);
  using OutputFn = int32_t(VOREL_VENDOR_CALL*)(int32_t, int32_t, int32_t, int32_t);
  using CloseFn = int32_t(VOREL_VENDOR_CALL*)(int32_t);

  enum Entry { kCheckEntry, kInputEntry, kOutputEntry, kCloseEntry, kEntryCount };

  // Runs one call into the library; false when it faulted (logged once per entry point).
  template <class Call>
  bool call_vendor(Entry entry, Call& call);
  // Releases the library this engine loaded and forgets its entry points.
  void release_library();
  // The process-wide handle table and its holders: what a check answered, and the closing of the
  // cards this engine opened.
  void keep_card_handle(int32_t card_no, int32_t handle);
  void close_cards();

  // The library's entry points, all bound or none.
  struct Entries {
    CheckFn check = nullptr;
    InputFn input = nullptr;
    OutputFn output = nullptr;
    CloseFn close = nullptr;
  };
  Entries vendor_;
  std::array<bool, kEntryCount> fault_logged_{};
  std::array<bool, kCardCount + 1> opened_{};  // [1..32]: cards whose handle this engine holds
};

// Card handles by card number 1..32, shared by every engine of the process: a successful presence
// check of card n overwrites entry n, the last one wins; an unsuccessful one only while no engine
// holds card n open. Numbers outside 1..32 have no entry: they read 0 and their writes are dropped.
int32_t CardHandles(int32_t card_no);
void set_card_handles(int32_t card_no, int32_t handle);

}  // namespace vorel
