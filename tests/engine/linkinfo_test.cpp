// Link information: the writer's layout read back, the item and its
// references entered, redundant records merged, the loads and their
// results, renaming in place, and malformed resources refused before
// anything is entered or loaded.  Every test ends with a walk of the table.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/link/linkinfo.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/loaderr.h"
#include "engine/vi/virecord.h"
#include "engine_test_support.h"
#include "link_check.h"
#include "mgsource/byteorder.h"
#include "mgsource/heap_exhaust.h"
#include "mgsource/objlist.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "tools/linkinfowriter.h"
#include "tools/rsrcwriter.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

using pathtest::PS;

const uInt32 kQXIN = FourCC("QXIN"), kVIDS = FourCC("VIDS"), kFPHP = FourCC("FPHP"), kQXSB = FourCC("QXSB"),
             kGENH = FourCC("GENH"), kQXCC = FourCC("QXCC"), kXFun = FourCC("XFun");

// What the load methods were asked and answer.
struct Loads {
  std::vector<std::string> names;
  std::vector<std::vector<uChar>> typeBlocks;
  std::vector<bool> withPath;
  std::map<std::string, int32> answers;          // by name; others answer 0
  std::map<std::string, UHandle> enters;         // entered as GENH before answering
  UHandle grow = nullptr;                        // a handle each load grows, so that it moves
  std::vector<UHandle> bad;
};
Loads* gLoads = nullptr;

int32 TableLoad(ConstPStr name, Path, Path refPath, uInt32, const void* typeBlock, int32) {
  const std::string n(reinterpret_cast<const char*>(name + 1), name[0]);
  gLoads->names.push_back(n);
  gLoads->withPath.push_back(refPath != nullptr);
  std::vector<uChar> tb;
  if (typeBlock) tb.assign(static_cast<const uChar*>(typeBlock),
                           static_cast<const uChar*>(typeBlock) + GetNative16(typeBlock));
  gLoads->typeBlocks.push_back(tb);
  if (gLoads->grow) AZSetHandleSize(gLoads->grow, AZGetHandleSize(gLoads->grow) + 65536);
  if (gLoads->enters.count(n)) AddLinkEntry(gLoads->enters[n], name, nullptr, kGENH, nullptr);
  return gLoads->answers.count(n) ? gLoads->answers[n] : 0;
}

// A reference record; without a path it records the form of no path.
LinkInfoRef Ref(uInt32 cls, const std::string& name, std::vector<int32> sites, std::vector<uChar> tb = {},
                std::vector<uChar> path = liw::FlatPath(nullptr)) {
  LinkInfoRef r;
  r.classCode = cls;
  r.name = name;
  r.sites = std::move(sites);
  r.typeBlock = std::move(tb);
  r.flatPath = std::move(path);
  return r;
}

LinkInfoRecords Info(uInt32 cls, const std::string& name, std::vector<LinkInfoRef> refs = {}) {
  LinkInfoRecords i;
  i.classCode = cls;
  i.name = name;
  i.refs = std::move(refs);
  return i;
}

