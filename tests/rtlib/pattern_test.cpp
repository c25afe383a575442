// The pattern compiler and matcher: the compiled bytes, the matches of the
// documented cases, character classes, the outputs, compiled patterns that
// are not well formed, and agreement with a plain backtracking matcher.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "pattern_reference.h"
#include "rtlib/pattern.h"
#include "strings_test_support.h"

namespace {

using rttest::Dispose;
using rttest::NewString;
using rttest::Text;

class PatternTest : public qxtest::EngineTest {};

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += char(c);
  return s;
}

std::string Compile(const std::string& pattern, MgErr* err = nullptr) {
  LStrHandle h = nullptr;
  MgErr e = MakePattern(int32(pattern.size()), reinterpret_cast<const uChar*>(pattern.data()), &h);
  if (err) *err = e;
  std::string out = Text(h);
  Dispose(h);
  return out;
}

struct Found {
  MgErr err;
  std::string before, match, after;
  int32 past;
};

Found MatchCompiled(LStrHandle code, const std::string& input, int32 offset) {
  LStrHandle before = nullptr, match = nullptr, after = nullptr;
  int32 past = -7;
  MgErr err = MatchPattern(code, int32(input.size()), reinterpret_cast<const uChar*>(input.data()), offset,
                           &before, &match, &after, &past);
  Found f{err, Text(before), Text(match), Text(after), past};
  Dispose(before);
  Dispose(match);
  Dispose(after);
  return f;
}

Found Match(const std::string& pattern, const std::string& input, int32 offset = 0) {
  LStrHandle code = nullptr;
  EXPECT_EQ(MakePattern(int32(pattern.size()), reinterpret_cast<const uChar*>(pattern.data()), &code), kNoErr);
  Found f = MatchCompiled(code, input, offset);
  Dispose(code);
  return f;
}

// ------------------------------------------------------------ compiling

TEST_F(PatternTest, PatternsCompileByteForByte) {
  struct Case {
    const char* pattern;
    std::string code;
  } cases[] = {
      {"", Bytes({0})},
      {"a*", Bytes({0x61, 'a', 0})},
      {"**", Bytes({0x60, '*', 0x60, '*', 0})},
      {"a**", Bytes({0x61, 'a', 0x60, '*', 0})},
      {"a+?", Bytes({0x62, 'a', 0x60, '?', 0})},
      {"?a?", Bytes({0x60, '?', 0x64, 'a', 0})},
      {"^b", Bytes({'X', 0x60, 'b', 0})},
      {"^*", Bytes({'X', 0x60, '*', 0})},
      {"a^", Bytes({0x60, 'a', 0x60, '^', 0})},
      {"x$", Bytes({0x60, 'x', 0x20, 0})},
      {"$x", Bytes({0x60, '$', 0x60, 'x', 0})},
      {"$$", Bytes({0x60, '$', 0x20, 0})},
      {"^", Bytes({'X', 0})},
      {"$", Bytes({0x20, 0})},
      {"^$", Bytes({'X', 0x20, 0})},
      {".", Bytes({0x28, 0})},
      {".*.+.?", Bytes({0x29, 0x2A, 0x2C, 0})},
      {"[0-9]+", Bytes({0x32, 4, '0', '-', '9', 0})},
      {"[]", Bytes({0x30, 1, 0})},
      {"[\\]a]", Bytes({0x30, 3, ']', 'a', 0})},
      {"[\\n\\41]?", Bytes({0x34, 3, 10, 0x41, 0})},
      {"[ab", Bytes({0x30, 3, 'a', 'b', 0})},
      {"\\t\\s\\.*", Bytes({0x60, 9, 0x60, ' ', 0x61, '.', 0})},
      {"\\", Bytes({0x60, '\\', 0})},
      {"\\$", Bytes({0x60, '$', 0})},
  };
  for (const Case& c : cases) {
    MgErr err;
    EXPECT_EQ(Compile(c.pattern, &err), c.code) << c.pattern;
    EXPECT_EQ(err, kNoErr) << c.pattern;
  }
}

