#include "qx_vmem.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

static std::atomic<int32_t> gFailReservations{0};

void PlatFailNextReservations(int32_t n) { gFailReservations.store(n < 0 ? 0 : n); }

static inline uint32_t RoundUp(uint32_t v, uint32_t unit) { return (v + unit - 1) & ~(unit - 1); }

void* PlatReserve(uint32_t size) {
  int32_t f = gFailReservations.load();
  while (f > 0) {
    if (gFailReservations.compare_exchange_weak(f, f - 1)) return nullptr;
  }
  if (size == 0 || size > 0xFFFF0000u) return nullptr;
  uint32_t want = RoundUp(size, kPlatRegionUnit);
  // Map one extra unit so that an aligned start can be cut out, then give the
  // slack back on both sides.
  uint32_t span = want + kPlatRegionUnit;
  if (span < want) return nullptr;
  void* p = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  uintptr_t base = reinterpret_cast<uintptr_t>(p);
  uintptr_t aligned = (base + kPlatRegionUnit - 1) & ~uintptr_t(kPlatRegionUnit - 1);
  if (aligned > base) munmap(p, aligned - base);
  uintptr_t end = base + span;
  if (end > aligned + want) munmap(reinterpret_cast<void*>(aligned + want), end - (aligned + want));
  return reinterpret_cast<void*>(aligned);
}

bool PlatCommit(void* addr, uint32_t size) {
  uintptr_t a = reinterpret_cast<uintptr_t>(addr) & ~uintptr_t(kPlatPageSize - 1);
  uintptr_t e = RoundUp(reinterpret_cast<uintptr_t>(addr) + size, kPlatPageSize);
  if (e <= a) return true;
  return mprotect(reinterpret_cast<void*>(a), e - a, PROT_READ | PROT_WRITE) == 0;
}

bool PlatDecommit(void* addr, uint32_t size) {
  uintptr_t a = reinterpret_cast<uintptr_t>(addr) & ~uintptr_t(kPlatPageSize - 1);
  uintptr_t e = RoundUp(reinterpret_cast<uintptr_t>(addr) + size, kPlatPageSize);
  if (e <= a) return true;
  // Replacing the pages drops their contents and their backing store.
  void* p = mmap(reinterpret_cast<void*>(a), e - a, PROT_NONE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
  return p != MAP_FAILED;
}

void PlatRelease(void* addr, uint32_t size) {
  if (!addr) return;
  munmap(addr, RoundUp(size ? size : 1, kPlatRegionUnit));
}

static std::atomic<int32_t> gFailCodeAllocs{0};
static std::atomic<int32_t> gCodeBlocks{0};

void PlatFailNextCodeAllocs(int32_t n) { gFailCodeAllocs.store(n < 0 ? 0 : n); }

int32_t PlatCodeBlocksInUse() { return gCodeBlocks.load(); }

void* PlatCodeAlloc(uint32_t size) {
  int32_t f = gFailCodeAllocs.load();
  while (f > 0) {
    if (gFailCodeAllocs.compare_exchange_weak(f, f - 1)) return nullptr;
  }
  if (size == 0 || size > 0xFFFFF000u) return nullptr;
  void* p = mmap(nullptr, RoundUp(size, kPlatPageSize), PROT_READ | PROT_WRITE | PROT_EXEC,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  gCodeBlocks.fetch_add(1);
  return p;
}

void PlatCodeFree(void* addr, uint32_t size) {
  if (!addr) return;
  if (munmap(addr, RoundUp(size ? size : 1, kPlatPageSize)) == 0) gCodeBlocks.fetch_sub(1);
}

namespace {
bool ProtectCode(void* addr, uint32_t size, int prot) {
  if (!addr) return false;
  uintptr_t a = reinterpret_cast<uintptr_t>(addr) & ~uintptr_t(kPlatPageSize - 1);
  uintptr_t e = RoundUp(reinterpret_cast<uintptr_t>(addr) + (size ? size : 1), kPlatPageSize);
  return mprotect(reinterpret_cast<void*>(a), e - a, prot) == 0;
}
}  // namespace

bool PlatCodeMakeWritable(void* addr, uint32_t size) {
  return ProtectCode(addr, size, PROT_READ | PROT_WRITE | PROT_EXEC);
}

bool PlatCodeRestore(void* addr, uint32_t size) { return ProtectCode(addr, size, PROT_READ | PROT_EXEC); }

namespace {
// The access of the mapping that holds the page at `page`, as PROT_ bits;
// -1 when no mapping holds it.
int PageProtection(uintptr_t page) {
  FILE* f = std::fopen("/proc/self/maps", "r");
  if (!f) return -1;
  char line[512];
  int prot = -1;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long lo = 0, hi = 0;
    char perms[8] = {};
    if (std::sscanf(line, "%lx-%lx %7s", &lo, &hi, perms) != 3) continue;
    if (page < lo || page >= hi) continue;
    prot = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
           (perms[2] == 'x' ? PROT_EXEC : 0);
    break;
  }
  std::fclose(f);
  return prot;
}
}  // namespace

bool PlatCodeWriteWord(void* at, uint32_t value) {
  if (!at) return false;
  const uintptr_t a = reinterpret_cast<uintptr_t>(at);
  if (a > UINTPTR_MAX - 4) return false;
  // The word touches one page, or two when it straddles a boundary.
  uintptr_t pages[2] = {a & ~uintptr_t(kPlatPageSize - 1), (a + 3) & ~uintptr_t(kPlatPageSize - 1)};
  const int n = pages[1] != pages[0] ? 2 : 1;
  int prot[2] = {0, 0};
  bool opened[2] = {false, false};
  for (int i = 0; i < n; ++i) {
    prot[i] = PageProtection(pages[i]);
    // Pages with no access are reserved address space, not loaded code.
    if (prot[i] < 0 || !(prot[i] & PROT_READ)) return false;
  }
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) {
    if (prot[i] & PROT_WRITE) continue;
    ok = mprotect(reinterpret_cast<void*>(pages[i]), kPlatPageSize, prot[i] | PROT_READ | PROT_WRITE) == 0;
    opened[i] = ok;
  }
  if (ok) std::memcpy(at, &value, 4);
  for (int i = 0; i < n; ++i)
    if (opened[i] && mprotect(reinterpret_cast<void*>(pages[i]), kPlatPageSize, prot[i]) != 0) ok = false;
  return ok;
}
