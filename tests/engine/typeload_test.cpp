// Loading VIs' saved types from their 'DTHP' resources, well-formed and not.
#include <functional>
#include <mutex>

#include "../mgsource/heap_exhaust.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "tools/rsrcwriter.h"
#include "tools/typeheapwriter.h"
#include "typeheap_test_support.h"

using namespace tdb;
using qxtest::Reports;
using qxtest::TypeHeapTest;

namespace {

typedef std::vector<std::optional<TD>> Types;

class TypeLoadTest : public TypeHeapTest {
 protected:
  void SetUp() override {
    TypeHeapTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
  }
  void TearDown() override {
    for (RsrcFileRef f : files_) RCloseFile(f);
    TypeHeapTest::TearDown();
  }

  // A resource file in memory, opened read-only.
  RsrcFileRef Open(const rsrcw::Writer& w) {
    rsrcw::Bytes bytes = w.Write();
    UHandle h = AZNewHandle(int32(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h), kNoErr);
    files_.push_back(ref);
    return ref;
  }
  // A file holding one 'DTHP' resource of the id: the image, changed by the corruption.
  RsrcFileRef FileWith(int32 id, const thw::Bytes& image) {
    rsrcw::Writer w(FourCC("QNVI"), FourCC("QNLX"));
    w.Add(kTypeHeapRsrcType, id, image);
    return Open(w);
  }
  MgErr Load(const VI& v, RsrcFileRef f, int32 id, Bool32* found = nullptr) {
    Bool32 flag = 7;
    MgErr err = LoadVITypes(v.vi, id, f, &flag);
    if (found) *found = flag;
    return err;
  }

  // The saved TD of an entry in memory order.
  static std::vector<uChar> Saved(const std::optional<TD>& t) { return t->Bytes(); }

  std::vector<RsrcFileRef> files_;
};

const Types kTypesA = {I32(), std::nullopt, Cluster({DBL().Named("x"), String()}).Named("point"), String(),
                       std::nullopt};
const Types kTypesB = {String(), Enum(kTDEnumU8, {"a", "bc"}), Cluster({DBL().Named("x"), String()}).Named("point"),
                       std::nullopt, Array(tdb::Path(), {TDFixed(2), -1})};

TEST_F(TypeLoadTest, VIsSharingDescriptorsNameTheSameObjects) {
  rsrcw::Writer w(FourCC("QNVI"), FourCC("QNLX"));
  ASSERT_TRUE(thw::AddTypeHeap(w, 1, kTypesA));
  ASSERT_TRUE(thw::AddTypeHeap(w, 2, kTypesB));
  RsrcFileRef f = Open(w);
  VI a = NewVI(), b = NewVI();
  int32 heaps = 0;
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++heaps;
  Bool32 found = 0;
  ASSERT_EQ(Load(a, f, 1, &found), kNoErr);
  EXPECT_EQ(found, 1);
  ASSERT_EQ(Load(b, f, 2, &found), kNoErr);
  EXPECT_EQ(found, 1);
  int32 after = 0;
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++after;
  EXPECT_EQ(after, heaps) << "the loaded heaps are disposed";

  for (const auto& [v, types] : {std::pair{a, kTypesA}, std::pair{b, kTypesB}}) {
    std::vector<int32> cur = Current(v);
    ASSERT_EQ(cur.size(), types.size());
    for (size_t i = 0; i < types.size(); ++i) {
      TypeID id = TypeID(i + 1);
      if (!types[i]) {
        EXPECT_EQ(cur[i], 0) << "an empty slot stays empty";
        EXPECT_EQ(TypeIDGetTD(v.panel, id, 0), nullptr);
        continue;
      }
      const TypeDescriptor* td = TypeIDToTD(v.panel, id);
      ASSERT_NE(td, nullptr);
      std::vector<uChar> want = Saved(types[i]);
      EXPECT_EQ(std::vector<uChar>(reinterpret_cast<const uChar*>(td), reinterpret_cast<const uChar*>(td) + td->size),
                want)
          << "type ID " << id;
    }
    std::vector<int32> lists = TypeLists(v);
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[1], CurrentList(v));
  }
  EXPECT_EQ(Current(a)[2], Current(b)[2]) << "the shared cluster is one object";
  EXPECT_EQ(Current(a)[3], Current(b)[0]) << "the string too";
  EXPECT_EQ(CountClass(7), 2 + 3 * 2) << "the old current lists are gone";
  ExpectSharedSorted();
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TypeLoadTest, EqualSavedDescriptorsAreInternedOnce) {
  thw::Options separate;
  separate.shareEqual = false;
  rsrcw::Writer w(FourCC("QNVI"), FourCC("QNLX"));
  thw::Layout layout;
  ASSERT_TRUE(thw::AddTypeHeap(w, 9, {DBL(), DBL(), I32().Named("n", 0x77), I32().Named("n")}, separate, &layout));
  ASSERT_NE(layout.entries[0], layout.entries[1]);
  VI v = NewVI();
  int32 before = int32(List(SharedList()).size());
  ASSERT_EQ(Load(v, Open(w), 9), kNoErr);
  std::vector<int32> cur = Current(v);
  EXPECT_EQ(cur[0], cur[1]);
  EXPECT_EQ(cur[2], cur[3]) << "the pad byte after the name does not count";
  EXPECT_EQ(int32(List(SharedList()).size()), before + 2);
}

