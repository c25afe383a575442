// File refnums: the cookies through which diagrams and external code reach
// open files, and the diagram functions that open, create, read, write,
// seek, size, lock and close them.
//
// A refnum is a cookie of one jar whose 4 bytes of information are an
// application-zone handle to a FileRefnumRec.  The jar's own mutex
// ("JarRights") serialises every lookup and change of the jar; no other
// lock is taken while it is held.  The diagram functions hold the refnum
// across their call (FileRefnumUse).
//
// Position modes of the diagram functions: 0 from the start, 1 from the end,
// 2 from the current position.  Access modes 0 to 3 and deny modes 0 to 2 are
// those of FMOpen.  Every function answers a value that is not a refnum of
// the jar, a mode out of range or a negative count with 1 and changes
// nothing.
#pragma once
#include "engine/datatype.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "rtlib/filehooks.h"

struct FileRefnumRec {
  Path path;             // an own copy
  FileRef file;          // the open file
  int32 currentRecord;   // the current record of a datalog; 0 when made
};
static_assert(sizeof(FileRefnumRec) == 12 && offsetof(FileRefnumRec, file) == 4 &&
                  offsetof(FileRefnumRec, currentRecord) == 8,
              "file refnum record");

// Position modes.
enum : int32 { kFPFromStart = 0, kFPFromEnd = 1, kFPFromCurrent = 2 };

// ---- The jar --------------------------------------------------------------------------
// Made at start-up (2 when it cannot be), disposed at shut-down with every
// refnum still in it (their files closed).
QX_EXTERN_C MgErr FRefNumJarCreate();
QX_EXTERN_C MgErr FRefNumJarDispose();

// ---- Refnums ----------------------------------------------------------------------------
// Makes a refnum for an open file with a copy of its path; 2 when memory or
// the cookie fails (refnumOut 0, nothing kept).
QX_EXTERN_C MgErr FNewRefNum(Path path, FileRef file, FileRefnum* refnumOut);
// Removes the refnum and disposes its record and path copy; the file stays
// open.  1 for a value that is not a refnum of the jar.
QX_EXTERN_C MgErr FDisposeRefNum(FileRefnum refnum);
QX_EXTERN_C Bool32 FIsARefNum(FileRefnum value);
QX_EXTERN_C MgErr FRefNumToFD(FileRefnum refnum, FileRef* fileOut);
// Copies the refnum's path into path (made not-a-path on failure).
QX_EXTERN_C MgErr FRefNumToPath(FileRefnum refnum, Path path);
// The same for diagrams: *pathOut is made when null (2 when that fails); a
// value that is not a refnum gives not-a-path and 0.
QX_EXTERN_C MgErr FPRefnumToPath(FileRefnum refnum, Path* pathOut);
// Whether a value is a valid refnum of a kind (and, for kind 8, subKind 1
// application or 2 VI).
QX_EXTERN_C Bool32 FPIsARefnum(uInt32 value, int32 kind, int32 subKind);
// The refnum's current record number (for the datalog functions).
MgErr FRefNumGetRecord(FileRefnum refnum, int32* record);
MgErr FRefNumSetRecord(FileRefnum refnum, int32 record);
// Puts another open file into the refnum's record (a converted datalog).
MgErr FRefNumSetFD(FileRefnum refnum, FileRef file);

// A refnum held for one call.  While the object lives the refnum's record
// and file stay (a close or dispose on another thread waits for the call to
// end and later calls find no refnum), and calls through any refnum of the
// same file run one at a time.  file() is null when the value is not a live
// refnum, or its record holds no file.  Lock order: the calls lock of a file,
// then the jar's mutex.
class FileRefnumUse {
 public:
  explicit FileRefnumUse(FileRefnum refnum);
  ~FileRefnumUse();
  FileRefnumUse(const FileRefnumUse&) = delete;
  FileRefnumUse& operator=(const FileRefnumUse&) = delete;
  FileRef file() const { return file_; }

 private:
  void* entry_ = nullptr;
  FileRef file_ = nullptr;
};

// ---- Open, create, close ----------------------------------------------------------------
// The record type of open and create: a type descriptor at *recordType +
// recordTypeOffset, none when recordType is null.
//
// RTFPOpen: with convert set, converts the version-2 datalog open in
// *refnumOut and registers it (on failure its file is closed and the refnum
// disposed, *refnumOut 0).  Otherwise opens the file; with a record type
// checks it is a datalog of that type; makes the refnum and registers its
// close with the caller's top-level VI.  A version-2 datalog gives -1 and an
// open, unregistered refnum.
QX_EXTERN_C MgErr RTFPOpen(Path path, int32 access, int32 deny, UHandle recordType, int32 recordTypeOffset,
                           FileRefnum* refnumOut, Bool32 convert);
