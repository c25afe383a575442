#include "tools/runvi.h"

#include <algorithm>
#include <functional>

#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/execrec.h"
#include "tools/clumpemit.h"
#include "tools/i386emit.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace runvi {

namespace {

using emit::EAX;
using emit::EBP;
using emit::ECX;
using emit::EDX;
using emit::ESI;
using emit::ESP;

constexpr int32 kRTVIEntrance = 768, kRTCBRPrepareCall = 1650, kRTVIRefFinishNativeCall = 1670;
constexpr int32 kRTCondSchedClmp = 770, kRTInitProcs = 1697, kRTDSSetHandleSize = 313;
constexpr int32 kRTTCPWaitListen = 1634, kRTTCPClose = 1635, kRTTCPWrite = 1636, kRTTCPOpen = 1637,
                kRTTCPRead = 1638, kRTTCPCreateListen = 1639, kRTTCPFinishWait = 1640, kRTShutDown = 1052,
                kRTLoadLibrary16 = 626, kRTAttributeNodeTransfer = 1600;
constexpr int32 kPending = 55;
// Words of a TCP node's wait record: the waiting element, the result, the
// connection, the output.
constexpr int32 kRecResult = 4, kRecConnection = 8, kRecOutput = 12, kRecListener = 24, kRecTimeout = 28;

constexpr int32 kResetPendingAt = int32(offsetof(QueueElement, resetPending));
constexpr int32 kRunStateAt = int32(offsetof(QueueElement, runState));

int32 Slot(int32 n) { return int32(offsetof(DataSpaceHeader, procs)) + 4 * (n - kDSProcFirst); }

// Raw instructions the emitter has no call for.
void LockInc(emit::Code& c, int32 at) {
  c.Byte(0xF0);  // lock: the test reads the counters while the clumps run
  c.IncMem(EBP, at);
}
// cmp word [eax + at], 0
void TestWord(emit::Code& c, int32 at) {
  for (uint8_t b : {uint8_t(0x66), uint8_t(0x83), uint8_t(0x78), uint8_t(at), uint8_t(0)}) c.Byte(b);
}
// mov cx, value; xchg [eax + at], cx
void StoreWord(emit::Code& c, int32 at, uint16_t value) {
  for (uint8_t b : {uint8_t(0x66), uint8_t(0xB9), uint8_t(value), uint8_t(value >> 8)}) c.Byte(b);
  for (uint8_t b : {uint8_t(0x66), uint8_t(0x87), uint8_t(0x48), uint8_t(at)}) c.Byte(b);
}

// xchg [ebp + at], ecx
void XchgData(emit::Code& c, int32 at) {
  c.Byte(0x87);
  c.Byte(0x8D);
  c.Word(uint32_t(at));
}
// The top-level code holds its VI's entrance while it runs (element in EAX;
// none: let go), as the run commands expect of a running VI.
void HoldEntrance(emit::Code& c, bool hold) {
  constexpr int32 kOwner = int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, owner));
  if (hold) c.MovRegReg(ECX, EAX);
  else c.XorRegReg(ECX, ECX);
  XchgData(c, kOwner);
  c.MovRegImm(ECX, hold ? 1 : 0);
  XchgData(c, int32(offsetof(DataSpaceHeader, busy)));
}

// A clump that counts its rounds at `rounds` and yields after each until its
// element is being reset; then `done` runs.
void EmitSpin(emit::Code& c, emit::Code::Label top, int32 rounds, const std::function<void()>& done) {
  auto reset = c.NewLabel();
  c.Bind(top);
  TestWord(c, kResetPendingAt);
  c.Jcc(emit::kNZ, reset);
  LockInc(c, rounds);
  c.LoadLabelAddress(EAX, top);
  c.Ret();
  c.Bind(reset);
  done();
}

