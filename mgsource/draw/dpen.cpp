// The pen table, the selection of pens into the device context of the
// drawing state, and the normal pen's colour cache.
#include "mgsource/draw/dpen.h"

#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/picture.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/draw/hostslots.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "platform/qx_dc.h"

namespace {

// One pen of the table.  Colours are DColors (transparent stored as black);
// the host colours are what the host objects were made of.
struct PenEntry {
  uInt32 fore;
  uInt32 savedFore;  // the pen's own colours while black-and-white ones stand in
  uInt32 back;
  uInt32 savedBack;
  uChar pattern[8];
  int16 width;
  int16 mode;
  uInt32 style;
  uInt32 fill;
  uInt8 orgH;  // brush origin, 0 to 7
  uInt8 orgV;
  uInt16 flags;
  PlatObj pen;
  PlatObj brush;
  uInt32 hostFore;
  uInt32 hostBack;
};

constexpr int32 kGrowBy = 10;
constexpr int32 kMaxCount = 65535;  // the count is kept in 16 bits
constexpr int32 kCacheSize = 256;
constexpr int32 kMaxLive = 25;
constexpr uInt32 kMaxUses = 1000000;

UHandle gTable = nullptr;
uInt16 gCount = 0;
int32 gCur = kPenNone;
PlatObj gStockWhite = 0, gStockBlack = 0, gStockNull = 0;

struct CacheEntry {
  uInt32 uses;
  PlatObj pen;
  PlatObj brush;
};
CacheEntry gCache[kCacheSize];
int32 gLive = 0;
// A colour that is not in the palette, on a deep target.
PlatObj gOneOffPen = 0, gOneOffBrush = 0;

// The one-off objects of the colours off the palette used last, kept so
// that colours met again (the bands of gradients, the shades of bevels) are
// selected without making objects: 8 sets of 8, a colour's set chosen by
// its hash, the least recently used of a full set given up.
constexpr int32 kOneOffSets = 8, kOneOffWays = 8;
struct OneOff {
  DColor colour;
  uInt32 used;     // the clock at its last use; 0: empty
  uInt32 palette;  // the palette generation it was found off
  PlatObj pen;
  PlatObj brush;
};
OneOff gOneOffs[kOneOffSets][kOneOffWays];
uInt32 gOneOffClock = 0;
// The normal pen's objects last selected into the device context by
// DApplyPen, while the normal pen is current.
PlatObj gNormalPenSelected = 0, gNormalBrushSelected = 0;

const PenState kDefaultState = {kBlackColor, kWhiteColor, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, 0, 0, 0};

PenEntry* Entries() { return reinterpret_cast<PenEntry*>(*gTable); }

// A pen number of the table in use, from lo up.
bool Valid(int32 pen, int32 lo) {
  return gTable && pen >= lo && pen < int32(gCount) && (Entries()[pen].flags & kPenInUse);
}

DColor Stored(DColor c) { return c == kTransparentColor ? kBlackColor : c; }

bool Solid(const uChar* pattern) {
  uInt32 rows[2];
  std::memcpy(rows, pattern, 8);
  return (rows[0] & rows[1]) == 0xFFFFFFFFu;
}

bool KnownMode(int32 mode) { return mode >= 0 && mode <= 7; }

// Line raster operation of a mode; a mode outside the table copies.
int32 Rop2Of(int32 mode) {
  static const int32 kRop2[8] = {kPlatRop2CopyPen, kPlatRop2MergePen,   kPlatRop2XorPen,    kPlatRop2MaskNotPen,
                                 kPlatRop2NotCopyPen, kPlatRop2MergeNotPen, kPlatRop2NotXorPen, kPlatRop2MaskPen};
  return KnownMode(mode) ? kRop2[mode] : kPlatRop2CopyPen;
}

void DeleteUnlessStock(PlatObj obj) {
  if (obj && obj != gStockWhite && obj != gStockBlack && obj != gStockNull) PlatDeleteObject(obj);
}

// Makes the host pen and brush of a table pen from its fields, selects them
// into the device context when the pen is current or none is, and deletes
// the objects they replace.
void BuildHost(int32 pen) {
  PenEntry e = Entries()[pen];
  const PlatObj dc = gDrawState.dc;
  uInt32 hostFore = DColorToGDIColor(e.fore), hostBack = DColorToGDIColor(e.back);
  if (e.mode == 2 || e.mode == 6) {
    // The exclusive-or modes invert whatever the colours.
    hostFore = kWhiteColor;
    hostBack = kBlackColor;
  } else if (e.mode == 1) {
    hostBack = kBlackColor;
  } else if (e.mode != 0) {
    DBAssert(__FILE__, __LINE__, "pen transfer mode not supported");
  }
  const bool solid = Solid(e.pattern);
  bool exact = false;
  PlatObj brush = 0;
  if (solid) {
    brush = e.fore == kWhiteColor ? gStockWhite : PlatCreateSolidBrush(hostFore);
    exact = e.fore == kBlackColor || e.fore == kWhiteColor || (dc && PlatGetNearestColor(dc, hostFore) == hostFore);
  } else {
    // The host's 1 bits are the pattern's 0 bits; rows are 16-bit words.
    uChar bits[16] = {};
    for (int i = 0; i < 8; ++i) bits[2 * i] = uChar(~e.pattern[i]);
    const PlatObj bitmap = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
    brush = bitmap ? PlatCreatePatternBrush(bitmap) : 0;
    if (bitmap) PlatDeleteObject(bitmap);
  }
  if (!brush) {
    DBAssert(__FILE__, __LINE__, "cannot make the pen's brush");
    brush = gStockWhite;
  }
  PlatObj hostPen = 0;
  if (e.width != 0 && e.width != 1 && e.style != 0) hostPen = PlatCreatePen(int32(e.style), e.width, hostFore, true);
  else hostPen = PlatCreatePen(int32(e.style), e.width, hostFore);
  if (!hostPen) {
    DBAssert(__FILE__, __LINE__, "cannot make the host pen");
    hostPen = gStockBlack;
  }
  if (dc && (gCur == pen || gCur == kPenNone)) {
    PlatSelectObject(dc, brush);
    PlatSelectObject(dc, hostPen);
  }
  if (e.pen != hostPen) DeleteUnlessStock(e.pen);
  if (e.brush != brush) DeleteUnlessStock(e.brush);
  PenEntry& s = Entries()[pen];
  s.pen = hostPen;
  s.brush = brush;
  s.hostFore = hostFore;
  s.hostBack = hostBack;
  s.flags = uInt16((s.flags & ~kPenExactSolid) | (solid && exact ? kPenExactSolid : 0));
}

// Deletes the objects of a cache entry and clears it.
void DropCacheEntry(int32 i) {
  CacheEntry& c = gCache[i];
  if (c.pen || c.brush) --gLive;
  DeleteUnlessStock(c.pen);
  DeleteUnlessStock(c.brush);
  c = CacheEntry{0, 0, 0};
}

int32 Mod8(int32 v) { return ((v % 8) + 8) % 8; }

// The set of colour c among the kept one-off objects.
OneOff* OneOffSet(DColor c) { return gOneOffs[(c * 0x9E3779B1u) >> 29]; }

uInt32 Tick() {
  if (++gOneOffClock == 0) {
    // The clock wrapped: every kept pair counts as used long ago.
    for (auto& s : gOneOffs)
      for (OneOff& o : s)
        if (o.used) o.used = 1;
    gOneOffClock = 2;
  }
  return gOneOffClock;
}

// The kept one-off pen and brush of colour c, found off the palette as it
// is now: false when there are none.
bool KeptOneOff(DColor c, PlatObj* pen, PlatObj* brush) {
  OneOff* set = OneOffSet(c);
  for (int32 k = 0; k < kOneOffWays; ++k) {
    OneOff& o = set[k];
    if (o.used && o.colour == c && o.palette == DPaletteGeneration()) {
      o.used = Tick();
      *pen = o.pen;
      *brush = o.brush;
      return true;
    }
  }
  return false;
}

// New one-off pen and brush of colour c (red and blue exchanged, high byte
// 2, as a palette-relative host colour), kept in place of c's old ones or
// of the least recently used of its set.  False when they cannot be made.
bool NewOneOff(DColor c, PlatObj* pen, PlatObj* brush) {
  OneOff* set = OneOffSet(c);
  OneOff* victim = &set[0];
  for (int32 k = 0; k < kOneOffWays; ++k) {
    OneOff& o = set[k];
    if (o.used && o.colour == c) {
      victim = &o;
      break;
    }
    if (o.used < victim->used) victim = &o;
  }
  const uInt32 exact = 0x02000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  const PlatObj newPen = PlatCreatePen(kPlatPenSolid, 1, exact), newBrush = PlatCreateSolidBrush(exact);
  if (!newPen || !newBrush) {
    DeleteUnlessStock(newPen);
    DeleteUnlessStock(newBrush);
    return false;
  }
  DeleteUnlessStock(victim->pen);
  DeleteUnlessStock(victim->brush);
  *victim = OneOff{c, Tick(), DPaletteGeneration(), newPen, newBrush};
  *pen = newPen;
  *brush = newBrush;
  return true;
}

void DropOneOffs() {
  for (auto& set : gOneOffs)
    for (OneOff& o : set) {
      DeleteUnlessStock(o.pen);
      DeleteUnlessStock(o.brush);
      o = OneOff{0, 0, 0, 0, 0};
    }
  gOneOffClock = 0;
  gOneOffPen = gOneOffBrush = 0;
}

}  // namespace

