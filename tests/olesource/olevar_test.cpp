// Typed data to variants and back, the argument variants, and the error
// cluster of a result.
#include <cmath>
#include <functional>

#include "ole_test_support.h"

using namespace oletest;

namespace olevartest {

class OleVar : public ClientTest {};

// The element count of an array datum (0 for a null handle).
int32 Count(Data& d, int32 rank) {
  UHandle h = d.Get<UHandle>();
  return h && *h ? NArrayElts(rank, reinterpret_cast<int32*>(*h)) : 0;
}

// Each kind of data to its natural variant (or the type a hint asks for),
// with the results of what does not convert.
TEST_F(OleVar, DataBecomesItsNaturalVariantOrTheHintedType) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  void* object = nullptr;
  ASSERT_EQ(PlatComCreateInstance(&kTestDispatchClass, nullptr, kPlatClassInproc, &kPlatIidDispatch, &object), kPlatOk);
  Cookie ref = 0;
  ASSERT_EQ(AutoRefMake(static_cast<EmbDispatch*>(object), &ref, false), kNoErr);
  struct Case {
    const char* what;
    tdb::TD type;
    std::function<void(Data&)> fill;
    int32 result;
    uInt16 vt;
    std::function<void(const PlatVariant&)> check;
    PlatVariant hint;  // vt 0xFFFF: none
  };
  const PlatVariant none = Var(0xFFFF);
  PlatVariant byRefI4 = Var(kPlatVtByRef | kPlatVtI4), byRefText = Var(kPlatVtByRef | kPlatVtBstr);
  PlatVariant outsideTable = Var(kPlatVtByRef | kPlatVtUI2);
  const Case cases[] = {
      {"U32 above I4", tdb::U32(), [](Data& d) { d.Set(uInt32(0x80000000u)); }, kPlatOk, kPlatVtI4,
       [](const PlatVariant& v) { EXPECT_EQ(v.i4, INT32_MIN); }, none},
      {"U16 above I2", tdb::U16(), [](Data& d) { d.Set(uInt16(0x8000)); }, kPlatOk, kPlatVtI2,
       [](const PlatVariant& v) { EXPECT_EQ(v.i2, -32768); }, none},
      {"Boolean bit 0", tdb::Boolean(), [](Data& d) { d.Set(uChar(3)); }, kPlatOk, kPlatVtBool,
       [](const PlatVariant& v) { EXPECT_EQ(v.boolVal, -1); }, none},
      {"Boolean other bits", tdb::Boolean(), [](Data& d) { d.Set(uChar(2)); }, kPlatOk, kPlatVtBool,
       [](const PlatVariant& v) { EXPECT_EQ(v.boolVal, 0); }, none},
      {"EXT as R8", tdb::EXT(), [](Data& d) {
         const floatExt x = floatExt(1) / 3;
         std::memcpy(d.p(), &x, 10);  // the datum holds the 10 bytes of the number
       }, kPlatOk, kPlatVtR8,
       [](const PlatVariant& v) { EXPECT_EQ(v.r8, double(floatExt(1) / 3)); }, none},
      {"enum U16 as I2", tdb::Enum(kTDEnumU16, {"a", "b"}), [](Data& d) { d.Set(uInt16(1)); }, kPlatOk, kPlatVtI2,
       [](const PlatVariant& v) { EXPECT_EQ(v.i2, 1); }, none},
      {"2 x 3 DBL", tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}),
       [](Data& d) {
         int32 sizes[] = {2, 3};
         int32* list = sizes;
         UHandle h = nullptr;
         ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 2, &h, &list), kNoErr);
         for (int i = 0; i < 6; ++i) {
           const double x = 10.0 * (i / 3) + i % 3;
           std::memcpy(*h + 8 + 8 * i, &x, 8);
         }
         d.Set(h);
       },
       kPlatOk, kPlatVtArray | kPlatVtR8,
       [](const PlatVariant& v) {
         ASSERT_EQ(v.array->dims, 2);
         EXPECT_EQ(v.array->bounds[0].count, 3u) << "the array's last dimension comes first";
         EXPECT_EQ(v.array->bounds[1].count, 2u);
         EXPECT_EQ(v.array->bounds[0].lower, 0);
         const int32_t idx[] = {2, 1};
         double x = 0;
         EXPECT_EQ(PlatSafeArrayGetElement(v.array, idx, &x), kPlatOk);
         EXPECT_EQ(x, 12.0) << "row 1, column 2";
       },
       none},
      {"cluster", tdb::Cluster({tdb::I32(), tdb::String()}),
       [](Data& d) {
         d.Set(int32(-5));
         LStrHandle s = reinterpret_cast<LStrHandle>(DSNewHandle(6));
         (*s)->cnt = 2;
         std::memcpy((*s)->str, "ok", 2);
         DSDisposeHandle(d.Get<UHandle>(4));
         d.Set(s, 4);
       },
       kPlatOk, kPlatVtArray | kPlatVtVariant,
       [](const PlatVariant& v) {
         ASSERT_EQ(v.array->dims, 1);
         ASSERT_EQ(v.array->bounds[0].count, 2u);
         PlatVariant e;
         const int32_t i0 = 0, i1 = 1;
         ASSERT_EQ(PlatSafeArrayGetElement(v.array, &i0, &e), kPlatOk);
         EXPECT_EQ(e.vt, kPlatVtI4);
         EXPECT_EQ(e.i4, -5);
         ASSERT_EQ(PlatSafeArrayGetElement(v.array, &i1, &e), kPlatOk);
         EXPECT_EQ(BstrString(e.bstr), "ok");
         PlatVariantClear(&e);
       },
       none},
      {"DBL array as I4 array", tdb::Array(tdb::DBL()),
       [](Data& d) {
         int32 n = 2;
         int32* list = &n;
         UHandle h = nullptr;
         ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 1, &h, &list), kNoErr);
         const double x[2] = {2.5, -7.6};
         std::memcpy(*h + 4, x, 16);
         d.Set(h);
       },
       kPlatOk, kPlatVtArray | kPlatVtI4,
       [](const PlatVariant& v) {
         const int32_t i0 = 0, i1 = 1;
         int32 a = 0, b = 0;
         PlatSafeArrayGetElement(v.array, &i0, &a);
         PlatSafeArrayGetElement(v.array, &i1, &b);
         EXPECT_EQ(a, 2) << "the engine's conversion: half to even";
         EXPECT_EQ(b, -8);
       },
       Var(kPlatVtArray | kPlatVtI4)},
      {"I64", tdb::I64(), [](Data&) {}, kPlatDispTypeMismatch, kPlatVtEmpty, nullptr, none},
      {"I64 hinted", tdb::I64(), [](Data&) {}, kPlatDispTypeMismatch, kPlatVtEmpty, nullptr, VarI4(0)},
      {"refnum", tdb::AutoRefnum({}), [&](Data& d) { d.Set(ref); }, kPlatOk, kPlatVtDispatch,
       [&](const PlatVariant& v) {
         EXPECT_EQ(v.dispatch, object);
         EXPECT_EQ(TestDispatchRefs(v.dispatch), 3u) << "ours, the refnum's and the variant's";
       },
       none},
      {"DBL as text by hint", tdb::DBL(), [](Data& d) { d.Set(2.5); }, kPlatOk, kPlatVtBstr,
       [](const PlatVariant& v) { EXPECT_EQ(BstrString(v.bstr), "2.5"); }, Var(kPlatVtBstr)},
      {"by reference", tdb::I16(), [](Data& d) { d.Set(int16(-9)); }, kPlatOk, kPlatVtByRef | kPlatVtI4,
       [](const PlatVariant& v) { EXPECT_EQ(*static_cast<int32*>(v.byRef), -9); }, byRefI4},
      {"text by reference", tdb::String(), [](Data&) {}, kPlatOk, kPlatVtByRef | kPlatVtBstr,
       [](const PlatVariant& v) { EXPECT_EQ(PlatBstrLength(*static_cast<PlatBstr*>(v.byRef)), 0u); }, byRefText},
      {"by reference outside the table", tdb::I16(), [](Data&) {}, kPlatInvalidArg, kPlatVtEmpty, nullptr,
       outsideTable},
  };
  const TypeHandle hintI32(tdb::I32());
  const TypeHandle hintVariant(tdb::Variant());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TypeHandle t(c.type);
    Data d(t);
    c.fill(d);
    PlatVariant out = Var(kPlatVtEmpty);
    const bool hinted = c.hint.vt != 0xFFFF;
    // A numeric hint gives the type as its value.
    int32 numericHint = c.hint.vt;
    const bool numeric = hinted && c.hint.vt == kPlatVtI4;
    const void* hintData = !hinted ? nullptr : numeric ? static_cast<const void*>(&numericHint) : &c.hint;
    const int32 r = ConvertToOLEVariant(d.p(), t.h(), 0, hintData, numeric ? hintI32.h() : hintVariant.h(), 0, &out);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(out.vt, c.vt);
    if (r == kPlatOk && c.check) c.check(out);
    // Argument variants give back their by-reference storage (the leak
    // checker sees any left).
    FreeArgVariant(&out);
  }
  EXPECT_EQ(AutoRefRelease(ref), kNoErr);
  EXPECT_EQ(TestDispatchRefs(static_cast<PlatComDispatch*>(object)), 1u);
  PlatComRelease(object);
}

