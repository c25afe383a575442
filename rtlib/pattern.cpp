// Regular patterns: the compiler, the matcher and the character classes.
//
// The matcher gives the result of the plain backtracking search, which tries
// the starts left to right and every quantifier from its longest take down,
// but it never searches the same place twice.  What the rest of a pattern
// matches from atom i at text position p does not depend on how the search
// got there, so the result of each quantified atom at each position is
// remembered, and the search keeps its own stack instead of recursing.  That
// bounds the work by the number of (atom, position) pairs, and a long
// pattern cannot exhaust the calling thread's stack.
#include "rtlib/pattern.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "rtlib/rtstrings.h"

namespace {

// ------------------------------------------------------------ classes

// LexClass of the 128 7-bit characters.
constexpr uChar kLexClasses[128] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 1, 1,  // 0x00
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10
    2, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,  // 0x20
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 6, 6, 6, 6, 6, 6,  // 0x30
    6, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,  // 0x40
    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6, 6, 6,  // 0x50
    6, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,  // 0x60
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 1,  // 0x70
};

// The members of a class, one bit per character.
struct ClassMap {
  uInt32 bits[8] = {};
  void Add(uInt32 c) { bits[c >> 5] |= 1u << (c & 31); }
  bool Has(uInt32 c) const { return (bits[c >> 5] >> (c & 31)) & 1; }
};

// Class bytes as written between the brackets: a first "^" or "~" negates
// the class ("^" also leaves out every character below 32); "x-y" is a range
// when x is not above y and both ends are digits, upper-case or lower-case
// letters of one kind; any other byte is a member by itself.
ClassMap MakeClassMap(const uChar* b, int32 n) {
  ClassMap m;
  int32 i = 0;
  bool negated = false, noControls = false;
  if (n > 0 && (b[0] == '^' || b[0] == '~')) {
    negated = true;
    noControls = b[0] == '^';
    i = 1;
  }
  while (i < n) {
    if (i + 2 < n && b[i + 1] == '-' && b[i] <= b[i + 2]) {
      int32 k = LexClass(b[i]);
      if (k >= 3 && k <= 5 && k == LexClass(b[i + 2])) {
        for (uInt32 c = b[i]; c <= b[i + 2]; ++c) m.Add(c);
        i += 3;
        continue;
      }
    }
    m.Add(b[i++]);
  }
  if (negated) {
    for (uInt32& w : m.bits) w = ~w;
    if (noControls) m.bits[0] = 0;
  }
  return m;
}

// ------------------------------------------------------------ program

enum AtomKind : uInt8 { kLit, kAnyChar, kSet, kAtEnd, kDone };
enum Quantity : uInt8 { kOne, kMany, kMaybe };  // exactly one, "*", "?"

// A decoded atom.  "+" is decoded as one plain atom followed by the same
// atom with "*": both try the longest take first and stop at one.
struct Atom {
  AtomKind kind;
  Quantity quantity;
  uChar ch;       // kLit
  int32 map;      // kSet: index into the class maps
  int32 row;      // kMany, kMaybe: the row of remembered results
};

struct Program {
  bool anchored = false;  // starts with "X": tried only at the offset
  std::vector<Atom> atoms;
  std::vector<ClassMap> maps;
  int32 rows = 0;
};

