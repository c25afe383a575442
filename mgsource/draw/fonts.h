// The font table, font scaling and stored font references.
//
// A font is named by a small number, a 0-based index into one process-wide
// table of reference-counted entries.  Each entry owns a host font object
// with the metrics and the width information that measuring needs.
// TNewFont finds or makes an entry and returns its number with one more
// reference; TDisposeFont drops one.  An entry whose count reaches 0 keeps
// its font object as a cache until its slot is wanted again.  Three standard
// fonts, "0" application, "1" system and "2" dialog, never drop below one
// reference; the configuration may override them ("appFont", "systemFont",
// "dialogFont").
//
// A resource file names fonts through a font record ("FREC", also embedded
// in pictures) and through its font table ("FTAB" 128), to which its saved
// texts and objects refer by index; reading the table builds the
// font-reference map from table index to font number.  There is one map at a
// time, with the file it was read from.
//
// User-interface thread only; no lock.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/rsrc.h"
#include "platform/qx_drawobj.h"

constexpr int32 kAppFont = 0;
constexpr ResType kFontTableType = FourCC("FTAB");
constexpr int32 kFontTableId = 128;
constexpr ResType kFontRecordType = FourCC("FREC");

// The style word of a font.
typedef uInt16 TextStyle;
// Style word bits.
enum : int32 {
  kFontStrikeout = 0x0001,
  kFontItalic = 0x0002,
  kFontUnderline = 0x0004,
  kFontOutline = 0x0008,
  kFontStyle5 = 0x0010,
  kFontScaled = 0x1000,       // made by TScaleFont
  kFontStock = 0x2000,        // the font object is a stock object, never deleted
  kFontSubstitute = 0x4000,   // the font could not be made: the stock font stands in
  kFontResolveName = 0x8000,  // made again under the face the host chose; no width table
  kFontMatchMask = 0x901f,    // the bits TNewFont matches on
  kFontModifyMask = 0x101f,   // the bits TModifyFont and TFontCompare work on
};

// Width flags of an entry.
enum : int32 {
  kFontNotAnsi = 0x0001,      // character set not ANSI: double-byte text
  kFontWidthTable = 0x0002,   // 256 width bytes follow the name
  kFontHexFixed = 0x0004,     // "0"-"9" and "A"-"F" as wide as the blank
  kFontScalable = 0x0800,     // outline or vector font
};

// TModifyFont and TFontCompare mask bits.
enum : int32 {
  kFontMaskName = 1,
  kFontMaskStyle = 2,         // OR the style in (XOR with kFontMaskToggle)
  kFontMaskSize = 4,
  kFontMaskWeight = 8,
  kFontMaskAddSize = 16,
  kFontMaskToggle = 32,
  kFontMaskAddWeight = 64,
  kFontMaskSetStyle = 128,
  kFontMaskAll = 141,         // name, size, weight and style
};

// One entry of the table.  The name handle holds a PStr, followed by 256
// width bytes when kFontWidthTable is set; a null name marks a free slot.
struct FontEntry {
  UHandle name;
  int32 refs;             // > 0 in use; 0 with a name: cached
  PlatObj object;         // the host font
  int16 size;             // host height: > 0 cell, < 0 character height
  TextStyle style;
  int16 weight;           // -1000..1000, 0 normal
  uInt16 ascent, descent, leading;
  uInt16 fixedWidth;      // the width of every byte, or 0
  uInt16 widthFlags;
  float32 hScale;         // horizontal scale of a scaled font; 0 ordinary
  PlatObj unscaled;       // the font object a scaled font was made from
  int32 ascentShift;      // new ascent minus the one the scaled font had
};

