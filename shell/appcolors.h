// The application colours: the palette table and the colour-index maps of
// the run-time resource file, handed to the drawing manager at start-up.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/rsrc.h"

// Resource ids of the colour resources.
enum : int32 {
  kAppColorListId = 1003,     // "CLR#": the default palette
  kAppPaletteId = 1001,       // "PALT": "App Palette"
  kPreferredColorsId = 2000,  // "PALT": "Preferred Colors"
  kColorTable4Id = 401,       // "4BCT"
  kColorTable8Id = 800,       // "8BCT"
  kIndexToM4Id = 401,         // "4BIT"
  kIndexToM8Id = 800,         // "8BIT"; 805 its fewer-colours variant
  kIndexToM8FewId = 805,
  kMToIndex4Id = 410,         // "4BIT"
  kMToIndex8Id = 810,         // "8BIT"; 820 its fewer-colours variant
  kMToIndex8FewId = 820,
};

// Loads the colour list and the palette tables (their 32-bit words
// big-endian in the file) and gives them to DSetAppColors, then loads the
// six colour-index maps; each failure is reported, a missing preferred-
// colours table only written as a debug line.
void InitAppColors(RsrcFileRef file);
