// The help window's golden scene: a numeric with its label and a
// description with an emphasised word, shown in the help window through the
// help method, as start-up wires them.
#pragma once
#include <filesystem>
#include <string>

#include "mgsource/draw/dcolors.h"
#include "mgsource/memory.h"
#include "mgsource/window/menus.h"
#include "panel/objload.h"
#include "panel/ohelp.h"
#include "panel/textparts.h"
#include "platform/qx_window.h"
#include "shell/appcolors.h"
#include "shell/help.h"
#include "tools/vibuilder.h"

struct HelpScene {
  explicit HelpScene(ObjHeap panel) : panel_(panel) {
    MLoadMenuColors();
    InitAppColors(RunTimeRsrcFile());  // the colour maps the button's icons are drawn through
    SetHelpImageTaker(&HelpSetImage);
    HelpObjectServices s{};
    s.sendHelp = [](ObjHeap heap, int32 object, int32 part) {
      return OSendMessage<int32>(kMsgOHelp, heap, object, part);
    };
    HelpSetObjectServices(s);
    numeric = vib::NewObject(panel, kClsNumeric, ClassRecord(kClsNumeric)->instanceSize);
    const int32 label = vib::NewObject(panel, kClsLabel, ClassRecord(kClsLabel)->instanceSize, numeric, 16);
    SetPartText(panel, label, reinterpret_cast<const uChar*>("Speed"), 5, 0, 0);
    const Rect lr{10, 10, 26, 60};
    std::memcpy(*panel + label + kObjBounds, &lr, sizeof lr);
    const std::string text = "The <B>speed</B> of the motor in turns per minute, measured at its shaft.";
    description_ = AZNewHandle(int32(4 + text.size()));
    PutNative32(*description_, uInt32(text.size()));
    std::memcpy(*description_ + 4, text.data(), text.size());
    OHSetWord(panel, uInt32(numeric + kObjDescription), uInt32(uintptr_t(description_)));
    HelpWindowOpen(1);
    HelpSetTipTarget(panel, numeric, 1);
    HelpShowPending();
    WInvalRect(HelpStateNow().window, nullptr);
    PlatUiPump();
  }
  ~HelpScene() {
    OHSetWord(panel_, uInt32(numeric + kObjDescription), 0);
    AZDisposeHandle(description_);
    SetHelpImageTaker(nullptr);
    HelpSetObjectServices(HelpObjectServices{});
    DResetColors();
  }
  static std::filesystem::path Golden() {
    return std::filesystem::path(QX_SOURCE_DIR) / "tests/shell/goldens/help_window.png";
  }
  int32 numeric = 0;

 private:
  ObjHeap panel_;
  UHandle description_ = nullptr;
};
