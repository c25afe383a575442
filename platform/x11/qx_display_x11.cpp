#include "qx_display_x11.h"

#include <X11/XKBlib.h>
#include <X11/cursorfont.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/qx_activate.h"
#include "platform/qx_alert.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_codepage.h"
#include "platform/qx_cursor.h"
#include "platform/qx_display.h"
#include "platform/qx_input.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_png.h"
#include "platform/qx_thread.h"
#include "platform/qx_time.h"
#include "platform/qx_winsys_internal.h"
#include "platform/x11/qx_x11_internal.h"

using qxwin::ClientOf;
using qxwin::Find;
using qxwin::kMinimized;
using qxwin::Pixels;
using qxwin::Sys;
using qxwin::SystemActivate;
using qxwin::TheSys;

namespace qxx11 {

std::string Cp1252ToUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (unsigned char c : in) {
    const uint32_t u = PlatCp1252ToUnicode(c);
    if (u < 0x80) {
      out += char(u);
    } else if (u < 0x800) {
      out += char(0xC0 | (u >> 6));
      out += char(0x80 | (u & 0x3F));
    } else {
      out += char(0xE0 | (u >> 12));
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToCp1252(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = uint8_t(in[i]);
    uint32_t u;
    size_t n;
    if (c < 0x80) u = c, n = 1;
    else if ((c & 0xE0) == 0xC0) u = c & 0x1F, n = 2;
    else if ((c & 0xF0) == 0xE0) u = c & 0x0F, n = 3;
    else if ((c & 0xF8) == 0xF0) u = c & 0x07, n = 4;
    else u = 0xFFFFFFFF, n = 1;
    if (i + n > in.size()) n = in.size() - i, u = 0xFFFFFFFF;
    for (size_t k = 1; k < n && u != 0xFFFFFFFF; ++k) {
      const unsigned char d = uint8_t(in[i + k]);
      if ((d & 0xC0) != 0x80) {
        u = 0xFFFFFFFF;
        n = k;
        break;
      }
      u = (u << 6) | (d & 0x3F);
    }
    i += n;
    const int32_t b = u == 0xFFFFFFFF ? -1 : PlatUnicodeToCp1252(u);
    out += b < 0 ? '?' : char(b);
  }
  return out;
}

std::string CrLfToLf(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i)
    if (!(in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n')) out += in[i];
  return out;
}

std::string LfToCrLf(const std::string& in) {
  std::string out;
  out.reserve(in.size() + in.size() / 8);
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out += '\r';
    out += in[i];
  }
  return out;
}

bool CursorPlanes(uint32_t cursor, std::vector<uint8_t>* source, std::vector<uint8_t>* mask) {
  if (!PlatCursorIsValid(cursor)) return false;
  source->assign(size_t(kPlatCursorPlaneBytes), 0);
  mask->assign(size_t(kPlatCursorPlaneBytes), 0);
  for (int32_t y = 0; y < kPlatCursorSize; ++y)
    for (int32_t x = 0; x < kPlatCursorSize; ++x) {
      // Over black and over white the four kinds differ.
      const uint32_t onBlack = PlatCursorPixel(cursor, x, y, 0) & 0xFFFFFF;
      const uint32_t onWhite = PlatCursorPixel(cursor, x, y, 0xFFFFFF) & 0xFFFFFF;
      const bool transparent = onBlack == 0 && onWhite == 0xFFFFFF;
      const bool white = onBlack == 0xFFFFFF && onWhite == 0xFFFFFF;
      const size_t byte = size_t(y * 4 + x / 8);
      const uint8_t bit = uint8_t(1u << (x % 8));
      if (!transparent) (*mask)[byte] |= bit;
      if (!transparent && !white) (*source)[byte] |= bit;
    }
  return true;
}

uint32_t VkOfKeysym(unsigned long ks, bool* extended) {
  *extended = false;
  if (ks >= XK_a && ks <= XK_z) return uint32_t(ks - XK_a + 'A');
  if (ks >= XK_A && ks <= XK_Z) return uint32_t(ks);
  if (ks >= XK_0 && ks <= XK_9) return uint32_t(ks);
  if (ks >= XK_KP_0 && ks <= XK_KP_9) return kPlatVkNumpad0 + uint32_t(ks - XK_KP_0);
  if (ks >= XK_F1 && ks <= XK_F12) return kPlatVkF1 + uint32_t(ks - XK_F1);
  struct Map {
    unsigned long ks;
    uint32_t vk;
    bool ext;
  };
  static const Map kMap[] = {
      {XK_BackSpace, kPlatVkBack, false},   {XK_Tab, kPlatVkTab, false},
      {XK_ISO_Left_Tab, kPlatVkTab, false}, {XK_Return, kPlatVkReturn, false},
      {XK_KP_Enter, kPlatVkReturn, true},   {XK_Escape, kPlatVkEscape, false},
      {XK_space, kPlatVkSpace, false},      {XK_Shift_L, kPlatVkShift, false},
      {XK_Shift_R, kPlatVkShift, false},    {XK_Control_L, kPlatVkControl, false},
      {XK_Control_R, kPlatVkControl, false}, {XK_Alt_L, kPlatVkAlt, false},
      {XK_Alt_R, kPlatVkAlt, false},        {XK_Meta_L, kPlatVkAlt, false},
      {XK_Caps_Lock, kPlatVkCapital, false}, {XK_Pause, kPlatVkPause, false},
      {XK_Break, kPlatVkCancel, false},     {XK_Clear, kPlatVkClear, false},
      {XK_KP_Begin, kPlatVkClear, false},   {XK_Prior, kPlatVkPrior, true},
      {XK_Next, kPlatVkNext, true},         {XK_End, kPlatVkEnd, true},
      {XK_Home, kPlatVkHome, true},         {XK_Left, kPlatVkLeft, true},
      {XK_Up, kPlatVkUp, true},             {XK_Right, kPlatVkRight, true},
      {XK_Down, kPlatVkDown, true},         {XK_Insert, kPlatVkInsert, true},
      {XK_Delete, kPlatVkDelete, true},     {XK_KP_Prior, kPlatVkPrior, false},
      {XK_KP_Next, kPlatVkNext, false},     {XK_KP_End, kPlatVkEnd, false},
      {XK_KP_Home, kPlatVkHome, false},     {XK_KP_Left, kPlatVkLeft, false},
      {XK_KP_Up, kPlatVkUp, false},         {XK_KP_Right, kPlatVkRight, false},
      {XK_KP_Down, kPlatVkDown, false},     {XK_KP_Insert, kPlatVkInsert, false},
      {XK_KP_Delete, kPlatVkDelete, false}, {XK_KP_Multiply, kPlatVkMultiply, false},
      {XK_KP_Add, kPlatVkAdd, false},       {XK_KP_Subtract, kPlatVkSubtract, false},
      {XK_KP_Decimal, kPlatVkDecimal, false}, {XK_KP_Divide, kPlatVkDivide, true},
      {XK_semicolon, kPlatVkSemicolon, false}, {XK_equal, kPlatVkEquals, false},
      {XK_comma, kPlatVkComma, false},      {XK_minus, kPlatVkMinus, false},
      {XK_period, kPlatVkPeriod, false},    {XK_slash, kPlatVkSlash, false},
      {XK_grave, kPlatVkBackquote, false},  {XK_bracketleft, kPlatVkLBracket, false},
      {XK_backslash, kPlatVkBackslash, false}, {XK_bracketright, kPlatVkRBracket, false},
      {XK_apostrophe, kPlatVkQuote, false},
  };
  for (const Map& m : kMap)
    if (m.ks == ks) return *extended = m.ext, m.vk;
  return 0;
}

int32_t CharOfLatin1(const char* buf, int n) {
  if (n != 1) return 0;
  const uint8_t c = uint8_t(buf[0]);
  // Latin-1 and code page 1252 agree outside 0x80..0x9F, which Latin-1
  // holds only control characters in.
  if (c >= 0x80 && c < 0xA0) return 0;
  return c;
}

Masks MasksOf(unsigned long red, unsigned long green, unsigned long blue) {
  auto one = [](unsigned long m, int* shift, int* bits) {
    *shift = m ? __builtin_ctzl(m) : 0;
    *bits = __builtin_popcountl(m);
  };
  Masks k;
  one(red, &k.rShift, &k.rBits);
  one(green, &k.gShift, &k.gBits);
  one(blue, &k.bShift, &k.bBits);
  k.direct = red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
  return k;
}

uint32_t ConvertPixel(const Masks& k, uint32_t argb) {
  if (k.direct) return argb & 0xFFFFFF;
  auto part = [](uint32_t v8, int shift, int bits) -> uint32_t {
    if (bits <= 0) return 0;
    const uint32_t v = bits >= 8 ? v8 << (bits - 8) : v8 >> (8 - bits);
    return v << shift;
  };
  return part((argb >> 16) & 0xFF, k.rShift, k.rBits) | part((argb >> 8) & 0xFF, k.gShift, k.gBits) |
         part(argb & 0xFF, k.bShift, k.bBits);
}

std::vector<Band> ChangedBands(const uint32_t* now, uint32_t* shown, int32_t width, int32_t height) {
  std::vector<Band> bands;
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* a = now + size_t(y) * size_t(width);
    uint32_t* b = shown + size_t(y) * size_t(width);
    if (std::memcmp(a, b, size_t(width) * 4) == 0) continue;
    int32_t l = 0, r = width;
    while (a[l] == b[l]) ++l;
    while (a[r - 1] == b[r - 1]) --r;
    std::memcpy(b + l, a + l, size_t(r - l) * 4);
    if (!bands.empty() && bands.back().bottom == y) {
      Band& k = bands.back();
      k.left = std::min(k.left, l), k.right = std::max(k.right, r), k.bottom = y + 1;
    } else {
      bands.push_back(Band{l, y, r, y + 1});
    }
  }
  return bands;
}

}  // namespace qxx11

