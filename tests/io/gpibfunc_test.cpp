// The diagram's GPIB functions against a simulated meter at 0:5: writes and
// reads with their terminators, restartable transfers that time out and
// abort, service requests and waits, the misc command texts and the IEEE
// 488.2 dispatcher.  The library's call log is the observer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "gpib_test_support.h"
#include "io/gpibsup.h"
#include "mgsource/memory.h"

using namespace gpibtest;

namespace {

LStrHandle Str(const char* s) {
  int32 n = int32(std::strlen(s));
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
  (*h)->cnt = n;
  std::memcpy((*h)->str, s, size_t(n));
  return h;
}
std::string Text(LStrHandle h) { return std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)); }
UHandle List(std::vector<uInt16> v) {
  UHandle h = DSNewHandle(int32(4 + 2 * v.size()));
  int32 n = int32(v.size());
  std::memcpy(*h, &n, 4);
  if (n) std::memcpy(*h + 4, v.data(), 2 * v.size());
  return h;
}
std::vector<uInt16> Items(UHandle h) {
  int32 n = 0;
  std::memcpy(&n, *h, 4);
  std::vector<uInt16> v(static_cast<size_t>(n));
  if (n) std::memcpy(v.data(), *h + 4, 2 * size_t(n));
  return v;
}
void Free(void* h) { DSDisposeHandle(static_cast<UHandle>(h)); }
bool Logged(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

class GPIBFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    BindAndReset();
    GPIBCloseAllUnits();
    for (const char* line : {"device 0:5 idn=\"QX Meter 1\" poll=1 srq-after=\"TRIG\"",
                             "answer 0:5 \"MEAS?\" \"+1.25E+0\"", "answer 0:5 \"DATA?\" \"ab\\rcd#ef\"",
                             "answer 0:5 \"TWENTY?\" \"nineteen characters\"", "device 0:6 delay=400",
                             "answer 0:6 \"SLOW?\" \"late\"", "device 0:7 listen=0 fail=system",
                             "device 0:9", "board 1 async=0", "device 1:5"}) {
      ASSERT_EQ(Apply(line), 0) << line;
    }
    Calls();
  }
  void TearDown() override {
    SetGPIBTimeout(10000);
    GPIBCloseAllUnits();
  }
  GPIBCallRec rec{};
  void Write(int32 board, uInt16 address, const char* text, int32 mode = 2) {
    LStrHandle h = Str(text);
    rec.phase = 0;
    ASSERT_EQ(TradGPIBWrite(board, address, h, kGPIBDefaultLimit, mode, nullptr, &rec), kNoErr);
    ASSERT_EQ(rec.error, 0u) << text;
    Free(h);
  }
};

