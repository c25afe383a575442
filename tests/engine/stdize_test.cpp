#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "engine/objswap.h"
#include "engine/omid.h"
#include "engine/stdize.h"
#include "engine_test_support.h"
#include "mgsource/byteorder.h"
#include "tools/panelwriter.h"
#include "tools/tdbuilder.h"

namespace {

using qxtest::EngineTest;
using namespace tdb;

class Standardize : public EngineTest {};

// Converting the builder's file-order bytes gives its memory-order bytes, and back.
void ExpectRoundTrip(const TD& td, int32 oldStrings = 0) {
  std::vector<uChar> file = td.Bytes(Order::kFile);
  std::vector<uChar> mem = td.Bytes(Order::kMemory);
  std::vector<uChar> work = file;
  ASSERT_EQ(StandardizeTDBounded(work.data(), kToMemoryOrder, oldStrings, int32(work.size())), kNoErr);
  EXPECT_EQ(work, mem);
  ASSERT_EQ(StandardizeTDWalk(reinterpret_cast<TypeDescriptor*>(work.data()), kToFileOrder, oldStrings), kNoErr);
  EXPECT_EQ(work, file);
}

TEST_F(Standardize, EveryKindRoundTrips) {
  std::vector<TD> tds = {
      Void(), I8(), I64(), CXT(), Boolean(), OldBoolean(), Header(kTDOpaque36), Header(0x99),
      Enum(kTDEnumU16, {"one", "two", "three"}), Unit(kTDUnitDBL, {{1, 2}, {3, -4}}), Handle(7),
      String(), Path(TDFixed(12)), StringOf(kTDString33, 40), StringOf(kTDString37), StringView(9),
      Array(DBL(), {kTDVariable, TDFixed(3), 8}), ArrayView(I32()), Block(1234),
      Wrapper(String()), TypeOnly(I16()), TypedRef(Cluster({I8(), Path()})), Variant(),
      Refnum(kRefnumByteStream), DatalogRefnum(Cluster({String(), Array(I32())})),
      NamedRefnum(kRefnumNamed6, "Visa"), NamedRefnum(kRefnumNamed10, "Thing"),
      ObjectRefnum(1, 77), ObjectRefnum(Array(String().Named("s"))),
      Function(3, {0x1100, 0x0001}, {I32(), String()}),
      Typedef("my type", Cluster({Enum(kTDEnumU8, {"a"}), U64()}), 0x12345678),
      Union({I8(), DBL().Named("d")}),
  };
  for (const TD& td : tds) ExpectRoundTrip(td.Named("n"));
  for (const TD& td : tds) ExpectRoundTrip(td);
}

TEST_F(Standardize, ClusterOfArrayOfStringsIsBigEndianInFileOrder) {
  TD td = Cluster({Array(String(20), {kTDVariable, TDFixed(4)})});
  std::vector<uChar> bytes = td.Bytes(Order::kMemory);
  ASSERT_EQ(TDStandardize(AsTD(bytes), kToFileOrder), kNoErr);
  EXPECT_EQ(GetBE16(&bytes[0]), bytes.size());               // size
  EXPECT_EQ(bytes[3], kTDCluster);                            // code in the low byte of the word
  EXPECT_EQ(GetBE16(&bytes[4]), 1u);                          // element count
  EXPECT_EQ(bytes[9], kTDArray);
  EXPECT_EQ(GetBE16(&bytes[10]), 2u);                         // dimensions
  EXPECT_EQ(int32(GetBE32(&bytes[12])), kTDVariable);
  EXPECT_EQ(GetBE32(&bytes[16]), uInt32(TDFixed(4)));
  EXPECT_EQ(bytes[23], kTDString);
  EXPECT_EQ(GetBE32(&bytes[24]), 20u);                        // bound
  ASSERT_EQ(TDStandardize(AsTD(bytes), kToMemoryOrder), kNoErr);
  EXPECT_EQ(bytes, td.Bytes(Order::kMemory));
}

TEST_F(Standardize, OldStringFormLeavesTheBoundBytes) {
  std::vector<uChar> bytes = String(5).Bytes(Order::kMemory);
  std::vector<uChar> before = bytes;
  ASSERT_EQ(StandardizeTDWalk(AsTD(bytes), kToFileOrder, 1), kNoErr);
  EXPECT_EQ(std::vector<uChar>(bytes.begin() + 4, bytes.end()),
            std::vector<uChar>(before.begin() + 4, before.end()));
  EXPECT_NE(bytes[0], before[0]);
  ExpectRoundTrip(OldString(), 1);
}

TEST_F(Standardize, CountsAndSizesPastTheDescriptorGiveOne) {
  // A cluster that claims two elements but holds one.
  std::vector<uChar> mem = Cluster({I32()}).Bytes(Order::kMemory);
  PutNative16(&mem[4], 2);
  std::vector<uChar> file = mem;
  ASSERT_EQ(TDStandardize(AsTD(file), kToFileOrder), kArgErr) << "memory order walks the same bounds";
  file = Cluster({I32()}).Bytes(Order::kFile);
  PutBE16(&file[4], 2);
  // The TD sits at the end of a larger buffer: nothing past it may be touched.
  std::vector<uChar> buf(file);
  buf.resize(file.size() + 16, 0xEE);
  EXPECT_EQ(StandardizeTDBounded(buf.data(), kToMemoryOrder, 0, int32(file.size())), kArgErr);
  for (size_t i = file.size(); i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xEE);
  // Array dimensions past the end, a nested size past its parent, a nested 0xFFFF,
  // a unit count past the end, a connector count past the end.
  auto badField = [](const TD& td, size_t at, uInt16 value) {
    std::vector<uChar> f = td.Bytes(Order::kFile);
    PutBE16(&f[at], value);
    return StandardizeTDBounded(f.data(), kToMemoryOrder, 0, int32(f.size()));
  };
  EXPECT_EQ(badField(Array(I8()), 4, 9), kArgErr);
  EXPECT_EQ(badField(Cluster({I8(), I16()}), 6, 200), kArgErr);
  EXPECT_EQ(badField(Wrapper(I8()), 4, 0xFFFF), kArgErr);
  EXPECT_EQ(badField(Unit(kTDUnitSGL, {{1, 1}}), 4, 50), kArgErr);
  EXPECT_EQ(badField(Function(0, {1}, {I8()}), 4, 30), kArgErr);
  EXPECT_EQ(badField(I8(), 0, 3), kArgErr);
  // A top-level 0xFFFF takes the record's size.
  std::vector<uChar> big = Cluster({I8()}).Bytes(Order::kFile);
  PutBE16(&big[0], 0xFFFF);
  EXPECT_EQ(StandardizeTDBounded(big.data(), kToMemoryOrder, 0, int32(big.size())), kNoErr);
  EXPECT_EQ(GetNative16(&big[0]), 0xFFFF);
}

MgErr gHookDir = -1;
int32 gHookKind = -1;
MgErr RecordingAutoRef(void* td, int32 dir, int32 size) {
  gHookDir = dir;
  gHookKind = int16(GetNative16(static_cast<uChar*>(td) + 4));
  return size > 0 ? kNoErr : kArgErr;
}

TEST_F(Standardize, AutomationRefnumsGoThroughTheHook) {
  std::vector<uChar> f = NamedRefnum(kRefnumAutomation, "IDispatch").Bytes(Order::kFile);
  EXPECT_EQ(StandardizeTDBounded(f.data(), kToMemoryOrder, 0, int32(f.size())), kAutoClientMissingErr);
  AutoRefStandardizeProc prev = SetAutoRefStandardize(RecordingAutoRef);
  f = NamedRefnum(kRefnumAutomation, "IDispatch").Bytes(Order::kFile);
  EXPECT_EQ(StandardizeTDBounded(f.data(), kToMemoryOrder, 0, int32(f.size())), kNoErr);
  EXPECT_EQ(gHookDir, kToMemoryOrder);
  EXPECT_EQ(gHookKind, kRefnumAutomation) << "the kind word is in memory order";
  // To file order the kind word is converted last, after the hook.
  gHookKind = -1;
  ASSERT_EQ(StandardizeTDBounded(f.data(), kToFileOrder, 0, int32(f.size())), kNoErr);
  EXPECT_EQ(gHookDir, kToFileOrder);
  EXPECT_EQ(gHookKind, kRefnumAutomation) << "the kind word is still in memory order";
  EXPECT_EQ(GetBE16(&f[4]), kRefnumAutomation);
  SetAutoRefStandardize(prev);
}

TEST_F(Standardize, ToFileOrderARefnumKindWordIsConvertedAfterItsRecord) {
  // A datalog refnum whose record cannot be converted: the failure leaves the
  // kind word (and the header) in memory order.
  std::vector<uChar> m = DatalogRefnum(Cluster({I8(), I16()})).Bytes();
  PutNative16(&m[6], 200);  // the record claims more than there is
  std::vector<uChar> before = m;
  EXPECT_EQ(StandardizeTDBounded(m.data(), kToFileOrder, 0, int32(m.size())), kArgErr);
  EXPECT_EQ(GetNative16(&m[4]), kRefnumDatalog);
  EXPECT_EQ(std::vector<uChar>(m.begin(), m.begin() + 6), std::vector<uChar>(before.begin(), before.begin() + 6));
  // Independent expected bytes of a datalog refnum of an I32 record in file
  // order (code words: flags byte, then code).
  std::vector<uChar> ok = DatalogRefnum(I32()).Bytes();
  ASSERT_EQ(StandardizeTDBounded(ok.data(), kToFileOrder, 0, int32(ok.size())), kNoErr);
  EXPECT_EQ(ok, (std::vector<uChar>{0, 10, 0, kTDRefnum, 0, 1, 0, 4, 0, kTDI32}));
}

TEST_F(Standardize, VariantOfAnotherKindIsRefusedFromFilesAndAssertsInMemory) {
  std::vector<uChar> f = Variant(3).Bytes(Order::kFile);
  EXPECT_EQ(StandardizeTDBounded(f.data(), kToMemoryOrder, 0, int32(f.size())), kArgErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("variant descriptor"), 0);
  std::vector<uChar> m = Variant(3).Bytes(Order::kMemory);
  EXPECT_EQ(TDStandardize(AsTD(m), kToFileOrder), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("variant descriptor"), 1);
}

TEST_F(Standardize, ObjectManagerIdsCopyAndSwap) {
  std::vector<uChar> six = NamedRefnum(kRefnumNamed6, "abc").Bytes();
  uChar* c6 = CopyOMId(TDGetOMId(AsTD(six)));
  ASSERT_NE(c6, nullptr);
  EXPECT_EQ(std::memcmp(c6, six.data() + 4, 2 + 3 + 1), 0);
  AZDisposePtr(c6);
  std::vector<uChar> ten = NamedRefnum(kRefnumNamed10, "").Bytes();
  uChar* c10 = CopyOMId(TDGetOMId(AsTD(ten)));
  ASSERT_NE(c10, nullptr);
  EXPECT_EQ(c10[2], 0);
  AZDisposePtr(c10);
  std::vector<uChar> sub1 = ObjectRefnum(1, 99).Bytes();
  uChar* c1 = CopyOMId(TDGetOMId(AsTD(sub1)));
  EXPECT_EQ(std::memcmp(c1, sub1.data() + 4, 6), 0);
  AZDisposePtr(c1);
  TD inner = Cluster({String(), DBL()});
  std::vector<uChar> sub2 = ObjectRefnum(inner).Bytes();
  uChar* c2 = CopyOMId(TDGetOMId(AsTD(sub2)));
  EXPECT_EQ(std::memcmp(c2, sub2.data() + 4, 4 + size_t(inner.Length())), 0);
  EXPECT_EQ(OMIdCmp(c2, TDGetOMId(AsTD(sub2))), 0);
  AZDisposePtr(c2);
  std::vector<uChar> seven = NamedRefnum(kRefnumAutomation, "x").Bytes();
  EXPECT_EQ(CopyOMId(TDGetOMId(AsTD(seven))), nullptr);

  // Class 8, subclass 2 to file order and back restores it, nested TD included.
  std::vector<uChar> id(sub2.begin() + 4, sub2.end());
  std::vector<uChar> orig = id;
  ASSERT_EQ(SwapRefnumTD(id.data(), kToFileOrder), kNoErr);
  EXPECT_EQ(GetBE16(&id[0]), uInt16(kRefnumObject));
  EXPECT_EQ(GetBE16(&id[2]), 2u);
  EXPECT_EQ(GetBE16(&id[4]), uInt16(inner.Length()));
  ASSERT_EQ(SwapRefnumTD(id.data(), kToMemoryOrder), kNoErr);
  EXPECT_EQ(id, orig);
}

// ---- Objects ---------------------------------------------------------------------

// Memory-order bytes of an object of a class, with its counts set small.
std::vector<uChar> SampleObject(int32 cls, int32 size, std::mt19937& rng) {
  std::vector<uChar> b(static_cast<size_t>(size));
  for (auto& x : b) x = uChar(rng());
  switch (cls) {
    case kClsList:
    case kClsCrossList: PutNative32(&b[0], uInt32((size - 4) / 4)); break;
    case kClsBigMultiLabel: PutNative16(&b[48], uInt16((size - 52) / 16)); break;
    case kClsMultiCosmetic: PutNative16(&b[36], uInt16((size - 40) / 4)); break;
    case kClsBigMultiCosmetic: PutNative16(&b[36], uInt16((size - 40) / 20)); break;
    case kClsConnectorPane: b[15] = uChar((size - 16) / 16); break;
    case kClsDataObject:
    case kClsTypeDescriptor: {
      std::vector<uChar> td = Cluster({String(), Array(I32())}).Bytes();
      b = td;
      break;
    }
    default: break;
  }
  return b;
}

TEST_F(Standardize, EveryObjectClassConvertsFromTheToolsFileOrder) {
  std::mt19937 rng(3);
  const int16* classes;
  int32 n = ObjSwapClasses(&classes);
  EXPECT_GE(n, 40);
  for (int32 i = 0; i < n; ++i) {
    int32 cls = classes[i];
    for (int32 size : {132, 140}) {
      std::vector<uChar> mem = SampleObject(cls, size, rng);
      std::vector<uChar> file = panelwriter::ObjectInFileOrder(mem, cls);
      ASSERT_EQ(file.size(), mem.size()) << "class " << cls;
      EXPECT_NE(file, mem) << "class " << cls;
      // Through a heap, as the loader converts objects.
      ObjHeap heap = OHNewHeap(512, FourCC("TEST"), 0, 0);
      int32 off = OHNewBlock(heap, int32(file.size()), cls);
      std::memcpy(*heap + off, file.data(), file.size());
      ASSERT_EQ(ObjSwapForClass(cls)(heap, off, kToMemoryOrder), kNoErr) << "class " << cls;
      EXPECT_EQ(std::vector<uChar>(*heap + off, *heap + off + file.size()), mem) << "class " << cls;
      OHDisposeHeap(heap);
    }
  }
}

// The byte offsets that converting a patterned object changes.
std::set<int32> Changed(int32 cls, std::vector<uChar> bytes, int32 mode) {
  std::vector<uChar> before = bytes;
  EXPECT_EQ(SwapObjectData(bytes.data(), int32(bytes.size()), cls, mode), kNoErr);
  std::set<int32> out;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] != before[i]) out.insert(int32(i));
  return out;
}

