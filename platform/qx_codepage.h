// Code page 1252 (the single-byte character set of every text the system
// handles) to and from Unicode, and stepping through single-byte text.
//
// Bytes 0x00-0x7F and 0xA0-0xFF are the code points of the same value;
// 0x80-0x9F follow the code page, and its five unassigned bytes (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) stand for the control code points of the same
// value, so every byte has a code point and converts back to itself.
#pragma once
#include <cstdint>

uint32_t PlatCp1252ToUnicode(uint8_t byte);
// The byte of a code point, or -1 for one the code page lacks.
int32_t PlatUnicodeToCp1252(uint32_t codePoint);
// True for the bytes that stand for control code points (0x00-0x1F, 0x7F,
// and the five unassigned bytes).
bool PlatCp1252IsControl(uint8_t byte);

// The next character after p, or p itself at the terminating NUL; the
// previous one before p, or start when p is not past it.  Every character is
// one byte unless the double-byte code page is chosen: then a lead byte
// 0x81-0xFE followed by a trail byte 0x40-0x7E or 0x80-0xFE is one character
// of two bytes.  No trail byte is a NUL, CR, LF, tab, blank, comma, colon or
// slash, so those bytes are always characters of their own.
const char* PlatCharNext(const char* p);
const char* PlatCharPrev(const char* start, const char* p);

// Test tooling: the system's code page is the double-byte one (on) or the
// single-byte one (off, the default).  Fonts made while it is on have the
// double-byte character set.
constexpr uint8_t kPlatDoubleByteCharSet = 134;
void PlatSetDoubleByteCodePage(bool on);
bool PlatDoubleByteCodePage();
