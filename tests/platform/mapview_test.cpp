// Read-only mapped views of open files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/qx_drives.h"
#include "platform/qx_file.h"

namespace fs = std::filesystem;

namespace {

class PlatViews : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "qxmvXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('V', root_.c_str(), kPlatDriveFixed), 0);
    page_ = PlatMapGranularity();
    content_.resize(3 * page_ + 100);
    for (size_t i = 0; i < content_.size(); ++i) content_[i] = char(i * 7 + i / 251);
    std::ofstream(root_ + "/f", std::ios::binary) << content_;
  }
  void TearDown() override {
    PlatDriveMap('V', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  PlatFile* OpenF(int32_t access) {
    PlatFile* f = nullptr;
    EXPECT_EQ(PlatFileOpen("V:\\f", kPlatOpenExisting, access, kPlatDenyNone, &f), 0);
    return f;
  }
  std::string root_;
  std::string content_;
  uint32_t page_ = 0;
};

TEST_F(PlatViews, GranularityIsThePageSize) {
  EXPECT_EQ(page_, uint32_t(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(page_ & (page_ - 1), 0u);
}

TEST_F(PlatViews, ViewShowsTheFileAndStaysInsideIt) {
  PlatFile* f = OpenF(kPlatRead);
  PlatView* v = nullptr;
  const uint8_t* p = nullptr;
  ASSERT_EQ(PlatFileMapView(f, page_, 2 * page_ + 100, &v, &p), 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::memcmp(p, content_.data() + page_, 2 * page_ + 100), 0);
  PlatView* w = nullptr;
  const uint8_t* q = p;
  // Off the granularity, past the end, or empty: refused.
  EXPECT_EQ(PlatFileMapView(f, 100, 10, &w, &q), kPlatErrInvalidParam);
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(PlatFileMapView(f, page_, 2 * page_ + 101, &w, &q), kPlatErrInvalidParam);
  EXPECT_EQ(PlatFileMapView(f, 4 * page_, 1, &w, &q), kPlatErrInvalidParam);
  EXPECT_EQ(PlatFileMapView(f, 0, 0, &w, &q), kPlatErrInvalidParam);
  EXPECT_EQ(PlatFileMapView(nullptr, 0, 1, &w, &q), kPlatErrInvalidHandle);
  EXPECT_EQ(w, nullptr);
  // The view outlives the file's closing.
  EXPECT_EQ(PlatFileClose(f), 0);
  EXPECT_EQ(p[0], uint8_t(content_[page_]));
  PlatUnmapView(v);
  PlatUnmapView(nullptr);
}

TEST_F(PlatViews, ViewsKeepTheFileFromBeingCut) {
  PlatFile* r = OpenF(kPlatRead);
  PlatFile* rw = OpenF(kPlatReadWrite);
  PlatView* v = nullptr;
  const uint8_t* p = nullptr;
  ASSERT_EQ(PlatFileMapView(r, 0, page_ + 10, &v, &p), 0);
  EXPECT_EQ(PlatFileSetSize(rw, page_ + 9), kPlatErrUserMappedFile);
  EXPECT_EQ(PlatLastError(), kPlatErrUserMappedFile);
  EXPECT_EQ(PlatFileSetSize(rw, page_ + 10), 0);  // down to the view's end
  EXPECT_EQ(PlatFileSetSize(rw, 5 * page_), 0);   // and up again
  EXPECT_EQ(p[page_ + 9], uint8_t(content_[page_ + 9]));
  // Nor can an open that cuts the file.
  PlatFile* cut = nullptr;
  EXPECT_EQ(PlatFileOpen("V:\\f", kPlatOpenExisting, kPlatWriteTruncate, kPlatDenyNone, &cut),
            kPlatErrUserMappedFile);
  EXPECT_EQ(PlatFileOpen("V:\\f", kPlatCreateAlways, kPlatReadWrite, kPlatDenyNone, &cut), kPlatErrUserMappedFile);
  EXPECT_EQ(cut, nullptr);
  EXPECT_EQ(fs::file_size(root_ + "/f"), 5 * page_);
  PlatUnmapView(v);
  EXPECT_EQ(PlatFileSetSize(rw, 1), 0);
  // A write-only open can't be viewed.
  PlatFile* w = OpenF(kPlatWrite);
  PlatView* none = nullptr;
  const uint8_t* q = nullptr;
  EXPECT_EQ(PlatFileMapView(w, 0, 1, &none, &q), kPlatErrAccessDenied);
  PlatFileClose(w);
  PlatFileClose(rw);
  PlatFileClose(r);
}

}  // namespace
