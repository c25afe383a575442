// Font scaling, font records and the font-reference map of a file's stored
// font table.
#include <cmath>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/fonts_internal.h"
#include "mgsource/memory.h"
#include "platform/qx_dc.h"
#include "platform/qx_text.h"

using namespace fontsinternal;

namespace {

// The samples that reference metrics and scaling measure.
constexpr char kNarrowSample[] = "abcdefghijklnopqrstuvxyzIJ0123456789,.;-";
constexpr char kWideSample[] = "mwABCDEFGHKLMNOPQRSTUVWXYZ+";
constexpr char kScaleSample[] = "The quick brown dog jumps over the lazy fox.";

// The map: per entry from the first index on, the font number (-1 for an
// entry without a name) and its flags.
struct MapEntry {
  int32 font;
  uInt32 flags;
};
struct FontReferenceMap {
  bool present = false;
  bool fileKnown = false;
  RsrcFileRef file = 0;
  int32 first = 0;
  UHandle pairs = nullptr;  // MapEntry[end - first]
  int32 count = 0;
};
FontReferenceMap gMap;

MapEntry* Pairs() { return reinterpret_cast<MapEntry*>(*gMap.pairs); }

int32 RectH(const Rect* r) { return int32(r->bottom) - r->top; }
int32 RectW(const Rect* r) { return int32(r->right) - r->left; }

int32 Round(double v) { return int32(std::lround(v)); }

int32 SampleWidth(PlatObj dc, PlatObj object, const char* text) {
  TSelectFontIntoDC(dc, object);
  int32 w = 0;
  PlatGetTextExtent(dc, text, int32(std::strlen(text)), &w, nullptr);
  return w;
}

// A table's layout, checked against its bytes.
struct TableView {
  const uChar* t;
  int32 size;
  uInt32 flags;
  int32 first, end, entrySize;
  bool newForm;
};

bool ViewTable(UHandle table, TableView* v) {
  if (!table || !*table) return false;
  v->size = AZGetHandleSize(table);
  if (v->size < kFTabEntries) return false;
  v->t = *table;
  v->flags = GetBE32(v->t + kFTabFlags);
  v->first = GetBE16(v->t + kFTabFirst);
  v->end = GetBE16(v->t + kFTabEnd);
  v->newForm = (v->flags & kFTabNewForm) != 0;
  v->entrySize = v->newForm ? kFTabEntryNew : kFTabEntryOld;
  if (v->first > v->end || int64(kFTabEntries) + int64(v->end) * v->entrySize > v->size) return false;
  // Every name must lie inside the table before any font is made.
  for (int32 i = 0; i < v->end; ++i) {
    const uInt32 at = GetBE32(v->t + kFTabEntries + i * v->entrySize);
    if (at && (at >= uInt32(v->size) || at + 1 + v->t[at] > uInt32(v->size))) return false;
  }
  return true;
}

}  // namespace

void TFontReferenceMetrics(int32 font, int32* height, int32* narrow, int32* wide) {
  Point a{}, b{};
  TTextSize(reinterpret_cast<const uChar*>(kNarrowSample), int32(sizeof(kNarrowSample) - 1), font, &a);
  TTextSize(reinterpret_cast<const uChar*>(kWideSample), int32(sizeof(kWideSample) - 1), font, &b);
  if (height) *height = a.v;
  if (narrow) *narrow = a.h;
  if (wide) *wide = b.h;
}

// ---- scaling

