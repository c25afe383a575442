// Loading an external subroutine from its subroutine file: the processor
// check, the code, and its link information.
#include "engine/exec/rttable.h"
#include "engine/link/linkinfo.h"
#include "engine/link/linker.h"
#include "engine/vi/viload_internal.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"

namespace {
// The word of a loaded code record that names its kind.
constexpr int32 kCodeRecKindAt = 8;

UHandle GetNamedDetached(RsrcFileRef file, ResType type, ConstPStr name, int32* id) {
  UHandle h = nullptr;
  if (RGetNamed(file, type, name, &h) != kNoErr || !h) return nullptr;
  if (id) {
    ResType t = 0;
    if (RGetInfo(h, id, &t, nullptr) != kNoErr) *id = 0;
  }
  if (RDetach(h) != kNoErr) return nullptr;
  return h;
}
}  // namespace

MgErr LoadSubroutineCode(RsrcFileRef* file, Path path, ConstPStr name, UPtr* codeRec, int32* rsrcID,
                         int32* linkStatus, int32 mode) {
  if (codeRec) *codeRec = nullptr;
  if (rsrcID) *rsrcID = 0;
  if (linkStatus) *linkStatus = 0;
  if (!file || !*file || !name) return kArgErr;
  const RsrcFileRef f = *file;
  UHandle plat = nullptr;
  if (RGetNamed(f, kSubrPlatformRsrcType, name, &plat) != kNoErr || !plat) {
    DBPrintf("RGetNamed error");
    RsrcMissingAlert(path, name);
    return kRsrcNotFoundErr;
  }
  const bool ours = AZGetHandleSize(plat) >= 4 && GetNative32(*plat) == kCodeProcessor;
  RRelease(plat);
  if (!ours) return kRsrcNotFoundErr;

  int32 id = 0;
  UHandle code = GetNamedDetached(f, kSubrCodeRsrcType, name, &id);
  if (!code) {
    RsrcMissingAlert(path, name);
    return kRsrcNotFoundErr;
  }
  UHandle lisb = GetNamedDetached(f, kLinkInfoSubr, name, nullptr);
  MgErr err = kNoErr;
  if (lisb) err = RenameLinkInfoItem(lisb, name);
  UPtr block = nullptr;
  if (err == kNoErr) err = LoadExtCode(code, &block, 0, int32(uintptr_t(name)), int32(uintptr_t(QXRTTable)));
  if (err == kNoErr) {
    const bool cin = ExtCodeBlockSize(block) >= kCodeRecKindAt + 4 &&
                     GetNative32(reinterpret_cast<uChar*>(block) + kCodeRecKindAt) == kCINCodeKind;
    if (mode != 1 || cin) {
      AZDisposeHandle(code);
      code = nullptr;
      if (!cin) {
        RCloseFile(f);
        *file = 0;
      }
      int32 st = kLoadLoaded;
      if (lisb) {
        MgErr le = kNoErr;
        st = ReadLinkInfo(block, lisb, path, kLinkInfoSubr, &le);
        if (le != kNoErr) err = le;
      } else if (const int16 e = AddLinkEntry(block, name, nullptr, kLinkClassCodes[kLinkClassSubr], path)) {
        err = e == 2 ? kMemFullErr : kArgErr;
      }
      if (err == kNoErr && linkStatus) *linkStatus = st;
    } else {
      err = kRsrcNotFoundErr;
      viload::WarningAlert(kWarnSubrAsCIN, nullptr, nullptr);
    }
    if (err != kNoErr) {
      UnloadExtCode(block);
      block = nullptr;
    }
  } else if (err == kCINOldCompilerErr) {
    viload::WarningAlert(kWarnCINOldCompiler, name, nullptr);
  } else if (err == kCINNewerVersionErr) {
    viload::WarningAlert(kWarnCINNewer, name, nullptr);
  } else if (err == kCINTempLibErr) {
    viload::WarningAlert(kWarnTempFile, nullptr, nullptr);
  }
  if (lisb) AZDisposeHandle(lisb);
  if (code) AZDisposeHandle(code);
  if (err != kNoErr) return err;
  if (codeRec) *codeRec = block;
  if (rsrcID) *rsrcID = id;
  return kNoErr;
}
