// VI methods and application properties driven by random parameter lists
// over a VI the tools write, whose panel's controls (a number, a string, an
// array of numbers, a cluster, a path and an indicator) the hooks stand
// for: "Set Control Value" and "Get Control Value" with random labels, types
// (the control's own, mutated, or random words), flat data (the control's
// own, cut, lengthened, mutated or random), counts and absent values; "Get
// All Control Values"; "Convert Type and Data" with random types and data;
// and application attribute vectors of random gets and access-list sets,
// trusted or not.  Every answer is one of the codes the methods give; a set
// that fails leaves every control as it was and one that succeeds holds
// the flat data given; a failed conversion leaves its outputs as they were; no
// report is made while the requests run; and once each input's values are
// freed and the controls reset, no handle is left behind.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/flatten.h"
#include "engine/link/linker.h"
#include "engine/membertab.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_server.h"
#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_drives.h"
#include "server/access.h"
#include "server/srvhooks.h"
#include "server/srvvalues.h"
#include "server/viref.h"
#include "tools/appbuild.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "tools/vifile.h"

namespace {

struct Ctl {
  const char* label;
  std::vector<uChar> td;
  bool indicator;
  std::vector<double> data;
  const TypeDescriptor* type() const { return tdb::AsTD(td); }
};
std::vector<Ctl> gPanel;
VIRef gRef = 0;

Ctl* At(int32 object) { return object >= 1 && object <= int32(gPanel.size()) ? &gPanel[size_t(object - 1)] : nullptr; }

std::vector<uChar> FlatOf(const Ctl& c) {
  std::vector<uChar> flat(size_t(FlatSize(c.type(), c.data.data())));
  FlattenData(c.type(), c.data.data(), flat.data());
  return flat;
}

void ResetControls() {
  for (Ctl& c : gPanel) {
    DisposeData(c.type(), c.data.data(), reinterpret_cast<uChar*>(c.data.data()) + DataSize(c.type()));
    if (InitEmptyData(c.type(), c.data.data()) != kNoErr) std::abort();
  }
}

void InstallPanel() {
  gPanel = {{"n", tdb::I32().Bytes(), false, {}},
            {"s", tdb::String().Bytes(), false, {}},
            {"a", tdb::Array(tdb::DBL()).Bytes(), false, {}},
            {"c", tdb::Cluster({tdb::Boolean(), tdb::String(), tdb::I16()}).Bytes(), false, {}},
            {"p", tdb::Path().Bytes(), false, {}},
            {"y", tdb::I32().Bytes(), true, {}}};
  for (Ctl& c : gPanel) {
    c.data.assign(4, 0.0);
    if (InitEmptyData(c.type(), c.data.data()) != kNoErr) std::abort();
  }
  ServerUIHooks h{};
  h.findCtlByLabel = [](ObjHeap, const LStr* label) -> int32 {
    for (size_t i = 0; i < gPanel.size(); ++i)
      if (label->cnt == int32(std::strlen(gPanel[i].label)) &&
          std::memcmp(label->str, gPanel[i].label, size_t(label->cnt)) == 0)
        return int32(i + 1);
    return 0;
  };
  h.labelText = [](ObjHeap, int32) -> LStrHandle { return nullptr; };
  h.controlAt = [](ObjHeap, int32 i) { return i < int32(gPanel.size()) ? i + 1 : 0; };
  h.controlType = [](ObjHeap, int32 object) { return At(object)->type(); };
  h.isIndicator = [](ObjHeap, int32 object) -> Bool32 { return At(object)->indicator; };
  h.operateData = [](ObjHeap, int32 object) -> void* { return At(object)->data.data(); };
  h.writeAccessList = [](Bool32, CPStrHandle) { return MgErr(kNoErr); };
  SetServerUIHooks(h);
}

bool Start() {
  std::string root;
  if (!FuzzStartServerEngine("qxvmfXXXXXX", &root, false)) return false;
  VILoadPanelHooks reopen{};
  reopen.reopenVIFile = [](UHandle vi, uInt32, RsrcFileRef* file) {
    return ROpenFile(VIRec(vi)->path, kRsrcReadOnly, file, nullptr, nullptr);
  };
  SetVILoadPanelHooks(&reopen);
  RsrcFileRef ref = 0;
  if (!rsrcw::WriteHostFile(root + "/Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", runvi::Clumps::kAdd))))
    return false;
  Path path = nullptr;
  const char kPath[] = "L:\\Add.vi";
  if (FTextToPath(reinterpret_cast<const uChar*>(kPath), int32(sizeof kPath - 1), &path) != kNoErr ||
      ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr)
    return false;
  UHandle vi = nullptr;
  if (LoadInstrument(path, 0, reinterpret_cast<ConstPStr>("\006Add.vi"), ref, &vi, 0) != kLoadLoaded || !vi) return false;
  if (HoldVIName(VIRec(vi)->name, 0) != kNoErr) return false;
  if (AppOpenVIRefByName(kLocalAppRef, VIRec(vi)->name, nullptr, kVIRefOptTrusted, nullptr, &gRef, nullptr, nullptr,
                         nullptr) != kNoErr)
    return false;
  InstallPanel();
  // The panel and the member table's own descriptors are made once, before
  // runs count handles.
  AttrEntry none{1, 0, nullptr};
  VIRefDoMethod(gRef, 1010, 1, &none, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  MethodParamTypeDesc(kAutoClassVI, 1020, 0);
  PropInfoTypeDesc(kAutoClassApp, 34);
  return true;
}