TEST_F(PatternTest, TheHandleIsMadeOrReusedAndCutToTheCode) {
  LStrHandle h = nullptr;
  ASSERT_EQ(MakePattern(2, reinterpret_cast<const uChar*>("ab"), &h), kNoErr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), 4 + 5);
  LStrHandle same = h;
  ASSERT_EQ(MakePattern(1, reinterpret_cast<const uChar*>("."), &h), kNoErr);
  EXPECT_EQ(h, same);
  EXPECT_EQ(Text(h), Bytes({0x28, 0}));
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), 4 + 2);
  // A negative length or no bytes compile the empty pattern.
  ASSERT_EQ(MakePattern(-4, reinterpret_cast<const uChar*>("ab"), &h), kNoErr);
  EXPECT_EQ(Text(h), Bytes({0}));
  ASSERT_EQ(MakePattern(3, nullptr, &h), kNoErr);
  EXPECT_EQ(Text(h), Bytes({0}));
  Dispose(h);
  EXPECT_EQ(MakePattern(1, reinterpret_cast<const uChar*>("a"), nullptr), kArgErr);
  // The resize error of a handle that is not a data-zone handle.
  UHandle az = AZNewHandle(8);
  LStrHandle foreign = reinterpret_cast<LStrHandle>(az);
  EXPECT_EQ(MakePattern(1, reinterpret_cast<const uChar*>("a"), &foreign), kZoneErr);
  EXPECT_EQ(foreign, reinterpret_cast<LStrHandle>(az));
  AZDisposeHandle(az);
  // A length whose buffer cannot be sized is memory full.
  LStrHandle none = nullptr;
  EXPECT_EQ(MakePattern(0x7FFFFFF0, reinterpret_cast<const uChar*>("a"), &none), kMemFullErr);
  EXPECT_EQ(none, nullptr);
}

// A class of 255 characters or more would wrap its length byte: refused,
// with an empty compiled pattern that matches nothing.
TEST_F(PatternTest, AClassTooLongForItsLengthByteIsRefused) {
  for (int members : {254, 255, 300}) {
    std::string pattern = "x[" + std::string(size_t(members), 'a') + "]";
    LStrHandle h = nullptr;
    MgErr err = MakePattern(int32(pattern.size()), reinterpret_cast<const uChar*>(pattern.data()), &h);
    ASSERT_NE(h, nullptr);
    if (members == 254) {
      EXPECT_EQ(err, kNoErr);
      EXPECT_EQ(uChar(Text(h)[3]), 255);
      EXPECT_EQ(MatchCompiled(h, "xa", 0).match, "xa");
    } else {
      EXPECT_EQ(err, kArgErr) << members;
      EXPECT_EQ((*h)->cnt, 0);
      Found f = MatchCompiled(h, "xa", 0);
      EXPECT_EQ(f.past, -1);
      EXPECT_EQ(f.before, "xa");
    }
    Dispose(h);
  }
  // A backslash code is one member.
  MgErr err;
  EXPECT_EQ(Compile("[\\41" + std::string(253, 'a') + "]", &err).size(), 2u + 254 + 1);
  EXPECT_EQ(err, kNoErr);
  EXPECT_EQ(Compile("[\\41" + std::string(254, 'a') + "]", &err), "");
  EXPECT_EQ(err, kArgErr);
}

// ------------------------------------------------------------ classes

TEST_F(PatternTest, LexClassFollowsTheTable) {
  for (int32 c = -5; c < 300; ++c) {
    int32 want;
    if (c < 0 || c > 127) want = 0;
    else if (c == ' ' || (c >= 9 && c <= 13)) want = 2;
    else if (c < 32 || c == 127) want = 1;
    else if (c >= '0' && c <= '9') want = 3;
    else if (c >= 'A' && c <= 'Z') want = 4;
    else if (c >= 'a' && c <= 'z') want = 5;
    else want = 6;
    EXPECT_EQ(LexClass(c), want) << c;
  }
}