// A node that may wait, with the clump's element in ESI: the resume address
// and the wait record's waiting element set and the element parked in
// run state 3 before `call` pushes the arguments and calls the cover.  A
// pending cover (55) ends the clump's turn; the completion queues it again
// at the resume address, where `resumed` leaves the result in EAX.  A cover
// that finished at once ends the wait and leaves its own result in EAX.
void EmitWaitNode(emit::Code& c, int32 rec, const std::function<void()>& call, const std::function<void()>& resumed) {
  auto resume = c.NewLabel(), atOnce = c.NewLabel(), done = c.NewLabel();
  c.LoadLabelAddress(ECX, resume);
  c.MovMemReg(ESI, int32(offsetof(QueueElement, code)), ECX);
  c.MovMemReg(EBP, rec, ESI);
  c.MovRegReg(EAX, ESI);
  StoreWord(c, kRunStateAt, 3);
  call();
  c.CmpRegImm(EAX, kPending);
  c.Jcc(emit::kNZ, atOnce);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(atOnce);
  c.MovRegReg(EDX, EAX);
  c.MovRegReg(EAX, ESI);
  StoreWord(c, kRunStateAt, 0);
  c.MovRegReg(EAX, EDX);
  c.Jmp(done);
  c.Bind(resume);
  c.MovRegReg(ESI, EAX);
  resumed();
  c.Bind(done);
}

// The text written by the TCP clumps: "*IDN?\r\n".
void EmitQueryText(emit::Code& c) {
  c.PushImm(11);
  c.PushMem(EBP, kTCPText);
  c.CallRT(kRTDSSetHandleSize);
  c.AddRegImm(ESP, 8);
  c.MovRegMem(EDX, EBP, kTCPText);
  c.MovRegMem(EDX, EDX, 0);
  c.MovMemImm(EDX, 0, 7);
  c.MovMemImm(EDX, 4, 0x4E44492A);
  c.MovMemImm(EDX, 8, 0x000A0D3F);
}

// A write node of the TCP clumps: the string at `text` to the connection at
// kTCPConn through the wait record `rec`; the result in EAX.
void EmitTCPWrite(emit::Code& c, int32 rec, int32 text) {
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, kTCPWritten);
  c.MovMemReg(EBP, rec + kRecOutput, ECX);
  EmitWaitNode(c, rec, [&] {
    c.PushImm(0);
    c.MovRegReg(ECX, EBP);
    c.AddRegImm(ECX, rec);
    c.PushReg(ECX);
    c.PushImm(5000);
    c.PushMem(EBP, text);
    c.PushMem(EBP, kTCPConn);
    c.CallRT(kRTTCPWrite);
    c.AddRegImm(ESP, 20);
  }, [&] { c.MovRegMem(EAX, EBP, rec + kRecResult); });
}

// The TCP server (element in EAX): listens on kTCPPort, waits (kTCPWaitMs)
// for one connection, writes "*IDN?\r\n" to it, closes both and asks the
// application to quit; `finish` ends the run.
void EmitTCPServe(emit::Code& c, const std::function<void()>& finish) {
  const int32 wait = kTCPRecs, write = kTCPRecs + kTCPRecSize;
  auto end = c.NewLabel();
  auto result = [&](int32 n) { c.MovMemReg(EBP, kTCPResults + 4 * n, EAX); };
  c.MovRegReg(ESI, EAX);
  EmitQueryText(c);
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, kTCPListener);
  c.PushReg(ECX);
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, kTCPPort);
  c.PushReg(ECX);
  c.CallRT(kRTTCPCreateListen);
  c.AddRegImm(ESP, 8);
  result(0);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, end);
  // The wait: the listener, the time-out's word, the accepted connection.
  c.MovRegMem(ECX, EBP, kTCPListener);
  c.MovMemReg(EBP, wait + kRecListener, ECX);
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, kTCPWaitMs);
  c.MovMemReg(EBP, wait + kRecTimeout, ECX);
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, kTCPConn);
  c.MovMemReg(EBP, wait + kRecOutput, ECX);
  EmitWaitNode(c, wait, [&] {
    c.MovRegReg(ECX, EBP);
    c.AddRegImm(ECX, wait);
    c.PushReg(ECX);
    c.CallRT(kRTTCPWaitListen);
    c.AddRegImm(ESP, 4);
  }, [&] { c.MovRegMem(EAX, EBP, wait + kRecResult); });
  result(1);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, end);
  c.MovRegMem(ECX, EBP, wait + kRecConnection);
  c.MovMemReg(EBP, kTCPConn, ECX);
  EmitTCPWrite(c, write, kTCPText);
  result(2);
  c.PushMem(EBP, kTCPConn);
  c.CallRT(kRTTCPClose);
  c.AddRegImm(ESP, 4);
  c.Bind(end);
  c.PushMem(EBP, kTCPListener);
  c.CallRT(kRTTCPClose);
  c.AddRegImm(ESP, 4);
  result(3);
  c.CallRT(kRTShutDown);
  finish();
}

