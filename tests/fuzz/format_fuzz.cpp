// Format strings as diagrams, files and users give them, over arguments of
// every class: the check, the multi-argument node and the single-argument
// concat run on them, and no text written ever exceeds its measured bound.
//
// Input: a count byte (arguments, 0 to 7), then per argument a class byte
// and 20 value bytes, then a length byte and that many bytes of string or
// path text for each text argument, and the rest is the format.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/path.h"
#include "rtlib/strformat.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"

namespace {

// Reads bytes of the input; past its end zeros.
struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  void Bytes(void* out, size_t k) {
    for (size_t i = 0; i < k; ++i) static_cast<uint8_t*>(out)[i] = Byte();
  }
};

// One argument: its descriptor bytes and a data block of exactly its size.
struct Arg {
  std::vector<uChar> td;
  std::unique_ptr<uChar[]> data;
  int32 code = 0;
};

Arg Make(const tdb::TD& td, const void* value, size_t size) {
  Arg a;
  a.td = td.Bytes();
  a.code = a.td[2];
  a.data.reset(new uChar[size]);
  std::memcpy(a.data.get(), value, size);
  return a;
}

Arg MakeArg(Reader& r) {
  uint8_t cls = r.Byte();
  uint8_t v[20];
  r.Bytes(v, sizeof v);
  switch (cls % 20) {
    case 0: return Make(tdb::I8(), v, 1);
    case 1: return Make(tdb::I16(), v, 2);
    case 2: return Make(tdb::I32(), v, 4);
    case 3: return Make(tdb::I64(), v, 8);
    case 4: return Make(tdb::U8(), v, 1);
    case 5: return Make(tdb::U32(), v, 4);
    case 6: return Make(tdb::U64(), v, 8);
    case 7: return Make(tdb::SGL(), v, 4);
    case 8: return Make(tdb::DBL(), v, 8);
    case 9: return Make(tdb::EXT(), v, 10);
    case 10: return Make(tdb::CSG(), v, 8);
    case 11: return Make(tdb::CDB(), v, 16);
    case 12: return Make(tdb::CXT(), v, 20);
    case 13: return Make(tdb::Boolean(), v, 1);
    case 14: {
      static const std::vector<std::string> items = {"zero", "one", "a longer item name", ""};
      uChar code = uChar(kTDEnumU8 + v[19] % 3);
      return Make(tdb::Enum(code, items), v, code == kTDEnumU8 ? 1 : code == kTDEnumU16 ? 2 : 4);
    }
    case 15: {
      // A unit numeric of metres, seconds per metre or kelvin.
      static const std::vector<std::pair<int16, int16>> dims[] = {
          {{kUnitM, 1}}, {{kUnitS, 1}, {kUnitM, -1}}, {{kUnitK, 1}}};
      uChar code = uChar(kTDUnitSGL + v[19] % 6);
      static const size_t sizes[] = {4, 8, 10, 8, 16, 20};
      return Make(tdb::Unit(code, dims[v[18] % 3]), v, sizes[code - kTDUnitSGL]);
    }
    case 16:
    case 17: {
      LStrHandle h = nullptr;
      return Make(tdb::StringOf(cls % 20 == 16 ? kTDString : kTDString37), &h, sizeof h);
    }
    case 18: {
      Path p = nullptr;
      return Make(tdb::Path(), &p, sizeof p);
    }
    default: return Make(tdb::Cluster({tdb::I32()}), v, 4);  // a class the language does not know
  }
}