TEST_F(GPIBFunctions, WritesAddTerminatorsAndReadsEndWhereTheModeSays) {
  LStrHandle h = Str("*IDN?");
  UHandle status = DSNewHandle(0);
  ASSERT_EQ(TradGPIBWrite(0, 5, h, kGPIBDefaultLimit, 3, status, &rec), kNoErr);
  EXPECT_TRUE(Logged(Calls(), "ibwrt(1000,\"*IDN?\\r\\n\",7,EOI)"));
  EXPECT_EQ(Text(h), "*IDN?");  // its own length again
  EXPECT_EQ(rec.status & kGpibCMPL, kGpibCMPL);
  EXPECT_EQ(ArrayToMask(status), rec.status);
  LStrHandle buf = Str("");
  ASSERT_EQ(TradGPIBRead(0, 5, buf, kGPIBDefaultLimit, 0, 100, nullptr, &rec), kNoErr);
  EXPECT_TRUE(Logged(Calls(), "ibrd(1000,100)"));  // grown to the count first
  EXPECT_EQ(Text(buf), "QX Meter 1\n");
  // A device that fails with a system error: an empty buffer.
  Write(0, 9, "X");
  ASSERT_EQ(TradGPIBRead(0, 7, buf, kGPIBDefaultLimit, 0, 100, nullptr, &rec), kNoErr);
  EXPECT_EQ(Text(buf), "");
  EXPECT_EQ(rec.status & kGpibERR, kGpibERR);
  EXPECT_EQ(rec.error, 0u);
  // The end character by mode; the reply ends with LF and EOI.
  struct Case {
    int32 mode;
    const char* got;
  } cases[] = {{0, "ab\rcd#ef\n"}, {1, "ab\r"}, {2, "ab\rcd#ef\n"}, {'#', "ab\rcd#"}, {0x100 | 'f', "ab\rcd#ef"}};
  for (const Case& c : cases) {
    Write(0, 5, "DATA?");
    ASSERT_EQ(TradGPIBRead(0, 5, buf, 1000, c.mode, 100, nullptr, &rec), kNoErr);
    EXPECT_EQ(Text(buf), c.got) << c.mode;
    EXPECT_EQ(rec.error, 0u) << c.mode;
  }
  for (void* p : {(void*)h, (void*)status, (void*)buf}) Free(p);
  rec.phase = 0;
  EXPECT_EQ(TradGPIBRead(0, 5, nullptr, 1000, 0, 10, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.error, uInt32(kGPIBBadArgErr));
}

TEST_F(GPIBFunctions, RestartableTransfersTimeOutAbortAndFallBackToSynchronous) {
  LStrHandle buf = Str("");
  // 101 ms: the device answers 400 ms after the query, so the deadline
  // comes first.  A machine that stalls past the answer lets the read
  // complete, as it should: such a round is tried again.
  for (int round = 0; round < 20; ++round) {
    const uInt32 start = MilliSecs();
    Write(0, 6, "SLOW?");
    rec.phase = 1;
    ASSERT_EQ(TradGPIBRead(0, 6, buf, 101, 0, 10, nullptr, &rec), kNoErr);
    EXPECT_EQ(rec.pending, 1u);
    rec.phase = 2;
    TradGPIBRead(0, 6, buf, 101, 0, 10, nullptr, &rec);
    if (MilliSecs() - start < 101) {
      EXPECT_EQ(rec.pending, 1u);  // before the deadline
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    TradGPIBRead(0, 6, buf, 101, 0, 10, nullptr, &rec);
    if (MilliSecs() - start < 400 || (rec.status & kGpibTIMO)) break;
    Calls();
  }
  EXPECT_EQ(rec.pending, 0u);
  EXPECT_EQ(rec.status & (kGpibTIMO | kGpibERR), kGpibTIMO | kGpibERR);
  EXPECT_EQ(rec.error, uInt32(kGpibErrTimeout));
  EXPECT_TRUE(Logged(Calls(), "ibstop(1000)"));
  EXPECT_EQ(GetGPIBUnit(0)->pendingDescriptor, -1);
  // Phase 3 stops a read that has not finished.
  rec.phase = 1;
  TradGPIBRead(0, 6, buf, 10000, 0, 10, nullptr, &rec);
  ASSERT_EQ(rec.pending, 1u);
  rec.phase = 3;
  TradGPIBRead(0, 6, buf, 10000, 0, 10, nullptr, &rec);
  EXPECT_EQ(rec.pending, 0u);
  EXPECT_EQ(rec.error, uInt32(kGpibErrTimeout));
  EXPECT_EQ(Text(buf), "");
  // Closing the unit ends a read still running: its buffer may go next.
  rec.phase = 1;
  TradGPIBRead(0, 6, buf, 10000, 0, 10, nullptr, &rec);
  ASSERT_EQ(rec.pending, 1u);
  GPIBCloseDevOrUnit(0, kGPIBNoDevice);
  Free(buf);
  UHandle reused = DSNewHClr(4 + 10);  // the freed block, as a rule
  std::this_thread::sleep_for(std::chrono::milliseconds(450));  // past the reply's delay
  EXPECT_EQ(std::count(*reused, *reused + 14, 0), 14);
  Free(reused);
  buf = Str("");
  // A board without asynchronous I/O: error 11 once, then synchronous until
  // the unit closes.
  LStrHandle h = Str("MEAS?");
  for (int i = 0; i < 2; ++i) {
    rec.phase = 1;
    ASSERT_EQ(TradGPIBWrite(1, 5, h, kGPIBDefaultLimit, 2, nullptr, &rec), kNoErr);
    EXPECT_EQ(rec.pending, 0u);
    EXPECT_EQ(rec.error, 0u);
    auto log = Calls();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& l) { return l.rfind("ibwrta(", 0) == 0; }),
              i == 0 ? 1 : 0);
    EXPECT_TRUE(Logged(log, "ibwrt(1000,\"MEAS?\\n\",6,EOI)") || Logged(log, "ibwrt(1001,\"MEAS?\\n\",6,EOI)"));
  }
  EXPECT_EQ(GetGPIBUnit(1)->asyncAllowed, 0u);
  GPIBCloseDevOrUnit(1, kGPIBNoDevice);
  EXPECT_NE(GetGPIBUnit(1)->asyncAllowed, 0u);
  Free(buf);
  Free(h);
}

