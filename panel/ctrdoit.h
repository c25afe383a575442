// Operate-mode methods of the containers and of the colour and path
// controls: clusters, arrays and refnums hand clicks in their interior on to
// the objects inside and pass the key focus among them; a type definition
// sends the focus keys to its control; colour boxes and ramps take colours
// and tracked values; paths switch validity, take typed text and drops.
//
// Objects come from VI files: element lists, indexes and cells are checked
// against their blocks before use; descents are bounded by the transaction
// stack (each level takes a frame).  User-interface thread only.
#pragma once
#include "panel/objects.h"
#include "panel/transact.h"

// Clusters: a click on the interior (part 28) tries the elements front to
// back; the do-it follows the path to an element (level 1 from the object
// list, 3 from the element list), passes the focus on among the elements
// and re-checks the cluster's range state.
QX_EXTERN_C int32 ClusterOClickMethod(ObjHeap heap, int32 cluster, TransactionState* click, TransactionFrame* frame,
                                      ActionParams* params);
QX_EXTERN_C int32 ClusterODoitMethod(ObjHeap heap, int32 cluster, TransactionFrame* frame, int32 action,
                                     ActionParams* params);
// Arrays: a click on the interior scrolls the grid to the cell under the
// point and tries the element there (level 3, the cell); the do-it sends
// actions to the operated cell, moves the focus through the cells and keeps
// the visible grid in step with the interior.
QX_EXTERN_C int32 ArrayOClickMethod(ObjHeap heap, int32 array, TransactionState* click, TransactionFrame* frame,
                                    ActionParams* params);
QX_EXTERN_C int32 ArrayODoitMethod(ObjHeap heap, int32 array, TransactionFrame* frame, int32 action,
                                   ActionParams* params);
// Refnums: a click on the interior or parts 9 and 83 goes to the inner
// object; its presses are absorbed.  The do-it is the data display method.
QX_EXTERN_C int32 RefNumOClickMethod(ObjHeap heap, int32 refnum, TransactionState* click, TransactionFrame* frame,
                                     ActionParams* params);
// Type definitions: the data display do-it when the action may reach the
// object; the focus keys go to its control (part 8010).
QX_EXTERN_C int32 TypeDefODoitMethod(ObjHeap heap, int32 typeDef, TransactionFrame* frame, int32 action,
                                     ActionParams* params);
// The refnum whose inner object is answering a click (0: none).
QX_EXTERN_C int32 PanelInsideRefNum();


// Colour boxes: a press or colour request on the face (part 41) asks for
// both colours through the palette; a transparent colour written on a front
// panel is refused with a beep; a chosen colour becomes the value.
QX_EXTERN_C int32 ColorBoxOClickMethod(ObjHeap heap, int32 box, TransactionState* click, TransactionFrame* frame,
                                       ActionParams* params);
QX_EXTERN_C int32 ColorBoxODoitMethod(ObjHeap heap, int32 box, TransactionFrame* frame, int32 action,
                                      ActionParams* params);
// Colour ramps: the numeric click; tracking the ramp (parts 41, 69) maps the mouse, pinned to
// the scale's ends, to the value.
QX_EXTERN_C int32 ColorRampOClickMethod(ObjHeap heap, int32 ramp, TransactionState* click, TransactionFrame* frame,
                                        ActionParams* params);
QX_EXTERN_C int32 ColorRampODoitMethod(ObjHeap heap, int32 ramp, TransactionFrame* frame, int32 action,
                                       ActionParams* params);
// Paths: a dropped path, the validity menu of the browse button (list 77),
// typed and committed text.
QX_EXTERN_C int32 PathOClickMethod(ObjHeap heap, int32 path, TransactionState* click, TransactionFrame* frame,
                                   ActionParams* params);
QX_EXTERN_C int32 StdPathODoitMethod(ObjHeap heap, int32 path, TransactionFrame* frame, int32 action,
                                     ActionParams* params);

// The scale routines a colour ramp needs beyond the panel's scale hooks,
// filled by the controls at start-up; without them a ramp's scale is not
// re-fitted (0).
struct PanelRampHooks {
  int32 (*scaleFitToItemCount)(ObjHeap heap, int32 object) = nullptr;
};
PanelRampHooks SetPanelRampHooks(const PanelRampHooks& hooks);
