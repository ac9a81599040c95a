// The eighteen functions the host calls. Standard calling convention, undecorated names.
#pragma once

#include <cstdint>

#include "records/pdb.h"
#include "records/tag_records.h"

#if defined(_WIN32)
#define VOREL_STDCALL __stdcall
#else
#define VOREL_STDCALL
#endif

#define VOREL_EXPORT extern "C" __attribute__((visibility("default")))

using vorel::TDeviceParams;
using vorel::TTagAddrItem;
using vorel::TTagInfo;
using vorel::TTagTypeInfo;
using vorel::TTagValue;

// Booleans travel as 0 or 1 in the low byte of the result.
using HostBool = uint8_t;

VOREL_EXPORT int32_t VOREL_STDCALL GetPDBLen();
VOREL_EXPORT void VOREL_STDCALL FullPDB(TDeviceParams* block);
VOREL_EXPORT int32_t VOREL_STDCALL DLLEdDev(void* window, TDeviceParams* block);
VOREL_EXPORT HostBool VOREL_STDCALL DLLTestDev(TDeviceParams* block, uint8_t interactive);
VOREL_EXPORT HostBool VOREL_STDCALL TagEdAddr(TDeviceParams* block, char** address, uint8_t skip_check,
                                              char** message);
VOREL_EXPORT void VOREL_STDCALL GetTagAddrList(uint32_t reserved, int32_t* count, TTagAddrItem* items);
VOREL_EXPORT int32_t VOREL_STDCALL GetTags(uint16_t* count, TTagTypeInfo* items);
VOREL_EXPORT HostBool VOREL_STDCALL IniDriver(int32_t count, TTagInfo** tags, TDeviceParams* block,
                                              char** message);
VOREL_EXPORT HostBool VOREL_STDCALL IniDriverEx(uint32_t event);
VOREL_EXPORT int32_t VOREL_STDCALL AddTags(uint16_t count, TTagInfo** tags, int32_t* results);
VOREL_EXPORT uint16_t VOREL_STDCALL DetectScanTime();
VOREL_EXPORT HostBool VOREL_STDCALL OnDataRead(int32_t* count, TTagValue* values, char** message);
VOREL_EXPORT HostBool VOREL_STDCALL OnDataWrite(int32_t count, TTagValue* values, char** message);
VOREL_EXPORT int32_t VOREL_STDCALL ReadTags(uint16_t count, int32_t* ids, uint32_t reserved);
VOREL_EXPORT int32_t VOREL_STDCALL WriteTags(uint16_t count, TTagValue* values, uint32_t reserved);
VOREL_EXPORT HostBool VOREL_STDCALL GetDeviceStatus(char** message);
VOREL_EXPORT void VOREL_STDCALL WriteLog(uint8_t enable, char** message);
VOREL_EXPORT HostBool VOREL_STDCALL FreeDriver();
