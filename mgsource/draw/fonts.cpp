// The font table: reference-counted entries of host fonts with their
// metrics and width information, and the standard fonts.
#include "mgsource/draw/fonts.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mgsource/config.h"
#include "mgsource/cfgwords.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts_internal.h"
#include "mgsource/memory.h"
#include "platform/qx_dc.h"
#include "platform/qx_font.h"
#include "platform/qx_text.h"

int32 gFontErr = 0;
int32 gFontSubstituted = 0;

namespace fontsinternal {

UHandle gTable = nullptr;   // FontEntry[capacity], capacity a multiple of 8
int32 gFcnt = 0;
int32 gWidthOverride = 0;   // CreateFont's width while TScaleFont runs
float32 gTTMultiplier = 1.05f;
float32 gBitmapMultiplier = 1.3f;

namespace {
PlatObj gCurFontObj = 0;    // the font object last selected into gCurFontDc
PlatObj gCurFontDc = 0;
PlatObj gDefaultFont = 0;   // the stock variable-pitch font
int32 gStdBuiltIn[3] = {-1, -1, -1};
int32 gStdCur[3] = {-1, -1, -1};
int32 gBoldApp = -1;
int32 gFixed = -1;
bool gInitializing = false;
PlatObj gScreenDc = 0;
PlatObj gPrinterDc = 0;

const char* const kStdNames[3] = {"APP", "SYSTEM", "DIALOG"};

int32 Capacity() { return gTable ? AZGetHandleSize(gTable) / int32(sizeof(FontEntry)) : 0; }

// Finding slots without scanning the table: the named slots by what a
// request matches (the name without regard to case, size, style under the
// match mask, weight), and the free and the cached slots in order.  Every
// change of a slot's name, key fields or count between 0 and 1 keeps them.
std::unordered_map<std::string, std::vector<int32>> gByKey;
std::set<int32> gFree, gCached;

std::string KeyOf(ConstPStr name, int32 size, int32 style, int32 weight) {
  std::string k(size_t(name[0]) + 7, '\0');
  for (int32 i = 1; i <= name[0]; ++i) {
    const uChar c = name[i];
    k[size_t(i - 1)] = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  const uInt16 fields[3] = {uInt16(size), uInt16(style & kFontMatchMask), uInt16(weight)};
  std::memcpy(&k[size_t(name[0]) + 1], fields, sizeof fields);
  return k;
}

std::string KeyOfSlot(int32 i) {
  const FontEntry* e = Entry(i);
  return KeyOf(*e->name, e->size, e->style, e->weight);
}

void IndexSlot(int32 i) { gByKey[KeyOfSlot(i)].push_back(i); }

void UnindexSlot(int32 i) {
  auto it = gByKey.find(KeyOfSlot(i));
  if (it == gByKey.end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), i), v.end());
  if (v.empty()) gByKey.erase(it);
}

void ForgetSlots() {
  gByKey.clear();
  gFree.clear();
  gCached.clear();
}

// The first named slot a request matches, -1 for none.
int32 FindSlot(ConstPStr name, int32 size, int32 style, int32 weight) {
  auto it = gByKey.find(KeyOf(name, size, style, weight));
  if (it == gByKey.end() || it->second.empty()) return -1;
  return *std::min_element(it->second.begin(), it->second.end());
}

// While a limit is set, the fonts that may still be made anew, and the
// requests refused past it.
struct Limit {
  int32 left = -1;  // -1: no limit
  int32 refused = 0;
};
Limit gLimit;

bool SameName(const uChar* a, const uChar* b) {
  if (a[0] != b[0]) return false;
  for (int32 i = 1; i <= a[0]; ++i) {
    uChar x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = uChar(x + 32);
    if (y >= 'A' && y <= 'Z') y = uChar(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The standard font a one-character name "0", "1" or "2" stands for; -1.
int32 StandardIndex(ConstPStr name) {
  return name[0] == 1 && name[1] >= '0' && name[1] <= '2' ? name[1] - '0' : -1;
}

int32 WeightWordFromHost(int32 w) {
  if (w == 0) return 0;
  return w <= 400 ? (w - 400) * 10 / 3 : (w - 400) / 5;
}

int32 HostWeight(int32 word) { return word * (word < 0 ? 3 : 5) / 1000 * 100 + 400; }

UHandle NewName(const uChar* pstr) {
  UHandle h = AZNewHandle(1 + pstr[0]);
  if (h) std::memcpy(*h, pstr, size_t(pstr[0]) + 1);
  return h;
}

void DeleteObject(FontEntry* e) {
  if (!e->object) return;
  // The context that holds it takes the default font first (a context
  // gone since holds nothing).
  if (e->object == gCurFontObj && PlatCurrentObject(gCurFontDc, kPlatObjFont) == e->object)
    TSelectFontIntoDC(gCurFontDc, gDefaultFont);
  if (!(e->style & kFontStock) && e->object != gDefaultFont) PlatDeleteObject(e->object);
  e->object = 0;
}

// Frees a cached slot: font object (unless stock) and name.
void FreeSlot(int32 i) {
  FontEntry* e = Entry(i);
  if (e->refs != 0 || !e->name) return;
  UnindexSlot(i);
  gCached.erase(i);
  gFree.insert(i);
  DeleteObject(e);
  AZDisposeHandle(e->name);
  std::memset(e, 0, sizeof(FontEntry));
}

struct EnumState {
  int32 mode;            // 1 list the faces, 3 copy the first match
  PlatFontDesc desc;
  bool found;
  UHandle list;          // mode 1: a CPStr being built
  int32 used;
};

void FreeCachedFrom(int32 from) {
  for (int32 i = from; i < gFcnt; ++i)
    if (Entry(i)->name && Entry(i)->refs == 0) FreeSlot(i);
}

}  // namespace

FontEntry* Entry(int32 i) { return reinterpret_cast<FontEntry*>(*gTable) + i; }

bool Valid(int32 font) { return gTable && font >= 0 && font < gFcnt && Entry(font)->refs > 0; }

int32 AppFont() {
  EnsureFonts();
  return Valid(gStdCur[0]) ? gStdCur[0] : kAppFont;
}

void EnsureFonts() {
  if (!gTable && !gInitializing) TXInitFonts();
}

PlatObj ScreenDc() {
  if (!gScreenDc) gScreenDc = PlatCreateScreenDc();
  return gScreenDc;
}

PlatObj MeasureDc() { return gDrawState.dc ? gDrawState.dc : ScreenDc(); }

PlatObj PrinterDc() { return gPrinterDc ? gPrinterDc : ScreenDc(); }

bool EnumFontsProc(const PlatFontDesc& desc, void* data) {
  EnumState* s = static_cast<EnumState*>(data);
  if (s->mode == 3) {
    s->desc = desc;
    s->found = true;
    return false;
  }
  if (s->mode == 1) {
    const int32 n = int32(strnlen(desc.face, sizeof(desc.face)));
    const int32 len = n > 254 ? 254 : n;
    if (AZSetHandleSize(s->list, s->used + 1 + len) != kNoErr) return false;
    uChar* at = *s->list + s->used;
    at[0] = uChar(len);
    std::memcpy(at + 1, desc.face, size_t(len));
    s->used += 1 + len;
    PutNative32(*s->list, GetNative32(*s->list) + 1);
    return true;
  }
  DBPrintf("In EnumFontsProc with invalid parameter");
  return false;
}

// Width information of slot i (fixed width, flags, the table after the name).
void ComputeWidths(int32 i) {
  FontEntry* e = Entry(i);
  e->fixedWidth = 0;
  e->widthFlags = 0;
  if (e->name && AZGetHandleSize(e->name) != 1 + (*e->name)[0]) AZSetHandleSize(e->name, 1 + (*e->name)[0]);
  if (e->size < 1) return;
  PlatTextMetrics tm{};
  if (!PlatGetFontMetrics(e->object, &tm)) return;
  uInt16 flags = 0;
  if (tm.charSet != 0) flags |= kFontNotAnsi;
  if (tm.pitchAndFamily & (2 | 4)) flags |= kFontScalable;
  e->widthFlags = flags;
  if (e->style & kFontResolveName) return;
  const PlatObj dc = ScreenDc();
  TSelectFontIntoDC(dc, e->object);
  uChar widths[256];
  for (int32 b = 0; b < 256; ++b) {
    const char c = char(b);
    int32 w = 0;
    PlatGetTextExtent(dc, &c, 1, &w, nullptr);
    if (w >= 256 || w < 0) return;
    widths[b] = uChar(w);
  }
  int32 wi = 0;
  PlatGetTextExtent(dc, "Wi", 2, &wi, nullptr);
  if (wi != widths[uChar('W')] + widths[uChar('i')]) return;
  flags |= kFontHexFixed;
  bool same = true;
  for (int32 b = 1; b < 256 && same; ++b) same = widths[b] == widths[0];
  if (same) {
    e->fixedWidth = widths[0];
    e->widthFlags = flags;
    return;
  }
  for (const char* c = "0123456789ABCDEF"; *c; ++c)
    if (widths[uChar(*c)] != widths[uChar(' ')]) flags &= ~kFontHexFixed;
  if (!(flags & kFontNotAnsi)) {
    const int32 n = 1 + (*e->name)[0];
    if (AZSetHandleSize(e->name, n + 256) == kNoErr) {
      e = Entry(i);
      std::memcpy(*e->name + n, widths, 256);
      flags |= kFontWidthTable;
    }
  }
  e->widthFlags = flags;
}

}  // namespace fontsinternal

using namespace fontsinternal;

void TSelectFontIntoDC(PlatObj dc, PlatObj fontObject) {
  if (!dc || !fontObject) return;
  if (PlatCurrentObject(dc, kPlatObjFont) != fontObject && !PlatSelectObject(dc, fontObject))
    DBPrintf("!SelectObject failed: font %lx, hdc %lx", (unsigned long)fontObject, (unsigned long)dc);
  gCurFontObj = fontObject;
  gCurFontDc = dc;
}

void TSetPrinterFontDC(PlatObj dc) { gPrinterDc = dc; }

int32 TNewFont(ConstPStr name, int32 size, int32 style, int32 weight) {
  EnsureFonts();
  if (!name || name[0] == 0) {
    const int32 app = AppFont();
    TAddFontReference(app);
    gFontErr = 0;
    return app;
  }
  gFontErr = 0;
  style &= kFontMatchMask;
  if (weight > 1000) weight = 1000;
  if (weight < -1000) weight = -1000;
  const int16 hsize = int16(size > 32767 ? 32767 : size < -32768 ? -32768 : size);
  if (const int32 i = FindSlot(name, hsize, style, weight); i >= 0) {
    FontEntry* e = Entry(i);
    if (e->refs++ == 0) gCached.erase(i);
    if (e->style & kFontSubstitute) gFontErr |= 4;
    return i;
  }
  // A font made anew past the limit of the stored object being read.
  if (gLimit.left == 0) {
    ++gLimit.refused;
    gFontErr |= 4;
    const int32 app = AppFont();
    TAddFontReference(app);
    return app;
  }
  const int32 firstFree = gFree.empty() ? -1 : *gFree.begin();
  const int32 lastCached = gCached.empty() ? -1 : *gCached.rbegin();
  // Not found: the face, character set, size and weight.
  PlatFontDesc desc{};
  desc.height = hsize;
  desc.width = gWidthOverride;
  desc.charSet = 0;
  int32 wword = weight;
  int32 sty = style;
  bool fromSystem = false;
  PlatObj object = 0;
  const int32 std = StandardIndex(name);
  if (std < 0) {
    PlatSetFaceName(&desc, reinterpret_cast<const char*>(name + 1), name[0]);
  } else if (hsize != 0) {
    uChar real[256];
    if (Valid(gStdCur[std])) GetRealName(gStdCur[std], real);
    else std::memcpy(real, "\x09Helvetica", 10);
    PlatSetFaceName(&desc, reinterpret_cast<const char*>(real + 1), real[0]);
  } else if (PlatFontsAvailable()) {
    // The system's description of the font: the menu font for the system
    // font, the icon-title font for the others.
    PlatFontDesc sys{};
    if (std == 1) PlatGetMenuFont(&sys);
    else PlatGetIconTitleFont(&sys);
    fromSystem = true;
    desc.height = sys.height;
    desc.charSet = sys.charSet;
    std::memcpy(desc.face, sys.face, sizeof(desc.face));
    sty = (sys.italic ? kFontItalic : 0) | (sys.underline ? kFontUnderline : 0) | (sys.strikeOut ? kFontStrikeout : 0);
    wword = WeightWordFromHost(sys.weight);
  } else {
    // No system description: the stock fonts decide.
    const PlatObj sysFont = PlatGetStockObject(kPlatStockFont2), varFont = PlatGetStockObject(kPlatStockFont);
    PlatFontDesc sd{}, vd{};
    PlatGetFontDesc(sysFont, &sd);
    PlatGetFontDesc(varFont, &vd);
    fromSystem = true;
    if (std == 1) {
      object = sysFont;
      sty |= kFontStock;
    } else if (sd.charSet != vd.charSet) {
      desc = sd;
      desc.height = vd.height;
    } else if (std == 0) {
      object = varFont;
      sty |= kFontStock;
    } else {
      desc = vd;
    }
    if (!object) {
      sty = (desc.italic ? kFontItalic : 0) | (desc.underline ? kFontUnderline : 0) |
            (desc.strikeOut ? kFontStrikeout : 0);
      wword = WeightWordFromHost(desc.weight);
    }
  }
  if (!object) {
    EnumState s{};
    s.mode = 3;
    PlatEnumFonts(desc.face, kPlatFaceNameSize, &EnumFontsProc, &s);
    if (s.found) desc.charSet = s.desc.charSet;
    desc.italic = (sty & kFontItalic) != 0;
    desc.underline = (sty & kFontUnderline) != 0;
    desc.strikeOut = (sty & kFontStrikeout) != 0;
    desc.weight = HostWeight(wword);
    desc.width = gWidthOverride;
    object = PlatCreateFont(desc);
    if (object && (sty & kFontResolveName)) {
      const PlatObj dc = ScreenDc();
      TSelectFontIntoDC(dc, object);
      char face[256] = {0};
      PlatGetTextFace(dc, face, 256);
      TSelectFontIntoDC(dc, gDefaultFont ? gDefaultFont : PlatGetStockObject(kPlatStockFont));
      PlatSetFaceName(&desc, face, 256);
      const PlatObj again = PlatCreateFont(desc);
      PlatDeleteObject(object);
      object = again;
    }
  }
  if (!object) {
    gFontErr |= 4;
    object = PlatGetStockObject(kPlatStockFont);
    sty |= kFontSubstitute;
  }
  // The slot.
  int32 slot = firstFree;
  if (slot < 0 && lastCached >= 0) {
    slot = lastCached;
    FreeSlot(slot);
  }
  if (slot < 0) {
    if (gFcnt >= Capacity()) {
      // The table grows by half its slots (8 at least, a multiple of 8), so
      // that making many fonts does not copy it each eighth time.
      const int32 grow = std::max<int32>(8, (gFcnt / 2 + 7) / 8 * 8);
      if (AZSetHSzClr(gTable, (gFcnt + grow) * int32(sizeof(FontEntry))) != kNoErr) {
        if (!(sty & kFontStock) && object != PlatGetStockObject(kPlatStockFont)) PlatDeleteObject(object);
        gFontErr |= 4;
        const int32 app = AppFont();
        TAddFontReference(app);
        return app;
      }
    }
    slot = gFcnt++;
  }
  gFree.erase(slot);
  UHandle nameH = NewName(name);
  FontEntry* e = Entry(slot);
  std::memset(e, 0, sizeof(FontEntry));
  e->name = nameH;
  e->refs = 1;
  e->object = object;
  e->size = hsize;
  e->style = uInt16(sty);
  e->weight = int16(wword);
  PlatTextMetrics tm{};
  PlatGetFontMetrics(object, &tm);
  e->ascent = uInt16(tm.ascent);
  e->descent = uInt16(tm.descent);
  e->leading = uInt16(tm.externalLeading);
  if (fromSystem) {
    e->size = int16(tm.height);
    e->weight = int16(WeightWordFromHost(tm.weight));
  }
  const int32 sum = e->ascent + e->descent + e->leading;
  if (sum < 3) e->ascent = uInt16(e->ascent + 3 - sum);
  if (!nameH) {
    // No memory for the name: the slot cannot be kept.
    e->refs = 0;
    DeleteObject(e);
    std::memset(e, 0, sizeof(FontEntry));
    gFree.insert(slot);
    gFontErr |= 4;
    const int32 app = AppFont();
    TAddFontReference(app);
    return app;
  }
  IndexSlot(slot);
  if (gLimit.left > 0) --gLimit.left;
  ComputeWidths(slot);
  return slot;
}

void TDisposeFont(int32 font) {
  if (!Valid(font)) {
    DBPrintf("Trying to dispose of an invalid font %ld ###### gFcnt %ld", long(font), long(gFcnt));
    gFontErr = 16;
    return;
  }
  FontEntry* e = Entry(font);
  if (e->refs < 2) {
    for (int32 k = 0; k < 3; ++k) {
      if (gStdCur[k] == font) {
        DBPrintf("Trying to completely dispose of %s font ######", kStdNames[k]);
        e->refs = 2;
        gFontErr |= 1;
        break;
      }
    }
  }
  if (--e->refs == 0) {
    gCached.insert(font);
    if (e->style & kFontResolveName) FreeSlot(font);
  }
  // Trimming: the cached tail goes in steps of 8 slots.
  int32 last = -1;
  for (int32 i = gFcnt - 1; i >= 0 && last < 0; --i)
    if (Entry(i)->refs != 0) last = i;
  if (gFcnt >= 9 && last != gFcnt - 1) {
    int32 n = (last + 1 + 7) / 8 * 8;
    if (n < 8) n = 8;
    if (n < (gFcnt + 7) / 8 * 8) {
      FreeCachedFrom(n);
      gFcnt = n;
      gFree.erase(gFree.lower_bound(n), gFree.end());
      gCached.erase(gCached.lower_bound(n), gCached.end());
      AZSetHandleSize(gTable, n * int32(sizeof(FontEntry)));
    }
  }
}

int32 TAddFontReference(int32 font) {
  if (!Valid(font)) return 16;
  ++Entry(font)->refs;
  return 0;
}

int32 TFontReferences(int32 font) { return Valid(font) ? Entry(font)->refs : 0; }

const FontEntry* TFontEntry(int32 font) { return Valid(font) ? Entry(font) : nullptr; }

int32 TFontCount() { return gFcnt; }

int32 TCachedFontCount() { return int32(gCached.size()); }

fontsinternal::NewFontLimit::NewFontLimit(int32 most) : saved_left_(gLimit.left), saved_refused_(gLimit.refused) {
  gLimit = Limit{most < 0 ? -1 : most, 0};
}

fontsinternal::NewFontLimit::~NewFontLimit() { gLimit = Limit{saved_left_, saved_refused_}; }

int32 fontsinternal::NewFontLimit::Refused() const { return gLimit.refused; }

int32 TStandardFont(int32 which) {
  if (which >= 0 && which < 3) return gStdCur[which];
  if (which == 3) return gBoldApp;
  if (which == 4) return gFixed;
  return -1;
}

Bool32 TGetFontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight) {
  if (!Valid(font)) {
    if (name) name[0] = 0;
    gFontErr = 16;
    return 0;
  }
  const FontEntry* e = Entry(font);
  if (name) std::memcpy(name, *e->name, size_t((*e->name)[0]) + 1);
  if (size) *size = e->size;
  if (style) *style = e->style & 0x1f;
  if (weight) *weight = e->weight;
  return 1;
}

int32 TGetFontMetrics(int32 font, int32* ascent, int32* descent, int32* leading) {
  if (!Valid(font)) {
    gFontErr = 16;
    return 1;
  }
  const FontEntry* e = Entry(font);
  if (ascent) *ascent = e->ascent;
  if (descent) *descent = e->descent;
  if (leading) *leading = e->leading;
  return 0;
}

int32 TModifyFont(int32 font, ConstPStr name, int32 size, int32 style, int32 weight, int32 mask) {
  EnsureFonts();
  if (!Valid(font)) {
    gFontErr |= 16;
    font = AppFont();
  }
  if (mask == 0) {
    TAddFontReference(font);
    return font;
  }
  uChar n[256];
  int32 s = 0, st = 0, w = 0;
  TGetFontInfo(font, n, &s, &st, &w);
  if ((mask & kFontMaskName) && name) std::memcpy(n, name, size_t(name[0]) + 1);
  if (mask & kFontMaskStyle) {
    if (mask & kFontMaskToggle) st ^= style & kFontModifyMask;
    else st |= style & kFontModifyMask;
  } else if (mask & kFontMaskSetStyle) {
    st = style & kFontModifyMask;
  }
  if (mask & kFontMaskAddSize) {
    s += size;
    if (s < 2) s = 2;
  } else if (mask & kFontMaskSize) {
    s = size;
  }
  if (mask & kFontMaskAddWeight) w += weight;
  else if (mask & kFontMaskWeight) w = weight;
  return TNewFont(n, s, st, w);
}

int32 TFontCompare(int32 a, int32 b, int32 mask) {
  if (!(mask & 0x8D) || a == b) return 0;
  if (!Valid(a) || !Valid(b)) {
    DBPrintf("Illegal fonts (%ld, %ld)!!!!", long(a), long(b));
    gFontErr = 16;
    return -1;
  }
  const FontEntry* x = Entry(a);
  const FontEntry* y = Entry(b);
  int32 diff = 0;
  if ((mask & kFontMaskName) && !SameName(*x->name, *y->name)) diff |= kFontMaskName;
  if ((mask & kFontMaskSize) && x->size != y->size) diff |= kFontMaskSize;
  if ((mask & kFontMaskWeight) && x->weight != y->weight) diff |= kFontMaskWeight;
  if ((mask & kFontMaskSetStyle) && (x->style & kFontModifyMask) != (y->style & kFontModifyMask))
    diff |= kFontMaskSetStyle;
  return diff;
}

int32 TApplyFontChange(int32 old, int32 source, int32 mask, int32 keepMask) {
  if (old == source && keepMask < 1) return old;
  int32 result;
  if (mask == kFontMaskAll) {
    result = Valid(source) ? source : AppFont();
    TAddFontReference(result);
  } else {
    uChar name[256];
    int32 size = 0, style = 0, weight = 0;
    if (!TGetFontInfo(source, name, &size, &style, &weight)) TGetFontInfo(AppFont(), name, &size, &style, &weight);
    if (keepMask > 0) {
      int32 oldStyle = 0;
      TGetFontInfo(old, nullptr, nullptr, &oldStyle, nullptr);
      style |= oldStyle & keepMask;
      mask |= kFontMaskStyle;
    } else {
      mask &= ~kFontMaskToggle;
    }
    result = TModifyFont(old, (mask & kFontMaskName) ? name : nullptr, size, style, weight, mask);
  }
  TDisposeFont(old);
  return result;
}

void TMeasureText(const uChar* text, int32 length, int32 font, Point* size) {
  if (!Valid(font)) {
    gFontErr |= 16;
    font = AppFont();
  }
  int32 width = 0, height = 0;
  if (Valid(font) && text && length > 0) {
    std::string copy(reinterpret_cast<const char*>(text), size_t(length));
    for (char& c : copy)
      if (c == '\t' || c == '\0') c = ' ';
    const PlatObj dc = MeasureDc();
    TSelectFontIntoDC(dc, Entry(font)->object);
    PlatGetTextExtent(dc, copy.data(), length, &width, &height);
  }
  if (Valid(font)) height = Entry(font)->ascent + Entry(font)->descent + Entry(font)->leading;
  if (height < 3) height = 3;
  if (size) {
    size->v = int16(height > 32767 ? 32767 : height);
    size->h = int16(width > 32767 ? 32767 : width);
  }
}

void TTextSize(const uChar* text, int32 length, int32 font, Point* size) {
  if (!Valid(font)) {
    gFontErr |= 16;
    font = AppFont();
    if (!Valid(font)) {
      if (size) *size = Point{0, 0};
      return;
    }
  }
  const FontEntry* e = Entry(font);
  if (length < 0 || !text) length = 0;
  int32 width;
  if (e->fixedWidth) {
    const int64 w = int64(length) * e->fixedWidth;
    width = w > 32767 ? 32767 : int32(w);
  } else if (e->widthFlags & kFontWidthTable) {
    const uChar* widths = *e->name + 1 + (*e->name)[0];
    int64 w = 0;
    for (int32 i = 0; i < length; ++i) w += widths[text[i]];
    width = w > 32767 ? 32767 : int32(w);
  } else {
    Point p{};
    TMeasureText(text, length, font, &p);
    width = p.h;
  }
  if (size) {
    size->v = int16(e->ascent + e->descent + e->leading);
    size->h = int16(width);
  }
}

void GetRealName(int32 font, PStr name) {
  PlatFontDesc desc{};
  if (!Valid(font) || !PlatGetFontDesc(Entry(font)->object, &desc)) {
    DBPrintf("GetRealName: invalid font %ld", long(font));
    name[0] = 1;
    name[1] = '*';
    return;
  }
  const int32 n = int32(strnlen(desc.face, sizeof(desc.face)));
  name[0] = uChar(n);
  std::memcpy(name + 1, desc.face, size_t(n));
}

Bool32 TFontIsAnsi(int32 font) {
  if (!Valid(font)) font = AppFont();
  if (!Valid(font)) return 1;
  PlatTextMetrics tm{};
  if (!PlatGetFontMetrics(Entry(font)->object, &tm)) return 1;
  return tm.charSet == 0;
}

int32 TGetFontList(CPStrHandle list) {
  if (!list) return 0;
  UHandle h = reinterpret_cast<UHandle>(list);
  if (AZSetHandleSize(h, 4) != kNoErr) return 0;
  PutNative32(*h, 0);
  const PlatObj dc = ScreenDc();
  if (!dc) {
    DBPrintf("Couldn't get a dc in TGetFontList");
    return 0;
  }
  EnumState s{};
  s.mode = 1;
  s.list = h;
  s.used = 4;
  PlatEnumFonts(nullptr, 0, &EnumFontsProc, &s);
  // Selection sort: the smallest remaining name moves to the front of the
  // unsorted rest.
  const int32 count = int32(GetNative32(*h));
  int32 at = 4;
  for (int32 k = 0; k < count; ++k) {
    int32 best = at;
    for (int32 p = at + 1 + (*h)[at], j = k + 1; j < count; p += 1 + (*h)[p], ++j)
      if (PStrCmp(*h + p, *h + best) < 0) best = p;
    if (best != at) {
      uChar tmp[256];
      const int32 n = 1 + (*h)[best];
      std::memcpy(tmp, *h + best, size_t(n));
      std::memmove(*h + at + n, *h + at, size_t(best - at));
      std::memcpy(*h + at, tmp, size_t(n));
    }
    at += 1 + (*h)[at];
  }
  return count;
}

namespace {

void ConfigFontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight) {
  TGetFontInfo(font, name, size, style, weight);
}

}  // namespace

