#include "shell/help.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "engine/exec/exec.h"
#include "engine/exec/postedcb.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/tipstrip.h"
#include "mgsource/window/wmisc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_display.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_thread.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "shell/viwindow.h"

namespace {

HelpState g{};
HelpObjectServices gServices{};

constexpr Rect kFirstRect{50, 50, 180, 290};
constexpr int32 kWindowWidth = 240, kRightGap = 60;
constexpr int32 kIconSize = 32;
constexpr int32 kWinHelpIndex = 3, kWinHelpKeyword = 0x101, kWinHelpQuit = 2;
constexpr int32 kSymbolicFolders = 4;

int16 Pin16(int64_t v) { return int16(std::clamp<int64_t>(v, -32768, 32767)); }
bool Same(const HelpTarget& a, const HelpTarget& b) {
  return a.heap == b.heap && a.object == b.object && a.part == b.part;
}
bool IsNull(const HelpTarget& t) { return !t.heap && !t.object; }
bool Matches(const HelpTarget& t, ObjHeap heap, int32 object) {
  return t.heap == heap && (object == 0 || t.object == object);
}
Point PointOf(int32 where) {
  Point p;
  std::memcpy(&p, &where, sizeof p);
  return p;
}
bool In(const Rect& r, Point p) { return DPtInRect(p, &r) != 0; }

struct PortScope {
  WPortState saved{};
  explicit PortScope(WindowRef w) { WSetup(w, &saved); }
  ~PortScope() { WRestore(&saved); }
};

// ---- Geometry ----------------------------------------------------------------------------
int32 BarWidth() { return PlatGetSystemMetric(kPlatMetricVScrollWidth); }
int32 BarHeight() { return PlatGetSystemMetric(kPlatMetricHScrollHeight); }

Rect Port() {
  Rect r{0, 0, 0, 0};
  if (g.window) WGetRect(g.window, &r);
  return r;
}
Rect Content() {
  const Rect p = Port();
  return Rect{p.top, p.left, Pin16(p.bottom - BarHeight()), Pin16(p.right - BarWidth())};
}
Rect VBarRect() {
  const Rect p = Port(), c = Content();
  return Rect{p.top, c.right, c.bottom, p.right};
}
Rect ButtonRect() {
  const Rect p = Port(), c = Content();
  return Rect{c.bottom, p.left, p.bottom, Pin16(p.left + BarHeight())};
}
Rect HBarRect() {
  const Rect p = Port(), c = Content();
  return Rect{c.bottom, Pin16(p.left + BarHeight()), p.bottom, c.right};
}
Rect GrowRect() {
  const Rect p = Port(), c = Content();
  return Rect{c.bottom, c.right, p.bottom, p.right};
}

// ---- Pictures ----------------------------------------------------------------------------
int32 LoadImage(int32 kind, int32 id) {
  int32 image = 0;
  if (IGet(RunTimeRsrcFile(), kind, id, &image, 1) != kNoErr) return 0;
  return image;
}
int32 DefaultImage() {
  const bool bw = g.window && WGetDepth(g.window) == 1;
  return LoadImage(kImagePicture, bw ? kHelpImageBWId : kHelpImageId);
}
void ReleaseOwned() {
  if (g.picture && g.owned) IRelease(g.picture);
  g.picture = 0;
  g.owned = false;
}
// The picture shown, the default one made the owned picture when none is.
int32 ShownPicture() {
  if (!g.picture) {
    g.picture = DefaultImage();
    g.owned = g.picture != 0;
  }
  return g.picture;
}

void Refresh() {
  if (!g.window) return;
  WInvalRect(g.window, nullptr);
  if (g.shown) WUpdate(g.window);
}

// ---- Targets -----------------------------------------------------------------------------
void StopTipTimer() { WKillTimer(kWRootWindow, kShellTipTimerId); }

UHandle OwnerVI(ObjHeap heap) { return heap && *heap ? PanelHeapOwner(heap) : nullptr; }

// An object (not a menu item) of a dialog: the unnamed VI of a dialog has kind 0.
bool DialogObject(const HelpTarget& t) {
  if (t.object < 1 || t.part < 1 || !t.heap || !*t.heap) return false;
  const UHandle vi = OwnerVI(t.heap);
  return vi && *vi && VIRec(vi)->viKind == 0;
}

int32 SendHelp(const HelpTarget& t) {
  if (t.object < 1 || !t.heap || !*t.heap || !gServices.sendHelp) return 0;
  PortScope port(g.window);
  return gServices.sendHelp(t.heap, t.object, t.part);
}

void ClearHelpTarget() {
  const ObjHeap heap = g.help.heap;
  g.help = HelpTarget{};
  StopTipTimer();
  ReleaseOwned();
  Refresh();
  if (heap) VIWindTrackCursor(heap, nullptr, 0);
}

// The dialog item that shows the object, 0 when none does.
int32 ItemOf(ObjHeap heap, int32 object) {
  const int32 n = DlgItemCount(heap);
  for (int32 i = 1; i <= n; ++i)
    if (DlgItemDisplay(heap, i) == object || DItemToDCOId(heap, i) == object) return i;
  return 0;
}

// ---- The window --------------------------------------------------------------------------
void CreateWindow(bool show) {
  Str255 title;
  if (RGetIndString(RunTimeRsrcFile(), title, kHelpTitleListId, kHelpTitleEntry) != kNoErr) {
    std::memcpy(title, "\x04Help", 5);
  }
  Rect r = kFirstRect;
  g.origin = Point{0, 0};
  Rect work{0, 0, 0, 0};
  WGetWorkAreaRect(Point{r.top, r.left}, &work);
  if (!g.limit.v && !g.limit.h)
    g.limit = Point{int16((work.bottom - work.top) / 3), int16((work.right - work.left) / 3)};
  r.left = Pin16(work.right - std::max<int32>(g.limit.h, kWindowWidth) - kRightGap);
  r.right = Pin16(r.left + kWindowWidth);
  PinWindowRect(&r, 0);
  g.window = WCreate(kHelpWindowStyle, title, &HelpWindowProc, &r, 0, show ? 1 : 0, 0);
  if (!g.window) DBAssert(__FILE__, __LINE__, "help window could not be made");
  g.shown = show && g.window;
}

void Draw() {
  if (!g.window) return;
  PortScope port(g.window);
  const Rect c = Content();
  const bool offscreen = PrefGet(kPrefOffscreenUpdates) != 0;
  Rect clipSave{0, 0, 0, 0};
  if (offscreen) IDrawOffscreen(&c, &clipSave);
  DSelectNormPen(kWhiteColor, kWhiteColor);
  DPaintRect(&c);
  const int32 picture = ShownPicture();
  Rect pr{0, 0, 0, 0};
  if (picture) IGetRect(picture, &pr);
  const int32 dv = c.top + kHelpMargin - g.origin.v - pr.top, dh = c.left + kHelpMargin - g.origin.h - pr.left;
  const Rect at{Pin16(pr.top + dv), Pin16(pr.left + dh), Pin16(pr.bottom + dv), Pin16(pr.right + dh)};
  if (picture) {
    Rect saved{0, 0, 0, 0};
    WSetClipRect(&c, &saved);
    IDraw(picture, nullptr, &at, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    WRestoreClip(&saved);
  }
  if (offscreen) ICopyOffscreen(&clipSave, 1);
  g.vbar = HelpBar{std::max(0, c.top - (at.top - kHelpMargin)), c.bottom - c.top,
                   std::max(at.bottom + kHelpMargin, int32(c.bottom)) - at.top};
  g.hbar = HelpBar{std::max(0, c.left - (at.left - kHelpMargin)), c.right - c.left,
                   std::max(at.right + kHelpMargin, int32(c.right)) - at.left};
  const Rect v = VBarRect(), h = HBarRect(), grow = GrowRect();
  DrawSBar(&v, g.vbar.value, g.vbar.page, g.vbar.maximum, nullptr, nullptr, 1);
  DrawSBar(&h, g.hbar.value, g.hbar.page, g.hbar.maximum, nullptr, nullptr, 0);
  WDrawGrowIcon(&grow);
  const Rect b = ButtonRect();
  DSelectNormPen(kWhiteColor, kWhiteColor);
  DPaintRect(&b);
  DSelectNormPen(kBlackColor, kBlackColor);
  DFrameRect(&b);
  const bool online = HelpGetVIHelpRef(g.help.heap, g.help.object, nullptr, nullptr) != 0;
  if (const int32 icon = LoadImage(kImageFamily, online ? kHelpIconOnline : kHelpIconNoOnline)) {
    const int32 mv = (b.top + b.bottom) / 2, mh = (b.left + b.right) / 2;
    const Rect ir{Pin16(mv - kIconSize / 2), Pin16(mh - kIconSize / 2), Pin16(mv + kIconSize / 2),
                  Pin16(mh + kIconSize / 2)};
    Rect saved{0, 0, 0, 0};
    WSetClipRect(&b, &saved);
    IDraw(icon, nullptr, &ir, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    WRestoreClip(&saved);
    IRelease(icon);
  }
}

void StopButtonTip() {
  if (g.window) {
    WKillTimer(g.window, kHelpButtonTimer);
    WKillTimer(g.window, kHelpButtonPollTimer);
  }
  WHideTipStrip();
}

Point LocalMouse() {
  Point p{0, 0};
  WGetGlobalMouse(&p);
  if (g.window) WGlobalToLocal(g.window, &p);
  return p;
}

void ButtonTimer(int32 id) {
  const Point now = LocalMouse();
  const bool still = now.v == g.tipPoint.v && now.h == g.tipPoint.h && In(ButtonRect(), now);
  WKillTimer(g.window, id);
  if (id == kHelpButtonTimer) {
    if (!still) return;
    Str255 text;
    if (RGetIndString(RunTimeRsrcFile(), text, kHelpButtonTipListId, kHelpButtonTipEntry) != kNoErr) return;
    Rect b = ButtonRect();
    Point tl{b.top, b.left}, br{b.bottom, b.right};
    WLocalToGlobal(g.window, &tl);
    WLocalToGlobal(g.window, &br);
    const Rect global{tl.v, tl.h, br.v, br.h};
    WShowTipStrip(text, &global);
    WStartTimer(g.window, kHelpButtonPollDelay, kHelpButtonPollTimer);
  } else if (!still) {
    WHideTipStrip();
  } else {
    WStartTimer(g.window, kHelpButtonPollDelay, kHelpButtonPollTimer);
  }
}

void Resized() {
  WInvalRect(g.window, nullptr);
  if (g.resizes == 0) {
    const Rect c = Content();
    g.limit = Point{Pin16(c.bottom - c.top - 16), Pin16(c.right - c.left - 16)};
  } else {
    --g.resizes;
  }
  if (!IsNull(g.help)) WUpdate(g.window);
}

void ScrollTrack(const WEventRecord* e, bool vertical) {
  const Rect bar = vertical ? VBarRect() : HBarRect();
  const int32 repeat = WTrackTimeout();
  WStartTrack();
  WEventRecord ev = *e;
  for (;;) {
    const HelpBar& b = vertical ? g.vbar : g.hbar;
    const int32 answer =
        TrackSBarEvent(&bar, PointOf(ev.where), ev.code, b.value, b.page, b.maximum, nullptr, nullptr, vertical);
    if (answer == 0) break;
    HelpScrollStep(answer, vertical);
    WGetTrackEvent(&ev, repeat);
  }
  WEndTrack();
  WInvalRect(g.window, &bar);
}

// ---- Online help -------------------------------------------------------------------------
Path CopyPath(Path p) {
  if (!p || !FIsAPathOrNotAPath(p)) return nullptr;
  Path copy = FEmptyPath(nullptr);
  if (copy && FPathCpy(copy, p) != kNoErr) {
    FDisposePath(copy);
    return nullptr;
  }
  return copy;
}

// The path made absolute: a symbolic folder first, then the folder of base.
// Null (the path disposed) when no absolute path can be made.
Path Absolute(Path p, Path base) {
  if (!p || !FIsAPath(p)) {
    if (p) FDisposePath(p);
    return nullptr;
  }
  if (FIsAbsPath(p)) return p;
  ResolveAppRelPath(p, kSymbolicFolders);
  if (FIsAbsPath(p)) return p;
  Path dir = FEmptyPath(nullptr), out = FEmptyPath(nullptr);
  const bool made = base && dir && out && FIsAbsPath(base) && FDirName(base, dir) == kNoErr &&
                    FAddPath(dir, p, out) == kNoErr && FIsAbsPath(out);
  if (dir) FDisposePath(dir);
  FDisposePath(p);
  if (made) return out;
  if (out) FDisposePath(out);
  return nullptr;
}

int32 WinHelp(Path p, int32 command, const std::string& keyword) {
  return WWinHelp(g.window ? g.window : kWRootWindow, p, command, keyword.c_str());
}

// ---- The user-interface thread -----------------------------------------------------------
// A call handed to the user-interface thread.  Inputs are copied in; the
// waiter reads the outputs only when the call finished.  Whoever lets go
// last (the waiter or the callback) frees it.
struct UICall {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  int32 refs = 2;
  int32 (*body)(UICall*) = nullptr;
  int32 result = 0;
  // ControlHelpWindow / GetHelpWindowStatus
  bool hasWhere = false, hasShow = false;
  Point where{0, 0};
  uChar show = 0, shown = 0;
  // ControlOnlineHelp
  Path file = nullptr, relativeTo = nullptr;
  bool hasKeyword = false;
  std::string keyword;
  int32 command = 0;
};

void Release(UICall* c) {
  bool last;
  {
    std::lock_guard<std::mutex> lock(c->m);
    last = --c->refs == 0;
  }
  if (!last) return;
  if (c->file) FDisposePath(c->file);
  if (c->relativeTo) FDisposePath(c->relativeTo);
  delete c;
}

int32 RunPosted(int32 arg) {
  UICall* c = reinterpret_cast<UICall*>(uintptr_t(uInt32(arg)));
  const int32 result = c->body(c);
  {
    std::lock_guard<std::mutex> lock(c->m);
    c->result = result;
    c->done = true;
  }
  c->cv.notify_all();
  Release(c);
  return 0;
}

bool OnUIThread() {
  const uint32_t ui = PlatWindowSystemThread();
  return !ui || ui == PlatThreadCurrentId();
}

bool Abandoned() { return ShellShutDownRequested() || WQuitting() || ExecAbortInProgress(); }

// Runs the call's body here on the user-interface thread, else posts it
// there and waits; 1 (for the caller's answer) when the wait was abandoned.
int32 OnUI(UICall* c, bool* finished) {
  *finished = false;
  if (OnUIThread()) {
    c->result = c->body(c);
    *finished = true;
    const int32 result = c->result;
    Release(c);  // the share a posted callback would have held
    return result;
  }
  PostedCallbackRec rec{&RunPosted, int32(uintptr_t(c)), 0, nullptr, nullptr, 0, nullptr};
  if (PostCallback(rec) != kNoErr) {
    Release(c);  // the callback's share: it will never run
    return kMemFullErr;
  }
  std::unique_lock<std::mutex> lock(c->m);
  while (!c->done) {
    if (Abandoned()) return 1;
    c->cv.wait_for(lock, std::chrono::milliseconds(10));
  }
  *finished = true;
  return c->result;
}

int32 ControlBody(UICall* c) {
  if (c->hasShow) {
    if (c->show) HelpWindowOpen(1);
    else HelpWindowHide();
  }
  if (c->hasWhere) {
    if (!g.window) CreateWindow(false);
    if (g.window) WMove(g.window, c->where.v, c->where.h);
  }
  return kNoErr;
}

int32 StatusBody(UICall* c) {
  c->shown = g.window && g.shown ? 1 : 0;
  if (c->hasWhere) {
    if (!g.window) CreateWindow(false);
    Rect r{0, 0, 0, 0};
    if (g.window) WGetGlobalRect(g.window, &r);
    c->where = Point{r.top, r.left};
  }
  return kNoErr;
}

int32 OnlineBody(UICall* c) {
  static const int32 kCommands[3] = {kWinHelpIndex, kWinHelpKeyword, kWinHelpQuit};
  Path p = c->file ? c->file : CopyPath(g.files[1]);
  c->file = nullptr;
  p = Absolute(p, c->relativeTo);
  if (!p) return 2;
  const int32 answer = WinHelp(p, kCommands[c->command], c->keyword);
  FDisposePath(p);
  return answer;
}

// A string handle of either zone (diagrams hand data-zone ones); its count
// is trusted only as far as the handle reaches.
std::string LStrText(LStrHandle h) {
  UHandle u = reinterpret_cast<UHandle>(h);
  int32 size = 0;
  if (u && AZIsHandle(u)) size = AZGetHandleSize(u);
  else if (u && DSCheckHandle(u) == kNoErr) size = DSGetHandleSize(u);
  if (size < 4 || !*u) return std::string();
  const int64_t count = std::clamp<int64_t>(int32(GetNative32(*u)), 0, size - 4);
  return std::string(reinterpret_cast<const char*>(*u) + 4, size_t(count));
}

}  // namespace

const HelpState& HelpStateNow() { return g; }
void HelpSetObjectServices(const HelpObjectServices& services) { gServices = services; }
const HelpObjectServices& HelpObjectServicesInUse() { return gServices; }

MgErr ControlHelpWindow(const Point* where, const uChar* show) {
  UICall* c = new UICall;
  c->body = &ControlBody;
  c->hasWhere = where != nullptr;
  if (where) c->where = *where;
  c->hasShow = show != nullptr;
  if (show) c->show = *show;
  bool finished;
  const MgErr err = OnUI(c, &finished);
  Release(c);
  return err;
}

MgErr GetHelpWindowStatus(Point* where, uChar* shown) {
  UICall* c = new UICall;
  c->body = &StatusBody;
  c->hasWhere = where != nullptr;
  bool finished;
  const MgErr err = OnUI(c, &finished);
  if (finished) {
    if (where) *where = c->where;
    if (shown) *shown = c->shown;
  }
  Release(c);
  return err;
}

int32 ControlOnlineHelp(Path file, LStrHandle keyword, int32 command, Path relativeTo) {
  if (command < 0 || command > 2) return 1;
  UICall* c = new UICall;
  c->body = &OnlineBody;
  c->command = command;
  c->file = file ? CopyPath(file) : nullptr;
  c->relativeTo = relativeTo ? CopyPath(relativeTo) : nullptr;
  if (keyword) c->keyword = LStrText(keyword);
  if (file && !c->file) {
    Release(c);
    Release(c);
    return 2;
  }
  bool finished;
  const int32 answer = OnUI(c, &finished);
  Release(c);
  return answer;
}

void HelpWindowOpen(Bool32 front) {
  if (!g.window) CreateWindow(true);
  else if (front) WBringToFront(g.window);
  if (!g.window) return;
  WShow(g.window);
  g.shown = true;
  if (g.pending) HelpShowPending();
  WUpdate(g.window);
}

void HelpWindowHide() {
  if (g.window) WHide(g.window);
  g.shown = false;
}

void HelpSetTipTarget(ObjHeap heap, int32 object, int32 part) {
  const HelpTarget t{heap, object, part};
  if (Same(t, g.tip)) {
    if (IsNull(t)) {
      g.pending = false;
      g.tip = HelpTarget{};
      StopTipTimer();
    }
    return;
  }
  if (!IsNull(t) && (g.shown || DialogObject(t))) WStartTimer(kWRootWindow, kHelpTipDelay, kShellTipTimerId);
  else StopTipTimer();
  g.tip = t;
  g.pending = true;
}

void HelpClearTarget(ObjHeap heap, int32 object) {
  if (!heap && !object) {
    const bool help = !IsNull(g.help);
    g.tip = HelpTarget{};
    if (help) ClearHelpTarget();
    return;
  }
  if (Matches(g.help, heap, object)) {
    g.tip = HelpTarget{};
    ClearHelpTarget();
  } else if (Matches(g.tip, heap, object)) {
    g.tip = HelpTarget{};
  }
}

void HelpForgetObject(ObjHeap heap, int32 object) {
  if (!heap) return;
  if (Matches(g.tip, heap, object)) g.tip = HelpTarget{};
  if (Matches(g.help, heap, object)) {
    g.help = HelpTarget{};
    StopTipTimer();
    ReleaseOwned();
    Refresh();
  }
}

void HelpShowPending() {
  StopTipTimer();
  if (g.window && g.shown && !IsNull(g.tip)) {
    if (Same(g.tip, g.help)) return;
    const HelpTarget former = g.help;
    g.help = g.tip;
    g.origin = Point{0, 0};
    SendHelp(g.help);
    if (g.pending) {
      g.help = former;
      g.pending = false;
    }
    return;
  }
  if (!g.shown && DialogObject(g.tip)) {
    g.origin = Point{0, 0};
    DlgSendItemHelp(g.tip.heap, ItemOf(g.tip.heap, g.tip.object));
  }
}

void HelpSetImage(int32 picture) {
  if (g.picture != picture) ReleaseOwned();
  g.picture = picture ? picture : DefaultImage();
  g.owned = g.picture != 0;
  if (g.window && g.picture) {
    Rect pr{0, 0, 0, 0};
    IGetRect(g.picture, &pr);
    auto bound = [](int32 size, int32 limit) { return std::min(std::max(size, kHelpMinSize), std::max(limit, kHelpMinSize)); };
    const int32 ph = bound(pr.bottom - pr.top, g.limit.v), pw = bound(pr.right - pr.left, g.limit.h);
    const Rect c = Content();
    const int32 ah = c.bottom - c.top - BarHeight() - kHelpMargin, aw = c.right - c.left - BarWidth() - kHelpMargin;
    const bool misfit = ph > ah || pw > aw || ph < ah / 2 || pw < aw / 2 || ah - ph > 50 || aw - pw > 50;
    if (g.pending && misfit) {
      Rect r{0, 0, 0, 0};
      WGetGlobalRect(g.window, &r);
      r.bottom = Pin16(r.top + ph + kHelpMargin + BarHeight() + 8);
      r.right = Pin16(r.left + pw + kHelpMargin + BarWidth() + 16);
      PinWindowRect(&r, 0);
      ++g.resizes;
      WSize(g.window, &r);
    }
    if (g.shown) Refresh();
  }
  g.pending = false;
}

void HelpUpdateIfShowing(ObjHeap heap, int32 object) {
  if (!g.window || !g.shown || g.help.heap != heap || g.help.object != object) return;
  g.pending = true;
  SendHelp(g.help);
  g.pending = false;
}

void HelpSetOnlineRef(Path path, ConstCStr keyword) {
  if (g.onlinePath) FDisposePath(g.onlinePath);
  g.onlinePath = path ? CopyPath(path) : FNotAPath(nullptr);
  g.onlineKeyword = keyword ? std::string(reinterpret_cast<const char*>(keyword)) : std::string();
}

int32 HelpOpenOnline() {
  if (!g.onlinePath || !FIsAPath(g.onlinePath)) return 2;
  return WinHelp(g.onlinePath, g.onlineKeyword.empty() ? kWinHelpIndex : kWinHelpKeyword, g.onlineKeyword);
}

int32 HelpOpenOnlineForObj(ObjHeap heap, int32 object) {
  Path p = nullptr;
  Str255 keyword;
  if (!HelpGetVIHelpRef(heap, object, &p, keyword)) return 2;
  const std::string k(reinterpret_cast<const char*>(keyword + 1), keyword[0]);
  const int32 answer = WinHelp(p, k.empty() ? kWinHelpIndex : kWinHelpKeyword, k);
  FDisposePath(p);
  return answer;
}

int32 HelpGetVIHelpRef(ObjHeap heap, int32 object, Path* file, PStr keyword) {
  if (file) *file = nullptr;
  if (keyword) keyword[0] = 0;
  if (!heap || !*heap || object < 1 || !gServices.viOf) return 0;
  return HelpVIRef(gServices.viOf(heap, object), file, keyword);
}

int32 HelpVIRef(UHandle vi, Path* file, PStr keyword) {
  if (file) *file = nullptr;
  if (keyword) keyword[0] = 0;
  if (!vi || !*vi) return 0;
  if (keyword) {
    const std::string k = LStrText(reinterpret_cast<LStrHandle>(VIRec(vi)->helpTag));
    keyword[0] = uChar(std::min<size_t>(k.size(), 255));
    std::memcpy(keyword + 1, k.data(), keyword[0]);
  }
  Path p = Absolute(CopyPath(VIRec(vi)->helpPath), VIRec(vi)->path);
  FileInfoRec info{};
  const bool online = p && FGetInfo(p, &info) == kNoErr;
  if (online && file) *file = p;
  else if (p) FDisposePath(p);
  return online ? 1 : 0;
}

Bool32 HelpOnlineRefValid(Path path, ConstPStr tag) {
  Path p = Absolute(CopyPath(path), nullptr);
  FileInfoRec info{};
  const bool valid = p && FGetInfo(p, &info) == kNoErr;
  if (valid) {
    const std::string k = tag ? std::string(reinterpret_cast<const char*>(tag + 1), tag[0]) : std::string();
    HelpSetOnlineRef(p, reinterpret_cast<ConstCStr>(k.c_str()));
  }
  if (p) FDisposePath(p);
  return valid ? 1 : 0;
}

int32 HelpOpenOnlineForVI(UHandle vi) {
  Path p = nullptr;
  Str255 keyword;
  if (!HelpVIRef(vi, &p, keyword)) return 2;
  const std::string k(reinterpret_cast<const char*>(keyword + 1), keyword[0]);
  const int32 answer = WinHelp(p, k.empty() ? kWinHelpIndex : kWinHelpKeyword, k);
  FDisposePath(p);
  return answer;
}

void HelpInitFiles() {
  for (Path& p : g.files) {
    if (p) FDisposePath(p);
    p = nullptr;
  }
  Path dir = FEmptyPath(nullptr);
  if (dir && GetHelpDirPath(dir) == kNoErr) {
    for (int32 i = 0; i < kHelpFileCount; ++i) {
      Str255 name;
      if (RGetIndString(RunTimeRsrcFile(), name, kHelpFileListId, i + 1) != kNoErr || !name[0]) continue;
      Path p = CopyPath(dir);
      if (p && FAppendName(p, name) == kNoErr && FExists(p) == 1) g.files[i] = p;
      else if (p) FDisposePath(p);
    }
  }
  if (dir) FDisposePath(dir);
  HelpSetOnlineRef(nullptr, nullptr);
}

void HelpQuit() {
  for (Path& p : g.files) {
    if (!p) continue;
    WWinHelp(kWRootWindow, p, kWinHelpQuit, nullptr);
    FDisposePath(p);
    p = nullptr;
  }
  if (g.onlinePath) FDisposePath(g.onlinePath);
  g.onlinePath = nullptr;
  g.onlineKeyword.clear();
}

void UpdateHelpForPanel(ObjHeap panel) {
  const UHandle vi = OwnerVI(panel);
  const bool help = vi && *vi && (VIRec(vi)->viKind != 0 || (gServices.hasDescription && gServices.hasDescription(panel)));
  if (help) {
    if (!g.shown && g.hiddenByFollow) {
      g.hiddenByFollow = false;
      HelpWindowOpen(1);
    }
  } else if (g.window && g.shown) {
    HelpWindowHide();
    g.hiddenByFollow = true;
  }
}

int32 HelpWindowProc(WEventRecord* e, uInt32) {
  if (!e) return 0;
  switch (e->code) {
    case weWindCreate: g.window = e->window; return 0;
    case weMouseDown: {
      const Point at = PointOf(e->where);
      if (In(VBarRect(), at)) ScrollTrack(e, true);
      else if (In(HBarRect(), at)) ScrollTrack(e, false);
      else if (In(ButtonRect(), at)) HelpOpenOnlineForObj(g.help.heap, g.help.object);
      StopButtonTip();
      return 0;
    }
    case weMouseMove: {
      StopButtonTip();
      const Point at = PointOf(e->where);
      if (In(ButtonRect(), at)) WStartTimer(g.window, kHelpButtonDelay, kHelpButtonTimer);
      g.tipPoint = at;
      return 0;
    }
    case weKey:
      if (const WindowRef front = WActiveDocWind()) {
        e->window = front;
        WSendEvent(e);
      }
      return 0;
    case weWindDeactivate:
    case 46: StopButtonTip(); return 0;
    case weWindSize: Resized(); return 0;
    case weWindDraw: Draw(); return 0;
    case kWEvClose: HelpWindowHide(); return 0;
    case kShellEvTimer: ButtonTimer(e->where); return 0;
    default: return 0;
  }
}

void HelpScrollStep(int32 answer, bool vertical) {
  if (!g.window) return;
  const HelpBar& b = vertical ? g.vbar : g.hbar;
  bool horizontal = false;
  const int32 step = VIWindScrollStep(answer, b.value, b.page, b.maximum, &horizontal);
  if (!step || horizontal == vertical) return;
  const int32 dv = vertical ? step : 0, dh = vertical ? 0 : step;
  g.origin = Point{Pin16(g.origin.v + dv), Pin16(g.origin.h + dh)};
  (vertical ? g.vbar : g.hbar).value += step;
  {
    PortScope port(g.window);
    const Rect c = Content();
    DScrollRect(&c, -dh, -dv, 1, kWhiteColor, kWhiteColor);
  }
  WUpdate(g.window);
}

void HelpReset() {
  if (g.window) WDestroy(g.window);
  ReleaseOwned();
  for (Path& p : g.files)
    if (p) FDisposePath(p);
  if (g.onlinePath) FDisposePath(g.onlinePath);
  g = HelpState{};
}
