// Picture data: a recorded sequence of drawing calls.
//
// Layout: a 32-bit length of the records that follow, in host byte order
// (the only field that is not big-endian), then records back to back.  A
// record is a big-endian u16 opcode, a big-endian u32 data size (the data
// only: the record takes size + 6 bytes) and the data, all of whose
// integers are big-endian: a Rect is top, left, bottom, right as i16, a
// point vertical then horizontal as i16, colours u32.
//
// Pictures come from resource files and diagram data: every reader here
// checks each count against what remains, in 64 bits, and never reads past
// the bytes it was given.
#pragma once
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

// A picture: a handle of the layout above.
typedef UHandle QXPict;

enum : int32 {
  kPictOpNormPen = 1,      // colour, black-and-white colour
  kPictOpSelectPen = 2,    // pen reference, bw fore, bw back
  kPictOpPenState = 3,     // pen reference, field mask, the fields
  kPictOpSetPixel = 4,     // point
  kPictOpMove = 5,         // relative point
  kPictOpMoveTo = 6,       // point
  kPictOpLine = 7,         // relative point
  kPictOpLineTo = 8,       // point
  kPictOpFrameRect = 9,    // Rect
  kPictOpPaintRect = 10,
  kPictOpFrameOval = 11,
  kPictOpPaintOval = 12,
  kPictOpFrameArc = 13,    // Rect, start angle, arc angle
  kPictOpPaintArc = 14,
  kPictOpGrayOut = 15,     // Rect, colour
  kPictOpPolyLine = 16,    // n, n + 1 points
  kPictOpPaintPoly = 17,   // n, flag, n + 1 points
  kPictOpTextBox = 18,     // text length, Rect, justification, text, font, four colours
  kPictOpTextRecord = 19,  // text-record handle, live
  kPictOpImage = 20,       // image id (live), source Rect, destination Rect, four colours
  kPictOpLimitClip = 21,   // Rect; read only
  kPictOpSetClip = 22,     // Rect
  kPictOpSkip = 23,        // no data; skipped whatever its size
  kPictOpFrameRoundRect = 24,  // Rect, oval width, oval height
  kPictOpPaintRoundRect = 25,
  kPictOpFrameRgn = 26,    // region handle, live
  kPictOpPaintRgn = 27,
  kPictOpInvalid = 28,
  kPictOpPixels = 29,      // pixel block; read only
  kPictOpPenDef = 30,      // a pen definition
  kPictOpFontDef = 31,     // a flattened font
  kPictOpDefSlot1 = 32,    // definition-list placeholders
  kPictOpDefSlot2 = 33,
  kPictOpMHLineTo = 34,    // point, vertical-first flag
  kPictOpMarkers = 35,     // marker pattern, n, n h, n v, Rect
  kPictOpLast = 35,
};

// The fields of a pen state by mask bit, as opcode 3 carries them.
enum : uInt32 {
  kPictPenWidth = 1, kPictPenMode = 2, kPictPenStyle = 4, kPictPenFore = 8,
  kPictPenBack = 16, kPictPenFill = 32, kPictPenPattern = 64,
};

// True for the opcodes a reader accepts: 1 to 35 but 28.
inline bool PictOpValid(int32 opcode) { return opcode >= 1 && opcode <= kPictOpLast && opcode != kPictOpInvalid; }

// The data size of an opcode's record.  count is what sizes it: the field
// mask (3), the segment count n (16, 17), the text length (18), the
// flattened font's bytes (31) and the marker count (35); ignored by the
// others.  -1 for opcode 29 (sized by its own fields), invalid opcodes and
// a negative count or size.
QX_EXTERN_C int32 PictOpDataSize(int32 opcode, int32 count);

// What a writer puts into one record; each opcode reads only its fields.
struct PictOpArgs {
  Rect rect{};                // 9-15, 18, 21, 22, 24, 25, 35; 20: the source part
  Rect dest{};                // 20: the destination
  int32 h = 0, v = 0;         // 4-8, 34
  int32 a = 0, b = 0;         // 13, 14 angles; 24, 25 oval size; 17 flag; 18 justification; 34 vertical first
  uInt32 ref = 0;             // 2, 3 pen; 18 font; 19 text record; 20 image; 26, 27 region
  uInt32 mask = 0;            // 3
  DColor colours[4] = {0, 0xFFFFFF, 0, 0xFFFFFF};  // fore, back, bw fore, bw back (1: [0], [2]; 15: [0])
  // The pen of 3 and 30.
  DColor penFore = 0, penBack = 0xFFFFFF;
  uInt8 pattern[8] = {};
  int32 width = 0, mode = 0, style = 0, fill = 0;
  const Point* points = nullptr;  // 16, 17: n + 1 points
  const int16* hs = nullptr;      // 35: n horizontal coordinates
  const int16* vs = nullptr;      // 35: n vertical coordinates
  int32 n = 0;                    // 16, 17, 35
  const uInt8* bytes = nullptr;   // 18 the text, 31 the flattened font, 35 five pattern bytes
  int32 count = 0;                // 18, 31 byte counts
};

