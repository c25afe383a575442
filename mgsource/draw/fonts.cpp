// Font numbers and the font-reference map of a file's stored font table.
#include "mgsource/draw/fonts.h"

#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

int32 gFontErr = 0;
int32 gFontSubstituted = 0;

namespace {

struct FontDesc {
  std::string name;
  int32 size, style, weight;
  int32 refs;
};
// Font n (from 1) is entry n - 1; entries stay for the life of the process,
// so a number never names another font.
std::vector<FontDesc>& Fonts() {
  static std::vector<FontDesc>* fonts = new std::vector<FontDesc>();
  return *fonts;
}

bool Valid(int32 font) { return font >= 1 && font <= int32(Fonts().size()); }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uChar(a[i])) != std::tolower(uChar(b[i]))) return false;
  return true;
}

// The map: per entry from the first index on, the font number (-1 for an
// entry without a name) and its flags.
struct MapEntry {
  int32 font;
  uInt32 flags;
};
struct FontMap {
  bool present = false;
  RsrcFileRef file = 0;
  int32 first = 0;
  UHandle pairs = nullptr;  // MapEntry[end - first]
  int32 count = 0;
};
FontMap gMap;

MapEntry* Pairs() { return reinterpret_cast<MapEntry*>(*gMap.pairs); }

}  // namespace

int32 TNewFont(ConstPStr name, int32 size, int32 style, int32 weight) {
  if (!name || name[0] == 0) return kAppFont;
  std::string n(reinterpret_cast<const char*>(name + 1), name[0]);
  std::vector<FontDesc>& fonts = Fonts();
  for (size_t i = 0; i < fonts.size(); ++i) {
    FontDesc& f = fonts[i];
    if (f.name == n && f.size == size && f.style == style && f.weight == weight) {
      ++f.refs;
      return int32(i) + 1;
    }
  }
  fonts.push_back({n, size, style, weight, 1});
  return int32(fonts.size());
}

void TDisposeFont(int32 font) {
  if (Valid(font) && Fonts()[size_t(font - 1)].refs > 0) --Fonts()[size_t(font - 1)].refs;
}

int32 TAddFontReference(int32 font) {
  if (font == kAppFont) return 0;
  if (!Valid(font)) return 16;
  ++Fonts()[size_t(font - 1)].refs;
  return 0;
}

int32 TFontReferences(int32 font) { return Valid(font) ? Fonts()[size_t(font - 1)].refs : 0; }

Bool32 TGetFontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight) {
  if (!Valid(font)) return 0;
  const FontDesc& f = Fonts()[size_t(font - 1)];
  if (name) {
    name[0] = uChar(f.name.size());
    std::memcpy(name + 1, f.name.data(), f.name.size());
  }
  if (size) *size = f.size;
  if (style) *style = f.style;
  if (weight) *weight = f.weight;
  return 1;
}

void TReleaseFontReferences() {
  UHandle pairs = gMap.pairs;
  const int32 count = gMap.count;
  gMap = FontMap();
  if (!pairs) return;
  for (int32 i = 0; i < count; ++i) {
    int32 font = reinterpret_cast<MapEntry*>(*pairs)[i].font;
    if (font >= 0) TDisposeFont(font);
  }
  AZDisposeHandle(pairs);
}

