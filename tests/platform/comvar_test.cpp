// The component layer's values and objects: type changes with their
// overflow and mismatch results, safe arrays whose descriptors may lie,
// wide strings through the code page, and the class, running-object and
// interface tables keeping references balanced.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/qx_comvar.h"

namespace comvar {

PlatVariant V(uint16_t vt) {
  PlatVariant v;
  PlatVariantInit(&v);
  v.vt = vt;
  return v;
}
PlatVariant I4(int32_t x) {
  PlatVariant v = V(kPlatVtI4);
  v.i4 = x;
  return v;
}
PlatVariant R8(double x) {
  PlatVariant v = V(kPlatVtR8);
  v.r8 = x;
  return v;
}
PlatVariant Str(const std::string& s) {
  PlatVariant v = V(kPlatVtBstr);
  v.bstr = PlatBstrFromText(s.data(), uint32_t(s.size()));
  return v;
}
std::string Text(const PlatVariant& v) {
  PlatVariant t;
  PlatVariantInit(&t);
  if (PlatVariantChangeType(&t, &v, 0, kPlatVtBstr) != kPlatOk) return "<none>";
  std::string s(PlatBstrLength(t.bstr), '\0');
  PlatBstrToText(t.bstr, uint32_t(s.size()), s.data(), uint32_t(s.size()));
  PlatVariantClear(&t);
  return s;
}

// Every coercion the conversions rely on, with its failures: reals round
// half to even, each target's range is checked, text parses whatever the
// locale, and a by-reference source is read through its storage.
TEST(PlatformComVar, ChangeTypeCoercesOrFailsAsTheTargetRangeSays) {
  int16_t refI2 = -7;
  PlatVariant byRef = V(kPlatVtByRef | kPlatVtI2);
  byRef.byRef = &refI2;
  PlatVariant boolTrue = V(kPlatVtBool);
  boolTrue.boolVal = kPlatVariantTrue;
  PlatVariant ui4 = V(kPlatVtUI4);
  ui4.ui4 = 0xFFFFFFFFu;
  struct Case {
    const char* what;
    PlatVariant src;
    uint16_t vt;
    PlatHResult result;
    const char* text;  // of the result, when it succeeds
  } cases[] = {
      {"half to even, down", R8(2.5), kPlatVtI4, kPlatOk, "2"},
      {"half to even, up", R8(3.5), kPlatVtI4, kPlatOk, "4"},
      {"beyond I2", I4(70000), kPlatVtI2, kPlatDispOverflow, nullptr},
      {"beyond I4", R8(3e9), kPlatVtI4, kPlatDispOverflow, nullptr},
      {"NaN", R8(std::nan("")), kPlatVtI4, kPlatDispOverflow, nullptr},
      {"beyond R4", R8(1e39), kPlatVtR4, kPlatDispOverflow, nullptr},
      {"unsigned beyond I4", ui4, kPlatVtI4, kPlatDispOverflow, nullptr},
      {"negative to UI1", I4(-1), kPlatVtUI1, kPlatDispOverflow, nullptr},
      {"Boolean to number", boolTrue, kPlatVtI4, kPlatOk, "-1"},
      {"number to Boolean", I4(5), kPlatVtBool, kPlatOk, "True"},
      {"text with blanks", Str(" 42 "), kPlatVtI2, kPlatOk, "42"},
      {"text real", Str("-1.25"), kPlatVtR8, kPlatOk, "-1.25"},
      {"text Boolean", Str("false"), kPlatVtBool, kPlatOk, "False"},
      {"text not a number", Str("4x"), kPlatVtI4, kPlatDispTypeMismatch, nullptr},
      {"text too large", Str("1e400"), kPlatVtR8, kPlatDispOverflow, nullptr},
      {"real to text", R8(0.1), kPlatVtBstr, kPlatOk, "0.1"},
      {"empty to number", V(kPlatVtEmpty), kPlatVtR8, kPlatOk, "0"},
      {"null to number", V(kPlatVtNull), kPlatVtI4, kPlatDispTypeMismatch, nullptr},
      {"error to number", V(kPlatVtError), kPlatVtI4, kPlatDispTypeMismatch, nullptr},
      {"by reference", byRef, kPlatVtI4, kPlatOk, "-7"},
      {"unknown target", I4(1), 0x7F, kPlatDispBadVarType, nullptr},
      {"by-reference target", I4(1), kPlatVtByRef | kPlatVtI4, kPlatDispBadVarType, nullptr},
  };
  for (Case& c : cases) {
    PlatVariant out = I4(99);
    EXPECT_EQ(PlatVariantChangeType(&out, &c.src, 0, c.vt), c.result) << c.what;
    if (c.text) {
      EXPECT_EQ(out.vt, c.vt) << c.what;
      EXPECT_EQ(Text(out), c.text) << c.what;
    } else {
      EXPECT_EQ(out.vt, kPlatVtI4) << c.what << ": a failure leaves the target";
      EXPECT_EQ(out.i4, 99) << c.what;
    }
    PlatVariantClear(&out);
    if (!(c.src.vt & kPlatVtByRef)) PlatVariantClear(&c.src);
  }
  EXPECT_EQ(PlatBstrLiveCount(), 0);
}

// Text crosses the code page both ways; characters it lacks become '?'.
TEST(PlatformComVar, WideStringsCarryCodePageText) {
  const char text[] = "a\x80\xe9\x01z";
  PlatBstr s = PlatBstrFromText(text, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(PlatBstrLength(s), 5u);
  EXPECT_EQ(s[1], 0x20AC) << "the euro sign";
  EXPECT_EQ(s[5], 0) << "a terminating zero";
  char back[5];
  EXPECT_EQ(PlatBstrToText(s, 5, back, 5), 5u);
  EXPECT_EQ(std::memcmp(back, text, 5), 0);
  const uint16_t wide[] = {0x4E2D, 'b'};
  EXPECT_EQ(PlatBstrToText(wide, 2, back, 1), 1u) << "cut at the maximum";
  EXPECT_EQ(back[0], '?');
  PlatBstrFree(s);
  EXPECT_EQ(PlatBstrAlloc(nullptr, kPlatBstrMaxChars + 1), nullptr);
}

// Indexes outside the bounds and descriptors that claim more than their
// block fail without reading outside it; an overflowing count is refused.
TEST(PlatformComVar, SafeArraysCheckIndexesBoundsAndBlocks) {
  const PlatSafeArrayBound bounds[] = {{3, -1}, {2, 10}};
  PlatSafeArray* a = PlatSafeArrayCreate(kPlatVtI4, 2, bounds);
  ASSERT_NE(a, nullptr);
  int32_t lo = 0, hi = 0;
  EXPECT_EQ(PlatSafeArrayGetBounds(a, 2, &lo, &hi), kPlatOk);
  EXPECT_EQ(lo, 10);
  EXPECT_EQ(hi, 11);
  EXPECT_EQ(PlatSafeArrayGetBounds(a, 3, &lo, &hi), kPlatDispBadIndex);
  const int32_t last[] = {1, 11};
  const int32_t value = 77;
  EXPECT_EQ(PlatSafeArrayPutElement(a, last, &value), kPlatOk);
  EXPECT_EQ(static_cast<int32_t*>(a->data)[5], 77) << "dimension 1 varies fastest";
  struct Bad {
    int32_t idx[2];
  } bad[] = {{{2, 10}}, {{-2, 10}}, {{0, 12}}, {{0, 9}}};
  int32_t got = 0;
  for (const Bad& b : bad) EXPECT_EQ(PlatSafeArrayGetElement(a, b.idx, &got), kPlatDispBadIndex);
  // A descriptor from another object that claims more elements than its block.
  a->bounds[1].count = 1000;
  uint32_t count = 0;
  EXPECT_EQ(PlatSafeArrayCount(a, &count), kPlatInvalidArg);
  const int32_t far[] = {0, 500};
  EXPECT_EQ(PlatSafeArrayGetElement(a, far, &got), kPlatDispBadIndex);
  a->bounds[0].count = 0x10000;
  a->bounds[1].count = 0x10000;
  EXPECT_EQ(PlatSafeArrayCount(a, &count), kPlatOutOfMemory) << "the count overflows 32 bits";
  a->bounds[0].count = 3;
  a->bounds[1].count = 2;
  const PlatSafeArrayBound huge[] = {{0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(PlatSafeArrayCreate(kPlatVtI4, 2, huge), nullptr);
  EXPECT_EQ(PlatSafeArrayCreate(kPlatVtNull, 1, bounds), nullptr) << "a type no array holds";
  EXPECT_EQ(PlatSafeArrayLock(a), kPlatOk);
  EXPECT_EQ(PlatSafeArrayDestroy(a), kPlatDispArrayLocked);
  EXPECT_EQ(PlatSafeArrayUnlock(a), kPlatOk);
  EXPECT_EQ(PlatSafeArrayDestroy(a), kPlatOk);
}

// The class table's refusals, the interface table's checks of what it is
// given, and result texts cut to their buffer.  (Attaching to running
// objects and sharing interfaces between threads are the client tests'.)
TEST(PlatformComVar, TablesRefuseWhatTheyCannotServe) {
  const PlatGuid cls{0x11112222, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  void* p = nullptr;
  EXPECT_EQ(PlatComCreateInstance(&cls, nullptr, kPlatClassInproc, &kPlatIidUnknownRecord, &p), kPlatClassNotRegistered);
  ASSERT_EQ(PlatComCreateInstance(&kPlatClsidInterfaceTable, nullptr, kPlatClassInproc, &kPlatIidInterfaceTable, &p),
            kPlatOk);
  auto* table = static_cast<PlatComInterfaceTable*>(p);
  EXPECT_EQ(PlatComCreateInstance(&kPlatClsidInterfaceTable, PlatAsUnknown(table), kPlatClassInproc,
                                  &kPlatIidInterfaceTable, &p), kPlatNoAggregation);
  EXPECT_EQ(PlatComCreateInstance(&kPlatClsidInterfaceTable, nullptr, 0, &kPlatIidInterfaceTable, &p),
            kPlatClassNotRegistered) << "no server kind allowed";
  uint32_t cookie = 0;
  EXPECT_EQ(table->slots->registerInterface(table, nullptr, &kPlatIidDispatch, &cookie), kPlatInvalidArg);
  EXPECT_EQ(table->slots->registerInterface(table, PlatAsUnknown(table), &kPlatIidDispatch, &cookie),
            kPlatNoInterface);
  EXPECT_EQ(table->slots->getInterface(table, 12345, &kPlatIidDispatch, &p), kPlatInvalidArg);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(table->slots->revokeInterface(table, 12345), kPlatInvalidArg);
  EXPECT_EQ(PlatComRevokeActive(12345), kPlatInvalidArg);
  EXPECT_EQ(PlatComRun(nullptr), kPlatInvalidArg);
  EXPECT_EQ(PlatComRevokeClass(cls), kPlatFalse);
  char text[8];
  EXPECT_GT(PlatComMessageText(kPlatDispTypeMismatch, text, sizeof text), 7u);
  EXPECT_EQ(std::strlen(text), 7u) << "cut to the buffer";
  EXPECT_EQ(PlatComMessageText(0x80001234, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");
}

}  // namespace comvar
