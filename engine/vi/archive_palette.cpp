// The palettes of a VI library: the VI palette and the control palette,
// each a PLM2 of entries and a CPST of their names, made from an old PALM
// when a library has only that.
#include <cstring>
#include <new>

#include "archive_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "rtrsrc.h"

using namespace archfmt;

namespace archive {

namespace {

std::string TextAt(const uChar* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

bool SameName(const std::string& a, const std::string& b) {
  Str255 x, y;
  CToPStr(a.c_str(), x);
  CToPStr(b.c_str(), y);
  return PStrCaseEqual(x, y);
}

// Reads the entries of a palette resource whose entries have the text at
// textAt and take sizeOf(text length) bytes.
MgErr ReadEntries(const uChar* p, int32 size, int32 textAt, int32 (*sizeOf)(int32), bool marker, Palette* out) {
  if (!p || size < kPaletteHeaderSize) return kRsrcFileNotFoundErr;
  out->columns = GetBE16(p + kPaletteColumns);
  const int32 count = GetBE16(p + kPaletteCount);
  if (count > (size - kPaletteHeaderSize) / sizeOf(0)) return kRsrcFileNotFoundErr;
  out->entries.clear();
  out->entries.reserve(size_t(count));
  int32 at = kPaletteHeaderSize;
  for (int32 i = 0; i < count; ++i) {
    if (size - at < textAt + 1) return kRsrcFileNotFoundErr;
    const int32 length = p[at + textAt];
    if (size - at < sizeOf(length)) return kRsrcFileNotFoundErr;
    PaletteEntry e;
    e.id = GetBE16(p + at + kPEntryId);
    e.flags = p[at + kPEntryFlags];
    e.kind = p[at + kPEntryKind];
    e.marker = marker ? int32(GetBE32(p + at + kPEntryMarker)) : kMemberMarker;
    e.text = TextAt(p + at + textAt);
    out->entries.push_back(std::move(e));
    at += sizeOf(length);
  }
  return kNoErr;
}

int32 EntrySizeOf(int32 n) { return PaletteEntrySize(n); }
int32 OldEntrySizeOf(int32 n) { return OldPaletteEntrySize(n); }

}  // namespace

MgErr ReadPalette(const uChar* entries, int32 entriesSize, const uChar* names, int32 namesSize, Palette* out) {
  try {
    if (MgErr err = ReadEntries(entries, entriesSize, kPEntryText, EntrySizeOf, true, out)) return err;
    if (!names || namesSize < kNamesHeaderSize) return kRsrcFileNotFoundErr;
    const uInt32 count = GetBE32(names);
    if (count != out->entries.size()) return kRsrcFileNotFoundErr;
    out->names.clear();
    out->names.reserve(count);
    int32 at = kNamesHeaderSize;
    for (uInt32 i = 0; i < count; ++i) {
      if (at >= namesSize || namesSize - at < 1 + names[at]) return kRsrcFileNotFoundErr;
      out->names.push_back(TextAt(names + at));
      at += 1 + names[at];
    }
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return kNoErr;
}

MgErr ReadOldPalette(const uChar* bytes, int32 size, Palette* out) {
  try {
    if (MgErr err = ReadEntries(bytes, size, kOldEntryText, OldEntrySizeOf, false, out)) return err;
    out->names.assign(out->entries.size(), std::string());
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return kNoErr;
}

std::vector<uChar> PaletteBytes(const Palette& p) {
  std::vector<uChar> b(kPaletteHeaderSize, 0);
  PutBE16(&b[kPaletteColumns], uInt16(p.columns));
  PutBE16(&b[kPaletteCount], uInt16(p.entries.size()));
  for (const PaletteEntry& e : p.entries) {
    const size_t at = b.size();
    b.resize(at + kPEntryText, 0);
    PutBE16(&b[at + kPEntryId], uInt16(e.id));
    b[at + kPEntryFlags] = uChar(e.flags);
    b[at + kPEntryKind] = uChar(e.kind);
    PutBE32(&b[at + kPEntryMarker], uInt32(e.marker));
    AppendPStr(&b, e.text);
    b.resize(at + size_t(PaletteEntrySize(b[at + kPEntryText])), 0);
  }
  return b;
}

std::vector<uChar> PaletteNameBytes(const Palette& p) {
  std::vector<uChar> b(kNamesHeaderSize, 0);
  PutBE32(&b[0], uInt32(p.names.size()));
  for (const std::string& n : p.names) AppendPStr(&b, n);
  return b;
}

bool PalettePut(Palette* p, int32 entryId, uInt32 memberType, const std::string& name) {
  if (entryId < 1 || entryId > 0xFFFF) return false;
  const bool vi = memberType == kTypeVI;
  PaletteEntry e;
  e.id = entryId;
  e.kind = vi ? kKindVI : kKindControl;
  e.marker = kMemberMarker;
  e.text = vi ? kVIUseText : kControlUseText;
  size_t i = 0;
  while (i < p->entries.size() && p->entries[i].id != 0) ++i;
  if (i < p->entries.size()) {
    p->entries[i] = e;
    p->names[i] = name;
  } else {
    const int32 before = int32(p->entries.size());
    if (before >= 0xFFFF) return false;
    p->entries.push_back(e);
    p->names.push_back(name);
    if (p->columns < kPaletteGrowColumns && before <= p->columns) ++p->columns;
  }
  const int32 count = int32(p->entries.size());
  while (int64(p->columns) * p->columns < count) ++p->columns;
  return true;
}

int32 PaletteFree(Palette* p, const std::string& name) {
  int32 freed = 0;
  for (size_t i = 0; i < p->entries.size(); ++i) {
    PaletteEntry& e = p->entries[i];
    if (e.marker != kMemberMarker || !SameName(p->names[i], name)) continue;
    e.id = 0;
    e.marker = 0;
    p->names[i].clear();
    ++freed;
  }
  size_t used = p->entries.size();
  while (used > 0 && p->entries[used - 1].id == 0) --used;
  p->entries.resize(used);
  p->names.resize(used);
  return freed;
}

namespace {

// Writes a palette back into its two handles (kept by the library's map),
// both or neither.
MgErr StorePalette(UHandle entries, UHandle names, const Palette& p) {
  std::vector<uChar> eb, nb, old;
  try {
    eb = PaletteBytes(p);
    nb = PaletteNameBytes(p);
    old.assign(*entries, *entries + AZGetHandleSize(entries));
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  if (MgErr err = SetHandleBytes(entries, eb)) return err;
  if (MgErr err = SetHandleBytes(names, nb)) {
    SetHandleBytes(entries, old);  // no larger than before
    return err;
  }
  MgErr err = RChanged(entries);
  if (MgErr e2 = RChanged(names); !err) err = e2;
  return err;
}

const char* PaletteName(int32 paletteId) { return paletteId == kVIPaletteId ? kVIPaletteName : kCtlPaletteName; }

// Makes a missing palette: from the old PALM when the library has one,
// else empty.
MgErr MakePalette(RsrcFileRef library, int32 paletteId, bool* converted) {
  *converted = false;
  Palette p;
  UHandle old = nullptr;
  const int32 oldId = paletteId == kVIPaletteId ? kOldVIPaletteId : kOldCtlPaletteId;
  MgErr err = RGet(library, kRsrcOldPalette, oldId, &old);
  if (err && err != kRsrcNotFoundErr) return err;
  if (old) {
    Str255 oldName;
    int32 id;
    ResType type;
    RGetInfo(old, &id, &type, oldName);
    DBPrintf("Convert 3.1 PALM:%p", oldName);
    if ((err = ReadOldPalette(*old, AZGetHandleSize(old), &p))) return err;
    for (size_t i = 0; i < p.entries.size(); ++i) {
      Str255 s;
      if (RGetIndString(library, s, p.entries[i].id, 1) == kNoErr) p.names[i] = TextAt(s);
    }
    *converted = true;
  }
  Str255 name;
  CToPStr(PaletteName(paletteId), name);
  std::vector<uChar> eb, nb;
  try {
    eb = PaletteBytes(p);
    nb = PaletteNameBytes(p);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  if ((err = RemoveResource(library, kRsrcPaletteNames, paletteId))) return err;
  if ((err = AddResource(library, kRsrcPalette, paletteId, name, eb))) return err;
  if ((err = AddResource(library, kRsrcPaletteNames, paletteId, name, nb))) {
    RemoveResource(library, kRsrcPalette, paletteId);
    return err;
  }
  if (old) {
    if ((err = SetHandleBytes(old, std::vector<uChar>(kPaletteHeaderSize, 0))) || (err = RChanged(old))) return err;
    DBPrintf("Converted");
  }
  return kNoErr;
}

// The palette of a member type, read and checked; its handles too.
MgErr LoadPalette(RsrcFileRef library, int32 paletteId, UHandle* entries, UHandle* names, Palette* p) {
  if (MgErr err = PaletteGet(library, paletteId, entries, names, nullptr, nullptr)) return err;
  return ReadPalette(**entries, AZGetHandleSize(*entries), **names, AZGetHandleSize(*names), p);
}

int32 PaletteOf(uInt32 memberType) { return memberType == kTypeVI ? kVIPaletteId : kCtlPaletteId; }

std::string NameOf(ConstPStr name) { return TextAt(name); }

}  // namespace

}  // namespace archive

using namespace archive;

MgErr PaletteGet(RsrcFileRef library, int32 paletteId, UHandle* entries, UHandle* names, PStr title, int32* image) {
  if (paletteId != kVIPaletteId && paletteId != kCtlPaletteId) return kArgErr;
  Scope scope;
  if (image) *image = 0;
  UHandle e = nullptr, n = nullptr;
  bool converted = false;
  MgErr err = RGet(library, kRsrcPalette, paletteId, &e);
  if (err == kRsrcNotFoundErr) {
    if ((err = MakePalette(library, paletteId, &converted))) return err;
    err = RGet(library, kRsrcPalette, paletteId, &e);
  }
  if (err) return err;
  err = RGet(library, kRsrcPaletteNames, paletteId, &n);
  if (err == kRsrcNotFoundErr) {
    // Names lost: one empty name per entry.
    Palette p;
    if ((err = ReadEntries(*e, AZGetHandleSize(e), kPEntryText, EntrySizeOf, true, &p))) return err;
    p.names.assign(p.entries.size(), std::string());
    Str255 name;
    CToPStr(PaletteName(paletteId), name);
    if ((err = AddResource(library, kRsrcPaletteNames, paletteId, name, PaletteNameBytes(p)))) return err;
    err = RGet(library, kRsrcPaletteNames, paletteId, &n);
  }
  if (err) return err;
  if (entries) *entries = e;
  if (names) *names = n;
  if (title) {
    UHandle s = nullptr;
    const int32 titleId = paletteId == kVIPaletteId ? kVIPaletteTitleId : kCtlPaletteTitleId;
    if (RGetString(library, titleId, &s) == kNoErr && AZGetHandleSize(s) >= 1 && AZGetHandleSize(s) >= 1 + (*s)[0]) {
      std::memcpy(title, *s, size_t((*s)[0]) + 1);
    } else {
      CToPStr(converted ? "palette" : paletteId == kVIPaletteId ? "VIs" : "Ctrls", title);
    }
  }
  if (image)
    return IGet(RunTimeRsrcFile(), kImageFamily, paletteId == kVIPaletteId ? kVIPaletteImage : kCtlPaletteImage,
                image, 1);
  return kNoErr;
}

MgErr PaletteAddMember(RsrcFileRef library, int32 entryId, uInt32 memberType, ConstPStr name) {
  if (!name) return kArgErr;
  Scope scope;
  UHandle e = nullptr, n = nullptr;
  Palette p;
  if (MgErr err = LoadPalette(library, PaletteOf(memberType), &e, &n, &p)) return err;
  try {
    if (!PalettePut(&p, entryId, memberType, NameOf(name))) return kArgErr;
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return StorePalette(e, n, p);
}

MgErr PaletteRemoveMember(RsrcFileRef library, ConstPStr name) {
  if (!name) return kArgErr;
  Scope scope;
  MgErr first = kNoErr;
  for (int32 id : {kCtlPaletteId, kVIPaletteId}) {
    UHandle e = nullptr, n = nullptr;
    Palette p;
    MgErr err = LoadPalette(library, id, &e, &n, &p);
    if (!err) {
      const size_t before = p.entries.size();
      if (PaletteFree(&p, NameOf(name)) > 0 || p.entries.size() != before) err = StorePalette(e, n, p);
    }
    if (err && !first) first = err;
  }
  return first;
}

int32 PaletteSetMemberFlags(RsrcFileRef library, uInt32 memberType, ConstPStr name, int32 setBits,
                            int32 clearBits) {
  if (!name) return -1;
  Scope scope;
  UHandle e = nullptr, n = nullptr;
  Palette p;
  if (LoadPalette(library, PaletteOf(memberType), &e, &n, &p)) return -1;
  for (size_t i = 0; i < p.entries.size(); ++i) {
    PaletteEntry& entry = p.entries[i];
    if (entry.marker != kMemberMarker || entry.id == 0 || !SameName(p.names[i], NameOf(name))) continue;
    const int32 previous = entry.flags;
    entry.flags = (previous | setBits) & ~clearBits & 0xFF;
    if (entry.flags != previous && StorePalette(e, n, p)) return -1;
    return previous;
  }
  return -1;
}
