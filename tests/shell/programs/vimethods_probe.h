// The built runner's probe of the VI server's methods and application
// properties on the demo's VI (the control "x", the indicator "y"), through
// the references' front door as a trusted local caller, with the hooks the
// program's start-up filled.  One line per step:
//   open=<error> get=<error> x=<value> type=<the type's words in hex>
//   set=<error> x=<value> indicator=<error> "<its text>"
//   controls=<names> indicators=<names>
//   reinit=<error> x=<value>
//   image=<error> colours=<n> bytes=<n> width=<n> lock=<error> <state> <locked>
//   run=<error> heard=<the completion's error>
//   app=<name> kind=<item> os=<name> <version> dir=<absolute> monitors=<n> default=<absolute>
//       work=<width> vector=<error>
// and with an exported-VI list given, "access=<error>" once it is set.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/membertab.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/path.h"
#include "server/appserve.h"
#include "server/srvvalues.h"
#include "shell/background.h"
#include "shell/userevent.h"

namespace probe {

inline std::string Text(LStrHandle h) {
  return h && *h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : "";
}
inline LStrHandle Str(const std::string& s) {
  LStrHandle h = nullptr;
  srvval::SetString(&h, reinterpret_cast<const uChar*>(s.data()), int32(s.size()));
  return h;
}
inline MgErr Do(VIRef ref, int32 method, std::vector<AttrEntry> p, PStr text = nullptr,
                AsyncCompletion done = nullptr, AsyncRef* async = nullptr) {
  return VIRefDoMethod(ref, method, int32(p.size()), p.data(), kVIRefOptTrusted, text, done, async);
}
inline int32 GetX(VIRef ref) {
  LStrHandle flat = nullptr, name = Str("x");
  Do(ref, 1010, {{1, 0, &flat}, {0, 0, &name}});
  int32 x = -1;
  if (flat && (*flat)->cnt == 4) x = int32(GetBE32((*flat)->str));
  DSDisposeHandle(reinterpret_cast<UHandle>(flat));
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
  return x;
}
// Turns the main loop's work (events, the user-interface slice) until done.
template <class Cond>
bool Turn(Cond done) {
  const uInt32 deadline = MilliSecs() + 20000;
  while (!done()) {
    if (MillisecCmp(MilliSecs(), deadline) > 0) return false;
    const int32 busy = WBackground(0);
    WEventRecord e{};
    bool any = false;
    while (WGetNextEvent(&e)) {
      any = true;
      DispatchUserEvent(&e);
    }
    if (!any && busy != 2) WSleep(1);
  }
  return true;
}
MgErr gHeard = -1;

// The names a 1020 lists.
inline std::string Names(VIRef ref, bool controls) {
  UHandle list = nullptr;
  uInt8 which = controls;
  Do(ref, 1020, {{1, 0, &list}, {0, 0, &which}});
  std::string out;
  uChar* e = nullptr;
  int32 n = 0;
  const TypeDescriptor* all = MethodParamTypeDesc(kAutoClassVI, 1020, 0);
  const int32 stride = DataSize(srvval::ArrayElement(all));
  if (srvval::ArrayElements(list, stride, &e, &n))
    for (int32 i = 0; i < n; ++i) {
      LStrHandle name = nullptr;
      std::memcpy(&name, e + i * stride, 4);
      out += (i ? "," : "") + Text(name);
    }
  DisposeData(all, &list, &list + 1);
  return out;
}

inline int Methods(UHandle vi, const std::vector<std::string>& access) {
  VIRef ref = 0;
  MgErr err = AppOpenVIRefByName(kLocalAppRef, VIRec(vi)->name, nullptr, kVIRefOptTrusted, nullptr, &ref, nullptr,
                                 nullptr, nullptr);
  LStrHandle flat = nullptr, x = Str("x"), y = Str("y");
  UHandle type = nullptr;
  std::printf("open=%d get=%d", int(err), int(Do(ref, 1010, {{1, 0, &flat}, {0, 0, &x}, {1, 0, &type}})));
  std::printf(" x=%d type=", flat && (*flat)->cnt == 4 ? int(GetBE32((*flat)->str)) : -1);
  uChar* w = nullptr;
  int32 n = 0;
  if (srvval::ArrayElements(type, 2, &w, &n))
    for (int32 i = 0; i < n; ++i) std::printf("%04x", unsigned(uInt16(srvval::GetI16(w + 2 * i))));
  std::printf("\n");
  const uChar seven[] = {0, 0, 0, 7};
  srvval::SetString(&flat, seven, 4);
  Str255 text{0};
  err = Do(ref, 1009, {{0, 0, nullptr}, {0, 0, &x}, {0, 0, &type}, {0, 0, &flat}});
  const MgErr onIndicator = Do(ref, 1009, {{0, 0, nullptr}, {0, 0, &y}, {0, 0, &type}, {0, 0, &flat}}, text);
  std::printf("set=%d x=%d indicator=%d \"%.*s\"\n", int(err), int(GetX(ref)), int(onIndicator), int(text[0]),
              reinterpret_cast<const char*>(text + 1));
  std::printf("controls=%s indicators=%s\n", Names(ref, true).c_str(), Names(ref, false).c_str());
  err = Do(ref, 1012, {});
  std::printf("reinit=%d x=%d\n", int(err), int(GetX(ref)));
  UHandle bits = nullptr, colours = nullptr;
  int32 depth = 16;
  int16 bounds[4] = {};
  err = Do(ref, 1016, {{0, 0, nullptr}, {0, 0, nullptr}, {0, 0, &depth}, {1, 0, &bits}, {1, 0, &colours}, {1, 0, bounds}});
  int32 nColours = 0, nBytes = 0;
  srvval::ArrayElements(colours, 4, &w, &nColours);
  srvval::ArrayElements(bits, 1, &w, &nBytes);
  int32 state = 0;
  uInt8 locked = 1;
  const MgErr lock = Do(ref, 1021, {{1, 0, &state}, {1, 0, &locked}});
  std::printf("image=%d colours=%d bytes=%d width=%d lock=%d %d %d\n", int(err), int(nColours), int(nBytes),
              int(bounds[2] - bounds[0]), int(lock), int(state), int(locked));
  AsyncRef async = nullptr;
  err = Do(ref, 1003, {}, nullptr, [](AsyncRef a) { gHeard = a->error; }, &async);
  Turn([] { return gHeard != -1; });
  std::printf("run=%d heard=%d\n", int(err), int(gHeard));
  LStrHandle name = nullptr;
  int32 kind = 0;
  Path dir = nullptr;
  UHandle monitors = nullptr;
  LStrHandle os = nullptr, version = nullptr;
  Path dflt = nullptr;
  int16 work[4] = {};
  AttrEntry v[] = {{1, 0, &name},  {1, 3, &kind},         {1, 6, &os},  {1, 7, &version},
                   {1, 25, &dir},  {1, 34, &monitors}, {1, 45, &dflt}, {1, 33, work}};
  MgErr first = 0;
  int32 index = 0;
  AppAttrVector(kLocalAppRef, 8, v, kVIRefOptTrusted, &first, &index, nullptr, nullptr, nullptr);
  srvval::ArrayElements(monitors, 10, &w, &n);
  std::printf("app=%s kind=%d os=%s %s dir=%d monitors=%d default=%d work=%d vector=%d\n", Text(name).c_str(),
              int(kind), Text(os).c_str(), Text(version).c_str(), dir && FIsAbsPath(dir) ? 1 : 0, int(n),
              dflt && FIsAbsPath(dflt) ? 1 : 0, int(work[2] - work[0]), int(first));
  if (dflt) FDisposePath(dflt);
  if (!access.empty()) {
    UHandle list = nullptr;
    std::vector<LStrHandle> items;
    MgErr e2 = kNoErr;
    srvval::SizeArray(&list, StdTDTable[kStdTDString], int32(access.size()), &e2);
    for (size_t i = 0; i < access.size(); ++i) {
      LStrHandle s = Str(access[i]);
      std::memcpy(*list + 4 + 4 * i, &s, 4);
    }
    std::printf("access=%d\n", int(AppSetAttribute(kLocalAppRef, 26, &list, kVIRefOptTrusted, nullptr, nullptr, nullptr)));
    DisposeData(StdTDTable[25], &list, &list + 1);
  }
  for (UHandle h : {reinterpret_cast<UHandle>(flat), reinterpret_cast<UHandle>(x), reinterpret_cast<UHandle>(y), type,
                    bits, colours, reinterpret_cast<UHandle>(name), reinterpret_cast<UHandle>(os),
                    reinterpret_cast<UHandle>(version), monitors})
    if (h) DSDisposeHandle(h);
  if (dir) FDisposePath(dir);
  return VIRefRelease(ref) == kNoErr ? 0 : 6;
}

}  // namespace probe
