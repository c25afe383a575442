// GPIB address texts from diagrams.  Invariants: the error is 0 or 30; with
// error 0 the board is at most 999 and the address a valid word (0xFFFF, or
// a primary 0-30 with no secondary or 0x60-0x7E); an error leaves the
// address 0xFFFF; and bytes past the text's count change nothing (the same
// text with a tail of digits after its count parses the same).
#include <cstdint>
#include <cstring>

#include "gpib_fuzz_support.h"
#include "io/gpibsup.h"

namespace {

struct Parsed {
  uInt32 board, error;
  GPIBAddress address;
};

Parsed Parse(const uint8_t* data, size_t size, size_t tail) {
  Parsed p{77, 77, 77};
  LStrHandle s = FuzzTextHandle(data, size, tail, '7');
  if (!s) return p;
  ParseAddressString(s, &p.board, &p.address, &p.error);
  DSDisposeHandle(UHandle(s));
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  if (!started || size > 64) return 0;
  Parsed p = Parse(data, size, 0);
  FUZZ_CHECK(p.error == 0 || p.error == 30);
  if (p.error == 0) {
    FUZZ_CHECK(p.board <= 999);
    FuzzCheckGPIBAddress(p.address);
  } else {
    FUZZ_CHECK(p.address == 0xFFFF);
  }
  Parsed q = Parse(data, size, 8);
  FUZZ_CHECK(q.board == p.board && q.address == p.address && q.error == p.error);
  return 0;
}