TEST_F(GPIBFunctions, ServiceRequestsEndWaitsAndPolls) {
  Write(0, 5, "TRIG");
  UHandle mask = DSNewHandle(0);
  StatusToArray(mask, kGpibRQS);
  uInt16 poll = 0;
  rec.phase = 1;
  ASSERT_EQ(TradGPIBWait(0, 5, &poll, kGPIBDefaultLimit, mask, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.pending, 0u);
  EXPECT_EQ(rec.status & kGpibRQS, kGpibRQS);
  EXPECT_EQ(poll, 0x41);
  // The request was taken by the poll: a wait for it stays pending, and an
  // abort completes it as it stands.
  rec.phase = 1;
  TradGPIBWait(0, 5, &poll, kGPIBDefaultLimit, mask, nullptr, &rec);
  EXPECT_EQ(rec.pending, 1u);
  rec.phase = 3;
  rec.status = 0x1234;
  TradGPIBWait(0, 5, &poll, kGPIBDefaultLimit, mask, nullptr, &rec);
  EXPECT_EQ(rec.pending, 0u);
  EXPECT_EQ(rec.status & kGpibRQS, 0);
  EXPECT_NE(rec.status, 0x1234);
  // The 488.2 wait: pending until the request comes.
  rec.phase = 1;
  ASSERT_EQ(GPIB4882WaitSRQ(0, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.pending, 1u);
  Write(0, 5, "TRIG");
  rec.phase = 2;
  GPIB4882WaitSRQ(0, nullptr, &rec);
  EXPECT_EQ(rec.pending, 0u);
  EXPECT_NE(rec.result, 0);
  // Code 40 reports what the driver said, the request or its time-out.
  GPIB4882(0, nullptr, 40, &rec);
  EXPECT_EQ(rec.result, 1);
  EXPECT_EQ(rec.status & (kGpibCMPL | kGpibTIMO), kGpibCMPL);
  GPIB4882(0, nullptr, 23, &(rec.address = 5, rec));  // the poll takes the request back
  SetGPIBTimeout(10);
  GPIB4882(0, nullptr, 40, &rec);
  EXPECT_EQ(rec.result, 0);
  EXPECT_EQ(rec.status & kGpibTIMO, kGpibTIMO);
  rec.phase = 1;
  GPIB4882WaitSRQ(0, nullptr, &rec);
  ASSERT_EQ(rec.pending, 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  rec.phase = 2;
  GPIB4882WaitSRQ(0, nullptr, &rec);
  EXPECT_EQ(rec.pending, 0u);
  EXPECT_EQ(rec.status & 0xC000, 0xC000);
  EXPECT_EQ(rec.error, uInt32(kGpibErrTimeout));
  Free(mask);
}

TEST_F(GPIBFunctions, MiscTextsAndCommands) {
  struct Case {
    const char* text;
    uInt32 board;
    int32 command;
    uInt16 address;
    int16 value;
    const char* bytes;
    uInt32 error;
  } cases[] = {
      {"2:ppc A 5", 2, kMiscPpc, 5, 65, nullptr, 0}, {"llo", 0, kMiscLlo, 0xFFFF, 0, nullptr, 0},
      {"cmd", 0, kMiscCmd, 0xFFFF, 0, nullptr, 38},  {"cmd ?%", 0, kMiscCmd, 0xFFFF, 0, "?%", 0},
      {"llo 1", 0, kMiscLlo, 0xFFFF, 0, nullptr, 0}, {"rsv", 0, kMiscRsv, 0xFFFF, 0, nullptr, 38},
      {"ppc", 0, kMiscPpc, 0xFFFF, 0, nullptr, 38},  {"ppc ", 0, kMiscPpc, 0xFFFF, 0, nullptr, 38},
      {"xyz", 0, kMiscNoCommand, 0xFFFF, 0, nullptr, 38}, {"1000:sic", 0, kMiscNoCommand, 0xFFFF, 0, nullptr, 38},
      {"cac 2", 0, kMiscCac, 0xFFFF, 0, nullptr, 38}, {" 3:\tsre 1", 3, kMiscSre, 0xFFFF, 1, nullptr, 0},
      {"pct 31", 0, kMiscPct, 0xFFFF, 0, nullptr, 38}, {"pct 4+2", 0, kMiscPct, 0x6204, 0, nullptr, 0},
      {"pct 4+31", 0, kMiscPct, 0xFFFF, 0, nullptr, 38}, {"off", 0, kMiscOff, 0xFFFF, 0, nullptr, 0},
      {"loc  ", 0, kMiscLoc, 0xFFFF, 0, nullptr, 0}, {"SIC", 0, kMiscNoCommand, 0xFFFF, 0, nullptr, 38},
      {"7sic", 0, kMiscNoCommand, 0xFFFF, 0, nullptr, 38}, {"", 0, kMiscNoCommand, 0xFFFF, 0, nullptr, 38},
  };
  for (const Case& c : cases) {
    LStrHandle h = Str(c.text);
    uInt32 board = 99, count = 99, error = 99;
    int32 command = 99;
    uInt16 address = 99;
    int16 value = 99;
    const uChar* bytes = nullptr;
    ParseMiscString(h, &board, &command, &address, &value, &bytes, &count, &error);
    EXPECT_EQ(board, c.board) << c.text;
    EXPECT_EQ(command, c.command) << c.text;
    EXPECT_EQ(address, c.address) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(bytes ? std::string(reinterpret_cast<const char*>(bytes), count) : "", c.bytes ? c.bytes : "");
    Free(h);
  }
  // The driver actions: interface clear first, then the command bytes.
  for (int32 code : {int32(kMiscLlo), int32(kMiscPpu)}) {
    ASSERT_EQ(TradGPIBMisc(0, code, 0xFFFF, nullptr, nullptr, nullptr, &rec), kNoErr);
    EXPECT_EQ(rec.error, 0u);
  }
  auto log = Calls();
  EXPECT_TRUE(Logged(log, "ibcmd(0,\"\\x11\",1)"));
  EXPECT_TRUE(Logged(log, "ibcmd(0,\"\\x15\",1)"));
  EXPECT_LT(std::find(log.begin(), log.end(), "ibsic(0)"), std::find(log.begin(), log.end(), "ibcmd(0,\"\\x11\",1)"));
  EXPECT_EQ(TradGPIBMisc(0, 16, 0xFFFF, nullptr, nullptr, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.error, uInt32(kGPIBUnknownMiscErr));
  EXPECT_EQ(rec.status, kGpibERR);
  EXPECT_EQ(TradGPIBMisc(0, kMiscRpp, 0xFFFF, nullptr, nullptr, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.error, uInt32(kGPIBBadArgErr));
  EXPECT_EQ(TradGPIBTrg(0, 0xFFFF, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.error, uInt32(kGPIBTriggerNoAddressErr));
  EXPECT_EQ(TradGPIBMisc(1000, kMiscLlo, 0xFFFF, nullptr, nullptr, nullptr, &rec), kMemFullErr);
}

TEST_F(GPIBFunctions, IEEE4882ListsBuffersAndFirstUse) {
  UHandle pads = List({5, 7, 9});
  UHandle found = DSNewHandle(4);
  rec.addressList = pads;
  rec.resultList = found;
  ASSERT_EQ(GPIB4882(0, nullptr, 15, &rec), kNoErr);
  // The board's first use clears the interface and enables remote.
  auto log = Calls();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log.front(), "ibfindA(gpib0)");
  EXPECT_TRUE(Logged(log, "ibsic(0)") && Logged(log, "ibsre(0,1)"));
  EXPECT_EQ(log.back(), "FindLstn(0,3,90)");  // room for 30 per primary
  EXPECT_EQ(Items(found), (std::vector<uInt16>{5, 9}));  // 0:7 does not listen
  EXPECT_EQ(rec.count, 2u);
  EXPECT_EQ(Items(pads), (std::vector<uInt16>{5, 7, 9}));
  EXPECT_EQ(DSGetHandleSize(pads), 10);
  // Send, then receive 50 of the 20 bytes the meter answers.
  rec.buffer = Str("TWENTY?");
  rec.address = 5;
  rec.mode = 2;
  ASSERT_EQ(GPIB4882(0, nullptr, 27, &rec), kNoErr);
  EXPECT_EQ(rec.count, 7u);
  rec.count = 50;
  rec.mode = 0x100;
  ASSERT_EQ(GPIB4882(0, nullptr, 24, &rec), kNoErr);
  EXPECT_EQ(Text(rec.buffer), "nineteen characters\n");
  EXPECT_EQ(rec.count, 20u);
  // Missing lists and buffers: 38 or 31, no status stored.
  struct Case {
    int32 code;
    bool list, results, buffer;
    uInt32 error;
  } cases[] = {{12, false, true, true, 38}, {10, true, false, true, 38}, {24, true, true, false, 38},
               {27, true, true, false, 31}, {31, false, true, false, 38}, {31, true, true, false, 31}};
  LStrHandle keep = rec.buffer;
  for (const Case& c : cases) {
    rec.addressList = c.list ? pads : nullptr;
    rec.resultList = c.results ? found : nullptr;
    rec.buffer = c.buffer ? keep : nullptr;
    rec.status = 0x1234;
    ASSERT_EQ(GPIB4882(0, nullptr, c.code, &rec), kNoErr);
    EXPECT_EQ(rec.error, c.error) << c.code;
    EXPECT_EQ(rec.status, 0x1234) << c.code;
  }
  // A list whose handle is shorter than its count.
  int32 big = 1000;
  std::memcpy(*pads, &big, 4);
  rec.addressList = pads;
  ASSERT_EQ(GPIB4882(0, nullptr, 12, &rec), kNoErr);
  EXPECT_EQ(rec.error, 38u);
  GPIB4882(0, nullptr, 35, &rec);
  EXPECT_EQ(rec.status, 0);
  // A board whose interface clear is still to come ("rsc 1"): the 488.2
  // call sends it, with remote enable for every device.
  rec.value = 1;
  TradGPIBMisc(0, kMiscRsc, 0xFFFF, nullptr, nullptr, nullptr, &rec);
  Calls();
  GPIB4882(0, nullptr, 32, &rec);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"SendIFC(0)", "EnableRemote(0,0)", "SendLLO(0)"}));
  for (void* p : {(void*)pads, (void*)found, (void*)keep}) Free(p);
}

TEST_F(GPIBFunctions, InitStatusClearAndPoll) {
  // A cleared device forgets its reply: the read times out.
  Write(0, 5, "*IDN?");
  ASSERT_EQ(TradGPIBClr(0, 5, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.status & kGpibERR, 0);
  LStrHandle buf = Str("");
  TradGPIBRead(0, 5, buf, 10, 0, 100, nullptr, &rec);
  EXPECT_EQ(rec.status & (kGpibERR | kGpibTIMO), kGpibERR | kGpibTIMO);
  EXPECT_EQ(rec.error, uInt32(kGpibErrTimeout));
  // Status keeps the count and error of the call before it.
  Write(0, 5, "MEAS?");
  TradGPIBRead(0, 5, buf, 1000, 0, 100, nullptr, &rec);
  ASSERT_EQ(Text(buf), "+1.25E+0\n");
  ASSERT_EQ(TradGPIBStatus(0, nullptr, &rec), kNoErr);
  EXPECT_EQ(rec.count, 9u);
  EXPECT_EQ(rec.status & kGpibCIC, kGpibCIC);
  // Serial polls: none of the board; the request's bit as RQS.
  uInt16 poll = 0;
  TradGPIBSPoll(0, 0xFFFF, &poll, nullptr, &rec);
  EXPECT_EQ(poll, 0xFFFF);
  EXPECT_EQ(rec.status, kGpibERR);
  Write(0, 5, "TRIG");
  TradGPIBSPoll(0, 5, &poll, nullptr, &rec);
  EXPECT_EQ(poll, 0x41);
  EXPECT_EQ(rec.status & kGpibRQS, kGpibRQS);
  TradGPIBSPoll(0, 5, &poll, nullptr, &rec);
  EXPECT_EQ(poll, 0x01);
  // "rpp": the result handle holds the one byte.
  UHandle result = DSNewHandle(0);
  ASSERT_EQ(TradGPIBMisc(0, kMiscRpp, 0xFFFF, nullptr, result, nullptr, &rec), kNoErr);
  EXPECT_EQ(DSGetHandleSize(result), 5);
  Free(result);
  Free(buf);
  // Init's flags, last: without bit 0 the board gives up being controller.
  struct Case {
    uInt32 flags;
    std::vector<std::string> calls;  // after the board's opening
  } cases[] = {
      {1 | 2 | 4 | 16, {"ibconfig(0,6,1)", "ibrsc(0,1)", "ibsre(0,1)", "ibist(0,1)", "ibdma(0,1)"}},
      {8, {"ibconfig(0,6,0)", "ibrsc(0,0)", "ibist(0,0)", "ibdma(0,0)"}},
  };
  for (const Case& c : cases) {
    GPIBCloseAllUnits();
    Calls();
    ASSERT_EQ(TradGPIBInit(0, 0xFFFF, c.flags, &rec), kNoErr);
    auto log = Calls();
    ASSERT_GE(log.size(), c.calls.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - c.calls.size(), log.end()), c.calls) << c.flags;
    EXPECT_EQ(rec.error, 0u);
  }
}

// One thread queries the meter while another closes the board's unit and
// makes it again: a close waits for the call inside the unit, and a call
// after it opens the board afresh.  Every call answers the query whole.
TEST_F(GPIBFunctions, ThreadsClosingAUnitInUseWaitForTheCall) {
  const int closesWanted = std::getenv("QX_UNDER_VALGRIND") ? 40 : 1500;
  std::atomic<bool> done{false};
  std::atomic<int> closes{0};
  std::thread closer([&] {
    while (!done.load()) {
      EXPECT_EQ(GPIBCloseDevOrUnit(0, kGPIBNoDevice), kNoErr);
      EXPECT_NE(GetGPIBUnit(0), nullptr);
      closes.fetch_add(1);
      std::this_thread::yield();
    }
  });
  LStrHandle idn = Str("*IDN?"), buf = Str("");
  // Queries go on until the other thread has closed the unit often enough;
  // a failed one stops them, and the closer, at once.
  auto query = [&](int i) {
    GPIBCallRec r{};
    ASSERT_EQ(TradGPIBWrite(0, 5, idn, 1000, 2, nullptr, &r), kNoErr);
    ASSERT_EQ(r.status & (kGpibERR | kGpibCMPL), kGpibCMPL) << i;
    r = GPIBCallRec{};
    ASSERT_EQ(TradGPIBRead(0, 5, buf, 1000, 0, 100, nullptr, &r), kNoErr);
    ASSERT_EQ(r.status & (kGpibERR | kGpibCMPL), kGpibCMPL) << i << " error " << r.error;
    ASSERT_EQ(Text(buf), "QX Meter 1\n") << i;
  };
  for (int i = 0; closes.load() < closesWanted && !HasFatalFailure(); ++i) query(i);
  done.store(true);
  closer.join();
  Free(idn);
  Free(buf);
}

}  // namespace
