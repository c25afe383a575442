// The shell's entry points for external code: the stubs kept for older
// external code, the local VI-server entry, the memory statistics lines, the
// handle statistics of a value, and the label lookups of panel controls.
#pragma once
#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// Entry points the run-time system does not support: each answers 53 and
// does nothing else.
QX_EXTERN_C MgErr CINOpenInstrument();
QX_EXTERN_C MgErr CINCloseInstrument();
QX_EXTERN_C MgErr CINRunInstrument();
QX_EXTERN_C MgErr CINGetVIState();
QX_EXTERN_C MgErr Old30CINOpenInstrument();
QX_EXTERN_C MgErr Old30CINGetVIState();
QX_EXTERN_C MgErr BuildHistoryString();
QX_EXTERN_C MgErr InstallFDFilter();

// A request to the local VI server: the operation, the result word and the
// reply, a data-zone long-string handle.
struct LocalVIServerRequest {
  int32 operation;
  int32 result;
  LStrHandle reply;
};
static_assert(sizeof(void*) != 4 || (sizeof(LocalVIServerRequest) == 12 && offsetof(LocalVIServerRequest, reply) == 8),
              "local VI-server request");
// Clears the result word and, when the reply is a live data-zone handle that
// holds a well-formed long string, appends "VI Server: Unsupported
// operation." (no terminator).  Always 53; a null request changes nothing.
QX_EXTERN_C MgErr LocalVIServer(LocalVIServerRequest* request);

// Adds the handles held in the value (the data at data, of descriptor td) to
// *count and their sizes to *bytes: strings (0x30, 0x33, 0x37) by their
// data-zone size, handles (0x31) and paths (0x32) by their application-zone
// size; an array counts its own handle and walks its elements; a cluster its
// fields; a union the element its selector names (none when out of range);
// a typedef its inner type.  A function type is reported and adds nothing.
QX_EXTERN_C void CalcDSStats(const TypeDescriptor* td, const void* data, int32* count, int32* bytes);

// The memory statistics lines: "Memory Allocated: %ldK" on status line 1,
// "Free Memory: %ldK" on line 2 and "Largest Block: %ldK" on line 4 (those
// two only when non-zero), the texts being entries 2 to 4 of string list
// 316 of the run-time resource file (the compiled-in texts when missing).
// The lines go to the window's status-line procedure; "Can't create handle
// for Memory Stats" is written as debug text and nothing drawn when the list
// of lines cannot be made.  0 or 2.
QX_EXTERN_C MgErr MemoryStatsLines(uInt32 window);
typedef void (*StatusLineProc)(uInt32 window, ConstPStr text, int32 line, int32 offset);
// The procedure that draws a status line of a window; filled by the part
// that owns such windows.  Null: the lines are made and not drawn.
void SetStatusLineProc(StatusLineProc proc);
StatusLineProc StatusLineProcInUse();
// The lines made by the last MemoryStatsLines (a list of Pascal strings; null
// before the first call).
CPStrHandle MemoryStatsLastLines();
enum : int32 { kMemoryStatsListId = 316 };

// The first control of the panel's control list whose label text equals the
// text (LStrCmp), else 0.  ObjGetLabelText: the text handle (owned by the
// label's text record) of the object's label part (part 16), null when it
// has none or the text is blank.  Both
// find the label through the dialog panel services' part finder.
QX_EXTERN_C int32 FindCtlByLabel(ObjHeap heap, const LStr* label);
// The index-th control of the panel's control list (from 0): 0 past its
// end, -1 for an entry that is no control.
int32 PanelControlAt(ObjHeap heap, int32 index);
// The label text of a control of that list: its display object's label.
LStrHandle PanelControlLabel(ObjHeap heap, int32 control);
QX_EXTERN_C LStrHandle ObjGetLabelText(ObjHeap heap, int32 object);

// The alert of a call that loads a 16-bit library: 'STR ' 2002 in the
// centred one-button alert.
QX_EXTERN_C MgErr InvalidLoadLibraryAlert();

// Registers the entry points above at their run-time table indexes.
MgErr QXRTRegisterExtShell();
