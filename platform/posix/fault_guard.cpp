// POSIX fault guard: while a guarded call runs anywhere in the process, our handler owns SIGSEGV,
// SIGBUS, SIGILL and SIGFPE. A fault on a thread inside a guarded call jumps back to that call; a
// fault anywhere else goes on to whatever handler was there before (the sanitizer's report, a
// core dump), so the guard never hides a fault of the driver's own code.
#include <setjmp.h>
#include <signal.h>

#include <mutex>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct Guard {
  sigjmp_buf jump;
  volatile sig_atomic_t signal_number = 0;
  Guard* outer = nullptr;
};

// Initial-exec: the handler must not be the first to touch a thread's TLS block.
thread_local Guard* t_guard __attribute__((tls_model("initial-exec"))) = nullptr;

std::mutex g_install_mutex;
int g_active_calls = 0;                     // guarded calls running in the process
struct sigaction g_previous[kSignalCount];  // what our handler replaced, restored by the last call

int slot_of(int signal_number) {
  for (int i = 0; i < kSignalCount; ++i)
    if (kSignals[i] == signal_number) return i;
  return -1;
}

// A fault that is not ours: hand it to the previous owner as if we had never been there.
void pass_on(int signal_number, siginfo_t* info, void* ucontext) {
  const int slot = slot_of(signal_number);
  const struct sigaction& previous = g_previous[slot];
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) {
      previous.sa_sigaction(signal_number, info, ucontext);
      return;
    }
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal_number);
    return;
  }
  // Default action: let the faulting instruction run again without us and die of it.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
}

void on_fault(int signal_number, siginfo_t* info, void* ucontext) {
  Guard* guard = t_guard;
  if (!guard) {
    pass_on(signal_number, info, ucontext);
    return;
  }
  guard->signal_number = signal_number;
  t_guard = guard->outer;
  siglongjmp(guard->jump, 1);
}

void install() {
  std::lock_guard lock(g_install_mutex);
  if (g_active_calls++ > 0) return;
  struct sigaction action {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &g_previous[i]);
}

void uninstall() {
  std::lock_guard lock(g_install_mutex);
  if (--g_active_calls > 0) return;
  for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
}

uint32_t code_of(int signal_number) {
  switch (signal_number) {
    case SIGILL:
      return kIllegalInstruction;
    case SIGFPE:
      return kIntegerDivideByZero;
    default:
      return kAccessViolation;
  }
}

// Kept out of line so that nothing of the caller's frame lives between sigsetjmp and the call.
__attribute__((noinline)) bool run_guarded(Guard& guard, void (*fn)(void*), void* context) {
  if (sigsetjmp(guard.jump, 1) != 0) return false;  // back from on_fault
  t_guard = &guard;
  fn(context);
  return true;
}

// Owns the handler for the duration of one call and puts the thread's guard back however the
// call ends: normally, by a fault, or by a C++ exception leaving fn.
class CallScope {
 public:
  CallScope() : outer_(t_guard) { install(); }
  ~CallScope() {
    t_guard = outer_;
    uninstall();
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  Guard* outer() const { return outer_; }

 private:
  Guard* outer_;
};

}  // namespace

bool call_guarded(void (*fn)(void* context), void* context, uint32_t* exception_code) {
  Guard guard;
  bool finished;
  {
    CallScope scope;
    guard.outer = scope.outer();
    finished = run_guarded(guard, fn, context);
  }
  if (!finished && exception_code) *exception_code = code_of(guard.signal_number);
  return finished;
}

}  // namespace platform
