// The local application's 46 properties (selectors 0 to 45) and its 19
// methods (2000 to 2018): table entries 5 and 9.
//
// Values are as the VI properties' (server/srvvalues.h).  The access lists
// (26, 27), the listener (32) and the log (39, 40) are the VI server's own
// settings; a new access list is parsed entry by entry before anything
// changes, and persists in the preferences.
#include <cstring>
#include <utility>
#include <vector>

#include "engine/flatten.h"
#include "engine/membertab.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/appdirs.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/wsysinfo.h"
#include "server/access.h"
#include "server/srvhooks.h"
#include "server/srvstart.h"
#include "server/srvvalues.h"
#include "server/viref.h"

using namespace srvval;

namespace {

constexpr int32 kRemoteForbidden = 0x08;
constexpr int32 kLastProperty = 45;
// The items of the enumerations: the run-time system, its system and CPU.
constexpr int32 kRunTimeSystem = 2, kTargetOS = 3, kTargetCPU = 3;
enum : int32 { kBringToFront = 2014, kConvertTypeAndData = 2018 };
const uChar kSettingTitle[] = "\024Setting app property";

Str255 gMenuLaunch = {0};

MgErr BadSelector(const char* format, int32 selector) {
  DBPrintf(format, long(selector));
  return kVIRefSelectorErr;
}

bool Unsupported(int32 selector) {
  return selector == 1 || (selector >= 9 && selector <= 24) || selector == 31 ||
         (selector >= 36 && selector <= 38) || (selector >= 41 && selector <= 44);
}

// A path a query fills (an existing path) copied into the caller's variable.
MgErr GetPath(void* value, MgErr (*query)(Path out)) {
  if (!query) return kArgErr;
  Path p = FEmptyPath(nullptr);
  if (!p) return kMemFullErr;
  MgErr err = query(p);
  if (!err) err = SetPath(value, p);
  FDisposePath(p);
  return err;
}

MgErr GetAppName(void* value) {
  Path p = nullptr;
  MgErr err = FAppFilePath(&p);
  Str255 name{0};
  if (!err) err = FNamePtr(p, name);
  if (p) FDisposePath(p);
  return err ? err : SetPString(value, name);
}

// The names of the loaded standard, control and global VIs in load order:
// the system VIs alone (30), or all others (28), or those of them the
// exported-VI list lets out (8).
MgErr GetVINames(void* value, int32 selector) {
  std::vector<ConstPStr> names;
  for (UHandle vi = FirstLoadedVI(); vi; vi = VIRec(vi)->next) {
    const VIRecord* r = VIRec(vi);
    if (r->viKind != kVIKindDatalog && r->viKind != kVIKindControl && r->viKind != kVIKindGlobal) continue;
    const bool system = (r->marks & kVIMarkSystemVI) != 0;
    if (system != (selector == 30)) continue;
    if (selector == 8 && !QXSViAccessAllowed(r->name, r->path)) continue;
    names.push_back(r->name);
  }
  return SetNames(value, names);
}

MgErr GetMonitors(void* value) {
  const TypeDescriptor* elt = ArrayElement(PropInfoTypeDesc(kAutoClassApp, 34));
  std::vector<std::pair<Rect, int32>> monitors;
  Rect r;
  int32 depth = 0;
  while (monitors.size() < 64 && WGetMonitorInfo(int32(monitors.size()), &r, &depth) == kNoErr)
    monitors.push_back({r, depth});
  MgErr err = kNoErr;
  uChar* at = SizeArray(static_cast<UHandle*>(value), elt, int32(monitors.size()), &err);
  if (!at) return err ? err : MgErr(kMemFullErr);
  const std::vector<int32> field = ElementOffsets(elt);
  for (const auto& [bounds, bits] : monitors) {
    PutRect(at + field[0], bounds);
    PutI16(at + field[1], bits);
    at += DataSize(elt);
  }
  return kNoErr;
}

MgErr GetAccessList(void* value, CPStrHandle list) {
  if (!list) return kMemFullErr;
  std::vector<ConstPStr> entries;
  for (int32 i = 0, n = (*list)->cnt; i < n; ++i)
    if (ConstPStr entry = CPStrIndex(list, i)) entries.push_back(entry);
  return SetNames(value, entries);
}

bool SameList(CPStrHandle a, CPStrHandle b) {
  const int32 na = a ? (*a)->cnt : 0, nb = b ? (*b)->cnt : 0;
  return na == nb && (na == 0 || CPStrEqual(a, b));
}

// A new access list: every string shorter than 256 characters and an entry
// of its list, else 1 and nothing changes.  An unchanged list writes
// nothing; a new one is parsed into the list's table, becomes the current
// list and is written to the preferences (or its key removed when it is
// the default).
MgErr SetAccessList(bool tcp, const void* value) {
  uChar* first = nullptr;
  int32 count = 0;
  if (!ArrayElements(*static_cast<const UHandle*>(value), sizeof(LStrHandle), &first, &count)) return kArgErr;
  auto fresh = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  if (!fresh) return kMemFullErr;
  MgErr err = kNoErr;
  for (int32 i = 0; i < count && !err; ++i) {
    LStrHandle s = nullptr;
    std::memcpy(&s, first + sizeof s * size_t(i), sizeof s);
    const uChar* bytes = nullptr;
    int32 n = 0;
    Str255 entry{0};
    if (!StringBytes(s, &bytes, &n) || n >= 256) {
      err = kArgErr;
      break;
    }
    entry[0] = uChar(n);
    if (n) std::memcpy(entry + 1, bytes, size_t(n));
    const bool parses = tcp ? QXSParseTcpEntry(entry, nullptr, nullptr, nullptr) : QXSParseViEntry(entry, nullptr);
    err = !parses ? kArgErr : CPStrInsert(fresh, entry, i);
  }
  if (!err && !SameList(fresh, tcp ? QXSTcpAccessList() : QXSViAccessList())) {
    err = tcp ? QXSSpecifyTcpAccess(fresh) : QXSSpecifyViAccess(fresh);
    if (!err && ServerUI().writeAccessList) err = ServerUI().writeAccessList(tcp ? 1 : 0, fresh);
  }
  AZDisposeHandle(reinterpret_cast<UHandle>(fresh));
  return err;
}

// Convert Type and Data: the source type (parameter 2) and flat data (3) of
// the current or, with the Boolean (1), the previous format, into the
// output type (4) and data (5) of the other.  The outputs change only when
// the whole conversion succeeds.
MgErr ConvertTypeAndData(const AttrEntry* params, int32 count) {
  const auto at = [&](int32 i) { return i < count ? params[i].value : nullptr; };
  if (!at(1) || !at(2) || !at(3)) return kArgErr;
  auto* outType = static_cast<UHandle*>(at(4));
  auto* outData = static_cast<LStrHandle*>(at(5));
  if (!outType && !outData) return kNoErr;
  UHandle srcType = *static_cast<UHandle*>(at(2));
  LStrHandle srcData = *static_cast<LStrHandle*>(at(3));
  uChar* words = nullptr;
  const uChar* bytes = nullptr;
  int32 n = 0;
  if (!ArrayElements(srcType, 2, &words, &n) || !StringBytes(srcData, &bytes, &n)) return kArgErr;
  UHandle newType = outType ? DSNewHClr(sizeof(int32)) : nullptr;
  UHandle newData = outData ? DSNewHClr(sizeof(int32)) : nullptr;
  MgErr err = (outType && !newType) || (outData && !newData) ? kMemFullErr : kNoErr;
  if (!err) err = ConvertFlatDataVersion(srcType, newType, srcData, reinterpret_cast<LStrHandle>(newData),
                                         GetBool(at(1)) ? 1 : 0);
  // On success the outputs take the new handles and their old ones go.
  if (!err && outType) std::swap(*outType, newType);
  if (!err && outData) std::swap(*reinterpret_cast<UHandle*>(outData), newData);
  if (newType) DSDisposeHandle(newType);
  if (newData) DSDisposeHandle(newData);
  return err;
}

}  // namespace

