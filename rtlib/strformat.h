// Format Into String: values turned into text by a format string, appended
// to a prefix.
//
// Text is made in two passes: FormatMeasure bounds the length, the output
// handle is sized once to the bound, FormatWrite writes, and the handle is
// shrunk to what was written.  The bound covers everything the writer can
// write (field widths, signs, literal text and units included), and the
// writer never writes past the room it is given.
#pragma once
#include "rtlib/fmtitems.h"

// The single-argument form: prefix followed by the value formatted by the
// first specifier of the format ("%s" for a string or 0x37 value, "%g" for
// any other, when the format is empty); later specifiers are copied as
// text.  No check runs: strings and paths are written as text under any
// conversion, a number under "s" or a scan set in the exponent form and under
// any conversion but the integer ones, "e" and "g" in the fixed form.  The
// result replaces *out (a data-zone handle, made when null).  The prefix or
// the format may lie inside *out.  Returns 0 or the memory error (2 also for
// a text that could reach 1 GB, the limit of any array; *out then empty).
QX_EXTERN_C MgErr FormatConcat(int32 prefixLength, const uChar* prefixBytes, const TypeDescriptor* type,
                               const void* data, int32 formatLength, const uChar* formatBytes, LStrHandle* out);

// The multi-argument form: a non-empty format is checked first, a check
// error empties *out and comes back negated (-81 to -84); an empty format is
// the default one of MakeDefaultFormat.  *out receives initialString (which
// may be *out itself) followed by the text.  Returns 0, 1 without out, or 2
// when memory fails or the text could reach 1 GB (the output then empty).
// context is not used.
QX_EXTERN_C MgErr DoPrintfNode(void* context, LStrHandle format, LStrHandle initialString, LStrHandle* out,
                               int32 argCount, FmtArgList* args);

// The bound of the text the format writes.  argCount 0 is the single-argument
// form (the value of type at data); otherwise data is the FmtArgList and type
// is not used.  A bound beyond the 32-bit range gives kFmtMaxCount.
int32 FormatMeasure(const TypeDescriptor* type, const void* data, const uChar* format, int32 formatLength,
                    int32 argCount);
// Writes the text at destination, never more than room bytes; returns the end
// of what was written, or null when the temporary text of a path cannot be
// allocated.  Text that does not fit is reported and left out.
uChar* FormatWrite(const TypeDescriptor* type, const void* data, const uChar* format, int32 formatLength,
                   uChar* destination, int32 room, int32 argCount);

// The default format of a multi-argument call: "%s " for strings, 0x37,
// paths, booleans and enums, "%d " for integer codes (below 9 with the unit
// bit 0x10 cleared), "%f " for the rest, the last space dropped, cut at 255
// characters.  Writes it into text (256 bytes) and returns its length.
int32 MakeDefaultFormat(int32 argCount, const FmtArgList* args, uChar* text);
enum : int32 { kFmtDefaultFormatMax = 255 };