// The TCP query (element in EAX); `finish` ends the run.  With echo, the
// line read is written back before the close and the application is asked
// to quit after it.
void EmitTCPQuery(emit::Code& c, const std::function<void()>& finish, bool echo = false) {
  const int32 open = kTCPRecs, write = kTCPRecs + kTCPRecSize, read = kTCPRecs + 2 * kTCPRecSize;
  auto end = c.NewLabel();
  auto pushAddress = [&](int32 at) {
    c.MovRegReg(ECX, EBP);
    c.AddRegImm(ECX, at);
    c.PushReg(ECX);
  };
  auto call = [&](int32 index, int32 args) {
    c.CallRT(index);
    c.AddRegImm(ESP, 4 * args);
  };
  auto result = [&](int32 n) { c.MovMemReg(EBP, kTCPResults + 4 * n, EAX); };
  c.MovRegReg(ESI, EAX);
  EmitQueryText(c);
  // Open (no address: this machine; no local port), then TCPFinishWait.
  EmitWaitNode(c, open, [&] {
    c.PushImm(0);
    pushAddress(kTCPConn);
    pushAddress(kTCPPort);
    c.PushImm(0);
    c.PushImm(5000);
    pushAddress(open);
    call(kRTTCPOpen, 6);
  }, [&] {
    pushAddress(open);
    call(kRTTCPFinishWait, 1);
  });
  result(0);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, end);
  // Write the string's bytes; the record's output is the count written.
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, kTCPWritten);
  c.MovMemReg(EBP, write + kRecOutput, ECX);
  EmitWaitNode(c, write, [&] {
    c.PushImm(0);
    pushAddress(write);
    c.PushImm(5000);
    c.PushMem(EBP, kTCPText);
    c.PushMem(EBP, kTCPConn);
    call(kRTTCPWrite, 5);
  }, [&] { c.MovRegMem(EAX, EBP, write + kRecResult); });
  result(1);
  // Read a line into the string at kTCPLine.
  c.MovRegMem(ECX, EBP, kTCPLine);
  c.MovMemReg(EBP, read + kRecOutput, ECX);
  EmitWaitNode(c, read, [&] {
    c.PushImm(2);
    pushAddress(read);
    c.PushImm(10000);
    c.PushImm(64);
    c.PushMem(EBP, kTCPConn);
    call(kRTTCPRead, 5);
  }, [&] { c.MovRegMem(EAX, EBP, read + kRecResult); });
  result(2);
  if (echo) {
    // The line read goes back through the write node's record.
    c.MovRegMem(ECX, EBP, read + kRecOutput);
    c.MovMemReg(EBP, kTCPLine, ECX);
    EmitTCPWrite(c, write, kTCPLine);
  }
  c.PushMem(EBP, kTCPConn);
  call(kRTTCPClose, 1);
  result(3);
  c.Bind(end);
  if (echo) c.CallRT(kRTShutDown);
  finish();
}

// The VI's code: the compiled initialisation (the normal procedures, the
// flag record, run element and second clump in the data, the top-level code
// in slot 21 keeping the completion address, a controller procedure with
// nothing to do), then the clumps.
}  // namespace

