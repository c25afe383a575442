#include "panel/selabel.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/window/textrec.h"
#include "mgsource/extsupport.h"
#include "mgsource/sorting.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/numconv.h"
#include "mgsource/rects.h"
#include "mgsource/walert.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel/objload.h"
#include "panel/zktag.h"

namespace {
constexpr int16 kPartSelLabel = 11;
// The label's list: its row limit and width (0: as wide as part 9).
constexpr int32 kSelLabelRowLimitWord = 10, kSelLabelListWidthWord = 11;
SelLabelHooks gHooks;
SelItemProc gAccepted[8] = {};

int32 OwnerOf(ObjHeap heap, int32 object) { return ObjWord(heap, object, kObjOwner / 4); }

int32 Names(ObjHeap heap, int32 owner, const SelListSource* s) {
  return s && s->getItem ? std::max(s->getItem(heap, owner, s->context, nullptr, nullptr, -1), int32(0)) : 0;
}
// The label's text, at most capacity bytes: its length.
int32 LabelTextCopy(ObjHeap heap, int32 label, uChar* out, int32 capacity) {
  if (!heap || !*heap || !label || OHBlockSize(heap, label) < kObjText + 4) return 0;
  const TRecord record = TCheckedRecord(uInt32(ObjWord(heap, label, kObjText / 4)));
  const UHandle text = record ? TGetText(record) : nullptr;
  if (!text || !*text) return 0;
  const int32 n = std::clamp(int32(GetNative32(*text)), int32(0), capacity);
  std::memcpy(out, *text + 4, size_t(n));
  return n;
}
}  // namespace

void SetSelLabelHooks(const SelLabelHooks& hooks) { gHooks = hooks; }
void AcceptSelItemProc(SelItemProc proc) {
  for (SelItemProc& p : gAccepted) {
    if (p == proc) return;
    if (!p) {
      p = proc;
      return;
    }
  }
}

SelListSource* SelLabelSource(ObjHeap heap, int32 label, int32 owner) {
  if (!heap || !*heap || !label) return nullptr;
  if (!owner) owner = OwnerOf(heap, label);
  if (!owner) return nullptr;
  auto* s = reinterpret_cast<SelListSource*>(uintptr_t(uInt32(OGetDataPtr(heap, owner, label, 0, nullptr))));
  if (!s) return nullptr;
  if (s->getItem && std::find(std::begin(gAccepted), std::end(gAccepted), s->getItem) == std::end(gAccepted)) {
    DBAssert("selabel", __LINE__, "a name source with a callback the program did not give");
    return nullptr;
  }
  return s;
}

int32 SelLabelItemCount(ObjHeap heap, int32 owner, int32 label) {
  if (owner && !label) label = FindPart(heap, owner, kPartSelLabel, 0);
  if (!heap || !*heap || !owner || !label) {
    DBAssert("selabel", 280, "SelLabelItemCount: no owner or label");
    return 0;
  }
  // A Tag's names are the installed tag list.
  if (ObjClass(heap, owner) != kClsTag) return 0;
  const UHandle list = TagListHandle();
  return list ? TagListItem(heap, owner, list, nullptr, nullptr, -1) : 0;
}

int32 CommonPrefixLength(const uChar* a, int32 aLength, const uChar* b, int32 bLength, Bool32 caseSensitive) {
  if (!a || !b) return 0;
  const int32 n = std::min(aLength, bLength);
  int32 i = 0;
  for (; i < n; ++i) {
    const int32 x = caseSensitive ? a[i] : ToLower(a[i]), y = caseSensitive ? b[i] : ToLower(b[i]);
    if (x != y) break;
  }
  return i;
}

