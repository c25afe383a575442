// Scan From String: values read out of a text by a format string.
//
// The format and the input are walked together: white space in the format
// skips white space in the input, literal characters and backslash codes
// must be met, and each specifier converts text into its argument.  Nothing
// at or past the end of the format or the input is read.  A value is stored
// only when its conversion succeeds; no conversion writes a value of another
// class into an argument (text-class arguments are always read as text).
#pragma once
#include "rtlib/fmtitems.h"

// The engine.  argCount 0 is the single-argument form: type is the
// argument's descriptor, defaults its default value (or null) and args its
// output.  Otherwise defaults is an array of argCount default-value pointers
// (null entries: no default; a null array: no defaults at all) and args the
// FmtArgList, whose error index is 0 after a success and the number of the
// failing specifier after a failure.  Returns the count of input bytes left
// unconsumed (after a failure of the multi-argument form, those from the
// start of the failed conversion; of the single-argument form, the whole
// input).
int32 ScanFormatted(const TypeDescriptor* type, const uChar* format, int32 formatLength, const uChar* input,
                    int32 inputLength, const void* defaults, void* args, int32 argCount);

// The single-argument node: one value scanned from the start of the input
// by the format ("%s" for a string, 0x37 or path argument, "%g" for others
// when it is empty); *remainingOut (a data-zone handle, made when null)
// receives the unconsumed tail.  The input may lie in *remainingOut.
// Returns 0 or the memory error.
QX_EXTERN_C MgErr FormatStrip(int32 inputLength, const uChar* inputBytes, const TypeDescriptor* type,
                              const void* defaultValue, void* output, int32 formatLength, const uChar* formatBytes,
                              LStrHandle* remainingOut);

// The multi-argument node: scans input from offset.  Returns 0; -1 for an
// offset below 0 or past the input, or argCount below 1; the negated check
// code (-81 to -84) of a non-empty format; -85 when the scan failed (the
// list's error index names the specifier).  *remainingOut (when given)
// receives the unconsumed tail, *offsetPastOut (when given) the input length
// less the unconsumed count.  context is not used.
QX_EXTERN_C int32 DoScanfNode(void* context, LStrHandle format, LStrHandle input, LStrHandle* remainingOut,
                              int32 offset, int32* offsetPastOut, int32 argCount, const void* const* defaults,
                              FmtArgList* args);

// The length of the complex-number text at the start of text ("re", "re +
// im i", "re - im i" or "im i", blanks around the sign and before "i"), 0
// when there is none.
QX_EXTERN_C int32 ScanComplexText(const uChar* text, int32 length, int32 decimalSeparator);
