// The operate-mode methods of clusters, arrays, refnums and type
// definitions: each runs the data display method on its own parts first,
// then hands a click in its interior (part 28) to the objects inside,
// extending the path by one frame, and passes the key focus among them.
// Also the combination of a container's range states.
#include <algorithm>
#include <cstring>

#include "engine/datatype.h"
#include "engine/exec/callchain.h"
#include "engine/exec/panelplace.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/ctrdoit.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/dataxfer.h"
#include "panel/fppanel.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel/numoperate.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/rangecheck.h"

namespace {

using namespace opmeth;

const char kSource[] = "ctrdoit";

constexpr int32 kLevelPart = 0, kLevelChild = 1, kLevelTarget = 2, kLevelCell = 3;
constexpr int16 kPartInterior = 28, kPartScroll = 9, kPartRefNumFrame = 9, kPartRefNumButton = 83, kPartGlyph = 8010;
constexpr int32 kWordElements = 10, kWordObjects = 11;
constexpr uInt32 kFlagsDisabled = 0x280, kFlagFedKey = 0x100000;
constexpr int32 kClickModeKeyA = 4, kClickModeKeyB = 5, kPanelKindKeysPass = 6;
constexpr int32 kClickContainerKeeps = 3;
constexpr int32 kRecordWantsInterior = 0x2, kRecordInsideControl = 0x6;
constexpr int32 kReplyReported = 0x10000;
constexpr uInt32 kRootFlagRedraw = 0x80000;
constexpr int32 kActCtrlOp = 27;
constexpr int32 kKeyEnterFocus = 40, kKeyReset = 43;
constexpr int32 kArrayRedrawBits = 0x50140;
constexpr int32 kMaxDims = 64;
// The kind a property path gives a part 32's frame instead of its category.
constexpr uInt32 kFrameKindPart32 = 0xFFFFFFFFu;
// The clipping mark of a panel heap: drawing is limited to a container's
// interior while one of its elements acts.
constexpr uInt32 kHeapFlagClipping = 0x800000;

int32 gInsideRefNum = 0;

// An object holding the word: its block checked and sized by one read.
bool Has(ObjHeap heap, int32 object, int32 word) {
  int32 usable = 0, cls = 0;
  return object > 0 && OHUsedBlockRead(heap, object, &usable, &cls) &&
         usable >= int32(sizeof(ObjLeadingFields)) && usable >= 4 * (word + 1);
}
int32 WordOr0(ObjHeap heap, int32 object, int32 word) { return Has(heap, object, word) ? ObjWord(heap, object, word) : 0; }
bool Disabled(ObjHeap heap, int32 object) {
  return (Flags(heap, object) & kFlagsDisabled) && !(OwnerMode(heap) & kVIFlags2OwnerMode);
}
void EndAt(TransactionFrame* frame, int32 object) {
  *frame = TransactionFrame{object, kCatDDO, kLevelTarget, 0};
  frame[1].kind = 0;
}
int32 Click(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  return OSendMessage<int32>(kMsgOClick, heap, object, click, frame, p);
}
int32 Doit(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* p) {
  return OSendMessage<int32>(kMsgODoit, heap, object, frame, action, p);
}
bool KeyEvent(const ActionParams* p) { return p->eventCode == 6 || p->eventCode == 7; }
bool PanelLevelAction(int32 action) {
  switch (action) {
    case 21: case 24: case 25: case 26: case 32: case 55: case 60: return true;
    default: return false;
  }
}

// The checked count of an offset list: 0 when it does not fit its block.
// With a memo, the block's check goes through it.
int32 Count(ObjHeap heap, int32 list, OHBlockMemo* memo = nullptr) {
  int32 usable = 0, cls = 0;
  if (list <= 0 ||
      !(memo ? OHUsedBlockReadMemo(memo, heap, list, &usable, &cls) : OHUsedBlockRead(heap, list, &usable, &cls)))
    return 0;
  const int32 n = ObjListCountSized(heap, list, usable);
  // 4 + 4n <= usable, written as the count read's own test so that a count
  // it took from the block skips it.
  return usable >= 4 && n >= 0 && n <= (usable - 4) / 4 ? n : 0;
}
int32 Position(ObjHeap heap, int32 list, int32 item) {
  for (int32 i = 0, n = Count(heap, list); i < n; ++i)
    if (ObjListGet(heap, list, i) == item) return i;
  return -1;
}

bool Selected(ObjHeap heap, int32 object) { return FPIsSelected(heap, object) != 0; }
DataXferRec* DragOf(ActionParams* p) { return reinterpret_cast<DataXferRec*>(&p->eventCode); }
UHandle OwnerVI(ObjHeap heap) {
  const UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? vi : nullptr;
}

// An element's answer 12 completed by its container: an unselected one
// records itself (with the interior's rectangle when asked) unless an inner
// one did; a selected one records itself with the click's modifiers and
// ends the path.
int32 CompleteRecord(ObjHeap heap, int32 container, TransactionState* click, TransactionFrame* frame, ActionParams* p,
                     const Rect& interior, bool flagInsideControl) {
  RecordOwnerWords* rec = RecordOf(p);
  if (!Selected(heap, container)) {
    if (!rec->owner) {
      rec->owner = container;
      if (rec->flags & kRecordWantsInterior) {
        rec->flags |= kRecordHasRect;
        rec->rect = interior;
      }
    }
  } else {
    rec->owner = container;
    rec->flags = click->modifiers | (flagInsideControl && InsideControl() ? kRecordInsideControl : 0);
    p->dragObject = 0;
    EndAt(frame, container);
  }
  return kClickRecordOwner;
}

// A drop test answered 2 inside a selected container becomes 1 when the
// drag comes from the same heap.
int32 SameHeapDrop(ObjHeap heap, int32 container, int32 mode, int32 inner, ActionParams* p) {
  if (mode == kClickDropTest && inner == kClickCursorAnswer && Selected(heap, container) &&
      DragOf(p)->heap == heap)
    return kClickAbsorbed;
  return inner;
}

// The usable size OHBlockSize answers and the class word OHBlockClass
// answers, where their check of the block (inside the block area, of a size
// that fits) passes; false where they would report.  Always inlined: a
// call would cost more than the check.
inline __attribute__((always_inline)) bool BlockRead(ObjHeap heap, int32 offset, int32* usable, int32* cls) {
  if (!heap || !*heap) return false;
  const uInt32 start = OHWord(heap, kOHBlockStart), end = OHWord(heap, kOHEndOffset) + 1;
  if (offset < int32(start + kOHBlockHeader) || uInt32(offset) > end) return false;
  const uInt32 b = uInt32(offset) - kOHBlockHeader, word = OHWord(heap, b), size = word & ~3u;
  if (size < kOHBlockHeader || b + size > end) return false;
  *usable = int32(size - kOHBlockHeader - ((word & 2) ? 2 : 0));
  *cls = int32(OHWord(heap, b + 8));
  return true;
}

// ObjListCountRead's answer for a list (not 0) whose block the check of
// OHBlockSize accepts and whose count fits its usable size: then neither
// of its ways reports anything.  Any other list is counted by it.
int32 ListCountRead(ObjHeap heap, int32 list) {
  int32 usable = 0, cls = 0;
  if (BlockRead(heap, list, &usable, &cls)) {
    const int32 n = int32(OHWord(heap, uInt32(list)));
    if (usable >= 4 && n >= 0 && n <= (usable - 4) / 4) return n;
  }
  return ObjListCountRead(heap, list);
}

// ExtWord(heap, at): a word of the heap's extension, 0 past its end.
inline __attribute__((always_inline)) uInt32 ExtWordRead(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0) return 0;
  int32 usable = 0, cls = 0;
  if (!BlockRead(heap, ext, &usable, &cls)) usable = OHBlockSize(heap, ext);
  return usable >= at + 4 ? GetNative32(*heap + ext + at) : 0;
}

