#include "qx_input.h"

#include <cstring>

#include "qx_activate.h"
#include "qx_msgqueue.h"
#include "qx_thread.h"
#include "qx_winsys_internal.h"

using namespace qxwin;

namespace {

constexpr char kShiftedDigits[] = ")!@#$%^&*(";
struct Punct {
  uint32_t vk;
  char plain, shifted;
  uint8_t scan;
};
constexpr Punct kPunct[] = {
    {kPlatVkSemicolon, ';', ':', 0x27}, {kPlatVkEquals, '=', '+', 0x0D},    {kPlatVkComma, ',', '<', 0x33},
    {kPlatVkMinus, '-', '_', 0x0C},     {kPlatVkPeriod, '.', '>', 0x34},    {kPlatVkSlash, '/', '?', 0x35},
    {kPlatVkBackquote, '`', '~', 0x29}, {kPlatVkLBracket, '[', '{', 0x1A},  {kPlatVkBackslash, '\\', '|', 0x2B},
    {kPlatVkRBracket, ']', '}', 0x1B},  {kPlatVkQuote, '\'', '"', 0x28},
};
// Scan codes of the letters A..Z.
constexpr uint8_t kLetterScan[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                     0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
// Keypad 0..9.
constexpr uint8_t kPadScan[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};

struct KeyScan {
  uint32_t vk;
  uint8_t scan;
  bool extended;
};
constexpr KeyScan kKeys[] = {
    {kPlatVkBack, 0x0E, false},   {kPlatVkTab, 0x0F, false},     {kPlatVkReturn, 0x1C, false},
    {kPlatVkEscape, 0x01, false}, {kPlatVkSpace, 0x39, false},   {kPlatVkShift, 0x2A, false},
    {kPlatVkControl, 0x1D, false}, {kPlatVkAlt, 0x38, false},    {kPlatVkCapital, 0x3A, false},
    {kPlatVkPause, 0x45, false},  {kPlatVkClear, 0x4C, false},   {kPlatVkCancel, 0x46, false},
    {kPlatVkPrior, 0x49, true},   {kPlatVkNext, 0x51, true},     {kPlatVkEnd, 0x4F, true},
    {kPlatVkHome, 0x47, true},    {kPlatVkLeft, 0x4B, true},     {kPlatVkUp, 0x48, true},
    {kPlatVkRight, 0x4D, true},   {kPlatVkDown, 0x50, true},     {kPlatVkInsert, 0x52, true},
    {kPlatVkDelete, 0x53, true},  {kPlatVkMultiply, 0x37, false}, {kPlatVkAdd, 0x4E, false},
    {kPlatVkSubtract, 0x4A, false}, {kPlatVkDecimal, 0x53, false}, {kPlatVkDivide, 0x35, true},
};

bool KnownKey(uint32_t vk, uint8_t* scan, bool* extended) {
  *extended = false;
  if (vk >= 'A' && vk <= 'Z') return *scan = kLetterScan[vk - 'A'], true;
  if (vk >= '0' && vk <= '9') return *scan = uint8_t(vk == '0' ? 0x0B : vk - '1' + 2), true;
  if (vk >= kPlatVkNumpad0 && vk <= kPlatVkNumpad0 + 9) return *scan = kPadScan[vk - kPlatVkNumpad0], true;
  if (vk >= kPlatVkF1 && vk <= kPlatVkF12) {
    const uint32_t n = vk - kPlatVkF1;
    *scan = uint8_t(n < 10 ? 0x3B + n : 0x57 + (n - 10));
    return true;
  }
  for (const Punct& p : kPunct)
    if (p.vk == vk) return *scan = p.scan, true;
  for (const KeyScan& k : kKeys)
    if (k.vk == vk) return *scan = k.scan, *extended = k.extended, true;
  return false;
}

bool Down(const Sys& s, uint32_t vk) { return (s.keys[vk & 0xFF] & 0x80) != 0; }

uint32_t ButtonBits(const Sys& s) {
  uint32_t b = 0;
  if (Down(s, kPlatVkLButton)) b |= kPlatMkLButton;
  if (Down(s, kPlatVkRButton)) b |= kPlatMkRButton;
  if (Down(s, kPlatVkMButton)) b |= kPlatMkMButton;
  if (Down(s, kPlatVkShift)) b |= kPlatMkShift;
  if (Down(s, kPlatVkControl)) b |= kPlatMkControl;
  return b;
}

uint32_t ButtonVk(int32_t button) {
  return button == kPlatButtonLeft ? kPlatVkLButton : button == kPlatButtonRight ? kPlatVkRButton : kPlatVkMButton;
}

uint32_t ButtonMsg(int32_t button, bool down) {
  const uint32_t base = button == kPlatButtonLeft    ? kPlatMsgLButtonDown
                        : button == kPlatButtonRight ? kPlatMsgRButtonDown
                                                     : kPlatMsgMButtonDown;
  return down ? base : base + 1;
}

// Under the lock: the shown window under a screen point.
PlatWindow WindowAt(Sys& s, int32_t x, int32_t y) {
  for (PlatWindow id : s.z) {
    Window* r = Find(s, id);
    if (!r || !r->shown || !r->enabled || r->sizeState == kMinimized) continue;
    if (x >= r->frame.left && x < r->frame.right && y >= r->frame.top && y < r->frame.bottom) return id;
  }
  return 0;
}

// The character a key makes with the state given; 0 for none.
uint32_t CharOf(uint32_t vk, bool shift, bool caps, bool ctrl) {
  if (vk >= 'A' && vk <= 'Z') {
    if (ctrl) return vk - 'A' + 1;
    return (shift != caps) ? vk : vk + 0x20;
  }
  if (ctrl) return 0;
  if (vk >= '0' && vk <= '9') return shift ? uint32_t(uint8_t(kShiftedDigits[vk - '0'])) : vk;
  if (vk >= kPlatVkNumpad0 && vk <= kPlatVkNumpad0 + 9) return '0' + (vk - kPlatVkNumpad0);
  for (const Punct& p : kPunct)
    if (p.vk == vk) return uint8_t(shift ? p.shifted : p.plain);
  switch (vk) {
    case kPlatVkSpace: return ' ';
    case kPlatVkReturn: return '\r';
    case kPlatVkTab: return '\t';
    case kPlatVkBack: return 8;
    case kPlatVkEscape: return 27;
    case kPlatVkMultiply: return '*';
    case kPlatVkAdd: return '+';
    case kPlatVkSubtract: return '-';
    case kPlatVkDecimal: return '.';
    case kPlatVkDivide: return '/';
    default: return 0;
  }
}

// Under the lock: the queue that receives input.
Queue* InputQueue(Sys& s) {
  if (!s.uiThread) return nullptr;
  return &QueueOf(s, s.uiThread);
}

bool Push(Input in) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue* q = InputQueue(s);
  if (!q) return false;
  if (in.kind == kInMove) {
    in.window = s.capture ? s.capture : WindowAt(s, in.x, in.y);
    if (!q->input.empty() && q->input.back().kind == kInMove && q->input.back().window == in.window) {
      q->input.back() = in;  // two moves over one window: the later one stands
      Raise(q->thread);
      return true;
    }
  }
  q->input.push_back(in);
  Raise(q->thread);
  return true;
}


}  // namespace

