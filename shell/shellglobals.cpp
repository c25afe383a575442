#include "shell/shellglobals.h"

#include <cstring>

#include "engine/exec/exec.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/window/menus.h"
#include "shell/background.h"
#include "shell/shellinit.h"

namespace {

constexpr ResType kRectListType = FourCC("nrct");

int32 gPens[kShellPenCount] = {};
int32 gGlyphParent = 0;
int32 gGlyphs[kGlyphCount] = {};
int32 gPanelPicts[4] = {};
// The image ids of the stored control images, icon families 140 to 168 of
// the run-time file, shown as picture codes 7000 to 7028 (0: none).
using StoredControlImages = int32[kStoredImageCount];
StoredControlImages gStored = {};
int32 gFonts[kShellFontSlots] = {};
int32 gTextMode = 0;

// The record the fourth word of the run-time globals points at: two
// cleared 16-bit words, then the first standard font.
struct ShellFontRecord {
  int16 a;
  int16 b;
  int32 font;
};
static_assert(sizeof(ShellFontRecord) == 8, "font record of the run-time globals");
ShellFontRecord gFontRecord{};

void HandToPanel(int32 index, int32 image) {
  if (auto set = ShellStartHooksInUse().setBuiltInPict) {
    if (MgErr err = set(index, image)) DBMgErr(__FILE__, __LINE__, err, "built-in picture");
  }
}

}  // namespace

MgErr ShellReadRectList(const uChar* bytes, int32 size, Rect* rects, int32 max, int32* stored, int32* read) {
  *stored = 0;
  *read = 0;
  if (!bytes || size < 2) return kArgErr;
  const int32 count = GetBE16(bytes);
  *stored = count;
  const int32 fit = (size - 2) / 8;
  int32 n = count < fit ? count : fit;
  if (n > max) n = max;
  for (int32 i = 0; i < n; ++i) {
    const uChar* r = bytes + 2 + 8 * i;
    rects[i] = Rect{int16(GetBE16(r)), int16(GetBE16(r + 2)), int16(GetBE16(r + 4)), int16(GetBE16(r + 6))};
  }
  *read = n;
  return count > fit ? kArgErr : kNoErr;
}

// ---- Pens -----------------------------------------------------------------------------

void InitPens() {
  int32 n = 0;
  auto make = [&](int32 kind, const PenState& state) { gPens[n++] = DNewPen(kDefaultPenBase, kind, &state); };
  PenState s{};
  // A plain pen, two wider ones.
  make(0, s);
  s.width = 2;
  make(kPenWidth, s);
  s.width = 3;
  make(kPenWidth, s);
  // A 50% grey in black, and the same inverting two pixels wide (frames
  // dragged over a panel).
  s = PenState{};
  for (int32 row = 0; row < 8; ++row) s.pattern[row] = row & 1 ? 0x55 : 0xAA;
  make(kPenFore | kPenPattern, s);
  s.width = 2;
  s.mode = 2;
  make(kPenFore | kPenPattern | kPenMode, s);
  // The marching stripes: eight phases, each the previous rotated by a row.
  s = PenState{};
  static const uChar kStripes[8] = {0xF0, 0xE1, 0xC3, 0x87, 0x0F, 0x1E, 0x3C, 0x78};
  std::memcpy(s.pattern, kStripes, 8);
  for (int32 phase = 0; phase < 8; ++phase) {
    make(kPenFore | kPenPattern, s);
    const uChar first = s.pattern[0];
    std::memmove(s.pattern, s.pattern + 1, 7);
    s.pattern[7] = first;
  }
  // A dithered grey on light grey, and the three dithered pens of the
  // gradient fill (their colours are set at each use).
  s = PenState{};
  s.fore = 0x666666;
  s.back = 0xB3B3B3;
  for (int32 row = 0; row < 8; ++row) s.pattern[row] = row & 1 ? 0x55 : 0xAA;
  make(kPenFore | kPenBack | kPenPattern, s);
  for (const auto& pattern : kShellBlendPatterns) {
    std::memcpy(s.pattern, pattern, 8);
    make(kPenPattern, s);
  }
  for (int32 i = 0; i < n; ++i)
    if (!gPens[i]) DBPrintf("InitPens: pen %ld not made", long(i));
}

void DisposePens() {
  for (int32& pen : gPens) {
    if (pen) DDestroyPen(pen);
    pen = 0;
  }
}

int32 ShellPen(int32 index) { return index >= 0 && index < kShellPenCount ? gPens[index] : 0; }

// ---- Panel images ---------------------------------------------------------------------

