// Fonts: a fixed table of twenty outline faces (five families, each
// regular, bold, oblique or italic, and bold oblique or italic), read from
// /usr/share/fonts/truetype/dejavu/ or the folder QX_FONT_DIR names.  No
// font configuration of the machine is consulted, so a request gives the
// same face, metrics and pixels everywhere.
//
// A request names a face; the name resolves to one of the five families
// (PlatResolveFamily), the weight picks the bold file (600 and above) and
// the italic flag the oblique or italic one.  Sizes follow the face's
// ascent A and descent D (usWinAscent and usWinDescent of its OS/2 table)
// and its units per em U:
//   height -h: em h, ascent ceil(hA/U), descent ceil(hD/U);
//   height +h: ascent round(hA/(A+D)) (halves up), descent h - ascent,
//              em hU/(A+D) in 26.6 fixed point, truncated;
//   height 0 counts as +13; heights beyond +-2048 are clamped.
// A width w > 0 (clamped to 2048) scales the horizontal em so that the
// average character width becomes w.  External leading is 0, the character
// set always 0 (single-byte, code page 1252).
//
// Advances are integers: byte -> code point (code page 1252) -> glyph
// (control bytes and unassigned bytes: glyph 0), then the unhinted advance
// times the horizontal em over U, rounded halves up.  No kerning, ever, so
// the width of a text is the sum of the widths of its bytes on every
// context.
//
// When the font folder is missing this is written once to stderr, every
// font creation fails, and the stock fonts measure as cells of their
// described height (ascent 4/5 of it, every byte half the height wide) and
// draw nothing.  A face file that cannot be read or that FreeType refuses
// (or whose metrics are out of range) fails the creation of fonts of that
// face with kPlatErrGeneral or kPlatErrFileNotFound.
#pragma once
#include <cstdint>

#include "platform/qx_drawobj.h"

constexpr int32_t kPlatFaceNameSize = 32;  // 31 bytes and a NUL

enum PlatFontFamily : int32_t {
  kPlatFamilySans = 0,
  kPlatFamilySansCondensed = 1,
  kPlatFamilySerif = 2,
  kPlatFamilySerifCondensed = 3,
  kPlatFamilySansMono = 4,
  kPlatFamilyCount = 5,
};

// A font description (what a font is made from and what it reports back).
struct PlatFontDesc {
  int32_t height;   // see above
  int32_t width;    // average character width; 0 natural
  int32_t weight;   // 100-900, 0 = 400
  bool italic, underline, strikeOut;
  uint8_t charSet;  // read back 0, or the double-byte set (qx_codepage.h)
  char face[kPlatFaceNameSize];  // NUL-terminated
};

// Text metrics of a font.
struct PlatTextMetrics {
  int32_t height;           // ascent + descent
  int32_t ascent, descent;
  int32_t externalLeading;  // 0
  int32_t aveCharWidth;
  int32_t weight;           // 400 or 700
  bool italic, underlined, struckOut;
  uint8_t pitchAndFamily;   // 0x06 | 0x01 proportional | 0x20 sans, 0x10 serif, 0x30 mono
  uint8_t charSet;          // as the description
};

// Copies a face name into a description: at most 31 bytes, up to the first
// NUL of the length given (a negative length is empty).
void PlatSetFaceName(PlatFontDesc* desc, const char* name, int32_t length);

// The family of a face name (same bytes rule as PlatSetFaceName): a family
// name in any letter case is itself; any other name goes through the
// font-name map: a fixed-pitch family gives "DejaVu Sans Mono", a serif one
// "DejaVu Serif Condensed", every other "DejaVu Sans Condensed".
int32_t PlatResolveFamily(const char* name, int32_t length);
// The family's name ("DejaVu Sans Condensed"); "" outside the table.
const char* PlatFamilyName(int32_t family);

// The font-name map that screen faces and printer fonts share: the row of a
// name (lower case, blanks removed; no match is row 0), and the printer
// family of a row ("Helvetica", "Times", ...; null outside 0-36).
constexpr int32_t kPlatFontMapRows = 37;
int32_t PlatFontMapRow(const char* name, int32_t length);
const char* PlatFontMapFamily(int32_t row);

// A font, 0 on failure (PlatLastError: kPlatErrFileNotFound when the face
// is missing, kPlatErrGeneral for a face FreeType cannot use).
PlatObj PlatCreateFont(const PlatFontDesc& desc);
// The description a font was made from, its face the resolved family name
// and its height and width clamped.
bool PlatGetFontDesc(PlatObj font, PlatFontDesc* desc);
bool PlatGetFontMetrics(PlatObj font, PlatTextMetrics* tm);
// The width of one byte in the font.
int32_t PlatGetCharAdvance(PlatObj font, uint8_t byte);

// Calls proc for each family whose name equals face (any letter case; null
// or empty: all five, in table order) until proc returns false.  The
// description has height 0, weight 400 and character set 0.  Returns the
// number of calls.
using PlatFontEnumProc = bool (*)(const PlatFontDesc& desc, void* data);
int32_t PlatEnumFonts(const char* face, int32_t length, PlatFontEnumProc proc, void* data);

// The fonts that the system-parameter queries describe: icon titles and
// menus, both "DejaVu Sans Condensed" at height -11, weight 400.
void PlatGetIconTitleFont(PlatFontDesc* desc);
void PlatGetMenuFont(PlatFontDesc* desc);

// True when the font folder was found.
bool PlatFontsAvailable();