// The font table's header and entry layout (big-endian).
enum FontTableResource : int32 {
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

// A font record: length byte (name length + 9), version 2, size, style,
// weight (big-endian 16-bit), then the face name as a PStr.
enum FontRecord : int32 {
  kFRecLength = 0,
  kFRecVersion = 1,
  kFRecSize = 2,
  kFRecStyle = 4,
  kFRecWeight = 6,
  kFRecName = 8,
  kFRecMaxBytes = 9 + 244,    // names of 245 bytes or more are written "0"
};

// Font errors of the last font operation: 1 a standard font would have been
// disposed completely or "FREC" missing; 2 text record missing; 4 a font
// could not be made or named no font; 8 a stored table differs from the
// caller's fonts; 16 invalid font; 32 reference metrics differ or old table
// form; 64 a marked font in a checked text.
extern int32 gFontErr;
// The font-substitution flag: cleared by TLoadFontTable before it reads a
// table, set (1, 4 or 16 ORed in) when a font of the table could not be made
// as stored and a substitute stands in.
extern int32 gFontSubstituted;

// ---- the table

// The number of the font (one more reference).  Weight is clamped to
// -1000..1000, size to 16 bits; a null or empty name gives the application
// font.
QX_EXTERN_C int32 TNewFont(ConstPStr name, int32 size, int32 style, int32 weight);
// Drops one reference.
QX_EXTERN_C void TDisposeFont(int32 font);
// A font derived from font (the caller keeps its own reference).
QX_EXTERN_C int32 TModifyFont(int32 font, ConstPStr name, int32 size, int32 style, int32 weight, int32 mask);
// Adds one reference; 0, or 16 (and nothing done) for an invalid font.
int32 TAddFontReference(int32 font);
// The description of a font (out-pointers may be null; style bits 0-4).
// False for an invalid font: name empty, gFontErr = 16.
QX_EXTERN_C Bool32 TGetFontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight);
// 0, or 1 with gFontErr = 16 for an invalid font.
QX_EXTERN_C int32 TGetFontMetrics(int32 font, int32* ascent, int32* descent, int32* leading);
// The references held on a font (0 for invalid numbers).
int32 TFontReferences(int32 font);
// The mask bits (1 name, 4 size, 8 weight, 128 style) on which a and b
// differ; -1 when either is invalid.
QX_EXTERN_C int32 TFontCompare(int32 a, int32 b, int32 mask);
// Replaces the caller's reference to old by one to a font that takes from
// source what mask selects; old is disposed.
int32 TApplyFontChange(int32 old, int32 source, int32 mask, int32 keepMask);
// Height (ascent + descent + leading) in size->v and width in size->h of a
// text on one line.
QX_EXTERN_C void TTextSize(const uChar* text, int32 length, int32 font, Point* size);
// The same measured through the device context (the current port's, else
// the screen's), tabs and NUL bytes as blanks.
void TMeasureText(const uChar* text, int32 length, int32 font, Point* size);
// Selects a font object into a context and remembers it.
void TSelectFontIntoDC(PlatObj dc, PlatObj fontObject);
// The face the host uses for the font; "*" for an invalid font.
void GetRealName(int32 font, PStr name);
// True when the font's character set is ANSI.
Bool32 TFontIsAnsi(int32 font);
// The entry of a valid font, null for another number.  Valid until the next
// call that makes a font.
const FontEntry* TFontEntry(int32 font);
// The number of slots of the table.
int32 TFontCount();
// The slots kept as a cache: no reference, their name and font object kept
// (one handle each) until the slot is wanted again (tests and fuzzing).
int32 TCachedFontCount();
// The standard fonts: 0 application, 1 system, 2 dialog (current ones), 3 the
// bold application font, 4 the fixed-pitch font; -1 before start-up.
int32 TStandardFont(int32 which);
// Installed face names, sorted, into list (resized); their count, 0 when no
// context could be had.
int32 TGetFontList(CPStrHandle list);

// Start-up and shut-down of the font table.
void TXInitFonts();
void TXFinishFonts();

// The context that scaling measures candidates in: the print manager's
// while a printer is open (0: the screen's).
void TSetPrinterFontDC(PlatObj dc);

// ---- scaling and stored references

// A font whose text fills toRect as font fills fromRect (one reference).
QX_EXTERN_C int32 TScaleFont(int32 font, const Rect* fromRect, const Rect* toRect);
// The font of resource "FREC" id; missing: font 0 and gFontErr |= 1.
QX_EXTERN_C int32 TLoadFont(RsrcFileRef file, int32 id);
// The font a record of size bytes names.  A short record, or a name past the
// record's length, gives the application font and gFontErr |= 4.
int32 TNewFontFromRec(const uChar* record, int32 size);
// Writes the record of a font (at most kFRecMaxBytes bytes); returns its
// length.  An invalid font writes the application font, gFontErr |= 16.
int32 TFontToRec(int32 font, uChar* record);
// The reference metrics of a font: height and width of the narrow sample,
// width of the wide sample.
void TFontReferenceMetrics(int32 font, int32* height, int32* narrow, int32* wide);

// Builds the map from a table handle (file order) for file: 0, 1 for a
// malformed table (no map then), 2 when the map cannot be allocated.
// fonts/count: the caller's fonts, matched by name for wildcard entries.
QX_EXTERN_C MgErr TReadFontTable(RsrcFileRef file, UHandle table, const int32* fonts, int32 count);
// Compares the file's table with the caller's fonts: 0 or the resource
// error; findings in gFontErr.
QX_EXTERN_C MgErr TCheckFontTable(RsrcFileRef file, const int32* fonts, int32 count);
// The font-table loader: clears the substitution flag and reads the file's
// table into the map: 0, 15 when the file has none, or TReadFontTable's error.
QX_EXTERN_C MgErr TLoadFontTable(RsrcFileRef file, const int32* fonts, int32 count);
// The font number (one more reference) for a stored index of the file's
// table; the application font (one more reference) for an index the table
// doesn't map and when the file has no table, or one that cannot be read.
QX_EXTERN_C int32 TLoadFontReference(RsrcFileRef file, int32 index);
// The same without the report: -1 for an index the table doesn't map;
// mapFlags, when given, receives the entry's map flags (0 when none).
int32 TMapFontReference(RsrcFileRef file, int32 index, uInt32* mapFlags);
// Disposes every mapped font and the map.
QX_EXTERN_C void TReleaseFontReferences();
// The number of pairs in the map and pair i's font (tests and fuzzing).
int32 TFontMapCount();
int32 TFontMapFont(int32 i);
