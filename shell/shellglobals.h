// What start-up sets up for drawing and for compiled code: the shell's
// standard pens, the panel's built-in pictures (the glyph sub-images, the
// stored control images), the shell's font slots and the block of run-time
// globals.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"

// The glyph bitmap and its rectangle list.
enum : int32 {
  kGlyphImageId = 129,
  kGlyphRectListId = 129,
  kGlyphCount = 94,
  kGlyphDefaultCount = 10,  // the count assumed without a rectangle list
  kGlyphPictBase = 2000,
  kStoredImageFirst = 140,
  kStoredImageCount = 29,
  kStoredPictBase = 7000,
  kListboxSymbolBase = 10000,
  kShellPenCount = 17,
  kShellFontSlots = 3,
};

// A rectangle list resource: a big-endian 16-bit count, then one rectangle
// of four big-endian 16-bit fields (top, left, bottom, right) per entry.
// Reads at most max rectangles that lie within size bytes; *stored is the
// count the resource states.  0, or 1 when the stated count runs past the
// bytes (the rectangles that fit are still read; *read says how many).
MgErr ShellReadRectList(const uChar* bytes, int32 size, Rect* rects, int32 max, int32* stored, int32* read);

// The shell's standard pens, in the order they are made (0 before start-up).
// The last three are the dithered pens of the gradient fill on palette
// ports: 1/8, 1/4 and 1/2 of their pattern bits set.
enum : int32 { kShellBlendPenFirst = 14 };
inline constexpr uChar kShellBlendPatterns[3][8] = {
    {0x80, 0x08, 0x40, 0x04, 0x20, 0x02, 0x10, 0x01},
    {0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22},
    {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55},
};
void InitPens();
void DisposePens();
int32 ShellPen(int32 index);

// The glyph sub-images cut from image 129 by rectangle list 129, the four
// panel pictures, the menu check mark, the control pictures and the stored
// control images 140 to 168, the listbox symbols; each table entry is
// handed to the panel.  Failures are reported; start-up goes on.
void InitPanelImages(RsrcFileRef file);
void DisposePanelImages();
// The image of glyph n (0 to 93), 0 when it was not made.
int32 ShellGlyphImage(int32 n);
// The four panel pictures: glyphs 51, 52, 49 and 50.
int32 ShellPanelPict(int32 which);
int32 ShellStoredImage(int32 n);

// The three font slots take the font manager's three standard fonts; the
// text mode becomes 3.
void InitFontGlobals();
int32 ShellFont(int32 slot);
int32 ShellTextMode();

// Clears the flag that a VI runs (the engine state the main loop's idle
// procedure reads) and fills the block of run-time globals: the loaded-VI
// list's head, the font record, the application version.
void InitShellGlobals(uInt32 appVersion);
void DisposeShellGlobals();
