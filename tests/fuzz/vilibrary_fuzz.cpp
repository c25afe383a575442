// Whole VI libraries from outside: a library the tools write (a top-level
// VI with its panel that calls a subVI, both with code and panels), damaged
// by the input: flips, cuts and inserts in the directory, in a member's file
// before it is compressed (its bytes, or one of its resources) and in its
// compressed form, and hostile stored names.  Each input lists the library
// in every mode, looks every name up, extracts each member into memory, into
// the temporary file of its kind and to a named destination, opens the top
// VI (with its subVI) from the library and closes everything.  Every input
// runs twice: nothing may be reported, and the second run must leave no VI
// loaded, the link table as it was, no handle more alive and no file but the
// library, the destination and the temporary files.  The code of a member
// runs as stored: an input whose damage changes any code resource that can
// be read out of the library is skipped, and so is one whose data types
// would fill the address space.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "engine/datatype.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/exec/runtexts.h"
#include "engine/link/hierarchy.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/shellsvc.h"
#include "engine/stdize.h"
#include "engine/typemgr.h"
#include "engine/vi/archive.h"
#include "engine/vi/archive_format.h"
#include "engine/vi/archive_internal.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_support.h"
#include "fuzz_typebounds.h"
#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "panel/objects.h"
#include "platform/qx_drives.h"
#include "tests/engine/link_check.h"
#include "tools/appbuild.h"
#include "tools/linkinfowriter.h"
#include "tools/vifile.h"
#include "tools/vilibrary.h"

namespace {

namespace fs = std::filesystem;
using namespace archfmt;

std::string gRoot;
// The members as resources (the panel's among them) and their names.
struct Member {
  std::string name;
  uInt32 flags;
  std::vector<vif::Resource> rs;
};
std::vector<Member> gMembers;
std::vector<vif::Bytes> gCodes;  // every code resource the tools wrote

const char* const kHostile[] = {"../x.vi", "/x.vi", "C:\\x.vi", "..", "", "a:b.vi", "CON",
                                "Sub.vi", "main.VI", "x\\..\\..\\y.vi", "uarc1.vi", "lib.qlb"};

int32 QuietAlert(int32, const void*, ConstPStr, int32, int32) { return 0; }

// Reports while armed end the run, but for the alert that a file's link
// information names one reference twice, which the loader shows by design.
int32_t ArmedAlert(const char* title, const char* text, int32_t buttons, int32_t icon) {
  if (text && std::strncmp(text, "Purging redundant reference", 27) == 0) return PlatAlertDefaultAnswer(buttons);
  return FuzzAbortWhenArmed(title, text, buttons, icon);
}

Path ToPath(const std::string& text) {
  Path p = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p) != kNoErr) return nullptr;
  return p;
}

Path TempPath(const char* format, Path reuse) {
  char name[64];
  std::snprintf(name, sizeof name, format, 1L);
  Path p = ToPath(std::string("L:\\tmp\\") + name);
  if (reuse && p) {
    FDisposePath(reuse);
  }
  return p;
}

vif::Bytes WriteMember(const std::vector<vif::Resource>& rs) {
  rsrcw::Writer w(FourCC("QXIN"), FourCC("QNLX"));
  for (const vif::Resource& r : rs) w.Add(r.type, r.id, r.bytes, r.name);
  return w.Write();
}

vif::VIFile BaseVI(const std::string& name) {
  vif::VIFile v;
  v.name = name;
  v.flags = 0x100;  // the panel loads with the VI
  v.entries = {tdb::I32().WithFlags(kDSEntryStored), tdb::I32(), tdb::I32()};
  // Its initialisation stores 0x1234 at 528 and the table's address, a
  // patched word, at 532: code entered unpatched leaves 0 there.
  v.code = vif::ControllerCode(true);
  v.connPane = tdb::Cluster({tdb::I32()});
  return v;
}

