// The shared state of the window system: window records, classes, the
// z-order, the per-thread queues, activation and capture.  One mutex guards
// all of it; it is never held while a window procedure runs, and no other
// lock is taken while it is held except the thread layer's input-signal
// lock (inside PlatThreadRaiseInput) and the drawing-object table.
#pragma once
#include <pixman.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/qx_msgqueue.h"
#include "platform/qx_dc.h"
#include "platform/qx_surface.h"
#include "platform/qx_thread.h"

namespace qxwin {

struct Class {
  std::string name;
  PlatWindowProc proc = nullptr;
  uint32_t style = 0;
  uint32_t background = kPlatNoBrush;
};

enum SizeState : int32_t { kNormal = 0, kMinimized = 1, kMaximized = 2 };

// The retained pixels of a client area; the contexts made on it keep it
// alive after its window is gone.
class Pixels : public PlatDrawTarget {
 public:
  Pixels() : surface(PlatSurfaceCreate(0, 0, kPlatRgb32)) {}
  ~Pixels() override { PlatSurfaceDestroy(surface); }
  PlatSurface* Surface() override { return surface; }
  // A flush shows what was drawn at once where a display shows windows.
  void Flush() override { PlatThreadPumpWaitSource(false); }
  PlatSurface* surface;
};

struct Window {
  Window() { pixman_region32_init(&update); }
  ~Window() { pixman_region32_fini(&update); }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  PlatWindow id = 0;
  std::shared_ptr<Class> cls;
  std::string title;
  uint32_t style = 0, exStyle = 0;
  PlatWindow owner = 0;
  uint32_t thread = 0;
  PlatRect frame{0, 0, 0, 0};    // screen
  PlatRect restore{0, 0, 0, 0};  // frame before minimising or maximising
  bool shown = false;
  bool enabled = true;
  bool closeEnabled = true;
  bool destroying = false;
  int32_t sizeState = kNormal;
  intptr_t word = 0;
  pixman_region32_t update;  // client coordinates
  bool erase = false;        // EraseBackground due at the next begin-paint
  bool painting = false;
  std::shared_ptr<Pixels> pixels = std::make_shared<Pixels>();
  // A context given back by PlatReleaseDc, kept (reset, in dcs) for the
  // next PlatGetDc: making one anew each time cost more than most draws.
  PlatObj spareDc = 0;
};

// A send from another thread, waiting or running.
struct Send {
  PlatWindow window;
  uint32_t message;
  PlatWParam wParam;
  PlatLParam lParam;
  uint32_t sender;
  bool answered = false;
  PlatResult result = 0;
};

enum InputKind : int32_t { kInMove, kInDown, kInUp, kInWheel, kInKey, kInChar };
struct Input {
  InputKind kind;
  int32_t button;  // 0 left, 1 right, 2 middle
  int32_t x, y;    // screen
  int32_t delta;   // wheel
  uint32_t vk;     // key; the character for kInChar
  bool down;
  bool extended;
  int32_t count;   // key repeats
  int32_t text;    // kInKey: the character the layout gave, -1 for the US layout's
  bool repeat;
  uint32_t time;
  PlatWindow window;  // kInChar: the window of the key message
  uint32_t charMsg;   // kInChar: Char or SysChar
  PlatLParam lParam;  // kInChar
};

struct Queue {
  uint32_t thread = 0;
  bool ended = false;
  std::deque<PlatMsg> posts;
  std::deque<std::shared_ptr<Send>> sends;
  std::deque<Input> input;
  bool quit = false;
  int32_t quitCode = 0;
  uint32_t lastTime = 0;
  int32_t lastX = 0, lastY = 0;
};

struct Sys {
  std::mutex lock;
  std::map<PlatWindow, std::unique_ptr<Window>> windows;
  std::vector<PlatWindow> z;  // front first; the topmost band leads
  std::map<std::string, std::shared_ptr<Class>> classes;
  std::map<uint32_t, std::shared_ptr<Queue>> queues;
  PlatWindow nextId = 1;
  // The work area set through PlatSetWorkArea; unset, it is the screen.
  bool workAreaSet = false;
  PlatRect workArea{0, 0, 0, 0};
  PlatWindow active = 0;
  PlatWindow capture = 0;
  bool appActive = true;
  uint32_t uiThread = 0;   // the thread that receives input
  PlatWindow frameWindow = 0;
  // Input state as of the messages retrieved.
  uint8_t keys[256] = {};  // bit 0x80 down, 0x01 toggled
  uint8_t injected[256] = {};  // keys down as injected (ahead of keys), for auto-repeat
  // The character of each key's last key-down; -1: the US layout's.
  int16_t keyText[256];
  Sys() { std::fill(std::begin(keyText), std::end(keyText), int16_t(-1)); }
  int32_t mouseX = 0, mouseY = 0;
  bool altAlone = false;
  PlatWindow lastMoveWindow = 0;
  // Contexts made on window pixels, and what they paint into.
  std::map<PlatObj, std::shared_ptr<Pixels>> dcs;
};

Sys& TheSys();
// Under the lock.
Window* Find(Sys& s, PlatWindow w);
// Takes the lock and runs f(s, record); false with kPlatErrInvalidHandle
// (PlatLastError) for a window that does not exist.
template <typename F>
bool With(PlatWindow w, F f);
Queue& QueueOf(Sys& s, uint32_t thread);
Queue* ExistingQueue(Sys& s, uint32_t thread);
// The client rectangle in screen coordinates.
PlatRect ClientOf(const Window& w);
bool IsTopmost(const Window& w);
// A child window (kPlatWsChild): its owner is its parent.
inline bool IsChild(const Window& w) { return (w.style & kPlatWsChild) && w.owner; }
// Under the lock: moves the frames of the window's descendants by (dx, dy).
void ShiftChildren(Sys& s, PlatWindow w, int32_t dx, int32_t dy);
// Places w in the z-order directly behind insertAfter (or at the top or
// bottom of its band); the windows it owns come along in front of it.
void Place(Sys& s, PlatWindow w, PlatWindow insertAfter);
void Raise(uint32_t thread);

// Calls the procedure outside the lock (the lock must not be held).
PlatResult CallProc(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam);

// Provided by qx_input: cooks the next input event into a message (sending
// what the cooking sends on the way); false when the event made none.  The
// lock is not held.
bool CookInput(const Input& in, PlatMsg* out);
// The message an input event will become, without cooking (under the lock).
bool PreviewInput(Sys& s, const Input& in, PlatMsg* out);
// Provided by qx_paint: the topmost shown window of the thread that needs
// painting (under the lock), 0 for none.
PlatWindow NextPaint(Sys& s, uint32_t thread);
// Provided by qx_paint: sizes the retained surface to the client area,
// invalidating (and whitening) what it grows by (under the lock).
void SyncSurface(Sys& s, Window& w);
// Provided by qx_activate: activation that the system starts (a click, or
// passing to the owner): sends WindowPosChanging first and stops on
// no-activate.  Lock not held.
bool SystemActivate(PlatWindow w, uint32_t how);
// Called when a window hides or dies: ends its capture and passes activation
// on.  Lock not held.
void WindowGoing(PlatWindow w, PlatWindow owner);
// Checks the signal descriptor and posts Close to the frame (qx_display).
void CheckTermination();

void SetInvalidHandle();

template <typename F>
bool With(PlatWindow w, F f) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Window* rec = Find(s, w);
  if (!rec) {
    SetInvalidHandle();
    return false;
  }
  f(s, *rec);
  return true;
}

}  // namespace qxwin
