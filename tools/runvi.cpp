#include "tools/runvi.h"

#include <functional>

#include "engine/exec/dsprocs.h"
#include "tools/i386emit.h"
#include "tools/tdbuilder.h"

namespace runvi {

namespace {

using emit::EAX;
using emit::EBP;
using emit::ECX;
using emit::EDX;
using emit::ESP;

constexpr int32 kRTCondSchedClmp = 770, kRTInitProcs = 1697;

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

// The VI's code: the compiled initialisation (the normal procedures, the
// flag record, run element and second clump in the data, the top-level code
// in slot 21 keeping the completion address, a controller procedure with
// nothing to do), then the clumps.
}  // namespace

std::vector<uint8_t> Code(Clumps kind) {
  emit::Code c;
  auto top = c.NewLabel(), loop = c.NewLabel(), second = c.NewLabel(), none = c.NewLabel();
  c.SetEntry();
  c.PushReg(EBP);
  c.MovRegMem(EBP, ESP, 8);
  c.PushImm(0);
  c.PushReg(EBP);
  c.CallRT(kRTInitProcs);
  c.AddRegImm(ESP, 8);
  c.MovRegMem(EDX, EBP, 0);
  c.MovRegReg(ECX, EDX);
  c.AddRegImm(ECX, kFlag);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, flagRecord)), ECX);
  c.MovRegReg(ECX, EDX);
  c.AddRegImm(ECX, kRun);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, runElement)), ECX);
  c.MovMemReg(ECX, int32(offsetof(QueueElement, dataSpace)), EBP);
  c.MovMemImm(ECX, int32(offsetof(QueueElement, signature)), kQueueElementSig);
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
  c.PopReg(EBP);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(none);
  c.XorRegReg(EAX, EAX);
  c.Ret();

  auto finish = [&] {
    if (kind != Clumps::kOnce) HoldEntrance(c, false);
    c.MovRegMem(EAX, EBP, kFinish);
    c.Ret();
  };
  c.Bind(top);
  if (kind != Clumps::kOnce) HoldEntrance(c, true);
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
  }
  EmitSpin(c, loop, kRounds, finish);
  // The second clump ends its own reset and is done.
  EmitSpin(c, second, kRounds2, [&] {
    StoreWord(c, kResetPendingAt, 0);
    c.XorRegReg(EAX, EAX);
    c.Ret();
  });
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
  v.code = Code(kind);
  return v;
}

}  // namespace runvi
