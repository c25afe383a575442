// The resize methods of decorations and labels: a decoration takes the
// rectangle it is given and tells its image; a label keeps its text's
// margins in a given rectangle, and otherwise grows or shrinks to its text
// when it sizes itself, keeping its centre or its place beside the part it
// is anchored to.  Image entries, text lists and extra rectangles come from
// VI files and are read within their blocks.  User-interface thread only.
#include <algorithm>
#include <cstring>

#include "engine/typemgr.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "panel/objload.h"
#include "panel/oinval.h"
#include "panel/objsize.h"
#include "panel/ooffset.h"
#include "panel/osupport.h"

using namespace objsize;

namespace {

constexpr const char* kSource = "size";
constexpr uInt32 kFlagOnlyCurrent = 0x20000;      // big multi-decorations: only the shown entry is edited
constexpr uInt32 kFlagFitWidth = 0x20000, kFlagFitHeight = 0x40000;  // labels
constexpr uInt32 kFlagEntryOwnBounds = 0x2, kFlagEntryEdited = 0x4;
constexpr int32 kMultiLabelIndexWord = 10;
constexpr int32 kExtraRectCount = 48, kExtraRects = 52, kExtraRectEntry = 16;
constexpr int32 kSelectEverything = 999;
constexpr uChar kPlaceholder[] = {'v'};

// The image references of a multi-decoration (4-byte entries) or of a big
// one (20-byte entries, the reference at 16): count and current index.
int32 EntryCount(ObjHeap heap, int32 o, int32 entry) {
  if (!Live(heap, o, kObjImageList)) return 0;
  const int32 n = ObjInt16(heap, o, kObjImageCount);
  const int32 room = (OHBlockSize(heap, o) - kObjImageList) / entry;
  return std::clamp(n, 0, room);
}
int32 CurrentIndex(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjImageIndex); }
int32 EntryImage(ObjHeap heap, int32 o, int32 at) { return ObjWord(heap, o, at / 4); }
Rect EntryRect(ObjHeap heap, int32 o, int32 at) {
  Rect r;
  std::memcpy(&r, *heap + o + at, sizeof r);
  return r;
}
void SetEntryRect(ObjHeap heap, int32 o, int32 at, const Rect& r) { std::memcpy(*heap + o + at, &r, sizeof r); }

TRecord TextOf(ObjHeap heap, int32 label) { return Live(heap, label, kObjText + 4) ? PartTextRecord(heap, label) : nullptr; }

Rect ViewOf(TRecord text) {
  Rect r{0, 0, 0, 0};
  TGetRect(text, &r, nullptr);
  return r;
}

int32 TextLength(TRecord text) {
  const UHandle h = TGetText(text);
  return h && *h ? LStrLen(reinterpret_cast<const LStr*>(*h)) : 0;
}

// b - a per coordinate, and its sum back.
Rect Minus(const Rect& b, const Rect& a) {
  return Rect{Pin16(int32(b.top) - a.top), Pin16(int32(b.left) - a.left), Pin16(int32(b.bottom) - a.bottom),
              Pin16(int32(b.right) - a.right)};
}
Rect Plus(const Rect& a, const Rect& b) {
  return Rect{Pin16(int32(a.top) + b.top), Pin16(int32(a.left) + b.left), Pin16(int32(a.bottom) + b.bottom),
              Pin16(int32(a.right) + b.right)};
}

// The text laid out as a box fitted to it: the rectangle it then takes.
Rect Fitted(TRecord text) {
  TRecalc(text);
  return ViewOf(text);
}

// Restores the mode remembered before the text was laid out as a box; a
// label that was a box already (a damaged file can hold one) is reported as
// debug text and made a lines text.
void RestoreMode(TRecord text, uInt32 mode, int32 line) {
  if ((mode & kTRModeKind) == kTRKindBox) {
    DBPrintf("%s line %ld: a self-sizing label was left laid out as a box", kSource, long(line));
    mode = (mode & ~uInt32(kTRModeKind)) | kTRKindLines;
  }
  TSetMode(text, mode, 0);
}

// The label's owner when the label is a part of it, else 0.
int32 OwnerPart(ObjHeap heap, int32 label) {
  if (!Half(heap, label, kObjPartId)) return 0;
  const int32 owner = ObjWord(heap, label, kObjOwner / 4);
  return owner && owner != label && Live(heap, owner, kObjPartList + 4) ? owner : 0;
}