int32 DNewPen(int32 base, int32 mask, const PenState* state) {
  PenState from = kDefaultState;
  if (base != kDefaultPenBase && DGetPenState(base, kPenAll, &from) != kNoErr) return 0;
  mask &= kPenAll;
  if (mask && !state) return 0;
  int32 pen = 0;
  if (!gTable) {
    gTable = AZNewHClr(int32(kGrowBy * sizeof(PenEntry)));
    if (!gTable) {
      DBPrintf("Can't allocate pen table");
      return 0;
    }
    gCount = kGrowBy;
  }
  for (int32 i = 1; i < int32(gCount); ++i) {
    if (!(Entries()[i].flags & kPenInUse)) {
      pen = i;
      break;
    }
  }
  if (!pen) {
    // The count would wrap past 16 bits and lose pens: no new pen instead.
    const int32 grown = int32(gCount) + kGrowBy;
    if (grown > kMaxCount) return 0;
    if (AZSetHSzClr(gTable, int32(grown * sizeof(PenEntry))) != kNoErr) return 0;
    pen = gCount;
    gCount = uInt16(grown);
  }
  PenEntry e{};
  e.fore = Stored(mask & kPenFore ? state->fore : from.fore);
  e.back = Stored(mask & kPenBack ? state->back : from.back);
  std::memcpy(e.pattern, mask & kPenPattern ? state->pattern : from.pattern, 8);
  e.width = mask & kPenWidth ? state->width : from.width;
  e.mode = mask & kPenMode ? state->mode : from.mode;
  e.style = mask & kPenStyle ? state->style : from.style;
  e.fill = mask & kPenFill ? state->fill : from.fill;
  e.flags = kPenChanged | kPenInUse | kPenExactSolid;
  Entries()[pen] = e;
  BuildHost(pen);
  return pen;
}

