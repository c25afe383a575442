// GPIB address texts and words, time limits, and the board units: the
// driver calls a first use, a change and the device cache make, closing, and
// first uses from two threads.
#include <atomic>
#include <cstring>
#include <thread>

#include "engine/exec_test_support.h"
#include "gpib_test_support.h"
#include "io/gpibsup.h"
#include "mgsource/memory.h"

using namespace gpibtest;

namespace {

LStrHandle Text(const char* s, int32 count = -1) {
  int32 n = int32(std::strlen(s));
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
  (*h)->cnt = count < 0 ? n : count;
  std::memcpy((*h)->str, s, size_t(n));
  return h;
}

class GPIBSupport : public ::testing::Test {
 protected:
  void SetUp() override {
    BindAndReset();
    GPIBCloseAllUnits();
    Calls();
  }
  void TearDown() override { GPIBCloseAllUnits(); }
};

TEST_F(GPIBSupport, AddressTextsParseWithoutWrapping) {
  struct Case {
    const char* text;
    int32 count;  // -1: the text's length
    uInt32 board;
    GPIBAddress address;
    uInt32 error;
  } cases[] = {
      {"5", -1, 0, 5, 0},           {"2:5", -1, 2, 5, 0},         {"2:5+3", -1, 2, 0x6305, 0},
      {"5+3", -1, 0, 0x6305, 0},    {"2:", -1, 2, 0xFFFF, 0},     {"31", -1, 0, 0xFFFF, 0},
      {"999:30+30", -1, 999, 0x7E1E, 0}, {"5+", -1, 0, 5, 0},     {"", -1, 0, 0xFFFF, 0},
      {"1000:5", -1, 0, 0xFFFF, 30}, {"2:45", -1, 2, 0xFFFF, 30}, {"a", -1, 0, 0xFFFF, 30},
      {"65540:5", -1, 0, 0xFFFF, 30}, {"2:5+31", -1, 2, 0xFFFF, 30}, {"7 ", -1, 0, 0xFFFF, 30},
      {"32", -1, 0, 0xFFFF, 30},    {"2:5", 1000, 2, 5, 0},  // a count past the handle reads what is there
  };
  for (const Case& c : cases) {
    LStrHandle h = Text(c.text, c.count);
    uInt32 board = 77, error = 77;
    GPIBAddress address = 77;
    ParseAddressString(h, &board, &address, &error);
    EXPECT_EQ(board, c.board) << c.text;
    EXPECT_EQ(address, c.address) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    DSDisposeHandle(reinterpret_cast<UHandle>(h));
  }
  uInt32 board = 77, error = 77;
  GPIBAddress address = 77;
  ParseAddressString(nullptr, &board, &address, &error);
  EXPECT_EQ(board + address + error, 0xFFFFu);
}

TEST_F(GPIBSupport, AddressWordsFromNumbers) {
  struct Case {
    uInt16 primary;
    uInt32 secondary;
    GPIBAddress address;
    MgErr err;
  } cases[] = {{5, 31, 5, 0}, {5, 3, 0x6305, 0}, {31, 31, 0xFFFF, 0}, {40, 0, 0xFFFF, 38}, {5, 40, 5, 38},
               {31, 0, 0xFFFF, 38}, {0, 30, 0x7E00, 0}};
  for (const Case& c : cases) {
    GPIBAddress a = 1;
    EXPECT_EQ(MakeAddress(c.primary, c.secondary, &a), c.err) << c.primary << "+" << c.secondary;
    EXPECT_EQ(a, c.address) << c.primary << "+" << c.secondary;
  }
}

TEST_F(GPIBSupport, TimeLimitsBecomeCodes) {
  struct Step {
    uInt32 ms, previous;
    int32 defaultCode;
  } steps[] = {{2000, 10000, 12}, {0xFFFFFFFF, 3000, 12}, {0, 3000, 0},
               {2000000, 0, 17},  {1000000, 1000000, 17}, {10000, 1000000, 13}};
  for (const Step& s : steps) {
    EXPECT_EQ(SetGPIBTimeout(s.ms), s.previous) << s.ms;
    EXPECT_EQ(GPIBTimeCode(0xFFFFFFFF), s.defaultCode) << s.ms;
  }
  EXPECT_EQ(GPIBTimeCode(2000000), 0);
  EXPECT_EQ(GPIBTimeCode(0), 0);
  EXPECT_EQ(GPIBTimeCode(1), 5);
}

TEST_F(GPIBSupport, StatusArraysRoundTrip) {
  UHandle h = DSNewHandle(0);
  ASSERT_EQ(StatusToArray(h, 0x18120), kNoErr);
  ASSERT_EQ(DSGetHandleSize(h), 20);
  int32 count = 0;
  std::memcpy(&count, *h, 4);
  EXPECT_EQ(count, 16);
  EXPECT_EQ(ArrayToMask(h), 0x8120u);  // bit 16 is not in the array
  count = 1000;                        // a count past the handle's bytes
  std::memcpy(*h, &count, 4);
  DSSetHandleSize(h, 4 + 6);
  EXPECT_EQ(ArrayToMask(h), 0x20u);
  EXPECT_EQ(ArrayToMask(nullptr), 0u);
  EXPECT_EQ(StatusToArray(nullptr, 1), kArgErr);
  DSDisposeHandle(h);
}

// The board's own settings, sent and read back, after the system-controller steps.
std::vector<std::string> Settings(int b) {
  std::string s = std::to_string(b);
  return {"ibtmo(" + s + ",13)", "ibeos(" + s + ",0)", "ibeot(" + s + ",1)", "ibpad(" + s + ",0)",
          "ibsad(" + s + ",0)", "ibconfig(" + s + ",6,1)"};
}

TEST_F(GPIBSupport, FirstUseOpensTheBoardThenOnlyChangesAreSent) {
  ASSERT_EQ(Apply("board 1 controller=0"), 0);
  ibsic(ibfindA("gpib2"));  // already controller in charge
  ibeos(ibfindA("gpib3"), 0x140A);
  Calls();
  struct Open {
    int32 board;
    Bool32 wish;
    uInt32 limit;
    std::vector<std::string> head, tail;  // around Settings(board)
  } opens[] = {
      {0, 1, 0xFFFFFFFF, {"ibfindA(gpib0)", "ibrsc(0,1)", "ibsic(0)", "ibsre(0,1)"}, {}},
      {1, 0, 0xFFFFFFFF, {"ibfindA(gpib1)", "ibrsc(1,1)", "ibrsc(1,0)"}, {}},
      {1, 1, 0xFFFFFFFF, {"ibfindA(gpib1)", "ibrsc(1,1)"}, {}},
      {2, 1, 0xFFFFFFFF, {"ibfindA(gpib2)", "ibrsc(2,1)"}, {}},
      // Limit 0 keeps the board's code, EOS left keeps its own.
      {3, 1, 0, {"ibfindA(gpib3)", "ibrsc(3,1)", "ibsic(3)", "ibsre(3,1)", "ibtmo(3,0)"}, {}},
  };
  for (Open& o : opens) {
    GPIBUnit* u = GetGPIBUnit(o.board);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(OpenBoardDescriptor(o.board, 0xFFFF, o.limit, -1, -1, u, o.wish), o.board);
    std::vector<std::string> want = o.head;
    for (const std::string& s : Settings(o.board)) want.push_back(s);
    if (o.board == 3) want.insert(want.begin() + 7, "ibeos(3,5130)");
    EXPECT_EQ(Calls(), want) << o.board;
    if (o.board == 1) GPIBCloseDevOrUnit(1, 0xFFFF);
  }
  GPIBUnit* u = GetGPIBUnit(0);
  struct Again {
    GPIBAddress address;
    uInt32 limit;
    int32 eot, eos;
    std::vector<std::string> calls;
  } again[] = {
      {0xFFFF, 0xFFFFFFFF, -1, -1, {}},
      {0xFFFF, 0xFFFFFFFF, -1, 10, {"ibeos(0,10)"}},
      {0x6305, 0, 0, 10, {"ibeot(0,0)", "ibsad(0,99)", "ibpad(0,5)"}},  // secondary first
      {0x6307, 2000, 0, 10, {"ibtmo(0,12)", "ibpad(0,7)"}},
  };
  for (const Again& a : again) {
    EXPECT_EQ(OpenBoardDescriptor(0, a.address, a.limit, a.eot, a.eos, u, 1), 0);
    EXPECT_EQ(Calls(), a.calls) << a.address;
  }
  EXPECT_EQ(u->boardCode, 12);
  EXPECT_EQ(u->systemController, 1);
  EXPECT_EQ(u->ifcDone, 1u);
  EXPECT_EQ(GetGPIBUnit(1)->systemController, 0);  // its first use gave system control up
  // A board the driver cannot open.
  GPIBUnit* bad = GetGPIBUnit(999);
  GPIBSetLibraryForTest("/nonexistent/libqxgpib.so");
  GPIBUnbindForTest();
  EXPECT_EQ(OpenBoardDescriptor(999, 0xFFFF, 0, -1, -1, bad, 1), -1);
  EXPECT_EQ(GetDeviceDescriptor(999, 5, 0, -1, -1, bad), -1);
  EXPECT_EQ(bad->boardDescriptor, -1);
  BindAndReset();
}

TEST_F(GPIBSupport, TheSeventeenthDeviceTakesOverTheLeastRecentEntry) {
  GPIBUnit* u = GetGPIBUnit(0);
  for (int p = 1; p <= 16; ++p) ASSERT_EQ(GetDeviceDescriptor(0, GPIBAddress(p), 0xFFFFFFFF, -1, -1, u), 999 + p);
  std::vector<std::string> first = Calls();
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(first.end() - 2, first.end()),
            (std::vector<std::string>{"ibdev(0,16,0,13,1,0)", "ibconfig(1015,6,1)"}));
  struct Step {
    int op;  // 0 get, 1 close
    GPIBAddress address;
    uInt32 limit;
    int32 descriptor;
    std::vector<std::string> calls;
  } steps[] = {
      {0, 17, 0xFFFFFFFF, 1000, {"ibpad(1000,17)", "ibsad(1000,0)"}},
      {0, 1, 0xFFFFFFFF, 1001, {"ibpad(1001,1)", "ibsad(1001,0)"}},  // 1 again takes 2's
      {0, 0x6503, 0, 1002, {"ibpad(1002,3)", "ibsad(1002,101)", "ibtmo(1002,0)"}},
      {0, 0x6503, 0, 1002, {}},
      {1, 5, 0, 0, {"ibonl(1004,0)"}},
      // The closed entry is the least recent and has no descriptor: a new one.
      {0, 29, 2000000, 1004, {"ibdev(0,29,0,0,1,0)", "ibconfig(1004,6,1)"}},
      {0, 17, 0xFFFFFFFF, 1000, {}},
  };
  for (const Step& s : steps) {
    if (s.op == 0) EXPECT_EQ(GetDeviceDescriptor(0, s.address, s.limit, -1, -1, u), s.descriptor) << s.address;
    else EXPECT_EQ(CloseDeviceDescriptor(0, u, s.address), kNoErr);
    EXPECT_EQ(Calls(), s.calls) << s.address;
  }
  EXPECT_EQ(u->deviceCount, 16);
  // Closing the unit closes every open descriptor, the board stays on line.
  EXPECT_EQ(GPIBCloseDevOrUnit(0, 0xFFFF), kNoErr);
  std::vector<std::string> closed = Calls();
  EXPECT_EQ(closed.size(), 16u);
  EXPECT_EQ(closed.front(), "ibonl(1000,0)");
}

