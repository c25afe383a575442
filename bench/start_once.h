// The managers a benchmark needs, each started once for the whole program:
// started again, the memory manager would make new zones while the scenes
// of the benchmarks before still hold handles of the old ones (and the
// drawing manager, the screen image and the fonts would drop what those
// scenes hold).
#pragma once
#include "mgsource/draw/dpen.h"
#include "engine/typemgr.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/rsrc.h"
#include "mgsource/support.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/wport.h"
#include "rtlib/units.h"

inline MgErr BenchMemInit() {
  static const MgErr err = MemInit();
  return err;
}
inline MgErr BenchThInit() {
  static const MgErr err = ThInit();
  return err;
}
inline MgErr BenchResources() {
  static const MgErr err = RInitResources();
  return err;
}
inline MgErr BenchScreenImage() {
  static const MgErr err = WInitScreenImage();
  return err;
}
inline void BenchDrawInit() {
  static const bool done = (DInitDraw(), true);
  (void)done;
}
inline void BenchFontsInit() {
  static const bool done = (TXInitFonts(), true);
  (void)done;
}
inline MgErr BenchOccurInit() {
  static const MgErr err = OccurInit();
  return err;
}
inline MgErr BenchFileMgr() {
  static const MgErr err = FInitFileMgr();
  return err;
}
inline MgErr BenchSupportInit() {
  static const MgErr err = SupportInit();
  return err;
}
inline MgErr BenchTypeHeapInit() {
  static const MgErr err = TypeHeapInit();
  return err;
}
inline MgErr BenchEventQueue() {
  static const MgErr err = WEventQueueInit(1);
  return err;
}
inline MgErr BenchUnitsInit() {
  static const MgErr err = UnitsInit();
  return err;
}
