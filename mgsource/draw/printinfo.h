// The print record of a VI's file.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/rsrc.h"

constexpr int32 kPrintRecordSize = 128;

// The file's print record ("PRT " of the id) in a new handle of at least
// 128 bytes (a shorter, older record is extended with zero bytes); null when
// the file has none or memory is short.
QX_EXTERN_C UHandle LoadPrintInfo(RsrcFileRef file, int32 rsrcID, uInt32 version);
