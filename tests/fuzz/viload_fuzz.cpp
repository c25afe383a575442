// Loading a VI whose resources the input rewrites: a VI file written by the
// tools (a plain VI or one with a datalog binding), then records of
// (resource, operation, length, bytes) that replace, remove, truncate or
// flip the bytes of one resource.  The code resource keeps its code: it is
// cut shorter than its header, or the words of its header that are not the
// entry or the patch list's place (processor, tag, spare words) are
// rewritten, so no code but the tools' harmless initialisation is ever
// entered.  The data-space type map is rewritten like any other resource;
// an input whose types would fill the address space is skipped.  The load must report nothing through the
// failure reports; it either loads the VI, which is then disposed, or fails
// with the VI gone; either way the link table ends empty, no VI is listed
// and no handle is left behind.  A loaded VI with a log binding holds the
// record type alone: the bytes of the stored cluster's first element, in
// memory order, bounded by its handle, with a record buffer of its size.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/datatype.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/exec/runtexts.h"
#include "engine/link/hierarchy.h"
#include "engine/link/linker.h"
#include "engine/stdize.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_support.h"
#include "fuzz_typebounds.h"
#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_drives.h"
#include "tests/engine/link_check.h"
#include "tools/appbuild.h"
#include "tools/i386emit.h"
#include "tools/vifile.h"

