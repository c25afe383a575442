// Reading resource files: round trips of writer files, the ways of opening
// them, and the list resources.
#include "rsrc_test_support.h"

using namespace rsrctest;
using rsrcw::BytesOf;

namespace {

constexpr ResType kPATH = FourCC("PATH");

// A file with a bit of everything: three ids of one type given out of
// order, names, attributes, and the three list forms.
rsrcw::Writer Sample() {
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kTEXT, 5, BytesOf("five"), "Five");
  w.Add(kTEXT, 2, BytesOf("two!!"));
  w.Add(kTEXT, 9, BytesOf(""), "nine");
  w.Add(kDATA, -3, Bytes(5000, 0xA5), std::nullopt, kRsrcAttrProtected | 0x40);
  w.Add(rsrcfmt::kTypeStrList, 100, rsrcw::StrList({"alpha", "", "gamma"}), "greek");
  w.Add(rsrcfmt::kTypeLStrList, 200, rsrcw::LStrList({"x", "long entry", ""}));
  w.Add(rsrcfmt::kTypePathList, 300,
        rsrcw::PathList({rsrcw::FlatPath(kAbsPath, {"C", "dir", "file.txt"}), rsrcw::FlatPath(kRelPath, {"a"})}));
  w.Add(rsrcfmt::kTypeString, 7, BytesOf("\x05hello"));
  return w;
}

// Checks every resource, name, attribute and list entry of Sample().
void ExpectSample(RsrcFileRef ref) {
  int32 n = 0;
  ASSERT_EQ(RCountTypes(ref, &n), kNoErr);
  EXPECT_EQ(n, 6);
  const ResType order[] = {kTEXT, kDATA, rsrcfmt::kTypeStrList, rsrcfmt::kTypeLStrList, rsrcfmt::kTypePathList,
                           rsrcfmt::kTypeString};
  for (int32 i = 0; i < 6; ++i) {
    ResType t = 0;
    ASSERT_EQ(RGetIndType(ref, &t, i + 1), kNoErr);
    EXPECT_EQ(t, order[i]);
  }
  ResType t = 1;
  EXPECT_EQ(RGetIndType(ref, &t, 7), kRsrcNotFoundErr);
  EXPECT_EQ(t, 0u);
  ASSERT_EQ(RCount(ref, kTEXT, &n), kNoErr);
  EXPECT_EQ(n, 3);

  EXPECT_EQ(GetText(ref, kTEXT, 5), "five");
  EXPECT_EQ(GetText(ref, kTEXT, 2), "two!!");
  EXPECT_EQ(GetText(ref, kTEXT, 9), "");
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kDATA, -3, &h), kNoErr);
  ASSERT_EQ(AZGetHandleSize(h), 5000);
  EXPECT_EQ((*h)[0], 0xA5);
  EXPECT_EQ((*h)[4999], 0xA5);
  int32 attrs = 0;
  ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
  EXPECT_EQ(attrs, kRsrcAttrProtected | 0x40);

  // Index order is id order; names are found without regard to case.
  const int32 ids[] = {2, 5, 9};
  const char* names[] = {"", "Five", "nine"};
  for (int32 i = 1; i <= 3; ++i) {
    ASSERT_EQ(RGetInd(ref, kTEXT, i, &h), kNoErr);
    int32 id = 0;
    Str255 name;
    ASSERT_EQ(RGetInfo(h, &id, &t, name), kNoErr);
    EXPECT_EQ(id, ids[i - 1]);
    EXPECT_EQ(t, kTEXT);
    EXPECT_EQ(Str(name), names[i - 1]);
  }
  EXPECT_EQ(RGetInd(ref, kTEXT, 0, &h), kRsrcNotFoundErr);
  EXPECT_EQ(RGetInd(ref, kTEXT, 4, &h), kRsrcNotFoundErr);
  ASSERT_EQ(RGetNamed(ref, kTEXT, PS("FIVE"), &h), kNoErr);
  EXPECT_EQ(Text(h), "five");
  ASSERT_EQ(RGetNamed(ref, kTEXT, PS("NiNe"), &h), kNoErr);
  EXPECT_EQ(Text(h), "");
  EXPECT_EQ(RGetNamed(ref, kTEXT, PS("fiv"), &h), kRsrcNotFoundErr);
  EXPECT_EQ(RGetNamed(ref, kDATA, PS("Five"), &h), kRsrcNotFoundErr);

  EXPECT_EQ(IndString(ref, 100, 1), "alpha");
  EXPECT_EQ(IndString(ref, 100, 2), "");
  EXPECT_EQ(IndString(ref, 100, 3), "gamma");
  const char* entries[] = {"x", "long entry", ""};
  for (int32 i = 1; i <= 3; ++i) {
    LStrHandle l = nullptr;
    ASSERT_EQ(RGetIndLStr(ref, &l, 200, i), kNoErr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>((*l)->str), size_t((*l)->cnt)),
              entries[i - 1]);
    AZDisposeHandle(reinterpret_cast<UHandle>(l));
  }
  Path p = nullptr;
  ASSERT_EQ(RGetIndPath(ref, &p, 300, 1), kNoErr);
  EXPECT_EQ(pathtest::Text(p), "C:\\dir\\file.txt");
  FDisposePath(p);
  ASSERT_EQ(RGetIndPath(ref, &p, 300, 2), kNoErr);
  EXPECT_EQ(pathtest::Text(p), "a");
  FDisposePath(p);
  ASSERT_EQ(RGetString(ref, 7, &h), kNoErr);
  EXPECT_EQ(Text(h), "\x05hello");
}

