// The embedded-object container: a data display object (class 175) whose
// cell area hosts one embedded object.  The object is loaded from the VI
// file with the panel, shown in the panel window over the cell area (or
// drawn as a picture while the panel is printed or copied), moved, copied,
// focused, recoloured, sized by property and published to the diagram as
// its dispatch refnum.
//
// The container's words after the data display object's: the object record
// (a handle; 0 none), the saved object (a handle: a 32-bit count, then the
// bytes), the substitute image reference, and a fourth word not used.  In a
// stored heap a non-zero first or second word says that a "STRG" resource
// follows for it.
//
// The embedding services are the VI server's; this layer reaches them
// through ContainerEmbHooks, which start-up fills.  User-interface thread.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "panel/attrcall.h"
#include "panel/editmsg.h"
#include "panel/objects.h"
#include "panel/popup.h"
#include "panel/transact.h"

constexpr int32 kClsContainerId = 175;
constexpr int32 kContainerSize = 56;
// The container's words (32-bit word numbers).
enum : int32 { kContainerRecordWord = 10, kContainerSavedWord = 11, kContainerImageWord = 12 };
// Its parts: the cell area the object covers, the caption and the label
// whose text is the object's display name, and the object's own part.
enum : int32 { kContainerCellArea = 28, kContainerCaption = 82, kContainerLabel = 16, kContainerOwnPart = 0 };
// Object flags: hidden; a click is taken without action while the VI is
// not running; cleared when the value is published; size to the object.
enum : uInt32 {
  kContainerHidden = 0x8, kContainerNoClick = 0x80 | 0x200, kContainerUnpublished = 0x8000,
  kContainerSizeToObject = 0x10000,
};
// The owning VI's mode flag (second flag word): the VI runs.
constexpr uInt32 kContainerRunMode = 0x80000;
// The string list of the load alert: the message, "Abort", "Continue".
constexpr int32 kContainerLoadErrorList = 15002;
// The property table of the class: a cluster of two U32 (width, height).
constexpr int32 kContainerAttrTable = 62;
constexpr int32 kContainerAttrCount = 3;
constexpr int32 kContainerMaxSize = 16000;
constexpr int32 kContainerBadRecord = 4000;

// What the object is told of its surroundings (five words).
struct ContainerAmbient {
  DColor background;
  DColor foreground;
  TRecord textRecord;
  UHandle text;
  int32 reserved;
};
static_assert(sizeof(void*) != 4 || sizeof(ContainerAmbient) == 20, "ambient information: five words");

// The embedding services (see server/embobj.h) and the shell's two-button
// alert.  A member left null answers 15 (the service is missing), except
// hasObject (0), disposeRecord (the handle is freed) and twoButtonAlert
// (the default button, 1).
struct ContainerEmbHooks {
  MgErr (*loadFromResource)(UHandle saved, UHandle* record, WindowRef window, const ContainerAmbient* ambient,
                            const Rect* bounds, int32* flags);
  MgErr (*saveObject)(UHandle record, UHandle* saved);
  MgErr (*destroy)(UHandle record);
  MgErr (*activate)(UHandle record, int32 on);
  MgErr (*getFlags)(UHandle record, int32* flags);
  MgErr (*setWindow)(UHandle record, WindowRef window);
  MgErr (*setBounds)(UHandle record, const Rect* bounds);
  MgErr (*getBounds)(UHandle record, Rect* bounds);
  MgErr (*focus)(WindowRef window, UHandle record, int32 on, int32 backwards);
  MgErr (*getPicture)(UHandle record, int32* image);
  MgErr (*ambientForeground)(UHandle record, DColor colour);
  MgErr (*ambientBackground)(UHandle record, DColor colour);
  MgErr (*ambientDisplayName)(UHandle record, TRecord text);
  MgErr (*ambientFont)(UHandle record, TRecord text);
  MgErr (*recordSwap)(UHandle record);
  MgErr (*detachWindow)(UHandle record);
  Bool32 (*hasObject)(UHandle record);
  MgErr (*disposeRecord)(UHandle record);
  MgErr (*dupRecord)(UHandle record, UHandle* copy);
  int32 (*updateDispatch)(UHandle record);
  int32 (*twoButtonAlert)(int32 type, const void* message, ConstPStr button1, ConstPStr button2, int32 defaultButton,
                          int32 h, int32 v);
};
// Installs the hooks; the former set.
ContainerEmbHooks SetContainerEmbHooks(const ContainerEmbHooks& hooks);

