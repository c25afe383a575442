// Library palettes: the column rule, freed slots, the exact entry bytes, the
// conversion of an old PALM and palettes that lie about their sizes.
#include "archive_test_support.h"
#include "mgsource/draw/image.h"

namespace archtest {
namespace {

using archive::Palette;

class ArchivePaletteTest : public ArchiveTest {
 protected:
  // A new library opened read-write, and a small source file.
  RsrcFileRef NewLibrary(const std::string& rel) {
    OwnedPath path(P(rel));
    EXPECT_EQ(ArchiveCreate(path, PS(rel), 0), kNoErr);
    PutMember("src.vi", kTypeVI);
    return Open(rel, kRsrcReadWrite);
  }
  MgErr AddVI(RsrcFileRef lib, const std::string& name, uInt32 type = kTypeVI) {
    OwnedPath src(P("src.vi"));
    return ArchiveAddMember(lib, src, 0, PS(name), type, 1);
  }
  Palette Read(RsrcFileRef lib, int32 id) {
    UHandle e = nullptr, n = nullptr;
    Palette p;
    EXPECT_EQ(PaletteGet(lib, id, &e, &n, nullptr, nullptr), kNoErr);
    if (e && n) {
      EXPECT_EQ(archive::ReadPalette(*e, AZGetHandleSize(e), *n, AZGetHandleSize(n), &p), kNoErr);
    }
    return p;
  }
};

TEST_F(ArchivePaletteTest, ColumnsFollowTheCount) {
  // The rule alone, for every count up to 40.
  Palette p;
  for (int32 n = 1; n <= 40; ++n) {
    ASSERT_TRUE(archive::PalettePut(&p, n, kTypeVI, "m" + std::to_string(n)));
    const int32 expected = n <= 5 ? n : n <= 25 ? 5 : n <= 36 ? 6 : 7;
    EXPECT_EQ(p.columns, expected) << n << " entries";
  }
  // The growth by one is taken once per append, not in a loop: a palette
  // of 1 column and 1 entry grows to 2, not to 5.
  Palette q;
  q.columns = 1;
  q.entries.push_back(archive::PaletteEntry{1, 0, 5, -1, "InstrUse"});
  q.names.push_back("x");
  ASSERT_TRUE(archive::PalettePut(&q, 9, kTypeVI, "y"));
  EXPECT_EQ(q.columns, 2);
  // Without the growth by one, the square rule alone: 4 columns and 17
  // entries give 5.
  q.columns = 4;
  while (q.entries.size() < 16) {
    q.entries.push_back(archive::PaletteEntry{int32(q.entries.size() + 1), 0, 5, -1, "InstrUse"});
    q.names.push_back("x");
  }
  ASSERT_TRUE(archive::PalettePut(&q, 99, kTypeVI, "y"));
  EXPECT_EQ(q.columns, 5);
  // Columns read from a file may be as wide as 16 bits allow.
  Palette wide;
  wide.columns = 0xFFFF;
  ASSERT_TRUE(archive::PalettePut(&wide, 1, kTypeVI, "w"));
  EXPECT_EQ(wide.columns, 0xFFFF);
  EXPECT_FALSE(archive::PalettePut(&q, 0x10000, kTypeVI, "z")) << "entry ids are 16 bits";
  EXPECT_FALSE(archive::PalettePut(&q, 0, kTypeVI, "z"));

  // Through the library.
  RsrcFileRef lib = NewLibrary("p.qlb");
  const std::map<int32, int32> columnsAfter = {{1, 1}, {2, 2}, {5, 5}, {25, 5}, {26, 6}};
  for (int32 n = 1; n <= 26; ++n) {
    ASSERT_EQ(AddVI(lib, "v" + std::to_string(n) + ".vi"), kNoErr) << n;
    auto it = columnsAfter.find(n);
    if (it != columnsAfter.end()) {
      EXPECT_EQ(Read(lib, -1).columns, it->second) << n << " VIs";
    }
  }
  EXPECT_EQ(Read(lib, -1).entries.size(), 26u);
  EXPECT_EQ(Read(lib, -2).entries.size(), 0u);
  RCloseFile(lib);
}

TEST_F(ArchivePaletteTest, EntriesAreStoredExactly) {
  RsrcFileRef lib = NewLibrary("p.qlb");
  ASSERT_EQ(AddVI(lib, "one.vi"), kNoErr);
  ASSERT_EQ(AddVI(lib, "k.ctl", kTypeControl), kNoErr);
  EXPECT_EQ(ResourceText(lib, kRsrcPalette, -1),
            std::string("\0\x01\0\x01"
                        "\0\x01\0\x05\xFF\xFF\xFF\xFF\x08InstrUse\0",
                        22));
  EXPECT_EQ(ResourceText(lib, kRsrcPaletteNames, -1), std::string("\0\0\0\x01\x06one.vi", 11));
  EXPECT_EQ(ResourceText(lib, kRsrcPalette, -2),
            std::string("\0\x01\0\x01"
                        "\0\x02\0\x01\xFF\xFF\xFF\xFF\x06"
                        "DDOUse\0",
                        20));
  EXPECT_EQ(ResourceText(lib, kRsrcPaletteNames, -2), std::string("\0\0\0\x01\x05k.ctl", 10));
  RCloseFile(lib);
}

TEST_F(ArchivePaletteTest, RemovingFreesTheSlotAndTrimsTheEnd) {
  RsrcFileRef lib = NewLibrary("p.qlb");
  for (const char* n : {"a.vi", "b.vi", "c.vi"}) ASSERT_EQ(AddVI(lib, n), kNoErr);
  ASSERT_EQ(PaletteRemoveMember(lib, PS("B.VI")), kNoErr);
  Palette p = Read(lib, -1);
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[1].id, 0);
  EXPECT_EQ(p.entries[1].marker, 0);
  EXPECT_EQ(p.names, (std::vector<std::string>{"a.vi", "", "c.vi"}));
  // A new member takes the free slot.
  ASSERT_EQ(AddVI(lib, "d.vi"), kNoErr);
  p = Read(lib, -1);
  EXPECT_EQ(p.names, (std::vector<std::string>{"a.vi", "d.vi", "c.vi"}));
  EXPECT_EQ(p.entries[1].id, 4);
  EXPECT_EQ(p.entries[1].marker, -1);
  // Freeing the last two trims both.
  ASSERT_EQ(ArchiveRemoveMember(lib, PS("c.vi")), kNoErr);
  ASSERT_EQ(PaletteRemoveMember(lib, PS("d.vi")), kNoErr);
  p = Read(lib, -1);
  EXPECT_EQ(p.names, (std::vector<std::string>{"a.vi"}));
  const int32 columns = p.columns;
  ASSERT_EQ(PaletteRemoveMember(lib, PS("a.vi")), kNoErr);
  p = Read(lib, -1);
  EXPECT_TRUE(p.entries.empty());
  EXPECT_EQ(p.columns, columns);
  EXPECT_EQ(ResourceText(lib, kRsrcPaletteNames, -1), std::string(4, '\0'));
  RCloseFile(lib);
}

TEST_F(ArchivePaletteTest, MemberFlags) {
  RsrcFileRef lib = NewLibrary("p.qlb");
  ASSERT_EQ(AddVI(lib, "a.vi"), kNoErr);
  ASSERT_EQ(AddVI(lib, "k.ctl", kTypeControl), kNoErr);
  EXPECT_EQ(PaletteSetMemberFlags(lib, kTypeVI, PS("a.vi"), 0x84, 0), 0);
  EXPECT_EQ(PaletteSetMemberFlags(lib, kTypeVI, PS("A.vi"), 0x01, 0x04), 0x84);
  EXPECT_EQ(Read(lib, -1).entries[0].flags, 0x81);
  EXPECT_EQ(PaletteSetMemberFlags(lib, kTypeVI, PS("k.ctl"), 1, 0), -1) << "controls are in the other palette";
  EXPECT_EQ(PaletteSetMemberFlags(lib, kTypeControl, PS("k.ctl"), 2, 0), 0);
  EXPECT_EQ(PaletteSetMemberFlags(lib, kTypeVI, PS("none.vi"), 1, 0), -1);
  RCloseFile(lib);
}

TEST_F(ArchivePaletteTest, AnOldPaletteIsConvertedOnce) {
  qxbuild::VILibraryWriter w("old.qlb");
  w.WithoutPalettes();
  qxbuild::LibraryMember a = qxbuild::MakeMember("a.vi", kTypeVI), b = qxbuild::MakeMember("b.vi", kTypeVI);
  a.paletteText = "First";
  b.paletteText = "Second one";
  w.Add(a);
  w.Add(b);
  const std::vector<qxbuild::PaletteItem> items = {{1, 0, 5, "InstrUse"}, {2, 3, 5, "InstrUse"}, {0, 0, 5, "x"}};
  w.SetOldPalette(-1, qxbuild::OldPaletteResource(2, items));
  Put("old.qlb", w.Write());

  RsrcFileRef lib = Open("old.qlb", kRsrcReadWrite);
  qxtest::Reports::Get().Clear();
  UHandle e = nullptr, n = nullptr;
  Str255 title;
  int32 image = 0;
  ASSERT_EQ(PaletteGet(lib, -1, &e, &n, title, &image), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("Convert 3.1 PALM:paletteMenu"), 1);
  EXPECT_EQ(qxtest::Reports::Get().Count("Converted"), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*e), size_t(AZGetHandleSize(e))),
            BytesText(qxbuild::PaletteResource(2, items)));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*n), size_t(AZGetHandleSize(n))),
            BytesText(qxbuild::PaletteNames({"First", "Second one", ""})));
  EXPECT_EQ(ResourceText(lib, kRsrcOldPalette, 0), std::string(4, '\0'));
  EXPECT_EQ(Str(title), "old VIs");
  EXPECT_EQ(IGetKind(image), 5);
  EXPECT_EQ(IRelease(image), kNoErr);
  // The control palette had only an empty PALM.
  ASSERT_EQ(PaletteGet(lib, -2, &e, &n, title, nullptr), kNoErr);
  EXPECT_EQ(AZGetHandleSize(e), 4);
  ASSERT_EQ(RCloseFile(lib), kNoErr);

  qxtest::Reports::Get().Clear();
  lib = Open("old.qlb", kRsrcReadWrite);
  ASSERT_EQ(PaletteGet(lib, -1, &e, &n, nullptr, nullptr), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("Convert 3.1 PALM"), 0) << "converted once, kept in the file";
  EXPECT_EQ(AZGetHandleSize(e), int32(qxbuild::PaletteResource(2, items).size()));
  RCloseFile(lib);
}

