// Regular patterns of diagrams: compiled once into a compact byte code
// (MakePattern) and matched against a text from an offset (MatchPattern),
// which splits the text into what lies before the match, the match and what
// follows it.  LexClass classifies 7-bit characters for the ranges of
// character classes.
//
// A compiled pattern is a data-zone long string holding atoms back to back
// and a final 0 byte, which its count includes.  An atom is an opcode byte
// and its operands; the low three bits of the literal, any-character and
// class opcodes carry the quantifier.
#pragma once
#include "mgsource/extcode.h"

enum : uChar {
  kPatEnd = 0x00,
  kPatEndAnchor = 0x20,    // the end of the input
  kPatAny = 0x28,          // any character
  kPatClass = 0x30,        // a length byte L, then L - 1 class bytes
  kPatStartAnchor = 0x58,  // "X": only as the first byte
  kPatLiteral = 0x60,      // then the character
  kPatStar = 1,            // zero or more
  kPatPlus = 2,            // one or more
  kPatOptional = 4,        // zero or one
};

// The class of a character: 0 above 127 (and below 0); 1 control
// characters, 2 white space (9 to 13 and the space), 3 digits, 4 upper-case
// and 5 lower-case letters, 6 the other printable characters.
QX_EXTERN_C int32 LexClass(int32 c);

// Compiles the pattern text into *compiled, a data-zone handle made when
// null, else first resized to 2 * patternLength + 10 bytes, and at the end
// cut to the compiled pattern.  Returns 0, 2 when the handle cannot be made,
// or the resize error.  A class of 255 or more characters cannot be told by
// its length byte: it is refused with 1, leaving an empty compiled pattern
// (count 0), which matches nothing.
QX_EXTERN_C MgErr MakePattern(int32 patternLength, const uChar* patternBytes, LStrHandle* compiled);

// Finds the first match of the compiled pattern in the input at or after
// offset (a negative offset counts as 0): the leftmost start, each
// quantifier greedy in pattern order.  On a match *before is the input up to
// the match, *match the match, *after the rest, and *offsetPast the index
// just after the match; without one *before is the whole input, the other
// two are empty and *offsetPast is -1.  Each output string is made when
// null.  A compiled pattern that is not well formed matches nothing.
// Returns 0, or the error of an output string that could not be set.
QX_EXTERN_C MgErr MatchPattern(LStrHandle compiled, int32 inputLength, const uChar* inputBytes, int32 offset,
                               LStrHandle* before, LStrHandle* match, LStrHandle* after, int32* offsetPast);
