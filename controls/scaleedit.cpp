// The Scale object's clicks, actions, pop-up menu and selection message:
// editing a marker's label sets a range value, ticks are dragged to
// rescale, and the menu switches the ramp, the marker spacing, the colour
// interpolation and adds, deletes and recolours markers.  Part lists, marker
// indexes and text lists come from panel data and are checked before use.
// User-interface thread only.
#include <cmath>
#include <cstring>

#include "controls/scaleobj.h"
#include "engine/datatype.h"
#include "engine/exec/runcmd.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/textnum.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/clipmenu.h"
#include "panel/editmsg.h"
#include "panel/methsupport.h"
#include "panel/numoperate.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/replyfilters.h"

using opmeth::BoundsOf;
using opmeth::ExtWord;
using opmeth::Flags;
using opmeth::IsObject;
using opmeth::OnStack;
using opmeth::OwnerMode;
using opmeth::PartIdOf;
using opmeth::PointOf;

namespace {

constexpr int32 kLevelPart = 0, kLevelTarget = 2;
constexpr int32 kReplyMarkers = 0x280, kReplyStyle = 0x80, kReplySpacing = 0x10280, kReplyInterpolate = 0x10200;
constexpr int32 kReplyColour = 0x20200, kReplyRangeChanged = 0x200, kReplyColours = 0x100;
constexpr uInt32 kScaleOffersNoPopup = uInt32(kObjFlagIndicator) | uInt32(kOpFlagNoPopup);
constexpr uInt32 kOwnerEditMode = kVIFlags2OwnerMode;
constexpr int32 kEventPress = 6, kEventColour = 256;
constexpr int32 kModNoColourEvent = 0x8000, kModRangeMark = 0x10000, kModQuarterTurns = 0x2;
constexpr int32 kClickLooseDrag = 4, kResultColour = 6;
constexpr uInt32 kScaleDocMod = 0x80000000;
// A scale drawn with its owner (flag bit 2) is invalidated rather than
// having its ramp drawn at once.
constexpr uInt32 kScaleDrawnWithOwner = 0x4;
constexpr float64 kQuarterTurn = 6.283185307179586 / 4;

int16 Order(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartOrder); }
int16 EditIndex(ObjHeap heap, int32 scale) { return ObjInt16(heap, scale, kScaleObjEditIndex); }
void SetEditIndex(ObjHeap heap, int32 scale, int32 index) {
  const int16 v = int16(index);
  std::memcpy(*heap + scale + kScaleObjEditIndex, &v, sizeof v);
}
bool IsScale(ObjHeap heap, int32 scale) {
  return IsObject(heap, scale) && OHBlockSize(heap, scale) >= kScaleObjFormat + 2 && ObjClass(heap, scale) == kClsScale;
}
bool MarkerPart(int16 id) { return id == kScalePartLabel || id == kScalePartTick || id == kScalePartMinorTick; }
bool KeyEvent(const ActionParams* p) { return p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat; }
// The owner is a control (its scale parts are the control's).
bool OwnedByControl(ObjHeap heap, int32 scale) {
  const int32 owner = ObjWord(heap, scale, kObjOwner / 4);
  return IsObject(heap, owner) && ObjIsA(heap, owner, kClsDataDisplayObject);
}
bool EditMode(ObjHeap heap) { return (OwnerMode(heap) & kOwnerEditMode) != 0; }

void Recompute(ObjHeap heap, int32 scale) {
  OInval(heap, scale, kInvalAll);
  ScaleRecalc(heap, scale);
  OInval(heap, scale, kInvalAll);
}

// The part at a position of the scale's list, 0 when none.
int32 PartAt(ObjHeap heap, int32 scale, int32 index) {
  const int32 list = ObjWord(heap, scale, kObjPartList / 4);
  const int32 n = list ? PanelListCount(heap, list) : 0;
  if (index < 0 || index >= n) return 0;
  const int32 part = ObjListGet(heap, list, index);
  return IsObject(heap, part) ? part : 0;
}

