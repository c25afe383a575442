#include "controls/scaleattr.h"

#include "panel/ctlattr.h"

int32 ScaleAttrGet(ObjHeap, int32, int32, int32, int32, const TypeDescriptor*, void*) { return 0; }
int32 ScaleAttrSet(ObjHeap, int32, int32, int32, int32, const TypeDescriptor*, void*) { return 0; }
int32 ColorScaleAttrGet(ObjHeap, int32, int32, int32, int32, const TypeDescriptor*, void*) { return 0; }
int32 ColorScaleAttrSet(ObjHeap, int32, int32, int32, int32, const TypeDescriptor*, void*, int32, int32) { return 0; }

void ControlsInstallScaleAttrHooks() {
  const ScaleAttrHooks hooks{&ScaleAttrGet, &ScaleAttrSet, &ColorScaleAttrGet, &ColorScaleAttrSet};
  SetScaleAttrHooks(&hooks);
}
