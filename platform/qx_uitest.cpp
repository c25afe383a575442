#include "qx_uitest.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "qx_display.h"
#include "qx_file.h"
#include "qx_input.h"
#include "qx_paint.h"
#include "qx_png.h"
#include "qx_time.h"
#include "qx_uitest_script.h"

namespace {

// Scripts larger than this are refused unread.
constexpr long kMaxScriptBytes = 16L << 20;
constexpr uint32_t kEventStepMs = 10;

struct Tooling {
  std::mutex lock;
  bool logging = false;
  std::vector<PlatUiLogEntry> log;
  uint32_t time = 0;
};

Tooling& TheTooling() {
  static Tooling* t = new Tooling;
  return *t;
}

uint32_t NextTime() {
  Tooling& t = TheTooling();
  std::lock_guard<std::mutex> g(t.lock);
  const uint32_t now = PlatTickMs();
  // Never backwards, and apart by a step even when injected at once.
  t.time = (t.time == 0 || int32_t(now - t.time) > int32_t(kEventStepMs)) ? now : t.time + kEventStepMs;
  return t.time;
}

bool Pumped(bool injected) {
  if (!injected) return false;
  PlatUiPump();
  return true;
}

bool Key(uint32_t vk, bool down) { return Pumped(PlatInjectKey(vk, down, NextTime())); }

constexpr struct {
  uint32_t mod, vk;
} kModifierKeys[] = {{kScriptCtrl, kPlatVkControl}, {kScriptAlt, kPlatVkAlt}, {kScriptShift, kPlatVkShift}};

bool WriteSurface(const PlatSurface* s, const char* path) { return PlatPngWriteFile(s, path) == 0; }

// The shown windows, front first.
std::vector<PlatWindow> ShownWindows() {
  std::vector<PlatWindow> all(size_t(PlatWindowZOrder(nullptr, 0)));
  all.resize(size_t(PlatWindowZOrder(all.data(), int32_t(all.size()))));
  std::vector<PlatWindow> shown;
  for (PlatWindow w : all)
    if (PlatIsWindowVisible(w)) shown.push_back(w);
  return shown;
}

std::string TitleOf(PlatWindow w) {
  const int32_t len = PlatWindowGetTitle(w, nullptr, 0);
  if (len <= 0) return std::string();
  std::string title(size_t(len) + 1, '\0');
  PlatWindowGetTitle(w, title.data(), len + 1);
  title.resize(size_t(len));
  return title;
}

int32_t Stop(const char* path, int32_t line, const std::string& what, int32_t status) {
  std::fprintf(stderr, "%s:%d: %s\n", path, int(line), what.c_str());
  std::fflush(stderr);
  return status;
}

bool ReadScript(const char* path, std::string* text, std::string* why) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    *why = std::string("cannot open the script: ") + std::strerror(errno);
    return false;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (text->size() + n > size_t(kMaxScriptBytes)) {
      std::fclose(f);
      *why = "script too large";
      return false;
    }
    text->append(buf, n);
  }
  const bool bad = std::ferror(f);
  std::fclose(f);
  if (bad) *why = "cannot read the script";
  return !bad;
}

std::atomic<PlatUiIdleTurn> gIdleTurn{nullptr};

