// The VISA library binding and its sessions.  The library is loaded on the
// first VISA call (its default resource-manager session is what "loaded"
// means) and called through a table of 47 entries looked up by name.  A
// session reaches diagrams as a refnum: a cookie of the session jar whose
// information is the address of its VSesn record.
//
// Results are the library's statuses (negative errors, positive warnings),
// or the system's own: 0xBFFF000E not an open session, 0xBFFF009E no
// library, 15 the library lacks the entry, 1 a null or zero argument, 2 no
// memory.
#pragma once
#include <string>

#include "engine/datasupp.h"
#include "engine/datatype.h"
#include "engine/exec/exec.h"
#include "io/unitaccess.h"
#include "mgsource/cookie.h"
#include "mgsource/extcode.h"

struct VSesn {
  uChar* name;               // copy of the resource name (Pascal), "RM" for a resource manager
  uChar* omid;               // copy of the refnum type's object-manager id
  Cookie cookie;             // the session's refnum
  uInt32 session;            // the library's session handle
  uInt32 mapped;             // the last mapped address, 0 none
  uInt32 job;                // the last asynchronous transfer's job, 0 none
  uInt32 flags;              // kVSesn* bits, the GPIB board in bits 24-31
  UnitAccessRec* unitAccess; // made on the first VisaAccess of a session not on GPIB
  void* iviGet;              // the session's IVI driver entries, null until loaded
  void* iviSet;
  void* iviString;
};
static_assert(sizeof(VSesn) == 44 && offsetof(VSesn, omid) == 4 && offsetof(VSesn, cookie) == 8 &&
                  offsetof(VSesn, session) == 12 && offsetof(VSesn, mapped) == 16 && offsetof(VSesn, job) == 20 &&
                  offsetof(VSesn, flags) == 24 && offsetof(VSesn, unitAccess) == 28 &&
                  offsetof(VSesn, iviGet) == 32 && offsetof(VSesn, iviSet) == 36 && offsetof(VSesn, iviString) == 40,
              "VISA session record");
enum : uInt32 { kVSesnDirectAccess = 1u, kVSesnOnGPIB = 2u };
constexpr int32 kVSesnBoardShift = 24;

// Statuses of the binding.
enum : int32 {
  kVisaStatNotASession = int32(0xBFFF000E),
  kVisaStatNotFound = int32(0xBFFF0011),
  kVisaStatNoLibrary = int32(0xBFFF009E),
  kVisaStatNoEntry = 15,
};

// The library's entries, in the order they are looked up.
#define QX_VISA_ENTRIES(X)                                                                                      \
  X(viAssertTrigger) X(viClose) X(viClear) X(viDisableEvent) X(viDiscardEvents) X(viEnableEvent) X(viFindNext) \
  X(viFindRsrc) X(viGetAttribute) X(viMapAddress) X(viOpen) X(viOpenDefaultRM) X(viIn8) X(viIn16) X(viIn32)   \
  X(viOut8) X(viOut16) X(viOut32) X(viPeek8) X(viPeek16) X(viPeek32) X(viPoke8) X(viPoke16) X(viPoke32)       \
  X(viRead) X(viReadAsync) X(viReadSTB) X(viSetAttribute) X(viStatusDesc) X(viUnmapAddress) X(viWaitOnEvent)  \
  X(viWrite) X(viWriteAsync) X(viMoveIn8) X(viMoveIn16) X(viMoveIn32) X(viMoveOut8) X(viMoveOut16)            \
  X(viMoveOut32) X(viLock) X(viUnlock) X(viMemAlloc) X(viMemFree) X(viTerminate) X(viSetBuf) X(viFlush)       \
  X(viMove)
#define QX_VISA_ENTRY_INDEX(name) kVisaEntry_##name,
enum : int32 { QX_VISA_ENTRIES(QX_VISA_ENTRY_INDEX) kVisaEntryCount };
#undef QX_VISA_ENTRY_INDEX
static_assert(kVisaEntryCount == 47, "the VISA entry table");
// The name of entry i, and its procedure (null when the library lacks it or
// is not loaded).
const char* VisaEntryName(int32 index);
void* VisaEntry(int32 index);

