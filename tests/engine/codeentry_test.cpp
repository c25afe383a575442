// Compiled code: patching against the run-time table, the entry convention
// through the execution threads, clump scheduling and subVI calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codeentry_test_support.h"
#include "mgsource/blockmove.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"

using namespace qxcodetest;
using qxexectest::OnlySlots;
using qxtest::Reports;

namespace {

uInt32 WordAt(const void* code, int32 offset) { return GetNative32(static_cast<const uChar*>(code) + offset); }
uInt32 Addr(const void* p) { return uInt32(reinterpret_cast<uintptr_t>(p)); }

class PatchTest : public CodeTest {};

// Every index form lands where the patch list says, relative or absolute.
TEST_F(PatchTest, EachIndexFormLandsRight) {
  emit::Code c;
  c.SetEntry();
  int32 callAt = c.Here() + 1;
  c.CallRT(317);  // call rel32 ClearMem
  int32 movAt = c.Here() + 1;
  c.MovRegPatched(emit::EAX, 319);  // mov eax, MoveBlock
  int32 tableAt = c.Here() + 1;
  c.MovRegPatched(emit::EDX, kPatchRTTable);
  int32 infoAt = c.Here() + 1;
  c.MovRegPatched(emit::ECX, kPatchRTInfo);
  int32 cdAt = c.Here() + 3;
  c.MovRegGsPatched(emit::ECX, kPatchCountdown);
  c.Ret();
  CodeDS ds(1, kESysSameAsCaller, 0);
  LoadedCode code(c.Finish(), 4096, 0xA5);
  SetCodeEntryAndPatch(code.handle(), ds.handle());
  EXPECT_EQ(DSProc(*ds.handle(), 22), code.At(4 * emit::kHeaderWords));
  EXPECT_EQ(code.rec()->refused, 0);
  EXPECT_EQ(ds.VI()->flags & kVIFlagsBadCode, 0u);

  struct Expect {
    int32 at;
    uInt32 value;
  } cases[] = {
      {callAt, Addr(reinterpret_cast<void*>(&ClearMem)) - Addr(code.At(callAt + 4))},
      {movAt, Addr(reinterpret_cast<void*>(&MoveBlock))},
      {tableAt, Addr(QXRTTable)},
      {infoAt, Addr(QXRTInfoWord())},
      {cdAt, ExecCountdownPatchValue()},
  };
  for (const Expect& e : cases) EXPECT_EQ(WordAt(code.At(0), e.at), e.value) << "at " << e.at;
  EXPECT_EQ(GetSetQXInfo(4, 0), int32(Addr(QXRTInfoWord())));
  EXPECT_EQ(Reports::Get().Count("qxrt"), 0);
}

// Bad pairs are reported with their texts and the VI is marked bad; no
// byte outside the block changes.
TEST_F(PatchTest, BadPairsAreReportedAndNothingOutsideTheBlockChanges) {
  struct Case {
    const char* name;
    int32 offsetFromEnd;  // > 0: a pair at size - this; 0: none
    int32 index;
    bool cutList;         // the list runs off the block
    bool badEntry;        // header word 0 past the size
    const char* text;
  } cases[] = {
      {"index 1707", 0, 1707, false, false, "qxrt index out of range: idx=1707"},
      {"index -3", 0, -3, false, false, "qxrt index out of range: idx=-3"},
      {"offset at size - 2", 2, 317, false, false, "qxrt patch out of range: ofst=0x"},
      {"offset at size", -1, 317, false, false, "qxrt patch out of range: ofst=0x"},
      {"list off the block", 0, 317, true, false, "qxrt patch out of range: ofst=0x"},
      {"entry past the size", 0, 317, false, true, "qxrt patch out of range: ofst=0x"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Reports::Get().Clear();
    SetCompilerErrorFlags(0);
    emit::Code c;
    c.SetEntry();
    c.Ret();
    for (int i = 0; i < 16; ++i) c.Byte(0x90);
    std::vector<uint8_t> bytes = c.Finish(false);
    // The patch list: one pair, then the end mark.
    uint32_t list = uint32_t(bytes.size());
    uint32_t size = list + 16;
    uint32_t offset = k.offsetFromEnd > 0 ? size - uint32_t(k.offsetFromEnd) : k.offsetFromEnd < 0 ? size : 24;
    bytes.resize(size, 0);
    PutNative32(&bytes[list], offset);
    PutNative32(&bytes[list + 4], uint32_t(k.index));
    PutNative32(&bytes[8], list);
    if (k.cutList) {
      // No end mark: the list's last pair runs to the block's end.
      bytes.resize(list + 12);
      PutNative32(&bytes[list], 24);
      PutNative32(&bytes[list + 4], 317);
      PutNative32(&bytes[list + 8], 24);
    }
    if (k.badEntry) PutNative32(&bytes[0], uint32_t(bytes.size()));
    CodeDS ds(1, kESysSameAsCaller, 0);
    LoadedCode code(bytes, 64, 0x5A);
    std::vector<uint8_t> before(bytes);
    SetCodeEntryAndPatch(code.handle(), ds.handle());
    EXPECT_EQ(ds.VI()->flags & kVIFlagsBadCode, kVIFlagsBadCode);
    EXPECT_EQ(code.rec()->refused, 1);
    EXPECT_EQ(Reports::Get().Count(k.text), 1) << Reports::Get().Text();
    EXPECT_EQ(Reports::Get().Count("Compiler error.  "), 1);
    EXPECT_NE(Reports::Get().Text().find("\n\nqxrt "), std::string::npos);
    EXPECT_EQ(CompilerErrorFlags() & kCompilerErrPatch, kCompilerErrPatch);
    auto* start = static_cast<uChar*>(code.At(0));
    for (int32 g = 1; g <= 64; ++g) {
      ASSERT_EQ(start[-g], 0x5A) << "guard byte " << g << " before the block";
      ASSERT_EQ(start[int32(bytes.size()) + g - 1], 0x5A) << "guard byte " << g << " after the block";
    }
    if (k.badEntry) { EXPECT_EQ(DSProc(*ds.handle(), 22), nullptr); }
    // Only a patched word may differ; a refused pair writes nothing.
    if (k.index == 1707 || k.index == -3 || k.offsetFromEnd != 0) {
      EXPECT_EQ(std::memcmp(start, before.data(), bytes.size()), 0);
    }
  }
}

// A VI already bad is not patched; a block without a list needs none.
TEST_F(PatchTest, BadVIAndNoListArePatchedNot) {
  emit::Code c;
  c.SetEntry();
  c.CallRT(317);
  c.Ret();
  CodeDS bad(1, kESysSameAsCaller, 0);
  bad.VI()->flags = kVIFlagBad;
  LoadedCode code(c.Finish());
  std::vector<uint8_t> before(static_cast<uChar*>(code.At(0)), static_cast<uChar*>(code.At(code.rec()->size)));
  SetCodeEntryAndPatch(code.handle(), bad.handle());
  EXPECT_EQ(DSProc(*bad.handle(), 22), code.At(24));
  EXPECT_EQ(std::memcmp(code.At(0), before.data(), before.size()), 0);
  EXPECT_EQ(bad.VI()->flags, kVIFlagBad);

  CodeDS good(1, kESysSameAsCaller, 0);
  LoadedCode plain(c.Finish(false));
  SetCodeEntryAndPatch(plain.handle(), good.handle());
  EXPECT_EQ(good.VI()->flags, 0u);
  EXPECT_EQ(Reports::Get().Count("qxrt"), 0);
}

TEST_F(PatchTest, MissingEntriesAreFound) {
  struct Case {
    std::vector<int32> indexes;
    bool missing;
  } cases[] = {
      {{317, 319}, false}, {{625}, false}, {{626}, true}, {{640, 317}, true},
      {{651}, true},       {{652}, false}, {{}, false},
  };
  for (const Case& k : cases) {
    std::vector<uint32_t> list;
    for (int32 i : k.indexes) {
      list.push_back(8);
      list.push_back(uint32_t(i));
    }
    list.push_back(0);
    list.push_back(0);
    EXPECT_EQ(UsesMissingRTEntries(reinterpret_cast<const CodePatchList*>(list.data()), int32(4 * list.size())) != 0,
              k.missing);
    // Without its end mark inside the bytes given, the list is refused.
    EXPECT_TRUE(UsesMissingRTEntries(reinterpret_cast<const CodePatchList*>(list.data()), int32(4 * list.size() - 8)));
  }
  EXPECT_FALSE(UsesMissingRTEntries(nullptr, 0));
}

TEST_F(PatchTest, ForeignCodeHandlesAreRefused) {
  UHandle h = DSNewHClr(sizeof(VICodeRec));
  EXPECT_EQ(VICodeRecord(h), nullptr);
  EXPECT_EQ(VICodeRecord(nullptr), nullptr);
  CodeDS ds(1, kESysSameAsCaller, 0);
  SetCodeEntryAndPatch(h, ds.handle());
  EXPECT_EQ(DSProc(*ds.handle(), 22), nullptr);
  EXPECT_GE(Reports::Get().Count("SetCodeEntryAndPatch"), 1);
  DSDisposeHandle(h);
  VICode none = nullptr;
  EXPECT_EQ(NewVICode(nullptr, 100, &none), kArgErr);
  EXPECT_EQ(NewVICode("x", 3, &none), kArgErr);
  EXPECT_EQ(none, nullptr);
}

// ---- The ABI smoke test -----------------------------------------------------------------

class AbiTest : public CodeTest {};

TEST_F(AbiTest, EmittedClumpsRunThroughTheEngineAndCallSubVIs) {
  // Slot 2 (standard, normal) and slot 4 (standard, high) each have a thread.
  OnlySlots({{2, 1}, {4, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  CodeDS caller(kPriNormal, kESysStandard, 2);
  CodeDS inlineSub(kPriNormal, kESysSameAsCaller, 2);
  CodeDS highSub(kPriHigh, kESysSameAsCaller, 4);

  emit::Code c;
  auto resume = c.NewLabel(), after1 = c.NewLabel(), after2 = c.NewLabel();
  auto clump2 = c.NewLabel(), subEntry = c.NewLabel();
  QueueElement second = NewElement(caller.handle());
  second.fireCount = 2;

  c.SetEntry();
  c.MovRegReg(emit::ESI, emit::EAX);
  const int32 copied[] = {16, 108, 116, 164};
  for (int i = 0; i < 4; ++i) {
    c.MovRegMem(emit::ECX, emit::EBP, copied[i]);
    c.MovMemReg(emit::EBP, kD + 4 * i, emit::ECX);
  }
  // ClearMem(data + 16, 8) by call rel32.
  c.PushImm(8);
  c.MovRegReg(emit::ECX, emit::EBP);
  c.AddRegImm(emit::ECX, kD + 16);
  c.PushReg(emit::ECX);
  c.CallRT(317);
  c.AddRegImm(emit::ESP, 8);
  // MoveBlock(data + 0, data + 24, 4) by mov eax, imm32; call eax.
  c.PushImm(4);
  c.MovRegReg(emit::ECX, emit::EBP);
  c.AddRegImm(emit::ECX, kD + 24);
  c.PushReg(emit::ECX);
  c.MovRegReg(emit::ECX, emit::EBP);
  c.AddRegImm(emit::ECX, kD);
  c.PushReg(emit::ECX);
  c.MovRegPatched(emit::EAX, 319);
  c.CallReg(emit::EAX);
  c.AddRegImm(emit::ESP, 12);
  // CondSchedClmp(second, -1) twice through the table's address.
  for (int i = 0; i < 2; ++i) {
    c.MovRegPatched(emit::EDX, kPatchRTTable);
    c.PushImm(uint32_t(-1));
    c.PushImm(Addr(&second));
    c.CallMem(emit::EDX, 4 * 770);
    c.AddRegImm(emit::ESP, 8);
  }
  EmitRecord(c, kD + 32);
  // Yield.
  c.LoadLabelAddress(emit::EAX, resume);
  c.Ret();

  c.Bind(resume);
  c.MovRegReg(emit::ESI, emit::EAX);
  EmitRecord(c, kD + 36);
  EmitSubVICall(c, *inlineSub.handle(), after1);
  c.Bind(after1);
  c.MovRegReg(emit::ESI, emit::EAX);
  EmitRecord(c, kD + 40);
  EmitSubVICall(c, *highSub.handle(), after2);
  c.Bind(after2);
  EmitRecord(c, kD + 44);
  EmitCountAndFinish(c, kD + 48);

  c.Bind(clump2);
  EmitCountAndFinish(c, kD + 52);

  c.Bind(subEntry);
  c.IncMem(emit::EBP, kD);
  EmitRecord(c, kD + 4);
  EmitSubVIExit(c);

  LoadedCode code(c.Finish());
  SetCodeEntryAndPatch(code.handle(), caller.handle());
  ASSERT_EQ(code.rec()->refused, 0);
  inlineSub->subVIEntry = code.At(c.Offset(subEntry));
  highSub->subVIEntry = code.At(c.Offset(subEntry));
  second.code = code.At(c.Offset(clump2));
  for (int32 i = 16; i < 24; ++i) reinterpret_cast<uChar*>(*caller.handle())[kD + i] = 0xFF;

  QueueElement first = NewElement(caller.handle());
  first.code = DSProc(*caller.handle(), 22);
  EnqPrRunQ(2, &first);
  ASSERT_TRUE(WaitWord(caller.Word(kD + 48), 1)) << Reports::Get().Text();
  ASSERT_TRUE(WaitWord(caller.Word(kD + 52), 1));

  const int32 slot2 = int32(Addr(ExecSlotContext(2)));
  const int32 slot4 = int32(Addr(ExecSlotContext(4)));
  EXPECT_EQ(caller.Word(kD).load(), int32(Addr(caller.vi())));
  EXPECT_EQ(caller.Word(kD + 4).load(), int32(Addr(caller.handle())));
  EXPECT_EQ(caller.Word(kD + 8).load(), int32(Addr(QXRTTable)));
  EXPECT_EQ(uInt32(caller.Word(kD + 12).load()), kDataSpaceSig);
  EXPECT_EQ(caller.Word(kD + 16).load(), 0);
  EXPECT_EQ(caller.Word(kD + 20).load(), 0);
  EXPECT_EQ(caller.Word(kD + 24).load(), int32(Addr(caller.vi())));
  EXPECT_EQ(second.fireCount, 0);
  EXPECT_EQ(caller.Word(kD + 32).load(), slot2);
  EXPECT_EQ(caller.Word(kD + 36).load(), slot2) << "resumed by the same thread";
  EXPECT_EQ(inlineSub.Word(kD).load(), 1);
  EXPECT_EQ(inlineSub.Word(kD + 4).load(), slot2) << "in line on the caller's thread";
  EXPECT_EQ(caller.Word(kD + 40).load(), slot2);
  EXPECT_EQ(highSub.Word(kD).load(), 1);
  EXPECT_EQ(highSub.Word(kD + 4).load(), slot4) << "at higher priority in another slot";
  EXPECT_EQ(caller.Word(kD + 44).load(), slot2) << "resumed on its own thread by VIExit";
  EXPECT_EQ(inlineSub->busy, 0);
  EXPECT_EQ(highSub->busy, 0);
  EXPECT_EQ(inlineSub.entrance()->owner, nullptr);
  EXPECT_EQ(highSub->resetCount, 1);
  EXPECT_EQ(Reports::Get().Count("assert"), 0) << Reports::Get().Text();
}

// ---- Scheduling -----------------------------------------------------------------------------

class SchedTest : public CodeTest {};

TEST_F(SchedTest, FireCountQueuesOnceAndZeroCountIsReported) {
  OnlySlots({});
  ASSERT_EQ(InitExec(), kNoErr);
  CodeDS ds(kPriNormal, kESysStandard, 0);
  QueueElement e = NewElement(ds.handle());
  e.fireCount = 2;
  ExecRunRecord* r = ExecSlotRunRecord(0);
  CondSchedClmp(&e, kESysSameAsCaller);
  EXPECT_EQ(r->runQueue->head, nullptr);
  EXPECT_EQ(e.fireCount, 1);
  CondSchedClmp(&e, kESysSameAsCaller);
  EXPECT_EQ(r->runQueue->head, &e);
  EXPECT_EQ(DeQElm(r->runQueue), &e);
  EXPECT_EQ(r->runQueue->head, nullptr);
  CondSchedClmp(&e, kESysStandard);
  EXPECT_EQ(Reports::Get().Count("CondSchedClmp called with zero shortCount"), 1);
  EXPECT_EQ(r->runQueue->head, nullptr);
  EXPECT_EQ(e.fireCount, 0);
}

}  // namespace

// ---- The countdown ----------------------------------------------------------------------

namespace {

class CountdownTest : public CodeTest {};

// A clump that loops on the patched countdown: data +0 counts rounds, +4
// yields; at a yield it ends when +8 is set.  When +12 is set it calls
// DoDDOAttrCallDone once (and clears +12).
std::vector<uint8_t> LoopingClump() {
  emit::Code c;
  auto top = c.NewLabel(), yield = c.NewLabel(), noAttr = c.NewLabel(), finish = c.NewLabel();
  c.SetEntry();
  c.Bind(top);
  c.CmpMemImm(emit::EBP, kD + 12, 0);
  c.Jcc(emit::kZ, noAttr);
  c.MovMemImm(emit::EBP, kD + 12, 0);
  c.MovRegImm(emit::EAX, uint32_t(reinterpret_cast<uintptr_t>(&DoDDOAttrCallDone)));
  c.CallReg(emit::EAX);
  c.Bind(noAttr);
  c.MovRegGsPatched(emit::ECX, kPatchCountdown);
  c.CmpMemImm(emit::ECX, 0, 0);
  c.Jcc(emit::kZ, yield);
  c.IncMem(emit::EBP, kD);
  c.Jmp(top);
  c.Bind(yield);
  c.IncMem(emit::EBP, kD + 4);
  c.CmpMemImm(emit::EBP, kD + 8, 0);
  c.Jcc(emit::kNZ, finish);
  c.LoadLabelAddress(emit::EAX, top);
  c.Ret();
  c.Bind(finish);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  return c.Finish();
}

// Waits until the rounds counter moved on by at least n.
bool Rounds(CodeDS& ds, int32 n) {
  int32 start = ds.Word(kD).load();
  for (int i = 0; i < 10000; ++i) {
    if (ds.Word(kD).load() - start >= n) return true;
    WSleep(1);
  }
  return false;
}

TEST_F(CountdownTest, LoopingClumpYieldsWhenItsCountdownRunsOut) {
  OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_EQ(ExecThreadCountdown()->load(), 0) << "a thread that runs no clump sees 0";
  ExecSetTimeSlice(2);
  CodeDS ds(kPriNormal, kESysStandard, 2);
  LoadedCode code(LoopingClump());
  SetCodeEntryAndPatch(code.handle(), ds.handle());
  ASSERT_EQ(code.rec()->refused, 0);
  QueueElement loop = NewElement(ds.handle());
  loop.code = DSProc(*ds.handle(), 22);
  EnqPrRunQ(2, &loop);
  ASSERT_TRUE(Rounds(ds, 1000));

  // Alone on its slot the ticks leave it running.
  for (int i = 0; i < 10; ++i) ExecTick();
  ASSERT_TRUE(Rounds(ds, 1000));
  EXPECT_EQ(ds.Word(kD + 4).load(), 0);

  // A second element waits on the slot: the clump yields within a few ticks
  // and the other one runs.
  CodeDS other(kPriNormal, kESysStandard, 2);
  emit::Code oc;
  oc.SetEntry();
  EmitCountAndFinish(oc, kD);
  LoadedCode ocode(oc.Finish());
  SetCodeEntryAndPatch(ocode.handle(), other.handle());
  QueueElement waiting = NewElement(other.handle());
  waiting.code = DSProc(*other.handle(), 22);
  EnqPrRunQ(2, &waiting);
  for (int i = 0; i < 4; ++i) ExecTick();
  EXPECT_TRUE(WaitWord(other.Word(kD), 1));
  EXPECT_GE(ds.Word(kD + 4).load(), 1);

  // After an attribute-node call it yields at once.
  ASSERT_TRUE(Rounds(ds, 1000));
  int32 yields = ds.Word(kD + 4).load();
  ds.Word(kD + 12).store(1);
  EXPECT_TRUE(WaitWord(ds.Word(kD + 4), yields + 1));

  // An abort runs even a lone clump's countdown down.
  ASSERT_TRUE(Rounds(ds, 1000));
  yields = ds.Word(kD + 4).load();
  ExecSetAbortInProgress(1);
  for (int i = 0; i < 4; ++i) ExecTick();
  EXPECT_TRUE(WaitWord(ds.Word(kD + 4), yields + 1));
  ExecSetAbortInProgress(0);

  // Shut-down clears the thread's countdown: it yields at once and ends.
  ASSERT_TRUE(Rounds(ds, 1000));
  yields = ds.Word(kD + 4).load();
  ds.Word(kD + 8).store(1);
  FinishExec();
  EXPECT_EQ(ds.Word(kD + 4).load(), yields + 1);
}

// An element in run state 6 costs a 1 ms sleep each time it is taken.
TEST_F(CountdownTest, RunState6SleepsBeforeEachSlice) {
  OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  CodeDS ds(kPriNormal, kESysStandard, 2);
  emit::Code c;
  auto again = c.NewLabel(), end = c.NewLabel();
  c.SetEntry();
  c.Bind(again);
  c.IncMem(emit::EBP, kD);
  c.CmpMemImm(emit::EBP, kD, 20);
  c.Jcc(emit::kGE, end);
  c.LoadLabelAddress(emit::EAX, again);
  c.Ret();
  c.Bind(end);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  LoadedCode code(c.Finish());
  SetCodeEntryAndPatch(code.handle(), ds.handle());
  for (uInt16 state : {uInt16(0), uInt16(6)}) {
    ds.Word(kD).store(0);
    QueueElement e = NewElement(ds.handle());
    e.runState = state;
    e.code = DSProc(*ds.handle(), 22);
    uInt32 t0 = MilliSecs();
    EnqPrRunQ(2, &e);
    ASSERT_TRUE(WaitWord(ds.Word(kD), 20));
    WSleep(2);
    uInt32 took = MilliSecs() - t0;
    if (state == 6) { EXPECT_GE(took, 20u) << "20 slices, 1 ms each"; }
  }
}

}  // namespace

// ---- Many callers of one VI ------------------------------------------------------------

namespace {

class EntranceConcurrent : public CodeTest {};

// Eight execution threads run eight callers that each call one
// non-reentrant VI in a loop: inside the VI there is never more than one.
TEST_F(EntranceConcurrent, EightCallersEnterOneVIOneAtATime) {
  const int32 calls = std::getenv("QX_UNDER_VALGRIND") ? 1000 : 10000;
  constexpr int kCallers = 8;
  OnlySlots({{2, kCallers}});
  ASSERT_EQ(InitExec(), kNoErr);
  CodeDS sub(kPriNormal, kESysSameAsCaller, 2);
  ASSERT_NE(sub.entrance()->dsRights, nullptr);

  emit::Code c;
  auto top = c.NewLabel(), after = c.NewLabel(), end = c.NewLabel(), subEntry = c.NewLabel(), ok = c.NewLabel();
  c.SetEntry();
  c.MovRegReg(emit::ESI, emit::EAX);
  c.Bind(top);
  c.CmpMemImm(emit::EBP, kD, 0);
  c.Jcc(emit::kZ, end);
  c.DecMem(emit::EBP, kD);
  EmitSubVICall(c, *sub.handle(), after);
  c.Bind(after);
  c.MovRegReg(emit::ESI, emit::EAX);
  c.Jmp(top);
  c.Bind(end);
  EmitCountAndFinish(c, kD + 4);

  c.Bind(subEntry);
  c.IncMem(emit::EBP, kD);
  c.CmpMemImm(emit::EBP, kD, 1);
  c.Jcc(emit::kZ, ok);
  c.IncMem(emit::EBP, kD + 4);
  c.Bind(ok);
  c.IncMem(emit::EBP, kD + 8);
  c.DecMem(emit::EBP, kD);
  EmitSubVIExit(c);
  LoadedCode code(c.Finish());

  std::vector<std::unique_ptr<CodeDS>> callers;
  std::vector<QueueElement> elements(kCallers);
  for (int i = 0; i < kCallers; ++i) {
    callers.push_back(std::make_unique<CodeDS>(kPriNormal, kESysStandard, 2));
    SetCodeEntryAndPatch(code.handle(), callers[size_t(i)]->handle());
    callers[size_t(i)]->Word(kD).store(calls);
  }
  ASSERT_EQ(code.rec()->refused, 0);
  sub->subVIEntry = code.At(c.Offset(subEntry));
  for (int i = 0; i < kCallers; ++i) {
    elements[size_t(i)] = NewElement(callers[size_t(i)]->handle());
    elements[size_t(i)].code = DSProc(*callers[size_t(i)]->handle(), 22);
  }
  for (QueueElement& e : elements) EnqPrRunQ(2, &e);
  for (auto& ds : callers) ASSERT_TRUE(WaitWord(ds->Word(kD + 4), 1, 120000)) << Reports::Get().Text();
  FinishExec();
  EXPECT_EQ(sub.Word(kD + 8).load(), kCallers * calls);
  EXPECT_EQ(sub.Word(kD + 4).load(), 0) << "two callers inside at once";
  EXPECT_EQ(sub.Word(kD).load(), 0);
  EXPECT_EQ(sub->resetCount, kCallers * calls);
  EXPECT_EQ(sub.entrance()->owner, nullptr);
  EXPECT_EQ(sub->busy, 0);
}

}  // namespace
