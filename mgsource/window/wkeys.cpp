// The key table, key and character translation, the modifier word, mouse
// points and click counting.
#include <atomic>
#include <cstring>

#include "mgsource/window/mainloop.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_input.h"
#include "platform/qx_sysinfo.h"

namespace {

// Character (byte 0) and key code (byte 1) for each virtual key, the Shift
// half from 256.  Written once at start-up, read after.
uInt8 gKeyTable[512][2];

// The key-handled flag: the key press made the event, so the character
// message that follows it is swallowed.
bool gKeyHandled = false;

Point gGlobalMouse{0, 0};
Point gLastMouse{-32768, -32768};

// Click history: the button of the last click and the two latest clicks,
// newest first.
struct Click {
  uInt32 time;
  Point where;
  bool valid;
};
int32 gLastButton = -1;
Click gClicks[2] = {};

bool Down(uint32_t vk) { return (PlatGetKeyState(vk) & 0x8000) != 0; }

void SetEntry(int32 index, uInt8 character, uInt8 code) {
  if (index < 0 || index >= 512) return;
  gKeyTable[index][0] = character;
  gKeyTable[index][1] = code;
}

void SetBoth(uint32_t vk, uInt8 character, uInt8 code) {
  SetEntry(int32(vk), character, code);
  SetEntry(int32(vk) + 256, character, code);
}

int32 RepeatCount(PlatLParam lParam) { return int32(uInt32(lParam) & 0xFFFFu); }
bool Extended(PlatLParam lParam) { return (uInt32(lParam) >> 24) & 1u; }

bool Near(const Click& a, const Click& b, uInt32 dblTime) {
  if (!a.valid || !b.valid) return false;
  const int32 dv = a.where.v - b.where.v, dh = a.where.h - b.where.h;
  return uInt32(a.time - b.time) <= dblTime && dv >= -2 && dv <= 2 && dh >= -2 && dh <= 2;
}

}  // namespace

void WBuildKeyTable() {
  std::memset(gKeyTable, 0, sizeof gKeyTable);
  // Digits and punctuation: where the US layout types them.
  for (int c = 0x21; c < 0x7F; ++c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) continue;
    const int32 scan = PlatVkKeyScan(char(c));
    if (scan >= 0 && scan < 512) SetEntry(scan, uInt8(c), uInt8(vkAscii));
  }
  struct Named {
    uint32_t vk;
    uInt8 code;
  };
  static const Named kNamed[] = {
      {kPlatVkReturn, vkEnter}, {kPlatVkCancel, vkBreak}, {kPlatVkClear, vkClear}, {kPlatVkInsert, vkInsert},
      {kPlatVkHome, vkHome},    {kPlatVkEnd, vkEnd},      {kPlatVkPrior, vkPageUp}, {kPlatVkNext, vkPageDown},
      {kPlatVkDelete, vkDelete}, {kPlatVkLeft, vkLeft},   {kPlatVkUp, vkUp},       {kPlatVkRight, vkRight},
      {kPlatVkDown, vkDown},
  };
  for (const Named& n : kNamed) SetBoth(n.vk, 0, n.code);
  for (uint32_t i = 0; i < 12; ++i) SetBoth(kPlatVkF1 + i, 0, uInt8(vkF1 + i));
  struct Typed {
    uint32_t vk;
    uInt8 character;
  };
  static const Typed kTyped[] = {
      {kPlatVkTab, 9},       {kPlatVkBack, 8},     {kPlatVkEscape, 27},    {kPlatVkSpace, ' '},
      {kPlatVkMultiply, '*'}, {kPlatVkAdd, '+'},   {kPlatVkSubtract, '-'}, {kPlatVkDecimal, '.'},
      {kPlatVkDivide, '/'},
  };
  for (const Typed& t : kTyped) SetBoth(t.vk, t.character, vkAscii);
  for (uint32_t i = 0; i < 10; ++i) SetBoth(kPlatVkNumpad0 + i, uInt8('0' + i), vkAscii);
}

uInt16 WKeyTableEntry(int32 index) {
  if (index < 0 || index >= 512) return 0;
  return uInt16(gKeyTable[index][0] | (gKeyTable[index][1] << 8));
}

