// VISA resource names and find expressions from diagrams, through the
// library's parser and matcher (compiled in).  Each input is copied into a
// buffer of its exact size, so a read past the text is caught.  Invariants:
// an accepted name has its board, addresses and port inside their ranges
// and a host of host characters; a refused name leaves nothing (no kind, so
// nothing is opened); an accepted GPIB name parses back the same from its
// description; an expression without "?" or "*" matches exactly the texts
// equal to it without regard to case; "?*" matches every text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/instr/visarsrc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  qxvisa::Rsrc r;
  bool ok = qxvisa::ParseRsrc(text.data(), text.size(), &r);
  if (!ok) {
    Check(r.kind == qxvisa::kRsrcNone && r.host.empty() && r.port == 0);
  } else if (r.kind == qxvisa::kRsrcGPIB) {
    Check(r.board <= qxvisa::kMaxRsrcBoard && r.primary <= qxvisa::kMaxRsrcAddress);
    Check(r.secondary >= -1 && r.secondary <= int32_t(qxvisa::kMaxRsrcAddress));
    std::string d = qxvisa::GPIBDescription(r.board, r.primary, r.secondary);
    qxvisa::Rsrc again;
    Check(qxvisa::ParseRsrc(d.data(), d.size(), &again));
    Check(again.kind == r.kind && again.board == r.board && again.primary == r.primary &&
          again.secondary == r.secondary);
  } else {
    Check(r.kind == qxvisa::kRsrcTCPSocket && r.port >= 1 && r.port <= 65535 && r.board <= qxvisa::kMaxRsrcBoard);
    Check(!r.host.empty() && r.host.size() <= qxvisa::kMaxRsrcText);
    for (char c : r.host) Check(c != ':' && c != '\0');
  }

  // The first byte splits the rest into an expression and a text.
  if (size < 1) return 0;
  size_t split = data[0] % size;
  std::vector<char> expr(data + 1, data + 1 + split), subject(data + 1 + split, data + size);
  int32_t m = qxvisa::MatchExpr(expr.data(), expr.size(), subject.data(), subject.size());
  Check(m == qxvisa::kMatchBad || m == qxvisa::kMatchNo || m == qxvisa::kMatchYes);
  bool plain = !expr.empty() && expr.size() <= qxvisa::kMaxRsrcText &&
               !std::memchr(expr.data(), '\0', expr.size()) && !std::memchr(expr.data(), '?', expr.size()) &&
               !std::memchr(expr.data(), '*', expr.size());
  if (plain) {
    bool equal = expr.size() == subject.size();
    for (size_t i = 0; equal && i < expr.size(); ++i) equal = Lower(expr[i]) == Lower(subject[i]);
    Check(m == (equal ? qxvisa::kMatchYes : qxvisa::kMatchNo));
  }
  Check(qxvisa::MatchExpr("?*", 2, subject.data(), subject.size()) == qxvisa::kMatchYes);
  return 0;
}