using namespace qxx11;

namespace {

// What the server shows of one window record.
struct XWin {
  Window xid = 0;
  PlatRect client{0, 0, 0, 0};  // screen
  bool mapped = false;
  int32_t ourUnmaps = 0, ourMaps = 0;  // our own requests whose notices are due
  bool iconic = false;                 // unmapped by the window manager
  bool maximized = false;              // as _NET_WM_STATE last said
  bool closeEnabled = true;
  std::string title;
  uint32_t style = 0, exStyle = 0;
  PlatWindow owner = 0;
  // The pixels last sent, client size.
  std::vector<uint32_t> shown;
  int32_t width = 0, height = 0;
};

// A window record as read under the window system's lock.
struct Record {
  PlatWindow id;
  PlatRect client;
  bool visible;
  std::string title;
  uint32_t style, exStyle;
  PlatWindow owner;
  std::shared_ptr<Pixels> pixels;
  bool minimized;
  bool maximized;
  bool closeEnabled;
  bool menu;  // its class saves the bits under it: a menu window
};

class X11Display;
X11Display* gX11 = nullptr;

int OnXError(Display* dpy, XErrorEvent* e) {
  char text[128];
  XGetErrorText(dpy, e->error_code, text, sizeof text);
  std::fprintf(stderr, "quenlix: X protocol error ignored: %s (request %d, resource 0x%lx)\n", text,
               int(e->request_code), e->resourceid);
  return 0;
}

class X11Display : public PlatDisplayBackend {
 public:
  const char* Name() const override { return "x11"; }
  int32_t Width() const override { return dpy_ ? DisplayWidth(dpy_, screen_) : 0; }
  int32_t Height() const override { return dpy_ ? DisplayHeight(dpy_, screen_) : 0; }
  uint32_t DesktopColour() const override { return 0x808080; }

  bool Compose(PlatSurface* out) override {
    // With the server gone the windows are still composed, as headless.
    if (lost_.load()) return PlatComposeHeadless(out);
    if (!dpy_ || !out) return false;
    const int32_t w = Width(), h = Height();
    if (!PlatSurfaceResize(out, w, h)) return false;
    XImage* img = XGetImage(dpy_, root_, 0, 0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    if (!img) return false;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const unsigned long p = XGetPixel(img, x, y);
        const uint32_t rgb = uint32_t(Channel(p, masks_.rShift, masks_.rBits)) << 16 |
                             uint32_t(Channel(p, masks_.gShift, masks_.gBits)) << 8 |
                             uint32_t(Channel(p, masks_.bShift, masks_.bBits));
        PlatSurfaceSetPixel(out, x, y, rgb);
      }
    XDestroyImage(img);
    return true;
  }

