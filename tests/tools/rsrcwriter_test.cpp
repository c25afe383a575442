// The resource-file writer: its bytes, the layout it reports, the list
// bodies, and the fuzz seeds it makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/rsrcwriter.h"

namespace {

using rsrcw::Bytes;
using rsrcw::BytesOf;

constexpr uInt32 kAPPL = FourCC("APPL"), kQNLX = FourCC("QNLX");
constexpr uInt32 kTEXT = FourCC("TEXT");

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}
Bytes W32(uInt32 v) { return Bytes{uChar(v >> 24), uChar(v >> 16), uChar(v >> 8), uChar(v)}; }

TEST(RsrcWriter, SmallFileByteForByte) {
  rsrcw::Writer w(kAPPL, kQNLX);
  ASSERT_TRUE(w.Add(kTEXT, 1, BytesOf("ab"), "n"));
  EXPECT_FALSE(w.Add(kTEXT, 1, BytesOf("again")));
  rsrcw::Layout lay;
  Bytes got = w.Write(rsrcw::Options(), &lay);
  const Bytes header = Cat({BytesOf("RSRC"), {0x0D, 0x0A, 0, 3}, BytesOf("APPLQNLX"), W32(40), W32(90), W32(32),
                            W32(8)});
  const Bytes expected = Cat({header, W32(2), BytesOf("ab"), {0, 0},  // the record
                              header, W32(0), W32(0), W32(0x20), W32(52), W32(88),  // the map's fixed words
                              W32(0), BytesOf("TEXT"), W32(0), W32(16),             // the type list
                              W32(1), W32(0), W32(0), W32(0), W32(0),               // the entry
                              {1, 'n'}});
  EXPECT_EQ(got, expected);
  EXPECT_EQ(lay.base, 0u);
  EXPECT_EQ(lay.map, 40u);
  EXPECT_EQ(lay.mapSize, 90u);
  EXPECT_EQ(lay.data, 32u);
  EXPECT_EQ(lay.dataSize, 8u);
  EXPECT_EQ(lay.typeList, 92u);
  EXPECT_EQ(lay.typeEntries, std::vector<uInt32>{96});
  EXPECT_EQ(lay.refEntries, std::vector<uInt32>{108});
  EXPECT_EQ(lay.nameList, 128u);
  EXPECT_EQ(lay.names, std::vector<uInt32>{128});
  EXPECT_EQ(lay.records, std::vector<uInt32>{32});
  EXPECT_EQ(lay.trailer, 0u);
}

TEST(RsrcWriter, TypesInOrderIdsSortedNamesInOrderAdded) {
  rsrcw::Writer w(kAPPL, kQNLX);
  const uInt32 kB = FourCC("BBBB"), kA = FourCC("AAAA");
  w.Add(kB, 5, BytesOf("b5"), "second");
  w.Add(kA, 9, BytesOf("a9"));
  w.Add(kB, -2, BytesOf("b-2"), "first", 8);
  w.Add(kB, 3, BytesOf(""), "");
  rsrcw::Layout lay;
  Bytes b = w.Write(rsrcw::Options(), &lay);
  ASSERT_EQ(lay.typeEntries.size(), 2u);
  EXPECT_EQ(GetNative32(&b[lay.typeEntries[0]]), kB);
  EXPECT_EQ(GetBE32(&b[lay.typeEntries[0] + 4]), 2u);
  EXPECT_EQ(GetNative32(&b[lay.typeEntries[1]]), kA);
  // Entries of B by id: -2, 3, 5.
  EXPECT_LT(lay.refEntries[2], lay.refEntries[3]);
  EXPECT_LT(lay.refEntries[3], lay.refEntries[0]);
  EXPECT_LT(lay.refEntries[0], lay.refEntries[1]);
  EXPECT_EQ(GetBE32(&b[lay.refEntries[2] + 8]), 8u);
  // Names in the order added: "second" first; an empty name is no name.
  EXPECT_EQ(lay.names[0], lay.nameList);
  EXPECT_EQ(lay.names[2], lay.nameList + 7);
  EXPECT_EQ(lay.names[3], 0u);
  EXPECT_EQ(GetBE32(&b[lay.refEntries[3] + 4]), rsrcfmt::kNoName);
  EXPECT_EQ(GetBE32(&b[lay.refEntries[2] + 4]), 7u);
  // Records in type order and id order: B -2, 3, 5, then A 9.
  EXPECT_LT(lay.records[2], lay.records[3]);
  EXPECT_LT(lay.records[3], lay.records[0]);
  EXPECT_LT(lay.records[0], lay.records[1]);
  EXPECT_EQ(GetBE32(&b[lay.records[3]]), 0u);
  EXPECT_EQ(lay.records[0] - lay.records[3], 4u);
}