TEST_F(TypeLoadTest, AFileWithoutSavedTypesGivesAnEmptyList) {
  rsrcw::Writer w(FourCC("QNVI"), FourCC("QNLX"));
  w.Add(FourCC("TEXT"), 1, rsrcw::BytesOf("no types here"));
  ASSERT_TRUE(thw::AddTypeHeap(w, 2, {I32()}));
  RsrcFileRef f = Open(w);
  VI v = NewVI();
  Bool32 found = 1;
  EXPECT_EQ(Load(v, f, 1, &found), kNoErr);
  EXPECT_EQ(found, 0);
  EXPECT_TRUE(Current(v).empty());
  // A file reference that names no open file passes the manager's error on.
  EXPECT_NE(Load(v, 0, 2, &found), kNoErr);
  EXPECT_EQ(found, 0);
  EXPECT_TRUE(Current(v).empty());
  // An empty saved list is as good as none.
  ASSERT_EQ(Load(v, FileWith(3, thw::TypeHeapImage({})), 3, &found), kNoErr);
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(Current(v).empty());
}

TEST_F(TypeLoadTest, LoadingForAnUnregisteredVIChangesNothing) {
  VI v = NewVI(false);
  NewVI();
  std::vector<uChar> before(*TypeHeap(), *TypeHeap() + AZGetHandleSize(TypeHeap()));
  ClearReports();
  EXPECT_EQ(Load(v, FileWith(1, thw::TypeHeapImage({I32()})), 1), 42);
  EXPECT_EQ(Failures(), 0);
  EXPECT_EQ(Reports::Get().Count("typeload"), 1);
  EXPECT_EQ(std::vector<uChar>(*TypeHeap(), *TypeHeap() + AZGetHandleSize(TypeHeap())), before);
}

// Each corruption of a well-formed image must give 1 and leave the type heap
// and every VI's lists as they were.
struct Corruption {
  const char* what;
  std::function<void(thw::Bytes&, const thw::Layout&)> apply;
};

void PutWord(thw::Bytes& b, uInt32 at, uInt32 v) { PutBE32(&b[at], v); }

const Corruption kCorruptions[] = {
    {"an entry outside the heap", [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list + 4, 0x7FFFFF00); }},
    {"an entry past the end by a block header",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list + 4, l.size + 12); }},
    {"an entry naming the List block", [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list + 8, l.list); }},
    {"an entry naming the extension",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list + 4, l.extension); }},
    {"an entry inside a descriptor block",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list + 4, l.entries[0] + 4); }},
    {"an odd entry", [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list + 4, l.entries[0] + 1); }},
    {"a descriptor larger than its block",
     [](thw::Bytes& b, const thw::Layout& l) { PutBE16(&b[l.entries[2]], uInt16(GetBE16(&b[l.entries[2]]) + 2)); }},
    {"a descriptor of size 0xFFFF", [](thw::Bytes& b, const thw::Layout& l) { PutBE16(&b[l.entries[2]], 0xFFFF); }},
    {"a descriptor failing the bounds check (cluster count)",
     [](thw::Bytes& b, const thw::Layout& l) { PutBE16(&b[l.entries[2] + 4], 40); }},
    {"a descriptor of an unknown code", [](thw::Bytes& b, const thw::Layout& l) { b[l.entries[0] + 3] = 0x99; }},
    {"a descriptor shorter than a header", [](thw::Bytes& b, const thw::Layout& l) { PutBE16(&b[l.entries[0]], 2); }},
    {"a missing extension", [](thw::Bytes& b, const thw::Layout&) { PutWord(b, kOHExtension, 0); }},
    {"an extension of another class",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.extension - 4, 7); }},
    {"an extension word naming a descriptor",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, kOHExtension, l.entries[0]); }},
    {"a shared-list word naming the extension",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.extension + 104, l.extension); }},
    {"a shared-list word outside the heap",
     [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.extension + 104, 0x10000); }},
    {"a list count past its block", [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list, 6); }},
    {"a negative list count", [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list, 0xFFFFFFFF); }},
    {"a stored mark pass", [](thw::Bytes& b, const thw::Layout&) { PutWord(b, kOHFlags, kOHMarkPass); }},
    {"a stored mark-pass kind", [](thw::Bytes& b, const thw::Layout&) { PutBE16(&b[kOHPassKind], 7); }},
    {"a stored busy bit", [](thw::Bytes& b, const thw::Layout&) { PutWord(b, kOHFlags, kOHBusy); }},
    {"a cut image", [](thw::Bytes& b, const thw::Layout&) { b.resize(b.size() - 8); }},
    {"a block size past the end", [](thw::Bytes& b, const thw::Layout& l) { PutWord(b, l.list - 12, 0x100000); }},
    {"a header only", [](thw::Bytes& b, const thw::Layout&) { b.resize(kOHHeaderSize); }},
    {"nothing at all", [](thw::Bytes& b, const thw::Layout&) { b.clear(); }},
};

