// Panel objects drawing themselves (message 18, ODraw): the front panel
// paints its background and draws its objects, containers pass the message
// to their parts and elements with the piece of the value each shows, and
// cosmetics and labels draw their images and texts.  The same methods serve
// the window's update, printing and panel images, and blinking, which
// draws in a blink mode so that only blinking parts change.
//
// ODraw's arguments after (heap, object): the value pointer (null: the
// default look), a pass-through word and the draw mode.  Objects come from
// VI files: lists, image entries, string lists and data records are
// checked against their blocks, handles and the data space before they are
// read.  User-interface thread only, inside the window manager's WSetup.
#pragma once
#include "mgsource/objheap.h"
#include "mgsource/rects.h"
#include "panel/objects.h"

// Draw modes: normal drawing, the two blink phases (1 the blink colours, 2
// the normal look of blinking parts), and a mode taken as it is on any heap.
enum : int32 { kDrawModeBlink = 1, kDrawModeBlinkNormal = 2, kDrawModeNormal = 4, kDrawModeAny = 8 };

// The panel's imaging mode while it is drawn: 0 into its window, 1 into a
// picture for the clipboard (no background painted), 2 for printing or a
// panel image (the background over the panel's bounds).
enum : int32 { kPanelDrawScreen = 0, kPanelDrawClipboard = 1, kPanelDrawPrint = 2 };
extern int32 gPanelImagingMode;
// Sets the mode; the one it replaces.
int32 PanelSetImagingMode(int32 mode);

// On a heap that is no front panel every mode but 8 becomes 4; on a front
// panel a mode other than 1, 2, 4 or 8 is an assertion (and becomes 4).
QX_EXTERN_C void CheckDrawMode(ObjHeap heap, int32* mode);

// Draws a part of the object with its data: without force, in blink mode 1
// or 2, only a part whose id the object's class blinks is drawn (in that
// mode); otherwise the part is drawn in the mode when it blinks, else in
// mode 4.  The part's reply (0 when it was left alone).
QX_EXTERN_C int32 DrawPartForMode(ObjHeap heap, int32 object, const void* data, int32 part, int32 partId, int32 mode,
                                  Bool32 force);

// The generic last step of every data display object: nothing when the
// object is hidden or gDDODrawEnabled is off; an object of class 77 itself
// draws its visible parts; the key-focus object shows its frame (with flag
// 0x40, or in a dialog while no text is entered); a greyed object is greyed
// over in the panel's background colour (white when that is transparent).
QX_EXTERN_C int32 DDOODrawMethod(ObjHeap heap, int32 object, const void* data, int32 pass, int32 mode);

// The draw methods of the containers, cosmetics and labels (slot 18).
QX_EXTERN_C int32 FPODrawMethod(ObjHeap heap, int32 panel);
QX_EXTERN_C int32 DCOODrawMethod(ObjHeap heap, int32 controller, const void* base, int32 pass);
QX_EXTERN_C int32 GrouperODrawMethod(ObjHeap heap, int32 grouper, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 ClusterODrawMethod(ObjHeap heap, int32 cluster, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 ArrayODrawMethod(ObjHeap heap, int32 array, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 TypeDefODrawMethod(ObjHeap heap, int32 typeDef, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 CosmeticODrawMethod(ObjHeap heap, int32 cosmetic, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 MultiCosmeticODrawMethod(ObjHeap heap, int32 cosmetic, const void* index, int32 pass, int32 mode);
QX_EXTERN_C int32 BigMultiCosmeticODrawMethod(ObjHeap heap, int32 cosmetic, const void* index, int32 pass, int32 mode);
QX_EXTERN_C int32 LabelODrawMethod(ObjHeap heap, int32 label, const void* text, int32 pass, int32 mode);
QX_EXTERN_C int32 MultiLabelODrawMethod(ObjHeap heap, int32 label, const void* index, int32 pass, int32 mode);
// The method of a class for slot 18, null where this layer has none.
ObjMethodAddr ODrawMethodFor(int32 cls);

// Object flags the drawing reads: a multi-image's shown image is stale; a
// type definition drawn greyed (either bit).
enum : uInt32 { kObjFlagStale = 0x80000, kTypeDefGreyA = 0x2, kTypeDefGreyB = 0x10000 };

// What the drawing asks of the shell, filled at start-up: the panel's
// bounds (recomputed when stale).  Until then the root's rectangle stands
// for them.
struct PanelDrawHooks {
  Rect* (*panelGetBounds)(ObjHeap heap) = nullptr;
};
// Installs the hooks (null members keep their defaults); the former set.
PanelDrawHooks SetPanelDrawHooks(const PanelDrawHooks& hooks);
