// The automation member tables: the properties and methods of the
// application (class 0) and of a VI (class 1) that the VI server and the
// automation server read, and their lookups.  Plain constant data: it lives
// with the type descriptors so that the shell, the VI server and the
// automation code all read the one table.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/extcode.h"

// A property: help context id (-1 an empty slot), index of its type in the
// standard descriptor table (-1 a type that table does not hold), flags,
// access word (1 settable, 0 read-only, 4 the connector pane), name.
struct AutoPropInfo {
  int32 helpId;
  int32 typeIndex;
  int32 flags;
  int32 access;
  const char* name;
};
// A method parameter: type index and direction (1 in, 2 out); parameter 0
// is the result.
struct AutoParamInfo {
  int32 typeIndex;
  int32 direction;
};
struct AutoMethodInfo {
  int32 helpId;
  int32 flags;
  int32 paramCount;
  int32 requiredCount;
  const AutoParamInfo* params;
  const char* name;
};
static_assert(sizeof(void*) != 4 || (sizeof(AutoPropInfo) == 20 && sizeof(AutoMethodInfo) == 24 &&
                                     offsetof(AutoMethodInfo, params) == 16 && sizeof(AutoParamInfo) == 8),
              "member table entries");

enum : int32 { kAutoClassApp = 0, kAutoClassVI = 1, kAutoClassCount = 2 };
enum : int32 { kAutoParamIn = 1, kAutoParamOut = 2 };

// The entry of the id, null for a class outside 0..1 or an id outside the
// class's range.
QX_EXTERN_C const AutoPropInfo* PropInfoLookup(int32 cls, int32 id);
QX_EXTERN_C const AutoMethodInfo* MethodInfoLookup(int32 cls, int32 id);
// The property's descriptor: from the standard table, or for the
// properties whose types that table does not hold (enumerations,
// rectangles, the point, the VI refnum, the connector-pane data, the
// metrics clusters, the monitor list) the table's own; null for an empty
// slot or a type neither holds.
QX_EXTERN_C const TypeDescriptor* PropInfoTypeDesc(int32 cls, int32 id);
// The descriptor of the method's parameter, from the standard table or the
// table's own (print and image formats, the lock state, VI refnums, types
// as I16 arrays, image data, rectangles, the linker list, all control
// values); null outside [0, parameter count).
QX_EXTERN_C const TypeDescriptor* MethodParamTypeDesc(int32 cls, int32 id, int32 param);
