// Readers of VI string files: the tagged text that holds a VI's
// user-visible strings for translation.  The import (shell/vistring.h)
// reads the top level of a VI's section; the panel classes read their own
// objects with the same readers.
//
// The text is untrusted: every reader stops at its end (code 4), checks
// every number it converts, and leaves the read position (and the line
// counter) where they were when it fails.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// Codes of an import: errors unless marked.
enum : int32 {
  kVSUnknownTag = 1,        // a tag name that is none of the 36
  kVSUnexpectedTag = 2,     // another tag than the one expected
  kVSSyntax = 3,            // a required character missing, or a stray one in text
  kVSEndOfFile = 4,
  kVSUnknownAttr = 5,       // warning
  kVSBadValue = 6,          // a bad attribute value
  kVSPartId = 7,
  kVSPartOrder = 8,
  kVSClassId = 9,
  kVSVersion = 10,          // warning
  kVSWarning11 = 11,        // warning; nothing raises it
  kVSNoSection = 12,
  kVSMemory = 13,
  kVSStructure = 14,        // a typed value does not match the control's data
  kVSCellPosition = 16,
  kVSControlName = 17,
  kVSItemCount = 18,
  kVSPathComponent = 19,
};
inline bool VSIsWarning(int32 code) { return code == kVSUnknownAttr || code == kVSVersion || code == kVSWarning11; }

// The tags, in the order of their names' table.
enum VSTag : int32 {
  kTagVI, kTagDESC, kTagCONTENT, kTagTITLE, kTagSTEXT, kTagLABEL, kTagFONT, kTagMLABEL, kTagSTRING,
  kTagSTRINGS, kTagPART, kTagPARTS, kTagCONTROL, kTagGROUPER, kTagLBLABEL, kTagDEFAULT, kTagPRIV,
  kTagITEMS, kTagPLOTS, kTagCURSORS, kTagROW_HEADER, kTagCOL_HEADER, kTagCELL_FONTS, kTagSAME_AS_LABEL,
  kTagNO_TITLE, kTagCR, kTagCRLF, kTagLF, kTagCLUSTER, kTagARRAY, kTagNON_STRING, kTagPATH, kTagSEP,
  kTagHELP_PATH, kTagHELP_TAG, kTagRTM_PATH,
  kVSTagCount
};
// The tag's name ("" outside the table).
const char* VSTagName(int32 tag);

// The state of one import.
struct ImportStringsWarning {
  int32 code;
  uInt32 object;
  uInt32 position;
  int32 line;
};
constexpr int32 kImportWarningSlots = 5;
struct ImportStringsContext {
  int32 errCode;      // -1 while there is none
  uInt32 errObject;   // 0 for the top level
  uInt32 errPosition;
  int32 errLine;
  int32 warnCount;    // -1 while there is none
  ImportStringsWarning warnings[kImportWarningSlots];
  int32 line;         // the line counter, from 1
};
// Starts a context: no error, no warning, line 1.
void InitImportContext(ImportStringsContext* context);

// The record that travels with the selection message's code 53.
struct ImportStringsRequest {
  int32 reserved0;
  int16 partId;      // of the object that changed, written by its method
  int16 partOrder;
  UHandle text;      // a data-zone counted string: the whole file
  uInt32 position;   // the read position, a byte offset into the text
  int32 reserved1;
  int32 syntaxVersion;
  ImportStringsContext* context;
};
static_assert(sizeof(void*) != 4 || (sizeof(ImportStringsRequest) == 28 &&
                                     offsetof(ImportStringsRequest, text) == 8 &&
                                     offsetof(ImportStringsRequest, position) == 12 &&
                                     offsetof(ImportStringsRequest, syntaxVersion) == 20 &&
                                     offsetof(ImportStringsRequest, context) == 24),
              "string import request words");
// The selection message's codes: import (53) and export (52, answered with 0).
enum : int32 { kSelectExportStrings = 52, kSelectImportStrings = 53 };
// Reply bits of the import methods: an error was recorded (stop), out of
// memory, the object changed (the request holds its part id and order).
constexpr int32 kImportStop = 0x10000000, kImportNoMemory = 0x10, kImportChanged = 0xC0;

// Stores an error (the first one only) or counts a warning (the first five
// kept) with the object, the position and the context's line; the reply
// that goes with it: kImportStop for an error, 0 for a warning.
int32 RecordImportError(ImportStringsContext* context, int32 code, uInt32 object, uInt32 position);

