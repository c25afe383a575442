// Images from picture files and images put on the clipboard.
//
// Picture files are untrusted: every header, count, offset and length is
// checked against the file's size before it is used, and a file that does
// not hold what it claims gives 16 without an image.
#pragma once
#include <vector>

#include "mgsource/extcode.h"
#include "mgsource/path.h"

// A new image of a picture file: an enhanced, plain or placeable metafile,
// or a clipboard file's metafile, as a metafile image (kind 16); a 1-, 4-,
// 8- or 24-bit bitmap file as a picture of one pixel block (kind 9).  16
// when nothing in it reads, else the error of making the image; with alert
// a failure is shown to the operator.
QX_EXTERN_C MgErr IGetFile(Path path, int32* image, Bool32 alert);
// The same for bytes already read.
MgErr IImageFromFileBytes(const uInt8* bytes, int32 size, int32* image);

// The alert of a failed import (the text as a C string); the shell
// installs its one-button alert, the default is the platform's.
typedef void (*IImportAlertProc)(const char* text);
IImportAlertProc ISetImportAlertProc(IImportAlertProc proc);
extern const char kImportAlertText[];

// Puts a pixmap (a bitmap, and the system palette at 8 bits or fewer) or a
// metafile image on the clipboard; other kinds leave it empty.  0, 42 when
// the clipboard cannot be opened, 2 when a copy cannot be made.
QX_EXTERN_C MgErr ISetClipboard(int32 image);
// Images are not read from the clipboard: id 0 and 7.
QX_EXTERN_C MgErr IGetClipboard(int32* image);