Point CentreOf(const Rect& r) {
  Point c{0, 0};
  RectCentroid(&r, &c);
  return c;
}

void MoveToCentre(Rect* r, Point was) {
  const Point now = CentreOf(*r);
  DOffsetRect(r, int32(was.h) - now.h, int32(was.v) - now.v);
}

// The first steps of a label's resize: its text kept in its margins or
// made one character at least.  The text record when the label goes on to
// fit its text, null when it stops there (*err its answer).
TRecord StartFit(ObjHeap heap, int32 label, const Rect* newRect, int32* err) {
  *err = LabelFitText(heap, label, newRect);
  if (*err) return nullptr;
  MarkChanged(heap, label);
  if (newRect || !(FlagsOf(heap, label) & (kFlagFitWidth | kFlagFitHeight))) return nullptr;
  return TextOf(heap, label);
}

// The text rectangle takes the fitted width and height the label follows,
// keeps the centre when one is given, and the bounds follow it with their
// margins.
void EndFit(ObjHeap heap, int32 label, TRecord text, Rect t, const Rect& fit, const Rect& margin, const Point* centre) {
  const uInt32 flags = FlagsOf(heap, label);
  if (flags & kFlagFitWidth) t.left = fit.left, t.right = fit.right;
  if (flags & kFlagFitHeight) t.top = fit.top, t.bottom = fit.bottom;
  if (centre) MoveToCentre(&t, *centre);
  TSetRect(text, &t);
  SetBoundsOf(heap, label, Plus(t, margin));
}

}  // namespace

// ---- Decorations ----------------------------------------------------------------------------

int32 CosmeticOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32) {
  // The checked block holds the bounds and the flags: they are read and
  // written in place until the image's procedure has run, then the block is
  // checked once for both writes.
  if (!Live(heap, object, kObjImage + 4)) return kArgErr;
  static_assert(kObjImage + 4 >= kObjBounds + 8, "a cosmetic's block holds its bounds and flags");
  bool live = true;
  if (newRect) {
    std::memcpy(&LastOldBounds, *heap + object + kObjBounds, sizeof LastOldBounds);
    Rect now = *newRect;
    TellImage(ObjWord(heap, object, kObjImage / 4), &now, LastOldBounds);
    live = Live(heap, object, kObjImage + 4);
    if (live) std::memcpy(*heap + object + kObjBounds, &now, sizeof now);
    else SetBoundsOf(heap, object, now);
  }
  if (live) ObjSetWord(heap, object, kObjFlags / 4, ObjWord(heap, object, kObjFlags / 4) | int32(kObjFlagMoved));
  else MarkChanged(heap, object);
  return 0;
}

int32 MultiCosmeticOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (const int32 err = CosmeticOSizeMethod(heap, object, newRect, partId)) return err;
  if (!newRect) return 0;
  Rect u = BoundsOf(heap, object);
  bool any = true;
  const int32 current = CurrentIndex(heap, object);
  for (int32 i = 0, n = EntryCount(heap, object, 4); i < n; ++i) {
    const int32 image = EntryImage(heap, object, kObjImageList + 4 * i);
    if (i == current || !image) continue;
    Rect copy = *newRect;
    TellImage(image, &copy, LastOldBounds);
    Unite(&u, &any, copy);
  }
  SetBoundsOf(heap, object, u);
  return 0;
}

int32 BigMultiCosmeticOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (const int32 err = CosmeticOSizeMethod(heap, object, newRect, partId)) return err;
  const int32 n = EntryCount(heap, object, kBigImageEntry), current = CurrentIndex(heap, object);
  const int32 currentAt = kObjImageList + kBigImageEntry * current;
  const bool hasCurrent = current >= 0 && current < n;
  if (!newRect) {
    if (hasCurrent) SetEntryRect(heap, object, currentAt, BoundsOf(heap, object));
    return 0;
  }
  const uInt32 flags = FlagsOf(heap, object);
  if (flags & kFlagOnlyCurrent) {
    if (hasCurrent) SetEntryRect(heap, object, currentAt, *newRect);
    SetFlagsOf(heap, object, (flags & ~kFlagEntryOwnBounds) | kFlagEntryEdited);
    return 0;
  }
  const Rect old = LastOldBounds;
  for (int32 i = 0; i < n; ++i) {
    const int32 at = kObjImageList + kBigImageEntry * i;
    const Rect before = EntryRect(heap, object, at);
    Rect r = Plus(before, Minus(*newRect, old));
    if (r.bottom <= r.top) r.bottom = Pin16(int32(r.top) + 1);
    if (r.right <= r.left) r.right = Pin16(int32(r.left) + 1);
    const int32 image = EntryImage(heap, object, at + kBigImageRef);
    if (i != current && image) TellImage(image, &r, before);
    SetEntryRect(heap, object, at, r);
  }
  return 0;
}

