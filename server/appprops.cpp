// The local application's properties and methods (table entries 5 and 9).
// This run-time serves none of them yet: each answers 1043.
#include "server/appserve.h"

MgErr ThisApp_AppAttrVector(AppRecord*, AppRef, int32, AttrEntry*, int32, MgErr*, int32*, PStr, AsyncCompletion,
                            AsyncRef*) {
  return kVIRefUnsupportedErr;
}

MgErr ThisApp_AppDoMethod(AppRecord*, AppRef, int32, int32, AttrEntry*, int32, PStr, AsyncCompletion, AsyncRef*) {
  return kVIRefUnsupportedErr;
}
