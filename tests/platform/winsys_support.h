// Test windows that log the messages they receive as text lines
// ("Activate 2 Inactive other=3"), answering some from a table.
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/qx_activate.h"
#include "platform/qx_defproc.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_window.h"

namespace winsys_test {

struct Recorder {
  std::mutex lock;
  std::vector<std::string> lines;
  std::map<PlatWindow, std::string> names;
  std::map<uint32_t, PlatResult> answers;  // message -> result instead of the default
  bool logMoves = true;
  // Handlers that change what WindowPosChanging carries, by window.
  std::map<PlatWindow, uint32_t> addFlags;

  static Recorder& Get() {
    static Recorder r;
    return r;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock);
    lines.clear();
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> g(lock);
    std::vector<std::string> v;
    v.swap(lines);
    return v;
  }
  std::string Name(PlatWindow w) {
    auto it = names.find(w);
    return it == names.end() ? std::to_string(w) : it->second;
  }
};

inline const char* MessageName(uint32_t m) {
  switch (m) {
    case kPlatMsgCreate: return "Create";
    case kPlatMsgDestroy: return "Destroy";
    case kPlatMsgClose: return "Close";
    case kPlatMsgShowWindow: return "ShowWindow";
    case kPlatMsgMove: return "Move";
    case kPlatMsgSize: return "Size";
    case kPlatMsgPaint: return "Paint";
    case kPlatMsgEraseBackground: return "EraseBackground";
    case kPlatMsgActivate: return "Activate";
    case kPlatMsgNcActivate: return "NcActivate";
    case kPlatMsgActivateApp: return "ActivateApp";
    case kPlatMsgSetFocus: return "SetFocus";
    case kPlatMsgKillFocus: return "KillFocus";
    case kPlatMsgMouseActivate: return "MouseActivate";
    case kPlatMsgSetCursor: return "SetCursor";
    case kPlatMsgNcHitTest: return "NcHitTest";
    case kPlatMsgWindowPosChanging: return "WindowPosChanging";
    case kPlatMsgGetMinMaxInfo: return "GetMinMaxInfo";
    case kPlatMsgQueryOpen: return "QueryOpen";
    case kPlatMsgCancelMode: return "CancelMode";
    case kPlatMsgSysCommand: return "SysCommand";
    case kPlatMsgNcLButtonDown: return "NcLButtonDown";
    case kPlatMsgKeyDown: return "KeyDown";
    case kPlatMsgKeyUp: return "KeyUp";
    case kPlatMsgChar: return "Char";
    case kPlatMsgSysKeyDown: return "SysKeyDown";
    case kPlatMsgSysKeyUp: return "SysKeyUp";
    case kPlatMsgSysChar: return "SysChar";
    case kPlatMsgMouseMove: return "MouseMove";
    case kPlatMsgLButtonDown: return "LButtonDown";
    case kPlatMsgLButtonUp: return "LButtonUp";
    case kPlatMsgRButtonDown: return "RButtonDown";
    case kPlatMsgRButtonUp: return "RButtonUp";
    case kPlatMsgMouseWheel: return "MouseWheel";
    default: return nullptr;
  }
}

// Logs the message with the window's name; parameters for the messages the
// tests read them from.
inline intptr_t LoggingProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  Recorder& r = Recorder::Get();
  std::string line;
  bool answer = false;
  PlatResult result = 0;
  uint32_t extra = 0;
  {
    std::lock_guard<std::mutex> g(r.lock);
    const char* n = MessageName(m);
    line = n ? n : ("Msg" + std::to_string(m));
    line += " " + r.Name(w);
    switch (m) {
      case kPlatMsgActivate:
        line += wp == kPlatWaInactive ? " Inactive" : wp == kPlatWaActive ? " Active" : " ClickActive";
        line += " other=" + (lp ? r.Name(PlatWindow(lp)) : std::string("0"));
        break;
      case kPlatMsgNcActivate: line += wp ? " on" : " off"; break;
      case kPlatMsgActivateApp: line += wp ? " 1" : " 0"; break;
      case kPlatMsgSize:
      case kPlatMsgLButtonDown:
      case kPlatMsgLButtonUp:
      case kPlatMsgRButtonDown:
      case kPlatMsgRButtonUp:
      case kPlatMsgMouseWheel:
        line += " " + std::to_string(PlatLowWord(lp)) + "," + std::to_string(PlatHighWord(lp)) +
                " w=" + std::to_string(wp);
        break;
      case kPlatMsgKeyDown:
      case kPlatMsgKeyUp:
      case kPlatMsgSysKeyDown:
      case kPlatMsgSysKeyUp:
      case kPlatMsgChar:
      case kPlatMsgSysChar:
      case kPlatMsgSysCommand:
        line += " " + std::to_string(wp) + " " + std::to_string(uint32_t(lp));
        break;
      default: break;
    }
    if (m != kPlatMsgMouseMove || r.logMoves) r.lines.push_back(line);
    auto it = r.answers.find(m);
    if (it != r.answers.end()) answer = true, result = it->second;
    auto f = r.addFlags.find(w);
    if (m == kPlatMsgWindowPosChanging && f != r.addFlags.end()) extra = f->second;
  }
  if (extra) reinterpret_cast<PlatWindowPos*>(lp)->flags |= extra;
  if (answer) return result;
  return PlatDefWindowProc(w, m, wp, lp);
}

// Retrieves and dispatches (translating keys) until nothing is left.
inline int Pump() {
  PlatMsg m;
  int n = 0;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
    PlatTranslateMessage(&m);
    PlatDispatchMessage(&m);
    ++n;
  }
  return n;
}

}  // namespace winsys_test
