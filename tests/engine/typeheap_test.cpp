// The type heap: interning, VIs and their type lists, type IDs and the
// garbage collection.
#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "../mgsource/heap_exhaust.h"
#include "typeheap_test_support.h"

using namespace tdb;
using qxtest::TypeHeapTest;

namespace {

constexpr const char* kTypeHeapFailure = "typemgr";

using qxtest::Reports;
using qxtest::Scaled;

int32 TypeFailures() { return Reports::Get().Count(kTypeHeapFailure); }

// Frees every filler block the exhaustion made.
void FreeFillers(const std::vector<int32>& fillers) {
  for (int32 f : fillers) OHDisposeBlock(TypeHeap(), f);
}

// ---- Start and interning -----------------------------------------------------------------

TEST_F(TypeHeapTest, StartsWithTheVoidDescriptorAndNoVIs) {
  ObjHeap h = TypeHeap();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(OHWord(h, kOHKind), FourCC("DTHP"));
  int32 ext = Ext();
  EXPECT_EQ(OHBlockClass(h, ext), 126);
  EXPECT_EQ(OHBlockSize(h, ext), 132);
  EXPECT_EQ(OHBlockClass(h, SharedList()), 7);
  EXPECT_EQ(OHBlockClass(h, VIList()), 7);
  std::vector<int32> shared = List(SharedList());
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(OHBlockClass(h, shared[0]), 131);
  EXPECT_EQ(BytesAt(shared[0]), (std::vector<uChar>{4, 0, 0, 0}));
  EXPECT_TRUE(List(VIList()).empty());
  EXPECT_EQ(TypeHeapInit(), kNoErr) << "a second start keeps the heap";
  EXPECT_EQ(TypeHeap(), h);
}

TEST_F(TypeHeapTest, EqualDescriptorsAreInternedOnce) {
  TD td = Cluster({I32().Named("count"), String().Named("text"), Array(DBL(), {-1, TDFixed(3)})});
  Bool32 found = 1;
  int32 a = Intern(td, &found);
  ASSERT_NE(a, 0);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Intern(td, &found), a);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(BytesAt(a), td.Bytes());
  EXPECT_EQ(OHBlockSize(TypeHeap(), a), int32(td.Bytes().size())) << "a block of the descriptor's size";
  EXPECT_NE(Intern(td.Named("other")), a);
  std::vector<uChar> again = td.Bytes();
  EXPECT_EQ(TDToTypeHeap(AsTD(again)), a);
  ExpectSharedSorted();
}

TEST_F(TypeHeapTest, ThePadByteAfterAnEvenNameDoesNotCount) {
  std::vector<uChar> clean = I32().Named("ab").Bytes();
  std::vector<uChar> dirty = I32().Named("ab", 0x5A).Bytes();
  ASSERT_NE(clean, dirty);
  int32 a = InternTD(AsTD(clean), nullptr);
  Bool32 found = 0;
  EXPECT_EQ(InternTD(AsTD(dirty), &found), a);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(dirty, clean) << "the pad byte is cleared in place";
}

