#include "panel/replyfilters.h"

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/printf.h"
#include "panel/datageom.h"
#include "panel/fptransfer.h"
#include "panel/objsize.h"
#include "panel/oinval.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/rangecheck.h"

using opmeth::IsObject;

namespace {

constexpr int16 kPartBoolText = 22, kBoolTextKey = 21, kBoolTextKeyNext = 15;
constexpr uInt32 kBoolTextKeyedFlag = 0x10;
constexpr int16 kScaleWholeParts[] = {45, 40, 27};

bool PartIdKnown(int32 partId) { return (partId >= 0 && partId <= 83) || (partId >= 8001 && partId <= 8015); }

void ReportPartId(int32 partId) {
  if (PartIdKnown(partId)) return;
  char line[80];
  SPrintf(line, "bad partID in DDOCheckReply -- partID %ld", long(partId));
  DBPrintf("%s", line);
}

// The Boolean text part keyed to the button: part 22 with key 21, the word
// after it 15 and flag 0x10.
bool KeyedBoolText(ObjHeap heap, int32 object, int32 partId) {
  if (partId != kPartBoolText) return false;
  const int32 part = FindPart(heap, object, kPartBoolText, 0);
  return IsObject(heap, part) && ObjInt16(heap, part, kObjPartKey) == kBoolTextKey &&
         ObjInt16(heap, part, kObjPartKey + 2) == kBoolTextKeyNext && (opmeth::Flags(heap, part) & kBoolTextKeyedFlag);
}

// The object lays itself out again around the changed part, redrawn whole
// before and after when asked.
void Relayout(ObjHeap heap, int32 object, int32 partId, bool whole) {
  if (whole) OInval(heap, object, kInvalAll);
  OSize(heap, object, nullptr, partId);
  if (whole) OInval(heap, object, kInvalAll);
}

}  // namespace

ReplyFlags DDOCheckReply(ObjHeap heap, int32 object, int32, int32 partId, ReplyFlags reply) {
  if (!(reply & kFilterGeometry)) return reply;
  // One header read for the object and its range word (nothing before the
  // word is read changes the heap).
  int32 usable = 0, cls = 0;
  if (object <= 0 || !OHUsedBlockRead(heap, object, &usable, &cls) || usable < int32(sizeof(ObjLeadingFields)))
    return reply;
  return DDOCheckReplyChecked(heap, object, usable, cls, partId, reply);
}

ReplyFlags DDOCheckReplyChecked(ObjHeap heap, int32 object, int32 usable, int32 cls, int32 partId,
                                ReplyFlags reply) {
  if (!(reply & kFilterGeometry)) return reply;
  ReportPartId(partId);
  const bool whole = (partId && ObjHasPartKey(heap, object, partId)) ||
                     (usable >= kRangeWordByte + 2 &&
                      (GetNative16(*heap + object + kRangeWordByte) & kRangeModeMask) == kRangeChecked) ||
                     KeyedBoolText(heap, object, partId);
  if (whole) {
    Relayout(heap, object, partId, whole);
  } else {
    // Only reads and reports ran since the object's block was checked.
    OSizeChecked(heap, object, usable, cls, partId);
  }
  return reply;
}

ReplyFlags ScaleCheckReply(ObjHeap heap, int32 scale, int32, int32 partId, ReplyFlags reply) {
  if (!(reply & kFilterGeometry) || !IsObject(heap, scale)) return reply;
  ReportPartId(partId);
  bool whole = ObjHasPartKey(heap, scale, partId) != 0;
  for (int16 id : kScaleWholeParts) whole = whole || partId == id;
  Relayout(heap, scale, partId, whole);
  return reply;
}

ReplyFlags DDOCheckReplyData(ObjHeap heap, int32 panel, int32 child, ReplyFlags reply) {
  if ((reply & (kFilterDataChanged | kFilterDataChecked)) && IsObject(heap, child) &&
      ObjClass(heap, child) == kClsFPDataController && RangeCheckedData(heap, child))
    reply = RangeCheckReply(heap, panel, child, reply);
  if ((reply & kFilterStaleBounds) && IsObject(heap, panel)) {
    ObjSetWord(heap, panel, 0, int32(opmeth::Flags(heap, panel) | kRootFlagRemark));
    PanelInvalBounds(heap);
  }
  return reply;
}

ReplyFlags DDOCheckReplyRange(ObjHeap heap, int32 controller, int32*, ReplyFlags reply) {
  if (!(reply & kFilterDataChecked) || !IsObject(heap, controller)) return reply;
  FPUpdateTransferSlot(heap, controller);
  if (RangeCheckedData(heap, controller)) {
    const uInt16 word = uInt16(RangeWord(heap, controller) & ~kRangeStateMask);
    SetRangeWord(heap, controller, uInt16(word | ((reply & kReplyOutOfRange) ? kRangeOut : 0)));
  }
  return reply;
}

ReplyFlags DDOCheckReplyRangeData(ObjHeap heap, int32 cluster, int32*, ReplyFlags reply) {
  if (!(reply & kFilterDataChecked) || !RangeCheckedData(heap, cluster)) return reply;
  return RangeCheckDataReply(heap, cluster, nullptr, reply);
}

ReplyFlags DDOCheckReplyRangeMark(ObjHeap heap, int32 array, int32* part, ReplyFlags reply) {
  reply = DDOCheckReplyRangeData(heap, array, part, reply);
  if (IsObject(heap, array) && (opmeth::Flags(heap, array) & kArrayRangeMarkPending)) {
    OInval(heap, array, kInvalAll);
    ObjSetWord(heap, array, 0, int32(opmeth::Flags(heap, array) & ~kArrayRangeMarkPending));
    reply |= kFilterDataChecked;
  }
  return reply;
}

ReplyFlags RefNumCheckReply(ObjHeap heap, int32 refnum, int32*, ReplyFlags reply) {
  if ((reply & kFilterGeometry) && IsObject(heap, refnum)) RefNumFitFrame(heap, refnum);
  return reply;
}