  bool Open() override {
    XInitThreads();
    dpy_ = XOpenDisplay(nullptr);
    if (!dpy_) return false;
    screen_ = DefaultScreen(dpy_);
    root_ = RootWindow(dpy_, screen_);
    visual_ = DefaultVisual(dpy_, screen_);
    depth_ = DefaultDepth(dpy_, screen_);
    if (visual_->c_class != TrueColor || depth_ < 24) {
      std::fprintf(stderr, "quenlix: the X screen has no 24-bit true-colour visual\n");
      XCloseDisplay(dpy_);
      dpy_ = nullptr;
      return false;
    }
    masks_ = MasksOf(visual_->red_mask, visual_->green_mask, visual_->blue_mask);
    XSetErrorHandler(OnXError);
    // A lost connection is reported and then handled by OnLost instead of
    // ending the process.
    XSetIOErrorHandler([](Display*) { return 0; });
    XSetIOErrorExitHandler(dpy_, &X11Display::OnLost, this);
    Bool supported = False;
    detectableRepeat_ = XkbSetDetectableAutoRepeat(dpy_, True, &supported) && supported;
    for (size_t i = 0; i < kAtomCount; ++i) atoms_[i] = XInternAtom(dpy_, kAtomNames[i], False);
    ReadWorkArea();
    gX11 = this;
    thread_ = PlatThreadCurrentId();
    // The selection is owned and read through a window of its own.
    XSetWindowAttributes sa;
    std::memset(&sa, 0, sizeof sa);
    sa.event_mask = PropertyChangeMask;
    selWin_ = XCreateWindow(dpy_, root_, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask, &sa);
    lastOwner_ = XGetSelectionOwner(dpy_, atoms_[kClipboard]);
    static const PlatClipboardHost kHost{&X11Display::Taken, &X11Display::Foreign, &X11Display::HasText,
                                         &X11Display::ReadText};
    PlatClipboardSetHost(&kHost);
    // Scripted answers (QX_ALERT_ANSWERS) keep answering alerts.
    if (!std::getenv("QX_ALERT_ANSWERS")) PlatSetAlertProc(ShowAlert);
    PlatSetBeepProc(&X11Display::Beep);
    PlatThreadSetWaitSource(ConnectionNumber(dpy_), &X11Display::PumpHook);
    return true;
  }

  Display* Connection() { return lost_.load() ? nullptr : dpy_; }

  Window WindowOf(PlatWindow w) {
    auto it = wins_.find(w);
    return it == wins_.end() ? 0 : it->second.xid;
  }

  bool SyncNow() {
    if (!dpy_ || lost_.load()) return false;
    Pump();
    XSync(dpy_, False);
    Pump();
    return true;
  }

  static void Beep() {
    if (Display* d = gX11 ? gX11->Connection() : nullptr) {
      XBell(d, 0);
      XFlush(d);
    }
  }

  static void PumpHook(bool read) {
    if (gX11) gX11->Pump(read);
  }

  // Reads what the server sent, then brings the server's windows in line with
  // the records and presents what was drawn.
  void Pump(bool read = true) {
    if (!dpy_ || lost_.load() || pumping_) return;
    // The connection is served by the thread that opened it.
    if (PlatThreadCurrentId() != thread_) return;
    pumping_ = true;
    if (read) ReadEvents();
    pumping_ = false;
    RunPending();
    // Procedures the pending changes ran may have pumped already.
    if (pumping_ || lost_.load()) return;
    pumping_ = true;
    Mirror();
    if (!lost_.load()) XFlush(dpy_);
    pumping_ = false;
  }

  // What the events asked of the window system runs procedures, so it runs
  // outside the reading: activation, the application's deactivation, and
  // iconify and de-iconify.
  void RunPending() {
    if (PlatWindow w = pendingActivate_) {
      pendingActivate_ = 0;
      SystemActivate(w, kPlatWaActive);
    }
    if (pendingAppInactive_) {
      pendingAppInactive_ = false;
      PlatSetAppActive(false);
    }
    // Iconified: Size(Minimized); given back: QueryOpen, then Size(Restored).
    std::vector<std::pair<PlatWindow, int32_t>> shows;
    shows.swap(pendingShow_);
    for (const auto& [w, how] : shows) {
      PlatShowWindow(w, how);
      if (how == kPlatSwRestore && PlatIsIconic(w)) {
        // QueryOpen refused: it goes back to its icon.
        auto it = wins_.find(w);
        if (it != wins_.end() && it->second.mapped) {
          it->second.mapped = false;
          it->second.iconic = true;
          XIconifyWindow(dpy_, it->second.xid, screen_);
          XUnmapWindow(dpy_, it->second.xid);
          ++it->second.ourUnmaps;
          XFlush(dpy_);
        }
      }
    }
  }

 private:
  enum AtomId : size_t {
    kWmProtocols,
    kWmDeleteWindow,
    kNetWmName,
    kUtf8String,
    kNetWmWindowType,
    kTypeNormal,
    kTypeDialog,
    kTypeUtility,
    kTypePopupMenu,
    kTypeTooltip,
    kNetWmState,
    kStateAbove,
    kStateSkipTaskbar,
    kStateModal,
    kStateMaxVert,
    kStateMaxHorz,
    kMotifHints,
    kNetWorkArea,
    kClipboard,
    kTargets,
    kText,
    kSelectionProp,
    kIncr,
    kImagePng,
    kAtomCount
  };
  static constexpr const char* kAtomNames[kAtomCount] = {
      "WM_PROTOCOLS",    "WM_DELETE_WINDOW",     "_NET_WM_NAME",          "UTF8_STRING",
      "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG",
      "_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR",
      "_NET_WM_STATE_MODAL", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ", "_MOTIF_WM_HINTS",   "_NET_WORKAREA", "CLIPBOARD", "TARGETS", "TEXT",
      "QUENLIX_SELECTION", "INCR", "image/png"};

  static uint32_t Channel(unsigned long p, int shift, int bits) {
    if (bits <= 0) return 0;
    const uint32_t v = uint32_t((p >> shift) & ((1ul << bits) - 1));
    return bits >= 8 ? v >> (bits - 8) : v << (8 - bits);
  }

  static void OnLost(Display*, void* self) {
    // The connection is gone: no Xlib call may follow.  Shut-down runs in
    // order from the frame's Close.
    X11Display* d = static_cast<X11Display*>(self);
    d->lost_.store(true);
    std::fprintf(stderr, "quenlix: the connection to the X server was lost\n");
    if (PlatWindow f = PlatGetFrameWindow()) PlatPostMessage(f, kPlatMsgClose, 0, 0);
  }

  // Whether the window's _NET_WM_STATE holds both maximised states.
  bool Maximized(Window xid) {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    bool vert = false, horz = false;
    if (XGetWindowProperty(dpy_, xid, atoms_[kNetWmState], 0, 64, False, XA_ATOM, &type, &format, &n, &after, &data) ==
            Success &&
        data && type == XA_ATOM && format == 32) {
      const long* v = reinterpret_cast<const long*>(data);
      for (unsigned long i = 0; i < n; ++i) {
        vert = vert || Atom(v[i]) == atoms_[kStateMaxVert];
        horz = horz || Atom(v[i]) == atoms_[kStateMaxHorz];
      }
    }
    if (data) XFree(data);
    return vert && horz;
  }