void DDestroyPen(int32 pen) {
  if (!Valid(pen, kGrayPen)) return;
  PenEntry& e = Entries()[pen];
  e.flags = uInt16(e.flags & ~kPenInUse);
  const PlatObj dc = gDrawState.dc;
  if (dc && (gCur == pen || gCur == kPenNone)) {
    PlatSelectObject(dc, gStockBlack);
    PlatSelectObject(dc, gStockWhite);
  }
  DeleteUnlessStock(e.pen);
  DeleteUnlessStock(e.brush);
  e.pen = e.brush = 0;
  if (gCur == pen) gCur = kPenNone;
}

MgErr DGetPenState(int32 pen, int32 mask, PenState* state) {
  if (pen == kCurrentPen) pen = gCur;
  if (!Valid(pen, kNormalPen)) return kPenErr;
  mask &= kPenAll;
  if (mask && !state) return kArgErr;
  const PenEntry& e = Entries()[pen];
  if (mask & kPenFore) state->fore = e.fore;
  if (mask & kPenBack) state->back = e.back;
  if (mask & kPenPattern) std::memcpy(state->pattern, e.pattern, 8);
  if (mask & kPenWidth) state->width = e.width;
  if (mask & kPenMode) state->mode = e.mode;
  if (mask & kPenStyle) state->style = e.style;
  if (mask & kPenFill) state->fill = e.fill;
  return kNoErr;
}