// The readers.  Each reads at rq->position, advances it on success, and
// answers 0 or a code; the line counter is rq->context->line.  Readers that
// parse attributes record unknown ones as warnings for the object given.
// Skips white space; then exactly that tag, opening or closing, without
// attributes.
int32 ExpectTag(ImportStringsRequest* rq, int32 tag, bool closing);
// The name of the next tag after white space, without moving: 0 with the
// tag and whether it closes; 1 for an unknown name, 2 for an empty one, 3
// for a missing "<", 4 at the end.
int32 PeekTag(ImportStringsRequest* rq, int32* tag, bool* closing);
// Text up to the next tag other than the line ends (left on its "<"), into
// a data-zone counted string made or resized here.
int32 ReadElementText(ImportStringsRequest* rq, LStrHandle* out);
// A double-quoted value (the quotes skipped).
int32 ReadQuotedValue(ImportStringsRequest* rq, LStrHandle* out);
// The tag, its text, its closing tag.
int32 ReadStringElement(ImportStringsRequest* rq, int32 tag, LStrHandle* out);
// "STRINGS", any number of STRING elements, "/STRINGS": a new counted
// list of Pascal strings (application zone), each cut to 255 bytes.
int32 ReadStringList(ImportStringsRequest* rq, UHandle* out);

// The font settings of a FONT tag.
struct VSFont {
  Str255 name;
  int32 size, style, weight;
  DColor colour;
};
// The application font's face ("0"), size, style and weight with colour 0.
void VSAppFontSettings(VSFont* font);
// An opening FONT tag changes the settings it names; 2 (nothing read) when
// the next tag is another.
int32 ReadFontTag(ImportStringsRequest* rq, VSFont* font, uInt32 object);

// A PATH element: a new path (null on failure).
int32 ReadPathElement(ImportStringsRequest* rq, ::Path* out, uInt32 object);
// The wrapper tag, an optional PATH element, the wrapper's closing tag: the
// new path (null when none) and whether it differs from the current one.
int32 ReadOptionalPath(ImportStringsRequest* rq, int32 wrapper, ::Path current, ::Path* out, Bool32* changed,
                       uInt32 object);
// A typed value of the descriptor at data: strings and paths that differ
// are replaced in place; *changed set when one was.
int32 ReadTypedValue(ImportStringsRequest* rq, const TypeDescriptor* td, UPtr data, Bool32* changed,
                     uInt32 object);
// "[", a signed decimal, spaces, a signed decimal, "]".
int32 ReadCellPosition(ImportStringsRequest* rq, int32* row, int32* column);

// The attributes of PART and CONTROL tags.
struct VSPartAttrs {
  int32 id = -1, order = -1;
};
struct VSControlAttrs {
  int32 id = -1;
  LStrHandle name = nullptr;  // made here when the tag has one; the caller disposes it
};
int32 ReadPartAttrs(ImportStringsRequest* rq, VSPartAttrs* attrs, uInt32 object);
int32 ReadControlAttrs(ImportStringsRequest* rq, VSControlAttrs* attrs, uInt32 object);

// The VI tag's attributes; name cut to 255.  Warnings only with warn set.
struct VSVIAttrs {
  int32 version = -1, revision = -1, syntaxVersion = -1;
  Str255 name{};
};
int32 ReadVITag(ImportStringsRequest* rq, VSVIAttrs* attrs, bool warn);
// RTM_PATH's opening tag: its type (0 default, 1 minimal, 2 custom, -1 none).
int32 ReadRTMPathTag(ImportStringsRequest* rq, int32* type);
// A NO_TITLE tag (its name read and ignored).
int32 ReadNoTitleTag(ImportStringsRequest* rq);
// The SAME_AS_LABEL or NON_STRING tag (neither takes attributes).
int32 ReadMarkerTag(ImportStringsRequest* rq, int32 tag);

// Text helpers: the bytes and count of a counted-string handle of either
// zone (0 and null when the handle is null or its count passes its size).
int32 VSLStrLen(UHandle h);
const uChar* VSLStrBytes(UHandle h);
// True when the two texts are equal (a null handle is empty).
bool VSLStrEqual(UHandle a, UHandle b);
// Skips white space (counting lines).
void SkipWhiteSpace(ImportStringsRequest* rq);
// Skips to just past the next closing VI tag; 12 when there is none.
int32 SkipVISection(ImportStringsRequest* rq);
