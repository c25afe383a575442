// The do-it method of Booleans: after the data display do-it, the value
// switches by the mechanical action held in three flag bits (at the press,
// while pressed, or at the release) and by keys.
#include <cstring>

#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/rects.h"
#include "panel/datamsg.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"

namespace {

using namespace opmeth;

constexpr int32 kLevelTarget = 2;
constexpr int32 kPartButton = 21, kPartBoolText = 22, kPartShowsTrue = 63, kPartShowsFalse = 64;
constexpr int32 kKeyEnter = 2, kKeyChar = 27, kKeyReadBack = 42;
constexpr int32 kModNoEnterToggle = 0x400;
constexpr uInt32 kDocModBoolText = 0x80000800;




uChar* ValueAt(ObjHeap heap, int32 b, int32 kind) {
  return reinterpret_cast<uChar*>(uintptr_t(uInt32(OGetDataPtr(heap, b, 0, kind, nullptr))));
}

int32 Display(ObjHeap heap, int32 b, const uChar* old, const uChar* now) {
  return OSendMessage<int32>(kMsgODisplayVal, heap, b, old, now);
}

// Writes the value (1 or 0) and shows it: the display's reply and 8, or 16
// without a place to write.
int32 Store(ObjHeap heap, int32 b, bool old, bool value) {
  uChar* at = ValueAt(heap, b, kDataPtrPlain);
  if (!at) return kReplyFailed;
  *at = value ? 1 : 0;
  const uChar before = old ? 1 : 0, now = value ? 1 : 0;
  return Display(heap, b, &before, &now) | kReplyChanged;
}

// Shows the pressed look the tracking state holds.
void ShowPressed(ObjHeap heap, int32 b) {
  const uChar* at = ValueAt(heap, b, kDataPtrOperate);
  const uChar now = at && *at ? 1 : 0;
  Display(heap, b, nullptr, &now);
}

void Track(ObjHeap heap, int32 b) { SetTrackObject(heap, b, nullptr, nullptr, 1); }
void Untrack() { SetTrackObject(nullptr, 0, nullptr, nullptr, 1); }

// Whether the point lies on a visible button face (part 21 or 22).
bool InsideButton(ObjHeap heap, int32 b, Point point) {
  bool inside = false;
  ForEachPart(heap, b, [&](int32 part) {
    const int16 id = ObjInt16(heap, part, kObjPartId);
    if (inside || (id != kPartButton && id != kPartBoolText) || !IsObject(heap, part) ||
        (Flags(heap, part) & kObjFlagHidden))
      return;
    Rect r;
    std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
    inside = DPtInRect(point, &r) != 0;
  });
  return inside;
}


enum class Change { kNone, kToggle, kSetTrue, kSetFalse };

Change KeyChange(uInt32 flags, const ActionParams* p) {
  switch (p->keyCode) {
    case kKeyEnter:
      return p->modifiers & kModNoEnterToggle ? Change::kNone : Change::kToggle;
    case kKeyReadBack:
      return flags & kOpFlagHiddenOrDisabled ? Change::kNone : Change::kToggle;
    case kKeyChar:
      switch (p->character) {
        case 10: case 13: case ' ': return Change::kToggle;
        case '+': case '1': case 'T': case 't': return Change::kSetTrue;
        case '-': case '0': case 'F': case 'f': return Change::kSetFalse;
        default: return Change::kNone;
      }
    default:
      return Change::kNone;  // Tab, Shift+Tab, 43 and the rest
  }
}

int32 KeyRoad(ObjHeap heap, int32 b, const ActionParams* p, int32 reply) {
  const Change change = KeyChange(Flags(heap, b), p);
  if (change == Change::kNone) return reply;
  const uChar* at = ValueAt(heap, b, kDataPtrOperate);
  if (!at) return reply | kReplyFailed;
  const bool value = *at != 0;
  if ((change == Change::kSetTrue && value) || (change == Change::kSetFalse && !value)) return reply;
  return reply | Store(heap, b, value, !value);
}

int32 TrackRoad(ObjHeap heap, int32 b, int32 part, const ActionParams* p, int32 reply) {
  const uChar* at = ValueAt(heap, b, kDataPtrOperate);
  if (!at) return reply | kReplyFailed;
  const bool value = *at != 0;
  const uInt32 flags = Flags(heap, b);
  const int32 sub = p->eventCode;
  const bool ends = sub == kSubRelease || sub == kSubEnd;
  // A half that already shows the value changes nothing.
  if ((part == kPartShowsTrue && value) || (part == kPartShowsFalse && !value)) {
    if (!ValueAt(heap, b, kDataPtrPlain)) return reply | kReplyFailed;
    return reply & ~kReplyTracking;
  }
  if (!(flags & kBoolActAtRelease) && !(flags & kBoolTrackPressed)) {
    if (sub == kSubPress) reply |= Store(heap, b, value, !value);
    return reply & ~kReplyTracking;
  }
  if (!(flags & kBoolActAtRelease)) {
    // Switched at the press; back at the release unless the value is kept,
    // a kept value leaving the Boolean recorded as the tracked one.
    if (sub == kSubPress) reply |= Store(heap, b, value, !value);
    if (!ends) {
      Track(heap, b);
      return reply;
    }
    if (!(flags & kBoolKeepAtRelease)) {
      Untrack();
      reply |= Store(heap, b, value, !value);
    } else {
      Track(heap, b);
    }
    return (reply | kReplyChanged) & ~kReplyTracking;
  }
  // Switched at a release inside the button; until then only pressed.
  Track(heap, b);
  int32 pressed = 0;
  TrackState(0, &pressed, 0);
  switch (sub) {
    case kSubPress:
      TrackState(1, nullptr, 1);
      ShowPressed(heap, b);
      return reply;
    case kSubMove: {
      const int32 inside = InsideButton(heap, b, PointOf(p->localPoint)) ? 1 : 0;
      if (inside != pressed) {
        TrackState(inside, nullptr, 1);
        ShowPressed(heap, b);
      }
      return reply;
    }
    case kSubRelease:
    case kSubEnd:
      if (sub == kSubRelease && pressed) {
        const int32 stored = Store(heap, b, value, !value);
        reply = stored & kReplyFailed ? reply | kReplyFailed : kReplyChanged;
      }
      TrackState(0, nullptr, 1);
      // The button is let go: no longer held for the diagram's latch.
      Untrack();
      ShowPressed(heap, b);
      return reply & ~kReplyTracking;
    default:
      return reply;
  }
}

// A dialog's Boolean takes the key focus once tracking ends: the path
// ends at it.
void FocusAfterTracking(ObjHeap heap, int32 b, TransactionFrame* frame) {
  if (OnStack(frame, 2)) {
    frame->mode = kLevelTarget;
    frame->index = 0;
    frame[1].kind = 0;
  }
  FPKeyFocusUpdate(heap, b, 0, nullptr);
  OInval(heap, b, kInvalAll);
}

bool IsPanelLevelAction(int32 action) {
  switch (action) {
    case 21: case 24: case 25: case 26: case 32: case 55: case 60: return true;
    default: return false;
  }
}

}  // namespace