void InitPanelImages(RsrcFileRef file) {
  const ShellStartHooks& hooks = ShellStartHooksInUse();
  if (hooks.cursorImageFile) hooks.cursorImageFile(file);
  // The glyphs: sub-images of image 129 by rectangle list 129.
  Rect rects[kGlyphCount] = {};
  int32 count = kGlyphDefaultCount, read = 0;
  UHandle list = nullptr;
  if (RGet(file, kRectListType, kGlyphRectListId, &list) == kNoErr && list) {
    int32 stored = 0;
    if (ShellReadRectList(*list, AZGetHandleSize(list), rects, kGlyphCount, &stored, &read))
      DBMgErr(__FILE__, __LINE__, kArgErr, "rectangle list runs past its resource");
    count = stored;
    RRelease(list);
  } else {
    DBPrintf("couldn't get rList resource %ld", long(kGlyphRectListId));
  }
  if (count != kGlyphCount) DBAssert(__FILE__, __LINE__, "InitPanelImages: glyph count is not 94");
  if (read > 0) {
    if (MgErr err = IGet(file, kImagePixmap, kGlyphImageId, &gGlyphParent, 1)) {
      DBMgErr(__FILE__, __LINE__, err, "glyph image");
      gGlyphParent = 0;
    }
  }
  for (int32 i = 0; gGlyphParent && i < read; ++i) {
    if (MgErr err = ICreateSubImage(gGlyphParent, &rects[i], &gGlyphs[i])) {
      DBMgErr(__FILE__, __LINE__, err, "glyph sub-image");
      gGlyphs[i] = 0;
      continue;
    }
    HandToPanel(kGlyphPictBase + i, gGlyphs[i]);
  }
  static const int32 kPanelGlyphs[4] = {51, 52, 49, 50};
  for (int32 i = 0; i < 4; ++i) gPanelPicts[i] = gGlyphs[kPanelGlyphs[i]];
  if (gGlyphs[19]) MSetMenuCheck(gGlyphs[19]);
  // The control pictures belong to the controls.
  if (hooks.controlPicturesInit) hooks.controlPicturesInit();
  for (int32 i = 0; i < kStoredImageCount; ++i) {
    if (MgErr err = IGet(file, kImageFamily, kStoredImageFirst + i, &gStored[i], 1)) {
      DBPrintf("InitFPImages got an error %ld", long(err));
      gStored[i] = 0;
      continue;
    }
    HandToPanel(kStoredPictBase + i, gStored[i]);
  }
  if (hooks.listboxSymbolsInit) hooks.listboxSymbolsInit(kListboxSymbolBase);
}

void DisposePanelImages() {
  if (auto symbols = ShellStartHooksInUse().listboxSymbolsDispose) symbols();
  // The panel's entries first: none may name a released image.
  for (int32 i = 0; i < kGlyphCount; ++i) {
    if (!gGlyphs[i]) continue;
    HandToPanel(kGlyphPictBase + i, 0);
    IRelease(gGlyphs[i]);
    gGlyphs[i] = 0;
  }
  // The sub-images name their parent: it goes after them.
  if (gGlyphParent) IRelease(gGlyphParent);
  gGlyphParent = 0;
  for (int32 i = 0; i < kStoredImageCount; ++i) {
    if (!gStored[i]) continue;
    HandToPanel(kStoredPictBase + i, 0);
    IRelease(gStored[i]);
    gStored[i] = 0;
  }
  for (int32& p : gPanelPicts) p = 0;
  MSetMenuCheck(0);
  if (auto file = ShellStartHooksInUse().cursorImageFile) file(0);
}

int32 ShellGlyphImage(int32 n) { return n >= 0 && n < kGlyphCount ? gGlyphs[n] : 0; }
int32 ShellPanelPict(int32 which) { return which >= 0 && which < 4 ? gPanelPicts[which] : 0; }
int32 ShellStoredImage(int32 n) { return n >= 0 && n < kStoredImageCount ? gStored[n] : 0; }

// ---- Fonts and the run-time globals -----------------------------------------------------

void InitFontGlobals() {
  for (int32 i = 0; i < kShellFontSlots; ++i) gFonts[i] = TStandardFont(i);
  gTextMode = 3;
}

int32 ShellFont(int32 slot) { return slot >= 0 && slot < kShellFontSlots ? gFonts[slot] : 0; }
int32 ShellTextMode() { return gTextMode; }

void InitShellGlobals(uInt32 appVersion) {
  // No VI runs yet: the main loop's idle procedure finds the engine idle.
  ShellClearEngineActive();
  uInt32* block = QXRTGlobals();
  block[0] = uInt32(reinterpret_cast<uintptr_t>(LoadedVIListHead()));
  gFontRecord = ShellFontRecord{0, 0, TStandardFont(0)};
  block[3] = uInt32(reinterpret_cast<uintptr_t>(&gFontRecord));
  block[4] = 0;
  block[5] = appVersion;
}

void DisposeShellGlobals() {
  uInt32* block = QXRTGlobals();
  block[0] = block[3] = block[4] = block[5] = 0;
}