// Decodes a compiled pattern, which comes from a diagram and is checked as
// it is read: an opcode this compiler does not write, an operand past the
// count, a class length of 0, or a count that does not end with the end
// opcode makes it no pattern (false).
bool Decode(const uChar* b, int32 n, Program* prog) {
  int32 i = 0;
  if (n > 0 && b[0] == kPatStartAnchor) {
    prog->anchored = true;
    i = 1;
  }
  for (;;) {
    if (i >= n) return false;
    uChar op = b[i];
    if (op == kPatEnd) {
      if (i != n - 1) return false;
      prog->atoms.push_back(Atom{kDone, kOne, 0, -1, -1});
      return true;
    }
    if (op == kPatEndAnchor) {
      prog->atoms.push_back(Atom{kAtEnd, kOne, 0, -1, -1});
      ++i;
      continue;
    }
    uChar q = op & 7;
    if (q != 0 && q != kPatStar && q != kPatPlus && q != kPatOptional) return false;
    Atom a{kLit, kOne, 0, -1, -1};
    switch (op & ~7) {
      case kPatLiteral:
        if (n - i < 2) return false;
        a.ch = b[i + 1];
        i += 2;
        break;
      case kPatAny:
        a.kind = kAnyChar;
        i += 1;
        break;
      case kPatClass: {
        if (n - i < 2) return false;
        int32 len = b[i + 1];
        if (len == 0 || n - i - 1 < len) return false;
        a.kind = kSet;
        a.map = int32(prog->maps.size());
        prog->maps.push_back(MakeClassMap(b + i + 2, len - 1));
        i += 1 + len;
        break;
      }
      default:
        return false;
    }
    if (q == kPatPlus) prog->atoms.push_back(a);
    if (q != 0) {
      a.quantity = q == kPatOptional ? kMaybe : kMany;
      a.row = prog->rows++;
    }
    prog->atoms.push_back(a);
  }
}

// ------------------------------------------------------------ search

// Remembered results of quantified atoms by (row, position): dense while
// that table stays small, else by hash.
class Results {
 public:
  static constexpr int32 kUnknown = -2;
  Results(int32 rows, int32 cols) : rows_(rows), cols_(cols) {}
  int32 Get(int32 row, int32 col) const {
    if (Dense()) return dense_ ? dense_[Slot(row, col)] - 2 : kUnknown;
    auto it = sparse_.find(Key(row, col));
    return it == sparse_.end() ? kUnknown : it->second;
  }
  void Set(int32 row, int32 col, int32 result) {
    if (!Dense()) {
      sparse_[Key(row, col)] = result;
      return;
    }
    if (!dense_) {
      dense_.reset(static_cast<int32*>(std::calloc(size_t(rows_) * size_t(cols_), sizeof(int32))));
      if (!dense_) throw std::bad_alloc();
    }
    dense_[Slot(row, col)] = result + 2;
  }

 private:
  static constexpr uInt64 kDenseLimit = uInt64(1) << 22;
  struct Free {
    void operator()(int32* p) const { std::free(p); }
  };
  // Both halves of the key mixed into a word (the library's hash of a
  // 64-bit key keeps only its low word on this 32-bit target).
  struct Mix {
    size_t operator()(uInt64 k) const {
      k ^= k >> 33;
      k *= 0xFF51AFD7ED558CCDull;
      k ^= k >> 33;
      return size_t(k ^ (k >> 32));
    }
  };
  bool Dense() const { return uInt64(rows_) * uInt64(cols_) <= kDenseLimit; }
  size_t Slot(int32 row, int32 col) const { return size_t(row) * size_t(cols_) + size_t(col); }
  static uInt64 Key(int32 row, int32 col) { return (uInt64(uInt32(row)) << 32) | uInt32(col); }
  int32 rows_, cols_;
  std::unique_ptr<int32[], Free> dense_;
  std::unordered_map<uInt64, int32, Mix> sparse_;
};

class Matcher {
 public:
  Matcher(const Program& prog, const uChar* text, int32 len)
      : prog_(prog), atoms_(prog.atoms.data()), s_(text), n_(len), results_(prog.rows, len + 1) {
    // A byte per character of a leading class: the scan for starts is the
    // hot loop.
    const Atom& a = atoms_[0];
    if (a.kind == kSet && a.quantity == kOne) {
      const ClassMap& m = prog_.maps[size_t(a.map)];
      for (uInt32 c = 0; c < 256; ++c) firstMember_[c] = m.Has(c);
    }
  }

