// The debug manager: debug lines to the host debugger's output, and the
// reports of broken invariants and unexpected manager errors.
#include "debug.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "config.h"
#include "cfgwords.h"
#include "counted_strings.h"
#include "memory.h"
#include "printf.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "thread.h"
#include "walert.h"

namespace {

// ------------------------------------------------------------- the mutex

// Until DBInitDebug creates the debug mutex, and after DBExitDebug, taking
// it does nothing.
std::atomic<ThMutex> gMutex{nullptr};

struct DebugLock {
  ThMutex mx = gMutex.load(std::memory_order_acquire);
  DebugLock() {
    ThMutexLock(mx);
    // What the lock guards is read after it, on the path without a mutex too:
    // no read is moved before the test of the mutex.
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
  ~DebugLock() { ThMutexUnlock(mx); }
};

// ------------------------------------------------------------- the state

std::atomic<bool> gDebugging{false};   // the "debugging" key
std::atomic<bool> gContinue{false};    // the continue-after-failure flag
std::atomic<DBTimerProc> gTimerProc{nullptr};

// Under the debug mutex: the count of lines written, the installed alert
// formats and the version text.  A line is formatted into a 512-byte buffer
// of the calling thread before the mutex is taken, and the flag that makes a
// call from inside the formatting write nothing belongs to that thread.
constexpr int32 kLineSize = 512;
thread_local bool tWriting = false;
int32 gLines = 0;
char gErrorFormat[256];    // empty: the built-in format
char gFailureFormat[256];
char* gFailureLog = nullptr;  // the failure log's path, under the debug mutex
Str255 gVersion;

// Each report on a thread that is already reporting skips the memory-full
// alert, which could itself fail an assertion and report again.
thread_local int32 tReportDepth = 0;

// A debugger may change this word to make StopHere's caller go another way.
volatile int32 gStopWord = 0;

const uChar kDebuggingKey[] = "\x09" "debugging";

#define QX_SUPPORT_SENTENCE \
  "Please write down the information above and contact technical support."
const char kBuiltInErrorFormat[] = "Error #%ld: %s \"%s\" line %ld\n\n" QX_SUPPORT_SENTENCE;
const char kBuiltInFailureFormat[] = "Failure %s: \"%s\" line %ld\n\n" QX_SUPPORT_SENTENCE;
#undef QX_SUPPORT_SENTENCE

// The texts of the manager error codes; entry N is code N.
const char* const kMgErrTexts[] = {
    "",
    "A bad argument was passed to a manager function.",
    "Memory is full.",
    "Wrong memory zone accessed.",
    "End of file encountered.",
    "File is already open.",
    "Generic file I/O error occurred.",
    "File not found.",
    "File permission error occurred.",
    "Disk is full.",
    "Duplicate path error.",
    "Too many files open.",
    "Some system capacity necessary for operation is not enabled.",
    "Resource file not found.",
    "Cannot add resource.",
    "Resource not found.",
    "Image not found.",
    "Not enough memory to manipulate image.",
    "Pen does not exist.",
    "Bad configuration type.",
    "Configuration token not found.",
    "Error occurred parsing configuration string.",
    "Configuration allocation error occurred.",
    "External code format error occurred.",
    "External code offset error occurred.",
    "External code not present.",
    "Window is null.",
    "Mixup error destroying window.",
    "Menu is null.",
    "Print aborted.",
    "Print record is bad.",
    "Print driver error occurred.",
    "Windows error occurred during print.",
    "Memory error occurred during print.",
    "Print dialog error occurred.",
    "Generic print error occurred.",
    "Device reference number is invalid.",
    "Device not found.",
    "Device parameter error occurred.",
    "Device unit error occurred.",
    "Cannot open device.",
    "Device call aborted.",
    "Generic error occurred.",
    "Cancelled by user.",
    "Invalid ObjID.",
    "Invalid ObjID.",
    "Invalid ObjID.",
    "Invalid heap.",
    "Bad defproc identifier.",
    "Null defproc in table.",
    "Invalid object message.",
    "Null method pointer.",
    "Unknown message.",
    "Capability not supported.",
    "Incorrectly formed network address.",
    "Network operation is not yet finished.",
    "Network operation time limit exceeded.",
    "An operation is already in progress on the specified network connection.",
    "Network operation is not supported by the system.",
    "Network is down or unreachable.",
    "Network address is currently in use.",
    "Not enough system memory to complete the network operation.",
    "System caused the network connection to be aborted.",
    "Network connection refused.",
    "Operation is invalid on an unconnected network connection.",
    "Operation is invalid on a connected network connection.",
    "Peer has closed the network connection.",
    "AppMsg Mgr. could not initialize.",
    "A bad Occurrence was encountered in an Occurrence Manager function.",
    "OnOccur(oh) was called with an Occurrence Handler which is not bound to a valid Occurrence.",
    "The FunnyQ does not have room for an occurrence.",
    "The file is not a datalog containing data of the specified type.",
    "An asynchronous CIN cannot be called from subroutine VI.",
    "AppMsg Mgr. encountered an unrecognized type.",
    "Memory has been corrupted.",
    "Could not create temporary DLL.",
    "CIN compiled with old version of compiler.",
    "", "", "", "", "", "", "", "", "",  // 77-85
    "External code module was built for a newer version of Quenlix.",
    "",  // 87
    "Run Time Menu Error.",
    "",  // 89
    "No error.",
};
static_assert(sizeof kMgErrTexts / sizeof kMgErrTexts[0] == kMgErrTextCount + 1, "90 texts after entry 0");

// Shows one report: the memory-full alert first when one is pending, then the
// formatted message, then the process ends unless it is to go on.
template <typename... Args>
void Report(const char* installed, const char* builtIn, Args... args) {
  char format[256];
  Str255 version;
  // A report made while formatting a report (an installed format the printf
  // dialect refuses) uses the built-in format, so reports never recurse.
  bool nested = ++tReportDepth > 1;
  {
    DebugLock lock;
    std::strcpy(format, installed[0] && !nested ? installed : builtIn);
    PStrCpy(version, gVersion);
  }
  if (!nested && MemFullPending(nullptr)) MemFullAlert(0, 7);
  Str255 message;
  PPrintf(message, format, args..., static_cast<const uChar*>(version));
  WAlert(message, 0);
  StopHere("From DebugStr");
  --tReportDepth;
  if (!gContinue.load()) PlatExitProcess(1);
}

}  // namespace

// Lock order: the memory-full mutex (memory.cpp) may be held when the debug
// mutex is taken, since the memory-full alert prints its text; the debug
// mutex is held only around copying state and writing a finished line, never
// while formatting or reporting, so no memory-manager mutex is ever taken
// under it.
void DBInitDebug() {
  CfgGetDefault(kCfgBool, kDebuggingKey, CfgWordPtr(kCfgWordDebugging));
  gDebugging.store(CfgWordGet(kCfgWordDebugging) != 0);
  if (!gMutex.load()) {
    ThMutex mx = nullptr;
    ThMutexCreate(&mx, nullptr);  // without it, output goes on unlocked
    gMutex.store(mx, std::memory_order_release);
  }
}

Bool32 DBDebuggingOn() { return gDebugging.load(); }
void DBSetDebugging(Bool32 on) { gDebugging.store(on != 0); }

void DBExitDebug() { ThMutexDestroy(gMutex.exchange(nullptr)); }

void DumpToScreen(const char* text) {
  DebugLock lock;
  size_t n = text ? std::strlen(text) : 0;
  // One piece of output, so that a line and its break are never split.
  char small[kLineSize + 1];
  char* line = n < kLineSize ? small : new (std::nothrow) char[n + 2];
  if (!line) {  // no room to join them: two pieces, still under the mutex
    PlatDebugOutput(text);
    PlatDebugOutput("\n");
    return;
  }
  if (n) std::memcpy(line, text, n);
  line[n] = '\n';
  line[n + 1] = 0;
  PlatDebugOutput(line);
  if (line != small) delete[] line;
}

int32 DBPrintf(const char* fmt, ...) {
  if (!gDebugging.load(std::memory_order_relaxed)) return 0;
  if (tWriting) {  // called from inside the line being formatted or written
    DebugLock lock;
    return gLines;
  }
  tWriting = true;
  char line[kLineSize];
  va_list ap;
  va_start(ap, fmt);
  int32 n = fmt ? SPrintfv(line, kLineSize - 1, fmt, int32(std::strlen(fmt)), ap) : 0;
  line[n] = 0;
  va_end(ap);
  int32 lines;
  {
    DebugLock lock;
    DumpToScreen(line);
    lines = ++gLines;
  }
  tWriting = false;
  return lines;
}

int32 DbgPrintf(const char* /*fmt*/, ...) { return 0; }

int32 StopHere(const char* text) {
  DBPrintf("StopHere: %s", text ? text : "");
  return gStopWord;
}

MgErr DBMgErr(const char* file, int32 line, MgErr err, const char* text) {
  if (err == 0) return 0;
  Report(gErrorFormat, kBuiltInErrorFormat, int32(err), text ? text : "", file ? file : "", line);
  return 1;
}

int32 DBAssert(const char* file, int32 line, const char* text) {
  Report(gFailureFormat, kBuiltInFailureFormat, text ? text : "", file ? file : "", line);
  return 0;
}

void DBSetAlertFormats(CPStrHandle list) {
  // The formats are copied: a report never walks the shell's list.
  char error[256] = "", failure[256] = "";
  if (list) {
    int32 count = CPStrSize(list) > 4 ? (*list)->cnt : 0;
    if (count >= 1) PToCStr(CPStrIndex(list, 0), error);
    if (count >= 2) PToCStr(CPStrIndex(list, 1), failure);
  }
  DebugLock lock;
  std::strcpy(gErrorFormat, error);
  std::strcpy(gFailureFormat, failure);
}

int32 DBSetTimerProc(DBTimerProc proc) {
  gTimerProc.store(proc);
  return 0;
}

DBTimerProc DBGetTimerProc() { return gTimerProc.load(); }

void DBSetContinueAfterFailure(Bool32 on) { gContinue.store(on != 0); }

void DBSetFailureLogPath(const char* path) {
  DebugLock lock;
  delete[] gFailureLog;
  gFailureLog = nullptr;
  if (!path) return;
  const size_t n = std::strlen(path);
  gFailureLog = new (std::nothrow) char[n + 1];
  if (gFailureLog) std::memcpy(gFailureLog, path, n + 1);
}

void DBFailureLogPath(char* out, int32 size) {
  if (!out || size <= 0) return;
  DebugLock lock;
  std::snprintf(out, size_t(size), "%s", gFailureLog ? gFailureLog : "");
}

void DBSetVersionText(ConstPStr version) {
  DebugLock lock;
  if (version) PStrCpy(gVersion, version);
  else gVersion[0] = 0;
}

const char* DBMgErrText(MgErr code) {
  return code >= 1 && code <= kMgErrTextCount ? kMgErrTexts[code] : "";
}
