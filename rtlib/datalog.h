// Datalog files: a sequence of records of one data type.
//
// Layout, every integer big-endian:
//   0   "DTLG"
//   4   format version: 3 (2, the previous flat form, is read and converted)
//   8   record count (int32)
//   12  file position of the root index block, 0 while there is none and
//       always for records of a fixed flat size
//   16  the record type in file order, its first int16 its own size n >= 4
//   16+n the flat records, with index blocks between them when the record
//       type has no fixed flat size.
//
// Records of a fixed flat size lie at 16 + n + r * size.  Other records are
// found through a tree of index blocks of 128 positions: with count records
// the root is of level IndexLevel(count - 1); entry (r >> 7l) & 127 of a
// level-l block holds the level-(l-1) block covering record r, and a
// level-0 entry the position of the record's flat data.  The records of one
// group of 128 (the same r >> 7) are written one after another and share
// their run with no other group.
//
// Every count and position read from a file is checked against the file's
// size before it is used: a file that fails gives 6 from the record
// functions (71 from the type check) and nothing is allocated from it.
#pragma once
#include <vector>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/filemgr.h"
#include "mgsource/fourcc.h"
#include "mgsource/path.h"
#include "rtlib/filehooks.h"

// A file that is not a datalog of the type asked for.
constexpr MgErr kDatalogIncompatibleErr = 71;

enum : int32 {
  kDatalogVersion = 3,
  kDatalogOldVersion = 2,
  kDatalogHeaderSize = 16,
  kDatalogFanOut = 128,
  kDatalogIndexBlockSize = 512,
};

// The header in memory order (the signature's four bytes as they stand).
struct DatalogHeader {
  uChar signature[4];
  int32 version;
  int32 count;
  uInt32 root;
};
static_assert(sizeof(DatalogHeader) == kDatalogHeaderSize && offsetof(DatalogHeader, root) == 12,
              "datalog header");
struct DatalogIndexBlock {
  uInt32 entries[kDatalogFanOut];
};
static_assert(sizeof(DatalogIndexBlock) == kDatalogIndexBlockSize, "datalog index block");

// How many times n shifts right by 7 bits while the result stays above 0.
int32 IndexLevel(int32 n);

// Whether the open file is a datalog of the record type: reads 20 bytes
// from offset 0 ("DTLG", version 2 or 3, a type size of at least 4), brings
// the stored type to memory order within its size, checks it and converts
// its old booleans, and compares it with recordType.  A difference in
// typedefs or signedness alone counts as equal; any other, another numeric
// width included, gives 71.  0 and the version; the position is restored.
MgErr CheckDatalogType(FileRef file, const TypeDescriptor* recordType, int32* version);
// Writes the header {"DTLG", 3, 0, 0} and the record type of a new datalog.
MgErr DatalogCreate(FileRef file, const TypeDescriptor* recordType);
// The record count of the header: 0, or 6 for a file that is not a sound
// datalog of the record type's shape.
MgErr DatalogCount(FileRef file, const TypeDescriptor* recordType, int32* count);
// Moves to record r, clamped to 0 ... count (4 when clamped; r = count is the
// end of the file); *at gets the record number.
MgErr DatalogPosition(FileRef file, const TypeDescriptor* recordType, int32 r, int32* at);
// Appends the value: one record of the record type, or an array of records
// (k records in all, its dimensions multiplied).  Records of a type without
// a fixed size are split at group boundaries; the header is rewritten after
// each piece, and the file flushed unless its last record before and after
// lie in one group.  *count gets the new count.  1 for another value type, 6
// for an unsound file (nothing written).
MgErr DatalogAppend(FileRef file, const TypeDescriptor* recordType, const TypeDescriptor* dataType,
                    const void* data, int32* count);
// Reads from record r: one record into the datum at data (no count), or an
// array of *count records into the array handle at data.  4 with the records
// read at the end; *next gets the record after the last one read (it is
// left as it was when the file is not a sound datalog).
MgErr DatalogRead(FileRef file, const TypeDescriptor* recordType, int32 r, const int32* count, void* data,
                  int32 options, int32* next);
