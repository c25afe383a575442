// The managers a benchmark needs, each started once for the whole program:
// started again, the memory manager would make new zones while the scenes
// of the benchmarks before still hold handles of the old ones (and the
// drawing manager, the screen image and the fonts would drop what those
// scenes hold).
#pragma once
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wport.h"

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