// The rectangle of the object's interior part (FindPart of id 28, order
// 0), else the object's own; cls: the object's class word, as a check of
// its block that BlockRead accepts read it with nothing changed since.
// With memos, the checks of the part list's block and of the part found go
// through them.
inline __attribute__((always_inline)) Rect InteriorRectRead(ObjHeap heap, int32 object, int32 cls,
                                                            OHBlockMemo* listMemo = nullptr,
                                                            OHBlockMemo* partMemo = nullptr) {
  // FindPart's walk with the class read as OHBlockClass reads it; the
  // first part that matches is the one it finds, and the rest of its walk
  // only reads.
  // A part's id and order are compared before its block is checked: a
  // block at an offset of 12 or more that holds the bounds ends inside the
  // heap, 16 bytes or more past the offset, so a part lying nearer the
  // end is no part.
  const uInt32 end = OHWord(heap, kOHEndOffset) + 1;
  const auto matches = [&](int32 at) {
    return ObjInt16(heap, at, kObjPartId) == kPartInterior && ObjInt16(heap, at, kObjPartOrder) == 0;
  };
  // The part's block is read once: its usable size answers both the check
  // of the walk (the bounds) and IsObject's (the leading fields).
  int32 usable = 0, partCls = 0;
  const auto holdsBounds = [&](int32 at) __attribute__((always_inline)) {
    return (partMemo ? OHUsedBlockReadMemo(partMemo, heap, at, &usable, &partCls)
                     : OHUsedBlockRead(heap, at, &usable, &partCls)) &&
           usable >= kObjBounds;
  };
  const int32 list = ObjWord(heap, object, cls == kClsFrontPanel ? kRootObjectListWord : kObjPartList / 4);
  // (ListCountRead answers as ObjListCountRead does.)
  const int32 count = !list ? 0 : listMemo ? ObjListCountRead(heap, list, listMemo) : ListCountRead(heap, list);
  for (int32 i = 0, n = count; i < n; ++i) {
    const int32 at = ObjWord(heap, list, 1 + i);  // ObjListGet
    if (at <= 0) continue;
    const bool found = at >= 12 ? end >= 12 && uInt32(at) <= end - 12 && matches(at) && holdsBounds(at)
                                : holdsBounds(at) && matches(at);
    if (found) return BoundsOf(heap, usable >= int32(sizeof(ObjLeadingFields)) ? at : object);
  }
  return BoundsOf(heap, object);
}
Rect InteriorRect(ObjHeap heap, int32 object) {
  int32 usable = 0, cls = 0;
  if (BlockRead(heap, object, &usable, &cls)) return InteriorRectRead(heap, object, cls);
  const int32 part = FindPart(heap, object, kPartInterior, 0);
  return BoundsOf(heap, IsObject(heap, part) ? part : object);
}

