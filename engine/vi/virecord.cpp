// Byte order of the VI header and of the datalog binding record.
#include "engine/vi/virecord.h"

#include "mgsource/memory.h"
#include "mgsource/sorting.h"

namespace {

// The stored fields of the header, in the order the loader swaps them.
constexpr uInt16 kHeaderWords32a[] = {0, 400, 40, 44, 52, 56};
constexpr uInt16 kHeaderWords16[] = {84, 86, 88, 90};
constexpr uInt16 kHeaderWords32b[] = {96, 412, 404, 424};

// The words of a datalog binding record that the loader swaps (word 5 is not).
constexpr uInt16 kBindingWords[] = {0, 1, 2, 3, 4, 6};

}  // namespace

void SwapVIHeader(void* header) {
  uChar* h = static_cast<uChar*>(header);
  for (uInt16 off : kHeaderWords32a) RevBL(h + off);
  for (uInt16 off : kHeaderWords16) SwapBW(h + off);
  for (uInt16 off : kHeaderWords32b) RevBL(h + off);
}

MgErr VIHeaderFromStored(UHandle header) {
  if (!header) return kArgErr;
  MgErr err = AZSetHSzClr(header, kVIHeaderSize);
  if (err) return err;
  SwapVIHeader(*header);
  return kNoErr;
}

MgErr SwapDatalogBinding(void* rec, int32 size) {
  if (!rec || size < int32(sizeof(DatalogBindingRec))) return kArgErr;
  uChar* r = static_cast<uChar*>(rec);
  for (uInt16 w : kBindingWords) RevBL(r + 4 * w);
  return kNoErr;
}
