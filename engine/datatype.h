// Type descriptors: the byte strings that describe the in-memory layout of
// every datum the system handles, and the pure functions that walk them.
//
// A descriptor (TD) starts with a 4-byte header in the processor's order:
// an unsigned 16-bit size (type part and name included), the type code and a
// flags byte.  Compound types hold further TDs back to back; a TD holds no
// pointers and moves and compares as plain bytes.  The walkers trust their
// TD: descriptors that come from files or the wire pass TDCheckBounds first.
#pragma once
#include "mgsource/extcode.h"

// The TD header.  Packed: a TD may sit at any address inside its parent.
struct __attribute__((packed)) TypeDescriptor {
  uInt16 size;  // at least 4; 0xFFFF at top level: the holder's size is the size
  uChar code;   // a TDTypeCode
  uChar flags;  // kTDFlag*
};
static_assert(sizeof(TypeDescriptor) == 4 && offsetof(TypeDescriptor, code) == 2 &&
              offsetof(TypeDescriptor, flags) == 3, "type descriptor header");
typedef TypeDescriptor* TDPtr;
typedef const TypeDescriptor* ConstTDPtr;

typedef uChar TDTypeCode;
enum : TDTypeCode {
  kTDVoid = 0x00,
  kTDI8 = 0x01, kTDI16 = 0x02, kTDI32 = 0x03, kTDI64 = 0x04,
  kTDU8 = 0x05, kTDU16 = 0x06, kTDU32 = 0x07, kTDU64 = 0x08,
  kTDSGL = 0x09, kTDDBL = 0x0A, kTDEXT = 0x0B,
  kTDCSG = 0x0C, kTDCDB = 0x0D, kTDCXT = 0x0E,
  kTDEnumU8 = 0x15, kTDEnumU16 = 0x16, kTDEnumU32 = 0x17,
  kTDUnitSGL = 0x19, kTDUnitDBL = 0x1A, kTDUnitEXT = 0x1B,
  kTDUnitCSG = 0x1C, kTDUnitCDB = 0x1D, kTDUnitCXT = 0x1E,
  kTDBooleanOld = 0x20,  // 16-bit word, true when the top bit is set
  kTDBoolean = 0x21,     // one byte
  kTDString = 0x30,
  kTDHandle = 0x31,
  kTDPath = 0x32,
  kTDString33 = 0x33,    // string variant, compared like a path
  kTDOpaque34 = 0x34,    // 32-bit values never allocated or freed
  kTDOpaque35 = 0x35,
  kTDOpaque36 = 0x36,    // header-only, walked like 0x34 and 0x35
  kTDString37 = 0x37,    // string variant, compatible with 0x30
  kTDStringView = 0x3F,
  kTDArray = 0x40,
  kTDArrayView = 0x4F,
  kTDCluster = 0x50,
  kTDUnion = 0x52,
  kTDBlock = 0x60,
  kTDWrapper = 0x61,
  kTDTypeOnly = 0x62,
  kTDRefnum = 0x70,
  kTDInternal80 = 0x80,
  kTDInternal81 = 0x81,
  kTDTypedRef = 0x83,
  kTDVariant = 0x84,
  kTDFunction = 0xF0,
  kTDTypedef = 0xF1,
};

// Flags byte, and the same bits in the code-and-flags word (code low).
enum : uChar {
  kTDFlagNoShrink10 = 0x10,  // with 0x20: data never shrunk by memory reclaim
  kTDFlagNoShrink20 = 0x20,
  kTDFlagName = 0x40,        // a Pascal-string name follows the type part
};
enum : uInt16 { kTDWordName = 0x4000, kTDWordNoShrink = 0x3000 };

// The top-level size field of a TD of 65,535 bytes or more.
constexpr uInt16 kTDSizeInHolder = 0xFFFF;