class RsrcRoundTrip : public RsrcTest {};
class RsrcOpening : public RsrcTest {};
class RsrcLists : public RsrcTest {};
class RsrcHandles : public RsrcTest {};

TEST_F(RsrcRoundTrip, WriterFileReadsBackFromFileAndImage) {
  Bytes bytes = Sample().Write();
  Put("s.rsc", bytes);
  uInt32 type = 0, creator = 0;
  Owned p(P("s.rsc"));
  RsrcFileRef ref = 0;
  ASSERT_EQ(ROpenFile(p, kRsrcReadOnly, &ref, &type, &creator), kNoErr);
  EXPECT_EQ(type, kAPPL);
  EXPECT_EQ(creator, kQNLX);
  ExpectSample(ref);
  EXPECT_EQ(RCloseFile(ref), kNoErr);

  ref = Open("s.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  ExpectSample(ref);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Get("s.rsc"), bytes);  // nothing changed, nothing written

  ref = OpenImage(bytes);
  ASSERT_NE(ref, 0u);
  ExpectSample(ref);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(RsrcRoundTrip, CreateAddCloseWritesTheWritersBytes) {
  struct R {
    ResType type;
    int32 id;
    std::string data, name;
    int32 attrs;
  };
  const std::vector<R> rs = {{kTEXT, 5, "five", "Five", 0},   {kDATA, 1, std::string(9000, 'd'), "", 0},
                             {kTEXT, 2, "two", "", 0},        {kTEXT, 9, "", "nine", kRsrcAttrProtected},
                             {kICON, -7, "icon", "ic", 0x10}, {kDATA, 0, "abc", "zero", 0}};
  rsrcw::Writer w(kAPPL, kQNLX);
  Owned p(P("new.rsc"));
  ASSERT_EQ(RCreateFile(p, 0, kQNLX, kAPPL, 0644), kNoErr);
  EXPECT_EQ(RCreateFile(p, 0, kQNLX, kAPPL, 0644), kDupPathErr);
  RsrcFileRef ref = Open("new.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  EXPECT_EQ(RUniqueID(ref, kTEXT), 128);
  for (const R& r : rs) {
    ASSERT_TRUE(w.Add(r.type, r.id, BytesOf(r.data), r.name, uInt32(r.attrs)));
    UHandle h = AZNewHandle(int32(r.data.size()));
    std::memcpy(*h, r.data.data(), r.data.size());
    ASSERT_EQ(RAdd(h, ref, r.type, r.id, r.name.empty() ? nullptr : static_cast<ConstPStr>(PS(r.name))), kNoErr);
    if (r.attrs) {
      ASSERT_EQ(RSetAttrs(h, r.attrs), kNoErr);
    }
  }
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Get("new.rsc"), w.Write());

  // It reads back, and writing it back again without a change writes nothing.
  ref = Open("new.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  for (const R& r : rs) {
    EXPECT_EQ(GetText(ref, r.type, r.id), r.data);
  }
  uInt64 before = Written();
  EXPECT_EQ(RUpdateFile(ref), kNoErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Written(), before);
}

TEST_F(RsrcRoundTrip, IdsComeBackSortedWhateverTheOrderAdded) {
  Owned p(P("ids.rsc"));
  ASSERT_EQ(RCreateFile(p, 1, kQNLX, kAPPL, 0644), kNoErr);
  RsrcFileRef ref = Open("ids.rsc", kRsrcReadWrite);
  for (int32 id : {5, 2, 9}) {
    UHandle h = AZNewHandle(4);
    std::memcpy(*h, &id, 4);
    ASSERT_EQ(RAdd(h, ref, kTEXT, id, nullptr), kNoErr);
  }
  const int32 sorted[] = {2, 5, 9};
  for (int32 i = 1; i <= 3; ++i) {
    UHandle h = nullptr;
    ASSERT_EQ(RGetInd(ref, kTEXT, i, &h), kNoErr);
    int32 id = 0;
    ASSERT_EQ(RGetInfo(h, &id, nullptr, nullptr), kNoErr);
    EXPECT_EQ(id, sorted[i - 1]);
  }
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  ref = Open("ids.rsc", kRsrcReadOnly);
  UHandle h = nullptr;
  ASSERT_EQ(RGetInd(ref, kTEXT, 2, &h), kNoErr);
  int32 id = 0;
  std::memcpy(&id, *h, 4);
  EXPECT_EQ(id, 5);
  RCloseFile(ref);
}

TEST_F(RsrcHandles, SameHandleUntilReleasedOrDetached) {
  RsrcFileRef ref = OpenImage(Sample().Write());
  ASSERT_NE(ref, 0u);
  UHandle a = nullptr, b = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 5, &a), kNoErr);
  ASSERT_EQ(RGetInd(ref, kTEXT, 2, &b), kNoErr);
  EXPECT_EQ(a, b);
  RsrcFileRef owner = 0;
  ResType type = 0;
  int32 id = 0, size = 0;
  ASSERT_EQ(RFindByHandle(a, &owner, &type, &id), kNoErr);
  EXPECT_EQ(owner, ref);
  EXPECT_EQ(type, kTEXT);
  EXPECT_EQ(id, 5);
  ASSERT_EQ(RSize(a, &size), kNoErr);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(RLoad(a), kNoErr);

  // Found also when it is not the last resource returned.
  UHandle other = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 2, &other), kNoErr);
  ASSERT_EQ(RFindByHandle(a, nullptr, nullptr, &id), kNoErr);
  EXPECT_EQ(id, 5);

  ASSERT_EQ(RRelease(a), kNoErr);
  EXPECT_EQ(RFindByHandle(a, &owner, &type, &id), kRsrcNotFoundErr);
  EXPECT_EQ(owner, 0u);
  ASSERT_EQ(RGet(ref, kTEXT, 5, &b), kNoErr);
  EXPECT_EQ(Text(b), "five");

  ASSERT_EQ(RDetach(b), kNoErr);
  EXPECT_EQ(RLoad(b), kRsrcNotFoundErr);
  EXPECT_EQ(RSize(b, &size), kRsrcNotFoundErr);
  EXPECT_EQ(size, -1);
  Str255 name;
  name[0] = 3;
  EXPECT_EQ(RGetInfo(b, &id, &type, name), kRsrcNotFoundErr);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(name[0], 0);
  UHandle c = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 5, &c), kNoErr);
  EXPECT_NE(c, b);
  EXPECT_EQ(Text(b), "five");  // the detached copy is the caller's
  AZDisposeHandle(b);
  EXPECT_EQ(RRelease(nullptr), kRsrcNotFoundErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(RCloseFile(ref), kRsrcFileNotFoundErr);
  EXPECT_EQ(RFindByHandle(c, nullptr, nullptr, nullptr), kRsrcNotFoundErr);
}

