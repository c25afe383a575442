// Helpers of the resource manager tests: the managers started, a fresh
// temporary folder mapped as drive R, files written with the resource-file
// writer, and readers of what the manager gives back.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "mgsource/rsrc_internal.h"
#include "path_test_util.h"
#include "platform/qx_drives.h"
#include "test_support.h"
#include "tools/rsrcwriter.h"

namespace rsrctest {

using pathtest::Owned;
using pathtest::PS;
using pathtest::Str;
using rsrcw::Bytes;
namespace fs = std::filesystem;

constexpr ResType kTEXT = FourCC("TEXT");
constexpr ResType kDATA = FourCC("DATA");
constexpr ResType kICON = FourCC("ICON");
constexpr uInt32 kAPPL = FourCC("APPL");
constexpr uInt32 kQNLX = FourCC("QNLX");

inline void EnsureResources() {
  EnsureManagers();
  static std::once_flag once;
  std::call_once(once, [] { ASSERT_EQ(RInitResources(), kNoErr); });
}

inline std::string Text(UHandle h) {
  return h ? std::string(reinterpret_cast<const char*>(*h), size_t(AZGetHandleSize(h))) : std::string("<null>");
}

// Opens a copy of the bytes as a memory image; the image belongs to the
// file on success and is disposed here on failure.
inline RsrcFileRef OpenImage(const Bytes& bytes, MgErr* err = nullptr) {
  UHandle h = AZNewHandle(int32(bytes.size()));
  if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  RsrcFileRef ref = 0;
  MgErr e = ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h);
  if (e) AZDisposeHandle(h);
  if (err) *err = e;
  return ref;
}

inline std::string GetText(RsrcFileRef ref, ResType type, int32 id, MgErr* err = nullptr) {
  UHandle h = nullptr;
  MgErr e = RGet(ref, type, id, &h);
  if (err) *err = e;
  return e ? std::string() : Text(h);
}
inline std::string IndString(RsrcFileRef ref, int32 list, int32 index, MgErr* err = nullptr) {
  Str255 s;
  s[0] = 7;
  MgErr e = RGetIndString(ref, s, list, index);
  if (err) *err = e;
  return Str(s);
}
// Removes a resource of an open file.
inline MgErr RemoveRsrc(RsrcFileRef ref, ResType type, int32 id) {
  UHandle h = nullptr;
  if (MgErr err = RGet(ref, type, id, &h)) return err;
  MgErr err = RRemove(h, ref);
  if (err == kNoErr) AZDisposeHandle(h);
  return err;
}
// The open file's record.
inline rsrc::FileRec FileOf(RsrcFileRef ref) {
  rsrc::FileRec rec = {};
  rsrc::Lock lock;
  EXPECT_EQ(rsrc::GetFile(ref, &rec), kNoErr);
  return rec;
}
// Bytes the resource manager has written to files so far.
inline uInt64 Written() { return rsrc::gBytesWritten.load(); }

class RsrcTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    EnsureResources();
    // The resource manager keeps the list of its files from its first search
    // by handle on: it is made here, before the count.
    UHandle probe = AZNewHandle(0);
    RFindByHandle(probe, nullptr, nullptr, nullptr);
    AZDisposeHandle(probe);
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ResetLiveBaseline();
    std::string t = (fs::temp_directory_path() / "qxrsXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('R', root_.c_str(), kPlatDriveFixed), 0);
  }
  void TearDown() override {
    PlatDriveMap('R', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
    ManagerTest::TearDown();
    FExitFileMgr();
  }

  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  static Path P(const std::string& rel) { return pathtest::ToPath("R:\\" + rel); }
  void Put(const std::string& rel, const Bytes& bytes) { ASSERT_TRUE(rsrcw::WriteHostFile(Host(rel), bytes)); }
  Bytes Get(const std::string& rel) const { return rsrcw::ReadHostFile(Host(rel)); }

  // Opens a file; 0 when it fails (the error in *err).
  RsrcFileRef Open(const std::string& rel, int32 mode, MgErr* err = nullptr) {
    Owned p(P(rel));
    RsrcFileRef ref = 0;
    MgErr e = ROpenFile(p, mode, &ref, nullptr, nullptr);
    if (err) *err = e;
    return ref;
  }
  std::string root_;
};

}  // namespace rsrctest
