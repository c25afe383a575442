// The stored layout of resource files ("RSRC"), shared by the resource
// manager and the tools that write resource files for tests and builds.
//
// Everything stored is big-endian and four-character codes are stored as
// their characters in reading order.  Offsets in the header are relative to
// the first byte of the resource file, which need not be the host file's.
//
//   header (32 bytes) | data section | map          (as the manager writes it)
//
// The map: a copy of the header, a reserved word, two run-time words, the
// offsets of the type list and the name list, then the type list, the
// reference lists of the types in type order and the name list.
#pragma once
#include "byteorder.h"
#include "extcode.h"
#include "fourcc.h"

namespace rsrcfmt {

// Header.
constexpr uInt32 kSignature = FourCC("RSRC");
constexpr int32 kHeaderSize = 32;
constexpr int16 kVersion = 3;     // written
constexpr int16 kOldVersion = 2;  // still read, whatever bytes 4-5 hold
constexpr uChar kLineEnd0 = 0x0D, kLineEnd1 = 0x0A;
enum : int32 {
  kHdrSignature = 0,
  kHdrLineEnd = 4,
  kHdrVersion = 6,
  kHdrFileType = 8,
  kHdrCreator = 12,
  kHdrMapOffset = 16,
  kHdrMapSize = 20,
  kHdrDataOffset = 24,
  kHdrDataSize = 28,
};

// Map.  Offsets inside the map are relative to its first byte.
enum : int32 {
  kMapHeaderCopy = 0,
  kMapReserved = 32,
  kMapFileRef = 36,     // run-time: the open file's reference (stored as 0)
  kMapAttrs = 40,       // run-time attributes below
  kMapTypeList = 44,    // offset of the type list
  kMapNameList = 48,    // offset of the name list, 0 when there is none
  kMapFixedSize = 52,   // the words above; also the size of an empty map in memory
};
enum : uInt32 {
  kMapAttrReadOnly = 0x80,
  kMapAttrChanged = 0x20,
};
// A map whose size field is this or less is empty.
constexpr uInt32 kMapEmptyLimit = 32;

// Type list: a count of types minus 1, then one entry per type.
constexpr int32 kTypeCountSize = 4;
constexpr int32 kTypeEntrySize = 12;
enum : int32 {
  kTypeCode = 0,
  kTypeCountMinus1 = 4,
  kTypeRefListOffset = 8,  // from the start of the type list
};

// Reference entries, sorted by signed id within a type.
constexpr int32 kRefEntrySize = 20;
enum : int32 {
  kRefId = 0,
  kRefNameOffset = 4,  // from the start of the name list
  kRefAttrs = 8,
  kRefDataOffset = 12, // of the record's length word, from the start of the data section
  kRefHandle = 16,     // run-time: the loaded data (stored as 0)
};
constexpr uInt32 kNoName = 0xFFFFFFFFu;
// Attribute bits of a reference entry; the others are kept as set.
enum : uInt32 {
  kAttrChanged = 2,    // the data in memory is changed and not yet written
  kAttrProtected = 8,  // the resource may not be removed
};

// Data records: a 4-byte length, the bytes, zero padding to a multiple of 4.
constexpr int32 kRecordLengthSize = 4;
constexpr uInt64 PaddedSize(uInt64 n) { return (n + 3) & ~uInt64(3); }
constexpr uInt64 RecordSize(uInt64 n) { return kRecordLengthSize + PaddedSize(n); }

// List and string resources.
constexpr uInt32 kTypeStrList = FourCC("STR#");   // 2-byte count, Pascal strings
constexpr uInt32 kTypeLStrList = FourCC("LST#");  // 4-byte count, padded counted blocks
constexpr uInt32 kTypePathList = FourCC("PTH#");  // 4-byte count, padded flat paths
constexpr uInt32 kTypeString = FourCC("STR ");
constexpr uInt32 kFlatPathTag = FourCC("PTH0");
constexpr int32 kFlatPathHeaderSize = 8;  // the tag and the body length

// The application trailer at the end of the executable, little-endian; its
// last word is the offset of the appended resource file.
constexpr int32 kTrailerSize = 20;
enum : int32 {
  kTrailerTag = 0,      // the characters "APPB"
  kTrailerVersion = 4,  // 3
  kTrailerUnread = 8,
  kTrailerFlags = 12,   // bit 0: a built application
  kTrailerOffset = 16,
};
constexpr uInt32 kTrailerVersionValue = 3;

// The trailer's words are little-endian.
inline uInt32 GetLE32(const uChar* p) {
  return uInt32(p[0]) | (uInt32(p[1]) << 8) | (uInt32(p[2]) << 16) | (uInt32(p[3]) << 24);
}
inline void PutLE32(uChar* p, uInt32 v) {
  p[0] = uChar(v);
  p[1] = uChar(v >> 8);
  p[2] = uChar(v >> 16);
  p[3] = uChar(v >> 24);
}

}  // namespace rsrcfmt
