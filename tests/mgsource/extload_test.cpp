// External code: "MQ" images relocated into executable blocks, code libraries
// loaded through a temporary file, libraries by name, and procedures by name
// and ordinal.
#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mgsource/blockmove.h"
#include "mgsource/byteorder.h"
#include "mgsource/extload.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "mgsource/pool.h"
#include "platform/qx_drives.h"
#include "platform/qx_dynlib.h"
#include "platform/qx_vmem.h"
#include "temp_folder.h"
#include "test_support.h"
#include "tools/mqwriter.h"

namespace {

namespace fs = std::filesystem;
using mqw::Bytes;

std::string ObjectFile(const char* name) { return std::string(QX_TEST_OBJECTS) + "/lib" + name + ".so"; }

Bytes ReadFile(const std::string& host) {
  std::ifstream in(host, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& host, const Bytes& bytes) {
  std::ofstream out(host, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The system's text of a host path ("C:\tmp\x").
std::string SysText(const std::string& host) {
  std::string text;
  EXPECT_TRUE(PlatHostToSysText(host.c_str(), &text)) << host;
  return text;
}

UHandle HandleOf(const Bytes& bytes) {
  UHandle h = AZNewHandle(int32(bytes.size()));
  if (h && !bytes.empty()) MoveBlock(bytes.data(), *h, int32(bytes.size()));
  return h;
}

// The blocks of the pool, the master pointers of both zones and the
// executable blocks in use: equal before and after a load that failed or was
// undone.
struct Footprint {
  int32 poolBlocks, azMasterBlocks, azFree, dsMasterBlocks, dsFree, codeBlocks;
  bool operator==(const Footprint&) const = default;
};
Footprint Now() {
  Footprint f{};
  f.poolBlocks = PoolBlockCount(PoolInitDefault());
  MemZoneCounts(0, &f.azMasterBlocks, &f.azFree);
  MemZoneCounts(1, &f.dsMasterBlocks, &f.dsFree);
  f.codeBlocks = PlatCodeBlocksInUse();
  return f;
}

// The folder the code libraries' temporary files go to, set per test.
std::string gTempFolder;
MgErr TestTempDir(Path p) {
  std::string text = SysText(gTempFolder);
  return FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p);
}
MgErr NoTempDir(Path) { return kFileNotFoundErr; }

int QxsbFiles(const std::string& folder) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().rfind("qxsb", 0) == 0;
  return n;
}

class ExtCode : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureMemInit();
    gTempFolder = temp_.Dir();
    ExtCodeSetTempDirPathHook(TestTempDir);
  }
  void TearDown() override {
    ExtCodeSetTempDirPathHook(nullptr);
    ExtCodeSetNTFamilyHook(nullptr);
    ExtCodeSetRTTable(nullptr);
    unsetenv("QXSB_TEST_HEADER");
  }
  // Loads a resource of these bytes; the handle is disposed again.
  MgErr Load(const Bytes& bytes, UPtr* block, int32 w1 = 0x11111111, int32 w2 = 0x22222222) {
    UHandle h = HandleOf(bytes);
    MgErr err = LoadExtCode(h, block, 0, w1, w2);
    AZDisposeHandle(h);
    return err;
  }
  std::string Debug() { return capture_.Debug(); }
  int Count(const char* needle) { return capture_.Count(needle); }

  TempFolder temp_{"qxext"};
  Capture capture_;
};

uInt32 Word(const void* block, size_t at) { return GetNative32(static_cast<const uChar*>(block) + at); }
uInt32 Addr(const void* p) { return uInt32(reinterpret_cast<uintptr_t>(p)); }

// Code whose entry at offset 48 returns the word at offset 44 through an
// address that a 32-bit relocation makes absolute:
//   44: the data word
//   48: B8 <44>  mov eax, block + 44
//   53: 8B 00    mov eax, [eax]
//   55: C3       ret
constexpr uInt32 kData = 44, kEntry = 48, kImmediate = 49;
mqw::Image EntryImage(uInt32 version, uInt32 value) {
  mqw::Image img;
  img.code.assign(64, 0x90);
  for (size_t i = 0; i < 44; ++i) img.code[i] = 0;
  PutNative32(img.code.data() + kData, value);
  img.code[kEntry] = 0xB8;
  PutNative32(img.code.data() + kImmediate, kData);
  img.code[53] = 0x8B;
  img.code[54] = 0x00;
  img.code[55] = 0xC3;
  img.version = version;
  img.relocations = {mqw::Reloc32(kImmediate)};
  return img;
}

}  // namespace