TEST_F(PatternTest, ClassMembership) {
  struct Case {
    const char* pattern;
    const char* members;
    const char* others;
  } cases[] = {
      {"[Z-a]", "Z-a", "[\\]^_`bY"},        // ends of different kinds: three members
      {"[z-a]", "z-a", "bmy"},               // a reversed range: three members
      {"[0-9]", "0459", "a/:"},
      {"[a-cx]", "abcx", "dw-"},
      {"[!-/]", "!-/", "\"#."},              // punctuation is no range
      {"[a-c-e]", "abc-e", "d"},
      {"[-a]", "-a", "b"},
      {"[a-]", "a-", "b"},
      {"[^a]", "b \x7f", "a\t\n\x01"},       // "^" also leaves out controls
      {"[~a]", "b\t\n\x01", "a"},
      {"[^]", " ~\x80", "\t"},
      {"[a^]", "a^", "b"},
  };
  for (const Case& c : cases) {
    for (const char* m = c.members; *m; ++m)
      EXPECT_EQ(Match(c.pattern, std::string(1, *m)).past, 1) << c.pattern << " " << int(uChar(*m));
    for (const char* m = c.others; *m; ++m)
      EXPECT_EQ(Match(c.pattern, std::string(1, *m)).past, -1) << c.pattern << " " << int(uChar(*m));
  }
}

// ------------------------------------------------------------ matching

TEST_F(PatternTest, DocumentedCases) {
  struct Case {
    const char* pattern;
    std::string input;
    int32 offset;
    const char *before, *match, *after;
    int32 past;
  } cases[] = {
      {"a*", "baaa", 0, "", "", "baaa", 0},  // leftmost wins over longest
      {"^b", "ab", 0, "ab", "", "", -1},
      {"^b", "ab", 1, "a", "b", "", 2},
      {"[0-9]+", "ab123c", 0, "ab", "123", "c", 5},
      {"[^a]", "\t", 0, "\t", "", "", -1},
      {"[~a]", "\t", 0, "", "\t", "", 1},
      {"x$", "xax", 0, "xa", "x", "", 3},
      {"x$", "xa", 0, "xa", "", "", -1},
      {"$x", "a$x", 0, "a", "$x", "", 3},
      {"a*", "", 0, "", "", "", -1},  // an empty input has no start
      {"^a*", "", 0, "", "", "", 0},
      {"$", "abc", 0, "abc", "", "", -1},  // a lone "$" never matches
      {"^$", "", 0, "", "", "", 0},
      {"^", "abc", 2, "ab", "", "c", 2},
      {"b", "abcb", -3, "a", "b", "cb", 2},  // a negative offset counts as 0
      {"b", "abcb", 2, "abc", "b", "", 4},
      {"b", "abcb", 4, "abcb", "", "", -1},
      {"^a", "a", 5, "a", "", "", -1},  // past the end: nothing
      {"a.c", "abxc axc", 0, "abxc ", "axc", "", 8},
      {".*", "abc", 1, "a", "bc", "", 3},
      {"a+b?", "xaaab", 0, "x", "aaab", "", 5},
      {"a*ab", "aaab", 0, "", "aaab", "", 4},
      {"[a-z]+q", "abc abq", 0, "abc ", "abq", "", 7},
      {"a?a?aa", "aa", 0, "", "aa", "", 2},
      {"(", "a(b", 0, "a", "(", "b", 2},
  };
  for (const Case& c : cases) {
    Found f = Match(c.pattern, c.input, c.offset);
    EXPECT_EQ(f.err, kNoErr);
    EXPECT_EQ(f.before, c.before) << c.pattern << " / " << c.input;
    EXPECT_EQ(f.match, c.match) << c.pattern << " / " << c.input;
    EXPECT_EQ(f.after, c.after) << c.pattern << " / " << c.input;
    EXPECT_EQ(f.past, c.past) << c.pattern << " / " << c.input;
  }
}

