// Time: the millisecond tick and, later, seconds since 1904 and calendar fields.
#pragma once
#include "extcode.h"

// The millisecond tick count.
QX_EXTERN_C uInt32 MilliSecs();
// a - b as a signed 32-bit number: positive when a is later, right across the wrap.
QX_EXTERN_C int32 MillisecCmp(uInt32 a, uInt32 b);
// The high-resolution switch read by MilliSecs (off by default).
void SetMilliSecsHighRes(Bool32 on);
