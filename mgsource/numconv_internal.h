// Number loads and stores shared by the conversion and formatting code.
#pragma once
#include "extcode.h"

// The 10-byte extended number at p; encodings that the processor refuses
// read as the system's NaN.
long double NumLoadExt(const void* p);
void NumStoreExt(void* p, long double x);
// The extended NaN with all mantissa bits set.
long double NumSystemNaN();
// The real part (or the value) of the number at p, exactly for integers.
long double NumLoadReal(int32 type, const void* p);
// The imaginary part of a complex number (0 for other types).
long double NumLoadImag(int32 type, const void* p);
// Stores x to a real or integer type by ConvertNum's rules.
void NumStoreReal(int32 type, void* p, long double x);