namespace {

int gAlerts = 0;
int32 CountAlert(int32, const void*, ConstPStr, int32, int32) {
  ++gAlerts;
  return 0;
}

std::string gRoot;
std::vector<vif::Resource> gBase[2];

// Writes the resources as the VI's file and loads it.
int32 LoadResources(const std::vector<vif::Resource>& rs, UHandle* vi) {
  rsrcw::Writer w(FourCC("QXIN"), FourCC("QNLX"));
  for (const vif::Resource& r : rs) w.Add(r.type, r.id, r.bytes, r.name);
  if (!rsrcw::WriteHostFile(gRoot + "/f.rsc", w.Write())) std::abort();
  Path path = nullptr;
  static const char kText[] = "L:\\f.rsc";
  if (FTextToPath(reinterpret_cast<const uChar*>(kText), int32(sizeof kText - 1), &path) != kNoErr) std::abort();
  RsrcFileRef ref = 0;
  if (ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr) std::abort();
  *vi = nullptr;
  return LoadInstrument(path, 0, reinterpret_cast<ConstPStr>("\007Main.vi"), ref, vi, 0);
}

// Disposes a loaded VI as closing does.
void Unload(UHandle vi) {
  if (!vi) return;
  Str255 name;
  std::memcpy(name, VIRec(vi)->name, size_t(VIRec(vi)->name[0]) + 1);
  const bool noCode = VIRec(vi)->codeHandle == nullptr;
  DisposeVI(vi, 1);
  if (noCode) UnlinkItemByName(name, FourCC("VIDS"));
}

bool Start() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed)) return false;
  if (ThInit() != kNoErr || RInitResources() != kNoErr || FInitFileMgr() != kNoErr) return false;
  if (TypeHeapInit() != kNoErr || WEventQueueInit(1) != kNoErr) return false;
  if (QXRTRegisterEngine() != kNoErr) return false;
  QXRTCloseRegistration();
  if (!AZPBlocks()->linkerNames) AZPAllocInit();
  InitLinker();
  // The loader enters code only through the code hooks.
  InstallVICodeHooks();
  std::string t = (std::filesystem::temp_directory_path() / "qxvlfXXXXXX").string();
  if (!mkdtemp(t.data())) return false;
  gRoot = t;
  if (PlatDriveMap('L', gRoot.c_str(), kPlatDriveFixed) != 0) return false;
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  UHandle h = AZNewHandle(0);
  const rsrcw::Bytes rt = w.Write();
  if (!h || AZPtrToHand(rt.data(), &h, int32(rt.size())) != kNoErr) return false;
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h) != kNoErr) return false;
  SetRunTimeRsrcFile(ref);
  SetOneButtonAlertProc(&CountAlert);
  for (int kind = 0; kind < 2; ++kind) {
    vif::VIFile v;
    v.entries = {tdb::I32().WithFlags(kDSEntryStored), tdb::String().WithFlags(kDSEntryStored)};
    v.code = vif::ControllerCode(false);
    v.types = {tdb::I32(), tdb::String()};
    v.strings = std::vector<std::string>{"a", "b"};
    v.title = "T";
    v.connPane = tdb::Cluster({tdb::I32()});
    v.rtMenuPath = rsrcw::FlatPath(kRelPath, {"menu.rtm"});
    v.icon = true;
    if (kind) {
      v.viKind = kVIKindDatalog;
      v.datalog = std::vector<uInt32>{1, 2, 3, 4, 5, 6, 7};
      v.logPath = rsrcw::FlatPath(kRelPath, {"log.dat"});
      v.logRecordType = tdb::Cluster({tdb::I32(), tdb::String()});
      v.controlMap = std::vector<uInt16>{2, 7, 9};
    }
    gBase[kind] = vif::Resources(v);
    gBase[kind].push_back({FourCC("HLPT"), v.rsrcId, {0, 0, 0, 1, 'x'}, std::nullopt});
    gBase[kind].push_back({FourCC("HLPP"), v.rsrcId, rsrcw::FlatPath(kAbsPath, {"L", "h.hlp"}), std::nullopt});
    gBase[kind].push_back({FourCC("PRT "), v.rsrcId, std::vector<uChar>(60, 3), std::nullopt});
    gBase[kind].push_back({FourCC("vers"), 4, {0x05, 0x01, 0x80, 0x03, 0, 0}, std::nullopt});
  }
  // The run-time file's texts and versions stay loaded once read: read them
  // before any run counts handles.
  Str255 text;
  for (int32 list : {kLoadErrorsListId, kLoadWarningsListId, kMgErrTextsListId})
    for (int32 i = 1; i <= 31; ++i) RGetIndString(ref, text, list, i);
  UHandle any = nullptr;
  RGetString(ref, kLoadErrorStrId, &any);
  RGet(ref, FourCC("vers"), 1, &any);
  RGet(ref, FourCC("vers"), 4, &any);
  // Loads that succeed and fail once, so that what stays loaded after them
  // (images, link table, type heap lists) is there before runs count.
  for (int kind = 0; kind < 2; ++kind)
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<vif::Resource> rs = gBase[kind];
      if (pass)
        for (vif::Resource& r : rs)
          if (r.type == FourCC("LIvi")) r.bytes = {'P', 'T', 'H', '0', 0, 0, 0, 99};
      UHandle vi = nullptr;
      LoadResources(rs, &vi);
      Unload(vi);
    }
  CollectTypeHeapGarbage();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started) std::abort();
  FuzzReader in{data, size};
  std::vector<vif::Resource> rs = gBase[in.Byte() & 1];
  for (int records = 0; in.n && records < 8; ++records) {
    const size_t which = in.Byte() % rs.size();
    const uint8_t op = in.Byte() % 5;
    const size_t len = in.Byte();
    vif::Resource& r = rs[which];
    const bool code = r.type == FourCC("VICD");
    const bool fixedContent = code;
    switch (op) {
      case 0:  // replace
        if (fixedContent) break;
        r.bytes.assign(len, 0);
        in.Bytes(r.bytes.data(), len);
        break;
      case 1:  // remove
        r.type = FourCC("gone");
        r.id = int32(which) + 1000;
        r.name.reset();
        break;
      case 2:  // truncate (the code only below its header, so no cut code is entered)
        if (len < r.bytes.size() && (!code || len < 24)) r.bytes.resize(len);
        break;
      case 3: {  // flip bytes at an offset
        if (fixedContent || r.bytes.empty()) break;
        const size_t at = (size_t(in.Byte()) << 8 | in.Byte()) % r.bytes.size();
        for (size_t i = 0; i < len && at + i < r.bytes.size(); ++i) r.bytes[at + i] ^= in.Byte();
        break;
      }
      case 4:  // the code's header words other than its entry and patch list
        if (code && r.bytes.size() >= size_t(kVICDHeaderSize)) {
          static const int32 kWords[] = {1, 3, 4, 5};
          const int32 at = 4 * kWords[len % 4];
          for (int32 i = 0; i < 4; ++i) r.bytes[size_t(at + i)] ^= in.Byte();
        }
        break;
    }
  }
  // Types whose data would fill the address space are left out: the loader
  // clears what it allocates for them, which the fuzzer cannot afford.
  // Bounded and fixed strings and arrays are made whole with the default
  // data but not counted by DataSize: they count too.
  for (const vif::Resource& r : rs)
    if (r.type == FourCC("DSTM") || (r.type == FourCC("FPTD") && r.bytes.size() > 6)) {
      std::vector<uChar> td = r.bytes;
      if (td.size() < 4 || StandardizeTDBounded(td.data(), kToMemoryOrder, 0, int32(td.size())) != kNoErr ||
          TDCheckBounds(td.data(), int32(td.size())) != kNoErr)
        continue;
      const uChar* at = td.data() + (r.type == FourCC("FPTD") ? 6 : 0);
      const int32 avail = int32(td.size()) - int32(at - td.data());
      if (avail >= 4 && TDCheckBounds(at, avail) == kNoErr &&
          (uInt32(DataSize(reinterpret_cast<const TypeDescriptor*>(at))) > (1u << 16) ||
           FuzzBoundedBytes(reinterpret_cast<const TypeDescriptor*>(at)) > (1u << 16)))
        return 0;
    }
  const int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  UHandle vi = nullptr;
  const int32 result = LoadResources(rs, &vi);
  FuzzArmed() = false;
  FUZZ_CHECK(result == 0 || result == 2 || result == 5 || result == 6);
  FUZZ_CHECK((vi != nullptr) == (result == 2 || result == 6));
  FUZZ_CHECK(gQXLoadErrorCode == 0 && gQXLoadAlertsOff == 0);
  if (vi && VIRec(vi)->viKind == kVIKindDatalog && VIRec(vi)->logRecord) {
    const DatalogBindingRec* b = reinterpret_cast<const DatalogBindingRec*>(*VIRec(vi)->logRecord);
    FUZZ_CHECK(b->recordTD && b->recordData);
    const int32 tdSize = AZGetHandleSize(b->recordTD);
    FUZZ_CHECK(tdSize >= 4 && TDCheckBounds(*b->recordTD, tdSize) == kNoErr && GetNative16(*b->recordTD) == tdSize);
    FUZZ_CHECK(AZGetHandleSize(b->recordData) == DataSize(reinterpret_cast<const TypeDescriptor*>(*b->recordTD)));
    for (const vif::Resource& r : rs)
      // At most one: a removed resource is renamed.
      if (r.type == FourCC("FPTD") && VIVersionAtLeast(VIRec(vi)->version, kVersionStoresLogTypes)) {
        std::vector<uChar> stored = r.bytes;
        FUZZ_CHECK(stored.size() >= size_t(kLogTypeWrapperSize) + size_t(tdSize));
        FUZZ_CHECK(StandardizeTDBounded(stored.data(), kToMemoryOrder, 0, int32(stored.size())) == kNoErr);
        FUZZ_CHECK(std::memcmp(stored.data() + kLogTypeWrapperSize, *b->recordTD, size_t(tdSize)) == 0);
      }
  }
  if (vi) {
    FUZZ_CHECK(IsVILoaded(vi));
    FUZZ_CHECK(VIRec(vi)->rsrcFile == 0);
    Unload(vi);
  }
  CollectTypeHeapGarbage();
  FUZZ_CHECK(LoadedVICount() == 0);
  FUZZ_CHECK(linkcheck::Walk().empty());
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
