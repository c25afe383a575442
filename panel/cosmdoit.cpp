// The click and do-it methods of cosmetics and labels in operate mode: a
// cosmetic shows its pop-up menu, is dragged or takes a colour; a label is
// also edited as text and takes dropped text; a multi-line label edits its
// list of item texts.
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/dataxfer.h"
#include "panel/fppanel.h"
#include "panel/oinval.h"
#include "panel/numdoit.h"
#include "panel/operate.h"
#include "panel/selabel.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/ctrdoit.h"

namespace {

using namespace opmeth;

const char kSource[] = "cosmdoit";

constexpr int32 kHitSlop = 3;
constexpr int32 kWordImage = 6, kWordColour = 8, kWordActive = 10, kWordItems = 11;
constexpr int32 kLevelTarget = 2;
constexpr int32 kImageModeA = 4, kImageModeB = 5;
constexpr int16 kPartLabel10 = 10, kPartLabel11 = 11, kPartItemTexts = 12, kPartBoolTexts = 22;
constexpr int32 kKeyEnter = 2, kKeyPaste = 32;
constexpr int32 kModShift = 0x2;
constexpr int32 kReplyNewItem = 0x249;
constexpr int32 kIdleOverText1 = 1, kIdleOverText2 = 2, kIdleEdit = 3;

int32 gEnclosingTypeDef = 0;

bool HasWord(ObjHeap heap, int32 object, int32 word) { return OHBlockSize(heap, object) >= 4 * (word + 1); }
Rect OnePixel(Point p) { return Rect{p.v, p.h, int16(p.v + 1), int16(p.h + 1)}; }

WindowRef Window(ObjHeap heap) { return WindowRef(ExtWord(heap, kHeapExtWindow)); }


// The frame a cosmetic's do-it expects: naming it (or nothing), "COSM",
// the target, the path ended after it.
void CheckFrame(ObjHeap heap, int32 object, const TransactionFrame* frame) {
  if (!frame) return;
  if (!OnStack(frame, 2) || (frame->object != object && frame->object != 0) || frame->kind != kCatCOSM ||
      frame->mode != kLevelTarget || frame[1].kind != 0)
    DBAssert(kSource, __LINE__, "the frame does not name the cosmetic as the end of the path");
  (void)heap;
}

bool Hit(ObjHeap heap, int32 object, int32 mode, Point point) {
  if (Flags(heap, object) & kObjFlagHidden) return false;
  Rect r = BoundsOf(heap, object);
  const int32 image = HasWord(heap, object, kWordImage) ? ObjWord(heap, object, kWordImage) : 0;
  if (image && IGetKind(image) && mode != kImageModeA && mode != kImageModeB)
    return IPtInImage(point, image, &r) != 0;
  DInsetRect(&r, -kHitSlop, -kHitSlop);
  return DPtInRect(point, &r) != 0;
}

// The label as the text that takes the key focus: another text holding it
// is committed first.
int32 FocusTarget(ObjHeap heap, int32 label, TRecord text, ActionParams* p) {
  const uInt32 focus = ExtWord(heap, kHeapExtKeyFocus);
  if (focus && ExtWord(heap, kHeapExtFocusText) != uInt32(uintptr_t(text))) FPCommitKeyFocus(heap);
  p->text = reinterpret_cast<UHandle>(text);
  p->focusObject = label;
  return kClickOperate;
}

bool LabelEditable(ObjHeap heap, int32 label) {
  if (Flags(heap, label) & kOpFlagLocked) return false;
  const int16 id = PartIdOf(heap, label);
  if (id == kPartLabel10 || id == kPartLabel11) return !(OwnerMode(heap) & kOwnerModeNoLabelEdit);
  return gEnclosingTypeDef == 0;
}

bool DropIsText(const DataXferRec& rec) {
  return !(rec.kind & kDataXferObjKind) && rec.drag && rec.count == 1 && DragItemIsText(rec.drag, 0);
}
DataXferRec* DragOf(ActionParams* p) { return reinterpret_cast<DataXferRec*>(&p->eventCode); }

void RedrawText(ObjHeap heap, int32 label) {
  THideDropCaret();
  OInval(heap, label, kInvalAll);
}

// A text dropped on the label: inserted at the drop point and selected.
int32 DropText(ObjHeap heap, int32 label, ActionParams* p) {
  const TRecord text = PartTextRecord(heap, label);
  if (!text) return 0;
  const DataXferRec rec = *DragOf(p);
  auto dropped = reinterpret_cast<LStrHandle>(DSNewHClr(4));
  const bool ok = dropped && DropIsText(rec) && DataXferItemData(rec, 0, dropped) == kNoErr &&
                  DSGetHandleSize(reinterpret_cast<UHandle>(dropped)) >= 4 &&
                  int32(GetNative32(reinterpret_cast<UPtr>(*dropped))) >= 0 &&
                  int64(GetNative32(reinterpret_cast<UPtr>(*dropped))) + 4 <=
                      DSGetHandleSize(reinterpret_cast<UHandle>(dropped));
  if (!ok) {
    if (dropped) DSDisposeHandle(reinterpret_cast<UHandle>(dropped));
    RedrawText(heap, label);
    return 0;
  }
  const int32 at = TPtToOffset(text, p->point, 0);
  THideDropCaret();
  TSelectText(text, at, at);
  FPSetKeyFocus(heap, label, text);
  const Rect bounds = BoundsOf(heap, label);
  const DColor colour = HasWord(heap, label, kWordColour) ? DColor(ObjWord(heap, label, kWordColour)) : 0;
  const int32 length = int32(GetNative32(reinterpret_cast<UPtr>(*dropped)));
  const TRecord insert =
      TNew(&bounds, 0, reinterpret_cast<UPtr>(*dropped) + 4, length, kAppFont, colour, kTransparentColor);
  DSDisposeHandle(reinterpret_cast<UHandle>(dropped));
  if (!insert) return kReplyFailed;
  p->eventCode = kSubKeyDown;
  p->keyCode = kKeyPaste;
  p->text = reinterpret_cast<UHandle>(insert);
  const int32 reply = TextPartDoit(heap, label, p, 0);
  const TRecord now = PartTextRecord(heap, label);
  if (now) {
    int32 end = at;
    TGetSelection(now, nullptr, &end);
    TSelectText(now, at, end);
    if (Window(heap)) TActivate(now, 1);
  }
  p->text = reinterpret_cast<UHandle>(now);
  TDispose(insert);
  return reply;
}

// The item texts of a multi-line label when they fit their handle; null
// (reported) otherwise.
CPStrHandle ItemTexts(ObjHeap heap, int32 label) {
  if (!HasWord(heap, label, kWordItems)) return nullptr;
  auto h = reinterpret_cast<CPStrHandle>(uintptr_t(uInt32(ObjWord(heap, label, kWordItems))));
  if (!h) return nullptr;
  const auto uh = reinterpret_cast<UHandle>(h);
  const int32 size = AZCheckHandle(uh) == kNoErr ? AZGetHandleSize(uh) : -1;
  const UPtr b = size >= 4 ? reinterpret_cast<UPtr>(*h) : nullptr;
  const int32 n = b ? int32(GetNative32(b)) : -1;
  int64 at = 4;
  int32 walked = 0;
  for (; n >= 0 && walked < n && at < size; ++walked) at += 1 + b[at];
  if (n < 0 || walked != n || at > size) {
    DBAssert(kSource, __LINE__, "a label's item texts do not fit their handle");
    return nullptr;
  }
  return h;
}

}  // namespace

