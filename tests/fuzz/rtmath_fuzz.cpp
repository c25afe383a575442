// The numeric run-time functions on arbitrary input: text to number with
// any handle contents, offset, conversion code and number type, and every
// real and complex member on arbitrary bit patterns.
//
// Input: a mode byte; mode 0: offset, conversion and type bytes, then the
// text; mode 1: 4 + 4 bytes of singles, 8 + 8 of doubles, 10 + 10 of
// extendeds.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/numconv.h"
#include "mgsource/support.h"
#include "mgsource/textnum.h"
#include "rtlib/rtcomplex.h"
#include "rtlib/rtmath.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// ------------------------------------------------------------ text to number

int32 CodeOf(uint8_t sel) {
  static const int32 kCodes[] = {kRTStrSci, kRTStrDec, kRTStrHex, kRTStrOct, 0, 5, 65, 68};
  return kCodes[sel % (sizeof kCodes / sizeof kCodes[0])];
}

void TextToNumber(const uint8_t* p, const uint8_t* text, size_t size) {
  if (size > 4096) return;
  LStrHandle t = FuzzTextHandle(text, size);
  if (!t) return;
  UHandle h = UHandle(t);
  int32 offset = int32(int8_t(p[0]));
  int32 code = CodeOf(p[1]);
  int32 type = (p[2] & 0x80) ? int32(int8_t(p[2])) : (p[2] & 15);
  constexpr uint8_t kFill = 0xA5;
  alignas(8) uint8_t result[32];
  std::memset(result, kFill, sizeof result);

  int32 end = RTStrToNum(t, offset, code, type, result);
  bool reads = offset >= 0 && offset <= int32(size) &&
               (code == kRTStrSci || code == kRTStrDec || code == kRTStrHex || code == kRTStrOct);
  int32 written = reads ? NumSize(type & 15) : 0;
  if (reads) Check(end >= offset && end <= int32(size));
  else Check(end == offset);
  for (size_t i = size_t(written); i < sizeof result; ++i) Check(result[i] == kFill);

  // The same text in a buffer of exactly its length (an over-read shows),
  // read by the parsers themselves, gives the same end and value.
  if (reads && (type == kNumI32 || type == kNumDBL)) {
    std::vector<uChar> copy(text + offset, text + size);
    const uChar* cursor = copy.data();
    int32 left = int32(copy.size());
    alignas(8) uint8_t want[8] = {};
    if (code == kRTStrSci) {
      SciStrToNum(&cursor, left, type, want, NumDefaultDecimalPt());
    } else {
      int32 v = code == kRTStrHex ? HexStrToNum(&cursor, left, kNumI32)
                : code == kRTStrOct ? OctStrToNum(&cursor, left, kNumI32)
                                    : DecStrToNum(&cursor, left, kNumI32);
      ConvertNum(kNumI32, &v, type, want);
    }
    Check(end == offset + int32(cursor - copy.data()));
    if (type == kNumI32) {
      Check(std::memcmp(want, result, 4) == 0);
    } else {
      double a, b;
      std::memcpy(&a, want, 8);
      std::memcpy(&b, result, 8);
      Check(std::memcmp(&a, &b, 8) == 0 || (a != a && b != b));
    }
  }
  DSDisposeHandle(h);
}

// ------------------------------------------------------------ real members

bool Same(float a, float b) { return std::memcmp(&a, &b, 4) == 0 || (a != a && b != b); }
bool Same(double a, double b) { return std::memcmp(&a, &b, 8) == 0 || (a != a && b != b); }

typedef void (*UnaryS)(const float32*, float32*);
typedef void (*UnaryD)(const float64*, float64*);
typedef void (*UnaryX)(const ExtFloat*, ExtFloat*);
struct Unary {
  UnaryS s;
  UnaryD d;
  UnaryX x;
};
#define QX_U(Op) {&RTf##Op##S, &RTf##Op##D, &RTf##Op##X}
const Unary kUnary[] = {QX_U(Abs),   QX_U(Round), QX_U(Neg),   QX_U(Sqrt),  QX_U(Logn),   QX_U(Log10), QX_U(Log2),
                        QX_U(Lognp1), QX_U(Exp),  QX_U(Expm1), QX_U(Pow10), QX_U(Pow2),   QX_U(Recip), QX_U(Ceil),
                        QX_U(Floor), QX_U(Inc),   QX_U(Dec),   QX_U(Sign),  QX_U(Sin),    QX_U(Cos),   QX_U(Tan),
                        QX_U(Sec),   QX_U(Csc),   QX_U(Cot),   QX_U(Asin),  QX_U(Acos),   QX_U(Atan),  QX_U(Sinh),
                        QX_U(Cosh),  QX_U(Tanh),  QX_U(Asinh), QX_U(Acosh), QX_U(Atanh),  QX_U(Sinc)};
#undef QX_U

