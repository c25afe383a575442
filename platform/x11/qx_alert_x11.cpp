// The alert of the X11 display: a modal window of the display's own dialog
// class, with the text wrapped and the buttons the alert was asked for.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/qx_activate.h"
#include "platform/qx_alert.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_draw.h"
#include "platform/qx_input.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_paint.h"
#include "platform/qx_text.h"
#include "platform/qx_thread.h"
#include "platform/x11/qx_x11_internal.h"

namespace {

constexpr char kClass[] = "QuenlixAlertDialog";
constexpr uint32_t kFace = 0xC0C0C0, kShadow = 0x808080, kLight = 0xFFFFFF, kDark = 0x000000;
constexpr int32_t kMargin = 12, kButtonW = 75, kButtonH = 23, kGap = 6, kMaxTextW = 360;

struct Alert {
  std::vector<std::string> lines;
  int32_t lineH = 16;
  int32_t buttons = kPlatOK;
  std::vector<int32_t> answers;
  std::vector<PlatRect> rects;  // client coordinates
  int32_t answer = 0;
};

const char* AnswerName(int32_t a) {
  static const char* kNames[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
  return a >= 1 && a <= 7 ? kNames[a] : "";
}

std::vector<int32_t> AnswersOf(int32_t buttons) {
  switch (buttons) {
    case kPlatOKCancel: return {kPlatAnsOK, kPlatAnsCancel};
    case kPlatAbortRetryIgnore: return {kPlatAnsAbort, kPlatAnsRetry, kPlatAnsIgnore};
    case kPlatYesNoCancel: return {kPlatAnsYes, kPlatAnsNo, kPlatAnsCancel};
    case kPlatYesNo: return {kPlatAnsYes, kPlatAnsNo};
    case kPlatRetryCancel: return {kPlatAnsRetry, kPlatAnsCancel};
    default: return {kPlatAnsOK};
  }
}

void Fill(PlatObj dc, const PlatRect& r, uint32_t colour) {
  const PlatObj b = PlatCreateSolidBrush(colour);
  const PlatObj old = PlatSelectObject(dc, b);
  PlatPatBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, kPlatPatCopy);
  PlatSelectObject(dc, old);
  PlatDeleteObject(b);
}

// A raised bevel: light on the top and left, shadow and dark below and right.
void Bevel(PlatObj dc, const PlatRect& r) {
  Fill(dc, r, kDark);
  Fill(dc, PlatRect{r.left, r.top, r.right - 1, r.bottom - 1}, kLight);
  Fill(dc, PlatRect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, kShadow);
  Fill(dc, PlatRect{r.left + 1, r.top + 1, r.right - 2, r.bottom - 2}, kFace);
}

Alert* Of(PlatWindow w) { return reinterpret_cast<Alert*>(PlatGetWindowWord(w)); }

int32_t Escape(const Alert& a) {
  const bool cancel = std::find(a.answers.begin(), a.answers.end(), kPlatAnsCancel) != a.answers.end();
  return cancel ? kPlatAnsCancel : PlatAlertDefaultAnswer(a.buttons);
}

intptr_t AlertProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  Alert* a = Of(w);
  if (!a) return PlatDefWindowProc(w, m, wp, lp);
  switch (m) {
    case kPlatMsgPaint: {
      PlatPaintInfo pi;
      const PlatObj dc = PlatBeginPaint(w, &pi);
      if (!dc) return 0;
      PlatRect c;
      PlatGetClientRect(w, &c);
      Fill(dc, c, kFace);
      PlatSelectObject(dc, PlatGetStockObject(kPlatStockFont));
      PlatSetBkMode(dc, kPlatBkTransparent);
      for (size_t i = 0; i < a->lines.size(); ++i)
        PlatTextOut(dc, kMargin, kMargin + int32_t(i) * a->lineH, 0, nullptr, a->lines[i].data(),
                    int32_t(a->lines[i].size()));
      for (size_t i = 0; i < a->rects.size(); ++i) {
        const PlatRect& r = a->rects[i];
        Bevel(dc, r);
        const char* label = AnswerName(a->answers[i]);
        int32_t tw = 0, th = 0;
        PlatGetTextExtent(dc, label, int32_t(std::strlen(label)), &tw, &th);
        PlatTextOut(dc, r.left + (r.right - r.left - tw) / 2, r.top + (r.bottom - r.top - th) / 2, 0, nullptr, label,
                    int32_t(std::strlen(label)));
      }
      PlatEndPaint(w, &pi);
      return 0;
    }
    case kPlatMsgKeyDown:
      if (wp == kPlatVkReturn) a->answer = PlatAlertDefaultAnswer(a->buttons);
      if (wp == kPlatVkEscape) a->answer = Escape(*a);
      return 0;
    case kPlatMsgLButtonDown: {
      const int32_t x = PlatLowWord(lp), y = PlatHighWord(lp);
      for (size_t i = 0; i < a->rects.size(); ++i) {
        const PlatRect& r = a->rects[i];
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) a->answer = a->answers[i];
      }
      return 0;
    }
    case kPlatMsgClose:
      a->answer = Escape(*a);
      return 0;
    case kPlatMsgSysCommand:
      if (wp == kPlatScClose) {
        a->answer = Escape(*a);
        return 0;
      }
      break;
    default:
      break;
  }
  return PlatDefWindowProc(w, m, wp, lp);
}

