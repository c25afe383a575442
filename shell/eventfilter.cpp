#include "shell/eventfilter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/datamgr.h"
#include "engine/exec/exec.h"
#include "engine/exec/runcmd.h"
#include "engine/link/loadmethods.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/menus.h"
#include "shell/appprint.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/shellinit.h"
#include "shell/toplevel.h"
#include "shell/userevent.h"

// The calling thread's countdown register cleared (shell/background.cpp,
// beside the engine's code header).
void ShellClearExecCountdown();

namespace {

ShellEventHooks gHooks{};
std::atomic<bool> gShutDown{false};

// The quit notifications: the quit occurrence and the registered ones,
// newest first.  Only the user-interface thread and external code called
// from it change them; the mutex keeps a worker's shut-down request whole.
// Lock order: gQuitMutex first, then the occurrence manager's and the
// memory manager's own locks (AllocOccur, DeallocOccur, the list's handle
// calls run under it); the registered occurrences are fired only after it
// is released, and nothing takes gQuitMutex with those locks held.
std::mutex gQuitMutex;
Occurrence gQuitOccurrence = 0;
UHandle gQuitList = nullptr;  // 32-bit occurrences

int32 QuitCount() { return gQuitList ? AZGetHandleSize(gQuitList) / 4 : 0; }

// The application's command, unless a test put another in its place.
int32 MenuCommand(int32 menu, int32 item, int32 command) {
  return gHooks.appMenuCommand ? gHooks.appMenuCommand(menu, item, command) : ::AppMenuCommand(menu, item, command);
}

int32 MenuEnableUpdate() { return gHooks.menuEnableUpdate ? gHooks.menuEnableUpdate(kWNoWindow) : 0; }

Bool32 AnyVILoaded() {
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next)
    if (vi != RootVI()) return 1;
  return 0;
}

// The start event: the application's first VIs, unless a VI window is
// open already; quit when nothing stayed loaded.
void StartEvent() {
  if (AnyVIWindowOpen()) return;
  DestroySplashWindow();
  if (IsBuiltApp()) OpenLibraryTopLevelVIs(nullptr, kOpenVIOpenPanel);
  else ShellOpenVIFile(nullptr, nullptr, kOpenVIOpenPanel);
  if (!AnyVILoaded()) WPostQuitEvent();
}

// The open-document event: word 2 the path (the event's until the open
// takes it), a 16-bit print flag at byte 12, the load-status owner at byte
// 14 (-2 none).
void OpenDocumentEvent(WEventRecord* e) {
  const uChar* bytes = reinterpret_cast<const uChar*>(e);
  int16 print = 0;
  int32 owner = 0;
  std::memcpy(&print, bytes + 12, sizeof print);
  std::memcpy(&owner, bytes + 14, sizeof owner);
  Path path = reinterpret_cast<Path>(uintptr_t(uInt32(e->where)));
  if (!path) return;
  const Bool32 library = LocateVIFile(path, FourCC("QXAR"));
  FRefreshPathName(path);
  Str255 format, name, status;
  if (RGetIndString(RunTimeRsrcFile(), format, kShellLoadingListId, 1) == kNoErr && FNamePtr(path, name) == kNoErr) {
    PPrintfp(status, format, name);
    if (ShellStartHooksInUse().splashStatus) ShellStartHooksInUse().splashStatus(status, 0, 0);
  }
  const bool status2 = owner != -2;
  if (status2) BeginLoadStatus();
  const int32 flags = print ? kOpenVIOpenPanel | kOpenVIPrint : kOpenVIOpenPanel;
  if (library) OpenLibraryTopLevelVIs(path, flags);
  else ShellOpenVIFile(path, nullptr, flags);
  if (status2) EndLoadStatus(0);
  e->where = 0;
  DestroySplashWindow();
}

void TimerEvent(const WEventRecord* e) {
  switch (e->where) {
    case kShellTipTimerId:
      if (gHooks.tipTimer) gHooks.tipTimer();
      break;
    case kShellBlinkTimerId:
      if (gHooks.blinkTimerEvent) gHooks.blinkTimerEvent(e->where);
      break;
    default: DBAssert(__FILE__, __LINE__, "ShellEventFilter: unknown timer id");
  }
}

// Reads the Pascal string under the key "----" of an event's data handle,
// within the handle's bytes: keyed items (a four-byte key, then a Pascal
// string) back to back.  False when the key is missing or an item runs
// past the handle.
bool KeyedName(UHandle data, Str255 name) {
  if (!data || !*data) return false;
  const int32 size = AZGetHandleSize(data);
  const uChar* p = reinterpret_cast<const uChar*>(*data);
  for (int32 at = 0; at + 5 <= size;) {
    const int32 len = p[at + 4];
    if (at + 5 + len > size) return false;
    if (std::memcmp(p + at, "----", 4) == 0) {
      std::memcpy(name, p + at + 4, size_t(len) + 1);
      return true;
    }
    at += 5 + len;
  }
  return false;
}

}  // namespace

