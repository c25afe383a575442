// The token scanner: the next token of a string from an offset, for diagrams
// that parse text into words and operators.
//
// Tokens are separated by delimiters (a list of strings, or white space when
// there is none) and by operators (strings that are tokens by themselves and
// also end the token before them).  Operators may hold "%" codes: "%b",
// "%d", "%o", "%x" (binary, decimal, octal, hexadecimal integers), "%e",
// "%f", "%g" (floating-point numbers with "." as the decimal point), in
// either case; "%s" an identifier (a letter or "_", then letters, digits and
// "_"); "%%" a "%"; "%" and any other character those two characters; a
// final "%" a "%".
#pragma once
#include "mgsource/extcode.h"

// An array of strings as diagrams hold it: the count, then the handles (a
// null handle is the empty string).
struct LStrArray {
  int32 dimSize;
  LStrHandle elt[1];
};
typedef LStrArray** LStrArrayHandle;
static_assert(sizeof(LStrArray) == 8 && offsetof(LStrArray, elt) == 4, "string array layout");

// The cache record a diagram keeps between calls.  Each handle is a
// data-zone array of 32-bit integers (its count, then the elements):
// - operatorOrder: the operators' indexes, those without "%" first, sorted
//   by text, then those holding "%" in list order;
// - delimiterOrder: the delimiters' indexes sorted by text;
// - firstChars: 256 entries for the operators, 256 for the delimiters (1 +
//   the position in the order of the first string beginning with that byte,
//   0 for none), then the two list counts and a checksum of the lists and of
//   the cache itself;
// and firstCodeOperator is the position in operatorOrder of the first
// operator holding "%".  A cache whose counts or checksum differ from the
// lists of the call is built again; handles that are not live data-zone
// handles are replaced, never read.
struct TokenizeCache {
  UHandle operatorOrder;
  UHandle delimiterOrder;
  UHandle firstChars;
  int32 firstCodeOperator;
};
static_assert(sizeof(TokenizeCache) == 16 && offsetof(TokenizeCache, firstCodeOperator) == 12,
              "token cache layout");
enum : int32 { kTokenTableEntries = 2 * 256 + 3 };

// Takes the token at *offset.  On return *offset is the offset just after
// the token, or -1 at the end; *tokenIndex is the index of the operator that
// forms the token, -1 for any other token (also the empty token between two
// delimiters when useAllDelimiters is set), -2 when no token was found.
// Returns 0, 1 for a string or list handle that is not a live data-zone
// handle (nothing written), or the error of the token string.  With a cache
// that has to be built the token is still taken, and the result is 1 when
// there are no lists to build it from or the memory error.
QX_EXTERN_C MgErr TokenizeString(LStrHandle string, LStrArrayHandle delimiters, LStrArrayHandle operators,
                                 int32* offset, Bool32 useAllDelimiters, LStrHandle* tokenOut,
                                 int32* tokenIndex, TokenizeCache* cache);