// Random descriptors of many sizes, a 40,000-byte one among them.
TEST_F(TypeHeapTest, ManyInternsKeepTheSharedListSorted) {
  std::mt19937 rng(121);
  std::vector<TD> scalars = {I8(), I16(), I32(), U8(), DBL(), EXT(), Boolean(), String(), tdb::Path()};
  std::vector<std::vector<uChar>> interned;
  std::map<std::vector<uChar>, int32> offsets;
  for (int32 i = 0; i < Scaled(1000); ++i) {
    std::vector<TD> elems;
    for (uInt32 n = rng() % 4 + 1; n; --n) {
      TD e = scalars[rng() % scalars.size()];
      if (rng() % 3 == 0) e = e.Named(std::string(rng() % 6 + 1, char('a' + rng() % 3)));
      elems.push_back(e);
    }
    TD td = rng() % 4 == 0 ? Array(Cluster(elems)) : Cluster(elems);
    std::vector<uChar> b = td.Bytes();
    Bool32 found = 0;
    int32 off = InternTD(AsTD(b), &found);
    ASSERT_NE(off, 0);
    EXPECT_EQ(found != 0, offsets.count(b) != 0);
    if (offsets.count(b)) {
      EXPECT_EQ(offsets[b], off);
    }
    offsets[b] = off;
  }
  std::vector<TD> many(9999, I32());
  std::vector<uChar> big = Cluster(many).Bytes();
  ASSERT_EQ(big.size(), 40002u);
  int32 bigOff = InternTD(AsTD(big), nullptr);
  ASSERT_NE(bigOff, 0);
  ExpectSharedSorted();
  std::vector<int32> shared = List(SharedList());
  EXPECT_EQ(shared.back(), bigOff) << "sizes compare as unsigned 16-bit values";
  EXPECT_EQ(shared.size(), offsets.size() + 2);
  for (auto& [bytes, off] : offsets) {
    std::vector<uChar> copy = bytes;
    Bool32 found = 0;
    EXPECT_EQ(InternTD(AsTD(copy), &found), off);
    EXPECT_EQ(found, 1);
  }
}

TEST_F(TypeHeapTest, InterningADescriptorInsideTheGrowingHeapCopiesTheRightBytes) {
  std::vector<TD> elems;
  for (int32 i = 0; i < 300; ++i) elems.push_back(i % 2 ? DBL().Named("d" + std::to_string(i)) : String());
  std::vector<uChar> bytes = Cluster(elems).Bytes();
  int32 inside = NewTDObject(int32(bytes.size()));
  ASSERT_NE(inside, 0);
  std::memcpy(*TypeHeap() + inside, bytes.data(), bytes.size());
  // No free block is left, so the new object grows the heap.
  std::vector<int32> fillers;
  heapexhaust::FillFree(TypeHeap(), 1, &fillers);
  int32 sizeBefore = AZGetHandleSize(TypeHeap());
  int32 off = InternTD(reinterpret_cast<TypeDescriptor*>(*TypeHeap() + inside), nullptr);
  ASSERT_NE(off, 0);
  EXPECT_NE(off, inside);
  EXPECT_GT(AZGetHandleSize(TypeHeap()), sizeBefore) << "the heap grew";
  EXPECT_EQ(BytesAt(off), bytes);
  EXPECT_EQ(BytesAt(inside), bytes);
  FreeFillers(fillers);
}

TEST_F(TypeHeapTest, NewTDObjectTakesOneTo65535Bytes) {
  int32 a = NewTDObject(1);
  ASSERT_NE(a, 0);
  EXPECT_EQ(OHBlockClass(TypeHeap(), a), 131);
  int32 b = NewTDObject(65535);
  ASSERT_NE(b, 0);
  EXPECT_GE(OHBlockSize(TypeHeap(), b), 65535);
  EXPECT_EQ(TypeFailures(), 0);
  EXPECT_EQ(NewTDObject(0), 0);
  EXPECT_EQ(NewTDObject(65536), 0);
  EXPECT_EQ(TypeFailures(), 2);
}

TEST_F(TypeHeapTest, CompareHeapTDsOrdersBySizeThenBytes) {
  int32 i32 = Intern(I32());
  std::vector<uChar> same = I32().Bytes(), longer = DBL().Named("x").Bytes(), shorter = I32().Bytes();
  EXPECT_EQ(CompareHeapTDs(AsTD(same), &i32), 0);
  EXPECT_EQ(CompareHeapTDs(*TypeHeap() + i32, &i32), 0) << "the same object";
  EXPECT_GT(CompareHeapTDs(AsTD(longer), &i32), 0);
  std::vector<uChar> u32 = U32().Bytes();
  EXPECT_GT(CompareHeapTDs(AsTD(u32), &i32), 0) << "code 7 after code 3";
  std::vector<uChar> big(40000, 0);
  PutNative16(big.data(), 40000);
  EXPECT_GT(CompareHeapTDs(big.data(), &i32), 0) << "sizes are unsigned";
  (void)shorter;
}

