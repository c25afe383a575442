#include "qx_globalmem.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "qx_file.h"

namespace {

struct Block {
  void* bytes;
  uint32_t size;
  bool movable;
  int32_t locks;
};

struct Blocks {
  std::mutex lock;
  std::unordered_map<PlatGlobal, Block> live;
  PlatGlobal next = 1;
};

Blocks& TheBlocks() {
  static Blocks* b = new Blocks;
  return *b;
}

// The live block of a handle, or null with kPlatErrInvalidHandle.  The
// caller holds the table's lock.
Block* Find(Blocks& b, PlatGlobal h) {
  auto it = b.live.find(h);
  if (it == b.live.end()) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

PlatGlobal PlatGlobalAlloc(uint32_t flags, uint32_t size) {
  if (flags & ~(kPlatGlobalMovable | kPlatGlobalZeroInit) || size > kPlatGlobalMaxSize) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  // One byte at least, so that every block has its own address.
  void* bytes = (flags & kPlatGlobalZeroInit) ? std::calloc(size ? size : 1, 1) : std::malloc(size ? size : 1);
  if (!bytes) {
    PlatSetLastError(kPlatErrNoMemory);
    return 0;
  }
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  PlatGlobal h = b.next;
  while (h == 0 || b.live.count(h)) ++h;
  b.next = h + 1;
  b.live.emplace(h, Block{bytes, size, (flags & kPlatGlobalMovable) != 0, 0});
  return h;
}

void* PlatGlobalLock(PlatGlobal h) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  Block* blk = Find(b, h);
  if (!blk) return nullptr;
  if (blk->movable) {
    if (blk->locks == INT32_MAX) {
      PlatSetLastError(kPlatErrLock);
      return nullptr;
    }
    ++blk->locks;
  }
  return blk->bytes;
}

int32_t PlatGlobalUnlock(PlatGlobal h) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  Block* blk = Find(b, h);
  if (!blk) return -1;
  if (!blk->movable) return 0;
  if (blk->locks == 0) {
    PlatSetLastError(kPlatErrNotLocked);
    return -1;
  }
  return --blk->locks;
}

int32_t PlatGlobalLockCount(PlatGlobal h) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  Block* blk = Find(b, h);
  return blk ? blk->locks : -1;
}

uint32_t PlatGlobalSize(PlatGlobal h) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  Block* blk = Find(b, h);
  return blk ? blk->size : 0;
}

bool PlatGlobalIsValid(PlatGlobal h) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  return b.live.count(h) != 0;
}

bool PlatGlobalFree(PlatGlobal h) {
  void* bytes;
  {
    Blocks& b = TheBlocks();
    std::lock_guard<std::mutex> g(b.lock);
    Block* blk = Find(b, h);
    if (!blk) return false;
    bytes = blk->bytes;
    b.live.erase(h);
  }
  std::free(bytes);
  return true;
}

int32_t PlatGlobalLiveCount() {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> g(b.lock);
  return int32_t(b.live.size());
}