int32 TScaleFont(int32 font, const Rect* fromRect, const Rect* toRect) {
  EnsureFonts();
  gFontErr = 0;
  if (!Valid(font)) {
    DBPrintf("Trying to scale a bogus font %ld", long(font));
    const int32 app = AppFont();
    TAddFontReference(app);
    gFontErr = 16;
    return app;
  }
  // An empty source rectangle has no ratio: the font stays as it is.
  if (!fromRect || !toRect || RectH(fromRect) == RectH(toRect) || RectH(fromRect) <= 0 || RectW(fromRect) <= 0) {
    TAddFontReference(font);
    return font;
  }
  // The candidates are fonts of their own, made and dropped here: no limit
  // of a stored object being read holds for them (its metrics are changed
  // below, which the application font standing in must not be).
  NewFontLimit unlimited(-1);
  const int32 fromW = RectW(fromRect), toW = RectW(toRect);
  const double ratio = double(RectH(toRect)) / RectH(fromRect);
  const FontEntry src = *Entry(font);
  const PlatObj screen = ScreenDc();
  const int32 w0 = SampleWidth(screen, src.object, kScaleSample);
  PlatTextMetrics tm{};
  PlatGetTextMetrics(screen, &tm);
  int32 size = Round((src.size < tm.height ? src.size : tm.height) * ratio);
  int32 override = int32(int64(tm.aveCharWidth) * toW / fromW);
  const int32 target = int32(int64(w0) * toW / fromW);
  const bool scalable = (src.widthFlags & kFontScalable) != 0;
  uChar name[256];
  std::memcpy(name, *src.name, size_t((*src.name)[0]) + 1);
  const int32 style = (src.style & kFontModifyMask) | kFontScaled | kFontResolveName;
  int32 cand = -1;
  for (int32 attempt = 1; attempt <= 8; ++attempt) {
    if (attempt > 1) {
      const int32 dw = Round(override * 0.05);
      override -= dw > 1 ? dw : 1;
      if (!scalable || attempt == 4 || attempt == 8) {
        const int32 ds = Round(size * 0.05);
        size -= ds > 1 ? ds : 1;
      }
    }
    if (size < 4) size = 4;
    if (override < 0) override = 0;
    if (cand >= 0) TDisposeFont(cand);
    gWidthOverride = override;
    cand = TNewFont(name, size, style, src.weight);
    gWidthOverride = 0;
    const int32 w = SampleWidth(PrinterDc(), Entry(cand)->object, kScaleSample);
    const bool candScalable = (Entry(cand)->widthFlags & kFontScalable) != 0;
    if (candScalable ? w * gTTMultiplier <= target : w * gBitmapMultiplier < target) break;
  }
  FontEntry* e = Entry(cand);
  if (e->hScale == 0) {
    const int32 before = e->ascent;
    const int32 a = Round(src.ascent * ratio), d = Round(src.descent * ratio);
    int32 l = Round((src.ascent + src.descent + src.leading) * ratio) - a - d;
    if (l < 0) l = 0;
    e->ascent = uInt16(a < 0 ? 0 : a > 65535 ? 65535 : a);
    e->descent = uInt16(d < 0 ? 0 : d > 65535 ? 65535 : d);
    e->leading = uInt16(l > 65535 ? 65535 : l);
    e->ascentShift = e->ascent - before;
    e->hScale = float32(toW) / float32(fromW);
    e->unscaled = src.object;
  }
  gWidthOverride = 0;
  return cand;
}

// ---- font records

int32 TFontToRec(int32 font, uChar* record) {
  if (!Valid(font)) {
    gFontErr |= 16;
    font = AppFont();
  }
  uChar name[256] = {0};
  int32 size = 0, style = 0, weight = 0;
  TGetFontInfo(font, name, &size, &style, &weight);
  if (name[0] >= 245) {
    name[0] = 1;
    name[1] = '0';
  }
  record[kFRecLength] = uChar(name[0] + 9);
  record[kFRecVersion] = 2;
  PutBE16(record + kFRecSize, uInt16(size));
  PutBE16(record + kFRecStyle, uInt16(style & 0x1f));
  PutBE16(record + kFRecWeight, uInt16(weight));
  std::memcpy(record + kFRecName, name, size_t(name[0]) + 1);
  return name[0] + 9;
}

int32 TNewFontFromRec(const uChar* record, int32 size) {
  const int32 length = record && size > 0 ? record[kFRecLength] : 0;
  if (length < 10 || length > size || kFRecName + 1 + record[kFRecName] > length) {
    DBPrintf("TNewFontFromRec: a font record of %ld bytes (%ld read)", long(length), long(size));
    const int32 app = AppFont();
    TAddFontReference(app);
    gFontErr |= 4;
    return app;
  }
  uChar name[256];
  std::memcpy(name, record + kFRecName, size_t(record[kFRecName]) + 1);
  return TNewFont(name, int16(GetBE16(record + kFRecSize)), GetBE16(record + kFRecStyle),
                  int16(GetBE16(record + kFRecWeight)));
}