// Words to lines no wider than the limit; the text's own line breaks stay.
std::vector<std::string> Wrap(PlatObj dc, const std::string& text, int32_t limit) {
  std::vector<std::string> lines;
  auto width = [&](const std::string& s) {
    int32_t w = 0;
    PlatGetTextExtent(dc, s.data(), int32_t(s.size()), &w, nullptr);
    return w;
  };
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string para = text.substr(start, end - start);
    if (!para.empty() && para.back() == '\r') para.pop_back();
    std::string line;
    size_t i = 0;
    while (i < para.size()) {
      size_t j = para.find(' ', i);
      if (j == std::string::npos) j = para.size();
      const std::string word = para.substr(i, j - i);
      const std::string tried = line.empty() ? word : line + " " + word;
      if (!line.empty() && width(tried) > limit) {
        lines.push_back(line);
        line = word;
      } else {
        line = tried;
      }
      i = j + 1;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

namespace qxx11 {

int32_t ShowAlert(const char* title, const char* text, int32_t buttons, int32_t) {
  if (PlatThreadCurrentId() != PlatWindowSystemThread()) {
    // Only the window thread serves the display.
    std::fprintf(stderr, "[alert%s%s] %s\n", title ? ": " : "", title ? title : "", text ? text : "");
    return PlatAlertDefaultAnswer(buttons);
  }
  PlatRegisterClass(PlatWindowClass{kClass, AlertProc, 0, kFace});
  Alert a;
  a.buttons = buttons;
  a.answers = AnswersOf(buttons);
  const PlatObj dc = PlatCreateScreenDc();
  PlatSelectObject(dc, PlatGetStockObject(kPlatStockFont));
  a.lines = Wrap(dc, text ? text : "", kMaxTextW);
  int32_t textW = 0;
  for (const std::string& l : a.lines) {
    int32_t w = 0, h = 0;
    PlatGetTextExtent(dc, l.data(), int32_t(l.size()), &w, &h);
    textW = std::max(textW, w);
    a.lineH = std::max(a.lineH, h);
  }
  PlatDeleteDc(dc);
  const int32_t n = int32_t(a.answers.size());
  const int32_t buttonsW = n * kButtonW + (n - 1) * kGap;
  const int32_t w = std::max(textW, buttonsW) + 2 * kMargin;
  const int32_t h = kMargin + int32_t(a.lines.size()) * a.lineH + kMargin + kButtonH + kMargin;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t left = (w - buttonsW) / 2 + i * (kButtonW + kGap);
    a.rects.push_back(PlatRect{left, h - kMargin - kButtonH, left + kButtonW, h - kMargin});
  }
  const PlatRect work = PlatGetWorkArea();
  const int32_t left = work.left + (work.right - work.left - w) / 2, top = work.top + (work.bottom - work.top - h) / 2;
  const uint32_t style = kPlatWsPopup | kPlatWsCaption | kPlatWsSysMenu;
  const uint32_t ex = kPlatWsExDlgModalFrame | kPlatWsExTopmost;
  PlatRect frame{left, top, left + w, top + h};
  PlatAdjustWindowRect(&frame, style, ex);
  const PlatWindow owner = PlatGetActiveWindow();
  const PlatWindow win = PlatCreateWindow(kClass, title ? title : "", style, ex, frame, owner);
  if (!win) return PlatAlertDefaultAnswer(buttons);
  PlatSetWindowWord(win, reinterpret_cast<intptr_t>(&a));
  PlatShowWindow(win, kPlatSwShowNormal);
  // The modal loop: every other message is dispatched meanwhile.
  PlatMsg m;
  bool quit = false;
  while (!a.answer && PlatIsWindow(win)) {
    if (!PlatGetMessage(&m, 0, 0, 0)) {
      quit = true;
      break;
    }
    PlatTranslateMessage(&m);
    PlatDispatchMessage(&m);
  }
  const int32_t answer = a.answer ? a.answer : Escape(a);
  if (PlatIsWindow(win)) {
    PlatSetWindowWord(win, 0);
    PlatDestroyWindow(win);
  }
  if (owner && PlatIsWindow(owner)) PlatSetActiveWindow(owner);
  if (quit) PlatPostQuitMessage(int32_t(m.wParam));  // the outer loop ends too
  return answer;
}

}  // namespace qxx11
