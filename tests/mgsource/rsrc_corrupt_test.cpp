// Damaged resource files, one field at a time: each is refused with 13 (or
// opens and gives 4 where a record lies outside the data section), closes
// what it opened and keeps nothing.
#include <functional>

#include "live_handles.h"
#include "rsrc_test_support.h"

using namespace rsrctest;
using rsrcw::BytesOf;

namespace {

class RsrcCorrupt : public RsrcTest {
 protected:
  void SetUp() override {
    RsrcTest::SetUp();
    rsrcw::Writer w(kAPPL, kQNLX);
    w.Add(kTEXT, 1, BytesOf("first"), "one");
    w.Add(kTEXT, 2, BytesOf("second"), "two");
    w.Add(kTEXT, 3, BytesOf("third"));
    w.Add(kDATA, 7, Bytes(100, 'd'), "data");
    w.Add(rsrcfmt::kTypeStrList, 1, rsrcw::StrList({"a", "b"}));
    good_ = w.Write(rsrcw::Options(), &lay_);
  }
  // The handles alive: the pool's size depends on what earlier tests of the
  // process left in the thread caches and may grow by a page on any round.
  static int32 Allocated() { return LiveHandleCount(); }
  // A copy of the good file with one change.
  Bytes With(const std::function<void(Bytes&)>& change) const {
    Bytes b = good_;
    change(b);
    return b;
  }
  static void Set32(Bytes& b, uInt32 at, uInt32 v) { PutBE32(&b[at], v); }
  static uInt32 Get32(const Bytes& b, uInt32 at) { return GetBE32(&b[at]); }

  // The bytes are refused as an image, a read-only file and a writable file,
  // with nothing kept and the file manager's reference closed.
  void ExpectRefused(const Bytes& bytes, const char* what) {
    SCOPED_TRACE(what);
    // The first round may leave lasting state behind (the file manager's
    // first use): the second round must keep nothing.
    int32 before = 0;
    for (int round = 0; round < 2; ++round) {
      before = Allocated();
      MgErr err = kNoErr;
      EXPECT_EQ(OpenImage(bytes, &err), 0u);
      EXPECT_EQ(err, kRsrcFileNotFoundErr);
      Put("bad.rsc", bytes);
      for (int32 mode : {kRsrcReadOnly, kRsrcReadWrite}) {
        EXPECT_EQ(Open("bad.rsc", mode, &err), 0u);
        EXPECT_EQ(err, kRsrcFileNotFoundErr);
      }
      Owned p(P("bad.rsc"));
      FileRef f = nullptr;
      ASSERT_EQ(FMOpen(&f, p, kAccessReadWrite, kDenyReadWrite), kNoErr);
      FMClose(f);
    }
    EXPECT_EQ(Allocated(), before);
    EXPECT_EQ(Get("bad.rsc"), bytes);
  }

  Bytes good_;
  rsrcw::Layout lay_;
};

TEST_F(RsrcCorrupt, TruncatedFiles) {
  for (size_t n = 0; n < good_.size(); ++n) {
    MgErr err = kNoErr;
    Bytes cut(good_.begin(), good_.begin() + long(n));
    EXPECT_EQ(OpenImage(cut, &err), 0u) << n;
    EXPECT_EQ(err, kRsrcFileNotFoundErr) << n;
  }
  for (size_t n : {size_t(0), size_t(31), size_t(32), size_t(100), good_.size() - 1}) {
    Put("cut.rsc", Bytes(good_.begin(), good_.begin() + long(n)));
    MgErr err = kNoErr;
    EXPECT_EQ(Open("cut.rsc", kRsrcReadOnly, &err), 0u);
    EXPECT_NE(err, kNoErr) << n;
  }
}

TEST_F(RsrcCorrupt, MapAndDataOutsideTheFileOrOverlapping) {
  const uInt32 size = uInt32(good_.size());
  const uInt32 mapOff = Get32(good_, rsrcfmt::kHdrMapOffset), mapSize = Get32(good_, rsrcfmt::kHdrMapSize);
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapOffset, size); }), "map past the end");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapSize, mapSize + 1); }), "map size past the end");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapOffset, 0xFFFFFFF0u); }), "map offset wraps");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrDataSize, size); }), "data past the end");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrDataOffset, 0xFFFFFFFCu); }), "data offset wraps");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrDataOffset, 16); }), "data over the header");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapOffset, 8); }), "map over the header");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapOffset, mapOff - 8); }), "map over the data");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapSize, 40); }), "map too small");
  ExpectRefused(With([&](Bytes& b) { Set32(b, rsrcfmt::kHdrMapSize, 1); }), "map of one byte");
}

