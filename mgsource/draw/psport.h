// The PostScript port: while a print page (image kind 14) is the drawing
// target, every drawing call appends PostScript text to the page's spool
// file; closing the page sends the whole file to the printer through the
// pass-through escape, in chunks, and ends the page.
//
// Output conventions: every line ends in one carriage return (13), never a
// line feed; integers are written as decimal, coordinates from floats with
// two decimals and colour components with four, always with a decimal
// point; rectangles go out as left, top, right, bottom.  The prolog's page
// matrix maps the system's coordinates (points, vertical axis downwards)
// onto the printable area.
//
// One page at a time, on the user-interface thread.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dport.h"
#include "mgsource/extcode.h"
#include "mgsource/filemgr.h"
#include "platform/qx_drawobj.h"

// The job errors this writer sets: the printer refused a step or the
// pass-through data, and a spool-file failure.
constexpr MgErr kPSDriverErr = 31;
constexpr MgErr kPSPrintErr = 35;

// Spool-file pieces sent with one pass-through escape, at most.
constexpr int32 kPSChunkBytes = 32000;

// The printer the pages go to, given by the print manager when a job
// starts: its device context (start-page, end-page and pass-through), the
// job's error word (errors are also kept by PSJobError), and whether the
// host is of the NT family (page matrix and the final showpage test).
struct PSPrinter {
  PlatObj dc;
  MgErr* jobError;
  Bool32 windowsNT;
};
// Null: no printer (the page steps that need one set error 31).
void PSSetPrinter(const PSPrinter* printer);
// The last job error this writer set since PSClearJobError (0: none).
MgErr PSJobError();
void PSClearJobError();

// The global state of the writer.
struct PSContext {
  int32 currentPen;        // pen last written; 0 none, 1 the normal pen
  Bool32 noPen;            // the normal pen is transparent: shapes only move
  Bool32 pattern;          // the selected pen has a pattern other than solid
  char patternOps[256];    // fillpat's operands after the rectangle
  Bool32 sectionActive;
  float32 sectionH;        // translation of the open section
  float32 sectionV;
  float32 sectionScale;
  Rect sectionClipSave;    // the clip the section put aside
  // What the pen last written set (valid while currentPen is not 0).
  DColor writtenFore;
  DColor writtenBack;
  int32 writtenStyle;
  int32 writtenWidth;
  DColor normColour;       // the normal pen's recorded colour
};
extern PSContext gPSContext;

// Page cycle (image: a kind-14 page whose PageInfo holds the spool file and
// the print record).
// Cuts the spool file, starts the printer's page and writes the prolog.
void PSOpenPage(int32 image);
// PSClose without restart, then end-page.
void PSClosePage(int32 image);
// Sends the spool file to the printer; with restart the page goes on with a
// fresh prolog, its section, clip and pen written again.
void PSClose(FileRef file, Bool32 restart);
// Scaled sections: drawing between them is scaled about (left, top).
void PSBeginSection(float32 scale, int32 top, int32 left);
void PSEndSection();
// Appends a C string (its line end included) to the page's spool file.
void PSWriteLine(const char* line);

// The prolog, the fonts and text.
void PSWritePrologue(int32 image);
// Writes an AssignFont line for the font unless it is the one last assigned.
void PSSetFont(int32 font);
// The text as the body of a PostScript string in a new application-zone
// pointer (the caller disposes it), its length in *length; null when memory
// is short.  Tabs become blanks; "(", ")" and "\" get a backslash; bytes of
// 128 and above become a backslash and their octal value.
UPtr PSEscapeText(const uChar* text, int32* length);

// The PostScript family and variant suffix of a face name, style and
// weight, as PSSetFont names a font ("Times" + "-BoldItalic").
void PSFontName(const char* face, int32 faceLength, int32 style, int32 weight, char out[64]);

// Bit maps.  Rows of the bits are those of the system's format at the
// depth (PSRowBytes); a set bit of a 1-bit map or mask is black (opaque).
// The bytes of one source row: 2 x width at depth 16, 3 x width at 24,
// 4 x width at 32, else (width x depth + 15) / 16 x 2 (0 for a width
// below 1 or too large).
int32 PSRowBytes(int32 depth, int32 width);
// Reads the pixel at column from *cursor and advances the cursor past it:
// depth 4 a nibble (high for even columns), other depths up to 8 a byte,
// both returning table[index]; 16 five bits each of red, green and blue
// widened by repeating their top bits; 24 red, green, blue; 32 a skipped
// byte, then red, green, blue.  With grey a colour of depth above 8 is
// made a grey level (R/4 + R/8 + G/2 + B/8).  Other depths are reported
// and give 0.
uInt32 PSPixel(int32 depth, const uInt8** cursor, int32 column, const uInt32* table, Bool32 grey);
// A 1-bit mask over the bits, rowBytes apart.
struct PSMask {
  const uInt8* bits;
  int32 rowBytes;
};
// Writes srcRect (null: all) of the bit map that covers bitsRect into
// destRect of the page: depth 1 as imagemask in fore and back (transparent
// draws nothing), deeper maps as grey image samples, or RGB colorimage
// samples with level-2 printing; masked by mask when given.  table: count
// colours for pixel values 0 .. count - 1 at depths up to 8 (the system's
// table for those it does not give).  A source part reaching past the bits
// is cut to them; an empty destination writes nothing.
void PSCopyImage(const uInt8* bits, const DColor* table, int32 count, const Rect* srcRect, const Rect* bitsRect,
                 const Rect* destRect, DColor fore, DColor back, const PSMask* mask, int32 depth);
