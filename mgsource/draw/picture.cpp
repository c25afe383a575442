// The picture recorder and player.
#include "mgsource/draw/picture.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/fonts_internal.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"

namespace {

UHandle HandleOf(uInt32 word) { return reinterpret_cast<UHandle>(uintptr_t(word)); }
uInt32 WordOf(UHandle h) { return uInt32(reinterpret_cast<uintptr_t>(h)); }
int32 SizeAnyZone(UHandle h) { return AZIsHandle(h) ? AZGetHandleSize(h) : DSGetHandleSize(h); }
MgErr ResizeAnyZone(UHandle h, int32 size) {
  return AZIsHandle(h) ? AZSetHandleSize(h, size) : DSSetHandleSize(h, size);
}

PictInfo* InfoOf(const ImageEntry& e) {
  UHandle h = HandleOf(e.extra);
  if (!h || AZGetHandleSize(h) < int32(sizeof(PictInfo))) return nullptr;
  return reinterpret_cast<PictInfo*>(*h);
}

// The recording in progress: its picture, and whether an append into it
// failed (then nothing more is written: later records would name
// definitions the picture lacks).
struct Recording {
  int32 image = 0;
  bool failed = false;
};
Recording gRec;

// The definition table of the recording: an application-zone handle in the
// pen-count word of PictInfo: u32 count, then {kind, offset} pairs.
struct DefEntry {
  uInt32 kind;
  uInt32 offset;  // of the defining record's head from the start of the picture handle
};

// The picture being recorded, or -1 (reported) when there is none.
int32 RecordingTarget() {
  const int32 target = int32(gDrawState.target);
  if (!gDrawState.recording || IKindOf(target) != kImagePicture) {
    DBAssert(__FILE__, __LINE__, "no picture being recorded");
    return -1;
  }
  return target;
}

bool PenMatches(const uInt8* d, const PenState& s) {
  return GetBE32(d) == s.fore && GetBE32(d + 4) == s.back && std::memcmp(d + 8, s.pattern, 8) == 0 &&
         int16(GetBE16(d + 16)) == s.width && int16(GetBE16(d + 18)) == s.mode && GetBE32(d + 20) == s.style &&
         GetBE32(d + 24) == s.fill;
}

MgErr Append(int32 image, int32 opcode, const PictOpArgs& a) {
  UHandle pict = HandleOf(IEntryOf(image).data);
  if (!pict) return kArgErr;
  const MgErr err = PictAppendOp(pict, AZIsHandle(pict), opcode, &a);
  if (err == kMemFullErr) gRec.failed = true;
  else if (err) DBAssert(__FILE__, __LINE__, "DRecordPictOp: arguments that do not fit the opcode");
  return err;
}

}  // namespace

bool PictRecordingFailed() { return gRec.failed; }

void PictBeginRecording(int32 image) {
  ImageEntry* e = IEntryPtr(image);
  if (!e || e->kind != kImagePicture) return;
  UHandle pict = HandleOf(e->data);
  if (pict && ResizeAnyZone(pict, 4) == kNoErr) PutNative32(*pict, 0);
  if (PictInfo* info = InfoOf(*e)) info->penCount = 0;
  ISetPictRecorded(image);
  gRec = Recording{image, false};
}

void PictEndRecording(int32 image) {
  ImageEntry* e = IEntryPtr(image);
  if (!e || e->kind != kImagePicture) return;
  if (PictInfo* info = InfoOf(*e)) {
    UHandle table = HandleOf(info->penCount);
    uInt32 count = 0;
    if (table) {
      count = GetNative32(*table);
      AZDisposeHandle(table);
    }
    InfoOf(*IEntryPtr(image))->penCount = count;
  }
  if (gRec.image == image) gRec = Recording{};
}