// Writes with room to spare and checks the text against the bound.
void WriteWithinBound(const TypeDescriptor* td, const void* data, const uChar* fmt, int32 len, int32 count) {
  int32 bound = FormatMeasure(td, data, fmt, len, count);
  FUZZ_CHECK(bound >= 0);
  if (bound > (1 << 20)) return;  // a huge width: bounded, not written
  std::vector<uChar> buf(size_t(bound) + 4096);
  uChar* end = FormatWrite(td, data, fmt, len, buf.data(), int32(buf.size()), count);
  if (!end) return;  // a path's text could not be had
  FUZZ_CHECK(end >= buf.data() && end - buf.data() <= bound);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] { return FuzzStartManagers(FuzzAbortWhenArmed) && UnitsInit() == kNoErr; }();
  if (!started) __builtin_trap();
  if (size > 8192) return 0;
  int32 live = FuzzLiveHandles();
  Reader r{data, size};
  int32 count = r.Byte() % 8;
  std::vector<Arg> args;
  for (int32 i = 0; i < count; ++i) args.push_back(MakeArg(r));
  for (Arg& a : args) {
    if (a.code != kTDString && a.code != kTDString37 && a.code != kTDPath) continue;
    uint8_t n = r.Byte();
    std::vector<uChar> text(n);
    r.Bytes(text.data(), n);
    if (a.code == kTDPath) {
      Path p = nullptr;
      if (FTextToPath(text.data(), n, &p) != kNoErr) p = nullptr;
      std::memcpy(a.data.get(), &p, sizeof p);
    } else {
      LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
      if (!h) __builtin_trap();
      (*h)->cnt = n;
      if (n) std::memcpy((*h)->str, text.data(), n);
      std::memcpy(a.data.get(), &h, sizeof h);
    }
  }
  // The format in a block of exactly its length.
  int32 len = int32(r.n);
  std::unique_ptr<uChar[]> fmt(new uChar[r.n ? r.n : 1]);
  if (r.n) std::memcpy(fmt.get(), r.p, r.n);

  std::vector<uChar> listBytes(4 + 8 * size_t(count ? count : 1));
  FmtArgList* list = reinterpret_cast<FmtArgList*>(listBytes.data());
  for (int32 i = 0; i < count; ++i) {
    list->args[i].type = tdb::AsTD(args[size_t(i)].td);
    list->args[i].data = args[size_t(i)].data.get();
  }

  FuzzArmed() = true;
  // The check: a known code, and the error index only for 81 and 82.
  list->errIndex = -1;
  int32 err = FmtCheck(fmt.get(), len, count, list);
  FUZZ_CHECK(err == 0 || (err >= kFmtTypeErr && err <= kFmtTooManySpecs));
  if (err == kFmtTypeErr || err == kFmtConvErr) FUZZ_CHECK(list->errIndex >= 1 && list->errIndex <= count);
  else FUZZ_CHECK(list->errIndex == 0);

  // The passes: both forms, every argument in the single form.
  WriteWithinBound(nullptr, list, fmt.get(), len, count);
  for (int32 i = 0; i < count; ++i) WriteWithinBound(list->args[i].type, list->args[i].data, fmt.get(), len, 0);

  // The node: a check error gives its negated code and an empty output.
  LStrHandle f = reinterpret_cast<LStrHandle>(DSNewHandle(4 + len));
  (*f)->cnt = len;
  if (len) std::memcpy((*f)->str, fmt.get(), size_t(len));
  LStrHandle out = nullptr;
  int32 bound = FormatMeasure(nullptr, list, fmt.get(), len, count);
  if (bound <= (1 << 20)) {
    MgErr e = DoPrintfNode(nullptr, f, nullptr, &out, count, list);
    if (len > 0 && err) FUZZ_CHECK(e == -err);
    FUZZ_CHECK(e == kNoErr || e == kMemFullErr || (e <= -kFmtTypeErr && e >= -kFmtTooManySpecs));
    FUZZ_CHECK(out && LStrLen(*out) >= 0);
    if (e) FUZZ_CHECK(LStrLen(*out) == 0);
    else if (len > 0) FUZZ_CHECK(LStrLen(*out) <= bound);
  }
  // The concat of the first argument after a prefix of the format.
  if (count > 0) {
    int32 prefix = len / 2;
    int32 single = FormatMeasure(list->args[0].type, list->args[0].data, fmt.get() + prefix, len - prefix, 0);
    if (single <= (1 << 20)) {
      MgErr e = FormatConcat(prefix, fmt.get(), list->args[0].type, list->args[0].data, len - prefix,
                             fmt.get() + prefix, &out);
      FUZZ_CHECK(e == kNoErr || e == kMemFullErr);
      if (e == kNoErr && len - prefix > 0) {
        FUZZ_CHECK(LStrLen(*out) <= prefix + single);
        FUZZ_CHECK(std::memcmp((*out)->str, fmt.get(), size_t(prefix)) == 0);
      }
    }
  }
  FuzzArmed() = false;

  if (out) DSDisposeHandle(reinterpret_cast<UHandle>(out));
  DSDisposeHandle(reinterpret_cast<UHandle>(f));
  for (Arg& a : args) {
    if (a.code == kTDString || a.code == kTDString37) {
      LStrHandle h;
      std::memcpy(&h, a.data.get(), sizeof h);
      DSDisposeHandle(reinterpret_cast<UHandle>(h));
    } else if (a.code == kTDPath) {
      Path p;
      std::memcpy(&p, a.data.get(), sizeof p);
      if (p) FDisposePath(p);
    }
  }
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
