#include "tools/vifile.h"

#include <cstring>

#include "engine/dsalloc.h"
#include "engine/stdize.h"
#include "engine/typemgr.h"
#include "engine/vi/viload.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "tools/appbuild.h"
#include "tools/i386emit.h"
#include "tools/linkinfowriter.h"
#include "tools/panelwriter.h"
#include "tools/typeheapwriter.h"
#include "tools/vibuilder.h"

namespace vif {

namespace {
Bytes PStrBytes(const std::string& s) {
  Bytes b(1 + s.size());
  b[0] = uChar(s.size());
  std::memcpy(b.data() + 1, s.data(), s.size());
  return b;
}
Bytes BE32(uInt32 v) {
  Bytes b(4);
  PutBE32(b.data(), v);
  return b;
}
}  // namespace

Bytes Header(const VIFile& v) {
  VIRecord r;
  std::memset(&r, 0, sizeof r);
  r.flags = v.flags;
  r.flags2 = v.flags2;
  r.marks = v.marks;
  r.eState = v.eState;
  r.priority = v.priority;
  r.viKind = v.viKind;
  r.execSystem = v.execSystem;
  r.windowOptions = v.windowOptions;
  r.rtMenuWord = v.rtMenuWord;
  r.version = v.version;
  r.rsrcID = uInt32(v.rsrcId);
  // Stored nonzero words say that the file holds code and types.
  r.codeHandle = v.code && v.codeWord ? reinterpret_cast<UHandle>(uintptr_t(1)) : nullptr;
  r.dsTypeMap = v.typesWord ? reinterpret_cast<UHandle>(uintptr_t(1)) : nullptr;
  const size_t n = v.name.size() > 255 ? 255 : v.name.size();
  r.name[0] = uChar(n);
  std::memcpy(r.name + 1, v.name.data(), n);
  SwapVIHeader(&r);
  const uChar* p = reinterpret_cast<const uChar*>(&r);
  return Bytes(p, p + sizeof r);
}

Bytes StoredTD(const tdb::TD& td) {
  Bytes b = td.Bytes();
  TDStandardize(tdb::AsTD(b), kToFileOrder);
  return b;
}

Bytes StoredLogType(const tdb::TD& recordType) { return StoredTD(tdb::Cluster({recordType})); }

Bytes DefaultData(const std::vector<tdb::TD>& entries, const std::vector<std::pair<int32, int32>>& words) {
  UHandle vi = vib::NewVI(entries, true);
  if (!vi) return {};
  UHandle ds = VIRec(vi)->dataSpace;
  for (const auto& [offset, value] : words)
    if (offset >= 0 && offset + 4 <= DSGetHandleSize(ds)) PutNative32(*ds + offset, uInt32(value));
  UHandle flat = DeflateDataSpace(vi);
  Bytes out;
  if (flat) {
    out.assign(*flat, *flat + AZGetHandleSize(flat));
    AZDisposeHandle(flat);
  }
  vib::DisposeVI(vi);
  return out;
}

std::vector<Resource> Resources(const VIFile& v) {
  std::vector<Resource> out;
  const int32 id = v.rsrcId;
  auto put = [&](uInt32 type, int32 rid, const Bytes& b, std::optional<std::string> name = std::nullopt) {
    if (v.raw.count(type)) return;
    out.push_back({type, rid, b, name});
  };
  if (v.writeRsid) put(kRsrcIdRsrcType, 0, BE32(uInt32(id)), v.rsidName.empty() ? v.name : v.rsidName);
  put(kVIHeaderRsrcType, id, Header(v));
  if (v.readerVersion) {
    Bytes vers = BE32(*v.readerVersion);
    vers.insert(vers.end(), {0, 0, 0, 0});
    put(kVersRsrcType, kVersOldestId, vers);
  }
  if (v.code) put(kCodeRsrcType, id, *v.code);
  if (v.connPane) put(kConnPaneRsrcType, id, StoredTD(*v.connPane));
  if (v.connTypeMap) put(kConnTypeMapRsrcType, id, StoredTD(*v.connTypeMap));
  if (v.writeDSTM) put(kDSTypeMapRsrcType, id, StoredTD(vib::DataSpaceType(v.entries)));
  if (v.writeDFDS) put(kDefaultDataRsrcType, id, DefaultData(v.entries, v.defaultWords));
  if (!v.types.empty()) put(FourCC("DTHP"), id, thw::TypeHeapImage(v.types));
  if (v.writeLIds) {
    LinkInfoRecords ds{kLinkClassCodes[kLinkClassDataSpace], v.name, {}, v.dsRefs};
    put(kLinkInfoDataSpace, id, liw::Write(ds));
  }
  if (v.writeLIvi) {
    LinkInfoRecords vi{kLinkClassCodes[kLinkClassVI], v.liviName.empty() ? v.name : v.liviName, {}, v.viRefs};
    put(kLinkInfoVI, id, liw::Write(vi));
  }
  if (v.strings) {
    Bytes b = BE32(uInt32(v.strings->size()));
    for (const std::string& s : *v.strings) {
      Bytes p = PStrBytes(s);
      b.insert(b.end(), p.begin(), p.end());
    }
    put(kStringsRsrcType, id, b);
  }
  if (v.title) put(kTitleRsrcType, 0, PStrBytes(*v.title));
  if (v.rtMenuPath) put(kRTMenuPathRsrcType, id, *v.rtMenuPath);
  if (v.icon) {
    static const auto on = +[](int x, int y) { return x == y || x + y == 31; };
    static const auto inside = +[](int, int) { return false; };
    for (const auto& r : qxbuild::IconFamilyResources(on, inside, 5, 100))
      put(r.first, id, r.second);
  }
  if (v.datalog) {
    Bytes b;
    for (uInt32 word : *v.datalog) {
      Bytes x = BE32(word);
      b.insert(b.end(), x.begin(), x.end());
    }
    put(kDatalogBindingRsrcType, id, b);
  }
  if (v.logPath) put(kLogPathRsrcType, id, *v.logPath);
  if (v.logRecordType) put(kLogTypeRsrcType, id, StoredLogType(*v.logRecordType));
  if (v.controlMap) {
    Bytes b(2 + 2 * v.controlMap->size());
    PutBE16(b.data(), uInt16(v.controlMap->size()));
    for (size_t i = 0; i < v.controlMap->size(); ++i) PutBE16(b.data() + 2 + 2 * i, (*v.controlMap)[i]);
    put(kLogControlMapRsrcType, id, b);
  }
  for (const auto& [type, bytes] : v.raw)
    out.push_back({type, type == kRsrcIdRsrcType ? 0 : id, bytes,
                   type == kRsrcIdRsrcType ? std::optional<std::string>(v.name) : std::nullopt});
  return out;
}

void Add(rsrcw::Writer& w, const VIFile& v) {
  for (const Resource& r : Resources(v)) w.Add(r.type, r.id, r.bytes, r.name);
}

Bytes Write(const VIFile& v) {
  rsrcw::Writer w(kVIHeaderRsrcType, FourCC("QNLX"));
  Add(w, v);
  return w.Write();
}

Bytes WriteSubrFile(const SubrFile& s) {
  rsrcw::Writer w(FourCC("QXSB"), FourCC("QNLX"));
  if (s.platform) {
    Bytes p(4);
    std::memcpy(p.data(), &*s.platform, 4);  // the code's characters as they read
    w.Add(kSubrPlatformRsrcType, s.rsrcId, p, s.name);
  }
  if (s.code) w.Add(kSubrCodeRsrcType, s.rsrcId, *s.code, s.name);
  if (s.linkInfo) w.Add(kLinkInfoSubr, s.rsrcId, liw::Write(*s.linkInfo), s.name);
  return w.Write();
}

Bytes ControllerCode(bool marks) {
  emit::Code c;
  auto dco = c.NewLabel();
  c.Bind(dco);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  c.SetEntry();
  c.MovRegMem(emit::EAX, emit::ESP, 4);
  c.MovRegMem(emit::EAX, emit::EAX, 0);
  if (marks) {
    c.MovMemImm(emit::EAX, kDataSpaceHeaderSize, 0x1234);
    c.MovRegPatched(emit::ECX, -4);
    c.MovMemReg(emit::EAX, kDataSpaceHeaderSize + 4, emit::ECX);
  }
  c.LoadLabelAddress(emit::ECX, dco);
  c.MovMemReg(emit::EAX, int32(offsetof(DataSpaceHeader, procs) + 4 * (10 - kDSProcFirst)), emit::ECX);
  c.Ret();
  return c.Finish();
}

Bytes WriteWithPanel(const VIFile& v, uInt32 heapFlags, const std::function<void(std::vector<Resource>&)>& edit,
                     const std::function<void(ObjHeap, int32)>& objects,
                     const std::vector<panelwriter::PanelObject>* objectRsrcs) {
  UHandle scratch = vib::NewVI({}, false);
  ObjHeap panel = scratch ? vib::NewPanel(scratch) : nullptr;
  const int32 root = panel ? vib::NewObject(panel, kClsFrontPanel, 76) : 0;
  rsrcw::Writer pw(kVIHeaderRsrcType, FourCC("QNLX"));
  bool ok = root != 0;
  if (ok) {
    PutNative32(*panel + OHWord(panel, kOHExtension) + kHeapExtRoot, uInt32(root));
    OHSetWord(panel, kOHFlags, OHWord(panel, kOHFlags) | heapFlags);
    if (objects) objects(panel, root);
    ok = panelwriter::AddPanelHeap(pw, panel, v.rsrcId, v.name, 100,
                                   objectRsrcs ? *objectRsrcs : std::vector<panelwriter::PanelObject>{});
  }
  vib::DisposeVI(scratch);
  if (!ok) return {};
  std::vector<Resource> rs;
  for (const auto& r : pw.Resources()) rs.push_back({r.type, r.id, r.data, r.name});
  if (edit) edit(rs);
  rsrcw::Writer w(kVIHeaderRsrcType, FourCC("QNLX"));
  Add(w, v);
  for (const Resource& r : rs) w.Add(r.type, r.id, r.bytes, r.name);
  return w.Write();
}

}  // namespace vif
