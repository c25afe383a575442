#include "tools/vilibrary.h"

#include <cstring>

namespace qxbuild {

using namespace archfmt;
using rsrcw::Bytes;

namespace {

void PutText(Bytes* b, const std::string& s) {
  const size_t n = s.size() < 255 ? s.size() : 255, at = b->size();
  b->resize(at + 1 + n);
  (*b)[at] = uChar(n);
  if (n) std::memcpy(b->data() + at + 1, s.data(), n);
}

Bytes TextResource(const std::string& s) {
  Bytes b;
  PutText(&b, s);
  return b;
}

Bytes Entries(int32 columns, const std::vector<PaletteItem>& items, bool marker) {
  Bytes b(kPaletteHeaderSize, 0);
  PutBE16(&b[kPaletteColumns], uInt16(columns));
  PutBE16(&b[kPaletteCount], uInt16(items.size()));
  for (const PaletteItem& it : items) {
    const size_t at = b.size();
    const size_t text = size_t(marker ? int32(kPEntryText) : int32(kOldEntryText));
    b.resize(at + text, 0);
    PutBE16(&b[at + kPEntryId], uInt16(it.id));
    b[at + kPEntryFlags] = uChar(it.flags);
    b[at + kPEntryKind] = uChar(it.kind);
    if (marker) PutBE32(&b[at + kPEntryMarker], uInt32(kMemberMarker));
    PutText(&b, it.text);
    const int32 n = int32(it.text.size());
    b.resize(at + size_t(marker ? PaletteEntrySize(n) : OldPaletteEntrySize(n)), 0);
  }
  return b;
}

// A 32 x 32 picture of 1 bit per pixel, drawn by a rule.
template <typename F>
Bytes Bits(F on) {
  Bytes b(128, 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if (on(x, y)) b[size_t(y * 4 + x / 8)] |= uChar(0x80 >> (x % 8));
  return b;
}

}  // namespace

LibraryMember MakeMember(const std::string& name, uInt32 type, const ResourceList& own, uInt32 flags, uInt32 version,
                         size_t padding, uChar pattern) {
  LibraryMember m;
  m.name = name;
  m.type = type;
  m.flags = flags;
  m.version = type == kTypeSubroutine ? kRunTimeVersion : version;
  rsrcw::Writer w(type, kCreator);
  if (type != kTypeSubroutine) {
    Bytes header(452, 0);
    PutBE32(&header[kHeaderVersionOffset], version);
    w.Add(kTypeVI, 0, header);
  }
  for (const auto& r : own) {
    w.Add(r.first, kCopiedFromId, r.second);
    for (uInt32 t : kCopiedTypes)
      if (t == r.first) m.copied.push_back(r);
  }
  if (padding) {
    Bytes pad(padding, pattern);
    for (size_t i = 0; i < padding; i += 97) pad[i] = uChar(i / 97);
    w.Add(FourCC("DATA"), 0, pad);
  }
  m.file = w.Write();
  return m;
}

Bytes PaletteResource(int32 columns, const std::vector<PaletteItem>& items) { return Entries(columns, items, true); }
Bytes OldPaletteResource(int32 columns, const std::vector<PaletteItem>& items) {
  return Entries(columns, items, false);
}

Bytes PaletteNames(const std::vector<std::string>& names) {
  Bytes b(kNamesHeaderSize, 0);
  PutBE32(b.data(), uInt32(names.size()));
  for (const std::string& n : names) PutText(&b, n);
  return b;
}

Bytes CompressMember(const Bytes& file) {
  const uInt32 size = uInt32(file.size());
  Bytes out(kCprfHeaderSize + BitmapSize(size), 0);
  PutBE32(out.data(), size);
  for (uInt32 i = 0; i < size; ++i)
    if (file[i]) {
      out[kCprfHeaderSize + i / 8] |= uChar(1u << (i % 8));
      out.push_back(file[i]);
    }
  return out;
}

Bytes Directory(const std::vector<LibraryMember>& members) {
  Bytes b(kDirHeaderSize, 0);
  std::memcpy(&b[kDirTag], kDirTagBytes, 4);
  PutBE32(&b[kDirVersion], kDirVersionValue);
  PutBE32(&b[kDirCount], uInt32(members.size()));
  int32 id = 1;
  for (const LibraryMember& m : members) {
    const size_t at = b.size();
    const int32 n = int32(m.name.size() < 255 ? m.name.size() : 255);
    b.resize(at + size_t(EntrySize(n)), 0);
    PutBE32(&b[at + kEntryId], uInt32(id++));
    PutNative32(&b[at + kEntryType], m.type);
    PutBE32(&b[at + kEntryVersion], m.version);
    PutBE32(&b[at + kEntryFlags], m.flags);
    PutBE32(&b[at + kEntryModDate], m.modDate);
    PutBE32(&b[at + kEntryDate2], m.date2);
    b[at + kEntryName] = uChar(n);
    std::memcpy(&b[at + kEntryName + 1], m.name.data(), size_t(n));
  }
  return b;
}

ResourceList PaletteImage(int32 which) {
  // 6001: a framed panel with a diagonal; 6002: a round knob.
  const bool vi = which == kVIPaletteImage;
  auto on = [vi](int x, int y) {
    if (vi) return x == 1 || x == 30 || y == 1 || y == 30 || x == y;
    const int dx = x - 16, dy = y - 16;
    return dx * dx + dy * dy <= 196 && !(dx * dx + dy * dy <= 100 && dx >= 0 && dy <= 0);
  };
  auto inside = [vi](int x, int y) {
    if (vi) return x >= 1 && x <= 30 && y >= 1 && y <= 30;
    const int dx = x - 16, dy = y - 16;
    return dx * dx + dy * dy <= 196;
  };
  Bytes icon = Bits(on), mask = Bits(inside);
  Bytes icl4(512, 0), icl8(1024, 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const uChar c = on(x, y) ? 15 : inside(x, y) ? (vi ? 3 : 9) : 0;
      icl4[size_t(y * 16 + x / 2)] |= uChar(x % 2 ? c : c << 4);
      icl8[size_t(y * 32 + x)] = on(x, y) ? 255 : inside(x, y) ? uChar(vi ? 43 : 216) : 0;
    }
  Bytes family = icon;
  family.insert(family.end(), mask.begin(), mask.end());
  return {{FourCC("ICON"), icon},
          {FourCC("icl4"), icl4},
          {FourCC("icl8"), icl8},
          {FourCC("ICN#"), family}};
}

void VILibraryWriter::SetPalette(int32 paletteId, const Bytes& entries, const Bytes& names) {
  const int k = paletteId == kVIPaletteId ? 0 : 1;
  entries_[k] = entries;
  names_[k] = names;
}

void VILibraryWriter::SetOldPalette(int32 paletteId, const Bytes& palm) {
  old_[paletteId == kVIPaletteId ? 0 : 1] = palm;
}

void VILibraryWriter::AddTo(rsrcw::Writer* w) const {
  w->Add(kRsrcDir, kDirId, Directory(members_));
  int32 id = 1;
  for (const LibraryMember& m : members_) {
    for (const auto& r : m.copied) w->Add(r.first, id, r.second, m.name);
    w->Add(kRsrcCompressed, id, CompressMember(m.file), m.name);
    if (m.paletteText) w->Add(kRsrcStrList, id, rsrcw::StrList({*m.paletteText}), m.name);
    ++id;
  }
  const std::string names[2] = {kVIPaletteName, kCtlPaletteName};
  const int32 oldIds[2] = {kOldVIPaletteId, kOldCtlPaletteId}, ids[2] = {kVIPaletteId, kCtlPaletteId};
  const Bytes empty(4, 0);
  for (int k = 0; k < 2; ++k) {
    w->Add(kRsrcOldPalette, oldIds[k], old_[k].empty() ? empty : old_[k], names[k]);
    if (palettes_) {
      w->Add(kRsrcPalette, ids[k], entries_[k].empty() ? empty : entries_[k], names[k]);
      w->Add(kRsrcPaletteNames, ids[k], names_[k].empty() ? empty : names_[k], names[k]);
    }
    for (const auto& r : PaletteImage(k == 0 ? kVIPaletteImage : kCtlPaletteImage))
      if (r.first != FourCC("ICN#")) w->Add(r.first, ids[k], r.second, names[k]);
  }
  const std::string base = title_.substr(0, title_.find('.'));
  w->Add(kRsrcString, kVIPaletteTitleId, TextResource(base + kVIPaletteSuffix));
  w->Add(kRsrcString, kCtlPaletteTitleId, TextResource(base + kCtlPaletteSuffix));
}

Bytes VILibraryWriter::Write() const {
  rsrcw::Writer w(kFileType, kCreator);
  AddTo(&w);
  return w.Write();
}

}  // namespace qxbuild