int32 SendClick(ObjHeap heap, int32 part, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  return OSendMessage<int32>(kMsgOClick, heap, part, click, frame, p);
}
int32 SendDoit(ObjHeap heap, int32 part, TransactionFrame* frame, int32 action, ActionParams* p) {
  return OSendMessage<int32>(kMsgODoit, heap, part, frame, action, p);
}

// The text-label entry a marker's label stands for: the lower end the
// first, the upper end (and no marker) the last, an interior marker n the
// entry n - 1.
int32 TextEntryOf(int32 marker, int32 count) {
  if (marker == 1) return 0;
  if (marker < 0 || marker == 0 || marker - 1 >= count) return count - 1;
  return marker - 1;
}

// The count of a list of Pascal strings when every string lies within its
// handle (the list comes from panel data); -1 otherwise.
int32 ListCount(UHandle h) {
  const int32 size = h && *h ? (DSCheckHandle(h) == kNoErr ? DSGetHandleSize(h) : AZGetHandleSize(h)) : 0;
  if (size < 4) return -1;
  const int32 count = int32(GetNative32(*h));
  int64 at = 4;
  int32 walked = 0;
  for (; walked < count && at < size; ++walked) at += 1 + (*h)[at];
  return count >= 0 && walked == count && at <= size ? count : -1;
}

// A committed label text: the text-label entry replaced, or the text read
// as a number in the scale's display format setting the marker's value.
int32 CommitLabel(ObjHeap heap, int32 scale, int32 label, CPStrHandle textList) {
  Str255 text;
  PartTextToPStr(heap, label, text);
  const int32 marker = EditIndex(heap, scale);
  int32 reply = 0;
  if (textList) {
    const int32 count = ListCount(reinterpret_cast<UHandle>(textList));
    if (count > 0) CPStrReplace(textList, text, TextEntryOf(marker, count));
  } else if (marker >= 0) {
    float64 value = 0;
    const int32 format = ObjInt16(heap, scale, kScaleObjFormat);
    if (TextToNum(text + 1, text[0], kTDDBL, &value, format, 0, nullptr)) {
      // The walk that places the labels again leaves the editing text of
      // the panel alone while it is detached.
      const int32 ext = int32(OHWord(heap, kOHExtension));
      const uInt32 editing = ExtWord(heap, kHeapExtFocusText);
      if (ext > 0 && editing) PutNative32(*heap + ext + kHeapExtFocusText, 0);
      int32 newIndex = marker;
      reply = ScaleSetRangeValue(heap, scale, marker, value, &newIndex);
      if (ext > 0 && editing) PutNative32(*heap + ext + kHeapExtFocusText, editing);
    }
  }
  OInval(heap, scale, kInvalAll);
  if ((reply & kReplyRangeChanged) && (Flags(heap, scale) & kScaleColours)) RescaleColorMarkers(heap, scale);
  return reply;
}

// The value under a point along the scale (its angle on round scales).
float64 ValueAt(ObjHeap heap, int32 scale, Point point) {
  const int32 at = ObjWord(heap, scale, kScaleObjData);
  float64 v = 0;
  if (Flags(heap, scale) & kScaleRound) {
    float64 angle = 0;
    KnobPointToAngle(heap, at, point, &angle);
    KnobAngleToValue(heap, at, kTDDBL, angle, &v);
  } else {
    const int16 pixel = (Flags(heap, scale) & kScaleHorizontal) ? point.h : point.v;
    MapPixelsToValues(heap, at, kTDDBL, &pixel, 1, 1, &v, 8);
  }
  return v;
}

// The marker the palette recolours: its scale and index, kept from the
// menu's build to the palette's reply.
struct ColourTarget {
  ObjHeap heap = nullptr;
  int32 scale = 0;
  int32 marker = -1;
} gColourTarget;

