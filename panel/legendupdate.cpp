// The legend-update flag.
#include "panel/legendupdate.h"

namespace {
Bool32 gLegendUpdating = false;
}

Bool32 LegendUpdating() { return gLegendUpdating; }

Bool32 SetLegendUpdating(Bool32 on) {
  const Bool32 was = gLegendUpdating;
  gLegendUpdating = on;
  return was;
}