// The same open for front-panel logging, without registration; a version-2
// datalog is converted when the operator agrees (43 and nothing open when
// not).
QX_EXTERN_C MgErr OpenDatalogAsk(Path path, int32 access, int32 deny, UHandle recordType, int32 recordTypeOffset,
                                 FileRefnum* refnumOut);
// Creates a file (replacing an existing one only with replace) and opens it
// read-write with the deny mode; the group, when given, must not have a
// negative length; permissions 0 give the default for 0666.
QX_EXTERN_C MgErr RTFPNewFile(Path path, int32 deny, LStrHandle group, int32 permissions, int32 recordTypeOffset,
                              UHandle recordType, FileRefnum* refnumOut, Bool32 replace);
// Removes the registration, closes the file and disposes the refnum.
QX_EXTERN_C MgErr RTFPClose(FileRefnum refnum);
// The close procedure registered by open and create (the close without the
// removal of the registration).
QX_EXTERN_C int32 RTFPCloseProc(void* refnum);
QX_EXTERN_C MgErr FPFlush(FileRefnum refnum);

// ---- Reading and writing ----------------------------------------------------------------
// FPRead: sets the position by mode and offset, then reads
//  - without an element type, line mode off: count bytes into the string at
//    data (an LStrHandle*; no count reads none);
//  - without an element type, line mode on: one line, of at most count
//    bytes when count is 1 or more;
//  - with an element type and a count: an array of count elements into the
//    array handle at data;
//  - with an element type and no count: one value of the type at data.
// A null count is no count; the element type is at *eltType + eltTypeOffset
// (null: none).  With convertEOL a string read is converted from CR LF.  At
// the end of the file the data read so far comes back with 4; after any
// other error the output is emptied.  options go to the unflattener.
// *positionOut gets the position after the read.
QX_EXTERN_C MgErr FPRead(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
                         const int32* count, UHandle eltType, int32 eltTypeOffset, void* data, Bool32 lineMode,
                         Bool32 convertEOL, int32 options, int32* positionOut);
// FPRead's arguments in one record.
struct FPReadParams {
  FileRefnum refnum;
  UHandle refnumType;
  int32 refnumTypeOffset;
  int32 mode;
  int32 offset;
  const int32* count;
  UHandle eltType;
  int32 eltTypeOffset;
  void* data;
  Bool32 lineMode;
  Bool32 convertEOL;
  int32 options;
  int32* positionOut;
};
static_assert(sizeof(FPReadParams) == 52 && offsetof(FPReadParams, data) == 32 &&
                  offsetof(FPReadParams, positionOut) == 48,
              "read parameters: thirteen words");
QX_EXTERN_C MgErr FPReadConvert(const FPReadParams* params);

// Write flags.
enum : int32 {
  kFPWriteOldBooleans = 1,  // passed to the flattener
  kFPWriteConvertEOL = 2,   // string data gets CR LF line ends
  kFPWriteSizes = 4,        // array and string sizes are written
};
// Writes the data of the type at *dataType + dataTypeOffset at the position
// set by mode and offset; *positionOut gets the position after the write.
QX_EXTERN_C MgErr FPWrite(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
                          UHandle dataType, int32 dataTypeOffset, const void* data, int32 flags, int32* positionOut);

// The stream check installed for the unflattener: 0 when count bytes remain
// after the position of the file in context (a FileRef), else moves to the
// end and answers 4.
QX_EXTERN_C MgErr FPCheckAvail(void* context, int32 count);
// The read procedure given to the unflattener with the same context: reads
// count bytes, or skips them when buffer is null.
MgErr FPStreamRead(void* buffer, int32 count, void* context);

// ---- Size, position, locking --------------------------------------------------------------
QX_EXTERN_C MgErr FPSeek(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
                         int32* positionOut);
QX_EXTERN_C MgErr FPEOF(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
                        int32* sizeOut);
QX_EXTERN_C MgErr FPLockRange(FileRefnum refnum, int32 mode, int32 position, int32 count, Bool32 lock);

// The question before a datalog is converted: string list 701 item 8
// formatted with the path, and item 12 for the first button (from the
// run-time resource file, else the built-in texts).
void DatalogConvertQuestion(Path path, Str255 text, Str255 button);
