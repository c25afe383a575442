// VI-library directories: entry sizes, listings in each sort mode, lookups,
// member information and directories that lie about their sizes.
#include "archive_test_support.h"

namespace archtest {
namespace {

using qxbuild::LibraryMember;
using qxbuild::MakeMember;
using qxbuild::VILibraryWriter;

LibraryMember Member(const std::string& name, uInt32 type, uInt32 flags = 0) {
  LibraryMember m = MakeMember(name, type, {}, flags);
  m.modDate = 3000000000u;
  m.date2 = 2900000000u;
  return m;
}

class ArchiveDirTest : public ArchiveTest {
 protected:
  // A library of five members, two of them top-level.
  void PutSample(const std::string& rel) {
    VILibraryWriter lib(rel);
    lib.Add(Member("b.vi", kTypeVI));
    lib.Add(Member("Main.vi", kTypeVI, kFlagTopLevel));
    lib.Add(Member("a.ctl", kTypeControl));
    lib.Add(Member("zeta.vi", kTypeVI, kFlagTopLevel));
    lib.Add(Member("C.qsb", kTypeSubroutine));
    Put(rel, lib.Write());
  }
};

TEST_F(ArchiveDirTest, EntriesTakeTheirNameRoundedToFourBytes) {
  // Names of 3 and 4 characters take 36 and 40 bytes; the reader walks them.
  VILibraryWriter lib("x.qlb");
  lib.Add(Member("abc", kTypeVI));
  lib.Add(Member("abcd", kTypeVI));
  lib.Add(Member("a", kTypeVI));
  Bytes dir = qxbuild::Directory(lib.Members());
  ASSERT_EQ(dir.size(), size_t(24 + 36 + 40 + 36));
  archive::ArchiveDir view;
  ASSERT_EQ(view.Attach(dir.data(), int32(dir.size())), kNoErr);
  ASSERT_EQ(view.Count(), 3);
  EXPECT_EQ(view.Offset(0), 24u);
  EXPECT_EQ(view.Offset(1), 60u);
  EXPECT_EQ(view.Offset(2), 100u);
  EXPECT_EQ(view.Size(0), 36);
  EXPECT_EQ(view.Size(1), 40);
  EXPECT_EQ(Str(view.Name(1)), "abcd");
  EXPECT_EQ(view.Id(2), 3);
  EXPECT_EQ(view.LargestId(), 3);
  EXPECT_EQ(view.Find(PS("ABCD")), 1);
  EXPECT_EQ(view.Find(PS("abc ")), -1);
  EXPECT_EQ(view.Find(PS("ab")), -1);
}

TEST_F(ArchiveDirTest, SortModesOrderTheListing) {
  PutSample("s.qlb");
  const struct {
    int32 mode;
    std::vector<std::string> names;
  } cases[] = {
      {0, {"b.vi", "Main.vi", "a.ctl", "zeta.vi", "C.qsb"}},
      {2, {"Main.vi", "zeta.vi", "a.ctl", "b.vi", "C.qsb"}},
      {3, {"a.ctl", "b.vi", "C.qsb", "Main.vi", "zeta.vi"}},
      {1, {"a.ctl", "b.vi", "C.qsb", "Main.vi", "zeta.vi"}},
      {-7, {"a.ctl", "b.vi", "C.qsb", "Main.vi", "zeta.vi"}},
  };
  for (const auto& c : cases) {
    Listing l = List("s.qlb", c.mode);
    ASSERT_EQ(l.err, kNoErr) << c.mode;
    EXPECT_EQ(l.names, c.names) << "mode " << c.mode;
  }
}

TEST_F(ArchiveDirTest, RecordsCarryFlagsTypeAndId) {
  PutSample("s.qlb");
  Listing l12 = List("s.qlb", 0, 12);
  ASSERT_EQ(l12.err, kNoErr);
  EXPECT_EQ(l12.flags, (std::vector<uInt32>{3, 0x13, 3, 0x13, 3}));
  EXPECT_EQ(l12.types, (std::vector<uInt32>{kTypeVI, kTypeVI, kTypeControl, kTypeVI, kTypeSubroutine}));
  EXPECT_EQ(l12.ids, (std::vector<int32>{1, 2, 3, 4, 5}));
  Listing l8 = List("s.qlb", 2, 8);
  ASSERT_EQ(l8.err, kNoErr);
  EXPECT_EQ(l8.flags, (std::vector<uInt32>{0x13, 0x13, 3, 3, 3}));
  EXPECT_EQ(l8.types, (std::vector<uInt32>{kTypeVI, kTypeVI, kTypeControl, kTypeVI, kTypeSubroutine}));

  // The same through an open library, with the records left out.
  RsrcFileRef ref = Open("s.qlb");
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
  EXPECT_EQ(ArchiveDirListRef(ref, names, nullptr, 2, 0), kNoErr);
  Listing r = ReadListing(kNoErr, names, nullptr, 12);
  EXPECT_EQ(r.names, (std::vector<std::string>{"Main.vi", "zeta.vi", "a.ctl", "b.vi", "C.qsb"}));
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
  RCloseFile(ref);
}

TEST_F(ArchiveDirTest, ToolsLibraryAndAddedOneListTheSame) {
  VILibraryWriter lib("made.qlb");
  const struct {
    const char* name;
    uInt32 type;
  } members[] = {{"one.vi", kTypeVI}, {"two.ctl", kTypeControl}, {"three.vi", kTypeVI}, {"four.qsb", kTypeSubroutine}};
  for (const auto& m : members) {
    LibraryMember lm = PutMember(m.name, m.type);
    lib.Add(lm);
    ASSERT_EQ(AddFile("added.qlb", m.name), kNoErr) << m.name;
  }
  Put("made.qlb", lib.Write());
  for (int32 mode : {0, 1, 2, 3}) {
    Listing a = List("made.qlb", mode), b = List("added.qlb", mode);
    ASSERT_EQ(a.err, kNoErr);
    ASSERT_EQ(b.err, kNoErr);
    EXPECT_EQ(a.names, b.names) << mode;
    EXPECT_EQ(a.flags, b.flags) << mode;
    EXPECT_EQ(a.types, b.types) << mode;
    EXPECT_EQ(a.ids, b.ids) << mode;
  }
}

TEST_F(ArchiveDirTest, LookupAndMemberInfo) {
  PutSample("s.qlb");
  OwnedPath lib(P("s.qlb"));
  uInt32 type = 0;
  EXPECT_EQ(ArchiveLookupMember(lib, PS("A.CTL"), &type), kNoErr);
  EXPECT_EQ(type, kTypeControl);
  EXPECT_EQ(ArchiveLookupMember(lib, PS("a.ct"), &type), kFileNotFoundErr);
  EXPECT_EQ(ArchiveLookupMember(lib, PS("a.ctl "), &type), kFileNotFoundErr);
  OwnedPath missing(P("none.qlb"));
  EXPECT_EQ(ArchiveLookupMember(missing, PS("a.ctl"), &type), kFileNotFoundErr);
  EXPECT_EQ(ArchiveLookupMember(nullptr, PS("a.ctl"), &type), kFileNotFoundErr);

  FileInfoRec info;
  OwnedPath member(P("s.qlb\\zeta.vi"));
  ASSERT_EQ(ArchivePathMemberInfo(member, &info), kNoErr);
  EXPECT_EQ(info.type, kTypeVI);
  EXPECT_EQ(info.creator, kCreator);
  EXPECT_EQ(info.mdate, 3000000000u);
  EXPECT_EQ(info.cdate, 2900000000u);
  OwnedPath absent(P("s.qlb\\nothing.vi"));
  EXPECT_EQ(ArchivePathMemberInfo(absent, &info), kFileNotFoundErr);
  OwnedPath relative(ToPath("s.qlb\\zeta.vi"));
  EXPECT_EQ(ArchivePathMemberInfo(relative, &info), kArgErr);
}

TEST_F(ArchiveDirTest, ALibraryWithoutDirectoryListsEmpty) {
  rsrcw::Writer w(kFileType, kCreator);
  w.Add(kRsrcString, 1, {3, 'a', 'b', 'c'});
  Put("bare.qlb", w.Write());
  Listing l = List("bare.qlb", 2);
  EXPECT_EQ(l.err, kNoErr);
  EXPECT_TRUE(l.names.empty());
}

// Directories whose bytes don't hold what they announce are refused with
// 13, whether read by the view, listed or searched.
TEST_F(ArchiveDirTest, BadDirectoriesAreRefused) {
  VILibraryWriter lib("x.qlb");
  lib.Add(Member("abc.vi", kTypeVI));
  lib.Add(Member("defg.vi", kTypeVI));
  const Bytes good = qxbuild::Directory(lib.Members());
  auto with = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"count past the resource", with([](Bytes& b) { PutBE32(&b[kDirCount], 3); })},
      {"huge count", with([](Bytes& b) { PutBE32(&b[kDirCount], 0xFFFFFFFFu); })},
      {"name past the end", with([](Bytes& b) { b[24 + 40 + kEntryName] = 200; })},
      {"cut inside the last entry", Bytes(good.begin(), good.end() - 1)},
      {"cut inside the fixed fields", Bytes(good.begin(), good.begin() + 24 + 40 + 20)},
      {"short header", Bytes(good.begin(), good.begin() + 23)},
      {"wrong tag", with([](Bytes& b) { b[kDirTag] = 'A'; })},
      {"wrong version", with([](Bytes& b) { PutBE32(&b[kDirVersion], 3); })},
  };
  for (const auto& c : cases) {
    archive::ArchiveDir view;
    // An exact-size copy, so a read past it is caught.
    std::vector<uChar> copy(c.bytes);
    EXPECT_EQ(view.Attach(copy.data(), int32(copy.size())), kRsrcFileNotFoundErr) << c.what;
    EXPECT_EQ(view.Count(), 0) << c.what;

    rsrcw::Writer w(kFileType, kCreator);
    w.Add(kRsrcDir, 0, c.bytes);
    Put("bad.qlb", w.Write());
    EXPECT_EQ(List("bad.qlb", 2).err, kRsrcFileNotFoundErr) << c.what;
    OwnedPath path(P("bad.qlb"));
    uInt32 type = 0;
    EXPECT_EQ(ArchiveLookupMember(path, PS("abc.vi"), &type), kRsrcFileNotFoundErr) << c.what;
  }
  archive::ArchiveDir view;
  EXPECT_EQ(view.Attach(good.data(), int32(good.size())), kNoErr);
  EXPECT_EQ(view.Count(), 2);
}

TEST_F(ArchiveDirTest, ListingNeedsAHandle) {
  PutSample("s.qlb");
  OwnedPath lib(P("s.qlb"));
  EXPECT_EQ(ArchiveDirList(lib, nullptr, nullptr, 0, 0), kArgErr);
  uChar notAHandle[16] = {};
  EXPECT_EQ(ArchiveDirList(lib, reinterpret_cast<CPStrHandle>(notAHandle), nullptr, 0, 0), kArgErr);
  OwnedPath missing(P("missing.qlb"));
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
  EXPECT_EQ(ArchiveDirList(missing, names, nullptr, 0, 0), kFileNotFoundErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
}

}  // namespace
}  // namespace archtest
