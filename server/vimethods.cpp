// The local application's VI methods (table entry 6).  This run-time serves
// none of them yet: each answers 1043.
#include "server/appserve.h"

MgErr ThisApp_VIDoMethod(VIRefRecord*, int32, int32, AttrEntry*, int32, PStr, AsyncCompletion, AsyncRef*) {
  return kVIRefUnsupportedErr;
}
