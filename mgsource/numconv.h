// Numbers of every NumType: conversion between the types, and number to text
// in the system's formats (decimal, unsigned, hexadecimal, octal, binary,
// fixed, exponent, engineering, elapsed time, time stamp, complex, polar).
//
// Numbers in memory are in the processor's byte order.  Extended numbers are
// the 10-byte x87 format (NumSize 10); a complex number is its real part
// followed by its imaginary part, each of the type whose code is 3 less.
#pragma once
#include "extcode.h"

// NumType classes.
enum : int32 { kNumClassSigned = 0, kNumClassUnsigned = 1, kNumClassFloat = 2, kNumClassComplex = 3, kNumClassNone = 64 };

// Format codes of NumToTextFmt beyond the number-of-digits ranges.
enum : int32 {
  kNumFmtDecimal = 64,
  kNumFmtUnsigned = 65,
  kNumFmtHex = 66,
  kNumFmtOctal = 67,
  kNumFmtBinary = 68,
  kNumFmtEngFirst = 100,      // 100..162: engineering notation
  kNumFmtElapsedFirst = 200,  // 200..299: elapsed time with code - 200 decimals
  kNumFmtTimeStampFirst = 512 // 512..1536: time stamp, fields by the bits of code - 512
};

// Bits of a time-stamp code (code - 512).
enum : int32 {
  kTSFracDigitsMask = 3,  // digits of fractions of a second
  kTSShowTime = 4,
  kTS24Hour = 8,
  kTSShowSeconds = 16,
  kTSShowDate = 32,
  kTSDayFirst = 64,
  kTSShowYear = 128,
  kTSYearFirst = 256,
  kTSFourDigitYear = 512
};

// Sizes and classes of the NumType codes (the low four bits of the code).
QX_EXTERN_C int32 NumSize(int32 type);
QX_EXTERN_C int32 NumClass(int32 type);

// Converts the number at src of type srcType to dstType at dst: integers wrap,
// floating values round half to even and saturate in 8-, 16- and 32-bit
// integers (NaN gives the minimum, 0 for unsigned types); 64-bit integers
// take the integer-indefinite value out of range.  A code of 16 or more is
// reported and its low four bits are used.
QX_EXTERN_C void ConvertNum(int32 srcType, const void* src, int32 dstType, void* dst);
// The number as a signed or unsigned 32-bit integer: integers read directly
// (64-bit types give their low 32 bits), others through ConvertNum; 0 when
// there is no address.
QX_EXTERN_C int32 NumToLong(int32 type, const void* src);
QX_EXTERN_C uInt32 NumToULong(int32 type, const void* src);
// For single, double and extended numbers: 0 finite, 1 minus infinity,
// 2 plus infinity, 3 NaN.  Other types are finite.
QX_EXTERN_C int32 ClassifyFloatNumber(int32 type, const void* src);

// The nearest 32-bit integer, halves to even; beyond the range the nearest
// end of it, NaN the minimum.
QX_EXTERN_C int32 RndToNearest(float64 x);
// value rounded to the nearest multiple of increment, halves away from zero.
// An increment of 0 leaves the value as it is; a multiple beyond the 32-bit
// range is replaced by the nearest one inside it.
QX_EXTERN_C int32 RndToInc(int32 value, int32 increment);
// low when high is not above low, else value clamped to [low, high].
QX_EXTERN_C int32 Pin(int32 value, int32 low, int32 high);
// Stores constant index (0 NaN, 1 +infinity, 2 -infinity, 3 pi, 4 pi/2,
// 5 2 pi) as a double (type 10) or an extended (type 11); 0 when stored,
// 1 for any other index or type.
QX_EXTERN_C int32 GetConstant(int32 index, int32 type, void* dst);

// Writes the number at src (type, format code) as a NUL-terminated text of
// at most capacity - 1 characters; returns its length.  The decimal point is
// the given character.  NumToText uses the system's default decimal point.
QX_EXTERN_C int32 NumToTextFmt(const void* src, int32 type, int32 code, char* out, int32 capacity, int32 decimalPt);
QX_EXTERN_C int32 NumToText(const void* src, int32 type, int32 code, char* out, int32 capacity);
// The integer forms of NumToTextFmt (codes 64 to 99: 65 unsigned, 66
// hexadecimal, 67 octal, 68 binary, the others signed decimal, unsigned types
// in unsigned decimal) of a number that is not complex, NUL-terminated into
// out (kNumIntegerTextRoom bytes); returns the length.  The same text as
// NumToTextFmt, without its work of other forms.
enum : int32 { kNumIntegerTextRoom = 40 };
int32 NumToIntegerText(const void* src, int32 type, int32 code, char* out);

// Digits without leading zeros or prefix, NUL-terminated; they return the
// length.  Room needed: 12, 12, 8, 12 and 32 characters plus the NUL.
QX_EXTERN_C int32 NumToDecStr(int32 value, char* out);
QX_EXTERN_C int32 NumToUDecStr(uInt32 value, char* out);
QX_EXTERN_C int32 NumToHexStr(uInt32 value, char* out);
QX_EXTERN_C int32 NumToOctStr(uInt32 value, char* out);
QX_EXTERN_C int32 NumToBinStr(uInt32 value, char* out);
// The upper-case hexadecimal digit of the low four bits.
QX_EXTERN_C int32 HexChar(int32 value);

// The system's default decimal point: '.' until start-up.  NumInitDecimalPt
// makes it the environment's numeric-locale separator when the boolean key
// "useLocaleDecimalPt" is true, else '.'.
uChar NumDefaultDecimalPt();
void NumInitDecimalPt();
// The time and date separators of elapsed times and time stamps, ':' and '/'
// until the shell sets them from the locale.
uChar NumTimeSeparator();
uChar NumDateSeparator();
void NumSetSeparators(uChar timeSep, uChar dateSep);