// The saved frames put back with the interior as the hit part; a pop-up
// answer then shows the container's menu.
int32 RestoreInterior(ObjHeap heap, int32 object, TransactionFrame* frame, const TransactionFrame* saved,
                      int32 answer, ActionParams* p) {
  std::memcpy(frame, saved, 3 * sizeof *frame);
  p->partId = kPartInterior;
  p->partOrder = 0;
  if (answer == kClickPopupReady && !(Flags(heap, object) & kOpFlagNoPopup)) {
    p->eventCode = int32(kCatCOSM);
    OPopup(heap, object, p);
  }
  return answer;
}

// The blocks a cluster's do-it checked last on its way to an element: the
// cluster, its list, the element, and the interior part's list and part.  A
// do-it along the same path again reads their answers back while no block's
// layout has changed.
thread_local OHBlockMemo gDoitCluster, gDoitList, gDoitElement, gDoitParts, gDoitInterior;

// An element sent an action with drawing clipped to the container's
// interior and the heap marked as clipping; the mark and clip come back.
// containerCls: the container's class word, as a check of its block that
// BlockRead accepts read it with nothing changed since.
int32 ClippedDoit(ObjHeap heap, int32 container, int32 containerCls, int32 element, TransactionFrame* frame,
                  int32 action, ActionParams* p) {
  if (action != kActTrack && action != kActOperate && action != kActCtrlOp) return Doit(heap, element, frame, action, p);
  const uInt32 before = OHWord(heap, kOHFlags);
  // The mark is a flag of the heap's header: the container's block stays
  // as it was read.
  OHSetWord(heap, kOHFlags, before | kHeapFlagClipping);
  const WindowRef window = WindowRef(ExtWordRead(heap, kHeapExtWindow));
  WPortState port;
  Rect savedClip{};
  if (window) {
    WSetup(window, &port);
    // The port's setup leaves the heap alone: the container's read holds.
    const Rect interior = InteriorRectRead(heap, container, containerCls, &gDoitParts, &gDoitInterior);
    WSetClipRect(&interior, &savedClip);
  }
  const int32 reply = Doit(heap, element, frame, action, p);
  if (window) WRestoreWithClip(&port, &savedClip);
  if (heap && *heap)
    OHSetWord(heap, kOHFlags, (OHWord(heap, kOHFlags) & ~kHeapFlagClipping) | (before & kHeapFlagClipping));
  return reply;
}

