// Changing resource files: adding, removing, attributes, unique ids and the
// compacting write-back.
#include "rsrc_test_support.h"

using namespace rsrctest;
using rsrcw::BytesOf;

namespace {

class RsrcEdit : public RsrcTest {
 protected:
  // A handle holding the text.
  static UHandle H(const std::string& text) {
    UHandle h = AZNewHandle(int32(text.size()));
    if (!text.empty()) std::memcpy(*h, text.data(), text.size());
    return h;
  }
  // A file of three resources of one type and one of another, the last
  // record the biggest.
  static rsrcw::Writer Three() {
    rsrcw::Writer w(kAPPL, kQNLX);
    w.Add(kTEXT, 1, BytesOf("first"), "one");
    w.Add(kTEXT, 2, BytesOf("second"), "two");
    w.Add(kTEXT, 3, Bytes(6000, 'c'), "three");
    w.Add(kDATA, 1, BytesOf("data"));
    return w;
  }
  static uInt32 At32(const Bytes& b, size_t at) { return GetBE32(&b[at]); }

  struct Spec {
    ResType type;
    int32 id;
    std::string data, name;
    int32 attrs;
  };
  // The file holds exactly these resources, and its data section and map
  // fill it with nothing between or after them.
  void ExpectHolds(const std::string& rel, const std::vector<Spec>& specs) {
    Bytes b = Get(rel);
    ASSERT_GE(b.size(), 32u);
    uInt64 records = 0;
    for (const Spec& s : specs) records += rsrcfmt::RecordSize(s.data.size());
    EXPECT_EQ(At32(b, rsrcfmt::kHdrDataOffset), 32u);
    EXPECT_EQ(At32(b, rsrcfmt::kHdrDataSize), records);
    EXPECT_EQ(At32(b, rsrcfmt::kHdrMapOffset), 32 + records);
    EXPECT_EQ(b.size(), 32 + records + At32(b, rsrcfmt::kHdrMapSize));
    RsrcFileRef ref = Open(rel, kRsrcReadOnly);
    ASSERT_NE(ref, 0u);
    int32 total = 0;
    for (int32 t = 1;; ++t) {
      ResType type = 0;
      if (RGetIndType(ref, &type, t) != kNoErr) break;
      int32 n = 0;
      ASSERT_EQ(RCount(ref, type, &n), kNoErr);
      total += n;
    }
    EXPECT_EQ(total, int32(specs.size()));
    for (const Spec& s : specs) {
      UHandle h = nullptr;
      ASSERT_EQ(RGet(ref, s.type, s.id, &h), kNoErr) << s.id;
      EXPECT_EQ(Text(h), s.data);
      Str255 name;
      int32 attrs = -1;
      ASSERT_EQ(RGetInfo(h, nullptr, nullptr, name), kNoErr);
      EXPECT_EQ(Str(name), s.name);
      ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
      EXPECT_EQ(attrs, s.attrs);
    }
    RCloseFile(ref);
  }
};

TEST_F(RsrcEdit, DuplicateIdIsRefusedAndNothingChanges) {
  Bytes bytes = Three().Write();
  Put("f.rsc", bytes);
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  UHandle h = H("dup");
  EXPECT_EQ(RAdd(h, ref, kTEXT, 2, PS("again")), kCantAddRsrcErr);
  EXPECT_EQ(RAdd(nullptr, ref, kTEXT, 9, nullptr), kCantAddRsrcErr);
  EXPECT_EQ(RFindByHandle(h, nullptr, nullptr, nullptr), kRsrcNotFoundErr);
  // A handle that already belongs to a file can't be added again.
  UHandle loaded = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 1, &loaded), kNoErr);
  EXPECT_EQ(RAdd(loaded, ref, kTEXT, 10, nullptr), kCantAddRsrcErr);
  EXPECT_EQ(RAdd(h, 0x777, kTEXT, 10, nullptr), kRsrcFileNotFoundErr);
  const uInt64 before = Written();
  EXPECT_EQ(RUpdateFile(ref), kNoErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Written(), before);
  EXPECT_EQ(Get("f.rsc"), bytes);
  AZDisposeHandle(h);
}

