#include "tools/colorwriter.h"

#include "mgsource/draw/dcolors.h"
#include "mgsource/fourcc.h"

namespace qxbuild {

namespace {

void PutBE32(rsrcw::Bytes* b, uInt32 v) {
  for (int shift = 24; shift >= 0; shift -= 8) b->push_back(uChar(v >> shift));
}

// A palette table: the count, then the depth-4 and depth-8 colours of each entry.
rsrcw::Bytes PaletteTable(const std::vector<DPaletteEntry>& entries) {
  rsrcw::Bytes b;
  PutBE32(&b, uInt32(entries.size()));
  for (const DPaletteEntry& e : entries) {
    PutBE32(&b, e.depth4);
    PutBE32(&b, e.depth8);
  }
  return b;
}

rsrcw::Bytes Map(int32 map, bool words) {
  rsrcw::Bytes b;
  for (uInt32 v : DDefaultColorMap(map)) {
    if (words) PutBE32(&b, v);
    else b.push_back(uChar(v));
  }
  return b;
}

}  // namespace

void AddColorResources(rsrcw::Writer* writer) {
  const std::vector<DColor> standard = DStandardColors();
  rsrcw::Bytes list;
  PutBE32(&list, uInt32(standard.size()));
  for (DColor c : standard) PutBE32(&list, c);
  writer->Add(FourCC("CLR#"), 1003, list);
  writer->Add(FourCC("PALT"), 1001, PaletteTable(DDefaultPaletteTable()), std::string("App Palette"));
  std::vector<DPaletteEntry> preferred;
  for (DColor c : standard) preferred.push_back(DPaletteEntry{c, c});
  writer->Add(FourCC("PALT"), 2000, PaletteTable(preferred), std::string("Preferred Colors"));
  writer->Add(FourCC("4BCT"), 401, Map(kDMapColors4, true));
  writer->Add(FourCC("8BCT"), 800, Map(kDMapColors8, true));
  writer->Add(FourCC("4BIT"), 401, Map(kDMapToM4, false));
  writer->Add(FourCC("4BIT"), 410, Map(kDMapToD4, false));
  // The fewer-colours variants are the same maps.
  for (int32 id : {800, 805}) writer->Add(FourCC("8BIT"), id, Map(kDMapToM8, false));
  for (int32 id : {810, 820}) writer->Add(FourCC("8BIT"), id, Map(kDMapToD8, false));
}

}  // namespace qxbuild