// The focus passed on by an element (level 1 or 3 at frame) moves to the
// next element of the container's element list, twice when the first step
// passes it on as well; when no element took it the pass-on stays, for the
// container's owner.
int32 PassFocusAmongElements(ObjHeap heap, int32 container, int32 element, TransactionFrame* frame, int32 action,
                             int32 reply, ActionParams* p) {
  if (action != kActOperate) DBAssert(kSource, __LINE__, "the focus passed on by an action other than 15");
  DlgSendItemChange(heap, element, reply, kActOperate, p);
  const int32 at = Position(heap, WordOr0(heap, container, kWordElements), element);
  if (at < 0 || !OnStack(frame, 4)) return reply;
  frame->mode = kLevelCell;
  frame->index = at;
  int32 next = FPNextKeyFocus(heap, frame, p);
  if (next & kReplyPassFocus) next = FPNextKeyFocus(heap, frame, p);
  reply = (reply & ~kReplyPassFocus) | next;
  // No element took the focus: the owner passes it on.
  if (!ExtWord(heap, kHeapExtKeyFocus)) reply |= kReplyPassFocus;
  return reply;
}

// Sizes of the array's dimensions as its data holds them; the count (0
// without data).
int32 ArraySizes(ObjHeap heap, int32 array, int32* sizes) {
  // A type ID that names no descriptor comes from a damaged panel: reported,
  // and the array counts as holding no data.
  const TypeDescriptor* td = TypeIDGetTD(heap, DDOTypeID(heap, array), 0);
  if (!td) DBPrintf("ArraySizes: the array's type ID names no type descriptor");
  td = td ? SkipTypedefs(td) : nullptr;
  if (!td || td->code != kTDArray) return 0;
  const int32 dims = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  const int32 at = OGetDataPtr(heap, array, 0, kDataPtrOperate, nullptr);
  if (dims <= 0 || dims > kMaxDims || !at) return 0;
  const UHandle h = *reinterpret_cast<UHandle*>(uintptr_t(uInt32(at)));
  if (!h || DSCheckHandle(h) != kNoErr || DSGetHandleSize(h) < 4 * dims) return 0;
  for (int32 d = 0; d < dims; ++d) sizes[d] = int32(GetNative32(*h + 4 * d));
  return dims;
}

}  // namespace

int32 PanelInsideRefNum() { return gInsideRefNum; }

// ---- Clusters ----------------------------------------------------------------------------
int32 ClusterOClickMethod(ObjHeap heap, int32 cluster, TransactionState* click, TransactionFrame* frame,
                          ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, cluster, click, frame, p);
  if (!answer || !IsObject(heap, cluster)) return answer;
  if (Disabled(heap, cluster)) return kClickAbsorbed;
  const int32 mode = click->mode;
  const UHandle vi = OwnerVI(heap);
  const bool keyFed = (Flags(heap, cluster) & kFlagFedKey) && (mode == kClickModeKeyA || mode == kClickModeKeyB) &&
                      !(vi && VIRec(vi)->viKind == kPanelKindKeysPass);
  if (p->partId == kPartInterior && !keyFed) {
    TransactionFrame saved[3];
    std::memcpy(saved, frame, sizeof saved);
    frame->mode = kLevelChild;
    const int32 list = WordOr0(heap, cluster, kWordObjects);
    int32 inner = 0;
    for (int32 i = 0, n = Count(heap, list); i < n && !inner; ++i) {
      const int32 element = ObjListGet(heap, list, i);
      if (!IsObject(heap, element) || element == cluster) continue;
      frame->index = i;
      inner = Click(heap, element, click, frame + 1, p);
    }
    if (inner == kClickRecordOwner)
      inner = CompleteRecord(heap, cluster, click, frame, p, InteriorRect(heap, cluster), false);
    inner = SameHeapDrop(heap, cluster, mode, inner, p);
    if (inner && (inner != kClickAbsorbed || mode != kClickDropTest)) return inner;
    RestoreInterior(heap, cluster, frame, saved, answer, p);
  }
  if (frame->mode == kLevelTarget && answer == kClickPopupReady) {
    if (!InsideControl()) return kClickContainerKeeps;
    p->partId = 0;
    OPopup(heap, cluster, p);
    p->partId = kPartInterior;
  }
  return answer;
}