uInt32 MarkerColour(ObjHeap heap, int32 scale, int32 marker) {
  const UPtr e = ScaleMarkerEntry(heap, scale, marker);
  return e ? GetNative32(e + 8) : 0;
}

int32 RunCommand(ObjHeap heap, int32 scale, PopupMsgRecord* rec, int32 marker) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  const uInt32 flags = Flags(heap, scale);
  const int32 item = rec->item;
  switch (rec->menuId) {
    case kScaleMappingMenuId: {
      const ScaleMapping mapping = ScaleMapping(item - 1);
      if (item < 1 || item > 2) return 0;
      if (r->mapping != mapping) {
        r->mapping = mapping;
        ScaleSetRangeValue(heap, scale, -2, 0, nullptr);
        VIDocMod(nullptr, heap, kScaleDocMod);
      }
      return kReplyMarkers;
    }
    case kScaleStyleMenuId: {
      int32 style = 0;
      ScaleStyleFlags(heap, scale, &style, nullptr, nullptr);
      if (item != style) {
        Recompute(heap, scale);
        Bool32 ok = 0;
        ScaleStyleFlags(heap, scale, &style, &item, &ok);
        if (ok) VIDocMod(nullptr, heap, kScaleDocMod);
      }
      return kReplyStyle;
    }
    case kMarkerSpacingMenuId: {
      const int32 current = (flags & kScaleArbitrary) ? 2 : 1;
      if ((item == 1 || item == 2) && item != current) {
        ObjSetWord(heap, scale, 0, int32(flags ^ kScaleArbitrary));
        if (item == 2) {
          // Arbitrary markers start from the markers shown now.
          ScaleRecalc(heap, scale);
          const int32 ticks = 1;
          ScaleStyleFlags(heap, scale, nullptr, &ticks, nullptr);
        }
      }
      return kReplySpacing;
    }
    case kColorPaletteMenuId:
      return DoColorPalette(kColorPaletteMenuId, item);
    default:
      break;
  }
  switch (item) {
    case kPopupRamp: {
      const bool show = PartIdAllHidden(heap, scale, kScalePartRamp) && PartIdAllHidden(heap, scale, kScalePartLowEnd) &&
                        PartIdAllHidden(heap, scale, kScalePartHighEnd);
      for (int32 id : {int32(kScalePartRamp), int32(kScalePartLowEnd), int32(kScalePartHighEnd)})
        SetPartIdVisible(heap, scale, id, show);
      VIDocMod(nullptr, heap, kScaleDocMod);
      return kReplyStyle;
    }
    case kPopupInterpolateColor: {
      ObjSetWord(heap, scale, 0, int32(flags ^ kScaleNoInterpolation));
      const WindowRef window = WindowRef(ExtWord(heap, kHeapExtWindow));
      const int32 ramp = FindPart(heap, scale, kScalePartRamp, 0);
      if ((flags & kScaleDrawnWithOwner) || !window || !ramp) {
        OInval(heap, scale, kInvalAll);
      } else {
        // The strip is painted again at once in the panel's window.
        WPortState port;
        WSetup(window, &port);
        ScaleFrameMarker(heap, scale, ramp);
        WRestore(&port);
      }
      return kReplyInterpolate;
    }
    case kPopupAddMarker:
      return ScaleAddMarker(heap, scale, ValueAt(heap, scale, rec->point));
    case kPopupDeleteMarker:
      return ScaleDeleteMarker(heap, scale, marker);
    default:
      return 0;
  }
}