void SetMenuLaunchVIName(ConstPStr name) {
  if (name) std::memcpy(gMenuLaunch, name, size_t(name[0]) + 1);
  else gMenuLaunch[0] = 0;
}

MgErr AproGetAttribute(AppRecord*, int32 selector, void* value, PStr) {
  if (selector < 0 || selector > kLastProperty || selector == 35)
    return BadSelector("AproGetAttribute: bad selector: %ld", selector);
  if (Unsupported(selector)) return kVIRefUnsupportedErr;
  if (!value) return kNoErr;
  switch (selector) {
    case 0: return GetAppName(value);
    case 2: {
      const ConstPStr version = ServerUI().versionText ? ServerUI().versionText() : nullptr;
      return SetPString(value, version ? version : reinterpret_cast<ConstPStr>(""));
    }
    case 3: PutI32(value, kRunTimeSystem); return kNoErr;
    case 4: PutI32(value, kTargetOS); return kNoErr;
    case 5: PutI32(value, kTargetCPU); return kNoErr;
    case 6: {
      Str255 name{0};
      return SetPString(value, WGetOSName(name));
    }
    case 7: {
      Str255 version{0};
      return SetPString(value, WGetOSVersion(version));
    }
    case 8: case 28: case 30: return GetVINames(value, selector);
    case 25: return GetPath(value, &GetAppPath);
    case 26: return GetAccessList(value, QXSViAccessList());
    case 27: return GetAccessList(value, QXSTcpAccessList());
    case 29: {
      // The name is read once.
      const MgErr err = SetPString(value, gMenuLaunch);
      gMenuLaunch[0] = 0;
      return err;
    }
    case 32: PutBool(value, SrvIsListening()); return kNoErr;
    case 33: {
      Rect work{0, 0, 0, 0};
      WGetWorkAreaRect(Point{0, 0}, &work);
      PutRect(value, work);
      return kNoErr;
    }
    case 34: return GetMonitors(value);
    case 39: {
      Bool32 on = 0;
      const MgErr err = GetServerLogging(nullptr, &on);
      PutBool(value, on);
      return err;
    }
    case 40: return GetPath(value, [](Path out) { return GetServerLogging(out, nullptr); });
    case 45: return GetPath(value, ServerUI().getDefaultDir);
    default: return BadSelector("AproGetAttribute: bad selector: %ld", selector);
  }
}