std::vector<uChar> Pattern(int32 size) {
  std::vector<uChar> b(static_cast<size_t>(size));
  for (int32 i = 0; i < size; ++i) b[size_t(i)] = uChar(i + 1);  // every byte differs from its neighbours
  return b;
}

std::set<int32> Bytes(std::initializer_list<std::pair<int32, int32>> fields) {
  std::set<int32> s;
  for (auto [off, w] : fields)
    for (int32 k = 0; k < w; ++k) s.insert(off + k);
  return s;
}

// ---- Independent layouts ------------------------------------------------------------
// The fields of each converter class written out here from the class table,
// "then" chains expanded, for an object of 132 bytes whose counts are 2: a
// wrong entry in the converters' tables (or in the tools' file order, which
// reads the same tables) shows against these.
struct F {
  int32 off;
  int32 width;
  bool both;
};
using Layout = std::vector<F>;

Layout Cat2(Layout a, const Layout& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Layout Words(int32 width, std::initializer_list<int32> offs, bool both = false) {
  Layout l;
  for (int32 o : offs) l.push_back({o, width, both});
  return l;
}

Layout CosmeticL() { return Cat2(Words(4, {0, 4, 24, 28, 32}), Words(2, {8, 10, 12, 14, 16, 18, 20, 22})); }
Layout GrouperL() { return Cat2(Words(4, {0, 4, 24}), Words(2, {8, 10, 12, 14, 16, 18, 20, 22})); }
Layout DDOL() { return Cat2(GrouperL(), Cat2(Words(4, {36}), Words(2, {32, 34}))); }
Layout NumericL() { return Cat2(Cat2(Words(2, {40}), Words(4, {44, 48})), DDOL()); }
Layout SlideL() { return Cat2(Words(4, {52, 56}, true), NumericL()); }
Layout ClusterL() { return Cat2(Words(4, {40, 44}, true), DDOL()); }
Layout MultiLabelL() { return Cat2(Words(4, {40}, true), CosmeticL()); }
Layout DCOL() { return Cat2(Words(4, {0, 4, 8, 12}), Words(2, {16})); }

// The layout of a class and the count fields to set (offset, width) to 2.
Layout IndependentLayout(int32 cls, std::vector<std::pair<int32, int32>>* counts) {
  switch (cls) {
    case kClsList:
    case kClsCrossList:
      counts->push_back({0, 4});
      return Words(4, {0, 4, 8});
    case kClsObjHeapHdrExtension:
      return Cat2(Words(4, {0, 8, 16, 100, 104, 116}),
                  Words(2, {56, 58, 60, 62, 64, 66, 68, 70, 72, 74, 84, 86}));
    case kClsCosmetic:
    case kClsLabel:
      return CosmeticL();
    case kClsMultiLabel:
      return MultiLabelL();
    case kClsBigMultiLabel: {
      counts->push_back({48, 2});
      Layout l = Words(2, {48});
      for (int32 i = 0; i < 2; ++i)
        l = Cat2(l, Cat2(Words(2, {52 + 16 * i, 54 + 16 * i, 56 + 16 * i, 58 + 16 * i}),
                         Words(4, {60 + 16 * i, 64 + 16 * i})));
      return Cat2(l, MultiLabelL());
    }
    case kClsMultiCosmetic:
      counts->push_back({36, 2});
      return Cat2(Cat2(Words(2, {36, 38}), Words(4, {40, 44})), CosmeticL());
    case kClsBigMultiCosmetic: {
      counts->push_back({36, 2});
      Layout l = Words(2, {36, 38});
      for (int32 i = 0; i < 2; ++i)
        l = Cat2(l, Cat2(Words(2, {40 + 20 * i, 42 + 20 * i, 44 + 20 * i, 46 + 20 * i}),
                         Words(4, {48 + 20 * i, 52 + 20 * i, 56 + 20 * i})));
      return Cat2(l, CosmeticL());
    }
    case kClsSelLabel:
      return Cat2(Words(4, {40, 44}, true), CosmeticL());
    case kClsAnnex:
      return Cat2(Words(4, {0, 4, 24, 28, 32}), Words(2, {8, 10, 12, 14}));
    case kClsWizardData:
      return Words(4, {24, 28, 32, 40});
    case kClsGrouperObject:
      return GrouperL();
    case kClsDataDisplayObject:
    case kClsBoolean:
    case kClsString:
    case kClsPath:
    case kClsUserItem:
    case kClsTag:
    case kClsOleVariant:
      return DDOL();
    case kClsNumeric:
    case kClsColorRamp:
      return NumericL();
    case kClsColorBox:
      return Cat2(Words(4, {52}, true), NumericL());
    case kClsRing:
      return Cat2(Cat2(Words(2, {56}), Words(4, {60, 64})), NumericL());
    case kClsSlide:
      return SlideL();
    case kClsKnob:
      return Cat2(Words(4, {60, 64}, true), SlideL());
    case kClsArray:
      return Cat2(Cat2(Words(4, {40, 52, 56}), Words(2, {44, 46, 48, 50})), DDOL());
    case kClsCluster:
      return ClusterL();
    case kClsFrontPanel:
      return Cat2(Words(4, {48, 52, 60, 68, 72}), ClusterL());
    case kClsRefNum:
    case kClsPicture:
      return Cat2(Words(4, {40}, true), DDOL());
    case kClsTypeDefinition:
      return Cat2(Words(4, {44}, true), DDOL());
    case kClsTable:
      return Cat2(Words(4, {40, 44, 48, 52, 56, 60, 64, 68, 72}), DDOL());
    case kClsListbox:
      return Cat2(Cat2(Words(4, {40, 44, 48, 52}), Words(2, {56, 58})), DDOL());
    case kClsGraphChart:
      return Cat2(Cat2(Words(4, {40, 44, 48, 52, 56, 60, 64, 68, 72, 76, 80, 84, 88, 92}), Words(2, {96, 98})),
                  DDOL());
    case kClsScale:
      return Cat2(Words(4, {0, 4, 24, 28, 32}),
                  Words(2, {8, 10, 12, 14, 16, 18, 20, 22, 36, 38, 40, 42, 44, 46, 48, 50}));
    case kClsDataController:
      return DCOL();
    case kClsFPDataController:
      return Cat2(Cat2(Words(4, {20, 24, 28}), Words(2, {32})), DCOL());
    case kClsConnectorPane: {
      counts->push_back({15, 1});
      Layout l = Cat2(Words(4, {0}), Words(2, {4, 6, 8, 10}));
      for (int32 i = 0; i < 2; ++i)
        l = Cat2(l, Cat2(Words(4, {16 + 16 * i}),
                         Words(2, {20 + 16 * i, 22 + 16 * i, 24 + 16 * i, 26 + 16 * i, 28 + 16 * i, 30 + 16 * i})));
      return l;
    }
    default:
      return {};
  }
}

// Reverses the bytes of every field of the layout (all, or only those
// converted in both directions).
std::vector<uChar> Swapped(std::vector<uChar> b, const Layout& l, bool onlyBoth) {
  for (const F& f : l)
    if (!onlyBoth || f.both) std::reverse(b.begin() + f.off, b.begin() + f.off + f.width);
  return b;
}

TEST_F(Standardize, EveryObjectClassMatchesIndependentExpectedBytes) {
  const int16* classes;
  int32 n = ObjSwapClasses(&classes);
  int32 checked = 0;
  for (int32 i = 0; i < n; ++i) {
    int32 cls = classes[i];
    std::vector<std::pair<int32, int32>> counts;
    Layout l = IndependentLayout(cls, &counts);
    if (l.empty()) continue;  // descriptors: their own tests
    ++checked;
    SCOPED_TRACE(testing::Message() << "class " << cls);
    std::vector<uChar> mem = Pattern(132);
    for (auto [off, w] : counts) {
      if (w == 1) mem[size_t(off)] = 2;
      if (w == 2) PutNative16(&mem[size_t(off)], 2);
      if (w == 4) PutNative32(&mem[size_t(off)], 2);
    }
    // From file order every field; to file order the fields of both directions.
    std::vector<uChar> file = Swapped(mem, l, false);
    std::vector<uChar> work = file;
    ASSERT_EQ(SwapObjectData(work.data(), 132, cls, kSwapToMemory), kNoErr);
    EXPECT_EQ(work, mem);
    work = mem;
    ASSERT_EQ(SwapObjectData(work.data(), 132, cls, kSwapToFile), kNoErr);
    EXPECT_EQ(work, Swapped(mem, l, true));
    // The tools write the same file order.
    EXPECT_EQ(panelwriter::ObjectInFileOrder(mem, cls), file);
  }
  EXPECT_EQ(checked, n - 2);
}

TEST_F(Standardize, RingAndKnobDependOnTheirBlockSize) {
  std::set<int32> numeric = Bytes({{40, 2}, {44, 4}, {48, 4}, {36, 4}, {32, 2}, {34, 2}, {0, 4}, {4, 4},
                                   {24, 4}, {8, 2}, {10, 2}, {12, 2}, {14, 2}, {16, 2}, {18, 2}, {20, 2}, {22, 2}});
  std::set<int32> ring64 = numeric;
  ring64.insert({56, 57});
  EXPECT_EQ(Changed(kClsRing, Pattern(64), kSwapToMemory), ring64);
  std::set<int32> ring68 = ring64;
  for (int32 i = 60; i < 68; ++i) ring68.insert(i);
  EXPECT_EQ(Changed(kClsRing, Pattern(68), kSwapToMemory), ring68);
  // Direction 1 converts only the fields marked for both directions.
  EXPECT_EQ(Changed(kClsRing, Pattern(68), kSwapToFile), std::set<int32>{});
  EXPECT_EQ(Changed(kClsSlide, Pattern(64), kSwapToFile), Bytes({{52, 4}, {56, 4}}));
}

TEST_F(Standardize, KnobOfSixtyFourBytesConvertsWithoutItsMissingField) {
  std::vector<uChar> b = Pattern(64);
  EXPECT_EQ(SwapObjectData(b.data(), 64, kClsKnob, kSwapToMemory), kNoErr);
  EXPECT_EQ(Changed(kClsKnob, Pattern(64), kSwapToFile), Bytes({{52, 4}, {56, 4}, {60, 4}}));
  // Written and read back, it is as it was.
  std::vector<uChar> c = Pattern(64);
  ASSERT_EQ(SwapObjectData(c.data(), 64, kClsKnob, kSwapToFile), kNoErr);
  ASSERT_EQ(SwapObjectData(c.data(), 64, kClsKnob, kSwapToMemory), kNoErr);
  std::vector<uChar> d = Pattern(68);
  std::set<int32> both = Bytes({{52, 4}, {56, 4}, {60, 4}, {64, 4}});
  EXPECT_EQ(Changed(kClsKnob, d, kSwapToFile), both);
}

TEST_F(Standardize, ConnectorPaneAndBigMultiLabelEntries) {
  std::vector<uChar> pane = Pattern(48);
  pane[15] = 2;
  std::set<int32> want = Bytes({{0, 4}, {4, 2}, {6, 2}, {8, 2}, {10, 2}});
  for (int32 i = 0; i < 2; ++i) {
    int32 b = 16 + 16 * i;
    for (auto s : Bytes({{b, 4}, {b + 4, 2}, {b + 6, 2}, {b + 8, 2}, {b + 10, 2}, {b + 12, 2}, {b + 14, 2}}))
      want.insert(s);
  }
  EXPECT_EQ(Changed(kClsConnectorPane, pane, kSwapAllToFile), want);
  // A count past the block gives 1 and writes nothing past it.
  std::vector<uChar> buf = Pattern(64);
  PutNative16(&buf[48], 3);  // needs 52 + 48 bytes
  std::vector<uChar> big(buf);
  big.resize(80, 0xEE);
  EXPECT_EQ(SwapObjectData(big.data(), 64, kClsBigMultiLabel, kSwapAllToFile), kArgErr);
  for (size_t i = 64; i < big.size(); ++i) EXPECT_EQ(big[i], 0xEE);
}

TEST_F(Standardize, HeapOfEngineClassesRoundTripsThroughTheRegistry) {
  EXPECT_NE(GetObjSwapProc(kClsList), nullptr);
  EXPECT_NE(GetObjSwapProc(kClsObjHeapHdrExtension), nullptr);
  EXPECT_NE(GetObjSwapProc(kClsTypeDescriptor), nullptr);
  EXPECT_EQ(GetObjSwapProc(kClsRing), nullptr) << "panel classes are registered by the object system";
  ObjHeap heap = OHNewHeap(600, FourCC("DTHP"), 132, kClsObjHeapHdrExtension);
  int32 list = OHNewBlock(heap, 12, kClsList);
  PutNative32(*heap + list, 2);
  PutNative32(*heap + list + 4, 0x01020304);
  PutNative32(*heap + list + 8, 0x05060708);
  std::vector<uChar> td = Cluster({String().Named("s"), Array(DBL())}).Bytes();
  int32 t = OHNewBlock(heap, int32(td.size()), kClsTypeDescriptor);
  std::memcpy(*heap + t, td.data(), td.size());
  std::vector<uChar> before(*heap, *heap + AZGetHandleSize(heap));
  // The engine's direction 1 converts only descriptors and fields marked for
  // both directions: the list stays in memory order.
  ASSERT_EQ(OHByteSwapHeap(heap, OSwapByClass, 1), kNoErr);
  EXPECT_EQ(GetNative32(*heap + list + 4), 0x01020304u);
  EXPECT_EQ(GetBE16(*heap + t), uInt16(td.size()));
  OHDisposeHeap(heap);
  // A heap written wholly in file order by the tools reads back as it was.
  heap = OHNewHeap(600, FourCC("DTHP"), 132, kClsObjHeapHdrExtension);
  list = OHNewBlock(heap, 12, kClsList);
  PutNative32(*heap + list, 2);
  PutNative32(*heap + list + 4, 0x01020304);
  PutNative32(*heap + list + 8, 0x05060708);
  t = OHNewBlock(heap, int32(td.size()), kClsTypeDescriptor);
  std::memcpy(*heap + t, td.data(), td.size());
  int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + 100, 0x11223344);
  before.assign(*heap, *heap + AZGetHandleSize(heap));
  ASSERT_EQ(OHByteSwapHeap(heap, panelwriter::SwapObjectAllToFile, 1), kNoErr);
  EXPECT_EQ(GetBE32(*heap + list + 4), 0x01020304u) << "list entries in file order";
  EXPECT_EQ(GetBE32(*heap + ext + 100), 0x11223344u);
  ASSERT_EQ(OHByteSwapHeap(heap, OSwapByClass, 0), kNoErr);
  std::vector<uChar> after(*heap, *heap + AZGetHandleSize(heap));
  EXPECT_EQ(after, before);
  OHDisposeHeap(heap);
}

