// What the value display and the drawing of the controls share: object
// words read with their checks, the parts of a control, the colours and
// texts its parts are given, and the ring's item index.  Objects come from
// VI files: every offset is checked to name a used block holding what is
// read.  User-interface thread only.
#pragma once
#include <cstring>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/objheap.h"
#include "mgsource/rects.h"
#include "panel/datageom.h"
#include "panel/objects.h"

namespace ctrl {

constexpr DColor kBlack = 0x000000, kWhite = 0xFFFFFF, kGrey = 0xB3B3B3;
constexpr int32 kReplyFailed = 0x10, kReplyResized = 0x80, kReplyInvalidated = 0x20000;

// Object flag bits the controls read.
enum : uInt32 {
  kFlagOpaque = 0x2,              // a part paints every pixel of its rectangle
  kFlagNoDrawInPlace = 0x4,       // invalidated instead of drawn in place
  kFlagGreyed = 0x80,
  kFlagViaCopy = 0x10000,         // picture: shown through its off-screen copy
  kFlagFitted = 0x20000,          // text part: fitted to its text; picture: erase first
  kFlagTracksTransitions = 0x40000,  // Boolean: pressed states 2 and 3
  kFlagStale = 0x80000,
  kFlagTransparentAllowed = 0x100000,  // colour box
  kFlagRedrawImage = 0x400000,    // slide: its housing image must be drawn again
  kFlagShowsCodes = 0x1000000,    // labels: backslash codes; graphs: clear the history
  kFlagFocusRefuses = 0x20000000, // label: refuses values while it is the focus text
  kFlagMalformedPath = 0x400,     // a path's text part: the value is no path
};

// Words of the controls' records: the picture's off-screen copy, the
// slide's housing image, the refnum's inner object, a graph's plot-name
// text object.
enum : int32 { kPictureCopyWord = 10, kSlideImageWord = 13, kRefNumInnerWord = 10 };

// Part ids of the controls (the housing, scale and fill of slides are
// the data-bounds update's).
enum : int16 {
  kPartArrowFirst = 2, kPartArrowLast = 5, kPartSlideArrowFirst = 6, kPartSlideArrowLast = 7,
  kPartDigitalText = 10, kPartText = 11, kPartItemText = 12, kPartItemPicture = 14,
  kPartRadix = 15, kPartRange = 20, kPartButton = 21, kPartBoolText = 22,
  kPartSlider = 23, kPartContent = 28, kPartSwatch = 41, kPartStateButton = 43,
  kPartHousingDecor = 44, kPartListButton = 79, kPartRefType = 83,
  kPartInner = 8010,
};

inline bool Has(ObjHeap heap, int32 o, int32 bytes) {
  return o > 0 && OHUsedBlockHolds(heap, o, bytes);
}
inline bool IsObj(ObjHeap heap, int32 o) { return Has(heap, o, int32(sizeof(ObjLeadingFields))); }
inline uInt32 Flags(ObjHeap heap, int32 o) { return uInt32(ObjWord(heap, o, 0)); }
inline void SetFlags(ObjHeap heap, int32 o, uInt32 f) { ObjSetWord(heap, o, 0, int32(f)); }
inline bool Hidden(ObjHeap heap, int32 o) { return Flags(heap, o) & kObjFlagHidden; }
inline bool Greyed(ObjHeap heap, int32 o) { return Flags(heap, o) & kFlagGreyed; }
inline int16 PartIdOf(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartId); }
inline int16 OrderOf(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartOrder); }
inline Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
inline void SetBoundsOf(ObjHeap heap, int32 o, const Rect& r) { std::memcpy(*heap + o + kObjBounds, &r, sizeof r); }
inline Rect Inset(Rect r, int32 by) {
  return Rect{int16(r.top + by), int16(r.left + by), int16(r.bottom - by), int16(r.right - by)};
}
// A word of the object when the block holds it, else 0.
inline int32 WordOr0(ObjHeap heap, int32 o, int32 word) { return Has(heap, o, 4 * (word + 1)) ? ObjWord(heap, o, word) : 0; }
// A word of the heap's extension, 0 past its end.
uInt32 Ext(ObjHeap heap, int32 at);
// The object's part of that id and order: a used block other than the
// object itself, holding the leading fields; 0 for none.
int32 PartOf(ObjHeap heap, int32 object, int32 partId, int32 order = 0);

// What a part is given to show: an index or state (16 or 32 bits), a long
// string, a scale's label list, a number.  Part lists come from files: a
// part of another class would read past what it is given, so it is given
// nothing (drawn in its default look, sent no value).
enum class Takes { kIndex, kText, kLabels, kNumber };
bool PartTakes(ObjHeap heap, int32 part, Takes what);
inline const void* Fit(ObjHeap heap, int32 part, const void* data, Takes what) {
  return data && PartTakes(heap, part, what) ? data : nullptr;
}

// The cosmetic colour words of a part (transparent when the block is too
// small) and their store.
DColor PartFore(ObjHeap heap, int32 part);
DColor PartBack(ObjHeap heap, int32 part);
void SetPartColours(ObjHeap heap, int32 part, DColor fore, DColor back);
// Greys a part's bounds inset by 1 in its background (0xB3B3B3 when
// transparent): a tag's text or list button that offers nothing valid.
void GreyInset(ObjHeap heap, int32 part);
// The panel's background colour (the root's word 15).
DColor PanelBackground(ObjHeap heap);

// The display type of a data display object (typedefs looked through),
// null when its type names none; its type code (0 without one).
const TypeDescriptor* DisplayTD(ObjHeap heap, int32 object);
int32 TypeCodeOf(ObjHeap heap, int32 object);
// The 16-bit display format word of a numeric (0 for a smaller block).
int32 FormatOf(ObjHeap heap, int32 object);

// A long string on the stack: a count and up to 1024 characters.
constexpr int32 kNumberTextRoom = 1024;
struct NumberText {
  int32 count = 0;
  char chars[kNumberTextRoom + 4];
  const LStr* lstr() const { return reinterpret_cast<const LStr*>(this); }
};
// The text of the number at value (type code, format) in the display
// unit of the object when it has one and units is set.
void NumberToText(ObjHeap heap, int32 object, const void* value, int32 code, int32 format, bool units,
                  NumberText* out);
// The ring item index of a value: for signed integer codes 1 to 30 the
// value pinned to 0..65535, for others 65535 outside that range.
int32 RingIndexOf(int32 code, const void* value);

// Whether the part is the tracked object (the mouse holds it).
bool IsTracked(ObjHeap heap, int32 part);

// An LStr handle's string when the handle holds its count of bytes; null
// otherwise (an empty text is shown instead).
const LStr* CheckedLStr(UHandle h);

// Nesting of the display methods of the controls: a part list that names
// an object's owner, or the object itself, ends here.
class DisplayNesting {
 public:
  DisplayNesting();
  ~DisplayNesting();
  bool TooDeep() const;
  DisplayNesting(const DisplayNesting&) = delete;
  DisplayNesting& operator=(const DisplayNesting&) = delete;
};

}  // namespace ctrl
