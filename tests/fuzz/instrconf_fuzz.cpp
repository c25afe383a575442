// The device-file reader of the GPIB driver library, compiled into the
// target.  Each line is parsed from an exact copy of its bytes, so a read
// past the line is seen by the sanitizer; every accepted item lies inside its
// ranges; reading the whole text calls back at most once per line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/instr/instrconf.h"

namespace {

#define CHECK(cond)                                                          \
  do {                                                                       \
    if (!(cond)) {                                                           \
      std::fprintf(stderr, "invariant broken: %s (%d)\n", #cond, __LINE__); \
      std::abort();                                                          \
    }                                                                        \
  } while (0)

void CheckItem(const qxinstr::Item& it) {
  CHECK(it.kind >= qxinstr::kItemBoard && it.kind <= qxinstr::kItemAnswer);
  CHECK(it.board <= qxinstr::kMaxBoard);
  CHECK(it.primary <= qxinstr::kMaxAddress);
  CHECK(it.secondary >= -1 && it.secondary <= int32_t(qxinstr::kMaxAddress));
  CHECK(it.controller == 0 || it.controller == 1);
  CHECK(it.async == 0 || it.async == 1);
  CHECK(it.listen == 0 || it.listen == 1);
  CHECK(it.eos >= qxinstr::kEosNone && it.eos <= qxinstr::kEosCRLF);
  CHECK(it.fail >= qxinstr::kFailNone && it.fail <= qxinstr::kFailTimeout);
  CHECK(it.delay <= qxinstr::kMaxDelay);
  CHECK(it.poll <= 255);
  CHECK(it.vxi.size() <= qxinstr::kMaxVxiBytes);
  CHECK(it.hasSrqAfter || it.srqAfter.empty());
}

struct Counts {
  size_t items = 0, bad = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  size_t lines = 0, pos = 0;
  while (pos < size) {
    ++lines;
    const void* nl = std::memchr(text + pos, '\n', size - pos);
    size_t end = nl ? size_t(static_cast<const char*>(nl) - text) : size;
    std::vector<char> exact(text + pos, text + end);  // the line's bytes alone
    qxinstr::Item item;
    std::string why;
    int32_t r = qxinstr::ParseLine(exact.data(), exact.size(), &item, &why);
    CHECK(r >= qxinstr::kLineBad && r <= qxinstr::kLineItem);
    CHECK((r == qxinstr::kLineBad) == !why.empty());
    if (r == qxinstr::kLineItem) CheckItem(item);
    if (exact.size() > qxinstr::kMaxLine) CHECK(r == qxinstr::kLineBad);
    pos = end + 1;
  }
  Counts counts;
  qxinstr::ReadText(
      text, size,
      [](void* ctx, const qxinstr::Item& item, std::string*) {
        CheckItem(item);
        ++static_cast<Counts*>(ctx)->items;
        return true;
      },
      [](void* ctx, uint32_t, const std::string&) { ++static_cast<Counts*>(ctx)->bad; }, &counts);
  CHECK(counts.items + counts.bad <= lines);
  return 0;
}