class LinkInfo : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(linkcheck::StartLinker());
    gLoads = &loads_;
    LinkerServices s{};
    s.setVIBad = [](UHandle vi) { gLoads->bad.push_back(vi); };
    SetLinkerServices(&s);
    LinkLoadMethods m{};
    for (auto& l : m.load) l = &TableLoad;
    SetLinkLoadMethods(&m);
    gQXLoadErrorCode = 0;
  }
  void TearDown() override {
    for (UHandle h : handles_) AZDisposeHandle(h);
    for (Path p : paths_) FDisposePath(p);
    vis_.Clear();
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
    SetLinkLoadMethods(nullptr);
    gLoads = nullptr;
    EngineTest::TearDown();
  }

  UHandle VI(const std::string& name) {
    UHandle vi = vis_.New(name);
    EXPECT_NE(vi, nullptr);
    return vi;
  }
  static UHandle DS(UHandle vi) { return VIRec(vi)->dataSpace; }
  UHandle Handle(const std::vector<uChar>& bytes) {
    UHandle h = AZNewHandle(int32(bytes.size()));
    if (h && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    handles_.push_back(h);
    return h;
  }
  UHandle Res() {
    UHandle h = AZNewHClr(4);
    handles_.push_back(h);
    return h;
  }
  Path MakePath(std::vector<const char*> comps) {
    Path p = FEmptyPath(nullptr);
    FSetPathType(p, 1);
    for (const char* c : comps) FAppendName(p, PS(c));
    paths_.push_back(p);
    return p;
  }
  int32 Read(const void* item, const LinkInfoRecords& info, uInt32 type, MgErr* err = nullptr, Path base = nullptr) {
    std::vector<uChar> bytes = liw::Write(info);
    EXPECT_FALSE(bytes.empty());
    return ReadLinkInfo(item, Handle(bytes), base, type, err);
  }
  static int32 Entry(const std::string& name, uInt32 cls) {
    int32 e = 0;
    LookupLinkItem(PS(name), cls, &e);
    return e;
  }
  static std::vector<int32> OwnRefs(int32 e) {
    std::vector<int32> out;
    for (int32 r = LE(e).ownRefs; r; r = LE(r).ownRefs) out.push_back(r);
    return out;
  }
  static std::vector<int32> Sites(int32 ref) {
    std::vector<int32> out;
    for (int32 i = 0; i < ObjListCount(gLinkHeap, LE(ref).sites); ++i)
      out.push_back(ObjListGet(gLinkHeap, LE(ref).sites, i));
    return out;
  }
  static std::string RefName(int32 e) {
    ConstPStr n = LinkNameOf(LE(e).name);
    return std::string(reinterpret_cast<const char*>(n + 1), n[0]);
  }
  static std::vector<uChar> TypeBlockOf(int32 e) {
    if (!LE(e).typeBlock) return {};
    const uChar* at = *gLinkNameHeap + LE(e).typeBlock;
    return std::vector<uChar>(at, at + GetNative16(at));
  }
  static uInt32 Word(UHandle h, int32 at) { return GetNative32(*h + at); }
  static uInt32 W(const void* p) { return uInt32(uintptr_t(p)); }

  // Every used record with its names, lists and blocks, and the free bytes
  // of both heaps: equal snapshots are the same table.
  static std::string Snapshot() {
    std::string s;
    const int32 cap = LinkTableCapacity();
    for (int32 i = 0; i < cap; ++i) {
      const LinkEntry e = LE(i);
      if (e.classFlags == kLinkRecordFree) continue;
      s += std::to_string(i) + ":" + std::to_string(e.classFlags) + "," + std::to_string(e.owner) + "," +
           std::to_string(e.referrers) + "," + std::to_string(e.ownRefs) + "," + std::to_string(e.chain);
      if (i && e.name) s += "," + RefName(i);
      if (i && e.sites)
        for (int32 v : Sites(i)) s += "," + std::to_string(v);
      s += ";";
    }
    int32 nameBlocks = 0;
    for (int32 b = 0; b < kLinkBucketCount; ++b)
      for (int32 n = GetNative32(*gLinkNameHeap + OHWord(gLinkNameHeap, kOHExtension) + 4 * b); n;
           n = GetNative32(*gLinkNameHeap + n + kNameBlockNext))
        ++nameBlocks;
    return s + "names " + std::to_string(nameBlocks);
  }
  static void CheckTable() { EXPECT_EQ(linkcheck::Walk(), ""); }

  Loads loads_;
  std::vector<UHandle> handles_;
  linkcheck::TestVIs vis_;
  std::vector<Path> paths_;
};

// ---- the format ---------------------------------------------------------------------
TEST_F(LinkInfo, WhatTheWriterWritesReadsBackRecordForRecord) {
  Path p = MakePath({"sub", "Sub.vi"});
  const std::vector<uChar> connector = tdb::Cluster({tdb::I32(), tdb::DBL()}).Bytes();
  ASSERT_EQ(connector.size() % 2, 0u);
  const LinkInfoRecords cases[] = {
      Info(kQXIN, "Main.vi", {Ref(kQXIN, "Sub.vi", {0}, connector, liw::FlatPath(p)), Ref(kQXCC, "Ctl", {})}),
      Info(kVIDS, "Main.vi",
           {Ref(kVIDS, "Sub.vi", {540, 600}), Ref(kGENH, "Res", {544}, liw::GenhBlock(FourCC("TEXT"), 0x01020304)),
            Ref(kXFun, "lib:fn", {548}, {}, liw::FlatPath(p)), Ref(kQXSB, "S", {552})}),
      Info(kFPHP, "ab", {Ref(kQXCC, "Type def.ctl", {100, 200, 300})}),
      Info(kQXSB, "Subr", {Ref(kGENH, "x", {56}, liw::GenhBlock(FourCC("abcd"), 7))}),
      Info(kQXCC, "", {}),
  };
  const uInt32 types[] = {kLinkInfoVI, kLinkInfoDataSpace, kLinkInfoPanel, kLinkInfoSubr, kLinkInfoVI};
  LinkInfoRecords withWords = cases[0];
  withWords.itemWords = {0, 1, 0, 2};
  for (size_t k = 0; k <= std::size(cases); ++k) {
    const LinkInfoRecords& c = k < std::size(cases) ? cases[k] : withWords;
    SCOPED_TRACE(c.name + " " + std::to_string(k));
    const std::vector<uChar> bytes = liw::Write(c);
    ASSERT_FALSE(bytes.empty());
    LinkInfoRecords back;
    int32 used = 0;
    const char* why = nullptr;
    ASSERT_EQ(ParseLinkInfo(bytes.data(), int32(bytes.size()), types[k % std::size(types)], &back, &used, &why),
              kNoErr)
        << why;
    EXPECT_EQ(back, c);
    EXPECT_EQ(used, int32(bytes.size()));
    EXPECT_EQ(liw::Write(back), bytes);
  }
}

