// The do-it of tag controls: a string whose list button pops the installed
// tag names; a chosen name becomes the control's text and is stored in its
// data.  Everything else is the string's.
#include <algorithm>
#include <cstring>

#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/objlist.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "panel/methsupport.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/zktag.h"

namespace {

constexpr int16 kTagText = 11, kTagListButton = 79;
constexpr int32 kTagMenuId = 148;
// The button's pressed look while its list is shown.
constexpr uInt32 kPartPressed = 0x10000;
constexpr int32 kPopUpFlags = 5;

bool Usable(ObjHeap heap, int32 object) { return heap && *heap && object > 0 && OHIsUsedBlock(heap, object); }

// The part the frame's index names in the object's part list; 0 when the
// index lies outside it.
int32 FramePart(ObjHeap heap, int32 object, const TransactionFrame* frame) {
  const int32 list = ObjWord(heap, object, kObjPartList / 4);
  if (!Usable(heap, list) || OHBlockSize(heap, list) < 4) return 0;
  const int32 n = ObjListCount(heap, list);
  if (n < 0 || OHBlockSize(heap, list) < 4 + 4 * n || frame->index < 0 || frame->index >= n) return 0;
  const int32 part = ObjListGet(heap, list, frame->index);
  return Usable(heap, part) ? part : 0;
}

bool HasWindow(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= kHeapExtWindow + 4 && GetNative32(*heap + ext + kHeapExtWindow) != 0;
}

void SetPressed(ObjHeap heap, int32 part, bool on) {
  const uInt32 flags = uInt32(ObjWord(heap, part, 0));
  ObjSetWord(heap, part, 0, int32(on ? flags | kPartPressed : flags & ~kPartPressed));
  OInval(heap, part, kInvalAll);
}

// The installed names as a menu under the button; the chosen name's index
// (0-based), or -1 when none was chosen or there is no list.
int32 PopTagList(ObjHeap heap, int32 tag, int32 button) {
  const UHandle list = TagListHandle();
  const int32 n = list ? TagListItem(heap, tag, list, nullptr, nullptr, -1) : 0;
  if (n <= 0) return -1;
  static const uChar kNoTitle[1] = {0};
  MenuHandle menu = nullptr;
  if (MNewLMenu(&menu, kNoTitle, kTagMenuId) != kNoErr) return -1;
  for (int32 i = 0; i < n; ++i) {
    const uChar* text = nullptr;
    int32 attributes = 0;
    const int32 length = std::min(TagListItem(heap, tag, list, &text, &attributes, i), int32(253));
    // Each name after "__", so that no character of it reads as a menu mark.
    uChar item[256] = {uChar(length + 2), '_', '_'};
    if (length > 0 && text) std::memcpy(item + 3, text, size_t(length));
    if (MInsertLItem(menu, item, nullptr, 0, nullptr, 0, -1, 0) != kNoErr) {
      MDisposeMenu(menu);
      return -1;
    }
  }
  Rect r{};
  OGetRect(heap, button, &r, 0);
  int32 id = 0, chosen = 0;
  MPopUpMenuRect(menu, &r, &id, &chosen, kPopUpFlags, 0, 0);
  MDisposeMenu(menu);
  return chosen > 0 && chosen <= n ? chosen - 1 : -1;
}

// A press on the list button: the list is shown with the button pressed,
// the tracking ends, and a chosen name becomes the text, committed.
int32 ChooseTag(ObjHeap heap, int32 tag, int32 button, ActionParams* p) {
  SetPressed(heap, button, true);
  const int32 chosen = PopTagList(heap, tag, button);
  SetPressed(heap, button, false);
  if (chosen < 0) return 0;
  const int32 text = FindPart(heap, tag, kTagText, 0);
  if (!text) return 0;
  const uChar* name = nullptr;
  int32 attributes = 0;
  const int32 length = TagListItem(heap, tag, TagListHandle(), &name, &attributes, chosen);
  // The name is copied: the item provider's buffer is reused by its next call.
  uChar copy[256];
  const int32 kept = std::clamp(length, int32(0), int32(sizeof copy));
  if (kept && name) std::memcpy(copy, name, size_t(kept));
  SetPartText(heap, text, copy, kept, 0, 0);
  p->partId = kTagText;
  p->partOrder = 0;
  return kReplyCommitted;
}

}  // namespace

int32 TagODoitMethod(ObjHeap heap, int32 tag, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (!Usable(heap, tag) || !p || !frame) return StringODoitMethod(heap, tag, frame, action, p);
  if (action == kActOperate) {
    p->selStart = 0;
    p->selEnd = 0x7FFFFFFF;
  }
  const int32 part = frame->mode == 0 ? FramePart(heap, tag, frame) : 0;
  int32 reply;
  if ((action == kActOperate || action == kActTrack) && p->eventCode == kSubPress && part &&
      ObjInt16(heap, part, kObjPartId) == kTagListButton) {
    reply = ChooseTag(heap, tag, part, p);
    if (reply & kReplyCommitted) {
      const int32 text = FindPart(heap, tag, kTagText, 0);
      reply = StringTextToData(heap, tag, text, text ? PartTextRecord(heap, text) : nullptr, reply);
    }
  } else {
    // The string stores a committed text itself.
    reply = StringODoitMethod(heap, tag, frame, action, p);
  }
  // A committed text, now stored (reply 8), is shown at once in a panel window.
  if ((reply & kReplyChanged) && p->partId == kTagText && HasWindow(heap))
    if (const int32 text = FindPart(heap, tag, kTagText, 0)) OInval(heap, text, kInvalAll);
  return reply;
}
