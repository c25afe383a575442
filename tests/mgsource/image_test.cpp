// What the engine needs of the image table: icon families and their
// members loaded from resource files, written into others and released.
#include "mgsource/byteorder.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/pictops.h"
#include "platform/qx_metafile.h"
#include "platform/qx_metafile_read.h"
#include "rsrc_test_support.h"
#include "tools/appbuild.h"
#include "tools/metafilewriter.h"
#include "tools/vilibrary.h"

namespace rsrctest {
namespace {

constexpr ResType kICNList = FourCC("ICN#"), kICL4 = FourCC("icl4"),
                  kICL8 = FourCC("icl8");

class Boundary : public RsrcTest {
 protected:
  // The image table is made by the first image and lives on: one image is
  // taken and released before the count.
  void SetUp() override {
    RsrcTest::SetUp();
    PutIcons();
    RsrcFileRef in = Open("icons.rsc", kRsrcReadOnly);
    int32 image = 0;
    ASSERT_EQ(IGet(in, kImageIcon1, 2, &image, 1), kNoErr);
    EXPECT_EQ(IRelease(image), kNoErr);
    RCloseFile(in);
    // Metafiles drawn by earlier tests leave the cache's slots, which a new
    // table gives back: they go before the count.
    IMetaCacheDispose();
    ResetLiveBaseline();
  }
  // A file holding the family of a palette image as id 1, and variants.
  void PutIcons() {
    rsrcw::Writer w(kAPPL, kQNLX);
    for (const auto& r : qxbuild::PaletteImage(6001)) w.Add(r.first, 1, r.second);
    Bytes bits(128, 0xA5), other(128, 0x3C);
    w.Add(kICON, 2, bits);                  // kind 1 only, from ICON
    w.Add(kICL8, 3, Bytes(1024, 7));        // kind 3 only
    w.Add(kICNList, 4, Bytes(200, 1));      // too short for a mask
    w.Add(kICON, 4, other);
    w.Add(kICL4, 5, Bytes(511, 1));         // too short
    Put("icons.rsc", w.Write());
    Put("out.rsc", rsrcw::Writer(kAPPL, kQNLX).Write());
  }
};

TEST_F(Boundary, IconFamiliesLoadWriteAndRelease) {
  PutIcons();
  RsrcFileRef in = Open("icons.rsc", kRsrcReadOnly), out = Open("out.rsc", kRsrcReadWrite);
  int32 image = 0;
  ASSERT_EQ(IGet(in, kImageFamily, 1, &image, 1), kNoErr);
  EXPECT_EQ(IGetKind(image), kImageFamily);
  ASSERT_EQ(IAdd(image, out, PS("fam"), -1), kNoErr);
  const qxbuild::ResourceList family = qxbuild::PaletteImage(6001);
  EXPECT_EQ(GetText(out, kICON, -1), std::string(family[0].second.begin(), family[0].second.end()));
  EXPECT_EQ(GetText(out, kICL4, -1), std::string(family[1].second.begin(), family[1].second.end()));
  EXPECT_EQ(GetText(out, kICL8, -1), std::string(family[2].second.begin(), family[2].second.end()));
  MgErr err;
  GetText(out, kICNList, -1, &err);
  EXPECT_EQ(err, kRsrcNotFoundErr) << "the mask is not written";
  UHandle h = nullptr;
  ASSERT_EQ(RGet(out, kICON, -1, &h), kNoErr);
  Str255 name;
  int32 id;
  ResType type;
  ASSERT_EQ(RGetInfo(h, &id, &type, name), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "fam");
  EXPECT_EQ(IRelease(image), kNoErr);

  // A family of one member; a family of none is no image.
  ASSERT_EQ(IGet(in, kImageFamily, 3, &image, 1), kNoErr);
  ASSERT_EQ(IAdd(image, out, nullptr, 3), kNoErr);
  EXPECT_EQ(GetText(out, kICL8, 3), std::string(1024, 7));
  GetText(out, kICON, 3, &err);
  EXPECT_EQ(err, kRsrcNotFoundErr);
  EXPECT_EQ(IRelease(image), kNoErr);
  int32 none = 5;
  EXPECT_EQ(IGet(in, kImageFamily, 99, &none, 1), kImageNotFoundErr);
  EXPECT_EQ(none, 0);
  RCloseFile(out);
  RCloseFile(in);
}

TEST_F(Boundary, MembersByKind) {
  PutIcons();
  RsrcFileRef in = Open("icons.rsc", kRsrcReadOnly), out = Open("out.rsc", kRsrcReadWrite);
  const struct {
    int32 kind, id;
    MgErr err;
    uInt32 type;
    std::string bytes;
  } cases[] = {
      {kImageIcon1, 2, kNoErr, kICON, std::string(128, char(0xA5))},     // from ICON
      {kImageIcon1, 4, kNoErr, kICON, std::string(128, char(0x01))},     // ICN# first, though too short for a mask
      {kImageMask, 4, kImageNotFoundErr, 0, ""},                         // ICN# of 200 bytes
      {kImageMask, 2, kRsrcNotFoundErr, 0, ""},
      {kImageIcon4, 5, kImageNotFoundErr, 0, ""},                        // 511 bytes
      {kImageIcon8, 3, kNoErr, kICL8, std::string(1024, 7)},
      {kImageIcon8, 9, kRsrcNotFoundErr, 0, ""},
      {kImageCursor, 1, kRsrcNotFoundErr, 0, ""},          // the file holds no CURS
  };
  for (const auto& c : cases) {
    int32 image = -1;
    ASSERT_EQ(IGet(in, c.kind, c.id, &image, c.kind == kImageIcon8 ? 0 : 1), c.err) << c.kind << "/" << c.id;
    if (c.err) {
      EXPECT_EQ(image, 0);
      continue;
    }
    EXPECT_EQ(IGetKind(image), c.kind);
    ASSERT_EQ(IAdd(image, out, nullptr, 100 + c.id), kNoErr);
    EXPECT_EQ(GetText(out, c.type, 100 + c.id), c.bytes);
    EXPECT_EQ(IRelease(image), kNoErr);
  }
  RCloseFile(out);
  RCloseFile(in);
}

TEST_F(Boundary, FailuresAndReuse) {
  PutIcons();
  RsrcFileRef in = Open("icons.rsc", kRsrcReadOnly);
  Capture capture;
  int32 image = 0;
  ASSERT_EQ(IGet(in, kImageFamily, 1, &image, 1), kNoErr);
  // A read-only file takes no image.
  EXPECT_EQ(IAdd(image, in, nullptr, 50), kFilePermErr);
  EXPECT_EQ(capture.Count("error adding resource! err = 8"), 3);
  EXPECT_EQ(capture.Count("error calling IAdd (2)! err = 8"), 1);
  EXPECT_EQ(capture.Count("error calling IAdd (3)! err = 8"), 2);
  EXPECT_EQ(IRelease(image), kNoErr);
  EXPECT_EQ(IRelease(image), kArgErr) << "released already";
  EXPECT_EQ(IGetKind(0), 0);
  EXPECT_GE(capture.Count("invalid image id"), 2);

  // Released ids are taken again last-released first.
  int32 ids[6];
  for (int32& id : ids) ASSERT_EQ(IGet(in, kImageIcon1, 2, &id, 1), kNoErr);
  ASSERT_EQ(IRelease(ids[4]), kNoErr);
  ASSERT_EQ(IRelease(ids[2]), kNoErr);
  int32 a = 0, b = 0;
  ASSERT_EQ(IGet(in, kImageIcon1, 2, &a, 1), kNoErr);
  ASSERT_EQ(IGet(in, kImageIcon1, 2, &b, 1), kNoErr);
  EXPECT_EQ(a, ids[2]);
  EXPECT_EQ(b, ids[4]);
  ids[2] = a;
  ids[4] = b;
  for (int32 id : ids) EXPECT_EQ(IRelease(id), kNoErr);
  EXPECT_EQ(IGet(in, kImageIcon1, 2, nullptr, 1), kArgErr);
  RCloseFile(in);
}

template <class T>
const T& InfoOf(uInt32 word) {
  return *reinterpret_cast<const T*>(*reinterpret_cast<UHandle>(uintptr_t(word)));
}

TEST_F(Boundary, TableGrowsByTwentyAndStopsAtTheLimit) {
  gImageColours = DImageColours{1, 2, 3, 4};
  ASSERT_EQ(IInitImageTable(20), kNoErr);
  const DImageColours& c = gImageColours;
  EXPECT_EQ((std::vector<DColor>{c.fore, c.back, c.bwFore, c.bwBack}),
            (std::vector<DColor>{0, 0xFFFFFF, 0, 0xFFFFFF}));
  int32 id = 0;
  for (int32 i = 1; i <= 20; ++i) ASSERT_EQ(ICreateProcImage(nullptr, i, &id), kNoErr);
  EXPECT_EQ(IImageTableCount(), 20);
  ASSERT_EQ(ICreateProcImage(nullptr, 0, &id), kNoErr);
  EXPECT_EQ(id, 21);
  EXPECT_EQ(IImageTableCount(), 40);
  for (int32 i = 22; i <= 40; ++i) ASSERT_EQ(ICreateProcImage(nullptr, i, &id), kNoErr);
  MemFailNthAllocation(1);
  EXPECT_EQ(ICreateProcImage(nullptr, 0, &id), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(IImageTableCount(), 40);
  ASSERT_EQ(ICreateProcImage(nullptr, 0, &id), kNoErr);
  EXPECT_EQ(id, 41);

  // The last growth stops at 65,535 entries; past it ids never wrap.
  Capture capture;
  ASSERT_EQ(IInitImageTable(65534), kNoErr);
  for (int32 want : {1, 65534, 65535}) {
    if (want == 65534) {
      for (int32 i = 2; i < 65534; ++i) ASSERT_EQ(ICreateProcImage(nullptr, 0, &id), kNoErr);
    }
    ASSERT_EQ(ICreateProcImage(nullptr, 0, &id), kNoErr);
    EXPECT_EQ(id, want);
  }
  EXPECT_EQ(ICreateProcImage(nullptr, 0, &id), kMemFullErr);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(IImageTableCount(), 65535);
  EXPECT_EQ(capture.Count("image table full"), 1);
  ASSERT_EQ(IInitImageTable(20), kNoErr);
}

TEST_F(Boundary, EveryKindMadeCopiedAndReleased) {
  const std::vector<uint8_t> emf = mfw::WriteEmf(mfw::Sample());
  const PlatMetafile mf = PlatMetafileFromEmf(emf.data(), uInt32(emf.size()));
  ASSERT_NE(mf, 0u);
  PlatMetaHeader header{};
  ASSERT_TRUE(PlatGetMetafileHeader(mf, &header));
  const Rect r{10, 20, 30, 60}, empty{5, 5, 5, 9};
  int32 parent = 0, ids[10] = {};
  void (*proc)() = +[] {};
  ASSERT_EQ(ICreatePixmap(0, &r, 0, &parent), kNoErr);
  ASSERT_EQ(ICreatePixmap(0, &r, 8, &ids[0]), kNoErr);
  ASSERT_EQ(ICreateSubImage(parent, &r, &ids[1]), kNoErr);
  ASSERT_EQ(ICreatePCMetaFile(0, 4, mf, &ids[2], nullptr), kNoErr);
  ASSERT_EQ(ICreateMetaFileImage(0, 8, &ids[3], &r), kNoErr);
  ASSERT_EQ(ICreateProcImage(proc, 77, &ids[4]), kNoErr);
  ASSERT_EQ(ICreatePageImage(0, 1, 5, &ids[5], 6), kNoErr);
  ASSERT_EQ(ICreatePict(0, &r, 8, nullptr, 0, &ids[6]), kNoErr);
  ASSERT_EQ(ICreateWindowImage(&ids[7], 0), kNoErr);
  ASSERT_EQ(IDuplicate(ids[4], &ids[8]), kNoErr);
  ASSERT_EQ(IDuplicate(ids[2], &ids[9]), kNoErr);
  const int32 kinds[10] = {kImagePixmap, kImageSub, kImageMeta, kImageMeta, kImageProc,
                           kImagePage,   kImagePicture, kImageWindow, kImageProc, kImageMeta};
  for (int32 i = 0; i < 10; ++i) EXPECT_EQ(IGetKind(ids[i]), kinds[i]) << i;
  EXPECT_GT(IGetDepth(parent), 0);
  EXPECT_EQ(IGetDepth(ids[0]), 8);
  EXPECT_EQ(IGetDepth(ids[2]), 4);
  EXPECT_EQ(IGetDepth(ids[5]), 1);
  const ImageEntry sub = IEntryOf(ids[1]);
  // The parent's number is whatever the process's earlier images left free.
  const unsigned char want[8] = {uInt8(parent), uInt8(parent >> 8), 0x14, 0x00, 0x0A, 0x00, 0x28, 0x14};
  EXPECT_EQ(std::memcmp(&sub.data, want, 8), 0) << "parent, left, top, width, height";
  const Rect& fromMf = InfoOf<MetaInfo>(IEntryOf(ids[2]).extra).bounds;
  EXPECT_EQ(fromMf.bottom, header.bounds.bottom - header.bounds.top);
  EXPECT_EQ(fromMf.right, header.bounds.right - header.bounds.left);
  const Rect& fromRect = InfoOf<MetaInfo>(IEntryOf(ids[3]).extra).bounds;
  EXPECT_EQ(fromRect.bottom, 21);
  EXPECT_EQ(fromRect.right, 41);
  EXPECT_EQ(IEntryOf(ids[8]).data, IEntryOf(ids[4]).data);
  EXPECT_EQ(IEntryOf(ids[8]).extra, 77u);
  EXPECT_NE(IEntryOf(ids[9]).data, IEntryOf(ids[2]).data);

  // IAdd of anything but an icon writes nothing.
  Put("out.rsc", rsrcw::Writer(kAPPL, kQNLX).Write());
  RsrcFileRef out = Open("out.rsc", kRsrcReadWrite);
  EXPECT_EQ(IAdd(ids[0], out, nullptr, 1), kNoErr);
  int32 types = -1;
  ASSERT_EQ(RCountTypes(out, &types), kNoErr);
  EXPECT_EQ(types, 0);
  RCloseFile(out);

  // Refusals leave no entry.
  Capture capture;
  int32 id = 9;
  EXPECT_EQ(ICreatePixmap(0, &empty, 0, &id), kImageMemErr);
  EXPECT_EQ(id, 0);
  const Rect wide{0, 0, 10, 128}, high{0, 0, 128, 10};
  EXPECT_EQ(ICreateSubImage(parent, &wide, &id), kArgErr);
  EXPECT_EQ(ICreateSubImage(parent, &high, &id), kArgErr);
  EXPECT_EQ(ICreatePCMetaFile(0, 8, mf, &id, &r), kArgErr);
  EXPECT_EQ(capture.Count("both a metafile and a rectangle"), 1);
  EXPECT_EQ(IDuplicate(parent, &id), kArgErr);
  for (int32 i : ids) EXPECT_EQ(IRelease(i), kNoErr);
  EXPECT_EQ(IRelease(parent), kNoErr);
  EXPECT_FALSE(PlatIsMetafile(mf)) << "the image owned it";
}

// Pixels of test icons.
bool Frame(int x, int y) { return x == 1 || x == 30 || y == 1 || y == 30; }
bool Square(int x, int y) { return x >= 1 && x <= 30 && y >= 1 && y <= 30; }
bool Nothing(int, int) { return false; }
// Rings at odd distances from the border, each open at column 16 on
// alternate sides: one white corridor winding from the border to the
// centre, far more spans than a stack of 256 holds.
bool Spiral(int x, int y) {
  const int d = std::min(std::min(x, y), std::min(31 - x, 31 - y));
  if (d % 2 == 0) return false;
  const bool gapTop = (d / 2) % 2 == 0;
  return !(x == 16 && y == (gapTop ? d : 31 - d));
}

TEST_F(Boundary, ResourcesOfEveryKind) {
  rsrcw::Writer w(kAPPL, kQNLX);
  const auto framed = qxbuild::IconFamilyResources(Frame, Square, 3, 43);
  for (const auto& r : qxbuild::IconFamilyResources(Frame, Nothing, 3, 43))
    if (r.first != kICNList) w.Add(r.first, 10, r.second);
  w.Add(kICL4, 11, framed[1].second);  // no ICN#, no 1-bit member
  const auto spiral = qxbuild::IconFamilyResources(Spiral, Nothing, 3, 43);
  w.Add(kICON, 12, spiral[0].second);
  const ResType kDSIM = FourCC("DSIM"), kBMAP = FourCC("BMAP"), kWDIB = FourCC("WDIB"), kWEMF = FourCC("WEMF");
  // DSIM: bounds, depth 8, pen count 2, then the word at 12 and the records.
  Bytes dsim = {0, 1, 0, 2, 0, 30, 0, 40, 0, 8, 0, 2};
  dsim.resize(30, 0);
  w.Add(kDSIM, 1, Bytes(dsim.begin(), dsim.begin() + 10));
  w.Add(kDSIM, 2, Bytes(dsim.begin(), dsim.begin() + 14));
  w.Add(kDSIM, 3, Bytes(dsim.begin(), dsim.begin() + 17));
  w.Add(kDSIM, 4, dsim);
  dsim[17] = 1;
  w.Add(kDSIM, 5, dsim);
  // Records holding a text record, an image id and regions of some other
  // process: the release touches none of them.
  Bytes live(dsim.begin(), dsim.begin() + 16);
  for (int op : {19, 20, 26, 27}) {
    const Bytes rec = {0, uInt8(op), 0, 0, 0, 4, 0xDE, 0xAD, 0xBE, 0xEF};
    live.insert(live.end(), rec.begin(), rec.end());
  }
  w.Add(kDSIM, 6, live);
  // BMAP 3 high, 20 wide: 4-byte rows.
  Bytes bmap = {0, 3, 0, 20};
  bmap.resize(16, 0xF0);
  w.Add(kBMAP, 1, bmap);
  w.Add(kBMAP, 2, Bytes(bmap.begin(), bmap.end() - 1));
  // WDIB 8 x 2 at 4 bits, 16 colours: big-endian header.
  Bytes dib(40 + 64 + 8, 0x11);
  const uInt32 fields[] = {40, 8, 2};
  for (int i = 0; i < 3; ++i) PutBE32(&dib[size_t(4 * i)], fields[i]);
  PutBE16(&dib[12], 1), PutBE16(&dib[14], 4);
  for (int at = 16; at < 40; at += 4) PutBE32(&dib[size_t(at)], 0);
  w.Add(kWDIB, 1, dib);
  w.Add(kWDIB, 2, Bytes(dib.begin(), dib.end() - 1));
  const std::vector<uint8_t> emf = mfw::WriteEmf(mfw::Sample());
  w.Add(kWEMF, 1, Bytes(emf.begin(), emf.end()));
  w.Add(kWEMF, 2, Bytes(emf.begin(), emf.begin() + 60));
  w.Add(FourCC("PICT"), 1, Bytes(emf.begin(), emf.end()));
  Put("kinds.rsc", w.Write());
  RsrcFileRef in = Open("kinds.rsc", kRsrcReadOnly);

  // Masks made from the members.
  const struct {
    int32 id;
    const Bytes* mask;  // null: none
  } families[] = {{10, &framed[3].second}, {11, nullptr}, {12, &spiral[0].second}};
  for (const auto& f : families) {
    int32 image = 0;
    ASSERT_EQ(IGet(in, kImageFamily, f.id, &image, 0), kNoErr) << f.id;
    const int32 mask = int32(IEntryOf(image).fourth);
    if (!f.mask) {
      EXPECT_EQ(mask, 0);
    } else {
      ASSERT_EQ(IGetKind(mask), kImageMask);
      const uInt8* bits = reinterpret_cast<const uInt8*>(*reinterpret_cast<UHandle>(uintptr_t(IEntryOf(mask).data)));
      const size_t from = f.mask->size() == 256 ? 128 : 0;
      EXPECT_EQ(Bytes(bits, bits + 128), Bytes(f.mask->begin() + long(from), f.mask->begin() + long(from) + 128))
          << f.id;
    }
    EXPECT_EQ(IRelease(image), kNoErr);
  }

  const struct {
    int32 kind, id;
    MgErr err;
    int32 madeKind;
    Rect bounds;
    int32 depth, pens, recordsFrom;
  } cases[] = {
      {kImagePicture, 1, kImageNotFoundErr, 0, {}, 0, 0, 0},
      {kImagePicture, 2, kImageNotFoundErr, 0, {}, 0, 0, 0},
      {kImagePicture, 3, kNoErr, kImagePicture, {1, 2, 30, 40}, 8, 2, 16},
      {kImagePicture, 4, kNoErr, kImagePicture, {1, 2, 30, 40}, 8, 0, 18},
      {kImagePicture, 5, kNoErr, kImagePicture, {1, 2, 30, 40}, 8, 2, 16},
      {kImagePicture, 6, kNoErr, kImagePicture, {1, 2, 30, 40}, 8, 2, 16},
      {kImagePixmap, 1, kNoErr, kImagePixmap, {0, 0, 3, 20}, 1, 0, 0},
      {kImagePixmap, 2, kImageNotFoundErr, 0, {}, 0, 0, 0},
      {kImageDIB, 1, kNoErr, kImagePixmap, {0, 0, 2, 8}, -1, 0, 0},
      {kImageDIB, 2, kImageNotFoundErr, 0, {}, 0, 0, 0},
      {kImageMeta, 1, kNoErr, kImageMeta, {}, 8, 0, 0},
      {kImageMeta, 2, kImageNotFoundErr, 0, {}, 0, 0, 0},
      {kImagePICT, 1, kImageNotFoundErr, 0, {}, 0, 0, 0},
      {kImageSub, 1, kImageNotFoundErr, 0, {}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    for (Bool32 detach : {0, 1}) {
      int32 image = -1;
      ASSERT_EQ(IGet(in, c.kind, c.id, &image, detach), c.err) << c.kind << "/" << c.id;
      if (c.err) {
        EXPECT_EQ(image, 0);
        continue;
      }
      const ImageEntry e = IEntryOf(image);
      EXPECT_EQ(e.kind, c.madeKind);
      if (c.depth >= 0) EXPECT_EQ(IGetDepth(image), c.depth) << c.kind << "/" << c.id;
      else EXPECT_GT(IGetDepth(image), 0);
      if (c.kind == kImagePicture) {
        const PictInfo& info = InfoOf<PictInfo>(e.extra);
        EXPECT_EQ(std::memcmp(&info.bounds, &c.bounds, sizeof(Rect)), 0);
        EXPECT_EQ(int32(info.penCount), c.pens) << c.id;
        UHandle pict = reinterpret_cast<UHandle>(uintptr_t(e.data));
        const int32 size = c.id == 3 ? 17 : c.id == 6 ? 56 : 30;
        EXPECT_EQ(GetNative32(*pict), uInt32(size - c.recordsFrom)) << c.id;
        EXPECT_EQ(DSGetHandleSize(pict), size - c.recordsFrom + 4);
      } else if (c.madeKind == kImagePixmap) {
        EXPECT_EQ(std::memcmp(&InfoOf<PixmapInfo>(e.data).bounds, &c.bounds, sizeof(Rect)), 0);
      } else if (c.madeKind == kImageMeta) {
        const PlatMetafile mf = PlatMetafileFromEmf(emf.data(), uInt32(emf.size()));
        PlatMetaHeader header{};
        PlatGetMetafileHeader(mf, &header);
        PlatDeleteMetafile(mf);
        const Rect& b = InfoOf<MetaInfo>(e.extra).bounds;
        EXPECT_EQ(b.left, header.bounds.left);
        EXPECT_EQ(b.bottom, header.bounds.bottom);
      }
      EXPECT_EQ(IRelease(image), kNoErr);
    }
  }
  int32 cursor = 0;
  EXPECT_EQ(IGet(in, kImageCursor, -2, &cursor, 0), kNoErr);
  EXPECT_EQ(cursor, -2);
  RCloseFile(in);
}

}  // namespace
}  // namespace rsrctest