// ---- Resources and scraps -----------------------------------------------------------

TEST_F(Standardize, ResourcesConvertFromTheToolsFileOrder) {
  std::mt19937 rng(7);
  auto random = [&](size_t n) {
    std::vector<uChar> b(n);
    for (auto& x : b) x = uChar(rng());
    return b;
  };
  struct Case {
    uInt32 type;
    std::vector<uChar> mem;
  };
  std::vector<Case> cases;
  auto ddod = random(12 + 2 * 8);
  PutNative16(&ddod[10], 2);
  cases.push_back({kRsrcDDOD, ddod});
  cases.push_back({kRsrcCosm, random(36)});
  auto mcos = random(32 + 3 * 8);
  PutNative32(&mcos[28], 3);
  cases.push_back({kRsrcMCos, mcos});
  auto bcos = random(16 + 2 * 24);
  PutNative32(&bcos[12], 2);
  cases.push_back({kRsrcBCos, bcos});
  std::vector<uChar> snum(4, 7);
  for (int32 len : {0, 3, 4, 9}) {
    uChar l[4];
    PutNative32(l, uInt32(len));
    snum.insert(snum.end(), l, l + 4);
    for (int32 k = 0; k < ((len + 3) & ~3); ++k) snum.push_back(uChar(k));
  }
  cases.push_back({kRsrcSNUM, snum});
  cases.push_back({kRsrcSLBX, random(8)});
  auto labl = random(52);
  labl.push_back(5);
  for (char c : std::string("hello")) labl.push_back(uChar(c));
  labl.resize(52 + PaddedPStrRoom(5), 0);
  auto tail = random(4);
  labl.insert(labl.end(), tail.begin(), tail.end());
  cases.push_back({kRsrcLabl, labl});
  for (auto& c : cases) {
    std::vector<uChar> file = panelwriter::RsrcInFileOrder(c.type, c.mem);
    ASSERT_EQ(file.size(), c.mem.size());
    std::vector<uChar> work = file;
    MgErr err;
    switch (c.type) {
      case kRsrcDDOD: err = SwapDDODRsrc(work.data(), 0, int32(work.size())); break;
      case kRsrcCosm: err = SwapCosmRsrc(work.data(), 0, int32(work.size())); break;
      case kRsrcMCos: err = SwapMCosRsrc(work.data(), 0, int32(work.size())); break;
      case kRsrcBCos: err = SwapBCosRsrc(work.data(), 0, int32(work.size())); break;
      case kRsrcSNUM: err = SwapSNUMRsrc(work.data(), 0, int32(work.size())); break;
      case kRsrcSLBX: err = SwapSLBXRsrc(work.data(), 0, int32(work.size())); break;
      default: err = SwapLablRsrc(work.data(), 0, int32(work.size())); break;
    }
    ASSERT_EQ(err, kNoErr);
    EXPECT_EQ(work, c.mem);
  }
}

