#include "qx_msgqueue.h"

#include <atomic>
#include <algorithm>

#include "qx_event.h"
#include "qx_file.h"
#include "qx_thread.h"
#include "qx_time.h"
#include "qx_winsys_internal.h"

using namespace qxwin;

namespace {

// Ends the calling thread's queue when the thread ends: the sends waiting
// for it are answered with 0, so no sender waits for a thread that is gone.
struct QueueGuard {
  uint32_t thread = 0;
  ~QueueGuard() {
    if (!thread) return;
    Sys& s = TheSys();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.queues.find(thread);
    if (it == s.queues.end()) return;
    Queue& q = *it->second;
    q.ended = true;
    for (auto& send : q.sends) {
      send->answered = true;
      send->result = 0;
      Raise(send->sender);
    }
    q.sends.clear();
    s.queues.erase(it);
    if (s.uiThread == thread) s.uiThread = 0;  // the next thread making a window takes input
  }
};
thread_local QueueGuard tGuard;

// An event that is never set: waits on it end only on the input signal.
struct NeverEvent {
  PlatEvent* ev = nullptr;
  ~NeverEvent() {
    if (ev) PlatEventDestroy(ev);
  }
};
thread_local NeverEvent tNever;

// The sends from other threads that the calling thread runs, innermost last.
thread_local std::vector<std::shared_ptr<Send>>* tRunning = nullptr;

// Waits for the calling thread's input signal.
void WaitInput(uint32_t timeoutMs) {
  if (!tNever.ev) tNever.ev = PlatEventCreate(false);
  if (!tNever.ev) {
    PlatSleepMs(1);
    return;
  }
  PlatWaitEventOrInput(tNever.ev, timeoutMs);
}

}  // namespace

namespace qxwin {

Queue& QueueOf(Sys& s, uint32_t thread) {
  auto& q = s.queues[thread];
  if (!q) {
    q = std::make_shared<Queue>();
    q->thread = thread;
    if (thread == PlatThreadCurrentId()) tGuard.thread = thread;
  }
  return *q;
}

}  // namespace qxwin

namespace {

Queue& MyQueue(Sys& s) {
  PlatThreadRegisterInput();
  return QueueOf(s, PlatThreadCurrentId());
}

// Runs one send waiting for the calling thread; false when none waits.
bool ServeOneSend() {
  Sys& s = TheSys();
  std::shared_ptr<Send> send;
  {
    std::lock_guard<std::mutex> g(s.lock);
    Queue& q = MyQueue(s);
    if (q.sends.empty()) return false;
    send = q.sends.front();
    q.sends.pop_front();
  }
  std::vector<std::shared_ptr<Send>> local;
  if (!tRunning) tRunning = &local;
  tRunning->push_back(send);
  const PlatResult r = CallProc(send->window, send->message, send->wParam, send->lParam);
  tRunning->pop_back();
  if (tRunning == &local) tRunning = nullptr;
  std::lock_guard<std::mutex> g(s.lock);
  if (!send->answered) {
    send->answered = true;
    send->result = r;
    Raise(send->sender);
  }
  return true;
}

void ServeSends() {
  while (ServeOneSend()) {
  }
}

bool Matches(const PlatMsg& m, PlatWindow w, uint32_t first, uint32_t last) {
  if (w && m.window != w) return false;
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

}  // namespace

bool PlatPostMessage(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  uint32_t thread;
  if (w == 0) {
    thread = PlatThreadCurrentId();
    MyQueue(s);
  } else {
    Window* r = Find(s, w);
    if (!r) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return false;
    }
    thread = r->thread;
  }
  Queue& q = QueueOf(s, thread);
  q.posts.push_back(PlatMsg{w, message, wParam, lParam, PlatTickMs(), s.mouseX, s.mouseY});
  Raise(thread);
  return true;
}

bool PlatPostThreadMessage(uint32_t threadId, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue* q = ExistingQueue(s, threadId);
  if (!q || q->ended) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  q->posts.push_back(PlatMsg{0, message, wParam, lParam, PlatTickMs(), s.mouseX, s.mouseY});
  Raise(threadId);
  return true;
}

PlatResult PlatSendMessage(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  Sys& s = TheSys();
  const uint32_t me = PlatThreadCurrentId();
  auto send = std::make_shared<Send>();
  uint32_t target;
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (!r) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return 0;
    }
    target = r->thread;
    if (target != me) {
      // A window's thread has a queue from the window's creation until it
      // ends: none means it ended and cannot answer.
      Queue* q = ExistingQueue(s, target);
      if (!q || q->ended) return 0;
      MyQueue(s);
      *send = Send{w, message, wParam, lParam, me};
      q->sends.push_back(send);
      Raise(target);
    }
  }
  if (target == me) return CallProc(w, message, wParam, lParam);
  for (;;) {
    ServeSends();
    {
      std::lock_guard<std::mutex> g(s.lock);
      if (send->answered) return send->result;
      Queue* q = ExistingQueue(s, target);
      if (!q || q->ended) return 0;
      if (!MyQueue(s).sends.empty()) continue;
    }
    WaitInput(kPlatWaitForever);
  }
}

