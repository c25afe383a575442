// Message queues: retrieval order, posts, sends across threads, replies,
// quit, and the input signal that wakes a waiting thread.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "emulation.h"
#include "platform/qx_display.h"
#include "platform/qx_file.h"
#include "platform/qx_input.h"
#include "platform/qx_paint.h"
#include "platform/qx_thread.h"
#include "platform/qx_time.h"
#include "winsys_support.h"

namespace {

using winsys_test::Recorder;

class MsgQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatWindowsReset();
    Recorder::Get().Clear();
    Recorder::Get().answers.clear();
    ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"log", winsys_test::LoggingProc, 0, kPlatNoBrush}));
  }
  void TearDown() override {
    winsys_test::Pump();
    PlatWindowsReset();
  }
  static PlatWindow Make(const char* name, const PlatRect& r = PlatRect{0, 0, 100, 100}) {
    const PlatWindow w = PlatCreateWindow("log", name, 0, 0, r, 0);
    Recorder::Get().names[w] = name;
    return w;
  }
};

TEST_F(MsgQueue, PostsComeFirstThenQuitThenInputThenOnePaint) {
  const PlatWindow w = Make("W");
  PlatShowWindow(w, kPlatSwShowNoActivate);
  PlatValidateRect(w, nullptr);
  PlatInvalidateRect(w, nullptr, false);
  PlatInjectMouseMove(50, 50, 7);
  PlatPostQuitMessage(3);
  PlatPostMessage(w, kPlatMsgUser1, 1, 0);
  PlatPostMessage(0, kPlatMsgUser2, 2, 0);
  struct Want {
    uint32_t message;
    PlatWindow window;
  };
  const Want want[] = {{kPlatMsgUser1, w}, {kPlatMsgUser2, 0}, {kPlatMsgQuit, 0}, {kPlatMsgMouseMove, w},
                       {kPlatMsgPaint, w}, {kPlatMsgPaint, w}};
  PlatMsg m;
  for (const Want& x : want) {
    ASSERT_TRUE(PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) << x.message;
    EXPECT_EQ(m.message, x.message);
    EXPECT_EQ(m.window, x.window);
  }
  // Paint stays until painted.
  PlatPaintInfo pi;
  ASSERT_NE(PlatBeginPaint(w, &pi), 0u);
  PlatEndPaint(w, &pi);
  EXPECT_FALSE(PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove));
}

TEST_F(MsgQueue, FiltersAndNoRemoveLeaveOthersInOrder) {
  const PlatWindow a = Make("A"), b = Make("B");
  for (int i = 0; i < 3; ++i) {
    PlatPostMessage(a, kPlatMsgUser0 + uint32_t(i), 0, 0);
    PlatPostMessage(b, kPlatMsgUser0 + uint32_t(i), 0, 0);
  }
  PlatMsg m;
  ASSERT_TRUE(PlatPeekMessage(&m, b, 0, 0, kPlatPeekNoRemove));
  EXPECT_EQ(m.window, b);
  ASSERT_TRUE(PlatPeekMessage(&m, 0, kPlatMsgUser2, kPlatMsgUser4, kPlatPeekRemove));
  EXPECT_EQ(m.window, a);
  EXPECT_EQ(m.message, uint32_t(kPlatMsgUser2));
  EXPECT_FALSE(PlatPeekMessage(&m, 0, kPlatMsgUser3, kPlatMsgUser4, kPlatPeekRemove));
  std::vector<std::pair<PlatWindow, uint32_t>> rest;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) rest.emplace_back(m.window, m.message);
  const std::vector<std::pair<PlatWindow, uint32_t>> want = {
      {a, kPlatMsgUser0}, {b, kPlatMsgUser0}, {a, kPlatMsgUser1}, {b, kPlatMsgUser1}, {b, kPlatMsgUser2}};
  EXPECT_EQ(rest, want);
}

