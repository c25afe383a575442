// The container library as tests load it: the program's loader by its
// built path, and the library's test entries looked up in the same module.
#pragma once
#include <dlfcn.h>

#include "platform/qx_embed.h"
#include "server/embobj.h"

namespace embtest {

// Loads the library into the table (once per process) and answers its
// module for the test entries; null when it does not load.
inline void* Library() {
  static void* lib = [] {
    if (EmbLoadContainerLibrary(QX_CONTAINER_LIB) != 0) return static_cast<void*>(nullptr);
    // The same file again: the loader hands out the module already loaded.
    return dlopen(QX_CONTAINER_LIB, RTLD_NOW | RTLD_NOLOAD);
  }();
  return lib;
}
template <class F>
F Entry(const char* name) {
  void* lib = Library();
  return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
}
// The library's table as the loader filled it.
inline EmbContainerProcs Table() {
  Library();
  EmbContainerProcs t = EmbSetContainerProcs(EmbContainerProcs{});
  EmbSetContainerProcs(t);
  return t;
}

}  // namespace embtest

inline int32_t QxEmbedCount() {
  auto f = embtest::Entry<QxcCountProc>("QxcObjectCount");
  return f ? f() : -1;
}
inline bool QxEmbedQuery(int32_t token, QxEmbedInfo* info) {
  auto f = embtest::Entry<QxcQueryProc>("QxcQueryObject");
  return f && f(token, info);
}
inline void QxEmbedFailNextLoad(int32_t code) {
  if (auto f = embtest::Entry<QxcFailProc>("QxcFailNextLoad")) f(code);
}
inline void QxEmbedFailAdoptions(int32_t code) {
  if (auto f = embtest::Entry<QxcFailProc>("QxcFailAdoptions")) f(code);
}