TEST_F(RsrcEdit, ReadOnlyFilesRefuseChanges) {
  Bytes bytes = Three().Write();
  Put("f.rsc", bytes);
  RsrcFileRef ref = Open("f.rsc", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  UHandle h = H("new"), loaded = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 1, &loaded), kNoErr);
  EXPECT_EQ(RAdd(h, ref, kTEXT, 9, nullptr), kFilePermErr);
  EXPECT_EQ(RRemove(loaded, ref), kFilePermErr);
  EXPECT_EQ(RSetAttrs(loaded, 0), kFilePermErr);
  EXPECT_EQ(RChanged(loaded), kFilePermErr);
  EXPECT_EQ(RWrite(loaded), kNoErr);  // nothing to write
  Capture capture;
  EXPECT_EQ(RPreAllocFile(ref, 100), kFilePermErr);
  EXPECT_NE(capture.Debug().find("Tried to call RPreAllocFile on a readonly file"), std::string::npos);
  EXPECT_EQ(RUpdateFile(ref), kNoErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Get("f.rsc"), bytes);
  AZDisposeHandle(h);
}

TEST_F(RsrcEdit, RemovalRulesAndProtectedResources) {
  rsrcw::Writer w = Three();
  w.Add(kICON, 5, BytesOf("keep"), std::nullopt, kRsrcAttrProtected);
  Put("f.rsc", w.Write());
  Put("g.rsc", Three().Write());
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  RsrcFileRef other = Open("g.rsc", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kICON, 5, &h), kNoErr);
  EXPECT_EQ(RRemove(h, ref), kRsrcNotFoundErr);
  EXPECT_EQ(RRemove(nullptr, ref), kCantAddRsrcErr);
  EXPECT_EQ(RRemove(h, 0x999), kRsrcFileNotFoundErr);
  UHandle loose = H("loose");
  EXPECT_EQ(RRemove(loose, ref), kRsrcNotFoundErr);
  AZDisposeHandle(loose);
  // Any open file names the call; the resource leaves the file that holds it.
  ASSERT_EQ(RGet(ref, kTEXT, 2, &h), kNoErr);
  ASSERT_EQ(RRemove(h, other), kNoErr);
  EXPECT_EQ(GetText(ref, kTEXT, 2), "");
  EXPECT_EQ(GetText(other, kTEXT, 2), "second");
  EXPECT_EQ(Text(h), "second");  // the caller keeps the handle
  AZDisposeHandle(h);
  // Once unprotected it can go.
  ASSERT_EQ(RGet(ref, kICON, 5, &h), kNoErr);
  ASSERT_EQ(RSetAttrs(h, 0), kNoErr);
  ASSERT_EQ(RRemove(h, ref), kNoErr);
  AZDisposeHandle(h);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  RCloseFile(other);
  rsrcw::Writer left(kAPPL, kQNLX);
  left.Add(kTEXT, 1, BytesOf("first"), "one");
  left.Add(kTEXT, 3, Bytes(6000, 'c'), "three");
  left.Add(kDATA, 1, BytesOf("data"));
  EXPECT_EQ(Get("f.rsc"), left.Write());
}