bool OneOf(MgErr err, std::initializer_list<MgErr> codes) {
  for (MgErr c : codes)
    if (err == c) return true;
  return false;
}

LStrHandle StringOf(const std::vector<uChar>& bytes) {
  LStrHandle h = nullptr;
  if (srvval::SetString(&h, bytes.data(), int32(bytes.size()))) std::abort();
  return h;
}

// Bytes that are the given ones cut, lengthened, mutated, or random.
std::vector<uChar> Bent(FuzzReader& in, std::vector<uChar> b) {
  switch (in.Byte() % 5) {
    case 0: break;
    case 1: b.resize(b.size() ? in.Byte() % b.size() : 0); break;
    case 2: b.push_back(in.Byte()); break;
    case 3:
      if (!b.empty()) b[in.Byte() % b.size()] ^= uChar(1 + in.Byte() % 255);
      break;
    default:
      b.assign(in.Byte() % 24, 0);
      in.Bytes(b.data(), b.size());
  }
  return b;
}

// A type as the I16 array of its words, or null.
UHandle WordsOf(const std::vector<uChar>& bytes) {
  std::vector<int16> w(bytes.size() / 2);
  if (!w.empty()) std::memcpy(w.data(), bytes.data(), w.size() * 2);
  UHandle h = nullptr;
  if (srvval::SetWords(&h, w)) std::abort();
  return h;
}

std::vector<uChar> OwnWords(const Ctl& c) {
  const std::vector<int16> w = srvval::TypeWords(c.type());
  std::vector<uChar> b(w.size() * 2);
  std::memcpy(b.data(), w.data(), b.size());
  return b;
}

