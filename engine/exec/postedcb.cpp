#include "engine/exec/postedcb.h"

#include "engine/exec/runcmd_internal.h"
#include "mgsource/memory.h"

MgErr PostCallback(const PostedCallbackRec& callback) {
  UHandle h = AZNewHandle(sizeof(PostedCallbackRec));
  if (!h) return kMemFullErr;
  *reinterpret_cast<PostedCallbackRec*>(*h) = callback;
  const MgErr err = ExecPostUserEvent(kUEPostedCallback, int32(uintptr_t(h)), 0, 0, 0, 0);
  if (err) AZDisposeHandle(h);
  return err;
}
