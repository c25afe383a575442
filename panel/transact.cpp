// The transaction stack: one block for the paths of frames that carry panel
// actions down to objects, made at start-up and kept until exit, and the
// push that makes room for a new path.
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "panel/objects.h"

namespace {
UPtr gStack = nullptr;
TransactionFrame* gTop = nullptr;  // null while no path was pushed
}  // namespace

void TRInit() {
  gStack = AZNewPClr(kTransactionStackBytes);
  if (!gStack) DBAssert(__FILE__, __LINE__, "TRInit: no memory for the transaction stack");
}

UPtr TRStackBlock() { return gStack; }

void* TRStackTop() { return gTop; }
void TRSetStackTop(void* top) { gTop = static_cast<TransactionFrame*>(top); }

void* TRPushFrame() {
  TransactionFrame* const previous = gTop;
  auto* const first = reinterpret_cast<TransactionFrame*>(gStack);
  auto* const last = reinterpret_cast<TransactionFrame*>(gStack + kTransactionPathLimit);
  TransactionFrame* f = previous ? previous : first;
  if (previous) {
    // Just after the end of the path that starts at the current top.
    while (f < last && f->kind != 0) ++f;
    ++f;
  }
  if (!gStack || f > last) {
    DBAssert(__FILE__, __LINE__, "TRPushFrame: the transaction stack is full");
    return previous;
  }
  gTop = f;
  return previous;
}
