// Compressed members: the exact bytes, round trips across chunk bounds, and
// compressed resources that don't hold what they announce.
#include <random>

#include "archive_test_support.h"

namespace archtest {
namespace {

class ArchiveCompressTest : public ArchiveTest {
 protected:
  Bytes Compress(const std::string& rel, MgErr* err) {
    OwnedPath p(P(rel));
    UHandle h = nullptr;
    *err = ArchiveCompress(p, &h);
    Bytes out;
    if (h) {
      out.assign(*h, *h + AZGetHandleSize(h));
      AZDisposeHandle(h);
    }
    return out;
  }
  // Expands through the reader in pieces of the given size.
  static Bytes Expand(const Bytes& packed, uInt32 piece, MgErr* err) {
    archive::CprfReader r;
    // An exact-size block, so a read past the resource is caught.
    std::unique_ptr<uChar[]> copy(new uChar[packed.size()]);
    std::memcpy(copy.get(), packed.data(), packed.size());
    *err = r.Open(copy.get(), int32(packed.size()));
    Bytes out;
    if (*err) return out;
    std::unique_ptr<uChar[]> buf(new uChar[piece]);
    while (r.Remaining()) {
      const uInt32 n = r.Remaining() < piece ? r.Remaining() : piece;
      r.Next(buf.get(), n);
      out.insert(out.end(), buf.get(), buf.get() + n);
    }
    return out;
  }
};

TEST_F(ArchiveCompressTest, AllZeroFilesKeepOnlySizeAndBitmap) {
  for (size_t size : {1u, 8u, 9u, 1000u, 51201u}) {
    Put("zero.bin", Bytes(size, 0));
    MgErr err;
    Bytes packed = Compress("zero.bin", &err);
    ASSERT_EQ(err, kNoErr);
    ASSERT_EQ(packed.size(), 4 + (size + 7) / 8) << size;
    EXPECT_EQ(GetBE32(packed.data()), uInt32(size));
    for (size_t i = 4; i < packed.size(); ++i) ASSERT_EQ(packed[i], 0) << size << " at " << i;
  }
}

TEST_F(ArchiveCompressTest, TheBitmapIsLeastSignificantBitFirst) {
  Put("few.bin", Bytes{0, 7, 0, 0, 0, 0, 0, 0, 9, 0, 0xFF});
  MgErr err;
  Bytes packed = Compress("few.bin", &err);
  ASSERT_EQ(err, kNoErr);
  EXPECT_EQ(packed, (Bytes{0, 0, 0, 11, 0x02, 0x05, 7, 9, 0xFF}));
}

TEST_F(ArchiveCompressTest, RandomFilesRoundTrip) {
  std::mt19937 rng(12345);
  std::vector<size_t> sizes = {1, 2, 7, 8, 9, 51199, 51200, 51201, 102399, 102400, 102401, 153601, 307200};
  while (sizes.size() < 50) sizes.push_back(1 + rng() % 307200);
  qxbuild::VILibraryWriter lib("r.qlb");
  std::vector<Bytes> files;
  for (size_t k = 0; k < sizes.size(); ++k) {
    // Zero bytes at a density of its own for each file.
    const uInt32 zeroPercent = uInt32(rng() % 101);
    Bytes f(sizes[k]);
    for (uChar& b : f) b = rng() % 100 < zeroPercent ? 0 : uChar(1 + rng() % 255);
    Put("in.bin", f);
    MgErr err;
    Bytes packed = Compress("in.bin", &err);
    ASSERT_EQ(err, kNoErr) << sizes[k];
    EXPECT_EQ(packed, qxbuild::CompressMember(f)) << "the tools and the engine differ at size " << sizes[k];
    Bytes back = Expand(packed, uInt32(1 + rng() % 70000), &err);
    ASSERT_EQ(err, kNoErr);
    ASSERT_TRUE(back == f) << "size " << sizes[k];
    qxbuild::LibraryMember m;
    m.name = "m" + std::to_string(k);
    m.type = kTypeSubroutine;
    m.file = f;
    lib.Add(m);
    files.push_back(f);
  }
  // The same through the library, into files chunk by chunk.
  Put("r.qlb", lib.Write());
  for (size_t k = 0; k < files.size(); ++k) {
    OwnedPath member(P("r.qlb\\m" + std::to_string(k)));
    OwnedPath dest(P("out.bin"));
    uInt32 type = 0;
    ASSERT_EQ(ArchiveExtractByPath(member, dest, nullptr, &type, nullptr), kNoErr) << k;
    EXPECT_EQ(type, kTypeSubroutine);
    ASSERT_TRUE(Get("out.bin") == files[k]) << "member " << k << " of " << files[k].size() << " bytes";
  }
}

// Compressed resources that announce more than they hold are refused
// before anything is written: 13 for size 0, 4 for the rest.
TEST_F(ArchiveCompressTest, BadResourcesAreRefused) {
  const Bytes good = qxbuild::CompressMember(Bytes{1, 0, 2, 0, 0, 0, 0, 0, 3, 4});
  auto with = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  const struct {
    const char* what;
    Bytes bytes;
    MgErr err;
  } cases[] = {
      {"size 0", Bytes{0, 0, 0, 0}, kRsrcFileNotFoundErr},
      {"size 0 with more bytes", Bytes{0, 0, 0, 0, 1, 2, 3}, kRsrcFileNotFoundErr},
      {"no size word", Bytes{0, 0, 1}, kEOFErr},
      {"bitmap announcing more bytes", with([](Bytes& b) { b[4] |= 0x02; }), kEOFErr},
      {"data bytes cut", Bytes(good.begin(), good.end() - 1), kEOFErr},
      {"bitmap cut", Bytes(good.begin(), good.begin() + 5), kEOFErr},
      {"size past the bitmap", with([](Bytes& b) { PutBE32(b.data(), 100); }), kEOFErr},
      {"huge size", with([](Bytes& b) { PutBE32(b.data(), 0xFFFFFFF0u); }), kEOFErr},
  };
  for (const auto& c : cases) {
    MgErr err;
    Expand(c.bytes, 3, &err);
    EXPECT_EQ(err, c.err) << c.what;

    // In a library: nothing is made, in memory or in the destination.
    rsrcw::Writer w(kFileType, kCreator);
    qxbuild::LibraryMember m;
    m.name = "bad.vi";
    w.Add(kRsrcDir, 0, qxbuild::Directory({m}));
    w.Add(kRsrcCompressed, 1, c.bytes, std::string("bad.vi"));
    Put("bad.qlb", w.Write());
    OwnedPath member(P("bad.qlb\\bad.vi"));
    OwnedPath dest(P("bad.out"));
    RsrcFileRef file = 77;
    EXPECT_EQ(ArchiveExtractByPath(member, dest, &file, nullptr, nullptr), c.err) << c.what;
    EXPECT_EQ(file, 0u);
    EXPECT_EQ(ArchiveExtractByPath(member, dest, nullptr, nullptr, nullptr), c.err) << c.what;
    EXPECT_FALSE(Exists("bad.out")) << c.what;
  }
  // Bits past the size in the last bitmap byte are not data.
  Bytes spare = good;
  spare[5] |= 0xFC;
  MgErr err;
  EXPECT_EQ(Expand(spare, 4, &err), (Bytes{1, 0, 2, 0, 0, 0, 0, 0, 3, 4}));
  EXPECT_EQ(err, kNoErr);
}

TEST_F(ArchiveCompressTest, EmptyAndMissingSources) {
  Put("empty.bin", Bytes());
  MgErr err;
  Compress("empty.bin", &err);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  Compress("missing.bin", &err);
  EXPECT_EQ(err, kFileNotFoundErr);
  EXPECT_EQ(ArchiveCompress(nullptr, nullptr), kArgErr);
}

}  // namespace
}  // namespace archtest