int32 SelLabelBestMatch(ObjHeap heap, int32 label, const uChar* text, int32 length, const uChar** name,
                        int32* nameLength, int32* index) {
  if (name) *name = nullptr;
  if (nameLength) *nameLength = 0;
  if (index) *index = -1;
  const SelListSource* s = SelLabelSource(heap, label, 0);
  if (!s || !s->getItem || !text || length <= 0) return 0;
  const int32 owner = OwnerOf(heap, label);
  const int32 count = Names(heap, owner, s);
  int32 best = 0;
  for (int32 i = 0; i < count; ++i) {
    const uChar* n = nullptr;
    const int32 len = s->getItem(heap, owner, s->context, &n, nullptr, i);
    if (!n || len <= 0) continue;
    const int32 m = CommonPrefixLength(n, len, text, length, (s->flags & kSelCaseSensitive) != 0);
    if (m > best) {
      best = m;
      if (name) *name = n;
      if (nameLength) *nameLength = len;
      if (index) *index = i;
    }
    if (m == length) break;
  }
  return best;
}

int32 SelLabelMatchIndex(ObjHeap heap, int32 label) {
  uChar text[256];
  const int32 n = LabelTextCopy(heap, label, text, int32(sizeof text));
  int32 index = -1;
  SelLabelBestMatch(heap, label, text, n, nullptr, nullptr, &index);
  return std::max(index, int32(0));
}

int32 SelLabelEndEdit(ObjHeap heap, int32 label) {
  if (heap && *heap && label)
    ObjSetWord(heap, label, 0, int32(uInt32(ObjWord(heap, label, 0)) & ~kSelLabelTyping));
  return kReplyEndEdit;
}

MenuHandle BuildSelLabelMenu(ObjHeap heap, int32 owner, SelListSource* source, int32* menuId) {
  if (menuId) *menuId = 0;
  const int32 id = gHooks.newPopupMenuID ? gHooks.newPopupMenuID() : -1;
  if (id <= 0) return nullptr;
  static const uChar kNoTitle[1] = {0};
  MenuHandle menu = nullptr;
  if (MNewLMenu(&menu, kNoTitle, id) != kNoErr || !menu) {
    if (gHooks.releaseMenuID) gHooks.releaseMenuID(id);
    return nullptr;
  }
  MDeleteAllItems(menu);
  const int32 count = Names(heap, owner, source);
  for (int32 i = 0; i < count; ++i) {
    const uChar* text = nullptr;
    int32 symbol = 0;
    const int32 length = std::clamp(source->getItem(heap, owner, source->context, &text, &symbol, i), int32(0),
                                    kSelMaxName);
    // The name after "__", so that no character of it reads as a mnemonic mark.
    uChar item[256] = {uChar(length + 2), '_', '_'};
    if (length && text) std::memcpy(item + 3, text, size_t(length));
    else item[0] = 2;
    PStrTabsToSpaces(item);
    if (MInsertLItem(menu, item, nullptr, 0, nullptr, 0, -1, 0) != kNoErr) break;
    if (gHooks.symbolImage) MSetLItemMark(menu, i + 1, uInt32(gHooks.symbolImage(symbol)));
  }
  if (menuId) *menuId = id;
  return menu;
}

namespace {

constexpr int16 kPartTextFrame = 9;
constexpr int32 kActKeyOrMouse = 15;
constexpr int32 kReplyListChoice = 0x40;
// Result bits of tracking the list.
constexpr int32 kTrackEscape = 1, kTrackReposted = 2, kTrackEnded = 4;

TRecord LabelRecord(ObjHeap heap, int32 label) {
  if (!heap || !*heap || !label || OHBlockSize(heap, label) < kObjText + 4) return nullptr;
  return TCheckedRecord(uInt32(ObjWord(heap, label, kObjText / 4)));
}

uInt32 LabelFlags(ObjHeap heap, int32 label) { return uInt32(ObjWord(heap, label, 0)); }

}  // namespace

