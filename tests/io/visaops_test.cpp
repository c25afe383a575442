// The VISA nodes over our library: asynchronous transfers with their polls,
// forced time-out and abort; attributes; events; registers, locks and
// buffers; IVI attributes through a test driver.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "engine/exec_test_support.h"
#include "gpib_test_support.h"
#include "io/ivi.h"
#include "io/visaops.h"
#include "mgsource/config.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "platform/instr/qxvisa.h"
#include "platform/qx_debugout.h"
#include "tests/io/io_test_support.h"

namespace visaops_test {

using namespace gpibtest;

LStrHandle Text(const std::string& s) {
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
std::string Str(LStrHandle h) { return h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : ""; }
void Free(LStrHandle h) {
  if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}
bool Logged(const std::vector<std::string>& calls, const std::string& prefix) {
  for (const std::string& c : calls) {
    if (c.rfind(prefix, 0) == 0) return true;
  }
  return false;
}
bool UnderValgrind() { return std::getenv("QX_UNDER_VALGRIND") != nullptr; }

// A TCP peer on loopback.  Each line it gets: "*IDN?" is answered after the
// delay, "STALL?" never, "HALF?" with five bytes and a close.
class Peer {
 public:
  explicit Peer(int delayMs = 0) : delay_(delayMs) {
    fd_ = iotest::RawListen(&port_);
    thread_ = std::thread([this] {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      client_.store(c);
      std::string line;
      char ch;
      while (recv(c, &ch, 1, 0) == 1) {
        if (ch != '\n') {
          line += ch;
          continue;
        }
        if (line == "*IDN?") {
          std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
          send(c, "Quenlix,Peer\n", 13, MSG_NOSIGNAL);
        } else if (line == "HALF?") {
          send(c, "Quenl", 5, MSG_NOSIGNAL);
          break;
        }
        line.clear();
      }
      shutdown(c, SHUT_RDWR);
    });
  }
  ~Peer() {
    shutdown(fd_, SHUT_RDWR);
    if (client_.load() >= 0) shutdown(client_.load(), SHUT_RDWR);
    close(fd_);
    thread_.join();
    if (client_.load() >= 0) close(client_.load());
  }
  std::string Name() const { return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

 private:
  int fd_;
  int delay_;
  std::atomic<int> client_{-1};
  int port_ = 0;
  std::thread thread_;
};

// Debug lines, as the nodes print them.
std::mutex gLinesLock;
std::vector<std::string> gLines;
void KeepLine(const char* text) {
  std::lock_guard<std::mutex> g(gLinesLock);
  gLines.push_back(text);
}
bool Printed(const char* text) {
  std::lock_guard<std::mutex> g(gLinesLock);
  for (const std::string& l : gLines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

class VisaOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Start();
    CfgTestSetValue("debugging", "true");
    DBInitDebug();
    previous_ = PlatSetDebugSink(KeepLine);
    std::lock_guard<std::mutex> g(gLinesLock);
    gLines.clear();
  }
  void Start() {
    BindAndReset();
    for (const char* line : {"device 0:5 idn=\"Quenlix,Meter\" srq-after=\"MEAS\"", "device 2:3 idn=\"Quenlix,Frame\"",
                             "device 3:4 vxi=0100", "device 3:5 vxi=0100"}) {
      ASSERT_EQ(Apply(line), 0) << line;
    }
    VisaCloseAll();
    ASSERT_EQ(VisaInit(), kNoErr);
    VisaSetLibraryForTest(QX_VISA_LIB);
    VisaInstallRefnumHook();
  }
  void TearDown() override {
    PlatSetDebugSink(previous_);
    // Debugging stays on: the test process's setting (the managers' start).
    CfgTestRemoveValue("syncVisa");
    DBInitDebug();
    VisaCloseAll();
    VisaSetLibraryForTest(nullptr);
  }
  Cookie Open(const std::string& name) {
    LStrHandle h = Text(name);
    Cookie c = 0;
    EXPECT_EQ(VisaOpen(h, 0, 2000, nullptr, &c), 0) << name;
    Free(h);
    return c;
  }
  PlatDebugSink previous_ = nullptr;
};

// A transfer from start to end, polling every 2 ms; the polls made.  The
// clock once the first poll (or a start that ended it) returned goes to
// firstAt.
int Finish(Cookie c, bool read, LStrHandle s, uInt32 count, uInt32* got, VisaAsyncRec* rec,
           uInt32* firstAt = nullptr) {
  rec->phase = kVisaPhaseStart;
  int32 r = read ? VisaRead(c, s, count, got, rec) : VisaWrite(c, s, got, rec);
  EXPECT_EQ(r, 0);
  if (firstAt) *firstAt = MilliSecs();
  int polls = 0;
  rec->phase = kVisaPhasePoll;
  while (rec->pending && polls < 5000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    r = read ? VisaRead(c, s, count, got, rec) : VisaWrite(c, s, got, rec);
    EXPECT_EQ(r, 0);
    if (firstAt && polls == 0) *firstAt = MilliSecs();
    ++polls;
  }
  return polls;
}

TEST_F(VisaOpsTest, AsyncReadsPollToTheirBytesAndStallsEndAtTheForcedTimeOut) {
  Peer peer(60);
  Cookie c = Open(peer.Name());
  LStrHandle ask = Text("*IDN?\n"), in = Text("");
  uInt32 got = 0;
  VisaAsyncRec rec{};
  const uInt32 asked = MilliSecs();
  Finish(c, false, ask, 0, &got, &rec);
  EXPECT_EQ(rec.status, 0);
  EXPECT_EQ(got, 6u);
  // The answer comes 60 ms later: the start and the first polls are pending
  // with status 0 (judged when the first poll came before the answer could,
  // which a loaded machine may miss); a count of 100 ends at the line's end,
  // the string holding the bytes read.
  uInt32 firstPoll = 0;
  int polls = Finish(c, true, in, 100, &got, &rec, &firstPoll);
  if (MillisecCmp(firstPoll, asked + 60) < 0) {
    EXPECT_GT(polls, 1);
  }
  EXPECT_EQ(rec.status, kVisaTermChar);
  EXPECT_EQ(Str(in), "Quenlix,Peer\n");
  EXPECT_EQ(got, 13u);

  // A time-out that cannot be read starts nothing (the read's status is the
  // result).
  ASSERT_EQ(Apply("visa tmo=fail"), 0);
  Calls();
  rec.phase = kVisaPhaseStart;
  EXPECT_EQ(VisaRead(c, in, 100, &got, &rec), int32(kVisaErrNoAttr));
  EXPECT_EQ(rec.pending, 0);
  EXPECT_FALSE(Logged(Calls(), "viReadAsync"));
  ASSERT_EQ(Apply("visa tmo=ok"), 0);

  // A stalled peer under a 2,000 ms time-out: the first poll past it ends the
  // transfer with a time-out, terminating its job; no bytes are made up.
  LStrHandle stall = Text("STALL?\n");
  Finish(c, false, stall, 0, &got, &rec);
  ASSERT_EQ(VisaSetAttribute(c, 0x3FFF001A, 2000), 0);
  uInt32 start = MilliSecs();
  Calls();
  polls = Finish(c, true, in, 100, &got, &rec);
  EXPECT_GE(MilliSecs() - start, 2000u);
  EXPECT_EQ(rec.status, kVisaStatTimeout);
  EXPECT_EQ(Str(in), "");
  EXPECT_TRUE(Logged(Calls(), "viTerminate("));
  EXPECT_TRUE(Printed("VISA: Async timeout forced"));

  // An abort ends a pending read with viTerminate's status; a second abort
  // finds the job gone.
  rec.phase = kVisaPhaseStart;
  ASSERT_EQ(VisaRead(c, in, 100, &got, &rec), 0);
  ASSERT_EQ(rec.pending, 1);
  rec.phase = kVisaPhaseAbort;
  EXPECT_EQ(VisaRead(c, in, 100, &got, &rec), 0);
  EXPECT_EQ(rec.status, 0);
  EXPECT_EQ(rec.pending, 0);
  EXPECT_TRUE(Printed("VISA: got abort in Read/Write"));
  EXPECT_EQ(VisaRead(c, in, 100, &got, &rec), 0);
  EXPECT_EQ(rec.status, int32(kVisaErrInvJobId));
  // The ended jobs left no completion behind for the next transfer.
  LStrHandle idn = Text("*IDN?\n");
  Finish(c, false, idn, 0, &got, &rec);
  Finish(c, true, in, 100, &got, &rec);
  EXPECT_EQ(Str(in), "Quenlix,Peer\n");
  // Nor does the completion of a write that was never polled end a read.
  rec.phase = kVisaPhaseStart;
  ASSERT_EQ(VisaWrite(c, idn, &got, &rec), 0);
  Finish(c, true, in, 100, &got, &rec);
  EXPECT_EQ(Str(in), "Quenlix,Peer\n");
  EXPECT_EQ(got, 13u);

  // A peer that closes mid-answer: the bytes it sent and an error status.
  LStrHandle half = Text("HALF?\n");
  Finish(c, false, half, 0, &got, &rec);
  Finish(c, true, in, 100, &got, &rec);
  EXPECT_EQ(Str(in), "Quenl");
  EXPECT_EQ(rec.status, int32(kVisaErrConnLost));
  for (LStrHandle h : {ask, in, stall, idn, half}) Free(h);
}

TEST_F(VisaOpsTest, SynchronousReadsAndWritesAreNeverPending) {
  CfgTestSetValue("syncVisa", "true");
  Start();
  Peer peer;
  Cookie c = Open(peer.Name());
  EXPECT_TRUE(VisaSynchronous());
  LStrHandle ask = Text("*IDN?\n"), in = Text("");
  uInt32 got = 0;
  VisaAsyncRec rec{};
  Calls();
  EXPECT_EQ(Finish(c, false, ask, 0, &got, &rec), 0);
  EXPECT_EQ(Finish(c, true, in, 4, &got, &rec), 0);
  EXPECT_EQ(Str(in), "Quen");
  EXPECT_EQ(Finish(c, true, in, 100, &got, &rec), 0);
  EXPECT_EQ(Str(in), "lix,Peer\n");
  auto calls = Calls();
  EXPECT_TRUE(Logged(calls, "viRead("));
  EXPECT_FALSE(Logged(calls, "viReadAsync"));
  Free(ask);
  Free(in);
}

TEST_F(VisaOpsTest, AttributesAreReadAsTheCallersTypeAndMasksAreCheckedFirst) {
  Peer peer;
  Cookie gpib = Open("GPIB2::3::INSTR"), tcp = Open(peer.Name());
  struct Case {
    Cookie c;
    uInt32 attr;
    int32 type;
    int32 status;
    std::string value;  // the bytes written, as hex, or the string
    bool libraryCalled;
  } cases[] = {
      {gpib, 6900, kTDI32, 0, "02000000", false},
      {tcp, 6900, kTDI16, 0, "ffff", false},
      {gpib, 0x3FFF001A, kTDU8, 0, "d0", true},  // 2000 in a byte; its neighbour untouched
      {gpib, 0x3FFF001A, kTDDBL, 0, "d007000000000000", true},
      {tcp, 0x3FFF0038, kTDBoolean, 0, "01", true},
      {gpib, 0x3FFF0038, kTDBoolean, int32(kVisaErrNoAttr), "00", true},
  };
  for (const Case& k : cases) {
    uInt8 buf[9];
    std::memset(buf, 0xAA, sizeof buf);
    Calls();
    EXPECT_EQ(VisaGetAttribute(k.c, k.attr, buf, k.type), k.status) << k.attr;
    std::string hex;
    for (size_t i = 0; i < k.value.size() / 2; ++i) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", buf[i]);
      hex += b;
    }
    EXPECT_EQ(hex, k.value) << k.attr;
    EXPECT_EQ(buf[k.value.size() / 2], 0xAA) << "neighbour of " << k.attr;
    EXPECT_EQ(Logged(Calls(), "viGetAttribute"), k.libraryCalled) << k.attr;
  }
  LStrHandle name = nullptr;
  EXPECT_EQ(VisaGetAttribute(gpib, 0xBFFF0002, &name, kTDString), 0);
  EXPECT_EQ(Str(name), "GPIB2::3::INSTR");
  // A status text: an unknown refnum passes session 0, the code is the
  // cluster's.
  ErrorIOCluster err{1, kVisaStatTimeout, nullptr};
  EXPECT_EQ(VisaStatusDesc(0xDEAD, &err, &name), 0);
  EXPECT_EQ(Str(name), "Timeout expired before operation completed.");
  Free(name);

  // Masks outside the accepted sets never reach the library.
  Calls();
  EXPECT_EQ(VisaFlush(tcp, 0x40), kVisaStatBadMask);
  EXPECT_EQ(VisaSetBuf(tcp, 0x60, 100), kVisaStatBadMask);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(VisaSetBuf(tcp, 0x30, 100), 0);
  EXPECT_EQ(VisaFlush(tcp, 0x90), 0);

  // All events: trigger, service request, VXI signal in turn; the types the
  // session lacks are skipped, the first other failure is the result.
  uInt32 vi = 0;
  VCookieToSesn(gpib, &vi);
  std::string on = "(" + std::to_string(vi) + ",";
  EXPECT_EQ(VisaEnableEvent(gpib, 0x3FFF200B, 0, 0), 0);
  Calls();
  EXPECT_EQ(VisaDisableEvent(gpib, kVisaAllEvents, 0), 0);
  EXPECT_EQ(Calls(true), (std::vector<std::string>{"viDisableEvent" + on + "bfff200a,1) bfff0026",
                                                   "viDisableEvent" + on + "3fff200b,1) 00000000",
                                                   "viDisableEvent" + on + "3fff2020,1) bfff0026"}));
  EXPECT_EQ(VisaDiscardEvents(tcp, kVisaAllEvents, 0), 0);
  EXPECT_EQ(VisaDiscardEvents(gpib, 0x3FFF2009, 2), kVisaQueueEmpty) << "mechanism 1 whatever is given";
  EXPECT_EQ(VisaDiscardEvents(0xDEAD, 0x3FFF2009, 0), kVisaStatNotASession);
}

TEST_F(VisaOpsTest, ServiceRequestsBecomeEventRefnumsAndAllEventWaitsTimeOut) {
  Cookie meter = Open("GPIB0::5::INSTR");
  EXPECT_EQ(VisaEnableEvent(meter, 0x3FFF200B, 0, 0), 0);
  LStrHandle meas = Text("MEAS\n");
  uInt32 got = 0, type = 0;
  VisaAsyncRec rec{};
  Finish(meter, false, meas, 0, &got, &rec);
  EXPECT_EQ(rec.status, 0);
  Cookie event = 0;
  uInt8 td[16] = {0, 16, 0x70, 0, 6, 0, 5, 'E', 'v', 'e', 'n', 't'};
  EXPECT_EQ(VisaWaitOnEvent(meter, 0x3FFF200B, 1000, reinterpret_cast<const TypeDescriptor*>(td), &type, &event), 0);
  EXPECT_EQ(type, 0x3FFF200Bu);
  EXPECT_TRUE(VisaIsASession(event));
  uInt16 stb = 0;
  EXPECT_EQ(VisaReadSTB(meter, &stb), 0);
  EXPECT_EQ(stb & 0x40, 0x40);
  EXPECT_EQ(VisaClose(event), 0);

  // Nothing pending: an all-events wait ends at its time-out.
  uInt32 start = MilliSecs();
  event = 1;
  EXPECT_EQ(VisaWaitOnEvent(meter, kVisaAllEvents, 100, nullptr, &type, &event), kVisaStatTimeout);
  EXPECT_GE(MilliSecs() - start, 100u);
  EXPECT_EQ(event, 0u);
  Free(meas);
}

TEST_F(VisaOpsTest, RegistersMapPeekAndPokeWithinTheirWindowAndLocksShareKeys) {
  Cookie frame = Open("GPIB3::4::INSTR"), other = Open("GPIB3::4::INSTR");
  EXPECT_EQ(VisaMapAddress(frame, 1, 0, 256, 0, 0), 0);
  EXPECT_TRUE(VisaSessionRecord(frame)->flags & kVSesnDirectAccess);
  uInt32 v32 = 0;
  uInt8 v8 = 0;
  // Direct pokes reach the library's registers, and its writes the peeks.
  Calls();
  EXPECT_EQ(VisaPoke32(frame, 8, 0x11223344), 0);
  EXPECT_EQ(VisaIn32(frame, 1, 8, &v32), 0);
  EXPECT_EQ(v32, 0x11223344u);
  EXPECT_EQ(VisaOut8(frame, 1, 255, 0x1FF), 0);  // cut to a byte
  EXPECT_EQ(VisaPeek8(frame, 255, &v8), 0);
  EXPECT_EQ(v8, 0xFF);
  EXPECT_FALSE(Logged(Calls(), "viPeek"));
  // Past the mapping's end: the library answers, nothing is touched directly.
  EXPECT_EQ(VisaPeek32(frame, 255, &v32), int32(kVisaErrInvOffset));
  EXPECT_EQ(VisaPoke32(frame, 0xFFFFFFF0u, 1), int32(kVisaErrInvOffset));
  EXPECT_TRUE(Logged(Calls(), "viPeek32"));
  EXPECT_EQ(VisaUnmapAddress(frame), 0);
  EXPECT_EQ(VisaSessionRecord(frame)->mapped, 0u);
  EXPECT_FALSE(VisaSessionRecord(frame)->flags & kVSesnDirectAccess);
  EXPECT_EQ(VisaPeek8(frame, 0, &v8), int32(kVisaErrNotMapped)) << "the library's status is reported";

  // Block moves: in fills the array, a failed one empties it; out counts
  // from the array.
  ArrayHandle a = nullptr;
  EXPECT_EQ(VisaMIn8(frame, 1, 8, 4, &a), 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(*reinterpret_cast<int32*>(*a), 4);
  EXPECT_EQ(std::memcmp(*a + 4, "\x44\x33\x22\x11", 4), 0);
  EXPECT_EQ(VisaMOut8(frame, 1, 100, a), 0);
  EXPECT_EQ(VisaIn32(frame, 2, 100, &v32), 0);
  EXPECT_EQ(v32, 0x11223344u);
  ArrayHandle w = nullptr;
  EXPECT_EQ(VisaMIn16(frame, 1, 2, 3, &w), 0);
  EXPECT_EQ(*reinterpret_cast<int32*>(*w), 3);
  EXPECT_EQ(VisaMIn16(frame, 1, 250, 10, &w), int32(kVisaErrInvOffset));
  EXPECT_EQ(*reinterpret_cast<int32*>(*w), 0);
  DSDisposeHandle(reinterpret_cast<UHandle>(w));
  EXPECT_EQ(VisaMIn8(frame, 1, 0, -1, &a), kArgErr);
  EXPECT_EQ(VisaMove(frame, 1, 8, 4, 1, 200, 4, 1), 0);
  EXPECT_EQ(VisaIn32(frame, 1, 200, &v32), 0);
  EXPECT_EQ(v32, 0x11223344u);
  uInt32 at = 0;
  EXPECT_EQ(VisaMemAlloc(frame, 300, &at), int32(kVisaErrAlloc));
  EXPECT_EQ(VisaMemAlloc(frame, 16, &at), 0);
  EXPECT_EQ(VisaMemFree(frame, at + 1), int32(kVisaErrInvOffset));
  EXPECT_EQ(VisaMemFree(frame, at), 0);
  DSDisposeHandle(reinterpret_cast<UHandle>(a));

  // A shared lock returns its key; another session joins with it, but an
  // exclusive lock elsewhere is refused with the library's status.
  LStrHandle key = nullptr, wanted = Text("bench");
  EXPECT_EQ(VisaLock(frame, 0, 2, wanted, &key), 0);
  EXPECT_EQ(Str(key), "bench");
  EXPECT_EQ(VisaLock(other, 0, 1, nullptr, nullptr), int32(kVisaErrRsrcLocked));
  EXPECT_EQ(VisaLock(other, 0, 2, key, &key), 0);
  EXPECT_EQ(VisaUnlock(other), 0);
  EXPECT_EQ(VisaUnlock(frame), 0);
  EXPECT_EQ(VisaUnlock(frame), int32(kVisaErrNotLocked));
  EXPECT_EQ(VisaLock(other, 0, 1, nullptr, nullptr), 0);
  EXPECT_EQ(VisaIn32(frame, 1, 8, &v32), int32(kVisaErrRsrcLocked)) << "kept off by the lock";
  EXPECT_EQ(VisaIn32(other, 1, 8, &v32), 0);
  EXPECT_EQ(VisaClose(other), 0);
  EXPECT_EQ(VisaIn32(frame, 1, 8, &v32), 0) << "a closed session's lock goes";
  Free(key);
  Free(wanted);
}

TEST_F(VisaOpsTest, IVIAttributesLoadTheDriverOnceAndConvertToTheCallersType) {
  static const char kDriver[] = "x\0" QX_IVI_TEST_LIB "\0Test_GetAttribute\0Test_SetAttribute";
  Cookie c = Open("GPIB0::5::INSTR");
  static const char kRT = 0;
  const void* table = ExtCodeRTTable();
  ExtCodeSetRTTable(&kRT);  // the driver counts the loader's look-ups through it
  LStrHandle abc = Text("abc"), channel = Text("CH1"), out = nullptr;
  EXPECT_EQ(IVISetAttribute(c, &channel, kDriver, 301, &abc, kTDString), 0);
  void* driver = dlopen(QX_IVI_TEST_LIB, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(driver, nullptr) << "loaded by the set";
  auto* lookups = static_cast<int*>(dlsym(driver, "ivi_test_lookups"));
  auto* lastChannel = static_cast<const char*>(dlsym(driver, "ivi_test_channel"));
  dlclose(driver);
  ASSERT_NE(lookups, nullptr);
  EXPECT_EQ(*lookups, 3);
  EXPECT_STREQ(lastChannel, "CH1");
  int32 big = 0x12345;
  double d = 2.5, dout = 0;
  EXPECT_EQ(IVISetAttribute(c, nullptr, kDriver, 101, &big, kTDI32), 0);
  EXPECT_STREQ(lastChannel, "");
  EXPECT_EQ(IVISetAttribute(c, nullptr, kDriver, 201, &d, kTDDBL), 0);
  EXPECT_EQ(*lookups, 3) << "loaded once";
  EXPECT_EQ(IVIGetAttribute(c, nullptr, kDriver, 301, &out, kTDString), 0);
  EXPECT_EQ(Str(out), "abc");
  EXPECT_EQ(IVIGetAttribute(c, nullptr, kDriver, 399, &out, kTDString), 0);
  EXPECT_EQ((*out)->cnt, 0) << "a size of 0 leaves no count of -1";
  uInt8 small[2] = {0xAA, 0xAA};
  EXPECT_EQ(IVIGetAttribute(c, nullptr, kDriver, 101, small, kTDU8), 0);
  EXPECT_EQ(small[0], 0x45);
  EXPECT_EQ(small[1], 0xAA) << "the 32-bit value stays in its byte";
  EXPECT_EQ(IVIGetAttribute(c, nullptr, kDriver, 201, &dout, kTDDBL), 0);
  EXPECT_EQ(dout, 2.5);
  uInt8 on = 1, flag = 0;
  EXPECT_EQ(IVISetAttribute(c, nullptr, kDriver, 401, &on, kTDBoolean), 0);
  EXPECT_EQ(IVIGetAttribute(c, nullptr, kDriver, 401, &flag, kTDBoolean), 0);
  EXPECT_EQ(flag, 1);
  const char kMissing[] = "x\0/nonexistent/ivi.so\0G\0S";
  Cookie fresh = Open("GPIB2::3::INSTR");
  EXPECT_EQ(IVISetAttribute(fresh, nullptr, kMissing, 101, &big, kTDI32), kFileNotFoundErr);
  EXPECT_EQ(IVIGetAttribute(0xDEAD, nullptr, kDriver, 101, &big, kTDI32), kArgErr);
  ExtCodeSetRTTable(table);
  for (LStrHandle h : {abc, channel, out}) Free(h);
}

// Two sessions transfer at once, one aborting reads now and then: every
// completed read has its own answer, none another's.
TEST_F(VisaOpsTest, ConcurrentAsyncTransfersAndAbortsKeepTheirOwnCompletions) {
  const int rounds = UnderValgrind() ? 4 : 40;
  Peer a, b;
  Cookie ca = Open(a.Name()), cb = Open(b.Name());
  auto run = [rounds](Cookie c, bool abort) {
    LStrHandle ask = Text("*IDN?\n"), in = Text("");
    uInt32 got = 0;
    VisaAsyncRec rec{};
    for (int i = 0; i < rounds; ++i) {
      if (abort && i % 2) {
        // A read nothing answers, aborted.
        rec.phase = kVisaPhaseStart;
        EXPECT_EQ(VisaRead(c, in, 100, &got, &rec), 0);
        rec.phase = kVisaPhaseAbort;
        EXPECT_EQ(VisaRead(c, in, 100, &got, &rec), 0);
        EXPECT_EQ(rec.status, 0);
        continue;
      }
      Finish(c, false, ask, 0, &got, &rec);
      Finish(c, true, in, 100, &got, &rec);
      EXPECT_EQ(Str(in), "Quenlix,Peer\n");
    }
    Free(ask);
    Free(in);
  };
  std::thread t([&] { run(cb, true); });
  run(ca, false);
  t.join();
}

}  // namespace visaops_test
