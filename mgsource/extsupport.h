// Character, C-string, integer and floating-point routines for external code
// modules, which may call them in place of a C library of their own; the
// managers use them too.
#pragma once
#include "extcode.h"

// One routine behind five exported panel-editing entry points that a run-time
// system doesn't offer: it ignores its arguments and answers 53 (capability
// not supported).
QX_EXTERN_C MgErr CINStub(...);
QX_EXTERN_C MgErr CINCopyWizardTemplate(...);
QX_EXTERN_C MgErr CINGetHeapVIPath(...);
QX_EXTERN_C MgErr CINGetObjType(...);
QX_EXTERN_C MgErr CINGetWizardData(...);
QX_EXTERN_C MgErr CINSetWizardData(...);

// Integers.
QX_EXTERN_C int32 Abs(int32 i);
// a mod b, never negative; 0 when b is 0 or the division overflows.
QX_EXTERN_C int32 ModPositive(int32 a, int32 b);
QX_EXTERN_C int32 Min(int32 a, int32 b);
QX_EXTERN_C int32 Max(int32 a, int32 b);

// Characters.  The case routines convert bytes 0-255 through the code-page
// tables; every other value comes back unchanged.
QX_EXTERN_C Bool32 IsDigit(int32 c);
QX_EXTERN_C Bool32 IsAlpha(int32 c);
QX_EXTERN_C Bool32 IsPunct(int32 c);
QX_EXTERN_C Bool32 IsLower(int32 c);
QX_EXTERN_C Bool32 IsUpper(int32 c);
QX_EXTERN_C int32 ToLower(int32 c);
QX_EXTERN_C int32 ToUpper(int32 c);

// C strings.  Comparisons return the difference of the first differing
// characters (as unsigned bytes); when a ends first, minus b's next
// character; when b ends first, 1.
QX_EXTERN_C int32 StrLen(ConstCStr s);
QX_EXTERN_C CStr StrCpy(CStr dst, ConstCStr src);
QX_EXTERN_C int32 StrCat(CStr dst, ConstCStr src);  // the new length
QX_EXTERN_C CStr StrNCpy(CStr dst, ConstCStr src, int32 n);
QX_EXTERN_C int32 StrCmp(ConstCStr a, ConstCStr b);
QX_EXTERN_C int32 StrNCmp(ConstCStr a, ConstCStr b, int32 n);
QX_EXTERN_C Bool32 StrEqual(ConstCStr a, ConstCStr b);
QX_EXTERN_C Bool32 StrNEqual(ConstCStr a, ConstCStr b, int32 n);
// Case ignored; the terminating NUL takes part in the comparison.
QX_EXTERN_C int32 StrCaseCmp(ConstCStr a, ConstCStr b);
// At most n characters, case ignored (both characters lowered when they
// differ); 0 when equal over n characters.
QX_EXTERN_C int32 StrNCaseCmp(ConstCStr a, ConstCStr b, int32 n);
QX_EXTERN_C Bool32 StrNCaseEqual(ConstCStr a, ConstCStr b, int32 n);

// Floating point.
QX_EXTERN_C void SinCos(float64 x, float64* sinOut, float64* cosOut);
QX_EXTERN_C Bool32 IsInfD(float64 x);
QX_EXTERN_C Bool32 IsNaND(float64 x);
QX_EXTERN_C float64 LogOnePlus(float64 x);  // ln(1 + x), exact for small x
