// The load error of the VI being loaded: the code of a failed load, entry N
// of the run-time resource file's "_loadErrors" list.  The loader clears it
// when a load starts and restores the caller's value when it ends; the steps
// that read a VI's resources set it when they fail.
#pragma once
#include "mgsource/extcode.h"

// The code of a failed load: entry N of "_loadErrors"; 0 for none.
typedef int32 LoadErrorCode;

extern LoadErrorCode gQXLoadErrorCode;

enum : LoadErrorCode {
  kLoadErrFPLinkInfo = 2,     // "Could not load front panel link information."
  kLoadErrFrontPanel = 3,     // "Could not load front panel."
  kLoadErrVIRsrc = 8,         // "Could not load VI resource."
  kLoadErrTooNew = 9,         // "Version of VI is newer than Quenlix version."
  kLoadErrTooOld = 10,        // "Version of VI is too old to convert to current Quenlix version."
  kLoadErrConnTypeMap = 12,   // "Could not load connector type map."
  kLoadErrIcon = 13,          // "Could not load icon."
  kLoadErrDSTypeMap = 14,     // "Could not load data space type map."
  kLoadErrDefaultData = 15,   // "Could not load default data."
  kLoadErrDSLinkInfo = 16,    // "Could not load data space link information."
  kLoadErrVILinkInfo = 17,    // "Could not load VI's link information."
  kLoadErrMissingSubr = 21,   // "An external subroutine required for execution could not be found."
  kLoadErrProcessor = 22,     // (no text) code for another processor
  kLoadErrMemory = 23,        // "There is not enough memory to load this VI."
  kLoadErrBadClass = 26,      // "This VI cannot be loaded because it contains objects not recognized by Quenlix."
  kLoadErrModDate = 28,       // "Could not get VI file modification date."
  kLoadErrRegister = 29,      // "Could not register VI with data type manager."
  kLoadErrRTMenuPath = 31,    // "Could not load run-time menu path."
};
