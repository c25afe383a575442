// Object-manager ids of refnum TDs: their address and their comparison.
#include "omid.h"

#include <atomic>
#include <cstring>

#include "td_internal.h"

using namespace td;

namespace {

int32 CompareInterfaceNames(const uChar* a, const uChar* b) {
  // The name follows the class word as a Pascal string.
  return (a[2] == b[2] && std::memcmp(a + 3, b + 3, a[2]) == 0) ? 0 : 1;
}

std::atomic<OMIdAutoCmpProc> gAutoCmp{CompareInterfaceNames};

constexpr int32 kOMIdDiffers = 64;

}  // namespace

OMIdAutoCmpProc SetOMIdAutoCmpProc(OMIdAutoCmpProc proc) {
  return gAutoCmp.exchange(proc ? proc : CompareInterfaceNames);
}

uChar* TDGetOMId(const TypeDescriptor* refnumTD) {
  return const_cast<uChar*>(B(refnumTD) + 4);
}

int32 OMIdCmp(const uChar* a, const uChar* b) {
  int32 cls = I16(a);
  if (cls != I16(b)) return kTDDiffRefnum;
  switch (cls) {
    case kRefnumNamed6:
    case kRefnumNamed10: {
      int32 len = 2 + a[2] + 1;
      return (len == 2 + b[2] + 1 && std::memcmp(a, b, len) == 0) ? 0 : kOMIdDiffers;
    }
    case kRefnumAutomation:
      return gAutoCmp.load()(a, b) == 0 ? 0 : kOMIdDiffers;
    case kRefnumObject: {
      int32 sub = I16(a + 2);
      if (sub != I16(b + 2)) return kOMIdDiffers;
      if (sub == 1) return 0;
      if (sub == 2) {
        const uChar* ta = a + 4;
        const uChar* tb = b + 4;
        if (Code(ta) != Code(tb)) return kOMIdDiffers;
        return TDCompare(T(ta), T(tb)) == 0 ? 0 : kOMIdDiffers;
      }
      DBPrintf("OMIdCmp: unrecognized OMIdQXClass 0x%lx", sub);
      return kOMIdDiffers;
    }
    default:
      DBPrintf("OMIdCmp: unrecognized OMIdType 0x%lx", cls);
      return kOMIdDiffers;
  }
}
