// Range states of panel objects.  Whether a value lies inside a control's
// data range is decided by the range-check procedure of the VI's compiled
// code (procedure slot 15 of the data space); the panel keeps the outcome in
// the two range bits of each object's 16-bit state word, combines the
// states of a panel's data controllers for the VI window's tool bar, and
// shows a state in the object's range frame (part 20).
//
// The state word is the 16-bit field at byte 32 of data display objects,
// data controllers and the panel's root; the range-check number the 16-bit
// field after it.  Objects come from VI files: every offset is checked to
// name a used block that holds the field, every list against its block, and
// every owner climb stops after as many steps as the heap has blocks.
// User-interface thread only.
#pragma once
#include "panel/objects.h"

// The bits of the state word.  The range bits (2 and 3) hold the
// range-check result masked with 0xC: 4 out of range, 0 in range or not
// checked (8 and 12 kept as the procedure gives them).
enum RangeBits : uInt16 {
  kRangeStateMask = 0xC,
  kRangeOut = 0x4,
  kRangeNoMinimum = 0x20,
  kRangeNoMaximum = 0x40,
  kRangeNoIncrement = 0x80,
  kRangeLimitsMask = 0xE0,
  kRangeChecked = 0x100,     // range checking applies to the object
  kRangeViaArray = 0x200,    // an array element is re-checked through its array
  kRangeModeMask = 0x300,    // both: checking applies, data replies re-check
  kRangeKeepState = 0x2000,  // the range state is known: no update during one display
};
constexpr int32 kRangeWordByte = 32, kRangeNumberByte = 34;
// Object flags of a controller whose entries hold an out-of-range value:
// a control, an indicator.
constexpr uInt32 kRangeOutControl = 0x20000, kRangeOutIndicator = 0x40000;
// The reply flag of a value newly out of range.
constexpr int32 kReplyOutOfRange = 0x1000;
// The object's range frame, the part that shows its state.
constexpr int16 kPartRangeFrame = 20;
// Whether the part can take the range state as its value: a cosmetic that
// shows one of its pictures by the state.  A damaged panel can put any
// object at part 20; a text or data object would read the state's int32 as
// a value of its own type, so it gets none.
bool TakesRangeState(ObjHeap heap, int32 part);

// The object's state word (0 for an offset that names no object holding it)
// and its store; the object's range-check number (0: none).
uInt16 RangeWord(ObjHeap heap, int32 object);
void SetRangeWord(ObjHeap heap, int32 object, uInt16 word);
int16 RangeCheckNumber(ObjHeap heap, int32 object);
// Whether the state word says checking applies (0x100) and data replies
// re-check (0x200 clear).
bool RangeCheckedData(ObjHeap heap, int32 object);
// The checked count of an offset list: 0 when the list is no used block or
// its count does not fit the block.
int32 PanelListCount(ObjHeap heap, int32 list);

// The range-check procedure's result for the data: 0 when the object has no
// range-check number or the panel no range-check table (the root's data
// space); else the data space's procedure (0 for an inactive data space or
// one without the procedure).  Exported.
QX_EXTERN_C int32 ChkRange(ObjHeap heap, int32 object, const void* data, int32 mode);
// Stores bits 2-3 of the data's check result (0 without data) in the
// object's range bits; 1 when they are 4.
QX_EXTERN_C int32 SetRangeFlags(ObjHeap heap, int32 object, const void* data);
// For an array element (part 8001) whose state word has 0x200: climbs the
// owners while they are array elements, checks the outermost one with the
// data its owner gives it and stores the state there; 1.  Anything else: 0.
QX_EXTERN_C int32 RecheckArrayEltRange(ObjHeap heap, int32 element);
// SetRangeFlags, then the state is shown in the range frame; that display's
// reply, with 0x1000 when the value is out of range.
QX_EXTERN_C int32 UpdateRangeFlags(ObjHeap heap, int32 object, const void* data);
// Copies the source's range bits into the object and shows them in its
// range frame; the frame's reply.
QX_EXTERN_C int32 CopyRangeFlags(ObjHeap heap, int32 object, int32 source);
// The range re-check of a data reply: the bits are cleared; a reply with
// 0x1000 makes them 4; otherwise the data (the owner's operate data of the
// object when data is null) is checked and 0x1000 added when out of range.
// The range frame shows the state; the reply with the frame's reply added.
QX_EXTERN_C int32 RangeCheckDataReply(ObjHeap heap, int32 object, const void* data, int32 reply);
// The controller's summary after a reply of one of its entries: its bits
// are cleared; a reply with 0x1000 makes them 4, sets 0x40000 (the entry's
// object is an indicator) or 0x20000 on it and redraws the tool bar's run
// slots; otherwise ClusterRangeFlags without re-check, 0x1000 added when it
// finds an entry out of range.  The reply.
QX_EXTERN_C int32 RangeCheckReply(ObjHeap heap, int32 controller, int32 entry, int32 reply);
// Combines the states of the controller's entries (its word-10 list: a
// panel's data controllers, or a cluster's elements) whose state word has
// 0x100, re-checking each first when recheck is set: an entry out of range
// sets 0x40000 (indicator) or 0x20000 on the controller and its bits to 4.
// The tool bar's run slots are redrawn.  1 when 0x20000 or 0x40000 is set.
QX_EXTERN_C int32 ClusterRangeFlags(ObjHeap heap, int32 controller, int32 recheck);
// Checks the entry's object (a data controller's display object, or the
// entry itself) with the entry's data; the entry's bits become 4 when out
// of range, else 0.  1 when out of range.
QX_EXTERN_C int32 RecheckControllerEntry(ObjHeap heap, int32 entry);
// 1 when the first state is in range and the second out of range, 0 for the
// opposite, 2 when both agree.
QX_EXTERN_C int32 CompareRangeState(int32 first, int32 second);
// Sets up the object's checking bits from its entries when the VI changes
// state: with controller set the entries are the panel's data controllers
// and the owner VI's panel-binding flag follows; else a cluster's elements.
QX_EXTERN_C void InitRangeFlags(ObjHeap heap, int32 object, int32 controller);
// InitRangeFlags for the whole panel: every cluster, innermost first, then
// the root with the controller flag.
void InitPanelRangeFlags(ObjHeap heap);
