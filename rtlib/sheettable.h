// Arrays as spreadsheet text and back: one line per row, the elements of a
// row formatted with one format and separated by a delimiter; arrays of
// three or more dimensions page by page, each page (the last two
// dimensions) headed by a line of its indices and followed by an empty line.
//
// Lines are written with the system's line end, CR LF; read, a line ends at
// CR, LF or CR LF.  The default format is "%s" for string elements (code
// 0x30) and "%g" for others, the default delimiter a tab.
#pragma once
#include "engine/datamgr.h"
#include "engine/datasupp.h"

// Writes the array as text into *out (a data-zone handle, made when null).
// array is the array's data, per dimension outermost first a size and a
// byte stride; elementType is the descriptor of the array or array view
// (code 0x40 or 0x4F), whose dimension count and element type are used.
// A 1-D array is one line, a 2-D array one line per row; from three
// dimensions on each page is preceded by "[" i0 ", " i1 ", " ... "]" with
// the page's indices (the last two 0) and followed by an empty line.
// Returns 0; 1 for a missing argument or a descriptor that is no array;
// 2 when the element count overflows, the text would pass 2^31 bytes or
// memory is short (the output then unchanged).  The output is resized at
// most twice.
QX_EXTERN_C MgErr ArrayToTable(const ArrayViewData* array, const TypeDescriptor* elementType, int32 formatLength,
                               const uChar* format, LStrHandle* out, int32 delimiterLength, const uChar* delimiter);

// Reads text written that way into *out, an array handle of the array type
// (code 0x40), made when null.  The last dimension is the largest number of
// fields in a line, the one before the number of rows (of a page, from
// three dimensions on: the rows before the first empty line); the page
// dimensions are one more than the largest index their headers give.  Each
// field is scanned into its element with the format; elements that get no
// field are empty.  A 1-D array holds the fields of the first line, as many
// as the widest line has.  A delimiter holding CR or LF is honoured for 1-D
// arrays only.  Pages whose headers hold a negative index are not placed;
// when a page has no rows the result is the empty array.  Returns 0; 1 for
// a missing argument, an array type that is no array or an output that is
// not a live data-zone handle; 2 when the sizes overflow, the elements reach
// 0x40000000 bytes or memory is short, the output then unchanged.
QX_EXTERN_C MgErr TableToArray(int32 textLength, const uChar* text, int32 formatLength, const uChar* format,
                               const TypeDescriptor* arrayType, UHandle* out, int32 delimiterLength,
                               const uChar* delimiter);
