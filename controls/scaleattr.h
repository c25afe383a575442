// The scale properties of slides and the colour-scale properties of colour
// ramps as the panel's property procedures reach them.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"

// The scale cluster of a slide's scale part (index 0-11) and the colour-scale
// cluster of a ramp's (index 0-15): nothing is read or changed yet, and the
// reply is 0.
QX_EXTERN_C int32 ScaleAttrGet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                               const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 ScaleAttrSet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                               const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 ColorScaleAttrGet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                    const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 ColorScaleAttrSet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                    const TypeDescriptor* td, void* value, int32 hidden, int32 greyed);

// Gives the panel's property procedures the four above; called at start-up.
void ControlsInstallScaleAttrHooks();
