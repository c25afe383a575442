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
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wsysinfo.h"
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
#include "panel/replyfilters.h"
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
    // A list with a scroll bar opens under its anchor and keeps to its
    // height, scrolling the names it cannot show.
    MSetMenuScrollBar(menu, 1);
    MInvalMenuSize(menu);  // sized again with them when it opens
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

namespace {

// Key codes the list tracking tells apart.
enum : int32 { kKeyEnter = 2, kKeyPageUp = 12, kKeyPageDown = 13, kKeyEndList = 36 };
constexpr int32 kModControl = 0x20;
enum : int32 { kEditMenu = 11, kEditCut = 4, kEditPaste = 6 };
constexpr int32 kButtonsHeld = 0x640;
constexpr int32 kListWaitMs = 100;

Rect GlobalRectOf(ObjHeap heap, int32 object, WindowRef w) {
  Rect r{0, 0, 0, 0};
  if (object) OGetRect(heap, object, &r, 0);
  Point tl{r.top, r.left}, br{r.bottom, r.right};
  WLocalToGlobal(w, &tl);
  WLocalToGlobal(w, &br);
  return Rect{tl.v, tl.h, br.v, br.h};
}
bool In(const Rect& r, Point p) { return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom; }

// The drop-down button's value: the picture a multi-picture part shows.
int32 ButtonValue(ObjHeap heap, int32 button) {
  const int32 cls = ObjClass(heap, button);
  return cls == kClsMultiCosmetic || cls == kClsBigMultiCosmetic ? ObjInt16(heap, button, kObjImageIndex) : 0;
}
void ShowButton(ObjHeap heap, int32 button, bool pressed) {
  if (ButtonValue(heap, button) == (pressed ? 1 : 0)) return;
  const int16 value = pressed ? 1 : 0;
  ODisplayValObj(heap, button, 0, &value);
}

// The open list's tracking: the states of the loop and what it keeps.
struct ListTrack {
  ObjHeap heap;
  int32 label, owner, button;
  MenuHandle menu;
  WindowRef panel;
  Rect labelRect, buttonRect;
  SelListSource* source;
  int32 current = 0;
  bool valid = false, firstClick = true, pressed = false;
  int32 result = 0;
  bool done = false, passOn = true, cancelled = false, turned = false;
  int32 id = 0, item = 0;

