// Values between running diagrams and their front panels.
//
// Every control that a diagram reads or writes has a transfer record in the
// VI's data space: flags, a mutex and five copies of its value.  Execution
// threads write an indicator's value into the transfer copy and queue one
// update entry per control on the data space's update queue; one panel-update
// user event per burst reaches the user-interface thread, which drains the
// queue and shows each newest value.  Without execution threads every
// function works on the one thread, takes no lock and draws at once.
//
// Locks: the update queue's mutex, a control's mutex and a strip chart's
// mutex are each taken alone, never two at once, and none is held while an
// object is redrawn or a user event is posted.
#pragma once
#include <cstddef>

#include "engine/exec/execrec.h"
#include "engine/vi/dataspace.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// One entry of an update queue.
struct UpdateEntry {
  UHandle dataSpace;  // the data space that queued it
  int32 kind;         // kUpdateNoop, kUpdateShowValue, kUpdateSchedule
  int32 index;        // the control's number in the transfer table
  int32 argument;     // the queue element's number in the QETable
};
static_assert(sizeof(UpdateEntry) == 16 && offsetof(UpdateEntry, kind) == 4 && offsetof(UpdateEntry, index) == 8 &&
              offsetof(UpdateEntry, argument) == 12, "update entry");
enum : int32 { kUpdateNoop = 0, kUpdateShowValue = 2, kUpdateSchedule = 3 };
// The user-event sub-code of a panel update.
constexpr int32 kUserEventPanelUpdate = 12;

// One entry of a data space's transfer table (the table's count and byte
// offset are the header's dcoCount and dcoTableOffset).
struct TransferEntry {
  int32 index;        // its own position
  uInt32 opData;      // DCOOpData offset in the data space
  uInt32 recordTD;    // offset in the data-space type of the record's cluster descriptor
  uInt32 size;        // bytes of one copy
  uInt32 flat;        // nonzero: no handles, copied with MoveBlock
  uInt32 copy0;       // offset of copy 0 in the data space
  uInt32 codeWords[3];
};
static_assert(sizeof(TransferEntry) == 36 && offsetof(TransferEntry, opData) == 4 &&
              offsetof(TransferEntry, recordTD) == 8 && offsetof(TransferEntry, size) == 12 &&
              offsetof(TransferEntry, flat) == 16 && offsetof(TransferEntry, copy0) == 20,
              "transfer entry");

// The head of a control's transfer record; the five copies follow, each
// aligned for its descriptor (flat values: copy n at copy 0 + n * size).
struct DCOOpData {
  uInt32 flags;
  ThMutex mutex;  // with execution threads on
  uInt32 options;
};
static_assert(sizeof(DCOOpData) == 12 && offsetof(DCOOpData, mutex) == 4 && offsetof(DCOOpData, options) == 8,
              "transfer record head");
enum : uInt32 {
  kDCONewForDiagram = 0x2,  // the panel wrote a value the diagram has not read
  kDCONewForPanel = 0x4,    // the diagram wrote a value the panel has not shown
  kDCOHidden = 0x10,        // writes are stored, not shown
  kDCOAlwaysShow = 0x20,    // every write is shown
};
enum : uInt32 { kDCOOptTransferEqual = 0x2, kDCOOptShowFromUIThread = 0x400 };
// The copies of a transfer record.
enum : int32 { kCopyShown = 0, kCopyCode1 = 1, kCopyCode2 = 2, kCopyTransfer = 3, kCopyPrevious = 4, kCopies = 5 };

