// Debug output and failure reports.
//
// DBAssert reports a broken invariant and DBMgErr an unexpected manager error,
// both with the source file and line, in an alert; the process then ends
// with status 1 unless the shell has set the continue-after-failure flag.
// DBPrintf writes debug text to the host debugger's output when the
// configuration key "debugging" is true.
#pragma once
#include "extcode.h"

// Reads the "debugging" key and creates the debug mutex; DBExitDebug
// disposes of the mutex.
QX_EXTERN_C void DBInitDebug();
QX_EXTERN_C void DBExitDebug();

// Formats one line (at most 511 characters) and writes it; returns the number
// of lines written so far, 0 when debugging is off.  A call made while a line
// is being written writes nothing.
QX_EXTERN_C int32 DBPrintf(const char* fmt, ...);
// Writes the text and a line break to the debug output under the debug mutex.
QX_EXTERN_C void DumpToScreen(const char* text);
QX_EXTERN_C int32 DbgPrintf(const char* fmt, ...);  // does nothing; 0
// Writes "StopHere: text" and returns a word that only a debugger changes: a
// place for a breakpoint.
QX_EXTERN_C int32 StopHere(const char* text);

// 0 when err is 0; otherwise reports and returns 1.
QX_EXTERN_C MgErr DBMgErr(const char* file, int32 line, MgErr err, const char* text);
// Reports a failure and returns 0.
QX_EXTERN_C int32 DBAssert(const char* file, int32 line, const char* text);

// Installs the shell's alert formats: the list's first string replaces the
// built-in error format, its second the built-in failure format.  Null
// restores the built-in ones.
QX_EXTERN_C void DBSetAlertFormats(CPStrHandle list);
// The procedure the device timer thread calls on every round; returns 0.
typedef void (*DBTimerProc)();
QX_EXTERN_C int32 DBSetTimerProc(DBTimerProc proc);
DBTimerProc DBGetTimerProc();
// The shell's continue-after-failure flag (the key QXdebugKeys) and the
// system's version text, shown at the end of each report.
void DBSetContinueAfterFailure(Bool32 on);
// Whether DBPrintf writes (the "debugging" key at start, the debug keys later).
Bool32 DBDebuggingOn();
void DBSetDebugging(Bool32 on);
void DBSetVersionText(ConstPStr version);
// The path of the failure log (a C string, copied; null forgets it) and
// the path kept, "" when none.
void DBSetFailureLogPath(const char* path);
void DBFailureLogPath(char* out, int32 size);

// The text of a manager error code 1-90 ("" for the empty entries and for
// codes outside the table).  Entry N of the "_mgerr descriptions" list.
enum : int32 { kMgErrTextCount = 90 };
const char* DBMgErrText(MgErr code);

// Reports with the calling file and line.
#define QX_ASSERT(cond) ((cond) ? (void)0 : (void)DBAssert(__FILE__, __LINE__, #cond))
#define QX_ASSERT_MSG(cond, msg) ((cond) ? (void)0 : (void)DBAssert(__FILE__, __LINE__, (msg)))
#define QX_REPORT_ERR(err, text) DBMgErr(__FILE__, __LINE__, (err), (text))
