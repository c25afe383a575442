// Object-manager ids: the part of a refnum TD (code 0x70) of kinds 6 to 10
// that says what the refnum refers to.  The id starts at the refnum's kind
// word (the class word), 4 bytes into the TD:
//   class 6 or 10: a Pascal string (class or type name)
//   class 7:       the automation interface name, compared by the automation code
//   class 8:       int16 subclass; subclass 2: a complete TD; otherwise one more int16
#pragma once
#include "datatype.h"

QX_EXTERN_C uChar* TDGetOMId(const TypeDescriptor* refnumTD);

// 0 when equal; 0x4000 when the class words differ; 64 when the contents differ.
QX_EXTERN_C int32 OMIdCmp(const uChar* a, const uChar* b);

// The automation comparison of two class-7 ids: 0 when equal, else non-zero.
// Until the automation code installs its own, the interface names are compared
// byte for byte (0 equal, else 1).  Null restores that default; the former
// procedure is returned.
typedef int32 (*OMIdAutoCmpProc)(const uChar* a, const uChar* b);
OMIdAutoCmpProc SetOMIdAutoCmpProc(OMIdAutoCmpProc proc);
