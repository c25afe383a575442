// Reads arbitrary bytes as a flattened path (the current and the old form),
// into no handle, a new handle and a given handle, and as path text.  A
// path that is read must flatten again to bytes that read back the same; a
// failure must leave a given handle as it was.
#include <cstdint>
#include <cstring>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/path.h"

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<uChar> Flatten(Path p) {
  std::vector<uChar> v(size_t(FFlattenPath(p, nullptr)));
  Check(FFlattenPath(p, v.data()) == int32(v.size()));
  return v;
}

void Exercise(Path p) {
  LStr probe = {-1, {0}};
  Check(FPathToText(p, &probe) == kNoErr && probe.cnt >= 0);
  std::vector<uChar> buf(size_t(4 + probe.cnt));
  LStrPtr l = reinterpret_cast<LStrPtr>(buf.data());
  l->cnt = 0;
  Check(FPathToText(p, l) == kNoErr && l->cnt == probe.cnt);
  if (!FIsAPath(p)) return;
  FDepth(p);
  uChar name[256];
  if (FDepth(p) > 0) Check(FNamePtr(p, name) == kNoErr);
  Path copy = p;
  Check(FPathToPath(&copy) == kNoErr);
  Check(FPathCmp(p, copy) == 0);
  FCanonPath(copy);
  FDisposePath(copy);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = MemInit() == kNoErr;
  if (!started || size < 1) return 0;
  const uChar* body = data + 1;
  int32 n = int32(size - 1);
  // Reads from a copy that ends where the input ends.
  std::vector<uChar> bytes(body, body + n);
  const uChar* flat = bytes.data();

  if (data[0] & 1) {
    Path p = nullptr;
    if (FTextToPath(flat, n, &p) == kNoErr) {
      Check(FIsAPath(p));
      Exercise(p);
      FDisposePath(p);
    }
    return 0;
  }

  int32 used = FUnFlattenPathData(flat, nullptr, n);
  Check(used == n + 1 || (used >= 0 && used <= n));

  Path p = nullptr;
  int32 used2 = FUnFlattenPathData(flat, &p, n);
  Check(used2 == used);
  if (p) {
    Check(used2 <= n && FIsAPathOrNotAPath(p));
    Exercise(p);
    std::vector<uChar> again = Flatten(p);
    Path q = nullptr;
    Check(FUnFlattenPathData(again.data(), &q, int32(again.size())) == int32(again.size()));
    Check(FPathCmp(p, q) == 0 || !FIsAPath(p));
    FDisposePath(q);
    FDisposePath(p);
  }

  Path given = FMakePath(nullptr, kAbsPath, reinterpret_cast<ConstPStr>("\001C"), nullptr);
  if (!given) return 0;
  std::vector<uChar> before(*reinterpret_cast<UHandle>(given),
                            *reinterpret_cast<UHandle>(given) + FPathSize(given));
  Path g = given;
  int32 used3 = FUnFlattenPathData(flat, &g, n);
  Check(g == given);
  if (used3 > n) {
    Check(FPathSize(given) == int32(before.size()) &&
          std::memcmp(*reinterpret_cast<UHandle>(given), before.data(), before.size()) == 0);
  }
  FDisposePath(given);
  return 0;
}