TEST_F(TypeLoadTest, MalformedSavedTypesGiveOneAndChangeNothing) {
  VI other = NewVI();
  ASSERT_EQ(Load(other, FileWith(5, thw::TypeHeapImage(kTypesB)), 5), kNoErr);
  const Types types = {I32(), std::nullopt, Cluster({U8(), String(), DBL()}).Named("rec"), I32()};
  thw::Layout layout;
  thw::Bytes good = thw::TypeHeapImage(types, thw::Options(), &layout);
  ASSERT_EQ(layout.entries[0], layout.entries[3]);
  int32 id = 10;
  for (const Corruption& c : kCorruptions) {
    SCOPED_TRACE(c.what);
    VI v = NewVI();
    thw::Bytes bad = good;
    c.apply(bad, layout);
    ASSERT_NE(bad, good);
    RsrcFileRef f = FileWith(id, bad);
    std::vector<uChar> heapBefore(*TypeHeap(), *TypeHeap() + AZGetHandleSize(TypeHeap()));
    std::vector<int32> mine = Current(v), theirs = Current(other);
    int32 heaps = 0;
    for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++heaps;
    ClearReports();
    Bool32 found = 0;
    EXPECT_EQ(Load(v, f, id, &found), kArgErr);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(std::vector<uChar>(*TypeHeap(), *TypeHeap() + AZGetHandleSize(TypeHeap())), heapBefore)
        << "the type heap's bytes";
    EXPECT_EQ(Current(v), mine);
    EXPECT_EQ(Current(other), theirs);
    int32 after = 0;
    for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++after;
    EXPECT_EQ(after, heaps) << "the loaded heap is disposed";
    EXPECT_EQ(Reports::Get().Count("Failure"), 0) << "bad input is no broken invariant";
    ++id;
  }
  // The good image still loads.
  VI v = NewVI();
  ASSERT_EQ(Load(v, FileWith(99, good), 99), kNoErr);
  EXPECT_EQ(Current(v).size(), types.size());
}

TEST_F(TypeLoadTest, MemoryFullWhileLoadingLeavesTheListsAsTheyWere) {
  VI v = NewVI();
  TypeID mine = NewStdTypeID(v.panel, 9);
  std::vector<int32> before = Current(v);
  std::vector<TD> many;
  for (int32 i = 0; i < 40; ++i) many.push_back(I32().Named("field" + std::to_string(i)));
  thw::Bytes image = thw::TypeHeapImage({Cluster(many), I8(), Cluster(many).Named("big")});
  // The stored handle is made before the memory runs out.
  UHandle stored = AZNewHandle(int32(image.size()));
  std::memcpy(*stored, image.data(), image.size());
  std::vector<int32> fillers;
  uInt32 old = heapexhaust::Exhaust(TypeHeap(), 1, &fillers);
  MgErr err = LoadVITypesFromHandle(v.vi, stored);
  heapexhaust::Restore(old);
  for (int32 fl : fillers) OHDisposeBlock(TypeHeap(), fl);
  EXPECT_EQ(err, kMemFullErr);
  EXPECT_EQ(Current(v), before);
  EXPECT_EQ(TypeIDEntryValue(v.panel, mine, 0), before[0]);
  // What was interned before the failure goes with the next collection.
  CollectTypeHeapGarbage();
  EXPECT_EQ(CountClass(131), int32(List(SharedList()).size()));
  EXPECT_EQ(int32(List(SharedList()).size()), 2);
  ASSERT_EQ(Load(v, FileWith(1, image), 1), kNoErr);
  EXPECT_EQ(Current(v).size(), 3u);
}

}  // namespace