bool PlatReplyMessage(PlatResult result) {
  if (!tRunning || tRunning->empty()) return false;
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Send& send = *tRunning->back();
  if (send.answered) return false;
  send.answered = true;
  send.result = result;
  Raise(send.sender);
  return true;
}

bool PlatInSendMessage() { return tRunning && !tRunning->empty(); }

int32_t PlatAnswerPendingSends(PlatWindow w, uint32_t message) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue& q = MyQueue(s);
  int32_t n = 0;
  for (auto it = q.sends.begin(); it != q.sends.end();) {
    Send& send = **it;
    if ((w == 0 || send.window == w) && send.message == message) {
      send.answered = true;
      send.result = 0;
      Raise(send.sender);
      it = q.sends.erase(it);
      ++n;
    } else {
      ++it;
    }
  }
  return n;
}

bool PlatPeekMessage(PlatMsg* msg, PlatWindow w, uint32_t first, uint32_t last, uint32_t flags) {
  if (!msg) return false;
  Sys& s = TheSys();
  const bool remove = (flags & kPlatPeekRemove) != 0;
  const bool any = first == 0 && last == 0;
  // A display connection serving this thread reads what it has received.
  PlatThreadPumpWaitSource();
  for (;;) {
    ServeSends();
    CheckTermination();
    Input in;
    {
      std::lock_guard<std::mutex> g(s.lock);
      Queue& q = MyQueue(s);
      if (!q.sends.empty()) continue;
      for (auto it = q.posts.begin(); it != q.posts.end(); ++it) {
        if (!Matches(*it, w, first, last)) continue;
        *msg = *it;
        if (remove) {
          q.posts.erase(it);
          q.lastTime = msg->time, q.lastX = msg->x, q.lastY = msg->y;
        }
        return true;
      }
      if (q.quit && w == 0 && (any || (kPlatMsgQuit >= first && kPlatMsgQuit <= last))) {
        *msg = PlatMsg{0, kPlatMsgQuit, PlatWParam(q.quitCode), 0, PlatTickMs(), s.mouseX, s.mouseY};
        if (remove) q.quit = false;
        return true;
      }
      bool cook = false;
      if (!q.input.empty()) {
        PlatMsg preview;
        const bool makes = PreviewInput(s, q.input.front(), &preview);
        if (!makes) {
          // An event that makes no message for this thread (over the
          // desktop): cooked only to keep the input state.
          if (remove) {
            in = q.input.front();
            q.input.pop_front();
            cook = true;
          }
        } else if (Matches(preview, w, first, last)) {
          if (!remove) {
            *msg = preview;
            return true;
          }
          in = q.input.front();
          q.input.pop_front();
          cook = true;
        }
      }
      if (!cook) {
        if (any || (kPlatMsgPaint >= first && kPlatMsgPaint <= last)) {
          if (PlatWindow p = NextPaint(s, q.thread)) {
            if (!w || p == w) {
              *msg = PlatMsg{p, kPlatMsgPaint, 0, 0, PlatTickMs(), s.mouseX, s.mouseY};
              return true;
            }
          }
        }
        return false;
      }
    }
    PlatMsg out;
    if (CookInput(in, &out)) {
      *msg = out;
      std::lock_guard<std::mutex> g(s.lock);
      Queue& q = MyQueue(s);
      q.lastTime = out.time, q.lastX = out.x, q.lastY = out.y;
      return true;
    }
  }
}

bool PlatGetMessage(PlatMsg* msg, PlatWindow w, uint32_t first, uint32_t last) {
  if (!msg) return false;
  while (!PlatPeekMessage(msg, w, first, last, kPlatPeekRemove)) WaitInput(kPlatWaitForever);
  return msg->message != kPlatMsgQuit;
}

namespace {
std::atomic<void (*)(PlatLParam)> gComCallProc{nullptr};
}  // namespace

void PlatSetComCallProc(void (*proc)(PlatLParam call)) { gComCallProc.store(proc); }

PlatResult PlatDispatchMessage(const PlatMsg* msg) {
  if (msg && !msg->window && msg->message == kPlatMsgComCall) {
    if (auto* proc = gComCallProc.load()) proc(msg->lParam);
    return 0;
  }
  if (!msg || !msg->window) return 0;
  const PlatResult r = CallProc(msg->window, msg->message, msg->wParam, msg->lParam);
  // What the procedure drew goes to the screen before the next message.
  PlatThreadPumpWaitSource();
  return r;
}

void PlatPostQuitMessage(int32_t exitCode) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue& q = MyQueue(s);
  q.quit = true;
  q.quitCode = exitCode;
  Raise(q.thread);
}

uint32_t PlatGetMessageTime() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return MyQueue(s).lastTime;
}

void PlatGetMessagePos(int32_t* x, int32_t* y) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue& q = MyQueue(s);
  if (x) *x = q.lastX;
  if (y) *y = q.lastY;
}

bool PlatQueueHasWork() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Queue& q = MyQueue(s);
  return !q.sends.empty() || !q.posts.empty() || q.quit || !q.input.empty() || NextPaint(s, q.thread) != 0;
}
