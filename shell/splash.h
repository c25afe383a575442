// The splash window shown while the system starts (never in a built
// application) and the about box.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wevent.h"
#include "shell/dialog.h"

constexpr int32 kSplashWidth = 560, kSplashHeight = 430;
constexpr uInt32 kSplashWindowKind = 263;
// The about box: 25 pixels taller than the splash; its credits move one
// pixel every 20 ms after pauses of 3000 ms; the library's about VI opens
// with flags 29 (open, load progress, run, close when done).
constexpr int32 kAboutExtraHeight = 25, kAboutStepMs = 20, kAboutFirstPauseMs = 3000, kAboutOpenFlags = 29;

// What later parts give the about box: the memory lines and the VI
// server's status text (null: none drawn, an empty text).
struct SplashHooks {
  void (*memoryStatsLines)(WindowRef window);
  void (*serverStatusText)(PStr text);
};
void SetSplashHooks(const SplashHooks& hooks);
const SplashHooks& SplashHooksInUse();

QX_EXTERN_C void CreateSplashWindow();
// Destroys and forgets the splash window.
void DestroySplash();
WindowRef SplashWindow();
// Lines 1 to 4: right-aligned 16-pixel boxes 15 pixels from the right at
// 50, 25, 75 and 100 pixels above the bottom (less offset); any other line
// is the main status line, 15 pixels from the left and 25 above the bottom,
// on white, remembered for redrawing.
QX_EXTERN_C void SplashSetStatusText(WindowRef window, ConstPStr text, int32 line, int32 offset);
// The start-up's status lines, on the splash window when there is one.
void SplashStatus(ConstPStr text, int32 line, int32 flags);

QX_EXTERN_C void ShowAboutBox();
QX_EXTERN_C int32 AboutBoxFilter(const WEventRecord* event, DialogRef dialog, int32 userData);
DialogRef AboutDialog();
// Ends the open about box.
void CloseAboutDialog();
