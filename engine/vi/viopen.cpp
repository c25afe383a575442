// OpenVIFile: the shell's entry that opens a VI by path with everything it
// references, then runs or prints it.
#include <cstring>

#include "engine/exec/callchain.h"
#include "engine/exec/runcmd.h"
#include "engine/link/loadmethods.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/window/wevent.h"

namespace {
// Lets the name hold of a VI run without a window go when its run ends;
// the cookie is a copy of the name.
int32 ReleaseNameHold(void* cookie) {
  if (!cookie) return 0;
  HoldVIName(static_cast<ConstPStr>(cookie), 1);
  AZDisposePtr(static_cast<UPtr>(cookie));
  return 0;
}
// Asks the panel window (the cookie) to close when the run ends.
int32 PostWindowClose(void* cookie) {
  WEventRecord e{};
  e.code = kWEvClose;
  e.window = WindowRef(uintptr_t(cookie));
  WPostEvent(&e, 0, kWPostAnyLevel);
  return 0;
}
}  // namespace

MgErr OpenVIFile(Path path, UHandle* outVI, int32 flags) {
  if (outVI) *outVI = nullptr;
  const int32 installed = (flags & kOpenVIShowProgress) ? BeginLoadStatus() : 0;
  // 2. The file: chosen by the user, or at the path.
  bool located = false;
  if (!path) {
    path = FEmptyPath(nullptr);
    located = path && FindFileDialog(path, kFindTypeVI, nullptr) == kDialogFound;
  } else {
    located = LocateVIFile(path, kFindTypeVI) != 0;
  }
  // 3. Load it by name.
  UHandle vi = nullptr;
  Str255 name;
  if (located && FNamePtr(path, name) == kNoErr && !LoadVIByName(name, path, &vi, flags)) vi = nullptr;
  // 4. Run it when asked.
  if (vi && LoadFPHeap(vi) == kNoErr) {
    const bool run = (!(flags & kOpenVIPrint) && (VIRec(vi)->flags & kVIFlagRunWhenOpened)) || (flags & kOpenVIRun);
    ObjHeap panel = VIRec(vi)->panelHeap;
    const WindowRef window = panel ? viinst::PanelWindow(panel) : kWNoWindow;
    if (run) {
      PStrCpy(name, VIRec(vi)->name);
      UPtr held = nullptr;
      if (window == kWNoWindow && HoldVIName(name, 0) == kNoErr) {
        held = AZNewPtr(int32(name[0]) + 1);
        if (held) std::memcpy(held, name, size_t(name[0]) + 1);
        else HoldVIName(name, 1);
      }
      DoRunCommand(vi, 0);
      if (held) {
        if (!ExtRTSetCleanupProc(name, &ReleaseNameHold, held, kCleanupNamedVI)) ReleaseNameHold(held);
      } else if (window != kWNoWindow && (flags & kOpenVICloseWhenDone)) {
        ExtRTSetCleanupProc(name, &PostWindowClose, reinterpret_cast<void*>(uintptr_t(window)), kCleanupNamedVI);
      }
    }
    // 5. Print it.
    if ((flags & kOpenVIPrint) && window != kWNoWindow && VIFindShell().printPanel) VIFindShell().printPanel(vi);
  }
  // 6. The path goes, the VI is handed out.
  if (path) FDisposePath(path);
  if (outVI) *outVI = vi;
  EndLoadStatus(installed);
  return vi ? kNoErr : kOpenVINotFound;
}