  bool InList(Point p) const { return MMenuUnderPoint(p, menu) != nullptr; }
  void End(bool choose) {
    if (choose && valid && current >= 1) {
      id = MGetMenuID(menu);
      item = current;
    }
    done = true;
  }
  // The event goes to the panel's window with the capture released: there
  // the label's do-it completes the text or handles the click.
  void SendToPanel(const WEventRecord& e) {
    WEventRecord copy = e;
    copy.window = panel;
    Point local = WordToPoint(e.globalWhere);
    WGlobalToLocal(panel, &local);
    copy.where = WPackPoint(local);
    WEndTrack();
    WSendEvent(&copy);
    WStartTrack();
  }
  void Retake() {
    labelRect = GlobalRectOf(heap, label, panel);
    buttonRect = GlobalRectOf(heap, button, panel);
  }
  // The list moved to its item by a key: the name becomes the label's text,
  // wholly selected.
  void TakeListItem(int32 item) {
    current = item;
    Str255 text;
    MGetItemText(menu, item, text);
    const int32 reply = SetPartText(heap, label, text + 1, text[0], 0, 0);
    DDOCheckReply(heap, owner, label, kPartSelLabel, reply);
    FPSendKeyToObj(heap, label, 0, 0x7FFFFFFF);
    Rect r{0, 0, 0, 0};
    OGetRect(heap, label, &r, 0);
    WInvalRect(panel, &r);
    WUpdate(panel);
    if (source) source->flags &= ~kSelPending;
    ObjSetWord(heap, label, 0, int32(LabelFlags(heap, label) | kSelLabelTyping));
  }
  // After a key typed into the label the list follows its text.
  void FollowText() {
    uChar text[256];
    const int32 n = LabelTextCopy(heap, label, text, int32(sizeof text));
    const bool exact = source && (source->flags & kSelCaseSensitive);
    int32 best = 0, bestItem = 0;
    for (int32 i = 1; i <= MCountItems(menu); ++i) {
      Str255 name;
      MGetItemText(menu, i, name);
      const int32 m = CommonPrefixLength(name + 1, name[0], text, n, exact);
      if (m > best) {
        best = m;
        bestItem = i;
      }
      if (m == n) break;
    }
    if (bestItem && bestItem != current) {
      const int32 old = current;
      current = bestItem;
      (*menu)->currentItem = bestItem;
      MScrollToItem(menu, bestItem, 0);
      if (WIsWindow((*menu)->window)) {
        Rect r;
        if (old > 0) {
          MLItemRect(menu, old, &r);
          WInvalRect((*menu)->window, &r);
        }
        MLItemRect(menu, bestItem, &r);
        WInvalRect((*menu)->window, &r);
        WUpdate((*menu)->window);
      }
    }
    if ((LabelFlags(heap, label) & kSelLabelAutoSize) && (LabelFlags(heap, label) & kSelLabelTyping)) {
      Retake();
      WUpdate(panel);
    }
  }
  void Key(WEventRecord& e) {
    current = Pin(current, 0, MCountItems(menu));
    const int32 key = e.keyCode, ch = e.character;
    if (key == vkUp || key == vkDown || key == kKeyPageUp || key == kKeyPageDown) {
      WEventRecord copy = e;
      copy.window = (*menu)->window;
      if (WIsWindow(copy.window)) WSendEvent(&copy);
      MenuProcMsg m{};
      m.code = kMenuKeyStep;
      m.window = (*menu)->window;
      m.a2 = current;
      m.a4 = e.modifiers;
      m.a5 = ch;
      m.a6 = uInt32(uInt16(key));
      if ((*menu)->proc) (*menu)->proc(&m, menu);
      const int32 now = (*menu)->currentItem;
      if (now != current && now >= 1) TakeListItem(now);
      return;
    }
    if (key == kKeyEndList) return End(false);
    if (key == vkAscii && ch == 27) {
      result |= kTrackEscape;
      return End(false);
    }
    if ((key == vkAscii && ch == 9) || (e.modifiers & kModControl)) {
      // A Ctrl key the menu bar turns into Edit's cut, copy or paste
      // (menu 11, items 4 to 6) edits the label; others go back to the
      // window's queue and end the list.
      bool edit = false;
      if ((e.modifiers & kModControl) && gHooks.panelMenuBar) {
        Rect barRect;
        if (MenuHandle bar = gHooks.panelMenuBar(heap, &barRect)) {
          WEventRecord copy = e;
          MHandleLMenuEvent(&copy, bar, DEmptyRect(&barRect) ? nullptr : &barRect);
          edit = copy.where == kEditMenu && copy.modifiers >= kEditCut && copy.modifiers <= kEditPaste;
        }
      }
      if (!edit) {
        WPostEvent(&e, 0, kWPostTopLevel);
        result |= kTrackReposted;
        passOn = false;
        return End(false);
      }
    }
    SendToPanel(e);
    if (key == kKeyEnter || (key == vkAscii && ch == 10 && (LabelFlags(heap, label) & kSelLabelLineFeed))) {
      result |= kTrackEnded;
      passOn = false;
      return End(false);
    }
    FollowText();
  }
  // The mouse in the list: the item under it becomes current.
  void InListStep(const WEventRecord& e) {
    const Point p = WordToPoint(e.globalWhere);
    if (firstClick && !InList(p)) return;
    firstClick = false;
    pressed = false;
    ShowButton(heap, button, false);
    const WindowRef w = (*menu)->window;
    Point local = p;
    if (WIsWindow(w)) WGlobalToLocal(w, &local);
    if (e.code == weMouseDown || e.code == wePopupClick) {
      Rect bar;
      MGetMenuScrollBarRect(menu, &bar);
      if (In(bar, local)) {
        MTrackLMenuScrollBar(menu, local, local, e.modifiers);
        return;
      }
    }
    MenuProcMsg m{};
    m.code = kMenuMouseStep;
    m.window = w;
    m.a1 = WPackPoint(local);
    m.a3 = current;
    const int32 answer = (*menu)->proc ? (*menu)->proc(&m, menu) : 0;
    if (answer >= 0 || answer == kMenuHitDownArrow || answer == kMenuHitUpArrow) {
      current = answer;
      valid = answer > 0 && m.a6 != 0;
    }
  }
  // An event in the label goes to the panel; the label keeps the list open
  // by setting the list-event flag again.
  bool InLabelStep(const WEventRecord& e) {
    if (source) {
      if (e.code == weMouseMove || e.code == weMouseIdle) source->flags |= kSelListEvent;
      else source->flags &= ~kSelListEvent;
    }
    SendToPanel(e);
    if (source && (source->flags & kSelListEvent)) return true;
    passOn = false;
    End(false);
    return false;
  }
};

}  // namespace