// ---- VIs -------------------------------------------------------------------------------

TEST_F(TypeHeapTest, RegisterVIMakesTwoEmptyListsTheSecondCurrent) {
  VI a = NewVI(), b = NewVI();
  EXPECT_EQ(List(VIList()), (std::vector<int32>{Rec(a), Rec(b)}));
  EXPECT_EQ(GetNative32(*a.vi + kVITypeHeapIndex), 0u);
  EXPECT_EQ(GetNative32(*b.vi + kVITypeHeapIndex), 1u);
  EXPECT_EQ(FindInstrTypeRec(b.vi), Rec(b));
  int32 rec = Rec(a);
  EXPECT_EQ(OHBlockClass(TypeHeap(), rec), 130);
  EXPECT_EQ(OHBlockSize(TypeHeap(), rec), 12);
  EXPECT_EQ(Word(TypeHeap(), rec), int32(uintptr_t(a.vi)));
  std::vector<int32> lists = TypeLists(a);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(lists[1], CurrentList(a));
  EXPECT_TRUE(List(lists[0]).empty());
  EXPECT_TRUE(Current(a).empty());
}

TEST_F(TypeHeapTest, UnregisterVIDisposesItsListsAndRenumbers) {
  VI a = NewVI(), b = NewVI(), c = NewVI();
  int32 lists = CountClass(7);
  TypeID id;
  ASSERT_EQ(RegisterTypeID(a.vi, Intern(I32()), &id), kNoErr);
  ASSERT_EQ(UnregisterVI(a.vi), kNoErr);
  EXPECT_EQ(CountClass(7), lists - 3) << "both type lists and the list of lists";
  EXPECT_EQ(CountClass(130), 2);
  EXPECT_EQ(List(VIList()), (std::vector<int32>{Rec(b), Rec(c)}));
  EXPECT_EQ(GetNative32(*b.vi + kVITypeHeapIndex), 0u);
  EXPECT_EQ(GetNative32(*c.vi + kVITypeHeapIndex), 1u);
  ClearReports();
  EXPECT_EQ(UnregisterVI(a.vi), 42) << "no record any more";
  EXPECT_EQ(FindTypeIDEntry(a.panel, id, 0), nullptr);
}

TEST_F(TypeHeapTest, AStaleCachedIndexFindsNothing) {
  VI a = NewVI();
  VI lost = NewVI(false);
  ClearReports();
  PutNative32(*lost.vi + kVITypeHeapIndex, 0);
  EXPECT_EQ(FindInstrTypeRec(lost.vi), 0);
  EXPECT_EQ(Reports::Get().Count("Error: FindInstrTypeRec: cached idx invalid"), 1);
  PutNative32(*lost.vi + kVITypeHeapIndex, 5);
  EXPECT_EQ(FindInstrTypeRec(lost.vi), 0);
  PutNative32(*lost.vi + kVITypeHeapIndex, uInt32(-1));
  EXPECT_EQ(FindInstrTypeRec(lost.vi), 0);
  EXPECT_EQ(Reports::Get().Count("Error: FindInstrTypeRec: cached idx out of range"), 2);
  // A stale index of a registered VI is not searched for either.
  PutNative32(*a.vi + kVITypeHeapIndex, 3);
  EXPECT_EQ(FindInstrTypeRec(a.vi), 0);
  RenumberInstrTypeRecs();
  EXPECT_EQ(FindInstrTypeRec(a.vi), Rec(a));
}

