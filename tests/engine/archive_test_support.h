// Shared set-up of the VI-library tests: the managers started, a fresh
// folder mapped as drive L, a run-time resource file made by the tools and
// handed to the engine, temporary member files made in the test's folder,
// and helpers that build members and read libraries back.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/vi/archive.h"
#include "engine/vi/archive_format.h"
#include "engine/vi/archive_internal.h"
#include "engine/vi/rtrsrc.h"
#include "engine_test_support.h"
#include "mgsource/path_test_util.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_drives.h"
#include "platform/qx_process.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"
#include "tools/vilibrary.h"

namespace archtest {

using namespace archfmt;
using rsrcw::Bytes;
namespace fs = std::filesystem;

using pathtest::PS;
using pathtest::Str;
using pathtest::ToPath;
using OwnedPath = pathtest::Owned;

// The code's four characters.
inline std::string CodeText(uInt32 code) {
  uChar b[4];
  PutNative32(b, code);
  return std::string(reinterpret_cast<const char*>(b), 4);
}

// A resource's bytes, or "<err N>".
inline std::string ResourceText(RsrcFileRef ref, uInt32 type, int32 id) {
  UHandle h = nullptr;
  if (MgErr err = RGet(ref, type, id, &h)) return "<err " + std::to_string(err) + ">";
  return std::string(reinterpret_cast<const char*>(*h), size_t(AZGetHandleSize(h)));
}
inline std::string BytesText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A listing read back: names, and the records' flags, types and ids.
struct Listing {
  MgErr err = kNoErr;
  std::vector<std::string> names;
  std::vector<uInt32> flags, types;
  std::vector<int32> ids;
};
inline Listing ReadListing(MgErr err, CPStrHandle names, UHandle records, int32 recordSize) {
  Listing l;
  l.err = err;
  if (err) return l;
  const uChar* p = reinterpret_cast<const uChar*>(*names) + 4;
  for (int32 i = 0; i < (*names)->cnt; ++i, p += 1 + p[0]) l.names.push_back(Str(p));
  if (records) {
    EXPECT_EQ(AZGetHandleSize(records), recordSize * int32(l.names.size()));
    for (size_t i = 0; i < l.names.size(); ++i) {
      const uChar* r = *records + recordSize * int32(i);
      l.flags.push_back(GetNative32(r));
      l.types.push_back(GetNative32(r + 4));
      if (recordSize == 12) l.ids.push_back(int32(GetNative32(r + 8)));
    }
  }
  return l;
}

class ArchiveTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    std::string t = (fs::temp_directory_path() / "qxarXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('L', root_.c_str(), kPlatDriveFixed), 0);
    ArchiveSetTempPathProc(&TempPath);
    // The run-time resource file with the texts and images of the tools.
    rsrcw::Writer w(FourCC("APPL"), kCreator);
    qxbuild::AddLibraryToolResources(&w);
    ASSERT_TRUE(rsrcw::WriteHostFile(Host("runtime.rsc"), w.Write()));
    OwnedPath rt(P("runtime.rsc"));
    ASSERT_EQ(ROpenFile(rt, kRsrcReadOnly, &runtime_, nullptr, nullptr), kNoErr);
    SetRunTimeRsrcFile(runtime_);
  }
  void TearDown() override {
    EXPECT_EQ(CleanUpArchive(), kNoErr);
    SetRunTimeRsrcFile(0);
    if (runtime_) RCloseFile(runtime_);
    ArchiveSetTempPathProc(nullptr);
    PlatDriveMap('L', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
    FExitFileMgr();
    EngineTest::TearDown();
  }

  // Temporary member files go to the test's folder.
  static Path TempPath(const char* format, Path reuse) {
    Str255 name;
    PPrintf(name, format, int32(PlatProcessId() % 10000));
    const std::string text = "L:\\" + Str(name);
    Path p = reuse;
    if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p) != kNoErr) return nullptr;
    return p;
  }

  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  static Path P(const std::string& rel) { return ToPath("L:\\" + rel); }
  void Put(const std::string& rel, const Bytes& bytes) { ASSERT_TRUE(rsrcw::WriteHostFile(Host(rel), bytes)); }
  Bytes Get(const std::string& rel) const { return rsrcw::ReadHostFile(Host(rel)); }
  bool Exists(const std::string& rel) const { return fs::exists(Host(rel)); }
  // The files of the test's folder, but the run-time file.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(root_))
      if (e.path().filename() != "runtime.rsc") out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  // Writes a member file and gives it.
  qxbuild::LibraryMember PutMember(const std::string& rel, uInt32 type, const qxbuild::ResourceList& own = {},
                                   size_t padding = 0, uChar pattern = 0, uInt32 version = 0x05008007) {
    qxbuild::LibraryMember m = qxbuild::MakeMember(rel, type, own, 0, version, padding, pattern);
    Put(rel, m.file);
    return m;
  }
  // AddQLBFile of a file of the test's folder into L:\<library>\<name>.
  MgErr AddFile(const std::string& library, const std::string& source, const std::string& name = "",
                bool palette = false, std::string* text = nullptr) {
    OwnedPath member(P(library + "\\" + (name.empty() ? source : name)));
    OwnedPath src(P(source));
    Point pos{-1, -1};
    Str255 buf;
    buf[0] = 0;
    MgErr err = AddQLBFile(member, src, palette ? &pos : nullptr, palette, buf);
    if (text) *text = Str(buf);
    return err;
  }
  Listing List(const std::string& library, int32 mode, int32 recordSize = 12) {
    OwnedPath path(P(library));
    CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
    UHandle records = AZNewHandle(0);
    MgErr err = recordSize == 8
                    ? ArchiveDirList(path, names, reinterpret_cast<DirEntryTypeHandle>(records), mode, 0)
                    : ArchiveDirListEx(path, names, records, mode, 0, kArchiveListRecords12);
    Listing l = ReadListing(err, names, records, recordSize);
    AZDisposeHandle(reinterpret_cast<UHandle>(names));
    AZDisposeHandle(records);
    return l;
  }
  RsrcFileRef Open(const std::string& rel, int32 mode = kRsrcReadOnly) {
    OwnedPath p(P(rel));
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFile(p, mode, &ref, nullptr, nullptr), kNoErr) << rel;
    return ref;
  }

  std::string root_;
  RsrcFileRef runtime_ = 0;
};

}  // namespace archtest
