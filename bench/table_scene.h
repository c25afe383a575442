// The table the table benchmarks work on: a 2-D string array control of ten
// columns whose cell area shows 30 rows, in a panel scene, and its values.
#pragma once

#include <time.h>

#include <string>

#include "controls/table.h"
#include "engine/vi/virecord.h"
#include "panel/ctrl_internal.h"
#include "panel_scene.h"

namespace tablebench {

constexpr int32 kColumns = 10;

// A rows x 10 array whose cell i holds "cell i"; null when memory is short.
inline UHandle Value(int32 rows) {
  UHandle a = DSNewHClr(8 + 4 * rows * kColumns);
  if (!a) return nullptr;
  PutNative32(*a, uInt32(rows));
  PutNative32(*a + 4, uInt32(kColumns));
  for (int32 i = 0; i < rows * kColumns; ++i) {
    const std::string t = "cell " + std::to_string(i);
    UHandle s = DSNewHandle(int32(4 + t.size()));
    if (!s) return nullptr;
    PutNative32(*s, uInt32(t.size()));
    std::memcpy(*s + 4, t.data(), t.size());
    std::memcpy(*a + 8 + 4 * i, &s, 4);
  }
  return a;
}

// Opens the scene's panel and makes the table with its cell area (black
// grid on white); `before` adds parts before the data space is allocated.
// The table, or 0 when any of it cannot be made.
template <typename Before>
int32 MakeTable(PanelScene& s, int32* area, Before before) {
  if (!s.OpenPanel(600, 400)) return 0;
  ControlsJoinTableSlots();
  ObjSetWord(s.heap, s.root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(s.vi)->dataSpace)));
  const TypeID type = s.Type(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}));
  int32 table = 0;
  const int32 dco = s.NewControl(type, kClsTable, &table);
  *area = s.Obj(kClsCosmetic, table, kTablePartCells);
  s.Place(*area, 10, 10, 30 * 17, kColumns * 31 + 1);
  ctrl::SetPartColours(s.heap, *area, 0x000000, 0xFFFFFF);
  if (!before(table)) return 0;
  if (AllocObjDataSpace(s.heap, dco) != kNoErr) return 0;
  if (DSAllocCurrentState()->active) AllocEndPass();
  return table;
}

inline double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

}  // namespace tablebench
