// Item descriptions come from the dialog's 'DHLP' resource in the run-time
// resource file.  The input is the resource, read for a three-item dialog:
// no read past it (ASan), the answer is 0 or the argument error, a refused
// resource hands over no text, and every text handed over lies inside the
// resource, in item order from 1 to 3.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "shell/dlghelp.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant: %s\n", what);
    std::abort();
  }
}

struct Seen {
  const uChar* begin;
  const uChar* end;
  std::vector<int32> items;
};

MgErr Take(void* context, int32 item, const uChar* text, int32 length) {
  Seen* s = static_cast<Seen*>(context);
  Check(item >= 1 && item <= 3, "an item of the dialog");
  Check(s->items.empty() || s->items.back() < item, "items in order");
  Check(length > 0 && text >= s->begin && text + length <= s->end, "the text lies inside the resource");
  s->items.push_back(item);
  return kNoErr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers();
  if (!started || size > 1 << 16) return 0;
  // A copy of exactly the input's size, so that ASan sees any read past it.
  std::vector<uChar> bytes(data, data + size);
  Seen seen{bytes.data(), bytes.data() + bytes.size(), {}};
  const MgErr err = DlgReadHelpTexts(bytes.data(), int32(bytes.size()), 3, &Take, &seen);
  Check(err == kNoErr || err == kArgErr, "the answer is 0 or the argument error");
  Check(err == kNoErr || seen.items.empty(), "a refused resource hands over nothing");
  return 0;
}
