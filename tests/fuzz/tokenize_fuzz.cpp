// Texts, delimiter and operator lists and caches from diagrams: a text
// tokenized from its start to its end without a cache, with a cache the
// calls share, and with a cache whose handles hold bytes of the input.
//
// Input: byte 0 the flags (bit 0 useAllDelimiters, bit 1 no delimiter list,
// bit 2 no operator list, bit 3 empty lists as arrays of none); then the
// text, the delimiters and the operators, each part ended by a 0 byte and
// the strings of a list parted by a 1 byte; the rest fills the handles of
// the third cache.  All three give the same tokens; every token is at its
// place in the text, an operator's index names an operator, a word holds no
// separator and no plain operator, each call moves on, and the end is
// reached.  No report is made and nothing is left behind.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_strings.h"
#include "fuzz_support.h"
#include "rtlib/tokenize.h"

namespace {

LStrArrayHandle ListOf(const std::vector<std::string>& items, bool asArray) {
  if (items.empty() && !asArray) return nullptr;
  LStrArrayHandle h = reinterpret_cast<LStrArrayHandle>(DSNewHandle(int32(4 + 4 * items.size())));
  FUZZ_CHECK(h != nullptr);
  (*h)->dimSize = int32(items.size());
  for (size_t k = 0; k < items.size(); ++k) (*h)->elt[k] = FuzzString(items[k]);
  return h;
}

void DisposeList(LStrArrayHandle h) {
  if (!h) return;
  for (int32 k = 0; k < (*h)->dimSize; ++k) DSDisposeHandle(reinterpret_cast<UHandle>((*h)->elt[k]));
  DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

void DisposeCache(TokenizeCache& c) {
  for (UHandle h : {c.operatorOrder, c.delimiterOrder, c.firstChars})
    if (h) DSDisposeHandle(h);
}

// The next part of the input up to a 0 byte, split at 1 bytes.
std::vector<std::string> Part(const uint8_t*& p, const uint8_t* end) {
  std::vector<std::string> items(1);
  for (; p < end && *p != 0; ++p) {
    if (*p == 1) items.emplace_back();
    else items.back() += char(*p);
  }
  if (p < end) ++p;
  return items;
}

// A cache handle filled from the input: a count word, then bytes.
UHandle CacheHandleOf(const uint8_t*& p, const uint8_t* end, int32 count) {
  size_t n = size_t(end - p) < 64 ? size_t(end - p) : 64;
  UHandle h = DSNewHandle(int32(4 + n));
  FUZZ_CHECK(h != nullptr);
  std::memcpy(*h, &count, 4);
  if (n) std::memcpy(*h + 4, p, n);
  p += n;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers(FuzzAbortWhenArmed);
  (void)started;
  if (size < 1 || size > 4096) return 0;
  int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  uint8_t flags = data[0];
  bool useAll = flags & 1;
  const uint8_t* p = data + 1;
  const uint8_t* end = data + size;
  std::string text = Part(p, end)[0];
  std::vector<std::string> delims = Part(p, end), ops = Part(p, end);
  if (flags & 2) delims.clear();
  if (flags & 4) ops.clear();
  LStrHandle s = FuzzString(text);
  LStrArrayHandle d = ListOf(delims, flags & 8), o = ListOf(ops, flags & 8);
  TokenizeCache shared{}, given{};
  given.operatorOrder = CacheHandleOf(p, end, int32(ops.size()));
  given.delimiterOrder = CacheHandleOf(p, end, int32(delims.size()));
  given.firstChars = CacheHandleOf(p, end, kTokenTableEntries);
  given.firstCodeOperator = p < end ? *p : 0;
  MgErr cacheErr = delims.empty() && ops.empty() ? kArgErr : kNoErr;

  int32 offset = 0;
  LStrHandle token = nullptr;
  for (size_t calls = 0;; ++calls) {
    FUZZ_CHECK(calls <= text.size() + 1);
    int32 offsets[3] = {offset, offset, offset};
    int32 index[3];
    std::string tok[3];
    TokenizeCache* caches[3] = {nullptr, &shared, &given};
    for (int k = 0; k < 3; ++k) {
      MgErr err = TokenizeString(s, d, o, &offsets[k], useAll, &token, &index[k], caches[k]);
      FUZZ_CHECK(err == (k ? cacheErr : kNoErr));
      tok[k].assign(reinterpret_cast<const char*>((*token)->str), size_t((*token)->cnt));
    }
    for (int k = 1; k < 3; ++k)
      // With a cache or without, the same token.
      FUZZ_CHECK(tok[k] == tok[0] && index[k] == index[0] && offsets[k] == offsets[0]);
    int32 next = offsets[0];
    FUZZ_CHECK(index[0] >= -2 && index[0] < int32(ops.size()));
    FUZZ_CHECK(next == -1 || (next > offset && next <= int32(text.size())));
    if (index[0] == -2) FUZZ_CHECK(tok[0].empty() && next == -1);
    if (!tok[0].empty()) {
      size_t at = text.find(tok[0], size_t(offset));
      FUZZ_CHECK(at != std::string::npos && (next == -1 || at + tok[0].size() <= size_t(next)));
    }
    if (index[0] >= 0 && ops[size_t(index[0])].find('%') == std::string::npos)
      FUZZ_CHECK(tok[0] == ops[size_t(index[0])]);
    if (index[0] >= 0) FUZZ_CHECK(!tok[0].empty());
    if (index[0] == -1) {
      // Every position of a word was tried for separators and operators.
      if (delims.empty()) {
        for (char c : tok[0]) FUZZ_CHECK(!std::isspace(uChar(c)));
      }
      for (const std::string& x : delims)
        FUZZ_CHECK(x.empty() || tok[0].find(x) == std::string::npos);
      for (const std::string& x : ops)
        FUZZ_CHECK(x.empty() || x.find('%') != std::string::npos || tok[0].find(x) == std::string::npos);
    }
    if (next < 0) break;
    offset = next;
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(token));
  DisposeCache(shared);
  DisposeCache(given);
  DisposeList(d);
  DisposeList(o);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