typedef void (*BinaryS)(const float32*, const float32*, float32*);
typedef void (*BinaryD)(const float64*, const float64*, float64*);
typedef void (*BinaryX)(const ExtFloat*, const ExtFloat*, ExtFloat*);
struct Binary {
  BinaryS s;
  BinaryD d;
  BinaryX x;
};
#define QX_B(Op) {&RTf##Op##S, &RTf##Op##D, &RTf##Op##X}
const Binary kBinary[] = {QX_B(Add), QX_B(Sub), QX_B(Mul), QX_B(Div), QX_B(Logx), QX_B(Powx), QX_B(Atan2)};
#undef QX_B

uint16_t ControlWord() {
  uint16_t cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  return cw;
}

// An extended result slot with two guard bytes after it.
struct ExtSlot {
  ExtFloat v;
  uint16_t guard = 0x5AA5;
};

void Members(const uint8_t* data, size_t size) {
  if (size < 44) return;
  float32 fs[2];
  float64 ds[2];
  ExtFloat xs[2];
  std::memcpy(fs, data, 8);
  std::memcpy(ds, data + 8, 16);
  std::memcpy(xs, data + 24, 20);
  const uint16_t cw = ControlWord();

  for (const Unary& u : kUnary) {
    for (int k = 0; k < 2; ++k) {
      // Single is double rounded once.
      float32 rs;
      float64 rd;
      float64 wide = fs[k];
      u.s(&fs[k], &rs);
      u.d(&wide, &rd);
      Check(Same(rs, float32(rd)));
      u.d(&ds[k], &rd);
      ExtSlot rx;
      u.x(&xs[k], &rx.v);
      Check(rx.guard == 0x5AA5);
    }
  }
  for (const Binary& b : kBinary) {
    float32 rs;
    float64 rd, w0 = fs[0], w1 = fs[1];
    b.s(&fs[0], &fs[1], &rs);
    b.d(&w0, &w1, &rd);
    Check(Same(rs, float32(rd)));
    b.d(&ds[0], &ds[1], &rd);
    ExtSlot rx;
    b.x(&xs[0], &xs[1], &rx.v);
    Check(rx.guard == 0x5AA5);
  }

  // The comparison rule's identities.
  const float64 x = ds[0], y = ds[1];
  Check(RTfNED(&x, &y) == !RTfEQD(&x, &y));
  Check(RTfGED(&x, &y) == !RTfLTD(&x, &y));
  Check(RTfLED(&x, &y) == !RTfGTD(&x, &y));
  Check(RTfEQD(&x, &y) + RTfLTD(&x, &y) + RTfGTD(&x, &y) >= 1);
  const float64 zero = 0;
  Check(RTfEQ0D(&x) == RTfEQD(&x, &zero) && RTfLT0D(&x) == RTfLTD(&x, &zero) && RTfGT0D(&x) == RTfGTD(&x, &zero));
  Check(RTfNES(&fs[0], &fs[1]) == !RTfEQS(&fs[0], &fs[1]));
  Check(RTfGEX(&xs[0], &xs[1]) == !RTfLTX(&xs[0], &xs[1]));
  Check(RTfLEX(&xs[0], &xs[1]) == !RTfGTX(&xs[0], &xs[1]));
  Check(RTfNEX(&xs[0], &xs[1]) == !RTfEQX(&xs[0], &xs[1]));

  // MaxMin gives one of its operands (the maximum NaN when they are unordered).
  float64 hi, lo;
  RTfMaxMinD(&x, &y, &hi, &lo);
  Check(Same(lo, x) || Same(lo, y));
  Check(Same(hi, x) || Same(hi, y) || hi != hi);

  // The split is exact.
  float64 m, e;
  RTfGetMantExpD(&x, &m, &e);
  if (std::isfinite(x) && x != 0) Check(std::fabs(m) >= 1 && std::fabs(m) < 2 && std::ldexp(m, int(e)) == x);

  // Rounding gives an integer within a half.
  float64 r;
  RTfRoundD(&x, &r);
  if (std::isfinite(x)) Check(r == std::floor(r) && std::fabs(r - x) <= 0.5);

  float64 q, rem;
  RTfQRemD(&x, &y, &q, &rem);
  RTfModD(&x, &y, &r);
  Check(Same(r, rem));
  Check(ControlWord() == cw);
}

// ------------------------------------------------------------ complex members

bool SameBytes(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }
bool Same(const ComplexD& a, const ComplexD& b) { return Same(a.re, b.re) && Same(a.im, b.im); }

