// The user event: how execution threads, servers and the engine hand work
// to the user-interface thread.
//
// A user event is an event record of code -1000 addressed to the root
// window: word 2 the sub-code (UserEventCode, engine/vi/vihooks.h), words
// 3 to 7 five argument words.  The shell's event filter hands each to the
// handler of its sub-code.
#pragma once
#include "engine/vi/vihooks.h"
#include "mgsource/window/wevent.h"

// Posts a user event: 0, or WPostEvent's error (2 without an event queue).
// With noDuplicate an equal queued event makes the post do nothing;
// priority 0 lets it be taken at any nesting level, 1 at the top level only.
QX_EXTERN_C int32 PostUserEvent(WindowRef window, int32 subCode, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5,
                                Bool32 noDuplicate, int32 priority);

// The words of a user event.
inline int32 UserEventSubCode(const WEventRecord* e) { return e->where; }
int32 UserEventArg(const WEventRecord* e, int32 n);  // n = 1 to 5

// A handler of one sub-code, called with the five argument words.
typedef void (*UserEventHandler)(int32 a1, int32 a2, int32 a3, int32 a4, int32 a5);
// Installs the handler of a sub-code (0 to 27); null removes it.  The
// sub-codes 0, 2 and 25 have the shell's own handlers, which an installed
// one replaces.
void SetUserEventHandler(int32 subCode, UserEventHandler handler);
// Hands a user event to the handler of its sub-code: 1 when one ran, 0 for
// a sub-code without a handler or an event that is not a user event.
int32 DispatchUserEvent(const WEventRecord* event);

// Sub-code 3: runs a posted callback record (engine/exec/postedcb.h) and
// frees it.
void RunPostedCallback(UHandle record);

// Queue filters for WPurgeEvents: 1 for a queued user event that names the
// VI (data: the VI's handle), or the data space (data: its handle).
QX_EXTERN_C int32 FilterInstrUserEvents(WindowRef window, const WEventRecord* event, void* vi);
QX_EXTERN_C int32 FilterDSUserEvents(WindowRef window, const WEventRecord* event, void* dataSpace);