bool Start() {
  if (!FuzzStartManagers(ArmedAlert)) return false;
  if (ThInit() != kNoErr || RInitResources() != kNoErr || FInitFileMgr() != kNoErr) return false;
  if (TypeHeapInit() != kNoErr || WEventQueueInit(1) != kNoErr) return false;
  WEventSetGate(1);
  if (QXRTRegisterEngine() != kNoErr) return false;
  QXRTCloseRegistration();
  PanelInstallEngineHooks();
  if (!AZPBlocks()->linkerNames) AZPAllocInit();
  InitLinker();
  InstallLoadMethods();
  // The code hooks the execution systems install: the loader enters code
  // only through them.
  InstallVICodeHooks();
  std::string t = (fs::temp_directory_path() / "qxlibfXXXXXX").string();
  if (!mkdtemp(t.data())) return false;
  gRoot = t;
  fs::create_directories(gRoot + "/d/out");
  fs::create_directories(gRoot + "/tmp");
  if (PlatDriveMap('L', gRoot.c_str(), kPlatDriveFixed) != 0) return false;
  ArchiveSetTempPathProc(&TempPath);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  UHandle h = AZNewHandle(0);
  const rsrcw::Bytes rt = w.Write();
  if (!h || AZPtrToHand(rt.data(), &h, int32(rt.size())) != kNoErr) return false;
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h) != kNoErr) return false;
  SetRunTimeRsrcFile(ref);
  SetOneButtonAlertProc(&QuietAlert);

  vif::VIFile sub = BaseVI("Sub.vi");
  vif::VIFile main = BaseVI("Main.vi");
  // The subVI recorded beside its caller: in the same library.
  Path beside = FMakePath(nullptr, kRelPath, reinterpret_cast<ConstPStr>("\0"), reinterpret_cast<ConstPStr>("\6Sub.vi"), nullptr);
  if (!beside) return false;
  main.viRefs = {LinkInfoRef{FourCC("QXIN"), "Sub.vi", {0}, sub.connPane->Bytes(), liw::FlatPath(beside)}};
  FDisposePath(beside);
  main.dsRefs = {LinkInfoRef{FourCC("VIDS"), "Sub.vi", {kDataSpaceHeaderSize + 4}, {}, liw::FlatPath(nullptr)}};
  for (const auto& [v, flags] : {std::pair{main, kFlagTopLevel}, std::pair{sub, 0u}}) {
    Member m{v.name, flags, vif::Resources(v)};
    std::vector<vif::Resource> panel;
    if (vif::WriteWithPanel(v, 0, [&](std::vector<vif::Resource>& rs) { panel = rs; }).empty()) return false;
    m.rs.insert(m.rs.end(), panel.begin(), panel.end());
    for (const vif::Resource& r : m.rs)
      if (r.type == kCodeRsrcType) gCodes.push_back(r.bytes);
    gMembers.push_back(m);
  }
  // Texts and versions of the run-time file stay loaded once read.
  Str255 text;
  for (int32 list : {kLoadErrorsListId, kLoadWarningsListId, kMgErrTextsListId})
    for (int32 i = 1; i <= 31; ++i) RGetIndString(ref, text, list, i);
  UHandle any = nullptr;
  RGetString(ref, kLoadErrorStrId, &any);
  RGet(ref, FourCC("vers"), 1, &any);
  RGet(ref, FourCC("vers"), 4, &any);
  return true;
}


// The library as the input damages it.
struct Library {
  vif::Bytes dir;
  std::vector<std::string> names;  // the names of the CPRF resources
  std::vector<vif::Bytes> cprf;
};

void Flip(FuzzReader& in, vif::Bytes& b, size_t len) {
  if (b.empty()) return;
  const size_t at = in.Word() % b.size();
  for (size_t i = 0; i < len && at + i < b.size(); ++i) b[at + i] ^= in.Byte();
}
void Cut(FuzzReader& in, vif::Bytes& b, size_t len) {
  if (b.empty()) return;
  const size_t at = in.Word() % b.size();
  b.erase(b.begin() + long(at), b.begin() + long(std::min(b.size(), at + len)));
}
void Insert(FuzzReader& in, vif::Bytes& b, size_t len) {
  const size_t at = b.empty() ? 0 : in.Word() % (b.size() + 1);
  vif::Bytes add(len);
  in.Bytes(add.data(), len);
  b.insert(b.begin() + long(at), add.begin(), add.end());
}