// ---- Labels ----------------------------------------------------------------------------------

int32 LabelFitText(ObjHeap heap, int32 label, const Rect* newRect) {
  const TRecord text = TextOf(heap, label);
  if (!text) return kArgErr;
  const Rect bounds = BoundsOf(heap, label);
  LastOldBounds = bounds;
  Rect t = ViewOf(text);
  if (newRect) {
    const Rect margin = Minus(t, bounds);
    SetBoundsOf(heap, label, *newRect);
    t = Plus(*newRect, margin);
    TSetRect(text, &t);
    return 0;
  }
  const int32 font = TGetFont(text);
  Point cell{0, 0};
  TTextSize(kPlaceholder, 1, font, &cell);
  TDisposeFont(font);
  const Rect before = t;
  if (RectHeight(&t) < cell.v) t.bottom = Pin16(int32(t.top) + cell.v);
  if (RectWidth(&t) < cell.h) {
    const uInt32 justify = TGetMode(text) & kTRModeJustify;
    if (justify == kTRJustifyRight) {
      t.left = Pin16(int32(t.right) - cell.h);
    } else if (justify == kTRJustifyCentre) {
      t.left = Pin16((int32(t.left) + t.right - cell.h) >> 1);
      t.right = Pin16(int32(t.left) + cell.h);
    } else {
      t.right = Pin16(int32(t.left) + cell.h);
    }
  }
  if (!DEqualRect(&t, &before)) {
    SetBoundsOf(heap, label, Plus(t, Minus(bounds, before)));
    TSetRect(text, &t);
  }
  return 0;
}

int32 ReanchorLabel(ObjHeap heap, int32 owner, int32 label) {
  const int32 flags = uInt16(Half(heap, label, kObjAttach)), anchorId = Half(heap, label, kObjAnchor);
  if (!(flags & kAttachAuto) || !anchorId || !Live(heap, owner, kObjPartList + 4)) return 0;
  const int32 anchor = FindPart(heap, owner, anchorId, 0);
  if (!anchor || anchor == label) return 0;
  const Rect labelOld = LastOldBounds;
  const Rect labelNew = PartRect(heap, label, kRectBounds), anchorRect = PartRect(heap, anchor, kRectBounds);
  Rect out;
  if (!ApplyAttachment(&labelOld, &labelNew, &anchorRect, &out, flags)) return 0;
  const Point by{Pin16(int32(anchorRect.top) - out.top), Pin16(int32(anchorRect.left) - out.left)};
  if (SendOffset(heap, label, by)) DBAssert(kSource, 1633, "ReanchorLabel: the label did not move");
  LastOldBounds = labelOld;
  return 1;
}

int32 LabelOSizeMethod(ObjHeap heap, int32 label, const Rect* newRect, int32) {
  int32 err = 0;
  const TRecord text = StartFit(heap, label, newRect, &err);
  if (!text) return err;
  const Rect t = ViewOf(text);
  const Rect margin = Minus(BoundsOf(heap, label), t);
  const bool centred = Half(heap, label, kObjAnchor) && uInt16(Half(heap, label, kObjAttach)) == kAttachCentred;
  const Point centre = CentreOf(t);
  const uInt32 mode = TGetMode(text);
  const bool placeholder = TextLength(text) == 0;
  if (placeholder) TReplaceText(text, kPlaceholder, 1);
  TSetMode(text, (mode & ~uInt32(kTRModeKind)) | kTRKindBox, 0);
  const Rect fit = Fitted(text);
  RestoreMode(text, mode, 572);
  EndFit(heap, label, text, t, fit, margin, centred ? &centre : nullptr);
  if (const int32 owner = OwnerPart(heap, label)) {
    const int32 id = Half(heap, label, kObjPartId);
    if (id != 17 && id != 18 && id != 19 && id != 68) ReanchorLabel(heap, owner, label);
  }
  if (placeholder) TReplaceText(text, nullptr, 0);
  return 0;
}

