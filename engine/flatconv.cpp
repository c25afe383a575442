// Whole descriptors between memory order and the word form of a flattened
// type, and flattened type-and-data pairs between the current format and the
// previous one (one-byte booleans and string TDs with a bound field, against
// 16-bit booleans and string TDs without it).
#include "engine/stdize.h"
#include "flat_internal.h"

using namespace flat;

namespace {

void SwapWords(uChar* p, uInt32 words) {
  for (uInt32 i = 0; i < words; ++i) PutNative16(p + 2 * i, __builtin_bswap16(GetNative16(p + 2 * i)));
}

}  // namespace

MgErr TDByteSwapBounded(void* td, int32 direction, int32 oldStrings, int32 available) {
  if (!td || available < 4 || (direction != kToMemoryOrder && direction != kToFileOrder)) return kArgErr;
  uChar* p = static_cast<uChar*>(td);
  // Memory order and the word form both hold the size as a host-order word.
  uInt32 size = GetNative16(p);
  if (size == kTDSizeInHolder) size = uInt32(available);
  if (size < 4 || size > uInt32(available)) return kArgErr;
  if (direction == kToFileOrder) {
    if (MgErr err = StandardizeTDBounded(p, kToFileOrder, oldStrings, int32(size))) return err;
    SwapWords(p, size / 2);
    return kNoErr;
  }
  SwapWords(p, size / 2);
  return StandardizeTDBounded(p, kToMemoryOrder, oldStrings, int32(size));
}

void TDByteSwap(TypeDescriptor* td, int32 direction, int32 oldStrings) {
  if (!td) return;
  uInt32 size = GetNative16(td);
  if (size == kTDSizeInHolder) {
    DATA_ASSERT("a TD of 65,535 bytes or more needs its holder's size");
    return;
  }
  if (TDByteSwapBounded(td, direction, oldStrings, int32(size)) != kNoErr) DATA_ASSERT("TD byte swap failed");
}

namespace {

int32 HandleBytes(UHandle h) { return MemIsDSHandle(h) ? DSGetHandleSize(h) : AZGetHandleSize(h); }

MgErr SetHandleBytes(UHandle h, int32 size) {
  return MemIsDSHandle(h) ? DSSetHandleSize(h, size) : AZSetHandleSize(h, size);
}

// The bytes of the words of a flattened type: false when its count does not
// fit its handle.
bool TypeBytes(UHandle h, int32* bytes) {
  if (!h || !*h) return false;
  int32 size = HandleBytes(h);
  if (size < 4) return false;
  int32 words = LoadI32(*h);
  if (words < 0 || words > (size - 4) / 2) return false;
  *bytes = 2 * words;
  return true;
}

// The count of a string: false when it does not fit its handle.
bool DataCount(LStrHandle s, int32* count) {
  if (!s || !*s) return false;
  int32 size = HandleBytes(reinterpret_cast<UHandle>(s));
  if (size < 4) return false;
  int32 c = (*s)->cnt;
  if (c < 0 || c > size - 4) return false;
  *count = c;
  return true;
}

MgErr CopyBytes(UHandle src, int32 bytes, UHandle dst) {
  if (MgErr err = SetHandleBytes(dst, bytes)) return err;
  std::memcpy(*dst, *src, size_t(bytes));
  return kNoErr;
}

// The conversion of a type array in the handle work and of its data.
class Conversion {
 public:
  Conversion(UHandle work, bool toPrevious) : work_(work), toPrevious_(toPrevious) {}
  MgErr Type(int32 bytes);
  MgErr Data(LStrHandle src, int32 count, LStrHandle dst);
  MgErr Finish();

 private:
  TypeDescriptor* td() const { return reinterpret_cast<TypeDescriptor*>(*work_ + 4); }
  int32 Bytes() const { return 2 * LoadI32(*work_); }