TEST_F(MsgQueue, StaleWindowsAndThreadsAreRefused) {
  const PlatWindow w = Make("W");
  PlatPostMessage(w, kPlatMsgUser0, 0, 0);
  ASSERT_TRUE(PlatDestroyWindow(w));
  PlatMsg m;
  EXPECT_FALSE(PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) << "posts to a destroyed window are dropped";
  PlatSetLastError(0);
  EXPECT_FALSE(PlatPostMessage(w, kPlatMsgUser0, 0, 0));
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
  EXPECT_EQ(PlatSendMessage(w, kPlatMsgUser0, 0, 0), 0);
  EXPECT_FALSE(PlatDestroyWindow(w));
  EXPECT_FALSE(PlatPostThreadMessage(0x7FFFFFF0u, kPlatMsgUser0, 0, 0));
  EXPECT_FALSE(PlatReplyMessage(1)) << "no send is running";
  EXPECT_FALSE(PlatGetMessage(nullptr, 0, 0, 0));
  EXPECT_EQ(PlatDispatchMessage(nullptr), 0);
}

TEST_F(MsgQueue, HundredThousandPostsKeepOrder) {
  const PlatWindow w = Make("W");
  constexpr int kCount = 100000;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(PlatPostMessage(w, kPlatMsgUser0, PlatWParam(i), 0));
  PlatMsg m;
  int next = 0;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
    if (m.wParam != PlatWParam(next)) break;
    ++next;
  }
  EXPECT_EQ(next, kCount);
}

// A window on a thread of its own that serves messages until Quit.
struct Server {
  std::atomic<PlatWindow> window{0};
  std::atomic<uint32_t> thread{0};
  std::atomic<int> served{0};
  PlatWindowProc proc = nullptr;
  std::thread t;
  void Start(PlatWindowProc p) {
    proc = p;
    t = std::thread([this] {
      thread = PlatThreadCurrentId();
      const PlatWindow w = PlatCreateWindow(nullptr, "server", 0, 0, PlatRect{0, 0, 10, 10}, 0);
      PlatMsg m;
      PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove);  // makes the queue
      window = w;
      while (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
      PlatDestroyWindow(w);
    });
    while (!window) PlatSleepMs(1);
  }
  void Stop() {
    PlatPostThreadMessage(thread, kPlatMsgQuit, 0, 0);
    t.join();
  }
};

std::atomic<int> gReplyStage{0};
intptr_t ReplyingProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgUser0) {
    EXPECT_TRUE(PlatInSendMessage());
    EXPECT_TRUE(PlatReplyMessage(0));
    EXPECT_FALSE(PlatReplyMessage(5)) << "answered once";
    while (gReplyStage.load() == 0) PlatSleepMs(1);  // the sender goes on meanwhile
    return 99;
  }
  if (m == kPlatMsgUser1) return intptr_t(wp) * 2;
  return PlatDefWindowProc(w, m, wp, lp);
}

TEST_F(MsgQueue, ThreadsSendReplyEarlyAndAnswer) {
  gReplyStage = 0;
  std::atomic<PlatWindow> other{0}, orphan{0};
  std::thread t([&] {
    PlatRegisterClass(PlatWindowClass{"reply", ReplyingProc, 0, kPlatNoBrush});
    orphan = PlatCreateWindow("reply", "left behind", 0, 0, PlatRect{0, 0, 1, 1}, 0);
    other = PlatCreateWindow("reply", "r", 0, 0, PlatRect{0, 0, 1, 1}, 0);
    PlatMsg m;
    while (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
  });
  while (!other) PlatSleepMs(1);
  EXPECT_EQ(PlatSendMessage(other, kPlatMsgUser0, 0, 0), 0) << "the early reply";
  gReplyStage = 1;
  EXPECT_EQ(PlatSendMessage(other, kPlatMsgUser1, 21, 0), 42);
  PlatPostThreadMessage(PlatGetWindowThread(other), kPlatMsgQuit, 0, 0);
  t.join();
  // The window outlives its thread: a send to it answers 0 at once.
  ASSERT_TRUE(PlatIsWindow(orphan));
  EXPECT_EQ(PlatSendMessage(orphan, kPlatMsgUser1, 21, 0), 0);
}

// Mutual sends: A's thread sends to B, whose procedure sends back to A while
// A's thread is blocked; the blocked send serves it.
std::atomic<PlatWindow> gMain{0};
intptr_t BounceProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgUser0) return PlatSendMessage(gMain, kPlatMsgUser1, wp + 1, 0) + 100;
  return PlatDefWindowProc(w, m, wp, lp);
}
intptr_t MainProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgUser1) return intptr_t(wp) * 10;
  return PlatDefWindowProc(w, m, wp, lp);
}

