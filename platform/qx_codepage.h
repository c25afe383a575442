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

// Every character is one byte: the next character after p, or p itself at
// the terminating NUL; the previous one before p, or start when p is not
// past it.
const char* PlatCharNext(const char* p);
const char* PlatCharPrev(const char* start, const char* p);