// ------------------------------------------------------------- "MQ" images

TEST_F(ExtCode, EachVersionFillsTheHeaderWordsAndTheEntryRunsRelocatedCode) {
  struct Case {
    const char* what;
    uInt32 version;
    bool jump;     // entry offset 0 and a jump at the start
    bool inImage;  // version 4: the entry address is in the image
  } cases[] = {
      {"version 2, offset", 2, false, false},
      {"version 2, jump", 2, true, false},
      {"version 3, offset", 3, false, false},
      {"version 3, jump", 3, true, false},
      {"version 4", 4, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mqw::Image img = EntryImage(c.version, 0x5EED0000u + c.version);
    if (c.jump) img.jumpTo = kEntry;
    else img.entryOffset = kEntry;
    if (c.inImage) {
      PutNative32(img.code.data() + offsetof(CodeBlockHeader, entry), kEntry);
      img.relocations.push_back(mqw::Reloc32(offsetof(CodeBlockHeader, entry)));
    }
    Footprint before = Now();
    UPtr block = nullptr;
    ASSERT_EQ(Load(mqw::Write(img), &block, 7, -9), kNoErr);
    ASSERT_NE(block, nullptr);
    uInt32 base = Addr(block);
    EXPECT_EQ(Word(block, 12), c.version) << "the version is in host order";
    EXPECT_EQ(Word(block, 16), base + kEntry);
    EXPECT_EQ(Word(block, 24), 0u);
    EXPECT_EQ(Word(block, 28), 0u);
    EXPECT_EQ(Word(block, 32), 7u);
    EXPECT_EQ(Word(block, 36), uInt32(-9));
    EXPECT_EQ(Word(block, 40), base + (c.jump ? 0 : kEntry));
    if (c.jump) {
      EXPECT_EQ(GetNative32(block) | GetNative32(block + 4), 0u) << "the jump is cleared";
    }
    auto entry = reinterpret_cast<uInt32 (*)()>(uintptr_t(Word(block, 16)));
    EXPECT_EQ(entry(), 0x5EED0000u + c.version);
    EXPECT_EQ(PlatCodeBlocksInUse(), before.codeBlocks + 1);
    UnloadExtCode(block);
    EXPECT_EQ(Now(), before);
  }
}

TEST_F(ExtCode, BothRelocationWidthsAddTheBlockAddress) {
  mqw::Image img = EntryImage(3, 1);
  img.entryOffset = kEntry;
  img.code.resize(80, 0xCC);
  PutNative32(img.code.data() + 60, 0x100);
  PutNative16(img.code.data() + 70, 0xFFF0);
  img.relocations = {mqw::Reloc32(60), mqw::Reloc16(70)};
  UPtr block = nullptr;
  ASSERT_EQ(Load(mqw::Write(img), &block), kNoErr);
  uInt32 base = Addr(block);
  EXPECT_EQ(Word(block, 60), base + 0x100);
  EXPECT_EQ(GetNative16(block + 70), uInt16(0xFFF0 + uInt16(base)));
  EXPECT_EQ(block[72], 0xCC) << "a 16-bit relocation touches two bytes";
  EXPECT_EQ(Word(block, kImmediate), kData) << "a word no entry names stays";
  UnloadExtCode(block);
}

TEST_F(ExtCode, LastPageFieldZeroTakesWholePagesAndExtraSpaceIsCleared) {
  mqw::Image img = EntryImage(3, 1);
  img.entryOffset = kEntry;
  img.wholePages = true;
  img.extraPages = 2;
  mqw::Layout layout;
  Bytes res = mqw::Write(img, &layout);
  ASSERT_EQ(layout.imageBytes % kMQPageSize, 0u);
  ASSERT_EQ(GetNative16(res.data() + kMQLastPageBytes), 0u);
  // A relocation in the last word of the last page: inside the code only when
  // the whole page counts.
  uInt32 lastWord = layout.imageBytes - layout.headerBytes - 4;
  PutNative32(res.data() + layout.headerBytes + lastWord, 0x40);
  mqw::Put16(res, kMQRelocCount, 2);
  mqw::Put32(res, layout.relocOffset + 4, mqw::Reloc32(lastWord));
  UPtr block = nullptr;
  ASSERT_EQ(Load(res, &block), kNoErr);
  EXPECT_EQ(Word(block, lastWord), Addr(block) + 0x40);
  uInt32 codeSize = layout.imageBytes - layout.headerBytes;
  for (uInt32 i = 0; i < 2 * kMQExtraUnit; i += 512) EXPECT_EQ(block[codeSize + i], 0) << i;
  block[codeSize + 2 * kMQExtraUnit - 1] = 1;  // the reserved space is the block's
  UnloadExtCode(block);
}

TEST_F(ExtCode, OldAndNewVersionsAreRefusedAndLeaveNoBlock) {
  struct Case {
    uInt32 version;
    MgErr err;
  } cases[] = {{0, kCINOldCompilerErr}, {1, kCINOldCompilerErr}, {5, kCINNewerVersionErr},
               {0xFFFFFFFFu, kCINNewerVersionErr}};
  for (const Case& c : cases) {
    mqw::Image img = EntryImage(c.version, 1);
    img.entryOffset = kEntry;
    Footprint before = Now();
    UPtr block = reinterpret_cast<UPtr>(1);
    EXPECT_EQ(Load(mqw::Write(img), &block), c.err) << c.version;
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(Now(), before) << c.version;
  }
  EXPECT_EQ(std::string(DBMgErrText(kCINOldCompilerErr)), "CIN compiled with old version of compiler.");
}

TEST_F(ExtCode, MalformedImagesFailWithFormatErrorAndLeaveNothing) {
  struct Case {
    const char* what;
    void (*spoil)(Bytes& res, mqw::Image& img, const mqw::Layout& l);
    bool rebuild = false;  // the change is to the image description
    bool offsetReport = false;
  } cases[] = {
      {"pages past the resource", [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put16(r, kMQPages, 40); }},
      {"no pages but a last page",
       [](Bytes& r, mqw::Image&, const mqw::Layout&) {
         mqw::Put16(r, kMQPages, 0);
         mqw::Put16(r, kMQLastPageBytes, 100);
       }},
      {"header past the image",
       [](Bytes& r, mqw::Image&, const mqw::Layout& l) { mqw::Put16(r, kMQHeaderParas, uInt16(l.imageBytes / 16 + 1)); }},
      {"header shorter than its fields", [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put16(r, kMQHeaderParas, 1); }},
      {"relocation table past the resource",
       [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put16(r, kMQRelocCount, 3); }},
      {"relocation table offset past the resource",
       [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put16(r, kMQRelocOffset, 0xFFFF); }},
      {"code without room for its header words",
       [](Bytes& r, mqw::Image&, const mqw::Layout& l) { mqw::Put16(r, kMQLastPageBytes, uInt16(l.headerBytes + 40)); }},
      {"32-bit relocation at code size - 2",
       [](Bytes&, mqw::Image& img, const mqw::Layout&) {
         img.relocations.push_back(mqw::Reloc32(uInt32(img.code.size() - 2)));
       },
       true, true},
      {"16-bit relocation at code size - 1",
       [](Bytes&, mqw::Image& img, const mqw::Layout&) { img.relocations.push_back(mqw::Reloc16(uInt32(img.code.size() - 1))); },
       true, true},
      {"relocation far past the code",
       [](Bytes&, mqw::Image& img, const mqw::Layout&) { img.relocations.push_back(mqw::Reloc32(0x7FFFFFFF)); }, true,
       true},
      {"entry past the code", [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put32(r, kMQEntryOffset, 64); }},
      {"entry offset 0 without a jump",
       [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put32(r, kMQEntryOffset, 0); }},
      {"jump past the code",
       [](Bytes&, mqw::Image& img, const mqw::Layout&) {
         img.entryOffset = 0;
         img.jumpTo = 64;
       },
       true},
      {"jump before the code",
       [](Bytes&, mqw::Image& img, const mqw::Layout&) {
         img.entryOffset = 0;
         img.jumpTo = -1;
         img.code[0] = 0xE9;
         PutNative32(img.code.data() + 1, uInt32(-6));
       },
       true},
      {"version 4 entry outside the code",
       [](Bytes&, mqw::Image& img, const mqw::Layout&) {
         img.version = 4;
         PutNative32(img.code.data() + offsetof(CodeBlockHeader, entry), 12345);
       },
       true},
      {"too short for a header", [](Bytes& r, mqw::Image&, const mqw::Layout&) { r.resize(20); }},
      {"extra room of 256 MB for a small image",
       [](Bytes& r, mqw::Image&, const mqw::Layout&) { mqw::Put16(r, kMQExtraPages, 0xFFFF); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mqw::Image img = EntryImage(3, 1);
    img.entryOffset = kEntry;
    mqw::Layout layout;
    Bytes res = mqw::Write(img, &layout);
    c.spoil(res, img, layout);
    if (c.rebuild) res = mqw::Write(img, &layout);
    capture_.Clear();
    Footprint before = Now();
    UPtr block = reinterpret_cast<UPtr>(1);
    EXPECT_EQ(Load(res, &block), kExtCodeFormatErr);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(Now(), before);
    EXPECT_EQ(Count("Error #24"), c.offsetReport ? 1 : 0);
  }
}

TEST_F(ExtCode, NoMemoryForTheBlockAndBadArguments) {
  mqw::Image img = EntryImage(3, 1);
  img.entryOffset = kEntry;
  Bytes res = mqw::Write(img);
  UPtr block = nullptr;
  PlatFailNextCodeAllocs(1);
  EXPECT_EQ(Load(res, &block), kMemFullErr);
  EXPECT_EQ(block, nullptr);
  UHandle h = HandleOf(res);
  EXPECT_EQ(LoadExtCode(h, nullptr, 0, 0, 0), kArgErr);
  EXPECT_EQ(LoadExtCode(nullptr, &block, 0, 0, 0), kArgErr);
  UHandle freed = HandleOf(res);
  AZDisposeHandle(freed);
  EXPECT_EQ(LoadExtCode(freed, &block, 0, 0, 0), kArgErr);
  AZDisposeHandle(h);
  // A resource in the data zone loads as well.
  UHandle d = DSNewHandle(int32(res.size()));
  MoveBlock(res.data(), *d, int32(res.size()));
  ASSERT_EQ(LoadExtCode(d, &block, 0, 0, 0), kNoErr);
  UnloadExtCode(block);
  DSDisposeHandle(d);
}

TEST_F(ExtCode, UnloadRefusesForeignFreedAndInteriorBlocks) {
  mqw::Image img = EntryImage(3, 1);
  img.entryOffset = kEntry;
  UPtr block = nullptr;
  ASSERT_EQ(Load(mqw::Write(img), &block), kNoErr);
  int32 blocks = PlatCodeBlocksInUse();
  uChar local[64] = {};
  for (UPtr p : {local, block + 4, static_cast<UPtr>(nullptr)}) {
    capture_.Clear();
    UnloadExtCode(p);
    EXPECT_EQ(Count("UnloadExtCode"), 1);
    EXPECT_EQ(PlatCodeBlocksInUse(), blocks);
  }
  UnloadExtCode(block);
  EXPECT_EQ(PlatCodeBlocksInUse(), blocks - 1);
  capture_.Clear();
  UnloadExtCode(block);
  EXPECT_EQ(Count("UnloadExtCode"), 1) << "a block given back is refused";
  EXPECT_EQ(PlatCodeBlocksInUse(), blocks - 1);
}

// ----------------------------------------------------------- code libraries

TEST_F(ExtCode, CodeLibraryLoadsThroughATemporaryFileUntilUnloaded) {
  Bytes lib = ReadFile(ObjectFile("qxext_cin"));
  ASSERT_GT(lib.size(), 52u);
  UPtr block = nullptr;
  ASSERT_EQ(Load(lib, &block, 5, 6), kNoErr);
  EXPECT_EQ(QxsbFiles(temp_.Dir()), 1);
  auto* header = reinterpret_cast<CodeBlockHeader*>(block);
  EXPECT_EQ(header->version, 3u);
  EXPECT_EQ(header->zero24, 0u);
  EXPECT_NE(header->module, 0u);
  EXPECT_EQ(header->word1, 5u);
  EXPECT_EQ(header->word2, 6u);
  EXPECT_EQ(header->entryData, Addr(header));
  // The module is a library: its procedures are found through it.
  ExtLibModule module = reinterpret_cast<ExtLibModule>(uintptr_t(header->module));
  void* proc = nullptr;
  ASSERT_EQ(LoadExternalFunc("CinAnswer", &module, &proc), kNoErr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(proc)(), 4242);
  UnloadExternalLib(module);  // kept for UnloadExtCode
  ASSERT_EQ(LoadExternalFunc("CinAnswer", &module, &proc), kNoErr);
  UnloadExtCode(block);
  EXPECT_EQ(QxsbFiles(temp_.Dir()), 0);
  EXPECT_EQ(LoadExternalFunc("CinAnswer", &module, &proc), kArgErr) << "an unloaded module is refused";
}

TEST_F(ExtCode, FaultyCodeLibrariesLeaveNoLibraryAndNoFile) {
  struct Case {
    const char* what;
    Bytes bytes;
    const char* header;
    MgErr err;
  } cases[] = {
      {"no GetQXSBHeader", ReadFile(ObjectFile("qxext_plain")), nullptr, kExtCodeFormatErr},
      {"a null header", ReadFile(ObjectFile("qxext_cin")), "null", kExtCodeFormatErr},
      {"a header in read-only data", ReadFile(ObjectFile("qxext_cin")), "readonly", kExtCodeFormatErr},
      {"version 5", ReadFile(ObjectFile("qxext_cin")), "version5", kCINNewerVersionErr},
      {"not a library", Bytes{'h', 'e', 'l', 'l', 'o'}, nullptr, kExtCodeFormatErr},
      {"nothing", Bytes{}, nullptr, kExtCodeFormatErr},
      {"a library needing another", ReadFile(ObjectFile("qxext_needs")), nullptr, kExtCodeFormatErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.header) setenv("QXSB_TEST_HEADER", c.header, 1);
    else unsetenv("QXSB_TEST_HEADER");
    Footprint before = Now();
    UPtr block = reinterpret_cast<UPtr>(1);
    EXPECT_EQ(Load(c.bytes, &block), c.err);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(QxsbFiles(temp_.Dir()), 0);
    EXPECT_EQ(Now(), before);
  }
}

TEST_F(ExtCode, TemporaryFolderMissingOrUnavailable) {
  Bytes lib = ReadFile(ObjectFile("qxext_cin"));
  UPtr block = nullptr;
  gTempFolder = temp_.Dir() + "/absent";
  EXPECT_EQ(Load(lib, &block), kCINTempLibErr);
  EXPECT_EQ(block, nullptr);
  ExtCodeSetTempDirPathHook(NoTempDir);
  EXPECT_EQ(Load(lib, &block), kMemFullErr);
  EXPECT_EQ(QxsbFiles(temp_.Dir()), 0);
}

// ---------------------------------------------------------------- libraries

TEST_F(ExtCode, QuenlixIsTheProgramAndSurvivesUnload) {
  ExtLibModule self = nullptr;
  ASSERT_EQ(LoadExternalLib("Quenlix", &self, nullptr), kNoErr);
  ASSERT_NE(self, nullptr);
  void* proc = nullptr;
  ASSERT_EQ(LoadExternalFunc("MoveBlock", &self, &proc), kNoErr);
  EXPECT_EQ(proc, reinterpret_cast<void*>(&MoveBlock));
  UnloadExternalLib(self);
  UnloadExternalLib(self);
  proc = nullptr;
  EXPECT_EQ(LoadExternalFunc("ClearMem", &self, &proc), kNoErr);
  EXPECT_EQ(proc, reinterpret_cast<void*>(&ClearMem));
}

TEST_F(ExtCode, LoadFailuresMapToTheirCodes) {
  std::string dir = temp_.Dir();
  WriteFile(dir + "/text.so", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'o', 'b', 'j', 'e', 'c', 't'});
  Bytes elf64(64, 0);
  const uChar ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
  std::copy(std::begin(ident), std::end(ident), elf64.begin());
  elf64[16] = 3;   // a shared object
  elf64[18] = 62;  // of x86-64
  WriteFile(dir + "/elf64.so", elf64);
  Bytes exec = ReadFile(ObjectFile("qxext_plain"));
  exec[16] = 2;  // an executable, not a shared object
  WriteFile(dir + "/exec.so", exec);
  struct Case {
    std::string name;
    MgErr err;
  } cases[] = {
      {SysText(dir + "/absent.so"), kFileNotFoundErr},
      {SysText(dir + "/nofolder/absent.so"), kFileNotFoundErr},
      {"libqx_absent_everywhere.so", kFileNotFoundErr},
      {SysText(dir + "/text.so"), kSysCapacityErr},
      {SysText(dir + "/elf64.so"), kSysCapacityErr},
      {SysText(dir + "/exec.so"), kSysCapacityErr},
      {SysText(dir), kSysCapacityErr},
      {SysText(ObjectFile("qxext_needs")), kRsrcFileNotFoundErr},
      {SysText(ObjectFile("qxext_undef")), kGenericErr},
      {"", kFileNotFoundErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    capture_.Clear();
    ExtLibModule m = reinterpret_cast<ExtLibModule>(1);
    EXPECT_EQ(LoadExternalLib(c.name.c_str(), &m, nullptr), c.err);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(Count("LoadExternalLib: LoadLibrary: error = "), 1);
  }
}

TEST_F(ExtCode, ExplanationsOnlyOutsideTheNTFamily) {
  struct Case {
    std::string name;
    const char* text;  // in the explanation outside NT
  } cases[] = {
      {SysText(ObjectFile("qxext_needs")), "needs"},
      {SysText(temp_.Dir()), "is not a library"},
      {SysText(ObjectFile("qxext_undef")), "could not be loaded (error "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Str255 message;
    message[0] = 0;
    ExtLibModule m = nullptr;
    ASSERT_NE(LoadExternalLib(c.name.c_str(), &m, message), kNoErr);
    EXPECT_EQ(message[0], 0) << "the NT family copies nothing";
    ExtCodeSetNTFamilyHook([]() -> Bool32 { return 0; });
    ASSERT_NE(LoadExternalLib(c.name.c_str(), &m, message), kNoErr);
    std::string text(reinterpret_cast<char*>(message + 1), message[0]);
    EXPECT_NE(text.find(c.text), std::string::npos) << text;
    ExtCodeSetNTFamilyHook(nullptr);
  }
}

TEST_F(ExtCode, AppDirLibraryIsFoundBesideTheProgram) {
  ExtLibModule m = nullptr;
  ASSERT_EQ(LoadAppDirLib("libqxext_plain.so", &m), kNoErr);
  void* proc = nullptr;
  ASSERT_EQ(LoadExternalFunc("PlainAnswer", &m, &proc), kNoErr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(proc)(), 31);
  UnloadExternalLib(m);
  // A bare name is looked for in the application's folder first.
  ASSERT_EQ(LoadExternalLib("libqxext_plain.so", &m, nullptr), kNoErr);
  UnloadExternalLib(m);
  EXPECT_EQ(LoadAppDirLib("libqxext_absent.so", &m), kFileNotFoundErr);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(LoadAppDirLib(nullptr, &m), kArgErr);
}

// ------------------------------------------------------------------ lookups

TEST_F(ExtCode, ProceduresByNameOrdinalAndUnderscore) {
  ExtLibModule m = nullptr;
  ASSERT_EQ(LoadExternalLib(SysText(ObjectFile("qxext_cin")).c_str(), &m, nullptr), kNoErr);
  struct Case {
    const char* name;
    int answer;  // 0: not found
  } cases[] = {
      {"12", 1212}, {"7", 707},       {"0012", 1212},         {"13", 0},           {"0", 0},
      {"99999999999999", 0},          {"UnderscoreOnly", 99}, {"_UnderscoreOnly", 99},
      {"CinAnswer", 4242},            {"NoSuchProc", 0},      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    capture_.Clear();
    void* proc = reinterpret_cast<void*>(1);
    MgErr err = LoadExternalFunc(c.name, &m, &proc);
    if (c.answer) {
      ASSERT_EQ(err, kNoErr);
      EXPECT_EQ(reinterpret_cast<int (*)()>(proc)(), c.answer);
    } else {
      EXPECT_EQ(err, kRsrcNotFoundErr);
      EXPECT_EQ(proc, nullptr);
      EXPECT_EQ(Count("LoadExternalFunc: "), 1);
    }
  }
  capture_.Clear();
  void* proc = nullptr;
  EXPECT_EQ(LoadExternalFunc("NoSuchProc", &m, &proc), kRsrcNotFoundErr);
  EXPECT_NE(Debug().find("undefined symbol: NoSuchProc"), std::string::npos) << "the loader's text: " << Debug();
  UnloadExternalLib(m);

  // A library without an ordinal table.
  ASSERT_EQ(LoadAppDirLib("libqxext_plain.so", &m), kNoErr);
  EXPECT_EQ(LoadExternalFunc("12", &m, &proc), kRsrcNotFoundErr);
  UnloadExternalLib(m);
}

TEST_F(ExtCode, EachLookupHandsTheLibraryTheRunTimeTable) {
  static const uInt32 table[4] = {1, 2, 3, 0};
  ExtLibModule m = nullptr;
  ASSERT_EQ(LoadExternalLib(SysText(ObjectFile("qxext_cin")).c_str(), &m, nullptr), kNoErr);
  void* calls = nullptr;
  void* patched = nullptr;
  ASSERT_EQ(LoadExternalFunc("PatchCalls", &m, &calls), kNoErr) << "no table set: nothing handed over";
  auto count = reinterpret_cast<int (*)()>(calls);
  EXPECT_EQ(count(), 0);
  ExtCodeSetRTTable(table);
  ASSERT_EQ(LoadExternalFunc("PatchedTable", &m, &patched), kNoErr);
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(reinterpret_cast<const void* (*)()>(patched)(), static_cast<const void*>(table));
  void* proc = nullptr;
  EXPECT_EQ(LoadExternalFunc("12", &m, &proc), kNoErr);
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(LoadExternalFunc("NoSuchProc", &m, &proc), kRsrcNotFoundErr);
  EXPECT_EQ(count(), 2) << "a failed lookup hands nothing over";
  // The decorated name finds the undecorated stdcall procedure.
  std::string message;
  EXPECT_NE(PlatLibFind(m, "_PatchQXRTGlobal@4", &message), nullptr);
  EXPECT_NE(PlatLibFind(m, "PatchQXRTGlobal@4", &message), nullptr);
  EXPECT_EQ(PlatLibFind(m, "_PatchQXRTGlobal@x", &message), nullptr);
  UnloadExternalLib(m);
}

TEST_F(ExtCode, NullForeignAndFailedModules) {
  ExtLibModule none = nullptr;
  void* proc = reinterpret_cast<void*>(1);
  EXPECT_EQ(LoadExternalFunc("CinAnswer", &none, &proc), kNoErr);
  EXPECT_EQ(proc, nullptr);
  int local = 0;
  ExtLibModule foreign = &local;
  EXPECT_EQ(LoadExternalFunc("CinAnswer", &foreign, &proc), kArgErr);
  capture_.Clear();
  UnloadExternalLib(foreign);
  EXPECT_EQ(Count("Unload Library Failed Errno="), 1);

  // A failed lookup unloads the library again and clears both outputs.
  std::string path = ObjectFile("qxext_plain");
  ASSERT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  ExtLibModule m = reinterpret_cast<ExtLibModule>(1);
  proc = reinterpret_cast<void*>(1);
  EXPECT_EQ(LoadExternalLibFunc(SysText(path).c_str(), "Missing", &m, &proc, nullptr), kRsrcNotFoundErr);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(proc, nullptr);
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library is unloaded";
  EXPECT_EQ(LoadExternalLibFunc("libqx_absent_everywhere.so", "X", &m, &proc, nullptr), kFileNotFoundErr);
  EXPECT_EQ(m, nullptr);
  ASSERT_EQ(LoadExternalLibFunc(SysText(path).c_str(), "PlainAnswer", &m, &proc, nullptr), kNoErr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(proc)(), 31);
  UnloadExternalLib(m);
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}