TEST_F(Standardize, EmptyLabelTextPutsTheTrailingWordAtFiftySix) {
  std::vector<uChar> labl = Pattern(60);
  labl[52] = 0;  // empty text
  std::vector<uChar> before = labl;
  ASSERT_EQ(SwapLablRsrc(labl.data(), 0, 60), kNoErr);
  EXPECT_EQ(labl[56], before[59]);
  EXPECT_EQ(labl[59], before[56]);
  EXPECT_EQ(labl[53], before[53]) << "the text room is left alone";
  // Direction 1 does nothing for resources but 'SLBX'.
  std::vector<uChar> c = Pattern(60);
  ASSERT_EQ(SwapLablRsrc(c.data(), 1, 60), kNoErr);
  EXPECT_EQ(c, Pattern(60));
  std::vector<uChar> s = Pattern(8);
  ASSERT_EQ(SwapSLBXRsrc(s.data(), 1, 8), kNoErr);
  EXPECT_EQ(s[0], 4);
}

TEST_F(Standardize, RecordCountsPastTheRecordGiveOne) {
  std::vector<uChar> bcos(16 + 24, 0);
  PutBE32(&bcos[12], 2);  // two entries, room for one
  std::vector<uChar> buf = bcos;
  buf.resize(bcos.size() + 24, 0xEE);
  EXPECT_EQ(SwapBCosRsrc(buf.data(), 0, int32(bcos.size())), kArgErr);
  for (size_t i = bcos.size(); i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xEE);
  std::vector<uChar> snum(8, 0);
  PutBE32(&snum[4], 100);
  EXPECT_EQ(SwapSNUMRsrc(snum.data(), 0, 8), kArgErr);
  std::vector<uChar> labl(52, 0);
  EXPECT_EQ(SwapLablRsrc(labl.data(), 0, 52), kArgErr) << "no room for the text";
}