bool PlatInjectMouseMove(int32_t x, int32_t y, uint32_t time) {
  Input in{};
  in.kind = kInMove, in.x = x, in.y = y, in.time = time;
  return Push(in);
}

bool PlatInjectMouseButton(int32_t button, bool down, int32_t x, int32_t y, uint32_t time) {
  if (button < kPlatButtonLeft || button > kPlatButtonMiddle) return false;
  Input in{};
  in.kind = down ? kInDown : kInUp, in.button = button, in.x = x, in.y = y, in.time = time, in.down = down;
  return Push(in);
}

bool PlatInjectMouseWheel(int32_t delta, int32_t x, int32_t y, uint32_t time) {
  Input in{};
  in.kind = kInWheel, in.delta = delta, in.x = x, in.y = y, in.time = time;
  return Push(in);
}

namespace {

bool InjectKey(uint32_t vk, bool down, uint32_t time, bool extended, int32_t text) {
  uint8_t scan;
  bool ext;
  if (vk > 0xFF || !KnownKey(vk, &scan, &ext)) return false;
  Input in{};
  in.kind = kInKey, in.vk = vk, in.down = down, in.time = time, in.count = 1, in.text = text;
  in.extended = ext || (extended && vk == kPlatVkReturn);
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue* q = InputQueue(s);
  if (!q) return false;
  if (down && s.injected[vk]) {
    in.repeat = true;
    in.count = 2;
    Input& last = q->input.empty() ? in : q->input.back();
    if (&last != &in && last.kind == kInKey && last.repeat && last.vk == vk) {
      last.count = last.count >= 0xFFFF ? 0xFFFF : last.count + 1;
      last.time = time;
      Raise(q->thread);
      return true;
    }
  }
  s.injected[vk] = down ? 1 : 0;
  q->input.push_back(in);
  Raise(q->thread);
  return true;
}

}  // namespace

bool PlatInjectKey(uint32_t vk, bool down, uint32_t time, bool extended) {
  return InjectKey(vk, down, time, extended, -1);
}

