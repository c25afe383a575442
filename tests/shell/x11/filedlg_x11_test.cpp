// The file dialog on the X11 display: it maps at the default place and
// Escape, pressed through XTest, cancels it with 43.  Without a server the
// test skips, unless QX_REQUIRE_DISPLAY=1.
#include "shell/x11/shell_x11_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "platform/qx_drives.h"
#include "shell/filedlg.h"

namespace {

Rect gPlaced{};
Point gWant{};

class FileDialogX11 : public ShellX11 {};

TEST_F(FileDialogX11, TheDialogMapsAtTheDefaultPlaceAndEscapeCancels) {
  JoinDialogs();
  const std::string root = std::filesystem::temp_directory_path().string();
  ASSERT_EQ(PlatDriveMap('N', root.c_str(), kPlatDriveFixed), 0);

  std::atomic<bool> answered{false};
  Display* const watch = XOpenDisplay(nullptr);
  ASSERT_NE(watch, nullptr);
  std::thread presser([&] {
    // Escape until the dialog has ended.
    const KeyCode code = XKeysymToKeycode(watch, XK_Escape);
    for (int i = 0; i < 200 && !answered; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      XTestFakeKeyEvent(watch, code, True, CurrentTime);
      XTestFakeKeyEvent(watch, code, False, CurrentTime);
      XFlush(watch);
    }
    if (!answered) {
      std::fprintf(stderr, "the file dialog never ended\n");
      std::_Exit(1);
    }
  });
  Path p = nullptr;
  FTextToPath(reinterpret_cast<const uChar*>("N:\\"), 3, &p);
  // Where the dialog stands, and where the default place is for its kind
  // and size; then the loop the operator ends.
  FDSetRunHook([](DialogRef d) {
    WGetGlobalRect(DlgWindow(d), &gPlaced);
    const uInt32 kind = GetNative16(*d + OHWord(d, kOHExtension) + kHeapExtWindowStyle);
    gWant = DlgDefaultPosition(kind, gPlaced.right - gPlaced.left, gPlaced.bottom - gPlaced.top);
    DlgBoxLoop(d);
  });
  const MgErr err = FileDialog(kDlgDefaultPos, kDlgDefaultPos, nullptr, p, nullptr, nullptr,
                               kFDBrowse | kFDChooseFiles, 0, nullptr, 0, -1);
  answered = true;
  presser.join();
  FDSetRunHook(nullptr);
  EXPECT_EQ(err, kCancelErr);
  EXPECT_EQ(gPlaced.top, gWant.v);
  EXPECT_EQ(gPlaced.left, gWant.h);
  FDisposePath(p);
  PlatDriveMap('N', nullptr, 0);
  XCloseDisplay(watch);
}

}  // namespace
