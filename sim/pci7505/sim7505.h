// The simulated PCI-7505 card bank (pci7505.dll / libpci7505.so): the codes its control exports
// take and the signatures to resolve them with. Tests load the library by file, the same file the
// driver loads, so both see one bank.
//
// Unattended runs configure the bank through the environment variable PCI7505_SIM, read when the
// library is loaded and again by sim7505_reset; sim7505_configure takes the same text. Items are
// separated by ";" or blanks (no blank inside an item), numbers are decimal or 0x hexadecimal:
//
//   present=<cards>       cards that answer the presence check; default: all 32
//   loopback=<cards>      cards whose output port p drives input port p; default: none
//   handles=<base>        a present card answers the check with <base> + card number; default
//                         0x7500 (0 gives the small handles 1, 2, ... some vendors' libraries use)
//   input=<card>:<port>:<value>[,...]
//                         the value an input port shows (16 bits); default 0
//   fault=<entry>:<mode>[:<arg>][,...]
//                         misbehaviour of one entry point (check, di, do, close, or all):
//                           none            behave
//                           fail[:<n>]      refuse: check answers 0 (no card), di answers 0 without
//                                           reading the port, do writes nothing, do and close
//                                           answer -1
//                           garbage[:<n>]   answer nonsense: check a negative number, di the port
//                                           value with junk in the upper 16 bits, do and close an
//                                           arbitrary number (they still do their work)
//                           av[:<n>]        write through a null pointer (a real access violation)
//                           delay:<ms>      take that many milliseconds, then behave
//                         <n> limits fail, garbage and av to the next n calls (0 or absent: every
//                         call); "fault=none" clears every entry point
//   <cards> = "all", "none", or numbers and ranges 1..32 separated by ",", e.g. "1,3,5-8"
//
// Example: PCI7505_SIM="present=1,3;loopback=1;input=3:1:0x00A5;fault=di:av:2"
//
// A present card answers the check with its handle (see handles=). Calls with a handle of no
// open card, a port index outside 0..7, or a non-zero reserved argument are served as "fail"
// and counted by sim7505_bad_calls.
#pragma once

#include <cstdint>

namespace sim7505 {

enum Entry : int32_t { kCheck = 0, kInput = 1, kOutput = 2, kClose = 3, kEntryCount = 4 };
enum FaultMode : int32_t { kBehave = 0, kFail = 1, kGarbage = 2, kAccessViolation = 3, kDelay = 4 };

constexpr int32_t kCards = 32;
constexpr int32_t kPorts = 8;
constexpr int32_t kHandleBase = 0x7500;
constexpr uint32_t kGarbageHigh = 0x5A5A0000u;  // what garbage puts above a di port value

// Control exports (C calling convention).
using ResetFn = void (*)();                                              // sim7505_reset
using ConfigureFn = int32_t (*)(const char* text);                       // sim7505_configure: 1 ok
using SetPresentFn = void (*)(int32_t card, int32_t present);            // sim7505_set_present
using SetInputFn = void (*)(int32_t card, int32_t port, int32_t value);  // sim7505_set_input
using GetOutputFn = int32_t (*)(int32_t card, int32_t port);             // sim7505_get_output
using SetLoopbackFn = void (*)(int32_t card, int32_t on);                // sim7505_set_loopback
using SetFaultFn = void (*)(int32_t entry, int32_t mode, int32_t arg);   // sim7505_set_fault
using CallsFn = int32_t (*)(int32_t entry);                              // sim7505_calls
using ClosesFn = int32_t (*)(int32_t card);                              // sim7505_closes
using BadCallsFn = int32_t (*)();                                        // sim7505_bad_calls

}  // namespace sim7505