MgErr ThisApp_SetAttribute(AppRecord*, int32 selector, void* value, PStr) {
  if (Unsupported(selector)) return kVIRefUnsupportedErr;
  switch (selector) {
    case 26: case 27: case 32: case 39: case 40: case 45: break;
    // Every other selector, read-only ones included.
    default: return BadSelector("ThisApp_SetAttribute: bad selector: %ld", selector);
  }
  if (!value) return kArgErr;
  switch (selector) {
    case 26: return SetAccessList(false, value);
    case 27: return SetAccessList(true, value);
    case 32: return SetServerListening(GetBool(value) ? 1 : 0);
    case 39: return SetServerLogging(GetBool(value) ? 1 : 0, kSettingTitle);
    case 40: return SetServerLogPath(*static_cast<Path*>(value), kSettingTitle);
    default: {
      Path folder = *static_cast<Path*>(value);
      if (!folder || !ServerUI().setDefaultDir) return kArgErr;
      return ServerUI().setDefaultDir(folder);
    }
  }
}

MgErr ThisApp_AppAttrVector(AppRecord* app, AppRef, int32 count, AttrEntry* vector, int32 options, MgErr* error,
                            int32* index, PStr text, AsyncCompletion, AsyncRef* async) {
  MgErr localError = kNoErr;
  int32 localIndex = 0;
  if (!error) error = &localError;
  if (!index) index = &localIndex;
  if (async) *async = nullptr;
  *error = kNoErr;
  *index = 0;
  if (count > 0 && !vector) {
    *error = kArgErr;
    *index = 1;
    return kNoErr;
  }
  const bool untrusted = !(options & kVIRefOptTrusted);
  for (int32 i = 0; i < count; ++i) {
    const AttrEntry& e = vector[i];
    if (!e.value) continue;
    const AutoPropInfo* info = PropInfoLookup(kAutoClassApp, e.selector);
    MgErr err = kNoErr;
    if (untrusted && info && (info->flags & kRemoteForbidden)) err = kVIRefAccessErr;
    else err = e.get ? AproGetAttribute(app, e.selector, e.value, text)
                     : ThisApp_SetAttribute(app, e.selector, e.value, text);
    if (err) {
      *error = err;
      *index = i + 1;
      break;
    }
  }
  return kNoErr;
}

MgErr ThisApp_AppDoMethod(AppRecord*, AppRef, int32 method, int32 count, AttrEntry* params, int32, PStr,
                          AsyncCompletion, AsyncRef* async) {
  if (async) *async = nullptr;
  if (method != kBringToFront && method != kConvertTypeAndData) return kVIRefMethodErr;
  const AutoMethodInfo* info = MethodInfoLookup(kAutoClassApp, method);
  if (count < 0 || count > info->paramCount || (count > 0 && !params)) return kArgErr;
  if (method == kBringToFront) {
    WFrameToFront();
    return kNoErr;
  }
  return ConvertTypeAndData(params, count);
}
