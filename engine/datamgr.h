// Data of any type, laid out as its type descriptor says: the empty value,
// release and reset, deep copies, copies with conversion between types, and
// the kernels that edit n-dimensional arrays in place.
//
// A datum owns every handle stored in it: the LStr handles of strings (data
// zone), application-zone handles of code 0x31, Path handles and array
// handles with everything inside their elements.  A null handle is the empty
// value wherever a handle may stand, and every operation here accepts it.
// After a failure a datum is still one that DisposeData can free.
#pragma once
#include "engine/datatype.h"
#include "mgsource/path.h"

// The data of a string view (code 0x3F): the bytes are not owned.
struct StringViewData {
  uChar* ptr;
  int32 count;
  int32 one;  // always 1
};
static_assert(sizeof(StringViewData) == 12 && offsetof(StringViewData, count) == 4 &&
              offsetof(StringViewData, one) == 8, "string view layout");

// The data of an array view (code 0x4F): a pointer to the first element, then
// per dimension, outermost first, the size and the stride in bytes.
struct ArrayViewDim {
  int32 size;
  int32 stride;
};
struct ArrayViewData {
  uChar* ptr;
  ArrayViewDim dims[1];
};
static_assert(sizeof(ArrayViewDim) == 8 && offsetof(ArrayViewData, dims) == 4, "array view layout");

// Arrays: element bytes stay below this, element counts below 2^31.
constexpr int32 kMaxArrayBytes = 0x40000000;

// ---- The empty value --------------------------------------------------------
// Clears the DataSize bytes at data and makes the handles of the empty value.
// 2 when an allocation fails; what was made stays and can be disposed.
QX_EXTERN_C MgErr InitEmptyData(const TypeDescriptor* td, void* data);
// InitEmptyData on the TD at that offset of a TD handle.
QX_EXTERN_C MgErr InflateDefData_Old(UHandle tdHandle, int32 tdOffset, void* data);

// ---- Release over a data range ----------------------------------------------
// The range [start, end) is never touched at or past end; each element's
// range is cut there.  The result is the bytes released by strings and arrays.
QX_EXTERN_C int32 DisposeData(const TypeDescriptor* td, void* start, void* end);  // handles freed, nulled
QX_EXTERN_C int32 EmptyData(const TypeDescriptor* td, void* start, void* end);    // handles kept, emptied
QX_EXTERN_C int32 ReleaseDataWalk(const TypeDescriptor* td, void* start, void* end, Bool32 dispose);
// DisposeData and EmptyData on the TD at tdHandle's block plus offset.
QX_EXTERN_C int32 DeflateData_Old(UHandle tdHandle, int32 offset, void* start, void* end);
QX_EXTERN_C int32 DeflateSubData_Old(UHandle tdHandle, int32 offset, void* start, void* end);
// Gives back memory from data that stays in use; TDs with flag bits 0x10 or
// 0x20 are skipped whole.  Returns the bytes given back.
QX_EXTERN_C int32 ReclaimDataMemory(const TypeDescriptor* td, void* start, void* end);
// The datum holds its empty value again, keeping its handles where it can.
QX_EXTERN_C MgErr ResetData(const TypeDescriptor* td, void* data);

// ---- Copies -----------------------------------------------------------------
// Flag bit of CopyDataWalk: the destination holds the other boolean form
// (16-bit words of 0x20 for the one-byte 0x21, and the reverse).
enum : int32 { kCopyOtherBooleans = 1 };
QX_EXTERN_C MgErr CopyData(const TypeDescriptor* td, const void* src, void* dst);
QX_EXTERN_C MgErr CopyData2HO(UHandle tdHandle, int32 tdOffset, const void* src, void* dst, int32 flags);
QX_EXTERN_C MgErr CopyDataWalk(const TypeDescriptor* td, const void* src, void* dst, int32 flags);
QX_EXTERN_C MgErr CopyString(LStrHandle src, LStrHandle* dst);
// The destination must hold exactly 4 + the bound's low 31 bits (else 1).
QX_EXTERN_C MgErr CopyBndFixString(LStrHandle src, LStrHandle* dst, int32 bound);
QX_EXTERN_C MgErr CopyPath(Path src, Path* dst);
QX_EXTERN_C MgErr CopyHandle(UHandle src, UHandle* dst);  // application-zone handles
QX_EXTERN_C MgErr CopyArray(const TypeDescriptor* arrayTD, UHandle src, UHandle* dst);
QX_EXTERN_C MgErr CopyArrayWalk(const TypeDescriptor* arrayTD, UHandle src, UHandle* dst, int32 flags);
// A byte copy of a whole array handle of flat elements.
QX_EXTERN_C MgErr CopyFlatArray(int32 headerSize, UHandle src, UHandle* dst);
QX_EXTERN_C MgErr CopySString(const StringViewData* view, LStrHandle* dst);
// Between one byte per boolean (element code 0x21) and packed 16-bit words
// (0x20); arrayTD describes the source.
QX_EXTERN_C MgErr CopyBooleanArray(const TypeDescriptor* arrayTD, UHandle src, UHandle* dst);