void SetEnclosingTypeDef(int32 typeDef) { gEnclosingTypeDef = typeDef; }
int32 EnclosingTypeDef() { return gEnclosingTypeDef; }

// ---- Cosmetics ----------------------------------------------------------------------------
int32 CosmeticOClickMethod(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame,
                           ActionParams* p) {
  if (!IsObject(heap, object) || !click || !p) return kClickNotHit;
  const Point point = PointOf(click->point);
  const int32 mode = click->mode;
  if (!Hit(heap, object, mode, point)) return kClickNotHit;
  if (!OnStack(frame, 2) || !TRPutFrame(frame, object, kCatCOSM, kLevelTarget, 0)) return kClickNotHit;
  const uInt32 flags = Flags(heap, object);
  if (mode == kClickPopup) {
    if (flags & kOpFlagNoPopup) return kClickAbsorbed;
    p->eventCode = int32(kCatCOSM);
    OPopup(heap, object, p);
    return kClickPopupReady;
  }
  if (mode == kClickPress) {
    if (flags & kObjFlagIndicator) return kClickAbsorbed;
    p->arrowDirection = 0;
    p->dragObject = object;
    return kClickTrack;
  }
  if (mode & 1) {
    CursorAnswer* c = CursorOf(p);
    c->cursor = kCursorStandard;
    c->rect = flags & kOpFlagPointCursor ? OnePixel(point) : BoundsOf(heap, object);
    return kClickCursorAnswer;
  }
  return kClickAbsorbed;
}

