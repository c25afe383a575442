// Front panels as the engine makes, opens and disposes them: the root
// object of a new panel heap, the pending entry of the key focus, the
// controls' data taken from the data space, the update queue of a data
// space, and the panel clipboard.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/gnrclist.h"

// The "Front Panel" root object of a new panel heap: its offset, 0 when the
// heap cannot grow.
QX_EXTERN_C int32 FPNewPanelRoot(ObjHeap heap);
// The panel's selection list (named by the heap extension): an object added
// once (0, 1 for a heap without extension or no object, 2 when the list
// cannot be made or grow), the number of selected objects, and the list
// emptied (a heap without one is left as it is).
QX_EXTERN_C MgErr FPSelectObject(ObjHeap heap, int32 object);
QX_EXTERN_C int32 FPSelectionCount(ObjHeap heap);
QX_EXTERN_C void FPEmptySelection(ObjHeap heap);
// The selected object at the index of the list, 0 past its end.
QX_EXTERN_C int32 FPSelectedObject(ObjHeap heap, int32 index);
// 1 when the object is in the panel's selection list.
QX_EXTERN_C int32 FPIsSelected(ObjHeap heap, int32 object);
// Commits the pending entry of the panel's key-focus object (a synthetic
// Enter inside its saved frames); it keeps the focus unless it lets go.  0.
QX_EXTERN_C MgErr FPCommitKeyFocus(ObjHeap heap);
// Bit 29 of an object's flags: its text was changed and not committed yet.
constexpr uInt32 kObjFlagTextPending = 0x20000000;

// The offset of copy 0 (the operate value) of a panel data controller's
// record in the panel's data space; with execution threads on and transfer
// data pending for the controller (flag 0x4 of its record), the transfer
// copy is read into copy 0 first.  td (null: the controller's type) is the
// value's descriptor.  0 when the controller has no record.
QX_EXTERN_C int32 FPTransferDCOData(ObjHeap heap, int32 controller, const void* td);
// FPTransferDCOData for every data controller of the panel.
QX_EXTERN_C void FPTransferAllControls(ObjHeap heap);
enum : uInt32 { kDCOTransferPending = 0x4 };


// The update queue of a data space: 16 bytes of the data zone.
struct UpdateQueue {
  uInt32 signature;  // "UDQU"
  int32 posted;      // a panel-update user event is on its way
  void* mutex;       // "heapUpdateQueue", with execution threads on
  UHandle entries;   // a generic list of 16-byte entries
};
static_assert(sizeof(UpdateQueue) == 16, "update queue record");
constexpr int32 kUpdateEntrySize = 16;
QX_EXTERN_C void* NewUpdateQueue(int32 room);
QX_EXTERN_C void DisposeUpdateQueue(void* queue);

// The panel clipboard: the clipboard VI (a VI of kind 3 with a panel) and
// the kind of its contents.
void SetPanelClipboard(UHandle vi);
UHandle PanelClipboardVI();
void SetPanelClipboardKind(int32 kind);
int32 PanelClipboardKind();
enum : int32 {
  kClipKindEmpty = 0,
  kClipKindObjects = 1,
  kClipKindConnPane = 2,      // objects copied with the connector-pane flag
  kClipKindText = 4,          // one label holding the text
  kClipKindDecorations = 5,   // objects that are all cosmetics or labels
  kClipKindPanelData = 6,     // objects with their data, in a front-panel heap
  kClipKindOtherData = 7,     // the same in another kind of heap
};
// Empties the clipboard (ResetClipboardHeap) unless it is empty; kind 0.
QX_EXTERN_C void ClearPanelClipboard();
// Resets the clipboard VI's heap to an empty panel: the selection emptied,
// the key focus released, the root disposed and every object but the heap
// extension with it, a new root and an empty selection list made, and a new
// minimal data space built.  A VI that is not of kind 3 with a panel and a
// selection list is an assertion and is left alone.
QX_EXTERN_C void ResetClipboardHeap(UHandle vi);
// The clipboard VI for the run (make not 0): a hidden VI of kind 3 with an
// empty panel; or its end.  Without memory there is no clipboard (the data
// commands beep).
void FPPanelClipboardLife(Bool32 make);
