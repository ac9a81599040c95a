// Module-wide state: the engine slot, the admission event and the driver's version record, and the
// load/attach/detach/unload steps that DllMain (or the shared-object hooks on POSIX) run.
#pragma once

#include <memory>

#include "interface/driver_engine.h"
#include "platform/platform.h"

namespace vorel::module {

void load();           // allocate the slot, attach the loading thread, create the admission event
void thread_attach();  // refresh the version record, empty slot for the new thread
void thread_detach();  // destroy the calling thread's engine
void unload();         // detach the calling thread, close the event, free the slot

bool loaded();

DriverEngine* current_engine();
// Puts an engine into the calling thread's slot; an engine already there is destroyed first.
void set_current_engine(std::unique_ptr<DriverEngine> engine);
void destroy_current_engine();

// nullptr when it could not be created.
platform::AutoResetEvent* admission_event();

// How long IniDriver waits for another thread's start-up (5000 ms; tests shorten it).
uint32_t admission_wait_ms();
void set_admission_wait_ms(uint32_t ms);

}  // namespace vorel::module
