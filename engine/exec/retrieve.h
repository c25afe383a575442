// Datalog retrieval mode and logging and printing at completion: the state
// side of a VI's log.  The log file itself (opening, reading, purging and
// showing a record) is the run-time library's, reached through the hooks
// below that it fills at start-up.
#pragma once
#include "engine/exec/runcmd.h"
#include "engine/vi/dataspace.h"
#include "mgsource/extcode.h"

// Flips logging at completion (flags2 0x20, dsFlags 1) of a VI with a
// datalog binding; the change is reported unless the VI is the root VI.
QX_EXTERN_C void ToggleLogAtCompletion(UHandle vi);
// Flips printing at completion (flags2 0x8000, dsFlags 2); the panel heap is
// loaded when it turns on.
QX_EXTERN_C void TogglePrintAtCompletion(UHandle vi);
// Switches the VI's panel to the records of its log file.  An open error or
// a log without records shows an alert and leaves the mode off.
QX_EXTERN_C void EnterRetrieveMode(UHandle vi);
// Back to live data: records marked for deletion are purged when the
// operator says "Yes"; the log is closed and the window placed again.
QX_EXTERN_C void ExitRetrieveMode(UHandle vi);
// Lets the operator choose another log file.  An open error puts the old
// path back (and, in retrieval mode, reopens the old log).
QX_EXTERN_C void ChangeLogFile(UHandle vi);
// Shows record n (pinned to the log's records) in the tool bar's field and
// on the panel.
QX_EXTERN_C void ShowLogRecord(UHandle vi, int32 n);

constexpr uInt16 kDSFlagLogAtCompletion = 1, kDSFlagPrintAtCompletion = 2;
constexpr uInt32 kDocModCompletion = 0x10000100;
// The record-number field of the tool bar and the slot redrawn with it.
constexpr int16 kRecordFieldLeft = 96, kRecordFieldTop = 4, kRecordFieldWidth = 32, kRecordFieldHeight = 15;
constexpr int32 kRecordSlotImage = 39;
// Entries of the retrieval texts (list 700) and of the log texts (list 701).
enum : int32 {
  kRetrieveCannotEnter = 1,
  kRetrieveExiting = 2,
  kRetrieveOpenError = 4,
  kRetrieveNoRecords = 5,
  kRetrieveAskPurge = 6,
  kRetrieveIncompatible = 7,
  kRetrieveFirstNumber = 8,
  kRetrieveRangeEntry = 9,
  kLogChangeError = 4,
};

// The VI's log for the state side.  A member left null answers as a VI
// without a log: opening fails with 53, there are no records and no marks,
// a choice of file is cancelled (43).
struct RetrieveLogHooks {
  MgErr (*openLog)(UHandle vi);        // opens the log file (path checked, not created)
  void (*closeLog)(UHandle vi);
  int32 (*recordCount)(UHandle vi);
  MgErr (*chooseLogFile)(UHandle vi);  // the operator chooses a (possibly new) file
  void (*refreshBinding)(UHandle vi);  // the record count of the binding
  // The record number the field names (may be out of range).
  int32 (*shownRecord)(UHandle vi);
  MgErr (*newMarks)(UHandle vi);  // one cleared mark per record
  void (*disposeMarks)(UHandle vi);
  Bool32 (*anyMarked)(UHandle vi);
  MgErr (*purge)(UHandle vi);        // removes the marked records
  MgErr (*showRecord)(UHandle vi);   // shows the record the field names
};
void SetRetrieveLogHooks(const RetrieveLogHooks* hooks);
const RetrieveLogHooks& RetrieveLog();