// Variants into typed data: what converts is stored, what does not leaves
// the target holding its empty value.
TEST_F(OleVar, VariantsFillTypedDataOrLeaveItEmpty) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  void* object = nullptr;
  ASSERT_EQ(PlatComCreateInstance(&kTestDispatchClass, nullptr, kPlatClassInproc, &kPlatIidDispatch, &object), kPlatOk);
  auto bytes = [] {
    const PlatSafeArrayBound b{2, 5};
    PlatVariant v = Var(kPlatVtArray | kPlatVtUI1);
    v.array = PlatSafeArrayCreate(kPlatVtUI1, 1, &b);
    std::memcpy(v.array->data, "hi", 2);
    return v;
  };
  auto variants = [](uInt32 n) {
    const PlatSafeArrayBound b{n, 0};
    PlatVariant v = Var(kPlatVtArray | kPlatVtVariant);
    v.array = PlatSafeArrayCreate(kPlatVtVariant, 1, &b);
    return v;
  };
  auto grid = [](uInt32 a, uInt32 b) {
    const PlatSafeArrayBound bounds[] = {{a, 0}, {b, 0}};
    PlatVariant v = Var(kPlatVtArray | kPlatVtR8);
    v.array = PlatSafeArrayCreate(kPlatVtR8, 2, bounds);
    return v;
  };
  // A descriptor from another server whose bounds overflow: its block is tiny.
  PlatVariant lying = grid(1, 1);
  lying.array->bounds[0].count = 0x10000;
  lying.array->bounds[1].count = 0x10001;
  PlatVariant dispatch = Var(kPlatVtDispatch);
  dispatch.dispatch = static_cast<PlatComDispatch*>(object);
  struct Case {
    const char* what;
    tdb::TD type;
    PlatVariant v;
    int32 result;
    std::function<void(Data&)> check;
    bool owned = true;
  } cases[] = {
      {"text from bytes", tdb::String(), bytes(), kPlatOk,
       [](Data& d) { EXPECT_EQ(LStrString(d.Get<LStrHandle>()), "hi"); }},
      {"cluster of 3 from 2", tdb::Cluster({tdb::I32(), tdb::I32(), tdb::String()}), variants(2),
       kPlatDispTypeMismatch, [](Data& d) { EXPECT_EQ(d.Get<int32>(), 0) << "emptied"; }},
      {"cluster of 2", tdb::Cluster({tdb::I32(), tdb::DBL()}), variants(2), kPlatOk,
       [](Data& d) { EXPECT_EQ(d.Get<int32>(), 0); }},
      {"2-D into 1-D", tdb::Array(tdb::DBL()), grid(2, 2), kPlatDispTypeMismatch,
       [](Data& d) { EXPECT_EQ(Count(d, 1), 0) << "emptied"; }},
      {"2-D", tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), grid(3, 2), kPlatOk,
       [](Data& d) {
         EXPECT_EQ((*d.Get<int32**>())[0], 2) << "the variant's last dimension comes first";
         EXPECT_EQ((*d.Get<int32**>())[1], 3);
       }},
      {"overflowing bounds", tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}), lying, kPlatOutOfMemory,
       [](Data& d) { EXPECT_EQ(Count(d, 2), 0) << "emptied"; }, false},
      {"a single value as one element", tdb::Array(tdb::I16()), VarI4(300), kPlatOk,
       [](Data& d) { EXPECT_EQ(reinterpret_cast<int16*>(*d.Get<int32**>() + 1)[0], 300); }},
      {"out of range", tdb::I32(), [] { PlatVariant v = Var(kPlatVtR8); v.r8 = 1e10; return v; }(),
       kPlatDispOverflow, [](Data& d) { EXPECT_EQ(d.Get<int32>(), 0); }},
      {"empty into a number", tdb::DBL(), Var(kPlatVtEmpty), kPlatOk, [](Data& d) { EXPECT_EQ(d.Get<double>(), 0); }},
      {"text into a path", tdb::Path(), VarText("C:\\dir\\file"), kPlatOk,
       [](Data& d) { EXPECT_NE(d.Get<Path>(), nullptr); }},
      {"dispatch into a refnum", tdb::AutoRefnum({}), dispatch, kPlatOk,
       [&](Data& d) {
         const Cookie ref = d.Get<Cookie>();
         EXPECT_TRUE(IsAutomationRefnum(ref));
         EXPECT_EQ(TestDispatchRefs(static_cast<PlatComDispatch*>(object)), 2u) << "ours and the refnum's";
         EXPECT_EQ(AutoRefRelease(ref), kNoErr);
       },
       false},
      {"text into a Boolean", tdb::Boolean(), VarText("x"), kPlatDispTypeMismatch, nullptr},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    TypeHandle t(c.type);
    Data d(t);
    // Something to empty first.
    if (c.type.Bytes()[2] == kTDI32) d.Set(int32(77));
    EXPECT_EQ(ConvertToQXData(&c.v, d.p(), t.h(), 0), c.result);
    if (c.check) c.check(d);
    if (c.owned) PlatVariantClear(&c.v);
  }
  lying.array->bounds[0].count = 1;
  lying.array->bounds[1].count = 1;
  PlatVariantClear(&lying);
  TypeHandle t(tdb::I32());
  Data d(t);
  EXPECT_EQ(ConvertToQXData(nullptr, d.p(), t.h(), 0), kPlatInvalidArg);
  PlatComRelease(object);
}

