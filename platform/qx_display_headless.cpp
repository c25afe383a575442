#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "qx_display.h"
#include "qx_msgqueue.h"
#include "qx_thread.h"
#include "qx_winsys_internal.h"

using namespace qxwin;

namespace {

constexpr uint32_t kDesktop = 0x808080;
constexpr uint32_t kFace = 0xC0C0C0;

class HeadlessDisplay : public PlatDisplay {
 public:
  const char* Name() const override { return "headless"; }
  int32_t Width() const override { return PlatSurfaceWidth(PlatScreenSurface()); }
  int32_t Height() const override { return PlatSurfaceHeight(PlatScreenSurface()); }
  uint32_t DesktopColour() const override { return kDesktop; }
  bool Compose(PlatSurface* out) override {
    if (!out || !PlatSurfaceResize(out, Width(), Height())) return false;
    PlatSurfaceClear(out, kDesktop);
    Sys& s = TheSys();
    std::lock_guard<std::mutex> g(s.lock);
    for (auto it = s.z.rbegin(); it != s.z.rend(); ++it) {
      Window* r = Find(s, *it);
      if (!r || !r->shown || r->sizeState == kMinimized) continue;
      for (int32_t y = r->frame.top; y < r->frame.bottom; ++y)
        for (int32_t x = r->frame.left; x < r->frame.right; ++x) PlatSurfaceSetPixel(out, x, y, kFace);
      const PlatRect c = ClientOf(*r);
      const PlatSurface* src = r->pixels->surface;
      for (int32_t y = 0; y < PlatSurfaceHeight(src); ++y)
        for (int32_t x = 0; x < PlatSurfaceWidth(src); ++x)
          PlatSurfaceSetPixel(out, c.left + x, c.top + y, PlatSurfaceGetPixel(src, x, y));
    }
    return true;
  }
};

HeadlessDisplay gHeadless;
std::atomic<PlatDisplayBackend*> gBackend{nullptr};
std::atomic<PlatDisplay*> gDisplay{&gHeadless};
std::atomic<int> gSignalWrite{-1};
std::atomic<bool> gTerminate{false};

void OnSignal(int) {
  const int fd = gSignalWrite.load();
  if (fd >= 0) {
    const char b = 1;
    (void)!write(fd, &b, 1);
  }
}

// Reads the descriptor the handler writes to and wakes the window thread,
// which posts Close itself.
void Watch(int fd) {
  for (;;) {
    char b;
    const ssize_t n = read(fd, &b, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    gTerminate.store(true);
    PlatThreadRaiseInput(PlatWindowSystemThread());
  }
}

}  // namespace

namespace qxwin {

void CheckTermination() {
  if (!gTerminate.load(std::memory_order_relaxed)) return;
  Sys& s = TheSys();
  PlatWindow frame;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (PlatThreadCurrentId() != s.uiThread) return;
    frame = s.frameWindow;
  }
  // Kept until there is a frame to close: a signal during start-up is not lost.
  if (frame && gTerminate.exchange(false)) PlatPostMessage(frame, kPlatMsgClose, 0, 0);
}

}  // namespace qxwin

bool PlatComposeHeadless(PlatSurface* out) { return gHeadless.Compose(out); }

void PlatRegisterDisplayBackend(PlatDisplayBackend* backend) { gBackend.store(backend); }

bool PlatWindowSystemStart() {
  const char* ui = std::getenv("QX_UI");
  PlatDisplayBackend* backend = gBackend.load();
  const bool other = ui && *ui && std::strcmp(ui, "headless") != 0;
  if (other && (!backend || std::strcmp(ui, backend->Name()) != 0)) return false;
  Sys& s = TheSys();
  const uint32_t me = PlatThreadCurrentId();
  PlatThreadRegisterInput();
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.uiThread = me;
    QueueOf(s, me);
  }
  if (gSignalWrite.load() < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    gSignalWrite.store(fds[1]);
    std::thread(Watch, fds[0]).detach();
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
  }
  if (other && gDisplay.load() != backend) {
    if (backend->Open()) {
      gDisplay.store(backend);
    } else {
      std::fprintf(stderr, "quenlix: no %s display could be opened; running headless\n", ui);
    }
  }
  return true;
}

PlatDisplay* PlatGetDisplay() { return gDisplay.load(); }

uint32_t PlatWindowSystemThread() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return s.uiThread;
}

void PlatSetFrameWindow(PlatWindow w) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  s.frameWindow = w;
}

PlatWindow PlatGetFrameWindow() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return Find(s, s.frameWindow) ? s.frameWindow : 0;
}
