// The standard type descriptors: constant TDs in the program's data, in
// memory order, named by their number in StdTDTable.
#include "datatype.h"

namespace {

// Little-endian 16- and 32-bit fields.
#define W(v) uChar(uInt16(v) & 0xFF), uChar(uInt16(v) >> 8)
#define L(v) uChar(uInt32(v) & 0xFF), uChar((uInt32(v) >> 8) & 0xFF), uChar((uInt32(v) >> 16) & 0xFF), \
             uChar(uInt32(v) >> 24)
// Building blocks.
#define HDR(size, code) W(size), uChar(code), 0
#define NUM(code) HDR(4, code)
#define VAR_STRING(code) HDR(8, code), L(-1)
#define ARRAY1(total) HDR(total, kTDArray), W(1), L(-1)
#define ARRAY2(total) HDR(total, kTDArray), W(2), L(-1), L(-1)
#define CLUSTER(total, n) HDR(total, kTDCluster), W(n)
#define NAMED_I32 W(6), kTDI32, kTDFlagName, 0, 0  // empty name and its pad byte

alignas(4) const uChar kVoid[] = {NUM(kTDVoid)};
alignas(4) const uChar kI8[] = {NUM(kTDI8)};
alignas(4) const uChar kI16[] = {NUM(kTDI16)};
alignas(4) const uChar kI32[] = {NUM(kTDI32)};
alignas(4) const uChar kI64[] = {NUM(kTDI64)};
alignas(4) const uChar kU8[] = {NUM(kTDU8)};
alignas(4) const uChar kU16[] = {NUM(kTDU16)};
alignas(4) const uChar kU32[] = {NUM(kTDU32)};
alignas(4) const uChar kU64[] = {NUM(kTDU64)};
alignas(4) const uChar kSGL[] = {NUM(kTDSGL)};
alignas(4) const uChar kDBL[] = {NUM(kTDDBL)};
alignas(4) const uChar kEXT[] = {NUM(kTDEXT)};
alignas(4) const uChar kCSG[] = {NUM(kTDCSG)};
alignas(4) const uChar kCDB[] = {NUM(kTDCDB)};
alignas(4) const uChar kCXT[] = {NUM(kTDCXT)};
alignas(4) const uChar kString[] = {VAR_STRING(kTDString)};
alignas(4) const uChar kBoolean[] = {NUM(kTDBoolean)};
alignas(4) const uChar kHandle0[] = {HDR(6, kTDHandle), W(0)};
alignas(4) const uChar kEmptyCluster[] = {CLUSTER(6, 0)};
alignas(4) const uChar kArrayOfVoid[] = {ARRAY1(14), NUM(kTDVoid)};
alignas(4) const uChar kClusterOfVoid[] = {CLUSTER(10, 1), NUM(kTDVoid)};
alignas(4) const uChar kArrayOfBoolean[] = {ARRAY1(14), NUM(kTDBoolean)};
alignas(4) const uChar kArrayOfDBLPairs[] = {ARRAY1(24), CLUSTER(14, 2), NUM(kTDDBL), NUM(kTDDBL)};
alignas(4) const uChar kArray2OfVoid[] = {ARRAY2(18), NUM(kTDVoid)};
alignas(4) const uChar kNineNamedI32[] = {CLUSTER(60, 9), NAMED_I32, NAMED_I32, NAMED_I32, NAMED_I32,
                                          NAMED_I32, NAMED_I32, NAMED_I32, NAMED_I32, NAMED_I32};
alignas(4) const uChar kArrayOfString[] = {ARRAY1(18), VAR_STRING(kTDString)};
alignas(4) const uChar kArrayOfEXT[] = {ARRAY1(14), NUM(kTDEXT)};
alignas(4) const uChar kArray2OfDBL[] = {ARRAY2(18), NUM(kTDDBL)};
alignas(4) const uChar kArrayOfU8[] = {ARRAY1(14), NUM(kTDU8)};
alignas(4) const uChar kUnionOfU16Cluster[] = {HDR(16, kTDUnion), W(1), CLUSTER(10, 1), NUM(kTDU16)};
alignas(4) const uChar kListRecords[] = {CLUSTER(46, 3), NUM(kTDI32), NUM(kTDU32), ARRAY1(32),
                                         CLUSTER(22, 3), NUM(kTDU32), NUM(kTDU32), VAR_STRING(kTDString)};
alignas(4) const uChar kPath[] = {VAR_STRING(kTDPath)};
alignas(4) const uChar kArrayOfClusterOfVoid[] = {ARRAY1(20), CLUSTER(10, 1), NUM(kTDVoid)};
alignas(4) const uChar kString33[] = {VAR_STRING(kTDString33)};
alignas(4) const uChar kTwoEXTArrays[] = {CLUSTER(34, 2), ARRAY1(14), NUM(kTDEXT), ARRAY1(14), NUM(kTDEXT)};
alignas(4) const uChar kRefnum2[] = {HDR(6, kTDRefnum), W(2)};
alignas(4) const uChar kArray2OfU8[] = {ARRAY2(18), NUM(kTDU8)};
alignas(4) const uChar kRefnum3[] = {HDR(6, kTDRefnum), W(3)};
alignas(4) const uChar kI32sAndBlock[] = {CLUSTER(40, 5), NUM(kTDI32), NUM(kTDI32), NUM(kTDI32),
                                          ARRAY1(14), NUM(kTDI32), HDR(8, kTDBlock), L(32)};
alignas(4) const uChar kRefnum0[] = {HDR(6, kTDRefnum), W(0)};
alignas(4) const uChar kFunction[] = {HDR(8, kTDFunction), W(0), W(0)};
// The flags of a graph's panel record: four one-byte booleans.
alignas(4) const uChar kFourBooleans[] = {CLUSTER(22, 4), NUM(kTDBoolean), NUM(kTDBoolean), NUM(kTDBoolean),
                                          NUM(kTDBoolean)};

#undef W
#undef L
#undef HDR
#undef NUM
#undef VAR_STRING
#undef ARRAY1
#undef ARRAY2
#undef CLUSTER
#undef NAMED_I32

inline const TypeDescriptor* TD(const uChar* p) { return reinterpret_cast<const TypeDescriptor*>(p); }

}  // namespace

// Entries 42 to 132 are the records of the parts of the system that keep
// them; until those parts define them they are null.
const TypeDescriptor* const StdTDTable[kStdTDCount + 1] = {
    TD(kVoid),           TD(kI8),          TD(kI16),           TD(kI32),
    TD(kI64),            TD(kU8),          TD(kU16),           TD(kU32),
    TD(kU64),            TD(kSGL),         TD(kDBL),           TD(kEXT),
    TD(kCSG),            TD(kCDB),         TD(kCXT),           TD(kString),
    TD(kBoolean),        TD(kHandle0),     TD(kEmptyCluster),  TD(kArrayOfVoid),
    TD(kClusterOfVoid),  TD(kArrayOfBoolean), TD(kArrayOfDBLPairs), TD(kArray2OfVoid),
    TD(kNineNamedI32),   TD(kArrayOfString), TD(kArrayOfEXT),  TD(kArray2OfDBL),
    TD(kArrayOfU8),      TD(kUnionOfU16Cluster), TD(kListRecords), TD(kPath),
    TD(kArrayOfClusterOfVoid), TD(kString33), TD(kTwoEXTArrays), TD(kRefnum2),
    TD(kArray2OfU8),     TD(kRefnum3),     TD(kI32sAndBlock),  TD(kRefnum0),
    TD(kFunction),       TD(kFourBooleans),
};
