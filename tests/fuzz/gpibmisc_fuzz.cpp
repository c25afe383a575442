// The GPIB misc node's command texts from diagrams.  Invariants: the error
// is 0 or 38; the command bytes of "cmd" lie inside the text and end with
// it; with error 0 the command is below 16, the board at most 999 and the
// address a valid word; and bytes past the text's count change nothing.
// The handle holds exactly the text, so a read past it is caught.
#include <cstdint>
#include <cstring>

#include "gpib_fuzz_support.h"
#include "io/gpib.h"
#include "io/gpibsup.h"

namespace {

struct Parsed {
  uInt32 board = 77, count = 77, error = 77;
  int32 command = 77;
  uInt16 address = 77;
  int16 value = 77;
  intptr_t offset = -1;  // of the command bytes in the text; -1 none
};

Parsed Parse(const uint8_t* data, size_t size, size_t tail) {
  Parsed p;
  LStrHandle s = FuzzTextHandle(data, size, tail, '5');
  if (!s) return p;
  const uChar* bytes = nullptr;
  ParseMiscString(s, &p.board, &p.command, &p.address, &p.value, &bytes, &p.count, &p.error);
  if (bytes) {
    p.offset = bytes - (*s)->str;
    FUZZ_CHECK(p.offset >= 0 && size_t(p.offset) <= size && size_t(p.offset) + p.count == size);
  } else {
    FUZZ_CHECK(p.count == 0);
  }
  DSDisposeHandle(UHandle(s));
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  if (!started || size > 256) return 0;
  Parsed p = Parse(data, size, 0);
  FUZZ_CHECK(p.error == 0 || p.error == 38);
  FUZZ_CHECK(p.command >= 0 && p.command <= kMiscNoCommand);
  if (p.error == 0) {
    FUZZ_CHECK(p.command < kGPIBMiscCommands);
    FUZZ_CHECK(p.board <= 999);
    FuzzCheckGPIBAddress(p.address);
  } else {
    FUZZ_CHECK(p.address == 0xFFFF);
  }
  Parsed q = Parse(data, size, 8);
  FUZZ_CHECK(q.board == p.board && q.command == p.command && q.address == p.address && q.value == p.value &&
             q.error == p.error && q.count == p.count && q.offset == p.offset);
  return 0;
}
