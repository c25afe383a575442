// Extraction of members: into memory or temporary files, the reuse of a
// temporary file only after its last extraction was closed, the removal of
// every temporary file at shut-down, the open-library cache and a built
// application's own library.
#include <algorithm>
#include <sys/wait.h>

#include <cstdio>
#include <thread>

#include "archive_test_support.h"

namespace archtest {
namespace {

constexpr uInt32 kDATA = FourCC("DATA");

class ArchiveExtractTest : public ArchiveTest {
 protected:
  // A library of two large VIs, two small ones, a control and a subroutine.
  void PutLibrary() {
    qxbuild::VILibraryWriter lib("x.qlb");
    lib.Add(qxbuild::MakeMember("big1.vi", kTypeVI, {}, 0, 0x05008007, 300000, 0x11));
    lib.Add(qxbuild::MakeMember("big2.vi", kTypeVI, {}, 0, 0x05008007, 300000, 0x22));
    lib.Add(qxbuild::MakeMember("small1.vi", kTypeVI, {}, 0, 0x05008007, 1000, 0x33));
    lib.Add(qxbuild::MakeMember("small2.vi", kTypeVI, {}, 0, 0x05008007, 1000, 0x44));
    lib.Add(qxbuild::MakeMember("big.ctl", kTypeControl, {}, 0, 0x05008007, 260000, 0x55));
    lib.Add(qxbuild::MakeMember("big.qsb", kTypeSubroutine, {}, 0, 0x05008007, 260000, 0x66));
    Put("x.qlb", lib.Write());
  }
  // The DATA bytes MakeMember put in a member of that pattern.
  static std::string Pattern(size_t size, uChar pattern) {
    std::string s(size, char(pattern));
    for (size_t i = 0; i < size; i += 97) s[i] = char(uChar(i / 97));
    return s;
  }
  MgErr Extract(const std::string& name, RsrcFileRef* file, uInt32* type = nullptr) {
    OwnedPath member(P("x.qlb\\" + name));
    return ArchiveExtractByPath(member, nullptr, file, type, nullptr);
  }
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> out;
    for (const std::string& f : Files())
      if (f.rfind("uarc", 0) == 0) out.push_back(f);
    return out;
  }
  std::string Name(int32 n, const char* ext) const { return "uarc" + std::to_string(n) + ext; }
  const int32 pid_ = PlatProcessId() % 10000;
};

TEST_F(ArchiveExtractTest, ASecondLargeExtractionLeavesAnOpenFirstIntact) {
  PutLibrary();
  RsrcFileRef first = 0, second = 0;
  ASSERT_EQ(Extract("big1.vi", &first), kNoErr);
  EXPECT_EQ(TempFiles(), (std::vector<std::string>{Name(pid_, ".vi")}));
  // The first stays open, its data section mapped and not read yet.
  ASSERT_EQ(Extract("big2.vi", &second), kNoErr);
  std::vector<std::string> kept{Name(pid_ + 10000, ".vi"), Name(pid_, ".vi")};
  std::sort(kept.begin(), kept.end());  // the listing's order, whatever the process number
  EXPECT_EQ(TempFiles(), kept);
  EXPECT_EQ(ResourceText(first, kDATA, 0), Pattern(300000, 0x11));
  EXPECT_EQ(ResourceText(second, kDATA, 0), Pattern(300000, 0x22));
  EXPECT_EQ(RCloseFile(first), kNoErr);
  EXPECT_EQ(RCloseFile(second), kNoErr);
}

TEST_F(ArchiveExtractTest, AClosedTemporaryFileIsReused) {
  PutLibrary();
  RsrcFileRef f = 0;
  ASSERT_EQ(Extract("big1.vi", &f), kNoErr);
  ASSERT_EQ(RCloseFile(f), kNoErr);
  ASSERT_EQ(Extract("big2.vi", &f), kNoErr);
  EXPECT_EQ(TempFiles(), (std::vector<std::string>{Name(pid_, ".vi")}));
  EXPECT_EQ(ResourceText(f, kDATA, 0), Pattern(300000, 0x22));
  ASSERT_EQ(RCloseFile(f), kNoErr);
  // Without an open file wanted, the file is free again at once.
  OwnedPath member(P("x.qlb\\big1.vi"));
  ASSERT_EQ(ArchiveExtractByPath(member, nullptr, nullptr, nullptr, nullptr), kNoErr);
  ASSERT_EQ(ArchiveExtractByPath(member, nullptr, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_EQ(TempFiles(), (std::vector<std::string>{Name(pid_, ".vi")}));
}

TEST_F(ArchiveExtractTest, SmallMembersGoToMemory) {
  PutLibrary();
  RsrcFileRef a = 0, b = 0;
  uInt32 type = 0;
  Point pos{3, 4};
  OwnedPath member(P("x.qlb\\small1.vi"));
  ASSERT_EQ(ArchiveExtractByPath(member, nullptr, &a, &type, &pos), kNoErr);
  EXPECT_EQ(type, kTypeVI);
  EXPECT_EQ(pos.v, -1);
  EXPECT_EQ(pos.h, -1);
  ASSERT_EQ(Extract("small2.vi", &b), kNoErr);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(ResourceText(a, kDATA, 0), Pattern(1000, 0x33));
  EXPECT_EQ(ResourceText(b, kDATA, 0), Pattern(1000, 0x44));
  // Opened read-only from memory: no change is taken.
  UHandle h = AZNewHandle(4);
  EXPECT_EQ(RAdd(h, a, kDATA, 9, nullptr), kFilePermErr);
  AZDisposeHandle(h);
  EXPECT_EQ(RCloseFile(a), kNoErr);
  EXPECT_EQ(RCloseFile(b), kNoErr);
}

TEST_F(ArchiveExtractTest, EachKindHasItsTemporaryFile) {
  PutLibrary();
  const struct {
    const char* name;
    const char* ext;
    uInt32 type;
  } cases[] = {{"big.ctl", ".ctl", kTypeControl}, {"big.qsb", ".qsb", kTypeSubroutine}, {"big1.vi", ".vi", kTypeVI}};
  for (const auto& c : cases) {
    RsrcFileRef f = 0;
    uInt32 type = 0;
    ASSERT_EQ(Extract(c.name, &f, &type), kNoErr) << c.name;
    EXPECT_EQ(type, c.type);
    EXPECT_TRUE(Exists(Name(pid_, c.ext))) << c.name;
    EXPECT_EQ(RCloseFile(f), kNoErr);
  }
  EXPECT_EQ(TempFiles().size(), 3u);
}

TEST_F(ArchiveExtractTest, CleanUpRemovesEveryFileMade) {
  PutLibrary();
  RsrcFileRef f1 = 0, f2 = 0, f3 = 0;
  ASSERT_EQ(Extract("big1.vi", &f1), kNoErr);
  ASSERT_EQ(Extract("big2.vi", &f2), kNoErr);
  ASSERT_EQ(Extract("big.ctl", &f3), kNoErr);
  RCloseFile(f3);
  Put("$temp.qlb", Bytes(10, 1));
  EXPECT_EQ(TempFiles().size(), 3u);
  // Files still open can't be removed; they are reported and kept for the
  // next clean-up.
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(CleanUpArchive(), kFilePermErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("error removing archive.vi: 8"), 2);
  std::vector<std::string> kept{Name(pid_ + 10000, ".vi"), Name(pid_, ".vi")};
  std::sort(kept.begin(), kept.end());  // the listing's order, whatever the process number
  EXPECT_EQ(TempFiles(), kept);
  EXPECT_FALSE(Exists("$temp.qlb"));
  RCloseFile(f1);
  RCloseFile(f2);
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(CleanUpArchive(), kNoErr);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(qxtest::Reports::Get().Count("error removing"), 0);
  // A removal that fails is reported and returned.
  ASSERT_TRUE(fs::create_directory(Host("$temp.qlb")));
  Put("$temp.qlb/keep", Bytes(1, 1));
  EXPECT_NE(CleanUpArchive(), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("error removing $temp.qlb: "), 1);
  fs::remove_all(Host("$temp.qlb"));
}

TEST_F(ArchiveExtractTest, ExtractionToAGivenDestination) {
  PutLibrary();
  RsrcFileRef lib = Open("x.qlb");
  OwnedPath dest(P("out.vi"));
  RsrcFileRef f = 0;
  ASSERT_EQ(ArchiveExtractToTmpFile(lib, PS("BIG1.VI"), dest, &f, kTypeVI), kNoErr);
  EXPECT_EQ(ResourceText(f, kDATA, 0), Pattern(300000, 0x11));
  EXPECT_EQ(RCloseFile(f), kNoErr);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(ArchiveExtractToTmpFile(lib, PS("none.vi"), dest, &f, kTypeVI), kRsrcNotFoundErr);
  EXPECT_EQ(f, 0u);
  EXPECT_EQ(RCloseFile(lib), kNoErr);
  // Without the shell's temporary names there is no temporary file.
  ArchiveSetTempPathProc(nullptr);
  EXPECT_EQ(Extract("big1.vi", &f), kMemFullErr);
  OwnedPath missing(P("x.qlb\\nothing.vi"));
  EXPECT_EQ(ArchiveExtractByPath(missing, nullptr, &f, nullptr, nullptr), kFileNotFoundErr);
}

TEST_F(ArchiveExtractTest, NestedOperationsKeepTheLibraryOpen) {
  PutLibrary();
  RsrcFileRef f = 0;
  ASSERT_EQ(Extract("small1.vi", &f), kNoErr);
  RCloseFile(f);
  EXPECT_EQ(archive::CachedLibrary(), 0u) << "closed when the operation ended";

  ArchiveHoldLibraries();
  ArchiveHoldLibraries();
  ASSERT_EQ(Extract("small1.vi", &f), kNoErr);
  RCloseFile(f);
  const RsrcFileRef held = archive::CachedLibrary();
  EXPECT_NE(held, 0u);
  EXPECT_EQ(List("x.qlb", 0).names.size(), 6u);
  ASSERT_EQ(Extract("small2.vi", &f), kNoErr);
  RCloseFile(f);
  EXPECT_EQ(archive::CachedLibrary(), held) << "the same open library serves every nested operation";
  int32 n = 0;
  EXPECT_EQ(RCountTypes(held, &n), kNoErr);
  ArchiveReleaseLibraries();
  EXPECT_EQ(archive::CachedLibrary(), held);
  ArchiveReleaseLibraries();
  EXPECT_EQ(archive::CachedLibrary(), 0u);
  EXPECT_EQ(RCountTypes(held, &n), kRsrcFileNotFoundErr) << "closed by the outermost release";
  ArchiveReleaseLibraries();  // one too many changes nothing
  EXPECT_EQ(archive::CachedLibrary(), 0u);
}

TEST_F(ArchiveExtractTest, ConcurrentExtractionsFromOneLibrary) {
  PutLibrary();
  const int rounds = qxtest::Scaled(40);
  std::atomic<int> failures{0};
  auto work = [&](const char* name, uChar pattern) {
    for (int i = 0; i < rounds; ++i) {
      RsrcFileRef f = 0;
      if (Extract(name, &f) != kNoErr || ResourceText(f, kDATA, 0) != Pattern(1000, pattern)) ++failures;
      if (f) RCloseFile(f);
    }
  };
  std::thread a(work, "small1.vi", 0x33), b(work, "small2.vi", 0x44);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
}

// A built application finds members in its own library first; only "not
// found" there goes on to the library at the path.
class BuiltAppLibrary : public ArchiveTest {
 protected:
  std::map<std::string, std::string> Run(const std::string& program, const std::string& args) {
    std::map<std::string, std::string> out;
    const std::string command = "QUENLIX_DRIVES='L=" + root_ + "' " + program + " " + args + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      const size_t eq = s.find('=');
      if (eq != std::string::npos) out[s.substr(0, eq)] = s.substr(eq + 1);
    }
    out["status"] = std::to_string(WEXITSTATUS(pclose(p)));
    return out;
  }
  std::string Build(const std::string& name, const Bytes& directory = {}) {
    qxbuild::VILibraryWriter lib(name);
    lib.Add(qxbuild::MakeMember("sub.vi", kTypeVI));
    lib.Add(qxbuild::MakeMember("main.vi", kTypeVI, {}, kFlagTopLevel));
    lib.Add(qxbuild::MakeMember("shared.ctl", kTypeControl));
    rsrcw::Writer w(FourCC("APPL"), kCreator);
    qxbuild::AddConfigTokenStrings(&w);
    qxbuild::AddLibraryToolResources(&w);
    if (directory.empty()) {
      lib.AddTo(&w);
    } else {
      w.Add(kRsrcDir, 0, directory);
    }
    std::string error;
    EXPECT_TRUE(qxbuild::AppendToProgram(QX_LIBRARY_PROBE, w.Write(), Host(name), &error)) << error;
    return Host(name);
  }
};

TEST_F(BuiltAppLibrary, ItsOwnLibraryIsAskedFirst) {
  qxbuild::VILibraryWriter disk("disk.qlb");
  disk.Add(qxbuild::MakeMember("shared.ctl", kTypeVI));
  disk.Add(qxbuild::MakeMember("only.vi", kTypeSubroutine));
  Put("disk.qlb", disk.Write());
  // A control of the same name in the folder: the program's own wins.
  rsrcw::Writer beside(kTypeControl, kCreator);
  beside.Add(FourCC("DATA"), 1, {1});
  Put("shared.ctl", beside.Write());
  const std::string app = Build("app.exe");
  auto out = Run(app, "'L:\\disk.qlb' shared.ctl only.vi absent.vi");
  EXPECT_EQ(out["find.shared.ctl"], "1 1 L:\\app.exe\\shared.ctl") << "from the program's own library";
  EXPECT_EQ(out["status"], "0");
  EXPECT_EQ(out["built"], "1");
  EXPECT_EQ(out["open"], "0");
  EXPECT_EQ(out["list"], "0 main.vi:19:QXIN;shared.ctl:3:QXCC;sub.vi:3:QXIN;");
  EXPECT_EQ(out["lookup.shared.ctl"], "0 QXCC") << "found in the program's own library";
  EXPECT_EQ(out["lookup.only.vi"], "0 QXSB") << "not there: the library at the path";
  EXPECT_EQ(out["lookup.absent.vi"], "7 ");
  EXPECT_EQ(out["extract"], "0 1");
  EXPECT_EQ(out["cleanup"], "0");
}

TEST_F(BuiltAppLibrary, OnlyNotFoundFallsThrough) {
  qxbuild::VILibraryWriter disk("disk.qlb");
  disk.Add(qxbuild::MakeMember("only.vi", kTypeSubroutine));
  Put("disk.qlb", disk.Write());
  Bytes bad = qxbuild::Directory({});
  PutBE32(&bad[kDirCount], 5);  // more entries than it holds
  const std::string app = Build("bad.exe", bad);
  auto out = Run(app, "'L:\\disk.qlb' only.vi");
  EXPECT_EQ(out["status"], "0");
  EXPECT_EQ(out["list"], "13 ");
  EXPECT_EQ(out["lookup.only.vi"], "13 ");
}

}  // namespace
}  // namespace archtest
