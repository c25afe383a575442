// A VI's datalog file, as far as the run commands need it: one record of the
// panel's data appended at each logging, the file closed when a top-level
// run ends, and the record count refreshed after a VI loads.
//
// The file named by the VI's datalog binding holds its records one after
// another, each a 4-byte big-endian length followed by the binding's record
// buffer flattened with the binding's record type.  A file opened here stays
// open until CloseLogFile; word 4 of the binding holds the record count.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// The error of a log file whose data do not match the panel: its records do
// not end where the file does.
constexpr MgErr kDatalogIncompatibleErr = 71;

// Writes one record of the VI's panel data to its log file, opening (and
// when missing creating) the file first.  0; 1 for a VI without a datalog
// binding, a record type without data or a buffer shorter than its data; 7
// without a log path; 71 when the file's records do not match; a file or
// memory error.  The alert flag is the caller's: the run commands show
// their own alerts.
QX_EXTERN_C MgErr WriteDatalogRecord(UHandle vi, int32 alert);
// Opens the VI's log file as WriteDatalogRecord would and writes nothing:
// the check at the start of a top-level run that the file can be opened.
MgErr DatalogOpenOnly(UHandle vi);
// Closes the VI's open log file; nothing when it is not open.
QX_EXTERN_C void CloseLogFile(UHandle vi);
// Whether the VI's log file is open.
Bool32 LogFileOpen(UHandle vi);
// The VI's log path, or null when it has no path (the not-a-path value).
Path DatalogPath(UHandle vi);
// Refreshes the record count of the VI's binding: opens the log file when it
// is not open, counts its records and closes it again when it opened it.  A
// file that cannot be opened or read, or whose records do not match, counts
// 0.
QX_EXTERN_C void UpdateLogRecordCount(UHandle vi);
// The record count that the VI's binding holds.
int32 DatalogRecordCount(UHandle vi);

// The VI's log path becomes the not-a-path value, the change is reported
// (VIDocMod with 0x10001000) and the binding refreshed.  A file still open
// under the old path is closed first.
QX_EXTERN_C void ClearLogPath(UHandle vi);
constexpr uInt32 kDocModLogPath = 0x10001000;

// Counts the records of a log file's bytes: 0, or 71 when a length runs
// past the end (count then holds the whole records before it).
MgErr DatalogCountRecords(const uChar* bytes, int32 size, int32* count);

// Fills the run commands' datalog hooks; called at start-up.
void RTLibInstallDatalogHooks();
