// Font numbers and the stored font table of a resource file.
//
// A font is named by a small number: 0 is the application font; TNewFont
// gives the number of a font described by face name, size, style bits and
// weight, the same number for the same description, and counts references.
// A resource file names the fonts of its saved texts and objects through its
// font table ("FTAB" 128); reading the table builds the font-reference map
// from table index to font number.  There is one map at a time, with the
// file it was read from.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/rsrc.h"

constexpr int32 kAppFont = 0;
constexpr ResType kFontTableType = FourCC("FTAB");
constexpr int32 kFontTableId = 128;

// The font table's header and entry layout (big-endian).
enum : int32 {
  kFTabFlags = 0,         // bit 0x10000: 16-byte entries with reference metrics; low byte 1: version 1
  kFTabFirst = 4,         // u16: the first index that is mapped
  kFTabEnd = 6,           // u16: the number of entries
  kFTabEntries = 8,
  kFTabEntryOld = 12,
  kFTabEntryNew = 16,
};
constexpr uInt32 kFTabNewForm = 0x10000;
constexpr int16 kFTabTakeSize = -32768;     // size and weight: take the matching font's
constexpr uInt16 kFTabTakeStyle = 0x8000;   // styles from here: take the matching font's
constexpr uInt32 kFontMapMarked = 1;        // version-1 table, entry style with 0x400

// Font errors of the last font operation (bits: 1 "FREC" missing, 2 text
// record missing, 4 no font of that name, 8 table differs, 16 invalid font,
// 32 metrics differ or old table form, 64 a marked font in a checked text).
extern int32 gFontErr;
// The font-substitution flag: cleared by TLoadFontTable before it reads a
// table, set (1, 4 or 16 ORed in) when a font of the table could not be made
// as stored and a substitute stands in.
extern int32 gFontSubstituted;

// The number of the font (one more reference); kAppFont for an empty name.
QX_EXTERN_C int32 TNewFont(ConstPStr name, int32 size, int32 style, int32 weight);
// Drops one reference of a font made by TNewFont.
QX_EXTERN_C void TDisposeFont(int32 font);
// Adds one reference; 0, or 16 (and nothing done) for an invalid font.
int32 TAddFontReference(int32 font);
// The description of a valid font; false (outputs untouched) for another number.
QX_EXTERN_C Bool32 TGetFontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight);
// The references held on a font (0 for the application font and invalid numbers).
int32 TFontReferences(int32 font);

// Builds the map from a table handle (file order) for file: 0, 1 for a
// malformed table (no map then), 2 when the map cannot be allocated.
// fonts/count: the caller's fonts, matched by name for wildcard entries.
QX_EXTERN_C MgErr TReadFontTable(RsrcFileRef file, UHandle table, const int32* fonts, int32 count);
// The font-table loader: clears the substitution flag and reads the file's
// table into the map: 0, 15 when the file has none, or TReadFontTable's error.
QX_EXTERN_C MgErr TLoadFontTable(RsrcFileRef file, const int32* fonts, int32 count);
// The font number (one more reference) for a stored index of the file's
// table; the application font for an index the table doesn't map, and
// without an added reference when the file has no table.
QX_EXTERN_C int32 TLoadFontReference(RsrcFileRef file, int32 index);
// The same without the report: -1 for an index the table doesn't map;
// mapFlags, when given, receives the entry's map flags (0 when none).
int32 TMapFontReference(RsrcFileRef file, int32 index, uInt32* mapFlags);
// Disposes every mapped font and the map.
QX_EXTERN_C void TReleaseFontReferences();