TEST_F(TypeHeapTest, RegisterVIWithoutMemoryLeavesNothingBehind) {
  VI first = NewVI();
  VI v = NewVI(false);
  std::vector<int32> visBefore = List(VIList());
  std::map<int32, int32> classesBefore;
  for (auto& b : Blocks()) ++classesBefore[b.second];
  std::set<MgErr> results;
  int32 failures = 0;
  bool succeeded = false;
  // Leave room for ever more bytes until the registration goes through.
  for (int32 room = 0; room <= 400 && !succeeded; room += 4) {
    std::vector<int32> fillers;
    uInt32 old = heapexhaust::Exhaust(TypeHeap(), 1, &fillers, uInt32(room));
    MgErr err = RegisterVI(v.vi);
    heapexhaust::Restore(old);
    FreeFillers(fillers);
    results.insert(err);
    if (err) ++failures;
    if (err == kNoErr) {
      succeeded = true;
      break;
    }
    ASSERT_EQ(err, kMemFullErr);
    EXPECT_EQ(FindInstrTypeRecQuiet(v.vi), 0);
    EXPECT_EQ(List(VIList()), visBefore) << "room " << room;
    std::map<int32, int32> classes;
    for (auto& b : Blocks()) ++classes[b.second];
    classes.erase(1);
    std::map<int32, int32> expect = classesBefore;
    expect.erase(1);
    EXPECT_EQ(classes, expect) << "no record or list is left, room " << room;
  }
  EXPECT_TRUE(succeeded);
  EXPECT_TRUE(results.count(kMemFullErr));
  EXPECT_GE(failures, 20) << "every allocation of the registration failed once";
  EXPECT_EQ(FindInstrTypeRec(v.vi), Rec(v));
  EXPECT_EQ(TypeLists(v).size(), 2u);
  (void)first;
}

// ---- Type IDs -----------------------------------------------------------------------------

TEST_F(TypeHeapTest, ReleasedNumbersAreHandedOutAgainHighestFirst) {
  VI v = NewVI();
  std::vector<int32> tds = {Intern(I8()), Intern(I16()), Intern(I32()), Intern(DBL()), Intern(String())};
  for (size_t i = 0; i < tds.size(); ++i) {
    TypeID id = 0;
    ASSERT_EQ(RegisterTypeID(v.vi, tds[i], &id), kNoErr);
    EXPECT_EQ(id, TypeID(i + 1));
  }
  ReleaseTypeID(v.panel, 2);
  ReleaseTypeID(v.panel, 4);
  EXPECT_EQ(TypeIDEntryValue(v.panel, 4, 0), 0);
  TypeID id = 0;
  ASSERT_EQ(RegisterTypeID(v.vi, tds[0], &id), kNoErr);
  EXPECT_EQ(id, 4u);
  ASSERT_EQ(RegisterTypeID(v.vi, tds[1], &id), kNoErr);
  EXPECT_EQ(id, 2u);
  ASSERT_EQ(RegisterTypeID(v.vi, tds[2], &id), kNoErr);
  EXPECT_EQ(id, 6u);
  EXPECT_EQ(Current(v), (std::vector<int32>{tds[0], tds[1], tds[2], tds[0], tds[4], tds[2]}));
  EXPECT_EQ(TypeFailures(), 0);
}

TEST_F(TypeHeapTest, AppendingMovesTheCurrentListAndKeepsTheListOfLists) {
  VI v = NewVI();
  NewVI();  // its lists lie after v's, so v's lists must move to grow
  int32 i32 = Intern(I32());
  for (TypeID n = 1; n <= 40; ++n) {
    TypeID id = 0;
    ASSERT_EQ(RegisterTypeID(v.vi, i32, &id), kNoErr);
    ASSERT_EQ(id, n);
    ASSERT_EQ(TypeLists(v)[1], CurrentList(v));
  }
  EXPECT_EQ(Current(v).size(), 40u);
  EXPECT_EQ(TypeFailures(), 0);
}

