// Four-character codes as the system holds them: the word whose memory
// bytes are the characters in reading order, the same in memory, in files and
// in formatted text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mgsource/byteorder.h"
#include "mgsource/fourcc.h"
#include "mgsource/thread.h"
#include "printf_support.h"
#include "rsrc_test_support.h"

namespace {

using namespace rsrctest;

std::string BytesOfWord(uInt32 w) { return std::string(reinterpret_cast<const char*>(&w), 4); }

TEST(FourCC, MemoryBytesAreTheCharactersInReadingOrder) {
  const char* codes[] = {"TEXT", "RSRC", "STR#", "STR ", "????", "hdsk", "DTHP", "Thrd", "\x01\x80 z"};
  for (const char* c : codes) {
    char lit[5];
    std::memcpy(lit, c, 5);
    EXPECT_EQ(BytesOfWord(FourCC(lit)), std::string(c, 4)) << c;
    // Copied from stored bytes as they are, the word is the same code.
    EXPECT_EQ(GetNative32(c), FourCC(lit)) << c;
  }
  EXPECT_EQ(FourCC("TEXT"), 0x54584554u);
  EXPECT_EQ(kThThreadSig, GetNative32("Thrd"));
  EXPECT_EQ(kThMutexSig, GetNative32("Mutx"));
  EXPECT_EQ(kThEventSig, GetNative32("Evnt"));
  EXPECT_NE(FourCC("ABCD"), FourCC("DCBA"));
}

TEST(FourCC, PrintsInReadingOrder) {
  EXPECT_EQ(printftest::Fmt("%4c", FourCC("RSRC")), "RSRC");
  EXPECT_EQ(printftest::Fmt("%4c", rsrcfmt::kTypeStrList), "STR#");
  EXPECT_EQ(printftest::Fmt("[%4c]", FourCC("STR ")), "[STR ]");
}

class RsrcCodes : public RsrcTest {
 protected:
  // A resource file of the fuzz seeds, written before codes were held in
  // reading order; the stored format has not changed since.
  static Bytes Seed(const std::string& name) {
    return rsrcw::ReadHostFile((fs::path(QX_SOURCE_DIR) / "tests" / "fuzz" / "seeds" / "rsrc_fuzz" / name).string());
  }
  // The content of the "all.rsrc" seed.
  static rsrcw::Writer All() {
    rsrcw::Writer all(kAPPL, kQNLX);
    all.Add(kTEXT, 5, rsrcw::BytesOf("five"), "Five");
    all.Add(kTEXT, 2, rsrcw::BytesOf("two"));
    all.Add(kTEXT, 9, rsrcw::BytesOf(""), "nine", 8);
    all.Add(rsrcfmt::kTypeStrList, 1, rsrcw::StrList({"alpha", "", "gamma"}), "strings");
    all.Add(rsrcfmt::kTypeLStrList, 2, rsrcw::LStrList({"x", "entry"}));
    all.Add(rsrcfmt::kTypePathList, 3,
            rsrcw::PathList({rsrcw::FlatPath(0, {"C", "dir"}), rsrcw::FlatPath(1, {"a"})}));
    all.Add(rsrcfmt::kTypeString, 4, rsrcw::BytesOf("\x03str"));
    return all;
  }
};

TEST_F(RsrcCodes, AFileFromBeforeReadsWithItsCodesInReadingOrder) {
  const Bytes seed = Seed("all.rsrc");
  ASSERT_FALSE(seed.empty());
  ASSERT_EQ(All().Write(), seed) << "the writer still writes the same bytes";
  EXPECT_EQ(std::string(seed.begin() + 8, seed.begin() + 16), "APPLQNLX");
  Put("all.rsrc", seed);
  Owned p(P("all.rsrc"));
  RsrcFileRef ref = 0;
  uInt32 type = 0, creator = 0;
  ASSERT_EQ(ROpenFile(p, kRsrcReadOnly, &ref, &type, &creator), kNoErr);
  EXPECT_EQ(BytesOfWord(type), "APPL");
  EXPECT_EQ(BytesOfWord(creator), "QNLX");
  const char* types[] = {"TEXT", "STR#", "LST#", "PTH#", "STR "};
  int32 n = 0;
  ASSERT_EQ(RCountTypes(ref, &n), kNoErr);
  ASSERT_EQ(n, 5);
  for (int32 i = 1; i <= n; ++i) {
    ResType t = 0;
    ASSERT_EQ(RGetIndType(ref, &t, i), kNoErr);
    EXPECT_EQ(BytesOfWord(t), types[i - 1]) << i;
  }
  int32 count = 0;
  ASSERT_EQ(RCount(ref, FourCC("TEXT"), &count), kNoErr);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(RCount(ref, FourCC("TXET"), &count), kNoErr);
  EXPECT_EQ(count, 0);
  // The code as the map stores it finds the resource.
  const rsrcw::Layout lay = [] {
    rsrcw::Layout l;
    All().Write(rsrcw::Options(), &l);
    return l;
  }();
  const uInt32 stored = GetNative32(&seed[lay.typeEntries[0]]);
  MgErr err = kNoErr;
  EXPECT_EQ(GetText(ref, stored, 5, &err), "five");
  EXPECT_EQ(err, kNoErr);
  EXPECT_EQ(IndString(ref, 1, 3), "gamma");
  Path path = nullptr;
  ASSERT_EQ(RGetIndPath(ref, &path, 3, 2), kNoErr);
  EXPECT_EQ(pathtest::Text(path), "a");
  FDisposePath(path);
  UHandle h = nullptr;
  ASSERT_EQ(RGetString(ref, 4, &h), kNoErr);
  EXPECT_EQ(Text(h), "\x03str");
  ResType got = 0;
  int32 id = 0;
  ASSERT_EQ(RFindByHandle(h, nullptr, &got, &id), kNoErr);
  EXPECT_EQ(BytesOfWord(got), "STR ");
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  ASSERT_EQ(RIsResFile(p, &type, &creator), kNoErr);
  EXPECT_EQ(BytesOfWord(type), "APPL");
  EXPECT_EQ(BytesOfWord(creator), "QNLX");
}

TEST_F(RsrcCodes, TheManagerWritesTheBytesOfBefore) {
  Owned p(P("made.rsrc"));
  ASSERT_EQ(RCreateFile(p, 0, FourCC("QNLX"), FourCC("APPL"), 0666), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Get("made.rsrc").data()), 16),
            std::string("RSRC\r\n\0\3APPLQNLX", 16));
  RsrcFileRef ref = Open("made.rsrc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  auto add = [&](ResType type, int32 id, const Bytes& data, const char* name = nullptr) {
    UHandle h = AZNewHandle(int32(data.size()));
    if (!data.empty()) std::memcpy(*h, data.data(), data.size());
    Str255 pname;
    if (name) {
      pname[0] = uChar(std::strlen(name));
      std::memcpy(pname + 1, name, pname[0]);
    }
    EXPECT_EQ(RAdd(h, ref, type, id, name ? pname : nullptr), kNoErr);
    return h;
  };
  add(FourCC("TEXT"), 5, rsrcw::BytesOf("five"), "Five");
  add(FourCC("TEXT"), 2, rsrcw::BytesOf("two"));
  ASSERT_EQ(RSetAttrs(add(FourCC("TEXT"), 9, rsrcw::BytesOf(""), "nine"), 8), kNoErr);
  add(FourCC("STR#"), 1, rsrcw::StrList({"alpha", "", "gamma"}), "strings");
  add(FourCC("LST#"), 2, rsrcw::LStrList({"x", "entry"}));
  add(FourCC("PTH#"), 3, rsrcw::PathList({rsrcw::FlatPath(0, {"C", "dir"}), rsrcw::FlatPath(1, {"a"})}));
  add(FourCC("STR "), 4, rsrcw::BytesOf("\x03str"));
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Get("made.rsrc"), Seed("all.rsrc"));
}

}  // namespace
