// Debug output and failure reports.
//
// DBAssert reports a broken invariant and DBMgErr an unexpected manager error,
// both with the source file and line; DBPrintf writes debug text.
#pragma once
#include "extcode.h"

QX_EXTERN_C int32 DBPrintf(const char* fmt, ...);
QX_EXTERN_C MgErr DBMgErr(const char* file, int32 line, MgErr err, const char* text);
QX_EXTERN_C int32 DBAssert(const char* file, int32 line, const char* text);

// Reports with the calling file and line.
#define QX_ASSERT(cond) ((cond) ? (void)0 : (void)DBAssert(__FILE__, __LINE__, #cond))
#define QX_ASSERT_MSG(cond, msg) ((cond) ? (void)0 : (void)DBAssert(__FILE__, __LINE__, (msg)))
#define QX_REPORT_ERR(err, text) DBMgErr(__FILE__, __LINE__, (err), (text))