MgErr TReadFontTable(RsrcFileRef file, UHandle table, const int32* fonts, int32 count) {
  if (gMap.present && gMap.file == file) return kNoErr;
  TReleaseFontReferences();
  if (!table || !*table) return kArgErr;
  const int32 size = AZGetHandleSize(table);
  if (size < kFTabEntries) return kArgErr;
  const uChar* t = *table;
  const uInt32 flags = GetBE32(t + kFTabFlags);
  const int32 first = GetBE16(t + kFTabFirst);
  const int32 end = GetBE16(t + kFTabEnd);
  const bool newForm = (flags & kFTabNewForm) != 0;
  const int32 entrySize = newForm ? kFTabEntryNew : kFTabEntryOld;
  if (first > end || int64(kFTabEntries) + int64(end) * entrySize > size) return kArgErr;
  // Every name must lie inside the table before any font is made.
  for (int32 i = first; i < end; ++i) {
    const uInt32 at = GetBE32(t + kFTabEntries + i * entrySize);
    if (at && (at >= uInt32(size) || at + 1 + t[at] > uInt32(size))) return kArgErr;
  }
  if (!newForm) DBPrintf("Mutating old font table");
  UHandle pairs = AZNewHClr(end > first ? (end - first) * int32(sizeof(MapEntry)) : 1);
  if (!pairs) return kMemFullErr;
  const bool version1 = (flags & 0xFF) == 1;
  int32 errs = 0;
  for (int32 i = first; i < end; ++i) {
    const uChar* e = *table + kFTabEntries + i * entrySize;
    MapEntry m{-1, 0};
    const uInt32 at = GetBE32(e);
    if (at) {
      const uChar* name = *table + at;
      int32 fsize = int16(GetBE16(e + 4));
      int32 style = GetBE16(e + 6);
      int32 weight = int16(GetBE16(e + 8));
      if (fsize == kFTabTakeSize || uInt32(style) >= kFTabTakeStyle || weight == kFTabTakeSize) {
        const std::string want(reinterpret_cast<const char*>(name + 1), name[0]);
        int32 match = -1;
        for (int32 k = 0; k < count && fonts && match < 0; ++k)
          if (Valid(fonts[k]) && SameName(Fonts()[size_t(fonts[k] - 1)].name, want)) match = fonts[k];
        int32 msize = 0, mstyle = 0, mweight = 0;
        if (match < 0) {
          errs |= 4;
        } else {
          const FontDesc& f = Fonts()[size_t(match - 1)];
          msize = f.size;
          mstyle = f.style;
          mweight = f.weight;
        }
        if (fsize == kFTabTakeSize) fsize = msize;
        if (weight == kFTabTakeSize) weight = mweight;
        if (uInt32(style) >= kFTabTakeStyle) style = (style & 0x400) | (mstyle & ~0x400);
      }
      uChar pname[256];
      std::memcpy(pname, name, size_t(name[0]) + 1);
      m.font = TNewFont(pname, fsize, style, weight);
      if (version1 && (style & 0x400)) m.flags |= kFontMapMarked;
      if (!newForm) errs |= 32;
    }
    reinterpret_cast<MapEntry*>(*pairs)[i - first] = m;
  }
  // A font that could not be made as stored (no font of its name, an
  // invalid one) was replaced: the loaders of panels adapt their objects.
  gFontSubstituted |= errs & (1 | 4 | 16);
  gMap.present = true;
  gMap.file = file;
  gMap.first = first;
  gMap.pairs = pairs;
  gMap.count = end - first;
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

int32 TMapFontReference(RsrcFileRef file, int32 index, uInt32* mapFlags) {
  if (mapFlags) *mapFlags = 0;
  if (!gMap.present || gMap.file != file) {
    if (TLoadFontTable(file, nullptr, 0) != kNoErr) return kAppFont;  // no table: no reference added
  }
  const int32 k = index - gMap.first;
  if (k < 0 || k >= gMap.count || Pairs()[k].font < 0 || (Pairs()[k].font != kAppFont && !Valid(Pairs()[k].font)))
    return -1;
  if (mapFlags) *mapFlags = Pairs()[k].flags;
  const int32 font = Pairs()[k].font;
  TAddFontReference(font);
  return font;
}

int32 TLoadFontReference(RsrcFileRef file, int32 index) {
  const int32 font = TMapFontReference(file, index, nullptr);
  if (font >= 0) return font;
  DBPrintf("Error in TLoadFontReference !!!!! %ld", long(index));
  return kAppFont;
}