MgErr DSetPenState(int32 pen, int32 mask, const PenState* state) {
  // While a picture is recorded the change belongs to the picture: it is
  // recorded, the pen stays as it is.  The current pen is recorded as -1.
  if (gDrawState.recording) {
    if ((mask & kPenAll) && !state) return kArgErr;
    PictOpArgs a;
    a.ref = uInt32(pen == kCurrentPen ? -1 : pen);
    a.mask = uInt32(mask & kPenAll);
    if (state) {
      a.penFore = state->fore;
      a.penBack = state->back;
      std::memcpy(a.pattern, state->pattern, 8);
      a.width = state->width;
      a.mode = state->mode;
      a.style = int32(state->style);
      a.fill = int32(state->fill);
    }
    DRecordPictOp(kPictOpPenState, &a);
    return kNoErr;
  }
  if (pen == kCurrentPen) pen = gCur;
  if (!Valid(pen, kGrayPen)) return kPenErr;
  mask &= kPenAll;
  if (mask && !state) return kArgErr;
  PenEntry& e = Entries()[pen];
  const DColor startFore = e.fore, startBack = e.back;
  // The pen's own colours come back before they are compared.
  const bool overrideUndone = (e.flags & kPenBWOverride) != 0;
  if (overrideUndone) {
    e.fore = e.savedFore;
    e.back = e.savedBack;
    e.flags = uInt16(e.flags & ~kPenBWOverride);
  }
  if ((mask & kPenFore) && Stored(state->fore) == e.fore) mask &= ~kPenFore;
  if ((mask & kPenBack) && Stored(state->back) == e.back) mask &= ~kPenBack;
  if ((mask & kPenPattern) && std::memcmp(state->pattern, e.pattern, 8) == 0) mask &= ~kPenPattern;
  if ((mask & kPenWidth) && state->width == e.width) mask &= ~kPenWidth;
  if ((mask & kPenMode) && state->mode == e.mode) mask &= ~kPenMode;
  if ((mask & kPenStyle) && state->style == e.style) mask &= ~kPenStyle;
  if ((mask & kPenFill) && state->fill == e.fill) mask &= ~kPenFill;
  if (!mask && !overrideUndone) return kNoErr;
  if (mask & kPenFore) e.fore = Stored(state->fore);
  if (mask & kPenBack) e.back = Stored(state->back);
  if (mask & kPenPattern) std::memcpy(e.pattern, state->pattern, 8);
  if (mask & kPenWidth) e.width = state->width;
  if (mask & kPenMode) e.mode = state->mode;
  if (mask & kPenStyle) e.style = state->style;
  if (mask & kPenFill) e.fill = state->fill;
  e.flags |= kPenChanged;
  // Undoing an override rebuilds whatever the pen: its objects were made of
  // the black-and-white colours.
  if ((mask & (kPenWidth | kPenMode | kPenStyle | kPenPattern)) ||
      ((mask & (kPenFore | kPenBack)) && e.mode != 2) || overrideUndone)
    BuildHost(pen);
  if (pen == gCur) {
    gCur = kPenNone;
    DSelectPen(pen, startFore, startBack);
  }
  return kNoErr;
}

