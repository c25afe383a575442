#include "engine/link/hierarchy.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "mgsource/printf.h"

namespace {

// Word 10 of a panel heap's extension: the panel's window, 0 while it has none.
constexpr int32 kPanelExtWindow = 40;

RsrcFileRef gTmpRsrcFile = 0;

int32 HandleSize(UHandle h) {
  if (AZIsHandle(h)) return AZGetHandleSize(h);
  if (MemIsDSHandle(h)) return DSGetHandleSize(h);
  return 0;
}

// The length of a Pascal string held in a handle, cut to what the handle holds.
int32 StoredPStrLen(UHandle h) {
  const int32 size = HandleSize(h);
  if (size <= 0) return 0;
  return (*h)[0] < size ? (*h)[0] : size - 1;
}

// The VI records of a caller list: a 32-bit count, then the handles.  A
// count larger than the handle holds is cut to what it holds.
std::vector<UHandle> Callers(UHandle list) {
  std::vector<UHandle> out;
  const int32 size = list ? HandleSize(list) : 0;
  if (size < 4) return out;
  int32 n = int32(GetNative32(*list));
  if (n < 0) n = 0;
  if (n > (size - 4) / 4) n = (size - 4) / 4;
  for (int32 i = 0; i < n; ++i) out.push_back(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*list + 4 + 4 * i))));
  return out;
}

// Formats into a string; the format need not end with a NUL.
std::string Format(const char* fmt, int32 fmtLen, ...) {
  va_list args, again;
  va_start(args, fmtLen);
  va_copy(again, args);
  const int32 n = SPrintfv(nullptr, 0, fmt, fmtLen, args);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) SPrintfv(out.data(), n, fmt, fmtLen, again);
  va_end(again);
  va_end(args);
  return out;
}

}  // namespace

int32 VIHierarchyHasName(UHandle vi, ConstPStr name) {
  if (!vi || !name) return 0;
  // Depth first, each caller list from its last entry to its first; a VI
  // reached twice (shared callers, or a loop in broken lists) is searched once.
  std::vector<UHandle> stack{vi};
  std::unordered_set<UHandle> seen;
  while (!stack.empty()) {
    UHandle v = stack.back();
    stack.pop_back();
    if (!v || !seen.insert(v).second) continue;
    if (PStrCaseCmp(VIRec(v)->name, name) == 0) return 1;
    std::vector<UHandle> callers = Callers(VIRec(v)->callers);
    stack.insert(stack.end(), callers.begin(), callers.end());  // the last is popped first
  }
  return 0;
}

void GetVITitle(UHandle vi, PStr title, Bool32 plain) {
  if (!vi || !title || title[0]) return;
  const VIRecord* r = VIRec(vi);
  const uChar* text = r->name + 1;
  int32 n = r->name[0];
  if (UHandle t = r->title) {
    n = StoredPStrLen(t);
    if (n) text = *t + 1;
  }
  int32 at = 1;
  if (!plain) {
    title[1] = title[2] = '_';
    at = 3;
  }
  if (n > 256 - at) n = 256 - at;
  if (n > 0) std::memmove(title + at, text, size_t(n));
  title[0] = uChar(at - 1 + n);
}

void UpdateVIWindowTitle(UHandle vi) {
  if (!vi) return;
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel) return;
  const int32 ext = int32(OHWord(panel, kOHExtension));
  if (ext <= 0 || int64(ext) + kPanelExtWindow + 4 > HandleSize(panel)) return;
  const int32 window = int32(GetNative32(*panel + ext + kPanelExtWindow));
  if (!window) return;
  Str255 title;
  title[0] = 0;
  GetVITitle(vi, title, 1);
  SetWindowTitle(window, title);
}

void SaveErrorAlert(ConstPStr viName, int32 strId, int32 listId, MgErr err, int32 loadError) {
  const RsrcFileRef rt = RunTimeRsrcFile();
  Str255 name;
  name[0] = 0;
  if (viName) PStrCpy(name, viName);
  std::string first;
  UHandle fmt = nullptr;
  if (RGetString(rt, strId, &fmt) != kNoErr || !fmt) {
    DBAssert(__FILE__, __LINE__, "the load error text is missing");
  } else {
    if (int32 n = StoredPStrLen(fmt)) first = Format(reinterpret_cast<const char*>(*fmt + 1), n, name);
  }
  // Entry 1 formats the second line; an entry that cannot be read is empty.
  Str255 lineFmt, entry;
  if (RGetIndString(rt, lineFmt, listId, 1) != kNoErr) lineFmt[0] = 0;
  if (RGetIndString(rt, entry, listId, loadError) != kNoErr) entry[0] = 0;
  const std::string second = Format(reinterpret_cast<const char*>(lineFmt + 1), lineFmt[0], loadError, entry);
  const std::string text = Format("%s\n%s", 5, first.c_str(), second.c_str());
  if (err != kNoErr) ErrDialogText(err, text.c_str());
  else OneButtonAlert(kAlertCStr, text.c_str(), nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

void SetTmpQXRsrcFile(RsrcFileRef file) { gTmpRsrcFile = file; }
RsrcFileRef TmpQXRsrcFile() { return gTmpRsrcFile; }

int32 XferRsrcToTmpQXRsrcFile(RsrcFileRef file, ResType type, int32 id, UHandle* handle) {
  if (handle) *handle = nullptr;
  const RsrcFileRef tmp = gTmpRsrcFile;
  // RUniqueID answers an unknown file with 13, which is also an id: ask it
  // only of a file that is open.
  int32 types = 0;
  if (!tmp || RCountTypes(tmp, &types) != kNoErr) return 0;
  const int32 newId = RUniqueID(tmp, type);
  if (newId == 0) return 0;
  UHandle h = nullptr;
  if (RGet(file, type, id, &h) != kNoErr || RDetach(h) != kNoErr) return 0;
  if (RAdd(h, tmp, type, newId, nullptr) != kNoErr) {
    AZDisposeHandle(h);  // the resource stays in its own file
    return 0;
  }
  if (handle) *handle = h;
  return newId;
}

MgErr XferRsrcFromTmpQXRsrcFile(RsrcFileRef file, ResType type, int32 tmpId, int32 newId) {
  UHandle h = nullptr;
  if (MgErr err = RGet(gTmpRsrcFile, type, tmpId, &h)) return err;
  if (MgErr err = AZHandToHand(&h)) return err;
  const MgErr err = RAdd(h, file, type, newId, nullptr);
  if (err) AZDisposeHandle(h);
  return err;
}

MgErr GetTmpRsrc(ResType type, int32 id, UHandle* handle) { return RGet(gTmpRsrcFile, type, id, handle); }

MgErr RemRsrcFromTmpQXRsrcFile(ResType type, int32 id) {
  UHandle h = nullptr;
  if (MgErr err = RGet(gTmpRsrcFile, type, id, &h)) return err;
  if (MgErr err = RRemove(h, gTmpRsrcFile)) return err;
  AZDisposeHandle(h);  // removed from the map, the handle is no one's
  return kNoErr;
}
