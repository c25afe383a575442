// The library tools: creating libraries, adding and removing members, and
// each failure with its text.
#include "archive_test_support.h"

namespace archtest {
namespace {

constexpr uInt32 kCPTM = FourCC("CPTM"), kHLPT = FourCC("HLPT"),
                 kTITL = FourCC("TITL"), kDATA = FourCC("DATA"),
                 kICL4 = FourCC("icl4"), kICL8 = FourCC("icl8");

std::string Text(int32 n) { return kToolTexts[n - 1]; }

class ArchiveToolsTest : public ArchiveTest {
 protected:
  MgErr Remove(const std::string& member, const std::string& dest, int32 mode, std::string* text,
               RsrcFileRef* file = nullptr) {
    OwnedPath m(P(member));
    OwnedPath d(dest.empty() ? nullptr : P(dest));
    Str255 buf;
    buf[0] = 0;
    Point pos{5, 5};
    MgErr err = RemoveQLBFile(m, d, &pos, buf, mode, file);
    EXPECT_EQ(pos.v, -1);
    EXPECT_EQ(pos.h, -1);
    *text = Str(buf);
    return err;
  }
};

TEST_F(ArchiveToolsTest, CreateMakesTheLibraryWideResources) {
  OwnedPath path(P("My Lib.v1.qlb"));
  ASSERT_EQ(ArchiveCreate(path, PS("My Lib.v1.qlb"), 0), kNoErr);
  OwnedPath again(P("My Lib.v1.qlb"));
  EXPECT_EQ(ArchiveCreate(again, PS("x"), 0), kDupPathErr) << "an existing file is kept";
  EXPECT_TRUE(IsQLBFile(path));
  RsrcFileRef ref = Open("My Lib.v1.qlb");
  uInt32 type = 0, creator = 0;
  RCloseFile(ref);
  OwnedPath p2(P("My Lib.v1.qlb"));
  ASSERT_EQ(ROpenFile(p2, kRsrcReadOnly, &ref, &type, &creator), kNoErr);
  EXPECT_EQ(type, kFileType);
  EXPECT_EQ(creator, kCreator);
  const std::string zeros(4, '\0');
  EXPECT_EQ(ResourceText(ref, kRsrcOldPalette, 0), zeros);
  EXPECT_EQ(ResourceText(ref, kRsrcOldPalette, 1), zeros);
  EXPECT_EQ(ResourceText(ref, kRsrcPalette, -1), zeros);
  EXPECT_EQ(ResourceText(ref, kRsrcPalette, -2), zeros);
  EXPECT_EQ(ResourceText(ref, kRsrcPaletteNames, -1), zeros);
  EXPECT_EQ(ResourceText(ref, kRsrcPaletteNames, -2), zeros);
  EXPECT_EQ(ResourceText(ref, kRsrcString, 1), "\x0aMy Lib VIs");
  EXPECT_EQ(ResourceText(ref, kRsrcString, 2), "\x0cMy Lib Ctrls");
  // The palette images are the run-time's 6001 and 6002, without their mask.
  const auto images = {std::make_pair(-1, kVIPaletteImage), std::make_pair(-2, kCtlPaletteImage)};
  for (auto [id, from] : images) {
    qxbuild::ResourceList family = qxbuild::PaletteImage(from);
    EXPECT_EQ(ResourceText(ref, kRsrcIcon, id), BytesText(family[0].second));
    EXPECT_EQ(ResourceText(ref, kICL4, id), BytesText(family[1].second));
    EXPECT_EQ(ResourceText(ref, kICL8, id), BytesText(family[2].second));
    EXPECT_EQ(ResourceText(ref, FourCC("ICN#"), id), "<err 15>");
  }
  Str255 name;
  int32 id;
  ResType rtype;
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kRsrcPalette, -2, &h), kNoErr);
  ASSERT_EQ(RGetInfo(h, &id, &rtype, name), kNoErr);
  EXPECT_EQ(Str(name), "ctlMenu");
  ASSERT_EQ(RGet(ref, kRsrcOldPalette, 0, &h), kNoErr);
  ASSERT_EQ(RGetInfo(h, &id, &rtype, name), kNoErr);
  EXPECT_EQ(Str(name), "paletteMenu");
  RCloseFile(ref);
}

