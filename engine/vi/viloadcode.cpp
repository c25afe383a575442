// The loader's use of the code blocks: kept apart from the VI hooks, whose
// names the code-entry header shares.
#include "engine/exec/codeentry.h"
#include "engine/vi/viload_internal.h"

namespace viload {

MgErr MakeCode(const void* bytes, int32 size, UHandle* code) {
  VICode c = nullptr;
  const MgErr e = NewVICode(bytes, size, &c);
  *code = reinterpret_cast<UHandle>(c);
  return e;
}

bool DisposeCode(UHandle code) {
  if (!code || !VICodeRecord(code)) return false;
  DisposeVICode(reinterpret_cast<VICode>(code));
  return true;
}

}  // namespace viload
