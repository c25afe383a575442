// The flat form written for every kind of type, its sizes and element classes,
// the writers into strings and handles, and whole-TD byte order.
#include "engine/stdize.h"
#include "flat_test_util.h"

using dtest::Built;
using dtest::Datum;
using ftest::Bytes;
using ftest::Flat;
using ftest::Hex;

namespace {

class FlattenTest : public dtest::DataTest {};

UHandle NewArray(const std::vector<int32>& sizes, const Bytes& elems) {
  UHandle h = DSNewHClr(int32(4 * sizes.size() + elems.size()));
  std::memcpy(*h, sizes.data(), 4 * sizes.size());
  if (!elems.empty()) std::memcpy(*h + 4 * sizes.size(), elems.data(), elems.size());
  return h;
}

TEST_F(FlattenTest, ClusterOfNumberStringAndRealIsPackedBigEndian) {
  Built b(tdb::Cluster({tdb::I16(), tdb::String(), tdb::DBL()}));
  Datum d(b.td());
  d.Set<int16>(0, 3);
  dtest::PutStr(d.p() + 2, "ab");
  d.Set<double>(6, 1.0);
  Bytes f = Flat(b.td(), d.p());
  EXPECT_EQ(Hex(f), "00 03 00 00 00 02 61 62 3F F0 00 00 00 00 00 00");
  EXPECT_EQ(FlatSize(b.td(), d.p()), 16);
}

TEST_F(FlattenTest, TwoDimensionalByteArrayWritesSizesThenRows) {
  Built b(tdb::Array(tdb::U8(), {kTDVariable, kTDVariable}));
  Datum d(b.td());
  DSDisposeHandle(d.H());
  d.Set<UHandle>(0, NewArray({2, 3}, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Hex(Flat(b.td(), d.p())), "00 00 00 02 00 00 00 03 01 02 03 04 05 06");
  EXPECT_EQ(FlatSize(b.td(), d.p()), 14);
  EXPECT_EQ(FlatEltSizeClass(b.td(), 0), 1);
}

TEST_F(FlattenTest, NullHandlesFlattenAsEmptyValues) {
  Built s(tdb::String());
  Built a(tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}));
  Built h(tdb::Handle());
  Built p(tdb::Path());
  uChar slot[4] = {0, 0, 0, 0};
  EXPECT_EQ(Hex(Flat(s.td(), slot)), "00 00 00 00");
  EXPECT_EQ(Hex(Flat(a.td(), slot)), "00 00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(Flat(h.td(), slot)), "00 00 00 00");
  EXPECT_EQ(Hex(Flat(p.td(), slot)), "50 54 48 30 00 00 00 00 00 00 00 00");
}

TEST_F(FlattenTest, OldBooleanArrayIsPackedTopBitFirst) {
  Built b(tdb::Array(tdb::Boolean()));
  Bytes bits(20, 0);
  bits[0] = 1;
  bits[15] = 1;
  bits[16] = 1;
  bits[19] = 7;  // any non-zero byte is true
  Datum d(b.td());
  DSDisposeHandle(d.H());
  d.Set<UHandle>(0, NewArray({20}, bits));
  Bytes f = Flat(b.td(), d.p(), kFlatOldBooleans);
  EXPECT_EQ(Hex(f), "00 00 00 14 80 01 90 00");
  EXPECT_EQ(FlatSizeWalk(b.td(), d.p(), kFlatOldBooleans), 8);
  // In the current form the bytes are written as they are.
  EXPECT_EQ(Hex(Flat(b.td(), d.p())), "00 00 00 14 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 01 00 00 07");
}

TEST_F(FlattenTest, OldBooleanRowsStartNewWords) {
  Built b(tdb::Array(tdb::Boolean(), {kTDVariable, kTDVariable}));
  Datum d(b.td());
  DSDisposeHandle(d.H());
  d.Set<UHandle>(0, NewArray({2, 3}, {1, 0, 1, 0, 1, 1}));
  EXPECT_EQ(Hex(Flat(b.td(), d.p(), kFlatOldBooleans)), "00 00 00 02 00 00 00 03 A0 00 60 00");
  // A boolean alone, and inside a cluster, is a 16-bit word.
  Built c(tdb::Cluster({tdb::Boolean(), tdb::Boolean()}));
  uChar two[2] = {1, 0};
  EXPECT_EQ(Hex(Flat(c.td(), two, kFlatOldBooleans)), "80 00 00 00");
  EXPECT_EQ(Hex(Flat(c.td(), two)), "01 00");
}

TEST_F(FlattenTest, StridedViewFlattensLikeTheArrayItShows) {
  // A 3 x 4 array of I16 and a view of its 2 x 2 block at row 1, column 1.
  int16 m[12];
  for (int i = 0; i < 12; ++i) m[i] = int16(100 + i);
  Built v(tdb::ArrayView(tdb::I16(), {kTDVariable, kTDVariable}));
  uChar view[20];
  uChar* first = reinterpret_cast<uChar*>(&m[5]);
  int32 dims[4] = {2, 8, 2, 2};
  std::memcpy(view, &first, 4);
  std::memcpy(view + 4, dims, 16);
  Bytes f = Flat(v.td(), view);
  EXPECT_EQ(Hex(f), "00 00 00 02 00 00 00 02 00 69 00 6A 00 6D 00 6E");

  Built a(tdb::Array(tdb::I16(), {kTDVariable, kTDVariable}));
  Datum d(a.td());
  DSDisposeHandle(d.H());
  int16 sub[4] = {105, 106, 109, 110};
  d.Set<UHandle>(0, NewArray({2, 2}, Bytes(reinterpret_cast<uChar*>(sub), reinterpret_cast<uChar*>(sub) + 8)));
  EXPECT_EQ(f, Flat(a.td(), d.p()));

  // A dense byte view is one block; an old-form boolean view is packed.
  uChar bytes[5] = {1, 0, 1, 1, 0};
  Built bv(tdb::ArrayView(tdb::Boolean()));
  uChar v1[12];
  uChar* bp = bytes;
  int32 d1[2] = {5, 1};
  std::memcpy(v1, &bp, 4);
  std::memcpy(v1 + 4, d1, 8);
  EXPECT_EQ(Hex(Flat(bv.td(), v1)), "00 00 00 05 01 00 01 01 00");
  EXPECT_EQ(Hex(Flat(bv.td(), v1, kFlatOldBooleans)), "00 00 00 05 B0 00");
  EXPECT_EQ(FlatEltSizeClass(bv.td(), 0), 0);
}

TEST_F(FlattenTest, NumericsAreBigEndianWithExtendedInSixteenBytes) {
  struct Case {
    tdb::TD td;
    Bytes mem;
    const char* flat;
  };
  double one = 1.0;
  Bytes dbl(reinterpret_cast<uChar*>(&one), reinterpret_cast<uChar*>(&one) + 8);
  floatExt x = 1.0;
  Bytes ext(reinterpret_cast<uChar*>(&x), reinterpret_cast<uChar*>(&x) + 10);
  Bytes cxt = ext;
  cxt.insert(cxt.end(), ext.begin(), ext.end());
  Bytes cdb = dbl;
  cdb.insert(cdb.end(), dbl.begin(), dbl.end());
  std::vector<Case> cases = {
      {tdb::I8(), {0xFE}, "FE"},
      {tdb::U16(), {0x34, 0x12}, "12 34"},
      {tdb::I32(), {0x78, 0x56, 0x34, 0x12}, "12 34 56 78"},
      {tdb::U64(), {1, 2, 3, 4, 5, 6, 7, 8}, "08 07 06 05 04 03 02 01"},
      {tdb::DBL(), dbl, "3F F0 00 00 00 00 00 00"},
      {tdb::CSG(), {1, 0, 0, 0, 2, 0, 0, 0}, "00 00 00 01 00 00 00 02"},
      {tdb::CDB(), cdb, "3F F0 00 00 00 00 00 00 3F F0 00 00 00 00 00 00"},
      {tdb::EXT(), ext, "3F FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {tdb::Unit(kTDUnitEXT, {{1, 2}}), ext, "3F FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {tdb::Enum(kTDEnumU16, {"a", "b"}), {1, 0}, "00 01"},
      {tdb::Unit(kTDUnitDBL, {{3, 1}}), dbl, "3F F0 00 00 00 00 00 00"},
      {tdb::Refnum(3), {4, 3, 2, 1}, "01 02 03 04"},
      {tdb::Typedef("my", tdb::I32()), {4, 3, 2, 1}, "01 02 03 04"},
      {tdb::Block(3), {9, 8, 7}, "09 08 07"},
      {tdb::Header(kTDOpaque34), {1, 2, 3, 4}, "01 02 03 04"},
      {tdb::Void(), {}, ""},
  };
  for (auto& c : cases) {
    Built b(c.td);
    EXPECT_EQ(Hex(Flat(b.td(), c.mem.data())), c.flat);
  }
  Built cx(tdb::CXT());
  Bytes f = Flat(cx.td(), cxt.data());
  EXPECT_EQ(f.size(), 32u);
  EXPECT_EQ(Hex(Bytes(f.begin() + 16, f.begin() + 18)), "3F FF");
}

TEST_F(FlattenTest, HandlesAndPathsCarryTheirBytes) {
  Built h(tdb::Handle());
  UHandle data = AZNewHandle(3);
  std::memcpy(*data, "xyz", 3);
  EXPECT_EQ(Hex(Flat(h.td(), &data)), "00 00 00 03 78 79 7A");
  AZDisposeHandle(data);

  Built p(tdb::Path());
  Path path = FMakePath(nullptr, kAbsPath, "\001C", "\001a", nullptr);
  ASSERT_NE(path, nullptr);
  Bytes f = Flat(p.td(), &path);
  Bytes expect(size_t(FFlattenPath(path, nullptr)));
  FFlattenPath(path, expect.data());
  EXPECT_EQ(f, expect);
  FDisposePath(path);
}

TEST_F(FlattenTest, UnionWritesTheSelectedElementOnly) {
  Built u(tdb::Union({tdb::Cluster({tdb::I16(), tdb::I8()}), tdb::Cluster({tdb::I16(), tdb::I32()})}));
  uChar d[6] = {1, 0, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(Hex(Flat(u.td(), d)), "00 01 11 22 33 44");
  d[0] = 0;
  EXPECT_EQ(Hex(Flat(u.td(), d)), "00 00 44");
  d[0] = 2;  // out of range: nothing
  EXPECT_EQ(Hex(Flat(u.td(), d)), "");
  EXPECT_EQ(FlatSize(u.td(), nullptr), 6);
}

TEST_F(FlattenTest, ArrayOfUnionsCountsEachSelectedElement) {
  Built a(tdb::Array(tdb::Union({tdb::Cluster({tdb::I16(), tdb::I8()}), tdb::Cluster({tdb::I16(), tdb::DBL()})})));
  Bytes elems(3 * 10, 0);
  elems[10] = 1;  // the second element selects the DBL
  Datum d(a.td());
  DSDisposeHandle(d.H());
  d.Set<UHandle>(0, NewArray({3}, elems));
  Bytes f = Flat(a.td(), d.p());
  EXPECT_EQ(f.size(), 4u + 3 + 10 + 3);
  EXPECT_EQ(FlatEltSizeClass(a.td(), 0), 0);
}

TEST_F(FlattenTest, VariantsTravelOnlyWithoutPointers) {
  Built v(tdb::Variant());
  uChar num[16] = {3, 0, 0, 0, 0, 0, 0, 0, 0x2A, 0, 0, 0, 0, 0, 0, 0};  // a 32-bit integer, 42
  EXPECT_EQ(Flat(v.td(), num), Bytes(num, num + 16));
  uChar str[16] = {8, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0};  // a string: an address
  EXPECT_EQ(Hex(Flat(v.td(), str)), Hex(Bytes(16, 0)));
  uChar byRef[16] = {3, 0x40, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0};
  EXPECT_EQ(Hex(Flat(v.td(), byRef)), Hex(Bytes(16, 0)));
  EXPECT_EQ(FlatSize(v.td(), nullptr), 16);
}

TEST_F(FlattenTest, SizesWithoutDataComeFromTheTypeAlone) {
  EXPECT_EQ(FlatSize(Built(tdb::String()).td(), nullptr), 4);
  EXPECT_EQ(FlatSize(Built(tdb::String(10)).td(), nullptr), 14);
  EXPECT_EQ(FlatSize(Built(tdb::String(TDFixed(6))).td(), nullptr), 10);
  EXPECT_EQ(FlatSize(Built(tdb::Path(TDFixed(6))).td(), nullptr), 10);
  EXPECT_EQ(FlatSize(Built(tdb::Handle()).td(), nullptr), 0);
  EXPECT_EQ(FlatSize(Built(tdb::EXT()).td(), nullptr), 16);
  EXPECT_EQ(FlatSize(Built(tdb::CXT()).td(), nullptr), 32);
  EXPECT_EQ(FlatSizeWalk(Built(tdb::Boolean()).td(), nullptr, kFlatOldBooleans), 2);
  // Arrays: the count the dimension fields give times a fixed element, sizes not counted.
  EXPECT_EQ(FlatSize(Built(tdb::Array(tdb::I32(), {TDFixed(2), 3})).td(), nullptr), 24);
  EXPECT_EQ(FlatSize(Built(tdb::Array(tdb::I32(), {TDFixed(2), kTDVariable})).td(), nullptr), 0);
  EXPECT_EQ(FlatSize(Built(tdb::Array(tdb::String(), {TDFixed(2)})).td(), nullptr), 0);
  EXPECT_EQ(FlatSize(Built(tdb::Cluster({tdb::I8(), tdb::EXT(), tdb::String(3)})).td(), nullptr), 1 + 16 + 7);
  EXPECT_EQ(FlatSize(Built(tdb::Variant()).td(), nullptr), 16);
}

TEST_F(FlattenTest, ElementClassesFollowTheFlatForm) {
  struct Case {
    tdb::TD td;
    int32 flags;
    int32 cls;
  };
  std::vector<Case> cases = {
      {tdb::U8(), 0, 1},
      {tdb::Enum(kTDEnumU8, {"a"}), 0, 1},
      {tdb::Boolean(), 0, 1},
      {tdb::Boolean(), kFlatOldBooleans, -1},
      {tdb::I16(), 0, 2},
      {tdb::I32(), 0, 4},
      {tdb::SGL(), 0, 4},
      {tdb::Refnum(3), 0, 4},
      {tdb::DBL(), 0, 8},
      {tdb::I64(), 0, 8},
      {tdb::CSG(), 0, 8},
      {tdb::CDB(), 0, 16},
      {tdb::EXT(), 0, 0},
      {tdb::String(), 0, 1},
      {tdb::StringView(), 0, 1},
      {tdb::Path(), 0, 0},
      {tdb::Typedef("t", tdb::I32()), 0, 4},
      {tdb::Array(tdb::I16()), 0, 2},
      {tdb::Array(tdb::String()), 0, 0},
      {tdb::ArrayView(tdb::I16()), 0, 0},
      {tdb::Cluster({tdb::I32(), tdb::I16()}), 0, 6},
      {tdb::Cluster({tdb::I32(), tdb::Boolean()}), 0, 5},
      {tdb::Cluster({tdb::I32(), tdb::Boolean()}), kFlatOldBooleans, 0},
      {tdb::Cluster({tdb::I32(), tdb::EXT()}), 0, 0},
      {tdb::Cluster({tdb::I32(), tdb::String()}), 0, 0},
      {tdb::Cluster({tdb::I32(), tdb::Variant()}), 0, 0},
      {tdb::Cluster({tdb::Enum(kTDEnumU8, {"a"})}), 0, 0},
      {tdb::Union({tdb::Cluster({tdb::I16(), tdb::I16()}), tdb::Cluster({tdb::I16(), tdb::U16()})}), 0, 4},
      {tdb::Union({tdb::Cluster({tdb::I16(), tdb::I16()}), tdb::Cluster({tdb::I16(), tdb::I8()})}), 0, 0},
  };
  for (auto& c : cases) {
    Built b(c.td);
    EXPECT_EQ(FlatEltSizeClass(b.td(), c.flags), c.cls) << Hex(b.bytes);
  }
  // With the maximum alignment, a padded cluster no longer equals its flat form.
  int16 old = SetMaxDataAlign(4);
  EXPECT_EQ(FlatEltSizeClass(Built(tdb::Cluster({tdb::I16(), tdb::I32()})).td(), 0), 0);
  EXPECT_EQ(FlatEltSizeClass(Built(tdb::Cluster({tdb::I32(), tdb::I32()})).td(), 0), 8);
  SetMaxDataAlign(old);
}

TEST_F(FlattenTest, AlignedClustersAreWrittenWithoutPadding) {
  int16 old = SetMaxDataAlign(8);
  Built b(tdb::Cluster({tdb::I8(), tdb::DBL(), tdb::I16()}));
  ASSERT_EQ(DataSize(b.td()), 24);
  Datum d(b.td());
  d.Set<uChar>(0, 7);
  d.Set<double>(8, 1.0);
  d.Set<int16>(16, 2);
  EXPECT_EQ(Hex(Flat(b.td(), d.p())), "07 3F F0 00 00 00 00 00 00 00 02");
  SetMaxDataAlign(old);
}

TEST_F(FlattenTest, WritersIntoStringsAndHandles) {
  Built b(tdb::Cluster({tdb::I16(), tdb::String()}));
  Datum d(b.td());
  d.Set<int16>(0, 5);
  dtest::PutStr(d.p() + 2, "hey");
  LStrHandle s = dtest::NewLStr("old contents that are longer");
  ASSERT_EQ(FlattenToLStr(s, b.td(), d.p(), 0), kNoErr);
  EXPECT_EQ((*s)->cnt, 9);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(s)), 13);
  EXPECT_EQ(Hex(Bytes((*s)->str, (*s)->str + 9)), "00 05 00 00 00 03 68 65 79");
  EXPECT_EQ(FlattenToLStr(nullptr, b.td(), d.p(), 0), kArgErr);

  UHandle h = FlattenToNewHandle(nullptr, b.td(), d.p(), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(AZGetHandleSize(h), 9);
  EXPECT_EQ(Bytes(*h, *h + 9), Bytes((*s)->str, (*s)->str + 9));
  UHandle again = FlattenToNewHandle(h, b.td(), d.p(), 0);
  EXPECT_EQ(again, h);

  // The entry points that take a TD handle and an offset.
  UHandle tdh = AZNewHandle(int32(b.bytes.size()) + 6);
  std::memcpy(*tdh + 6, b.bytes.data(), b.bytes.size());
  UHandle h2 = Flatten_Old(nullptr, tdh, 6, d.p());
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(Bytes(*h2, *h2 + 9), Bytes(*h, *h + 9));
  LStrHandle s2 = dtest::NewLStr("");
  EXPECT_EQ(FlattenInQXStr_Old(s2, tdh, 6, d.p(), 0), kNoErr);
  EXPECT_EQ((*s2)->cnt, 9);
  AZDisposeHandle(tdh);
  AZDisposeHandle(h);
  AZDisposeHandle(h2);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
  DSDisposeHandle(reinterpret_cast<UHandle>(s2));
}

TEST_F(FlattenTest, SizesPastThirtyOneBitsAreRefusedBeforeWriting) {
  // A view of 2^27 complex extended numbers, all at one address: 4 GB flat.
  Built v(tdb::ArrayView(tdb::CXT()));
  uChar value[20] = {};
  uChar view[12];
  uChar* p = value;
  int32 dims[2] = {1 << 27, 0};
  std::memcpy(view, &p, 4);
  std::memcpy(view + 4, dims, 8);
  LStrHandle s = dtest::NewLStr("keep");
  EXPECT_EQ(FlattenToLStr(s, v.td(), view, 0), kMemFullErr);
  EXPECT_EQ(dtest::Str(s), "keep");
  EXPECT_EQ(FlattenToNewHandle(nullptr, v.td(), view, 0), nullptr);
  ClearReports();
  EXPECT_EQ(FlatSize(v.td(), view), -1);
  EXPECT_EQ(qxtest::Reports::Get().Count("31 bits"), 1);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
}

TEST_F(FlattenTest, WholeTDsSwapBetweenMemoryOrderAndWordForm) {
  std::vector<tdb::TD> tds = {
      tdb::Cluster({tdb::I16(), tdb::String().Named("s"), tdb::Array(tdb::DBL(), {kTDVariable, TDFixed(3)})}),
      tdb::Typedef("tdname", tdb::Enum(kTDEnumU16, {"x", "yz"})),
      tdb::Union({tdb::Cluster({tdb::I16(), tdb::Path(7)}), tdb::Cluster({tdb::I16(), tdb::Block(9)})}),
  };
  for (auto& t : tds) {
    Bytes mem = t.Bytes();
    Bytes word = t.Bytes(tdb::Order::kWord);
    Bytes x = mem;
    TDByteSwap(tdb::AsTD(x), kToFileOrder, 0);
    EXPECT_EQ(Hex(x), Hex(word));
    TDByteSwap(tdb::AsTD(x), kToMemoryOrder, 0);
    EXPECT_EQ(Hex(x), Hex(mem));
    x = word;
    EXPECT_EQ(TDByteSwapBounded(x.data(), kToMemoryOrder, 0, int32(x.size())), kNoErr);
    EXPECT_EQ(Hex(x), Hex(mem));
  }
  // One TD of every code, as the only element of a cluster and on its own.
  std::vector<tdb::TD> every = {
      tdb::Void(),         tdb::I8(),           tdb::I16(),
      tdb::I32(),          tdb::I64(),          tdb::U8(),
      tdb::U16(),          tdb::U32(),          tdb::U64(),
      tdb::SGL(),          tdb::DBL(),          tdb::EXT(),
      tdb::CSG(),          tdb::CDB(),          tdb::CXT(),
      tdb::Enum(kTDEnumU8, {"a"}),              tdb::Enum(kTDEnumU16, {"b", "cd"}),
      tdb::Enum(kTDEnumU32, {"efg"}),           tdb::Unit(kTDUnitSGL, {{1, 2}}),
      tdb::Unit(kTDUnitDBL, {{3, -1}, {4, 1}}), tdb::Unit(kTDUnitEXT, {{1, 1}}),
      tdb::Unit(kTDUnitCSG, {{2, 2}}),          tdb::Unit(kTDUnitCDB, {{5, 1}}),
      tdb::Unit(kTDUnitCXT, {{6, 3}}),          tdb::OldBoolean(),
      tdb::Boolean(),      tdb::String(12),     tdb::Handle(3),
      tdb::Path(),         tdb::StringOf(kTDString33),               tdb::Header(kTDOpaque34),
      tdb::Header(kTDOpaque35),                 tdb::Header(kTDOpaque36),
      tdb::StringOf(kTDString37, TDFixed(8)),   tdb::StringView(),
      tdb::Array(tdb::I32(), {kTDVariable, TDFixed(2)}),              tdb::ArrayView(tdb::U8()),
      tdb::Cluster({tdb::I8(), tdb::DBL()}),    tdb::Union({tdb::I16(), tdb::U32()}),
      tdb::Block(5),       tdb::Wrapper(tdb::I16()),                  tdb::TypeOnly(tdb::SGL()),
      tdb::Refnum(2),      tdb::DatalogRefnum(tdb::I32()),            tdb::NamedRefnum(6, "nm"),
      tdb::ObjectRefnum(1, 4),                  tdb::TypedRef(tdb::U16()),
      tdb::Variant(),      tdb::Function(1, {0x0100}, {tdb::I32()}), tdb::Typedef("t", tdb::I8()),
  };
  for (const tdb::TD& one : every) {
    for (const tdb::TD& t : {one, tdb::Cluster({one})}) {
      Bytes mem = t.Bytes();
      Bytes x = mem;
      TDByteSwap(tdb::AsTD(x), kToFileOrder, 0);
      EXPECT_EQ(Hex(x), Hex(t.Bytes(tdb::Order::kWord))) << Hex(mem);
      TDByteSwap(tdb::AsTD(x), kToMemoryOrder, 0);
      EXPECT_EQ(Hex(x), Hex(mem));
    }
  }
  // Old string TDs: four bytes, no bound field.
  tdb::TD old = tdb::Cluster({tdb::OldString(), tdb::OldBoolean()});
  Bytes x = old.Bytes(tdb::Order::kWord);
  ASSERT_EQ(TDByteSwapBounded(x.data(), kToMemoryOrder, 1, int32(x.size())), kNoErr);
  EXPECT_EQ(Hex(x), Hex(old.Bytes()));
  // A TD whose size passes the bytes given is refused.
  Bytes word = tds[0].Bytes(tdb::Order::kWord);
  EXPECT_EQ(TDByteSwapBounded(word.data(), kToMemoryOrder, 0, int32(word.size()) - 2), kArgErr);
  Bytes small = {4, 0};
  EXPECT_EQ(TDByteSwapBounded(small.data(), kToMemoryOrder, 0, 2), kArgErr);
}

}  // namespace
