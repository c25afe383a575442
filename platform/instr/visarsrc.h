// Resource names and find expressions of the VISA library.  Both come from
// diagrams and are untrusted: nothing past the given length is read.
//   GPIB[<board>]::<primary>[::<secondary>]::INSTR   board 0-999, addresses 0-30
//   TCPIP[<board>]::<host>::<port>::SOCKET           host a name or dotted IPv4, port 1-65535
// Keywords are matched in any case; anything else is no resource.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qxvisa {

enum RsrcKind : int32_t { kRsrcNone = 0, kRsrcGPIB = 1, kRsrcTCPSocket = 2 };
constexpr uint32_t kMaxRsrcBoard = 999;
constexpr uint32_t kMaxRsrcAddress = 30;
constexpr size_t kMaxRsrcText = 255;

struct Rsrc {
  int32_t kind = kRsrcNone;
  uint32_t board = 0;
  uint32_t primary = 0;
  int32_t secondary = -1;  // -1 none
  std::string host;
  uint32_t port = 0;
};

// Parses the len bytes at name.  True with *r filled; false (and *r
// cleared) for a name that is none of the forms, holds a NUL, or is longer
// than kMaxRsrcText.
bool ParseRsrc(const char* name, size_t len, Rsrc* r);

// The description a find lists for a bus device: "GPIB<b>::<p>[::<s>]::INSTR".
std::string GPIBDescription(uint32_t board, uint32_t primary, int32_t secondary);

enum MatchResult : int32_t { kMatchBad = -1, kMatchNo = 0, kMatchYes = 1 };
// Matches the whole text against a find expression, without regard to
// case: "?" is any one character, "*" any run (none included) of the item
// before it, every other character itself.  kMatchBad for an expression
// that is not one: empty, longer than kMaxRsrcText, holding a NUL, or a "*"
// with no item before it.
int32_t MatchExpr(const char* expr, size_t exprLen, const char* text, size_t textLen);

}  // namespace qxvisa