int32 ClusterODoitMethod(ObjHeap heap, int32 cluster, TransactionFrame* frame, int32 action, ActionParams* p) {
  // IsObject, with the usable size kept for the list word read below (the
  // heap does not change before it).
  int32 usable = 0, cls = 0;
  const auto checked = [&] {
    return cluster > 0 && OHUsedBlockReadMemo(&gDoitCluster, heap, cluster, &usable, &cls) &&
           usable >= int32(sizeof(ObjLeadingFields)) && p && OnStack(frame, 2);
  };
  int32 reply = 0;
  // A frame above the cluster (a child or cell) that names it: the data
  // display level would check the same and answer 0, so it is not asked.
  // Anything else goes through it.
  const bool above = !PanelLevelAction(action) && checked() &&
                     (frame->mode == kLevelChild || frame->mode == kLevelCell) && frame->object == cluster &&
                     (frame->kind == kCatDDO || frame->kind == kFrameKindPart32);
  if (!above) {
    reply = DDOODoitMethod(heap, cluster, frame, action, p);
    if ((reply & kReplyFailed) || PanelLevelAction(action)) return reply;
    if (!checked()) return reply;
  }
  if (frame->mode == kLevelPart) return reply;
  if (frame->mode == kLevelTarget) {
    // Ctrl+Down enters the cluster: its first element takes the focus.
    if (action != kActOperate || !KeyEvent(p) || p->keyCode != kKeyEnterFocus || !OnStack(frame, 4)) return reply;
    const int32 list = WordOr0(heap, cluster, kWordElements);
    const int32 first = Count(heap, list) > 0 ? ObjListGet(heap, list, 0) : 0;
    if (!IsObject(heap, first)) return reply;
    p->keyCode = kKeyTab;
    p->selStart = 0;
    p->selEnd = 0x7FFFFFFF;
    frame[0] = TransactionFrame{cluster, frame->kind, kLevelCell, 0};
    EndAt(frame + 1, first);
    reply = Doit(heap, first, frame + 1, kActOperate, p);
    if (reply & kReplyPassFocus) {
      OInval(heap, cluster, kInvalAll);
      reply = PassFocusAmongElements(heap, cluster, first, frame, kActOperate, reply, p);
      if (reply & kReplyPassFocus) OInval(heap, cluster, kInvalAll);
    }
    return reply;
  }
  if (frame->mode != kLevelChild && frame->mode != kLevelCell) {
    DBAssert(kSource, __LINE__, "a cluster frame of an unknown level");
    return 0;
  }
  const int32 word = frame->mode == kLevelChild ? kWordObjects : kWordElements;
  const int32 list = usable >= 4 * (word + 1) ? ObjWord(heap, cluster, word) : 0;  // WordOr0
  if (frame->index < 0 || frame->index >= Count(heap, list, &gDoitList)) {
    DBAssert(kSource, __LINE__, "a frame index outside the cluster's lists");
    return 0;
  }
  int32 element = ObjWord(heap, list, 1 + frame->index);  // ObjListGet's read, in the counted list
  int32 elementUsable = 0, elementCls = 0;  // IsObject
  if (element <= 0 || !OHUsedBlockReadMemo(&gDoitElement, heap, element, &elementUsable, &elementCls) ||
      elementUsable < int32(sizeof(ObjLeadingFields)) || element == cluster)
    return 0;
  // Only an operate action can be refused.
  if (action == kActOperate && !ContainerActionAllowed(heap, element, action)) return reply;
  // Only reads (and reports) ran since the cluster's block was checked.
  reply = ClippedDoit(heap, cluster, cls, element, frame + 1, action, p);
  if ((reply & kReplyPassFocus) && !(reply & kReplyKeyUsed)) {
    reply = PassFocusAmongElements(heap, cluster, element, frame, action, reply, p);
  } else if (reply & kReplyPassFocus) {
    EndAt(frame, cluster);
    reply = FPFocusObject(heap, cluster, frame, reply);
  }
  // The filter acts on a reply with 8 only.
  if (reply & kFilterDataChecked) reply = DDOCheckReplyRangeData(heap, cluster, &element, reply);
  // ClusterFitFrame, with its check of the cluster written out.
  const auto fitted = [&] {
    const int32 elements = ClusterElementList(heap, cluster);
    return elements && ClusterFitList(heap, cluster, elements, 0);
  };
  if ((reply & kReplyRedraw) && !fitted()) {
    const int32 root = int32(ExtWordRead(heap, kHeapExtRoot));
    // A root word inside the heap that holds the mark already is left as
    // it is: the write would store the same word.
    const bool marked = root > 0 && uInt32(root) + 4 <= OHWord(heap, kOHEndOffset) + 1 &&
                        (Flags(heap, root) & kRootFlagRedraw);
    if (!marked && IsObject(heap, root)) ObjSetWord(heap, root, 0, int32(Flags(heap, root) | kRootFlagRedraw));
    reply = (reply & ~kReplyRedraw) | kReplyReported;
  }
  return reply;
}