bool DPenForPage(int32 pen, DPenView* out) {
  if (!Valid(pen, kGrayPen) || !out) return false;
  PenEntry& e = Entries()[pen];
  const bool own = !(e.flags & kPenBWOverride);
  out->fore = own ? e.fore : e.savedFore;
  out->back = own ? e.back : e.savedBack;
  std::memcpy(out->pattern, e.pattern, 8);
  out->width = e.width;
  out->mode = e.mode;
  out->style = e.style;
  out->changed = (e.flags & kPenChanged) != 0;
  e.flags = uInt16(e.flags & ~kPenChanged);
  return true;
}

MgErr DApplyPen(int32 pen) {
  const PlatObj dc = gDrawState.dc;
  if (!Valid(pen, kNormalPen) || !dc) return kPenErr;
  PenEntry* all = Entries();
  PenEntry& e = all[pen];
  e.flags = uInt16(e.flags & ~kPenChanged);
  gDrawState.invisiblePen = 0;
  const bool prevValid = Valid(gCur, kNormalPen);
  const PenEntry* prev = prevValid ? &all[gCur] : nullptr;
  if (!prev || prev->mode != e.mode) PlatSetRop2(dc, Rop2Of(e.mode));
  if (!prev || prev->fill != e.fill) PlatSetPolyFillMode(dc, e.fill ? kPlatFillWinding : kPlatFillAlternate);
  // The normal pen's objects change under it: re-applied, it is compared
  // with the objects it selected last.
  const bool again = prev && pen == kNormalPen && gCur == kNormalPen;
  const PlatObj prevPen = again ? gNormalPenSelected : prev ? prev->pen : 0;
  const PlatObj prevBrush = again ? gNormalBrushSelected : prev ? prev->brush : 0;
  if (!prev || prevPen != e.pen) PlatSelectObject(dc, e.pen);
  if (!prev || prevBrush != e.brush) PlatSelectObject(dc, e.brush);
  gNormalPenSelected = e.pen;
  gNormalBrushSelected = e.brush;
  if (pen != kNormalPen) {
    const bool colours = !prev || gCur == kNormalPen;
    if (colours || prev->hostFore != e.hostFore) PlatSetTextColor(dc, e.hostFore);
    if (colours || prev->hostBack != e.hostBack) PlatSetBkColor(dc, e.hostBack);
  }
  if (e.brush != gStockWhite && !(e.flags & kPenExactSolid)) {
    // Patterns stay aligned to the screen when windows move.
    Rect global{0, 0, 0, 0};
    if (gDrawState.window) WGetGlobalRect(gDrawState.window, &global);
    const int32 h = Mod8(global.left - gDrawState.originH), v = Mod8(global.top - gDrawState.originV);
    PlatSelectObject(dc, gStockNull);
    PlatSetBrushOrg(dc, h, v, nullptr, nullptr);
    PlatUnrealizeObject(e.brush);
    PlatSelectObject(dc, e.brush);
    e.orgH = uInt8(h);
    e.orgV = uInt8(v);
  }
  gCur = pen;
  return kNoErr;
}