void BuildMenu(ObjHeap heap, int32 scale, PopupMsgRecord* rec, int32 marker) {
  MenuHandle menu = rec->menu72;
  if (!menu) return;
  const uInt32 flags = Flags(heap, scale);
  const bool colours = flags & kScaleColours, arbitrary = flags & kScaleArbitrary;
  const int32 level = rec->level;
  if (colours)
    PopupInsertItem(menu, level, kPopupRamp, -1, 1, !PartIdAllHidden(heap, scale, kScalePartRamp));
  const bool textLabels = ScaleTextList(heap, scale) != nullptr;
  const int32 spacing = PopupInsertItem(menu, level, kPopupMarkerSpacing, -1, !textLabels, 0);
  if (spacing && !textLabels) {
    MenuHandle sub = PanelShell().standardMenu ? PanelShell().standardMenu(kMarkerSpacingMenuId) : nullptr;
    if (sub) {
      for (int32 k = 1; k <= MCountItems(sub); ++k) MCheckItem(sub, k, k == (arbitrary ? 2 : 1));
      PopupAttachSubmenu(menu, spacing, level, sub);
    }
  }
  PopupInsertItem(menu, level, kPopupAddMarker, -1, arbitrary, 0);
  PopupInsertItem(menu, level, kPopupDeleteMarker, -1, arbitrary && marker >= 2, 0);
  if (!colours) return;
  const bool recolour = arbitrary && marker >= 0 && ScaleMarkerEntry(heap, scale, marker);
  const int32 item = PopupInsertItem(menu, level, kPopupMarkerColor, -1, recolour, 0);
  if (item && recolour) {
    MenuHandle palette = PanelShell().standardMenu ? PanelShell().standardMenu(kColorPaletteMenuId) : nullptr;
    if (palette) PopupAttachSubmenu(menu, item, level, palette);
    const int32 colour = int32(MarkerColour(heap, scale, marker));
    gColourTarget = ColourTarget{heap, scale, marker};
    PrepareColorPalette(colour, colour, kPaletteForeground | kPaletteSingle, 0, &ScaleMarkerColorReply, scale);
  }
  PopupInsertItem(menu, level, kPopupInterpolateColor, -1, 1, !(flags & kScaleNoInterpolation));
}

}  // namespace

// ---- The pop-up menu -------------------------------------------------------------------

int32 ScaleOPopupMethod(ObjHeap heap, int32 scale, PopupMsgRecord* rec) {
  // Only the scale whose click raised the menu (the record retagged as
  // the scale's) answers it.
  if (!rec || !IsScale(heap, scale) || rec->category != kScaleTag) return 0;
  ++rec->level;
  const int32 marker = reinterpret_cast<ScalePopupRecord*>(rec)->marker;
  if (rec->phase == kPopupBuild) {
    BuildMenu(heap, scale, rec, marker);
    return 0;
  }
  if (rec->phase != kPopupRun || rec->level != 0) return 0;
  const int32 reply = RunCommand(heap, scale, rec, marker);
  if (reply) {
    rec->hitPartId = PartIdOf(heap, scale);
    rec->hitPartOrder = Order(heap, scale);
    Recompute(heap, scale);
  }
  return reply;
}

int32 ScaleMarkerColorReply(int32 foreground, int32, int32 flags, int32 argument) {
  const ColourTarget t = gColourTarget;
  if (!(flags & kPaletteForeground) || !t.heap || t.scale != argument || !IsScale(t.heap, t.scale)) return 0;
  const UPtr e = ScaleMarkerEntry(t.heap, t.scale, t.marker);
  if (!e || GetNative32(e + 8) == uInt32(foreground)) return 0;
  PutNative32(e + 8, uInt32(foreground));
  OInval(t.heap, t.scale, kInvalAll);
  return kReplyColour;
}

// ---- Clicks ------------------------------------------------------------------------------

