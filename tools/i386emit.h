// Test tooling: a small i386 emitter that writes compiled-code blocks as the
// engine loads them (engine/exec/codeentry.h): the header words, the code,
// and the patch list that binds the code to QXRTTable.
//
//   emit::Code c;
//   auto resume = c.NewLabel();
//   c.SetEntry();                       // the entry procedure starts here
//   c.LoadLabelAddress(emit::EAX, resume);
//   c.Ret();                            // yield: resume at `resume`
//   c.Bind(resume);
//   c.CallRT(317);                      // call rel32 ClearMem, patched
//   ...
//   std::vector<uint8_t> block = c.Finish();
//
// Resume addresses are computed without knowing where the block will lie:
// call the next instruction, pop the return address, add the distance.
#pragma once
#include <cstdint>
#include <vector>

namespace emit {

enum Reg : uint8_t { EAX = 0, ECX = 1, EDX = 2, EBX = 3, ESP = 4, EBP = 5, ESI = 6, EDI = 7 };
// Condition codes of the conditional jumps.
enum Cond : uint8_t { kZ = 0x4, kNZ = 0x5, kBE = 0x6, kA = 0x7, kL = 0xC, kGE = 0xD };

class Code {
 public:
  typedef int Label;
  Code();

  Label NewLabel();
  void Bind(Label l);
  // The offset of a bound label from the start of the block.
  int32_t Offset(Label l) const;
  int32_t Here() const { return int32_t(bytes_.size()); }
  // The entry procedure (header word 0) starts here.
  void SetEntry() { entry_ = Here(); }

  // Moves.
  void MovRegImm(Reg r, uint32_t imm);
  void MovRegReg(Reg dst, Reg src);
  void MovRegMem(Reg dst, Reg base, int32_t disp);
  void MovMemReg(Reg base, int32_t disp, Reg src);
  void MovMemImm(Reg base, int32_t disp, uint32_t imm);
  // mov r, imm32 patched with the index (a QXRTTable entry gives its
  // absolute address; -4 the table, -6 the run-time information word).
  void MovRegPatched(Reg r, int32_t index);
  // mov r, gs:[imm32] with the imm32 patched (index -2: the thread's
  // countdown pointer).
  void MovRegGsPatched(Reg r, int32_t index);

  // Arithmetic and tests.
  void AddRegImm(Reg r, int32_t imm);
  void CmpRegImm(Reg r, int32_t imm);
  void CmpMemImm(Reg base, int32_t disp, int32_t imm);
  void TestRegReg(Reg a, Reg b);
  void XorRegReg(Reg a, Reg b);
  void IncMem(Reg base, int32_t disp);
  void DecMem(Reg base, int32_t disp);

  // Stack.
  void PushReg(Reg r);
  void PushImm(uint32_t imm);
  void PushMem(Reg base, int32_t disp);
  void PopReg(Reg r);

  // Calls and jumps.
  void CallRT(int32_t index);  // call rel32 to a QXRTTable entry, patched
  void CallReg(Reg r);
  void CallMem(Reg base, int32_t disp);
  void Call(Label l);
  void Jmp(Label l);
  void Jcc(Cond c, Label l);
  void Ret();

  // r = the absolute address of the label, position-independently.
  void LoadLabelAddress(Reg r, Label l);

  // Raw bytes and words, and patch pairs of any offset and index (for
  // blocks that must be refused).
  void Byte(uint8_t b) { bytes_.push_back(b); }
  void Word(uint32_t w);
  void AddPatch(uint32_t offset, int32_t index) { patches_.push_back({offset, index}); }

  // The block: header words (entry offset, "i386", patch-list offset, 0, 0,
  // "code"), the code, then the patch list (4-byte aligned, ended by an
  // offset of 0).  With withPatchList false, header word 2 is 0.
  std::vector<uint8_t> Finish(bool withPatchList = true);

 private:
  struct Fixup {
    int32_t at;      // where the 32-bit word is
    Label label;
    int32_t base;    // the value is label - base
  };
  struct Patch {
    uint32_t offset;
    int32_t index;
  };
  void ModRMMem(uint8_t reg, Reg base, int32_t disp);
  void Rel32(Label l);

  std::vector<uint8_t> bytes_;
  std::vector<int32_t> labels_;
  std::vector<Fixup> fixups_;
  std::vector<Patch> patches_;
  int32_t entry_ = -1;
};

// Header word places and tags (as engine/exec/codeentry.h gives them).
constexpr int32_t kHeaderWords = 6;

}  // namespace emit
