// Resizing panel objects (message 25): the rules by which a part follows a
// change of the part it is anchored to, the re-fitting of a data display
// object around its parts, and the resize methods of the panel classes.
//
// The message takes three forms: a new rectangle for the object (part id
// 0); no rectangle and a part id, after that part changed (its old
// rectangle in LastOldBounds); no rectangle and part id 0, a re-fit.
// Every method sets the object's flag 0x1000.  Part lists, anchors and
// attachment flags come from VI files: anchor chains may loop, so one
// outermost resize re-fits around each part id at most once, nesting is
// bounded, and coordinates are summed in 32 bits and pinned to 16.
// User-interface thread only.
#pragma once
#include "mgsource/rects.h"
#include "panel/objects.h"

// Where a part's anchor part id and its attachment flags lie (16-bit each).
enum : int32 { kObjAnchor = kObjPartKey, kObjAttach = kObjPartKey + 2 };
// Attachment flags: follow an anchor edge (both of a pair: keep the centre
// at its proportional place), stretch an edge with the anchor's, place an
// edge proportionally, or choose the follow edges from where the part lies.
enum : uInt32 {
  kAttachLeft = 0x1, kAttachRight = 0x2, kAttachTop = 0x4, kAttachBottom = 0x8,
  kAttachCentred = 0xF,
  kStretchLeft = 0x10, kStretchRight = 0x20, kStretchTop = 0x40, kStretchBottom = 0x80,
  kStretchAll = 0xF0,
  kPropLeft = 0x100, kPropRight = 0x200, kPropTop = 0x400, kPropBottom = 0x800,
  kAttachAuto = 0x1000,
};
// The part the frame part (drawn around all others) is.
constexpr int16 kPartFrameAround = 20;

// The position pos of an old length in the new length: the ends, the middle
// and the three-eighths points map exactly, others are rounded (halves to
// even).  An old length of 0 or less keeps the position.  16 bits.
QX_EXTERN_C int32 ProportionalPos(int32 oldLength, int32 newLength, int32 pos);
// The flags with the follow bits chosen from where the dependent lies in
// the anchor, when kAttachAuto is set (else unchanged).
QX_EXTERN_C int32 AutoAttachEdges(int32 flags, const Rect* dependent, const Rect* anchor);
// The dependent rectangle after its anchor changed from oldAnchor to
// newAnchor, in out; 1 when it differs from dependent.  A pure move moves
// it whatever its flags, unless they are 0.
QX_EXTERN_C int32 ApplyAttachment(const Rect* oldAnchor, const Rect* newAnchor, const Rect* dependent, Rect* out,
                                  int32 flags);
// r mapped from oldRect to newRect by the ratio of their sizes (truncated
// toward zero); r itself when oldRect has no height or width.
QX_EXTERN_C void ProportionalRect(const Rect* oldRect, const Rect* newRect, const Rect* r, Rect* out);
// Moves the part (OOffset) when the two rectangles are of one size, else
// sizes it (OSize with the part id); the message's error.
QX_EXTERN_C MgErr MoveOrSizePart(ObjHeap heap, int32 part, const Rect* oldRect, const Rect* newRect, int32 partId);
// out: the union of the visible parts other than the frame part; with a
// visible frame part, grown by 2 and the frame part sized to it.
QX_EXTERN_C MgErr FitFramePart(ObjHeap heap, int32 object, Rect* out);
// When the resized part p stretches with the root part, the resize goes to
// the root instead (the part is put back) and the root's id comes back;
// otherwise p.
QX_EXTERN_C int32 TransferStretchToRoot(ObjHeap heap, int32 object, int32 partId);

// The parts anchored to the part of that id follow its change from
// LastOldBounds to its present rectangle (a part anchoring others re-fits
// the object around it once); the first nested error.
QX_EXTERN_C MgErr FollowAnchoredParts(ObjHeap heap, int32 object, int32 partId);

// The resize methods of the data display classes.
QX_EXTERN_C int32 DDOOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 NumericOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 RefNumOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 StringOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 PictureOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 ArrayOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 RingOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 SlideOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 KnobOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 BooleanOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 GrouperOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
// OSize(heap, object, nullptr, partId) for an object the caller checked to
// be a used block of usable bytes and class cls, with nothing changed since:
// the data display method is called without the send and without checking
// the block again.
int32 OSizeChecked(ObjHeap heap, int32 object, int32 usable, int32 cls, int32 partId);