TEST_F(RsrcHandles, UnknownFileIs13Everywhere) {
  UHandle h = nullptr;
  int32 n = 5;
  Str255 s;
  EXPECT_EQ(RGet(0x12345, kTEXT, 1, &h), kRsrcFileNotFoundErr);
  EXPECT_EQ(RGetInd(0, kTEXT, 1, &h), kRsrcFileNotFoundErr);
  EXPECT_EQ(RGetNamed(7, kTEXT, PS("x"), &h), kRsrcFileNotFoundErr);
  EXPECT_EQ(RCount(7, kTEXT, &n), kRsrcFileNotFoundErr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(RCountTypes(7, &n), kRsrcFileNotFoundErr);
  EXPECT_EQ(RGetIndString(7, s, 1, 1), kRsrcFileNotFoundErr);
  EXPECT_EQ(RUpdateFile(7), kRsrcFileNotFoundErr);
  EXPECT_EQ(RCloseFile(7), kRsrcFileNotFoundErr);
  EXPECT_EQ(RUniqueID(7, kTEXT), kRsrcFileNotFoundErr);
  EXPECT_EQ(RPreAllocFile(7, 10), kRsrcFileNotFoundErr);
  uInt32 date;
  EXPECT_EQ(RGetModDate(nullptr, 7, &date, nullptr), kRsrcFileNotFoundErr);
}

// ---- Opening ---------------------------------------------------------------------------

TEST_F(RsrcOpening, HeaderVersionsAndLineEnds) {
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kTEXT, 1, BytesOf("one"));
  rsrcw::Options o;
  o.version = 2;
  o.lineEnd[0] = 'x';
  o.lineEnd[1] = 0;
  MgErr err;
  RsrcFileRef ref = OpenImage(w.Write(o), &err);
  ASSERT_EQ(err, kNoErr);
  EXPECT_EQ(GetText(ref, kTEXT, 1), "one");
  RCloseFile(ref);

  o.version = 3;  // version 3 needs the line end
  EXPECT_EQ(OpenImage(w.Write(o), &err), 0u);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  o.version = 1;
  o.lineEnd[0] = 0x0D;
  o.lineEnd[1] = 0x0A;
  OpenImage(w.Write(o), &err);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  o.version = -3;
  OpenImage(w.Write(o), &err);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  o.version = 4;
  ref = OpenImage(w.Write(o), &err);
  ASSERT_EQ(err, kNoErr);
  RCloseFile(ref);

  // A version-2 file written back gets a version-3 header.
  o.version = 2;
  o.lineEnd[0] = 'x';
  Put("v2.rsc", w.Write(o));
  ref = Open("v2.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 1, &h), kNoErr);
  ASSERT_EQ(RChanged(h), kNoErr);
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Get("v2.rsc"), w.Write());
}

