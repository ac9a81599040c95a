// Module-wide state: the engine slot, the admission event and the driver's version record, and the
// load/attach/detach/unload steps that DllMain (or the shared-object hooks on POSIX) run.
#pragma once

#include <memory>

#include "interface/driver_engine.h"
#include "platform/platform.h"

namespace vorel::module {

void Load();          // allocate the slot, attach the loading thread, create the admission event
void ThreadAttach();  // refresh the version record, empty slot for the new thread
void ThreadDetach();  // destroy the calling thread's engine
void Unload();        // detach the calling thread, close the event, free the slot

bool Loaded();

DriverEngine* CurrentEngine();
// Puts an engine into the calling thread's slot; an engine already there is destroyed first.
void SetCurrentEngine(std::unique_ptr<DriverEngine> engine);
void DestroyCurrentEngine();

// nullptr when it could not be created.
platform::AutoResetEvent* AdmissionEvent();

// How long IniDriver waits for another thread's start-up (5000 ms; tests shorten it).
uint32_t AdmissionWaitMs();
void SetAdmissionWaitMs(uint32_t ms);

}  // namespace vorel::module