// Appends one record to a picture handle (application zone when appZone,
// else data zone) and sets its length word to the new total: 0, 1 for an
// opcode the recorder does not write or arguments that do not fit it, 2
// when the handle can't grow (the picture is left as it was).
QX_EXTERN_C MgErr PictAppendOp(QXPict pict, Bool32 appZone, int32 opcode, const PictOpArgs* args);

// One record of a walk.
struct PictRecord {
  int32 opcode;
  int32 size;          // data bytes
  const uInt8* data;
  int32 offset;        // of the record head from the start of the walked bytes
};

// A checked walk of records over [begin, begin + size).  Next answers the
// next whole record; it ends (false) at the end, at a head shorter than 6
// bytes, or at a record whose data runs past the end (overran() is then
// true and the record's head is in the argument).
class PictWalker {
 public:
  PictWalker(const uInt8* begin, int64 size) : p_(begin), size_(size < 0 ? 0 : size) {}
  bool Next(PictRecord* rec) {
    if (overran_ || size_ - at_ < 6) return false;
    const uInt8* head = p_ + at_;
    const uInt32 size = GetBE32(head + 2);
    rec->opcode = GetBE16(head);
    rec->size = int32(size);
    rec->offset = int32(at_);
    rec->data = head + 6;
    if (int64(size) > size_ - at_ - 6) {
      overran_ = true;
      return false;
    }
    at_ += 6 + int64(size);
    return true;
  }
  bool overran() const { return overran_; }
  int64 remaining() const { return size_ - at_; }

 private:
  const uInt8* p_;
  int64 size_;
  int64 at_ = 0;
  bool overran_ = false;
};

// Counts the pen and font definitions (opcodes 30 and 31) of the records
// over [begin, begin + size), as a walk reads them; at an overrun the
// failing record's head is stored in *overrun (when given) and true
// returned through *overran.
inline uInt32 PictCountDefinitions(const uInt8* begin, int64 size, bool* overran, PictRecord* overrun) {
  uInt32 count = 0;
  *overran = false;
  if (size <= 0) return 0;
  // Offsets stay below 2^31 (handle sizes are int32), so 32-bit unsigned
  // arithmetic is exact here.
  const uInt32 total = size > 0x7FFFFFFF ? 0x7FFFFFFFu : uInt32(size);
  uInt32 at = 0;
  while (total - at >= 6) {
    const uInt8* head = begin + at;
    const uInt32 n = GetBE32(head + 2);
    if (n > total - at - 6) {
      *overran = true;
      if (overrun) *overrun = PictRecord{GetBE16(head), int32(n), head + 6, int32(at)};
      break;
    }
    const uInt32 opcode = GetBE16(head);
    count += opcode == kPictOpPenDef || opcode == kPictOpFontDef;
    at += 6 + n;
  }
  return count;
}

// Checks that a record's data holds what its opcode's fields say (the
// counts of 16, 17, 18, 29, 35 against the size, and fixed sizes at least
// met); false when playing it would read past its data.
bool PictRecordWellFormed(const PictRecord& rec);

// Colour fields decoded against the last value of their kind.
enum : int32 { kPictFore = 0, kPictBack = 1, kPictBWFore = 2, kPictBWBack = 3 };
struct PictColourState {
  DColor last[4] = {0, 0xFFFFFF, 0, 0xFFFFFF};
  // 0x1000001 repeats the last value; fore and back above 0x1000000 read as
  // black; black-and-white values other than black and white read as the
  // kind's default.  The result becomes the last value.
  DColor Decode(int32 kind, uInt32 stored);
};

// What a stored pen or font reference names.
enum : int32 { kPictRefIndex = 0, kPictRefFont = 1, kPictRefPen = 2, kPictRefCurrentPen = 3 };
struct PictRef {
  int32 kind;
  int32 value;
};
// The font of an opcode-18 record: -4, -3, -2 the current dialog, system
// and application fonts, -1 the previous record's font, other negatives a
// font reference + 100; otherwise an index into the definition list, or in
// a live picture the font reference itself.
PictRef PictDecodeFontRef(int32 stored, bool live, int32 appFont, int32 systemFont, int32 dialogFont,
                          int32 previousFont);
// The pen of an opcode-2 or -3 record: -1 in opcode 3 the pen current at
// playback; otherwise an index, or in a live picture the pen number.
PictRef PictDecodePenRef(int32 opcode, int32 stored, bool live);