TEST_F(RsrcOpening, EmptyMapAnswersNotFound) {
  Bytes bytes = rsrcw::Writer(kAPPL, kQNLX).Write();
  ASSERT_EQ(bytes.size(), 32u);
  for (bool image : {false, true}) {
    RsrcFileRef ref;
    if (image) {
      ref = OpenImage(bytes);
    } else {
      Put("e.rsc", bytes);
      ref = Open("e.rsc", kRsrcReadOnly);
    }
    ASSERT_NE(ref, 0u);
    UHandle h = nullptr;
    int32 n = 7;
    ResType t = 1;
    EXPECT_EQ(RGet(ref, kTEXT, 1, &h), kRsrcNotFoundErr);
    EXPECT_EQ(RGetInd(ref, kTEXT, 1, &h), kRsrcNotFoundErr);
    EXPECT_EQ(RGetNamed(ref, kTEXT, PS("a"), &h), kRsrcNotFoundErr);
    EXPECT_EQ(RCount(ref, kTEXT, &n), kNoErr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(RCountTypes(ref, &n), kNoErr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(RGetIndType(ref, &t, 1), kRsrcNotFoundErr);
    EXPECT_EQ(t, 0u);
    EXPECT_EQ(IndString(ref, 1, 1), "");
    EXPECT_EQ(RCloseFile(ref), kNoErr);
  }
}

TEST_F(RsrcOpening, AppendedFileOpensRelativeToItsStart) {
  rsrcw::Options o;
  o.leading = Bytes(3001, 0x90);
  o.leading[0] = 'M';
  o.trailer = true;
  Bytes host = Sample().Write(o);
  Put("app.exe", host);
  Owned p(P("app.exe"));
  uInt32 type = 0;
  ASSERT_EQ(RIsResFile(p, &type, nullptr), kNoErr);
  EXPECT_EQ(type, kAPPL);
  RsrcFileRef ref = Open("app.exe", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  ExpectSample(ref);
  EXPECT_EQ(RCloseFile(ref), kNoErr);

  // Without the trailer's offset there is no resource file; as an image the
  // trailer is not looked for.
  MgErr err;
  EXPECT_EQ(OpenImage(host, &err), 0u);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  Bytes broken = host;
  rsrcfmt::PutLE32(&broken[broken.size() - 4], 3000);
  Put("broken.exe", broken);
  EXPECT_EQ(Open("broken.exe", kRsrcReadOnly, &err), 0u);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  rsrcfmt::PutLE32(&broken[broken.size() - 4], uInt32(broken.size()));
  Put("broken.exe", broken);
  EXPECT_EQ(Open("broken.exe", kRsrcReadOnly, &err), 0u);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  Owned b(P("broken.exe"));
  EXPECT_EQ(RIsResFile(b, &type, nullptr), kRsrcFileNotFoundErr);
  EXPECT_EQ(type, 0u);
}

TEST_F(RsrcOpening, AppendedFileWritableOpenIsRefusedAndHostUntouched) {
  rsrcw::Options o;
  o.leading = BytesOf("MZ an executable's first bytes");
  o.trailer = true;
  Bytes host = Sample().Write(o);
  Put("app.exe", host);
  MgErr err;
  EXPECT_EQ(Open("app.exe", kRsrcReadWrite, &err), 0u);
  EXPECT_EQ(err, kFilePermErr);
  // The file manager's reference was closed: the file can be opened exclusively.
  Owned p(P("app.exe"));
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, p, kAccessReadWrite, kDenyReadWrite), kNoErr);
  ASSERT_EQ(ROpenFileOrHandle(f, kRsrcReadWrite, nullptr, nullptr, nullptr, nullptr), kArgErr);
  ASSERT_EQ(FMOpen(&f, p, kAccessReadWrite, kDenyReadWrite), kNoErr);
  RsrcFileRef ref = 1;
  EXPECT_EQ(ROpenFileOrHandle(f, kRsrcReadWrite, &ref, nullptr, nullptr, nullptr), kFilePermErr);
  EXPECT_EQ(ref, 0u);
  EXPECT_EQ(Get("app.exe"), host);
  ref = Open("app.exe", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 5, &h), kNoErr);
  EXPECT_EQ(RChanged(h), kFilePermErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Get("app.exe"), host);
}

