// Loading VIs from files the tools write: the header fix-ups, versions,
// code, the required and optional resources, renaming, the datalog binding,
// the failure path by stage, and subroutine files.
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <mutex>

#include "engine/vi/dataspace.h"
#include "mgsource/memory.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/link/linker.h"
#include "engine/exec/runcmd.h"
#include "engine/link/hierarchy.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viload.h"
#include "engine/vi/viload_internal.h"
#include "mgsource/filemgr.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_drives.h"
#include "tools/appbuild.h"
#include "tools/i386emit.h"
#include "tools/linkinfowriter.h"
#include "tools/mqwriter.h"
#include "mgsource/extload.h"
#include "tools/vifile.h"
#include "tools/panelwriter.h"
#include "tools/vibuilder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/objheap.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "runtime_root.h"
#include "viinst_test_support.h"
#include "link_check.h"

namespace fs = std::filesystem;
using qxvitest::PS;

namespace {

// What the alerts showed.
std::vector<std::string>& Alerts() {
  static std::vector<std::string> a;
  return a;
}
int32 RecordAlert(int32 kind, const void* message, ConstPStr, int32, int32) {
  if (kind == kAlertCStr) Alerts().push_back(static_cast<const char*>(message));
  else Alerts().push_back(pathtest::Str(static_cast<ConstPStr>(message)));
  return 0;
}

// A VI's code: the initialisation stores 0x1234 and the run-time table's
// address in the first two entries and installs a controller procedure.
vif::Bytes InitCode() { return vif::ControllerCode(true); }

class VILoadTest : public qxvitest::VITest {
 public:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    qxtest::StartRTTable();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(qxvitest::StartBareLinker());
    // The loader enters code through the code hooks: the real ones.
    SetVICodeHooks(nullptr);
    InstallVICodeHooks();
    ASSERT_TRUE(rt_.Make("qxvl"));
    Alerts().clear();
    SetOneButtonAlertProc(&RecordAlert);
    // A load that succeeds and one that fails first: the run-time file's
    // texts and versions, the image table and the link table stay loaded.
    vif::VIFile warm;
    warm.entries = {tdb::I32(), tdb::I32()};
    warm.code = InitCode();
    UHandle vi = nullptr;
    ASSERT_EQ(Load(warm, &vi), kLoadLoaded);
    Unload(vi);
    warm.writeLIvi = false;
    ASSERT_EQ(Load(warm, &vi), kLoadFailed);
    RsrcMissingAlert(nullptr, PS("warm"));
    viload::WarningAlert(kWarnLogBindingCleared, PS("warm"), nullptr);
    Str255 text;
    for (int32 list : {kLoadErrorsListId, kLoadWarningsListId, kMgErrTextsListId}) RGetIndString(rt_.runtime(), text, list, 1);
    Alerts().clear();
    CollectTypeHeapGarbage();
    TXFinishFonts();  // the font table keeps what loads made, cached: counted without it
    before_ = qxvitest::ZoneTotals();
  }
  void TearDown() override {
    SetOneButtonAlertProc(nullptr);
    SetVILoadPanelHooks(nullptr);
    VITest::TearDown();
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
    rt_.Remove();
    FExitFileMgr();
  }

  // Writes the VI's file as "<file>" and loads it: the result, *vi the VI.
  int32 Load(const vif::VIFile& v, UHandle* vi, const std::string& loadName = "", int32 options = 0,
             const std::string& file = "vi.rsc") {
    return LoadBytes(vif::Write(v), vi, loadName.empty() ? v.name : loadName, options, file);
  }
  int32 LoadBytes(const vif::Bytes& bytes, UHandle* vi, const std::string& name, int32 options = 0,
                  const std::string& file = "vi.rsc") {
    *vi = nullptr;
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.root() + "/" + file, bytes));
    Path path = pathtest::ToPath("L:\\" + file);
    RsrcFileRef ref = 0;
    if (ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr) {
      FDisposePath(path);
      return -1;
    }
    return LoadInstrument(path, options, PS(name), ref, vi, 0);
  }
  // The load error shown by the last alert, or 0.
  static int32 ShownLoadError() {
    if (Alerts().empty()) return 0;
    const std::string& t = Alerts().back();
    const size_t at = t.find("load error code ");
    return at == std::string::npos ? 0 : std::atoi(t.c_str() + at + 16);
  }
  // Disposes a loaded VI as closing does.
  static void Unload(UHandle vi) {
    if (vi) DisposeVI(vi, 1);
  }
  void ExpectNothingLeft() {
    CollectTypeHeapGarbage();
    EXPECT_EQ(LoadedVICount(), 0);
    EXPECT_EQ(linkcheck::Walk(), "");
    TXFinishFonts();
    EXPECT_EQ(qxvitest::ZoneTotals(), before_);
  }

  qxtest::RuntimeRoot rt_;
  qxvitest::Footprint before_{};
};

TEST_F(VILoadTest, AVIWithCodeLoadsRunsItsInitialisationAndIsListed) {
  vif::VIFile v;
  v.entries = {tdb::I32().WithFlags(kDSEntryStored), tdb::I32().WithFlags(kDSEntryStored)};
  v.code = InitCode();
  v.priority = 2;
  UHandle vi = nullptr;
  ASSERT_EQ(Load(v, &vi), kLoadLoaded) << (Alerts().empty() ? "" : Alerts().back());
  ASSERT_NE(vi, nullptr);
  EXPECT_TRUE(Alerts().empty());
  EXPECT_TRUE(IsVILoaded(vi));
  const VIRecord* r = VIRec(vi);
  EXPECT_EQ(qxvitest::Name(vi), "Main.vi");
  EXPECT_EQ(r->rsrcID, 128u);
  EXPECT_EQ(r->priority, 2);
  EXPECT_EQ(r->eState & kVIStateMask, kVIStateIdle);
  EXPECT_EQ(r->flags & kVIFlagsSetAtLoad, uInt32(kVIFlagsSetAtLoad));
  EXPECT_TRUE(r->flags2 & kVIFlags2SetAtLoad);
  EXPECT_FALSE(r->flags2 & kVIFlags2CodeNotEntered);
  EXPECT_EQ(r->rsrcFile, 0u) << "the file is closed once read";
  EXPECT_EQ(r->flags & kVIFlagLoading, 0u) << "set while it loaded, clear once loaded";
  ASSERT_NE(r->dataSpace, nullptr);
  const uChar* ds = *r->dataSpace;
  EXPECT_EQ(GetNative32(ds + kDataSpaceHeaderSize), 0x1234u);
  EXPECT_EQ(GetNative32(ds + kDataSpaceHeaderSize + 4), uInt32(uintptr_t(QXRTTable)));
  EXPECT_NE(r->icon, nullptr) << "the run-time's fallback icon";
  EXPECT_NE(r->strings, nullptr);
  EXPECT_EQ(AZGetHandleSize(r->strings), 4);
  int32 entry = 0;
  EXPECT_EQ(LookupLinkItem(r->name, FourCC("QXIN"), &entry), 1);
  EXPECT_NE(entry, 0);
  Unload(vi);
  ExpectNothingLeft();
}

