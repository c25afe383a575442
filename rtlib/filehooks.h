// What the file functions ask of the layers above the run-time library (the
// shell's dialogs and folders, the refnum jars of the instrument and network
// layer and of the VI server) and of the datalog functions.
//
// Each set of services is a table of procedures filled once at start-up by
// the layer that owns them.  A member left null answers as the service does
// when it is not there: alerts go to the platform's alert (stderr, answered
// with the default button), the file dialog is cancelled (43), folders are
// not-a-path, and every refnum test answers "not a refnum".
#pragma once
#include "engine/datatype.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"

// ---- The shell ------------------------------------------------------------------
struct FileShellHooks {
  // The two-button alert: the message (a C string for kind 52, a Pascal
  // string for kind 53), the buttons' texts (null: OK and Cancel), the
  // default button (1 or 2), the position; 1 when the first button was
  // hit, 0 otherwise.
  int32 (*twoButtonAlert)(int32 kind, const void* message, ConstPStr button1, ConstPStr button2,
                          int32 defaultButton, int32 h, int32 v);
  // The file dialog: position, prompt, start path in and chosen path out,
  // proposed name in and chosen name out, pattern, flags; 0 when something
  // was chosen, 43 when cancelled, another error when the dialog failed.
  MgErr (*fileDialog)(int32 h, int32 v, ConstPStr prompt, Path path, PStr name, ConstPStr pattern, int32 flags);
  // Copy a folder into an existing path: 0, or an error.
  MgErr (*tempDirPath)(Path out);
  MgErr (*viLibPath)(Path out);
  MgErr (*defaultDirPath)(Path out);
  // True while the VI that posted a request (a NewPostedEvtHandle record)
  // is loaded with the same data space.
  Bool32 (*targetValid)(UHandle request);
  Bool32 (*isMenuRefnum)(uInt32 refnum);
};
void SetFileShellHooks(const FileShellHooks* hooks);
// The two-button alert without the shell's windows: the platform's alert
// with OK and Cancel (Yes and No when the default is the second button),
// answered by its default button headless; 1 for the first, else 0.
int32 HeadlessTwoButtonAlert(int32 kind, const void* message, ConstPStr button1, ConstPStr button2,
                             int32 defaultButton, int32 h, int32 v);
const FileShellHooks& FileShell();

// ---- Refnum jars of the instrument, network and server layers ----------------------
struct RefnumKindHooks {
  Bool32 (*isNetConnection)(uInt32 refnum);  // kind 5
  Bool32 (*isVisaSession)(uInt32 refnum);    // kinds 6 and 10
  Bool32 (*isAutomationRefnum)(uInt32 refnum);
  Bool32 (*isAppRefnum)(uInt32 refnum);
  Bool32 (*isVIRefnum)(uInt32 refnum);
  // A call-by-reference step (posted request kinds 3 to 7), run on the
  // user-interface thread: 0 done, 1 pending (the caller waits on its
  // occurrence), else an error.
  int32 (*callByRefStep)(int32 kind, void* data, void* result);
};
void SetRefnumKindHooks(const RefnumKindHooks* hooks);
const RefnumKindHooks& RefnumKinds();

// ---- The datalog functions ------------------------------------------------------------
// A call on a refnum whose type descriptor is a datalog refnum with a valid
// record type goes to these procedures; the byte-stream side never looks
// inside a datalog.  The datalog file functions (rtlib/datalog.h) fill the
// table by default; a member set null takes theirs.
struct FileRefRec;
typedef uInt32 FileRefnum;
struct DatalogProcs {
  // Whether values of the record type can be logged.
  Bool32 (*validRecordType)(const TypeDescriptor* recordType);
  // Whether the open file is a datalog of the record type: 0 and its
  // version (2 or 3), 71 for another file, or the file's error.  The file
  // position is kept.
  MgErr (*checkType)(FileRef file, const TypeDescriptor* recordType, int32* version);
  // Converts the version-2 datalog open in the refnum to the current
  // version, reopening it with the access and deny modes given and putting
  // the new file into the refnum's record.  On failure the refnum's file is
  // either still the one it had or none (FRefNumToFD gives 0 then).
  MgErr (*convert)(FileRefnum refnum, int32 access, int32 deny);
  // Writes the header and the record type of a new datalog.
  MgErr (*create)(FileRef file, const TypeDescriptor* recordType);
  // Read, write, seek and count as the byte-stream functions do, by record.
  MgErr (*read)(FileRefnum refnum, const TypeDescriptor* recordType, int32 mode, int32 offset, const int32* count,
                void* data, int32 options, int32* positionOut);
  MgErr (*write)(FileRefnum refnum, const TypeDescriptor* recordType, const TypeDescriptor* dataType,
                 const void* data, int32 flags, int32* positionOut);
  MgErr (*seek)(FileRefnum refnum, const TypeDescriptor* recordType, int32 mode, int32 offset, int32* positionOut);
  MgErr (*count)(FileRefnum refnum, const TypeDescriptor* recordType, int32* countOut);
};
void SetDatalogProcs(const DatalogProcs* procs);
const DatalogProcs& Datalog();

// The record type of a datalog refnum's type descriptor (code 0x70, kind 1,
// then the record type), or null for any other descriptor.
const TypeDescriptor* DatalogRecordType(const TypeDescriptor* refnumType);