TEST_F(LinkInfo, NamesAndPathsArePaddedToEvenOffsets) {
  struct Case {
    const char* name;
    int32 nameBytes;  // length byte, characters and pad
  } cases[] = {{"", 2}, {"a", 2}, {"ab", 4}, {"abc", 4}, {"abcd", 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    liw::Layout lay;
    const std::vector<uChar> bytes = liw::Write(Info(kVIDS, c.name, {Ref(kVIDS, c.name, {540})}), &lay);
    EXPECT_EQ(lay.countAt, kLinkInfoNameOffset + c.nameBytes + 2);
    EXPECT_EQ(lay.refAt[0], lay.countAt + 4);
    if (c.nameBytes > int32(std::strlen(c.name)) + 1) {
      EXPECT_EQ(bytes[size_t(kLinkInfoNameOffset + c.nameBytes - 1)], 0);
    }
  }
  // A flattened path of odd length is followed by one pad byte, an even one by none.
  for (const char* comp : {"ab", "abc"}) {
    Path p = MakePath({comp});
    const std::vector<uChar> flat = liw::FlatPath(p);
    liw::Layout lay;
    const std::vector<uChar> bytes = liw::Write(Info(kVIDS, "x", {Ref(kVIDS, "y", {}, {}, flat)}), &lay);
    const int32 end = lay.pathAt[0] + int32(flat.size());
    EXPECT_EQ(lay.endAt, end + (end & 1)) << comp;
    EXPECT_EQ(lay.endAt % 2, 0);
    if (end & 1) { EXPECT_EQ(bytes[size_t(end)], 0); }
    LinkInfoRecords back;
    ASSERT_EQ(ParseLinkInfo(bytes.data(), int32(bytes.size()), kLinkInfoDataSpace, &back), kNoErr);
    EXPECT_EQ(back.refs[0].flatPath, flat);
  }
}

TEST_F(LinkInfo, ReadingEntersTheItemAndEachReferenceWithItsSitesBlockAndPath) {
  UHandle vi = VI("Main.vi");
  Path base = MakePath({"vis", "Main.vi"});
  Path target = MakePath({"vis", "Lib", "S.qsb"});
  const LinkInfoRecords info =
      Info(kVIDS, "Main.vi",
           {Ref(kGENH, "Res", {540, 544}, liw::GenhBlock(FourCC("TEXT"), 0x11223344)),
            Ref(kQXSB, "S.qsb", {548}, {}, liw::FlatPath(target))});
  MgErr err = 1;
  EXPECT_EQ(Read(DS(vi), info, kLinkInfoDataSpace, &err, base), 0);  // both loads answered 0
  EXPECT_EQ(err, kNoErr);
  EXPECT_EQ(gQXLoadErrorCode, 0);
  const int32 e = Entry("Main.vi", kVIDS);
  ASSERT_NE(e, 0);
  EXPECT_EQ(LE(e).owner, W(DS(vi)));
  EXPECT_EQ(LE(e).path, base);
  EXPECT_EQ(ObjListCount(gLinkHeap, LE(e).sites), 0);  // the empty clone list
  const std::vector<int32> refs = OwnRefs(e);
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_EQ(RefName(refs[0]), "Res");
  EXPECT_EQ(LE(refs[0]).classFlags, (uInt32(kLinkClassGenH) << 24) | 0x60);
  EXPECT_EQ(Sites(refs[0]), (std::vector<int32>{540, 544}));
  EXPECT_EQ(OHBlockSize(gLinkHeap, LE(refs[0]).sites), 4 + 4 * 2);  // 4s + 4 bytes
  // The GENH block: length 10, the type's characters unswapped, the id native.
  const std::vector<uChar> genh = TypeBlockOf(refs[0]);
  ASSERT_EQ(genh.size(), 10u);
  EXPECT_EQ(GetNative16(genh.data()), 10);
  EXPECT_EQ(std::memcmp(genh.data() + 2, "TEXT", 4), 0);
  EXPECT_EQ(GetNative32(genh.data() + 6), 0x11223344u);
  EXPECT_EQ(LE(refs[0]).path, nullptr);
  EXPECT_EQ(LE(refs[1]).typeBlock, 0);
  ASSERT_NE(LE(refs[1]).path, nullptr);
  EXPECT_EQ(FPathCmp(LE(refs[1]).path, target), 0);
  // The loads were asked with the names, the requester's block and the recorded path.
  EXPECT_EQ(loads_.names, (std::vector<std::string>{"Res", "S.qsb"}));
  EXPECT_EQ(loads_.typeBlocks[0], genh);
  EXPECT_EQ(loads_.withPath, (std::vector<bool>{false, true}));
  CheckTable();
}

TEST_F(LinkInfo, AnItemWithoutReferencesIsEnteredResolvedAndAnswersOne) {
  UHandle caller = VI("Caller.vi");
  UHandle sub = VI("Sub.vi");
  // The caller's data-space reference waits for Sub.vi's data space.
  EXPECT_EQ(Read(DS(caller), Info(kVIDS, "Caller.vi", {Ref(kVIDS, "sub.VI", {540})}), kLinkInfoDataSpace), 0);
  EXPECT_EQ(Word(DS(caller), 540), 0u);
  EXPECT_EQ(Read(DS(sub), Info(kVIDS, "Sub.vi"), kLinkInfoDataSpace), 1);
  const int32 e = Entry("Sub.vi", kVIDS);
  ASSERT_NE(e, 0);
  EXPECT_NE(LE(e).referrers, 0);
  EXPECT_EQ(Word(DS(caller), 540), W(DS(sub)));
  CheckTable();
}

// ---- type blocks --------------------------------------------------------------------
TEST_F(LinkInfo, ASubVIReferenceWithoutConnectorTypeMarksTheCallerBad) {
  const std::vector<uChar> connector = tdb::Cluster({tdb::I32()}).Bytes();
  for (bool recorded : {true, false}) {
    SCOPED_TRACE(recorded);
    const std::string callerName = recorded ? "C1.vi" : "C2.vi", subName = recorded ? "S1.vi" : "S2.vi";
    UHandle caller = VI(callerName), sub = VI(subName);
    ASSERT_EQ(AZPtrToHand(connector.data(), &VIRec(sub)->connPane, int32(connector.size())), kNoErr);
    ASSERT_EQ(AddLinkEntry(sub, PS(subName), nullptr, kQXIN, nullptr), 0);
    loads_.bad.clear();
    EXPECT_EQ(Read(caller, Info(kQXIN, callerName, {Ref(kQXIN, subName, {0}, recorded ? connector : std::vector<uChar>{})}),
                   kLinkInfoVI),
              1);
    const int32 ref = OwnRefs(Entry(callerName, kQXIN))[0];
    EXPECT_EQ(LE(ref).typeBlock == 0, !recorded);
    EXPECT_EQ((VIRec(caller)->flags & kVIFlagSubVIMissing) != 0, !recorded);
    EXPECT_EQ(loads_.bad.empty(), recorded);
    CheckTable();
  }
}

// ---- redundant records --------------------------------------------------------------
TEST_F(LinkInfo, RedundantRecordsMergeTheirSitesAndBoundSitesArePatchedAtOnce) {
  UHandle caller = VI("Caller.vi");
  UHandle res = Res();
  ASSERT_EQ(AddLinkEntry(res, PS("Res"), nullptr, kGENH, nullptr), 0);
  Path p = MakePath({"r"});
  const LinkInfoRecords info = Info(
      kVIDS, "Caller.vi",
      {Ref(kGENH, "Res", {540}), Ref(kGENH, "RES", {544, 540}, {}, liw::FlatPath(p)), Ref(kGENH, "res", {548}),
       Ref(kXFun, "Res", {552}), Ref(kGENH, "Missing", {560}, liw::GenhBlock(FourCC("abcd"), 3)),
       Ref(kGENH, "Missing", {564}, {}, liw::FlatPath(p))});
  EXPECT_EQ(Read(DS(caller), info, kLinkInfoDataSpace), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("Purging redundant reference"), 3);
  const std::vector<int32> refs = OwnRefs(Entry("Caller.vi", kVIDS));
  ASSERT_EQ(refs.size(), 3u);
  EXPECT_EQ(Sites(refs[0]), (std::vector<int32>{540, 544, 548}));
  for (int32 site : {540, 544, 548}) EXPECT_EQ(Word(DS(caller), site), W(res)) << site;
  // The redundant record of a missing target loads with the first record's
  // block and no path.
  EXPECT_EQ(Sites(refs[2]), (std::vector<int32>{560, 564}));
  EXPECT_EQ(loads_.names, (std::vector<std::string>{"Res", "Missing", "Missing"}));
  EXPECT_EQ(loads_.typeBlocks[2], liw::GenhBlock(FourCC("abcd"), 3));
  EXPECT_EQ(loads_.withPath[2], false);
  CheckTable();
}

// ---- results ------------------------------------------------------------------------
TEST_F(LinkInfo, LoadResultsDecideWhatIsLoadedAndReturned) {
  struct Case {
    const char* what;
    std::map<std::string, int32> answers;
    std::vector<std::string> loaded;
    size_t refs;   // references entered
    int32 result;
  } cases[] = {
      {"none found", {}, {"A", "B", "C"}, 3, 0},
      {"6 stops later loads", {{"A", 6}}, {"A"}, 3, 6},
      {"6 after a 2", {{"A", 2}, {"B", 6}}, {"A", "B"}, 3, 6},
      {"5 stops reading", {{"B", 5}}, {"A", "B"}, 2, 5},
      {"last load wins", {{"A", 2}, {"C", 1}}, {"A", "B", "C"}, 3, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "Item" + std::to_string(n++);
    UHandle vi = VI(name);
    loads_ = Loads{};
    loads_.answers = c.answers;
    EXPECT_EQ(Read(DS(vi), Info(kVIDS, name, {Ref(kGENH, "A", {540}), Ref(kGENH, "B", {544}), Ref(kGENH, "C", {548})}),
                   kLinkInfoDataSpace),
              c.result);
    EXPECT_EQ(loads_.names, c.loaded);
    const std::vector<int32> refs = OwnRefs(Entry(name, kVIDS));
    EXPECT_EQ(refs.size(), c.refs);
    for (int32 r : refs) EXPECT_TRUE(LE(r).classFlags & kLinkFlagUnresolved);  // left waiting
    CheckTable();
  }
}

TEST_F(LinkInfo, APresentTargetWithARecordedPathCountsAsOneAndALoadedOneIsBound) {
  UHandle vi = VI("Main.vi");
  UHandle present = Res(), loaded = Res();
  ASSERT_EQ(AddLinkEntry(present, PS("Present"), nullptr, kGENH, nullptr), 0);
  Path p = MakePath({"x"});
  loads_.enters["Loaded"] = loaded;
  loads_.answers["Loaded"] = 2;
  EXPECT_EQ(Read(DS(vi), Info(kVIDS, "Main.vi", {Ref(kGENH, "Absent", {540}), Ref(kGENH, "Present", {544}, {}, liw::FlatPath(p))}),
                 kLinkInfoDataSpace),
            1);
  EXPECT_EQ(Word(DS(vi), 544), W(present));
  UHandle vi2 = VI("Two.vi");
  EXPECT_EQ(Read(DS(vi2), Info(kVIDS, "Two.vi", {Ref(kGENH, "Loaded", {540}), Ref(kGENH, "Present", {544})}),
                 kLinkInfoDataSpace),
            2);
  EXPECT_EQ(Word(DS(vi2), 540), W(loaded));
  EXPECT_EQ(Word(DS(vi2), 544), W(present));
  CheckTable();
}

TEST_F(LinkInfo, AnItemAlreadyInTheTableReturnsZeroAndEntersNothing) {
  UHandle vi = VI("Main.vi");
  const uInt32 types[] = {kLinkInfoVI, kLinkInfoDataSpace, kLinkInfoPanel, kLinkInfoSubr};
  const uInt32 classes[] = {kQXIN, kVIDS, kFPHP, kQXSB};
  const int32 errors[] = {17, 16, 0, 0};
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(AddLinkEntry(vi, PS("Dup"), nullptr, classes[k], nullptr), 0);
    const std::string before = Snapshot();
    gQXLoadErrorCode = 0;
    ClearReports();
    MgErr err = 0;
    EXPECT_EQ(Read(vi, Info(classes[k], "DUP", {Ref(kFPHP, "Other", {540})}), types[k], &err), 0);
    EXPECT_EQ(err, kArgErr);
    EXPECT_EQ(gQXLoadErrorCode, errors[k]);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(loads_.names.empty());
    EXPECT_EQ(qxtest::Reports::Get().Count("in the link table already"), 1);
    EXPECT_EQ(qxtest::Reports::Get().Count("linkinfo.cpp"), 0);  // no assertion failure
    CheckTable();
  }
}

// ---- renaming -----------------------------------------------------------------------
TEST_F(LinkInfo, RenamingKeepsEveryLaterRecordIntact) {
  Path p = MakePath({"a", "bc"});
  const LinkInfoRecords info =
      Info(kQXIN, "Main.vi", {Ref(kQXIN, "Sub.vi", {0}, tdb::Cluster({tdb::I32()}).Bytes(), liw::FlatPath(p)),
                              Ref(kQXCC, "T", {4, 8})});
  const std::vector<uChar> bytes = liw::Write(info);
  for (const char* to : {"Main.vi", "M", "Ma", "A much longer name.vi", "A much longer name!.vi", ""}) {
    SCOPED_TRACE(to);
    UHandle h = Handle(bytes);
    ASSERT_EQ(RenameLinkInfoItem(h, PS(to)), kNoErr);
    LinkInfoRecords expect = info;
    expect.name = to;
    const std::vector<uChar> want = liw::Write(expect);
    ASSERT_EQ(AZGetHandleSize(h), int32(want.size()));
    EXPECT_EQ(std::memcmp(*h, want.data(), want.size()), 0);
    LinkInfoRecords back;
    ASSERT_EQ(ParseLinkInfo(*h, AZGetHandleSize(h), kLinkInfoVI, &back), kNoErr);
    EXPECT_EQ(back, expect);
  }
  // A handle without a whole item record is refused and left alone.
  for (size_t n : {size_t(0), size_t(6), size_t(9)}) {
    UHandle h = Handle(std::vector<uChar>(bytes.begin(), bytes.begin() + long(n)));
    EXPECT_EQ(RenameLinkInfoItem(h, PS("Other")), kArgErr) << n;
    EXPECT_EQ(AZGetHandleSize(h), int32(n));
  }
  std::vector<uChar> wrongTag = bytes;
  wrongTag[1] = 2;
  EXPECT_EQ(RenameLinkInfoItem(Handle(wrongTag), PS("Other")), kArgErr);
}

TEST_F(LinkInfo, ARenamedResourceOfAFileIsReadAndReleasedWithoutAChange) {
  const LinkInfoRecords info = Info(kVIDS, "Stored.vi", {Ref(kGENH, "Res", {540}), Ref(kGENH, "Other", {544})});
  ASSERT_EQ(RInitResources(), kNoErr);
  rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
  w.Add(kLinkInfoDataSpace, 1, liw::Write(info));
  const rsrcw::Bytes file = w.Write();
  UHandle fh = AZNewHandle(int32(file.size()));
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef ref = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, fh), kNoErr);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kLinkInfoDataSpace, 1, &h), kNoErr);
  ASSERT_EQ(RenameLinkInfoItem(h, PS("Loaded under another name.vi")), kNoErr);
  UHandle vi = VI("Loaded under another name.vi");
  // Every load moves the resource's block; the records after it still read right.
  loads_.grow = h;
  EXPECT_EQ(ReadLinkInfo(DS(vi), h, nullptr, kLinkInfoDataSpace, nullptr), 0);
  EXPECT_EQ(loads_.names, (std::vector<std::string>{"Res", "Other"}));
  const int32 e = Entry("Loaded under another name.vi", kVIDS);
  ASSERT_NE(e, 0);
  EXPECT_EQ(Entry("Stored.vi", kVIDS), 0);
  const std::vector<int32> refs = OwnRefs(e);
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_EQ(Sites(refs[1]), std::vector<int32>{544});
  EXPECT_EQ(RRelease(h), kNoErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  CheckTable();
}