void EmitPropertyNode(emit::Code* code, int32 record, int32 objectAt, int32 typesAt, int32 valuesAt,
                      const std::vector<uInt32>& entries) {
  emit::Code& c = *code;
  c.MovMemImm(EBP, record, 0);
  c.MovMemImm(EBP, record + 4, 0);
  c.MovRegMem(ECX, EBP, int32(offsetof(DataSpaceHeader, panel)));
  c.MovMemReg(EBP, record + 8, ECX);
  c.MovRegMem(ECX, EBP, objectAt);
  c.MovMemReg(EBP, record + 12, ECX);
  c.MovRegMem(ECX, EBP, int32(offsetof(DataSpaceHeader, typeDesc)));
  c.MovMemReg(EBP, record + 16, ECX);
  c.MovMemImm(EBP, record + 20, uint32_t(typesAt));
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, valuesAt);
  c.MovMemReg(EBP, record + 24, ECX);
  c.MovMemImm(EBP, record + 28, uint32_t(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) c.MovMemImm(EBP, record + 32 + 4 * int32(i), entries[i]);
  c.PushReg(ESI);
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, record);
  c.PushReg(ECX);
  c.CallRT(kRTAttributeNodeTransfer);
  c.AddRegImm(ESP, 8);
}

int32 EntryTypeOffset(const std::vector<tdb::TD>& entries, size_t index) {
  const std::vector<tdb::TD> before(entries.begin(), entries.begin() + long(std::min(index, entries.size())));
  return int32(vib::DataSpaceType(before).Bytes().size());
}

void EmitInitHead(emit::Code* code, int32 flagAt, int32 runAt) {
  emit::Code& c = *code;
  c.PushReg(EBP);
  c.MovRegMem(EBP, ESP, 8);
  c.PushImm(0);
  c.PushReg(EBP);
  c.CallRT(kRTInitProcs);
  c.AddRegImm(ESP, 8);
  c.MovRegMem(EDX, EBP, 0);
  c.MovRegReg(ECX, EDX);
  c.AddRegImm(ECX, flagAt);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, flagRecord)), ECX);
  c.MovRegReg(ECX, EDX);
  c.AddRegImm(ECX, runAt);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, runElement)), ECX);
  c.MovMemReg(ECX, int32(offsetof(QueueElement, dataSpace)), EBP);
  c.MovMemImm(ECX, int32(offsetof(QueueElement, signature)), kQueueElementSig);
}

namespace {

// The clumps that end their run at once hold no entrance.
bool EndsAtOnce(Clumps kind) {
  return kind == Clumps::kOnce || kind == Clumps::kAdd || kind == Clumps::kQuit || kind == Clumps::kCaller ||
         kind == Clumps::kProperty;
}

// The property node's descriptor: the data space's entries up to its values.
std::vector<tdb::TD> PropertyEntries() {
  std::vector<tdb::TD> e(size_t(kPropValues - kDataSpaceHeaderSize) / 4, tdb::I32());
  e[size_t(kPropObject - kDataSpaceHeaderSize) / 4] = tdb::I32().WithFlags(kDSEntryStored);
  e.push_back(tdb::Cluster({tdb::I32().Named("Left"), tdb::I32().Named("Left")}));
  return e;
}

constexpr int32 kCallWord = int32(offsetof(DataSpaceHeader, callTable));
constexpr int32 kEntrance = int32(offsetof(DataSpaceHeader, entrance));
// A parameter table: a four-word header, then two words per terminal (the
// value's address, whether it is present).
constexpr int32 kSlotValue = 16;
constexpr int32 kElementCode = int32(offsetof(QueueElement, code));

// mov ecx, ebp; add ecx, at: the address of a data word.
void DataAddress(emit::Code& c, int32 at) {
  c.MovRegReg(ECX, EBP);
  c.AddRegImm(ECX, at);
}

}  // namespace