void TXInitFonts() {
  gFontErr = 0;
  gDefaultFont = PlatGetStockObject(kPlatStockFont);
  CfgGetDefault(kCfgNumber, reinterpret_cast<ConstPStr>("\x17TTFontSmallerMultiplier"), CfgWordPtr(kCfgWordTTFontSmaller));
  gTTMultiplier = CfgWordFloat(kCfgWordTTFontSmaller);
  CfgGetDefault(kCfgNumber, reinterpret_cast<ConstPStr>("\x1b" "BitmapFontSmallerMultiplier"),
                CfgWordPtr(kCfgWordBitmapFontSmaller));
  gBitmapMultiplier = CfgWordFloat(kCfgWordBitmapFontSmaller);
  if (gTable) return;
  gTable = AZNewHClr(8 * int32(sizeof(FontEntry)));
  if (!gTable) return;
  gFcnt = 0;
  ForgetSlots();
  gInitializing = true;
  CfgSetFontProcs(&TNewFont, &ConfigFontInfo);
  static const uChar* const kNames[3] = {reinterpret_cast<const uChar*>("\x01" "0"),
                                         reinterpret_cast<const uChar*>("\x01" "1"),
                                         reinterpret_cast<const uChar*>("\x01" "2")};
  static const uChar* const kKeys[3] = {reinterpret_cast<const uChar*>("\x07" "appFont"),
                                        reinterpret_cast<const uChar*>("\x0a" "systemFont"),
                                        reinterpret_cast<const uChar*>("\x0a" "dialogFont")};
  for (int32 k = 0; k < 3; ++k) {
    const int32 builtIn = TNewFont(kNames[k], 0, 0, 0);
    gStdBuiltIn[k] = builtIn;
    int32 configured = -1;
    if (CfgGetDefault(kCfgFont, kKeys[k], &configured) != kNoErr) configured = -1;
    if (Valid(configured) && configured != builtIn) {
      // The configured font takes over the standard name; the built-in one
      // goes by its real face.
      uChar real[256];
      GetRealName(builtIn, real);
      UHandle realH = NewName(real);
      if (realH) {
        UnindexSlot(configured);
        UnindexSlot(builtIn);
        AZDisposeHandle(Entry(configured)->name);
        Entry(configured)->name = Entry(builtIn)->name;
        Entry(builtIn)->name = realH;
        IndexSlot(configured);
        IndexSlot(builtIn);
        ComputeWidths(configured);
        ComputeWidths(builtIn);
        gStdCur[k] = configured;
        continue;
      }
      TDisposeFont(configured);
    }
    gStdCur[k] = builtIn;
    if (configured != builtIn) TAddFontReference(builtIn);
  }
  gInitializing = false;
  gBoldApp = TModifyFont(gStdCur[0], nullptr, 0, 0, 1000, kFontMaskWeight);
  gFixed = TNewFont(reinterpret_cast<const uChar*>("\x0b" "Courier New"), Entry(gStdCur[0])->size, 0, 0);
  FreeCachedFrom(0);
}

void TXFinishFonts() {
  if (!gTable) return;
  TReleaseFontReferences();
  if (Valid(gFixed)) TDisposeFont(gFixed);
  for (int32 i = 0; i < gFcnt; ++i) {
    FontEntry* e = Entry(i);
    if (e->name) {
      e->refs = 0;
      FreeSlot(i);
    } else if (e->refs > 0) {
      DBPrintf("TXFinishFonts: %ld refcnt should be 0 (%ld)", long(i), long(e->refs));
    }
  }
  if (gCurFontDc) TSelectFontIntoDC(gCurFontDc, gDefaultFont);
  AZDisposeHandle(gTable);
  gTable = nullptr;
  gFcnt = 0;
  ForgetSlots();
  for (int32 k = 0; k < 3; ++k) gStdBuiltIn[k] = gStdCur[k] = -1;
  gBoldApp = gFixed = -1;
  CfgSetFontProcs(nullptr, nullptr);
  if (gScreenDc) {
    PlatDeleteDc(gScreenDc);
    if (gCurFontDc == gScreenDc) gCurFontDc = 0;
    gScreenDc = 0;
  }
  gCurFontObj = 0;
}
