// Shared set-up of the compiled-code tests: data spaces with room for data,
// a run element and a flag record, and code blocks from the emitter.
#pragma once
#include <atomic>
#include <vector>

#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/vi/virecord.h"
#include "exec_test_support.h"
#include "tools/clumpemit.h"

namespace qxcodetest {

using qxexectest::NewElement;

// Data words of the tests start right after the header.
constexpr int32 kD = kDataSpaceHeaderSize;
constexpr int32 kDataBytes = 512;

// Records the calling thread's context at the address (called by emitted
// code, cdecl).
extern "C" inline void RecordContext(int32* at) { *at = int32(reinterpret_cast<intptr_t>(GetCurExecContext())); }

// A data space with a VI record, a run element, a flag record and data.
class CodeDS {
 public:
  CodeDS(int priority, int system, int slot, bool subroutine = false, int16 kind = 2) {
    vi_ = DSNewHClr(kVIHeaderSize);
    h_ = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize + kDataBytes));
    DataSpaceHeader* p = *h_;
    p->signature = kDataSpaceSig;
    p->self = h_;
    p->selfPtr = p;
    p->owner = vi_;
    p->rtTable = reinterpret_cast<void*>(QXRTTable);
    p->effPriority = int16(priority);
    p->basePriority = int16(priority);
    p->priority = uInt16(priority);
    p->execSystem = system;
    p->slot = slot;
    p->flagRecord = &flag_;
    VI()->viKind = kind;
    VI()->priority = int16(priority);
    VI()->execSystem = system;
    VI()->dataSpace = reinterpret_cast<UHandle>(h_);
    EXPECT_EQ(NewVIEntrance(h_, subroutine, 0), kNoErr);
    run_ = NewElement(h_);
    run_.flagRecord = &flag_;
    (*h_)->runElement = &run_;
  }
  ~CodeDS() {
    DisposeVIEntrance(h_);
    DSDisposeHandle(reinterpret_cast<UHandle>(h_));
    DSDisposeHandle(vi_);
  }
  CodeDS(const CodeDS&) = delete;
  CodeDS& operator=(const CodeDS&) = delete;
  DataSpace handle() const { return h_; }
  DataSpaceHeader* operator->() const { return *h_; }
  VIRecord* VI() const { return reinterpret_cast<VIRecord*>(*vi_); }
  UHandle vi() const { return vi_; }
  std::atomic<int32>& Word(int32 offset) const {
    return *reinterpret_cast<std::atomic<int32>*>(reinterpret_cast<char*>(*h_) + offset);
  }
  QueueElement& run() { return run_; }
  QueueElement& own() const { return (*h_)->entrance.ownElement; }
  VIEntranceRec* entrance() const { return &(*h_)->entrance; }
  uInt32 flag_ = 0;

 private:
  UHandle vi_;
  DataSpace h_;
  QueueElement run_;
};

// A loaded code block.
class LoadedCode {
 public:
  explicit LoadedCode(const std::vector<uint8_t>& bytes, int32 guard = 0, uChar fill = 0) {
    EXPECT_EQ(NewVICodeGuarded(bytes.data(), int32(bytes.size()), guard, fill, &code_), kNoErr);
  }
  ~LoadedCode() { DisposeVICode(code_); }
  LoadedCode(const LoadedCode&) = delete;
  LoadedCode& operator=(const LoadedCode&) = delete;
  UHandle handle() const { return reinterpret_cast<UHandle>(code_); }
  VICodeRec* rec() const { return *code_; }
  void* At(int32 offset) const { return (*code_)->start + offset; }

 private:
  VICode code_ = nullptr;
};

// Emits a call of a C procedure with one pointer argument: EBP + offset.
inline void EmitRecord(emit::Code& c, int32 offset) {
  c.MovRegReg(emit::ECX, emit::EBP);
  c.AddRegImm(emit::ECX, offset);
  c.PushReg(emit::ECX);
  c.MovRegImm(emit::ECX, uint32_t(reinterpret_cast<uintptr_t>(&RecordContext)));
  c.CallReg(emit::ECX);
  c.AddRegImm(emit::ESP, 4);
}

// Emits a subVI call through the VI's entrance as our compiled code makes
// it: ESI holds the caller's element; the caller goes on at `after`.
inline void EmitSubVICall(emit::Code& c, DataSpaceHeader* sub, emit::Code::Label after) {
  auto wait = c.NewLabel();
  c.LoadLabelAddress(emit::ECX, after);
  c.MovMemReg(emit::ESI, 12, emit::ECX);
  c.PushImm(uint32_t(reinterpret_cast<uintptr_t>(&sub->entrance)));
  c.PushReg(emit::ESI);
  c.CallRT(768);  // VIEntrance
  c.AddRegImm(emit::ESP, 8);
  c.TestRegReg(emit::EAX, emit::EAX);
  c.Jcc(emit::kZ, wait);
  c.MovRegImm(emit::EAX, uint32_t(reinterpret_cast<uintptr_t>(&sub->subVIEntry)));
  c.MovRegMem(emit::EAX, emit::EAX, 0);
  c.Ret();
  c.Bind(wait);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
}

using qxemit::EmitSubVIExit;

// Emits the end of a clump that counts its runs: the word at EBP + offset
// goes up by one and the clump is done.
inline void EmitCountAndFinish(emit::Code& c, int32 offset) {
  c.IncMem(emit::EBP, offset);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
}

// Waits up to ms for the word to reach the value.
inline bool WaitWord(std::atomic<int32>& w, int32 value, int32 ms = 10000) {
  for (int32 i = 0; i < ms; ++i) {
    if (w.load() == value) return true;
    WSleep(1);
  }
  return w.load() == value;
}

class CodeTest : public qxexectest::ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    qxtest::StartRTTable();
    SetCompilerErrorFlags(0);
  }
};

}  // namespace qxcodetest