int32 PictDefineRef(int32 kind, int32 x) {
  const int32 image = RecordingTarget();
  if (image < 0 || (gRec.image == image && gRec.failed)) return -1;
  if (kind == kPictOpFontDef) {
    for (int32 which = 0; which < 3; ++which)
      if (x == TStandardFont(which)) return x - 100;
  }
  PenState pen{};
  if (kind == kPictOpPenDef && DGetPenState(x, kPenAll, &pen) != kNoErr) {
    DBAssert(__FILE__, __LINE__, "PictDefineRef: the pen does not exist");
    return -1;
  }
  ImageEntry* e = IEntryPtr(image);
  PictInfo* info = InfoOf(*e);
  UHandle pict = HandleOf(e->data);
  if (!info || !pict) return -1;
  UHandle table = HandleOf(info->penCount);
  const uInt32 count = table ? GetNative32(*table) : 0;
  const int32 pictSize = SizeAnyZone(pict);
  for (uInt32 i = 0; i < count; ++i) {
    DefEntry d;
    std::memcpy(&d, *table + 4 + 8 * i, sizeof d);
    if (d.kind != uInt32(kind) || int64(d.offset) + 6 > pictSize) continue;
    const uInt8* head = reinterpret_cast<const uInt8*>(*pict) + d.offset;
    const uInt32 size = GetBE32(head + 2);
    if (size > uInt32(pictSize) - d.offset - 6) continue;
    if (kind == kPictOpPenDef) {
      if (size >= 28 && PenMatches(head + 6, pen)) return int32(i);
    } else {
      const int32 defined = TNewFontFromRec(head + 6, int32(size));
      const int32 diff = TFontCompare(defined, x, 141);
      TDisposeFont(defined);
      if (diff <= 0) return int32(i);
    }
  }
  // A new definition: the table makes room first, so that a record is
  // never written without its entry.
  const int32 tableSize = int32(4 + 8 * (count + 1));
  if (!table) {
    table = AZNewHClr(tableSize);
    if (!table) {
      gRec.failed = true;
      return -1;
    }
    info->penCount = WordOf(table);
  } else if (AZSetHandleSize(table, tableSize) != kNoErr) {
    gRec.failed = true;
    return -1;
  }
  PictOpArgs a;
  uChar font[kFRecMaxBytes + 1];
  if (kind == kPictOpPenDef) {
    a.penFore = pen.fore;
    a.penBack = pen.back;
    std::memcpy(a.pattern, pen.pattern, 8);
    a.width = pen.width;
    a.mode = pen.mode;
    a.style = int32(pen.style);
    a.fill = int32(pen.fill);
  } else {
    a.count = TFontToRec(x, font);
    a.bytes = font;
  }
  if (Append(image, kind, a) != kNoErr) {
    AZSetHandleSize(table, int32(4 + 8 * count));
    gRec.failed = true;
    return -1;
  }
  const DefEntry d{uInt32(kind), uInt32(pictSize)};
  std::memcpy(*table + 4 + 8 * count, &d, sizeof d);
  PutNative32(*table, count + 1);
  return int32(count);
}

void DRecordPictOp(int32 opcode, const PictOpArgs* args) {
  const int32 image = RecordingTarget();
  if (image < 0 || !args) return;
  if (gRec.image == image && gRec.failed) return;
  PictOpArgs a = *args;
  const bool live = IEntryOf(image).flags & kImageLive;
  if (!live && a.ref != uInt32(-1)) {
    if (opcode == kPictOpSelectPen || opcode == kPictOpPenState || opcode == kPictOpTextBox) {
      const int32 index = PictDefineRef(opcode == kPictOpTextBox ? kPictOpFontDef : kPictOpPenDef, int32(a.ref));
      if (index == -1) return;
      a.ref = uInt32(index);
    }
  }
  Append(image, opcode, a);
}

void DRecordTextRecord(UHandle record) {
  const int32 image = RecordingTarget();
  if (image < 0) return;
  if (gRec.image == image && gRec.failed) return;
  UHandle copy = TDuplicate(record, 0);
  if (!copy) {
    // A null or freed record was reported by the copy; memory running out
    // ends the recording as a failed append does.
    if (record && *record) gRec.failed = true;
    return;
  }
  PictOpArgs a;
  a.ref = WordOf(copy);
  if (Append(image, kPictOpTextRecord, a) != kNoErr) TDispose(copy);
}

// Playback.

