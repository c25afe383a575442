// Edit messages of panel objects: the panel's selection list, the selection
// message (29) that carries an edit operation to the selected objects
// (moves into another owner or heap, re-fits, font changes, data cut, copy
// and paste, password cleaning, string export and import) and the frame
// message (30) that marks the object holding the key focus.
//
// The selection message travels as a PanelActionRecord (panel/objects.h):
// its action is the operation code, its frame the EditMsgRecord below (the
// string import's request for 52 and 53) and its result word the reply.
// Containers pass the code to their parts, last part first, merging the
// replies through their reply filters and stopping on 0x10 or 0x10000000.
// User-interface thread only.
#pragma once
#include <cstddef>

#include "engine/typemgr.h"
#include "panel/objects.h"

// The record of an edit operation.  Its second word (the hit part id and
// order) sits where the string import's request keeps the same answer, so
// that both records share the handlers' reading of it.
struct EditMsgRecord {
  // The flags of a font change and of the walks over parts (0x10 an owner
  // is selected, 0x20 only the key-focus object, 0x08 a listbox's text
  // reached through an unselected listbox); for a move (12) the target
  // owner instead (0: the object's current owner).
  int32 flags;
  int16 hitPartId;  // answered by the object that handled the code
  int16 hitPartOrder;
  // A move: the target heap (null: the object's own), the offset to move
  // by and the move flags.
  ObjHeap targetHeap;
  Point offset;
  uInt16 moveFlags;
  int16 pad;
  // A paste: the value's heap, its type there and its data.
  ObjHeap sourceHeap;
  TypeID sourceType;
  const void* sourceData;
  // A cleaning before the clipboard holds a copy: the copied value and the
  // copied default (null when not held).
  UPtr value;
  UPtr defaultValue;
};
static_assert(offsetof(EditMsgRecord, hitPartId) == 4 && offsetof(EditMsgRecord, hitPartOrder) == 6,
              "the hit part shares the string import request's words");

// Operation codes.
enum : int32 {
  kEditMove = 12, kEditRefit = 21, kEditCutData = 24, kEditCopyData = 25, kEditPasteData = 26,
  kEditFont = 32, kEditExportStrings = 52, kEditImportStrings = 53, kEditLoaded = 55, kEditCleanCopy = 60,
};
// Record flags.
enum : int32 { kEditOwnerSelected = 0x10, kEditFocusOnly = 0x20, kEditListboxText = 0x08 };
// Move flags: move objects that keep their place too; handed to the copy.
enum : uInt16 { kMoveKeptToo = 0x10, kMoveCopyFlag = 0x100 };
// The object flag of an object that keeps its place in a move.
constexpr uInt32 kObjFlagKeepPlace = 0x100;

// Sends the selection message with the code and record; the reply.
QX_EXTERN_C int32 OSelectCode(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec);

// The selection list.  Empties it (a heap, null or not, without one is left
// alone); makes the object the only selected one (0, or 0x10 when the list
// cannot grow); whether the object is in it.
QX_EXTERN_C void ClearSelectionList(ObjHeap heap);
QX_EXTERN_C int32 SelectObject(ObjHeap heap, int32 object);
QX_EXTERN_C Bool32 IsObjSelected(ObjHeap heap, int32 object);

// Whether the object shows password text: a String whose text part is in
// password display, or a type definition, array, cluster or group holding
// one.
QX_EXTERN_C Bool32 HasPasswordString(ObjHeap heap, int32 object);
// The copy of an object takes the object's key-navigation slot in the
// target panel (another slot holding the copy cleared first), unless that
// slot is taken and force is 0.
QX_EXTERN_C void FPSelCopyEntry(ObjHeap src, int32 object, ObjHeap dst, int32 copy, Bool32 force);
// Pastes the record's value into the object: an incompatible type beeps
// and answers 0; 0x10 without data or memory; else 8, with 0x1008 when the
// object checks its range and the value is out of it.
QX_EXTERN_C int32 PasteTypedData(ObjHeap heap, int32 object, EditMsgRecord* rec);

// The Scale class's selection method: the object-text codes (52, 53) skip
// the scales that are a control's parts 17, 18, 19 and 68 and read other
// scales' own text (VIStrImportObjText); every other code is the generic
// handler's (the parts last first, a move of the selected scale into its
// new owner, the document marked modified).
QX_EXTERN_C int32 ScaleOSelectMethod(ObjHeap heap, int32 scale, int32 code, EditMsgRecord* rec);
// The generic handler of data display objects and groups.
QX_EXTERN_C int32 DDOOSelectMethod(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec);
// The frame of the key-focus object: with flag 0x10 its frame rectangle
// moved by the offset (a packed Point) is framed with the current pen.
QX_EXTERN_C int32 DDOOFrameSelMethod(ObjHeap heap, int32 object, ObjHeap port, int32 offset, int32 flags);

// The class methods of slots 29 and 30; null where the class keeps another.
ObjMethodAddr EditSelectMethodFor(int32 cls);
ObjMethodAddr FrameSelMethodFor(int32 cls);

// The listbox and graph classes' own methods, filled at start-up by the
// controls; until then they take the generic handler and frame.
typedef int32 (*EditSelectProc)(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec);
typedef int32 (*FrameSelProc)(ObjHeap heap, int32 object, ObjHeap port, int32 offset, int32 flags);
struct EditSelectHooks {
  EditSelectProc listboxSelect = nullptr;
  EditSelectProc graphSelect = nullptr;
  EditSelectProc tableSelect = nullptr;
  FrameSelProc graphFrameSel = nullptr;
  EditSelectProc containerSelect = nullptr;  // the embedded-object container's
};
EditSelectHooks SetEditSelectHooks(const EditSelectHooks& hooks);