// Converts the version-2 datalog open in the refnum: its records are copied
// into a new file next to it ("tmp%ld.log", made exclusively), which then
// replaces the original and is opened with the access and deny modes given.
// Any failure before the replace removes the new file and leaves the
// original as it was, still open in the refnum.
MgErr ConvertDatalog(FileRefnum refnum, int32 access, int32 deny);
// Rewrites the datalog at path, open in `file`, without the records whose
// mark is non-zero (a record past the markCount marks is kept): the kept
// records go, in order, into a new datalog made exclusively next to it,
// which is flushed, closed and put in the log's place in one step; `file`
// still reads the old log afterwards.  Any failure leaves the log as it was
// and removes the new file.  *kept gets the records kept.
MgErr DatalogPurge(FileRef file, const TypeDescriptor* recordType, Path path, const uChar* marks, int32 markCount,
                   int32* kept);
// The datalog side of the file functions (the default datalog procedures).
const DatalogProcs& DatalogFileProcs();

// ---- A VI's log file --------------------------------------------------------------------------
// What the run commands need of a VI's datalog binding: one record of the
// panel's data appended at each logging, the file closed when a top-level
// run ends, and the record count refreshed after a VI loads.  The file is a
// datalog of the binding's record type; it stays open until CloseLogFile;
// word 4 of the binding holds the record count.

// Nothing to log: the VI's record type holds no data.
constexpr MgErr kNothingToLogErr = 1;
// The operator declined a log path that names a folder or another file.
constexpr MgErr kUnsuitableLogPathErr = 10;
// The file type of datalog files (by extension, HasRezExt).
constexpr uInt32 kDatalogFileType = FourCC("QXDL");
// Items of the log alerts' list: the file dialog's prompt and the question
// for an unsuitable path.
constexpr int32 kLogPromptItem = 6, kLogUnsuitableItem = 11, kLogEmptiedItem = 3;
// Items of the retrieval alerts' list: item 3 is shown inside item 2.
constexpr int32 kRetrieveExitItem = 2, kRetrieveFailedItem = 3;
// A record number out of range.
constexpr MgErr kDatalogRangeErr = 4;
// The panel's logged controls no longer match the record type.
constexpr MgErr kPanelMismatchErr = 42;
// File-dialog flags: files, folders may change; a new file allowed or not.
constexpr int32 kLogDialogAllowNew = 0x448, kLogDialogExisting = 0x548;

// What the VI window gives the log functions; null members answer nothing.
struct DatalogUIHooks {
  // The log name offered when the VI has no log path (256 bytes).
  void (*defaultLogName)(UHandle vi, PStr name);
  // Redraws the retrieval display (record number, marks) after a purge.
  void (*redrawRetrieval)(UHandle vi);
  // The retrieval field's text (256 bytes), and setting it.
  void (*retrieveFieldText)(UHandle vi, PStr text);
  void (*setRetrieveFieldText)(UHandle vi, ConstPStr text);
  // The tool bar's deletion-mark display.
  void (*showMark)(UHandle vi, int32 mark);
  // The shown record's time stamp (its seconds), when the record has one.
  void (*showStamp)(UHandle vi, uInt32 secs);
  // Copies the panel data (of type panelType) into the panel's logged
  // controls and redraws them: 0 or an error.
  MgErr (*showRecord)(UHandle vi, const TypeDescriptor* panelType, const void* panelData);
  // The panel's logged controls, in record order: -1 when the panel is not
  // loaded (the values then come from the data space, the record buffer).
  int32 (*loggedControlCount)(UHandle vi);
  // Copies each logged control's value out of its panel object into the
  // panel data (of type panelType): 0 or an error.
  MgErr (*copyLoggedControls)(UHandle vi, const TypeDescriptor* panelType, void* panelData);
};
void SetDatalogUIHooks(const DatalogUIHooks* hooks);
const DatalogUIHooks& DatalogUI();

