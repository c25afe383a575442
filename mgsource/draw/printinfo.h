// The print record of a VI: its print options and margins, stored with the
// VI as a "PRT " resource and completed at print time with the geometry of
// the current printer.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"
#include "mgsource/rsrc.h"

constexpr int32 kPrintRecordSize = 128;

// In memory, host byte order.  The stored form is the same layout with the
// words marked "stored big-endian" in that order; the other fields are
// recomputed by PValidate for the current printer.
struct PrintRecord {
  uInt32 reserved0;      // 0: set to 0 by PValidate
  uInt32 printAll;       // 4: 1 all pages, 0 the range below
  int32 firstPage;       // 8: 1-based
  int32 lastPage;        // 12
  Rect devPage;          // 16: 0, 0, vertical and horizontal resolution (device pixels)
  Rect pagePoints;       // 24: the page in points
  float32 scale;         // 32: printer pixels per point
  uInt32 options;        // 36: stored big-endian; option bits below
  uInt32 version;        // 40: stored big-endian; 2
  uInt32 orientation;    // 44: stored big-endian; 0 portrait, 1 landscape
  uInt32 marginUnit;     // 48: stored big-endian; low four bits: 0 none, 1 inches, 2 millimetres
  uInt32 reserved52;     // 52: stored big-endian
  uInt32 reserved56;     // 56: stored big-endian
  float32 margins[4];    // 60: stored big-endian; top, left, bottom, right in the margin unit
  float32 inchMargins[4];  // 76: the margins in inches
  float32 border[4];     // 92: the printer's unprintable border in inches
  Rect printable;        // 108: device pixels while validating, points afterwards
  uInt32 reserved116;    // 116: stored big-endian
  uInt32 reserved120;    // 120: stored big-endian
  uInt32 reserved124;    // 124: cleared when an older version is converted
};
static_assert(sizeof(PrintRecord) == kPrintRecordSize, "print record size");
static_assert(offsetof(PrintRecord, printAll) == 4 && offsetof(PrintRecord, firstPage) == 8 &&
                  offsetof(PrintRecord, lastPage) == 12 && offsetof(PrintRecord, devPage) == 16 &&
                  offsetof(PrintRecord, pagePoints) == 24 && offsetof(PrintRecord, scale) == 32 &&
                  offsetof(PrintRecord, options) == 36 && offsetof(PrintRecord, version) == 40 &&
                  offsetof(PrintRecord, orientation) == 44 && offsetof(PrintRecord, marginUnit) == 48 &&
                  offsetof(PrintRecord, reserved52) == 52 && offsetof(PrintRecord, reserved56) == 56 &&
                  offsetof(PrintRecord, margins) == 60 && offsetof(PrintRecord, inchMargins) == 76 &&
                  offsetof(PrintRecord, border) == 92 && offsetof(PrintRecord, printable) == 108 &&
                  offsetof(PrintRecord, reserved116) == 116 && offsetof(PrintRecord, reserved120) == 120 &&
                  offsetof(PrintRecord, reserved124) == 124,
              "print record offsets");

enum : uInt32 {
  kPrintRecordVersion = 2,
  // A VI file older than this has a shorter record.
  kPrintRecordFullFileVersion = 0x4502031,
};
// Option bits.
enum : uInt32 {
  kPrintPanel = 0x8,
  kPrintCleared = 0x400,       // cleared whenever a VI's record is made current
  kPrintScaleToFit = 0x20000,
  kPrintKeep18 = 0x40000,
  kPrintKeep19 = 0x80000,
  kPrintNewPage = 0x100000,
  kPrintHeader = 0x200000,
  kPrintFrame = 0x400000,
  kPrintDefaultOptions = 0x6E0DCF,
  kPrintPrintableMask = 0x1C429,  // a record with none of these prints nothing
};
enum : uInt32 { kMarginNone = 0, kMarginInches = 1, kMarginMillimetres = 2 };

// The file's print record ("PRT " of the id), converted to host order and
// version 2, in a new handle of at least 128 bytes (a shorter one is grown
// with zero bytes before any field is read); null when the file has none or
// memory is short ("LoadPrintInfo: Failed expanding print record.").
QX_EXTERN_C UHandle LoadPrintInfo(RsrcFileRef file, int32 rsrcID, uInt32 version);
// The same conversion of stored bytes (the resource's), for callers that
// hold them; null when memory is short.
UHandle PrintRecordFromStored(const uInt8* bytes, int32 size, uInt32 fileVersion);
// A new record for the current printer; PValidate'd.
QX_EXTERN_C UHandle PDefault();
// Completes the record for the current printer: 1, or 0 when the job has an
// error, the record is missing (error 30) or no printer context is open.
QX_EXTERN_C int32 PValidate(UHandle record);
// Copies the orientation from the current device mode into the record
// (toRecord), or the other way, making the printer context again when it
// changed.  Nothing unless both device blocks exist.
QX_EXTERN_C void PSyncOrientation(UHandle record, Bool32 toRecord);
// PDefault with the default option word.
QX_EXTERN_C UHandle PVIDefaultRecord();
// Makes the VI's record current (made when it has none, else validated).
QX_EXTERN_C void PSetupVIPrint(UHandle vi);

// The VI's print record slot, which the engine answers (a VI is a handle
// the managers do not look into); null: the VI has no slot.
typedef UHandle* (*PVIPrintRecordProc)(UHandle vi);
void PSetVIPrintRecordProc(PVIPrintRecordProc proc);
PVIPrintRecordProc PVIPrintRecordProcInUse();

// The print state of a VI being printed.
struct PrintVIState {
  UHandle record;    // the current print record
  UHandle vi;        // the VI being printed
  Bool32 printing;   // printing in progress
};
extern PrintVIState gPrintVI;