int32 HostSelectNormPen(DColor colour, DColor bwColour) {
  // While a picture is recorded the selection belongs to the picture.
  if (gDrawState.recording) {
    PictOpArgs a;
    a.colours[0] = colour;
    a.colours[2] = bwColour;
    DRecordPictOp(kPictOpNormPen, &a);
    return 0;
  }
  if (!gDrawState.window) return DBAssert(__FILE__, __LINE__, "DSelectNormPen: no target window");
  const DColor c = gDrawState.bw ? bwColour : colour;
  gDrawState.invisiblePen = colour == kTransparentColor || c == kTransparentColor ? 1 : 0;
  if (gDrawState.invisiblePen) return 0;
  if (!Valid(kNormalPen, kNormalPen)) return DBAssert(__FILE__, __LINE__, "DSelectNormPen: no pen table");
  if (gCur == kNormalPen && Entries()[kNormalPen].fore == c) return 0;
  Entries()[kNormalPen].fore = c;
  PlatObj pen = 0, brush = 0;
  // A colour already found off the palette on a deep target keeps its
  // objects.
  const bool kept = gDrawState.depth > 8 && KeptOneOff(c, &pen, &brush);
  DColor matched = 0;
  int32 i = kept ? -1 : DColorToIndex(c, 8, &matched);
  if (!kept && (gDrawState.depth <= 8 || matched == c) && i >= 0 && i < kCacheSize) {
    CacheEntry& ce = gCache[i];
    const bool screen = HostIsScreenPort() != 0;
    if (screen && ce.pen && ce.brush) {
      pen = ce.pen;
      brush = ce.brush;
    } else {
      if (ce.pen || ce.brush) {
        // Objects made for another kind of port are made again.
        ce.uses = 0;
        if (gDrawState.dc) {
          PlatSelectObject(gDrawState.dc, gStockWhite);
          PlatSelectObject(gDrawState.dc, gStockBlack);
        }
        DeleteUnlessStock(ce.pen);
        DeleteUnlessStock(ce.brush);
        ce.pen = ce.brush = 0;
        gCur = kPenNone;
        --gLive;
      }
      const uInt32 host = DColorToGDIColor(c);
      brush = c == kWhiteColor ? gStockWhite : PlatCreateSolidBrush(host);
      pen = PlatCreatePen(kPlatPenSolid, 1, host);
      if (!pen || !brush) {
        DBAssert(__FILE__, __LINE__, "DSelectNormPen: cannot make the pen's objects");
        DeleteUnlessStock(pen);
        DeleteUnlessStock(brush);
        pen = gStockBlack;
        brush = gStockWhite;
      } else {
        ce.pen = pen;
        ce.brush = brush;
        ++gLive;
      }
    }
  } else {
    // A deep target and a colour off the palette: the exact colour.
    i = -1;
    if (!kept && !NewOneOff(c, &pen, &brush)) {
      DBAssert(__FILE__, __LINE__, "DSelectNormPen: cannot make the pen's objects");
      pen = gStockBlack;
      brush = gStockWhite;
    }
    gOneOffPen = pen;
    gOneOffBrush = brush;
  }
  PenEntry& normal = Entries()[kNormalPen];
  normal.pen = pen;
  normal.brush = brush;
  if (gCur == kNormalPen && gDrawState.dc && (normal.flags & kPenExactSolid)) {
    // The normal pen again in another colour: only its objects change (its
    // mode, fill and exactness stay), those that differ are selected.
    normal.flags = uInt16(normal.flags & ~kPenChanged);
    if (pen != gNormalPenSelected) PlatSelectObject(gDrawState.dc, pen);
    if (brush != gNormalBrushSelected) PlatSelectObject(gDrawState.dc, brush);
    gNormalPenSelected = pen;
    gNormalBrushSelected = brush;
  } else if (DApplyPen(kNormalPen) != kNoErr) {
    DBAssert(__FILE__, __LINE__, "DSelectNormPen: cannot apply the pen");
  }
  if (i >= 0) {
    CacheEntry& ce = gCache[i];
    if (++ce.uses > kMaxUses) ce.uses = 1;
    if (gLive >= kMaxLive) {
      int32 victim = -1;
      for (int32 k = 0; k < kCacheSize; ++k) {
        if (k == i || !gCache[k].uses || !(gCache[k].pen || gCache[k].brush)) continue;
        if (victim < 0 || gCache[k].uses < gCache[victim].uses) victim = k;
      }
      if (victim >= 0) DropCacheEntry(victim);
    }
  }
  return 0;
}