// Edits a member's resources: replace, remove, truncate or flip one; the
// code resource is never touched.
void EditResources(FuzzReader& in, std::vector<vif::Resource>& rs) {
  const size_t which = in.Byte() % rs.size();
  const uint8_t op = in.Byte() % 4;
  const size_t len = in.Byte();
  vif::Resource& r = rs[which];
  if (r.type == kCodeRsrcType) return;
  switch (op) {
    case 0:
      r.bytes.assign(len, 0);
      in.Bytes(r.bytes.data(), len);
      break;
    case 1:
      r.type = FourCC("gone");
      r.id = int32(which) + 1000;
      r.name.reset();
      break;
    case 2:
      if (len < r.bytes.size()) r.bytes.resize(len);
      break;
    case 3:
      Flip(in, r.bytes, len);
      break;
  }
}

Library Damage(FuzzReader& in) {
  std::vector<std::vector<vif::Resource>> rs;
  std::vector<qxbuild::LibraryMember> members;
  for (const Member& m : gMembers) rs.push_back(m.rs);
  // Resource edits first, then edits of the members' files and names, then
  // edits of the compressed members and the directory.
  const int edits = in.Byte() % 4;
  for (int i = 0; i < edits && in.n; ++i) EditResources(in, rs[in.Byte() % rs.size()]);
  for (size_t i = 0; i < gMembers.size(); ++i) {
    qxbuild::LibraryMember m;
    m.name = gMembers[i].name;
    m.flags = gMembers[i].flags;
    m.file = WriteMember(rs[i]);
    members.push_back(m);
  }
  const int before = in.Byte() % 4;
  for (int i = 0; i < before && in.n; ++i) {
    const uint8_t op = in.Byte();
    qxbuild::LibraryMember& m = members[in.Byte() % members.size()];
    const size_t len = in.Byte() % 64;
    switch (op % 4) {
      case 0: m.name = kHostile[in.Byte() % (sizeof kHostile / sizeof kHostile[0])]; break;
      case 1: Flip(in, m.file, len); break;
      case 2: Cut(in, m.file, len); break;
      case 3: Insert(in, m.file, len); break;
    }
  }
  Library lib;
  for (const qxbuild::LibraryMember& m : members) {
    lib.names.push_back(m.name);
    lib.cprf.push_back(qxbuild::CompressMember(m.file));
  }
  lib.dir = qxbuild::Directory(members);
  for (int records = 0; in.n && records < 6; ++records) {
    const uint8_t op = in.Byte();
    const size_t m = in.Byte() % members.size();
    const size_t len = in.Byte() % 64;
    vif::Bytes& b = op & 1 ? lib.dir : lib.cprf[m];
    switch (op / 2 % 3) {
      case 0: Flip(in, b, len); break;
      case 1: Cut(in, b, len); break;
      case 2: Insert(in, b, len); break;
    }
  }
  return lib;
}

vif::Bytes WriteLibrary(const Library& lib) {
  rsrcw::Writer w(kFileType, kCreator);
  w.Add(kRsrcDir, kDirId, lib.dir);
  for (size_t i = 0; i < lib.cprf.size(); ++i) w.Add(kRsrcCompressed, int32(i) + 1, lib.cprf[i], lib.names[i]);
  return w.Write();
}

// True when the types in the member file could ask for more than a
// megabyte, or a code resource in it is not one the tools wrote.
bool Unsafe(const vif::Bytes& file) {
  UHandle h = nullptr;
  if (AZPtrToHand(file.data(), &h, int32(file.size())) != kNoErr) return true;
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h) != kNoErr) {
    AZDisposeHandle(h);
    return false;  // the loader cannot open it either
  }
  bool unsafe = false;
  for (int32 i = 1; !unsafe; ++i) {
    UHandle r = nullptr;
    if (RGetInd(ref, kCodeRsrcType, i, &r) != kNoErr || !r) break;
    const vif::Bytes bytes(*r, *r + AZGetHandleSize(r));
    unsafe = std::find(gCodes.begin(), gCodes.end(), bytes) == gCodes.end();
    RRelease(r);
  }
  for (uInt32 type : {FourCC("DSTM"), FourCC("FPTD")})
    for (int32 i = 1; !unsafe; ++i) {
      UHandle r = nullptr;
      if (RGetInd(ref, type, i, &r) != kNoErr || !r) break;
      std::vector<uChar> td(*r, *r + AZGetHandleSize(r));
      RRelease(r);
      if (td.size() < 4 || StandardizeTDBounded(td.data(), kToMemoryOrder, 0, int32(td.size())) != kNoErr ||
          TDCheckBounds(td.data(), int32(td.size())) != kNoErr)
        continue;
      for (size_t at : {size_t(0), size_t(6)}) {
        if (td.size() < at + 4 || TDCheckBounds(td.data() + at, int32(td.size() - at)) != kNoErr) continue;
        const TypeDescriptor* type = reinterpret_cast<const TypeDescriptor*>(td.data() + at);
        unsafe = unsafe || uInt32(DataSize(type)) > (1u << 20) || FuzzBoundedBytes(type) > (1u << 20);
      }
    }
  RCloseFile(ref);
  return unsafe;
}