// Bound fields of strings and paths and dimension fields of arrays:
// -1 variable, 0x80000000 | n fixed at n, n >= 0 bounded by n.
constexpr int32 kTDVariable = -1;
constexpr int32 TDFixed(int32 n) { return int32(0x80000000u | uInt32(n)); }
constexpr bool TDFieldIsFixed(int32 field) { return field < -1; }

// Refnum kinds (int16 after the header of code 0x70); 11 and above are invalid.
enum : int16 {
  kRefnumGeneric = 0,
  kRefnumDatalog = 1,     // the record TD follows
  kRefnumByteStream = 2,
  kRefnumNamed6 = 6,      // a padded Pascal string follows
  kRefnumAutomation = 7,  // the interface name follows, padded
  kRefnumObject = 8,      // an object-manager id follows
  kRefnumMenu = 9,
  kRefnumNamed10 = 10,    // a padded Pascal string follows
  kRefnumKindMax = 10,
};
enum : int16 { kVariantOle = 1 };  // the only variant kind

// Difference mask bits of the comparison.
enum : int32 {
  kTDDiffTypedef = 0x0001,     // typedef on one side, typedef differs, or signedness
  kTDDiffString37 = 0x0002,    // string against the 0x37 variant
  kTDDiffVariant = 0x0008,     // another variant of the same kind, or a non-fixed bound
  kTDDiffAutoRef = 0x0040,     // automation refnum parts differ
  kTDDiffRepr = 0x0010,        // numeric representation, enumeration prefix or presence
  kTDDiffEnumNames = 0x0080,
  kTDDiffCode = 0x0100,        // incompatible codes
  kTDDiffDims = 0x0200,        // array dimension counts
  kTDDiffFixedBound = 0x0400,  // fixed bounds differ
  kTDDiffUnits = 0x0800,
  kTDDiffCount = 0x1000,       // element counts
  kTDDiffConnectors = 0x2000,  // connector pane or connector flag words
  kTDDiffRefnum = 0x4000,      // refnum kinds or their parts
  kTDDiffName = 0x8000,
};
// Mode bits of TDCompareWalk.
enum : int32 {
  kTDCmpNames = 0x0001,        // names at this level
  kTDCmpNamesBelow = 0x0002,   // names below this level
  kTDCmpLoose = 0x0004,        // connector pane matching
  kTDCmpRefnumU32 = 0x0100,    // a refnum matches a U32
  kTDCmpTypedefCode = 0x0200,  // typedefs as ordinary codes
  kTDCmpBoolAsU8 = 0x1000,     // the boolean 0x21 counts as U8
};

// The type of panel objects and of VI types: a 1-based number of the owner's
// type list (0: no type).
typedef uInt32 TypeID;

// The standard TDs: 133 constant descriptors (0-132), then a null entry.
// Entries 1-14 are the numerics of codes 1-14; 41 is the cluster of four
// booleans of a graph's flags.  Entries 42-132 are null until the part of
// the system that keeps those records defines them.
constexpr int32 kStdTDCount = 133;
QX_EXTERN_C const TypeDescriptor* const StdTDTable[kStdTDCount + 1];
enum : int32 {
  kStdTDVoid = 0,
  kStdTDString = 15,
  kStdTDBoolean = 16,
  kStdTDHandle = 17,
  kStdTDEmptyCluster = 18,
  kStdTDPath = 31,
  kStdTDFunction = 40,
  kStdTDFourBooleans = 41,
};

// The global maximum alignment (1 at start-up: all data packed).  Below 2,
// AlignDatum returns its offset unchanged.  The setter returns the former value.
int16 SetMaxDataAlign(int16 align);
int16 MaxDataAlign();

// Walking.
QX_EXTERN_C TypeDescriptor* NextTD(const TypeDescriptor* td);
QX_EXTERN_C TypeDescriptor* SkipTypedefs(const TypeDescriptor* td);
// Element i (0..count; count gives the address after the last element) of a
// cluster, union or function; null, with an assertion, for anything else.
QX_EXTERN_C TypeDescriptor* ElemTD(const TypeDescriptor* td, int32 i);
// The offset in the handle of element i of the cluster TD at tdOffset; -1 for none.
QX_EXTERN_C int32 ClustElemTDOffset(UHandle h, int32 tdOffset, int32 i);

