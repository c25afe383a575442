// Marks around the work a benchmark measures, for counting its instructions
// where no profiler runs (an emulated machine): tools/insncount's plugin
// counts the guest instructions run between a begin and the next end.  Each
// mark is an out-of-line call that does nothing else.
#pragma once

extern "C" void QxInsnMarkBegin();
extern "C" void QxInsnMarkEnd();