// A large array makes the round trip unchanged.
TEST_F(OleVar, ArraysComeBackUnchanged) {
  TypeHandle t(tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}));
  Data src(t), dst(t);
  int32 sizes[] = {40, 25};
  int32* list = sizes;
  UHandle h = nullptr;
  ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 2, &h, &list), kNoErr);
  for (int i = 0; i < 1000; ++i) {
    const double x = i * 0.5 - 3;
    std::memcpy(*h + 8 + 8 * i, &x, 8);
  }
  DSDisposeHandle(src.Get<UHandle>());
  src.Set(h);
  PlatVariant v = Var(kPlatVtEmpty);
  ASSERT_EQ(ConvertToOLEVariant(src.p(), t.h(), 0, nullptr, nullptr, 0, &v), kPlatOk);
  ASSERT_EQ(ConvertToQXData(&v, dst.p(), t.h(), 0), kPlatOk);
  UHandle back = dst.Get<UHandle>();
  ASSERT_EQ(DSGetHandleSize(back), DSGetHandleSize(h));
  EXPECT_EQ(std::memcmp(*back, *h, size_t(DSGetHandleSize(h))), 0);
  PlatVariantClear(&v);
}

// The error cluster of a result: an exception keeps its text, the client's
// codes get theirs, others the layer's text or the fallback.
TEST_F(OleVar, ErrorClustersCarryTheTextOfTheirResult) {
  struct Case {
    int32 code;
    const char* before;
    const char* text;
  } cases[] = {
      {kPlatDispException, "Exception occured in S, ", "Exception occured in S, "},
      {kAutoLibsFailedErr, "", "Automation libraries could not be initialized. You need to install a newer component runtime."},
      {kAutoNotAvailableErr, "", "Automation Not Implemented"},
      {3002, "x", ""},
      {kPlatDispTypeMismatch, "", "The types do not match."},
      {int32(0x80001234), "", "Unknown System Error"},
      {7, "", "Unknown System Error"},
  };
  for (const Case& c : cases) {
    ErrorIOCluster e{0, 0, nullptr};
    const std::string before = c.before;
    if (!before.empty()) {
      e.source = reinterpret_cast<LStrHandle>(DSNewHandle(4 + int32(before.size())));
      (*e.source)->cnt = int32(before.size());
      std::memcpy((*e.source)->str, before.data(), before.size());
    }
    EXPECT_EQ(SetOLEVariantErrorIOClust(&e, 1, c.code, nullptr), kNoErr);
    const int32 status = e.status, code = e.code;  // the cluster is packed
    EXPECT_EQ(status, 1);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(LStrString(e.source), c.text) << c.code;
    if (e.source) DSDisposeHandle(reinterpret_cast<UHandle>(e.source));
  }
}

