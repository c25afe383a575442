#include "mgsource/window/menus.h"

#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/extload.h"
#include "mgsource/extsupport.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu_internal.h"
#include "mgsource/printf.h"
#include "mgsource/window/window.h"
#include "platform/qx_sysinfo.h"

MenuColours gMenuColours{};
MenuMetrics gMenuMetrics{0, 0, 0, 0, 0, 2, -1, 0, 0, 0, Rect{}};

namespace {

bool gBrowseOnly = false;
bool gChooseDisabled = false;
constexpr int32 kDefaultCheckWidth = 12;
constexpr int32 kLargestMenuLine = 48;  // fonts from one pixel more are made size 48

bool Valid(MenuHandle menu) {
  if (menu && *menu) return true;
  DBAssert(__FILE__, __LINE__, "no menu");
  return false;
}

int32 LineHeight(int32 font) {
  int32 ascent = 0, descent = 0;
  TGetFontMetrics(font, &ascent, &descent, nullptr);
  return ascent + descent;
}

// The menu font: the system font.
int32 MenuFont() {
  const int32 f = TStandardFont(1);
  return f >= 0 ? f : kAppFont;
}

// Calls the menu's procedure with the block.  The record's window holds
// the block's window during the call and its own value again afterwards.
int32 Send(MenuHandle menu, MenuProcMsg* msg) {
  const MenuProc proc = (*menu)->proc;
  if (!proc) return 0;
  const WindowRef old = (*menu)->window;
  (*menu)->window = msg->window;
  const int32 result = proc(msg, menu);
  if (*menu) (*menu)->window = old;
  return result;
}

MenuProcMsg Message(MenuHandle menu, int32 code) {
  MenuProcMsg m{};
  m.code = code;
  m.window = (*menu)->window;
  return m;
}

int32 SendItemRange(MenuHandle menu, int32 item, int32 code, const char* format) {
  if (!Valid(menu)) return 0;
  const int32 count = (*menu)->itemCount;
  if (item == -1) item = count;
  if (item < 1 || item > count) {
    char text[96];
    SPrintf(text, format, long(item), long(count));
    if (item != 0) DBAssert(__FILE__, __LINE__, text);
    return 0;
  }
  MenuProcMsg m = Message(menu, code);
  m.a2 = item;
  return Send(menu, &m);
}

}  // namespace

// ---- creation and disposal

MgErr MNewMenu(MenuHandle* menu, int32 menuId, ConstPStr title) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  UHandle h = AZNewHClr(MenuItemArea(title));
  if (!h) return kMemFullErr;
  auto m = reinterpret_cast<MenuHandle>(h);
  const int32 font = TModifyFont(MenuFont(), nullptr, 0, 0, 0, 0);
  MenuRecord* r = *m;
  r->enabled = 1;
  r->menuId = menuId;
  r->font = font;
  r->lineHeight = LineHeight(font);
  if (title) std::memcpy(r->title, title, size_t(title[0]) + 1);
  *menu = m;
  return kNoErr;
}

MgErr MNewCustomMenu(MenuHandle* menu, ConstPStr title, int32 menuId, MenuProc proc, uInt32 procData) {
  if (MgErr err = MNewMenu(menu, menuId, title)) return err;
  (**menu)->proc = proc;
  (**menu)->procData = procData;
  return kNoErr;
}

void MDisposeMenu(MenuHandle menu) {
  if (!menu) return;
  lmenu::Forget(menu);
  if (*menu) TDisposeFont((*menu)->font);
  AZDisposeHandle(reinterpret_cast<UHandle>(menu));
}

MgErr MCopyMenu(MenuHandle* menu, int32 newId) {
  if (!menu || !Valid(*menu)) return kArgErr;
  UHandle h = reinterpret_cast<UHandle>(*menu);
  if (MgErr err = AZHandToHand(&h)) {
    *menu = nullptr;
    return err;
  }
  auto m = reinterpret_cast<MenuHandle>(h);
  (*m)->menuId = newId;
  TAddFontReference((*m)->font);  // the copy holds the font as well
  *menu = m;
  return kNoErr;
}

void MSetMenuFont(MenuHandle menu, int32 font) {
  if (!Valid(menu)) return;
  const int32 old = (*menu)->font;
  const int32 fresh = LineHeight(font) > kLargestMenuLine
                          ? TModifyFont(font, nullptr, kLargestMenuLine, 0, 0, kFontMaskSize)
                          : TModifyFont(font, nullptr, 0, 0, 0, 0);
  TDisposeFont(old);
  (*menu)->font = fresh;
  (*menu)->lineHeight = LineHeight(fresh);
}

