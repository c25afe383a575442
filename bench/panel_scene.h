// A registered VI's front panel in a window of the screen image, with the
// helpers the panel benchmarks build their controls with.
#pragma once

#include <cstring>
#include <vector>

#include "engine/datasupp.h"
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "start_once.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

struct PanelScene {
  UHandle vi = nullptr;
  ObjHeap heap = nullptr;
  int32 root = 0;
  WindowRef window = kWNoWindow;

  int32 Obj(int32 cls, int32 owner = 0, int16 id = 0) {
    return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, id, 0);
  }
  void Place(int32 o, int16 top, int16 left, int16 h, int16 w) {
    const Rect r{top, left, int16(top + h), int16(left + w)};
    std::memcpy(*heap + o + kObjBounds, &r, sizeof r);
  }
  TypeID Type(const tdb::TD& td) {
    const std::vector<uChar> b = td.Bytes();
    return NewTypeIDForTD(heap, tdb::AsTD(b));
  }
  // A controller of the type around a display object of the class.
  int32 NewControl(TypeID type, int32 cls, int32* shown) {
    const int32 dco = Obj(kClsFPDataController);
    *shown = Obj(cls);
    ObjSetWord(heap, *shown, kPWOwner, dco);
    ObjSetWord(heap, dco, kPWDCOTypeId, int32(type));
    ObjSetWord(heap, *shown, kPWDDOTypeId, int32(type));
    ObjSetWord(heap, dco, kPWDCODisplay, *shown);
    return dco;
  }
  // Starts the managers (once for the whole program), makes the panel with its root and its window of
  // the size given; false when any of it cannot be made.
  bool OpenPanel(int16 height, int16 width) {
    if (BenchMemInit() != kNoErr || BenchTypeHeapInit() != kNoErr || BenchScreenImage() != kNoErr) return false;
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    BenchDrawInit();
    vi = vib::NewVI();
    if (!vi || RegisterVI(vi) != kNoErr || !(heap = vib::NewPanel(vi))) return false;
    root = FPNewPanelRoot(heap);
    if (!root) return false;
    PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtRoot, uInt32(root));
    const Rect place{0, 0, height, width};
    window = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    if (window == kWNoWindow) return false;
    PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtWindow, uInt32(window));
    return true;
  }
};
