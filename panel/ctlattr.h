// The property procedures of the panel's control classes (numerics, colour
// boxes, Booleans, strings, paths and tags, rings, slides and knobs, colour
// ramps, arrays and pictures), entered in the property tables at start-up,
// and the number-format and slider-fill helpers they share.  User-interface
// thread only.
#pragma once
#include "panel/numfmt.h"
#include "panel/attrcall.h"

// Enters the control classes' tables (and the array type a ring's item-flag
// vector is resized with) in the property tables.
void PanelInstallAttrTables();

// The property procedures of the classes (the record's selector is the
// index inside the class's own table; one without a case is reported).
QX_EXTERN_C int32 snumattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 colorNum(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 boolattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 stringattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 pathTagAttr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 ringattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 slideattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 moreslideattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 sRampattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 arrayattr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 pictattr(ObjHeap heap, int32 object, AttrCallRec* rec);

// Gives the one-dimensional array in *cell (count elements of size bytes,
// of type elem; *cell null for none yet) n elements: new ones zeroed, the
// strings of dropped ones released, the count stored.  False when memory ran
// out (the array then as it was, but for released strings).
bool AttrResizeArray(UHandle* cell, const TypeDescriptor* elem, int32 size, int32 count, int32 n);

// The fill style of a slider part's flag word: 1 none, 2 from the top, 3 from
// the bottom, 4 both, 5 the filled track.
QX_EXTERN_C int32 SliderFillStyle(uInt32 flags);
// Gives the slider of that order the style; 0 when it already has it, else
// 0x10000.  A change the operator made marks the VI modified.
QX_EXTERN_C int32 SetSliderFillStyle(ObjHeap heap, int32 slide, int32 order, int32 style, Bool32 fromProperty);

// The scale properties of a slide's scale and the colour-scale properties of
// a ramp, given by the graph layer (index inside the scale's cluster).
typedef int32 (*ScaleAttrGetProc)(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                  const TypeDescriptor* td, void* value);
typedef int32 (*ScaleAttrSetProc)(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                  const TypeDescriptor* td, void* value);
typedef int32 (*ColorScaleAttrSetProc)(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                       const TypeDescriptor* td, void* value, int32 hidden, int32 greyed);
struct ScaleAttrHooks {
  ScaleAttrGetProc scaleGet;
  ScaleAttrSetProc scaleSet;
  ScaleAttrGetProc colorScaleGet;
  ColorScaleAttrSetProc colorScaleSet;
};
void SetScaleAttrHooks(const ScaleAttrHooks* hooks);
bool ScaleAttrHooksFilled();