TEST_F(MsgQueue, ThreadsMutualSendsComplete) {
  PlatRegisterClass(PlatWindowClass{"main", MainProc, 0, kPlatNoBrush});
  gMain = PlatCreateWindow("main", "m", 0, 0, PlatRect{0, 0, 1, 1}, 0);
  std::atomic<PlatWindow> b{0};
  std::atomic<uint32_t> tid{0};
  std::thread t([&] {
    PlatRegisterClass(PlatWindowClass{"bounce", BounceProc, 0, kPlatNoBrush});
    tid = PlatThreadCurrentId();
    b = PlatCreateWindow("bounce", "b", 0, 0, PlatRect{0, 0, 1, 1}, 0);
    PlatMsg m;
    while (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
    PlatDestroyWindow(b);
  });
  while (!b) PlatSleepMs(1);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(PlatSendMessage(b, kPlatMsgUser0, PlatWParam(i), 0), (i + 1) * 10 + 100);
  PlatPostThreadMessage(tid, kPlatMsgQuit, 0, 0);
  t.join();
}

TEST_F(MsgQueue, ThreadsPostedQuitEndsAnotherThreadsGetLoop) {
  std::atomic<uint32_t> tid{0};
  std::atomic<int> got{0};
  std::atomic<int> code{-1};
  std::thread t([&] {
    PlatMsg m;
    PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove);
    tid = PlatThreadCurrentId();
    while (PlatGetMessage(&m, 0, 0, 0)) ++got;
    code = int(m.wParam);
  });
  while (!tid) PlatSleepMs(1);
  PlatPostThreadMessage(tid, kPlatMsgUser0, 0, 0);
  PlatPostThreadMessage(tid, kPlatMsgQuit, 7, 0);
  t.join();
  EXPECT_EQ(got, 1);
  EXPECT_EQ(code, 7);
}

TEST_F(MsgQueue, ThreadsWaitPumpingWakesOnPostSendAndInput) {
  // The wait of a thread returns when a post, a send or input arrives for it.
  PlatEvent* never = PlatEventCreate(false);
  std::atomic<uint32_t> tid{0};
  std::atomic<PlatWindow> w{0};
  std::atomic<int> stage{0};
  std::atomic<int> wakes{0};
  std::thread t([&] {
    w = PlatCreateWindow(nullptr, "t", 0, 0, PlatRect{0, 0, 1, 1}, 0);
    PlatMsg m;
    PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove);
    tid = PlatThreadCurrentId();
    for (int i = 0; i < 2; ++i) {
      while (PlatWaitEventOrInput(never, 5000) != kPlatWaitInput) {
      }
      ++wakes;
      while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
      stage = i + 1;
    }
    PlatDestroyWindow(w);
  });
  while (!tid) PlatSleepMs(1);
  PlatPostMessage(w, kPlatMsgUser0, 0, 0);
  while (stage < 1) PlatSleepMs(1);
  EXPECT_EQ(PlatSendMessage(w, kPlatMsgUser0, 0, 0), 0);  // answered inside the peek
  t.join();
  EXPECT_EQ(wakes, 2);
  PlatEventDestroy(never);
}

