#include "olesource/oletypeinfo.h"

#include <cstdio>
#include <string>

#include "mgsource/appdirs.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "olesource/oleserv.h"
#include "platform/qx_registry.h"
#include "platform/qx_typeinfo.h"

namespace {

PlatHResult InfoOf(PlatTypeLib* lib, const PlatGuid& iid, void** out) {
  const PlatHResult r = PlatTypeLibInfoOfGuid(lib, iid, out);
  PlatTypeLibRelease(lib);
  return r;
}

// The library at the path (host text of a path of this system).
PlatHResult LoadPath(Path file, PlatTypeLib** lib) {
  char host[kHostTextBufSize];
  if (!file || FPathToHostText(file, host) != kNoErr) return kPlatTypeLibLoadFailed;
  return PlatTypeLibLoad(host, lib);
}

// The library registered for the identifier, version and language (the
// language's own key, else the neutral one): kPlatTypeLibLoadFailed when
// none is registered or it cannot be read.
PlatHResult LoadRegistered(const PlatGuid& id, uInt32 lcid, PlatTypeLib** lib) {
  char guid[kPlatGuidTextLength + 1];
  PlatGuidToText(id, guid);
  for (uInt32 language : {lcid, uInt32(0)}) {
    char key[128];
    std::snprintf(key, sizeof key, "TypeInfo\\%s\\%d.%d\\%x\\file2", guid, int(kOleServerMajor),
                  int(kOleServerMinor), unsigned(language));
    char text[1024];
    if (PlatRegQueryValue(kPlatRegClassesRoot, key, text, sizeof text) != kPlatRegOk) continue;
    Path p = nullptr;
    const uInt32 n = uInt32(std::char_traits<char>::length(text));
    if (FTextToPath(reinterpret_cast<const uChar*>(text), int32(n), &p) != kNoErr) continue;
    const PlatHResult r = LoadPath(p, lib);
    FDisposePath(p);
    return r;
  }
  return kPlatTypeLibLoadFailed;
}

}  // namespace

PlatHResult OleLoadTypeInfoFile(Path file, const PlatGuid& iid, uInt32 lcid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  PlatTypeLib* lib = nullptr;
  if (PlatHResult r = LoadPath(file, &lib); r != kPlatOk) return r;
  if ((PlatTypeLibLanguage(lib) & 0x3FF) != lcid) {
    PlatTypeLibRelease(lib);
    return kPlatDispUnknownLcid;
  }
  return InfoOf(lib, iid, out);
}

PlatHResult OleLoadTypeInfo(const PlatGuid& iid, uInt32 lcid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  PlatTypeLib* lib = nullptr;
  if (LoadRegistered(OleServerGuid(kOleGuidTypeLib), lcid, &lib) == kPlatOk) return InfoOf(lib, iid, out);
  Path file = FEmptyPath(nullptr);
  if (!file) return kPlatOutOfMemory;
  const std::string name = OleTypeLibFileName();
  Str255 leaf;
  leaf[0] = uChar(name.size() > 255 ? 255 : name.size());
  std::char_traits<char>::copy(reinterpret_cast<char*>(leaf + 1), name.data(), leaf[0]);
  PlatHResult r = kPlatTypeLibLoadFailed;
  if (GetAppPath(file) == kNoErr && FAppendName(file, leaf) == kNoErr) r = OleLoadTypeInfoFile(file, iid, lcid, out);
  FDisposePath(file);
  return r;
}
