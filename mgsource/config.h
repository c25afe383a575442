// The configuration file: typed values under named keys.
#pragma once
#include "extcode.h"

// Value kinds of CfgGetDefault and CfgWrite.
enum : int32 {
  kCfgColor = 0, kCfgFourInts = 1, kCfgString = 2, kCfgBool = 3, kCfgInt = 4,
  kCfgPath = 5, kCfgPathList = 6, kCfgFont = 7, kCfgStringList = 8, kCfgNumber = 9
};

// Reads key (a Pascal string) as the given kind into *value.  The value is left
// untouched when the key is absent (20), so its initial value is the default.
QX_EXTERN_C MgErr CfgGetDefault(int32 kind, ConstPStr key, void* value);