TEST_F(PatternTest, OutputsAreMadeReusedOrSkipped) {
  LStrHandle code = nullptr;
  ASSERT_EQ(MakePattern(1, reinterpret_cast<const uChar*>("b"), &code), kNoErr);
  LStrHandle before = NewString("old text that is long"), match = nullptr, after = NewString("");
  LStrHandle keep = before;
  int32 past = 0;
  ASSERT_EQ(MatchPattern(code, 3, reinterpret_cast<const uChar*>("abc"), 0, &before, &match, &after, &past), kNoErr);
  EXPECT_EQ(before, keep);
  EXPECT_EQ(Text(before), "a");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(before)), 5);
  EXPECT_EQ(Text(match), "b");
  EXPECT_EQ(Text(after), "c");
  EXPECT_EQ(past, 2);
  // Outputs not asked for are skipped.
  ASSERT_EQ(MatchPattern(code, 3, reinterpret_cast<const uChar*>("xbz"), 0, nullptr, &match, nullptr, nullptr),
            kNoErr);
  EXPECT_EQ(Text(match), "b");
  // The input may lie in an output's own block.
  ASSERT_EQ(MatchPattern(code, (*after)->cnt + 0, (*after)->str, 0, &before, &match, &after, &past), kNoErr);
  EXPECT_EQ(past, -1);
  EXPECT_EQ(Text(before), "c");
  EXPECT_EQ(Text(after), "");
  LStrHandle in = NewString("abcabc");
  ASSERT_EQ(MatchPattern(code, 6, (*in)->str, 3, &in, &match, &after, &past), kNoErr);
  EXPECT_EQ(Text(in), "abca");
  EXPECT_EQ(Text(match), "b");
  EXPECT_EQ(Text(after), "c");
  EXPECT_EQ(past, 5);
  // An output handle that is not a data-zone handle gives the resize error
  // and no offset.
  UHandle az = AZNewHandle(4);
  LStrHandle foreign = reinterpret_cast<LStrHandle>(az);
  ClearReports();
  EXPECT_EQ(MatchPattern(code, 3, reinterpret_cast<const uChar*>("abc"), 0, &before, &foreign, &after, &past),
            kZoneErr);
  EXPECT_EQ(past, -1);
  AZDisposeHandle(az);
  for (LStrHandle* h : {&code, &before, &match, &after, &in}) Dispose(*h);
}

// A compiled pattern comes from a diagram: every malformed one matches
// nothing and nothing outside its handle is read.
TEST_F(PatternTest, MalformedCompiledPatternsMatchNothing) {
  struct Case {
    const char* what;
    std::string code;
  } cases[] = {
      {"empty", ""},
      {"no final 0", Bytes({0x60, 'a'})},
      {"literal without its character", Bytes({0x60})},
      {"class length 0", Bytes({0x30, 0, 0})},
      {"class past the count", Bytes({0x30, 5, 'a', 0})},
      {"class without its length", Bytes({0x30})},
      {"stray opcode", Bytes({0x63, 'a', 0})},
      {"quantified end anchor", Bytes({0x21, 0})},
      {"X not first", Bytes({0x60, 'a', 'X', 0})},
      {"0 before the end", Bytes({0x60, 'a', 0, 0x60, 'a', 0})},
      {"low opcode", Bytes({0x05, 0})},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(rttest::WellFormed(c.code)) << c.what;
    LStrHandle h = NewString(c.code);
    Found f = MatchCompiled(h, "aaa", 0);
    EXPECT_EQ(f.err, kNoErr) << c.what;
    EXPECT_EQ(f.past, -1) << c.what;
    EXPECT_EQ(f.before, "aaa") << c.what;
    Dispose(h);
  }
  // Counts that run past the handle or are negative; handles that are not
  // data-zone handles; no handle.
  LStrHandle h = NewString(Bytes({0x60, 'a', 0}));
  for (int32 cnt : {4, 100, -1}) {
    (*h)->cnt = cnt;
    EXPECT_EQ(MatchCompiled(h, "a", 0).past, -1) << cnt;
  }
  Dispose(h);
  UHandle az = AZNewHandle(7);
  std::memcpy(*az, "\x03\0\0\0\x60\x61\0", 7);
  ClearReports();
  EXPECT_EQ(MatchCompiled(reinterpret_cast<LStrHandle>(az), "a", 0).past, -1);
  AZDisposeHandle(az);
  EXPECT_EQ(MatchCompiled(nullptr, "a", 0).past, -1);
  EXPECT_EQ(ReportText(), "");
}

// Every prefix of compiled patterns, each in a handle of exactly its size.
TEST_F(PatternTest, ACompiledPatternCutAtEveryByteMatchesNothing) {
  for (const char* pattern : {"^[a-c]+x.?\\n$", "[^0-9]*[~ab]?q", "a*b+c?."}) {
    std::string code = Compile(pattern);
    ASSERT_FALSE(code.empty());
    for (size_t k = 0; k < code.size(); ++k) {
      LStrHandle h = NewString(code.substr(0, k));
      EXPECT_EQ(MatchCompiled(h, "abcx\n", 0).past, -1) << pattern << " cut at " << k;
      EXPECT_EQ(MatchCompiled(h, "", 0).past, -1) << pattern << " cut at " << k;
      Dispose(h);
    }
  }
}