TEST_F(TypeHeapTest, OutOfRangeTypeIDsGiveNullAndWriteNothing) {
  VI v = NewVI();
  TypeID id = 0;
  int32 i32 = Intern(I32());
  ASSERT_EQ(RegisterTypeID(v.vi, i32, &id), kNoErr);
  ASSERT_NE(FindTypeIDEntry(v.panel, 1, 0), nullptr);
  EXPECT_EQ(*FindTypeIDEntry(v.panel, 1, 0), i32);
  EXPECT_EQ(TypeIDToTD(v.panel, 1), reinterpret_cast<TypeDescriptor*>(*TypeHeap() + i32));
  EXPECT_EQ(FindTypeIDEntry(v.panel, 2, 0), nullptr);
  EXPECT_EQ(FindTypeIDEntry(v.panel, 0, 0), nullptr);
  EXPECT_EQ(FindTypeIDEntry(v.panel, 0xFFFFFFFFu, 0), nullptr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, 2, 0), 0);
  EXPECT_EQ(TypeIDGetTD(v.panel, 2, 0), nullptr);
  EXPECT_EQ(TypeFailures(), 0);
  std::vector<int32> before = Current(v);
  EXPECT_EQ(TypeIDToTD(v.panel, 2), nullptr);
  ReleaseTypeID(v.panel, 2);
  std::vector<uChar> td = I16().Bytes();
  EXPECT_EQ(SetTypeIDTDPtr(v.panel, 2, AsTD(td)), kArgErr);
  EXPECT_EQ(TypeFailures(), 3);
  EXPECT_EQ(Current(v), before);
  // Only the current list can be selected, and only through a panel heap.
  EXPECT_EQ(FindTypeIDEntry(v.panel, 1, 1), nullptr);
  ObjHeap other = OHNewHeap(100, FourCC("OTHR"), 132, 126);
  EXPECT_EQ(FindTypeIDEntry(other, 1, 0), nullptr);
  EXPECT_EQ(TypeFailures(), 5);
  OHDisposeHeap(other);
}

TEST_F(TypeHeapTest, RegisterTypeIDForAnUnregisteredVI) {
  NewVI();
  VI lost = NewVI(false);
  ClearReports();
  TypeID id = 99;
  EXPECT_EQ(RegisterTypeID(lost.vi, Intern(I32()), &id), 42);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(Reports::Get().Count("Error: RegisterTypeID: could not find instrTypeRec"), 1);
  VI v = NewVI();
  PutNative32(*TypeHeap() + Rec(v) + kITRCurrentList, 0);
  ClearReports();
  EXPECT_EQ(RegisterTypeID(v.vi, Intern(I32()), &id), 42);
  EXPECT_EQ(Reports::Get().Count("Error: RegisterTypeID: could not find typeList"), 1);
  PutNative32(*TypeHeap() + Rec(v) + kITRCurrentList, uInt32(TypeLists(v)[1]));
}

TEST_F(TypeHeapTest, AllocTypeIDCopiesAModelOrTakesVoid) {
  VI a = NewVI(), b = NewVI();
  TypeID model = 0;
  int32 str = Intern(String().Named("s"));
  ASSERT_EQ(RegisterTypeID(a.vi, str, &model), kNoErr);
  TypeID copy = AllocTypeID(b.panel, a.panel, model);
  EXPECT_EQ(copy, 1u);
  EXPECT_EQ(TypeIDEntryValue(b.panel, copy, 0), str);
  TypeID plain = AllocTypeID(b.panel, nullptr, 0);
  EXPECT_EQ(plain, 2u);
  EXPECT_EQ(TypeIDEntryValue(b.panel, plain, 0), List(SharedList())[0]);
  EXPECT_EQ(TypeFailures(), 0);
  // A model that names nothing registers nothing.
  ReleaseTypeID(a.panel, model);
  EXPECT_EQ(AllocTypeID(b.panel, a.panel, model), 0u);
  EXPECT_EQ(AllocTypeID(b.panel, a.panel, 7), 0u);
  EXPECT_EQ(TypeFailures(), 2);
  EXPECT_EQ(Current(b).size(), 2u);
}

