// Win32 fault guard for 32-bit x86. A vendor library that faults raises a structured exception;
// the system looks for a handler along the thread's frame chain at fs:[0], innermost first. The
// guard links its own record into that chain around the call. When the record's handler sees a
// fault it cuts the chain back to the record's predecessor (dropping whatever frames the faulting
// code had registered, and the dispatcher's own) and jumps back into call_guarded. A vectored
// handler alone cannot do this: the frames the faulting code registered would stay in the chain.
#include <setjmp.h>
#include <windows.h>

#include "platform/platform.h"

#if !defined(__i386__)
#error "the frame-based fault guard walks the 32-bit x86 frame chain (fs:[0])"
#endif

namespace platform {

namespace {

// Starts like the system's EXCEPTION_REGISTRATION_RECORD: the next record, then the handler.
struct GuardRecord {
  GuardRecord* next;
  void* handler;
  jmp_buf jump;
  volatile DWORD code;
};

GuardRecord* chain_head() {
  GuardRecord* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void set_chain_head(GuardRecord* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

// Error severity (the two top bits set): access violations, illegal instructions, stack overflow,
// a C++ exception of another compiler. Warnings and breakpoints are left to their owners.
bool is_fault(DWORD code) { return (code & 0xC0000000u) == 0xC0000000u; }

extern "C" EXCEPTION_DISPOSITION __cdecl guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                                       void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  if (!is_fault(record->ExceptionCode)) return ExceptionContinueSearch;
  GuardRecord* guard = static_cast<GuardRecord*>(frame);
  guard->code = record->ExceptionCode;
  set_chain_head(guard->next);
  longjmp(guard->jump, 1);
}

// Puts the chain back as it was at entry however call_guarded ends, including by a C++ exception
// leaving fn (our unwinder does not look at fs:[0], so nobody else would).
class ChainRestore {
 public:
  explicit ChainRestore(GuardRecord* head) : head_(head) {}
  ~ChainRestore() { set_chain_head(head_); }
  ChainRestore(const ChainRestore&) = delete;
  ChainRestore& operator=(const ChainRestore&) = delete;

 private:
  GuardRecord* head_;
};

}  // namespace

bool call_guarded(void (*fn)(void* context), void* context, uint32_t* exception_code) {
  GuardRecord guard;  // on this stack: the dispatcher ignores records that lie outside it
  guard.next = chain_head();
  guard.handler = reinterpret_cast<void*>(&guard_handler);
  guard.code = 0;
  ChainRestore restore(guard.next);
  // setjmp before the record is linked: it saves the predecessor as the chain head, which is what
  // the handler leaves in fs:[0], so longjmp finds nothing to unwind.
  if (setjmp(guard.jump) != 0) {
    if (exception_code) *exception_code = guard.code;
    return false;
  }
  set_chain_head(&guard);
  fn(context);
  return true;
}

}  // namespace platform