int32 MultiLabelOSizeMethod(ObjHeap heap, int32 label, const Rect* newRect, int32 partId) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return LabelOSizeMethod(heap, label, newRect, partId);
  const bool centred = uInt16(Half(heap, label, kObjAttach)) == kAttachCentred;
  const Point centre = CentreOf(BoundsOf(heap, label));
  int32 err = 0;
  const TRecord text = StartFit(heap, label, newRect, &err);
  if (!text) return err;
  const Rect t = ViewOf(text);
  const Rect margin = Minus(BoundsOf(heap, label), t);
  const uInt32 mode = TGetMode(text);
  TSetMode(text, (mode & ~uInt32(kTRModeKind)) | kTRKindBox, 0);
  UHandle saved = TGetText(text);
  if (DSHandToHand(&saved) != kNoErr) saved = nullptr;
  int32 selStart = 0, selEnd = 0;
  TGetSelection(text, &selStart, &selEnd);
  TSelectText(text, 0, kSelectEverything);
  Rect u{0, 0, 0, 0};
  bool any = false;
  if (TextLength(text) == 0) TReplaceText(text, kPlaceholder, 1);
  Unite(&u, &any, Fitted(text));
  // The other texts of the list, each laid out in turn (an empty one as
  // the placeholder).
  const UHandle list = Live(heap, label, kObjStringList + 4)
                           ? reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, label, kObjStringList / 4))))
                           : nullptr;
  const int32 current = Live(heap, label, 4 * (kMultiLabelIndexWord + 1)) ? ObjWord(heap, label, kMultiLabelIndexWord) : 0;
  // The list's word comes from the panel's bytes: only a live handle is read.
  const int32 size = list && AZCheckHandle(list) == kNoErr && *list ? AZGetHandleSize(list) : 0;
  if (size >= 4) {
    int32 count = 0;
    std::memcpy(&count, *list, 4);
    for (int32 i = 0, at = 4; i < count && at < size; ++i) {
      const int32 n = (*list)[at];
      if (at + 1 + n > size) break;
      if (i != current) {
        if (n) TReplaceText(text, *list + at + 1, n);
        else TReplaceText(text, kPlaceholder, 1);
        Unite(&u, &any, Fitted(text));
      }
      at += 1 + n;
    }
  }
  RestoreMode(text, mode, 713);
  if (saved) {
    TReplaceText(text, reinterpret_cast<const uChar*>(LStrBuf(reinterpret_cast<LStr*>(*saved))),
                 LStrLen(reinterpret_cast<const LStr*>(*saved)));
    DSDisposeHandle(saved);
  } else {
    TReplaceText(text, nullptr, 0);
  }
  TSelectText(text, selStart, selEnd);
  EndFit(heap, label, text, t, u, margin, centred ? &centre : nullptr);
  if (const int32 owner = OwnerPart(heap, label)) ReanchorLabel(heap, owner, label);
  return 0;
}

int32 BigMultiLabelOSizeMethod(ObjHeap heap, int32 label, const Rect* newRect, int32 partId) {
  if (!Live(heap, label, kExtraRects)) return kArgErr;
  const Rect old = BoundsOf(heap, label);
  LastOldBounds = old;
  if (!newRect) return MultiLabelOSizeMethod(heap, label, newRect, partId);
  const int32 room = (OHBlockSize(heap, label) - kExtraRects) / kExtraRectEntry;
  const int32 n = std::clamp<int32>(ObjInt16(heap, label, kExtraRectCount), 0, room);
  for (int32 i = 0; i < n; ++i) {
    const int32 at = kExtraRects + kExtraRectEntry * i;
    SetEntryRect(heap, label, at, Plus(EntryRect(heap, label, at), Minus(*newRect, old)));
  }
  SetBoundsOf(heap, label, *newRect);
  if (const TRecord text = TextOf(heap, label)) TSetRect(text, newRect);
  MarkChanged(heap, label);
  return 0;
}
