// Picture records: sizes, the writer, the checked walk and the decoding of
// colours and references.
#include "mgsource/draw/pictops.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace {

// Bytes of the opcode-3 fields present in a mask.
int32 PenFieldBytes(uInt32 mask) {
  int32 n = 0;
  if (mask & kPictPenFore) n += 4;
  if (mask & kPictPenBack) n += 4;
  if (mask & kPictPenPattern) n += 8;
  if (mask & kPictPenWidth) n += 2;
  if (mask & kPictPenMode) n += 2;
  if (mask & kPictPenStyle) n += 4;
  if (mask & kPictPenFill) n += 2;
  return n;
}

constexpr int32 kMaxCount = 0x0FFFFFFF;  // keeps every size formula below 2^31

// Big-endian fields into a record's data.
class Out {
 public:
  explicit Out(uInt8* p) : p_(p) {}
  void U16(int32 v) { PutBE16(p_, uInt16(v)), p_ += 2; }
  void U32(uInt32 v) { PutBE32(p_, v), p_ += 4; }
  void R(const Rect& r) { U16(r.top), U16(r.left), U16(r.bottom), U16(r.right); }
  void Pt(int32 v, int32 h) { U16(v), U16(h); }
  void Bytes(const void* b, int32 n) {
    if (n > 0) std::memcpy(p_, b, size_t(n));
    p_ += n;
  }
  uInt8* at() const { return p_; }

 private:
  uInt8* p_;
};

// The recorder writes 1-20, 22, 24-27, 30, 31, 34 and 35.
bool Writable(int32 op) {
  return (op >= 1 && op <= 20) || op == 22 || (op >= 24 && op <= 27) || op == 30 || op == 31 || op == 34 ||
         op == 35;
}

int32 CountOf(int32 op, const PictOpArgs& a) {
  switch (op) {
    case kPictOpPenState: return int32(a.mask & 0x7F);
    case kPictOpPolyLine:
    case kPictOpPaintPoly:
    case kPictOpMarkers: return a.n;
    case kPictOpTextBox:
    case kPictOpFontDef: return a.count;
    default: return 0;
  }
}