int32 ScaleClickLabel(ObjHeap heap, int32 scale, int32 label, int32 marker, TransactionState* click,
                      TransactionFrame* frame, ActionParams* p) {
  if (!IsScale(heap, scale) || !IsObject(heap, label) || !click || !p) return 0;
  const int32 kind = click->mode;
  // A pop-up click over a label is the scale's own menu.
  if (kind == kClickPopup) return kClickAbsorbed;
  const bool press = kind == kClickPress || kind == kClickLabelPress;
  if (press) {
    if (int32(ExtWord(heap, kHeapExtKeyFocus)) == label && EditIndex(heap, scale) != marker) {
      FPReleaseKeyFocus(heap);
      SetEditIndex(heap, scale, -1);
      return kClickAbsorbed;
    }
    SetEditIndex(heap, scale, marker);
  }
  int32 result = SendClick(heap, label, click, frame, p);
  if (press && !result) SetEditIndex(heap, scale, -1);
  if (!ScaleTextList(heap, scale)) return result;
  // Text labels are not typed into: an operate-mode panel keeps them, in
  // edit mode a press drags the marker.
  if (result && !EditMode(heap)) return kClickAbsorbed;
  if (press && result == kClickOperate) {
    reinterpret_cast<ScalePopupRecord*>(p)->marker = marker;
    ScaleDragMarker(heap, scale, kScaleDragStart, marker, PointOf(click->point), click->modifiers, 0);
    p->dragObject = scale;
    result = kClickTrack;
  } else if (kind == kClickCursor) {
    reinterpret_cast<ScalePopupRecord*>(p)->marker = 0;
  }
  return result;
}

int32 ScaleClickTick(ObjHeap heap, int32 scale, int32 tick, int32 marker, TransactionState* click,
                     TransactionFrame* frame, ActionParams* p) {
  if (!IsScale(heap, scale) || !IsObject(heap, tick) || !click || !p) return 0;
  const int32 kind = click->mode;
  if (kind == kClickPopup) return kClickAbsorbed;
  const int32 result = SendClick(heap, tick, click, frame, p);
  const bool extending = (click->modifiers & kWModShift) != 0;
  if (result && !extending && (kind == kClickPress || kind == kClickLabelPress)) SetEditIndex(heap, scale, -1);
  const uInt32 flags = Flags(heap, scale);
  const bool round = flags & kScaleRound;
  if (result == kClickCursorAnswer && kind == kClickCursor && EditMode(heap) && OwnedByControl(heap, scale)) {
    CursorOf(p)->cursor = round ? kCursorScaleRound : (flags & kScaleHorizontal) ? kCursorScaleHorizontal
                                                                                 : kCursorScaleVertical;
    return result;
  }
  if (result != kClickTrack) return result;
  if (!EditMode(heap) || (round && (flags & kScaleLooseFit) && kind == kClickLooseDrag)) {
    p->dragObject = 0;  // the tick is not dragged on its own either
    return kClickAbsorbed;
  }
  const float64 step = round && (click->modifiers & kModQuarterTurns) ? kQuarterTurn : 0;
  ScaleDragMarker(heap, scale, kScaleDragStart, marker, PointOf(click->point), click->modifiers, step);
  p->dragObject = scale;
  return kClickTrack;
}