int32 HostSelectPen(int32 pen, DColor bwFore, DColor bwBack) {
  // While a picture is recorded the selection belongs to the picture.
  if (gDrawState.recording) {
    PictOpArgs a;
    a.ref = uInt32(pen);
    a.colours[2] = bwFore;
    a.colours[3] = bwBack;
    DRecordPictOp(kPictOpSelectPen, &a);
    return 0;
  }
  if (pen == kCurrentPen) {
    if (gCur == kNormalPen) {
      const DColor fore = Entries()[kNormalPen].fore;
      return HostSelectNormPen(gDrawState.invisiblePen ? kTransparentColor : fore, fore);
    }
    pen = gCur;
  }
  gDrawState.invisiblePen = 0;
  if (!gDrawState.window) return DBAssert(__FILE__, __LINE__, "DSelectPen: no target window");
  if (!Valid(pen, kGrayPen)) {
    gCur = kPenNone;
    return DBAssert(__FILE__, __LINE__, "DSelectPen: pen does not exist");
  }
  PenEntry& e = Entries()[pen];
  bool rebuild = false;
  // Black-and-white colours stand in for the pen's own on a black-and-white
  // port; its objects are made again whenever the colours change.
  if (gDrawState.bw) {
    const DColor f = Stored(bwFore), b = Stored(bwBack);
    if (!(e.flags & kPenBWOverride)) {
      e.savedFore = e.fore;
      e.savedBack = e.back;
      e.flags |= kPenBWOverride;
      gCur = kPenNone;
    } else if (e.fore != f || e.back != b) {
      gCur = kPenNone;
    }
    rebuild = e.fore != f || e.back != b;
    e.fore = f;
    e.back = b;
  } else if (e.flags & kPenBWOverride) {
    rebuild = e.fore != e.savedFore || e.back != e.savedBack;
    e.fore = e.savedFore;
    e.back = e.savedBack;
    e.flags = uInt16(e.flags & ~kPenBWOverride);
    gCur = kPenNone;
  }
  if (pen == gCur && !(e.flags & kPenChanged)) return 0;
  if (rebuild || !HostIsScreenPort()) BuildHost(pen);
  if (DApplyPen(pen) != kNoErr) DBAssert(__FILE__, __LINE__, "DSelectPen: cannot apply the pen");
  return 0;
}

void DSaveCurPen(DPenRecord* record) {
  if (!record) return;
  if (gDrawState.invisiblePen) {
    // An invisible normal pen is kept as what it is.
    *record = DPenRecord{kNormalPen, kTransparentColor};
    return;
  }
  record->pen = gCur;
  record->colour = gCur == kNormalPen && Valid(kNormalPen, kNormalPen) ? Entries()[kNormalPen].fore : 0;
}

void DRestoreCurPen(const DPenRecord* record) {
  if (!record) return;
  if (record->pen == kPenNone) {
    DForgetPen();
  } else if (record->pen == kNormalPen) {
    DSelectNormPen(record->colour, record->colour);
  } else {
    // The black-and-white colours are those of the pen current now (they
    // only matter on black-and-white ports); the pen's own without one.
    const int32 from = Valid(gCur, kNormalPen) ? gCur : record->pen;
    DColor fore = kBlackColor, back = kWhiteColor;
    if (Valid(from, kNormalPen)) {
      fore = Entries()[from].fore;
      back = Entries()[from].back;
    }
    DSelectPen(record->pen, fore, back);
  }
}

