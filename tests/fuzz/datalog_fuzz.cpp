// A datalog file's bytes: counting its records never reads past the end,
// and a whole record added at either end counts one more without changing
// whether the file is refused.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "rtlib/datalog.h"

namespace {

int32 Count(const std::vector<uint8_t>& bytes, MgErr* err) {
  int32 n = -1;
  *err = DatalogCountRecords(bytes.data(), int32(bytes.size()), &n);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  // The first byte sizes a record that the checks add; the rest is the file.
  const size_t extra = size ? data[0] % 17 : 0;
  std::vector<uint8_t> file(data + (size ? 1 : 0), data + size);
  MgErr err;
  const int32 n = Count(file, &err);
  FUZZ_CHECK(err == kNoErr || err == kDatalogIncompatibleErr);
  FUZZ_CHECK(n >= 0 && int64_t(n) * 4 <= int64_t(file.size()));
  FUZZ_CHECK(!file.empty() || (err == kNoErr && n == 0));

  std::vector<uint8_t> record(4 + extra, 0xA5);
  PutBE32(record.data(), uInt32(extra));
  std::vector<uint8_t> before(record);
  before.insert(before.end(), file.begin(), file.end());
  MgErr errBefore;
  FUZZ_CHECK(Count(before, &errBefore) == n + 1);
  FUZZ_CHECK(errBefore == err);
  if (err == kNoErr) {
    std::vector<uint8_t> after(file);
    after.insert(after.end(), record.begin(), record.end());
    MgErr errAfter;
    FUZZ_CHECK(Count(after, &errAfter) == n + 1);
    FUZZ_CHECK(errAfter == kNoErr);
  }
  return 0;
}
