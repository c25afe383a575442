// The linker: its table and records, binding and unbinding of references by
// name, the class methods' writes at the sites, external references, subVI
// connections and reentrant clones.  Every test ends with a walk of the whole
// table (chains, referrers, own references, name counts and lists).
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/link/linker.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "engine_test_support.h"
#include "link_check.h"
#include "mgsource/byteorder.h"
#include "mgsource/extload.h"
#include "mgsource/heap_exhaust.h"
#include "mgsource/objlist.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "tools/appbuild.h"
#include "tools/mqwriter.h"
#include "tools/rsrcwriter.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

using pathtest::PS;
using pathtest::Str;

const uInt32 kQXIN = FourCC("QXIN"), kVIDS = FourCC("VIDS"), kFPHP = FourCC("FPHP"), kQXSB = FourCC("QXSB"),
             kGENH = FourCC("GENH"), kQXCC = FourCC("QXCC"), kXFun = FourCC("XFun"), kQXPR = FourCC("QXPR");

// What the services saw.
struct Seen {
  std::vector<UHandle> bad;
  std::set<UHandle> loaded;
  UHandle root = nullptr;
  int events = 0;
  std::vector<int32> unloaded;
  std::vector<std::pair<int32, UHandle>> typeDefLinks;
  std::map<int32, uInt32> objFlags;
  int codeWrites = 0;
  int loads = 0;
  uInt32 loadRequester = 0;
  int32 loadAnswer = 0;
};
Seen* gSeen = nullptr;

uInt32 HdrWord(int32 w) { return reinterpret_cast<uInt32*>(*gLinkTable)[w]; }

class Linker : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(linkcheck::StartLinker());
    gSeen = &seen_;
    LinkerServices s{};
    s.setVIBad = [](UHandle vi) { gSeen->bad.push_back(vi); };
    s.isVILoaded = [](UHandle vi) -> Bool32 { return gSeen->loaded.count(vi) ? 1 : 0; };
    s.rootVI = []() { return gSeen->root; };
    s.postUserEvent = [](int32 code, UHandle) { gSeen->events += code == 5; };
    SetLinkerServices(&s);
    LinkPanelHooks p{};
    p.typeDefSetLink = [](ObjHeap, int32 obj, UHandle vi) { gSeen->typeDefLinks.push_back({obj, vi}); };
    p.objectFlags = [](ObjHeap, int32 obj, uInt32 set, uInt32 clear) {
      uInt32 old = gSeen->objFlags[obj];
      gSeen->objFlags[obj] = (old | set) & ~clear;
      return old;
    };
    SetLinkPanelHooks(&p);
    LinkLoadMethods m{};
    m.unloadSubr = [](int32 e) { gSeen->unloaded.push_back(e); };
    m.unloadLibFunc = [](int32 e) { gSeen->unloaded.push_back(e); };
    SetLinkLoadMethods(&m);
  }
  void TearDown() override {
    for (UHandle h : handles_) AZDisposeHandle(h);
    vis_.Clear();
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
    SetLinkPanelHooks(nullptr);
    SetLinkLoadMethods(nullptr);
    gSeen = nullptr;
    EngineTest::TearDown();
  }

  // A VI named `name` with a data space of 16 words after its header.
  UHandle VI(const std::string& name, bool withDS = true) {
    UHandle vi = vis_.New(name, withDS);
    EXPECT_NE(vi, nullptr);
    return vi;
  }
  UHandle DS(UHandle vi) { return VIRec(vi)->dataSpace; }
  // "Caller.vi" with its data-space entry, and the resource "Res" entered.
  UHandle CallerAndResource(UHandle* res) {
    UHandle caller = VI("Caller.vi");
    *res = Handle();
    if (AddLinkEntry(DS(caller), PS("Caller.vi"), nullptr, kVIDS, nullptr) != 0 ||
        AddLinkEntry(*res, PS("Res"), nullptr, kGENH, nullptr) != 0)
      return nullptr;
    return caller;
  }
  UHandle Handle(int32 size = 4) {
    UHandle h = AZNewHClr(size);
    handles_.push_back(h);
    return h;
  }
  static int32 Entry(const std::string& name, uInt32 cls) {
    int32 e = 0;
    LookupLinkItem(PS(name), cls, &e);
    return e;
  }
  static uInt32 Word(UHandle h, int32 at) { return GetNative32(*h + at); }
  static uInt32 W(const void* p) { return uInt32(uintptr_t(p)); }
  static std::vector<UHandle> List(UHandle list) {
    std::vector<UHandle> out;
    for (uInt32 i = 0; list && i < GetNative32(*list); ++i)
      out.push_back(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*list + 4 + 4 * i))));
    return out;
  }
  static bool Has(UHandle list, UHandle vi) {
    auto l = List(list);
    return std::find(l.begin(), l.end(), vi) != l.end();
  }
  static std::vector<int32> Sites(int32 ref) {
    std::vector<int32> out;
    for (int32 i = 0; i < ObjListCount(gLinkHeap, LE(ref).sites); ++i) out.push_back(ObjListGet(gLinkHeap, LE(ref).sites, i));
    return out;
  }
  // The waiting references of a name's chain.
  static std::vector<int32> Waiting(const std::string& name) {
    std::vector<int32> out;
    for (int32 i = gLinkBuckets[LinkNameHash(PS(name))]; i; i = LE(i).chain)
      if (LE(i).classFlags & kLinkFlagReference) out.push_back(i);
    return out;
  }
  static int32 OwnRefCount(int32 e) {
    int32 n = 0;
    for (int32 r = LE(e).ownRefs; r; r = LE(r).ownRefs) ++n;
    return n;
  }

  static void CheckTable() { EXPECT_EQ(linkcheck::Walk(), ""); }

  Seen seen_;
  std::vector<UHandle> handles_;
  linkcheck::TestVIs vis_;
};