typedef void (*CUnaryS)(const ComplexS*, ComplexS*);
typedef void (*CUnaryD)(const ComplexD*, ComplexD*);
typedef void (*CUnaryX)(const ComplexX*, ComplexX*);
struct CUnary {
  CUnaryS s;
  CUnaryD d;
  CUnaryX x;
};
#define QX_CU(Op) {&RTc##Op##S, &RTc##Op##D, &RTc##Op##X}
const CUnary kCUnary[] = {
    QX_CU(Recip), QX_CU(Conj),  QX_CU(Round), QX_CU(Neg),   QX_CU(Sqrt),  QX_CU(Logn),  QX_CU(Log10), QX_CU(Log2),
    QX_CU(Lognp1), QX_CU(Exp),  QX_CU(Expm1), QX_CU(Pow10), QX_CU(Pow2),  QX_CU(Ceil),  QX_CU(Floor), QX_CU(Inc),
    QX_CU(Dec),   QX_CU(Sign),  QX_CU(Sin),   QX_CU(Cos),   QX_CU(Tan),   QX_CU(Sec),   QX_CU(Csc),   QX_CU(Cot),
    QX_CU(Asin),  QX_CU(Acos),  QX_CU(Atan),  QX_CU(Sinh),  QX_CU(Cosh),  QX_CU(Tanh),  QX_CU(Asinh), QX_CU(Acosh),
    QX_CU(Atanh), QX_CU(Sinc),  QX_CU(RToP),  QX_CU(PToR)};
#undef QX_CU

typedef void (*CBinaryS)(const ComplexS*, const ComplexS*, ComplexS*);
typedef void (*CBinaryD)(const ComplexD*, const ComplexD*, ComplexD*);
typedef void (*CBinaryX)(const ComplexX*, const ComplexX*, ComplexX*);
struct CBinary {
  CBinaryS s;
  CBinaryD d;
  CBinaryX x;
};
#define QX_CB(Op) {&RTc##Op##S, &RTc##Op##D, &RTc##Op##X}
const CBinary kCBinary[] = {QX_CB(Mul), QX_CB(Div), QX_CB(Add), QX_CB(Sub), QX_CB(Logx), QX_CB(Powx), QX_CB(Atan2)};
#undef QX_CB

// A complex extended result slot with two guard bytes after it.
struct ComplexSlot {
  ComplexX v;
  uint16_t guard = 0x5AA5;
};

void ComplexMembers(const uint8_t* data, size_t size) {
  if (size < 44) return;
  ComplexS zs, ws;
  ComplexD zd, wd;
  ComplexX zx, wx;
  std::memcpy(&zs, data, 8);
  std::memcpy(&zd, data + 8, 16);
  std::memcpy(&zx, data + 24, 20);
  ws = {zs.im, zs.re};
  wd = {zd.im, zd.re};
  wx = {zx.im, zx.re};
  const uint16_t cw = ControlWord();

  for (const CUnary& u : kCUnary) {
    ComplexS rs;
    u.s(&zs, &rs);
    // In place gives the same result.
    ComplexD rd, inPlace = zd;
    u.d(&zd, &rd);
    u.d(&inPlace, &inPlace);
    Check(Same(rd, inPlace));
    ComplexSlot rx;
    u.x(&zx, &rx.v);
    Check(rx.guard == 0x5AA5);
  }
  for (const CBinary& b : kCBinary) {
    ComplexS rs;
    b.s(&zs, &ws, &rs);
    ComplexD rd, first = zd, second = wd;
    b.d(&zd, &wd, &rd);
    b.d(&first, &wd, &first);
    b.d(&zd, &second, &second);
    Check(Same(rd, first) && Same(rd, second));
    ComplexSlot rx;
    b.x(&zx, &wx, &rx.v);
    Check(rx.guard == 0x5AA5);
  }

  // The tests are each other's opposites; Add in S is double rounded once.
  Check(RTcNED(&zd, &wd) == !RTcEQD(&zd, &wd) && RTcNE0D(&zd) == !RTcEQ0D(&zd));
  Check(RTcNEX(&zx, &wx) == !RTcEQX(&zx, &wx) && RTcNE0X(&zx) == !RTcEQ0X(&zx));
  Check(RTcEQX(&zx, &zx) == 1);
  ComplexS sum;
  RTcAddS(&zs, &ws, &sum);
  Check(Same(sum.re, float32(float64(zs.re) + float64(ws.re))) && Same(sum.im, float32(float64(zs.im) + float64(ws.im))));

  // Conj twice and the copies keep every bit of an extended number.
  ComplexX c1, c2, made;
  RTcConjX(&zx, &c1);
  RTcConjX(&c1, &c2);
  Check(SameBytes(&c2, &zx, sizeof zx));
  RTcfCToReImX(&zx, &made.re, &made.im);
  Check(SameBytes(&made, &zx, sizeof zx));
  RTfcReImToCX(&zx.re, &zx.im, &made);
  Check(SameBytes(&made, &zx, sizeof zx));

  // The magnitude is the polar pair's r.
  float64 abs, r, theta;
  RTcAbsD(&zd, &abs);
  RTcfCToRThD(&zd, &r, &theta);
  if (!RTcEQ0D(&zd)) Check(Same(abs, r));
  Check(ControlWord() == cw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers() && SupportInit() == kNoErr;
  if (!started || size < 1) return 0;
  if (data[0] & 1) {
    Members(data + 1, size - 1);
    ComplexMembers(data + 1, size - 1);
  } else if (size >= 4) {
    TextToNumber(data + 1, data + 4, size - 4);
  }
  return 0;
}