// Makes sure the VI has a usable log path: kept when it has one, no choice
// is forced, its folder exists and (with mustExist) the file; otherwise the
// file dialog asks.  A chosen path other than the current one that names a
// folder or a file not of datalog type is put to the operator; declining
// gives 10.  0, 43 when the dialog is cancelled, or an error.
QX_EXTERN_C MgErr CheckDatalogPath(UHandle vi, int32 forceChoice, int32 mustExist, int32 allowNew, int32 flags);
// Opens the VI's log file for reading and writing, others allowed to read,
// after checking its path (unless skipPathCheck), creating it as a datalog
// of the record type when it is missing and create is set; the record
// count is read.  0 (also when it is already open), 1 when there is nothing
// to log, 7 for a missing file, 71 for a file of another type, or an error.
QX_EXTERN_C MgErr OpenLogFile(UHandle vi, int32 create, int32 skipPathCheck);
// Writes one record of the VI's panel data to its log file, opening (and
// when missing creating) the file first, and closes the file again unless
// it was open or keepOpen is set.  A loaded panel gives the values; a count
// of logged controls other than the panel data's gives 42 before anything
// is written.  0; 1 when there is nothing to log; an error of OpenLogFile or
// of the append.
QX_EXTERN_C MgErr WriteDatalogRecord(UHandle vi, int32 keepOpen);
// The VI's deletion marks, one byte per record (non-zero: marked); none
// when count is 0.  LogDeletionMarks copies them out and gives their count.
void SetLogDeletionMarks(UHandle vi, const uChar* marks, int32 count);
int32 LogDeletionMarks(UHandle vi, std::vector<uChar>* out);
// Removes the marked records from the VI's log file, when it has marks and
// records: the log is replaced in one step by a copy without them, and only
// then reopened (when it was open) and the marks reset to the new count, all
// 0.  When no record is left the operator is asked whether to delete the
// file.  A failure leaves the log and the marks as they were.  0 or an error.
QX_EXTERN_C MgErr PurgeData(UHandle vi);
// The number typed in the retrieval field (a blank field gets the text "0"
// and gives 0; text that is no number gives -1): true when it is a record
// of the log (0 <= number < record count).
QX_EXTERN_C Bool32 GetRetrieveRecNum(UHandle vi, int32* numberOut);
// Shows the chosen record (the last one for a number out of range): its
// deletion mark, and its panel data in the panel's controls.  A record that
// cannot be read, or an empty log, shows the alert and leaves retrieval
// mode.  0 or the error.
QX_EXTERN_C MgErr RetrieveShowRecord(UHandle vi);
// Reads record recordNumber of the VI's log for a diagram (a negative number
// counts from the end; -count ... count - 1): the record's time stamp and
// panel data are copied to the outputs.  On failure (4 for a number out of
// range) errorOut is set and both outputs get their empty values.
QX_EXTERN_C MgErr ProgRetrieveRun(UHandle vi, void* timeStampOut, int32 recordNumber, void* dataOut,
                                  uChar* errorOut);
// The check at the start of a top-level run: the log file opens (created
// when missing, no path asked for) and what this call opened is closed.
MgErr RunStartLogCheck(UHandle vi);
// Closes the VI's open log file; nothing when it is not open.
QX_EXTERN_C void CloseLogFile(UHandle vi);
// Whether the VI's log file is open.
Bool32 LogFileOpen(UHandle vi);
// The VI's log path, or null when it has no path (the not-a-path value).
Path DatalogPath(UHandle vi);
// Refreshes the record count of the VI's binding: reads it from the open
// log file, or opens the file for reading (others allowed to read) and
// closes it again.  A
// file that cannot be opened or read, or that is not a datalog of the
// record type, counts 0.
QX_EXTERN_C void UpdateLogRecordCount(UHandle vi);
// The record count that the VI's binding holds.
int32 DatalogRecordCount(UHandle vi);

// The VI's log path becomes the not-a-path value, the change is reported
// (VIDocMod with 0x10001000) and the binding refreshed.  A file still open
// under the old path is closed first.
QX_EXTERN_C void ClearLogPath(UHandle vi);
constexpr uInt32 kDocModLogPath = 0x10001000;

// Fills the run commands' datalog hooks; called at start-up.
void RTLibInstallDatalogHooks();