TEST_F(RsrcCorrupt, ListsOutsideTheMapOrOutOfOrder) {
  const uInt32 map = lay_.map, mapSize = lay_.mapSize, tl = lay_.typeList;
  const uInt32 text = lay_.typeEntries[0], data = lay_.typeEntries[1];
  ExpectRefused(With([&](Bytes& b) { Set32(b, map + rsrcfmt::kMapTypeList, mapSize); }), "type list past the map");
  ExpectRefused(With([&](Bytes& b) { Set32(b, map + rsrcfmt::kMapTypeList, 20); }), "type list over the fixed words");
  ExpectRefused(With([&](Bytes& b) { Set32(b, tl, 1000); }), "type count past the map");
  ExpectRefused(With([&](Bytes& b) { Set32(b, tl, 0xFFFFFFFFu); }), "type count wraps");
  ExpectRefused(With([&](Bytes& b) { Set32(b, text + 4, 50); }), "reference count past the map");
  ExpectRefused(With([&](Bytes& b) { Set32(b, text + 4, 0xFFFFFFFFu); }), "reference count wraps");
  ExpectRefused(With([&](Bytes& b) { Set32(b, text + 8, 0xFFFFFFF0u); }), "reference list past the map");
  ExpectRefused(With([&](Bytes& b) { Set32(b, text + 8, 4); }), "reference list over the type list");
  ExpectRefused(With([&](Bytes& b) {
                  uInt32 a = Get32(b, text + 8);
                  Set32(b, text + 8, Get32(b, data + 8));
                  Set32(b, data + 8, a);
                }),
                "reference lists out of type order");
  ExpectRefused(With([&](Bytes& b) { Set32(b, data + 8, Get32(b, data + 8) - 20); }), "reference lists overlap");
  ExpectRefused(With([&](Bytes& b) { Set32(b, map + rsrcfmt::kMapNameList, tl + 8); }), "name list in the type list");
  ExpectRefused(With([&](Bytes& b) { Set32(b, map + rsrcfmt::kMapNameList, lay_.refEntries[1] + 4 - map); }),
                "name list in a reference list");
  ExpectRefused(With([&](Bytes& b) { Set32(b, map + rsrcfmt::kMapNameList, mapSize + 1); }), "name list past the map");
}

TEST_F(RsrcCorrupt, IdsOutOfOrderAndNamesOutsideTheirList) {
  const uInt32 e1 = lay_.refEntries[0], e2 = lay_.refEntries[1], e3 = lay_.refEntries[2];
  ExpectRefused(With([&](Bytes& b) {
                  Set32(b, e1, 2);
                  Set32(b, e2, 1);
                }),
                "ids out of order");
  ExpectRefused(With([&](Bytes& b) { Set32(b, e2, 1); }), "ids repeated");
  ExpectRefused(With([&](Bytes& b) { Set32(b, e3, 0x80000000u); }), "a negative id last");
  ExpectRefused(With([&](Bytes& b) { Set32(b, e3 + 4, 0x10000); }), "name past the name list");
  ExpectRefused(With([&](Bytes& b) { Set32(b, e3 + 4, Get32(b, e1 + 4) + 1); }), "names overlapping");
  ExpectRefused(With([&](Bytes& b) { Set32(b, e2 + 4, Get32(b, e1 + 4)); }), "two entries with one name");
  ExpectRefused(With([&](Bytes& b) { b[lay_.names[3]] = 200; }), "name running past the map");
  ExpectRefused(With([&](Bytes& b) { Set32(b, lay_.map + rsrcfmt::kMapNameList, 0); }), "names without a list");
}

TEST_F(RsrcCorrupt, OverlappingRecordsAreRefused) {
  const uInt32 e1 = lay_.refEntries[0], e2 = lay_.refEntries[1];
  ExpectRefused(With([&](Bytes& b) { Set32(b, e2 + 12, Get32(b, e1 + 12)); }), "two entries with one record");
  ExpectRefused(With([&](Bytes& b) {
                  const uInt32 inner = lay_.records[3] + 8;  // inside the data resource's bytes
                  Set32(b, inner, 4);
                  Set32(b, e2 + 12, inner - lay_.data);
                }),
                "record inside another");
  ExpectRefused(With([&](Bytes& b) { Set32(b, lay_.records[0], 9); }), "record grown over the next");
}

