// Operate-mode methods of the numeric family: numerics step by their
// arrows and the Up and Down keys, filter and commit typed text, switch
// radix from their format mark and apply edited unit labels; rings pop up
// their items; slides and knobs track the mouse along their scales and
// move the active slider.  Each runs the data display method first and
// then handles the answer or reply.  Objects come from VI files: parts,
// slider indexes and values are checked before use.
// User-interface thread only.
#pragma once
#include "panel/objects.h"
#include "panel/transact.h"

QX_EXTERN_C int32 NumericOClickMethod(ObjHeap heap, int32 numeric, TransactionState* click, TransactionFrame* frame,
                                      ActionParams* params);
QX_EXTERN_C int32 NumericODoitMethod(ObjHeap heap, int32 numeric, TransactionFrame* frame, int32 action,
                                     ActionParams* params);
QX_EXTERN_C int32 RingOClickMethod(ObjHeap heap, int32 ring, TransactionState* click, TransactionFrame* frame,
                                   ActionParams* params);
QX_EXTERN_C int32 RingODoitMethod(ObjHeap heap, int32 ring, TransactionFrame* frame, int32 action,
                                  ActionParams* params);
// Knobs use the slide's click and do-it.
QX_EXTERN_C int32 SlideOClickMethod(ObjHeap heap, int32 slide, TransactionState* click, TransactionFrame* frame,
                                    ActionParams* params);
QX_EXTERN_C int32 SlideODoitMethod(ObjHeap heap, int32 slide, TransactionFrame* frame, int32 action,
                                   ActionParams* params);

// The radix menu's choice (key 1 to 4; 0 for none) as a display format for
// the numeric type: 1 the type's decimal (-2 floating, 0x40 signed, 0x41
// unsigned or invalid), 2 to 4 hex, octal and binary; any other key is
// reported and gives hex.
QX_EXTERN_C int32 NumRadixChoiceFormat(int32 key, int32 type);

// What the slide methods ask of the controls' scales (SlideTrackSlider,
// ScaleFitToItemCount, SlideColorChangeSliders, SlideInvalSliders), filled at
// start-up by the controls.  Until then the mouse maps to no value
// (kArgErr), no scale is fitted (0), no slider colours a side (-1, -1) and
// no slider display is refreshed.
struct SlideOpsHooks {
  MgErr (*trackValue)(ObjHeap heap, int32 slide, TransactionFrame* frame, ActionParams* params, void* data,
                      int32* changed) = nullptr;
  int32 (*fitToItemCount)(ObjHeap heap, int32 slide) = nullptr;
  void (*colourSliders)(ObjHeap heap, int32 slide, int32* first, int32* second) = nullptr;
  void (*invalSliders)(ObjHeap heap, int32 slide, int32 element) = nullptr;
};
// Installs the hooks (null members keep their defaults); the former set.
SlideOpsHooks SetSlideOpsHooks(const SlideOpsHooks& hooks);
// The two fill sliders a slide's colours reach (the controls' hook; -1, -1
// without it).
void SlideColourSliders(ObjHeap heap, int32 slide, int32* first, int32* second);