namespace {

int32 gPlayDepth = 0;
constexpr int32 kMaxPlayDepth = 8;

struct Def {
  int32 kind;
  int32 value;
};

bool Drawable(const PenState& s, int32 mask);

class Player {
 public:
  Player(const Rect& src, const Rect& dst, bool live, bool trusted)
      : src_(src), dst_(dst), live_(live), trusted_(trusted) {
    dh_ = dst.left - src.left;
    dv_ = dst.top - src.top;
  }
  ~Player() {
    if (fontLimit_.Refused())
      DBPrintf("IDrawPicture: the picture defines more than %ld fonts; the others are the application font",
               long(fontsinternal::kMaxStoredObjectFonts));
    for (const Def& d : defs_) {
      if (d.kind == kPictOpPenDef && d.value >= kGrayPen) DDestroyPen(d.value);
      else if (d.kind == kPictOpFontDef && d.value >= 0) TDisposeFont(d.value);
    }
    if (scaled_ >= 0) TDisposeFont(scaled_);
  }
  void Reserve(size_t n) { defs_.reserve(n); }
  void SetClipAfter(const Rect& r, bool has) {
    clipAfter_ = r;
    hasClip_ = has;
  }
  void Play(const PictRecord& rec);

 private:
  // The fonts one playback may make anew.
  fontsinternal::NewFontLimit fontLimit_{fontsinternal::kMaxStoredObjectFonts};
  Point Map(int32 v, int32 h) const {
    Point p{int16(v), int16(h)};
    DMapPt(&p, &src_, &dst_);
    return p;
  }
  Point MapAt(const uInt8* d) const { return Map(int16(GetBE16(d)), int16(GetBE16(d + 2))); }
  Rect MapRect(const uInt8* d) const {
    Rect r{int16(GetBE16(d)), int16(GetBE16(d + 2)), int16(GetBE16(d + 4)), int16(GetBE16(d + 6))};
    DMapRect(&r, &src_, &dst_);
    return r;
  }
  // A relative offset scaled as the size of the rectangle from (0, 0).
  int32 Scale(int32 x, int32 from, int32 to) const {
    if (from == 0) return x;
    return int32(std::clamp<int64>(int64(x) * to / from, -15000, 15000));
  }
  Point ScaleAt(const uInt8* d) const {
    const int32 dv = int16(GetBE16(d)), dh = int16(GetBE16(d + 2));
    return Point{int16(Scale(dv, src_.bottom - src_.top, dst_.bottom - dst_.top)),
                 int16(Scale(dh, src_.right - src_.left, dst_.right - dst_.left))};
  }
  bool RectOk(const Rect& r) const {
    if (r.right > r.left && r.bottom > r.top) return true;
    DBPrintf("IDrawPicture: empty or invalid rect bounds");
    return false;
  }
  // The pen or font a stored reference names; false when it names none.
  bool Pen(int32 opcode, int32 stored, int32* pen) const {
    const PictRef r = PictDecodePenRef(opcode, stored, live_);
    if (r.kind == kPictRefCurrentPen) {
      *pen = kCurrentPen;
      return true;
    }
    if (r.kind == kPictRefPen) *pen = r.value;
    else if (r.value < 0 || size_t(r.value) >= defs_.size() || defs_[size_t(r.value)].kind == kPictOpFontDef) return false;
    else *pen = defs_[size_t(r.value)].value;
    // Only pens that exist and can be selected: a stored number may name none.
    return *pen >= kGrayPen && DGetPenState(*pen, 0, nullptr) == kNoErr;
  }
  bool Font(int32 stored, int32* font) const {
    const PictRef r = PictDecodeFontRef(stored, live_, TStandardFont(0), TStandardFont(1), TStandardFont(2), lastFont_);
    if (r.kind == kPictRefFont) *font = r.value;
    else if (r.value < 0 || size_t(r.value) >= defs_.size() || defs_[size_t(r.value)].kind == kPictOpPenDef) return false;
    else *font = defs_[size_t(r.value)].value;
    return true;
  }
  void Start(int32 opcode);
  void Pixels(const PictRecord& rec);

