// Import of a VI's user-visible strings from a VI string file: the VI's
// section is found by name, its title, help path, help tag, run-time menu
// and description are read here, the panel's objects by their classes'
// selection methods (code 53); differing strings are replaced, the first
// error stops the import, warnings are counted, and each import can be
// logged to a file.  The readers are in rtlib/vistrread.h.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"
#include "rtlib/vistrread.h"

// The string list of the import's messages in the run-time resource file.
constexpr int32 kVIStringMessagesListId = 19001;
// Its entries: log headers (stopped on an error, with warnings, done), the
// error messages with and without an object, the warning texts of codes 10
// and 5, the alerts for the string file and the log file; the error texts
// are entry 16 + code (1 to 9) and 14 + code (12 to 19).
enum : int32 {
  kVSMsgHeaderError = 1, kVSMsgHeaderWarnings = 2, kVSMsgErrorInObject = 3, kVSMsgError = 4,
  kVSMsgVersionWarning = 5, kVSMsgAttrWarning = 7, kVSMsgHeaderDone = 8, kVSMsgFileAlert = 15,
  kVSMsgLogAlert = 16,
};
// The entry of an error code's text; 0 for codes without one (10, 11).
int32 VSErrorTextEntry(int32 code);

// The VI record bit set while an import runs.
constexpr uInt32 kVIFlagImporting = 0x2000000;
// The modification report of every change an import makes.
constexpr uInt32 kVIStringsDocMod = 0x10040000;

// Imports the strings of the VI's section of the string file.  0 when the
// import ran (with or without warnings, or when the VI is not of kind 2, 4
// or 6 or is running); 2 when an object method ran out of memory; 42 when
// it stopped on an error; the file manager's error when the string file
// could not be read or the log file not opened or created.  The log (when
// logFile is a non-empty path other than the string file) gets one entry.
QX_EXTERN_C MgErr ImportVIStrings(UHandle vi, Path stringFile, uInt8 showAlerts, Path logFile);

// Finds the section whose VI tag names the VI (in any case): the position
// is left at the start of its VI tag and the line counter at its line; 12
// when there is none.
int32 FindVISection(ImportStringsRequest* rq, ConstPStr viName);

// What the import asks of the object system, filled at start-up.  Until
// then the panel answers an error (1) and classes have no printable names.
struct VIStringHooks {
  // Empties the panel's selection, and with the panel's window as the
  // drawing port sends the root the selection message with code 53; the
  // reply bits.
  int32 (*importPanel)(ObjHeap heap, ImportStringsRequest* rq) = nullptr;
  void (*className)(ObjHeap heap, int32 object, PStr name) = nullptr;
};
// Installs the hooks (null members: the defaults); the former set.
VIStringHooks SetVIStringHooks(const VIStringHooks& hooks);
