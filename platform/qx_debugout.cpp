#include "qx_debugout.h"

#include <atomic>
#include <cstdio>

static std::atomic<PlatDebugSink> gSink{nullptr};

PlatDebugSink PlatSetDebugSink(PlatDebugSink sink) { return gSink.exchange(sink); }

void PlatDebugOutput(const char* text) {
  if (!text) return;
  if (PlatDebugSink sink = gSink.load()) {
    sink(text);
    return;
  }
  std::fputs(text, stderr);
  std::fflush(stderr);
}