TEST_F(ArchiveToolsTest, CreateFailsWholeWithoutTheRunTimeImages) {
  SetRunTimeRsrcFile(0);
  OwnedPath path(P("n.qlb"));
  EXPECT_EQ(ArchiveCreate(path, PS("n.qlb"), 0), kImageNotFoundErr);
  EXPECT_FALSE(Exists("n.qlb")) << "a library that could not be completed is removed";
  EXPECT_EQ(ArchiveCreate(path, nullptr, 0), kArgErr);
}

TEST_F(ArchiveToolsTest, AddedMembersCarryTheirResources) {
  PutMember("panel.vi", kTypeVI,
            {{kRsrcIcon, Bytes(128, 0x5A)}, {kCPTM, Bytes{1, 2, 3}}, {kTITL, Bytes{4, 't', 'i', 't', 'l'}},
             {kDATA, Bytes(10, 9)}},
            5000, 0x7E, 0x05018003);
  PutMember("knob.ctl", kTypeControl, {{kHLPT, Bytes{2, 'h', 'i'}}});
  std::string text = "x";
  ASSERT_EQ(AddFile("lib.qlb", "panel.vi", "", true, &text), kNoErr);
  EXPECT_EQ(text, "");
  ASSERT_EQ(AddFile("lib.qlb", "knob.ctl", "Knob.ctl", true, &text), kNoErr);

  RsrcFileRef ref = Open("lib.qlb");
  UHandle h = nullptr;
  archive::ArchiveDir dir;
  ASSERT_EQ(archive::LoadDir(ref, &h, &dir), kNoErr);
  ASSERT_EQ(dir.Count(), 2);
  EXPECT_EQ(Str(dir.Name(0)), "panel.vi");
  EXPECT_EQ(dir.Id(0), 1);
  EXPECT_EQ(dir.Type(0), kTypeVI);
  EXPECT_EQ(dir.Version(0), 0x05018003u) << "the member's own header version";
  EXPECT_EQ(dir.Flags(0), 0u);
  FileInfoRec info;
  OwnedPath src(P("panel.vi"));
  ASSERT_EQ(FGetInfo(src, &info), kNoErr);
  EXPECT_EQ(dir.ModDate(0), info.mdate);
  EXPECT_EQ(dir.Date2(0), info.cdate);
  EXPECT_EQ(Str(dir.Name(1)), "Knob.ctl");
  EXPECT_EQ(dir.Id(1), 2);
  EXPECT_EQ(dir.Type(1), kTypeControl);
  // Copies of id-0 resources of the listed types only, named by the member.
  EXPECT_EQ(ResourceText(ref, kRsrcIcon, 1), std::string(128, 0x5A));
  EXPECT_EQ(ResourceText(ref, kCPTM, 1), std::string("\x01\x02\x03"));
  EXPECT_EQ(ResourceText(ref, kTITL, 1), "\x04titl");
  EXPECT_EQ(ResourceText(ref, kDATA, 1), "<err 15>");
  EXPECT_EQ(ResourceText(ref, kHLPT, 2), "\x02hi");
  EXPECT_EQ(ResourceText(ref, kRsrcStrList, 1), std::string("\x00\x01\x08panel.vi", 11));
  EXPECT_EQ(ResourceText(ref, kRsrcCompressed, 1), BytesText(qxbuild::CompressMember(Get("panel.vi"))));
  ASSERT_EQ(RGet(ref, kRsrcCompressed, 2, &h), kNoErr);
  Str255 name;
  int32 id;
  ResType type;
  ASSERT_EQ(RGetInfo(h, &id, &type, name), kNoErr);
  EXPECT_EQ(Str(name), "Knob.ctl");
  RCloseFile(ref);

  // Extracted again, byte for byte.
  OwnedPath member(P("lib.qlb\\PANEL.VI")), dest(P("copy.vi"));
  ASSERT_EQ(ArchiveExtractByPath(member, dest, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_TRUE(Get("copy.vi") == Get("panel.vi"));
}

TEST_F(ArchiveToolsTest, SubroutinesAndRunMenusGetTheRunTimeVersion) {
  PutMember("s.qsb", kTypeSubroutine);
  Bytes menu = rsrcw::BytesOf("Run-Time Menu");
  menu.insert(menu.end(), {0, 0, 0, 1, 0, 0, 0, 0});
  Put("m.rtm", menu);
  ASSERT_EQ(AddFile("lib.qlb", "s.qsb"), kNoErr);
  ASSERT_EQ(AddFile("lib.qlb", "m.rtm", "", true), kNoErr);
  RsrcFileRef ref = Open("lib.qlb");
  UHandle h = nullptr;
  archive::ArchiveDir dir;
  ASSERT_EQ(archive::LoadDir(ref, &h, &dir), kNoErr);
  ASSERT_EQ(dir.Count(), 2);
  EXPECT_EQ(dir.Version(0), kRunTimeVersion);
  EXPECT_EQ(dir.Type(1), kTypeRunMenu);
  EXPECT_EQ(dir.Version(1), kRunTimeVersion);
  EXPECT_EQ(ResourceText(ref, kRsrcStrList, 2), "<err 15>") << "no palette for run-time menus";
  RCloseFile(ref);
  OwnedPath member(P("lib.qlb\\m.rtm")), dest(P("back.rtm"));
  uInt32 type = 0;
  ASSERT_EQ(ArchiveExtractByPath(member, dest, nullptr, &type, nullptr), kNoErr);
  EXPECT_EQ(type, kTypeRunMenu);
  EXPECT_TRUE(Get("back.rtm") == menu);
}

TEST_F(ArchiveToolsTest, AddFailuresGiveTheirTexts) {
  PutMember("a.vi", kTypeVI);
  ASSERT_EQ(AddFile("lib.qlb", "a.vi"), kNoErr);
  Put("plain.txt", rsrcw::BytesOf("no resources here"));
  rsrcw::Writer other(FourCC("TEXT"), kCreator);
  other.Add(kDATA, 0, Bytes{1});
  Put("other.rsc", other.Write());
  rsrcw::Writer notLib(FourCC("APPL"), kCreator);
  notLib.Add(kDATA, 0, Bytes{1});
  Put("notlib.qlb", notLib.Write());
  fs::create_directory(Host("folder.qlb"));

  std::string text;
  EXPECT_EQ(AddFile("lib.qlb", "a.vi", "", false, &text), kDupPathErr);
  EXPECT_EQ(text, "File already exists in VI library.");
  EXPECT_EQ(AddFile("lib.qlb", "a.vi", "A.VI", false, &text), kDupPathErr) << "names are compared ignoring case";
  EXPECT_EQ(text, Text(11));
  EXPECT_EQ(AddFile("lib.qlb", "plain.txt", "", false, &text), kRsrcFileNotFoundErr);
  EXPECT_EQ(text, Text(7));
  EXPECT_EQ(AddFile("lib.qlb", "missing.vi", "", false, &text), kFileNotFoundErr);
  EXPECT_EQ(text, Text(7));
  EXPECT_EQ(AddFile("lib.qlb", "other.rsc", "", false, &text), kArgErr);
  EXPECT_EQ(text, Text(8));
  EXPECT_EQ(AddFile("folder.qlb", "a.vi", "", false, &text), kDupPathErr);
  EXPECT_EQ(text, Text(19));
  EXPECT_EQ(AddFile("notlib.qlb", "a.vi", "", false, &text), kArgErr);
  EXPECT_EQ(text, Text(21));

  Str255 buf;
  OwnedPath relative(ToPath("lib.qlb\\b.vi")), src(P("a.vi")), member(P("lib.qlb\\b.vi"));
  EXPECT_EQ(AddQLBFile(relative, src, nullptr, 0, buf), kArgErr);
  EXPECT_EQ(Str(buf), "Paths to VI library tools must be absolute.");
  EXPECT_EQ(AddQLBFile(member, src, nullptr, 1, buf), kArgErr) << "a palette needs a position";
  EXPECT_EQ(Str(buf), Text(9));
  const Point bad{-1, 3};
  EXPECT_EQ(AddQLBFile(member, src, &bad, 1, buf), kArgErr);
  EXPECT_EQ(Str(buf), "Palette position is out of range.");
  // A member name is stored and later names extracted files: one that is
  // no plain file name is refused.
  for (const char* hostile : {"../x.vi", "/x.vi", "C:\\x.vi", "..", "x?.vi"}) {
    OwnedPath in(P("lib.qlb"));
    Str255 name;
    name[0] = uChar(std::strlen(hostile));
    std::memcpy(name + 1, hostile, name[0]);
    ASSERT_EQ(FAppendName(in, name), kNoErr);
    EXPECT_EQ(AddQLBFile(in, src, nullptr, 0, buf), kArgErr) << hostile;
  }
  const Point good{2, 3};
  EXPECT_EQ(AddQLBFile(member, src, &good, 1, buf), kNoErr);
  EXPECT_EQ(Str(buf), "");
  // Nothing of the failures reached the library.
  Listing l = List("lib.qlb", 0);
  EXPECT_EQ(l.names, (std::vector<std::string>{"a.vi", "b.vi"}));
}

TEST_F(ArchiveToolsTest, AMissingLibraryIsMadeAndRemovedAgainOnFailure) {
  PutMember("a.vi", kTypeVI);
  ASSERT_EQ(AddFile("new.qlb", "a.vi"), kNoErr);
  EXPECT_TRUE(IsQLBFile(OwnedPath(P("new.qlb"))));
  RsrcFileRef ref = Open("new.qlb");
  EXPECT_EQ(ResourceText(ref, kRsrcString, 1), "\x05" "a VIs") << "titled after the member's name";
  RCloseFile(ref);

  // A source that fails the name check, or is no member at all, fails
  // before anything is made.
  Put("bad?.vi", qxbuild::MakeMember("bad?.vi", kTypeVI).file);
  std::string text = "x";
  EXPECT_EQ(AddFile("gone.qlb", "bad?.vi", "ok.vi", false, &text), kArgErr);
  EXPECT_EQ(text, Text(7));
  Put("empty.vi", Bytes());
  EXPECT_EQ(AddFile("gone.qlb", "empty.vi", "", false, &text), kRsrcFileNotFoundErr);
  EXPECT_EQ(text, Text(7));
  EXPECT_FALSE(Exists("gone.qlb"));
  // A source too large for the room check fails after the library was
  // made: the new library goes again, an existing one stays as it was.
  PutMember("huge.vi", kTypeVI);
  fs::resize_file(Host("huge.vi"), 2000000000u);
  EXPECT_EQ(AddFile("gone.qlb", "huge.vi", "", false, &text), kDiskFullErr);
  EXPECT_EQ(text, "Can't add file to VI library.");
  EXPECT_FALSE(Exists("gone.qlb"));
  const Bytes before = Get("new.qlb");
  EXPECT_EQ(AddFile("new.qlb", "huge.vi", "", false, &text), kDiskFullErr);
  EXPECT_TRUE(Get("new.qlb") == before);
  EXPECT_EQ(List("new.qlb", 0).names, (std::vector<std::string>{"a.vi"}));
}

TEST_F(ArchiveToolsTest, RemoveModes) {
  for (const char* name : {"a.vi", "b.vi", "c.vi"}) {
    PutMember(name, kTypeVI, {{kRsrcIcon, Bytes(128, 1)}}, 100, 0x41);
    ASSERT_EQ(AddFile("lib.qlb", name, "", true), kNoErr);
  }
  std::string text;
  // 2: extract only.
  ASSERT_EQ(Remove("lib.qlb\\b.vi", "b-copy.vi", 2, &text), kNoErr);
  EXPECT_EQ(text, "");
  EXPECT_TRUE(Get("b-copy.vi") == Get("b.vi"));
  EXPECT_EQ(List("lib.qlb", 0).names, (std::vector<std::string>{"a.vi", "b.vi", "c.vi"}));
  // 1: extract to the destination, open it, then remove.
  RsrcFileRef file = 0;
  ASSERT_EQ(Remove("lib.qlb\\B.vi", "b-out.vi", 1, &text, &file), kNoErr);
  EXPECT_TRUE(Get("b-out.vi") == Get("b.vi")) << "written to the destination even when opened";
  EXPECT_NE(file, 0u);
  EXPECT_EQ(ResourceText(file, FourCC("DATA"), 0).size(), 100u);
  RCloseFile(file);
  EXPECT_EQ(List("lib.qlb", 0).names, (std::vector<std::string>{"a.vi", "c.vi"}));
  // 0: remove; every resource of the member goes.
  ASSERT_EQ(Remove("lib.qlb\\a.vi", "", 0, &text), kNoErr);
  EXPECT_EQ(List("lib.qlb", 0).names, (std::vector<std::string>{"c.vi"}));
  RsrcFileRef ref = Open("lib.qlb");
  for (uInt32 t : kMemberTypes) EXPECT_EQ(ResourceText(ref, t, 1), "<err 15>") << CodeText(t);
  EXPECT_EQ(ResourceText(ref, kRsrcIcon, 3), std::string(128, 1)) << "the other members keep theirs";
  RCloseFile(ref);
  // A member added now takes the largest id in use + 1.
  ASSERT_EQ(AddFile("lib.qlb", "a.vi"), kNoErr);
  EXPECT_EQ(List("lib.qlb", 0).ids, (std::vector<int32>{3, 4}));
}

TEST_F(ArchiveToolsTest, RemoveFailuresGiveTheirTexts) {
  PutMember("a.vi", kTypeVI);
  ASSERT_EQ(AddFile("lib.qlb", "a.vi"), kNoErr);
  fs::create_directory(Host("dir"));
  std::string text;
  EXPECT_EQ(Remove("lib.qlb\\a.vi", "x.vi", 3, &text), kArgErr);
  EXPECT_EQ(text, "Invalid operation specified when removing a file from a VI library.");
  EXPECT_EQ(Remove("lib.qlb\\a.vi", "x.vi", -1, &text), kArgErr);
  EXPECT_EQ(text, Text(23));
  EXPECT_EQ(Remove("lib.qlb\\a.vi", "dir", 1, &text), kArgErr);
  EXPECT_EQ(text, "File system file specification indicates a directory.");
  EXPECT_EQ(Remove("lib.qlb\\a.vi", "lib.qlb", 2, &text), kArgErr);
  EXPECT_EQ(text, "Can't overwrite a VI library.");
  EXPECT_EQ(Remove("lib.qlb\\nothing.vi", "x.vi", 2, &text), kFileNotFoundErr);
  EXPECT_EQ(text, Text(3));
  EXPECT_EQ(Remove("lib.qlb\\nothing.vi", "", 0, &text), kRsrcNotFoundErr);
  EXPECT_EQ(text, "Can't remove file from VI library.");
  EXPECT_EQ(Remove("none.qlb\\a.vi", "", 0, &text), kFileNotFoundErr);
  EXPECT_EQ(text, Text(5));
  {
    OwnedPath relative(ToPath("lib.qlb\\a.vi")), dest(ToPath("x.vi")), member(P("lib.qlb\\a.vi"));
    Str255 buf;
    EXPECT_EQ(RemoveQLBFile(relative, nullptr, nullptr, buf, 0, nullptr), kArgErr);
    EXPECT_EQ(Str(buf), Text(24));
    EXPECT_EQ(RemoveQLBFile(member, dest, nullptr, buf, 2, nullptr), kArgErr);
    EXPECT_EQ(Str(buf), Text(24));
  }
  EXPECT_EQ(List("lib.qlb", 0).names, (std::vector<std::string>{"a.vi"}));
}

TEST_F(ArchiveToolsTest, ReAddingAMemberUpdatesItsEntry) {
  PutMember("a.vi", kTypeVI, {{kCPTM, Bytes{1}}}, 10, 1, 0x05008007);
  ASSERT_EQ(AddFile("lib.qlb", "a.vi", "", true), kNoErr);
  PutMember("b.vi", kTypeVI);
  ASSERT_EQ(AddFile("lib.qlb", "b.vi", "", true), kNoErr);
  PutMember("a.vi", kTypeVI, {{kHLPT, Bytes{2}}}, 20, 2, 0x05018003);
  OwnedPath src(P("a.vi"));
  RsrcFileRef ref = Open("lib.qlb", kRsrcReadWrite);
  RsrcFileRef source = Open("a.vi");
  ASSERT_EQ(ArchiveAddMember(ref, src, source, PS("a.vi"), kTypeVI, 1), kNoErr);
  RCloseFile(source);
  EXPECT_EQ(ResourceText(ref, kCPTM, 1), "<err 15>") << "the older copies are replaced";
  EXPECT_EQ(ResourceText(ref, kHLPT, 1), std::string(1, '\x02'));
  UHandle h = nullptr;
  archive::ArchiveDir dir;
  ASSERT_EQ(archive::LoadDir(ref, &h, &dir), kNoErr);
  ASSERT_EQ(dir.Count(), 2);
  EXPECT_EQ(dir.Id(0), 1);
  EXPECT_EQ(dir.Version(0), 0x05018003u);
  UHandle e = nullptr, n = nullptr;
  ASSERT_EQ(PaletteGet(ref, -1, &e, &n, nullptr, nullptr), kNoErr);
  archive::Palette p;
  ASSERT_EQ(archive::ReadPalette(*e, AZGetHandleSize(e), *n, AZGetHandleSize(n), &p), kNoErr);
  EXPECT_EQ(p.names, (std::vector<std::string>{"a.vi", "b.vi"})) << "one palette place, reused";
  EXPECT_EQ(p.entries[0].id, 1);
  RCloseFile(ref);
  OwnedPath member(P("lib.qlb\\a.vi")), dest(P("a-back.vi"));
  ASSERT_EQ(ArchiveExtractByPath(member, dest, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_TRUE(Get("a-back.vi") == Get("a.vi"));
}

}  // namespace
}  // namespace archtest