void ShellSetEventHooks(const ShellEventHooks& hooks) { gHooks = hooks; }
const ShellEventHooks& ShellEventHooksInUse() { return gHooks; }

int32 ShellEventFilter(WEventRecord* e, uInt32) {
  if (!e) return 0;
  if (gHooks.handleLMenuEvent) gHooks.handleLMenuEvent(e, kShellAppMenuId, nullptr);
  switch (e->code) {
    case kWEvStart: StartEvent(); return 0;
    case kShellEvActivateVI: return ActivateVIByName(e);
    case kWEvOpenDocument: OpenDocumentEvent(e); return 0;
    case kWEvQuit:
    case kWEvClose: MenuCommand(10, 0, 24); return 0;
    case weMenuInit:
    case kShellEvMenuState: return MenuEnableUpdate();
    case kMenuItemHighlighted:
      if (MenuKindGet(e->where) == kMenuKindTracked && gHooks.tipStripSetTarget)
        gHooks.tipStripSetTarget(e->where, -e->globalWhere, Point{0, 0});
      return 0;
    case kShellEvReserved131: return 0;
    case weKey:
      if (e->keyCode == kShellHelpKeyCode) MenuCommand(18, 0, 1);
      else if (gHooks.debugKey) gHooks.debugKey(e);
      return MenuEnableUpdate();
    case weMenuSelect: MenuCommand(e->where, e->globalWhere, e->modifiers); return 0;
    case kShellEvAboutBox:
      if (gHooks.aboutBox) gHooks.aboutBox();
      return 0;
    case kShellEvClipboardChanged:
      if (gHooks.importExternalClipboard) gHooks.importExternalClipboard(1);
      return 0;
    case kShellEvTimer: TimerEvent(e); return 0;
    case kWEvUser:
    case -kWEvUser: DispatchUserEvent(e); return 0;
    default: return 0;
  }
}

MgErr ActivateVIByName(WEventRecord* e) {
  Str255 name;
  if (!KeyedName(reinterpret_cast<UHandle>(uintptr_t(uInt32(e->globalWhere))), name)) return kShellNoSuchVI;
  UHandle vi = FindVIByName(name);
  if (!vi) return kShellNoSuchVI;
  DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
  switch (e->where - 10) {
    case 0: return MgErr(DoRunCommand(vi, 0));
    case 1: return ds ? MgErr(DoAbortCommand(ds)) : MgErr(kNoErr);
    case 2: e->modifiers = (VIRec(vi)->eState & 2) ? 1 : 0; return kNoErr;
    case 3: {
      ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
      const WindowRef w = panel ? viinst::PanelWindow(panel) : kWNoWindow;
      if (w != kWNoWindow) {
        WEventRecord close{};
        close.code = kWEvClose;
        close.window = w;
        return WPostEvent(&close, 0, kWPostAnyLevel);
      }
      return kNoErr;
    }
    default: return kNoErr;
  }
}

Bool32 AnyVIWindowOpen() {
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next) {
    if (vi == RootVI()) continue;
    ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
    if (panel && *panel && viinst::PanelWindow(panel) != kWNoWindow) return 1;
  }
  return 0;
}

void QuitIfNoVIWindowsLeft() {
  if (AnyVIWindowOpen()) return;
  if (UHandle root = RootVI(); root && *root) {
    ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(root)->panelHeap);
    if (panel && *panel && viinst::PanelWindow(panel) != kWNoWindow) WHide(viinst::PanelWindow(panel));
  }
  if (gHooks.updateHelpForPanel) gHooks.updateHelpForPanel(nullptr);
  WPostQuitEvent();
}

void QuitIfNoVIWindows() {
  if (gHooks.quitOnLastWindow && gHooks.quitOnLastWindow() && !AnyVIWindowOpen()) WPostQuitEvent();
}

void DestroySplashWindow() {
  if (gHooks.destroySplash) gHooks.destroySplash();
  if (gHooks.closeAboutDialog) gHooks.closeAboutDialog();
}

void QXShutDown() {
  gShutDown.store(true);
  WPostQuitEvent();
  ShellClearExecCountdown();
}
Bool32 ShellShutDownRequested() { return gShutDown.load() ? 1 : 0; }
void ShellClearShutDownRequest() { gShutDown.store(false); }