TEST_F(RsrcOpening, ImagesAndModes) {
  Bytes bytes = Sample().Write();
  Put("s.rsc", bytes);
  Owned p(P("s.rsc"));
  RsrcFileRef ref = 1;
  EXPECT_EQ(ROpenFile(p, 2, &ref, nullptr, nullptr), kArgErr);
  EXPECT_EQ(ref, 0u);
  EXPECT_EQ(ROpenFile(p, -1, &ref, nullptr, nullptr), kArgErr);

  UHandle image = AZNewHandle(int32(bytes.size()));
  std::memcpy(*image, bytes.data(), bytes.size());
  EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadWrite, &ref, nullptr, nullptr, image), kArgErr);
  EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, nullptr), kArgErr);
  // A file and an image together: 1, the file closed, the image still the caller's.
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, p, kAccessRead, kDenyReadWrite), kNoErr);
  EXPECT_EQ(ROpenFileOrHandle(f, kRsrcReadOnly, &ref, nullptr, nullptr, image), kArgErr);
  EXPECT_EQ(FMClose(f), kArgErr);
  ASSERT_EQ(FMOpen(&f, p, kAccessRead, kDenyReadWrite), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(AZGetHandleSize(image), int32(bytes.size()));
  uInt32 type = 0, creator = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, &type, &creator, image), kNoErr);
  EXPECT_EQ(type, kAPPL);
  EXPECT_EQ(creator, kQNLX);
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 5, &h), kNoErr);
  EXPECT_EQ(RChanged(h), kFilePermErr);
  EXPECT_EQ(RCloseFile(ref), kNoErr);  // disposes the image

  // An image with a bad header: 13, and the image stays the caller's.
  image = AZNewHandle(int32(bytes.size()));
  std::memcpy(*image, bytes.data(), bytes.size());
  (*image)[0] = 'X';
  EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image), kRsrcFileNotFoundErr);
  EXPECT_EQ(AZSetHandleSize(image, 31), kNoErr);
  (*image)[0] = 'R';
  EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image), kRsrcFileNotFoundErr);
  EXPECT_EQ(AZDisposeHandle(image), kNoErr);

  // Files that are not resource files.
  Put("text.txt", BytesOf("just some text, not a resource file at all"));
  MgErr err;
  EXPECT_EQ(Open("text.txt", kRsrcReadOnly, &err), 0u);
  EXPECT_EQ(err, kRsrcFileNotFoundErr);
  Put("tiny", BytesOf("RS"));
  Open("tiny", kRsrcReadOnly, &err);
  EXPECT_NE(err, kNoErr);
  Open("missing", kRsrcReadOnly, &err);
  EXPECT_EQ(err, kFileNotFoundErr);
  Owned t(P("text.txt")), m(P("missing"));
  EXPECT_EQ(RIsResFile(t, nullptr, nullptr), kRsrcFileNotFoundErr);
  EXPECT_EQ(RIsResFile(m, nullptr, nullptr), kFileNotFoundErr);
}

