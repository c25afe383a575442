// Calls a run-time routine as compiled code calls it.
#pragma once
#include <vector>

#include "engine/exec/rttable.h"

namespace qxtest {

// Calls fn as compiled code does: the words pushed right to left, cdecl, from
// a stack pointer that is 4-byte aligned but not 16-byte aligned.  Gives EAX
// and the stack pointer just before and just after the call.
struct CallResult {
  uInt32 eax;
  uInt32 espBefore;
  uInt32 espAfter;
};
inline CallResult CallAsCompiledCode(QXRTRoutine fn, std::vector<uInt32> args) {
  uInt32 eax = reinterpret_cast<uInt32>(fn);
  uInt32 n = uInt32(args.size());
  const uInt32* words = args.data();
  uInt32 before, after;
  __asm__ __volatile__(
      "movl %%esp, %%esi\n\t"
      "leal 0(,%%ecx,4), %%edi\n\t"
      "subl %%edi, %%esp\n\t"
      "andl $-16, %%esp\n\t"
      "subl $4, %%esp\n\t"
      "addl %%edi, %%esp\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%%edx,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "movl %%esp, %%edi\n\t"
      "call *%%eax\n\t"
      "movl %%esp, %%ebx\n\t"
      "movl %%esi, %%esp\n\t"
      : "+a"(eax), "+c"(n), "+d"(words), "=D"(before), "=b"(after)
      :
      : "esi", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
  return {eax, before, after};
}

}  // namespace qxtest
