// The load error of the VI being loaded: the code of a failed load, entry N
// of the run-time resource file's "_loadErrors" list.  The loader clears it
// when a load starts and restores the caller's value when it ends; the steps
// that read a VI's resources set it when they fail.
#pragma once
#include "mgsource/extcode.h"

// 0: no load error.
extern int32 gQXLoadErrorCode;

enum : int32 {
  kLoadErrFPLinkInfo = 2,     // "Could not load front panel link information."
  kLoadErrDSLinkInfo = 16,    // "Could not load data space link information."
  kLoadErrVILinkInfo = 17,    // "Could not load VI's link information."
  kLoadErrMissingSubr = 21,   // "An external subroutine required for execution could not be found."
  kLoadErrMemory = 23,        // "There is not enough memory to load this VI."
};