// ------------------------------------------------------------ reference

using rttest::Reference;

TEST_F(PatternTest, AgreesWithAPlainBacktrackingMatcher) {
  uInt32 seed = 12345;
  auto next = [&](uInt32 n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  const char* pieces[] = {"a", "b", "c", "d", ".", "[ab]", "[^a]", "[~b]", "[a-c]", "[c-a]", "\\t", "a", "b"};
  const char* quantifiers[] = {"", "", "", "*", "+", "?"};
  int matched = 0;
  int rounds = qxtest::Scaled(100000);
  for (int round = 0; round < rounds; ++round) {
    std::string pattern;
    if (next(4) == 0) pattern += '^';
    uInt32 atoms = next(6);
    for (uInt32 k = 0; k < atoms; ++k) {
      pattern += pieces[next(sizeof(pieces) / sizeof(pieces[0]))];
      pattern += quantifiers[next(6)];
    }
    if (next(5) == 0) pattern += next(3) ? "*" : "?";  // sometimes a doubled quantifier
    if (next(4) == 0) pattern += '$';
    std::string input;
    uInt32 len = next(10);
    for (uInt32 k = 0; k < len; ++k) input += "abcd\t"[next(5)];
    int32 offset = int32(next(uInt32(len) + 4)) - 2;
    LStrHandle code = nullptr;
    ASSERT_EQ(MakePattern(int32(pattern.size()), reinterpret_cast<const uChar*>(pattern.data()), &code), kNoErr);
    std::string bytes = Text(code);
    ASSERT_TRUE(rttest::WellFormed(bytes)) << pattern;
    std::pair<int, int> want = Reference{bytes, input}.Search(offset);
    Found got = MatchCompiled(code, input, offset);
    Dispose(code);
    ASSERT_EQ(got.past, want.second) << pattern << " / " << input << " @" << offset;
    if (want.first >= 0) {
      ++matched;
      ASSERT_EQ(got.before, input.substr(0, size_t(want.first))) << pattern << " / " << input;
      ASSERT_EQ(got.match, input.substr(size_t(want.first), size_t(want.second - want.first))) << pattern;
    }
  }
  EXPECT_GT(matched, rounds / 5);
  EXPECT_LT(matched, rounds - rounds / 5);
}

// ------------------------------------------------------------ effort

// Nested quantifiers over a long run: exponential for a search that
// forgets, polynomial here.
TEST_F(PatternTest, QuantifierChainsOverLongRunsFinish) {
  std::string pattern;
  for (int k = 0; k < 20; ++k) pattern += "a*";
  std::string run(10000, 'a');
  Found f = Match(pattern + "b", run);
  EXPECT_EQ(f.past, -1);
  f = Match(pattern + "b", run + "b");
  EXPECT_EQ(f.match.size(), 10001u);
  f = Match(pattern + "a?a?a?ab", "x" + run + "b");
  EXPECT_EQ(f.before, "x");
  EXPECT_EQ(f.past, 10002);
  std::string opts;
  for (int k = 0; k < 300; ++k) opts += "a?";
  f = Match(opts + std::string(300, 'a'), std::string(300, 'a'));
  EXPECT_EQ(f.match.size(), 300u);
}

// A pattern of a million atoms: the search keeps its own stack.
TEST_F(PatternTest, AMillionAtomPatternMatches) {
  std::string pattern(1000000, 'a');
  pattern[999999] = '.';
  std::string input = "b" + std::string(1000000, 'a');
  Found f = Match(pattern, input);
  EXPECT_EQ(f.before, "b");
  EXPECT_EQ(f.past, 1000001);
  f = Match(pattern, std::string(1000, 'b'));
  EXPECT_EQ(f.past, -1);
  std::string stars;
  for (int k = 0; k < 500000; ++k) stars += "a*";
  f = Match(stars + "b", std::string(20, 'a') + "b");
  EXPECT_EQ(f.match.size(), 21u);
}

}  // namespace
