// The unary real functions, the tests and comparisons, the integer functions
// and text to number.
#include <climits>
#include <cmath>
#include <cstring>

#include "mgsource/memory.h"
#include "mgsource/textnum.h"
#include "rtlib/rtformulas.h"
#include "rtlib/rtnumeric.h"

using rtnum::Double;
using rtnum::Extended;
using rtnum::Single;
using namespace rtnum::formulas;

namespace {

// x = m * 2^e with 1 <= |m| < 2, exactly; zeros, NaNs and infinities as
// the member says.
template <class P>
void GetMantExp(const typename P::Mem* xp, typename P::Mem* mant, typename P::Mem* expo) {
  typedef typename P::Calc T;
  T x = P::Load(xp);
  T m = x, e = x;
  if (rtnum::EQ0(x)) {
    // m = e = x
  } else if (std::isinf(x)) {
    e = rtnum::PosInf<T>();
  } else {
    int k = 0;
    m = std::frexp(x, &k) * 2;  // 1/2 <= |f| < 1
    e = T(k - 1);
  }
  rtnum::StoreOptional<P>(mant, m);
  rtnum::StoreOptional<P>(expo, e);
}

template <class P>
void SinCos(const typename P::Mem* xp, typename P::Mem* sine, typename P::Mem* cosine) {
  typename P::Calc x = P::Load(xp);
  typename P::Calc s = std::sin(x), c = std::cos(x);
  rtnum::StoreOptional<P>(sine, s);
  rtnum::StoreOptional<P>(cosine, c);
}

// ------------------------------------------------------------ extended bits

inline ExtFloat ReadExt(const ExtFloat* p) {
  ExtFloat v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline int16 SignExpWord(const ExtFloat* p) { return int16(ReadExt(p).signExp); }
enum : uInt16 { kExtSignBit = 0x8000 };

// ------------------------------------------------------------ text to number

// The bytes a handle of either zone holds, or -1 when it is no live handle
// of the memory manager.
int32 HandleStorage(const void* h) {
  if (MemIsDSHandle(h)) return DSGetHandleSize(UHandle(h));
  if (AZIsHandle(h)) return AZGetHandleSize(UHandle(h));
  return -1;
}

bool IsUnsignedType(int32 numType) { return NumClass(numType & 15) == kNumClassUnsigned; }
bool IsIntegerType(int32 numType) {
  int32 c = NumClass(numType & 15);
  return c == kNumClassSigned || c == kNumClassUnsigned;
}

// Largest number any NumType needs: complex extended.
enum { kLargestNumber = 20 };

}  // namespace

// ------------------------------------------------------------ unary members

#define QX_RT_UNARY_SD(Op)                                                                           \
  void RTf##Op##S(const float32* x, float32* result) { Single::Store(result, Op##Of(Single::Load(x))); } \
  void RTf##Op##D(const float64* x, float64* result) { Double::Store(result, Op##Of(Double::Load(x))); }
#define QX_RT_UNARY(Op) \
  QX_RT_UNARY_SD(Op)    \
  void RTf##Op##X(const ExtFloat* x, ExtFloat* result) { Extended::Store(result, Op##Of(Extended::Load(x))); }

QX_RT_UNARY_SD(Abs)
QX_RT_UNARY(Round)
QX_RT_UNARY_SD(Neg)
QX_RT_UNARY(Sqrt)
QX_RT_UNARY(Logn)
QX_RT_UNARY(Log10)
QX_RT_UNARY(Log2)
QX_RT_UNARY(Lognp1)
QX_RT_UNARY(Exp)
QX_RT_UNARY(Expm1)
QX_RT_UNARY(Pow10)
QX_RT_UNARY(Pow2)
QX_RT_UNARY(Recip)
QX_RT_UNARY(Ceil)
QX_RT_UNARY(Floor)
QX_RT_UNARY(Inc)
QX_RT_UNARY(Dec)
QX_RT_UNARY(Sign)
QX_RT_UNARY(Sin)
QX_RT_UNARY(Cos)
QX_RT_UNARY(Tan)
QX_RT_UNARY(Sec)
QX_RT_UNARY(Csc)
QX_RT_UNARY(Cot)
QX_RT_UNARY(Asin)
QX_RT_UNARY(Acos)
QX_RT_UNARY(Atan)
QX_RT_UNARY(Sinh)
QX_RT_UNARY(Cosh)
QX_RT_UNARY(Tanh)
QX_RT_UNARY(Asinh)
QX_RT_UNARY(Acosh)
QX_RT_UNARY(Atanh)
QX_RT_UNARY(Sinc)

#undef QX_RT_UNARY
#undef QX_RT_UNARY_SD

// The sign of an extended number is bit 15 of its last word.
void RTfAbsX(const ExtFloat* x, ExtFloat* result) {
  ExtFloat v = ReadExt(x);
  v.signExp = uInt16(v.signExp & ~kExtSignBit);
  std::memcpy(result, &v, sizeof v);
}
void RTfNegX(const ExtFloat* x, ExtFloat* result) {
  ExtFloat v = ReadExt(x);
  v.signExp = uInt16(v.signExp ^ kExtSignBit);
  std::memcpy(result, &v, sizeof v);
}

void RTfGetMantExpS(const float32* x, float32* mantissa, float32* exponent) {
  GetMantExp<Single>(x, mantissa, exponent);
}
void RTfGetMantExpD(const float64* x, float64* mantissa, float64* exponent) {
  GetMantExp<Double>(x, mantissa, exponent);
}
void RTfGetMantExpX(const ExtFloat* x, ExtFloat* mantissa, ExtFloat* exponent) {
  GetMantExp<Extended>(x, mantissa, exponent);
}

void RTfSinCosS(const float32* x, float32* sine, float32* cosine) { SinCos<Single>(x, sine, cosine); }
void RTfSinCosD(const float64* x, float64* sine, float64* cosine) { SinCos<Double>(x, sine, cosine); }
void RTfSinCosX(const ExtFloat* x, ExtFloat* sine, ExtFloat* cosine) { SinCos<Extended>(x, sine, cosine); }

// ------------------------------------------------------------ tests

Bool32 RTfIsNanS(const float32* x) { return rtnum::IsNaNOperand<Single>(x); }
Bool32 RTfIsNanD(const float64* x) { return rtnum::IsNaNOperand<Double>(x); }
Bool32 RTfIsNanX(const ExtFloat* x) { return rtnum::IsNaNOperand<Extended>(x); }

#define QX_RT_ZERO_TEST_SD(Op)                                          \
  Bool32 RTf##Op##S(const float32* x) { return rtnum::Op(Single::Load(x)); } \
  Bool32 RTf##Op##D(const float64* x) { return rtnum::Op(Double::Load(x)); }
QX_RT_ZERO_TEST_SD(EQ0)
QX_RT_ZERO_TEST_SD(NE0)
QX_RT_ZERO_TEST_SD(GE0)
QX_RT_ZERO_TEST_SD(LE0)
QX_RT_ZERO_TEST_SD(GT0)
QX_RT_ZERO_TEST_SD(LT0)
#undef QX_RT_ZERO_TEST_SD

// The extended zero tests look only at the sign-and-exponent word.
Bool32 RTfEQ0X(const ExtFloat* x) { return SignExpWord(x) == 0; }
Bool32 RTfNE0X(const ExtFloat* x) { return SignExpWord(x) != 0; }
Bool32 RTfGE0X(const ExtFloat* x) { return SignExpWord(x) >= 0; }
Bool32 RTfLT0X(const ExtFloat* x) { return SignExpWord(x) < 0; }
Bool32 RTfGT0X(const ExtFloat* x) { return SignExpWord(x) > 0; }
Bool32 RTfLE0X(const ExtFloat* x) { return SignExpWord(x) <= 0; }

#define QX_RT_COMPARE_SD(Op)                                                                              \
  Bool32 RTf##Op##S(const float32* x, const float32* y) { return rtnum::Op(Single::Load(x), Single::Load(y)); } \
  Bool32 RTf##Op##D(const float64* x, const float64* y) { return rtnum::Op(Double::Load(x), Double::Load(y)); }
#define QX_RT_COMPARE(Op) \
  QX_RT_COMPARE_SD(Op)    \
  Bool32 RTf##Op##X(const ExtFloat* x, const ExtFloat* y) { return rtnum::Op(Extended::Load(x), Extended::Load(y)); }
QX_RT_COMPARE_SD(EQ)
QX_RT_COMPARE_SD(NE)
QX_RT_COMPARE(GE)
QX_RT_COMPARE(LE)
QX_RT_COMPARE(GT)
QX_RT_COMPARE(LT)
#undef QX_RT_COMPARE
#undef QX_RT_COMPARE_SD

// Extended equality compares the bits of all three parts.
Bool32 RTfEQX(const ExtFloat* x, const ExtFloat* y) { return std::memcmp(x, y, sizeof(ExtFloat)) == 0; }
Bool32 RTfNEX(const ExtFloat* x, const ExtFloat* y) { return !RTfEQX(x, y); }

// ------------------------------------------------------------ integers

int32 RTiMul(int32 a, int32 b) { return int32(uInt32(a) * uInt32(b)); }
// The same routine under its unsigned name: the low 32 bits do not depend on
// the signs.
QX_EXTERN_C int32 RTuMul(int32 a, int32 b) __attribute__((alias("RTiMul")));

// The processor traps on a zero divisor and on the minimum int32 divided by
// -1; neither reaches it.
int32 RTiDiv(int32 a, int32 b) {
  if (b == 0) return 0;
  if (b == -1) return int32(0u - uInt32(a));  // the minimum int32 wraps to itself
  return a / b;
}
uInt32 RTuDiv(uInt32 a, uInt32 b) { return b == 0 ? 0 : a / b; }

// ------------------------------------------------------------ text to number

int32 RTStrToNum(LStrHandle text, int32 offset, int32 conversion, int32 numType, void* result) {
  if (conversion != kRTStrSci && conversion != kRTStrDec && conversion != kRTStrHex && conversion != kRTStrOct) {
    return offset;
  }
  int32 storage = text ? HandleStorage(text) : -1;
  if (storage < int32(sizeof(int32)) || !*text) return offset;
  // A count beyond the handle's bytes is not trusted past them.
  int32 count = LStrLen(*text);
  if (count > storage - int32(sizeof(int32))) count = storage - int32(sizeof(int32));
  if (offset < 0 || offset > count) return offset;

  const uChar* start = LStrBuf(*text) + offset;
  const uChar* cursor = start;
  int32 left = count - offset;
  if (conversion == kRTStrSci) {
    if (uInt32(numType) < 16) {
      SciStrToNum(&cursor, left, numType, result, NumDefaultDecimalPt());
    } else {
      // Read into the type of the low four bits; ConvertNum reports the code.
      alignas(8) uChar number[kLargestNumber] = {};
      SciStrToNum(&cursor, left, numType & 15, number, NumDefaultDecimalPt());
      ConvertNum(numType & 15, number, numType, result);
    }
  } else {
    // The parsers pin to an integer numType; other types get the int32.
    int32 parseType = IsIntegerType(numType) ? (numType & 15) : kNumI32;
    int32 value;
    if (conversion == kRTStrHex) value = HexStrToNum(&cursor, left, parseType);
    else if (conversion == kRTStrOct) value = OctStrToNum(&cursor, left, parseType);
    else if (IsUnsignedType(numType)) value = UDecStrToNum(&cursor, left, parseType);
    else value = DecStrToNum(&cursor, left, parseType);
    // Unsigned values convert as unsigned, so that a 64-bit destination is
    // not sign-extended.
    ConvertNum(IsUnsignedType(numType) ? kNumU32 : kNumI32, &value, numType, result);
  }
  return offset + int32(cursor - start);
}