TEST_F(RsrcOpening, ModificationDateOfTheFileOrThePath) {
  Put("s.rsc", Sample().Write());
  Owned p(P("s.rsc"));
  uInt32 byPath = 0, byRef = 0;
  Bool32 ro = 7;
  ASSERT_EQ(RGetModDate(p, 0, &byPath, &ro), kNoErr);
  EXPECT_EQ(ro, 0);
  RsrcFileRef ref = Open("s.rsc", kRsrcReadOnly);
  ASSERT_EQ(RGetModDate(nullptr, ref, &byRef, nullptr), kNoErr);
  EXPECT_EQ(byRef, byPath);
  EXPECT_GT(byPath, 3000000000u);  // after 1999
  RCloseFile(ref);
  ref = OpenImage(Sample().Write());
  EXPECT_EQ(RGetModDate(p, ref, &byRef, nullptr), kArgErr);
  RCloseFile(ref);
}

TEST_F(RsrcOpening, ReadOnlyFileIsMappedAndCannotBeCutWhileOpen) {
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kDATA, 1, Bytes(70000, 0x5A));
  w.Add(kDATA, 2, BytesOf("tail"));
  rsrcw::Options o;
  o.leading = Bytes(5000, 1);  // the data section starts off a page boundary
  o.trailer = true;
  Put("big.exe", w.Write(o));
  RsrcFileRef ref = Open("big.exe", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  const rsrc::FileRec rec = FileOf(ref);
  ASSERT_NE(rec.data, nullptr);
  EXPECT_NE(rec.region, nullptr);
  EXPECT_EQ(GetText(ref, kDATA, 2), "tail");
  EXPECT_EQ(GetText(ref, kDATA, 1), std::string(70000, 0x5A));

  Owned p(P("big.exe"));
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, p, kAccessReadWrite, kDenyNone), kNoErr);
  int32 size = 0;
  ASSERT_EQ(FGetEOF(f, &size), kNoErr);
  EXPECT_EQ(FSetEOF(f, 6000), kFileIOErr);
  EXPECT_EQ(FSetEOF(f, size + 10), kNoErr);  // growing is allowed
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(FSetEOF(f, 6000), kNoErr);
  FMClose(f);
}