// A strip chart's history record in the data space, with its thread part.
struct ProtectedStripChartRec {
  int32 count;     // points written to the history
  int32 valid;
  int32 start;     // the slot of the next point
  UHandle history; // capacity word, plot word, then the points
  // The thread part, cleared without threads.
  ThMutex mutex;
  int32 pointSize;
  int32 headerOffset;  // where the points start in the buffers
  uInt32 capacity;     // the history's capacity when the record was set up
  int32 pendingCount;  // points appended to the shadow since the last fold
  int32 pendingValid;
  int32 pendingStart;
  UHandle shadow;      // the history's size, its two header words
};
static_assert(sizeof(ProtectedStripChartRec) == 48 && offsetof(ProtectedStripChartRec, history) == 12 &&
              offsetof(ProtectedStripChartRec, mutex) == 16 && offsetof(ProtectedStripChartRec, capacity) == 28 &&
              offsetof(ProtectedStripChartRec, pendingCount) == 32 && offsetof(ProtectedStripChartRec, shadow) == 44 &&
              sizeof(ProtectedStripChartRec) - offsetof(ProtectedStripChartRec, mutex) == 32,
              "strip chart record");

// ---- Run-time functions (compiled code, any thread) -------------------------------
QX_EXTERN_C MgErr QueueUpdate(DataSpace ds, int32 index, int32 argument, int32 kind);
QX_EXTERN_C MgErr WriteDCOTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, const void* source,
                                       int32 size, int32 flat, int32 mode);
QX_EXTERN_C MgErr ReadDCOTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, void* destination,
                                      int32 size, int32 flat, int32 mode);
QX_EXTERN_C MgErr WriteFlatTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, void* destination,
                                        const void* source, int32 size);
// The handles are passed by the address of the word that holds them.
QX_EXTERN_C MgErr WriteFlatHandleTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0,
                                              UHandle* destination, UHandle* source, int32 size);
QX_EXTERN_C MgErr ReadFlatTransferData(DCOOpData* op, const void* source, void* destination, int32 size);
QX_EXTERN_C MgErr ReadFlatHandleTransferData(DCOOpData* op, UHandle* source, UHandle* destination);
QX_EXTERN_C void SetDCOOpDataFlags(DCOOpData* op, uInt32 bits, int32 set);
QX_EXTERN_C MgErr InitDisposeDCOOpDataFlags(DCOOpData* op, int32 init);
// copy0 is an offset from values; state bit 0 the value read, bit 1 the rest value.
QX_EXTERN_C MgErr LatchedBoolTxDataHasBeenRead(DataSpace ds, int32 index, DCOOpData* op, int32 copy0, int32 size,
                                               int32 objectOffset, uChar* values, int32 state, int32 tracked);
QX_EXTERN_C void InitQETable(DataSpace ds, QueueElement** table, int32 count);
QX_EXTERN_C MgErr InitDisposeProtectedStripChartRec(uChar* dataSpaceBase, int32 offset, int32 pointSize,
                                                    int32 headerOffset, int32 init);
QX_EXTERN_C MgErr WriteVectStripChartHistoryData(uChar* dataSpaceBase, int32 offset, int32 pointSize,
                                                 int32 headerOffset, const void* points, int32 count);
QX_EXTERN_C MgErr Write2DStripChartHistoryData(uChar* dataSpaceBase, int32 offset, int32 pointSize,
                                               int32 headerOffset, UHandle source, uInt32 options);
// callRecord: two words, panel heap, object, type handle, type offset, data
// offset, count, then one word per property (top bit: a write).
QX_EXTERN_C int32 AttributeNodeTransfer(const int32* callRecord, QueueElement* element);

// ---- The panel side (user-interface thread) --------------------------------------
QX_EXTERN_C void ProcessUpdateQueue(int32 dataSpace, int32 vi, int32 clearPosted);
QX_EXTERN_C void FPDisplayTransferData(DataSpace ds, int32 index, ObjHeap heap);
QX_EXTERN_C int32 FPGetTransferData(DataSpace ds, int32 index);
QX_EXTERN_C void FPSetTransferEntry(DataSpace ds, ObjHeap heap, int32 index);
QX_EXTERN_C void FPRebindTransferEntry(ObjHeap heap, int32 controller);
QX_EXTERN_C void FPUpdateTransferOffsets(DataSpace ds);
QX_EXTERN_C void ChartHistoryPrepare(ObjHeap heap, int32 chart);
// Binds a data space's transfer table to its panel: the data-controller word
// and every entry's hidden and always-show bits.
void FPBindTransferTable(DataSpace ds);