MgErr InstallQuitNotification(Occurrence occurrence, Bool32 add, Occurrence* quitOccurrence) {
  std::lock_guard<std::mutex> lock(gQuitMutex);
  if (!gQuitOccurrence) gQuitOccurrence = AllocOccur();
  if (!gQuitList) gQuitList = AZNewHandle(0);
  if (!gQuitOccurrence || !gQuitList) return kMemFullErr;
  if (quitOccurrence) *quitOccurrence = gQuitOccurrence;
  const int32 n = QuitCount();
  if (add) {
    if (MgErr err = AZSetHandleSize(gQuitList, (n + 1) * 4)) return err;
    std::memmove(*gQuitList + 4, *gQuitList, size_t(n) * 4);
    std::memcpy(*gQuitList, &occurrence, 4);
    return kNoErr;
  }
  for (int32 i = 0; i < n; ++i) {
    Occurrence o;
    std::memcpy(&o, *gQuitList + 4 * i, 4);
    if (o != occurrence) continue;
    std::memmove(*gQuitList + 4 * i, *gQuitList + 4 * (i + 1), size_t(n - i - 1) * 4);
    AZSetHandleSize(gQuitList, (n - 1) * 4);
    return kNoErr;
  }
  return kShellNotInList;
}

void DisposeQuitNotifications() {
  std::lock_guard<std::mutex> lock(gQuitMutex);
  if (gQuitList) AZDisposeHandle(gQuitList);
  if (gQuitOccurrence) DeallocOccur(gQuitOccurrence);
  gQuitList = nullptr;
  gQuitOccurrence = 0;
}

int32 QuitNotificationCount() {
  std::lock_guard<std::mutex> lock(gQuitMutex);
  return QuitCount();
}

Occurrence QuitNotificationAt(int32 index) {
  std::lock_guard<std::mutex> lock(gQuitMutex);
  Occurrence o = 0;
  if (index >= 0 && index < QuitCount()) std::memcpy(&o, *gQuitList + 4 * index, 4);
  return o;
}

int32 FireQuitNotifications() {
  std::vector<Occurrence> fire;
  {
    std::lock_guard<std::mutex> lock(gQuitMutex);
    for (int32 i = 0; i < QuitCount(); ++i) {
      Occurrence o;
      std::memcpy(&o, *gQuitList + 4 * i, 4);
      fire.push_back(o);
    }
  }
  for (Occurrence o : fire) Occur(o);
  return int32(fire.size());
}

void FireQuitOccurrence() {
  Occurrence quit = 0;
  {
    std::lock_guard<std::mutex> lock(gQuitMutex);
    quit = gQuitOccurrence;
  }
  if (quit) Occur(quit);
}

// ---- Memory full ---------------------------------------------------------------------

namespace {

// A VI whose data may be compacted: idle, or (without execution threads,
// where nothing runs between turns) also in states 4, 5 and 7.
bool CompactableState(uInt32 state, bool threads) {
  return state == 0 || state == 1 || (!threads && (state == 4 || state == 5 || state == 7));
}

int32 CompactDataSpace(DataSpace ds) {
  if (!ds || !*ds || (*ds)->busy || (*ds)->completion) return 0;
  UHandle td = (*ds)->typeDesc;
  if (!td || !*td) return 0;
  int32 end = (*ds)->size;
  const int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(ds));
  if (end > size || end <= 0) end = size;
  const int32 freed = ReclaimDataMemory(reinterpret_cast<const TypeDescriptor*>(*td), *ds,
                                        reinterpret_cast<uChar*>(*ds) + end);
  (*ds)->completion = 1;
  return freed > 0 ? freed : 0;
}

}  // namespace

int32 MemFullProcedure(int32 zone, int32 mode) {
  if (gHooks.setCursorByNumber) gHooks.setCursorByNumber(kShellMemFullCursor, -2);
  AZRequestCompact();
  int32 freed = 0;
  const bool threads = ExecThreadsOn() != 0;
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next) {
    if (!CompactableState(VIRec(vi)->eState & kVIStateMask, threads)) continue;
    for (DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); ds && *ds; ds = (*ds)->nextClone)
      freed += CompactDataSpace(ds);
  }
  // The tracked menus give back their palette images.
  for (int32 id = 0; id < MenuTableSize(); ++id)
    if (MenuKindGet(id) == kMenuKindTracked) freed += MReleasePictImages(MenuTableGet(id));
  if (freed == 0) {
    if (mode == 1) {
      Str255 text;
      if (RGetIndString(RunTimeRsrcFile(), text, kShellMemFullListId, kShellMemFullEntry) != kNoErr || !text[0]) {
        static const char kText[] =
            "Application memory full.  Saving and closing VIs can free memory.  You might need to increase the "
            "virtual memory in your system.";
        text[0] = uChar(sizeof kText - 1);
        std::memcpy(text + 1, kText, sizeof kText - 1);
      }
      WAlert(text, 1);
    }
    MemNoteFailure(zone);
  }
  return freed;
}