TEST_F(RsrcOpening, FailedMappingFallsBackToReads) {
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kDATA, 1, Bytes(9000, 0x33));
  rsrcw::Options o;
  o.leading = Bytes(5000, 1);
  o.trailer = true;
  Put("big.exe", w.Write(o));
  // A granularity the host does not map at makes the view fail.
  const uInt32 saved = rsrc::gMgr.granularity;
  rsrc::gMgr.granularity = 100;
  RsrcFileRef ref = Open("big.exe", kRsrcReadOnly);
  rsrc::gMgr.granularity = saved;
  ASSERT_NE(ref, 0u);
  const rsrc::FileRec rec = FileOf(ref);
  EXPECT_EQ(rec.data, nullptr);
  EXPECT_EQ(rec.region, nullptr);
  EXPECT_EQ(GetText(ref, kDATA, 1), std::string(9000, 0x33));
  EXPECT_EQ(RCloseFile(ref), kNoErr);
}

// ---- Lists ------------------------------------------------------------------------------

TEST_F(RsrcLists, StringIndexOutOfRangeGivesAnEmptyString) {
  RsrcFileRef ref = OpenImage(Sample().Write());
  MgErr err;
  EXPECT_EQ(IndString(ref, 100, 0, &err), "");
  EXPECT_EQ(err, kRsrcNotFoundErr);
  EXPECT_EQ(IndString(ref, 100, 4, &err), "");
  EXPECT_EQ(err, kRsrcNotFoundErr);
  EXPECT_EQ(IndString(ref, 101, 1, &err), "");
  EXPECT_EQ(err, kRsrcNotFoundErr);
  EXPECT_EQ(RGetIndString(ref, nullptr, 100, 1), kArgErr);
  LStrHandle l = nullptr;
  EXPECT_EQ(RGetIndLStr(ref, &l, 200, 0), kRsrcNotFoundErr);
  EXPECT_EQ(RGetIndLStr(ref, &l, 200, 4), kRsrcNotFoundErr);
  EXPECT_EQ(l, nullptr);
  Path p = nullptr;
  EXPECT_EQ(RGetIndPath(ref, &p, 300, 3), kRsrcNotFoundErr);
  EXPECT_EQ(RGetIndPath(ref, &p, 301, 1), kRsrcNotFoundErr);
  EXPECT_EQ(p, nullptr);
  // The copying readers leave the list loaded, as RGet does.
  UHandle list = nullptr, again = nullptr;
  ASSERT_EQ(RGet(ref, rsrcfmt::kTypeStrList, 100, &list), kNoErr);
  EXPECT_EQ(IndString(ref, 100, 3), "gamma");
  ASSERT_EQ(RGet(ref, rsrcfmt::kTypeStrList, 100, &again), kNoErr);
  EXPECT_EQ(list, again);
  RCloseFile(ref);
}