// ---- the table ----------------------------------------------------------------------
TEST_F(Linker, StartsWithHeaderClassRowsAndHeaps) {
  EXPECT_EQ(HdrWord(0), 0xFE000000u);
  EXPECT_EQ(HdrWord(1), 1u);
  EXPECT_EQ(HdrWord(2), 1000u);
  EXPECT_EQ(HdrWord(3), 999u);
  EXPECT_EQ(std::memcmp(*gLinkTable + 16, " LINKER ", 8), 0);
  EXPECT_EQ(LE(1).classFlags, kLinkRecordFree);
  EXPECT_EQ(LE(999).classFlags, kLinkRecordFree);
  EXPECT_EQ(reinterpret_cast<UPtr>(gLinkClasses), AZPBlocks()->linkerNames);
  EXPECT_EQ(reinterpret_cast<UPtr>(gLinkBuckets), AZPBlocks()->linkerTable);
  struct Row {
    const char* code;
    LinkPatchProc patch;
    LinkUnpatchProc unpatch;
    uInt32 flags;
  } rows[] = {
      {"QXIN", &InstPatchMethod, &InstUnpatchMethod, 0}, {"VIDS", &CloneReentrantDS, &VIDSUnpatchMethod, 1},
      {"FPHP", nullptr, nullptr, 0},                     {"QXSB", &SubrPatchMethod, &SubrUnpatchMethod, 0},
      {"GENH", &GenhPatchMethod, &GenhUnpatchMethod, 0}, {"QXCC", &InstPatchMethod, &InstUnpatchMethod, 0},
      {"XFun", &XFunPatchMethod, &XFunUnpatchMethod, 0}, {"QXPR", &InstPatchMethod, &InstUnpatchMethod, 0},
  };
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(std::memcmp(&gLinkClasses[c].code, rows[c].code, 4), 0) << c;
    EXPECT_EQ(gLinkClasses[c].patch, rows[c].patch) << c;
    EXPECT_EQ(gLinkClasses[c].unpatch, rows[c].unpatch) << c;
    EXPECT_EQ(gLinkClasses[c].flags, rows[c].flags) << c;
    EXPECT_NE(gLinkClasses[c].load, nullptr) << c;
  }
  EXPECT_EQ(OHWord(gLinkHeap, kOHKind), FourCC("LKHP"));
  EXPECT_EQ(OHWord(gLinkNameHeap, kOHKind), FourCC("NAME"));
  EXPECT_GE(OHBlockSize(gLinkNameHeap, int32(OHWord(gLinkNameHeap, kOHExtension))), 3004);
  // Without an installed loader a load answers 0.
  SetLinkLoadMethods(nullptr);
  for (int c = 0; c < 8; ++c) EXPECT_EQ(gLinkClasses[c].load(PS("x"), nullptr, nullptr, kQXIN, nullptr, 0), 0);
  CheckTable();
}

TEST_F(Linker, TheThousandthEntryGrowsTheTableAndAFreedRecordIsReusedFirst) {
  UHandle item = Handle();
  for (int i = 1; i < 1000; ++i)
    ASSERT_EQ(AddLinkEntry(*item, PS("e" + std::to_string(i)), nullptr, kGENH, nullptr), 0) << i;
  EXPECT_EQ(HdrWord(kLinkHdrFreeCount), 0u);
  EXPECT_EQ(HdrWord(kLinkHdrNextFree), 0u);
  EXPECT_EQ(HdrWord(kLinkHdrCapacity), 1000u);
  ASSERT_EQ(AddLinkEntry(*item, PS("e1000"), nullptr, kGENH, nullptr), 0);
  EXPECT_EQ(HdrWord(kLinkHdrCapacity), 1040u);
  EXPECT_EQ(AZGetHandleSize(gLinkTable), 1040 * 36);
  EXPECT_EQ(HdrWord(kLinkHdrFreeCount), 39u);
  EXPECT_EQ(Entry("e1000", kGENH), 1000);
  const int32 freed = Entry("e500", kGENH);
  UnlinkItemByName(PS("e500"), kGENH);
  EXPECT_EQ(LE(freed).classFlags, kLinkRecordFree);
  ASSERT_EQ(AddLinkEntry(*item, PS("again"), nullptr, kGENH, nullptr), 0);
  EXPECT_EQ(Entry("again", kGENH), freed);
  CheckTable();
}

TEST_F(Linker, TableThatCannotGrowHandsOutNoRecord) {
  UHandle item = Handle();
  for (int i = 1; i < 1000; ++i) ASSERT_EQ(AddLinkEntry(*item, PS("e" + std::to_string(i)), nullptr, kGENH, nullptr), 0);
  MemFailNthAllocation(1);
  EXPECT_EQ(AddLinkEntry(*item, PS("one more"), nullptr, kGENH, nullptr), 2);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(HdrWord(kLinkHdrCapacity), 1000u);
  EXPECT_EQ(Entry("one more", kGENH), 0);
  CheckTable();
}

TEST_F(Linker, AddingAnExistingNameAndClassChangesNothing) {
  UHandle a = Handle(), b = Handle();
  ASSERT_EQ(AddLinkEntry(a, PS("Res"), nullptr, kGENH, nullptr), 0);
  const std::vector<uChar> before(*gLinkTable, *gLinkTable + AZGetHandleSize(gLinkTable));
  EXPECT_EQ(AddLinkEntry(b, PS("RES"), nullptr, kGENH, nullptr), 1);
  EXPECT_EQ(std::vector<uChar>(*gLinkTable, *gLinkTable + AZGetHandleSize(gLinkTable)), before);
  EXPECT_EQ(LE(Entry("res", kGENH)).owner, W(a));
  // The same name in another class is another item.
  EXPECT_EQ(AddLinkEntry(b, PS("Res"), nullptr, kQXSB, nullptr), 0);
  CheckTable();
}

TEST_F(Linker, TheWalkFindsBrokenChainsListsAndCounts) {
  UHandle a = Handle();
  ASSERT_EQ(AddLinkEntry(a, PS("One"), nullptr, kGENH, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(a, PS("Two"), nullptr, kGENH, nullptr), 0);
  const int32 one = Entry("One", kGENH), two = Entry("Two", kGENH);
  const int32 count = LinkNameRefCount(LE(one).name);
  LinkNameSetRefCount(LE(one).name, count + 1);
  EXPECT_EQ(linkcheck::Walk(), "name count");
  LinkNameSetRefCount(LE(one).name, count);
  const int32 chain = LE(two).chain;
  LE(two).chain = two;
  EXPECT_NE(linkcheck::Walk().find("chain"), std::string::npos);
  LE(two).chain = chain;
  reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount] += 1;
  EXPECT_EQ(linkcheck::Walk(), "free count");
  reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount] -= 1;
  CheckTable();
}

TEST_F(Linker, UnknownClassCodesAreReportedAndIndexNothing) {
  UHandle a = Handle();
  const uInt32 bad = FourCC("ABCD");
  ClearReports();
  EXPECT_EQ(AddLinkEntry(a, PS("x"), nullptr, bad, nullptr), 0);
  EXPECT_EQ(AddExtern(a, 528, PS("x"), bad, PS("y"), nullptr, kGENH, nullptr, nullptr), 0);
  EXPECT_EQ(RemExtern(a, 528, PS("x"), kVIDS, PS("y"), bad), 0);
  UnlinkItemByName(PS("x"), bad);
  EXPECT_EQ(qxtest::Reports::Get().Count("unknown link class code"), 4);
  int32 e = 1;
  EXPECT_EQ(LookupLinkItem(PS("x"), kLinkClassNoneCode, &e), 0);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(HdrWord(kLinkHdrFreeCount), 999u);
  CheckTable();
}

