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

// A colour palette table: columns, count, then the colours.
rsrcw::Bytes PaletteGrid(uInt32 columns, const std::vector<DColor>& colours) {
  rsrcw::Bytes b;
  PutBE32(&b, columns);
  PutBE32(&b, uInt32(colours.size()));
  for (DColor c : colours) PutBE32(&b, c);
  return b;
}

// The colour palette's tables: black, white and transparent in 3 columns;
// the 16 standard colours and transparent in 8 (also the table without
// dithering); the 216-colour cube, 16 greys and transparent in 16.
void AddPaletteTables(rsrcw::Writer* writer) {
  writer->Add(FourCC("CLR#"), 2001, PaletteGrid(3, {kBlackColor, kWhiteColor, kTransparentColor}));
  std::vector<DColor> four = DStandardColors();
  four.push_back(kTransparentColor);
  writer->Add(FourCC("CLR#"), 2004, PaletteGrid(8, four));
  writer->Add(FourCC("CLR#"), 2041, PaletteGrid(8, four));
  std::vector<DColor> eight;
  for (uInt32 r = 0; r < 6; ++r)
    for (uInt32 g = 0; g < 6; ++g)
      for (uInt32 b = 0; b < 6; ++b) eight.push_back((r * 0x33) << 16 | (g * 0x33) << 8 | b * 0x33);
  for (uInt32 k = 0; k < 16; ++k) eight.push_back(k * 0x111111);
  eight.push_back(kTransparentColor);
  writer->Add(FourCC("CLR#"), 2008, PaletteGrid(16, eight));
  writer->Add(FourCC("STR#"), 306,
              rsrcw::StrList({"_Foreground:", "_Background:", "Color:", "Foreground and Background:", "More...",
                              "_All for both", "Other keys toggle"}),
              std::string("_Color Menu"));
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
  AddPaletteTables(writer);
}

}  // namespace qxbuild