  void ReadWorkArea() {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    PlatRect area{0, 0, Width(), Height()};
    if (XGetWindowProperty(dpy_, root_, atoms_[kNetWorkArea], 0, 4, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data && type == XA_CARDINAL && format == 32 && n >= 4) {
      const long* v = reinterpret_cast<const long*>(data);
      if (v[2] > 0 && v[3] > 0) area = PlatRect{int32_t(v[0]), int32_t(v[1]), int32_t(v[0] + v[2]), int32_t(v[1] + v[3])};
    }
    if (data) XFree(data);
    PlatSetWorkArea(area);
  }

  PlatWindow RecordOf(Window xid) const {
    auto it = byX_.find(xid);
    return it == byX_.end() ? 0 : it->second;
  }

  void ReadEvents() {
    while (!lost_.load() && XPending(dpy_)) {
      XEvent e;
      XNextEvent(dpy_, &e);
      Handle(e);
    }
  }

  void Handle(XEvent& e) {
    if (e.type == MappingNotify) {
      XRefreshKeyboardMapping(&e.xmapping);
      return;
    }
    if (e.type == SelectionRequest) return Serve(e.xselectionrequest);
    if (e.type == SelectionClear) {
      if (e.xselectionclear.selection == atoms_[kClipboard]) owned_ = false;
      return;
    }
    const PlatWindow w = RecordOf(e.xany.window);
    if (!w) return;  // a window we no longer have
    const uint32_t now = PlatTickMs();
    switch (e.type) {
      case Expose: {
        auto it = wins_.find(w);
        if (it != wins_.end()) Put(it->second, Band{e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width,
                                                    e.xexpose.y + e.xexpose.height});
        break;
      }
      case MotionNotify:
        PlatInjectMouseMove(e.xmotion.x_root, e.xmotion.y_root, now);
        break;
      case ButtonPress:
      case ButtonRelease: {
        const bool down = e.type == ButtonPress;
        const unsigned b = e.xbutton.button;
        if (b == Button4 || b == Button5) {
          if (down) PlatInjectMouseWheel(b == Button4 ? kPlatWheelStep : -kPlatWheelStep, e.xbutton.x_root,
                                         e.xbutton.y_root, now);
        } else if (b >= Button1 && b <= Button3) {
          const int32_t button = b == Button1 ? kPlatButtonLeft : b == Button2 ? kPlatButtonMiddle : kPlatButtonRight;
          PlatInjectMouseButton(button, down, e.xbutton.x_root, e.xbutton.y_root, now);
        }
        break;
      }
      case KeyPress:
      case KeyRelease: {
        if (e.type == KeyRelease && !detectableRepeat_ && XEventsQueued(dpy_, QueuedAfterReading)) {
          // Without detectable auto-repeat a repeat is a release and a press
          // with one time stamp: the release is dropped.
          XEvent next;
          XPeekEvent(dpy_, &next);
          if (next.type == KeyPress && next.xkey.keycode == e.xkey.keycode && next.xkey.time == e.xkey.time) break;
        }
        bool ext = false;
        const uint32_t vk = VkOfKeysym(XLookupKeysym(&e.xkey, 0), &ext);
        if (!vk) break;
        if (e.type == KeyRelease) {
          PlatInjectKey(vk, false, now, ext);
          break;
        }
        // The character comes from the server's layout; control characters
        // follow the keys' own rules.
        char buf[8];
        KeySym ks;
        const int n = XLookupString(&e.xkey, buf, sizeof buf, &ks, nullptr);
        const int32_t c = n == 1 && (uint8_t(buf[0]) < 0x20 || buf[0] == 0x7F) ? -1 : CharOfLatin1(buf, n);
        if (c < 0) PlatInjectKey(vk, true, now, ext);
        else PlatInjectKeyText(vk, true, now, ext, uint8_t(c));
        break;
      }
      case FocusIn: {
        // A focus change already overtaken (our own request for a window
        // since replaced, a modal dialog opened meanwhile) must not take the
        // activation back: only a window that still holds the focus counts.
        Window now = 0;
        int revert;
        XGetInputFocus(dpy_, &now, &revert);
        if (now != e.xfocus.window) break;
        if (e.xfocus.mode == NotifyNormal || e.xfocus.mode == NotifyWhileGrabbed) {
          if (PlatGetActiveWindow() != w || !PlatIsAppActive()) pendingActivate_ = w;
          pendingAppInactive_ = false;
        }
        break;
      }
      case FocusOut:
        if (e.xfocus.mode == NotifyNormal) {
          Window f = 0;
          int revert;
          XGetInputFocus(dpy_, &f, &revert);
          if (!RecordOf(f) && !pendingActivate_) pendingAppInactive_ = true;
        }
        break;
      case UnmapNotify: {
        auto it = wins_.find(w);
        if (e.xunmap.send_event || it == wins_.end()) break;
        if (it->second.ourUnmaps > 0) {
          --it->second.ourUnmaps;
        } else if (it->second.mapped) {
          // Another client (a window manager iconifying it) took it away.
          it->second.mapped = false;
          it->second.iconic = true;
          pendingShow_.emplace_back(w, kPlatSwMinimize);
        }
        break;
      }
      case MapNotify: {
        auto it = wins_.find(w);
        if (e.xmap.send_event || it == wins_.end()) break;
        if (it->second.ourMaps > 0) {
          --it->second.ourMaps;
        } else if (it->second.iconic) {
          it->second.iconic = false;
          it->second.mapped = true;
          pendingShow_.emplace_back(w, kPlatSwRestore);
        }
        break;
      }
      case PropertyNotify: {
        auto it = wins_.find(w);
        if (it == wins_.end() || e.xproperty.atom != atoms_[kNetWmState]) break;
        const bool max = Maximized(it->second.xid);
        if (max == it->second.maximized) break;
        it->second.maximized = max;
        pendingShow_.emplace_back(w, max ? kPlatSwMaximize : kPlatSwRestore);
        break;
      }
      case ClientMessage:
        if (e.xclient.message_type == atoms_[kWmProtocols] && e.xclient.format == 32 &&
            Atom(e.xclient.data.l[0]) == atoms_[kWmDeleteWindow] && PlatIsCloseEnabled(w))
          PlatPostMessage(w, kPlatMsgSysCommand, kPlatScClose, 0);
        break;
      default:
        break;
    }
  }

  // ---- Cursors ------------------------------------------------------------

  ::Cursor Blank() {
    if (cursors_.count(0)) return cursors_[0];
    static const char zero[kPlatCursorPlaneBytes] = {};
    const Pixmap p = XCreateBitmapFromData(dpy_, root_, zero, kPlatCursorSize, kPlatCursorSize);
    XColor black{};
    const ::Cursor c = XCreatePixmapCursor(dpy_, p, p, &black, &black, 0, 0);
    XFreePixmap(dpy_, p);
    return cursors_[0] = c;
  }

  ::Cursor XCursorOf(PlatCursor c) {
    if (c == kPlatCursorArrow || c == kPlatCursorWait || c == kPlatCursorSizeNWSE) {
      auto it = cursors_.find(c);
      if (it != cursors_.end()) return it->second;
      const unsigned shape = c == kPlatCursorArrow ? XC_left_ptr : c == kPlatCursorWait ? XC_watch : XC_bottom_right_corner;
      return cursors_[c] = XCreateFontCursor(dpy_, shape);
    }
    // Made cursors are converted afresh: a handle may have been replaced.
    std::vector<uint8_t> source, mask;
    int32_t hx = 0, hy = 0;
    if (!CursorPlanes(c, &source, &mask) || !PlatCursorHotSpot(c, &hx, &hy)) return XCursorOf(kPlatCursorArrow);
    const Pixmap s = XCreateBitmapFromData(dpy_, root_, reinterpret_cast<const char*>(source.data()), kPlatCursorSize,
                                           kPlatCursorSize);
    const Pixmap m = XCreateBitmapFromData(dpy_, root_, reinterpret_cast<const char*>(mask.data()), kPlatCursorSize,
                                           kPlatCursorSize);
    XColor black{}, white{};
    white.red = white.green = white.blue = 0xFFFF;
    black.flags = white.flags = DoRed | DoGreen | DoBlue;
    if (made_ != None) XFreeCursor(dpy_, made_);
    made_ = XCreatePixmapCursor(dpy_, s, m, &black, &white, unsigned(hx), unsigned(hy));
    XFreePixmap(dpy_, s);
    XFreePixmap(dpy_, m);
    return made_;
  }

  // ---- The clipboard's selection ----------------------------------------

  static void Taken() {
    X11Display* d = gX11;
    if (!d || !d->Connection()) return;
    XSetSelectionOwner(d->dpy_, d->atoms_[kClipboard], d->selWin_, CurrentTime);
    d->owned_ = XGetSelectionOwner(d->dpy_, d->atoms_[kClipboard]) == d->selWin_;
    if (d->owned_) d->lastOwner_ = d->selWin_;
    XFlush(d->dpy_);
  }

  static bool Foreign() {
    X11Display* d = gX11;
    if (!d || !d->Connection()) return false;
    const Window o = XGetSelectionOwner(d->dpy_, d->atoms_[kClipboard]);
    return o != None && o != d->selWin_;
  }

  static bool HasText() {
    X11Display* d = gX11;
    std::string bytes;
    Atom type;
    if (!d || !d->Convert(d->atoms_[kTargets], &type, &bytes) || type != XA_ATOM) return false;
    // Atoms arrive as longs of the client.
    const size_t n = bytes.size() / sizeof(long);
    const long* a = reinterpret_cast<const long*>(bytes.data());
    for (size_t i = 0; i < n; ++i)
      if (Atom(a[i]) == d->atoms_[kUtf8String] || Atom(a[i]) == XA_STRING || Atom(a[i]) == d->atoms_[kText]) return true;
    return false;
  }

  static bool ReadText(std::string* out) {
    X11Display* d = gX11;
    std::string bytes;
    Atom type;
    if (!d) return false;
    if (d->Convert(d->atoms_[kUtf8String], &type, &bytes) && type == d->atoms_[kUtf8String]) {
      bytes = Utf8ToCp1252(bytes);
    } else if (d->Convert(XA_STRING, &type, &bytes) && type == XA_STRING) {
      for (char& c : bytes)
        if (uint8_t(c) >= 0x80 && uint8_t(c) < 0xA0) c = '?';
    } else {
      return false;
    }
    *out = LfToCrLf(bytes);
    return true;
  }

  // Reads events until one satisfies done or timeoutMs pass without one;
  // the others are handled as usual.
  template <typename Done>
  bool WaitFor(Done done, uint32_t timeoutMs) {
    const bool nested = pumping_;
    pumping_ = true;
    bool found = false;
    const uint32_t start = PlatTickMs();
    while (!found && !lost_.load()) {
      while (!found && !lost_.load() && XPending(dpy_)) {
        XEvent e;
        XNextEvent(dpy_, &e);
        if (done(e)) found = true;
        else Handle(e);
      }
      const uint32_t spent = PlatTickMs() - start;
      if (found || spent >= timeoutMs) break;
      struct pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
      poll(&p, 1, int(timeoutMs - spent));
    }
    pumping_ = nested;
    return found;
  }

  // Takes the property (deleting it): its type and bytes; false for a
  // format other than 8 bits, or 32-bit atoms.
  bool TakeProperty(Atom prop, Atom* type, std::string* out) {
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const bool ok = XGetWindowProperty(dpy_, selWin_, prop, 0, kMaxSelection / 4, True, AnyPropertyType, type, &format,
                                       &n, &after, &data) == Success;
    const bool good = ok && data && after == 0 && (format == 8 || (*type == XA_ATOM && format == 32) ||
                                                   (*type == atoms_[kIncr] && format == 32));
    if (good) out->assign(reinterpret_cast<const char*>(data), size_t(n) * (format == 8 ? 1 : sizeof(long)));
    if (data) XFree(data);
    return good;
  }

  // Asks the selection's owner for a target and waits at most 1 s for the
  // answer (and for each piece of an incremental one, 64 MiB at most),
  // serving the server's other events meanwhile.  False for no answer, a
  // refusal or a reply of another format.
  bool Convert(Atom target, Atom* type, std::string* out) {
    if (!Connection() || PlatThreadCurrentId() != thread_) return false;
    const Atom prop = atoms_[kSelectionProp];
    XDeleteProperty(dpy_, selWin_, prop);
    XConvertSelection(dpy_, atoms_[kClipboard], target, prop, selWin_, CurrentTime);
    XFlush(dpy_);
    bool refused = false;
    if (!WaitFor(
            [&](const XEvent& e) {
              if (e.type != SelectionNotify || e.xselection.requestor != selWin_) return false;
              refused = e.xselection.property == None;
              return true;
            },
            1000) ||
        refused || !TakeProperty(prop, type, out))
      return false;
    if (*type != atoms_[kIncr]) return true;
    // Incremental: each new value of the property is the next piece; an
    // empty one ends it.
    std::string all;
    for (;;) {
      XFlush(dpy_);
      auto piece = [&](const XEvent& e) {
        return e.type == PropertyNotify && e.xproperty.window == selWin_ && e.xproperty.atom == prop &&
               e.xproperty.state == PropertyNewValue;
      };
      std::string part;
      if (!WaitFor(piece, 1000) || !TakeProperty(prop, type, &part) || *type == atoms_[kIncr]) return false;
      if (part.empty()) break;
      if (all.size() + part.size() > size_t(kMaxSelection)) return false;
      all += part;
    }
    *out = std::move(all);
    return true;
  }

  // The clipboard's text, read as the program would.
  static bool OurText(std::string* out) {
    if (!PlatOpenClipboard(0)) return false;
    const PlatGlobal h = PlatGlobal(PlatGetClipboardData(kPlatClipText));
    const char* p = h ? static_cast<const char*>(PlatGlobalLock(h)) : nullptr;
    if (p) {
      const uint32_t size = PlatGlobalSize(h);
      out->assign(p, strnlen(p, size));
      PlatGlobalUnlock(h);
    }
    PlatCloseClipboard();
    return p != nullptr;
  }

  // The clipboard's bitmap as a PNG file (null out: only whether there is one).
  static bool OurPng(std::string* out) {
    if (!PlatOpenClipboard(0)) return false;
    const PlatObj bmp = PlatObj(PlatGetClipboardData(kPlatClipBitmap));
    std::vector<uint8_t> png;
    const bool ok = bmp && (!out || PlatPngWriteMemory(PlatBitmapSurface(bmp), &png) == 0);
    PlatCloseClipboard();
    if (ok && out) out->assign(png.begin(), png.end());
    return ok;
  }

  void Serve(const XSelectionRequestEvent& r) {
    XSelectionEvent reply;
    std::memset(&reply, 0, sizeof reply);
    reply.type = SelectionNotify;
    reply.display = r.display;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    reply.property = None;
    const Atom prop = r.property != None ? r.property : r.target;  // clients of old
    std::string text;
    if (r.selection == atoms_[kClipboard] && owned_) {
      if (r.target == atoms_[kTargets]) {
        std::vector<Atom> t = {atoms_[kTargets], atoms_[kUtf8String], XA_STRING, atoms_[kText]};
        if (OurPng(nullptr)) t.push_back(atoms_[kImagePng]);
        XChangeProperty(dpy_, r.requestor, prop, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(t.data()), int(t.size()));
        reply.property = prop;
      } else if (r.target == atoms_[kImagePng] && OurPng(&text)) {
        XChangeProperty(dpy_, r.requestor, prop, atoms_[kImagePng], 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
        reply.property = prop;
      } else if ((r.target == atoms_[kUtf8String] || r.target == XA_STRING || r.target == atoms_[kText]) &&
                 OurText(&text)) {
        text = CrLfToLf(text);
        Atom type = atoms_[kUtf8String];
        if (r.target == XA_STRING) {
          type = XA_STRING;
          for (char& c : text)
            if (uint8_t(c) >= 0x80 && uint8_t(c) < 0xA0) c = '?';
        } else {
          text = Cp1252ToUtf8(text);
        }
        XChangeProperty(dpy_, r.requestor, prop, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
        reply.property = prop;
      }
    }
    XSendEvent(dpy_, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
  }

  // At an activation: another program's change to the selection goes to the
  // frame as DrawClipboard.
  void NoticeOwner() {
    const Window o = XGetSelectionOwner(dpy_, atoms_[kClipboard]);
    if (o == lastOwner_) return;
    lastOwner_ = o;
    if (o == selWin_ || o == None) return;
    if (PlatWindow f = PlatGetFrameWindow()) PlatPostMessage(f, kPlatMsgDrawClipboard, 0, 0);
  }

  std::vector<Record> Records(PlatWindow* active, PlatWindow* capture, bool* buttonDown) {
    std::vector<Record> out;
    Sys& s = TheSys();
    std::lock_guard<std::mutex> g(s.lock);
    for (PlatWindow id : s.z) {
      qxwin::Window* r = Find(s, id);
      if (!r || id == s.frameWindow) continue;
      out.push_back(Record{id, ClientOf(*r), r->shown && r->sizeState != kMinimized, r->title, r->style, r->exStyle,
                           r->owner, r->pixels, r->shown && r->sizeState == kMinimized,
                           r->sizeState == qxwin::kMaximized, r->closeEnabled,
                           r->cls && (r->cls->style & kPlatCsSaveBits)});
    }
    *active = Find(s, s.active) && s.appActive ? s.active : 0;
    *capture = Find(s, s.capture) ? s.capture : 0;
    *buttonDown = ((s.keys[kPlatVkLButton] | s.keys[kPlatVkRButton] | s.keys[kPlatVkMButton]) & 0x80) != 0;
    return out;
  }

  // A pop-up without any frame that is a menu window (whatever its modal
  // frame), a tool window (a menu) or topmost (a tip strip).
  static bool Transient(const Record& r) {
    const uint32_t frame = kPlatWsCaption | kPlatWsThickFrame | kPlatWsDlgFrame | kPlatWsBorder;
    if (!(r.style & kPlatWsPopup) || (r.style & frame)) return false;
    return r.menu || ((r.exStyle & (kPlatWsExToolWindow | kPlatWsExTopmost)) && !(r.exStyle & kPlatWsExDlgModalFrame));
  }

  void SetTitle(XWin& x, const std::string& title) {
    x.title = title;
    XStoreName(dpy_, x.xid, title.c_str());
    const std::string utf8 = Cp1252ToUtf8(title);
    XChangeProperty(dpy_, x.xid, atoms_[kNetWmName], atoms_[kUtf8String], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()), int(utf8.size()));
  }

  void SetHints(XWin& x, const Record& r) {
    XSizeHints* h = XAllocSizeHints();
    if (h) {
      h->flags = USPosition | PPosition | USSize | PSize;
      h->x = r.client.left, h->y = r.client.top;
      h->width = std::max(1, r.client.right - r.client.left), h->height = std::max(1, r.client.bottom - r.client.top);
      // The sizes the sizing loop keeps to, as client sizes.
      PlatMinMaxInfo mm{1, 1, kMaxTrack, kMaxTrack};
      // Asked only of this thread's windows: another thread may be waiting for this one.
      if (PlatGetWindowThread(r.id) == thread_) PlatSendMessage(r.id, kPlatMsgGetMinMaxInfo, 0, PlatLParam(&mm));
      const PlatRect in = PlatFrameInsets(r.style, r.exStyle);
      const int32_t dx = in.left + in.right, dy = in.top + in.bottom;
      h->flags |= PMinSize | PMaxSize;
      h->min_width = std::max(1, mm.minWidth - dx), h->min_height = std::max(1, mm.minHeight - dy);
      h->max_width = std::max(h->min_width, std::min(kMaxTrack, mm.maxWidth) - dx);
      h->max_height = std::max(h->min_height, std::min(kMaxTrack, mm.maxHeight) - dy);
      XSetWMNormalHints(dpy_, x.xid, h);
      XFree(h);
    }
    // Pop-up styles have no decorations.
    const bool popup = (r.style & kPlatWsPopup) && !(r.style & kPlatWsCaption);
    // The window manager offers only the system items the window has.
    long functions = kMwmMove;
    if (r.style & kPlatWsThickFrame) functions |= kMwmResize;
    if (r.style & kPlatWsMinimizeBox) functions |= kMwmMinimize;
    if (r.style & kPlatWsMaximizeBox) functions |= kMwmMaximize;
    if (r.closeEnabled) functions |= kMwmClose;
    long motif[5] = {kMwmHintsFunctions | kMwmHintsDecorations, functions, popup ? 0 : 1, 0, 0};
    XChangeProperty(dpy_, x.xid, atoms_[kMotifHints], atoms_[kMotifHints], 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(motif), 5);
    long type = long(atoms_[kTypeNormal]);
    std::vector<long> states;
    if (Transient(r)) {
      type = long(atoms_[r.menu || (r.exStyle & kPlatWsExToolWindow) ? kTypePopupMenu : kTypeTooltip]);
    } else if (r.exStyle & kPlatWsExDlgModalFrame) {
      type = long(atoms_[kTypeDialog]);
      states.push_back(long(atoms_[kStateModal]));
    } else if (r.exStyle & (kPlatWsExToolWindow | kPlatWsExTopmost)) {
      type = long(atoms_[kTypeUtility]);
      states.push_back(long(atoms_[kStateAbove]));
      states.push_back(long(atoms_[kStateSkipTaskbar]));
    }
    XChangeProperty(dpy_, x.xid, atoms_[kNetWmWindowType], XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&type), 1);
    if (r.maximized) {
      states.push_back(long(atoms_[kStateMaxVert]));
      states.push_back(long(atoms_[kStateMaxHorz]));
    }
    x.maximized = r.maximized;
    // A window manager changes the state of a mapped window itself.
    if (!x.mapped)
      XChangeProperty(dpy_, x.xid, atoms_[kNetWmState], XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(states.data()), int(states.size()));
    x.style = r.style, x.exStyle = r.exStyle, x.closeEnabled = r.closeEnabled;
  }

  void Create(XWin& x, const Record& r) {
    XSetWindowAttributes a;
    std::memset(&a, 0, sizeof a);
    a.background_pixmap = None;
    a.bit_gravity = NorthWestGravity;
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                   KeyReleaseMask | FocusChangeMask | StructureNotifyMask | PropertyChangeMask;
    a.colormap = DefaultColormap(dpy_, screen_);
    // Menu windows and tip strips place themselves: override-redirect.
    a.override_redirect = Transient(r) ? True : False;
    x.client = r.client;
    x.xid = XCreateWindow(dpy_, root_, r.client.left, r.client.top, unsigned(std::max(1, r.client.right - r.client.left)),
                          unsigned(std::max(1, r.client.bottom - r.client.top)), 0, depth_, InputOutput, visual_,
                          CWBackPixmap | CWBitGravity | CWEventMask | CWColormap | CWOverrideRedirect, &a);
    byX_[x.xid] = r.id;
    created_ = true;
    XClassHint cls{const_cast<char*>("quenlix"), const_cast<char*>("quenlix")};
    XSetClassHint(dpy_, x.xid, &cls);
    Atom del = atoms_[kWmDeleteWindow];
    XSetWMProtocols(dpy_, x.xid, &del, 1);
    XWMHints* wm = XAllocWMHints();
    if (wm) {
      wm->flags = InputHint;
      wm->input = True;
      XSetWMHints(dpy_, x.xid, wm);
      XFree(wm);
    }
    SetTitle(x, r.title);
    SetHints(x, r);
  }

  // Sends a rectangle (client coordinates) of what the window shows.
  void Put(XWin& x, Band b) {
    b.left = std::max(0, b.left), b.top = std::max(0, b.top);
    b.right = std::min(x.width, b.right), b.bottom = std::min(x.height, b.bottom);
    if (b.right <= b.left || b.bottom <= b.top || !x.mapped) return;
    const int32_t w = b.right - b.left, h = b.bottom - b.top;
    rows_.resize(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y) {
      const uint32_t* src = &x.shown[size_t(b.top + y) * size_t(x.width) + size_t(b.left)];
      uint32_t* dst = &rows_[size_t(y) * size_t(w)];
      for (int32_t i = 0; i < w; ++i) dst[i] = ConvertPixel(masks_, src[i]);
    }
    XImage* img = XCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, 0, reinterpret_cast<char*>(rows_.data()),
                               unsigned(w), unsigned(h), 32, w * 4);
    if (!img) return;
    XPutImage(dpy_, x.xid, DefaultGC(dpy_, screen_), img, 0, 0, b.left, b.top, unsigned(w), unsigned(h));
    img->data = nullptr;  // ours
    XDestroyImage(img);
  }

  // Sends what changed since the last time, or all of it.
  void Present(XWin& x, const Record& r, bool all) {
    const PlatSurface* surf = r.pixels->surface;
    const int32_t w = PlatSurfaceWidth(surf), h = PlatSurfaceHeight(surf);
    if (w != x.width || h != x.height) {
      x.width = w, x.height = h;
      all = true;
    }
    if (w <= 0 || h <= 0) return;
    const uint8_t* bits = PlatSurfaceBits(surf);
    const int32_t stride = PlatSurfaceStride(surf);
    current_.resize(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(&current_[size_t(y) * size_t(w)], bits + size_t(y) * size_t(stride), size_t(w) * 4);
    if (all) {
      x.shown = current_;
      Put(x, Band{0, 0, w, h});
      return;
    }
    for (const Band& b : ChangedBands(current_.data(), x.shown.data(), w, h)) Put(x, b);
  }

  void Mirror() {
    PlatWindow active, capture;
    bool buttonDown;
    const std::vector<Record> recs = Records(&active, &capture, &buttonDown);
    // Records gone: their windows go.
    for (auto it = wins_.begin(); it != wins_.end();) {
      const bool kept = std::any_of(recs.begin(), recs.end(), [&](const Record& r) { return r.id == it->first; });
      if (kept) {
        ++it;
        continue;
      }
      byX_.erase(it->second.xid);
      XDestroyWindow(dpy_, it->second.xid);
      if (grabbed_ == it->first) {
        XUngrabPointer(dpy_, CurrentTime);
        grabbed_ = 0;
      }
      it = wins_.erase(it);
    }
    std::vector<Window> stack;
    for (const Record& r : recs) {
      XWin& x = wins_[r.id];
      if (!x.xid) {
        if (!r.visible) {
          wins_.erase(r.id);
          continue;  // made when first shown
        }
        Create(x, r);
      }
      if (r.title != x.title) SetTitle(x, r.title);
      if (r.style != x.style || r.exStyle != x.exStyle || r.closeEnabled != x.closeEnabled) SetHints(x, r);
      if (r.maximized != x.maximized && x.mapped) {
        x.maximized = r.maximized;
        XEvent m;
        std::memset(&m, 0, sizeof m);
        m.xclient.type = ClientMessage;
        m.xclient.window = x.xid;
        m.xclient.message_type = atoms_[kNetWmState];
        m.xclient.format = 32;
        m.xclient.data.l[0] = r.maximized ? 1 : 0;  // add, remove
        m.xclient.data.l[1] = long(atoms_[kStateMaxVert]);
        m.xclient.data.l[2] = long(atoms_[kStateMaxHorz]);
        m.xclient.data.l[3] = 1;  // a normal application
        XSendEvent(dpy_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &m);
      }
      if (r.owner != x.owner) {
        x.owner = r.owner;
        const Window ow = WindowOf(r.owner);
        if (ow) XSetTransientForHint(dpy_, x.xid, ow);
        else XDeleteProperty(dpy_, x.xid, XA_WM_TRANSIENT_FOR);
      }
      const int32_t cw = r.client.right - r.client.left, ch = r.client.bottom - r.client.top;
      if (r.visible && cw > 0 && ch > 0) {
        if (std::memcmp(&x.client, &r.client, sizeof x.client) != 0) {
          x.client = r.client;
          XMoveResizeWindow(dpy_, x.xid, r.client.left, r.client.top, unsigned(cw), unsigned(ch));
        }
        bool all = false;
        if (!x.mapped) {
          SetHints(x, r);
          XMapWindow(dpy_, x.xid);
          ++x.ourMaps;
          x.mapped = all = true;
          x.iconic = false;
        }
        Present(x, r, all);
        stack.push_back(x.xid);
      } else if (x.mapped) {
        // Minimised: iconified where a window manager shows icons.
        if (r.minimized) XIconifyWindow(dpy_, x.xid, screen_);
        XUnmapWindow(dpy_, x.xid);
        ++x.ourUnmaps;
        x.mapped = false;
      }
    }
    if (stack != stack_) {
      if (!stack.empty()) XRestackWindows(dpy_, stack.data(), int(stack.size()));
      stack_ = stack;
    }
    // The cursor shown over every window.
    const PlatCursor cur = PlatGetCursor();
    const bool curShown = PlatCursorVisible() && cur != 0;
    if (cur != cursor_ || curShown != cursorShown_ || created_) {
      cursor_ = cur, cursorShown_ = curShown, created_ = false;
      xCursor_ = curShown ? XCursorOf(cur) : Blank();
      for (auto& [id, x] : wins_) XDefineCursor(dpy_, x.xid, xCursor_);
    }
    // The model's activation moves the focus.
    const Window fx = active ? WindowOf(active) : 0;
    if (active && active != focus_) NoticeOwner();
    if (fx && active != focus_ && wins_[active].mapped) {
      XSetInputFocus(dpy_, fx, RevertToParent, CurrentTime);
      XRaiseWindow(dpy_, fx);
      stack_.clear();
    }
    if (!fx || wins_[active].mapped) focus_ = active;
    // Capture grabs the pointer unless the server's own grab of a pressed
    // button holds it already.
    if (capture != grabbed_) {
      if (grabbed_) {
        XUngrabPointer(dpy_, CurrentTime);
        grabbed_ = 0;
      }
      const Window cx = capture ? WindowOf(capture) : 0;
      if (cx && !buttonDown && wins_[capture].mapped &&
          XGrabPointer(dpy_, cx, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                       GrabModeAsync, None, None, CurrentTime) == GrabSuccess)
        grabbed_ = capture;
    }
  }

  Display* dpy_ = nullptr;
  int screen_ = 0;
  Window root_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Masks masks_;
  bool detectableRepeat_ = false;
  Atom atoms_[kAtomCount] = {};
  std::atomic<bool> lost_{false};
  bool pumping_ = false;
  bool created_ = false;
  uint32_t thread_ = 0;
  PlatWindow pendingActivate_ = 0;
  std::vector<std::pair<PlatWindow, int32_t>> pendingShow_;
  PlatCursor cursor_ = 0;
  bool cursorShown_ = true;
  ::Cursor xCursor_ = None;
  ::Cursor made_ = None;  // the made cursor last shown
  std::map<PlatCursor, ::Cursor> cursors_;
  bool pendingAppInactive_ = false;
  std::map<PlatWindow, XWin> wins_;
  std::unordered_map<Window, PlatWindow> byX_;
  std::vector<Window> stack_;
  PlatWindow focus_ = 0;
  PlatWindow grabbed_ = 0;
  Window selWin_ = 0;
  std::atomic<Window> lastOwner_{0};
  std::atomic<bool> owned_{false};
  static constexpr long kMaxSelection = 64l << 20;
  // _MOTIF_WM_HINTS: which fields count, and the functions offered.
  static constexpr long kMwmHintsFunctions = 1, kMwmHintsDecorations = 2;
  static constexpr long kMwmResize = 2, kMwmMove = 4, kMwmMinimize = 8, kMwmMaximize = 16, kMwmClose = 32;
  static constexpr int32_t kMaxTrack = 30000;  // as the sizing loop's limit
  std::vector<uint32_t> rows_, current_;
};

X11Display& TheX11() {
  static X11Display* d = new X11Display;  // lives as long as the process
  return *d;
}

}  // namespace

void PlatX11Register() { PlatRegisterDisplayBackend(&TheX11()); }

_XDisplay* PlatX11Connection() { return gX11 ? gX11->Connection() : nullptr; }

unsigned long PlatX11WindowOf(PlatWindow w) { return gX11 ? gX11->WindowOf(w) : 0; }

bool PlatX11Sync() { return gX11 && gX11->SyncNow(); }