// Kinds that exist only in memory are refused from a file: such a VI would
// be listed and linked, and disposal would neither unlist nor unlink it.
TEST_F(VILoadTest, AHeaderNamingAnInMemoryKindIsRefused) {
  for (int16 kind : {int16(0), int16(1), int16(3), int16(5), int16(8), int16(9), int16(10), int16(-1)}) {
    SCOPED_TRACE(kind);
    vif::VIFile v;
    v.entries = {tdb::I32().WithFlags(kDSEntryStored)};
    v.code = InitCode();
    v.viKind = kind;
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), kLoadFailed);
    EXPECT_EQ(vi, nullptr);
    EXPECT_EQ(ShownLoadError(), kLoadErrVIRsrc);
    ExpectNothingLeft();
  }
}

TEST_F(VILoadTest, HeaderFixUps) {
  struct Case {
    const char* what;
    uInt32 flags;
    int16 priority;
    int16 expectPriority;
    int32 expectSystem;
  } cases[] = {
      {"stored priority 7 becomes 4", 0, 7, 4, 0},
      {"stored priority 5 becomes 4", 0, 5, 4, 0},
      {"a subroutine VI gets 5 and the caller's system", kVIFlagSubroutine, 1, 5, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vif::VIFile v;
    v.flags = c.flags;
    v.priority = c.priority;
    UHandle vi = nullptr;
    ASSERT_EQ(Load(v, &vi), kLoadLoaded);
    EXPECT_EQ(VIRec(vi)->priority, c.expectPriority);
    EXPECT_EQ(VIRec(vi)->execSystem, c.expectSystem);
    Unload(vi);
  }
  ExpectNothingLeft();
}

TEST_F(VILoadTest, AShortHeaderIsExtendedAndAMissingRSIDMeansIdZero) {
  vif::VIFile v;
  v.writeRsid = false;
  v.rsrcId = 0;
  vif::Bytes header = vif::Header(v);
  header.resize(300);
  v.raw[kVIHeaderRsrcType] = header;
  UHandle vi = nullptr;
  ASSERT_EQ(Load(v, &vi), kLoadLoaded);
  EXPECT_EQ(VIRec(vi)->rsrcID, 0u);
  const uChar* b = reinterpret_cast<const uChar*>(VIRec(vi));
  for (int32 at = 300; at < 384; ++at) EXPECT_EQ(b[at], 0) << at;
  for (int32 at : {396, 404, 408, 416, 424}) EXPECT_EQ(GetNative32(b + at), 0u) << at;
  Unload(vi);
  ExpectNothingLeft();
}

TEST_F(VILoadTest, AMissingHeaderFailsWith8AndTheTwoAlertLines) {
  rsrcw::Writer w(kVIHeaderRsrcType, FourCC("QNLX"));
  w.Add(kRsrcIdRsrcType, 0, {0, 0, 0, 128}, std::string("Main.vi"));
  const vif::Bytes file = w.Write();
  UHandle vi = reinterpret_cast<UHandle>(1);
  gQXLoadErrorCode = 5;
  EXPECT_EQ(LoadBytes(file, &vi, "Main.vi"), kLoadFailed);
  EXPECT_EQ(vi, nullptr);
  ASSERT_EQ(Alerts().size(), 1u);
  EXPECT_EQ(Alerts()[0], "An error occurred loading VI 'Main.vi'.\nQuenlix load error code 8: Could not load VI resource.");
  EXPECT_EQ(gQXLoadErrorCode, 5) << "the caller's value is restored";
  gQXLoadErrorCode = 0;
  ExpectNothingLeft();
}

// Versions against the run-time's, and code for another processor: each
// case loads or fails with its load error and leaves nothing behind.
TEST_F(VILoadTest, VersionsAndCode) {
  vif::Bytes other = InitCode();
  std::memcpy(other.data() + kVICDProcAt, "m68k", 4);
  vif::Bytes oldForm = InitCode();
  std::memcpy(oldForm.data() + kVICDTagAt, "none", 4);  // no "code": the processor stands at 16
  vif::Bytes oldOurs = oldForm;
  std::memcpy(oldOurs.data() + kVICDOldProcAt, "i386", 4);
  auto version = [](uInt32 version, std::optional<uInt32> reader) {
    return std::function<void(vif::VIFile&)>([=](vif::VIFile& v) {
      v.version = version;
      v.readerVersion = reader;
    });
  };
  auto code = [](std::optional<vif::Bytes> bytes) {
    return std::function<void(vif::VIFile&)>([=](vif::VIFile& v) {
      v.entries = {tdb::I32(), tdb::I32()};
      v.code = bytes;
    });
  };
  struct Case {
    const char* what;
    std::function<void(vif::VIFile&)> edit;
    int32 loadError;
  } cases[] = {
      {"the run-time's own", version(kRunTimeVersion, std::nullopt), 0},
      {"the oldest convertible", version(kOldestConvertibleVersion, std::nullopt), 0},
      {"older than the oldest convertible", version(kOldestConvertibleVersion - 1, std::nullopt), 10},
      {"newer, readable", version(kRunTimeVersion + 1, kRunTimeVersion), 0},
      {"newer, reader newer too", version(kRunTimeVersion + 1, kRunTimeVersion + 1), 9},
      {"newer without a reader version", version(kRunTimeVersion + 1, std::nullopt), 9},
      {"another processor", code(other), 22},
      {"the old form without the processor", code(oldForm), 22},
      {"the old form naming ours", code(oldOurs), 0},
      {"a 10-byte resource", code(vif::Bytes(10, 0)), 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Alerts().clear();
    vif::VIFile v;
    c.edit(v);
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), c.loadError ? kLoadFailed : kLoadLoaded);
    EXPECT_EQ(ShownLoadError(), c.loadError);
    Unload(vi);
    ExpectNothingLeft();
  }
}