// ---- accessors

MenuRecord* MGetMenuPtr(MenuHandle menu) { return Valid(menu) ? *menu : nullptr; }
int32 MGetMenuID(MenuHandle menu) { return Valid(menu) ? (*menu)->menuId : 0; }
int32 MCountItems(MenuHandle menu) { return Valid(menu) ? (*menu)->itemCount : 0; }

void MSetMenuMinWidth(MenuHandle menu, int32 width) {
  if (Valid(menu)) (*menu)->minWidth = width;
}

void MSetMenuFixedSize(MenuHandle menu, int32 width, int32 height) {
  if (!Valid(menu)) return;
  (*menu)->fixedWidth = width;
  (*menu)->fixedHeight = height;
}

void MSetMenuScrollBar(MenuHandle menu, Bool32 on) {
  if (Valid(menu)) (*menu)->scrollBar = on;
}

void MGetMenuScrollBarRect(MenuHandle menu, Rect* rect) {
  if (!rect) return;
  *rect = Rect{0, 0, 0, 0};
  if (!Valid(menu) || !(*menu)->scrollBar) return;
  *rect = (*menu)->size;
  rect->left = int16(rect->right - (gMenuMetrics.vBarWidth + 1));
}

void MGetMenuAttrs(MenuHandle menu, uInt32* a1, uInt32* a2, uInt32* a3, uInt32* a4) {
  if (!Valid(menu)) return;
  uInt32* out[4] = {a1, a2, a3, a4};
  for (int32 i = 0; i < 4; ++i)
    if (out[i]) *out[i] = (*menu)->attrs[i];
}

void MSetMenuAttrs(MenuHandle menu, const uInt32* a1, const uInt32* a2, const uInt32* a3, const uInt32* a4) {
  if (!Valid(menu)) return;
  const uInt32* in[4] = {a1, a2, a3, a4};
  for (int32 i = 0; i < 4; ++i)
    if (in[i]) (*menu)->attrs[i] = *in[i];
}

void MGetMenuInfo(MenuHandle menu, MenuSummary* out) {
  if (!out || !Valid(menu)) return;
  const MenuRecord* r = *menu;
  out->menuId = r->menuId;
  out->itemCount = r->itemCount;
  out->enabled = int16(r->enabled);
  std::memcpy(out->title, r->title, size_t(r->title[0]) + 1);
}

uChar* MFirstItemPtr(MenuHandle menu) {
  return Valid(menu) ? reinterpret_cast<uChar*>(*menu) + MenuItemArea((*menu)->title) : nullptr;
}

void MInvalMenuSize(MenuHandle menu) {
  if (Valid(menu)) (*menu)->size = Rect{0, 0, 0, 0};
}

void MCalcMenuSize(MenuHandle menu) {
  if (!Valid(menu)) return;
  MenuProcMsg m = Message(menu, kMenuCalcSize);
  Send(menu, &m);
  MenuRecord* r = *menu;
  if (r->fixedWidth) r->size.right = int16(r->size.left + r->fixedWidth);
  if (r->fixedHeight) r->size.bottom = int16(r->size.top + r->fixedHeight);
}

// ---- item calls

int32 MDeleteAllItems(MenuHandle menu) {
  if (!Valid(menu)) return 0;
  MenuProcMsg m = Message(menu, kMenuDeleteAll);
  return Send(menu, &m);
}

int32 MDisableItem(MenuHandle menu, int32 item) {
  return SendItemRange(menu, item, kMenuDisableItem, "MDisableItem: %ld out of range [1..%ld]");
}

int32 MEnableItem(MenuHandle menu, int32 item) {
  return SendItemRange(menu, item, kMenuEnableItem, "MEnableItem: %ld out of range [1..%ld]");
}

void MCheckItem(MenuHandle menu, int32 item, Bool32 on) {
  if (!Valid(menu) || item == 0) return;
  MenuProcMsg m = Message(menu, kMenuCheckItem);
  m.a2 = item;
  m.a4 = on ? 1 : 0;
  Send(menu, &m);
}

