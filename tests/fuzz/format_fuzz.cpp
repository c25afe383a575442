// Format strings as diagrams, files and users give them, over arguments of
// every class: the check, the multi-argument node and the single-argument
// concat run on them, no text written ever exceeds its measured bound, and
// the node writes what the two passes write.  The same format then scans an
// input text into the arguments, with and without defaults, through both
// scan nodes; qualifying formats (no width or flags, white space between
// specifiers, integer letters of the type's signedness, floats as "%.17e")
// format what they scanned and scan it back unchanged, and every value
// formatted by its own such format comes back.
//
// Input: a count byte (arguments, 0 to 7; bit 3: a defaults array), then per
// argument a class byte (bit 7: it has a default) and 20 value bytes, then a
// length byte and that many bytes of string or path text for each text
// argument, a length byte and that many bytes of format, and the rest is the
// input text of the scans.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "rtlib/strformat.h"
#include "rtlib/strscan.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"

namespace {

using Reader = FuzzReader;

// One argument: its descriptor bytes and a data block of exactly its size,
// and a default of the same type when it has one.
struct Arg {
  std::vector<uChar> td;
  std::unique_ptr<uChar[]> data;
  std::unique_ptr<uChar[]> def;
  size_t size = 0;
  int32 code = 0;
  bool goodNames = false;  // an enum whose names round-trip
  const TypeDescriptor* TD() const { return tdb::AsTD(td); }
};

Arg Make(const tdb::TD& td, const void* value, size_t size) {
  Arg a;
  a.td = td.Bytes();
  a.code = a.td[2];
  a.size = size;
  a.data.reset(new uChar[size]);
  std::memcpy(a.data.get(), value, size);
  return a;
}

Arg MakeArg(Reader& r) {
  uint8_t cls = r.Byte();
  uint8_t v[20];
  r.Bytes(v, sizeof v);
  Arg a;
  switch ((cls & 0x7F) % 20) {
    case 0: a = Make(tdb::I8(), v, 1); break;
    case 1: a = Make(tdb::I16(), v, 2); break;
    case 2: a = Make(tdb::I32(), v, 4); break;
    case 3: a = Make(tdb::I64(), v, 8); break;
    case 4: a = Make(tdb::U8(), v, 1); break;
    case 5: a = Make(tdb::U32(), v, 4); break;
    case 6: a = Make(tdb::U64(), v, 8); break;
    case 7: a = Make(tdb::SGL(), v, 4); break;
    case 8: a = Make(tdb::DBL(), v, 8); break;
    case 9: a = Make(tdb::EXT(), v, 10); break;
    case 10: a = Make(tdb::CSG(), v, 8); break;
    case 11: a = Make(tdb::CDB(), v, 16); break;
    case 12: a = Make(tdb::CXT(), v, 20); break;
    case 13: a = Make(tdb::Boolean(), v, 1); break;
    case 14: {
      // Distinct names without white space, or names that are not.
      static const std::vector<std::string> good = {"zero", "one", "two", "three", "t"};
      static const std::vector<std::string> bad = {"zero", "one", "a longer item name", "", "one"};
      uChar code = uChar(kTDEnumU8 + v[19] % 3);
      bool g = v[17] & 1;
      a = Make(tdb::Enum(code, g ? good : bad), v, code == kTDEnumU8 ? 1 : code == kTDEnumU16 ? 2 : 4);
      a.goodNames = g;
      break;
    }
    case 15: {
      // A unit numeric of metres, seconds per metre or kelvin.
      static const std::vector<std::pair<int16, int16>> dims[] = {
          {{kUnitM, 1}}, {{kUnitS, 1}, {kUnitM, -1}}, {{kUnitK, 1}}};
      uChar code = uChar(kTDUnitSGL + v[19] % 6);
      static const size_t sizes[] = {4, 8, 10, 8, 16, 20};
      a = Make(tdb::Unit(code, dims[v[18] % 3]), v, sizes[code - kTDUnitSGL]);
      break;
    }
    case 16:
    case 17: {
      LStrHandle h = nullptr;
      a = Make(tdb::StringOf((cls & 0x7F) % 20 == 16 ? kTDString : kTDString37), &h, sizeof h);
      break;
    }
    case 18: {
      Path p = nullptr;
      a = Make(tdb::Path(), &p, sizeof p);
      break;
    }
    default: a = Make(tdb::Cluster({tdb::I32()}), v, 4); break;  // a class the language does not know
  }
  if (cls & 0x80) {
    a.def.reset(new uChar[a.size]);
    // The default's value: the bytes after the value's own.
    for (size_t i = 0; i < a.size; ++i) a.def[i] = uChar(v[i] ^ 0x5A);
  }
  return a;
}

bool IsString(int32 code) { return code == kTDString || code == kTDString37; }

// Puts text into a text-class slot (a new handle or path).
void PutText(int32 code, uChar* slot, const uChar* text, int32 n) {
  if (code == kTDPath) {
    Path p = nullptr;
    if (FTextToPath(text, n, &p) != kNoErr) p = nullptr;
    std::memcpy(slot, &p, sizeof p);
  } else {
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
    if (!h) __builtin_trap();
    (*h)->cnt = n;
    if (n) std::memcpy((*h)->str, text, size_t(n));
    std::memcpy(slot, &h, sizeof h);
  }
}

void DisposeSlot(int32 code, const uChar* slot) {
  if (!slot) return;
  if (IsString(code)) {
    LStrHandle h;
    std::memcpy(&h, slot, sizeof h);
    if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  } else if (code == kTDPath) {
    Path p;
    std::memcpy(&p, slot, sizeof p);
    if (p) FDisposePath(p);
  }
}

// A list over the arguments (all of them, or those of the indexes).
std::vector<uChar> ListOf(std::vector<Arg>& args, const std::vector<int32>& which) {
  std::vector<uChar> bytes(4 + 8 * (which.size() + 1));
  FmtArgList* l = reinterpret_cast<FmtArgList*>(bytes.data());
  for (size_t k = 0; k < which.size(); ++k) {
    l->args[k].type = args[size_t(which[k])].TD();
    l->args[k].data = args[size_t(which[k])].data.get();
  }
  return bytes;
}

// The conversion an argument round-trips with: "%d" for signed integers of
// 32 bits at most, "%u" or "%x" for unsigned ones, "%.17e" for single and
// double floats and complex numbers, "%s" for booleans and enums with good
// names; null for the rest.
const char* RoundTripConv(const Arg& a, bool hex) {
  switch (a.code) {
    case kTDI8: case kTDI16: case kTDI32: return "%d";
    case kTDU8: case kTDU16: case kTDU32: return hex ? "%x" : "%u";
    case kTDSGL: case kTDDBL: case kTDCSG: case kTDCDB: return "%.17e";
    case kTDBoolean: return "%s";
    case kTDEnumU8: case kTDEnumU16: case kTDEnumU32: return a.goodNames ? "%s" : nullptr;
    default: return nullptr;
  }
}

// True when the format is one of the round-trip formats for the arguments.
bool Qualifies(const uChar* fmt, int32 len, const std::vector<Arg>& args) {
  int32 specs = 0;
  bool whiteSince = true;
  FmtWalker walk(fmt, len, nullptr);
  while (const FmtItem* it = walk.Next()) {
    if (it->kind == kFmtItemWhite) {
      whiteSince = true;
      continue;
    }
    if (it->kind != kFmtItemSpec || !whiteSince || specs >= int32(args.size())) return false;
    if (it->flags || it->width >= 0 || it->unitStart >= 0 || it->size) return false;
    const Arg& a = args[size_t(specs++)];
    const char* want = RoundTripConv(a, it->conv == 'x');
    if (!want) return false;
    std::string got(reinterpret_cast<const char*>(fmt + it->start), size_t(it->end - it->start));
    if (got != want && !(want[1] == 'x' && got == "%X") && !(want[1] == '.' && got == "%.17E")) return false;
    whiteSince = false;
  }
  return specs == int32(args.size()) && specs > 0;
}

// Compares an argument's value with what was scanned back into the other.
bool SameValue(const Arg& want, const Arg& got) {
  const uChar* w = want.data.get();
  const uChar* g = got.data.get();
  auto sameFloat = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  switch (want.code) {
    case kTDSGL: case kTDCSG:
      for (size_t k = 0; k < want.size; k += 4) {
        float32 x, y;
        std::memcpy(&x, w + k, 4);
        std::memcpy(&y, g + k, 4);
        if (!sameFloat(x, y)) return false;
      }
      return true;
    case kTDDBL: case kTDCDB:
      for (size_t k = 0; k < want.size; k += 8) {
        float64 x, y;
        std::memcpy(&x, w + k, 8);
        std::memcpy(&y, g + k, 8);
        if (!sameFloat(x, y)) return false;
      }
      return true;
    case kTDBoolean: return (w[0] != 0) == (g[0] != 0);
    case kTDEnumU8: case kTDEnumU16: case kTDEnumU32: {
      int32 nt = FmtNumType(want.code);
      uInt32 x = NumToULong(nt, w), y = NumToULong(nt, g);
      uInt32 last = uInt32(FmtEnumCount(want.TD()) - 1);
      return (x > last ? last : x) == y;
    }
    default: return std::memcmp(w, g, want.size) == 0;
  }
}

// Formats the arguments of which with fmt, scans the text back into fresh
// arguments of the same types, and checks every value came back.
void RoundTrip(std::vector<Arg>& args, const std::vector<int32>& which, const uChar* fmt, int32 len) {
  std::vector<uChar> lb = ListOf(args, which);
  FmtArgList* list = reinterpret_cast<FmtArgList*>(lb.data());
  LStrHandle f = reinterpret_cast<LStrHandle>(DSNewHandle(4 + len));
  (*f)->cnt = len;
  std::memcpy((*f)->str, fmt, size_t(len));
  LStrHandle text = nullptr;
  int32 count = int32(which.size());
  FUZZ_CHECK(DoPrintfNode(nullptr, f, nullptr, &text, count, list) == kNoErr);
  std::vector<Arg> back;
  std::vector<int32> all;
  for (int32 k = 0; k < count; ++k) {
    const Arg& a = args[size_t(which[size_t(k)])];
    Arg b;
    b.td = a.td;
    b.code = a.code;
    b.size = a.size;
    b.goodNames = a.goodNames;
    b.data.reset(new uChar[a.size]());
    back.push_back(std::move(b));
    all.push_back(k);
  }
  std::vector<uChar> bb = ListOf(back, all);
  FmtArgList* backList = reinterpret_cast<FmtArgList*>(bb.data());
  LStrHandle rest = nullptr;
  int32 past = 0;
  int32 res = DoScanfNode(nullptr, f, text, &rest, 0, &past, count, nullptr, backList);
  if (res != 0) std::fprintf(stderr, "text: %.*s\n", int(LStrLen(*text)), (*text)->str);
  FUZZ_CHECK(res == 0);
  FUZZ_CHECK(LStrLen(*rest) == 0);
  for (int32 k = 0; k < count; ++k) {
    bool same = SameValue(args[size_t(which[size_t(k)])], back[size_t(k)]);
    if (!same) std::fprintf(stderr, "text: %.*s, argument %d\n", int(LStrLen(*text)), (*text)->str, int(k));
    FUZZ_CHECK(same);
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(rest));
  DSDisposeHandle(reinterpret_cast<UHandle>(text));
  DSDisposeHandle(reinterpret_cast<UHandle>(f));
}

// Scanned outputs hold values of their class: booleans 0 or 1, enums within
// their items.
void CheckOutputs(const std::vector<Arg>& args) {
  for (const Arg& a : args) {
    if (a.code == kTDBoolean) FUZZ_CHECK(a.data[0] <= 1);
    if (a.code >= kTDEnumU8 && a.code <= kTDEnumU32) {
      int32 count = FmtEnumCount(a.TD());
      FUZZ_CHECK(count == 0 || NumToULong(FmtNumType(a.code), a.data.get()) < uInt32(count));
    }
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
  uint8_t head = r.Byte();
  int32 count = head % 8;
  bool useDefaults = head & 8;
  std::vector<Arg> args;
  for (int32 i = 0; i < count; ++i) args.push_back(MakeArg(r));
  for (Arg& a : args) {
    if (!IsString(a.code) && a.code != kTDPath) continue;
    uint8_t n = r.Byte();
    std::vector<uChar> text(size_t(n) + 1);
    r.Bytes(text.data(), n);
    PutText(a.code, a.data.get(), text.data(), n);
    if (a.def) PutText(a.code, a.def.get(), reinterpret_cast<const uChar*>("C:\\dflt"), 7);
  }
  // The format and the input in blocks of exactly their lengths.
  int32 len = r.Byte();
  if (size_t(len) > r.n) len = int32(r.n);
  std::unique_ptr<uChar[]> fmt(new uChar[len ? size_t(len) : 1]);
  r.Bytes(fmt.get(), size_t(len));
  int32 inLen = int32(r.n);
  std::unique_ptr<uChar[]> input(new uChar[inLen ? size_t(inLen) : 1]);
  r.Bytes(input.get(), size_t(inLen));

  std::vector<int32> all;
  for (int32 i = 0; i < count; ++i) all.push_back(i);
  std::vector<uChar> listBytes = ListOf(args, all);
  FmtArgList* list = reinterpret_cast<FmtArgList*>(listBytes.data());

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
    // The node writes what the two passes write, whichever way it takes; an
    // empty format is the default one.
    uChar defaultFormat[kFmtDefaultFormatMax + 1];
    const uChar* used = len > 0 ? fmt.get() : defaultFormat;
    const int32 usedLen = len > 0 ? len : MakeDefaultFormat(count, list, defaultFormat);
    const int32 usedBound = FormatMeasure(nullptr, list, used, usedLen, count);
    if (e == kNoErr && usedBound <= (1 << 20)) {
      std::vector<uChar> buf(size_t(usedBound) + 1);
      uChar* end = FormatWrite(nullptr, list, used, usedLen, buf.data(), usedBound, count);
      if (end) {
        FUZZ_CHECK(end - buf.data() == LStrLen(*out));
        FUZZ_CHECK(std::memcmp(buf.data(), (*out)->str, size_t(end - buf.data())) == 0);
      }
    }
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

  // Every value formatted by its own round-trip format comes back.
  {
    std::vector<int32> which;
    std::string rt;
    for (int32 i = 0; i < count; ++i) {
      if (const char* c = RoundTripConv(args[size_t(i)], args[size_t(i)].data[0] & 1)) {
        rt += rt.empty() ? "" : " ";
        rt += c;
        which.push_back(i);
      }
    }
    if (!which.empty()) RoundTrip(args, which, reinterpret_cast<const uChar*>(rt.data()), int32(rt.size()));
  }

  // Scanning: outputs start as values of their class; so do defaults.
  for (Arg& a : args) {
    for (uChar* v : {a.data.get(), a.def.get()}) {
      if (!v) continue;
      if (a.code == kTDBoolean) v[0] = v[0] & 1;
      if (a.code >= kTDEnumU8 && a.code <= kTDEnumU32) {
        int32 nt = FmtNumType(a.code);
        uInt32 x = NumToULong(nt, v), last = uInt32(FmtEnumCount(a.TD()));
        x = last == 0 ? 0 : x % last;
        ConvertNum(kNumU32, &x, nt, v);
      }
    }
  }
  std::vector<const void*> defaults(size_t(count) + 1, nullptr);
  for (int32 i = 0; i < count; ++i) defaults[size_t(i)] = args[size_t(i)].def.get();
  LStrHandle in = reinterpret_cast<LStrHandle>(DSNewHandle(4 + inLen));
  (*in)->cnt = inLen;
  if (inLen) std::memcpy((*in)->str, input.get(), size_t(inLen));
  LStrHandle rest = nullptr;
  int32 past = -1;
  list->errIndex = -1;
  int32 res = DoScanfNode(nullptr, f, in, &rest, 0, &past, count, useDefaults ? defaults.data() : nullptr, list);
  if (count < 1) FUZZ_CHECK(res == -1);
  else if (len > 0 && err) FUZZ_CHECK(res == -err);
  else FUZZ_CHECK(res == 0 || res == -kFmtScanFailed);
  if (res == 0 || res == -kFmtScanFailed) {
    FUZZ_CHECK(past >= 0 && past <= inLen);
    FUZZ_CHECK(rest && LStrLen(*rest) == inLen - past);
    FUZZ_CHECK(std::memcmp((*rest)->str, input.get() + past, size_t(inLen - past)) == 0);
    FUZZ_CHECK(res == 0 ? list->errIndex == 0 : list->errIndex >= 1);
    CheckOutputs(args);
    // A round-trip format formats what it scanned and scans it back.
    if (res == 0 && Qualifies(fmt.get(), len, args)) RoundTrip(args, all, fmt.get(), len);
  }
  // The single-argument form over the same input.
  if (count > 0) {
    LStrHandle left = nullptr;
    MgErr e = FormatStrip(inLen, input.get(), args[0].TD(), args[0].def.get(), args[0].data.get(), len, fmt.get(),
                          &left);
    FUZZ_CHECK(e == kNoErr);
    int32 n = LStrLen(*left);
    FUZZ_CHECK(n >= 0 && n <= inLen && std::memcmp((*left)->str, input.get() + (inLen - n), size_t(n)) == 0);
    CheckOutputs(args);
    DSDisposeHandle(reinterpret_cast<UHandle>(left));
  }
  FuzzArmed() = false;

  for (LStrHandle h : {out, f, in, rest})
    if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  for (Arg& a : args) {
    DisposeSlot(a.code, a.data.get());
    if (a.def) DisposeSlot(a.code, a.def.get());
  }
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