  // The end of the first match starting at start, or -1.
  int32 MatchAt(int32 start) {
    stack_.clear();
    int32 i = 0, p = start, r;
    for (;;) {
      // Forward: atoms without a choice are walked in place; a quantified
      // atom first asks for its longer takes, remembering where it stands.
      for (;;) {
        const Atom& a = atoms_[i];
        if (a.kind == kDone) {
          r = p;
          break;
        }
        if (a.kind == kAtEnd) {
          if (p != n_) {
            r = -1;
            break;
          }
          ++i;
          continue;
        }
        bool takes = p < n_ && Has(a, s_[p]);
        if (a.quantity == kOne) {
          if (!takes) {
            r = -1;
            break;
          }
          ++i;
          ++p;
          continue;
        }
        int32 known = results_.Get(a.row, p);
        if (known != Results::kUnknown) {
          r = known;
          break;
        }
        if (!takes) {  // only the empty take: the rest from here
          stack_.push_back(Frame{i, p, kRecord});
          ++i;
          continue;
        }
        if (a.quantity == kMany) {
          // The takes of one or more characters from p are the takes of
          // this atom from p + 1.
          stack_.push_back(Frame{i, p, kThenEmpty});
          ++p;
        } else {
          stack_.push_back(Frame{i, p, kThenEmpty});
          ++i;
          ++p;
        }
      }
      // Back: results are recorded; a failed longer take goes on with the
      // empty one.
      for (;;) {
        if (stack_.empty()) return r;
        Frame& f = stack_.back();
        if (f.step == kRecord || r >= 0) {
          results_.Set(atoms_[f.atom].row, f.pos, r);
          stack_.pop_back();
          continue;
        }
        f.step = kRecord;
        i = f.atom + 1;
        p = f.pos;
        break;
      }
    }
  }

  // The first position from p on where the pattern may start; n_ when none.
  int32 NextStart(int32 p) const {
    if (p >= n_) return n_;
    const Atom& a = atoms_[0];
    if (a.quantity != kOne || a.kind == kDone || a.kind == kAtEnd) return p;
    if (a.kind == kLit) {
      const void* hit = std::memchr(s_ + p, a.ch, size_t(n_ - p));
      return hit ? int32(static_cast<const uChar*>(hit) - s_) : n_;
    }
    if (a.kind == kSet) {
      const uChar* member = firstMember_;
      // Four bytes a step while none of them is a member.
      while (n_ - p >= 4 && !(member[s_[p]] | member[s_[p + 1]] | member[s_[p + 2]] | member[s_[p + 3]])) p += 4;
      while (p < n_ && !member[s_[p]]) ++p;
    }
    return p;
  }

 private:
  enum Step : uInt8 { kThenEmpty, kRecord };
  struct Frame {
    int32 atom;
    int32 pos;
    Step step;
  };
  bool Has(const Atom& a, uChar c) const {
    switch (a.kind) {
      case kLit: return c == a.ch;
      case kAnyChar: return true;
      case kSet: return prog_.maps[size_t(a.map)].Has(c);
      default: return false;
    }
  }
  const Program& prog_;
  const Atom* atoms_;
  const uChar* s_;
  int32 n_;
  Results results_;
  std::vector<Frame> stack_;
  uChar firstMember_[256] = {};
};

// The match of a compiled pattern in the text from offset: its start and
// end, or false.
bool FindMatch(const uChar* code, int32 codeLen, const uChar* text, int32 n, int32 offset, int32* start,
               int32* end) {
  Program prog;
  if (!Decode(code, codeLen, &prog) || offset > n) return false;
  Matcher m(prog, text, n);
  if (prog.anchored) {
    *end = m.MatchAt(offset);
    *start = offset;
    return *end >= 0;
  }
  for (int32 p = m.NextStart(offset); p < n; p = m.NextStart(p + 1)) {
    int32 e = m.MatchAt(p);
    if (e >= 0) {
      *start = p;
      *end = e;
      return true;
    }
  }
  return false;
}

}  // namespace

int32 LexClass(int32 c) { return c >= 0 && c < 128 ? kLexClasses[c] : 0; }