TEST_F(TypeHeapTest, SetTypeIDNameAddsReplacesAndRemovesAName) {
  VI v = NewVI();
  std::vector<uChar> pair = Cluster({I32(), DBL()}).Bytes();
  TypeID id = NewTypeIDForTD(v.panel, AsTD(pair));
  ASSERT_NE(id, 0u);
  int32 plain = TypeIDEntryValue(v.panel, id, 0);
  int32 orphans = CountClass(131) - int32(List(SharedList()).size());
  auto named = [&](const std::string& n) {
    std::vector<uChar> s(n.size() + 1);
    s[0] = uChar(n.size());
    std::memcpy(s.data() + 1, n.data(), n.size());
    return s;
  };
  ASSERT_EQ(SetTypeIDName(v.panel, id, named("pair").data()), kNoErr);
  EXPECT_EQ(BytesAt(TypeIDEntryValue(v.panel, id, 0)), Cluster({I32(), DBL()}).Named("pair").Bytes());
  ASSERT_EQ(SetTypeIDName(v.panel, id, named("couple").data()), kNoErr);
  EXPECT_EQ(BytesAt(TypeIDEntryValue(v.panel, id, 0)), Cluster({I32(), DBL()}).Named("couple").Bytes());
  ASSERT_EQ(SetTypeIDName(v.panel, id, named("").data()), kNoErr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), plain) << "the unnamed descriptor is the interned one again";
  ASSERT_EQ(SetTypeIDName(v.panel, id, nullptr), kNoErr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), plain);
  EXPECT_EQ(CountClass(131) - int32(List(SharedList()).size()), orphans) << "temporary copies are disposed";
  EXPECT_EQ(SetTypeIDName(v.panel, 9, named("x").data()), kArgErr);
  ExpectSharedSorted();
}

TEST_F(TypeHeapTest, SetTypeIDNameReplacesAnEmptyName) {
  // A name flag over an empty name: the new name takes the empty one's place.
  VI v = NewVI();
  std::vector<uChar> flagged = {6, 0, kTDI32, kTDFlagName, 0, 0};
  TypeID id = NewTypeIDForTD(v.panel, AsTD(flagged));
  ASSERT_NE(id, 0u);
  const uChar abc[] = {3, 'a', 'b', 'c'};
  ASSERT_EQ(SetTypeIDName(v.panel, id, abc), kNoErr);
  std::vector<uChar> named = BytesAt(TypeIDEntryValue(v.panel, id, 0));
  EXPECT_EQ(named, (std::vector<uChar>{8, 0, kTDI32, kTDFlagName, 3, 'a', 'b', 'c'}));
  PStr name = TypeIDGetTD(v.panel, id, 0) ? TDNamePtr(TypeIDGetTD(v.panel, id, 0)) : nullptr;
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name[0], 3);
  // And removing it from the flagged empty form leaves the plain descriptor.
  TypeID other = NewTypeIDForTD(v.panel, AsTD(flagged));
  ASSERT_EQ(SetTypeIDName(v.panel, other, nullptr), kNoErr);
  EXPECT_EQ(BytesAt(TypeIDEntryValue(v.panel, other, 0)), I32().Bytes());
  // The same for a compound descriptor.
  std::vector<uChar> pair = Cluster({I32(), DBL()}).Bytes();
  pair[0] = uChar(pair[0] + 2);
  pair[3] = kTDFlagName;
  pair.push_back(0);
  pair.push_back(0);
  TypeID third = NewTypeIDForTD(v.panel, AsTD(pair));
  ASSERT_EQ(SetTypeIDName(v.panel, third, abc), kNoErr);
  EXPECT_EQ(BytesAt(TypeIDEntryValue(v.panel, third, 0)), Cluster({I32(), DBL()}).Named("abc").Bytes());
  EXPECT_EQ(TypeFailures(), 0) << ReportText();
}

