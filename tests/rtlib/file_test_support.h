// Shared set-up of the file-refnum tests: a scratch folder mapped to drive
// F:, host-side file helpers, and refnums opened through the diagram
// functions.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/datatype.h"
#include "engine/engine_test_support.h"
#include "engine/flatten.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path_test_util.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "rtlib/filehooks.h"
#include "rtlib/filepaths.h"
#include "rtlib/filerefnum.h"
#include "tools/tdbuilder.h"

namespace filetest {

namespace fs = std::filesystem;
using pathtest::Owned;
using pathtest::PS;

inline std::string Text(LStrHandle h) {
  return h && *h ? std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)) : std::string();
}
inline LStrHandle NewString(const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
  (*h)->cnt = int32(s.size());
  if (!s.empty()) std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
inline void Dispose(LStrHandle& h) {
  if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  h = nullptr;
}

// A type descriptor in an application-zone handle, as compiled code hands
// them over (the handle and an offset).
class TDHandle {
 public:
  explicit TDHandle(const tdb::TD& td) {
    std::vector<uChar> b = td.Bytes();
    h_ = AZNewHandle(int32(b.size()));
    std::memcpy(*h_, b.data(), b.size());
  }
  ~TDHandle() { AZDisposeHandle(h_); }
  TDHandle(const TDHandle&) = delete;
  TDHandle& operator=(const TDHandle&) = delete;
  UHandle h() const { return h_; }
  const TypeDescriptor* td() const { return reinterpret_cast<const TypeDescriptor*>(*h_); }

 private:
  UHandle h_;
};

// The strings of a one-dimensional array of strings.
inline std::vector<std::string> Strings(UHandle a) {
  std::vector<std::string> v;
  if (!a || !*a) return v;
  int32 n;
  std::memcpy(&n, *a, 4);
  for (int32 i = 0; i < n; ++i) {
    LStrHandle s;
    std::memcpy(&s, *a + 4 + 4 * i, 4);
    v.push_back(Text(s));
  }
  return v;
}
inline void DisposeStrings(UHandle& a) {
  if (a && *a) {
    int32 n;
    std::memcpy(&n, *a, 4);
    for (int32 i = 0; i < n; ++i) {
      LStrHandle s;
      std::memcpy(&s, *a + 4 + 4 * i, 4);
      Dispose(s);
    }
  }
  if (a) DSDisposeHandle(a);
  a = nullptr;
}

class FileTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    string_ = std::make_unique<TDHandle>(tdb::String());
    ASSERT_EQ(FRefNumJarCreate(), kNoErr);
    SetFlatCheckAvailProc(&FPCheckAvail);
    std::string t = (fs::temp_directory_path() / "qxfpXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('F', root_.c_str(), kPlatDriveFixed), 0);
  }
  void TearDown() override {
    PlatFileSetFault(nullptr);
    SetDatalogProcs(nullptr);
    SetFileShellHooks(nullptr);
    SetRefnumKindHooks(nullptr);
    for (FileRefnum r : open_)
      if (FIsARefNum(r)) RTFPClose(r);
    string_.reset();
    PlatDriveMap('F', nullptr, 0);
    std::error_code ec;
    fs::permissions(root_, fs::perms::all, ec);
    fs::remove_all(root_, ec);
    EngineTest::TearDown();
  }

  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  static Path P(const std::string& rel) { return pathtest::ToPath(rel.empty() ? "F:" : "F:\\" + rel); }
  void Put(const std::string& rel, const std::string& bytes) const {
    std::ofstream o(Host(rel), std::ios::binary);
    o << bytes;
  }
  std::string Get(const std::string& rel) const {
    std::ifstream i(Host(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(i), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& rel) const { return fs::exists(Host(rel)); }

  // Opens a file through the diagram function; the refnum is closed at the
  // end of the test if the test leaves it open.
  FileRefnum Open(const std::string& rel, int32 access = kAccessReadWrite, int32 deny = kDenyNone,
                  MgErr expect = kNoErr) {
    Owned p(P(rel));
    FileRefnum r = 0;
    EXPECT_EQ(RTFPOpen(p, access, deny, nullptr, 0, &r, 0), expect) << rel;
    if (r) open_.push_back(r);
    return r;
  }
  FileRefnum Create(const std::string& rel, bool replace = false, MgErr expect = kNoErr, int32 deny = kDenyNone) {
    Owned p(P(rel));
    FileRefnum r = 0;
    EXPECT_EQ(RTFPNewFile(p, deny, nullptr, 0, 0, nullptr, &r, replace), expect) << rel;
    if (r) open_.push_back(r);
    return r;
  }

  // Byte reads and writes of strings through a refnum.
  static MgErr ReadStr(FileRefnum r, int32 mode, int32 offset, const int32* count, LStrHandle* s, bool line = false,
                       bool convert = false, int32* pos = nullptr) {
    int32 p = -1;
    return FPRead(r, nullptr, 0, mode, offset, count, nullptr, 0, s, line, convert, 0, pos ? pos : &p);
  }
  MgErr WriteStr(FileRefnum r, const std::string& text, int32 flags = 0, int32 mode = kFPFromCurrent,
                 int32 offset = 0, int32* pos = nullptr) {
    LStrHandle s = NewString(text);
    int32 p = -1;
    MgErr err = FPWrite(r, nullptr, 0, mode, offset, string_->h(), 0, &s, flags, pos ? pos : &p);
    Dispose(s);
    return err;
  }

  std::unique_ptr<TDHandle> string_;
  std::string root_;
  std::vector<FileRefnum> open_;
};

}  // namespace filetest