int32 CosmeticODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (!IsObject(heap, object) || !p) return 0;
  if (action == kActPopupChoice || action == kActColourChange || action == kActTrack) CheckFrame(heap, object, frame);
  switch (action) {
    case kActPopupChoice:
      if (!(Flags(heap, object) & kOpFlagNoPopup)) OPopup(heap, object, p);
      return 0;
    case kActColourChange:
      // The request word, then the foreground and background colours.
      if (!p->eventCode) return 0;
      return OColorChange(heap, object, 0, 0, p->window, p->localPoint, p->eventCode);
    case kActTrack:
      SetTrackObject(heap, object, nullptr, nullptr, 1);
      return kReplyTracking;
    default:
      return 0;
  }
}

// ---- Labels -------------------------------------------------------------------------------
int32 LabelDropText(ObjHeap heap, int32 label, TransactionFrame* frame, ActionParams* p, Point point) {
  if (!IsObject(heap, label) || !p) return 0;
  const TRecord text = PartTextRecord(heap, label);
  DataXferRec* rec = DragOf(p);
  if (!text || !IsRunTimeEditablePart(heap, label) || !DropIsText(*rec)) return 0;
  TShowDropCaret(text, point, Window(heap));
  DataXferSetResult(rec, label);
  if (OnStack(frame, 2)) TRPutFrame(frame, label, kCatCOSM, kLevelTarget, 0);
  return kClickDropOnLabel;
}

int32 LabelOClickMethod(ObjHeap heap, int32 label, TransactionState* click, TransactionFrame* frame,
                        ActionParams* p) {
  const int32 answer = CosmeticOClickMethod(heap, label, click, frame, p);
  if (!answer) return answer;
  const int32 mode = click->mode;
  const Point point = PointOf(click->point);
  const TRecord text = PartTextRecord(heap, label);
  const bool editable = LabelEditable(heap, label);
  const int32 idle = text ? TIdle(text, point) : 0;
  const bool overText = idle == kIdleOverText1 || idle == kIdleOverText2;
  const bool textHit = (mode == kClickPress || mode == kClickLabelPress) && overText;
  if (answer == kClickTrack || mode == kClickLabelPress || textHit) {
    if (text && (editable || textHit)) return FocusTarget(heap, label, text, p);
    return kClickAbsorbed;
  }
  const uInt32 flags = Flags(heap, label);
  if ((mode == kClickCursor && !(flags & kObjFlagIndicator)) || (mode == kClickLabelCursor && editable)) {
    CursorAnswer* c = CursorOf(p);
    c->cursor = idle == kIdleEdit ? kCursorText : overText ? kCursorTextOwn : kCursorStandard;
    if (idle == 0 || (text && (TGetMode(text) & kTRModeBars))) c->rect = OnePixel(point);
    return kClickCursorAnswer;
  }
  if (mode == kClickDropTest && editable &&
      (PartIdOf(heap, label) == kPartLabel11 || (OwnerMode(heap) & kVIFlags2OwnerMode))) {
    if (const int32 drop = LabelDropText(heap, label, frame, p, point)) return drop;
  }
  return answer;
}

int32 LabelODoitMethod(ObjHeap heap, int32 label, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (!IsObject(heap, label) || !p) return 0;
  if (action == kActTextDragOver) {
    CheckFrame(heap, label, frame);
    const TRecord text = PartTextRecord(heap, label);
    const Rect bounds = BoundsOf(heap, label);
    if (text && DPtInRect(p->point, &bounds)) {
      TShowDropCaret(text, p->point, Window(heap));
      return 1;
    }
    RedrawText(heap, label);
    return 0;
  }
  if (action == kActTextDrop) {
    CheckFrame(heap, label, frame);
    return DropText(heap, label, p);
  }
  int32 reply = CosmeticODoitMethod(heap, label, frame, action, p);
  if (action == kActOperate && !(reply & kReplyFailed) && !(Flags(heap, label) & kObjFlagHidden))
    reply = TextPartDoit(heap, label, p, reply);
  return reply;
}