// ---- Arrays -------------------------------------------------------------------------------
int32 ArrayOClickMethod(ObjHeap heap, int32 array, TransactionState* click, TransactionFrame* frame,
                        ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, array, click, frame, p);
  if (!answer || !IsObject(heap, array) || OHBlockSize(heap, array) < int32(sizeof(PanelArrayRec))) return answer;
  if (Disabled(heap, array)) return kClickAbsorbed;
  const int32 mode = click->mode;
  const int32 element = ObjWord(heap, array, kPWArrayElement);
  const bool hasElement = IsObject(heap, element) && element != array && ObjWord(heap, element, kPWOwner) == array;
  if (p->partId == kPartInterior && hasElement) {
    const int32 shownBefore = ObjWord(heap, array, kPWArrayShown);
    const Rect before = BoundsOf(heap, element);
    const DataXferRec drag = *DragOf(p);
    const bool moved = ArrayDragScroll(heap, array, click, mode == kClickDropTest ? &drag : nullptr) != 0;
    if (moved && !(mode & 1)) {
      // The cell now under the point shows its value.
      if (const int32 value = OGetDataPtr(heap, array, element, kDataPtrOperate, nullptr))
        oDisplayVal(heap, element, 0, reinterpret_cast<const void*>(uintptr_t(uInt32(value))));
    }
    TransactionFrame saved[3];
    std::memcpy(saved, frame, sizeof saved);
    frame->mode = kLevelCell;
    frame->index = ObjWord(heap, array, kPWArrayShown);
    const int32 outer = PanelInsideArray();
    SetPanelInsideArray(array);
    int32 inner = Click(heap, element, click, frame + 1, p);
    SetPanelInsideArray(outer);
    if (inner == kClickRecordOwner)
      inner = CompleteRecord(heap, array, click, frame, p, BoundsOf(heap, element), true);
    inner = SameHeapDrop(heap, array, mode, inner, p);
    if ((mode & 1) && moved && IsObject(heap, element)) {
      // A cursor query leaves the grid as it found it.
      ObjSetWord(heap, array, kPWArrayShown, shownBefore);
      const Rect now = BoundsOf(heap, element);
      OOffsetObj(heap, element, Point{int16(before.top - now.top), int16(before.left - now.left)});
    }
    if (inner && inner != kClickAbsorbed) return inner;
    RestoreInterior(heap, array, frame, saved, answer, p);
  }
  if (frame->mode == kLevelTarget && answer == kClickPopupReady) {
    if (!hasElement) return kClickContainerKeeps;
    p->partId = PartIdOf(heap, array);
    p->partOrder = ObjInt16(heap, array, kObjPartOrder);
    OPopup(heap, array, p);
  }
  return answer;
}