MgErr MakePattern(int32 patternLength, const uChar* patternBytes, LStrHandle* compiled) {
  if (!compiled) return kArgErr;
  int32 len = patternBytes && patternLength > 0 ? patternLength : 0;
  if (len > (INT32_MAX - 10) / 2) return kMemFullErr;
  // Every pattern character gives at most two bytes.
  int32 size = 2 * len + 10;
  LStrHandle h = *compiled;
  if (!h) {
    h = reinterpret_cast<LStrHandle>(DSNewHandle(size));
    if (!h) return kMemFullErr;
    *compiled = h;
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(h), size)) {
    return err;
  }
  uChar* out = (*h)->str;
  int32 n = 0;
  int32 last = -1;  // the atom a quantifier would apply to
  const uChar* p = patternBytes;
  const uChar* end = p + len;
  while (p < end) {
    uChar c = *p;
    bool first = p == patternBytes, lastChar = p + 1 == end;
    switch (c) {
      case '*':
      case '+':
      case '?':
        ++p;
        if (last >= 0) {
          out[last] |= c == '*' ? kPatStar : c == '+' ? kPatPlus : kPatOptional;
        } else {  // nothing to apply to: a literal that takes no quantifier
          out[n++] = kPatLiteral;
          out[n++] = c;
        }
        last = -1;
        break;
      case '.':
        ++p;
        last = n;
        out[n++] = kPatAny;
        break;
      case '[': {
        ++p;
        last = n;
        out[n++] = kPatClass;
        int32 lengthAt = n++;
        int32 members = 0;
        while (p < end && *p != ']') {
          out[n++] = uChar(ScanForBackslash(&p, end));
          ++members;
        }
        if (p < end) ++p;  // the "]"; an unclosed class takes the rest
        if (members >= 255) {
          // The length byte would wrap: no compiled pattern at all.
          (*h)->cnt = 0;
          DSSetHandleSize(reinterpret_cast<UHandle>(h), 4);
          return kArgErr;
        }
        out[lengthAt] = uChar(members + 1);
        break;
      }
      case '\\':
        last = n;
        out[n++] = kPatLiteral;
        out[n++] = uChar(ScanForBackslash(&p, end));
        break;
      default:
        ++p;
        if (c == '^' && first) {
          out[n++] = kPatStartAnchor;
          last = -1;
        } else if (c == '$' && lastChar) {
          out[n++] = kPatEndAnchor;
          last = -1;
        } else {
          last = n;
          out[n++] = kPatLiteral;
          out[n++] = c;
        }
        break;
    }
  }
  out[n++] = kPatEnd;
  (*h)->cnt = n;
  DSSetHandleSize(reinterpret_cast<UHandle>(h), n + 4);  // a cut cannot fail
  return kNoErr;
}

MgErr MatchPattern(LStrHandle compiled, int32 inputLength, const uChar* inputBytes, int32 offset,
                   LStrHandle* before, LStrHandle* match, LStrHandle* after, int32* offsetPast) {
  int32 n = inputBytes && inputLength > 0 ? inputLength : 0;
  const uChar* text = inputBytes;
  // The outputs are written one after the other: input lying in one of
  // their blocks is copied first.
  std::vector<uChar> copy;
  int32 start = -1, end = -1;
  bool found = false;
  try {
    for (LStrHandle* out : {before, match, after}) {
      if (out && RTBytesInHandle(*out, text, n) && copy.empty()) {
        copy.assign(text, text + n);
        text = copy.data();
      }
    }
    const uChar* code;
    int32 codeLen;
    if (RTReadString(compiled, &code, &codeLen))
      found = FindMatch(code, codeLen, text, n, offset < 0 ? 0 : offset, &start, &end);
  } catch (const std::bad_alloc&) {
    if (offsetPast) *offsetPast = -1;
    return kMemFullErr;
  }
  if (!found) start = end = n;
  MgErr err = kNoErr;
  if (before) err = RTSetString(before, text, start);
  if (match && !err) err = RTSetString(match, text + start, end - start);
  if (after && !err) err = RTSetString(after, text + end, n - end);
  if (offsetPast) *offsetPast = found && !err ? end : -1;
  return err;
}
