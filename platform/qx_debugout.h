// The host debugger's output: lines go to stderr.
#pragma once
#include <cstddef>

void PlatDebugOutput(const char* text);
// A test hook that receives each piece of debug output in place of stderr.
typedef void (*PlatDebugSink)(const char* text);
PlatDebugSink PlatSetDebugSink(PlatDebugSink sink);