TEST_F(RsrcLists, ListEntriesRunningPastTheResourceGiveEndOfFile) {
  Bytes str = rsrcw::StrList({"one", "two"});
  PutBE16(str.data(), 3);  // one string more than there are bytes for
  Bytes cut = rsrcw::StrList({"one", "two"});
  cut.pop_back();
  Bytes lst = rsrcw::LStrList({"a", "bb"});
  PutBE32(lst.data() + 12, 1000);
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(rsrcfmt::kTypeStrList, 1, str);
  w.Add(rsrcfmt::kTypeStrList, 2, cut);
  w.Add(rsrcfmt::kTypeStrList, 3, Bytes(1, 0));
  w.Add(rsrcfmt::kTypeLStrList, 1, lst);
  RsrcFileRef ref = OpenImage(w.Write());
  ASSERT_NE(ref, 0u);
  MgErr err;
  EXPECT_EQ(IndString(ref, 1, 2, &err), "two");
  EXPECT_EQ(IndString(ref, 1, 3, &err), "");
  EXPECT_EQ(err, kEOFErr);
  EXPECT_EQ(IndString(ref, 2, 1, &err), "one");
  EXPECT_EQ(IndString(ref, 2, 2, &err), "");
  EXPECT_EQ(err, kEOFErr);
  EXPECT_EQ(IndString(ref, 3, 1, &err), "");
  EXPECT_EQ(err, kEOFErr);
  LStrHandle l = nullptr;
  ASSERT_EQ(RGetIndLStr(ref, &l, 1, 1), kNoErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(l));
  l = nullptr;
  EXPECT_EQ(RGetIndLStr(ref, &l, 1, 2), kEOFErr);
  EXPECT_EQ(l, nullptr);
  RCloseFile(ref);
}

TEST_F(RsrcLists, PathEntriesThatAreNotPathsGiveNoPathAndNoReport) {
  Bytes notPath = rsrcw::FlatPath(kAbsPath, {"C", "x"});
  notPath[3] = '1';  // "PTH1"
  Bytes shortBody = rsrcw::FlatPath(kAbsPath, {});
  PutBE32(shortBody.data() + 4, 2);
  shortBody.resize(10);
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(rsrcfmt::kTypePathList, 1,
        rsrcw::PathList({notPath, rsrcw::FlatPath(kAbsPath, {"C", "ok"}), shortBody,
                         rsrcw::FlatPath(kRelPath, {"last"})}));
  Bytes running = rsrcw::PathList({rsrcw::FlatPath(kRelPath, {"a"}), rsrcw::FlatPath(kRelPath, {"b"})});
  PutBE32(running.data() + 8, 500);  // the first entry's length runs past the list
  w.Add(rsrcfmt::kTypePathList, 2, running);
  w.Add(kPATH, 1, rsrcw::FlatPath(kAbsPath, {"D", "help"}));
  w.Add(kPATH, 2, BytesOf("no path here"));
  RsrcFileRef ref = OpenImage(w.Write());
  ASSERT_NE(ref, 0u);
  Path p = reinterpret_cast<Path>(1);
  EXPECT_EQ(RGetIndPath(ref, &p, 1, 1), kNoErr);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(RGetIndPath(ref, &p, 1, 2), kNoErr);
  EXPECT_EQ(pathtest::Text(p), "C:\\ok");
  FDisposePath(p);
  EXPECT_EQ(RGetIndPath(ref, &p, 1, 3), kNoErr);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(RGetIndPath(ref, &p, 1, 4), kNoErr);
  EXPECT_EQ(pathtest::Text(p), "last");
  FDisposePath(p);
  EXPECT_EQ(RGetIndPath(ref, &p, 2, 1), kEOFErr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(RGetIndPath(ref, &p, 2, 2), kEOFErr);

  // A path list and a path resource are released after reading, unless they
  // were loaded before.
  UHandle list = nullptr;
  ASSERT_EQ(RGet(ref, rsrcfmt::kTypePathList, 1, &list), kNoErr);
  ASSERT_EQ(RGetIndPath(ref, &p, 1, 2), kNoErr);
  FDisposePath(p);
  EXPECT_EQ(RFindByHandle(list, nullptr, nullptr, nullptr), kNoErr);
  ASSERT_EQ(RRelease(list), kNoErr);
  ASSERT_EQ(RGetPath(ref, kPATH, 1, &p), kNoErr);
  EXPECT_EQ(pathtest::Text(p), "D:\\help");
  FDisposePath(p);
  p = reinterpret_cast<Path>(1);
  EXPECT_EQ(RGetPath(ref, kPATH, 2, &p), kMemCorruptErr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(RGetPath(ref, kPATH, 3, &p), kRsrcNotFoundErr);
  RCloseFile(ref);
  EXPECT_EQ(Reports(), 0u);
}

}  // namespace
