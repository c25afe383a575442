#include "qx_alert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <strings.h>
#include <unistd.h>

#include "qx_input.h"
#include "qx_msgqueue.h"
#include "qx_thread.h"

static std::atomic<PlatAlertProc> gAlertProc{nullptr};
// Before an alert, mouse tracking ends: the capture window is told to cancel
// its mode.  Sent on the window's own thread; from another thread it is
// posted, since that thread may be waiting for the one showing the alert.
static void CancelCapture() {
  const PlatWindow capture = PlatGetCapture();
  if (!capture) return;
  if (PlatGetWindowThread(capture) == PlatThreadCurrentId())
    PlatSendMessage(capture, kPlatMsgCancelMode, 0, 0);
  else
    PlatPostMessage(capture, kPlatMsgCancelMode, 0, 0);
}

static std::atomic<PlatAlertPreludeProc> gAlertPrelude{CancelCapture};

PlatAlertProc PlatSetAlertProc(PlatAlertProc proc) { return gAlertProc.exchange(proc); }
PlatAlertPreludeProc PlatSetAlertPrelude(PlatAlertPreludeProc proc) { return gAlertPrelude.exchange(proc); }

namespace {

// The scripted answers left; 0 stands for a word that names no button.
struct ScriptedAnswers {
  std::mutex lock;
  bool loaded = false;
  std::deque<int32_t> answers;
};

ScriptedAnswers& TheAnswers() {
  static ScriptedAnswers* a = new ScriptedAnswers;
  return *a;
}

int32_t AnswerOfWord(const char* word, size_t len) {
  static const struct {
    const char* name;
    int32_t answer;
  } kNames[] = {{"OK", kPlatAnsOK},         {"Cancel", kPlatAnsCancel}, {"Abort", kPlatAnsAbort},
                {"Retry", kPlatAnsRetry},   {"Ignore", kPlatAnsIgnore}, {"Yes", kPlatAnsYes},
                {"No", kPlatAnsNo}};
  while (len && (*word == ' ' || *word == '\t')) ++word, --len;
  while (len && (word[len - 1] == ' ' || word[len - 1] == '\t')) --len;
  for (const auto& n : kNames)
    if (std::strlen(n.name) == len && strncasecmp(n.name, word, len) == 0) return n.answer;
  return 0;
}

// The caller holds the lock.
void LoadAnswers(ScriptedAnswers& a) {
  a.answers.clear();
  a.loaded = true;
  const char* text = std::getenv("QX_ALERT_ANSWERS");
  if (!text || !*text) return;
  for (const char* p = text;;) {
    const char* comma = std::strchr(p, ',');
    const size_t len = comma ? size_t(comma - p) : std::strlen(p);
    a.answers.push_back(AnswerOfWord(p, len));
    if (!comma) break;
    p = comma + 1;
  }
}

bool OffersAnswer(int32_t buttons, int32_t answer) {
  switch (buttons) {
    case kPlatOK: return answer == kPlatAnsOK;
    case kPlatOKCancel: return answer == kPlatAnsOK || answer == kPlatAnsCancel;
    case kPlatAbortRetryIgnore: return answer == kPlatAnsAbort || answer == kPlatAnsRetry || answer == kPlatAnsIgnore;
    case kPlatYesNoCancel: return answer == kPlatAnsYes || answer == kPlatAnsNo || answer == kPlatAnsCancel;
    case kPlatYesNo: return answer == kPlatAnsYes || answer == kPlatAnsNo;
    case kPlatRetryCancel: return answer == kPlatAnsRetry || answer == kPlatAnsCancel;
    default: return false;
  }
}

// The next scripted answer for these buttons, or the default one.
int32_t ScriptedAnswer(int32_t buttons) {
  ScriptedAnswers& a = TheAnswers();
  std::lock_guard<std::mutex> g(a.lock);
  if (!a.loaded) LoadAnswers(a);
  if (a.answers.empty()) return PlatAlertDefaultAnswer(buttons);
  const int32_t answer = a.answers.front();
  a.answers.pop_front();
  return OffersAnswer(buttons, answer) ? answer : PlatAlertDefaultAnswer(buttons);
}

}  // namespace

int32_t PlatAlertReloadAnswers() {
  ScriptedAnswers& a = TheAnswers();
  std::lock_guard<std::mutex> g(a.lock);
  LoadAnswers(a);
  return int32_t(a.answers.size());
}

int32_t PlatAlertDefaultAnswer(int32_t buttons) {
  switch (buttons) {
    case kPlatAbortRetryIgnore: return kPlatAnsIgnore;
    case kPlatRetryCancel: return kPlatAnsCancel;
    case kPlatYesNo: return kPlatAnsNo;
    case kPlatYesNoCancel: return kPlatAnsCancel;
    default: return kPlatAnsOK;
  }
}

int32_t PlatAlert(const char* title, const char* text, int32_t buttons, int32_t icon) {
  if (PlatAlertPreludeProc prelude = gAlertPrelude.load()) prelude();
  if (PlatAlertProc proc = gAlertProc.load()) return proc(title, text, buttons, icon);
  std::fprintf(stderr, "[alert%s%s] %s\n", title ? ": " : "", title ? title : "", text ? text : "");
  std::fflush(stderr);
  return ScriptedAnswer(buttons);
}

static std::atomic<PlatBeepProc> gBeepProc{nullptr};

PlatBeepProc PlatSetBeepProc(PlatBeepProc proc) { return gBeepProc.exchange(proc); }

void PlatBeep() {
  if (PlatBeepProc proc = gBeepProc.load()) return proc();
  // A terminal bell is the nearest thing to a beep a headless process has.
  if (isatty(2)) {
    (void)!write(2, "\a", 1);
  }
}

void PlatExitProcess(int32_t status) {
  std::fflush(nullptr);
  std::_Exit(status);
}