// Before the execution systems start there are no code hooks: a VI with
// code is refused (load error 8) with nothing left and nothing asserted; a
// VI without code still loads.
TEST_F(VILoadTest, CodeIsEnteredOnlyThroughTheCodeHooks) {
  SetVICodeHooks(nullptr);
  qxtest::Reports::Get().Clear();
  for (bool withCode : {true, false}) {
    SCOPED_TRACE(withCode);
    Alerts().clear();
    vif::VIFile v;
    v.entries = {tdb::I32(), tdb::I32()};
    if (withCode) v.code = InitCode();
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), withCode ? kLoadFailed : kLoadLoaded);
    EXPECT_EQ(ShownLoadError(), withCode ? 8 : 0);
    Unload(vi);
    ExpectNothingLeft();
  }
  EXPECT_EQ(qxtest::Reports::Get().Count("Failure"), 0) << qxtest::Reports::Get().Text();
  InstallVICodeHooks();
}

TEST_F(VILoadTest, AVIWithoutCodeLoadsIdleAndIsNeverEntered) {
  vif::VIFile v;
  v.entries = {tdb::I32().WithFlags(kDSEntryStored)};
  v.flags = kVIFlagBad;
  UHandle vi = nullptr;
  qxtest::Reports::Get().Clear();
  ASSERT_EQ(Load(v, &vi), kLoadLoaded);
  EXPECT_EQ(VIRec(vi)->codeHandle, nullptr);
  EXPECT_EQ(VIRec(vi)->eState & kVIStateMask, kVIStateIdle);
  EXPECT_FALSE(VIRec(vi)->flags & kVIFlagBad);
  EXPECT_TRUE(VIRec(vi)->flags2 & kVIFlags2CodeNotEntered);
  EXPECT_EQ(GetNative32(*VIRec(vi)->dataSpace + kDataSpaceHeaderSize), 0u);
  EXPECT_EQ(qxtest::Reports::Get().Count("has no code"), 1);
  // The data space is entered under the VI's name without a link pass.
  int32 entry = 0;
  EXPECT_EQ(LookupLinkItem(VIRec(vi)->name, FourCC("VIDS"), &entry), 1);
  Unload(vi);
  UnlinkItemByName(PS("Main.vi"), FourCC("VIDS"));
  ExpectNothingLeft();
}

TEST_F(VILoadTest, MissingAndMalformedParts) {
  struct Case {
    const char* what;
    void (*edit)(vif::VIFile&);
    int32 loadError;
  } cases[] = {
      {"no CPTM", [](vif::VIFile& v) { v.connTypeMap.reset(); }, 12},
      {"a CPTM that runs past its bytes", [](vif::VIFile& v) { v.raw[kConnTypeMapRsrcType] = {0, 40, 0x50, 0}; }, 12},
      {"no DSTM", [](vif::VIFile& v) { v.writeDSTM = false; }, 14},
      {"a DSTM that is not a cluster",
       [](vif::VIFile& v) { v.raw[kDSTypeMapRsrcType] = vif::StoredTD(tdb::I32()); }, 14},
      {"a DSTM whose first element is no block",
       [](vif::VIFile& v) { v.raw[kDSTypeMapRsrcType] = vif::StoredTD(tdb::Cluster({tdb::I32(), tdb::I32()})); }, 14},
      {"no DFDS", [](vif::VIFile& v) { v.writeDFDS = false; }, 15},
      {"no LIds", [](vif::VIFile& v) { v.writeLIds = false; }, 16},
      {"a malformed LIds", [](vif::VIFile& v) { v.raw[kLinkInfoDataSpace] = {0, 1, 'V', 'I', 'D', 'S'}; }, 16},
      {"no LIvi", [](vif::VIFile& v) { v.writeLIvi = false; }, 17},
      {"a malformed LIvi", [](vif::VIFile& v) { v.raw[kLinkInfoVI] = {0, 1, 'Q', 'X', 'I', 'N', 9}; }, 17},
      {"a control's header with a VI's LIvi", [](vif::VIFile& v) { v.viKind = kVIKindControl; }, 17},
      {"an unreadable run-time menu path", [](vif::VIFile& v) { v.rtMenuPath = vif::Bytes{'P', 'T', 'H', '0', 0, 0, 0, 40}; },
       31},
      {"a malformed DTHP", [](vif::VIFile& v) { v.raw[FourCC("DTHP")] = {1, 2, 3}; }, 29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Alerts().clear();
    vif::VIFile v;
    v.entries = {tdb::I32().WithFlags(kDSEntryStored), tdb::I32()};
    v.code = InitCode();
    c.edit(v);
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), kLoadFailed);
    EXPECT_EQ(vi, nullptr);
    EXPECT_EQ(ShownLoadError(), c.loadError) << (Alerts().empty() ? "" : Alerts().back());
    ExpectNothingLeft();
  }
}