int32 SelLabelPopup(ObjHeap heap, int32 label, int32 startIndex, Bool32 commitFirst) {
  if (!heap || !*heap || !label) return 0;
  const int32 owner = OwnerOf(heap, label);
  SelListSource* source = SelLabelSource(heap, label, owner);
  if (commitFirst) FPSendKeyToObj(heap, label, 0, 0x7FFFFFFF);
  const int32 frame = owner ? FindPart(heap, owner, kPartTextFrame, 0) : 0;
  Rect anchor{0, 0, 0, 0};
  if (frame) OGetRect(heap, frame, &anchor, 0);
  int32 id = 0, chosen = 0, menuIdOut = 0, result = 0;
  MenuHandle menu = source ? BuildSelLabelMenu(heap, owner, source, &id) : nullptr;
  if (menu) {
    int32 line = 0;
    if (const TRecord text = LabelRecord(heap, label)) {
      MSetMenuFont(menu, TGetFont(text));
      int32 ascent = 0, descent = 0, leading = 0;
      TGetFontMetrics(TGetFont(text), &ascent, &descent, &leading);
      line = ascent + descent;
    }
    // The label's row limit and list width come from the stored object:
    // pinned so that the height stays a screen coordinate.
    const int32 rows = Pin(ObjWord(heap, label, kSelLabelRowLimitWord), 0, 1024);
    const int32 width = Pin(ObjWord(heap, label, kSelLabelListWidthWord), 0, 32767);
    const int32 height = ((source->flags & kSelNaturalHeight) && rows > Names(heap, owner, source))
                             ? 0
                             : std::min((line + gMenuMetrics.rowSpacing) * rows + 4, int32(32767));
    if (width == 0) MSetMenuMinWidth(menu, anchor.right - anchor.left);
    MSetMenuFixedSize(menu, width, height);
    DOffsetRect(&anchor, -1, 0);
    result = SelLabelTrack(heap, label, menu, &anchor, &menuIdOut, &chosen, startIndex + 1);
    MDisposeMenu(menu);
  }
  if (id > 0 && gHooks.releaseMenuID) gHooks.releaseMenuID(id);
  int32 reply = 0;
  const int32 count = Names(heap, owner, source);
  if (chosen < 1 || chosen > count) {
    if (result & kTrackEscape) reply |= SelLabelEndEdit(heap, label);
    else if (!(result & kTrackEnded)) reply |= kReplyListChoice;
  } else {
    const uChar* name = nullptr;
    const int32 length = std::clamp(source->getItem(heap, owner, source->context, &name, nullptr, chosen - 1),
                                    int32(0), kSelMaxName);
    uChar copy[256];
    if (length && name) std::memcpy(copy, name, size_t(length));
    reply |= SetPartText(heap, label, copy, length, 0, 0) | kReplyListChoice;
    ObjSetWord(heap, label, 0, int32(LabelFlags(heap, label) & ~kSelLabelTyping));
  }
  if (!(result & kTrackReposted)) FPReleaseKeyFocus(heap);
  return reply;
}

int32 SelLabelTrack(ObjHeap heap, int32 label, MenuHandle menu, const Rect* anchor, int32* menuId, int32* chosen,
                    int32 startItem) {
  if (menuId) *menuId = 0;
  if (chosen) *chosen = 0;
  if (!heap || !*heap || !menu || !anchor) return 0;
  if (!opmeth::ExtWord(heap, kHeapExtWindow)) {
    DBAssert("selabel", 403, "SelLabelTrack: no panel window");
    return 0;
  }
  const int32 owner = OwnerOf(heap, label);
  if (!owner || !FindPart(heap, owner, ctrl::kPartListButton, 0)) {
    DBAssert("selabel", 412, "SelLabelTrack: no drop-down button");
    return 0;
  }
  // The menu tracker follows the mouse and the keys; Escape and a press
  // outside end it without a choice.
  int32 id = 0, item = 0;
  MPopUpMenuRect(menu, anchor, &id, &item, 0, Pin(startItem, 0, MCountItems(menu)), 0);
  if (menuId) *menuId = id;
  if (chosen) *chosen = item;
  return 0;
}