// Argument variants: a placeholder of the type alone, a converted value,
// failures that leave no block; a missing optional parameter; the wide
// string conversions cut where their target says.
TEST_F(OleVar, ArgumentVariantsAndStringConversions) {
  TypeHandle t(tdb::DBL());
  const double x = 1.5;
  PlatVariant* v = nullptr;
  ASSERT_EQ(NewArgVariant(nullptr, nullptr, 0, kPlatVtByRef | kPlatVtR8, &v), kNoErr);
  EXPECT_EQ(v->vt, kPlatVtByRef | kPlatVtR8);
  EXPECT_EQ(v->byRef, nullptr);
  DSDisposePtr(reinterpret_cast<UPtr>(v));
  ASSERT_EQ(NewArgVariant(&x, t.h(), 0, kPlatVtByRef | kPlatVtVariant, &v), kNoErr);
  EXPECT_EQ(static_cast<PlatVariant*>(v->byRef)->r8, 1.5);
  FreeArgVariant(v);
  EXPECT_EQ(v->vt, kPlatVtEmpty);
  DSDisposePtr(reinterpret_cast<UPtr>(v));
  EXPECT_EQ(NewArgVariant(&x, t.h(), 0, kPlatVtDispatch, &v), kArgErr);
  EXPECT_EQ(v, nullptr);

  PlatVariant empty = Var(kPlatVtEmpty);
  PlatVariant inner = Var(kPlatVtEmpty);
  PlatVariant byRef = Var(kPlatVtByRef | kPlatVtVariant);
  byRef.byRef = &inner;
  PlatVariant present = VarI4(4);
  for (PlatVariant* p : {&empty, &byRef}) {
    ProcessEmptyOptVariantParam(p);
    EXPECT_EQ(p->vt, kPlatVtError);
    EXPECT_EQ(p->scode, kPlatDispParamNotFound);
  }
  ProcessEmptyOptVariantParam(&present);
  EXPECT_EQ(present.vt, kPlatVtI4);
  ProcessEmptyOptVariantParam(nullptr);

  const std::string long300(300, 'w');
  PlatBstr s = OleBstrFromText(kOleTextCStr, long300.c_str());
  uChar counted[256];
  EXPECT_EQ(OleTextFromBstr(s, 0, kOleTextPStr, counted, 0), kNoErr);
  EXPECT_EQ(counted[0], 255) << "a counted string holds 255 whatever the maximum";
  char c[8];
  EXPECT_EQ(OleTextFromBstr(s, 0, kOleTextCStr, c, 8), kNoErr);
  EXPECT_STREQ(c, "wwwwwww");
  Path path = nullptr;
  PlatBstr pathText = OleBstrFromText(kOleTextCStr, "C:\\a\\b");
  EXPECT_EQ(OleTextFromBstr(pathText, 0, kOleTextPath, &path, 0), kNoErr);
  PlatBstr again = OleBstrFromText(kOleTextPath, path);
  EXPECT_EQ(BstrString(again), "C:\\a\\b") << "a path's text both ways";
  PlatBstrFree(again);
  PlatBstrFree(pathText);
  FDisposePath(path);
  LStrHandle l = nullptr;
  EXPECT_EQ(OleTextFromBstr(s, 10, kOleTextLStr, &l, 0), kNoErr);
  EXPECT_EQ(LStrString(l), std::string(10, 'w'));
  PlatBstr back = OleBstrFromText(kOleTextLStr, l);
  EXPECT_EQ(PlatBstrLength(back), 10u);
  EXPECT_EQ(OleTextFromBstr(s, 0, 0x99, c, 8), kArgErr);
  EXPECT_EQ(OleBstrFromText(0x99, "x"), nullptr);
  DSDisposeHandle(reinterpret_cast<UHandle>(l));
  PlatBstrFree(back);
  PlatBstrFree(s);
}

}  // namespace olevartest