int32 BooleanODoitMethod(ObjHeap heap, int32 b, TransactionFrame* frame, int32 action, ActionParams* p) {
  // The panel-level actions its root hands every top-level object ask
  // nothing of a Boolean.
  if (IsPanelLevelAction(action)) return 0;
  int32 reply = DDOODoitMethod(heap, b, frame, action, p);
  if (!IsObject(heap, b) || !p || !OnStack(frame, 2) || (reply & (kReplyFailed | kReplyConsumed))) return reply;
  const bool key = p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat;
  if (!(Flags(heap, b) & kObjFlagIndicator) && frame->mode == kLevelTarget && action == kActOperate &&
      !(reply & kReplyPassFocus) && key)
    return KeyRoad(heap, b, p, reply);
  const int32 part = p->partId;
  if (action == kActTrack && (reply & kReplyTracking) &&
      (part == kPartButton || part == kPartBoolText || part == kPartShowsTrue || part == kPartShowsFalse)) {
    reply = TrackRoad(heap, b, part, p, reply);
    if (!(reply & (kReplyTracking | kReplyFailed)) && ExtWord(heap, kHeapExtDialogFilter) &&
        !(OwnerMode(heap) & kVIFlags2OwnerMode))
      FocusAfterTracking(heap, b, frame);
    return reply;
  }
  if ((reply & kReplyCommitted) && part == kPartBoolText) VIDocMod(PanelHeapOwner(heap), nullptr, kDocModBoolText);
  return reply;
}
