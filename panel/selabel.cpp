#include "panel/selabel.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/window/textrec.h"
#include "mgsource/extsupport.h"
#include "mgsource/sorting.h"
#include "mgsource/window/lmenu.h"
#include "panel/datamsg.h"
#include "panel/objload.h"
#include "panel/zktag.h"

namespace {
constexpr int16 kPartSelLabel = 11;
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
