// Picture data: the record format as the writer lays it out and the
// checked walk reads it back, colour and reference decoding, and the walk
// that makes a picture image.
#include "mgsource/byteorder.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uInt8>;

class Picture : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    // The image table is made by the first image and lives on.
    int32 id = 0;
    ASSERT_EQ(ICreateProcImage(nullptr, 0, &id), kNoErr);
    ASSERT_EQ(IRelease(id), kNoErr);
    ResetLiveBaseline();
    pict_ = DSNewHClr(4);
    ASSERT_NE(pict_, nullptr);
  }
  void TearDown() override {
    if (pict_) DSDisposeHandle(pict_);
    ManagerTest::TearDown();
  }
  Bytes Data() const { return Bytes(*pict_, *pict_ + DSGetHandleSize(pict_)); }
  UHandle pict_ = nullptr;
};

TEST_F(Picture, RecordLayoutAndSizes) {
  PictOpArgs a;
  a.v = 0, a.h = 4;
  ASSERT_EQ(PictAppendOp(pict_, 0, kPictOpSetPixel, &a), kNoErr);
  EXPECT_EQ(Data(), (Bytes{0x0A, 0, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4}));

  const struct {
    int32 op, count, size;
  } sizes[] = {{1, 0, 8},   {2, 0, 12},  {3, 0x7F, 34}, {3, 0x09, 14}, {8, 0, 4},   {12, 0, 8},  {15, 0, 12},
               {16, 3, 20}, {17, 3, 24}, {18, 5, 42},   {18, 4, 40},   {19, 0, 4},  {20, 0, 36}, {22, 0, 8},
               {23, 0, 0},  {25, 0, 12}, {27, 0, 4},    {30, 0, 28},   {31, 7, 8},  {32, 0, 0},  {34, 0, 8},
               {35, 2, 25}, {28, 0, -1}, {29, 0, -1},   {36, 0, -1},   {0, 0, -1},  {16, -1, -1}};
  for (const auto& s : sizes) EXPECT_EQ(PictOpDataSize(s.op, s.count), s.size) << s.op << "/" << s.count;

  // Every opcode the recorder writes: the record's size is the table's and
  // the walk reads it back whole and well formed; the others are refused.
  const Point pts[4] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
  const int16 hs[2] = {1, 2}, vs[2] = {3, 4};
  const uInt8 text[5] = {'h', 'e', 'l', 'l', 'o'};
  a.points = pts, a.n = 2, a.hs = hs, a.vs = vs, a.bytes = text, a.count = 5, a.mask = 0x7F;
  std::vector<int32> written;
  for (int32 op = 1; op <= 36; ++op) {
    const MgErr err = PictAppendOp(pict_, 0, op, &a);
    const bool writable = (op <= 20) || op == 22 || (op >= 24 && op <= 27) || op == 30 || op == 31 || op >= 34;
    EXPECT_EQ(err, writable && op <= 35 ? kNoErr : kArgErr) << op;
    if (!err) written.push_back(op);
  }
  const Bytes d = Data();
  EXPECT_EQ(GetNative32(d.data()), d.size() - 4);
  PictWalker walk(d.data() + 4, int64(d.size()) - 4);
  PictRecord rec;
  size_t i = 0;
  ASSERT_TRUE(walk.Next(&rec));  // the pixel record
  while (walk.Next(&rec)) {
    ASSERT_LT(i, written.size());
    const int32 op = written[i++];
    EXPECT_EQ(rec.opcode, op);
    const int32 count = op == 3 ? 0x7F : op == 16 || op == 17 || op == 35 ? 2 : op == 18 || op == 31 ? 5 : 0;
    EXPECT_EQ(rec.size, PictOpDataSize(op, count)) << op;
    EXPECT_TRUE(PictRecordWellFormed(rec)) << op;
  }
  EXPECT_EQ(i, written.size());
  EXPECT_FALSE(walk.overran());
}