// Data of a TD.
QX_EXTERN_C int32 DataShape(const TypeDescriptor* td);  // 0 flat, 1 holds handles, 2 handle
QX_EXTERN_C int32 DataSize(const TypeDescriptor* td);
QX_EXTERN_C int32 AlignDatum(const TypeDescriptor* td, int32 offset);
QX_EXTERN_C Bool32 DataIsFixedSize(const TypeDescriptor* td);
QX_EXTERN_C int32 ArrayTDFixedElts(const TypeDescriptor* td);
QX_EXTERN_C int32 ArrayTDBoundElts(const TypeDescriptor* td);
QX_EXTERN_C Bool32 TDIsValid(const TypeDescriptor* td);

// The TD's name, or null when it has none.
QX_EXTERN_C PStr TDNamePtr(const TypeDescriptor* td);

// Comparison: 0 when equal, else a mask of kTDDiff* bits.
QX_EXTERN_C int32 TDCompare(const TypeDescriptor* a, const TypeDescriptor* b);       // mode 0
QX_EXTERN_C int32 TDCompareLoose(const TypeDescriptor* a, const TypeDescriptor* b);  // mode 4
QX_EXTERN_C int32 TDCompareWalk(const TypeDescriptor* a, const TypeDescriptor* b, int32 mode);

QX_EXTERN_C Bool32 TDHasBoolean(const TypeDescriptor* td);
QX_EXTERN_C Bool32 TDHasExtended(const TypeDescriptor* td);
QX_EXTERN_C Bool32 SetBooleanTDCode(TypeDescriptor* td, int32 code);
QX_EXTERN_C Bool32 NormalizeTDPadding(TypeDescriptor* td);
// Writes the data-only form of src (names dropped, enumerations and unit
// numerics made plain) to dst, which may be null (size only) or src itself;
// returns its size.
QX_EXTERN_C int32 StripTD(const TypeDescriptor* src, TypeDescriptor* dst);

QX_EXTERN_C Bool32 EnumItemsDiffer(const TypeDescriptor* a, const TypeDescriptor* b);
QX_EXTERN_C int32 EnumItemIndex(ConstPStr name, const TypeDescriptor* td);

// Old (4-byte) and current (8-byte, with the bound field) string TDs.
QX_EXTERN_C int32 CountStringTDs(const TypeDescriptor* td);
QX_EXTERN_C MgErr MutateStringTDsInTM(UHandle tdHandle);
// The handle holds an int32 word count, then the TD.  Direction 1: to the
// old form; 0: to the current form.
QX_EXTERN_C MgErr ConvertStringTDsInHandle(UHandle h, int32 direction);
// A TD in the word form of a flattened type: 0 no string or boolean TDs,
// 1 old form, 2 current form, 3 undecided, 4 malformed.
QX_EXTERN_C int32 ClassifyStringTDForm(const void* td, int32 length);
// A TD in file order, of at most length bytes: 1 an old-form string TD
// found, 0 current form, -1 undecidable.
QX_EXTERN_C int32 ClassifyFileStringTDs(const void* td, int32 length);

// The type ID of a data controller (word 3) and of a display object (word 9)
// of an object heap.
QX_EXTERN_C TypeID DCOTypeID(UHandle heap, int32 offset);
QX_EXTERN_C TypeID DDOTypeID(UHandle heap, int32 offset);

// The bounds check for TDs from files and the wire, in memory order: kNoErr
// when the TD at td, given the bytes available, is safe to walk; kArgErr
// otherwise.  A top-level size of 0xFFFF takes the bytes available as size.
MgErr TDCheckBounds(const void* td, int32 available);
// Nesting deeper than this is refused by the check (and by the classifiers).
constexpr int32 kTDMaxDepth = 256;
