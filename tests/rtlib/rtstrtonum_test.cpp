// Text to number: the conversion codes, the offsets and handles that read
// nothing, numbers at the very end of a handle, and the number types.
#include <climits>

#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "rtmath_test_support.h"

using namespace rttest;

namespace {

class RTStrToNumTest : public RTMathTest {
 protected:
  void TearDown() override {
    for (UHandle h : handles_) DSDisposeHandle(h);
    RTMathTest::TearDown();
  }
  // A data-zone string handle exactly as large as its characters need.
  LStrHandle Text(const std::string& s) {
    UHandle h = DSNewHandle(int32(sizeof(int32) + s.size()));
    EXPECT_NE(h, nullptr);
    handles_.push_back(h);
    LStrHandle t = reinterpret_cast<LStrHandle>(h);
    (*t)->cnt = int32(s.size());
    std::memcpy((*t)->str, s.data(), s.size());
    return t;
  }
  static int TypeReports() { return qxtest::Reports::Get().Count("number type code out of range"); }

 private:
  std::vector<UHandle> handles_;
};

constexpr uInt8 kFill = 0xCD;

// A result buffer filled with a marker, room for any number type and a
// margin to see what was written.
struct Result {
  alignas(8) uInt8 bytes[32];
  Result() { std::memset(bytes, kFill, sizeof bytes); }
  template <class T>
  T As() const {
    T v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
  bool UntouchedFrom(size_t first) const {
    for (size_t i = first; i < sizeof bytes; ++i) {
      if (bytes[i] != kFill) return false;
    }
    return true;
  }
};

TEST_F(RTStrToNumTest, ConversionCodes) {
  struct Case {
    const char* text;
    int32 offset, code, type;
    int32 wantOffset;
    int64 wantInt;  // for integer types
  };
  const Case cases[] = {
      {"1F", 0, kRTStrHex, kNumI32, 2, 31},
      {"ff;", 0, kRTStrHex, kNumI16, 2, 255},
      {"777", 0, kRTStrOct, kNumI32, 3, 511},
      {"-42", 0, kRTStrDec, kNumI32, 3, -42},
      {"x=12;", 2, kRTStrDec, kNumI32, 4, 12},
      {"300", 0, kRTStrDec, kNumI8, 3, 127},
      {"300", 0, kRTStrDec, kNumU8, 3, 255},
      {"4000000000", 0, kRTStrDec, kNumU32, 10, 4000000000ll},
      {"4000000000", 0, kRTStrDec, kNumU64, 10, 4000000000ll},
      {"99999999999", 0, kRTStrDec, kNumI64, 11, INT_MAX},
      {"-5", 0, kRTStrDec, kNumI64, 2, -5},
      {"abc", 0, kRTStrDec, kNumI32, 0, 0},
      {"-42", 0, kRTStrDec, kNumU16, 0, 0},  // unsigned text takes no sign
      {"  7", 0, kRTStrDec, kNumI32, 3, 7},
      {"12", 2, kRTStrDec, kNumI32, 2, 0},  // at the end: no digits
  };
  for (const Case& c : cases) {
    Result r;
    int32 end = RTStrToNum(Text(c.text), c.offset, c.code, c.type, r.bytes);
    EXPECT_EQ(end, c.wantOffset) << c.text << " code " << c.code;
    int32 size = NumSize(c.type);
    int64 got = 0;
    switch (c.type) {
      case kNumI8: got = r.As<int8>(); break;
      case kNumU8: got = r.As<uInt8>(); break;
      case kNumI16: got = r.As<int16>(); break;
      case kNumU16: got = r.As<uInt16>(); break;
      case kNumI32: got = r.As<int32>(); break;
      case kNumU32: got = r.As<uInt32>(); break;
      default: got = r.As<int64>(); break;
    }
    EXPECT_EQ(got, c.wantInt) << c.text << " code " << c.code << " type " << c.type;
    EXPECT_TRUE(r.UntouchedFrom(size_t(size))) << c.text;
  }
}

TEST_F(RTStrToNumTest, FloatingPointTextIntoEachRealType) {
  Result d;
  EXPECT_EQ(RTStrToNum(Text("3.25abc"), 0, kRTStrSci, kNumDBL, d.bytes), 4);
  EXPECT_EQ(d.As<float64>(), 3.25);
  EXPECT_TRUE(d.UntouchedFrom(8));
  Result s;
  EXPECT_EQ(RTStrToNum(Text("[-1.5e3]"), 1, kRTStrSci, kNumSGL, s.bytes), 7);
  EXPECT_EQ(s.As<float32>(), -1500.0f);
  EXPECT_TRUE(s.UntouchedFrom(4));
  Result x;
  EXPECT_EQ(RTStrToNum(Text("0.1"), 0, kRTStrSci, kNumEXT, x.bytes), 3);
  EXPECT_EQ(Val(x.As<ExtFloat>()), 0.1L);
  EXPECT_TRUE(x.UntouchedFrom(10));
  Result c;
  EXPECT_EQ(RTStrToNum(Text("2.5"), 0, kRTStrSci, kNumCDB, c.bytes), 3);
  EXPECT_EQ(c.As<float64>(), 2.5);
  float64 im;
  std::memcpy(&im, c.bytes + 8, 8);
  EXPECT_EQ(im, 0.0);
  Result i;
  EXPECT_EQ(RTStrToNum(Text("7.5"), 0, kRTStrSci, kNumI32, i.bytes), 3);
  EXPECT_EQ(i.As<int32>(), 8);  // halves to even
  Result dec;
  EXPECT_EQ(RTStrToNum(Text("-42"), 0, kRTStrDec, kNumDBL, dec.bytes), 3);
  EXPECT_EQ(dec.As<float64>(), -42.0);
}

// Code 1 over text without a number stores the text reader's NaN and uses
// nothing.
TEST_F(RTStrToNumTest, NoNumberStoresNaN) {
  Result d;
  EXPECT_EQ(RTStrToNum(Text("abc"), 1, kRTStrSci, kNumDBL, d.bytes), 1);
  EXPECT_TRUE(std::isnan(d.As<float64>()));
  EXPECT_TRUE(d.UntouchedFrom(8));
  Result atEnd;
  EXPECT_EQ(RTStrToNum(Text("12"), 2, kRTStrSci, kNumSGL, atEnd.bytes), 2);
  EXPECT_TRUE(std::isnan(atEnd.As<float32>()));
  Result i;
  EXPECT_EQ(RTStrToNum(Text("."), 0, kRTStrSci, kNumI32, i.bytes), 0);
  EXPECT_EQ(i.As<int32>(), INT_MIN);  // NaN converted to int32
}

TEST_F(RTStrToNumTest, OtherCodesReadNothing) {
  LStrHandle t = Text("123");
  for (int32 code : {0, 2, 5, 63, 65, 68, 100, -1, INT_MAX}) {
    Result r;
    EXPECT_EQ(RTStrToNum(t, 0, code, kNumI32, r.bytes), 0) << code;
    EXPECT_EQ(RTStrToNum(t, 1, code, kNumDBL, r.bytes), 1) << code;
    EXPECT_TRUE(r.UntouchedFrom(0)) << code;
  }
}

TEST_F(RTStrToNumTest, BadOffsetsAndHandlesReadNothing) {
  LStrHandle t = Text("123");
  for (int32 code : {kRTStrSci, kRTStrDec, kRTStrHex, kRTStrOct}) {
    for (int32 offset : {-1, 4, INT_MIN, INT_MAX}) {
      Result r;
      EXPECT_EQ(RTStrToNum(t, offset, code, kNumI32, r.bytes), offset);
      EXPECT_TRUE(r.UntouchedFrom(0)) << offset;
    }
    Result r;
    EXPECT_EQ(RTStrToNum(nullptr, 0, code, kNumI32, r.bytes), 0);
    EXPECT_EQ(RTStrToNum(nullptr, 3, code, kNumI32, r.bytes), 3);
    // Not a handle of the memory manager.
    LStr local = {3, {'1'}};
    LStr* master = &local;
    EXPECT_EQ(RTStrToNum(&master, 0, code, kNumI32, r.bytes), 0);
    EXPECT_TRUE(r.UntouchedFrom(0));
  }
  EXPECT_EQ(qxtest::Reports::Get().Text(), "");
}

// Numbers that run to the last byte of the handle, and a count that claims
// more characters than the handle holds: nothing past the handle is read.
TEST_F(RTStrToNumTest, NumbersAtTheEndOfTheHandle) {
  Result r;
  EXPECT_EQ(RTStrToNum(Text("12345"), 0, kRTStrDec, kNumI32, r.bytes), 5);
  EXPECT_EQ(r.As<int32>(), 12345);
  EXPECT_EQ(RTStrToNum(Text("xx1F"), 2, kRTStrHex, kNumI32, r.bytes), 4);
  EXPECT_EQ(r.As<int32>(), 31);
  EXPECT_EQ(RTStrToNum(Text("1.5e"), 0, kRTStrSci, kNumDBL, r.bytes), 3);
  EXPECT_EQ(r.As<float64>(), 1.5);
  EXPECT_EQ(RTStrToNum(Text("-2.5e-3"), 0, kRTStrSci, kNumDBL, r.bytes), 7);
  EXPECT_EQ(r.As<float64>(), -2.5e-3);
  LStrHandle lying = Text("777");
  (*lying)->cnt = 1000;
  EXPECT_EQ(RTStrToNum(lying, 0, kRTStrOct, kNumI32, r.bytes), 3);
  EXPECT_EQ(r.As<int32>(), 511);
  EXPECT_EQ(RTStrToNum(lying, 3, kRTStrOct, kNumI32, r.bytes), 3);
  EXPECT_EQ(RTStrToNum(lying, 4, kRTStrOct, kNumI32, r.bytes), 4);  // past the characters held
  (*lying)->cnt = -5;
  EXPECT_EQ(RTStrToNum(lying, 0, kRTStrDec, kNumI32, r.bytes), 0);
  EXPECT_EQ(RTStrToNum(lying, 1, kRTStrDec, kNumI32, r.bytes), 1);
}

TEST_F(RTStrToNumTest, NumberTypeCodes) {
  // 0 and 15 are no numbers: nothing is stored, and nothing reported.
  for (int32 type : {0, 15}) {
    for (int32 code : {kRTStrSci, kRTStrDec, kRTStrHex}) {
      Result r;
      EXPECT_EQ(RTStrToNum(Text("12"), 0, code, type, r.bytes), 2) << type << " " << code;
      EXPECT_TRUE(r.UntouchedFrom(0)) << type << " " << code;
    }
  }
  EXPECT_EQ(TypeReports(), 0);
  // Codes outside 0 to 15 are reported and their low four bits used.
  struct Case {
    int32 type, code;
    const char* text;
  };
  const Case cases[] = {{16 + kNumI32, kRTStrDec, "12"}, {-16 + kNumI32, kRTStrHex, "C"}, {32 + kNumI32, kRTStrSci, "12"}};
  for (const Case& c : cases) {
    int before = TypeReports();
    Result r;
    RTStrToNum(Text(c.text), 0, c.code, c.type, r.bytes);
    EXPECT_EQ(r.As<int32>(), 12) << c.type;
    EXPECT_TRUE(r.UntouchedFrom(4)) << c.type;
    EXPECT_GE(TypeReports(), before + 1) << c.type;
  }
  Result d;
  RTStrToNum(Text("0.1"), 0, kRTStrSci, 16 + kNumDBL, d.bytes);
  EXPECT_EQ(d.As<float64>(), 0.1);
}

}  // namespace