TEST_F(VILoadTest, ARelativeMenuPathIsMadeAbsoluteAgainstTheVIsFolder) {
  vif::VIFile v;
  v.rtMenuPath = rsrcw::FlatPath(kRelPath, {"menus", "main.rtm"});
  UHandle vi = nullptr;
  ASSERT_EQ(Load(v, &vi), kLoadLoaded);
  EXPECT_EQ(pathtest::Text(VIRec(vi)->rtMenuPath), "L:\\menus\\main.rtm");
  Unload(vi);
  ExpectNothingLeft();
  // A VI whose path has no folder: the menu path cannot be formed.
  ASSERT_TRUE(rsrcw::WriteHostFile(rt_.root() + "/vi.rsc", vif::Write(v)));
  RsrcFileRef ref = 0;
  {
    pathtest::Owned at(pathtest::ToPath("L:\\vi.rsc"));
    ASSERT_EQ(ROpenFile(at, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
  }
  EXPECT_EQ(LoadInstrument(FNotAPath(nullptr), 0, PS("Main.vi"), ref, &vi, 0), kLoadFailed);
  EXPECT_EQ(ShownLoadError(), 31);
  ExpectNothingLeft();
}

TEST_F(VILoadTest, ShortOptionalResourcesDefault) {
  vif::VIFile v;
  v.raw[kStringsRsrcType] = {0, 2};
  v.raw[kHelpTagRsrcType] = {1};
  v.raw[kRsrcIdRsrcType] = {0, 0};
  v.writeRsid = false;
  v.rsrcId = 0;
  UHandle vi = nullptr;
  ASSERT_EQ(Load(v, &vi), kLoadLoaded);
  EXPECT_EQ(AZGetHandleSize(VIRec(vi)->strings), 4);
  EXPECT_EQ(GetNative32(*VIRec(vi)->strings), 0u);
  EXPECT_EQ(VIRec(vi)->helpTag, nullptr);
  EXPECT_EQ(VIRec(vi)->rsrcID, 0u);
  Unload(vi);
  ExpectNothingLeft();
}

TEST_F(VILoadTest, StringsTitleAndConnectorPane) {
  vif::VIFile v;
  v.strings = std::vector<std::string>{"a", "bc"};
  v.title = "Window";
  v.connPane = tdb::Cluster({tdb::I32(), tdb::String()});
  v.connTypeMap = tdb::Cluster({tdb::I16()});
  UHandle vi = nullptr;
  ASSERT_EQ(Load(v, &vi), kLoadLoaded);
  EXPECT_EQ(GetNative32(*VIRec(vi)->strings), 2u);
  ASSERT_NE(VIRec(vi)->title, nullptr);
  EXPECT_EQ(pathtest::Str(*VIRec(vi)->title), "Window");
  ASSERT_NE(VIRec(vi)->connPane, nullptr);
  const std::vector<uChar> pane = v.connPane->Bytes();
  EXPECT_EQ(AZGetHandleSize(VIRec(vi)->connPane), int32(pane.size()));
  EXPECT_EQ(std::memcmp(*VIRec(vi)->connPane, pane.data(), pane.size()), 0) << "standardized to memory order";
  const std::vector<uChar> map = v.connTypeMap->Bytes();
  EXPECT_EQ(std::memcmp(*VIRec(vi)->connTypeMap, map.data(), map.size()), 0);
  Unload(vi);
  ExpectNothingLeft();
}

TEST_F(VILoadTest, RenamingFollowsTheNameItIsLoadedUnder) {
  // Under another name: the VI and its own link entries carry it.
  {
    vif::VIFile v;
    v.entries = {tdb::I32(), tdb::I32()};
    v.code = InitCode();
    v.rsidName = "Copy.vi";
    UHandle vi = nullptr;
    ASSERT_EQ(Load(v, &vi, "Copy.vi"), kLoadLoaded);
    EXPECT_EQ(qxvitest::Name(vi), "Copy.vi");
    int32 e = 0;
    EXPECT_EQ(LookupLinkItem(PS("Copy.vi"), FourCC("QXIN"), &e), 1);
    EXPECT_EQ(LookupLinkItem(PS("Copy.vi"), FourCC("VIDS"), &e), 1);
    EXPECT_EQ(LookupLinkItem(PS("Main.vi"), FourCC("QXIN"), &e), 0);
    Unload(vi);
    UnlinkItemByName(PS("Copy.vi"), FourCC("VIDS"));
    ExpectNothingLeft();
  }
  // Under its stored name with a matching LIvi: nothing renamed, the
  // resources are read as stored (the file is not changed either).
  {
    vif::VIFile v;
    const vif::Bytes bytes = vif::Write(v);
    UHandle vi = nullptr;
    ASSERT_EQ(LoadBytes(bytes, &vi, "main.VI"), kLoadLoaded);
    EXPECT_EQ(qxvitest::Name(vi), "Main.vi") << "case is ignored";
    Unload(vi);
    UnlinkItemByName(PS("Main.vi"), FourCC("VIDS"));
    EXPECT_EQ(rsrcw::ReadHostFile(rt_.root() + "/vi.rsc"), bytes);
    ExpectNothingLeft();
  }
}

TEST_F(VILoadTest, DatalogBinding) {
  const tdb::TD record = tdb::Cluster({tdb::I32(), tdb::U64()});
  struct Case {
    const char* what;
    std::vector<uInt32> words;
    std::optional<vif::Bytes> logPath;
    int alerts;
    std::string expectPath;  // "" not a path
    int32 loadError;
  } cases[] = {
      {"names a path, no DLLP", {1, 0, 0, 0, 0, 0, 0}, std::nullopt, 0, "", 0},
      {"names a path, unreadable DLLP", {1, 0, 0, 0, 0, 0, 0}, vif::Bytes{'P', 'T', 'H', '0', 0, 0, 0, 99}, 1, "", 0},
      {"names a path", {1, 0, 0, 0, 0, 0, 0}, rsrcw::FlatPath(kAbsPath, {"L", "log.dat"}), 0, "L:\\log.dat", 0},
      {"names none", {0, 0, 0, 0, 0, 0, 0}, rsrcw::FlatPath(kAbsPath, {"L", "log.dat"}), 0, "", 0},
      {"a truncated record", {1, 0, 0}, std::nullopt, 0, "", 23},
      {"unreadable again", {1, 0, 0, 0, 0, 0, 0}, vif::Bytes{'P', 'T', 'H', '0', 0, 0, 0, 99}, 1, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Alerts().clear();
    vif::VIFile v;
    v.viKind = kVIKindDatalog;
    v.datalog = c.words;
    v.logPath = c.logPath;
    v.logRecordType = record;
    v.controlMap = std::vector<uInt16>{3, 1, 2};
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), c.loadError ? kLoadFailed : kLoadLoaded);
    if (c.loadError) {
      EXPECT_EQ(ShownLoadError(), c.loadError);
      ExpectNothingLeft();
      continue;
    }
    ASSERT_NE(vi, nullptr);
    ASSERT_EQ(int(Alerts().size()), c.alerts);
    if (c.alerts) {
      EXPECT_EQ(Alerts()[0].rfind("The \"Main.vi\" VI's log file binding is corrupt", 0), 0u);
    }
    const DatalogBindingRec* b = reinterpret_cast<const DatalogBindingRec*>(*VIRec(vi)->logRecord);
    if (c.expectPath.empty()) {
      int32 type = -1;
      EXPECT_EQ(FGetPathType(b->logPath, &type), kNoErr);
      EXPECT_EQ(type, kNotAPath);
    } else {
      EXPECT_EQ(pathtest::Text(b->logPath), c.expectPath);
    }
    // The binding holds the record type alone, out of the stored cluster.
    ASSERT_NE(b->recordTD, nullptr);
    EXPECT_EQ(std::vector<uChar>(*b->recordTD, *b->recordTD + AZGetHandleSize(b->recordTD)), record.Bytes());
    EXPECT_EQ(AZGetHandleSize(b->recordData), DataSize(tdb::AsTD(record.Bytes())));
    ASSERT_NE(b->controlMap, nullptr);
    EXPECT_EQ(GetNative16(*b->controlMap), 3);
    EXPECT_EQ(GetNative16(*b->controlMap + 6), 2);
    EXPECT_NE(VIRec(vi)->logState, nullptr);
    Unload(vi);
    ExpectNothingLeft();
  }
}

TEST_F(VILoadTest, BadDatalogResourcesFailWithoutOverrun) {
  struct Case {
    const char* what;
    uInt32 type;
    vif::Bytes bytes;
  } cases[] = {
      {"a CPMp count past its bytes", kLogControlMapRsrcType, {0, 9, 0, 1}},
      {"a one-byte CPMp", kLogControlMapRsrcType, {0}},
      {"an FPTD too short for its record", kLogTypeRsrcType, {0, 6, 0x50, 0, 0, 1}},
      {"an FPTD that runs past its bytes", kLogTypeRsrcType, {0, 40, 0x50, 0, 0, 1, 0, 4, 3, 0}},
      {"an FPTD that is no cluster", kLogTypeRsrcType, {0, 10, 0x40, 0, 0, 0, 0, 4, 3, 0}},
      {"an FPTD cluster without elements", kLogTypeRsrcType, {0, 6, 0x50, 0, 0, 0, 0, 4, 3, 0}},
      {"an FPTD whose record runs past the cluster", kLogTypeRsrcType, {0, 8, 0x50, 0, 0, 1, 0, 4, 3, 0}},
      {"a DLDR of 12 bytes", kDatalogBindingRsrcType, vif::Bytes(12, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Alerts().clear();
    vif::VIFile v;
    v.viKind = kVIKindDatalog;
    v.datalog = std::vector<uInt32>(7, 0);
    v.logRecordType = tdb::I32();
    v.controlMap = std::vector<uInt16>{};
    v.raw[c.type] = c.bytes;
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), kLoadFailed);
    EXPECT_EQ(ShownLoadError(), 23);
    ExpectNothingLeft();
  }
}

TEST_F(VILoadTest, EveryAllocationFailureLeavesNothingBehind) {
  vif::VIFile v;
  v.entries = {tdb::I32().WithFlags(kDSEntryStored), tdb::I32(), tdb::String().WithFlags(kDSEntryStored)};
  v.code = InitCode();
  v.types = {tdb::I32(), tdb::String()};
  v.strings = std::vector<std::string>{"x"};
  const vif::Bytes bytes = vif::Write(v);
  int failures = 0;
  for (int n = 1; n < 250; ++n) {
    SCOPED_TRACE(n);
    Alerts().clear();
    const int32 saved = gQXLoadErrorCode = 77;
    TXFinishFonts();
    before_ = qxvitest::ZoneTotals();
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.root() + "/vi.rsc", bytes));
    Path path = pathtest::ToPath("L:\\vi.rsc");
    RsrcFileRef ref = 0;
    ASSERT_EQ(ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
    UHandle vi = nullptr;
    MemFailNthAllocation(n);
    const int32 r = LoadInstrument(path, 0, PS("Main.vi"), ref, &vi, 0);
    MemFailNthAllocation(0);
    EXPECT_EQ(gQXLoadErrorCode, saved);
    gQXLoadErrorCode = 0;
    if (r == kLoadLoaded) {
      Unload(vi);
    } else {
      ++failures;
      EXPECT_EQ(vi, nullptr);
    }
    EXPECT_EQ(LoadedVICount(), 0);
    EXPECT_EQ(linkcheck::Walk(), "");
    CollectTypeHeapGarbage();
    TXFinishFonts();
    EXPECT_EQ(qxvitest::ZoneTotals(), before_) << r << " " << qxtest::Reports::Get().Text();
    qxtest::Reports::Get().Clear();
  }
  EXPECT_GT(failures, 10);
}