// Start-up: reads "syncVisa" and "cleanupVisa", makes the VISA mutex and the
// session jar; 2 when the jar cannot be made.
QX_EXTERN_C MgErr VisaInit();
// Loads the library unless its resource-manager session exists; 0 or a status.
QX_EXTERN_C int32 VisaLoadLibrary();
// Shut-down: closes every session and the library, then lets the jar, the
// resource-manager session and the mutex go.
QX_EXTERN_C int32 VisaCloseAll();
// Whether reads and writes are synchronous ("syncVisa", or a library
// without asynchronous entries).
bool VisaSynchronous();
// The default resource-manager session, 0 while the library is not loaded.
uInt32 VisaDefaultRM();

QX_EXTERN_C int32 VisaOpen(LStrHandle name, uInt32 accessMode, uInt32 openTimeout, const TypeDescriptor* refnumTD,
                           Cookie* session);
QX_EXTERN_C int32 VisaClose(Cookie session);
QX_EXTERN_C int32 VNewSesn(ConstPStr name, const uChar* omid, uInt32 librarySession, Cookie* session);
QX_EXTERN_C int32 VNewRMSesn(Cookie* session);
QX_EXTERN_C int32 VDisposeSesn(Cookie session);
QX_EXTERN_C int32 VCookieToSesn(Cookie session, uInt32* librarySession);
// Fills the handle with an i32 count and the cookies of all open sessions.
QX_EXTERN_C int32 VGetAllOpenSessions(UHandle list);
// list: the handle of a one-dimensional array of string handles.
QX_EXTERN_C int32 VisaFindRsrc(LStrHandle expression, ArrayHandle* list, int32* count);
QX_EXTERN_C int32 VisaFindNext(uInt32 findList, LStrHandle description);
QX_EXTERN_C int32 VisaAccess(Cookie session, int32* result, QueueElement* qe, int32 op);
QX_EXTERN_C Bool32 VisaIsASession(uInt32 refnum);
QX_EXTERN_C int32 VisaSessionGPIBBoard(Cookie session, int32* board);
// The session's record, null for a refnum that is not an open session; the
// pointer stays good only while no other thread closes the session.
VSesn* VisaSessionRecord(Cookie session);

// A session's record, kept alive for the holder's scope (a close waits for
// it), with the library session and flags read while the cookie was in the
// jar.  Null record for an unknown cookie.
class SesnHold {
 public:
  explicit SesnHold(Cookie c);
  ~SesnHold();
  SesnHold(const SesnHold&) = delete;
  SesnHold& operator=(const SesnHold&) = delete;
  VSesn* record() const { return s_; }
  uInt32 session() const { return session_; }
  uInt32 flags() const { return flags_; }

 private:
  VSesn* s_ = nullptr;
  uInt32 session_ = 0, flags_ = 0;
};

// Sets and clears bits of a held record's flags (under the jar's mutex).
void VisaChangeFlags(VSesn* s, uInt32 set, uInt32 clear);

// The VISA mutex, for the mapping state of a session record (made by
// VisaInit; null before).
ThMutex VisaMutex();

// A diagram's string as a C string, its count believed only as far as the
// handle holds bytes.  False for an embedded NUL.
bool VisaCString(LStrHandle h, std::string* out);
// A string handle set to the n bytes (made when null).  0 or 2.
MgErr VisaSetString(LStrHandle* h, const char* text, int32 n);
// One entry, also registered as VisaInstallHandler and VisaUninstallHandler:
// does nothing and returns 0.
QX_EXTERN_C int32 OpenShowObj(int32 a, int32 b, int32 c, int32 d);

// FPIsARefnum's kinds 6 and 10 ask VisaIsASession from here on.
void VisaInstallRefnumHook();

// Tests: the library LoadExternalLib is given (null: the one beside the
// program).
void VisaSetLibraryForTest(const char* name);
