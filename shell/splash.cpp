// The splash window with its launch picture and status lines, and the
// about box drawn over the same picture with the scrolling credits.
#include <cstring>
#include <string_view>

#include "engine/exec/menutexts.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "mgsource/extsupport.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"
#include "shell/shellinit.h"
#include "shell/splash.h"
#include "shell/toplevel.h"

namespace {

WindowRef gSplash = kWNoWindow;
Str255 gStatus = {0};  // the main status line, drawn again with the window
DialogRef gAbout = nullptr;
SplashHooks gHooks{};

// The credits: their place, the step under way and the pause left.
struct Credits {
  int32 offset = 0;
  int32 pauseMs = kAboutFirstPauseMs;
};
Credits gCredits;

constexpr int32 kStatusHeight = 16, kStatusInset = 15, kMainStatusAbove = 25, kAboutStatusRaise = 25;
constexpr int32 kLineAbove[4] = {50, 25, 75, 100};
constexpr int32 kTextBoxHeight = 60, kTextBoxAbove = 135, kPictureTop = 10;
constexpr int32 kCreditsTimer = 77;

Rect SplashRect() {
  Rect screen{};
  WGetScreenRect(Point{0, 0}, &screen);
  const int32 v = (screen.top + screen.bottom) / 2, h = (screen.left + screen.right) / 2;
  return Rect{int16(v - kSplashHeight / 2), int16(h - kSplashWidth / 2), int16(v + kSplashHeight / 2),
              int16(h + kSplashWidth / 2)};
}

Rect Local(WindowRef w) {
  Rect r{};
  WGetRect(w, &r);
  return r;
}

void Paint(const Rect& r, DColor c) {
  DSelectNormPen(c, c);
  DPaintRect(&r);
}

void Text(const Rect& r, int32 mode, ConstPStr text) {
  TBox(&r, mode, text + 1, text[0], kAppFont, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
}

// The launch picture's place in the window: centred, 10 pixels down.
bool PictureRect(const Rect& window, int32* image, Rect* at) {
  const int32 id = DIsBW() ? kSplashImageMono : kSplashImageColour;
  const MgErr err = RunTimeRsrcFile() ? IGet(RunTimeRsrcFile(), kImagePicture, id, image, 1) : MgErr(kRsrcNotFoundErr);
  if (err) {
    DBPrintf("can't load the launch picture, err %ld", long(err));
    return false;
  }
  Rect r{};
  IGetRect(*image, &r);
  const int32 w = r.right - r.left, h = r.bottom - r.top;
  const int32 left = (window.left + window.right - w) / 2, top = window.top + kPictureTop;
  *at = Rect{int16(top), int16(left), int16(top + h), int16(left + w)};
  return true;
}

void DrawSplashContents(WindowRef w, int32 offset) {
  const Rect r = Local(w);
  Paint(r, kWhiteColor);
  int32 image = 0;
  Rect at{};
  if (PictureRect(r, &image, &at)) {
    IDraw(image, nullptr, &at, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    IRelease(image);
  }
  UHandle text = nullptr;
  if (RunTimeRsrcFile() && RGet(RunTimeRsrcFile(), FourCC("TEXT"), kSplashTextId, &text) == kNoErr && text && *text) {
    const int32 bottom = r.bottom - kTextBoxAbove;
    const Rect box{int16(bottom - kTextBoxHeight), int16(r.left + kStatusInset), int16(bottom),
                   int16((r.left + r.right) / 2)};
    TBox(&box, 0, reinterpret_cast<const uChar*>(*text), AZGetHandleSize(text), kAppFont, kBlackColor, kWhiteColor,
         kBlackColor, kWhiteColor);
  }
  if (gStatus[0]) SplashSetStatusText(w, gStatus, 0, offset);
}

int32 SplashProc(WEventRecord* e, uInt32) {
  if (e && e->code == weWindDraw) DrawSplashContents(e->window, 0);
  return 0;
}

// The credits' two entries: the lines of text resource 121, else the
// compiled-in ones.
void CreditLine(int32 index, PStr out) {
  UHandle text = nullptr;
  if (RunTimeRsrcFile() && RGet(RunTimeRsrcFile(), FourCC("TEXT"), kAboutCreditsTextId, &text) == kNoErr && text &&
      *text) {
    const std::string_view all(reinterpret_cast<const char*>(*text), size_t(AZGetHandleSize(text)));
    const size_t cut = all.find('\r');
    const std::string_view line = index == 0 ? all.substr(0, cut)
                                             : (cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1));
    out[0] = uChar(line.size() > 255 ? 255 : line.size());
    std::memcpy(out + 1, line.data(), out[0]);
    return;
  }
  PPrintf(out, "%s", kAboutCredits[index]);
}

// The credits scroll in the right half beside the splash text.
void DrawCredits(WindowRef w) {
  const Rect r = Local(w);
  const int32 bottom = r.bottom - kTextBoxAbove;
  const Rect box{int16(bottom - kTextBoxHeight), int16((r.left + r.right) / 2), int16(bottom),
                 int16(r.right - kStatusInset)};
  Paint(box, kWhiteColor);
  Rect saved;
  WLimitClip(&box, &saved);
  for (int32 i = 0; i < 2; ++i) {
    Str255 line;
    CreditLine(i, line);
    const int32 top = box.bottom - gCredits.offset + i * kStatusHeight;
    const Rect row{int16(top), box.left, int16(top + kStatusHeight), box.right};
    Text(row, 0, line);
  }
  WRestoreClip(&saved);
}

void DrawAbout(WindowRef w) {
  DrawSplashContents(w, kAboutStatusRaise);
  Str255 format, version;
  ShellListText(kAboutTextsListId, 1, format);
  PPrintfp(version, format, ShellVersionText());
  SplashSetStatusText(w, version, 0, kAboutStatusRaise);
  if (gHooks.memoryStatsLines) gHooks.memoryStatsLines(w);
  Str255 server = {0};
  if (gHooks.serverStatusText) gHooks.serverStatusText(server);
  SplashSetStatusText(w, server, 3, 0);
  DrawCredits(w);
}

// One step of the credits every 20 ms after the pauses.
void CreditsStep(WindowRef w) {
  if (gCredits.pauseMs > 0) {
    gCredits.pauseMs -= kAboutStepMs;
    return;
  }
  if (++gCredits.offset > kTextBoxHeight + 2 * kStatusHeight) {
    gCredits.offset = 0;
    gCredits.pauseMs = kAboutFirstPauseMs;
  }
  WPortState saved{};
  WSetup(w, &saved);
  DrawCredits(w);
  WRestore(&saved);
}

// The about box's hot rectangle: the launch picture.
bool InHotRect(WindowRef w, Point p) {
  int32 image = 0;
  Rect at{};
  if (!PictureRect(Local(w), &image, &at)) return false;
  IRelease(image);
  return p.v >= at.top && p.v < at.bottom && p.h >= at.left && p.h < at.right;
}

// The about box inside a built application: its first library entry whose
// name starts with "About".  True when one opened.
bool OpenAboutVI() {
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  Path lib = FEmptyPath(nullptr);
  bool opened = false;
  if (names && lib && FAppFilePath(&lib) == kNoErr && ArchiveDirListRef(RunTimeRsrcFile(), names, nullptr, 0, 0) == kNoErr) {
    const int32 count = (*names)->cnt;
    for (int32 i = 0; i < count && !opened; ++i) {
      const uChar* name = CPStrIndex(names, i);
      if (!name || name[0] < 5 || StrNCaseCmp(reinterpret_cast<ConstCStr>(name + 1), "About", 5) != 0) continue;
      Path member = FEmptyPath(nullptr);
      Str255 copy;
      PStrCpy(copy, name);
      if (member && FPathCpy(member, lib) == kNoErr && FAppendName(member, copy) == kNoErr) {
        UHandle vi = nullptr;
        opened = ShellOpenVIFile(member, &vi, kAboutOpenFlags) == kNoErr && vi;
      } else if (member) {
        FDisposePath(member);
      }
      break;
    }
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (lib) FDisposePath(lib);
  return opened;
}

}  // namespace

void SetSplashHooks(const SplashHooks& hooks) { gHooks = hooks; }
const SplashHooks& SplashHooksInUse() { return gHooks; }
WindowRef SplashWindow() { return gSplash; }
DialogRef AboutDialog() { return gAbout; }

void CreateSplashWindow() {
  if (IsBuiltApp() || gSplash != kWNoWindow) return;
  const Rect r = SplashRect();
  gSplash = WCreate(kSplashWindowKind, reinterpret_cast<ConstPStr>("\0"), &SplashProc, &r, 0, 1, 0);
}

void DestroySplash() {
  if (gSplash != kWNoWindow && WIsWindow(gSplash)) WDestroy(gSplash);
  gSplash = kWNoWindow;
  gStatus[0] = 0;
}

void SplashSetStatusText(WindowRef window, ConstPStr text, int32 line, int32 offset) {
  if (window == kWNoWindow || !text) return;
  WPortState saved{};
  WSetup(window, &saved);
  const Rect r = Local(window);
  if (line >= 1 && line <= 4) {
    const int32 bottom = r.bottom - kLineAbove[line - 1] - offset;
    const Rect box{int16(bottom - kStatusHeight), int16((r.left + r.right) / 2), int16(bottom),
                   int16(r.right - kStatusInset)};
    Paint(box, kWhiteColor);
    Text(box, kTRJustifyRight, text);
  } else {
    const int32 bottom = r.bottom - kMainStatusAbove - offset;
    const Rect box{int16(bottom - kStatusHeight), int16(r.left + kStatusInset), int16(bottom),
                   int16(r.right - kStatusInset)};
    Paint(box, kWhiteColor);
    Text(box, 0, text);
    if (text != gStatus) PStrCpy(gStatus, text);
  }
  WRestore(&saved);
}

void SplashStatus(ConstPStr text, int32 line, int32) {
  if (gSplash != kWNoWindow) SplashSetStatusText(gSplash, text, line, 0);
}

int32 AboutBoxFilter(const WEventRecord* e, DialogRef dialog, int32) {
  const WindowRef w = WindowRef(DlgWindow(dialog));
  switch (e->code) {
    case weKey:
      if (e->keyCode == 2) DlgQuit(dialog, 0);
      return 1;
    case kDlgEvCancel: DlgQuit(dialog, 0); return 1;
    case weMouseDown: {
      Point p;
      std::memcpy(&p, &e->where, sizeof p);
      if (InHotRect(w, p)) {
        int32 menu = 0, item = 0;
        if (MenuHandle m = MenuTableGet(kAboutPopUpMenu)) MPopUpMenuAt(m, p, &menu, &item, 0, 0, 0);
        if (gHooks.memoryStatsLines) gHooks.memoryStatsLines(w);
      } else {
        DlgQuit(dialog, 0);
      }
      return 1;
    }
    case weWindDraw:
      DrawAbout(w);
      return 1;
    case kShellEvTimer:
      if (e->where == kCreditsTimer) CreditsStep(w);
      return 1;
    default: return 0;
  }
}

void ShowAboutBox() {
  if (IsBuiltApp() && OpenAboutVI()) return;
  if (gAbout) {
    WBeep();
    return;
  }
  Rect r = SplashRect();
  r.bottom = int16(r.bottom + kAboutExtraHeight);
  gCredits = Credits{};
  gAbout = DlgCreate(&r, reinterpret_cast<ConstPStr>("\0"), kAlertWindowKind, &AboutBoxFilter, 0);
  if (!gAbout) return;
  const WindowRef w = WindowRef(DlgWindow(gAbout));
  WStartTimer(w, kAboutStepMs, kCreditsTimer);
  DlgBoxLoop(gAbout);
  if (gAbout) {
    WKillTimer(w, kCreditsTimer);
    DlgUnload(gAbout);
  }
  gAbout = nullptr;
}

void CloseAboutDialog() {
  if (!gAbout) return;
  const DialogRef d = gAbout;
  DlgQuit(d, 0);
}