// The class's methods (slots 1, 5, 7, 8, 11, 12, 13, 16, 18, 19, 26, 27, 29,
// 44, 76), entered at start-up; the selection method (slot 29) is reached
// through the object system's selection hooks.
QX_EXTERN_C MgErr ContainerOSwapMethod(ObjHeap heap, int32 container, int32 direction);
QX_EXTERN_C int32 ContainerOInitMethod(ObjHeap heap, int32 container);
QX_EXTERN_C int32 ContainerOClickMethod(ObjHeap heap, int32 container, TransactionState* click,
                                        TransactionFrame* frame, ActionParams* params);
QX_EXTERN_C int32 ContainerODoitMethod(ObjHeap heap, int32 container, TransactionFrame* frame, int32 action,
                                       ActionParams* params);
QX_EXTERN_C int32 ContainerOCtrlOpMethod(ObjHeap heap, int32 container, AttrCallRec* rec, int32 op);
QX_EXTERN_C int32 ContainerOLoadMethod(ObjHeap heap, int32 container);
QX_EXTERN_C int32 ContainerODisposeMethod(ObjHeap heap, int32 container);
QX_EXTERN_C int32 ContainerOInsertMethod(ObjHeap heap, int32 container, int32 object, int32 index);
QX_EXTERN_C int32 ContainerODrawMethod(ObjHeap heap, int32 container, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 ContainerOColorChangeMethod(ObjHeap heap, int32 container, int32 partId, int32 partOrder,
                                              DColor foreground, DColor background, int32 flags);
QX_EXTERN_C int32 ContainerOOffsetMethod(ObjHeap heap, int32 container, Point by);
QX_EXTERN_C int32 ContainerOCopyMethod(ObjHeap src, int32 container, ObjHeap dst, int32 offset, int32 flags);
QX_EXTERN_C int32 ContainerOSelectMethod(ObjHeap heap, int32 container, int32 code, EditMsgRecord* rec);
QX_EXTERN_C int32 ContainerOPopupMethod(ObjHeap heap, int32 container, PopupMsgRecord* rec);
QX_EXTERN_C int32 ContainerOModeChangeMethod(ObjHeap heap, int32 container, int32 mode);

// The ambient information of the container (see ContainerAmbient).
void ContainerAmbientInfo(ObjHeap heap, int32 container, ContainerAmbient* info);
// False when the object is hidden from the panel: it has a record, the VI
// does not run and the record's flag bit 0 is set.
bool ContainerPanelDraws(ObjHeap heap, int32 container);
// The steps after an action: a size change moves the object (0x10 added
// on failure), a caption or label text change renames it and re-adopts it.
// The reply with what was added.
int32 ContainerAfterAction(ObjHeap heap, int32 container, int32 reply, int32 partId, int32 partOrder);
// Gives the object to the panel window unless the container is hidden.
MgErr ContainerAdoptWindow(ObjHeap heap, int32 container);
// The size property (local index 0 the cluster, 1 width, 2 height).
QX_EXTERN_C int32 ContainerAttr(ObjHeap heap, int32 container, AttrCallRec* rec);
// Destroys the object, frees the record and the saved object and releases
// the substitute image; the errors or-ed.
MgErr ContainerRelease(ObjHeap heap, int32 container);

// Start-up: the methods into the class table, the property table.
void ControlsJoinContainerSlots();
