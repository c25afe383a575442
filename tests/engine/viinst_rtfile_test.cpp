// What VIs take from the run-time resource file: the root VI's name and the
// default icons, from a file the tools' builder makes.
#include <mutex>

#include "engine/vi/rtrsrc.h"
#include "mgsource/filemgr.h"
#include "mgsource/draw/image.h"
#include "mgsource/rsrc.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"
#include "viinst_test_support.h"

using namespace qxvitest;

namespace {

class RunTimeFileVITest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] {
      ASSERT_EQ(RInitResources(), kNoErr);
      ASSERT_EQ(FInitFileMgr(), kNoErr);
    });
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddRunTimeResources(&w);
    const rsrcw::Bytes bytes = w.Write();
    UHandle h = AZNewHandle(int32(bytes.size()));
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, bytes.data(), bytes.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt_, nullptr, nullptr, h), kNoErr);
    SetRunTimeRsrcFile(rt_);
  }
  void TearDown() override {
    ExitInstr();
    VITest::TearDown();
    SetRunTimeRsrcFile(0);
    if (rt_) RCloseFile(rt_);
  }
  static int32 Icon(UHandle vi) { return int32(uintptr_t(VIRec(vi)->icon)); }
  RsrcFileRef rt_ = 0;
};

TEST_F(RunTimeFileVITest, TheRootVIIsNamedByTheWindowTitlesAndHasItsOwnIcon) {
  ASSERT_EQ(InitInstr(), kNoErr);
  UHandle root = RootVI();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(Name(root), qxbuild::kWindowTitles[kRootVINameEntry - 1]);
  EXPECT_FALSE(Name(root).empty());
  const int32 icon = Icon(root);
  ASSERT_NE(icon, 0);
  EXPECT_EQ(IGetKind(icon), kImageFamily);
  ExitInstr();
  EXPECT_EQ(RootVI(), nullptr);
}

TEST_F(RunTimeFileVITest, EachKindTakesItsDefaultIconUnlessAskedForNone) {
  UHandle none = NewVICore(kVIKindDatalog, PS("no icon"), -1);
  EXPECT_EQ(Icon(none), 0);
  UHandle vi = NewVICore(kVIKindDatalog, PS("with icon"), 0);
  ASSERT_NE(vi, nullptr);
  ASSERT_NE(Icon(vi), 0);
  EXPECT_EQ(IGetKind(Icon(vi)), kImageFamily);
  // The root's icon (5468) and a new VI's (5500) are different images of
  // different resources: their 1-bit members differ.
  const int32 rootIcon = GetDefaultVIIcon(kVIKindRoot), viIcon = GetDefaultVIIcon(kVIKindDatalog);
  ASSERT_NE(rootIcon, 0);
  ASSERT_NE(viIcon, 0);
  EXPECT_NE(rootIcon, viIcon);
  UHandle a = nullptr, b = nullptr;
  ASSERT_EQ(RGet(rt_, FourCC("ICON"), kRootVIIconId, &a), kNoErr);
  ASSERT_EQ(RGet(rt_, FourCC("ICON"), kDefaultVIIconId, &b), kNoErr);
  EXPECT_NE(std::memcmp(*a, *b, 128), 0);
  RRelease(a);
  RRelease(b);
  EXPECT_EQ(IRelease(rootIcon), kNoErr);
  EXPECT_EQ(IRelease(viIcon), kNoErr);
  // An image the file lacks is 0.
  EXPECT_EQ(GetRTImage(4242), 0);
}

TEST_F(RunTimeFileVITest, DisposingAVIReleasesItsIcon) {
  // Warm up the image table.
  DisposeVI(NewVICore(kVIKindDatalog, PS("warm"), 0), 1);
  const Footprint before = ZoneTotals();
  UHandle vi = NewVICore(kVIKindDatalog, PS("iconic"), 0);
  ASSERT_NE(Icon(vi), 0);
  DisposeVI(vi, 1);
  CollectTypeHeapGarbage();
  EXPECT_EQ(ZoneTotals(), before);
}

TEST_F(RunTimeFileVITest, WithoutARunTimeFileVIsAreMadeWithoutIconOrName) {
  SetRunTimeRsrcFile(0);
  EXPECT_EQ(GetDefaultVIIcon(kVIKindRoot), 0);
  UHandle vi = NewVICore(kVIKindDatalog, PS("plain"), 0);
  ASSERT_NE(vi, nullptr);
  EXPECT_EQ(Icon(vi), 0);
  ASSERT_EQ(InitInstr(), kNoErr);
  EXPECT_EQ(Name(RootVI()), "");
  SetRunTimeRsrcFile(rt_);
}

TEST_F(RunTimeFileVITest, TheMemoryFullTextsAreInTheFile) {
  for (int32 i = 1; i <= 5; ++i) {
    Str255 s;
    ASSERT_EQ(RGetIndString(rt_, s, qxbuild::kMemFullTextsListId, i), kNoErr) << i;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), qxbuild::kMemFullTexts[i - 1]) << i;
  }
  // Past the end of the list: refused.
  Str255 s;
  EXPECT_NE(RGetIndString(rt_, s, qxbuild::kMemFullTextsListId, 6), kNoErr);
}

}  // namespace