TEST_F(VILoadTest, ALinkPassThatStopsFailsWith23WithoutAnAlert) {
  static int32 answer;
  LinkLoadMethods m{};
  m.load[kLinkClassVI] = [](ConstPStr, Path, Path, uInt32, const void*, int32) -> int32 { return answer; };
  SetLinkLoadMethods(&m);
  for (int32 a : {kLoadStop, kLoadContinue}) {
    SCOPED_TRACE(a);
    answer = a;
    Alerts().clear();
    vif::VIFile v;
    v.entries = {tdb::I32(), tdb::I32()};
    v.code = InitCode();
    v.viRefs = {LinkInfoRef{FourCC("QXIN"), "Sub.vi", {}, {}, liw::FlatPath(nullptr)}};
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), a);
    EXPECT_TRUE(Alerts().empty());
    EXPECT_EQ(vi == nullptr, a == kLoadStop);
    EXPECT_EQ(gQXLoadAlertsOff, 0) << "restored";
    Unload(vi);
    ExpectNothingLeft();
  }
  SetLinkLoadMethods(nullptr);
}

// A subVI loaded from inside the caller's link pass: one that loads is bound,
// one whose load fails shows its own alert and leaves the caller's load error
// as it was; the caller loads either way, and unloading leaves nothing.
TEST_F(VILoadTest, ASubVILoadedInTheCallersLinkPass) {
  static VILoadTest* self;
  static bool subFails;
  static int32 seenBefore, seenAfter, subResult;
  static UHandle subVI;
  self = this;
  LinkLoadMethods m{};
  m.load[kLinkClassVI] = [](ConstPStr, Path, Path, uInt32, const void*, int32) -> int32 {
    vif::VIFile sub;
    sub.name = sub.rsidName = "Sub.vi";
    sub.entries = {tdb::I32(), tdb::I32()};
    sub.code = InitCode();
    if (subFails) sub.connTypeMap.reset();
    seenBefore = gQXLoadErrorCode;
    subResult = self->Load(sub, &subVI, "Sub.vi", 0, "sub.rsc");
    seenAfter = gQXLoadErrorCode;
    return subResult;
  };
  SetLinkLoadMethods(&m);
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails);
    subFails = fails;
    Alerts().clear();
    gQXLoadErrorCode = 77;
    vif::VIFile v;
    v.entries = {tdb::I32(), tdb::I32()};
    v.code = InitCode();
    v.viRefs = {LinkInfoRef{FourCC("QXIN"), "Sub.vi", {}, {}, liw::FlatPath(nullptr)}};
    UHandle vi = nullptr;
    EXPECT_EQ(Load(v, &vi), kLoadLoaded);
    ASSERT_NE(vi, nullptr);
    EXPECT_EQ(gQXLoadErrorCode, 77) << "restored after the caller's load";
    gQXLoadErrorCode = 0;
    EXPECT_EQ(seenBefore, 0) << "the caller cleared its own";
    EXPECT_EQ(seenAfter, seenBefore) << "the subVI's load restores the caller's";
    EXPECT_EQ(subResult, fails ? kLoadFailed : kLoadLoaded);
    EXPECT_EQ(ShownLoadError(), fails ? 12 : 0);
    if (fails) {
      EXPECT_EQ(Alerts()[0].rfind("An error occurred loading VI 'Sub.vi'.", 0), 0u);
    }
    EXPECT_EQ(LoadedVICount(), fails ? 1 : 2);
    int32 e = 0;
    EXPECT_EQ(LookupLinkItem(PS("Sub.vi"), FourCC("QXIN"), &e), fails ? 0 : 1);
    Unload(vi);
    EXPECT_EQ(subVI == nullptr, fails);
    Unload(subVI);
    ExpectNothingLeft();
  }
  SetLinkLoadMethods(nullptr);
}