// ---- binding ------------------------------------------------------------------------
TEST_F(Linker, AnEntryUnderANameOfOtherCaseBindsTheWaitingReferenceAndPatchesEverySite) {
  UHandle caller = VI("Caller.vi");
  ASSERT_EQ(AddLinkEntry(DS(caller), PS("Caller.vi"), nullptr, kVIDS, nullptr), 0);
  gSeen->loadAnswer = 0;
  LinkLoadMethods m{};
  m.load[kLinkClassGenH] = [](ConstPStr, Path, Path, uInt32 requester, const void*, int32) {
    gSeen->loads += 1;
    gSeen->loadRequester = requester;
    return gSeen->loadAnswer;
  };
  SetLinkLoadMethods(&m);
  EXPECT_EQ(AddExtern(DS(caller), 528, PS("Caller.vi"), kVIDS, PS("Res"), nullptr, kGENH, nullptr, nullptr), 0);
  EXPECT_EQ(AddExtern(DS(caller), 536, PS("Caller.vi"), kVIDS, PS("res"), nullptr, kGENH, nullptr, nullptr), 0);
  EXPECT_EQ(gSeen->loads, 2);
  EXPECT_EQ(gSeen->loadRequester, kVIDS);
  ASSERT_EQ(Waiting("Res").size(), 1u);
  const int32 ref = Waiting("Res")[0];
  EXPECT_EQ(LE(ref).classFlags, (uInt32(kLinkClassGenH) << 24) | 0x60);
  EXPECT_EQ(Sites(ref), (std::vector<int32>{528, 536}));
  EXPECT_EQ(Word(DS(caller), 528), 0u);
  CheckTable();
  UHandle res = Handle();
  ASSERT_EQ(AddLinkEntry(res, PS("RES"), nullptr, kGENH, nullptr), 0);
  EXPECT_EQ(Word(DS(caller), 528), W(res));
  EXPECT_EQ(Word(DS(caller), 536), W(res));
  EXPECT_EQ(Word(DS(caller), 532), 0u);
  EXPECT_TRUE(Waiting("Res").empty());
  EXPECT_EQ(LE(ref).chain, Entry("res", kGENH));
  EXPECT_EQ(LE(ref).classFlags & kLinkFlagUnresolved, 0u);
  CheckTable();
}

