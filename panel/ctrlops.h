// Operations panel code applies to single controls: turning a control into
// an indicator and back (message 43, OSetIndicator, with a method per class
// family), copying a control's value into its default and back, editing a
// control's description in a dialog, and telling whether a click operates
// an object.  Objects come from VI files: owner chains, element lists and
// part lists are checked before they are followed, and nested sends end on
// lists that name their owners.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "panel/objects.h"

// ---- Controls and indicators -------------------------------------------------------------
// The basic step every OSetIndicator method ends with: bit 0 of the object's
// flags set (on) or cleared; 1 when it changed.
QX_EXTERN_C int32 BasicSetIndicator(ObjHeap heap, int32 object, int32 on);
// OSetIndicator sent to every part of the object with that id; 1 when any
// changed.
QX_EXTERN_C int32 SetIndicatorOnParts(ObjHeap heap, int32 object, int32 partId, int32 on);
// The method of a class for slot 43 (nonzero when a flag changed), null
// where this layer has none.
ObjMethodAddr OSetIndicatorMethodFor(int32 cls);
// A slide's or knob's flag that keeps its parts 6 and 7 as they are.
constexpr uInt32 kSlideKeepsArrows = 0x800000;

// ---- Default and operate data --------------------------------------------------------------
// makeDefault set: the control's operate data is copied over its default
// data and the VI marked modified (0x24000000); else the default data over
// the operate data and the value redrawn.  0; 1 when either data is missing
// (error 1010 shown) or the copy failed (nothing marked, the memory-full
// condition left pending).
QX_EXTERN_C int32 CtrlMakeDefaultOrReinit(ObjHeap heap, int32 object, int32 makeDefault);
constexpr MgErr kErrNoDefaultOrOperateData = 1010;
constexpr uInt32 kDocModDefaultData = 0x24000000, kDocModDescription = 0x80002000;

// ---- Descriptions --------------------------------------------------------------------------
// Runs the description dialog for the object (a type definition's inner
// control's description) titled by its label; the dialog is editable when
// the panel's owner is in its editing mode (0x80000) and its setup flag 13
// is 0.  A confirmed change is stored, the VI marked modified (0x80002000)
// unless its flag 0x200 is set, a type definition marked (0x80000) for its
// inner control, and the help window refreshed.  hint set leaves the
// keyboard focus where it is.
QX_EXTERN_C void EditCtrlDescription(ObjHeap heap, int32 object, int32 hint);
constexpr uInt32 kOwnerModeEditable = 0x80000, kVIFlagNoDocMod = 0x200, kTypeDefDescribed = 0x80000;

// What the descriptions ask of the shell, filled at start-up.  Until then
// there is no dialog (nothing is stored), setup flag 13 reads 0 and no help
// window is refreshed.
struct CtrlOpsShellHooks {
  // The dialog: the title's label, *description a copy the dialog replaces
  // (or drops) when the operator confirms a change; 1 then.
  int32 (*descriptionDialog)(ConstPStr label, UHandle* description, Bool32 readOnly, Bool32 hint) = nullptr;
  int32 (*viGetSetupFlag13)(UHandle vi) = nullptr;
  void (*helpUpdateIfShowing)(ObjHeap heap, int32 object) = nullptr;
};
// Installs the hooks (null members keep their defaults); the former set.
CtrlOpsShellHooks SetCtrlOpsShellHooks(const CtrlOpsShellHooks& hooks);
// The VI's setup flag 13 through the hook (0 without it).
int32 CtrlVIGetSetupFlag13(UHandle vi);

// ---- Clicks --------------------------------------------------------------------------------
// Whether a click operates the object: in the owner's retrieval mode (0x800)
// only for operate part ids, else unless the object is an indicator.
QX_EXTERN_C int32 ObjClickOperates(ObjHeap heap, int32 object);