// ---- malformed input ----------------------------------------------------------------
TEST_F(LinkInfo, MalformedResourcesFailBeforeAnyLoadAndLeaveTheTableAsItWas) {
  Path p = MakePath({"sub"});
  const LinkInfoRecords good =
      Info(kVIDS, "Main.vi", {Ref(kGENH, "Res", {540}, liw::GenhBlock(FourCC("TEXT"), 1), liw::FlatPath(p)),
                              Ref(kVIDS, "Sub.vi", {544})});
  liw::Layout lay;
  const std::vector<uChar> bytes = liw::Write(good, &lay);
  auto with = [&](auto edit) {
    std::vector<uChar> b = bytes;
    edit(b);
    return b;
  };
  const int32 nameAt = lay.refAt[0] + 6, sitesAt = nameAt + 4;
  struct Case {
    const char* what;
    std::vector<uChar> bytes;
    uInt32 type;
  } cases[] = {
      {"item class of another resource", bytes, kLinkInfoVI},
      {"item class of another resource (panel)", bytes, kLinkInfoPanel},
      {"first tag not 1", with([](auto& b) { b[1] = 2; }), kLinkInfoDataSpace},
      {"unknown item class", with([](auto& b) { b[2] = 'Z'; }), kLinkInfoDataSpace},
      {"unknown reference class", with([&](auto& b) { b[size_t(lay.refAt[1] + 2)] = 'Z'; }), kLinkInfoDataSpace},
      {"reference class the item cannot hold",
       liw::Write(Info(kVIDS, "Main.vi", {Ref(kQXIN, "Sub.vi", {540})})), kLinkInfoDataSpace},
      {"count one more", with([&](auto& b) { PutBE32(&b[size_t(lay.countAt)], 3); }), kLinkInfoDataSpace},
      {"count one less", with([&](auto& b) { PutBE32(&b[size_t(lay.countAt)], 1); }), kLinkInfoDataSpace},
      {"site count past the end", with([&](auto& b) { PutBE32(&b[size_t(sitesAt)], 0x40000001); }), kLinkInfoDataSpace},
      {"site count overflowing", with([&](auto& b) { PutBE32(&b[size_t(sitesAt)], 0xFFFFFFFF); }), kLinkInfoDataSpace},
      {"name past the end", with([&](auto& b) { b.resize(size_t(nameAt + 2)); b[size_t(nameAt)] = 200; }),
       kLinkInfoDataSpace},
      {"bad path", with([&](auto& b) { PutBE32(&b[size_t(lay.pathAt[0] + 4)], 0x7FFFFFF0); }), kLinkInfoDataSpace},
      {"path not flattened", with([&](auto& b) { b[size_t(lay.pathAt[0])] = 'Q'; }), kLinkInfoDataSpace},
      {"GENH key of the wrong length", with([&](auto& b) { PutBE16(&b[size_t(lay.pathAt[0] - 10)], 3); }),
       kLinkInfoDataSpace},
      {"missing end tag", std::vector<uChar>(bytes.begin(), bytes.end() - 2), kLinkInfoDataSpace},
      {"wrong end tag", with([](auto& b) { b.back() = 4; }), kLinkInfoDataSpace},
      {"type block on a data-space item", with([&](auto&) {}), kLinkInfoDataSpace},
      {"connector not a type descriptor", {}, kLinkInfoVI},
  };
  // A cluster connector whose element count runs past its block.
  {
    liw::Layout vl;
    const std::vector<uChar> cluster = tdb::Cluster({tdb::I32()}).Bytes();
    std::vector<uChar>& b = cases[17].bytes;
    b = liw::Write(Info(kQXIN, "Main.vi", {Ref(kQXIN, "Sub.vi", {0}, cluster)}), &vl);
    const size_t blockAt = size_t(vl.pathAt[0]) - cluster.size();  // the count word, then the TD after its size
    ASSERT_EQ(GetBE16(&b[blockAt]), cluster.size() / 2 - 1);
    PutBE16(&b[blockAt + 4], 9);
  }
  // The data-space item with a type block: its count word set to 1 with two bytes inserted.
  {
    std::vector<uChar>& b = cases[16].bytes;
    const size_t cAt = size_t(lay.countAt - 2);
    PutBE16(&b[cAt], 1);
    b.insert(b.begin() + long(cAt) + 2, {0, 0});
  }
  UHandle vi = VI("Main.vi");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.bytes.empty());
    const std::string before = Snapshot();
    gQXLoadErrorCode = 0;
    loads_ = Loads{};
    ClearReports();
    MgErr err = 0;
    // The handle is exactly as long as the bytes, so a read past them is seen.
    EXPECT_EQ(ReadLinkInfo(c.type == kLinkInfoVI ? static_cast<void*>(vi) : static_cast<void*>(DS(vi)),
                           Handle(c.bytes), nullptr, c.type, &err),
              0);
    EXPECT_EQ(err, kArgErr);
    EXPECT_EQ(gQXLoadErrorCode, LinkInfoLoadError(c.type));
    EXPECT_TRUE(loads_.names.empty());
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(qxtest::Reports::Get().Count("malformed link information"), 1);
    EXPECT_EQ(qxtest::Reports::Get().Count("linkinfo.cpp"), 0);
    CheckTable();
  }
  EXPECT_EQ(LinkInfoLoadError(kLinkInfoVI), 17);
  EXPECT_EQ(LinkInfoLoadError(kLinkInfoDataSpace), 16);
  EXPECT_EQ(LinkInfoLoadError(kLinkInfoPanel), 2);
  EXPECT_EQ(LinkInfoLoadError(kLinkInfoSubr), 0);
  // Every cut of a good resource is refused.
  for (size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_NE(ParseLinkInfo(bytes.data(), int32(n), kLinkInfoDataSpace, nullptr), kNoErr) << n;
  }
  EXPECT_EQ(ReadLinkInfo(DS(vi), nullptr, nullptr, kLinkInfoDataSpace, nullptr), 0);
  CheckTable();
}