TEST_F(MsgQueue, AnsweringPendingSendsDropsThem) {
  const PlatWindow w = Make("W");
  Recorder::Get().Clear();
  std::atomic<PlatResult> r{-1};
  std::thread t([&] { r = PlatSendMessage(w, kPlatMsgUser3, 0, 0); });
  // Wait until the send is queued for this thread.
  while (PlatAnswerPendingSends(w, kPlatMsgUser3) == 0) PlatSleepMs(1);
  t.join();
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(Recorder::Get().Take().empty()) << "the procedure never ran";
}

}  // namespace

namespace {

TEST_F(MsgQueue, ThreadsWaitReturnsOnEventOrInputAndStaysIdleOtherwise) {
  PlatEvent* ev = PlatEventCreate(false);
  std::atomic<uint32_t> tid{0};
  std::atomic<PlatWindow> w{0};
  std::atomic<int> stage{0};
  std::atomic<int32_t> results[2] = {{-1}, {-1}};
  std::atomic<int> got{0};
  int idleWakes = 0;
  std::thread t([&] {
    w = PlatCreateWindow(nullptr, "t", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    PlatMsg m;
    tid = PlatThreadCurrentId();
    // An idle second wakes at most once (at its end).
    const uint64_t end = PlatMonotonicUs() + 1000000;
    for (uint64_t now = PlatMonotonicUs(); now < end; now = PlatMonotonicUs()) {
      PlatWaitEventOrInput(ev, uint32_t((end - now) / 1000) + 1);
      ++idleWakes;
    }
    stage = 1;
    for (int i = 0; i < 2; ++i) {
      results[i] = PlatWaitEventOrInput(ev, 5000);
      ++got;
      while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
      }
    }
    PlatDestroyWindow(w);
  });
  while (stage < 1) PlatSleepMs(1);
  PlatEventSet(ev);
  while (got < 1) PlatSleepMs(1);
  // Input injected for this thread's windows wakes it too.
  PlatInjectKey('A', true, 1);
  t.join();
  EXPECT_LE(idleWakes, 2);
  EXPECT_EQ(results[0], kPlatWaitEvent);
  EXPECT_EQ(results[1], kPlatWaitInput);
  PlatEventDestroy(ev);
}

// Runs in a child process: the handlers stay installed for the rest of the
// process, where a signal would no longer end it.
void SignalsPostClose() {
  auto fail = [](const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
  };
  if (!PlatWindowSystemStart()) fail("start");
  const PlatWindow frame = PlatCreateWindow(nullptr, "frame", 0, 0, PlatRect{0, 0, 1, 1}, 0);
  PlatSetFrameWindow(frame);
  if (PlatGetFrameWindow() != frame) fail("frame");
  for (int sig : {SIGTERM, SIGINT}) {
    if (qxtest::RaiseSignal(sig) != 0) fail("raise");
    PlatMsg m{};
    const uint64_t end = PlatMonotonicUs() + 5000000;
    while (!PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove) && PlatMonotonicUs() < end) PlatSleepMs(1);
    if (!PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove) || m.message != kPlatMsgClose || m.window != frame)
      fail("no Close for the frame");
    if (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) fail("one Close a signal");
  }
  std::_Exit(0);
}

TEST_F(MsgQueue, TerminationSignalsPostCloseToTheFrame) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SignalsPostClose(), ::testing::ExitedWithCode(0), "");
  setenv("QX_UI", "x11", 1);
  EXPECT_FALSE(PlatWindowSystemStart()) << "a backend this build does not have";
  unsetenv("QX_UI");
  // The default Close destroys.
  const PlatWindow w = Make("W");
  PlatMsg m{w, kPlatMsgClose, 0, 0, 0, 0, 0};
  PlatDispatchMessage(&m);
  EXPECT_FALSE(PlatIsWindow(w));
}

}  // namespace
