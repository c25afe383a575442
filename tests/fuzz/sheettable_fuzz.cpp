// Spreadsheet text of any shape read into arrays of 1 to 4 dimensions of
// I32, DBL and strings, with any delimiter and format: nothing is read past
// the text, the array's header agrees with its block, and no handle is left
// behind.  With a plain one-byte delimiter and a format that writes what it
// reads, the array is written back with ArrayToTable, read again and written
// again: the two texts are equal.  No call reports a broken invariant.
//
// Input: a byte of rank (low two bits, plus 1) and element kind (next bits);
// a delimiter byte (below 0x80: one of tab, ",", ";", "|"; else its low two
// bits give a length of raw delimiter bytes that follow); a format byte
// (below 0x80: the element's own format, 0 the default; else its low three
// bits give a length of raw format bytes that follow); the rest is the text.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "fuzz_support.h"
#include "mgsource/support.h"
#include "rtlib/sheettable.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"

namespace {

// The input taken front to back; past its end, zeros and empty runs.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  uint8_t Next() { return left_ ? (--left_, *data_++) : 0; }
  std::string Take(size_t k) {
    k = k < left_ ? k : left_;
    std::string s(reinterpret_cast<const char*>(data_), k);
    data_ += k;
    left_ -= k;
    return s;
  }
  std::string Rest() { return Take(left_); }

 private:
  const uint8_t* data_;
  size_t left_;
};

const uChar* B(const std::string& s) { return reinterpret_cast<const uChar*>(s.data()); }
int32 N(const std::string& s) { return int32(s.size()); }

// Page indices of many digits would make arrays too large to write back in
// the time of a run.
bool DigitRunsAtMost(const std::string& text, size_t most) {
  size_t run = 0;
  for (char c : text) {
    run = (c >= '0' && c <= '9') ? run + 1 : 0;
    if (run > most) return false;
  }
  return true;
}

// Checks the header of an array handle against its block; its element count.
int32 CheckArray(UHandle h, int32 rank, const TypeDescriptor* elem) {
  if (!h) return 0;
  FUZZ_CHECK(DSCheckHandle(h) == kNoErr);
  std::vector<int32> sizes(static_cast<size_t>(rank));
  std::memcpy(sizes.data(), *h, 4 * size_t(rank));
  for (int32 s : sizes) FUZZ_CHECK(s >= 0);
  int32 count = NArrayElts(rank, sizes.data());
  FUZZ_CHECK(count >= 0);
  int64_t need = AlignDatum(elem, 4 * rank) + int64_t(count) * DataSize(elem);
  FUZZ_CHECK(DSGetHandleSize(h) >= need);
  return count;
}