// A record whose length runs past the data section takes no room among the
// others: the file still opens, that record gives 4 and the next one reads.
TEST_F(RsrcCorrupt, ALengthPastTheSectionSpoilsOnlyItsOwnRecord) {
  ASSERT_EQ(Get32(good_, lay_.refEntries[0] + 12), 0u);
  ASSERT_EQ(Get32(good_, lay_.refEntries[1] + 12), 12u);
  for (uInt32 length : {0x00100000u, 0xFFFFFFFFu, lay_.dataSize - 4 + 1}) {
    SCOPED_TRACE(length);
    const Bytes bytes = With([&](Bytes& b) { Set32(b, lay_.records[0], length); });
    Put("long.rsc", bytes);
    for (int32 how : {0, 1, 2}) {
      const RsrcFileRef ref = how == 0 ? OpenImage(bytes) : Open("long.rsc", how == 1 ? kRsrcReadOnly : kRsrcReadWrite);
      ASSERT_NE(ref, 0u) << how;
      MgErr err = kNoErr;
      GetText(ref, kTEXT, 1, &err);
      EXPECT_EQ(err, kEOFErr) << how;
      EXPECT_EQ(GetText(ref, kTEXT, 2, &err), "second") << how;
      EXPECT_EQ(err, kNoErr) << how;
      EXPECT_EQ(GetText(ref, kDATA, 7), std::string(100, 'd')) << how;
      EXPECT_EQ(RCloseFile(ref), kNoErr) << how;
    }
    EXPECT_EQ(Get("long.rsc"), bytes);
  }
}

TEST_F(RsrcCorrupt, RecordsPastTheDataSectionOpenAndGiveEndOfFile) {
  const uInt32 dataSize = lay_.dataSize;
  const uInt32 e5 = lay_.refEntries[4];
  Bytes bytes = With([&](Bytes& b) {
    Set32(b, e5 + 12, dataSize - 2);         // the list's length word runs out of the section
    Set32(b, lay_.records[3], 0x7FFFFFF0u);  // the data resource's length does
  });
  for (bool image : {true, false}) {
    RsrcFileRef ref;
    if (image) {
      ref = OpenImage(bytes);
    } else {
      Put("past.rsc", bytes);
      ref = Open("past.rsc", kRsrcReadOnly);
    }
    ASSERT_NE(ref, 0u);
    MgErr err;
    EXPECT_EQ(GetText(ref, kTEXT, 2), "second");
    GetText(ref, kDATA, 7, &err);
    EXPECT_EQ(err, kEOFErr);
    GetText(ref, rsrcfmt::kTypeStrList, 1, &err);
    EXPECT_EQ(err, kEOFErr);
    EXPECT_EQ(IndString(ref, 1, 1, &err), "");
    EXPECT_EQ(err, kEOFErr);
    UHandle h = nullptr;
    EXPECT_EQ(RGetNamed(ref, kDATA, PS("data"), &h), kEOFErr);
    EXPECT_EQ(h, nullptr);
    RCloseFile(ref);
  }

  // A write-back that would have to move such a record gives 4 and writes nothing.
  Put("past.rsc", bytes);
  RsrcFileRef ref = Open("past.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  ASSERT_EQ(RemoveRsrc(ref, kTEXT, 1), kNoErr);
  const uInt64 before = Written();
  EXPECT_EQ(RUpdateFile(ref), kEOFErr);
  // A retry would never heal the record: the close reports the same and
  // releases the file as it is on disk.
  EXPECT_EQ(RCloseFile(ref), kEOFErr);
  EXPECT_EQ(Written(), before);
  EXPECT_EQ(Get("past.rsc"), bytes);
  MgErr err = kNoErr;
  GetText(ref, kTEXT, 3, &err);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  EXPECT_EQ(RCloseFile(ref), kRsrcFileNotFoundErr);
  Owned p(P("past.rsc"));
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, p, kAccessReadWrite, kDenyReadWrite), kNoErr) << "nothing holds the file";
  FMClose(f);
}

}  // namespace
