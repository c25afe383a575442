#include "mgsource/draw/printinfo.h"

#include "mgsource/fourcc.h"
#include "mgsource/memory.h"

UHandle LoadPrintInfo(RsrcFileRef file, int32 rsrcID, uInt32) {
  UHandle stored = nullptr;
  if (RGet(file, FourCC("PRT "), rsrcID, &stored) != kNoErr || !stored) return nullptr;
  const int32 size = AZGetHandleSize(stored);
  UHandle h = AZNewHClr(size < kPrintRecordSize ? kPrintRecordSize : size);
  if (h && size > 0) {
    const uChar* src = *stored;
    for (int32 i = 0; i < size; ++i) (*h)[i] = src[i];
  }
  RRelease(stored);
  return h;
}