  Rect src_, dst_;
  bool live_, trusted_;
  int32 dh_, dv_;
  std::vector<Def> defs_;
  PictColourState colours_;
  bool started_ = false;
  int32 lastFont_ = TStandardFont(0);
  int32 scaled_ = -1;      // the cached scaled font
  int32 scaledFrom_ = -1;  // the font it was made from
  Rect clipAfter_{};
  bool hasClip_ = false;
};

// A pen state of a picture that the pen table can draw with: modes 0 to 2,
// host line styles 0 to 5 and widths up to 255.  Others are not applied.
bool Drawable(const PenState& s, int32 mask) {
  if ((mask & kPenMode) && (s.mode < 0 || s.mode > 2)) return false;
  if ((mask & kPenStyle) && s.style > 5) return false;
  if ((mask & kPenWidth) && (s.width < 0 || s.width > 255)) return false;
  return true;
}

void Player::Start(int32 opcode) {
  if (started_) return;
  switch (opcode) {
    case kPictOpFrameRect:
    case kPictOpPaintRect:
    case kPictOpFrameOval:
    case kPictOpPaintOval:
      started_ = true;
      DSelectNormPen(kBlackColor, kBlackColor);
      return;
    case kPictOpMove:
    case kPictOpMoveTo:
    case kPictOpLine:
    case kPictOpLineTo:
    case kPictOpFrameArc:
    case kPictOpPaintArc:
    case kPictOpPolyLine:
    case kPictOpPaintPoly:
    case kPictOpFrameRoundRect:
    case kPictOpPaintRoundRect:
    case kPictOpFrameRgn:
    case kPictOpPaintRgn:
    case kPictOpMHLineTo:
    case kPictOpMarkers:
      started_ = true;
      DSelectNormPen(kBlackColor, kBlackColor);
      DMoveTo(dst_.left, dst_.top);
      return;
    default: return;
  }
}

void Player::Play(const PictRecord& rec) {
  const uInt8* d = rec.data;
  const int32 op = rec.opcode;
  const bool first = !started_;
  Start(op);
  switch (op) {
    case kPictOpNormPen: {
      const DColor c = colours_.Decode(kPictFore, GetBE32(d)), bw = colours_.Decode(kPictBWFore, GetBE32(d + 4));
      DSelectNormPen(c, bw);
      if (first) DMoveTo(dst_.left, dst_.top);
      started_ = true;
      break;
    }
    case kPictOpSelectPen: {
      int32 pen = 0;
      const DColor f = colours_.Decode(kPictBWFore, GetBE32(d + 4)), b = colours_.Decode(kPictBWBack, GetBE32(d + 8));
      if (!Pen(op, int32(GetBE32(d)), &pen)) break;
      DSelectPen(pen, f, b);
      if (first) DMoveTo(dst_.left, dst_.top);
      // A selection that names no pen does not start the drawing: the next
      // drawing record selects the black pen.
      started_ = true;
      break;
    }
    case kPictOpPenState: {
      int32 pen = 0;
      const uInt32 mask = GetBE32(d + 4) & 0x7F;
      PenState s{};
      const uInt8* p = d + 8;
      if (mask & kPictPenFore) s.fore = colours_.Decode(kPictFore, GetBE32(p)), p += 4;
      if (mask & kPictPenBack) s.back = colours_.Decode(kPictBack, GetBE32(p)), p += 4;
      if (mask & kPictPenPattern) std::memcpy(s.pattern, p, 8), p += 8;
      if (mask & kPictPenWidth) s.width = int16(GetBE16(p)), p += 2;
      if (mask & kPictPenMode) s.mode = int16(GetBE16(p)), p += 2;
      if (mask & kPictPenStyle) s.style = GetBE32(p), p += 4;
      if (mask & kPictPenFill) s.fill = GetBE16(p);
      if (!Drawable(s, int32(mask)) || !Pen(op, int32(GetBE32(d)), &pen)) break;
      DSetPenState(pen, int32(mask), &s);
      break;
    }
    case kPictOpSetPixel: {
      const Point p = MapAt(d);
      DSetPixel(p.h, p.v);
      break;
    }
    case kPictOpMove:
    case kPictOpLine: {
      const Point p = ScaleAt(d);
      op == kPictOpMove ? DMove(p.h, p.v) : DLine(p.h, p.v);
      break;
    }
    case kPictOpMoveTo:
    case kPictOpLineTo: {
      const Point p = MapAt(d);
      op == kPictOpMoveTo ? DMoveTo(p.h, p.v) : DLineTo(p.h, p.v);
      break;
    }
    case kPictOpFrameRect:
    case kPictOpPaintRect:
    case kPictOpFrameOval:
    case kPictOpPaintOval: {
      const Rect r = MapRect(d);
      if (!RectOk(r)) break;
      if (op == kPictOpFrameRect) DFrameRect(&r);
      else if (op == kPictOpPaintRect) DPaintRect(&r);
      else if (op == kPictOpFrameOval) DFrameOval(&r);
      else DPaintOval(&r);
      break;
    }
    case kPictOpFrameArc:
    case kPictOpPaintArc:
    case kPictOpFrameRoundRect:
    case kPictOpPaintRoundRect: {
      const Rect r = MapRect(d);
      if (!RectOk(r)) break;
      const int32 a = int16(GetBE16(d + 8)), b = int16(GetBE16(d + 10));
      if (op == kPictOpFrameArc) DFrameArc(&r, a, b);
      else if (op == kPictOpPaintArc) DPaintArc(&r, a, b);
      else if (op == kPictOpFrameRoundRect) DFrameRoundRect(&r, a, b);
      else DPaintRoundRect(&r, a, b);
      break;
    }
    case kPictOpGrayOut: {
      const Rect r = MapRect(d);
      const DColor c = colours_.Decode(kPictFore, GetBE32(d + 8));
      if (RectOk(r)) DGrayOutRect(&r, c);
      break;
    }
    case kPictOpPolyLine:
    case kPictOpPaintPoly: {
      const uInt32 n = GetBE32(d);
      const int32 at = op == kPictOpPolyLine ? 4 : 8;
      std::vector<Point> points(size_t(n) + 1);
      for (uInt32 i = 0; i <= n; ++i) points[i] = MapAt(d + at + 4 * i);
      if (op == kPictOpPolyLine) DPolyLine(points.data(), int32(n));
      else DPaintPoly(points.data(), int32(n), int32(GetBE32(d + 4)));
      break;
    }
    case kPictOpTextBox: {
      const uInt32 len = GetBE32(d);
      const uInt8* tail = d + 16 + len + (len & 1);
      Rect r{int16(GetBE16(d + 4)), int16(GetBE16(d + 6)), int16(GetBE16(d + 8)), int16(GetBE16(d + 10))};
      DMapRect(&r, &src_, &dst_);
      DColor c[4];
      for (int32 k = 0; k < 4; ++k) c[k] = colours_.Decode(k, GetBE32(tail + 4 + 4 * k));
      int32 font = 0;
      if (!Font(int32(GetBE32(tail)), &font)) break;
      lastFont_ = font;
      if (font != scaledFrom_ || scaled_ < 0) {
        if (scaled_ >= 0) TDisposeFont(scaled_);
        scaled_ = TScaleFont(font, &src_, &dst_);
        scaledFrom_ = font;
      }
      TBox(&r, int32(GetBE32(d + 12)), d + 16, int32(len), scaled_, c[0], c[1], c[2], c[3]);
      break;
    }
    case kPictOpTextRecord: {
      // The handle is the picture's own copy, written by this process's
      // recorder: in any other picture the word is not a handle.
      if (!trusted_) break;
      UHandle text = HandleOf(GetBE32(d));
      if (!text) break;
      if (UHandle scaled = TScaleText(text, &src_, &dst_)) {
        TDraw(scaled);
        TDispose(scaled);
      }
      break;
    }
    case kPictOpImage: {
      DColor c[4];
      for (int32 k = 0; k < 4; ++k) c[k] = colours_.Decode(k, GetBE32(d + 20 + 4 * k));
      // Image ids mean something only in the process that recorded them.
      if (!trusted_) break;
      const int32 id = int32(GetBE32(d));
      if (!IKindOf(id)) break;
      Rect sub{int16(GetBE16(d + 4)), int16(GetBE16(d + 6)), int16(GetBE16(d + 8)), int16(GetBE16(d + 10))};
      const Rect r = MapRect(d + 12);
      IDraw(id, DEmptyRect(&sub) ? nullptr : &sub, &r, c[0], c[1], c[2], c[3]);
      break;
    }
    case kPictOpLimitClip:
    case kPictOpSetClip: {
      Rect r = MapRect(d);
      if (hasClip_) DSectRect(&r, &clipAfter_, &r);
      if (op == kPictOpLimitClip) WLimitClip(&r, nullptr);
      else WSetClipRect(&r, nullptr);
      break;
    }
    case kPictOpFrameRgn:
    case kPictOpPaintRgn: {
      if (!trusted_) break;
      DBPrintf("IDrawPicture: regions are not scaled");
      const DRgn rgn = GetBE32(d);
      // The region belongs to whoever recorded it: a moved copy is drawn.
      const DRgn copy = DRectRgn(nullptr);
      if (!copy) break;
      if (DCombineRgn(copy, rgn, rgn, kDRgnCopy) != 0) {
        DOffsetRgn(copy, dh_, dv_);
        op == kPictOpFrameRgn ? DFrameRgn(copy) : DPaintRgn(copy);
      }
      DDestroyRgn(copy);
      break;
    }
    case kPictOpPixels: Pixels(rec); break;
    case kPictOpPenDef: {
      PenState s{};
      s.fore = colours_.Decode(kPictFore, GetBE32(d));
      s.back = colours_.Decode(kPictBack, GetBE32(d + 4));
      std::memcpy(s.pattern, d + 8, 8);
      s.width = int16(GetBE16(d + 16));
      s.mode = int16(GetBE16(d + 18));
      s.style = GetBE32(d + 20);
      s.fill = GetBE32(d + 24);
      defs_.push_back(Def{op, Drawable(s, kPenAll) ? DNewPen(kDefaultPenBase, kPenAll, &s) : 0});
      break;
    }
    case kPictOpFontDef: {
      const int32 font = TNewFontFromRec(d, rec.size);
      defs_.push_back(Def{op, font});
      lastFont_ = font;
      break;
    }
    case kPictOpDefSlot1: defs_.push_back(Def{op, 0}); break;
    case kPictOpDefSlot2: defs_.push_back(Def{op, -1}); break;
    case kPictOpMHLineTo: {
      const Point p = MapAt(d);
      DMHLineTo(p.h, p.v, Bool32(GetBE32(d + 4) != 0));
      break;
    }
    case kPictOpMarkers: {
      const uInt32 n = GetBE32(d + 5);
      std::vector<int16> hs(n), vs(n);
      for (uInt32 i = 0; i < n; ++i) {
        const Point p = Map(int16(GetBE16(d + 9 + 2 * (n + i))), int16(GetBE16(d + 9 + 2 * i)));
        hs[i] = p.h;
        vs[i] = p.v;
      }
      const Rect r = MapRect(d + 9 + 4 * n);
      DDrawMarkers(d, int32(n), hs.data(), vs.data(), &r);
      break;
    }
    default: break;  // 23: skipped
  }
}

void Player::Pixels(const PictRecord& rec) {
  const uInt8* d = rec.data;
  DDrawBitsDesc desc{};
  desc.count = GetBE32(d);
  const Rect bounds{int16(GetBE16(d + 4)), int16(GetBE16(d + 6)), int16(GetBE16(d + 8)), int16(GetBE16(d + 10))};
  desc.depth = int16(GetBE16(d + 12));
  desc.fore = colours_.Decode(kPictFore, GetBE32(d + 14));
  desc.back = colours_.Decode(kPictBack, GetBE32(d + 18));
  const int32 c = int16(GetBE16(d + 22));
  const uInt8* table = nullptr;
  int32 at = 24;
  if (c != 0) {
    desc.flags = int16(GetBE16(d + 24));
    desc.entries = int16(c + 1);
    table = d + 26;
    at = 26 + (c + 1) * 8;
  }
  // Counts, bounds and depth come from the file: a block that does not hold
  // its own rows is not drawn.
  const int32 width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  const int32 rowBytes = ISystemRowBytes(width, desc.depth);
  if (width <= 0 || height <= 0 || rowBytes <= 0 || int64(rowBytes) * height > desc.count) {
    DBPrintf("IDrawPicture: pixel block does not hold its rows");
    return;
  }
  desc.source = Rect{0, 0, int16(height), int16(width)};
  desc.dest = bounds;
  DMapRect(&desc.dest, &src_, &dst_);
  const uInt8* bits = d + at;
  if (!gDrawState.recording) {
    DDrawBits(&desc, table, bits);
    return;
  }
  // Recording: a pixmap of the pixels, owned by the picture its image
  // record lands in.
  if (desc.fore == kTransparentColor && desc.back == kTransparentColor) return;
  const PlatObj bitmap = CreateHostData(bits, width, height, desc.depth, table, desc.entries);
  int32 id = 0;
  if (!bitmap || IPixmapFromHostBitmap(bitmap, &id) != kNoErr) {
    if (bitmap) IDeleteHostObject(bitmap);
    return;
  }
  const bool failedBefore = PictRecordingFailed();
  IDraw(id, nullptr, &desc.dest, desc.fore, desc.back, kBlackColor, kWhiteColor);
  if (PictRecordingFailed() || failedBefore) IRelease(id);
  else IEntryPtr(id)->flags |= kImageOfPicture;
}

}  // namespace