TEST_F(GPIBSupport, BadBoardsAndForeignUnits) {
  int32 result = 0;
  EXPECT_EQ(GPIBUnitAccess(1000, &result, nullptr, kUnitAcquire), kMemFullErr);
  EXPECT_EQ(result, kUnitNothing);
  EXPECT_EQ(GPIBUnitAccess(-1, &result, nullptr, kUnitAcquire), kMemFullErr);
  EXPECT_EQ(GPIBCloseDevOrUnit(1000, 5), kGPIBNoUnitErr);
  EXPECT_EQ(GetGPIBUnit(1000), nullptr);
  GPIBUnit* four = GetGPIBUnit(4);
  EXPECT_EQ(CloseDeviceDescriptor(5, four, 3), kGPIBAddressErr);
  // Closed through the wrong board: 38, and the right slot lets it go.
  EXPECT_EQ(CloseGPIBUnit(5, four, 0), kGPIBAddressErr);
  GPIBUnit* again = GetGPIBUnit(4);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->head.signature, kUnitAccessSignature);
  // Taken off line: the board's descriptor goes too.
  GPIBUnit* six = GetGPIBUnit(6);
  ASSERT_EQ(GetDeviceDescriptor(6, 2, 0, -1, -1, six), 1000);
  Calls();
  EXPECT_EQ(CloseGPIBUnit(6, six, 1), kNoErr);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"ibonl(1000,0)", "ibonl(6,0)"}));
  // A record no slot holds is refused untouched.
  GPIBUnit foreign{};
  foreign.boardDescriptor = 7;
  foreign.devices[0].descriptor = 9;
  foreign.devices[0].address = 3;
  EXPECT_EQ(CloseGPIBUnit(6, &foreign, 1), kGPIBAddressErr);
  EXPECT_EQ(CloseDeviceDescriptor(6, &foreign, 3), kGPIBAddressErr);
  EXPECT_EQ(foreign.boardDescriptor, 7);
  EXPECT_EQ(foreign.devices[0].descriptor, 9);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(GPIBCloseAllUnits(), kNoErr);
}