// One step; false with what went wrong.
bool RunStep(const PlatScriptStep& s, std::string* why) {
  switch (s.op) {
    case kScriptWait: {
      const PlatUiIdleTurn turn = gIdleTurn.load();
      if (!turn) {
        PlatUiPump();
        return true;
      }
      for (const uint32_t start = PlatTickMs(); PlatTickMs() - start < 60000;)
        if (turn()) return true;
      *why = "still busy after 60 s";
      return false;
    }
    case kScriptWaitFile: {
      // Messages sent from other threads are handled while it waits.
      struct stat st;
      for (const uint32_t start = PlatTickMs(); PlatTickMs() - start < 60000; PlatSleepMs(5)) {
        PlatUiPump();
        if (stat(s.text.c_str(), &st) == 0) return true;
      }
      *why = "no file " + s.text + " after 60 s";
      return false;
    }
    case kScriptClick:
      if (PlatUiClick(s.x, s.y)) return true;
      *why = "the click was refused";
      return false;
    case kScriptKey:
      if (PlatUiKey(s.key, s.mods)) return true;
      *why = "the key was refused";
      return false;
    case kScriptType:
      if (PlatUiType(s.text)) return true;
      *why = "a character of the text has no key";
      return false;
    case kScriptWheel:
      if (PlatUiWheel(s.steps, s.x, s.y)) return true;
      *why = "the wheel was refused";
      return false;
    case kScriptSnapshot:
      if (PlatUiSnapshot(s.text.c_str()) == 0) return true;
      *why = "cannot write " + s.text;
      return false;
    case kScriptSnapshotWindow: {
      const int32_t err = PlatUiSnapshotWindow(s.title.c_str(), s.text.c_str());
      if (err == 0) return true;
      *why = err == kPlatErrFileNotFound ? "no shown window titled \"" + s.title + "\"" : "cannot write " + s.text;
      return false;
    }
    case kScriptQuit:
      PlatPostQuitMessage(0);
      return true;
  }
  *why = "unknown step";
  return false;
}

}  // namespace

void PlatUiSetIdleHook(PlatUiIdleTurn turn) { gIdleTurn.store(turn); }

int32_t PlatUiPump(int32_t limit) {
  int32_t count = 0;
  PlatMsg m;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
    if (m.message == kPlatMsgQuit) {
      // Left for the caller's own loop, as it was posted.
      PlatPostQuitMessage(int32_t(m.wParam));
      break;
    }
    if (count == limit) return -1;
    PlatTranslateMessage(&m);
    PlatDispatchMessage(&m);
    ++count;
  }
  return count;
}

bool PlatUiMove(int32_t x, int32_t y) { return Pumped(PlatInjectMouseMove(x, y, NextTime())); }

bool PlatUiClick(int32_t x, int32_t y) {
  // The release is queued behind the press before either is handled, as a
  // real click's is: a control that tracks the mouse until the button is up
  // sees the release in its own loop.
  if (!PlatUiMove(x, y) || !PlatInjectMouseButton(kPlatButtonLeft, true, x, y, NextTime())) return false;
  return Pumped(PlatInjectMouseButton(kPlatButtonLeft, false, x, y, NextTime()));
}

bool PlatUiKey(uint32_t vk, uint32_t mods) {
  bool ok = true;
  for (const auto& m : kModifierKeys)
    if (mods & m.mod) ok = Key(m.vk, true) && ok;
  ok = ok && Key(vk, true) && Key(vk, false);
  // Modifiers are let go whatever happened, in the reverse order.
  for (size_t i = std::size(kModifierKeys); i-- > 0;)
    if (mods & kModifierKeys[i].mod) Key(kModifierKeys[i].vk, false);
  return ok;
}

bool PlatUiType(const std::string& text) {
  for (char c : text) {
    const int32_t k = PlatVkKeyScan(c);
    if (k < 0) return false;
    if (!PlatUiKey(uint32_t(k & 0xFF), (k & 0x100) ? uint32_t(kScriptShift) : 0u)) return false;
  }
  return true;
}

bool PlatUiWheel(int32_t steps, int32_t x, int32_t y) {
  return PlatUiMove(x, y) && Pumped(PlatInjectMouseWheel(steps * kPlatWheelStep, x, y, NextTime()));
}