bool PlatInjectKeyText(uint32_t vk, bool down, uint32_t time, bool extended, uint8_t text) {
  return InjectKey(vk, down, time, extended, text);
}

int16_t PlatGetKeyState(uint32_t vk) {
  if (vk > 0xFF) return 0;
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return int16_t(((s.keys[vk] & 0x80) ? 0x8000 : 0) | (s.keys[vk] & 1));
}

void PlatGetCursorPos(int32_t* x, int32_t* y) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  if (x) *x = s.mouseX;
  if (y) *y = s.mouseY;
}

int32_t PlatVkKeyScan(char c) {
  const uint8_t u = uint8_t(c);
  if (u >= 'A' && u <= 'Z') return int32_t(u) | 0x100;
  if (u >= 'a' && u <= 'z') return int32_t(u - 0x20);
  if (u >= '0' && u <= '9') return int32_t(u);
  for (int i = 0; i < 10; ++i)
    if (kShiftedDigits[i] == c) return ('0' + i) | 0x100;
  for (const Punct& p : kPunct) {
    if (p.plain == c) return int32_t(p.vk);
    if (p.shifted == c) return int32_t(p.vk) | 0x100;
  }
  switch (u) {
    case ' ': return kPlatVkSpace;
    case '\r': return kPlatVkReturn;
    case '\t': return kPlatVkTab;
    case 8: return kPlatVkBack;
    case 27: return kPlatVkEscape;
    default: return -1;
  }
}

PlatWindow PlatSetCapture(PlatWindow w) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  if (w && !Find(s, w)) return 0;
  const PlatWindow old = s.capture;
  s.capture = w;
  return old;
}

bool PlatReleaseCapture() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  s.capture = 0;
  return true;
}

PlatWindow PlatGetCapture() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return Find(s, s.capture) ? s.capture : 0;
}

bool PlatTranslateMessage(const PlatMsg* msg) {
  if (!msg || (msg->message != kPlatMsgKeyDown && msg->message != kPlatMsgSysKeyDown)) return false;
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  const uint32_t vk = uint32_t(msg->wParam) & 0xFF;
  const bool alt = Down(s, kPlatVkAlt);
  const uint32_t c = s.keyText[vk] >= 0 ? uint32_t(s.keyText[vk])
                                         : CharOf(vk, Down(s, kPlatVkShift), (s.keys[kPlatVkCapital] & 1) != 0,
                                                  Down(s, kPlatVkControl) && !alt);
  if (!c) return false;
  Input in{};
  in.kind = kInChar, in.vk = c, in.window = msg->window, in.time = msg->time, in.x = msg->x, in.y = msg->y;
  in.charMsg = msg->message == kPlatMsgSysKeyDown ? kPlatMsgSysChar : kPlatMsgChar;
  in.lParam = msg->lParam;
  Queue& q = QueueOf(s, PlatThreadCurrentId());
  q.input.push_front(in);
  Raise(q.thread);
  return true;
}