// The numeric's display format: stored (nothing when unchanged) and its
// text part fitted to it; kArgErr for an object that is not a numeric or a
// format beyond 16 bits.
QX_EXTERN_C MgErr NumericSetFormatStyle(ObjHeap heap, int32 numeric, int32 style);
// The text part (10) made one or two lines high for the stored format and
// the numeric re-fitted around it; its text kind set.
QX_EXTERN_C MgErr NumericFitTextPart(ObjHeap heap, int32 numeric);
// The text kind of part 10 for a format: 2 (lines) for absolute times, else
// 0 (one line).
QX_EXTERN_C void NumericTextPartMode(ObjHeap heap, int32 numeric, int32 style);

// The round scale of a knob follows the part it is anchored to; filled at
// start-up by the controls (none: the scale keeps its geometry).
typedef MgErr (*KnobScaleResizeProc)(ObjHeap heap, int32 scale, const Rect* oldRect, const Rect* newRect);
void SetKnobScaleResizeHook(KnobScaleResizeProc proc);
KnobScaleResizeProc KnobScaleResizeHookInUse();

// The resize methods of the label and decoration classes (panel/labelsize.cpp).
QX_EXTERN_C int32 CosmeticOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 MultiCosmeticOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 BigMultiCosmeticOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 LabelOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 MultiLabelOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 BigMultiLabelOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId);
// The first step of the label methods: with a rectangle the text keeps its
// margins in it; without one the text is made at least one character
// ("v") high and wide.  0.
QX_EXTERN_C int32 LabelFitText(ObjHeap heap, int32 label, const Rect* newRect);
// Moves a self-sizing label back beside the part it is anchored to after
// it changed size; 1 when it moved.
QX_EXTERN_C int32 ReanchorLabel(ObjHeap heap, int32 owner, int32 label);

// Nesting of resize and move messages (their depth, and one outermost
// message's budget of nested sends), shared with the moves.
bool SizeNestingEnter();
void SizeNestingLeave();

namespace objsize {
// Small shared steps of the resize and move methods.
inline int16 Pin16(int64 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
Rect Grow(Rect r, int32 by);
void Unite(Rect* all, bool* any, const Rect& r);
// Whether o is a used block of the heap holding at least bytes.
inline bool Live(ObjHeap heap, int32 o, int32 bytes) { return o > 0 && OHUsedBlockHolds(heap, o, bytes); }
Rect BoundsOf(ObjHeap heap, int32 o);
void SetBoundsOf(ObjHeap heap, int32 o, const Rect& r);
uInt32 FlagsOf(ObjHeap heap, int32 o);
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f);
void MarkChanged(ObjHeap heap, int32 o);
int16 Half(ObjHeap heap, int32 o, int32 at);
Rect PartRect(ObjHeap heap, int32 part, int32 kind);
// The same for a part already checked to hold its bounds.
Rect LivePartRect(ObjHeap heap, int32 part, int32 kind);
// Sends the resize message with nesting bounded: kArgErr when too deep.
int32 SendSize(ObjHeap heap, int32 o, const Rect* r, int32 partId);
int32 SendOffset(ObjHeap heap, int32 o, Point by);
// Releases the cached image held in a word of the object (0: none),
// clears the word and sets the flag that asks for it to be made again.
void ReleaseCachedImage(ObjHeap heap, int32 o, int32 word, uInt32 flag);
// Counts one level of resize nesting for its scope; Entered() false when
// too deep (nothing else is then done).
class SizeScope {
 public:
  SizeScope() : entered_(SizeNestingEnter()) {}
  ~SizeScope() {
    if (entered_) SizeNestingLeave();
  }
  bool Entered() const { return entered_; }
  SizeScope(const SizeScope&) = delete;
  SizeScope& operator=(const SizeScope&) = delete;

 private:
  bool entered_;
};
// Tells an image reference (0: none) that its rectangle changes from old
// to now (message 5); *now may be adjusted by the image.
void TellImage(int32 imageRef, Rect* now, const Rect& old);
// The panel window's area of the rectangle waits to be redrawn.
void InvalInWindow(ObjHeap heap, const Rect& r);
}  // namespace objsize
