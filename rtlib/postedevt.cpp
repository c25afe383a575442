#include "rtlib/postedevt.h"

#include <cstring>

#include "engine/exec/postedcb.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runtexts.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "rtlib/filerefnum.h"

namespace {

PostedEvtRec* Rec(UHandle h) { return reinterpret_cast<PostedEvtRec*>(*h); }

MgErr RunFileDialog(UHandle request, const PostedEvtRec& r) {
  const PostedFileDialogIn* in = static_cast<const PostedFileDialogIn*>(r.data);
  if (!in) return kArgErr;
  Path path = FEmptyPath(nullptr);
  if (!path) return kMemFullErr;
  if (in->start) FPathCpy(path, in->start);
  Str255 name = {0};
  if (in->defaultName) std::memcpy(name, in->defaultName, size_t(in->defaultName[0]) + 1);
  const MgErr result = FileShell().fileDialog(kAlertDefaultPos, kAlertDefaultPos, in->prompt, path, name,
                                              in->pattern, PostedFileDialogFlags(in->selector));
  uChar exists = 0;
  if (result == kNoErr) {
    Path dir = FEmptyPath(nullptr);
    exists = FExists(path) != 0 || (dir && FDirName(path, dir) == kNoErr && FExists(dir) == 2);
    if (dir) FDisposePath(dir);
  } else {
    FNotAPath(path);
  }
  // The requester may have gone while the dialog was up.
  if (r.result && FileShell().targetValid(request)) {
    PostedFileDialogOut* out =
        reinterpret_cast<PostedFileDialogOut*>(static_cast<uChar*>(r.result) + r.resultSlot);
    if (!out->chosen) {
      out->chosen = path;
      path = nullptr;
    } else {
      FPathCpy(out->chosen, path);
    }
    out->exists = exists;
    out->result = result;
  }
  if (path) FDisposePath(path);
  return result;
}

void WriteButton(UHandle request, const PostedEvtRec& r, bool first) {
  if (!r.result || !FileShell().targetValid(request)) return;
  reinterpret_cast<PostedAlertOut*>(static_cast<uChar*>(r.result) + r.resultSlot)->firstButton = first ? 1 : 0;
}

}  // namespace

int32 PostedFileDialogFlags(int32 selector) {
  switch (selector) {
    case kFDSelectNew: return 0x4C8;            // files, folders may change, replace question
    case kFDSelectNewOrExisting: return 0x448;  // files, folders may change
    case kFDSelectFolder: return 0x550;         // folders, folders may change, must exist
    default: return 0x548;                      // files, folders may change, must exist
  }
}

UHandle NewPostedEvtHandle(UHandle owner, int32 kind, void* data, void* result, int32 resultSlot,
                           void* queueElement) {
  if (kind < kPostedFileDialog || kind > kPostedConvertDatalog) {
    DBAssert(__FILE__, __LINE__, "NewPostedEvtHandle: bad request kind");
    return nullptr;
  }
  UHandle h = AZNewHClr(sizeof(PostedEvtRec));
  if (!h) return nullptr;
  PostedEvtRec* r = Rec(h);
  r->owner = owner;
  r->dataSpace = owner && *owner ? reinterpret_cast<VIRecord*>(*owner)->dataSpace : nullptr;
  r->kind = kind;
  r->data = data;
  r->result = result;
  r->resultSlot = resultSlot;
  r->queueElement = queueElement;
  return h;
}

MgErr RunPostedEvt(UHandle request) {
  if (!request || !*request) return kArgErr;
  // A copy: the dialogs below may run other work that moves blocks.
  const PostedEvtRec r = *Rec(request);
  const PostedAlertIn* alert = static_cast<const PostedAlertIn*>(r.data);
  switch (r.kind) {
    case kPostedFileDialog: return RunFileDialog(request, r);
    case kPostedOneButton:
      if (!alert) return kArgErr;
      OneButtonAlert(kAlertPStr, alert->message, alert->button1, kAlertDefaultPos, kAlertDefaultPos);
      return kNoErr;
    case kPostedTwoButton: {
      if (!alert) return kArgErr;
      const int32 hit = FileShell().twoButtonAlert(kAlertPStr, alert->message, alert->button1, alert->button2, 1,
                                                   kAlertDefaultPos, kAlertDefaultPos);
      WriteButton(request, r, hit == 1);
      return kNoErr;
    }
    case kPostedConvertDatalog: {
      const PostedConvertIn* in = static_cast<const PostedConvertIn*>(r.data);
      if (!in) return kArgErr;
      Str255 text, button;
      DatalogConvertQuestion(in->path, text, button);
      const int32 hit =
          FileShell().twoButtonAlert(kAlertPStr, text, button, nullptr, 1, kAlertDefaultPos, kAlertDefaultPos);
      WriteButton(request, r, hit == 1);
      return kNoErr;
    }
    default: {
      // Call by reference: the server's steps write their own results once
      // they checked the requester (a pending step completes later).
      if (!FileShell().targetValid(request)) return kNoErr;
      void* out = r.result ? static_cast<uChar*>(r.result) + r.resultSlot : nullptr;
      return RefnumKinds().callByRefStep(r.kind, r.data, out);
    }
  }
}

void DisposePostedEvt(UHandle request) {
  if (request) AZDisposeHandle(request);
}

namespace {
int32 RunAndDispose(int32 request) {
  UHandle h = reinterpret_cast<UHandle>(uintptr_t(uInt32(request)));
  const MgErr err = RunPostedEvt(h);
  DisposePostedEvt(h);
  return err;
}
}  // namespace

MgErr PostPostedEvt(UHandle request, Occurrence done) {
  if (!request || !*request) return kArgErr;
  const PostedEvtRec& r = *Rec(request);
  PostedCallbackRec cb{&RunAndDispose, int32(uintptr_t(request)), done, r.owner, r.dataSpace, 0, nullptr};
  return PostCallback(cb);
}