// What the panel services saw while a VI's panel heap loaded.
struct PanelSeen {
  std::vector<int32> actions;  // ODoit actions sent to the root
  int32 answer21 = 0;          // the result bits of action 21
  int32 attrRec = 1;           // GetObjAttrRec's answer
  int32 frames = 0;            // transaction frames pushed and not popped
  int32 badClassHooks = 0;     // installed and not cleared
  int32 sentWhileLoading = 0;  // actions sent while the owner VI had its loading bit
};
PanelSeen& PS_() {
  static PanelSeen s;
  return s;
}
void InstallPanelServices() {
  static uChar stack[64];
  static void* top = stack;
  VILoadPanelHooks h{};
  h.setBadClassHook = [](BadClassLoadProc) { ++PS_().badClassHooks; };
  h.clearBadClassHook = [] { --PS_().badClassHooks; };
  h.trPushFrame = []() -> void* {
    ++PS_().frames;
    void* previous = top;
    top = static_cast<uChar*>(top) + 16;
    return previous;
  };
  h.trStackTop = []() -> void* { return top; };
  h.trSetStackTop = [](void* previous) {
    --PS_().frames;
    top = previous;
  };
  h.oDoit = [](ObjHeap heap, int32, void* frame, int32 action, int32* result) -> int32 {
    EXPECT_EQ(frame, top);
    UHandle owner = reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, OHWord(heap, kOHExtension) + kHeapExtOwner)));
    if (owner && (VIRec(owner)->flags & kVIFlagLoading)) ++PS_().sentWhileLoading;
    PS_().actions.push_back(action);
    *result = action == kPanelActionFontChanged ? PS_().answer21 : 0;
    return 0;
  };
  h.getObjAttrRec = [](ObjHeap, int32, int32*, int32*) { return PS_().attrRec; };
  SetVILoadPanelHooks(&h);
}

// The VI file of v with a panel heap written by the tools: a root panel
// object, the heap flags given, the heap's resources edited after.
vif::Bytes WithPanel(const vif::VIFile& v, uInt32 heapFlags, void (*edit)(std::vector<vif::Resource>&) = nullptr,
                     const std::function<void(ObjHeap, int32)>& objects = nullptr) {
  vif::Bytes b = vif::WriteWithPanel(v, heapFlags, edit, objects);
  EXPECT_FALSE(b.empty());
  return b;
}

// A font table whose one entry takes its size from a font of the caller's
// that is not there: the font manager substitutes one.
void WithFontTableNamingNoFont(std::vector<vif::Resource>& rs) {
  rs.push_back({FourCC("FTAB"), 128, panelwriter::FontTableRsrc({{"Sans", kFTabTakeSize, 0, 0}}), std::nullopt});
}