void FreeHandle(void* slot) {
  UHandle h = nullptr;
  std::memcpy(&h, slot, sizeof h);
  if (h) DSDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started) std::abort();
  FuzzReader in{data, size};
  const int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  for (int ops = 0; in.n && ops < 32; ++ops) {
    const Ctl& target = gPanel[in.Byte() % gPanel.size()];
    std::vector<uChar> label(target.label, target.label + std::strlen(target.label));
    if (in.Byte() % 8 == 0) label = Bent(in, label);
    LStrHandle name = StringOf(label);
    // The control the label names, if any.
    const Ctl* named = nullptr;
    for (const Ctl& c : gPanel)
      if (label == std::vector<uChar>(c.label, c.label + std::strlen(c.label))) named = &c;
    // A parameter list of up to five entries, each maybe without its value.
    const int32 count = in.Byte() % 6;
    bool present[6];
    for (bool& p : present) p = in.Byte() % 8 != 0;
    switch (in.Byte() % 5) {
      case 0: {  // Set Control Value
        std::vector<uChar> words = OwnWords(target);
        UHandle type = in.Byte() & 1 ? WordsOf(Bent(in, words)) : nullptr;
        LStrHandle flat = StringOf(Bent(in, FlatOf(target)));
        const std::vector<uChar> given(reinterpret_cast<uChar*>((*flat)->str),
                                       reinterpret_cast<uChar*>((*flat)->str) + (*flat)->cnt);
        std::vector<std::vector<uChar>> before;
        for (const Ctl& c : gPanel) before.push_back(FlatOf(c));
        void* values[4] = {nullptr, &name, &type, &flat};
        AttrEntry p[6] = {};
        for (int32 i = 0; i < 6; ++i) p[i] = {0, 0, i < 4 && present[i] ? values[i] : nullptr};
        const MgErr err = VIRefDoMethod(gRef, 1009, count, p, kVIRefOptTrusted, nullptr, nullptr, nullptr);
        FUZZ_CHECK(OneOf(err, {0, kArgErr, kMemFullErr, kVIRefGenericErr}));
        for (size_t i = 0; i < gPanel.size(); ++i)
          if (err || &gPanel[i] != named) FUZZ_CHECK(FlatOf(gPanel[i]) == before[i]);
        // The value is the data given, byte for byte, for the types whose
        // flat form has one spelling (not a Boolean, which any nonzero byte
        // sets, nor a path, whose flat header has more than one).
        if (!err) FUZZ_CHECK(named && !named->indicator);
        if (!err && std::strchr("nsa", named->label[0])) FUZZ_CHECK(FlatOf(*named) == given);
        FreeHandle(&type);
        FreeHandle(&flat);
        break;
      }
      case 1: {  // Get Control Value
        LStrHandle flat = in.Byte() & 1 ? StringOf({1, 2, 3}) : nullptr;
        UHandle type = nullptr;
        void* values[3] = {&flat, &name, &type};
        AttrEntry p[6] = {};
        for (int32 i = 0; i < 6; ++i) p[i] = {1, 0, i < 3 && present[i] ? values[i] : nullptr};
        const MgErr err = VIRefDoMethod(gRef, 1010, count, p, kVIRefOptTrusted, nullptr, nullptr, nullptr);
        FUZZ_CHECK(OneOf(err, {0, kArgErr, kMemFullErr, kVIRefGenericErr}));
        if (!err && count > 0 && present[0] && count > 1 && present[1])
          FUZZ_CHECK(named && std::vector<uChar>((*flat)->str, (*flat)->str + (*flat)->cnt) == FlatOf(*named));
        FreeHandle(&flat);
        FreeHandle(&type);
        break;
      }
      case 2: {  // Get All Control Values
        UHandle all = nullptr;
        uInt8 controls = in.Byte() & 1;
        AttrEntry p[3] = {{1, 0, present[0] ? &all : nullptr}, {0, 0, present[1] ? &controls : nullptr}, {0, 0, nullptr}};
        const MgErr err = VIRefDoMethod(gRef, 1020, count % 4, p, kVIRefOptTrusted, nullptr, nullptr, nullptr);
        FUZZ_CHECK(OneOf(err, {0, kArgErr, kMemFullErr, kVIRefGenericErr}));
        DisposeData(MethodParamTypeDesc(kAutoClassVI, 1020, 0), &all, &all + 1);
        break;
      }
      case 3: {  // Convert Type and Data
        UHandle type = WordsOf(Bent(in, OwnWords(target)));
        LStrHandle flat = StringOf(Bent(in, FlatOf(target)));
        UHandle outType = in.Byte() & 1 ? WordsOf({}) : nullptr;
        LStrHandle outData = in.Byte() & 1 ? StringOf({9}) : nullptr;
        const UHandle keptType = outType;
        const LStrHandle keptData = outData;
        uInt8 previous = in.Byte() & 1;
        void* values[6] = {nullptr, &previous, &type, &flat, &outType, &outData};
        AttrEntry p[7] = {};
        for (int32 i = 0; i < 7; ++i) p[i] = {0, 0, i < 6 && present[i % 6] ? values[i] : nullptr};
        const MgErr err = AppDoMethod(kLocalAppRef, 2018, count + 1, p, kVIRefOptTrusted, nullptr, nullptr, nullptr);
        FUZZ_CHECK(OneOf(err, {0, kArgErr, kMemFullErr}));
        if (err) FUZZ_CHECK(outType == keptType && outData == keptData);
        for (void* h : {static_cast<void*>(&type), static_cast<void*>(&flat), static_cast<void*>(&outType),
                        static_cast<void*>(&outData)})
          FreeHandle(h);
        break;
      }
      default: {  // an application attribute vector
        const int32 n = 1 + in.Byte() % 4;
        std::vector<std::vector<uChar>> slots(size_t(n), std::vector<uChar>(16, 0));
        std::vector<AttrEntry> v;
        for (int32 i = 0; i < n; ++i) {
          const bool set = in.Byte() % 4 == 0;
          int32 selector = set ? 26 + in.Byte() % 2 : in.Byte() % 48;
          // The window layer's and the default folder's queries are left out.
          if (!set && (selector == 33 || selector == 34 || selector == 45)) selector = 0;
          if (set) {
            UHandle list = nullptr;
            MgErr e2 = kNoErr;
            const int32 entries = in.Byte() % 3;
            srvval::SizeArray(&list, StdTDTable[kStdTDString], entries, &e2);
            for (int32 k = 0; k < entries; ++k) {
              std::vector<uChar> text = Bent(in, {'+', '*'});
              LStrHandle s = StringOf(text);
              std::memcpy(*list + 4 + 4 * k, &s, 4);
            }
            std::memcpy(slots[size_t(i)].data(), &list, sizeof list);
          }
          v.push_back({set ? 0 : 1, selector, in.Byte() % 8 ? slots[size_t(i)].data() : nullptr});
        }
        MgErr error = -1;
        int32 index = -1;
        const int32 options = in.Byte() & 1 ? kVIRefOptTrusted : 0;
        const MgErr result = AppAttrVector(kLocalAppRef, n, v.data(), options, &error, &index, nullptr, nullptr, nullptr);
        FUZZ_CHECK(result == kNoErr);
        FUZZ_CHECK(error ? index >= 1 && index <= n : index == 0);
        FUZZ_CHECK(OneOf(error, {0, kArgErr, kMemFullErr, kVIRefSelectorErr, kVIRefUnsupportedErr, kVIRefAccessErr,
                                 kFileNotFoundErr}));
        for (int32 i = 0; i < n; ++i) {
          const TypeDescriptor* td = PropInfoTypeDesc(kAutoClassApp, v[size_t(i)].selector);
          uChar* slot = slots[size_t(i)].data();
          if (td && DataShape(td)) DisposeData(td, slot, slot + DataSize(td));
        }
        break;
      }
    }
    FreeHandle(&name);
  }
  FuzzArmed() = false;
  ResetControls();
  DropKeptControlValue();
  QXSSpecifyTcpAccess(nullptr);
  QXSSpecifyViAccess(nullptr);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