TEST_F(RsrcEdit, UniqueIdsStartAt128AndSkipUsedIds) {
  Owned p(P("u.rsc"));
  ASSERT_EQ(RCreateFile(p, 0, kQNLX, kAPPL, 0644), kNoErr);
  RsrcFileRef ref = Open("u.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  EXPECT_EQ(RUniqueID(ref, kTEXT), 128);
  EXPECT_EQ(RUniqueID(ref, kTEXT), 128);  // an empty map leaves the counter
  ASSERT_EQ(RAdd(H("x"), ref, kDATA, 1, nullptr), kNoErr);
  const int32 c = RUniqueID(ref, kTEXT);  // an absent type: the counter itself
  EXPECT_GE(c, 128);
  for (int32 id : {c + 1, c + 2, c + 4}) ASSERT_EQ(RAdd(H("t"), ref, kTEXT, id, nullptr), kNoErr);
  EXPECT_EQ(RUniqueID(ref, kTEXT), c + 3);  // from c + 1
  EXPECT_EQ(RUniqueID(ref, kTEXT), c + 3);  // from c + 2
  EXPECT_EQ(RUniqueID(ref, kTEXT), c + 3);  // from c + 3
  EXPECT_EQ(RUniqueID(ref, kTEXT), c + 5);  // from c + 4
  // Past 134,217,727 there is no id, and the counter stays.
  const int32 saved = rsrc::gMgr.unusedId;
  rsrc::gMgr.unusedId = 0x7FFFFFE;
  ASSERT_EQ(RAdd(H("t"), ref, kTEXT, 0x7FFFFFE, nullptr), kNoErr);
  ASSERT_EQ(RAdd(H("t"), ref, kTEXT, 0x7FFFFFF, nullptr), kNoErr);
  EXPECT_EQ(RUniqueID(ref, kTEXT), 0);
  EXPECT_EQ(rsrc::gMgr.unusedId, 0x7FFFFFE);
  rsrc::gMgr.unusedId = saved;
  EXPECT_EQ(RCloseFile(ref), kNoErr);
}

TEST_F(RsrcEdit, RecordsInPlaceAreNotWrittenAgain) {
  rsrcw::Layout lay;
  Bytes bytes = Three().Write(rsrcw::Options(), &lay);
  Put("f.rsc", bytes);
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  // Removing the last record: only the map and the header are written, each
  // twice: first past the file's end and named by the header, then in their
  // place once the old map is no longer named.
  ASSERT_EQ(RemoveRsrc(ref, kDATA, 1), kNoErr);
  uInt64 before = Written();
  ASSERT_EQ(RUpdateFile(ref), kNoErr);
  Bytes after = Get("f.rsc");
  const uInt32 mapSize = At32(after, rsrcfmt::kHdrMapSize);
  EXPECT_EQ(Written() - before, 2 * (mapSize + 32u));
  EXPECT_EQ(after.size(), bytes.size() - 8 - 20 - 12);
  // Removing the first: the two after it move down, and nothing else.
  ASSERT_EQ(RemoveRsrc(ref, kTEXT, 1), kNoErr);
  before = Written();
  ASSERT_EQ(RUpdateFile(ref), kNoErr);
  after = Get("f.rsc");
  const uInt32 mapSize2 = At32(after, rsrcfmt::kHdrMapSize);
  EXPECT_EQ(Written() - before, 2 * ((4u + 8) + (4u + 6000) + mapSize2 + 32));
  EXPECT_EQ(GetText(ref, kTEXT, 2), "second");
  EXPECT_EQ(GetText(ref, kTEXT, 3), std::string(6000, 'c'));
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  rsrcw::Writer left(kAPPL, kQNLX);
  left.Add(kTEXT, 2, BytesOf("second"), "two");
  left.Add(kTEXT, 3, Bytes(6000, 'c'), "three");
  EXPECT_EQ(Get("f.rsc"), left.Write());
}

TEST_F(RsrcEdit, RemovingTheLastResourceLeavesAnEmptyFile) {
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kTEXT, 1, BytesOf("only"), "single");
  Put("f.rsc", w.Write());
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  ASSERT_EQ(RemoveRsrc(ref, kTEXT, 1), kNoErr);
  int32 n = 9;
  ASSERT_EQ(RCountTypes(ref, &n), kNoErr);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  Bytes after = Get("f.rsc");
  EXPECT_EQ(after, rsrcw::Writer(kAPPL, kQNLX).Write());
  ASSERT_EQ(after.size(), 32u);
  ref = Open("f.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  ASSERT_EQ(RCountTypes(ref, &n), kNoErr);
  EXPECT_EQ(n, 0);
  // It takes new resources again.
  ASSERT_EQ(RAdd(H("back"), ref, kICON, 4, PS("again")), kNoErr);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  rsrcw::Writer back(kAPPL, kQNLX);
  back.Add(kICON, 4, BytesOf("back"), "again");
  EXPECT_EQ(Get("f.rsc"), back.Write());
}

TEST_F(RsrcEdit, MapFirstFileWritesBackValid) {
  rsrcw::Options o;
  o.mapFirst = true;
  Put("f.rsc", Three().Write(o));
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  ASSERT_EQ(RemoveRsrc(ref, kTEXT, 2), kNoErr);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  rsrcw::Writer left(kAPPL, kQNLX);
  left.Add(kTEXT, 1, BytesOf("first"), "one");
  left.Add(kTEXT, 3, Bytes(6000, 'c'), "three");
  left.Add(kDATA, 1, BytesOf("data"));
  EXPECT_EQ(Get("f.rsc"), left.Write());

  // A change of one resource in a map-first file moves the others too.
  Put("g.rsc", Three().Write(o));
  ref = Open("g.rsc", kRsrcReadWrite);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kDATA, 1, &h), kNoErr);
  ASSERT_EQ(AZSetHandleSize(h, 3), kNoErr);
  ASSERT_EQ(RChanged(h), kNoErr);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  rsrcw::Writer changed(kAPPL, kQNLX);
  changed.Add(kTEXT, 1, BytesOf("first"), "one");
  changed.Add(kTEXT, 2, BytesOf("second"), "two");
  changed.Add(kTEXT, 3, Bytes(6000, 'c'), "three");
  changed.Add(kDATA, 1, BytesOf("dat"));
  EXPECT_EQ(Get("g.rsc"), changed.Write());
}