void EmitAddForCaller(emit::Code& c) {
  auto compute = c.NewLabel(), exit = c.NewLabel();
  c.MovRegMem(EDX, EBP, kCallWord);
  c.TestRegReg(EDX, EDX);
  c.Jcc(emit::kZ, compute);
  c.MovMemImm(EBP, kCallWord, 0);
  for (int32 i = 0; i < 2; ++i) {
    auto skip = c.NewLabel();
    c.CmpMemImm(EDX, kSlotValue + 8 * i + 4, 0);
    c.Jcc(emit::kZ, skip);
    c.MovRegMem(ECX, EDX, kSlotValue + 8 * i);
    c.TestRegReg(ECX, ECX);
    c.Jcc(emit::kZ, skip);
    c.MovRegMem(ECX, ECX, 0);
    c.MovMemReg(EBP, kAddA + 4 * i, ECX);
    c.Bind(skip);
  }
  c.Bind(compute);
  c.MovRegMem(EAX, EBP, kAddA);
  c.MovRegMem(ECX, EBP, kAddB);
  c.Byte(0x01);  // add eax, ecx
  c.Byte(0xC8);
  c.MovMemReg(EBP, kAddSum, EAX);
  c.TestRegReg(EDX, EDX);
  c.Jcc(emit::kZ, exit);
  c.CmpMemImm(EDX, kSlotValue + 16 + 4, 0);
  c.Jcc(emit::kZ, exit);
  c.MovRegMem(ECX, EDX, kSlotValue + 16);
  c.TestRegReg(ECX, ECX);
  c.Jcc(emit::kZ, exit);
  c.MovMemReg(ECX, 0, EAX);
  c.Bind(exit);
  qxemit::EmitSubVIExit(c);
}

namespace {

// The caller's clump (its element in EAX): the table, the prepare, the
// entrance, and the end of the native call when Add returns to `after`.
void EmitCaller(emit::Code& c, const std::function<void()>& finish) {
  auto wait = c.NewLabel(), after = c.NewLabel(), end = c.NewLabel();
  c.MovRegReg(ESI, EAX);
  // The tag as the word 'PTAB'.
  c.MovMemImm(EBP, kCallerTable, (uInt32('P') << 24) | (uInt32('T') << 16) | (uInt32('A') << 8) | uInt32('B'));
  c.MovMemImm(EBP, kCallerTable + 4, 0x800000);
  DataAddress(c, kCallCluster);
  c.MovMemReg(EBP, kCallerTable + 8, ECX);
  c.MovRegMem(ECX, EBP, kCallRef);
  c.MovMemReg(EBP, kCallerTable + 12, ECX);
  const int32 terms[3] = {kCallA, kCallB, kCallSum};
  for (int32 i = 0; i < 3; ++i) {
    DataAddress(c, terms[i]);
    c.MovMemReg(EBP, kCallerTable + kSlotValue + 8 * i, ECX);
    c.MovMemImm(EBP, kCallerTable + kSlotValue + 8 * i + 4, 1);
  }
  DataAddress(c, kCallerTable);
  c.PushReg(ECX);
  DataAddress(c, kCalleeTable);
  c.PushReg(ECX);
  c.PushMem(EBP, int32(offsetof(DataSpaceHeader, self)));
  DataAddress(c, kCalleeDS);
  c.PushReg(ECX);
  c.PushMem(EBP, kCallRef);
  c.CallRT(kRTCBRPrepareCall);
  c.AddRegImm(ESP, 20);
  c.MovMemReg(EBP, kCallResult, EAX);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, end);
  c.LoadLabelAddress(ECX, after);
  c.MovMemReg(ESI, kElementCode, ECX);
  c.MovRegMem(EDX, EBP, kCalleeDS);
  c.MovRegMem(EDX, EDX, 0);
  c.AddRegImm(EDX, kEntrance);
  c.PushReg(EDX);
  c.PushReg(ESI);
  c.CallRT(kRTVIEntrance);
  c.AddRegImm(ESP, 8);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kZ, wait);
  c.MovRegMem(EDX, EBP, kCalleeDS);
  c.MovRegMem(EDX, EDX, 0);
  c.MovRegMem(EAX, EDX, int32(offsetof(DataSpaceHeader, subVIEntry)));
  c.Ret();
  c.Bind(wait);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(after);
  c.PushMem(EBP, kCallRef);
  c.CallRT(kRTVIRefFinishNativeCall);
  c.AddRegImm(ESP, 4);
  c.Bind(end);
  finish();
}

}  // namespace