TEST_F(ArchivePaletteTest, TitlesWithoutTheLibrarysStrings) {
  rsrcw::Writer w(kFileType, kCreator);
  w.Add(kRsrcOldPalette, 1, qxbuild::OldPaletteResource(0, {}));
  Put("bare.qlb", w.Write());
  RsrcFileRef lib = Open("bare.qlb", kRsrcReadWrite);
  Str255 title;
  ASSERT_EQ(PaletteGet(lib, -1, nullptr, nullptr, title, nullptr), kNoErr);
  EXPECT_EQ(Str(title), "VIs");
  ASSERT_EQ(PaletteGet(lib, -2, nullptr, nullptr, title, nullptr), kNoErr);
  EXPECT_EQ(Str(title), "palette") << "made by conversion";
  EXPECT_EQ(PaletteGet(lib, 0, nullptr, nullptr, title, nullptr), kArgErr);
  RCloseFile(lib);
}

// Palettes that announce more than they hold are refused with 13, in the
// readers and in every palette operation.
TEST_F(ArchivePaletteTest, BadPalettesAreRefused) {
  const Bytes entries = qxbuild::PaletteResource(1, {{1, 0, 5, "InstrUse"}});
  const Bytes names = qxbuild::PaletteNames({"a.vi"});
  auto cut = [](const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); };
  auto with = [](Bytes b, size_t at, uChar v) {
    b[at] = v;
    return b;
  };
  const struct {
    const char* what;
    Bytes entries, names;
  } cases[] = {
      {"count past the entries", with(entries, 3, 2), names},
      {"text past the end", with(entries, 12, 40), names},
      {"entry cut", cut(entries, entries.size() - 1), names},
      {"header cut", cut(entries, 3), names},
      {"names fewer than entries", entries, qxbuild::PaletteNames({})},
      {"names more than entries", entries, qxbuild::PaletteNames({"a", "b"})},
      {"name past the end", entries, with(names, 4, 9)},
      {"names header cut", entries, cut(names, 2)},
  };
  for (const auto& c : cases) {
    Palette p;
    std::vector<uChar> e(c.entries), n(c.names);  // exact sizes
    EXPECT_EQ(archive::ReadPalette(e.data(), int32(e.size()), n.data(), int32(n.size()), &p), kRsrcFileNotFoundErr)
        << c.what;
    qxbuild::VILibraryWriter w("bad.qlb");
    w.SetPalette(-1, c.entries, c.names);
    Put("bad.qlb", w.Write());
    RsrcFileRef lib = Open("bad.qlb", kRsrcReadWrite);
    EXPECT_EQ(PaletteAddMember(lib, 5, kTypeVI, PS("x.vi")), kRsrcFileNotFoundErr) << c.what;
    EXPECT_EQ(PaletteRemoveMember(lib, PS("a.vi")), kRsrcFileNotFoundErr) << c.what;
    EXPECT_EQ(PaletteSetMemberFlags(lib, kTypeVI, PS("a.vi"), 1, 0), -1) << c.what;
    EXPECT_EQ(ResourceText(lib, kRsrcPalette, -1), BytesText(c.entries)) << "left as it was: " << c.what;
    RCloseFile(lib);
  }
  // Old palettes: a count past the bytes, a text past the end.
  const Bytes old = qxbuild::OldPaletteResource(1, {{1, 0, 5, "InstrUse"}});
  for (const Bytes& bad : {with(old, 3, 3), with(old, 4 + 4, 30), cut(old, old.size() - 1)}) {
    Palette p;
    std::vector<uChar> copy(bad);
    EXPECT_EQ(archive::ReadOldPalette(copy.data(), int32(copy.size()), &p), kRsrcFileNotFoundErr);
    qxbuild::VILibraryWriter w("bad.qlb");
    w.WithoutPalettes();
    w.SetOldPalette(-1, bad);
    Put("bad.qlb", w.Write());
    RsrcFileRef lib = Open("bad.qlb", kRsrcReadWrite);
    EXPECT_EQ(PaletteGet(lib, -1, nullptr, nullptr, nullptr, nullptr), kRsrcFileNotFoundErr);
    EXPECT_EQ(ResourceText(lib, kRsrcPalette, -1), "<err 15>");
    EXPECT_EQ(ResourceText(lib, kRsrcOldPalette, 0), BytesText(bad)) << "not emptied";
    RCloseFile(lib);
  }
}

}  // namespace
}  // namespace archtest