TEST_F(RsrcEdit, ChangedDataIsWrittenAndStaysMarkedUntilThen) {
  Put("f.rsc", Three().Write());
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 1, &h), kNoErr);
  ASSERT_EQ(AZSetHandleSize(h, 10000), kNoErr);
  std::memset(*h, 'z', 10000);
  ASSERT_EQ(RChanged(h), kNoErr);
  int32 attrs = 0;
  ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
  EXPECT_EQ(attrs, kRsrcAttrChanged);
  // Releasing or detaching changed data is refused with a report.
  EXPECT_EQ(RRelease(h), kArgErr);
  EXPECT_EQ(RDetach(h), kArgErr);
  EXPECT_EQ(Reports(), 2u);
  EXPECT_EQ(RFindByHandle(h, nullptr, nullptr, nullptr), kNoErr);
  // Attributes set by the caller keep the changed bit.
  ASSERT_EQ(RSetAttrs(h, 0x40), kNoErr);
  ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
  EXPECT_EQ(attrs, 0x40 | kRsrcAttrChanged);
  // RWrite appends the record at the end of the data section.
  ASSERT_EQ(RWrite(h), kNoErr);
  ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
  EXPECT_EQ(attrs, 0x40);
  ASSERT_EQ(RRelease(h), kNoErr);
  EXPECT_EQ(GetText(ref, kTEXT, 1), std::string(10000, 'z'));
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  ExpectHolds("f.rsc", {{kTEXT, 1, std::string(10000, 'z'), "one", 0x40},
                        {kTEXT, 2, "second", "two", 0},
                        {kTEXT, 3, std::string(6000, 'c'), "three", 0},
                        {kDATA, 1, "data", "", 0}});
}

TEST_F(RsrcEdit, WrittenMapsCarryNoRunTimeWords) {
  Put("f.rsc", Three().Write());
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  UHandle h = nullptr;
  for (int32 id = 1; id <= 3; ++id) ASSERT_EQ(RGet(ref, kTEXT, id, &h), kNoErr);
  ASSERT_EQ(RGet(ref, kDATA, 1, &h), kNoErr);
  ASSERT_EQ(RChanged(h), kNoErr);  // the last record: rewritten in its place
  ASSERT_EQ(RUpdateFile(ref), kNoErr);
  Bytes b = Get("f.rsc");
  const uInt32 map = At32(b, rsrcfmt::kHdrMapOffset);
  EXPECT_EQ(At32(b, map + rsrcfmt::kMapFileRef), 0u);
  EXPECT_EQ(At32(b, map + rsrcfmt::kMapAttrs), rsrcfmt::kMapAttrChanged);
  for (uInt32 e = 0; e < 4; ++e) {
    EXPECT_EQ(At32(b, map + 52 + 4 + 2 * 12 + e * 20 + rsrcfmt::kRefHandle), 0u);
  }
  EXPECT_EQ(b, Three().Write());
  RCloseFile(ref);
}