void WriteData(int32 op, const PictOpArgs& a, Out& o) {
  switch (op) {
    case kPictOpNormPen: o.U32(a.colours[0]), o.U32(a.colours[2]); break;
    case kPictOpSelectPen: o.U32(a.ref), o.U32(a.colours[2]), o.U32(a.colours[3]); break;
    case kPictOpPenState: {
      const uInt32 m = a.mask & 0x7F;
      o.U32(a.ref), o.U32(m);
      if (m & kPictPenFore) o.U32(a.penFore);
      if (m & kPictPenBack) o.U32(a.penBack);
      if (m & kPictPenPattern) o.Bytes(a.pattern, 8);
      if (m & kPictPenWidth) o.U16(a.width);
      if (m & kPictPenMode) o.U16(a.mode);
      if (m & kPictPenStyle) o.U32(uInt32(a.style));
      if (m & kPictPenFill) o.U16(a.fill);
      break;
    }
    case kPictOpSetPixel:
    case kPictOpMove:
    case kPictOpMoveTo:
    case kPictOpLine:
    case kPictOpLineTo: o.Pt(a.v, a.h); break;
    case kPictOpFrameRect:
    case kPictOpPaintRect:
    case kPictOpFrameOval:
    case kPictOpPaintOval:
    case kPictOpLimitClip:
    case kPictOpSetClip: o.R(a.rect); break;
    case kPictOpFrameArc:
    case kPictOpPaintArc:
    case kPictOpFrameRoundRect:
    case kPictOpPaintRoundRect: o.R(a.rect), o.U16(a.a), o.U16(a.b); break;
    case kPictOpGrayOut: o.R(a.rect), o.U32(a.colours[0]); break;
    case kPictOpPolyLine:
    case kPictOpPaintPoly:
      o.U32(uInt32(a.n));
      if (op == kPictOpPaintPoly) o.U32(uInt32(a.a));
      for (int32 i = 0; i <= a.n; ++i) o.Pt(a.points[i].v, a.points[i].h);
      break;
    case kPictOpTextBox:
      o.U32(uInt32(a.count)), o.R(a.rect), o.U32(uInt32(a.a)), o.Bytes(a.bytes, a.count);
      if (a.count & 1) o.Bytes("", 1);
      o.U32(a.ref);
      for (DColor c : a.colours) o.U32(c);
      break;
    case kPictOpTextRecord:
    case kPictOpFrameRgn:
    case kPictOpPaintRgn: o.U32(a.ref); break;
    case kPictOpImage:
      o.U32(a.ref), o.R(a.rect), o.R(a.dest);
      for (DColor c : a.colours) o.U32(c);
      break;
    case kPictOpPenDef:
      o.U32(a.penFore), o.U32(a.penBack), o.Bytes(a.pattern, 8), o.U16(a.width), o.U16(a.mode);
      o.U32(uInt32(a.style)), o.U32(uInt32(a.fill));
      break;
    case kPictOpFontDef:
      o.Bytes(a.bytes, a.count);
      if (a.count & 1) o.Bytes("", 1);
      break;
    case kPictOpMHLineTo: o.Pt(a.v, a.h), o.U32(uInt32(a.a)); break;
    case kPictOpMarkers:
      o.Bytes(a.bytes, 5), o.U32(uInt32(a.n));
      for (int32 i = 0; i < a.n; ++i) o.U16(a.hs[i]);
      for (int32 i = 0; i < a.n; ++i) o.U16(a.vs[i]);
      o.R(a.rect);
      break;
    default: break;
  }
}

}  // namespace

int32 PictOpDataSize(int32 opcode, int32 count) {
  if (count < 0 || count > kMaxCount) return -1;
  switch (opcode) {
    case kPictOpNormPen: return 8;
    case kPictOpSelectPen: return 12;
    case kPictOpPenState: return 8 + PenFieldBytes(uInt32(count));
    case kPictOpSetPixel:
    case kPictOpMove:
    case kPictOpMoveTo:
    case kPictOpLine:
    case kPictOpLineTo:
    case kPictOpTextRecord:
    case kPictOpFrameRgn:
    case kPictOpPaintRgn: return 4;
    case kPictOpFrameRect:
    case kPictOpPaintRect:
    case kPictOpFrameOval:
    case kPictOpPaintOval:
    case kPictOpLimitClip:
    case kPictOpSetClip:
    case kPictOpMHLineTo: return 8;
    case kPictOpFrameArc:
    case kPictOpPaintArc:
    case kPictOpGrayOut:
    case kPictOpFrameRoundRect:
    case kPictOpPaintRoundRect: return 12;
    case kPictOpPolyLine: return 4 * count + 8;
    case kPictOpPaintPoly: return 4 * count + 12;
    case kPictOpTextBox: return 36 + count + (count & 1);
    case kPictOpImage: return 36;
    case kPictOpSkip:
    case kPictOpDefSlot1:
    case kPictOpDefSlot2: return 0;
    case kPictOpPenDef: return 28;
    case kPictOpFontDef: return count + (count & 1);
    case kPictOpMarkers: return 4 * count + 17;
    default: return -1;
  }
}

