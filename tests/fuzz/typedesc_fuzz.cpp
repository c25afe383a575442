// Type descriptors from files: the bounds check, then every walker on what
// it accepts; the string-form classifiers on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "mgsource/debug.h"
#include "fuzz_support.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "typedesc_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  (void)started;
  if (size > 200000) return 0;
  int32 len = int32(size);
  // An exact-size copy, so that any read past the TD is seen.
  std::unique_ptr<uChar[]> buf(new uChar[size ? size : 1]);
  if (size) std::memcpy(buf.get(), data, size);
  tdwalk::Classify(buf.get(), len);
  if (TDCheckBounds(buf.get(), len) == kNoErr) tdwalk::Exercise(buf.get(), len);
  return 0;
}