TEST_F(RsrcEdit, PreAllocationGrowsTheFileOnly) {
  Bytes bytes = Three().Write();
  Put("f.rsc", bytes);
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  EXPECT_EQ(RPreAllocFile(ref, -1), kArgErr);
  ASSERT_EQ(RPreAllocFile(ref, 20000), kNoErr);
  ASSERT_EQ(RPreAllocFile(ref, 5), kNoErr);
  Bytes after = Get("f.rsc");
  ASSERT_EQ(after.size(), bytes.size() + 20005);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), after.begin()));
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  ref = Open("f.rsc", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  EXPECT_EQ(GetText(ref, kTEXT, 2), "second");
  RCloseFile(ref);
}

TEST_F(RsrcEdit, MapsOfOtherLayoutsAreEditedSafely) {
  // A map with a gap before its type list and between its reference lists,
  // and its name list between the lists.
  rsrcw::Layout lay;
  Bytes b = Three().Write(rsrcw::Options(), &lay);
  const uInt32 map = lay.map;
  Bytes m(b.begin() + map, b.end());
  // Rebuild by hand: fixed words, 8 gap bytes, type list, TEXT list, the
  // names, 4 gap bytes, DATA list.
  const uInt32 typeList = 52 + 8, typesSize = 4 + 2 * 12;
  const uInt32 textList = typeList + typesSize, names = textList + 3 * 20;
  const uInt32 namesSize = uInt32(m.size()) - (lay.nameList - map);
  const uInt32 dataList = names + namesSize + 4;
  Bytes n(dataList + 20, 0xEE);
  std::copy(m.begin(), m.begin() + 52, n.begin());
  std::copy(m.begin() + 52, m.begin() + 52 + typesSize, n.begin() + typeList);
  std::copy(m.begin() + 52 + typesSize, m.begin() + 52 + typesSize + 60, n.begin() + textList);
  std::copy(m.begin() + (lay.nameList - map), m.end(), n.begin() + names);
  std::copy(m.begin() + 52 + typesSize + 60, m.begin() + 52 + typesSize + 80, n.begin() + dataList);
  PutBE32(&n[44], typeList);
  PutBE32(&n[48], names);
  PutBE32(&n[typeList + 4 + 8], textList - typeList);
  PutBE32(&n[typeList + 16 + 8], dataList - typeList);
  Bytes file(b.begin(), b.begin() + map);
  file.insert(file.end(), n.begin(), n.end());
  PutBE32(&file[rsrcfmt::kHdrMapSize], uInt32(n.size()));
  Put("odd.rsc", file);

  RsrcFileRef ref = Open("odd.rsc", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  UHandle h = nullptr;
  ASSERT_EQ(RGetNamed(ref, kTEXT, PS("THREE"), &h), kNoErr);
  EXPECT_EQ(AZGetHandleSize(h), 6000);
  EXPECT_EQ(GetText(ref, kDATA, 1), "data");
  RCloseFile(ref);

  ref = Open("odd.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  ASSERT_EQ(RAdd(H("new"), ref, kICON, 1, PS("icon")), kNoErr);
  ASSERT_EQ(RAdd(H("two and a half"), ref, kTEXT, 0, PS("zero")), kNoErr);
  ASSERT_EQ(RemoveRsrc(ref, kTEXT, 2), kNoErr);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  ExpectHolds("odd.rsc", {{kTEXT, 1, "first", "one", 0},
                          {kTEXT, 3, std::string(6000, 'c'), "three", 0},
                          {kDATA, 1, "data", "", 0},
                          {kICON, 1, "new", "icon", 0},
                          {kTEXT, 0, "two and a half", "zero", 0}});
  // Its map is now in the written layout: the names back to back.
  Bytes after = Get("odd.rsc");
  const uInt32 at = At32(after, rsrcfmt::kHdrMapOffset);
  EXPECT_EQ(At32(after, at + rsrcfmt::kMapTypeList), 52u);
  EXPECT_EQ(At32(after, at + rsrcfmt::kMapNameList), 52u + 4 + 3 * 12 + 5 * 20);
  EXPECT_EQ(At32(after, rsrcfmt::kHdrMapSize), 52u + 4 + 3 * 12 + 5 * 20 + 4 + 6 + 5 + 5);
}

}  // namespace