int32 IDrawPicture(int32 image, const Rect*, const Rect* dstRect, DColor, DColor, DColor, DColor) {
  if (!dstRect) return DBAssert(__FILE__, __LINE__, "IDrawPicture: no destination");
  if (IKindOf(image) != kImagePicture) return DBAssert(__FILE__, __LINE__, "IDrawPicture: not a picture");
  if (gDrawState.recording && int32(gDrawState.target) == image)
    return DBAssert(__FILE__, __LINE__, "IDrawPicture: a picture played into itself");
  if (gPlayDepth >= kMaxPlayDepth) return DBAssert(__FILE__, __LINE__, "IDrawPicture: pictures nested too deep");
  const ImageEntry e = IEntryOf(image);
  UHandle pict = HandleOf(e.data);
  const PictInfo* info = InfoOf(e);
  if (!pict || !info) return 0;
  const int32 size = SizeAnyZone(pict);
  if (size < 4) return 0;
  const Rect src = info->bounds;
  // The definition list is sized by the records 30 to 33 found: the stored
  // pen count counts only 30 and 31.
  uInt32 defs = 0;
  {
    PictWalker walk(reinterpret_cast<const uInt8*>(*pict) + 4, size - 4);
    PictRecord rec;
    while (walk.Next(&rec)) defs += rec.opcode >= kPictOpPenDef && rec.opcode <= kPictOpDefSlot2;
  }
  Rect savedClip{0, 0, 0, 0};
  WLimitClip(dstRect, &savedClip);
  Rect clipAfter{0, 0, 0, 0};
  const int32 window = WCurrentPort();
  const bool hasClip = window && WGetClipRect(window, &clipAfter);
  ++gPlayDepth;
  {
    Player player(src, *dstRect, (e.flags & kImageLive) != 0, IPictRecorded(image));
    player.Reserve(defs);
    player.SetClipAfter(clipAfter, hasClip);
    int64 at = 4;
    while (size - at >= 6) {
      // The handle is read again for every record: what a record draws may
      // move memory.
      const int32 now = SizeAnyZone(pict);
      if (now != size) break;
      const uInt8* head = reinterpret_cast<const uInt8*>(*pict) + at;
      PictRecord rec{GetBE16(head), int32(GetBE32(head + 2)), head + 6, int32(at - 4)};
      const uInt32 dataSize = GetBE32(head + 2);
      if (int64(dataSize) > size - at - 6) {
        DBPrintf("IDrawPicture: opcode's datasize larger than the picture's data...  opcode=%d dataSize=%ld(+6)  "
                 "pictSize=%ld",
                 rec.opcode, long(dataSize), long(size - 4));
        break;
      }
      if (!PictOpValid(rec.opcode)) {
        DBPrintf("IDrawPicture: invalid opcode");
        break;
      }
      at += 6 + int64(dataSize);
      if (!PictRecordWellFormed(rec)) continue;
      player.Play(rec);
    }
  }
  --gPlayDepth;
  WRestoreClip(&savedClip);
  return 0;
}