// ---- Multi-line labels ----------------------------------------------------------------------
int32 MultiLabelOClickMethod(ObjHeap heap, int32 label, TransactionState* click, TransactionFrame* frame,
                             ActionParams* p) {
  const int32 answer = CosmeticOClickMethod(heap, label, click, frame, p);
  if (!answer) return answer;
  const uInt32 flags = Flags(heap, label);
  const bool editable = !(flags & kOpFlagLocked) && gEnclosingTypeDef == 0;
  const bool indicator = flags & kObjFlagIndicator;
  const int32 mode = click->mode;
  const TRecord text = PartTextRecord(heap, label);
  if (editable && text && (mode == kClickLabelPress || (mode == kClickPress && indicator)))
    return FocusTarget(heap, label, text, p);
  if (editable && (mode == kClickLabelCursor || (mode == kClickCursor && indicator))) {
    CursorOf(p)->cursor = kCursorText;
    return kClickCursorAnswer;
  }
  return answer;
}

int32 MultiLabelODoitMethod(ObjHeap heap, int32 label, TransactionFrame* frame, int32 action, ActionParams* p) {
  int32 reply = LabelODoitMethod(heap, label, frame, action, p);
  if (action != kActOperate || !IsObject(heap, label) || !p) return reply;
  if (!(reply & kReplyCommitted) && p->keyCode != kKeyEnter) return reply;
  // The active item: the owner's value for this part.
  const int32 owner = ObjWord(heap, label, kObjOwner / 4);
  const UPtr at = IsObject(heap, owner) ? reinterpret_cast<UPtr>(uintptr_t(uInt32(
                                              OGetDataPtr(heap, owner, label, kDataPtrOperate, nullptr))))
                                        : nullptr;
  if (!at) return reply | kReplyFailed;
  int16 active;
  std::memcpy(&active, at, sizeof active);
  const CPStrHandle items = ItemTexts(heap, label);
  const int32 count = items ? int32(GetNative32(reinterpret_cast<UPtr>(*items))) : 0;
  const int32 index = active < 0 || count == 0 ? 0 : active >= count ? count - 1 : active;
  const int16 id = PartIdOf(heap, label);
  if (reply & kReplyCommitted) {
    if (!PartTextRecord(heap, label)) return 0;
    if (count == 0) {
      DBAssert(kSource, __LINE__, "a committed item text without items");
    } else {
      Str255 s;
      PartTextToPStr(heap, label, s);
      CPStrReplace(items, s, index);
      if (id == kPartBoolTexts && index + 2 < count) CPStrReplace(items, s, index + 2);
      OSize(heap, label, nullptr, 0);
    }
  }
  if (id == kPartItemTexts && (p->modifiers & kModShift) && items) {
    const uChar empty[1] = {0};
    if (CPStrInsert(items, empty, index + 1) != kNoErr) return reply | kReplyFailed;
    if (HasWord(heap, label, kWordActive)) ObjSetWord(heap, label, kWordActive, index + 1);
    if (const TRecord text = PartTextRecord(heap, label)) {
      TReplaceText(text, nullptr, 0);
      TDeactivate(text, Window(heap) != 0);
    }
    reply |= kReplyNewItem;
  }
  return reply;
}

