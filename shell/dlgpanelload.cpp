#include "shell/dlgpanelload.h"

#include <cstring>

#include "mgsource/memory.h"

UHandle CopyDialogBlock(RsrcFileRef file, int32 id) {
  UHandle stored = nullptr;
  if (RGet(file, kDialogBlockType, id, &stored) != kNoErr || !stored) return nullptr;
  const int32 size = *stored ? AZGetHandleSize(stored) : 0;
  UHandle copy = size > 0 ? AZNewHandle(size) : nullptr;
  if (copy) std::memcpy(*copy, *stored, size_t(size));
  RRelease(stored);
  return copy;
}
