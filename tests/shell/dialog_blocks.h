// The run-time's dialog blocks for shell tests: a run-time resource file
// holding the writer's 'DLG2' blocks (and any extra given), with the object
// system's steps of the dialog builder installed; undone when it goes.
#pragma once
#include <gtest/gtest.h>

#include <cstring>

#include "engine/dsalloc.h"
#include "engine/vi/dlgpanel.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/memory.h"
#include "panel/fppanel.h"
#include "panel/oinit.h"
#include "tools/dlgwriter.h"

class RunTimeDialogBlocks {
 public:
  explicit RunTimeDialogBlocks(rsrcw::Writer w = rsrcw::Writer(FourCC("APPL"), FourCC("QXrt"))) {
    saved_ = *GetEnginePanelHooks();
    EnginePanelHooks h = saved_;
    h.newPanelRoot = &FPNewPanelRoot;
    SetEnginePanelHooks(&h);
    PanelInstallDialogHooks();
    EXPECT_EQ(RInitResources(), kNoErr);
    dlgwriter::AddDialogs(&w);
    const rsrcw::Bytes file = w.Write();
    UHandle fh = AZNewHandle(int32(file.size()));
    if (!fh) return;
    std::memcpy(*fh, file.data(), file.size());
    EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref_, nullptr, nullptr, fh), kNoErr);
    SetRunTimeRsrcFile(ref_);
  }
  ~RunTimeDialogBlocks() {
    SetRunTimeRsrcFile(0);
    if (ref_) RCloseFile(ref_);
    SetDlgPanelHooks(nullptr);
    SetEnginePanelHooks(&saved_);
  }
  RunTimeDialogBlocks(const RunTimeDialogBlocks&) = delete;
  RunTimeDialogBlocks& operator=(const RunTimeDialogBlocks&) = delete;

 private:
  EnginePanelHooks saved_{};
  RsrcFileRef ref_ = 0;
};