namespace qxwin {

bool PreviewInput(Sys& s, const Input& in, PlatMsg* out) {
  *out = PlatMsg{0, 0, 0, 0, in.time, in.x, in.y};
  switch (in.kind) {
    case kInChar:
      *out = PlatMsg{in.window, in.charMsg, in.vk, in.lParam, in.time, in.x, in.y};
      return Find(s, in.window) != nullptr;
    case kInKey: {
      const bool alt = in.down ? (Down(s, kPlatVkAlt) || in.vk == kPlatVkAlt) : Down(s, kPlatVkAlt);
      const bool sys = (alt && !Down(s, kPlatVkControl)) || in.vk == kPlatVkF10;
      out->window = Find(s, s.active) ? s.active : 0;
      out->message = (in.down ? kPlatMsgKeyDown : kPlatMsgKeyUp) + (sys ? 3 : 0);
      out->wParam = in.vk;
      out->x = s.mouseX, out->y = s.mouseY;
      return out->window != 0;
    }
    case kInWheel:
      out->window = Find(s, s.active) ? s.active : 0;
      out->message = kPlatMsgMouseWheel;
      return out->window != 0;
    default: {
      PlatWindow w = Find(s, s.capture) ? s.capture : WindowAt(s, in.x, in.y);
      out->window = w;
      out->message = in.kind == kInMove ? kPlatMsgMouseMove : ButtonMsg(in.button, in.down);
      return w != 0;
    }
  }
}

bool CookInput(const Input& in, PlatMsg* out) {
  Sys& s = TheSys();
  *out = PlatMsg{0, 0, 0, 0, in.time, in.x, in.y};
  if (in.kind == kInChar) {
    std::lock_guard<std::mutex> g(s.lock);
    return PreviewInput(s, in, out);
  }
  if (in.kind == kInKey) {
    std::lock_guard<std::mutex> g(s.lock);
    uint8_t& k = s.keys[in.vk];
    const bool wasDown = (k & 0x80) != 0;
    const bool altBefore = Down(s, kPlatVkAlt);
    if (in.down) {
      if (!wasDown && in.vk == kPlatVkCapital) k ^= 1;
      k |= 0x80;
      s.keyText[in.vk] = int16_t(in.text);
    } else {
      k &= uint8_t(~0x80);
    }
    const bool alt = in.down ? Down(s, kPlatVkAlt) : altBefore;
    const bool sys = (alt && !Down(s, kPlatVkControl)) || in.vk == kPlatVkF10;
    if (in.down && !in.repeat) s.altAlone = in.vk == kPlatVkAlt;
    const PlatWindow w = Find(s, s.active) ? s.active : 0;
    if (!w) return false;
    uint8_t scan;
    bool ext;
    KnownKey(in.vk, &scan, &ext);
    uint32_t lp = uint32_t(in.down ? in.count : 1) & 0xFFFFu;
    lp |= uint32_t(scan) << 16;
    if (in.extended) lp |= 1u << 24;
    if (alt) lp |= 1u << 29;
    if (wasDown || !in.down) lp |= 1u << 30;
    if (!in.down) lp |= 1u << 31;
    *out = PlatMsg{w, (in.down ? kPlatMsgKeyDown : kPlatMsgKeyUp) + (sys ? 3u : 0u), in.vk, PlatLParam(int32_t(lp)),
                   in.time, s.mouseX, s.mouseY};
    return true;
  }
  if (in.kind == kInWheel) {
    std::lock_guard<std::mutex> g(s.lock);
    s.mouseX = in.x, s.mouseY = in.y;
    Window* r = Find(s, s.active);
    if (!r) return false;
    const PlatRect c = ClientOf(*r);
    *out = PlatMsg{s.active, kPlatMsgMouseWheel, PlatWParam((uint32_t(in.delta) << 16) | ButtonBits(s)),
                   PlatMakeLParam(in.x - c.left, in.y - c.top), in.time, in.x, in.y};
    return true;
  }
  // Pointer events.
  PlatWindow target;
  uint32_t message = in.kind == kInMove ? kPlatMsgMouseMove : ButtonMsg(in.button, in.down);
  bool active;
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.mouseX = in.x, s.mouseY = in.y;
    if (in.kind != kInMove) {
      uint8_t& k = s.keys[ButtonVk(in.button)];
      k = in.down ? uint8_t(k | 0x80) : uint8_t(k & ~0x80);
    }
    if (Window* c = Find(s, s.capture)) {
      const PlatRect cl = ClientOf(*c);
      *out = PlatMsg{s.capture, message, ButtonBits(s), PlatMakeLParam(in.x - cl.left, in.y - cl.top), in.time,
                     in.x, in.y};
      return true;
    }
    target = WindowAt(s, in.x, in.y);
    if (!target) return false;
    active = s.appActive && s.active == target;
  }
  const int32_t hit = int32_t(PlatSendMessage(target, kPlatMsgNcHitTest, 0, PlatMakeLParam(in.x, in.y)));
  const bool client = hit == kPlatHtClient;
  if (!client && in.kind == kInDown && in.button == kPlatButtonLeft) message = kPlatMsgNcLButtonDown;
  int32_t ma = kPlatMaActivate;
  if (in.kind == kInDown && !active) {
    ma = int32_t(PlatSendMessage(target, kPlatMsgMouseActivate, PlatWParam(target), PlatMakeLParam(hit, int32_t(message))));
    if (ma == kPlatMaActivate || ma == kPlatMaActivateAndEat) SystemActivate(target, kPlatWaClickActive);
  }
  PlatSendMessage(target, kPlatMsgSetCursor, PlatWParam(target), PlatMakeLParam(hit, int32_t(message)));
  if (in.kind == kInDown && (ma == kPlatMaActivateAndEat || ma == kPlatMaNoActivateAndEat)) return false;
  if (!client && message != kPlatMsgNcLButtonDown) return false;
  std::lock_guard<std::mutex> g(s.lock);
  Window* r = Find(s, target);
  if (!r) return false;
  if (message == kPlatMsgNcLButtonDown) {
    *out = PlatMsg{target, message, PlatWParam(hit), PlatMakeLParam(in.x, in.y), in.time, in.x, in.y};
    return true;
  }
  const PlatRect cl = ClientOf(*r);
  *out = PlatMsg{target, message, ButtonBits(s), PlatMakeLParam(in.x - cl.left, in.y - cl.top), in.time, in.x, in.y};
  return true;
}

}  // namespace qxwin