TEST_F(TypeHeapTest, DescriptorsOf64KBOrMoreAreRefused) {
  VI v = NewVI();
  std::vector<TD> many(20000, I32());
  std::vector<uChar> big = Cluster(many).Bytes();
  ASSERT_EQ(big.size(), 80006u);
  ASSERT_EQ(GetNative16(big.data()), 0xFFFF);
  ASSERT_EQ(TDCheckBounds(big.data(), int32(big.size())), kNoErr) << "a well-formed descriptor";
  TypeID id = NewStdTypeID(v.panel, kTDI32);
  int32 before = TypeIDEntryValue(v.panel, id, 0);
  std::vector<int32> shared = List(SharedList()), current = Current(v);
  auto blocks = Blocks();
  EXPECT_EQ(NewTypeIDForTD(v.panel, AsTD(big)), 0u);
  EXPECT_EQ(InternTD(AsTD(big), nullptr), 0);
  EXPECT_EQ(SetTypeIDTDPtr(v.panel, id, AsTD(big)), kArgErr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), before);
  EXPECT_EQ(List(SharedList()), shared);
  EXPECT_EQ(Current(v), current);
  EXPECT_EQ(Blocks(), blocks) << "nothing made";
  // One byte less than the limit is taken.
  std::vector<TD> fewer(16382, I32());
  std::vector<uChar> most = Cluster(fewer).Bytes();
  ASSERT_EQ(most.size(), 65534u);
  TypeID fits = NewTypeIDForTD(v.panel, AsTD(most));
  ASSERT_NE(fits, 0u);
  EXPECT_EQ(BytesAt(TypeIDEntryValue(v.panel, fits, 0)), most);
  EXPECT_EQ(TypeFailures(), 0) << ReportText();
}

TEST_F(TypeHeapTest, NewTypeIDsHoldDescriptorsEqualToTheirSources) {
  VI v = NewVI();
  for (int32 i = 0; i <= kStdTDFunction; ++i) {
    TypeID id = NewStdTypeID(v.panel, i);
    ASSERT_NE(id, 0u) << i;
    const TypeDescriptor* td = TypeIDToTD(v.panel, id);
    ASSERT_EQ(td->size, StdTDTable[i]->size);
    EXPECT_EQ(std::memcmp(td, StdTDTable[i], td->size), 0) << i;
  }
  std::vector<uChar> src = Typedef("kind", Enum(kTDEnumU8, {"on", "off"})).Named("sel").Bytes();
  TypeID id = NewTypeIDForTD(v.panel, AsTD(src));
  ASSERT_NE(id, 0u);
  EXPECT_EQ(BytesAt(TypeIDEntryValue(v.panel, id, 0)), src);
  // A source inside the type heap itself, as another VI's descriptor is.
  TypeID again = NewTypeIDForTD(v.panel, TypeIDToTD(v.panel, id));
  EXPECT_EQ(TypeIDEntryValue(v.panel, again, 0), TypeIDEntryValue(v.panel, id, 0));
  EXPECT_EQ(TypeFailures(), 0);
  EXPECT_EQ(NewStdTypeID(v.panel, kStdTDCount), 0u);
  EXPECT_EQ(NewStdTypeID(v.panel, -1), 0u);
  EXPECT_EQ(TypeFailures(), 2);
}

TEST_F(TypeHeapTest, SetTypeIDTDKeepsOnlyTheObjectTheEntryNames) {
  VI v = NewVI();
  TypeID id = AllocTypeID(v.panel, nullptr, 0);
  // A temporary copy of a descriptor already interned is disposed.
  int32 i32 = Intern(I32());
  int32 temp = NewTDObject(4);
  std::vector<uChar> b = I32().Bytes();
  std::memcpy(*TypeHeap() + temp, b.data(), 4);
  ASSERT_EQ(SetTypeIDTD(v.panel, id, temp), kNoErr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), i32);
  EXPECT_EQ(OHBlockClass(TypeHeap(), temp), 0) << "freed";
  // An interned object given itself stays.
  int32 dbl = Intern(DBL());
  ASSERT_EQ(SetTypeIDTD(v.panel, id, dbl), kNoErr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), dbl);
  EXPECT_EQ(OHBlockClass(TypeHeap(), dbl), 131);
  // And stays when the type ID does not exist.
  EXPECT_EQ(SetTypeIDTD(v.panel, 5, dbl), kArgErr);
  EXPECT_EQ(OHBlockClass(TypeHeap(), dbl), 131);
  // Null clears the entry.
  ASSERT_EQ(SetTypeIDTDPtr(v.panel, id, nullptr), kNoErr);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), 0);
  ExpectSharedSorted();
}