// ---- Copies with conversion -------------------------------------------------
QX_EXTERN_C MgErr CopyConvertData(const TypeDescriptor* srcTD, const TypeDescriptor* dstTD, const void* src,
                                  void* dst);
QX_EXTERN_C MgErr CopyConvertArray(const TypeDescriptor* srcTD, const TypeDescriptor* dstTD, UHandle src,
                                   UHandle* dst);
// A view into a bounded or fixed string: the destination must hold exactly
// 4 + bound bytes (else 2).
MgErr CopyViewToBndString(const StringViewData* view, LStrHandle* dst, int32 bound);
// An array view into an array handle of the type arrayTD.
MgErr ViewToArray(const TypeDescriptor* viewTD, const TypeDescriptor* arrayTD, const ArrayViewData* view,
                  UHandle* dst);
// Walks every index of a destination of dstSizes (elements dense, row-major):
// indexes inside srcSizes are converted from the strided source (or byte
// copied when convert is 0), the others reset to the empty value.
MgErr CopyConvertSubArray(const TypeDescriptor* srcElem, const uChar* src, const int32* srcSizes,
                          const int32* srcStrides, const TypeDescriptor* dstElem, uChar* dst,
                          const int32* dstSizes, int32 rank, Bool32 convert);

// ---- N-dimensional array kernels --------------------------------------------
// Inserts (positive counts) or deletes (negative counts) at the positions in
// every dimension at once; the first non-zero count decides which.  The
// normalised positions and counts are written back.  New elements get the
// fill datum (null: the empty value).  2 when the new size is out of range or
// memory is short, 1 for a bad argument; on failure the array is unchanged.
QX_EXTERN_C MgErr ArrayInsertDeleteNDim(const TypeDescriptor* arrayTD, UHandle* array, int32* positions,
                                        int32* counts, const void* fill);
// Writes the source array into the destination at the start indexes; 1 and
// nothing written unless every dimension fits.  The destination never grows.
QX_EXTERN_C MgErr ArrayReplaceSubsetNDim(const TypeDescriptor* arrayTD, UHandle dst, const int32* start,
                                         UHandle src);
// Changes the rank of an array handle of these elements; new leading sizes
// are 1 (0 when the array is empty), dropped leading sizes drop elements.
QX_EXTERN_C MgErr AdjustArrayDims(const TypeDescriptor* elemTD, UHandle array, int32 oldRank, int32 newRank);
QX_EXTERN_C MgErr AdjustArrayDims_Old(UHandle tdHandle, int32 tdOffset, UHandle array, int32 oldRank,
                                      int32 newRank);

// ---- Variants ---------------------------------------------------------------
// The 16-byte variant records (code 0x84, kind 1) belong to the automation
// code, which installs these procedures at start-up.  Until then a variant is
// 16 plain bytes: empty when cleared, copied as they are.
struct VariantDataProcs {
  MgErr (*init)(void* v);                     // the empty value; bytes are cleared first
  void (*clear)(void* v);                     // frees what it holds; leaves the empty value
  MgErr (*copy)(const void* src, void* dst);  // 0; 2 out of memory; 1 other failures
};
constexpr int32 kVariantDataSize = 16;
// Null restores the plain-bytes procedures.
void SetVariantDataProcs(const VariantDataProcs* procs);
// The procedures installed, null while the plain-bytes ones serve.
const VariantDataProcs* VariantDataProcsInUse();
