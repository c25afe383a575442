// Test tooling: pieces of emitted code that follow the engine's conventions
// for compiled code (engine/exec/codeentry.h), shared by tests and
// benchmarks.
#pragma once
#include <cstddef>

#include "engine/exec/codeentry.h"
#include "tools/i386emit.h"

namespace qxemit {

// Emits the end of a subVI: VIExit on the data space's entrance, then the
// caller's resume address when the caller goes on here, else 0.
inline void EmitSubVIExit(emit::Code& c) {
  auto done = c.NewLabel();
  c.MovRegReg(emit::ECX, emit::EBP);
  c.AddRegImm(emit::ECX, offsetof(DataSpaceHeader, entrance));
  c.PushReg(emit::ECX);
  c.CallRT(771);  // VIExit
  c.AddRegImm(emit::ESP, 4);
  c.CmpRegImm(emit::EAX, 1);
  c.Jcc(emit::kBE, done);
  c.MovRegMem(emit::EAX, emit::EAX, offsetof(QueueElement, code));
  c.Ret();
  c.Bind(done);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
}

}  // namespace qxemit