  UHandle work_;
  bool toPrevious_;
};

MgErr Conversion::Type(int32 bytes) {
  // From the word form into memory order, with the source's string form.
  if (TDByteSwapBounded(td(), kToMemoryOrder, toPrevious_ ? 0 : 1, bytes) != kNoErr) return kArgErr;
  if (!toPrevious_) {
    if (MgErr err = ConvertStringTDsInHandle(work_, 0)) return err == kMemFullErr ? err : kArgErr;
  }
  if (TDCheckBounds(td(), Bytes()) != kNoErr) return kArgErr;
  if (!toPrevious_) SetBooleanTDCode(td(), kTDBoolean);
  return kNoErr;
}

MgErr Conversion::Data(LStrHandle src, int32 count, LStrHandle dst) {
  int32 readFlags = toPrevious_ ? 0 : kFlatOldBooleans;
  // The datum's empty value and the fewest bytes its data take must fit what
  // the data could fill, before anything is allocated for it.
  if (Footprint(B(td()), readFlags) > int64_t(count) + kFlatStreamCheckBytes) return kArgErr;
  if (LeastSize(B(td()), readFlags) > count) return kArgErr;
  const TypeDescriptor* t = td();
  int32 size = DataSize(t);
  uChar* datum = DSNewPClr(size > 0 ? size : 1);
  if (!datum) return kMemFullErr;
  MgErr err = InitEmptyData(t, datum);
  if (!err && UnFlattenFromString(src, t, datum, readFlags)) err = kArgErr;
  if (!err) err = FlattenToLStr(dst, t, datum, toPrevious_ ? kFlatOldBooleans : 0);
  DisposeData(t, datum, datum + size);
  DSDisposePtr(datum);
  return err;
}

MgErr Conversion::Finish() {
  if (toPrevious_) {
    SetBooleanTDCode(td(), kTDBooleanOld);
    if (MgErr err = ConvertStringTDsInHandle(work_, 1)) return err == kMemFullErr ? err : kArgErr;
  }
  // Back to the word form, with the new string form.
  if (TDByteSwapBounded(td(), kToFileOrder, toPrevious_ ? 1 : 0, Bytes()) != kNoErr) return kArgErr;
  return kNoErr;
}

}  // namespace

MgErr ConvertFlatDataVersion(UHandle srcType, UHandle dstType, LStrHandle srcData, LStrHandle dstData,
                             int32 toPrevious) {
  if (!dstType && !dstData) return kNoErr;
  if (dstType && !srcType) return kArgErr;
  int32 typeBytes = 0;
  if (srcType && !TypeBytes(srcType, &typeBytes)) return kArgErr;
  int32 dataCount = 0;
  if (srcData && !DataCount(srcData, &dataCount)) return kArgErr;
  if (dstData && (!srcType || !srcData || (dataCount > 0 && typeBytes == 0))) return kArgErr;
  if (!srcType) return kArgErr;

  int32 form = ClassifyStringTDForm(*srcType + 4, typeBytes);
  enum { kNone = 0, kOld = 1, kCurrent = 2, kMalformed = 4 };
  if (form == kMalformed) return kArgErr;
  bool convert = form != kNone;
  if (convert && form == (toPrevious ? kOld : kCurrent)) return kArgErr;
  if (typeBytes < 4) return kArgErr;

  if (!convert) {
    if (dstType)
      if (MgErr err = CopyBytes(srcType, 4 + typeBytes, dstType)) return err;
    if (dstData)
      if (MgErr err = CopyBytes(reinterpret_cast<UHandle>(srcData), 4 + dataCount,
                                reinterpret_cast<UHandle>(dstData)))
        return err;
    return kNoErr;
  }

  UHandle work = DSNewHandle(4 + typeBytes);
  if (!work) return kMemFullErr;
  std::memcpy(*work, *srcType, size_t(4 + typeBytes));
  Conversion conv(work, toPrevious != 0);
  MgErr err = conv.Type(typeBytes);
  if (!err && dstData) err = conv.Data(srcData, dataCount, dstData);
  if (!err) err = conv.Finish();
  if (!err && dstType) err = CopyBytes(work, 4 + 2 * LoadI32(*work), dstType);
  DSDisposeHandle(work);
  return err;
}
