// Conversions of the X11 display, shared with its tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qxx11 {

// Code page 1252 and UTF-8; characters outside code page 1252, and bytes
// that are no UTF-8, become "?".
std::string Cp1252ToUtf8(const std::string& in);
std::string Utf8ToCp1252(const std::string& in);
// Line ends between the native CR LF and the X selections' LF.
std::string CrLfToLf(const std::string& in);
std::string LfToCrLf(const std::string& in);
// The virtual key of a keysym (0 for none); extended for keypad Enter, the
// navigation block and keypad Divide.
uint32_t VkOfKeysym(unsigned long keysym, bool* extended);
// The character of what XLookupString gave (Latin-1) in code page 1252;
// 0 for none.
int32_t CharOfLatin1(const char* buf, int n);

// Where a visual keeps red, green and blue.
struct Masks {
  int rShift = 16, rBits = 8, gShift = 8, gBits = 8, bShift = 0, bBits = 8;
  bool direct = true;  // 0xFF0000, 0xFF00, 0xFF: surface words go out as they are
};
Masks MasksOf(unsigned long red, unsigned long green, unsigned long blue);
// A surface pixel (0xFFRRGGBB) as the visual's pixel value.
uint32_t ConvertPixel(const Masks& k, uint32_t argb);

// A rectangle of changed pixels, client coordinates.
struct Band {
  int32_t left, top, right, bottom;
};
// Compares the pixels now drawn with those last shown (both width x height),
// copies the changes into shown and returns the changed bands: runs of
// changed rows with the union of their changed columns.
std::vector<Band> ChangedBands(const uint32_t* now, uint32_t* shown, int32_t width, int32_t height);

// A cursor as the planes of an X pixmap cursor, 32 x 32, rows of 4 bytes,
// the low bit of each byte leftmost: source 1 paints black, 0 white; mask 0
// shows the screen.  Screen pixels the cursor inverts become black.  False
// for an invalid cursor.
bool CursorPlanes(uint32_t cursor, std::vector<uint8_t>* source, std::vector<uint8_t>* mask);

// The alert as a modal window of the display's own dialog class; off the
// window thread it is answered as the headless one is.
int32_t ShowAlert(const char* title, const char* text, int32_t buttons, int32_t icon);

}  // namespace qxx11
