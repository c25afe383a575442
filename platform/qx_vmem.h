// Virtual memory of the platform layer: regions are reserved in 64 KB units
// at 64 KB-aligned addresses with no access, then committed and decommitted in
// 4 KB pages.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kPlatRegionUnit = 65536;
constexpr uint32_t kPlatPageSize = 4096;

// Reserves size bytes (rounded up to 64 KB) at a 64 KB-aligned address, no access.
// Returns NULL when the address space cannot give them.
void* PlatReserve(uint32_t size);
// Makes [addr, addr + size) readable and writable (rounded out to 4 KB pages);
// the pages read as zero when first committed.  False on failure.
bool PlatCommit(void* addr, uint32_t size);
// Gives the pages of [addr, addr + size) back; they read as zero when committed again.
bool PlatDecommit(void* addr, uint32_t size);
// Releases a whole reservation made by PlatReserve.
void PlatRelease(void* addr, uint32_t size);

// Test hook: the next n reservations fail as if the address space were exhausted.
void PlatFailNextReservations(int32_t n);

// Executable memory: size bytes (rounded up to 4 KB pages) that are readable,
// writable and executable, zeroed, at a page-aligned address; NULL when the
// host refuses.  Code loaded at run time keeps its static data beside its
// instructions, so the pages stay writable.
void* PlatCodeAlloc(uint32_t size);
// Gives back a block of PlatCodeAlloc with the size it was asked with.
void PlatCodeFree(void* addr, uint32_t size);
// The number of executable blocks not yet given back.
int32_t PlatCodeBlocksInUse();
// Test hook: the next n executable allocations fail.
void PlatFailNextCodeAllocs(int32_t n);
// Code that must not change while it runs (a VI's compiled code) is sealed
// once it is in place: its pages become readable and executable only.  A
// patch opens them for writing (executable still, since other threads may be
// running other code on the same pages) and restores the seal afterwards.
// Both round the range out to 4 KB pages; false when the host refuses.
bool PlatCodeMakeWritable(void* addr, uint32_t size);
bool PlatCodeRestore(void* addr, uint32_t size);
// Writes one 32-bit word (native order) into loaded code whose pages may lack
// write access: each page the word touches is opened for writing when it is
// not writable, written, and given back exactly the access it had (code that
// keeps its data beside its instructions stays writable; sealed code is
// sealed again).  False, with nothing written, when a page is not mapped, has no
// access at all (reserved address space), or the host refuses to open it.  Not for pages that another thread opens or
// seals at the same time.
bool PlatCodeWriteWord(void* at, uint32_t value);

// True when p may be called as code.  This host has no cheap test for
// executable memory, so any non-null address passes.
inline bool PlatIsCodePtr(const void* p) { return p != nullptr; }