void MSetItemShortcut(MenuHandle menu, int32 item, int32 character, int32 keyCode, uInt32 modifiers) {
  if (!Valid(menu) || item == 0) return;
  MenuProcMsg m = Message(menu, kMenuSetShortcut);
  m.a2 = item;
  m.a4 = int32(modifiers & 0x22);
  m.a5 = character;
  m.a6 = uInt16(keyCode);
  Send(menu, &m);
}

void MDeleteItem(MenuHandle menu, int32 item) {
  if (!Valid(menu)) return;
  if (item < 0 || item > (*menu)->itemCount) {
    DBAssert(__FILE__, __LINE__, "MDeleteItem: item out of range");
    return;
  }
  if (item == 0) return;
  MenuProcMsg m = Message(menu, kMenuDeleteItem);
  m.a2 = item;
  Send(menu, &m);
  if (*menu) MInvalMenuSize(menu);
}

int32 MFindMnemonicItem(MenuHandle menu, int32 character) {
  if (!Valid(menu)) return 0;
  MenuProcMsg m = Message(menu, kMenuFindMnemonic);
  m.a5 = ToUpper(character);
  Send(menu, &m);
  return m.a2;
}

void MGetItemText(MenuHandle menu, int32 item, PStr text) {
  if (!text) return;
  text[0] = 0;
  if (!Valid(menu) || item == 0) return;
  MenuProcMsg m = Message(menu, kMenuGetItem);
  m.a1 = item;
  m.a2 = int32(reinterpret_cast<uintptr_t>(text));
  Send(menu, &m);
}

int32 MGetItemData(MenuHandle menu, int32 item, void* buffer, int32 capacity) {
  if (!Valid(menu)) return 0;
  MenuProcMsg m = Message(menu, kMenuGetItem);
  m.a1 = item;
  m.a3 = capacity;
  m.a4 = int32(reinterpret_cast<uintptr_t>(buffer));
  Send(menu, &m);
  return m.a3 < 0 ? 0 : m.a3 > capacity ? capacity : m.a3;
}

void MGetItemInfo(MenuHandle menu, int32 item, MenuItemInfo* info) {
  if (!info || !Valid(menu)) return;
  std::memset(info, 0, sizeof *info);
  MenuProcMsg m = Message(menu, kMenuGetItem);
  m.a1 = item;
  m.a6 = uInt32(reinterpret_cast<uintptr_t>(info));
  Send(menu, &m);
}

int32 MDisableMenu(MenuHandle menu) {
  if (!Valid(menu)) return 0;
  const int32 was = (*menu)->enabled;
  MenuProcMsg m = Message(menu, kMenuDisable);
  Send(menu, &m);
  return was;
}

void MSetItemKey(MenuHandle menu, int32 item, uInt32 key) {
  if (!Valid(menu) || item == 0) return;
  MenuProcMsg m = Message(menu, kMenuSetItemKey);
  m.a2 = item;
  m.a3 = int32(key);
  Send(menu, &m);
}

int32 MSendMenuEvent(WindowRef window) {
  WEventRecord e{};
  e.code = kMenuEvent;
  e.window = window;
  return WSendEvent(&e);
}

// ---- item texts

int32 MParseItemText(ConstPStr text, PStr shown) {
  if (!shown) return 0;
  shown[0] = 0;
  if (!text) return 0;
  const int32 n = text[0];
  if (n >= 2 && text[1] == '_' && text[2] == '_') {
    shown[0] = uChar(n - 2);
    std::memcpy(shown + 1, text + 3, size_t(n - 2));
    return 0;
  }
  int32 out = 0, mnemonic = 0;
  bool marked = false;
  const auto put = [&](uChar c) {
    if (out < 255) shown[++out] = c;
  };
  for (int32 i = 1; i <= n; ++i) {
    const uChar c = text[i];
    if (!marked && c == '_') {
      marked = true;
      mnemonic = out + 1;
      continue;
    }
    if (!marked && c == '@' && i < n) {
      marked = true;
      put('(');
      mnemonic = out + 1;
      put(text[++i]);
      put(')');
      continue;
    }
    put(c);
  }
  shown[0] = uChar(out);
  return mnemonic <= out ? mnemonic : 0;
}