TEST_F(LinkInfo, AMemoryFailureAtEachAllocationGivesTwentyThreeAndTheSameTable) {
  UHandle vi = VI("Main.vi");
  UHandle res = Res();
  ASSERT_EQ(AddLinkEntry(res, PS("Res"), nullptr, kGENH, nullptr), 0);
  Path p = MakePath({"lib", "x"});
  const LinkInfoRecords info =
      Info(kVIDS, "Main.vi", {Ref(kGENH, "Res", {540}, liw::GenhBlock(FourCC("TEXT"), 0), liw::FlatPath(p)),
                              Ref(kGENH, "RES", {544}), Ref(kGENH, "Gone", {548}, {}, liw::FlatPath(p))});
  const std::vector<uChar> bytes = liw::Write(info);
  const std::string before = Snapshot();
  int failures = 0;
  for (int32 n = 1; n < 40; ++n) {
    SCOPED_TRACE(n);
    UHandle h = Handle(bytes);
    gQXLoadErrorCode = 0;
    MgErr err = 0;
    MemFailNthAllocation(n);
    const int32 r = ReadLinkInfo(DS(vi), h, nullptr, kLinkInfoDataSpace, &err);
    MemFailNthAllocation(0);
    MemFullReset();
    CheckTable();
    if (err == kNoErr) {
      EXPECT_EQ(r, 0);
      UnlinkItemByName(PS("Main.vi"), kVIDS);
      break;
    }
    ++failures;
    EXPECT_EQ(err, kMemFullErr);
    EXPECT_EQ(gQXLoadErrorCode, kLoadErrMemory);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Word(DS(vi), 540), 0u);
  }
  EXPECT_GE(failures, 4);  // both paths, the path copy and the table after loads
  // Full NAME and LKHP heaps.
  for (ObjHeap heap : {gLinkHeap, gLinkNameHeap}) {
    for (uInt32 room : {0u, 16u, 24u, 40u}) {
      SCOPED_TRACE(std::string(heap == gLinkHeap ? "LKHP" : "NAME") + " room " + std::to_string(room));
      std::vector<int32> fillers;
      const uInt32 old = heapexhaust::Exhaust(heap, 9, &fillers, room);
      const std::string full = Snapshot();
      gQXLoadErrorCode = 0;
      MgErr err = 0;
      ReadLinkInfo(DS(vi), Handle(bytes), nullptr, kLinkInfoDataSpace, &err);
      heapexhaust::Restore(old);
      CheckTable();
      if (err == kMemFullErr) {
        EXPECT_EQ(gQXLoadErrorCode, kLoadErrMemory);
        EXPECT_EQ(Snapshot(), full);
      } else {
        EXPECT_EQ(err, kNoErr);
        UnlinkItemByName(PS("Main.vi"), kVIDS);
      }
      for (int32 f : fillers) OHDisposeBlock(heap, f);
      CheckTable();
    }
  }
}

}  // namespace
