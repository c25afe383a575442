#include "shell/appprint.h"

#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/debug.h"
#include "mgsource/draw/printmgr.h"
#include "shell/appfolders.h"

namespace {

Bool32 gInNativeModal = 0;  // user-interface thread only

}  // namespace

void FDBeginNativeModal() {
  QX_ASSERT_MSG(!gInNativeModal, "FDBeginNativeModal: a native dialog is already up");
  gInNativeModal = 1;
}

void FDEndNativeModal() {
  QX_ASSERT_MSG(gInNativeModal, "FDEndNativeModal: no native dialog is up");
  gInNativeModal = 0;
}

Bool32 FDInNativeModal() { return gInNativeModal; }

void ShellInstallPrintHooks() {
  PrintHooks h{};
  h.errDialog = &ErrDialog;
  h.makeTempFilePath = &MakeTempFilePath;
  h.beginNativeModal = &FDBeginNativeModal;
  h.endNativeModal = &FDEndNativeModal;
  h.appRsrcFile = &RunTimeRsrcFile;
  PSetPrintHooks(h);
}

void ShellInitPrinting() {
  PReadPrintPrefs();
  PInitPrintDlg();
}

void ShellFinishPrinting() { PFreeDevHandles(); }