std::vector<uint8_t> Code(Clumps kind) {
  emit::Code c;
  auto top = c.NewLabel(), loop = c.NewLabel(), second = c.NewLabel(), none = c.NewLabel(), sub = c.NewLabel();
  c.SetEntry();
  EmitInitHead(&c, kFlag, kRun);
  c.MovRegReg(EAX, EDX);
  c.AddRegImm(EAX, kClump);
  if (kind == Clumps::kPair) c.MovMemReg(ECX, int32(offsetof(QueueElement, chain)), EAX);
  c.MovMemReg(EAX, int32(offsetof(QueueElement, dataSpace)), EBP);
  c.MovMemImm(EAX, int32(offsetof(QueueElement, signature)), kQueueElementSig);
  c.LoadLabelAddress(ECX, second);
  c.MovMemReg(EAX, int32(offsetof(QueueElement, code)), ECX);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement) +
                         offsetof(QueueElement, dataSpace)),
              EBP);
  c.LoadLabelAddress(ECX, top);
  c.MovRegMem(EAX, EDX, Slot(kDSProcTopCode));
  c.MovMemReg(EDX, kFinish, EAX);
  c.MovMemReg(EDX, Slot(kDSProcTopCode), ECX);
  c.LoadLabelAddress(ECX, none);
  c.MovMemReg(EDX, Slot(kDSProcInitDCOs), ECX);
  // The sum and the spin can also run for a caller: their entry for one.
  const bool forCaller = kind == Clumps::kAdd || kind == Clumps::kSpin;
  if (forCaller) {
    c.LoadLabelAddress(ECX, sub);
    c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, subVIEntry)), ECX);
  }
  c.PopReg(EBP);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(none);
  c.XorRegReg(EAX, EAX);
  c.Ret();

  auto finish = [&] {
    if (!EndsAtOnce(kind)) HoldEntrance(c, false);
    c.MovRegMem(EAX, EBP, kFinish);
    c.Ret();
  };
  c.Bind(top);
  if (!EndsAtOnce(kind)) HoldEntrance(c, true);
  switch (kind) {
    case Clumps::kSpin: break;
    case Clumps::kPair:
      c.PushReg(EAX);
      c.MovMemImm(EBP, kClump + int32(offsetof(QueueElement, fireCount)), 1);
      c.PushImm(uint32_t(kESysSameAsCaller));
      c.MovRegReg(ECX, EBP);
      c.AddRegImm(ECX, kClump);
      c.PushReg(ECX);
      c.CallRT(kRTCondSchedClmp);
      c.AddRegImm(ESP, 8);
      c.PopReg(EAX);
      break;
    case Clumps::kWait:
      StoreWord(c, kRunStateAt, 2);
      c.XorRegReg(EAX, EAX);
      c.Ret();
      break;
    case Clumps::kOnce:
      LockInc(c, kRounds);
      finish();
      break;
    case Clumps::kQuit:
      LockInc(c, kRounds);
      // The 16-bit library call answers with its alert: the run is seen.
      c.PushImm(0x1234);
      c.CallRT(kRTLoadLibrary16);
      c.AddRegImm(ESP, 4);
      c.CallRT(kRTShutDown);
      finish();
      break;
    case Clumps::kTCPQuery: EmitTCPQuery(c, finish); break;
    case Clumps::kTCPEcho: EmitTCPQuery(c, finish, true); break;
    case Clumps::kTCPServe: EmitTCPServe(c, finish); break;
    case Clumps::kProperty: {
      const std::vector<tdb::TD> entries = PropertyEntries();
      auto skip = c.NewLabel();
      c.MovRegReg(ESI, EAX);
      c.MovMemImm(EBP, kPropValues, uint32_t(kPropWritten));
      c.MovMemImm(EBP, kPropValues + 4, 0);
      constexpr uInt32 kWrite = 0x80000000u, kLeft = 5;
      EmitPropertyNode(&c, kPropRecord, kPropObject, EntryTypeOffset(entries, entries.size() - 1), kPropValues,
                       {kWrite | kLeft, kLeft});
      c.CmpMemImm(EBP, kPropValues + 4, kPropClamped);
      c.Jcc(emit::kNZ, skip);
      c.PushImm(0x1234);
      c.CallRT(kRTLoadLibrary16);
      c.AddRegImm(ESP, 4);
      c.Bind(skip);
      c.CallRT(kRTShutDown);
      finish();
      break;
    }
    case Clumps::kAdd:
      c.MovRegMem(EAX, EBP, kAddA);
      c.MovRegMem(ECX, EBP, kAddB);
      c.Byte(0x01);  // add eax, ecx
      c.Byte(0xC8);
      c.MovMemReg(EBP, kAddSum, EAX);
      finish();
      break;
    case Clumps::kCaller: EmitCaller(c, finish); break;
  }
  EmitSpin(c, loop, kRounds, finish);
  // The second clump ends its own reset and is done.
  EmitSpin(c, second, kRounds2, [&] {
    StoreWord(c, kResetPendingAt, 0);
    c.XorRegReg(EAX, EAX);
    c.Ret();
  });
  // For a caller (the VI's own element in EAX): the sum, or rounds until the
  // element is being reset; then the VI is left for the caller.
  if (forCaller) {
    c.Bind(sub);
    if (kind == Clumps::kAdd) {
      EmitAddForCaller(c);
    } else {
      auto subLoop = c.NewLabel(), leave = c.NewLabel();
      c.Bind(subLoop);
      TestWord(c, kResetPendingAt);
      c.Jcc(emit::kNZ, leave);
      LockInc(c, kRounds);
      c.LoadLabelAddress(EAX, subLoop);
      c.Ret();
      c.Bind(leave);
      qxemit::EmitSubVIExit(c);
    }
  }
  return c.Finish();
}

