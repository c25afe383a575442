// Converts arbitrary calendar records to seconds: a time of day outside
// 0:00:00 to 23:59:59 gives 0, and a record that converts comes back from
// the seconds with its second of the minute.
#include <cstdint>
#include <cstring>

#include "mgsource/datetime.h"

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DateRec d;
  if (size < sizeof d) return 0;
  std::memcpy(&d, data, sizeof d);
  uInt32 secs = DateToSecs(&d);
  bool timeOk = d.hour >= 0 && d.hour <= 23 && d.minute >= 0 && d.minute <= 59 && d.second >= 0 && d.second <= 59;
  if (!timeOk) Check(secs == 0);
  if (secs != 0) {
    DateRec back;
    SecsToDate(secs, &back);
    Check(back.second == d.second);
    Check(DateToSecs(&back) % 60 == secs % 60);
  }
  return 0;
}