// A VI whose header asks for its panel at load (flags2 0x1000) and loads it
// from a heap that the tools wrote, with the panel services standing in.
TEST_F(VILoadTest, PanelHeapAtLoad) {
  struct Case {
    const char* what;
    uInt32 heapFlags;
    void (*edit)(std::vector<vif::Resource>&);
    void (*services)(PanelSeen&);
    int32 loadError;
    std::vector<int32> actions;
  } cases[] = {
      {"a plain panel", 0, nullptr, nullptr, 0, {kPanelActionLoaded}},
      {"a root without a property record", 0, nullptr, [](PanelSeen& s) { s.attrRec = 0; }, 0, {}},
      {"a substituted font", 0, WithFontTableNamingNoFont, nullptr, 0, {kPanelActionFontChanged, kPanelActionLoaded}},
      {"a substituted font, objects out of memory", 0, WithFontTableNamingNoFont,
       [](PanelSeen& s) { s.answer21 = kActionResultNoMemory; }, kLoadErrRegister, {kPanelActionFontChanged}},
      {"a font table naming fonts as stored", 0,
       [](std::vector<vif::Resource>& rs) {
         rs.push_back({FourCC("FTAB"), 128, panelwriter::FontTableRsrc({{"Sans", 12, 0, 0}}), std::nullopt});
       },
       nullptr, 0, {kPanelActionLoaded}},
      {"a stored fix-up flag, only reported", kHeapFlagStoredFixup, nullptr, nullptr, 0, {kPanelActionLoaded}},
      {"no FPHP", 0, [](std::vector<vif::Resource>& rs) { std::erase_if(rs, [](auto& r) { return r.type == kPanelHeapRsrcType; }); },
       nullptr, kLoadErrFrontPanel, {}},
      {"no LIfp", 0, [](std::vector<vif::Resource>& rs) { std::erase_if(rs, [](auto& r) { return r.type == kLinkInfoPanel; }); },
       nullptr, kLoadErrFPLinkInfo, {}},
      {"a malformed stored heap", 0,
       [](std::vector<vif::Resource>& rs) {
         for (auto& r : rs)
           if (r.type == kPanelHeapRsrcType) r.bytes.resize(40);
       },
       nullptr, kLoadErrFrontPanel, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Alerts().clear();
    qxtest::Reports::Get().Clear();
    PS_() = PanelSeen{};
    if (c.services) c.services(PS_());
    InstallPanelServices();
    vif::VIFile v;
    v.entries = {tdb::I32(), tdb::I32()};
    v.code = InitCode();
    v.flags2 = 0x1000;
    UHandle vi = nullptr;
    EXPECT_EQ(LoadBytes(WithPanel(v, c.heapFlags, c.edit), &vi, v.name), c.loadError ? kLoadFailed : kLoadLoaded);
    EXPECT_EQ(ShownLoadError(), c.loadError);
    EXPECT_EQ(PS_().actions, c.actions);
    EXPECT_EQ(PS_().sentWhileLoading, int32(c.actions.size())) << "the actions come while the VI loads";
    EXPECT_EQ(PS_().frames, 0) << "every frame popped";
    EXPECT_EQ(PS_().badClassHooks, 0) << "the unknown-class hook is cleared again";
    EXPECT_EQ(qxtest::Reports::Get().Count("has flag 0x2000000"), c.heapFlags & kHeapFlagStoredFixup ? 1 : 0);
    if (vi) {
      ObjHeap panel = VIRec(vi)->panelHeap;
      ASSERT_NE(panel, nullptr);
      EXPECT_EQ(OHWord(panel, kOHFlags) & (kHeapFlagLoading | kHeapFlagFontSubstituted), 0u);
      EXPECT_EQ(VIRec(vi)->flags & kVIFlagLoading, 0u) << "the load is over";
      EXPECT_EQ(OHWord(panel, OHWord(panel, kOHExtension) + kHeapExtOwner), uInt32(uintptr_t(vi)));
      UHandle header = reinterpret_cast<UHandle>(uintptr_t(OHWord(panel, kOHPanelHeaderHandle)));
      ASSERT_NE(header, nullptr);
      EXPECT_EQ(AZGetHandleSize(header), kPanelHeaderHandleSize);
      EXPECT_EQ(GetNative32(*header), 0u) << "the file field is cleared after the broadcast";
      int32 e = 0;
      EXPECT_EQ(LookupLinkItem(PS("Main.vi"), kLinkClassCodes[kLinkClassPanel], &e), 1);
    }
    Unload(vi);
    ExpectNothingLeft();
  }
}

// Display objects name their types by number (word 9): once the VI has
// loaded, each number resolves through the types saved with the VI (its
// 'DTHP', written by the tools) to the descriptor saved there; an empty slot
// resolves to none.
TEST_F(VILoadTest, PanelObjectsResolveTheirTypeIDsThroughTheSavedTypes) {
  const ObjSwapProc before = SetObjSwapProc(kClsNumeric, ObjSwapForClass(kClsNumeric));
  // The root's words (its part list among them) are converted as the
  // object system does.
  const ObjSwapProc rootBefore = SetObjSwapProc(kClsFrontPanel, ObjSwapForClass(kClsFrontPanel));
  PS_() = PanelSeen{};
  InstallPanelServices();
  vif::VIFile v;
  v.entries = {tdb::I32(), tdb::I32()};
  v.code = InitCode();
  v.flags2 = 0x1000;
  v.types = {tdb::I32(), std::nullopt, tdb::Cluster({tdb::DBL().Named("x"), tdb::String()}).Named("point"),
             tdb::String()};
  static std::vector<int32> objects;
  objects.clear();
  UHandle vi = nullptr;
  const vif::Bytes file = WithPanel(v, 0, nullptr, [](ObjHeap panel, int32 root) {
    for (TypeID id : {3u, 1u, 4u, 2u}) {
      const int32 o = vib::NewObject(panel, kClsNumeric, 52, root);
      PutNative32(*panel + o + offsetof(PanelObjHeader, typeId), id);
      objects.push_back(o);
    }
  });
  ASSERT_EQ(LoadBytes(file, &vi, v.name), kLoadLoaded);
  ObjHeap panel = VIRec(vi)->panelHeap;
  ASSERT_NE(panel, nullptr);
  ASSERT_EQ(objects.size(), 4u);
  for (int32 o : objects) {
    const TypeID id = GetNative32(*panel + o + offsetof(PanelObjHeader, typeId));
    SCOPED_TRACE(id);
    ASSERT_GE(id, 1u);
    ASSERT_LE(id, v.types.size());
    const auto& saved = v.types[id - 1];
    const TypeDescriptor* td = TypeIDGetTD(panel, id, 0);
    if (!saved) {
      EXPECT_EQ(td, nullptr);
      continue;
    }
    ASSERT_NE(td, nullptr);
    const auto* p = reinterpret_cast<const uChar*>(td);
    EXPECT_EQ(std::vector<uChar>(p, p + td->size), saved->Bytes());
  }
  Unload(vi);
  SetObjSwapProc(kClsNumeric, before);
  SetObjSwapProc(kClsFrontPanel, rootBefore);
  ExpectNothingLeft();
}

// LoadFPHeap on a loaded VI without a panel reopens its file through the
// hook; a file changed since the load fails with 28 and leaves no panel.
TEST_F(VILoadTest, LoadFPHeapChecksTheFilesDate) {
  static RsrcFileRef reopened;
  for (bool touched : {false, true}) {
    SCOPED_TRACE(touched);
    PS_() = PanelSeen{};
    InstallPanelServices();
    VILoadPanelHooks h = VILoadPanel();
    h.reopenVIFile = [](UHandle vi, uInt32, RsrcFileRef* file) -> MgErr {
      const MgErr e = ROpenFile(VIRec(vi)->path, kRsrcReadOnly, file, nullptr, nullptr);
      reopened = *file;
      return e;
    };
    SetVILoadPanelHooks(&h);
    vif::VIFile v;
    v.entries = {tdb::I32(), tdb::I32()};
    v.code = InitCode();
    UHandle vi = nullptr;
    ASSERT_EQ(LoadBytes(WithPanel(v, 0), &vi, v.name), kLoadLoaded);
    EXPECT_EQ(VIRec(vi)->panelHeap, nullptr) << "nothing asked for the panel";
    if (touched) VIRec(vi)->modDate += 1;
    gQXLoadErrorCode = 0;
    EXPECT_EQ(LoadFPHeap(vi), touched ? kModDateChangedErr : kNoErr);
    EXPECT_EQ(gQXLoadErrorCode, touched ? kLoadErrModDate : 0);
    gQXLoadErrorCode = 0;
    EXPECT_EQ(VIRec(vi)->panelHeap == nullptr, touched);
    EXPECT_NE(reopened, 0u);
    EXPECT_EQ(VIRec(vi)->rsrcFile, 0u) << "the file it opened is closed again";
    EXPECT_EQ(VIRec(vi)->flags & kVIFlagLoading, 0u);
    EXPECT_EQ(LoadFPHeap(vi) == kNoErr, !touched) << "a loaded panel answers 0 at once";
    gQXLoadErrorCode = 0;
    Unload(vi);
    ExpectNothingLeft();
  }
}

}  // namespace

