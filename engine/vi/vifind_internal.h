// Helpers shared by the search for VI files and the load methods.
#pragma once
#include <cstdint>
#include <utility>

#include "mgsource/path.h"

namespace vifind {
// A new copy of a path, or null.
Path CopyOf(Path p);
// A path owned for the length of a scope.
struct OwnedPath {
  Path p = nullptr;
  OwnedPath() = default;
  explicit OwnedPath(Path q) : p(q) {}
  OwnedPath(const OwnedPath&) = delete;
  OwnedPath& operator=(const OwnedPath&) = delete;
  ~OwnedPath() {
    if (p) FDisposePath(p);
  }
  Path release() { return std::exchange(p, nullptr); }
};
// True when the last component is the one-character name "*".
bool IsStarEntry(Path p);
// The file system's identity of a folder (device and file number), for
// walks that must enter each folder once; false when it has none.
typedef std::pair<uint64_t, uint64_t> FolderId;
bool FolderIdentity(Path dir, FolderId* id);
}  // namespace vifind