TEST_F(Picture, WalkStopsAtOverrunsShortHeadsAndSkipsWholeRecords) {
  // 23 with ten bytes of data, 30, then a head of 5 bytes.
  Bytes d(4, 0);
  auto head = [&](int32 op, uInt32 size, bool withData = true) {
    uInt8 h[6];
    PutBE16(h, uInt16(op)), PutBE32(h + 2, size);
    d.insert(d.end(), h, h + 6);
    if (withData) d.insert(d.end(), size_t(size), 0x55);
  };
  head(23, 10), head(30, 28);
  d.insert(d.end(), 5, 0);
  PictWalker walk(d.data() + 4, int64(d.size()) - 4);
  PictRecord rec;
  ASSERT_TRUE(walk.Next(&rec));
  EXPECT_EQ(rec.opcode, 23);
  ASSERT_TRUE(walk.Next(&rec));
  EXPECT_EQ(rec.opcode, 30);
  EXPECT_EQ(rec.offset, 16);
  EXPECT_FALSE(walk.Next(&rec));
  EXPECT_FALSE(walk.overran());

  // A size past what remains (even past 2^31) ends the walk as an overrun.
  for (uInt32 size : {29u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    Bytes e(4, 0);
    d.swap(e);
    head(31, 0), head(30, size, false);
    d.insert(d.end(), 28, 0);
    PictWalker w(d.data() + 4, int64(d.size()) - 4);
    EXPECT_TRUE(w.Next(&rec));
    EXPECT_FALSE(w.Next(&rec));
    EXPECT_TRUE(w.overran()) << size;
    EXPECT_EQ(rec.size, int32(size));
  }
}

TEST_F(Picture, ColoursAndReferencesDecode) {
  PictColourState s;
  const struct {
    int32 kind;
    uInt32 stored;
    DColor read;
  } steps[] = {
      {kPictFore, 0x1000001, 0},          {kPictFore, 0x123456, 0x123456}, {kPictFore, 0x1000001, 0x123456},
      {kPictFore, 0x1000000, 0x1000000},  {kPictFore, 0x1000002, 0},       {kPictBack, 0x80000000, 0},
      {kPictBack, 0x1000001, 0},          {kPictBWFore, 0x1000001, 0},     {kPictBWFore, 0xFFFFFF, 0xFFFFFF},
      {kPictBWFore, 0x1000001, 0xFFFFFF}, {kPictBWFore, 0x808080, 0},      {kPictBWBack, 0x1000001, 0xFFFFFF},
      {kPictBWBack, 0, 0},                {kPictBWBack, 0x10, 0xFFFFFF},   {kPictBWBack, 0x1000000, 0xFFFFFF},
  };
  for (const auto& st : steps) EXPECT_EQ(s.Decode(st.kind, st.stored), st.read) << st.kind << " " << st.stored;

  const struct {
    int32 stored;
    bool live;
    PictRef ref;
  } fonts[] = {{-4, false, {kPictRefFont, 12}}, {-3, false, {kPictRefFont, 11}}, {-2, true, {kPictRefFont, 10}},
               {-1, false, {kPictRefFont, 7}},  {-95, false, {kPictRefFont, 5}}, {2, false, {kPictRefIndex, 2}},
               {2, true, {kPictRefFont, 2}}};
  for (const auto& f : fonts) {
    const PictRef r = PictDecodeFontRef(f.stored, f.live, 10, 11, 12, 7);
    EXPECT_EQ(r.kind, f.ref.kind) << f.stored;
    EXPECT_EQ(r.value, f.ref.value) << f.stored;
  }
  EXPECT_EQ(PictDecodePenRef(kPictOpPenState, -1, false).kind, kPictRefCurrentPen);
  EXPECT_EQ(PictDecodePenRef(kPictOpSelectPen, -1, false).kind, kPictRefIndex);
  EXPECT_EQ(PictDecodePenRef(kPictOpSelectPen, 3, true).kind, kPictRefPen);
}

TEST_F(Picture, CreatePictCountsDefinitionsAndSetsTheLength) {
  PictOpArgs a;
  const uInt8 font[3] = {1, 2, 3};
  a.bytes = font, a.count = 3;
  for (int32 op : {30, 9, 31, 30, 2}) ASSERT_EQ(PictAppendOp(pict_, 0, op, &a), kNoErr);
  const int32 size = DSGetHandleSize(pict_);
  PutNative32(*pict_, 0xDEADBEEF);
  Capture capture;
  int32 id = 0;
  const Rect bounds{1, 2, 30, 40};
  ASSERT_EQ(ICreatePict(0, &bounds, 8, pict_, kImageLive | kImageAppZone * 0, &id), kNoErr);
  UHandle owned = pict_;
  pict_ = nullptr;  // the image owns it now
  ImageEntry e = IEntryOf(id);
  EXPECT_EQ(e.kind, kImagePicture);
  EXPECT_EQ(e.flags, kImageLive | kImageOwned);
  EXPECT_EQ(GetNative32(*owned), uInt32(size - 4));
  const PictInfo& info = *reinterpret_cast<PictInfo*>(*reinterpret_cast<UHandle>(uintptr_t(e.extra)));
  EXPECT_EQ(info.penCount, 3u);
  EXPECT_EQ(info.depth, 8u);
  EXPECT_EQ(info.bounds.right, 40);
  EXPECT_EQ(IGetDepth(id), 8);

  // A copy keeps 0x2A of the flags and owns its data; the source's
  // borrowed flag is not kept.
  int32 copy = 0;
  ASSERT_EQ(IDuplicate(id, &copy), kNoErr);
  EXPECT_EQ(IEntryOf(copy).flags, kImageLive | kImageOwned);
  EXPECT_NE(IEntryOf(copy).data, e.data);
  EXPECT_EQ(IRelease(copy), kNoErr);
  EXPECT_EQ(IRelease(id), kNoErr);

  // An overrun is reported with its record and ends the count there.
  UHandle bad = DSNewHClr(4);
  a.count = 0;
  ASSERT_EQ(PictAppendOp(bad, 0, kPictOpPenDef, &a), kNoErr);
  ASSERT_EQ(PictAppendOp(bad, 0, kPictOpPenDef, &a), kNoErr);
  PutBE32(*bad + 4 + 34 + 2, 29);
  ASSERT_EQ(ICreatePict(0, &bounds, 8, bad, 0, &id), kNoErr);
  EXPECT_EQ(capture.Count("ICreatePict: pictDataSize<0...  opcode=30 dataSize=29(+6)\t pictSize=68"), 1);
  e = IEntryOf(id);
  EXPECT_EQ(reinterpret_cast<PictInfo*>(*reinterpret_cast<UHandle>(uintptr_t(e.extra)))->penCount, 1u);
  EXPECT_EQ(IRelease(id), kNoErr);
}

TEST_F(Picture, RecordedPicturesOwnTheirImagesOthersNever) {
  // A child picture owned by whichever picture names it (flag 0x40).
  const Rect bounds{0, 0, 10, 10};
  int32 child = 0, parent = 0, other = 0;
  ASSERT_EQ(ICreatePict(0, &bounds, 8, nullptr, kImageOfPicture, &child), kNoErr);
  ASSERT_EQ(ICreatePict(0, &bounds, 8, nullptr, 0, &parent), kNoErr);
  EXPECT_TRUE(IPictRecorded(parent));
  UHandle data = reinterpret_cast<UHandle>(uintptr_t(IEntryOf(parent).data));
  PictOpArgs a;
  a.ref = uInt32(child);
  ASSERT_EQ(PictAppendOp(data, 0, kPictOpImage, &a), kNoErr);
  a.ref = uInt32(parent);  // names itself: not released twice
  ASSERT_EQ(PictAppendOp(data, 0, kPictOpImage, &a), kNoErr);

  // The same records, and garbage in 19, 26 and 27, in a picture that was
  // not recorded here: nothing they name is touched.
  UHandle foreign = DSNewHClr(4);
  for (uInt32 ref : {uInt32(child), 0xDEADBEEFu}) {
    a.ref = ref;
    for (int32 op : {kPictOpImage, kPictOpTextRecord, kPictOpFrameRgn, kPictOpPaintRgn})
      ASSERT_EQ(PictAppendOp(foreign, 0, op, &a), kNoErr);
  }
  ASSERT_EQ(ICreatePict(0, &bounds, 8, foreign, 0, &other), kNoErr);
  EXPECT_FALSE(IPictRecorded(other));
  EXPECT_EQ(IRelease(other), kNoErr);
  EXPECT_EQ(IKindOf(child), kImagePicture);
  EXPECT_EQ(IRelease(parent), kNoErr);
  EXPECT_EQ(IKindOf(child), 0) << "released with the picture naming it";
}

}  // namespace
