// What the engine needs of the image table: icon families and their
// members loaded from resource files, written into others and released.
#include "mgsource/draw/image.h"
#include "rsrc_test_support.h"
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
      {kImageCursor, 1, kCapabilityErr, 0, ""},            // cursors are made elsewhere
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

}  // namespace
}  // namespace rsrctest
