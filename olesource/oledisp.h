// The rules the automation objects' dispatch interfaces share: the language
// test, the exception report, and the process-wide automatic-quit flag with
// the quit command it posts.
#pragma once
#include "mgsource/extcode.h"
#include "platform/qx_com.h"
#include "platform/qx_comvar.h"

// The language the objects answer in (English), and whether a caller's
// locale id names it or the neutral language: its primary language
// (lcid & 0x3FF) 0 or 9.
constexpr uint32_t kOleLanguage = 9;
inline bool OleLanguageAccepted(uint32_t lcid) {
  const uint32_t primary = lcid & 0x3FF;
  return primary == 0 || primary == kOleLanguage;
}

// Fills the exception information from a VI-server error code and text: a
// negative code is a result code of its own (scode); otherwise the source is
// the product name, the description the text, else item code - 5000 of list
// 18300, else "Quenlix : Unknown Error", and the code its low 16 bits.
// 0, E_INVALIDARG for a null exception, E_OUTOFMEMORY when a string cannot
// be made (nothing then left allocated in it).
PlatHResult OleReportException(int32 code, const uint16_t* text, PlatExcepInfo* exception);

// The automatic-quit flag (off until a client sets it).
Bool32 OleAutoQuit();
void OleSetAutoQuit(Bool32 on);

// Posts the quit command (the menu choice {20, 10, 0, 25}) to the root
// window unless an equal one is queued: 0 or WPostEvent's error.  This
// program is the run-time system, where a client's quit is always obeyed.
MgErr OleQuit();

// The argument at position index (0 the first) of a call: the one named by
// that index, else the positional one; null when the call has none there
// (or its counts do not fit its arrays).
PlatVariant* OleDispArg(PlatDispParams* params, uint32_t index);
// A variant that stands for no argument: empty or an error value.
inline bool OleArgMissing(const PlatVariant* v) {
  return !v || (v->vt & ~kPlatVtByRef) == kPlatVtEmpty || (v->vt & ~kPlatVtByRef) == kPlatVtError;
}

// The type-information members both automation objects answer alike, given
// the object's type information (null when it has none).  A null out pointer
// for the type information answers nullOut, which each object chooses.
PlatHResult OleDispTypeInfoCount(void* typeInfo, uint32_t* count);
PlatHResult OleDispTypeInfo(void* typeInfo, uint32_t index, uint32_t lcid, void** info, PlatHResult nullOut);
PlatHResult OleDispIdsOfNames(void* typeInfo, const PlatGuid* iid, uint16_t** names, uint32_t count,
                              uint32_t lcid, int32_t* ids);