int32 SelLabelTrack(ObjHeap heap, int32 label, MenuHandle menu, const Rect* anchor, int32* menuId, int32* chosen,
                    int32 startItem) {
  if (menuId) *menuId = 0;
  if (chosen) *chosen = 0;
  if (!heap || !*heap || !menu || !*menu || !anchor) return 0;
  const WindowRef panel = WindowRef(opmeth::ExtWord(heap, kHeapExtWindow));
  if (!WIsWindow(panel)) {
    DBAssert("selabel", 403, "SelLabelTrack: no panel window");
    return 0;
  }
  const int32 owner = OwnerOf(heap, label);
  const int32 button = owner ? FindPart(heap, owner, ctrl::kPartListButton, 0) : 0;
  if (!button) {
    DBAssert("selabel", 412, "SelLabelTrack: no drop-down button");
    return 0;
  }
  ListTrack t{heap, label, owner, button, menu, panel, {}, {}, SelLabelSource(heap, label, owner)};
  t.Retake();
  t.pressed = ButtonValue(heap, button) == 1;
  // The list opens under the anchor on the monitor of the panel's window,
  // scrolled to the start item.
  Point tl{anchor->top, anchor->left}, br{anchor->bottom, anchor->right};
  WLocalToGlobal(panel, &tl);
  WLocalToGlobal(panel, &br);
  const Rect global{tl.v, tl.h, br.v, br.h};
  if (DEmptyRect(&(*menu)->size)) MCalcMenuSize(menu);
  Rect screen, r;
  WGetScreenRect(tl, &screen);
  t.current = Pin(startItem, 0, MCountItems(menu));
  MPlaceMenu(menu, &global, kMPlacePopUp, &screen, &r, t.current);
  (*menu)->anchor = global;
  (*menu)->openChild = nullptr;
  if (!MCreateMenuWindow(menu, &r)) return 0;
  (*menu)->currentItem = t.current;
  if (t.current > 0) MScrollToItem(menu, t.current, 0);
  WEndTrack();
  WStartTrack();
  WEventRecord e{};
  int32 state = 1;
  while (!t.done) {
    switch (state) {
      case 1:
        if (WIsWindow((*menu)->window)) {
          WInvalRect((*menu)->window, &(*menu)->size);
          WUpdate((*menu)->window);
        }
        state = 2;
        break;
      case 2: {
        e = WEventRecord{};
        WGetTrackEvent(&e, kListWaitMs);
        const Point p = WordToPoint(e.globalWhere);
        const bool inList = t.InList(p), inLabel = In(t.labelRect, p), inButton = In(t.buttonRect, p);
        // A press elsewhere closes the list with the highlighted item.
        if (e.code == weMouseDown && !inList && !inLabel && !inButton) {
          e.code = weMouseUp;
          t.turned = true;
          t.valid = true;
          t.firstClick = false;
        }
        switch (e.code) {
          case weMouseDown:
            if (inLabel) {
              state = 5;
            } else if (inButton) {
              t.pressed = true;
              ShowButton(heap, button, true);
              t.firstClick = false;
            } else {
              state = 4;
            }
            break;
          case weMouseUp:
            if (t.firstClick) {
              t.firstClick = false;
              t.pressed = false;
              ShowButton(heap, button, false);
              break;
            }
            if (inButton) t.passOn = false;
            t.End(true);
            break;
          case weMouseMove:
          case weMouseIdle:
            if (e.modifiers & kButtonsHeld) {
              if (t.pressed) ShowButton(heap, button, inButton);
              if (!(t.pressed && !inList)) state = 4;
            } else if (inLabel) {
              state = 5;
            } else {
              WSetCursor(-1);
            }
            break;
          case kWEvTrackOver:
            t.End(false);
            break;
          case weKey:
          case weKeyRepeat:
            t.Key(e);
            break;
          case wePopupClick:
            state = inList ? 4 : 3;
            break;
          case kMenuWheelStep:
            if (WIsWindow((*menu)->window)) {
              WEventRecord copy = e;
              copy.window = (*menu)->window;
              WSendEvent(&copy);
            }
            break;
          default:
            break;
        }
        break;
      }
      case 3:
        t.cancelled = true;
        t.End(false);
        break;
      case 4:
        t.InListStep(e);
        state = 2;
        break;
      case 5:
        state = t.InLabelStep(e) ? 2 : 5;
        break;
      default:
        t.done = true;
        break;
    }
  }
  WEndTrack();
  ShowButton(heap, button, false);
  if (t.passOn && !t.InList(WordToPoint(e.globalWhere))) MRepostClick(&e, t.cancelled, t.turned);
  MCloseMenuWindow(menu, nullptr);
  if (menuId) *menuId = t.id;
  if (chosen) *chosen = t.item;
  return t.result;
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