namespace {
// After the scroll part changed: the visible grid from the interior and the
// element's cell, the shown cell kept inside it, the element moved along.
void RefitGrid(ObjHeap heap, int32 array) {
  const int32 element = ObjWord(heap, array, kPWArrayElement);
  if (!IsObject(heap, element)) return;
  const Rect cell = BoundsOf(heap, element), inside = InteriorRect(heap, array);
  const int32 wide = (Flags(heap, array) & kArrayFlagWideCells) ? 2 : 0;
  const int32 h = cell.bottom - cell.top + wide, w = cell.right - cell.left + wide;
  if (h <= 0 || w <= 0) return;
  const int32 rows = std::clamp((inside.bottom - inside.top) / h, 1, 0x7FFF);
  const int32 cols = std::clamp((inside.right - inside.left) / w, 1, 0x7FFF);
  ObjSetWord(heap, array, kPWArrayGrid, ArrayCell(rows - 1, cols - 1));
  const int32 shown = ObjWord(heap, array, kPWArrayShown);
  const int32 row = int16(uInt32(shown) >> 16), col = int16(shown & 0xFFFF);
  const int32 keptRow = std::clamp(row, 0, rows - 1), keptCol = std::clamp(col, 0, cols - 1);
  ObjSetWord(heap, array, kPWArrayShown, ArrayCell(keptRow, keptCol));
  const int32 dv = (keptRow - row) * h, dh = (keptCol - col) * w;
  if (dv || dh)
    OOffsetObj(heap, element, Point{int16(std::clamp(dv, -32768, 32767)), int16(std::clamp(dh, -32768, 32767))});
}

void InvalInterior(ObjHeap heap, int32 array) {
  const int32 part = FindPart(heap, array, kPartInterior, 0);
  OInval(heap, IsObject(heap, part) ? part : array, kInvalAll);
}
}  // namespace

int32 ArrayODoitMethod(ObjHeap heap, int32 array, TransactionFrame* frame, int32 action, ActionParams* p) {
  int32 saved[kMaxDims] = {}, now[kMaxDims] = {};
  const bool usable = IsObject(heap, array) && OHBlockSize(heap, array) >= int32(sizeof(PanelArrayRec)) && p &&
                      OnStack(frame, 2) && !PanelLevelAction(action);
  if (usable) ArraySizes(heap, array, saved);
  int32 reply = DDOODoitMethod(heap, array, frame, action, p);
  if ((reply & kReplyFailed) || !usable) return reply;
  const bool enter = frame->mode == kLevelTarget && KeyEvent(p) && p->keyCode == kKeyEnterFocus;
  if (action == kActOperate && (enter || (frame->mode == kLevelPart && (reply & kReplyPassFocus))))
    return ArrayFocusNav(heap, array, frame, reply, p, action);
  if (frame->mode == kLevelPart) {
    if (p->partId == kPartArrayIndex && (reply & kReplyChanged)) {
      ArraySizes(heap, array, now);
      reply = ArrayIndexChanged(heap, array, p, reply, saved, now);
    }
    if (p->partId == kPartScroll && (reply & kReplyRedraw)) RefitGrid(heap, array);
    return reply;
  }
  if (frame->mode != kLevelCell) return reply;
  int32 element = ObjWord(heap, array, kPWArrayElement);
  if (!IsObject(heap, element) || element == array) return reply;
  if (!ContainerActionAllowed(heap, element, action)) {
    OInval(heap, element, kInvalValue);
    return reply;
  }
  reply = ArrayEltDoit(heap, array, frame, action, p);
  if ((reply & kReplyPassFocus) && !(reply & kReplyKeyUsed)) {
    if (action == kActOperate) {
      FPReleaseKeyFocus(heap);
      reply = ArrayFocusNav(heap, array, frame, reply, p, action);
    } else {
      DBAssert(kSource, __LINE__, "the focus passed on by an action other than 15");
    }
  } else if (reply & kReplyPassFocus) {
    EndAt(frame, array);
    reply = FPFocusObject(heap, array, frame, reply);
  }
  reply = DDOCheckReplyRangeMark(heap, array, &element, reply);
  if (((reply & kReplyRedraw) && !ArrayFitFrame(heap, array)) || (reply & kArrayRedrawBits)) InvalInterior(heap, array);
  return reply;
}