MgErr PictAppendOp(QXPict pict, Bool32 appZone, int32 opcode, const PictOpArgs* args) {
  if (!pict || !args || !Writable(opcode)) return kArgErr;
  const PictOpArgs& a = *args;
  const int32 size = PictOpDataSize(opcode, CountOf(opcode, a));
  if (size < 0) return kArgErr;
  const bool needsPoints = opcode == kPictOpPolyLine || opcode == kPictOpPaintPoly;
  if ((needsPoints && !a.points) || (opcode == kPictOpMarkers && (!a.bytes || (a.n && (!a.hs || !a.vs)))) ||
      ((opcode == kPictOpTextBox || opcode == kPictOpFontDef) && a.count && !a.bytes))
    return kArgErr;
  const int32 old = appZone ? AZGetHandleSize(pict) : DSGetHandleSize(pict);
  if (old < 4 || int64(old) + 6 + size > 0x7FFFFFFF) return kArgErr;
  const int32 total = old + 6 + size;
  if ((appZone ? AZSetHandleSize(pict, total) : DSSetHandleSize(pict, total)) != kNoErr) return kMemFullErr;
  uInt8* base = reinterpret_cast<uInt8*>(*pict);
  Out o(base + old);
  o.U16(opcode), o.U32(uInt32(size));
  WriteData(opcode, a, o);
  PutNative32(base, uInt32(total - 4));
  return kNoErr;
}

bool PictRecordWellFormed(const PictRecord& rec) {
  const int64 size = rec.size;
  const uInt8* d = rec.data;
  switch (rec.opcode) {
    case kPictOpPenState: return size >= 8 && size >= 8 + PenFieldBytes(GetBE32(d + 4) & 0x7F);
    case kPictOpPolyLine:
    case kPictOpPaintPoly: {
      if (size < 4) return false;
      const int64 n = GetBE32(d), head = rec.opcode == kPictOpPolyLine ? 8 : 12;
      return size >= head && (size - head) / 4 >= n;
    }
    case kPictOpTextBox: {
      if (size < 36) return false;
      const int64 len = GetBE32(d);
      return size - 36 >= len + (len & 1);
    }
    case kPictOpMarkers: {
      if (size < 17) return false;
      const int64 n = GetBE32(d + 5);
      return (size - 17) / 4 >= n;
    }
    case kPictOpPixels: {
      // count, Rect, depth, fore, back, c; then flags and c + 1 entries; then the pixels.
      if (size < 24) return false;
      const int64 pixels = GetBE32(d);
      const int32 c = int16(GetBE16(d + 22));
      int64 need = 24;
      if (c != 0) {
        if (c < 0) return false;
        need += 2 + int64(c + 1) * 8;
      }
      return size >= need && size - need >= pixels;
    }
    case kPictOpFontDef:
    case kPictOpSkip:
    case kPictOpDefSlot1:
    case kPictOpDefSlot2: return true;
    default: {
      const int32 fixed = PictOpDataSize(rec.opcode, 0);
      return fixed >= 0 && size >= fixed;
    }
  }
}

DColor PictColourState::Decode(int32 kind, uInt32 stored) {
  if (kind < 0 || kind > 3) return 0;
  DColor v = stored;
  if (stored == 0x1000001) {
    v = last[kind];
  } else if (kind <= kPictBack) {
    if (stored > kTransparentColor) v = kBlackColor;
  } else if (stored != kBlackColor && stored != kWhiteColor) {
    v = kind == kPictBWFore ? kBlackColor : kWhiteColor;
  }
  last[kind] = v;
  return v;
}

PictRef PictDecodeFontRef(int32 stored, bool live, int32 appFont, int32 systemFont, int32 dialogFont,
                          int32 previousFont) {
  switch (stored) {
    case -4: return {kPictRefFont, dialogFont};
    case -3: return {kPictRefFont, systemFont};
    case -2: return {kPictRefFont, appFont};
    case -1: return {kPictRefFont, previousFont};
    default:
      if (stored < 0) return {kPictRefFont, stored + 100};
      return {live ? kPictRefFont : kPictRefIndex, stored};
  }
}

PictRef PictDecodePenRef(int32 opcode, int32 stored, bool live) {
  if (opcode == kPictOpPenState && stored == -1) return {kPictRefCurrentPen, 0};
  return {live ? kPictRefPen : kPictRefIndex, stored};
}