void MShortcutText(int32 character, int32 keyCode, uInt32 modifiers, PStr text) {
  static const char* const kKeys[] = {"Clear", "Enter", "Break", "Up",  "Down", "Left", "Right", "Ins",  "Del",
                                      "Home",  "End",   "PgUp",  "PgDown", "Help", "F1",  "F2",    "F3",   "F4",
                                      "F5",    "F6",    "F7",    "F8",  "F9",   "F10",  "F11",   "F12"};
  if (!text) return;
  text[0] = 0;
  const auto append = [text](ConstPStr part) {
    const int32 room = 255 - text[0], n = part[0] < room ? part[0] : room;
    std::memcpy(text + 1 + text[0], part + 1, size_t(n));
    text[0] = uChar(text[0] + n);
  };
  const auto appendEntry = [&append](int32 index, const char* fallback) {
    uChar def[256], got[256];
    def[0] = uChar(std::strlen(fallback));
    std::memcpy(def + 1, fallback, def[0]);
    got[0] = 0;
    GetAppIndString(index, got, def);
    append(got);
  };
  if (modifiers & 0x30) appendEntry(61, "Ctrl+");
  if (modifiers & 0x02) appendEntry(63, "Shift+");
  if (modifiers & 0x04) appendEntry(64, "Caps+");
  if (keyCode == 27) {
    const uChar c[2] = {1, uChar(ToUpper(character & 0xFF))};
    append(c);
  } else if (keyCode >= 1 && keyCode <= int32(sizeof kKeys / sizeof kKeys[0])) {
    appendEntry(32 + keyCode, kKeys[keyCode - 1]);
  }
}

// ---- metrics and colours

void MLoadMenuColors() {
  MenuColours& c = gMenuColours;
  c.text = PlatSysColourRgb(kPlatColourMenuText);
  c.background = PlatSysColourRgb(kPlatColourMenu);
  c.scrollTrack = PlatSysColourRgb(kPlatColourScrollBar);
  c.face = c.face2 = PlatSysColourRgb(kPlatColourButtonFace);
  c.frame = PlatSysColourRgb(kPlatColourWindowFrame);
  c.disabledText = PlatSysColourRgb(kPlatColourGreyText);
  c.window = PlatSysColourRgb(kPlatColourWindow);
  c.windowText = PlatSysColourRgb(kPlatColourWindowText);
  c.light = PlatSysColourRgb(kPlatColourButtonHighlight);
  c.shadow = PlatSysColourRgb(kPlatColourButtonShadow);
  c.buttonText = PlatSysColourRgb(kPlatColourButtonText);
  c.selection = PlatSysColourRgb(kPlatColourHighlight);
  c.selectionText = PlatSysColourRgb(kPlatColourHighlightText);
  MLoadSysMetrics();
}

void MLoadSysMetrics() {
  const auto atLeast = [](int32 metric, int32 least) {
    const int32 v = PlatGetSystemMetric(metric);
    return v < least ? least : v;
  };
  MenuMetrics& m = gMenuMetrics;
  m.hBarHeight = atLeast(kPlatMetricHScrollHeight, 8);
  m.vBarWidth = atLeast(kPlatMetricVScrollWidth, 8);
  m.vArrowHeight = atLeast(kPlatMetricVScrollArrow, 6);
  m.hArrowWidth = atLeast(kPlatMetricHScrollArrow, 6);
  m.arrowGlyph = ((m.vArrowHeight < m.hArrowWidth ? m.vArrowHeight : m.hArrowWidth) - 4) / 3;
  m.rowSpacing = 2;
  m.menuFont = MenuFont();
  m.menuLineHeight = LineHeight(m.menuFont);
  const int32 system = TStandardFont(1);
  m.systemLineHeight = LineHeight(system >= 0 ? system : kAppFont);
}

int32 MMenuBarHeight() { return gMenuMetrics.menuLineHeight + 2 * 2 + 2; }

void MSetMenuCheck(int32 image) {
  Rect bounds{0, 0, 0, 0};
  // 0 takes the image away again (the default column, no image drawn).
  if (image) IGetRect(image, &bounds);
  DOffsetRect(&bounds, -bounds.left, -bounds.top);
  gMenuMetrics.checkImage = image;
  gMenuMetrics.checkRect = bounds;
}

int32 MCheckColumnWidth() {
  return gMenuMetrics.checkImage ? RectWidth(&gMenuMetrics.checkRect) : kDefaultCheckWidth;
}

Bool32 MGetBrowseOnly() { return gBrowseOnly ? 1 : 0; }
void MSetBrowseOnly(Bool32 on) { gBrowseOnly = on != 0; }
Bool32 MGetChooseDisabled() { return gChooseDisabled ? 1 : 0; }
void MSetChooseDisabled(Bool32 on) { gChooseDisabled = on != 0; }