// ---- Refnums ------------------------------------------------------------------------------
int32 RefNumOClickMethod(ObjHeap heap, int32 refnum, TransactionState* click, TransactionFrame* frame,
                         ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, refnum, click, frame, p);
  if (!answer || !IsObject(heap, refnum)) return answer;
  const int32 mode = click->mode;
  const int32 inner = WordOr0(heap, refnum, kWordElements);
  const bool hasInner = IsObject(heap, inner) && inner != refnum;
  const int32 part = p->partId;
  if ((part == kPartInterior || part == kPartRefNumFrame || part == kPartRefNumButton) &&
      answer != kClickPopupReady && hasInner && !Selected(heap, refnum) && mode != kClickModeKeyA &&
      mode != kClickModeKeyB) {
    TransactionFrame saved[3];
    std::memcpy(saved, frame, sizeof saved);
    frame->mode = kLevelChild;
    frame->index = 0;
    const int32 outer = gInsideRefNum;
    gInsideRefNum = refnum;
    int32 got = Click(heap, inner, click, frame + 1, p);
    gInsideRefNum = outer;
    if (got == kClickTrack || got == kClickOperate) got = kClickAbsorbed;
    if (got == kClickCursorAnswer && (mode & 1)) {
      CursorOf(p)->cursor = kCursorStandard;
      CursorOf(p)->region = 0;
      p->text = nullptr;
    }
    if (got == kClickRecordOwner) got = CompleteRecord(heap, refnum, click, frame, p, InteriorRect(heap, refnum), false);
    if (got) return got;
    std::memcpy(frame, saved, sizeof saved);
  }
  if (frame->mode == kLevelTarget && answer == kClickPopupReady) {
    if (!hasInner) return kClickContainerKeeps;
    p->partId = PartIdOf(heap, refnum);
    p->partOrder = ObjInt16(heap, refnum, kObjPartOrder);
    OPopup(heap, refnum, p);
  }
  return answer;
}

// ---- Type definitions ------------------------------------------------------------------------
int32 TypeDefODoitMethod(ObjHeap heap, int32 typeDef, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (PanelLevelAction(action) || !IsObject(heap, typeDef) || !p || !OnStack(frame, 3)) return 0;
  const bool allowed = ContainerActionAllowed(heap, typeDef, action) != 0;
  const int32 key = p->keyCode;
  const bool focusKey = action == kActOperate && KeyEvent(p) && frame->mode == kLevelTarget &&
                        (key == kKeyTab || key == kKeyShiftTab || key == kKeyReadBack || key == kKeyReset);
  if (focusKey) {
    // The focus keys go to the control inside.
    const int32 list = ObjWord(heap, typeDef, kObjPartList / 4);
    const int32 glyph = FindPart(heap, typeDef, kPartGlyph, 0);
    const int32 at = IsObject(heap, glyph) ? Position(heap, list, glyph) : -1;
    if (!allowed || at < 0) return key == kKeyTab || key == kKeyShiftTab ? kReplyPassFocus : 0;
    frame[0] = TransactionFrame{typeDef, kCatDDO, kLevelPart, at};
    EndAt(frame + 1, glyph);
    return DDOODoitMethod(heap, typeDef, frame, action, p);
  }
  if (!allowed) return 0;
  int32 reply = DDOODoitMethod(heap, typeDef, frame, action, p);
  if (reply & kReplyFailed) return reply;
  if (action == kActPopupChoice && reply == 0) reply = OPopup(heap, typeDef, p);
  if (action == kActOperate && (reply & kActionTracking) && p->partId &&
      FPFocusTextPart(heap, typeDef, frame, p) != kNoErr)
    reply &= ~kActionTracking;
  const int32 glyph = FindPart(heap, typeDef, kPartGlyph, 0);
  if ((reply & kReplyChanged) && IsObject(heap, glyph)) {
    if (RangeCheckedData(heap, typeDef)) CopyRangeFlags(heap, typeDef, glyph);
    if ((Flags(heap, typeDef) & 0x10002) == 0x10002) OInval(heap, glyph, kInvalAll);
  }
  return reply;
}