TEST_F(TypeHeapTest, SetTypeIDTDPtrWithoutMemoryChangesNothing) {
  VI v = NewVI();
  TypeID id = NewStdTypeID(v.panel, 3);
  int32 before = TypeIDEntryValue(v.panel, id, 0);
  std::vector<int32> shared = List(SharedList());
  std::vector<int32> fillers;
  uInt32 old = heapexhaust::Exhaust(TypeHeap(), 1, &fillers);
  std::vector<uChar> td = Cluster({I32(), String(), tdb::Path()}).Named("new").Bytes();
  MgErr err = SetTypeIDTDPtr(v.panel, id, AsTD(td));
  TypeID none = NewTypeIDForTD(v.panel, AsTD(td));
  heapexhaust::Restore(old);
  FreeFillers(fillers);
  EXPECT_EQ(err, kMemFullErr);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(TypeIDEntryValue(v.panel, id, 0), before);
  EXPECT_EQ(List(SharedList()), shared);
  EXPECT_EQ(Current(v).size(), 1u);
}

// ---- Garbage collection ---------------------------------------------------------------------

TEST_F(TypeHeapTest, CollectionDuringAMarkPassDoesNothing) {
  VI v = NewVI();
  Intern(I32());
  NewTDObject(20);
  auto before = Blocks();
  ClearReports();
  ASSERT_EQ(OHBeginMarkPass(TypeHeap(), 3), 1);
  CollectTypeHeapGarbage();
  EXPECT_EQ(Reports::Get().Count("Not a good time to collect garbage from type heap."), 1);
  EXPECT_EQ(Blocks(), before);
  OHEndMarkPass(TypeHeap());
  (void)v;
}

TEST_F(TypeHeapTest, CollectionFreesWhatNoVIUses) {
  VI a = NewVI(), b = NewVI();
  TypeID id;
  int32 onlyA = Intern(Cluster({I8(), I8()}));
  int32 shared = Intern(String());
  int32 onlyB = Intern(tdb::Path());
  int32 released = Intern(DBL());
  int32 inFirstList = Intern(EXT());
  int32 orphan = NewTDObject(12);
  ASSERT_EQ(RegisterTypeID(a.vi, onlyA, &id), kNoErr);
  ASSERT_EQ(RegisterTypeID(a.vi, shared, &id), kNoErr);
  ASSERT_EQ(RegisterTypeID(b.vi, shared, &id), kNoErr);
  ASSERT_EQ(RegisterTypeID(b.vi, onlyB, &id), kNoErr);
  ASSERT_EQ(RegisterTypeID(b.vi, released, &id), kNoErr);
  ReleaseTypeID(b.panel, id);
  int32 first = TypeLists(b)[0];
  ASSERT_EQ(OHListInsert(TypeHeap(), &first, inFirstList, 0), kNoErr);
  ObjListSet(TypeHeap(), Word(TypeHeap(), Rec(b) + kITRTypeLists), 0, first);

  ASSERT_EQ(UnregisterVI(a.vi), kNoErr);
  CollectTypeHeapGarbage();
  std::vector<int32> list = List(SharedList());
  std::set<int32> live(list.begin(), list.end());
  EXPECT_FALSE(live.count(onlyA));
  EXPECT_FALSE(live.count(released));
  EXPECT_TRUE(live.count(shared));
  EXPECT_TRUE(live.count(onlyB));
  EXPECT_TRUE(live.count(inFirstList)) << "every list of a VI counts";
  for (int32 gone : {onlyA, released, orphan}) EXPECT_EQ(OHBlockClass(TypeHeap(), gone), 0);
  EXPECT_EQ(CountClass(131), int32(list.size())) << "no class-131 block outside the list";
  ExpectSharedSorted();
  EXPECT_EQ(OHWord(TypeHeap(), kOHFlags) & kOHMarkPass, 0u);
  // With no VI left, only the void descriptor stays.
  ASSERT_EQ(UnregisterVI(b.vi), kNoErr);
  CollectTypeHeapGarbage();
  EXPECT_EQ(List(SharedList()).size(), 1u);
  EXPECT_EQ(CountClass(131), 1);
  ExpectSharedSorted();
}

}  // namespace
