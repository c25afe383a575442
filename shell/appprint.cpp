#include "shell/appprint.h"

#include <algorithm>
#include <cstring>

#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/window.h"
#include "rtlib/arraysize.h"
#include "shell/appfolders.h"

namespace {

WindowRef gClosedWindow = kWNoWindow;


MgErr ResizeArray(int32 elementSize, UHandle* array, int32 count) {
  int32* c = &count;
  return FlatVectorResize(elementSize, 4, array, &c);
}

void Alert(const char* text) { OneButtonAlert(kAlertCStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos); }

// A failed picture import, told through the shell's one-button alert.
void ImportAlert(const char* text) {
  uChar p[256];
  const size_t n = std::min<size_t>(std::strlen(text), 255);
  p[0] = uChar(n);
  std::memcpy(p + 1, text, n);
  OneButtonAlert(kAlertPStr, p, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

}  // namespace

WindowRef ShellClosedWindow() {
  if (gClosedWindow) return gClosedWindow;
  static const uChar kTitle[] = "\006Closed";
  const Rect r{0, 0, 100, 100};
  gClosedWindow = WCreate(kPrintScratchStyle, kTitle, nullptr, &r, 0, 0, 0);
  return gClosedWindow;
}

void ShellInstallPrintHooks() {
  PrintPanelHooks p = PPrintPanelHooks();
  p.loadPanel = &LoadFPHeap;
  p.findVIByName = &FindVIByName;
  p.closedWindow = &ShellClosedWindow;
  p.resizeArray = &ResizeArray;
  p.alert = &Alert;
  PSetPrintPanelHooks(p);
  PrintHooks h{};
  h.errDialog = &ErrDialog;
  h.makeTempFilePath = &MakeTempFilePath;
  h.beginNativeModal = &FDBeginNativeModal;
  h.endNativeModal = &FDEndNativeModal;
  // A native print dialog runs a modal loop: the engine keeps its time.
  h.nativeLoop = &WSetModalPump;
  h.appRsrcFile = &RunTimeRsrcFile;
  PSetPrintHooks(h);
  ISetImportAlertProc(&ImportAlert);
}

void ShellInitPrinting() { PInitPrintDlg(); }

void ShellFinishPrinting() {
  if (gClosedWindow) WDestroy(gClosedWindow);
  gClosedWindow = kWNoWindow;
}