TEST_F(Linker, OnlyTheViAndProxyClassesBindAcross) {
  struct Case {
    uInt32 refClass, entryClass;
    bool binds;
  } cases[] = {
      {kQXPR, kQXIN, true}, {kQXIN, kQXPR, true}, {kQXIN, kQXIN, true},
      {kQXIN, kQXCC, false}, {kQXCC, kQXIN, false}, {kQXPR, kQXCC, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const std::string callerName = "Caller" + std::to_string(n) + ".vi", subName = "Sub" + std::to_string(n) + ".vi";
    ++n;
    UHandle caller = VI(callerName), sub = VI(subName);
    ASSERT_EQ(AddLinkEntry(caller, PS(callerName), nullptr, kQXIN, nullptr), 0);
    AddExtern(caller, 0, PS(callerName), kQXIN, PS(subName), nullptr, c.refClass, nullptr, nullptr);
    ASSERT_EQ(Waiting(subName).size(), 1u);
    ASSERT_EQ(AddLinkEntry(sub, PS(subName), nullptr, c.entryClass, nullptr), 0);
    EXPECT_EQ(Waiting(subName).empty(), c.binds);
    EXPECT_EQ(Has(VIRec(caller)->subVIs, sub), c.binds);
    EXPECT_EQ(Has(VIRec(sub)->callers, caller), c.binds);
    CheckTable();
  }
  EXPECT_TRUE(gSeen->bad.empty());
  EXPECT_GT(gSeen->events, 0);
}

TEST_F(Linker, AnAliasBindsOnBehalfOfItsTarget) {
  UHandle caller = VI("Caller.vi"), real = VI("Real.vi");
  ASSERT_EQ(AddLinkEntry(caller, PS("Caller.vi"), nullptr, kQXIN, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(real, PS("Real.vi"), nullptr, kQXIN, nullptr), 0);
  EXPECT_EQ(AddExtern(caller, 0, PS("Caller.vi"), kQXIN, PS("Alias.vi"), nullptr, kQXIN, nullptr, nullptr), 0);
  int32 nb = 0;
  const int32 bucket = InternLinkName(PS("Alias.vi"), &nb);
  const int32 alias = NewLinkEntry(kLinkClassVI, nb, uInt32(Entry("Real.vi", kQXIN)), nullptr, nullptr);
  ASSERT_NE(alias, 0);
  LE(alias).classFlags |= kLinkFlagAlias;
  LE(alias).chain = gLinkBuckets[bucket];
  gLinkBuckets[bucket] = alias;
  ClearReports();
  Resolve(bucket, alias);
  EXPECT_TRUE(Has(VIRec(caller)->subVIs, real));
  EXPECT_TRUE(Has(VIRec(real)->callers, caller));
  EXPECT_NE(ReportText().find("Resolve: public: Alias.vi, " + std::to_string(alias) + "; alias: Real.vi"),
            std::string::npos)
      << ReportText();
  CheckTable();
}

// ---- unloading ----------------------------------------------------------------------
TEST_F(Linker, UnlinkingASubVILeavesItsCallersWaitingAndEnteringItAgainRebindsThem) {
  UHandle sub = VI("Sub.vi");
  std::vector<UHandle> callers;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "Caller" + std::to_string(i) + ".vi";
    callers.push_back(VI(name));
    ASSERT_EQ(AddLinkEntry(callers.back(), PS(name), nullptr, kQXIN, nullptr), 0);
    AddExtern(callers.back(), 0, PS(name), kQXIN, PS("Sub.vi"), nullptr, kQXIN, nullptr, nullptr);
  }
  ASSERT_EQ(AddLinkEntry(sub, PS("SUB.VI"), nullptr, kQXIN, nullptr), 0);
  for (UHandle c : callers) ASSERT_TRUE(Has(VIRec(c)->subVIs, sub));
  EXPECT_TRUE(gSeen->bad.empty());
  UnlinkItemByName(PS("sub.vi"), kQXIN);
  EXPECT_EQ(Entry("Sub.vi", kQXIN), 0);
  EXPECT_EQ(Waiting("Sub.vi").size(), 3u);
  for (UHandle c : callers) {
    EXPECT_FALSE(Has(VIRec(c)->subVIs, sub));
    EXPECT_TRUE(VIRec(c)->flags & kVIFlagSubVIMissing);
    EXPECT_EQ(std::count(gSeen->bad.begin(), gSeen->bad.end(), c), 1);
  }
  EXPECT_TRUE(List(VIRec(sub)->callers).empty());
  CheckTable();
  ASSERT_EQ(AddLinkEntry(sub, PS("Sub.vi"), nullptr, kQXIN, nullptr), 0);
  EXPECT_TRUE(Waiting("Sub.vi").empty());
  for (UHandle c : callers) EXPECT_TRUE(Has(VIRec(c)->subVIs, sub));
  EXPECT_EQ(List(VIRec(sub)->callers).size(), 3u);
  CheckTable();
  // Removing a caller removes its references with it.
  UnlinkItemByName(PS("Caller0.vi"), kQXIN);
  EXPECT_FALSE(Has(VIRec(sub)->callers, callers[0]));
  EXPECT_EQ(List(VIRec(sub)->callers).size(), 2u);
  CheckTable();
}

TEST_F(Linker, RemovingAnAbsentItemIsReportedAndRemovesNothing) {
  UHandle a = Handle();
  ASSERT_EQ(AddLinkEntry(a, PS("Here"), nullptr, kGENH, nullptr), 0);
  ClearReports();
  UnlinkItemByName(PS("Here"), kQXSB);
  UnlinkItemByName(PS("Nowhere"), kGENH);
  EXPECT_EQ(qxtest::Reports::Get().Count("UnlinkItemByName: no such entry"), 2);
  EXPECT_NE(Entry("Here", kGENH), 0);
  int32 nb = 0;
  InternLinkName(PS("Nowhere"), &nb);
  EXPECT_EQ(LinkNameRefCount(nb), 0);
  ReleaseLinkName(nb);
  CheckTable();
}

// ---- externs ------------------------------------------------------------------------
TEST_F(Linker, RemExternOfTheLastSiteOfASubroutineReferenceUnloadsIt) {
  UHandle caller = VI("Caller.vi");
  ASSERT_EQ(AddLinkEntry(DS(caller), PS("Caller.vi"), nullptr, kVIDS, nullptr), 0);
  static uChar record[64];
  ASSERT_EQ(AddLinkEntry(record, PS("Sub"), nullptr, kQXSB, nullptr), 0);
  const int32 sub = Entry("Sub", kQXSB);
  EXPECT_EQ(AddExtern(DS(caller), 528, PS("Caller.vi"), kVIDS, PS("Sub"), nullptr, kQXSB, nullptr, nullptr), 1);
  EXPECT_EQ(AddExtern(DS(caller), 532, PS("Caller.vi"), kVIDS, PS("Sub"), nullptr, kQXSB, nullptr, nullptr), 1);
  EXPECT_EQ(Word(DS(caller), 528), W(record));
  EXPECT_EQ(Word(DS(caller), 532), W(record));
  const int32 ref = LE(sub).referrers;
  ASSERT_NE(ref, 0);
  EXPECT_EQ(Sites(ref), (std::vector<int32>{528, 532}));
  // A repeated -1 is kept silently; another repeated site is reported.
  ClearReports();
  EXPECT_EQ(AddExtern(DS(caller), 528, PS("Caller.vi"), kVIDS, PS("Sub"), nullptr, kQXSB, nullptr, nullptr), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("duplicate site"), 1);
  EXPECT_EQ(Sites(ref).size(), 2u);
  EXPECT_EQ(RemExtern(DS(caller), 528, PS("Caller.vi"), kVIDS, PS("Sub"), kQXSB), 0);
  EXPECT_EQ(Word(DS(caller), 528), 0u);
  EXPECT_EQ(Word(DS(caller), 532), W(record));
  EXPECT_TRUE(gSeen->unloaded.empty());
  CheckTable();
  EXPECT_EQ(RemExtern(DS(caller), 532, PS("Caller.vi"), kVIDS, PS("Sub"), kQXSB), 1);
  EXPECT_EQ(Word(DS(caller), 532), 0u);
  EXPECT_EQ(gSeen->unloaded, std::vector<int32>{sub});
  EXPECT_EQ(OwnRefCount(Entry("Caller.vi", kVIDS)), 0);
  EXPECT_EQ(LE(sub).referrers, 0);
  // Nothing left to remove: 0, and no stray name.
  EXPECT_EQ(RemExtern(DS(caller), 532, PS("Caller.vi"), kVIDS, PS("Nothing"), kQXSB), 0);
  CheckTable();
}

TEST_F(Linker, AnExternOfAForeignObjectIsRefused) {
  UHandle res = nullptr;
  UHandle caller = CallerAndResource(&res), other = VI("Other.vi");
  ASSERT_TRUE(caller && res);
  ClearReports();
  EXPECT_EQ(AddExtern(DS(other), 528, PS("Caller.vi"), kVIDS, PS("Res"), nullptr, kGENH, nullptr, nullptr), 0);
  EXPECT_EQ(AddExtern(DS(caller), 528, PS("Nobody.vi"), kVIDS, PS("Res"), nullptr, kGENH, nullptr, nullptr), 0);
  EXPECT_EQ(Word(DS(other), 528), 0u);
  EXPECT_EQ(LE(Entry("Res", kGENH)).referrers, 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("extern reference"), 2);
  CheckTable();
}

TEST_F(Linker, HeapExhaustionAtEveryAllocationLeavesATableThatChecksOut) {
  UHandle res = nullptr;
  UHandle caller = CallerAndResource(&res);
  ASSERT_TRUE(caller && res);
  const uChar type[10] = {10, 0, 'T', 'E', 'X', 'T', 1, 0, 0, 0};
  Path path = FEmptyPath(nullptr);
  for (ObjHeap heap : {gLinkHeap, gLinkNameHeap}) {
    for (uInt32 room : {0u, 16u, 24u}) {
      SCOPED_TRACE(std::string(heap == gLinkHeap ? "LKHP" : "NAME") + " room " + std::to_string(room));
      std::vector<int32> fillers;
      const uInt32 old = heapexhaust::Exhaust(heap, 9, &fillers, room);
      ClearReports();
      const int16 added = AddLinkEntry(res, PS("Another resource name"), type, kGENH, nullptr);
      const int16 ext = AddExtern(DS(caller), 540, PS("Caller.vi"), kVIDS, PS("Res"), type, kGENH, nullptr, path);
      heapexhaust::Restore(old);
      EXPECT_TRUE(added == 2 || added == 0);
      if (added == 2) {
        EXPECT_EQ(Entry("Another resource name", kGENH), 0);
      }
      if (ext == 0) {
        EXPECT_EQ(LE(Entry("Res", kGENH)).referrers, 0);
        EXPECT_EQ(Word(DS(caller), 540), 0u);
      }
      CheckTable();
      if (added == 0) UnlinkItemByName(PS("Another resource name"), kGENH);
      if (ext == 1) {
        EXPECT_EQ(RemExtern(DS(caller), 540, PS("Caller.vi"), kVIDS, PS("Res"), kGENH), 1);
      }
      for (int32 f : fillers) OHDisposeBlock(heap, f);
      CheckTable();
    }
  }
  // The path copy fails at every allocation in turn until the call succeeds.
  for (int32 n = 1; n < 10; ++n) {
    MemFailNthAllocation(n);
    const int16 r = AddExtern(DS(caller), 544, PS("Caller.vi"), kVIDS, PS("Res"), type, kGENH, nullptr, path);
    MemFailNthAllocation(0);
    MemFullReset();
    CheckTable();
    if (r == 1) break;
    EXPECT_EQ(LE(Entry("Res", kGENH)).referrers, 0) << n;
  }
  EXPECT_EQ(Word(DS(caller), 544), W(res));
  FDisposePath(path);
}

// ---- bad sites ----------------------------------------------------------------------
TEST_F(Linker, BadSitesAreReportedAndNothingIsWritten) {
  UHandle res = nullptr;
  UHandle caller = CallerAndResource(&res);
  ASSERT_TRUE(caller && res);
  const int32 size = DSGetHandleSize(DS(caller));
  struct Case {
    int32 site;
    bool fixed;
    const char* report;
  } cases[] = {
      {100, false, "invalid data-space link site"},
      {176, false, "invalid data-space link site"},  // only the data-space methods take 176
      {size - 2, false, "invalid data-space link site"},
      {size, false, "invalid data-space link site"},
      {-1, false, "invalid data-space link site"},
      {528, true, "whose header was corrected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.site);
    DSHdr(DS(caller))->headerFixed = c.fixed ? 1 : 0;
    const std::vector<uChar> before(*DS(caller), *DS(caller) + size);
    ClearReports();
    AddExtern(DS(caller), c.site, PS("Caller.vi"), kVIDS, PS("Res"), nullptr, kGENH, nullptr, nullptr);
    EXPECT_EQ(qxtest::Reports::Get().Count(c.report), 1) << ReportText();
    EXPECT_EQ(std::vector<uChar>(*DS(caller), *DS(caller) + size), before);
    RemExtern(DS(caller), c.site, PS("Caller.vi"), kVIDS, PS("Res"), kGENH);
  }
  DSHdr(DS(caller))->headerFixed = 0;
  CheckTable();
}

namespace {
std::vector<std::pair<uChar*, uInt32>> gCodeWrites;

// A loaded subroutine of the given record version: 256 bytes of code whose
// entry returns at once.
UPtr LoadSubr(uInt32 version) {
  mqw::Image img;
  img.code.assign(256, 0x90);
  std::fill(img.code.begin(), img.code.begin() + 44, uChar(0));
  img.code[48] = 0xC3;
  img.entryOffset = 48;
  img.version = version;
  std::vector<uChar> bytes = mqw::Write(img);
  UHandle h = AZNewHandle(int32(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  UPtr block = nullptr;
  EXPECT_EQ(LoadExtCode(h, &block, 0, 0, 0), kNoErr);
  AZDisposeHandle(h);
  return block;
}
}  // namespace

TEST_F(Linker, SubroutineSitesAreCheckedAgainstTheLoadedBlockAndWrittenThroughTheCodeWriter) {
  auto load = &LoadSubr;
  UPtr callerBlock = load(3), calleeBlock = load(3);
  ASSERT_TRUE(callerBlock && calleeBlock);
  const int32 size = ExtCodeBlockSize(callerBlock);
  ASSERT_GE(size, 256);
  ASSERT_EQ(AddLinkEntry(callerBlock, PS("Caller"), nullptr, kQXSB, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(calleeBlock, PS("Callee"), nullptr, kQXSB, nullptr), 0);
  const uInt32 entry = reinterpret_cast<CodeBlockHeader*>(calleeBlock)->entry;
  // The caller's code is sealed after load; the writer opens it for each patch.
  const size_t pageSpan = (size_t(size) + 4095) & ~size_t(4095);
  ASSERT_EQ(mprotect(callerBlock, pageSpan, PROT_READ | PROT_EXEC), 0);
  LinkerServices s = LinkServices();
  s.writeCodeWord = [](void* at, uInt32 v) -> Bool32 {
    const uintptr_t first = uintptr_t(at) & ~uintptr_t(4095);
    const size_t span = ((uintptr_t(at) + 4 + 4095) & ~uintptr_t(4095)) - first;
    void* page = reinterpret_cast<void*>(first);
    if (mprotect(page, span, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) return 0;
    PutNative32(at, v);
    gCodeWrites.push_back({static_cast<uChar*>(at), v});
    return mprotect(page, span, PROT_READ | PROT_EXEC) == 0;
  };
  SetLinkerServices(&s);
  gCodeWrites.clear();
  ClearReports();
  EXPECT_EQ(AddExtern(callerBlock, 60, PS("Caller"), kQXSB, PS("Callee"), nullptr, kQXSB, nullptr, nullptr), 1);
  EXPECT_EQ(GetNative32(callerBlock + 60), entry);
  EXPECT_EQ(qxtest::Reports::Get().Count("invalid subroutine link site"), 0);
  // Site 0 silently, the header and past the block with a report.
  for (int32 site : {0, 40, size - 2, size}) AddExtern(callerBlock, site, PS("Caller"), kQXSB, PS("Callee"), nullptr, kQXSB, nullptr, nullptr);
  EXPECT_EQ(qxtest::Reports::Get().Count("invalid subroutine link site"), 3);
  EXPECT_EQ(gCodeWrites.size(), 1u);
  // The unlink of the callee clears the caller's site through the writer.
  UnlinkItemByName(PS("Callee"), kQXSB);
  EXPECT_EQ(GetNative32(callerBlock + 60), 0u);
  EXPECT_EQ(gCodeWrites.size(), 2u);
  UnlinkItemByName(PS("Caller"), kQXSB);
  ASSERT_EQ(mprotect(callerBlock, pageSpan, PROT_READ | PROT_WRITE | PROT_EXEC), 0);
  UnloadExtCode(callerBlock);
  UnloadExtCode(calleeBlock);
  CheckTable();
}

// Without a writer of its own the linker writes subroutine sites through the
// platform, which opens the sealed page for the word and seals it again.
TEST_F(Linker, SubroutineSitesInSealedCodeArePatchedByThePlatformWriter) {
  ASSERT_EQ(LinkServices().writeCodeWord, nullptr);
  UPtr callerBlock = LoadSubr(3), calleeBlock = LoadSubr(3);
  ASSERT_TRUE(callerBlock && calleeBlock);
  const int32 size = ExtCodeBlockSize(callerBlock);
  ASSERT_EQ(AddLinkEntry(callerBlock, PS("Caller"), nullptr, kQXSB, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(calleeBlock, PS("Callee"), nullptr, kQXSB, nullptr), 0);
  const uInt32 entry = reinterpret_cast<CodeBlockHeader*>(calleeBlock)->entry;
  const size_t pageSpan = (size_t(size) + 4095) & ~size_t(4095);
  ASSERT_EQ(mprotect(callerBlock, pageSpan, PROT_READ | PROT_EXEC), 0);
  EXPECT_EQ(AddExtern(callerBlock, 60, PS("Caller"), kQXSB, PS("Callee"), nullptr, kQXSB, nullptr, nullptr), 1);
  EXPECT_EQ(GetNative32(callerBlock + 60), entry);
  // Unloading the callee and entering it again re-patches the sealed site.
  UnlinkItemByName(PS("Callee"), kQXSB);
  EXPECT_EQ(GetNative32(callerBlock + 60), 0u);
  ASSERT_EQ(AddLinkEntry(calleeBlock, PS("Callee"), nullptr, kQXSB, nullptr), 0);
  EXPECT_EQ(GetNative32(callerBlock + 60), entry);
  EXPECT_EQ(qxtest::Reports::Get().Count("could not be opened"), 0);
  // The page is sealed again: a write from here would fault.
  FILE* maps = std::fopen("/proc/self/maps", "r");
  ASSERT_NE(maps, nullptr);
  char line[512];
  std::string perms;
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long lo = 0, hi = 0;
    char pr[8] = {};
    if (std::sscanf(line, "%lx-%lx %7s", &lo, &hi, pr) == 3 && uintptr_t(callerBlock) >= lo && uintptr_t(callerBlock) < hi)
      perms = pr;
  }
  std::fclose(maps);
  EXPECT_EQ(perms, "r-xp");
  UnlinkItemByName(PS("Callee"), kQXSB);
  UnlinkItemByName(PS("Caller"), kQXSB);
  ASSERT_EQ(mprotect(callerBlock, pageSpan, PROT_READ | PROT_WRITE | PROT_EXEC), 0);
  UnloadExtCode(callerBlock);
  UnloadExtCode(calleeBlock);
  CheckTable();
}

TEST_F(Linker, LibraryFunctionsWriteTwoWordsAndMarkAViUsingMissingEntriesBad) {
  UHandle caller = VI("Caller.vi");
  ASSERT_EQ(AddLinkEntry(DS(caller), PS("Caller.vi"), nullptr, kVIDS, nullptr), 0);
  UHandle rec = Handle(12);
  PutNative32(*rec + 4, 0x1234);
  PutNative32(*rec + 8, 0x5678);
  ASSERT_EQ(AddLinkEntry(rec, PS("lib:fn"), nullptr, kXFun, nullptr), 0);
  LinkerServices s = LinkServices();
  s.usesMissingRTEntries = [](UHandle) -> Bool32 { return 1; };
  SetLinkerServices(&s);
  Path path = FEmptyPath(nullptr);
  EXPECT_EQ(AddExtern(DS(caller), 532, PS("Caller.vi"), kVIDS, PS("lib:fn"), nullptr, kXFun, nullptr, path), 1);
  EXPECT_EQ(Word(DS(caller), 532), 0x1234u);
  EXPECT_EQ(Word(DS(caller), 536), 0x5678u);
  EXPECT_EQ(gSeen->bad, std::vector<UHandle>{caller});
  // The library-function patch keeps the recorded path.
  const int32 ref = LE(Entry("lib:fn", kXFun)).referrers;
  EXPECT_NE(LE(ref).path, nullptr);
  FDisposePath(path);
  UnlinkItemByName(PS("Caller.vi"), kVIDS);
  EXPECT_EQ(Word(DS(caller), 532), 0u);
  EXPECT_EQ(Word(DS(caller), 536), 0u);
  EXPECT_EQ(gSeen->unloaded, std::vector<int32>{Entry("lib:fn", kXFun)});
  CheckTable();
}

// ---- connections --------------------------------------------------------------------
TEST_F(Linker, ConnectionsThatCannotRunMarkTheCallerBad) {
  const uChar calleeType[6] = {6, 0, 0x03, 0, 0, 0};
  const uChar otherType[6] = {6, 0, 0x04, 0, 0, 0};
  struct Case {
    const char* what;
    bool recursive;
    const uChar* recorded;
    uInt32 calleeState;
    uInt32 flags;  // the caller's flags expected
  } cases[] = {
      {"match", false, calleeType, kVIStateIdle, 0},
      {"mismatch", false, otherType, kVIStateIdle, kVIFlagSubVIMissing},
      {"no recorded type", false, nullptr, kVIStateIdle, kVIFlagSubVIMissing},
      {"callee broken", false, calleeType, kVIStateBroken, kVIFlagSubVINotExec},
      {"callee running", false, calleeType, 2, kVIFlagSubVIRunning},
      {"recursive", true, calleeType, kVIStateIdle, kVIFlagSubVIMissing},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string callerName = "Caller" + std::to_string(n) + ".vi";
    const std::string subName = c.recursive ? callerName : "Sub" + std::to_string(n) + ".vi";
    ++n;
    UHandle caller = VI(callerName);
    VIRec(caller)->marks = 0x100;
    UHandle sub = c.recursive ? caller : VI(subName);
    if (!c.recursive) VIRec(sub)->eState = c.calleeState;
    ASSERT_EQ(AZPtrToHand(calleeType, &VIRec(sub)->connPane, 6), kNoErr);
    gSeen->bad.clear();
    ASSERT_EQ(AddLinkEntry(caller, PS(callerName), nullptr, kQXIN, nullptr), 0);
    ASSERT_TRUE(c.recursive || AddLinkEntry(sub, PS(subName), nullptr, kQXIN, nullptr) == 0);
    EXPECT_EQ(AddExtern(caller, 0, PS(callerName), kQXIN, PS(subName), c.recorded, kQXIN, nullptr, nullptr), 1);
    EXPECT_EQ(VIRec(caller)->flags & 0x41C, c.flags);
    EXPECT_EQ(gSeen->bad.size(), c.flags ? 1u : 0u);
    EXPECT_EQ(Has(VIRec(caller)->subVIs, sub), !c.recursive);
    EXPECT_EQ((VIRec(caller)->marks & 0x100) == 0, (c.flags & kVIFlagSubVIMissing) != 0);
    CheckTable();
  }
}

TEST_F(Linker, ACustomControlMismatchSetsTheExternalFlagAndItsRefnumWordIsIgnored) {
  UHandle caller = VI("Caller.vi"), ctl = VI("Ctl.ctl");
  VIRec(ctl)->viKind = kVIKindControl;
  const uChar calleeType[8] = {8, 0, 0xF1, 0, 1, 2, 3, 4};
  const uChar sameButWord[8] = {8, 0, 0xF1, 0, 9, 9, 9, 9};
  ASSERT_EQ(AZPtrToHand(calleeType, &VIRec(ctl)->connPane, 8), kNoErr);
  ASSERT_EQ(AddLinkEntry(caller, PS("Caller.vi"), nullptr, kQXIN, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(ctl, PS("Ctl.ctl"), nullptr, kQXCC, nullptr), 0);
  EXPECT_EQ(AddExtern(caller, 0, PS("Caller.vi"), kQXIN, PS("Ctl.ctl"), sameButWord, kQXCC, nullptr, nullptr), 1);
  EXPECT_EQ(VIRec(caller)->flags & (kVIFlagSubVIMissing | kVIFlagExtSubMissing), 0u);
  const uChar different[8] = {8, 0, 0xF2, 0, 1, 2, 3, 4};
  UHandle caller2 = VI("Caller2.vi");
  ASSERT_EQ(AddLinkEntry(caller2, PS("Caller2.vi"), nullptr, kQXIN, nullptr), 0);
  EXPECT_EQ(AddExtern(caller2, 0, PS("Caller2.vi"), kQXIN, PS("Ctl.ctl"), different, kQXCC, nullptr, nullptr), 1);
  EXPECT_EQ(VIRec(caller2)->flags & (kVIFlagSubVIMissing | kVIFlagExtSubMissing), kVIFlagExtSubMissing);
  // Unlinking the control leaves both waiting with the external flag.
  UnlinkItemByName(PS("Ctl.ctl"), kQXCC);
  EXPECT_TRUE(VIRec(caller)->flags & kVIFlagExtSubMissing);
  CheckTable();
}

TEST_F(Linker, AViHasALoadedCallerOnlyThroughAnotherLoadedViOrTheRoot) {
  UHandle caller = VI("Caller.vi"), sub = VI("Sub.vi");
  ASSERT_EQ(AddLinkEntry(caller, PS("Caller.vi"), nullptr, kQXIN, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(sub, PS("Sub.vi"), nullptr, kQXIN, nullptr), 0);
  EXPECT_FALSE(VIHasLoadedCaller(sub));
  AddExtern(caller, 0, PS("Caller.vi"), kQXIN, PS("Sub.vi"), nullptr, kQXIN, nullptr, nullptr);
  EXPECT_FALSE(VIHasLoadedCaller(sub));
  gSeen->root = caller;
  EXPECT_TRUE(VIHasLoadedCaller(sub));
  gSeen->root = nullptr;
  gSeen->loaded.insert(caller);
  EXPECT_TRUE(VIHasLoadedCaller(sub));
  EXPECT_FALSE(VIHasLoadedCaller(caller));
  UnlinkItemByName(PS("Caller.vi"), kQXIN);
  EXPECT_FALSE(VIHasLoadedCaller(sub));
  CheckTable();
}

TEST_F(Linker, APanelTypeDefinitionUsedRecursivelyIsRefused) {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddLinkerTexts(&w);
  const rsrcw::Bytes bytes = w.Write();
  UHandle h = AZNewHandle(int32(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  static bool once = [] { return RInitResources() == kNoErr; }();
  ASSERT_TRUE(once);
  RsrcFileRef rt = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt, nullptr, nullptr, h), kNoErr);
  SetRunTimeRsrcFile(rt);
  UHandle panelVI = VI("Panel.vi"), typeDef = VI("Type.ctl");
  UHandle heap = Handle(256);
  ASSERT_EQ(AddLinkEntry(panelVI, PS("Panel.vi"), nullptr, kQXIN, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(heap, PS("Panel.vi"), nullptr, kFPHP, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(typeDef, PS("Type.ctl"), nullptr, kQXIN, nullptr), 0);
  gSeen->objFlags[100] = 0x40000;
  gSeen->objFlags[120] = 0x10000;
  ClearReports();
  EXPECT_EQ(AddExtern(heap, 100, PS("Panel.vi"), kFPHP, PS("Type.ctl"), nullptr, kQXIN, nullptr, nullptr), 1);
  EXPECT_EQ(gSeen->objFlags[100], 0u);
  EXPECT_TRUE(gSeen->bad.empty());
  EXPECT_EQ(AddExtern(heap, 120, PS("Panel.vi"), kFPHP, PS("Type.ctl"), nullptr, kQXIN, nullptr, nullptr), 1);
  EXPECT_EQ(gSeen->bad, std::vector<UHandle>{panelVI});
  EXPECT_EQ(AddExtern(heap, 140, PS("Panel.vi"), kFPHP, PS("Panel.vi"), nullptr, kQXIN, nullptr, nullptr), 1);
  EXPECT_EQ(gSeen->objFlags[140], 0x40000u);
  EXPECT_EQ(gSeen->bad.size(), 2u);
  EXPECT_NE(ReportText().find("The recursive use of \"Panel.vi\" is not allowed."), std::string::npos) << ReportText();
  ASSERT_EQ(gSeen->typeDefLinks.size(), 3u);
  EXPECT_EQ(gSeen->typeDefLinks[0], (std::pair<int32, UHandle>{100, typeDef}));
  EXPECT_EQ(gSeen->typeDefLinks[2], (std::pair<int32, UHandle>{140, nullptr}));
  SetRunTimeRsrcFile(0);
  RCloseFile(rt);
  CheckTable();
}

// ---- lookups ------------------------------------------------------------------------
TEST_F(Linker, LookupsFindLoadAndNameItems) {
  UHandle res = nullptr;
  UHandle caller = CallerAndResource(&res);
  ASSERT_TRUE(caller && res);
  EXPECT_EQ(AddExtern(DS(caller), 548, PS("Caller.vi"), kVIDS, PS("Res"), nullptr, kGENH, nullptr, nullptr), 1);
  Str255 name;
  name[0] = 0;
  EXPECT_EQ(GetLinkItemName(PS("caller.vi"), kVIDS, 548, kGENH, name), 1);
  EXPECT_EQ(Str(name), "Res");
  EXPECT_EQ(GetLinkItemName(PS("caller.vi"), kVIDS, 552, kGENH, name), 0);
  EXPECT_EQ(GetLinkItemName(PS("caller.vi"), kVIDS, 548, kQXSB, name), 0);
  // A lookup of an absent name leaves no name block behind.
  int32 e = -1;
  EXPECT_EQ(LookupLinkItem(PS("Absent"), kGENH, &e), 0);
  EXPECT_EQ(e, 0);
  uInt32 obj = 1;
  EXPECT_EQ(FindOrLoadLinkItem(PS("Absent"), kGENH, &obj), 0);
  EXPECT_EQ(obj, 0u);
  EXPECT_EQ(FindOrLoadLinkItem(PS("res"), kGENH, &obj), 1);
  EXPECT_EQ(obj, W(res));
  EXPECT_EQ(FindOrLoadLinkItem(PS("res"), FourCC("ABCD"), &obj), 0);
  // The built-in class names come first; a load that enters the item is looked up again.
  LinkPanelHooks p = LinkPanel();
  p.classIdByName = [](ConstPStr n) { return Str(n) == "Knob" ? 7 : 0; };
  SetLinkPanelHooks(&p);
  EXPECT_EQ(FindOrLoadLinkItem(PS("Knob"), kGENH, &obj), 1);
  EXPECT_EQ(obj, 7u);
  static UHandle loadedRes = nullptr;
  loadedRes = res;
  LinkLoadMethods m{};
  m.load[kLinkClassGenH] = [](ConstPStr n, Path, Path, uInt32 requester, const void*, int32) {
    EXPECT_EQ(requester, kLinkClassNoneCode);
    return AddLinkEntry(loadedRes, n, nullptr, FourCC("GENH"), nullptr) == 0 ? 2 : 0;
  };
  SetLinkLoadMethods(&m);
  EXPECT_EQ(FindOrLoadLinkItem(PS("Loaded"), kGENH, &obj), 1);
  EXPECT_EQ(obj, W(res));
  CheckTable();
  int32 nb = 0;
  InternLinkName(PS("Absent"), &nb);
  EXPECT_EQ(LinkNameRefCount(nb), 0);
  ReleaseLinkName(nb);
}

// ---- reentrant clones ---------------------------------------------------------------
TEST_F(Linker, AReentrantCalleeGetsOneClonePerCallerAndRelinkingAsSharedDisposesThem) {
  UHandle callee = VI("Callee.vi");
  VIRec(callee)->flags |= kVIFlagReentrant;
  UHandle code = Handle();
  VIRec(callee)->codeHandle = code;
  ASSERT_EQ(AddLinkEntry(DS(callee), PS("Callee.vi"), nullptr, kVIDS, nullptr), 0);
  // The callee's own reference, which each clone gets at its own site.
  UHandle res = Handle();
  ASSERT_EQ(AddLinkEntry(res, PS("Res"), nullptr, kGENH, nullptr), 0);
  ASSERT_EQ(AddExtern(DS(callee), 528, PS("Callee.vi"), kVIDS, PS("Res"), nullptr, kGENH, nullptr, nullptr), 1);
  std::vector<UHandle> callers;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "Caller" + std::to_string(i) + ".vi";
    callers.push_back(VI(name));
    ASSERT_EQ(AddLinkEntry(DS(callers.back()), PS(name), nullptr, kVIDS, nullptr), 0);
    EXPECT_EQ(AddExtern(DS(callers.back()), 532, PS(name), kVIDS, PS("Callee.vi"), nullptr, kVIDS, nullptr, nullptr), 1);
  }
  const int32 entry = Entry("Callee.vi", kVIDS);
  ASSERT_EQ(ObjListCount(gLinkHeap, LE(entry).sites), 3);
  std::set<uInt32> clones;
  for (int i = 0; i < 3; ++i) {
    const uInt32 clone = Word(DS(callers[i]), 532);
    EXPECT_EQ(uInt32(ObjListGet(gLinkHeap, LE(entry).sites, i)), clone);
    ASSERT_NE(clone, W(DS(callee)));
    UHandle ch = reinterpret_cast<UHandle>(uintptr_t(clone));
    EXPECT_EQ(DSHdr(ch)->cloneCaller, reinterpret_cast<DataSpace>(DS(callers[i])));
    EXPECT_EQ(DSHdr(ch)->owner, callee);
    EXPECT_EQ(Word(ch, 528), W(res)) << "the clone's own site";
    clones.insert(clone);
  }
  EXPECT_EQ(clones.size(), 3u);
  CheckTable();
  RelinkReentrantCallers(callee, 0);
  EXPECT_FALSE(VIRec(callee)->flags & kVIFlagReentrant);
  EXPECT_EQ(ObjListCount(gLinkHeap, LE(entry).sites), 0);
  for (UHandle c : callers) EXPECT_EQ(Word(DS(c), 532), W(DS(callee)));
  RelinkReentrantCallers(callee, 1);
  EXPECT_TRUE(VIRec(callee)->flags & kVIFlagReentrant);
  EXPECT_EQ(ObjListCount(gLinkHeap, LE(entry).sites), 3);
  // Unlinking a caller disposes its clone.
  UnlinkItemByName(PS("Caller0.vi"), kVIDS);
  EXPECT_EQ(ObjListCount(gLinkHeap, LE(entry).sites), 2);
  UnlinkItemByName(PS("Callee.vi"), kVIDS);
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(Word(DS(callers[i]), 532), 0u);
  }
  CheckTable();
}

TEST_F(Linker, AFailedCloneFallsBackToTheSharedDataSpaceWithAnAlert) {
  UHandle callee = VI("Callee.vi");
  VIRec(callee)->flags |= kVIFlagReentrant;
  VIRec(callee)->codeHandle = Handle();
  UHandle types = VIRec(callee)->dsTypeMap;
  ASSERT_EQ(AddLinkEntry(DS(callee), PS("Callee.vi"), nullptr, kVIDS, nullptr), 0);
  UHandle caller = VI("Caller.vi");
  ASSERT_EQ(AddLinkEntry(DS(caller), PS("Caller.vi"), nullptr, kVIDS, nullptr), 0);
  VIRec(callee)->dsTypeMap = nullptr;  // no descriptor: no clone can be made
  ClearReports();
  EXPECT_EQ(AddExtern(DS(caller), 540, PS("Caller.vi"), kVIDS, PS("Callee.vi"), nullptr, kVIDS, nullptr, nullptr), 1);
  VIRec(callee)->dsTypeMap = types;
  EXPECT_EQ(Word(DS(caller), 540), W(DS(callee)));
  EXPECT_EQ(qxtest::Reports::Get().Count("Reentrant data space could not be Cloned!!"), 1) << ReportText();
  EXPECT_EQ(DSHdr(DS(callee))->cloneCaller, reinterpret_cast<DataSpace>(DS(caller)));
  CheckTable();
}

}  // namespace
