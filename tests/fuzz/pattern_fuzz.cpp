// Patterns and texts from diagrams: compiled and matched, and the raw bytes
// matched as a compiled pattern.
//
// Input: byte 0 the offset (signed), bytes 1-2 the pattern's length L
// (little-endian), then L bytes of pattern and the rest as the text.  The
// compiled pattern is well formed and no longer than the compiler's buffer;
// a match splits the text into before, match and after at a start not before
// the offset; a pattern that is not well formed matches nothing; on short
// patterns and texts (also the text's first 8 bytes) the result is the one a
// plain backtracking matcher finds.  The input after its first three bytes,
// taken as a compiled pattern, is matched against the text's first 8 bytes
// the same way.  No report is made and nothing is left behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_strings.h"
#include "fuzz_support.h"
#include "rtlib/pattern.h"
#include "tests/rtlib/pattern_reference.h"

namespace {

std::string Text(LStrHandle h) { return std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)); }

// Matches code against text and holds the outputs to the rules and, when
// both are short, to the plain matcher.
void MatchAndCheck(LStrHandle code, const std::string& text, int32 offset) {
  LStrHandle before = nullptr, match = nullptr, after = nullptr;
  int32 past = -7;
  FUZZ_CHECK(MatchPattern(code, int32(text.size()), reinterpret_cast<const uChar*>(text.data()), offset, &before,
                          &match, &after, &past) == kNoErr);  // match result
  std::string b = Text(before), m = Text(match), a = Text(after);
  if (past < 0) {
    FUZZ_CHECK(past == -1 && b == text && m.empty() && a.empty());
  } else {
    FUZZ_CHECK(b + m + a == text);
    FUZZ_CHECK(past == int32(b.size() + m.size()));
    FUZZ_CHECK(int32(b.size()) >= (offset < 0 ? 0 : offset));
  }
  std::string bytes = Text(code);
  if (!rttest::WellFormed(bytes)) FUZZ_CHECK(past == -1);
  if (text.size() <= 8 && bytes.size() <= 16) {
    std::pair<int, int> want = rttest::Reference{bytes, text}.Search(offset);
    FUZZ_CHECK(want.second == past);
    FUZZ_CHECK(want.first < 0 || want.first == int(b.size()));
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(before));
  DSDisposeHandle(reinterpret_cast<UHandle>(match));
  DSDisposeHandle(reinterpret_cast<UHandle>(after));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers(FuzzAbortWhenArmed);
  (void)started;
  if (size < 3 || size > 4096) return 0;
  int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  int32 offset = int8_t(data[0]);
  size_t patternLen = size_t(data[1] | data[2] << 8);
  if (patternLen > size - 3) patternLen = size - 3;
  std::string pattern(reinterpret_cast<const char*>(data + 3), patternLen);
  std::string text(reinterpret_cast<const char*>(data + 3 + patternLen), size - 3 - patternLen);

  LStrHandle code = nullptr;
  MgErr err = MakePattern(int32(pattern.size()), reinterpret_cast<const uChar*>(pattern.data()), &code);
  FUZZ_CHECK(code != nullptr);
  int32 cnt = (*code)->cnt;
  FUZZ_CHECK(DSGetHandleSize(reinterpret_cast<UHandle>(code)) == 4 + cnt);
  if (err == kArgErr) {
    // A class too long for its length byte is the only refusal.
    FUZZ_CHECK(cnt == 0 && pattern.find('[') != std::string::npos && pattern.size() >= 256);
  } else {
    FUZZ_CHECK(err == kNoErr);
    FUZZ_CHECK(cnt >= 1 && cnt <= int32(2 * pattern.size() + 6));
    FUZZ_CHECK(rttest::WellFormed(Text(code)));
  }
  MatchAndCheck(code, text, offset);
  if (text.size() > 8) MatchAndCheck(code, text.substr(0, 8), offset);
  DSDisposeHandle(reinterpret_cast<UHandle>(code));

  // The raw input as a compiled pattern from a diagram.
  LStrHandle raw = FuzzString(std::string(reinterpret_cast<const char*>(data + 3), size - 3));
  MatchAndCheck(raw, text.substr(0, 8), offset);
  DSDisposeHandle(reinterpret_cast<UHandle>(raw));

  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
