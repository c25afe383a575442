// TDStripping, pad bytes, boolean codes, and the old and current forms of
// string descriptors.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/datatype.h"
#include "engine_test_support.h"
#include "platform/qx_vmem.h"
#include "tools/tdbuilder.h"

using namespace tdb;
using qxtest::EngineTest;

namespace {

std::vector<uChar> HandleBytes(UHandle h) {
  bool ds = MemIsDSHandle(h);
  int32 n = ds ? DSGetHandleSize(h) : AZGetHandleSize(h);
  return std::vector<uChar>(*h, *h + n);
}

UHandle NewHandleWith(const std::vector<uChar>& bytes, bool dataZone = false) {
  UHandle h = dataZone ? DSNewHandle(int32(bytes.size())) : AZNewHandle(int32(bytes.size()));
  if (h) std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

// A flattened type: an int32 count of 16-bit words, then the TD.
std::vector<uChar> Counted(const std::vector<uChar>& td) {
  std::vector<uChar> out(4 + td.size());
  int32 words = int32(td.size() / 2);
  std::memcpy(out.data(), &words, 4);
  if (!td.empty()) std::memcpy(out.data() + 4, td.data(), td.size());
  return out;
}

int32 CountOf(const std::vector<uChar>& counted) {
  int32 n;
  std::memcpy(&n, counted.data(), 4);
  return n;
}

std::vector<uChar> Tail(const std::vector<uChar>& v, size_t from) { return std::vector<uChar>(v.begin() + from, v.end()); }

using TDStripping = EngineTest;

TEST_F(TDStripping, NamedEnumerationBecomesItsNumeric) {
  std::vector<uChar> e = Enum(kTDEnumU16, {"one", "two", "three"}).Named("choice").Bytes();
  std::vector<uChar> out(e.size(), 0xCC);
  EXPECT_EQ(StripTD(AsTD(e), nullptr), 4);
  EXPECT_EQ(StripTD(AsTD(e), AsTD(out)), 4);
  std::vector<uChar> want = U16().Bytes();
  EXPECT_EQ(std::vector<uChar>(out.begin(), out.begin() + 4), want);
  EXPECT_EQ(out[4], 0xCC);  // nothing written beyond the stripped TD
}

TEST_F(TDStripping, NestedNamedClusterEqualsTheUnnamedOne) {
  tdb::TD named = Cluster({
      I32().Named("a"),
      Cluster({String().Named("s"), Enum(kTDEnumU8, {"x", "y"}).Named("e"), Unit(kTDUnitDBL, {{1, 2}})}).Named("in"),
      Array(Path(TDFixed(9)).Named("p"), {TDFixed(3)}).Named("arr"),
      Typedef("T", Cluster({I8().Named("x")}), 7).Named("td"),
      DatalogRefnum(I32().Named("rec")).Named("log"),
      Function(2, {0x1100}, {Boolean().Named("c")}).Named("fn"),
      Wrapper(I32().Named("w")).Named("wrap"),
      NamedRefnum(6, "Cls").Named("ref"),
      Union({I8().Named("u"), DBL()}),
      Handle(3).WithFlags(kTDFlagNoShrink10).Named("h"),
      Cluster({}).Named("empty"),
      DatalogRefnum(Function(0, {}, {}).Named("f")),
  }).Named("top");
  tdb::TD plain = Cluster({
      I32(),
      Cluster({String(), U8(), DBL()}),
      Array(Path(TDFixed(9)), {TDFixed(3)}),
      Typedef("T", Cluster({I8()}), 7),
      DatalogRefnum(I32()),
      Function(2, {0x1100}, {Boolean()}),
      Wrapper(I32().Named("w")),  // wrappers are copied up to their own name
      NamedRefnum(6, "Cls"),
      Union({I8(), DBL()}),
      Handle(3).WithFlags(kTDFlagNoShrink10),
      Cluster({}),
      DatalogRefnum(Function(0, {}, {})),
  });
  std::vector<uChar> src = named.Bytes();
  std::vector<uChar> want = plain.Bytes();
  std::vector<uChar> out(src.size(), 0);
  int32 size = StripTD(AsTD(src), AsTD(out));
  ASSERT_EQ(size, int32(want.size()));
  EXPECT_EQ(std::vector<uChar>(out.begin(), out.begin() + size), want);
  EXPECT_EQ(StripTD(AsTD(src), nullptr), size);
  // In place.
  EXPECT_EQ(StripTD(AsTD(src), AsTD(src)), size);
  EXPECT_EQ(std::vector<uChar>(src.begin(), src.begin() + size), want);
  EXPECT_EQ(TDCompare(AsTD(out), AsTD(want)), 0);
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDStripping, StandardClusterOfEmptyNames) {
  std::vector<uChar> out(64);
  EXPECT_EQ(StripTD(StdTDTable[24], AsTD(out)), 42);
  std::vector<uChar> want = Cluster({I32(), I32(), I32(), I32(), I32(), I32(), I32(), I32(), I32()}).Bytes();
  EXPECT_EQ(std::vector<uChar>(out.begin(), out.begin() + 42), want);
}

using TDPadding = EngineTest;

TEST_F(TDPadding, SetPadBytesAreCleared) {
  std::vector<uChar> t = Cluster({I32().Named("ab", 0x7F), Enum(kTDEnumU8, {"ab"}), Typedef("cd", I8()),
                                  NamedRefnum(6, "ef")})
                             .Named("gh", 0x11)
                             .Bytes();
  std::vector<uChar> clean = t;
  // The pad bytes of the item list, the typedef name and the refnum's name.
  size_t en = 6 + 8, td = en + 10, rf = td + 16;
  ASSERT_EQ(t[en + 2], kTDEnumU8);
  ASSERT_EQ(t[td + 2], kTDTypedef);
  ASSERT_EQ(t[rf + 2], kTDRefnum);
  t[en + 9] = 0x55;
  t[td + 11] = 0x66;
  t[rf + 9] = 0x77;
  for (size_t pad : {size_t(6 + 7), en + 9, td + 11, rf + 9, t.size() - 1}) clean[pad] = 0;
  EXPECT_TRUE(NormalizeTDPadding(AsTD(t)));
  EXPECT_EQ(t, clean);
  EXPECT_FALSE(NormalizeTDPadding(AsTD(t)));
}

TEST_F(TDPadding, OddLengthNamesHaveNoPad) {
  std::vector<uChar> t = Cluster({I32().Named("abc"), I8()}).Named("x").Bytes();
  std::vector<uChar> before = t;
  EXPECT_FALSE(NormalizeTDPadding(AsTD(t)));
  EXPECT_EQ(t, before);
}

using TDBooleans = EngineTest;

TEST_F(TDBooleans, FindAndRecode) {
  std::vector<uChar> t = Cluster({I32(), Array(Boolean()), Union({OldBoolean(), Boolean()})}).Bytes();
  EXPECT_TRUE(TDHasBoolean(AsTD(t)));
  EXPECT_TRUE(SetBooleanTDCode(AsTD(t), kTDBooleanOld));
  EXPECT_EQ(t, Cluster({I32(), Array(OldBoolean()), Union({OldBoolean(), OldBoolean()})}).Bytes());
  EXPECT_FALSE(TDHasBoolean(AsTD(t)));
  std::vector<uChar> none = Cluster({I32(), DatalogRefnum(Boolean())}).Bytes();
  EXPECT_FALSE(TDHasBoolean(AsTD(none)));
  EXPECT_FALSE(SetBooleanTDCode(AsTD(none), kTDBooleanOld));
  std::vector<uChar> deep = Typedef("b", Wrapper(Function(0, {0}, {Boolean()}))).Bytes();
  EXPECT_TRUE(TDHasBoolean(AsTD(deep)));
}

TEST_F(TDBooleans, ExtendedValues) {
  struct Case {
    tdb::TD td;
    bool has;
  } cases[] = {
      {DBL(), false},           {EXT(), true},          {CXT(), true},
      {Unit(kTDUnitEXT, {}), true},                     {Unit(kTDUnitCXT, {}), true},
      {Cluster({I8(), Array(EXT())}), true},            {Union({EXT()}), false},
      {Typedef("x", Wrapper(EXT())), true},             {Function(0, {0}, {CXT()}), true},
      {TypeOnly(EXT()), true},  {DatalogRefnum(EXT()), false},
  };
  for (auto& c : cases) {
    std::vector<uChar> b = c.td.Bytes();
    EXPECT_EQ(bool(TDHasExtended(AsTD(b))), c.has) << "code 0x" << std::hex << int(b[2]);
  }
}

using TDStringForms = EngineTest;

TEST_F(TDStringForms, CountStringLikeTDs) {
  std::vector<uChar> t = Cluster({String(), Array(Path()), Typedef("t", StringOf(kTDString33)),
                                  DatalogRefnum(StringOf(kTDString37)), StringView(), Handle(),
                                  ObjectRefnum(String())})
                             .Bytes();
  EXPECT_EQ(CountStringTDs(AsTD(t)), 4);
}

TEST_F(TDStringForms, ClusterOfTwoOldStringsGrows) {
  std::vector<uChar> old = Cluster({OldString(), OldString()}).Bytes();
  ASSERT_EQ(old.size(), 14u);
  UHandle h = NewHandleWith(old);
  ASSERT_EQ(MutateStringTDsInTM(h), kNoErr);
  std::vector<uChar> now = HandleBytes(h);
  EXPECT_EQ(now, Cluster({String(), String()}).Bytes());
  EXPECT_EQ(AsTD(now)->size, 22);
  EXPECT_EQ(ReportText().find("MutateStringTDsInTM"), std::string::npos);
  AZDisposeHandle(h);
}

TEST_F(TDStringForms, EveryStringInsideIsConverted) {
  tdb::TD oldForm = Cluster({OldString().Named("a"), OldString(kTDPath).Named("bc"),
                             Array(Cluster({OldString(kTDString33)})), Typedef("t", OldString(kTDString37)),
                             DatalogRefnum(OldString()), Wrapper(OldString()), I32().Named("n"),
                             ObjectRefnum(String())})
                        .Named("top");
  tdb::TD current = Cluster({String().Named("a"), Path().Named("bc"), Array(Cluster({StringOf(kTDString33)})),
                             Typedef("t", StringOf(kTDString37)), DatalogRefnum(String()), Wrapper(String()),
                             I32().Named("n"), ObjectRefnum(String())})
                        .Named("top");
  UHandle h = NewHandleWith(oldForm.Bytes());
  ASSERT_EQ(MutateStringTDsInTM(h), kNoErr);
  EXPECT_EQ(HandleBytes(h), current.Bytes());
  AZDisposeHandle(h);
}

TEST_F(TDStringForms, ConvertToOldAndBack) {
  tdb::TD current = Cluster({String().Named("s"), Array(Path()), Boolean(), StringOf(kTDString37)});
  std::vector<uChar> start = Counted(current.Bytes());
  for (bool dataZone : {false, true}) {
    UHandle h = NewHandleWith(start, dataZone);
    ASSERT_EQ(ConvertStringTDsInHandle(h, 1), kNoErr);
    std::vector<uChar> old = HandleBytes(h);
    EXPECT_EQ(CountOf(old), CountOf(start) - 6);
    EXPECT_EQ(Tail(old, 4),
              Cluster({OldString().Named("s"), Array(OldString(kTDPath)), Boolean(), OldString(kTDString37)}).Bytes());
    ASSERT_EQ(ConvertStringTDsInHandle(h, 0), kNoErr);
    EXPECT_EQ(HandleBytes(h), start);
    if (dataZone)
      DSDisposeHandle(h);
    else
      AZDisposeHandle(h);
  }
}

TEST_F(TDStringForms, NothingToConvert) {
  std::vector<uChar> t = Cluster({I32(), Handle()}).Bytes();
  t.push_back(0xAB);  // a size mismatch is reported only when there is work
  UHandle h = NewHandleWith(t);
  EXPECT_EQ(MutateStringTDsInTM(h), kNoErr);
  EXPECT_EQ(HandleBytes(h), t);
  EXPECT_EQ(ReportText().find("MutateStringTDsInTM"), std::string::npos);
  AZDisposeHandle(h);
}

TEST_F(TDStringForms, SizeMismatchIsReportedAndTheTailKept) {
  std::vector<uChar> t = Cluster({OldString()}).Bytes();
  t.push_back(0xAB);
  t.push_back(0xCD);
  UHandle h = NewHandleWith(t);
  EXPECT_EQ(MutateStringTDsInTM(h), kNoErr);
  std::vector<uChar> want = Cluster({String()}).Bytes();
  want.push_back(0xAB);
  want.push_back(0xCD);
  EXPECT_EQ(HandleBytes(h), want);
  EXPECT_NE(ReportText().find("MutateStringTDsInTM: handle size (0xC) does not match TD size (0xA)"),
            std::string::npos)
      << ReportText();
  AZDisposeHandle(h);
}

TEST_F(TDStringForms, TDLargerThanItsHandleIsRefused) {
  std::vector<uChar> t = Cluster({OldString(), OldString()}).Bytes();
  t.resize(t.size() - 2);
  UHandle h = NewHandleWith(t);
  EXPECT_EQ(MutateStringTDsInTM(h), kArgErr);
  EXPECT_EQ(HandleBytes(h), t);
  AZDisposeHandle(h);
}

TEST_F(TDStringForms, CurrentStringWithoutBoundCannotLoseIt) {
  UHandle h = NewHandleWith(Counted(Cluster({OldString()}).Bytes()));
  std::vector<uChar> before = HandleBytes(h);
  EXPECT_EQ(ConvertStringTDsInHandle(h, 1), kArgErr);
  EXPECT_EQ(HandleBytes(h), before);
  AZDisposeHandle(h);
}

std::vector<tdb::TD> OldStrings(int n) { return std::vector<tdb::TD>(size_t(n), OldString()); }

TEST_F(TDStringForms, TopLevelReachingTheMarkerWalksByTheHandle) {
  // 8192 strings: 32,774 bytes old, 65,542 current.
  std::vector<uChar> old = Cluster(OldStrings(8192)).Bytes();
  UHandle h = NewHandleWith(old);
  ASSERT_EQ(MutateStringTDsInTM(h), kNoErr);
  int32 hsize = AZGetHandleSize(h);
  EXPECT_EQ(hsize, 65542);
  EXPECT_EQ(AsTD(HandleBytes(h))->size, kTDSizeInHolder);
  EXPECT_EQ(TDCheckBounds(*h, hsize), kNoErr);
  EXPECT_EQ(DataSize(reinterpret_cast<TypeDescriptor*>(*h)), 4 * 8192);
  EXPECT_EQ(CountStringTDs(reinterpret_cast<TypeDescriptor*>(*h)), 8192);
  EXPECT_EQ(ElemTD(reinterpret_cast<TypeDescriptor*>(*h), 8191)->size, 8);
  // And back below it.
  UHandle c = NewHandleWith(Counted(HandleBytes(h)));
  ASSERT_EQ(ConvertStringTDsInHandle(c, 1), kNoErr);
  EXPECT_EQ(Tail(HandleBytes(c), 4), old);
  EXPECT_EQ(CountOf(HandleBytes(c)), 65542 / 2 - 2 * 8192);
  AZDisposeHandle(h);
  AZDisposeHandle(c);
}

TEST_F(TDStringForms, NestedTDReachingTheMarkerIsRefused) {
  std::vector<uChar> old = Cluster({I32(), Cluster(OldStrings(8192))}).Bytes();
  UHandle h = NewHandleWith(old);
  EXPECT_EQ(MutateStringTDsInTM(h), kArgErr);
  EXPECT_EQ(HandleBytes(h), old);
  UHandle c = NewHandleWith(Counted(old));
  EXPECT_EQ(ConvertStringTDsInHandle(c, 0), kArgErr);
  EXPECT_EQ(Tail(HandleBytes(c), 4), old);
  AZDisposeHandle(h);
  AZDisposeHandle(c);
}

TEST_F(TDStringForms, MemoryFullLeavesTheHandleUnchanged) {
  // Half a megabyte of named old strings under one top-level cluster.
  std::vector<uChar> old = Cluster(std::vector<tdb::TD>(2000, OldString().Named(std::string(250, 'n')))).Bytes();
  for (bool counted : {false, true}) {
    std::vector<uChar> start = counted ? Counted(old) : old;
    UHandle h = NewHandleWith(start, counted);
    ASSERT_NE(h, nullptr);
    PlatFailNextReservations(1);
    EXPECT_EQ(counted ? ConvertStringTDsInHandle(h, 0) : MutateStringTDsInTM(h), kMemFullErr);
    PlatFailNextReservations(0);
    EXPECT_EQ(HandleBytes(h), start);
    EXPECT_EQ(counted ? ConvertStringTDsInHandle(h, 0) : MutateStringTDsInTM(h), kNoErr);
    EXPECT_EQ(CountStringTDs(reinterpret_cast<TypeDescriptor*>(*h + (counted ? 4 : 0))), 2000);
    if (counted)
      DSDisposeHandle(h);
    else
      AZDisposeHandle(h);
  }
  MemFullReset();
}

int32 Classify(const tdb::TD& t) {
  std::vector<uChar> w = t.Bytes(Order::kWord);
  return ClassifyStringTDForm(w.data(), int32(w.size()));
}

int32 ClassifyRawWords(std::vector<uChar> w) { return ClassifyStringTDForm(w.data(), int32(w.size())); }

TEST_F(TDStringForms, ClassifyWordForm) {
  EXPECT_EQ(Classify(I32()), 0);
  EXPECT_EQ(Classify(Cluster({I32(), DBL()})), 0);
  EXPECT_EQ(Classify(OldString()), 1);
  EXPECT_EQ(Classify(String()), 2);
  EXPECT_EQ(Classify(OldString().Named("abcdef")), 1);
  EXPECT_EQ(Classify(String().Named("abcdef")), 2);
  EXPECT_EQ(Classify(OldString().Named("ab")), 1);  // named and shorter than 10 bytes
  EXPECT_EQ(Classify(OldString().Named("abcdefghi")), 1);
  EXPECT_EQ(Classify(String().Named("ab")), 2);
  EXPECT_EQ(Classify(OldBoolean()), 1);
  EXPECT_EQ(Classify(Boolean()), 2);
  EXPECT_EQ(Classify(Typedef("t", OldString())), 2);
  EXPECT_EQ(Classify(Array(OldString())), 1);
  EXPECT_EQ(Classify(Cluster({I32(), OldString(kTDPath), String()})), 1);
  EXPECT_EQ(Classify(Function(0, {0}, {String()})), 2);
  EXPECT_EQ(Classify(Wrapper(OldString())), 1);
  EXPECT_EQ(Classify(DatalogRefnum(OldString())), 1);
  EXPECT_EQ(Classify(Refnum(8)), 2);
  EXPECT_EQ(Classify(Refnum(2)), 0);
  // A named string whose size fits neither layout, and one that fits both.
  std::vector<uChar> neither = {0, 14, 0x40, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uChar> both = {0, 12, 0x40, 0x30, 0, 6, 0, 0, 2, 0, 0, 0};
  // In the word form each pair is host order: swap into it.
  for (auto* v : {&neither, &both})
    for (size_t i = 0; i + 1 < v->size(); i += 2) std::swap((*v)[i], (*v)[i + 1]);
  EXPECT_EQ(ClassifyRawWords(neither), 3);
  EXPECT_EQ(ClassifyRawWords(both), 4);
  // Clusters answer with the first decided element.
  std::vector<uChar> undecidedThenCurrent = Cluster({I32(), String()}).Bytes(Order::kWord);
  std::vector<uChar> u = neither;
  undecidedThenCurrent.insert(undecidedThenCurrent.begin() + 6, u.begin(), u.end());
  uInt16 size = uInt16(undecidedThenCurrent.size());
  std::memcpy(undecidedThenCurrent.data(), &size, 2);
  uInt16 count = 3;
  std::memcpy(undecidedThenCurrent.data() + 4, &count, 2);
  EXPECT_EQ(ClassifyRawWords(undecidedThenCurrent), 2);
  undecidedThenCurrent.resize(undecidedThenCurrent.size() - 8);
  size = uInt16(undecidedThenCurrent.size());
  std::memcpy(undecidedThenCurrent.data(), &size, 2);
  count = 2;
  std::memcpy(undecidedThenCurrent.data() + 4, &count, 2);
  EXPECT_EQ(ClassifyRawWords(undecidedThenCurrent), 3);
}

TEST_F(TDStringForms, ClassifyMalformedWordForms) {
  std::vector<uChar> w = Cluster({String(), I32()}).Bytes(Order::kWord);
  EXPECT_EQ(ClassifyStringTDForm(w.data(), 3), 4);
  EXPECT_EQ(ClassifyStringTDForm(w.data(), int32(w.size()) - 1), 4);
  EXPECT_EQ(ClassifyStringTDForm(w.data(), int32(w.size())), 2);
  EXPECT_EQ(Classify(StringOf(kTDString, 0).WithSize(6)), 4);
  // An element that runs past its cluster.
  std::vector<uChar> past = Cluster({I32(), I32()}).Bytes(Order::kWord);
  past[6] = 40;  // the first element's size, low byte of its host-order word
  EXPECT_EQ(ClassifyRawWords(past), 4);
}

int32 ClassifyFile(const tdb::TD& t) {
  std::vector<uChar> f = t.Bytes(Order::kFile);
  return ClassifyFileStringTDs(f.data(), int32(f.size()));
}

TEST_F(TDStringForms, ClassifyFileOrder) {
  EXPECT_EQ(ClassifyFile(Cluster({I32(), Boolean()})), 0);
  EXPECT_EQ(ClassifyFile(Cluster({String().Named("abc"), Array(Path())})), 0);
  EXPECT_EQ(ClassifyFile(Cluster({String(), OldString().Named("abcdef")})), 1);
  EXPECT_EQ(ClassifyFile(DatalogRefnum(OldString())), 1);
  EXPECT_EQ(ClassifyFile(OldBoolean()), 0);  // strings only
  std::vector<uChar> neither = {0, 14, 0x40, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ClassifyFileStringTDs(neither.data(), int32(neither.size())), -1);
  std::vector<uChar> f = Cluster({String(), String()}).Bytes(Order::kFile);
  EXPECT_EQ(ClassifyFileStringTDs(f.data(), int32(f.size()) - 2), -1);
}

}  // namespace