TEST_F(GPIBSupport, ConcurrentFirstUsesOfABoardMakeOneUnit) {
  const int boards = std::getenv("QX_UNDER_VALGRIND") ? 20 : 400;
  for (int b = 100; b < 100 + boards; ++b) {
    std::atomic<int> ready{0};
    GPIBUnit* got[2] = {};
    auto first = [&](int i) {
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
      got[i] = GetGPIBUnit(b);
    };
    std::thread t0(first, 0), t1(first, 1);
    t0.join();
    t1.join();
    ASSERT_NE(got[0], nullptr);
    ASSERT_EQ(got[0], got[1]) << b;
  }
}

class GPIBUnitWaiters : public qxexectest::ExecTest {};

std::atomic<QueueElement*> gRan{nullptr};

TEST_F(GPIBUnitWaiters, ClosingAUnitSendsItsWaitersHome) {
  BindAndReset();
  gRan.store(nullptr);
  qxexectest::OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ExecSetTestRunProc([](ExecContext*, QueueElement* e) { gRan.store(e); });
  qxexectest::TestDataSpace ds(kPriNormal);
  QueueElement a = qxexectest::NewElement(ds.handle()), b = qxexectest::NewElement(ds.handle());
  a.runningContext = a.entryContext = b.runningContext = b.entryContext = ExecSlotContext(2);
  int32 result = -1;
  ASSERT_EQ(GPIBUnitAccess(7, &result, &a, kUnitAcquire), kNoErr);
  EXPECT_EQ(result, kUnitGoOn);
  ASSERT_EQ(GPIBUnitAccess(7, &result, &b, kUnitAcquire), kNoErr);
  EXPECT_EQ(result, kUnitYield);
  EXPECT_EQ(gRan.load(), nullptr);
  EXPECT_EQ(GPIBCloseDevOrUnit(7, 0xFFFF), kNoErr);
  for (int i = 0; i < 5000 && !gRan.load(); ++i) WSleep(1);
  EXPECT_EQ(gRan.load(), &b);
  GPIBCloseAllUnits();
}

}  // namespace
