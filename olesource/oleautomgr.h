// The automation client: the automation refnums of diagrams and the calls
// they make into dispatch interfaces of other servers (open, close, invoke,
// property write and read), the text of a server's exceptions, the client's
// error texts, and the comparison and byte-order conversion of automation
// refnum types.
#pragma once
#include <string>

#include "engine/datatype.h"
#include "engine/exec/callchain.h"
#include "mgsource/cookie.h"
#include "platform/qx_comvar.h"
#include "server/embobj.h"

// Error codes of the client and their texts.
enum : MgErr {
  kAutoErrFirst = 3000,
  kAutoNotAvailableErr = 3001,  // the client is not started (or the refnum class is not automation)
  kAutoLibsFailedErr = 3004,    // its start failed
  kAutoErrLast = 3004,
  kAutoNoClassErr = 4007,  // the refnum type names no server class
};
constexpr int32 kAutoClientTextsList = 15003;
// Entries of the list: the start failure, what to install (a newer or a
// first component runtime), and the text of a client that is not there.
enum : int32 { kAutoTextInitFailed = 1, kAutoTextNewerRuntime = 2, kAutoTextRuntime = 3, kAutoTextNotImplemented = 4 };
// The refnum class that diagrams pass for automation refnums.
constexpr int32 kAutoRefClass = 1;

// ---- Start and end ---------------------------------------------------------------------
// Once only: opens the refnum jar and, when the execution systems run in
// several threads (the start-up's threading preference), makes the
// interface table through which every use fetches an interface on its own
// thread.  A failure to make the table sets the failed state, disposes the
// jar and returns the layer's result; 2 when the jar cannot be made.
QX_EXTERN_C MgErr AutomationInit();
// Releases every refnum, the jar and the table; the client is no longer
// started (a failed start stays known).
QX_EXTERN_C void AutomationExit();
Bool32 AutomationStarted();
// 0 when the client serves refnums of the class; else 3001 (another class,
// or not started) or 3004 (its start failed).
MgErr AutoCheckClient(int32 refClass);

// ---- Refnums ----------------------------------------------------------------------------
// A refnum for the interface (one reference or table entry of its own);
// with cleanup its release is registered with the running VI's hierarchy.
// 2 and refnum 0 on failure.
MgErr AutoRefMake(EmbDispatch* dispatch, Cookie* refnum, bool cleanup);
// The procedure that releases a refnum given as its cookie (null for a
// class other than automation).
QX_EXTERN_C RTCleanupProc AutoRefReleaseProc(int32 refClass);

// ---- Diagram operations ----------------------------------------------------------------
// Each first checks the client (AutoCheckClient).  Results are 0, a manager
// error or the layer's failure result.
//
// Attaches to the running object of the class the refnum type names, or
// makes and runs a new one, and gives a refnum for its dispatch interface,
// released with the VI's hierarchy.  4007 for a type without a class record.
QX_EXTERN_C MgErr AutoOpenRefnum(const TypeDescriptor* refType, Cookie* refnum, int32 refClass);
// Releases the refnum and clears it.
QX_EXTERN_C MgErr AutoCloseRefnum(Cookie* refnum, int32 refClass);
// Withdraws the refnum's release from the hierarchy's clean-up, then closes.
QX_EXTERN_C MgErr AutoCloseRefnumCleanup(Cookie* refnum, int32 refClass);
// Flags of the calls.
enum : int32 {
  kAutoCallMethod = 0x10000,
  kAutoCallPut = 0x20000,
  kAutoCallGet = 0x40000,
  kAutoCallPutRef = 0x80000,
};
// Calls a member with argCount variants: args[0] receives the result,
// args[1..] are the arguments, the last parameter first; argTypes[i] points
// to argument i's type word (null: the variant's own), and an argument of
// type error is a missing optional one.  1 for refnum 0.  A server's
// exception puts its text into the cluster's source.
QX_EXTERN_C int32 AutoInvokeMethod(Cookie refnum, int32 member, int32 argCount, uInt16* const* argTypes,
                                   PlatVariant* args, int32 flags, ErrorIOCluster* error, int32 refClass);
// Puts the value into a property (by reference with kAutoCallPutRef), or
// reads a property into the variant.
QX_EXTERN_C int32 AutoPropertyWrite(Cookie refnum, int32 member, PlatVariant* value, int32 flags,
                                    ErrorIOCluster* error, int32 refClass);
QX_EXTERN_C int32 AutoPropertyRead(Cookie refnum, int32 member, PlatVariant* value, int32 flags,
                                   ErrorIOCluster* error, int32 refClass);

// ---- Texts --------------------------------------------------------------------------
// The text of a server's exception, cut to 255 characters.
void AutoExceptionText(const PlatExcepInfo& info, PStr text);
// The client's text of a code 3000-3004 (false for other codes): from the
// run-time resource file's list, or the built-in texts.
bool AutoClientErrorText(MgErr code, std::string* text);

// ---- Refnum types ----------------------------------------------------------------------
// The kind-specific part of an automation refnum type (code 0x70, kind 7):
// after the kind word a count byte gives the bytes of records that follow,
// each a 32-bit kind and its fields: kind 2 names the server class (a
// 16-byte class id; 20 bytes), kind 1 the interface (a 16-byte interface id,
// a 32-bit value, major and minor version words; 28 bytes).
enum : int32 { kAutoRecInterface = 1, kAutoRecClass = 2 };
constexpr int32 kAutoRecClassSize = 20;
constexpr int32 kAutoRecInterfaceSize = 28;
struct AutoRefRecords {
  int32 firstKind;  // the kind of the first record, 0 without records
  bool hasClass;
  PlatGuid clsid;
  const uChar* classRecord;  // the class record's bytes, or null
  bool hasInterface;
  PlatGuid iid;
  uInt32 value;
  uInt16 major;
  uInt16 minor;
};
// Reads the records after the count byte at countByte, whose bytes are in
// memory order: false for records that do not fill the count or a kind
// other than 1 or 2.
bool AutoRefReadRecords(const uChar* countByte, AutoRefRecords* out);
// Type comparison for the type manager: 0 when equal, else non-zero.
QX_EXTERN_C int32 AutoRefCompare(const TypeDescriptor* a, const TypeDescriptor* b);
// The same on the kinds' parts of two automation refnum types (the type
// manager's object-id comparison).
int32 AutoRefOMIdCompare(const uChar* a, const uChar* b);
// Swaps the records of an automation refnum type between file and memory
// byte order (the type manager swaps its header and kind word): 0, 1 when
// the records run past the type's size, 3001 for records that are not
// valid.  Nothing changes on failure.
MgErr OleAutoRefStandardize(void* refnumTD, int32 direction, int32 size);
