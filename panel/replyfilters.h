// The reply filters: before an owner merges the reply of a part it passed a
// message to (a do-it, a selection, a pop-up) into its own, it runs the
// reply through the filter of its class, which does the owner's share of
// the follow-up the reply asks for: laying the object out again and
// redrawing it when a part's geometry changed, re-checking the data range
// when data changed, keeping range states current.  Each filter answers the
// reply (0 for 0), so filters chain.  User-interface thread only.
#pragma once
#include "panel/objects.h"

// The reply word: what a method's work changed, 0 for nothing.
typedef int32 ReplyFlags;
// Reply bits the filters act on.
enum : int32 {
  kFilterDataChanged = 0x2,
  kFilterDataChecked = 0x8,  // data changed: re-check its range, refresh the transfer slot
  kFilterGeometry = 0x80,    // a part's geometry or look changed
  kFilterMoved = 0x400,      // an object moved into or out of an owner
  kFilterStaleBounds = kFilterGeometry | kFilterMoved,
};

// Data display objects: a reply with 0x80 lays the object out again around
// the part (OSize with no rectangle), the whole object redrawn before and
// after when a part is keyed to the part id, the object checks its range,
// or the part is a Boolean text (22) keyed 21/15 with flag 0x10.  A part id
// outside 0-83 and 8001-8015 is reported ("bad partID in DDOCheckReply --
// partID %ld") and the work goes on.
QX_EXTERN_C ReplyFlags DDOCheckReply(ObjHeap heap, int32 object, int32 part, int32 partId, ReplyFlags reply);
// DDOCheckReply past its check of the object: a used block of usable bytes,
// at least an object's leading fields, and class cls.
ReplyFlags DDOCheckReplyChecked(ObjHeap heap, int32 object, int32 usable, int32 cls, int32 partId,
                                ReplyFlags reply);
// Scales: as DDOCheckReply, the whole scale redrawn for parts 45, 40 and 27
// or a keyed part.
QX_EXTERN_C ReplyFlags ScaleCheckReply(ObjHeap heap, int32 scale, int32 part, int32 partId, ReplyFlags reply);
// The front panel: a data controller child that checks its range has the
// panel's summary re-checked on a reply with 2 or 8 (RangeCheckReply); a
// reply with 0x80 or 0x400 marks the root for marking again (0x80000) and
// the panel's bounds stale.
QX_EXTERN_C ReplyFlags DDOCheckReplyData(ObjHeap heap, int32 panel, int32 child, ReplyFlags reply);
// The bits DDOCheckReplyData acts on: a reply with none of them is its own
// answer there.
constexpr int32 kFilterDataBits = kFilterDataChanged | kFilterDataChecked | kFilterStaleBounds;
// Data controllers: on a reply with 8 the control's transfer slot is
// written and, when the controller checks its range, its range state
// becomes 4 for a reply with 0x1000, else 0.
QX_EXTERN_C ReplyFlags DDOCheckReplyRange(ObjHeap heap, int32 controller, int32* part, ReplyFlags reply);
// Clusters: a reply with 8 on a cluster that checks its range goes through
// RangeCheckDataReply.
QX_EXTERN_C ReplyFlags DDOCheckReplyRangeData(ObjHeap heap, int32 cluster, int32* part, ReplyFlags reply);
// Arrays: the cluster's re-check, then a pending range mark (flag 0x10000)
// redraws the array, is cleared and adds 8, even to a zero reply.
QX_EXTERN_C ReplyFlags DDOCheckReplyRangeMark(ObjHeap heap, int32 array, int32* part, ReplyFlags reply);
constexpr uInt32 kArrayRangeMarkPending = 0x10000;
// RefNums: a reply with 0x80 fits the refnum's frame around its inner object.
QX_EXTERN_C ReplyFlags RefNumCheckReply(ObjHeap heap, int32 refnum, int32* part, ReplyFlags reply);