bool PlatUiOleDrag(PlatDataObject* data, const std::vector<PlatScreenPoint>& points, bool drop, uint32_t* effect) {
  if (effect) *effect = kPlatDropEffectNone;
  if (!data || points.empty()) return false;
  data->AddRef();
  PlatWindow over = 0;
  PlatDropTarget* target = nullptr;
  const auto leave = [&] {
    if (!target) return;
    target->DragLeave();
    PlatUiPump();
    target->Release();
    target = nullptr;
    over = 0;
  };
  for (size_t i = 0; i < points.size(); ++i) {
    const PlatScreenPoint at = points[i];
    const PlatWindow w = PlatWindowFromPoint(at.x, at.y);
    if (w != over) {
      leave();
      over = w;
      if ((target = w ? PlatDropTargetOf(w) : nullptr)) {
        uint32_t e = kPlatDropEffectCopy;
        target->DragEnter(data, kPlatDragLeftButton, at, &e);
        if (effect) *effect = e;
        PlatUiPump();
      }
    } else if (target) {
      uint32_t e = kPlatDropEffectCopy;
      target->DragOver(kPlatDragLeftButton, at, &e);
      if (effect) *effect = e;
      PlatUiPump();
    }
  }
  if (drop && target) {
    uint32_t e = kPlatDropEffectCopy;
    target->Drop(data, 0, points.back(), &e);
    if (effect) *effect = e;
    PlatUiPump();
    target->Release();
    target = nullptr;
  }
  leave();
  data->Release();
  return true;
}

void PlatUiLogStart() {
  Tooling& t = TheTooling();
  std::lock_guard<std::mutex> g(t.lock);
  t.log.clear();
  t.logging = true;
}

std::vector<PlatUiLogEntry> PlatUiLogStop() {
  Tooling& t = TheTooling();
  std::lock_guard<std::mutex> g(t.lock);
  t.logging = false;
  return std::move(t.log);
}

void PlatUiLog(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  Tooling& t = TheTooling();
  std::lock_guard<std::mutex> g(t.lock);
  if (t.logging) t.log.push_back(PlatUiLogEntry{w, message, wParam, lParam});
}

int32_t PlatUiSnapshot(const char* path) {
  PlatSurface* s = PlatSurfaceCreate(1, 1, kPlatRgb32);
  if (!s) return kPlatErrNoMemory;
  int32_t err = PlatGetDisplay()->Compose(s) ? 0 : kPlatErrGeneral;
  if (err == 0 && !WriteSurface(s, path)) err = kPlatErrGeneral;
  PlatSurfaceDestroy(s);
  return err;
}

int32_t PlatUiSnapshotWindow(const char* title, const char* path) {
  for (PlatWindow w : ShownWindows()) {
    if (TitleOf(w) != title) continue;
    const PlatSurface* s = PlatWindowSurface(w);
    return s && WriteSurface(s, path) ? 0 : kPlatErrGeneral;
  }
  return kPlatErrFileNotFound;
}

int32_t PlatUiRunScript(const char* path) {
  std::string text, why;
  if (!ReadScript(path, &text, &why)) return Stop(path, 0, why, 2);
  std::vector<PlatScriptStep> steps;
  int32_t badLine = 0;
  if (!PlatScriptParse(text.data(), text.size(), &steps, &badLine, &why)) return Stop(path, badLine, why, 2);
  for (const PlatScriptStep& s : steps) {
    if (!RunStep(s, &why)) return Stop(path, s.line, why, 1);
    if (s.op == kScriptQuit) break;
  }
  return 0;
}

int32_t PlatUiRunScriptFromEnv() {
  const char* path = std::getenv("QX_INPUT_SCRIPT");
  return path && *path ? PlatUiRunScript(path) : 0;
}

int32_t PlatUiSnapshotAtExit() {
  const char* dir = std::getenv("QX_SNAPSHOT_AT_EXIT");
  if (!dir || !*dir) return 0;
  if (mkdir(dir, 0777) != 0 && errno != EEXIST) return 0;
  const std::string base(dir);
  int32_t written = PlatUiSnapshot((base + "/screen.png").c_str()) == 0 ? 1 : 0;
  int32_t n = 0;
  for (PlatWindow w : ShownWindows()) {
    const PlatSurface* s = PlatWindowSurface(w);
    if (s && WriteSurface(s, (base + "/window-" + std::to_string(++n) + ".png").c_str())) ++written;
  }
  return written;
}