std::vector<uChar> MemoryScrap(bool secondList) {
  std::vector<uChar> s = Pattern(32);
  s.push_back(3);
  for (char c : std::string("abc")) s.push_back(uChar(c));
  auto put32 = [&](uInt32 v) {
    uChar b[4];
    PutNative32(b, v);
    s.insert(s.end(), b, b + 4);
  };
  put32(2);  // N object records
  for (int r = 0; r < 2; ++r) {
    // record: total length, name "xy" (room 4), k = 2 sub-records of 8 and 12 bytes
    put32(4 + 4 + 4 + 8 + 12);
    s.push_back(2);
    s.push_back('x');
    s.push_back('y');
    s.push_back(0);
    put32(2);
    put32(8);
    put32(0xAABBCCDD);
    put32(12);
    put32(1);
    put32(2);
  }
  put32(2);
  put32(111);
  put32(222);
  if (secondList) {
    put32(1);
    put32(333);
  }
  return s;
}

TEST_F(Standardize, ScrapsConvertAndOverrunsGiveOne) {
  for (bool second : {false, true}) {
    std::vector<uChar> mem = MemoryScrap(second);
    std::vector<uChar> file = panelwriter::ScrapInFileOrder(mem);
    ASSERT_EQ(file.size(), mem.size());
    std::vector<uChar> work = file;
    ASSERT_EQ(SwapScrapRsrc(work.data(), 0, int32(work.size())), kNoErr);
    // Sub-record bodies are not converted: compare everything else.
    EXPECT_EQ(work, mem);
  }
  std::vector<uChar> bad = panelwriter::ScrapInFileOrder(MemoryScrap(false));
  PutBE32(&bad[36], 9);  // N past the scrap
  std::vector<uChar> buf = bad;
  buf.resize(bad.size() + 8, 0xEE);
  EXPECT_EQ(SwapScrapRsrc(buf.data(), 0, int32(bad.size())), kArgErr);
  for (size_t i = bad.size(); i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xEE);
}

}  // namespace