int32 TLoadFont(RsrcFileRef file, int32 id) {
  EnsureFonts();
  UHandle h = nullptr;
  if (RGet(file, kFontRecordType, id, &h) != kNoErr || !h) {
    gFontErr |= 1;
    TAddFontReference(kAppFont);
    return kAppFont;
  }
  const int32 font = TNewFontFromRec(*h, AZGetHandleSize(h));
  RRelease(h);
  return font;
}

// ---- the font-reference map

int32 TFontMapCount() { return gMap.present ? gMap.count : 0; }
int32 TFontMapFont(int32 i) { return gMap.present && i >= 0 && i < gMap.count ? Pairs()[i].font : -1; }

void TReleaseFontReferences() {
  UHandle pairs = gMap.pairs;
  const int32 count = gMap.count;
  gMap = FontReferenceMap();
  if (!pairs) return;
  for (int32 i = 0; i < count; ++i) {
    int32 font = reinterpret_cast<MapEntry*>(*pairs)[i].font;
    if (font >= 0) TDisposeFont(font);
  }
  AZDisposeHandle(pairs);
}

MgErr TReadFontTable(RsrcFileRef file, UHandle table, const int32* fonts, int32 count) {
  if (gMap.present && gMap.fileKnown && gMap.file == file) return kNoErr;
  TReleaseFontReferences();
  TableView v;
  if (!ViewTable(table, &v)) return kArgErr;
  EnsureFonts();
  if (!v.newForm) DBPrintf("Mutating old font table");
  UHandle pairs = AZNewHClr(v.end > v.first ? (v.end - v.first) * int32(sizeof(MapEntry)) : 1);
  if (!pairs) return kMemFullErr;
  const bool version1 = (v.flags & 0xFF) == 1;
  int32 errs = 0;
  NewFontLimit limit(kMaxStoredObjectFonts);
  for (int32 i = v.first; i < v.end && !limit.Refused(); ++i) {
    const uChar* e = *table + kFTabEntries + i * v.entrySize;
    MapEntry m{-1, 0};
    const uInt32 at = GetBE32(e);
    if (at) {
      uChar name[256];
      std::memcpy(name, *table + at, size_t((*table)[at]) + 1);
      int32 fsize = int16(GetBE16(e + 4));
      int32 style = GetBE16(e + 6);
      int32 weight = int16(GetBE16(e + 8));
      // The application font is stored by its standard name "0": it loads as
      // the application font, whatever size the saving side gave it.
      bool useApp = name[0] == 1 && name[1] == '0';
      if (!useApp && (fsize == kFTabTakeSize || uInt32(style) >= kFTabTakeStyle || weight == kFTabTakeSize)) {
        int32 match = -1;
        uChar other[256];
        for (int32 k = 0; k < count && fonts && match < 0; ++k)
          if (TGetFontInfo(fonts[k], other, nullptr, nullptr, nullptr) && PStrCaseCmp(other, name) == 0)
            match = fonts[k];
        if (match < 0) {
          useApp = true;
          errs |= 4;
        } else {
          const FontEntry* f = Entry(match);
          if (fsize == kFTabTakeSize) fsize = f->size;
          if (weight == kFTabTakeSize) weight = f->weight;
          if (uInt32(style) >= kFTabTakeStyle) style = (style & 0x400) | (f->style & ~0x400);
        }
      }
      if (useApp) {
        m.font = AppFont();
        TAddFontReference(m.font);
      } else {
        m.font = TNewFont(name, fsize, style, weight);
        errs |= gFontErr;
      }
      if (version1 && (style & 0x400)) m.flags |= kFontMapMarked;
      if (!v.newForm) {
        errs |= 32;
      } else {
        int32 h = 0, n = 0, w = 0;
        TFontReferenceMetrics(m.font, &h, &n, &w);
        if (h != GetBE16(e + 10) || n != GetBE16(e + 12) || w != GetBE16(e + 14)) errs |= 32;
      }
    }
    reinterpret_cast<MapEntry*>(*pairs)[i - v.first] = m;
  }
  if (limit.Refused()) {
    // More distinct fonts than one file may make: none is kept.
    DBPrintf("TReadFontTable: the font table names more than %ld fonts", long(kMaxStoredObjectFonts));
    for (int32 i = 0; i < v.end - v.first; ++i)
      if (const int32 font = reinterpret_cast<MapEntry*>(*pairs)[i].font; font >= 0) TDisposeFont(font);
    AZDisposeHandle(pairs);
    gFontErr = errs | 4;
    return kMemFullErr;
  }
  // A font that could not be made as stored (no font of its name, an
  // invalid one) was replaced: the loaders of panels adapt their objects.
  gFontSubstituted |= errs & (1 | 4 | 16);
  gMap.present = true;
  gMap.fileKnown = true;
  gMap.file = file;
  gMap.first = v.first;
  gMap.pairs = pairs;
  gMap.count = v.end - v.first;
  gFontErr = errs;
  return kNoErr;
}