namespace {

class SubrLoadTest : public VILoadTest {
 protected:
  // A code resource: an "MQ" image whose header words are those of a code
  // record of the version, of kind "CIN " when cin.
  static vif::Bytes Code(bool cin, uInt32 version = 3) {
    mqw::Image img;
    img.code.assign(64, 0xC3);
    for (size_t i = 0; i < 44; ++i) img.code[i] = 0;
    if (cin) std::memcpy(img.code.data() + 8, "CIN ", 4);
    img.entryOffset = 48;
    img.version = version;
    return mqw::Write(img);
  }
  // Writes the subroutine file and loads it: the result; the outputs.
  MgErr Load(const vif::SubrFile& s, int32 mode, RsrcFileRef* file, UPtr* code, int32* id, int32* status) {
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.root() + "/sub.qsb", vif::WriteSubrFile(s)));
    pathtest::Owned path(pathtest::ToPath("L:\\sub.qsb"));
    *file = 0;
    EXPECT_EQ(ROpenFile(path, kRsrcReadOnly, file, nullptr, nullptr), kNoErr);
    return LoadSubroutineCode(file, path, PS(s.name), code, id, status, mode);
  }
};

TEST_F(SubrLoadTest, ASubroutineFileLoadsItsCodeAndEntersIt) {
  for (bool withLinkInfo : {false, true}) {
    SCOPED_TRACE(withLinkInfo);
    vif::SubrFile s;
    s.code = Code(false);
    if (withLinkInfo) s.linkInfo = LinkInfoRecords{FourCC("QXSB"), "Stored name", {}, {}};
    RsrcFileRef file = 0;
    UPtr code = nullptr;
    int32 id = 0, status = 0;
    ASSERT_EQ(Load(s, 0, &file, &code, &id, &status), kNoErr);
    EXPECT_NE(code, nullptr);
    EXPECT_EQ(id, 300);
    EXPECT_EQ(status, withLinkInfo ? kLoadFound : kLoadLoaded) << "the link pass's result, else 2";
    EXPECT_EQ(file, 0u) << "a subroutine's file is closed";
    int32 entry = 0;
    EXPECT_EQ(LookupLinkItem(PS("Sub"), FourCC("QXSB"), &entry), 1) << "entered under the subroutine's name";
    EXPECT_EQ(LE(entry).owner, uInt32(uintptr_t(code)));
    UnlinkItemByName(PS("Sub"), FourCC("QXSB"));
    UnloadExtCode(code);
    EXPECT_TRUE(Alerts().empty());
    ExpectNothingLeft();
  }
}

TEST_F(SubrLoadTest, FailuresAndTheirWarnings) {
  struct Case {
    const char* what;
    std::optional<uInt32> platform;
    bool cin;
    uInt32 version;
    int32 mode;
    std::optional<LinkInfoRecords> linkInfo;
    MgErr err;
    std::string alert;
  } cases[] = {
      {"no PLAT", std::nullopt, false, 3, 0, std::nullopt, 15, "Could not get resource named \"Sub\" from \"sub.qsb\"."},
      {"another processor", FourCC("m68k"), false, 3, 0, std::nullopt, 15, ""},
      {"version 1", FourCC("i386"), false, 1, 0, std::nullopt, 76,
       "The \"Sub\" CIN is compiled with an old version of the compiler. Please recompile."},
      {"version 5", FourCC("i386"), false, 5, 0, std::nullopt, 86,
       "The \"Sub\" CIN was built with a newer version of Quenlix and could not be loaded."},
      {"a subroutine loaded as a CIN", FourCC("i386"), false, 3, 1, std::nullopt, 15,
       "Cannot load a Subroutine as a CIN."},
      {"malformed link information", FourCC("i386"), false, 3, 0, LinkInfoRecords{FourCC("VIDS"), "Sub", {}, {}},
       kArgErr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Alerts().clear();
    vif::SubrFile s;
    s.platform = c.platform;
    s.code = Code(c.cin, c.version);
    s.linkInfo = c.linkInfo;
    RsrcFileRef file = 0;
    UPtr code = reinterpret_cast<UPtr>(1);
    int32 id = 1, status = 1;
    EXPECT_EQ(Load(s, c.mode, &file, &code, &id, &status), c.err);
    EXPECT_EQ(code, nullptr);
    EXPECT_EQ(id, 0);
    if (c.alert.empty()) {
      EXPECT_TRUE(Alerts().empty());
    } else {
      ASSERT_EQ(Alerts().size(), 1u);
      EXPECT_EQ(Alerts()[0], c.alert);
    }
    if (file) RCloseFile(file);
    ExpectNothingLeft();
  }
}

TEST_F(SubrLoadTest, ACINInModeOneKeepsItsFileOpen) {
  vif::SubrFile s;
  s.code = Code(true);
  RsrcFileRef file = 0;
  UPtr code = nullptr;
  int32 id = 0, status = 0;
  ASSERT_EQ(Load(s, 1, &file, &code, &id, &status), kNoErr);
  EXPECT_NE(file, 0u);
  EXPECT_EQ(status, kLoadLoaded);
  UnlinkItemByName(PS("Sub"), FourCC("QXSB"));
  UnloadExtCode(code);
  RCloseFile(file);
  ExpectNothingLeft();
}

}  // namespace
