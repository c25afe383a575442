// A callee's parameter table of Add.vi's pane ("a", "b" in, "sum" out) with
// its error cluster, as a proxy caller fills it, for the client's tests and
// fuzz target.
#pragma once
#include <string>

#include "engine/dsalloc.h"
#include "engine/exec/callchain.h"
#include "mgsource/memory.h"
#include "server/appserve.h"
#include "server/protocol.h"

namespace tcptest {

struct AddCall {
  int32 a = 0, b = 0, sum = -1;
  ErrorIOCluster error{};
  struct {
    uInt32 tag, flags;
    ErrorIOCluster* error;
    VIRef ref;
    CallTermSlot slots[3];
  } table{};
  AddCall(int32 x, int32 y) : a(x), b(y) {
    table = {kParamTableTag, 0, &error, 0, {{&a, 1}, {&b, 1}, {&sum, 1}}};
  }
  ~AddCall() {
    if (error.source) DSDisposeHandle(reinterpret_cast<UHandle>(error.source));
  }
  // The cluster is packed: its code is read by value.
  int32 Code() const {
    const int32 c = error.code;
    return c;
  }
  std::string Source() const {
    return error.source ? std::string(reinterpret_cast<const char*>((*error.source)->str), (*error.source)->cnt) : "";
  }
};

}  // namespace tcptest