WModifiers WGetModifiers() {
  WModifiers m = 0;
  if (Down(kPlatVkShift)) m |= kWModShift;
  if (PlatGetKeyState(kPlatVkCapital) & 1) m |= kWModCapsLock;
  if (Down(kPlatVkControl)) m |= kWModCtrl;
  if (Down(kPlatVkLButton) || Down(kPlatVkAlt)) m |= kWModLeftOrAlt;
  if (Down(kPlatVkMButton)) m |= kWModMiddle;
  if (Down(kPlatVkRButton)) m |= kWModRight;
  return m;
}

int32 WTranslateKeyDown(PlatLParam lParam, uInt32 virtualKey, WEventRecord* event) {
  if (!event) return 0;
  WModifiers mods = WGetModifiers();
  gKeyHandled = false;
  // Keys from 256 up are none of the layer's: they index nothing.
  if (virtualKey >= 256) return 0;
  const int32 index = int32(virtualKey) + ((mods & kWModShift) ? 256 : 0);
  const uInt8 character = gKeyTable[index][0], code = gKeyTable[index][1];
  const bool ctrl = (mods & kWModCtrl) == kWModCtrl;
  if (code && (ctrl || code != vkAscii)) {
    if (code == vkAscii) mods &= ~kWModShift;
    if (RepeatCount(lParam) != 1) mods |= kWModRepeat;
    if (Extended(lParam)) mods |= kWModExtendedKey;
    event->code = weKey;
    event->modifiers = mods;
    event->character = character;
    event->keyCode = code;
    const uInt32 lp = uInt32(lParam);
    gKeyHandled = !(lp & 0x80000000u) && !(lp & 0x20000000u);
    return gKeyHandled ? 1 : 0;
  }
  if ((virtualKey == kPlatVkShift || virtualKey == kPlatVkControl || virtualKey == kPlatVkAlt ||
       virtualKey == kPlatVkCapital) &&
      RepeatCount(lParam) == 1) {
    event->code = weMouseIdle;
    event->modifiers = mods;
    event->character = 0;
    event->keyCode = 0;
    WFillMousePoint(event->window, event, nullptr);
    return 1;
  }
  return 0;
}

int32 WTranslateChar(PlatLParam lParam, uInt32 character, WEventRecord* event) {
  if (!event) return 0;
  if (gKeyHandled) {
    gKeyHandled = false;
    return 0;
  }
  WModifiers mods = WGetModifiers();
  if (RepeatCount(lParam) != 1) mods |= kWModRepeat;
  event->code = weKey;
  event->modifiers = mods;
  event->keyCode = vkAscii;
  event->character = int32(character & 0xFFu);
  if (event->character == '\r' && Extended(lParam)) {
    event->keyCode = vkEnter;
    event->character = 0;
  }
  if ((event->code == weKey || event->code == weKeyRepeat) && (mods & kWModCtrl) == kWModCtrl &&
      event->keyCode == vkAscii && event->character >= 1 && event->character <= 26)
    event->character |= (mods & kWModShift) ? 0x40 : 0x60;
  return 1;
}

void WSetGlobalMousePoint(Point global) { gGlobalMouse = global; }
Point WGlobalMousePoint() { return gGlobalMouse; }
Point WLastMousePoint() { return gLastMouse; }

void WFillMousePoint(WindowRef window, WEventRecord* event, const Point* clientPoint) {
  if (!event) return;
  if (clientPoint) {
    int32_t x = clientPoint->h, y = clientPoint->v;
    if (const PlatWindow hw = WHostWindow(window)) PlatClientToScreen(hw, &x, &y);
    gGlobalMouse = Point{int16(y), int16(x)};
  }
  event->globalWhere = WPackPoint(gGlobalMouse);
  Point local = gGlobalMouse;
  if (WIsWindow(window)) WGlobalToLocal(window, &local);
  event->where = WPackPoint(local);
  gLastMouse = gGlobalMouse;
}

int32 WClickCount(uInt32 time, Point globalPoint, int32 button) {
  const Click now{time, globalPoint, true};
  int32 result = kWModSingleClick;
  if (button != gLastButton) {
    gLastButton = button;
    gClicks[1] = Click{};
  } else {
    const uInt32 dbl = PlatGetDoubleClickTime();
    if (Near(now, gClicks[0], dbl)) result = Near(gClicks[0], gClicks[1], dbl) ? kWModTripleClick : kWModDoubleClick;
    gClicks[1] = gClicks[0];
  }
  gClicks[0] = now;
  return result;
}
