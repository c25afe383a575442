#include "datetime.h"

#include <atomic>

#include "platform/qx_time.h"

static std::atomic<Bool32> gHighRes{0};

void SetMilliSecsHighRes(Bool32 on) { gHighRes.store(on ? 1 : 0); }

// Both switch positions read the same monotonic millisecond clock here; the
// switch is kept because callers set and read it.
uInt32 MilliSecs() { return PlatTickMs(); }

int32 MillisecCmp(uInt32 a, uInt32 b) { return int32(a - b); }
