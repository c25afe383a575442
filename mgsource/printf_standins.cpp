// Weak stand-ins for FPathToText and FMWrite: no path or file exists before
// the path and file managers, so a path has no text and nothing is written.
// The managers' own definitions replace these; delete this file with them.
#include "printf_standins.h"

__attribute__((weak)) MgErr FPathToText(Path, LStrPtr buffer) {
  if (buffer) buffer->cnt = 0;
  return kArgErr;
}

__attribute__((weak)) MgErr FMWrite(FileRef, int32, int32* actual, const void*) {
  if (actual) *actual = 0;
  return kArgErr;
}