TEST(RsrcWriter, OptionsMoveThePartsAndReportThem) {
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kTEXT, 1, BytesOf("hello"));
  rsrcw::Options o;
  o.mapFirst = true;
  o.leading = BytesOf("MZ......");
  o.trailer = true;
  o.version = 2;
  o.lineEnd[0] = 'x';
  rsrcw::Layout lay;
  Bytes b = w.Write(o, &lay);
  EXPECT_EQ(lay.base, 8u);
  EXPECT_EQ(lay.map, 8u + 32);
  EXPECT_EQ(lay.data, 8u + 32 + lay.mapSize);
  EXPECT_EQ(lay.trailer, b.size() - 20);
  EXPECT_EQ(GetBE32(&b[8 + rsrcfmt::kHdrMapOffset]), 32u);
  EXPECT_EQ(GetBE32(&b[8 + rsrcfmt::kHdrDataOffset]), 32u + lay.mapSize);
  EXPECT_EQ(b[8 + 4], 'x');
  EXPECT_EQ(GetBE16(&b[8 + 6]), 2);
  EXPECT_EQ(rsrcfmt::GetLE32(&b[b.size() - 4]), 8u);
  EXPECT_EQ(Bytes(b.end() - 20, b.end() - 16), BytesOf("APPB"));
  EXPECT_EQ(b.size(), 8 + 32 + lay.mapSize + 12 + 20);
  // A file without resources is its header alone.
  EXPECT_EQ(rsrcw::Writer(kAPPL, kQNLX).Write().size(), 32u);
}

TEST(RsrcWriter, ListBodies) {
  EXPECT_EQ(rsrcw::StrList({"ab", ""}), (Bytes{0, 2, 2, 'a', 'b', 0}));
  EXPECT_EQ(rsrcw::LStrList({"abc", ""}), Cat({W32(2), W32(3), BytesOf("abc"), {0}, W32(0)}));
  Bytes flat = rsrcw::FlatPath(0, {"C"});
  EXPECT_EQ(flat, Cat({BytesOf("PTH0"), W32(6), {0, 0, 0, 1, 1, 'C'}}));
  EXPECT_EQ(rsrcw::PathList({flat, flat}), Cat({W32(2), flat, {0, 0}, flat, {0, 0}}));
  EXPECT_EQ(rsrcw::AppTrailer(0x01020304),
            Cat({BytesOf("APPB"), {3, 0, 0, 0, 0, 0xC0, 0x5D, 0, 1, 0, 0, 0, 4, 3, 2, 1}}));
}

// The fuzz target's seeds are writer files; they are kept in the tree and
// rewritten with QX_WRITE_SEEDS=1.
TEST(RsrcWriter, FuzzSeedsMatchTheWriter) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(QX_SOURCE_DIR) / "tests" / "fuzz" / "seeds" / "rsrc_fuzz";
  rsrcw::Writer all(kAPPL, kQNLX);
  all.Add(kTEXT, 5, BytesOf("five"), "Five");
  all.Add(kTEXT, 2, BytesOf("two"));
  all.Add(kTEXT, 9, BytesOf(""), "nine", 8);
  all.Add(rsrcfmt::kTypeStrList, 1, rsrcw::StrList({"alpha", "", "gamma"}), "strings");
  all.Add(rsrcfmt::kTypeLStrList, 2, rsrcw::LStrList({"x", "entry"}));
  all.Add(rsrcfmt::kTypePathList, 3, rsrcw::PathList({rsrcw::FlatPath(0, {"C", "dir"}), rsrcw::FlatPath(1, {"a"})}));
  all.Add(rsrcfmt::kTypeString, 4, BytesOf("\x03str"));
  rsrcw::Writer many(kAPPL, kQNLX);
  for (int i = 0; i < 24; ++i) {
    const char type[5] = {'T', 'Y', 'P', char('A' + i % 3), 0};
    many.Add(FourCC(type), i * 3 - 20, Bytes(size_t(i), uChar(i)),
             i % 2 ? std::optional<std::string>("n" + std::to_string(i)) : std::nullopt);
  }
  rsrcw::Options mapFirst, old, appended;
  mapFirst.mapFirst = true;
  old.version = 2;
  old.lineEnd[0] = old.lineEnd[1] = 0;
  appended.leading = BytesOf("MZ host program bytes");
  appended.trailer = true;
  const std::vector<std::pair<std::string, Bytes>> seeds = {
      {"all.rsrc", all.Write()},
      {"mapfirst.rsrc", all.Write(mapFirst)},
      {"version2.rsrc", all.Write(old)},
      {"appended.rsrc", all.Write(appended)},
      {"many.rsrc", many.Write()},
      {"empty.rsrc", rsrcw::Writer(kAPPL, kQNLX).Write()},
  };
  const bool write = std::getenv("QX_WRITE_SEEDS") != nullptr;
  if (write) fs::create_directories(dir);
  for (const auto& [name, bytes] : seeds) {
    const std::string path = (dir / name).string();
    if (write) {
      ASSERT_TRUE(rsrcw::WriteHostFile(path, bytes)) << path;
    }
    EXPECT_EQ(rsrcw::ReadHostFile(path), bytes) << path;
  }
}

}  // namespace