int32 SelLabelODoitMethod(ObjHeap heap, int32 label, TransactionFrame* frame, int32 action, ActionParams* block) {
  int32 reply = 0;
  if (frame) reply = LabelODoitMethod(heap, label, frame, action, block);
  if (!heap || !*heap || !label) return reply;
  SelListSource* source = SelLabelSource(heap, label, 0);
  if (!source) return reply;
  const bool event = action == kActKeyOrMouse && block;
  const int32 code = event ? block->eventCode : 0, key = event ? block->keyCode : 0;
  const int32 character = event ? block->character : 0;
  if (event && code == weMouseDown) source->flags |= kSelListEvent;
  const uInt32 flags = LabelFlags(heap, label);
  const bool completes = (flags & kSelLabelTyping) && (source->flags & kSelComplete) &&
                         !(event && key != vkAscii && key != vkCut && key != vkPaste && key != vkDelete);
  if (!completes) {
    const int32 owner = OwnerOf(heap, label);
    if (event && (code == weKey || code == weKeyRepeat) && (key == vkUp || key == vkDown) &&
        (flags & kSelLabelKeys) && Names(heap, owner, source) > 0) {
      reply |= SelLabelPopup(heap, label, SelLabelMatchIndex(heap, label), 0);
    } else if (!(event && key == vkRestore)) {
      source->flags &= ~kSelPending;
    }
    return reply;
  }
  if (event && key == vkAscii && character == 27) return reply | SelLabelEndEdit(heap, label);
  // The typed range, completed from the names.
  uChar text[256];
  const int32 n = LabelTextCopy(heap, label, text, int32(sizeof text));
  const int32 start = event ? Pin(block->selStart, 0, n) : 0;
  const int32 end = event ? Pin(block->selEnd, start, n) : n;
  int32 typed = end - start;
  if (typed == 0) return reply;
  if ((source->flags & kSelPending) && event && key == vkAscii && character == 8) typed = std::max(typed - 1, 0);
  const uChar* name = nullptr;
  int32 nameLength = 0, index = -1;
  const int32 best = SelLabelBestMatch(heap, label, text + start, typed, &name, &nameLength, &index);
  const bool full = typed != 0 && best == typed;
  const bool freeText = (source->flags & kSelFreeText) != 0;
  uChar result[256];
  int32 resultLength = 0;
  if (full || !freeText) {
    if (!full) WBeep();
    resultLength = std::clamp(nameLength, int32(0), kSelMaxName);
    if (resultLength && name) std::memcpy(result, name, size_t(resultLength));
  } else {
    resultLength = typed;
    std::memcpy(result, text + start, size_t(typed));
  }
  if (best == 0 && !freeText) {
    if (resultLength) DBAssert("selabel", 114, "a completion without a name");
    resultLength = 0;
  }
  // The text before the range, the result, the text after it.
  uChar whole[512];
  int32 total = 0;
  std::memcpy(whole, text, size_t(start));
  total = start;
  std::memcpy(whole + total, result, size_t(resultLength));
  total += resultLength;
  std::memcpy(whole + total, text + end, size_t(n - end));
  total += n - end;
  reply |= SetPartText(heap, label, whole, std::min(total, 255), 0, 0);
  source->flags &= ~kSelPending;
  const TRecord record = LabelRecord(heap, label);
  if ((!full && freeText) || best == resultLength) {
    if (resultLength == 0 && record) {
      TSelectText(record, start, start);
      TActivate(record, 1);
    }
  } else if (record) {
    source->flags |= kSelPending;
    TSelectText(record, start + best, start + resultLength);
    TActivate(record, 1);
  }
  const WindowRef window = WindowRef(opmeth::ExtWord(heap, kHeapExtWindow));
  if (record && WIsWindow(window)) {
    WPortState saved{};
    WSetup(window, &saved);
    TDraw(reinterpret_cast<UHandle>(record));
    WRestore(&saved);
  }
  return reply;
}