vif::VIFile File(const std::string& name, Clumps kind, int16 priority, uInt32 flags) {
  vif::VIFile v;
  v.name = name;
  v.viKind = kVIKindDatalog;
  v.datalog = std::vector<uInt32>(7, 0);
  v.logRecordType = tdb::I32();
  v.controlMap = std::vector<uInt16>{};
  v.priority = priority;
  v.execSystem = 1;
  v.flags = flags;
  v.entries = std::vector<tdb::TD>(size_t(kEnd - kDataSpaceHeaderSize) / 4, tdb::I32());
  if (kind == Clumps::kTCPQuery || kind == Clumps::kTCPEcho || kind == Clumps::kTCPServe) {
    v.entries.resize(size_t(kTCPServeEnd - kDataSpaceHeaderSize) / 4, tdb::I32());
    auto entry = [&](int32 at) -> tdb::TD& { return v.entries[size_t(at - kDataSpaceHeaderSize) / 4]; };
    for (int32 at : {kTCPText, kTCPLine}) entry(at) = tdb::String();
    // Stored words keep their default data: the port (set by the caller of
    // File) and the results.
    entry(kTCPPort) = tdb::I32().WithFlags(kDSEntryStored);
    entry(kTCPWaitMs) = tdb::I32().WithFlags(kDSEntryStored);
    v.defaultWords.push_back({kTCPWaitMs, 5000});
    for (int32 n = 0; n < 4; ++n) {
      entry(kTCPResults + 4 * n) = tdb::I32().WithFlags(kDSEntryStored);
      v.defaultWords.push_back({kTCPResults + 4 * n, -1});
    }
  }
  if (kind == Clumps::kProperty) {
    v.execSystem = kESysUserInterface;
    v.entries = PropertyEntries();
  }
  if (kind == Clumps::kCaller) v.entries.resize(size_t(kCallEnd - kDataSpaceHeaderSize) / 4, tdb::I32());
  if (kind == Clumps::kAdd) {
    v.entries.push_back(tdb::I32().Named("a"));
    v.entries.push_back(tdb::I32().Named("b"));
    v.entries.push_back(tdb::I32().Named("sum"));
    v.connPane = tdb::Function(0, {0, 0, 0x100}, {tdb::I32().Named("a"), tdb::I32().Named("b"),
                                                  tdb::I32().Named("sum")});
  }
  v.code = Code(kind);
  return v;
}

}  // namespace runvi