MgErr TLoadFontTable(RsrcFileRef file, const int32* fonts, int32 count) {
  gFontSubstituted = 0;
  UHandle h = nullptr;
  if (MgErr err = RGet(file, kFontTableType, kFontTableId, &h)) return err;
  const MgErr err = TReadFontTable(file, h, fonts, count);
  RRelease(h);
  return err;
}

MgErr TCheckFontTable(RsrcFileRef file, const int32* fonts, int32 count) {
  gFontErr = 0;
  UHandle h = nullptr;
  if (MgErr err = RGet(file, kFontTableType, kFontTableId, &h)) {
    if (count != 0) gFontErr |= 8;
    return err;
  }
  // The table is read again whatever map is kept.
  gMap.fileKnown = false;
  MgErr err = TReadFontTable(file, h, nullptr, 0);
  const int32 readErrs = err ? 0 : gFontErr;
  int32 errs = 0;
  TableView v;
  if (err == kNoErr && ViewTable(h, &v)) {
    if (v.first != count) {
      errs |= 8;
    } else {
      for (int32 i = 0; i < count && errs == 0; ++i) {
        const uChar* e = v.t + kFTabEntries + i * v.entrySize;
        const int32 font = fonts ? fonts[i] : -1;
        if (!Valid(font)) {
          errs |= 8;
          break;
        }
        const FontEntry* f = Entry(font);
        const int32 size = int16(GetBE16(e + 4)), style = GetBE16(e + 6), weight = int16(GetBE16(e + 8));
        if (size != f->size && style != (f->style & 0x1f) && weight != f->weight) {
          errs |= 8;
          break;
        }
        uChar real[256], stored[256] = {0};
        GetRealName(font, real);
        const uInt32 at = GetBE32(e);
        if (at) std::memcpy(stored, v.t + at, size_t(v.t[at]) + 1);
        if (PStrCaseCmp(real, stored) != 0) {
          errs |= 8;
          break;
        }
        if (!v.newForm) {
          errs |= 32;
        } else {
          int32 hh = 0, n = 0, w = 0;
          TFontReferenceMetrics(font, &hh, &n, &w);
          if (hh != GetBE16(e + 10) || n != GetBE16(e + 12) || w != GetBE16(e + 14)) errs |= 32;
        }
      }
    }
  }
  RRelease(h);
  gFontErr = errs | readErrs;
  return err;
}

int32 TMapFontReference(RsrcFileRef file, int32 index, uInt32* mapFlags) {
  if (mapFlags) *mapFlags = 0;
  if (!gMap.present || !gMap.fileKnown || gMap.file != file) {
    // No table (or none that reads): the application font, with a reference
    // like every other answer, so that callers dispose what they get alike.
    if (TLoadFontTable(file, nullptr, 0) != kNoErr) {
      const int32 app = AppFont();
      TAddFontReference(app);
      return app;
    }
  }
  // Stored indices take any 32-bit value: the difference is taken wide.
  const int64 wide = int64(index) - gMap.first;
  if (wide < 0 || wide >= gMap.count) return -1;
  const int32 k = int32(wide);
  if (!Valid(Pairs()[k].font)) return -1;
  if (mapFlags) *mapFlags = Pairs()[k].flags;
  const int32 font = Pairs()[k].font;
  TAddFontReference(font);
  return font;
}

int32 TLoadFontReference(RsrcFileRef file, int32 index) {
  const int32 font = TMapFontReference(file, index, nullptr);
  if (font >= 0) return font;
  DBPrintf("Error in TLoadFontReference !!!!! %ld", long(index));
  const int32 app = AppFont();
  TAddFontReference(app);
  return app;
}