// ---- The class table --------------------------------------------------------------------------
ObjMethodAddr OClickMethodFor(int32 cls) {
  switch (cls) {
    case kClsFrontPanel:
      return reinterpret_cast<ObjMethodAddr>(&PanelOClickMethod);
    case kClsDataDisplayObject: case kClsBoolean: case kClsOleVariant:
      return reinterpret_cast<ObjMethodAddr>(&DDOOClickMethod);
    case kClsFPDataController:
      return reinterpret_cast<ObjMethodAddr>(&DCOOClickMethod);
    case kClsPicture:
      return reinterpret_cast<ObjMethodAddr>(&PictureOClickMethod);
    case kClsUserItem:
      return reinterpret_cast<ObjMethodAddr>(&UserItemOClickMethod);
    case kClsString: case kClsTag:
      return reinterpret_cast<ObjMethodAddr>(&StringOClickMethod);
    case kClsTypeDefinition:
      return reinterpret_cast<ObjMethodAddr>(&TypeDefOClickMethod);
    case kClsGrouperObject:
      return reinterpret_cast<ObjMethodAddr>(&GrouperOClickMethod);
    case kClsConnectorPane:
      return reinterpret_cast<ObjMethodAddr>(&ConnPaneOClickMethod);
    case kClsCosmetic: case kClsMultiCosmetic: case kClsBigMultiCosmetic:
      return reinterpret_cast<ObjMethodAddr>(&CosmeticOClickMethod);
    case kClsLabel: case kClsSelLabel:
      return reinterpret_cast<ObjMethodAddr>(&LabelOClickMethod);
    case kClsMultiLabel: case kClsBigMultiLabel:
      return reinterpret_cast<ObjMethodAddr>(&MultiLabelOClickMethod);
    case kClsNumeric:
      return reinterpret_cast<ObjMethodAddr>(&NumericOClickMethod);
    case kClsRing:
      return reinterpret_cast<ObjMethodAddr>(&RingOClickMethod);
    case kClsSlide: case kClsKnob:
      return reinterpret_cast<ObjMethodAddr>(&SlideOClickMethod);
    case kClsCluster:
      return reinterpret_cast<ObjMethodAddr>(&ClusterOClickMethod);
    case kClsArray:
      return reinterpret_cast<ObjMethodAddr>(&ArrayOClickMethod);
    case kClsRefNum:
      return reinterpret_cast<ObjMethodAddr>(&RefNumOClickMethod);
    case kClsColorBox:
      return reinterpret_cast<ObjMethodAddr>(&ColorBoxOClickMethod);
    case kClsColorRamp:
      return reinterpret_cast<ObjMethodAddr>(&ColorRampOClickMethod);
    case kClsPath:
      return reinterpret_cast<ObjMethodAddr>(&PathOClickMethod);
    default:
      return nullptr;
  }
}

ObjMethodAddr OperateDoitMethodFor(int32 cls) {
  switch (cls) {
    case kClsFrontPanel:
      return reinterpret_cast<ObjMethodAddr>(&PanelODoitMethod);
    case kClsDataDisplayObject: case kClsOleVariant: case kClsPicture:
      return reinterpret_cast<ObjMethodAddr>(&DDOODoitMethod);
    case kClsGrouperObject:
      return reinterpret_cast<ObjMethodAddr>(&GrouperODoitMethod);
    case kClsUserItem:
      return reinterpret_cast<ObjMethodAddr>(&UserItemODoitMethod);
    case kClsString:
      return reinterpret_cast<ObjMethodAddr>(&StringODoitMethod);
    case kClsTag:
      return reinterpret_cast<ObjMethodAddr>(&TagODoitMethod);
    case kClsFPDataController:
      return reinterpret_cast<ObjMethodAddr>(&DCOODoitMethod);
    case kClsConnectorPane:
      return reinterpret_cast<ObjMethodAddr>(&ConnPaneODoitMethod);
    case kClsBoolean:
      return reinterpret_cast<ObjMethodAddr>(&BooleanODoitMethod);
    case kClsCosmetic: case kClsMultiCosmetic: case kClsBigMultiCosmetic:
      return reinterpret_cast<ObjMethodAddr>(&CosmeticODoitMethod);
    case kClsLabel:
      return reinterpret_cast<ObjMethodAddr>(&LabelODoitMethod);
    case kClsSelLabel:
      return reinterpret_cast<ObjMethodAddr>(&SelLabelODoitMethod);
    case kClsMultiLabel: case kClsBigMultiLabel:
      return reinterpret_cast<ObjMethodAddr>(&MultiLabelODoitMethod);
    case kClsNumeric:
      return reinterpret_cast<ObjMethodAddr>(&NumericODoitMethod);
    case kClsRing:
      return reinterpret_cast<ObjMethodAddr>(&RingODoitMethod);
    case kClsSlide: case kClsKnob:
      return reinterpret_cast<ObjMethodAddr>(&SlideODoitMethod);
    case kClsCluster:
      return reinterpret_cast<ObjMethodAddr>(&ClusterODoitMethod);
    case kClsArray:
      return reinterpret_cast<ObjMethodAddr>(&ArrayODoitMethod);
    case kClsRefNum:
      return reinterpret_cast<ObjMethodAddr>(&DDOODoitMethod);
    case kClsTypeDefinition:
      return reinterpret_cast<ObjMethodAddr>(&TypeDefODoitMethod);
    case kClsColorBox:
      return reinterpret_cast<ObjMethodAddr>(&ColorBoxODoitMethod);
    case kClsColorRamp:
      return reinterpret_cast<ObjMethodAddr>(&ColorRampODoitMethod);
    case kClsPath:
      return reinterpret_cast<ObjMethodAddr>(&StdPathODoitMethod);
    default:
      return nullptr;
  }
}