// The array written as text through a view of the handle's elements.
std::string Write(UHandle h, int32 rank, const std::vector<uChar>& viewTD, const TypeDescriptor* elem,
                  const std::string& fmt, const std::string& delim) {
  std::vector<uChar> words(4 + 8 * size_t(rank));
  ArrayViewData* v = reinterpret_cast<ArrayViewData*>(words.data());
  std::vector<int32> sizes(static_cast<size_t>(rank), 0);
  if (h) std::memcpy(sizes.data(), *h, 4 * size_t(rank));
  v->ptr = h ? reinterpret_cast<uChar*>(*h) + AlignDatum(elem, 4 * rank) : nullptr;
  int32 stride = DataSize(elem);
  for (int32 k = rank; k-- > 0;) {
    v->dims[k] = {sizes[size_t(k)], stride};
    stride *= sizes[size_t(k)];
  }
  LStrHandle out = nullptr;
  MgErr err = ArrayToTable(v, tdb::AsTD(viewTD), N(fmt), B(fmt), &out, N(delim), B(delim));
  FUZZ_CHECK(err == kNoErr);
  FUZZ_CHECK(out != nullptr);
  std::string t(reinterpret_cast<const char*>((*out)->str), size_t((*out)->cnt));
  FUZZ_CHECK(DSGetHandleSize(reinterpret_cast<UHandle>(out)) == 4 + (*out)->cnt);
  DSDisposeHandle(reinterpret_cast<UHandle>(out));
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers(FuzzAbortWhenArmed) && SupportInit() == kNoErr && UnitsInit() == kNoErr;
  if (!started) return 0;
  Input in(data, size);
  uint8_t shape = in.Next();
  int32 rank = 1 + (shape & 3);
  int kind = (shape >> 2) % 3;
  uint8_t d = in.Next();
  static const char kPlain[] = "\t,;|";
  bool plain = d < 0x80;
  std::string delim = plain ? std::string(1, kPlain[d & 3]) : in.Take(d & 3);
  uint8_t f = in.Next();
  static const char* const kOwn[] = {"%d", "%.17e", "%s"};
  bool own = f < 0x80;
  std::string fmt = own ? (f == 0 ? std::string() : std::string(kOwn[kind])) : in.Take(f & 7);
  std::string text = in.Rest();
  if ((rank == 3 && !DigitRunsAtMost(text, 3)) || (rank == 4 && !DigitRunsAtMost(text, 1))) return 0;

  const tdb::TD elem = kind == 0 ? tdb::I32() : kind == 1 ? tdb::DBL() : tdb::String();
  std::vector<int32> dims(size_t(rank), kTDVariable);
  const std::vector<uChar> arrayTD = tdb::Array(elem, dims).Bytes();
  const std::vector<uChar> viewTD = tdb::ArrayView(elem, dims).Bytes();
  const std::vector<uChar> elemBytes = elem.Bytes();
  const TypeDescriptor* etd = tdb::AsTD(elemBytes);
  const TypeDescriptor* atd = tdb::AsTD(arrayTD);
  int32 live = FuzzLiveHandles();
  // Text from outside is refused or read, never reported as a broken
  // invariant; nor is the text written back longer than its measure.
  FuzzArmed() = true;

  // The text in a block of its own size, so that a read past it is seen.
  std::vector<uChar> own_text(text.begin(), text.end());
  UHandle a = nullptr;
  MgErr err = TableToArray(N(text), own_text.empty() ? nullptr : own_text.data(), N(fmt), B(fmt), atd, &a, N(delim),
                           B(delim));
  FUZZ_CHECK(err == kNoErr || err == kMemFullErr);
  if (err) FUZZ_CHECK(a == nullptr);
  int32 count = CheckArray(a, rank, etd);
  // Every string element is a live handle or null.
  if (kind == 2 && a) {
    for (int32 i = 0; i < count; ++i) {
      LStrHandle s;
      std::memcpy(&s, reinterpret_cast<uChar*>(*a) + AlignDatum(etd, 4 * rank) + 4 * i, 4);
      FUZZ_CHECK(!s || (DSCheckHandle(s) == kNoErr && (*s)->cnt >= 0));
    }
  }

  bool trip = plain && own && err == kNoErr && count <= 100000;
  if (trip && rank >= 3 && a) {
    // Empty lines end pages: a page row must never write as an empty line.
    std::vector<int32> sizes(static_cast<size_t>(rank));
    std::memcpy(sizes.data(), *a, 4 * size_t(rank));
    trip = sizes[size_t(rank - 1)] >= (kind == 2 ? 2 : 1);
  }
  if (trip) {
    std::string text1 = Write(a, rank, viewTD, etd, fmt, delim);
    UHandle b = nullptr;
    FUZZ_CHECK(TableToArray(N(text1), B(text1), N(fmt), B(fmt), atd, &b, N(delim), B(delim)) == kNoErr);
    CheckArray(b, rank, etd);
    std::string text2 = Write(b, rank, viewTD, etd, fmt, delim);
    if (text1 != text2) {
      std::fprintf(stderr, "text1 [%s]\ntext2 [%s]\n", text1.c_str(), text2.c_str());
      FUZZ_CHECK(text1 == text2);
    }
    // Read again into the same handle: the old elements are released.
    FUZZ_CHECK(TableToArray(N(text1), B(text1), N(fmt), B(fmt), atd, &b, N(delim), B(delim)) == kNoErr);
    DisposeData(atd, &b, &b + 1);
  }
  if (a) DisposeData(atd, &a, &a + 1);
  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
