#include "engine/exec/rttable.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "engine/exec/rttable_internal.h"
#include "mgsource/debug.h"

namespace {

enum SlotKind : uInt8 { kRoutineSlot, kStubSlot, kKeptSlot };

struct SlotInfo {
  const char* name;    // the exported name; null for the stub and kept slots
  const char* others;  // the other exported names; for a kept slot, its library
  SlotKind kind;
};

constexpr SlotInfo kSlots[] = {
#define QX_RT_ROUTINE(index, name, others) {name, others, kRoutineSlot},
#define QX_RT_STUB(index) {nullptr, nullptr, kStubSlot},
#define QX_RT_RESERVED(index, library) {nullptr, library, kKeptSlot},
#include "engine/exec/rttable_names.inc"
#undef QX_RT_ROUTINE
#undef QX_RT_STUB
#undef QX_RT_RESERVED
};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == kQXRTEntries, "one line per index of the table");

// The generated lines are in index order, one per index.
constexpr int32 kListedIndex[] = {
#define QX_RT_ROUTINE(index, name, others) index,
#define QX_RT_STUB(index) index,
#define QX_RT_RESERVED(index, library) index,
#include "engine/exec/rttable_names.inc"
#undef QX_RT_ROUTINE
#undef QX_RT_STUB
#undef QX_RT_RESERVED
};
constexpr bool ListedInOrder() {
  for (int32 i = 0; i < kQXRTEntries; ++i) {
    if (kListedIndex[i] != i) return false;
  }
  return true;
}
static_assert(ListedInOrder(), "the generated names are in index order");

// The indexes where one routine stands: for each routine slot, the first such
// index and the next one after it (-1 after the last).
struct SameRoutine {
  std::array<int16, kQXRTEntries> first;
  std::array<int16, kQXRTEntries> next;
};
const SameRoutine& SameRoutineIndexes() {
  static const SameRoutine same = [] {
    SameRoutine s;
    s.first.fill(-1);
    s.next.fill(-1);
    std::unordered_map<std::string_view, std::pair<int32, int32>> seen;  // name -> first, last
    for (int32 i = 0; i < kQXRTEntries; ++i) {
      if (kSlots[i].kind != kRoutineSlot) continue;
      auto [it, fresh] = seen.try_emplace(kSlots[i].name, i, i);
      if (!fresh) {
        s.next[size_t(it->second.second)] = int16(i);
        it->second.second = i;
      }
      s.first[size_t(i)] = int16(it->second.first);
    }
    return s;
  }();
  return same;
}

qxrt::Registry& TheRegistry() {
  static qxrt::Registry registry(QXRTTable);
  return registry;
}

}  // namespace

QXRTRoutine QXRTTable[kQXRTEntries + 1] = {
#define QX_RT_ROUTINE(index, name, others) &MissingRoutine,
#define QX_RT_STUB(index) &MissingRoutine,
#define QX_RT_RESERVED(index, library) &MissingRoutine,
#include "engine/exec/rttable_names.inc"
#undef QX_RT_ROUTINE
#undef QX_RT_STUB
#undef QX_RT_RESERVED
    nullptr,
};

void MissingRoutine() {
  DBPrintf("Call to non existant Quenlix routine!!!");
  DBAssert(__FILE__, __LINE__, "a run-time routine this system does not have was called");
}

namespace qxrt {

void FillWithStub(QXRTRoutine* table) {
  for (int32 i = 0; i < kQXRTEntries; ++i) table[i] = &MissingRoutine;
  table[kQXRTEntries] = nullptr;
}

const char* Registry::Refusal(const QXRTEntry& e) const {
  if (closed_) return "registration is closed";
  if (e.index < 0 || e.index >= kQXRTEntries) return "index outside the table";
  const SlotInfo& slot = kSlots[e.index];
  if (slot.kind != kRoutineSlot) return "the index holds the missing-routine stub";
  if (!e.name || std::strcmp(e.name, slot.name) != 0) return "the name is not the one listed at the index";
  if (!e.routine) return "null routine";
  if (registered_[size_t(e.index)]) return "the index is registered already";
  // A routine that stands at several indexes is the same routine at each.
  const SameRoutine& same = SameRoutineIndexes();
  for (int32 j = same.first[size_t(e.index)]; j >= 0; j = same.next[size_t(j)]) {
    if (j != e.index && registered_[size_t(j)] && table_[j] != e.routine) {
      return "the routine is registered with another address at another index";
    }
  }
  return nullptr;
}

MgErr Registry::Register(const QXRTEntry* entries, int32 count) {
  if (count < 0 || (!entries && count > 0)) {
    DBAssert(__FILE__, __LINE__, "run-time table: bad registration list");
    return kArgErr;
  }
  MgErr err = kNoErr;
  for (int32 k = 0; k < count; ++k) {
    const QXRTEntry& e = entries[k];
    if (const char* why = Refusal(e)) {
      char text[200];
      std::snprintf(text, sizeof text, "run-time table: %s refused at index %ld: %s",
                    e.name ? e.name : "(no name)", long(e.index), why);
      DBAssert(__FILE__, __LINE__, text);
      err = kArgErr;
      continue;
    }
    table_[e.index] = e.routine;
    registered_.set(size_t(e.index));
  }
  return err;
}

}  // namespace qxrt

MgErr QXRTRegister(const QXRTEntry* entries, int32 count) { return TheRegistry().Register(entries, count); }

void QXRTCloseRegistration() { TheRegistry().Close(); }

Bool32 QXRTRegistrationClosed() { return TheRegistry().Closed(); }

const char* QXRTEntryName(int32 index) {
  if (index < 0 || index >= kQXRTEntries) return nullptr;
  return kSlots[index].name;
}

const char* QXRTEntryOtherNames(int32 index) {
  if (index < 0 || index >= kQXRTEntries || kSlots[index].kind != kRoutineSlot) return nullptr;
  return kSlots[index].others;
}

const char* QXRTEntryKeptFor(int32 index) {
  if (index < 0 || index >= kQXRTEntries || kSlots[index].kind != kKeptSlot) return nullptr;
  return kSlots[index].others;
}