int32 ScaleOClickMethod(ObjHeap heap, int32 scale, TransactionState* click, TransactionFrame* frame,
                        ActionParams* p) {
  if (!IsScale(heap, scale) || !click || !p || !OnStack(frame, 3)) return kClickNotHit;
  const uInt32 flags = Flags(heap, scale);
  const Point point = PointOf(click->point);
  const Rect bounds = BoundsOf(heap, scale);
  if ((flags & kScaleHidden) || !DPtInRect(point, &bounds)) return kClickNotHit;
  *frame = TransactionFrame{scale, kScaleTag, kLevelPart, 0};
  int32 marker = -1;
  const int32 hit = ScaleHitMarker(heap, scale, point, ScaleTextList(heap, scale), &marker);
  int32 result = 0, answered = 0;
  const int32 list = ObjWord(heap, scale, kObjPartList / 4);
  const int32 n = list ? PanelListCount(heap, list) : 0;
  for (int32 i = 0; i < n && !result; ++i) {
    const int32 part = PartAt(heap, scale, i);
    if (!part || part == scale) continue;
    const int16 id = PartIdOf(heap, part);
    frame->index = i;
    if (!MarkerPart(id)) result = SendClick(heap, part, click, frame + 1, p);
    else if (id != hit) continue;
    else if (id == kScalePartLabel) result = ScaleClickLabel(heap, scale, part, marker, click, frame + 1, p);
    else result = ScaleClickTick(heap, scale, part, marker, click, frame + 1, p);
    if (result && IsObject(heap, part)) {
      answered = part;
      p->partId = PartIdOf(heap, part);
      p->partOrder = Order(heap, part);
    }
  }
  // Taken by none of its parts, the click goes on to the owner's other
  // parts.
  if (!result) return kClickNotHit;
  if (result == kClickAbsorbed && click->mode == kClickPopup && !(flags & kScaleOffersNoPopup)) {
    *frame = TransactionFrame{scale, kScaleTag, kLevelTarget, 0};
    frame[1].kind = 0;
    p->eventCode = int32(kScaleTag);
    reinterpret_cast<ScalePopupRecord*>(p)->marker = marker;
    OPopup(heap, scale, p);
    return kClickPopupReady;
  }
  if (result == kResultColour && answered) {
    const int16 id = PartIdOf(heap, answered);
    if ((id == kScalePartRamp || id == kScalePartLowEnd || id == kScalePartHighEnd) &&
        !(click->modifiers & kModNoColourEvent))
      p->eventCode = kEventColour;
  }
  return result;
}

// ---- Actions -----------------------------------------------------------------------------

int32 ScaleODoitMethod(ObjHeap heap, int32 scale, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (!IsScale(heap, scale) || !p || !OnStack(frame, 2) || frame->object != scale) return 0;
  if (frame->mode == kLevelTarget) return action == kActPopupChoice ? OPopup(heap, scale, p) : 0;
  const int32 part = PartAt(heap, scale, frame->index);
  if (!part) return 0;
  const int16 id = PartIdOf(heap, part);
  const CPStrHandle textList = reinterpret_cast<CPStrHandle>(ScaleTextList(heap, scale));
  int32 reply = 0;
  if (action == kActTrack && (id == kScalePartLabel || id == kScalePartTick || id == kScalePartMinorTick)) {
    // A marker drag started by the click: moves, then the release.
    const bool ends = p->eventCode == kSubRelease || p->eventCode == kSubEnd;
    reply = ScaleDragMarker(heap, scale, ends ? kScaleDragEnd : kScaleDragMove, 0, p->point, p->modifiers, 0);
    if (!ends) reply |= kReplyTracking;
  } else if (id == kScalePartLabel) {
    if (action == kActOperate && KeyEvent(p) && !textList &&
        !NumTextEntryKeyFilter(p, kTDDBL, ObjInt16(heap, scale, kScaleObjFormat)))
      return kReplyTracking;
    reply = SendDoit(heap, part, frame + 1, action, p);
    if (reply & kReplyCommitted) reply = (reply & ~kReplyCommitted) | CommitLabel(heap, scale, part, textList);
    else reply &= ~kReplyRedraw;
  } else {
    reply = SendDoit(heap, part, frame + 1, action, p);
    if (p->eventCode == kEventPress && (p->modifiers & kModRangeMark) &&
        (id == kScalePartLowEnd || id == kScalePartHighEnd))
      reply |= kReplyRangeChanged;
  }
  reply = ScaleCheckReply(heap, scale, part, id, reply);
  if ((reply & kReplyColours) && IsObject(heap, part)) {
    OColorChange(heap, part, int32(id), int32(Order(heap, part)), p->window, p->localPoint, p->eventCode);
    if (MarkerPart(id)) OInval(heap, scale, kInvalAll);
  }
  if (!(reply & kReplyTracking)) SetEditIndex(heap, scale, -1);
  if (reply & kReplyRedraw) Recompute(heap, scale);
  return reply;
}
