#include "tools/i386emit.h"

#include <cstdlib>

#include "engine/exec/codeentry.h"

namespace emit {

namespace {
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t w) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(w >> (8 * i));
}
[[noreturn]] void Fail() { std::abort(); }
}  // namespace

Code::Code() { bytes_.assign(4 * kHeaderWords, 0); }

Code::Label Code::NewLabel() {
  labels_.push_back(-1);
  return Label(labels_.size() - 1);
}

void Code::Bind(Label l) { labels_.at(size_t(l)) = Here(); }

int32_t Code::Offset(Label l) const { return labels_.at(size_t(l)); }

void Code::Word(uint32_t w) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(w >> (8 * i)));
}

// [base + disp32]; ESP as a base needs a SIB byte.
void Code::ModRMMem(uint8_t reg, Reg base, int32_t disp) {
  Byte(uint8_t(0x80 | (reg << 3) | base));
  if (base == ESP) Byte(0x24);
  Word(uint32_t(disp));
}

void Code::Rel32(Label l) {
  fixups_.push_back({Here(), l, Here() + 4});
  Word(0);
}

void Code::MovRegImm(Reg r, uint32_t imm) {
  Byte(uint8_t(0xB8 + r));
  Word(imm);
}
void Code::MovRegReg(Reg dst, Reg src) {
  Byte(0x89);
  Byte(uint8_t(0xC0 | (src << 3) | dst));
}
void Code::MovRegMem(Reg dst, Reg base, int32_t disp) {
  Byte(0x8B);
  ModRMMem(dst, base, disp);
}
void Code::MovMemReg(Reg base, int32_t disp, Reg src) {
  Byte(0x89);
  ModRMMem(src, base, disp);
}
void Code::MovMemImm(Reg base, int32_t disp, uint32_t imm) {
  Byte(0xC7);
  ModRMMem(0, base, disp);
  Word(imm);
}
void Code::MovRegPatched(Reg r, int32_t index) {
  Byte(uint8_t(0xB8 + r));
  AddPatch(uint32_t(Here()), index);
  Word(0);
}
void Code::MovRegGsPatched(Reg r, int32_t index) {
  Byte(0x65);  // GS
  Byte(0x8B);
  Byte(uint8_t(0x05 | (r << 3)));  // [disp32]
  AddPatch(uint32_t(Here()), index);
  Word(0);
}

void Code::AddRegImm(Reg r, int32_t imm) {
  Byte(0x81);
  Byte(uint8_t(0xC0 | r));
  Word(uint32_t(imm));
}
void Code::CmpRegImm(Reg r, int32_t imm) {
  Byte(0x81);
  Byte(uint8_t(0xF8 | r));
  Word(uint32_t(imm));
}
void Code::CmpMemImm(Reg base, int32_t disp, int32_t imm) {
  Byte(0x81);
  ModRMMem(7, base, disp);
  Word(uint32_t(imm));
}
void Code::TestRegReg(Reg a, Reg b) {
  Byte(0x85);
  Byte(uint8_t(0xC0 | (b << 3) | a));
}
void Code::XorRegReg(Reg a, Reg b) {
  Byte(0x31);
  Byte(uint8_t(0xC0 | (b << 3) | a));
}
void Code::IncMem(Reg base, int32_t disp) {
  Byte(0xFF);
  ModRMMem(0, base, disp);
}
void Code::DecMem(Reg base, int32_t disp) {
  Byte(0xFF);
  ModRMMem(1, base, disp);
}

void Code::PushReg(Reg r) { Byte(uint8_t(0x50 + r)); }
void Code::PushImm(uint32_t imm) {
  Byte(0x68);
  Word(imm);
}
void Code::PushMem(Reg base, int32_t disp) {
  Byte(0xFF);
  ModRMMem(6, base, disp);
}
void Code::PopReg(Reg r) { Byte(uint8_t(0x58 + r)); }

void Code::CallRT(int32_t index) {
  Byte(0xE8);
  AddPatch(uint32_t(Here()), index);
  Word(0);
}
void Code::CallReg(Reg r) {
  Byte(0xFF);
  Byte(uint8_t(0xD0 | r));
}
void Code::CallMem(Reg base, int32_t disp) {
  Byte(0xFF);
  ModRMMem(2, base, disp);
}
void Code::Call(Label l) {
  Byte(0xE8);
  Rel32(l);
}
void Code::Jmp(Label l) {
  Byte(0xE9);
  Rel32(l);
}
void Code::Jcc(Cond c, Label l) {
  Byte(0x0F);
  Byte(uint8_t(0x80 | c));
  Rel32(l);
}
void Code::Ret() { Byte(0xC3); }

void Code::LoadLabelAddress(Reg r, Label l) {
  Byte(0xE8);  // call the next instruction
  Word(0);
  int32_t next = Here();
  PopReg(r);
  Byte(0x81);  // add r, label - next
  Byte(uint8_t(0xC0 | r));
  fixups_.push_back({Here(), l, next});
  Word(0);
}

std::vector<uint8_t> Code::Finish(bool withPatchList) {
  std::vector<uint8_t> out = bytes_;
  for (const Fixup& f : fixups_) {
    int32_t target = labels_.at(size_t(f.label));
    if (target < 0) Fail();  // an unbound label
    Put32(out, size_t(f.at), uint32_t(target - f.base));
  }
  while (out.size() % 4) out.push_back(0x90);
  uint32_t list = uint32_t(out.size());
  if (withPatchList) {
    for (const Patch& p : patches_) {
      size_t at = out.size();
      out.resize(at + 8);
      Put32(out, at, p.offset);
      Put32(out, at + 4, uint32_t(p.index));
    }
    out.resize(out.size() + 8, 0);  // the end mark
  }
  Put32(out, 4 * kCodeWordEntry, uint32_t(entry_ >= 0 ? entry_ : 4 * kHeaderWords));
  Put32(out, 4 * kCodeWordArch, kCodeArchTag);
  Put32(out, 4 * kCodeWordPatchList, withPatchList ? list : 0);
  Put32(out, 4 * kCodeWordTag, kCodeBlockTag);
  return out;
}

}  // namespace emit