void DForgetPen() { gCur = kPenNone; }

void DInitDraw() {
  if (gTable) DDisposeDraw();
  gStockWhite = PlatGetStockObject(kPlatStockWhiteBrush);
  gStockBlack = PlatGetStockObject(kPlatStockBlackPen);
  gStockNull = PlatGetStockObject(kPlatStockNullBrush);
  if (!gStockNull) DBAssert(__FILE__, __LINE__, "DInitDraw: no null brush");
  for (CacheEntry& c : gCache) c = CacheEntry{0, 0, 0};
  gLive = 0;
  for (auto& set : gOneOffs)
    for (OneOff& o : set) o = OneOff{0, 0, 0, 0, 0};
  gOneOffClock = 0;
  gOneOffPen = gOneOffBrush = 0;
  DFillTangentTable();
  gCur = kPenNone;
  gCount = 0;
  // The normal pen takes its objects from the colour cache.
  const int32 normal = DNewPen(kDefaultPenBase, 0, nullptr);
  if (normal == kNormalPen) {
    PenEntry& e = Entries()[normal];
    DeleteUnlessStock(e.pen);
    DeleteUnlessStock(e.brush);
    e.pen = e.brush = 0;
  }
  PenState gray = kDefaultState;
  static const uChar kGray[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
  std::memcpy(gray.pattern, kGray, 8);
  gray.mode = 1;
  if (normal != kNormalPen || DNewPen(kDefaultPenBase, kPenPattern | kPenMode, &gray) != kGrayPen)
    DBAssert(__FILE__, __LINE__, "DInitDraw: cannot make the built-in pens");
}

void DDisposeDraw() {
  for (int32 i = 0; i < kCacheSize; ++i) DropCacheEntry(i);
  gLive = 0;
  if (gTable) {
    for (int32 p = kGrayPen; p < int32(gCount); ++p) {
      PenEntry& e = Entries()[p];
      if (!(e.flags & kPenInUse)) continue;
      DeleteUnlessStock(e.pen);
      DeleteUnlessStock(e.brush);
    }
    AZDisposeHandle(gTable);
    gTable = nullptr;
  }
  DropOneOffs();
  DSetPointBuf(0);
  gCount = 0;
  gCur = kPenNone;
}

DPenUse DCurrentPenUse() {
  const int32 pen = Valid(gCur, kNormalPen) ? gCur : Valid(kNormalPen, kNormalPen) ? kNormalPen : kPenNone;
  if (pen == kPenNone) return DPenUse{1, 0, false, true, 0};
  const PenEntry& e = Entries()[pen];
  return DPenUse{e.width < 0 ? 0 : e.width, e.mode, !Solid(e.pattern), (e.flags & kPenExactSolid) != 0, e.style};
}

int32 DCurrentPenNumber() { return gCur; }

uInt32 DModeFillOp(int32 mode) {
  switch (mode) {
    case 0: return kPlatPatCopy;
    case 1: return kPlatPatMerge;
    case 2: return kPlatPatInvert;
    default:
      // No fill of the other modes: reported, then copied as frames do.
      DBAssert(__FILE__, __LINE__, "fill in this transfer mode not supported");
      return kPlatPatCopy;
  }
}

uInt32 DNullBrush() { return gStockNull; }

void DGetCacheInfo(DCacheInfo* out) {
  out->live = gLive;
  for (int32 i = 0; i < kCacheSize; ++i) {
    out->useCount[i] = gCache[i].uses;
    out->held[i] = gCache[i].pen || gCache[i].brush;
  }
}

void DSetCacheUseCount(int32 index, uInt32 count) {
  if (index >= 0 && index < kCacheSize) gCache[index].uses = count;
}

void DGetOneOffPair(uInt32* pen, uInt32* brush) {
  *pen = gOneOffPen;
  *brush = gOneOffBrush;
}

int32 DPenCount() { return gCount; }