// Every member a reader can get out of the library, expanded.
bool AnyUnsafe(const vif::Bytes& library) {
  UHandle h = nullptr;
  if (AZPtrToHand(library.data(), &h, int32(library.size())) != kNoErr) return true;
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h) != kNoErr) {
    AZDisposeHandle(h);
    return false;
  }
  bool unsafe = false;
  for (int32 i = 1; !unsafe; ++i) {
    UHandle r = nullptr;
    if (RGetInd(ref, kRsrcCompressed, i, &r) != kNoErr || !r) break;
    archive::CprfReader reader;
    if (reader.Open(*r, AZGetHandleSize(r)) == kNoErr && reader.Size() <= (1u << 22)) {
      vif::Bytes file(reader.Size());
      reader.Next(file.data(), reader.Size());
      unsafe = Unsafe(file);
    } else if (reader.Open(*r, AZGetHandleSize(r)) == kNoErr) {
      unsafe = true;  // a member of more than 4 MB: not worth expanding here
    }
    RRelease(r);
  }
  RCloseFile(ref);
  return unsafe;
}

std::set<std::string> Files() {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(gRoot)) out.insert(e.path().string());
  return out;
}

std::string Text(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

// One pass over the library at L:\d\lib.qlb.
void Exercise() {
  Path lib = ToPath("L:\\d\\lib.qlb");
  FUZZ_CHECK(lib);
  std::vector<std::string> names;
  std::string top;  // the first top-level member that mode 2 lists
  for (int32 mode : {0, 1, 2, 3}) {
    CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
    UHandle records = AZNewHandle(0);
    FUZZ_CHECK(list && records);
    if (ArchiveDirListEx(lib, list, records, mode, 0, kArchiveListRecords12) == kNoErr) {
      const int32 count = (*list)->cnt;
      FUZZ_CHECK(AZGetHandleSize(records) == 12 * count);
      const uChar* p = reinterpret_cast<const uChar*>(*list) + 4;
      for (int32 i = 0; i < count; ++i, p += 1 + p[0]) {
        FUZZ_CHECK(p + 1 + p[0] <= reinterpret_cast<const uChar*>(*list) + AZGetHandleSize(UHandle(list)));
        if (mode == 0) names.push_back(Text(p));
        if (mode == 2 && top.empty() && (GetNative32(*records + 12 * i) & kFlagTopLevel)) top = Text(p);
      }
    }
    AZDisposeHandle(UHandle(list));
    AZDisposeHandle(records);
  }
  for (const Member& m : gMembers) names.push_back(m.name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  // Look-ups and extractions of every name.
  for (size_t i = 0; i < names.size() && i < 8; ++i) {
    Str255 name;
    name[0] = uChar(names[i].size());
    std::memcpy(name + 1, names[i].data(), names[i].size());
    uInt32 type = 0;
    const MgErr found = ArchiveLookupMember(lib, name, &type);
    Path member = nullptr;
    if (found != kNoErr || !(member = FMakePath(lib, kAbsPath, name, nullptr))) {
      if (member) FDisposePath(member);
      continue;
    }
    Point pos{};
    RsrcFileRef file = 0;
    if (ArchiveExtractByPath(member, nullptr, &file, &type, &pos) == kNoErr) RCloseFile(file);
    ArchiveExtractByPath(member, nullptr, nullptr, &type, &pos);
    Path dest = ToPath("L:\\d\\out\\x.vi");
    FUZZ_CHECK(dest);
    if (ArchiveExtractByPath(member, dest, &file, &type, &pos) == kNoErr) RCloseFile(file);
    FDisposePath(dest);
    FDisposePath(member);
  }
  // The top VI with its subVI.
  for (const std::string& name : {std::string("Main.vi"), top == "Main.vi" ? std::string() : top}) {
    if (name.empty()) continue;
    Path path = ToPath("L:\\d\\lib.qlb\\" + name);
    if (!path) continue;
    UHandle vi = nullptr;
    if (OpenVIFile(path, &vi, 0) != kNoErr) vi = nullptr;
    if (vi) {
      FUZZ_CHECK(IsVILoaded(vi));
      // Code that was entered was patched.
      for (UHandle v = FirstLoadedVI(); v; v = VIRec(v)->next) {
        const UHandle ds = VIRec(v)->dataSpace;
        if (!ds || DSGetHandleSize(ds) < kDataSpaceHeaderSize + 8 || GetNative32(*ds + kDataSpaceHeaderSize) != 0x1234)
          continue;
        FUZZ_CHECK(GetNative32(*ds + kDataSpaceHeaderSize + 4) == uInt32(uintptr_t(&QXRTTable[0])));
      }
      CloseVI(vi, 0, 0, 1);
    }
    PurgeUnusedVIs(0);
    // Whatever the library linked (callers that call each other included),
    // closing everything empties the list.
    FUZZ_CHECK(CloseAllVIs(0) == 0);
    FUZZ_CHECK(LoadedVICount() == 0);
  }
  FDisposePath(lib);
  ArchiveHoldLibraries();
  ArchiveReleaseLibraries();
}

}  // namespace

// The undamaged library opens its top VI with the subVI, and closes them.
static bool BaseOpens() {
  FuzzReader none{nullptr, 0};
  if (!rsrcw::WriteHostFile(gRoot + "/d/lib.qlb", WriteLibrary(Damage(none)))) return false;
  Path path = ToPath("L:\\d\\lib.qlb\\Main.vi");
  UHandle vi = nullptr;
  const bool opened = path && OpenVIFile(path, &vi, 0) == kNoErr && vi && LoadedVICount() == 2 &&
                      VIRec(vi)->panelHeap && VIRec(vi)->codeHandle;
  if (vi) CloseVI(vi, 0, 0, 1);
  PurgeUnusedVIs(0);
  return opened && LoadedVICount() == 0;
}

// Closed panels' windows are freed when the main loop takes their disposal
// events; no loop runs here, so they are taken before handles are counted.
void TakeDisposals() {
  WEventRecord e;
  while (WGetNextEvent(&e))
    if (e.code == kWEvDispose) WDispatchEvent(&e);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start() && BaseOpens();
  if (!started) std::abort();
  FuzzReader in{data, size};
  const Library lib = Damage(in);
  const vif::Bytes bytes = WriteLibrary(lib);
  if (AnyUnsafe(bytes)) return 0;
  if (!rsrcw::WriteHostFile(gRoot + "/d/lib.qlb", bytes)) std::abort();
  FuzzArmed() = true;
  Exercise();
  TakeDisposals();
  CollectTypeHeapGarbage();
  const int32 live = FuzzLiveHandles();
  const std::string links = linkcheck::Walk();
  const uInt32 freeRecords = reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount];
  Exercise();
  TakeDisposals();
  CollectTypeHeapGarbage();
  FuzzArmed() = false;
  FUZZ_CHECK(LoadedVICount() == 0);
  FUZZ_CHECK(links.empty() && linkcheck::Walk().empty());
  FUZZ_CHECK(reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount] == freeRecords);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  // Only the library, the destination and the temporary files are there.
  for (const std::string& f : Files())
    FUZZ_CHECK(f == gRoot + "/d" || f == gRoot + "/d/lib.qlb" || f == gRoot + "/d/out" || f == gRoot + "/d/out/x.vi" ||
               f == gRoot + "/tmp" || f.rfind(gRoot + "/tmp/", 0) == 0);
  CleanUpArchive();
  fs::remove(gRoot + "/d/out/x.vi");
  return 0;
}
