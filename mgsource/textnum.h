// Text to number: every format that NumToTextFmt writes read back into a
// number of any NumType, the end of a number in a text, and the integer
// parsers with saturation.
//
// Texts are counted, not NUL-terminated: nothing past the given length is
// read.  Failed conversions store NaN into floating (and complex) results.
#pragma once
#include "extcode.h"

// Reads the whole text (trailing spaces allowed) as a number of the format
// code into a number of the type at result; 1 when it was one, else 0.
// Elapsed-time codes (200-299) read [-][[hours:]minutes:]seconds; time-stamp
// codes (512-1536) read a time and a date in the local calendar, the part
// that is missing taken from the default time (a number of defType at
// defTime; none: 0).  Complex types read "re + im i", "im i" or "r arg
// theta"; integer types and the codes 64-68 read integer text (its value is
// stored even when other characters follow); other floating-point text
// converts correctly rounded to the destination's precision.
QX_EXTERN_C int32 TextToNumFmt(const uChar* text, int32 len, int32 type, void* result, int32 code, int32 defType,
                               const void* defTime, int32 decimalPt);
// The same with the system's default decimal point.
QX_EXTERN_C int32 TextToNum(const uChar* text, int32 len, int32 type, void* result, int32 code, int32 defType,
                            const void* defTime);

// The end of the number at the start of the text (spaces, a sign, spaces,
// then "inf", "nan" without a sign, or digits with an optional decimal point
// and an exponent), or the text itself when there is none.
QX_EXTERN_C const uChar* SkipNumText(const uChar* text, int32 len, int32 decimalPt);
QX_EXTERN_C const uChar* ScanNum(const uChar* text, int32 len);

// Integer text at *cursor (leading spaces skipped; the signed decimal parser
// takes one "-" or "+"): 32-bit saturation, then pinned to the type.  The
// cursor moves past the digits when there were any.
QX_EXTERN_C int32 DecStrToNum(const uChar** cursor, int32 len, int32 type);
QX_EXTERN_C int32 UDecStrToNum(const uChar** cursor, int32 len, int32 type);
QX_EXTERN_C int32 HexStrToNum(const uChar** cursor, int32 len, int32 type);
QX_EXTERN_C int32 OctStrToNum(const uChar** cursor, int32 len, int32 type);
QX_EXTERN_C int32 BinStrToNum(const uChar** cursor, int32 len, int32 type);

// A number in plain or exponent notation at *cursor stored into the type at
// result; the cursor moves to its end.  Returns the number of characters
// read, 0 (and NaN stored) when there was no number.  RTSciStrToNum uses the
// default decimal point when the flag is set, else ".".
QX_EXTERN_C int32 SciStrToNum(const uChar** cursor, int32 len, int32 type, void* result, int32 decimalPt);
QX_EXTERN_C int32 RTSciStrToNum(const uChar** cursor, int32 len, Bool32 useSystemDecimalPt, int32 type,
                                void* result);
