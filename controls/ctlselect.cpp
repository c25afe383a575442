#include "controls/ctlselect.h"

#include <cstring>

#include "controls/container.h"
#include "controls/ctlsize.h"
#include "controls/graphcursors.h"
#include "controls/tablesel.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "panel/osupport.h"
#include "panel/replyfilters.h"
#include "panel/transact.h"

namespace {

constexpr char kSource[] = "ctlselect.cpp";
constexpr int32 kReplyFail = 0x10, kReplyStop = 0x10000000, kReplyDispose = 0x8000, kReplyGeometry = 0x80;
constexpr int16 kPartPlotLegend = 32, kPartListArea = 26;
constexpr int32 kListboxTextWord = 12, kLegendRowMargin = 6;

bool IsObject(ObjHeap heap, int32 o) {
  return heap && *heap && o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= int32(sizeof(ObjLeadingFields));
}
Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
void SetHitPart(ObjHeap heap, int32 o, EditMsgRecord* rec) {
  rec->hitPartId = ObjInt16(heap, o, kObjPartId);
  rec->hitPartOrder = ObjInt16(heap, o, kObjPartOrder);
}

// The height of a one-character name in the legend's font.
int32 NameHeight(ObjHeap heap, int32 legend) {
  const TRecord text = PartTextRecord(heap, legend);
  Point size{0, 0};
  TTextSize(reinterpret_cast<const uChar*>("0"), 1, text ? TGetFont(text) : kAppFont, &size);
  return size.v;
}

// The rows the legend has room for.
int32 LegendRows(ObjHeap heap, int32 legend) {
  const int32 row = NameHeight(heap, legend) + kLegendRowMargin;
  const Rect b = BoundsOf(heap, legend);
  return row > 0 ? (b.bottom - b.top) / row : 0;
}

}  // namespace

int32 PlotLegendFitRows(ObjHeap heap, int32 graph, int32 rows, EditMsgRecord* rec, const Rect* rect) {
  const int32 legend = FindPart(heap, graph, kPartPlotLegend, 0);
  if (!IsObject(heap, legend)) return 0;
  Rect r = rect ? *rect : BoundsOf(heap, legend);
  const int32 bottom = int32(r.top) + (NameHeight(heap, legend) + kLegendRowMargin) * (rows < 0 ? 0 : rows);
  r.bottom = int16(bottom > 32767 ? 32767 : bottom);
  if (OSizeObj(heap, legend, &r, 0)) {
    DBAssert(kSource, __LINE__, "the plot legend could not be resized");
    return kReplyFail;
  }
  if (rec) SetHitPart(heap, legend, rec);
  return 0;
}

int32 ListboxOSelectMethod(ObjHeap heap, int32 listbox, int32 code, EditMsgRecord* rec) {
  int32 reply = DDOOSelectMethod(heap, listbox, code, rec);
  if ((reply & (kReplyFail | kReplyDispose | kReplyStop)) || code == kEditExportStrings || code == kEditImportStrings)
    return reply;
  const bool selected = IsObjSelected(heap, listbox);
  const bool flagged = code == kEditFont && rec->flags;
  int32 effective = code;
  if (!selected || flagged) {
    const int32 text = OHBlockSize(heap, listbox) >= 4 * (kListboxTextWord + 1) ? ObjWord(heap, listbox, kListboxTextWord) : 0;
    if (IsObject(heap, text)) {
      const int32 saved = rec->flags;
      rec->flags |= selected ? kEditOwnerSelected : kEditListboxText;
      reply |= OSelectCode(heap, text, code, rec);
      rec->flags = saved;
    }
    if (selected || flagged) effective = kEditRefit;
  }
  if (effective == kEditRefit) {
    if (ListboxCalcRowHeight(heap, listbox)) reply = DDOCheckReply(heap, listbox, 0, kPartListArea, reply | kReplyGeometry);
    else ListboxLayoutParts(heap, listbox);
    SetHitPart(heap, listbox, rec);
  }
  return reply;
}

int32 GraphOSelectMethod(ObjHeap heap, int32 graph, int32 code, EditMsgRecord* rec) {
  if (code != kEditRefit && code != kEditFont) return DDOOSelectMethod(heap, graph, code, rec);
  int32 reply = DDOOSelectMethod(heap, graph, code, rec);
  const int32 legend = FindPart(heap, graph, kPartPlotLegend, 0);
  if (IsObject(heap, legend) && !(reply & (kReplyFail | kReplyStop)) &&
      !((IsObjSelected(heap, graph) || IsObjSelected(heap, legend)) && rec->flags == 0)) {
    // The legend keeps its rows through the change of its font.
    const int32 rows = LegendRows(heap, legend);
    const int32 r = OSelectCode(heap, legend, code, rec);
    if (r & kReplyGeometry) {
      PlotLegendFitRows(heap, graph, rows, rec, nullptr);
      reply |= DDOCheckReply(heap, graph, legend, kPartPlotLegend, r);
    } else {
      reply |= r;
    }
  }
  // The cursor labels are measured again in the new font.
  reply |= GraphCursorsFontMsg(heap, graph, code);
  return reply;
}

int32 GraphOFrameSelMethod(ObjHeap heap, int32 graph, ObjHeap port, int32 offset, int32 flags) {
  return DDOOFrameSelMethod(heap, graph, port, offset, flags);
}

void ControlsInstallEditHooks() {
  EditSelectHooks h{};
  h.listboxSelect = &ListboxOSelectMethod;
  h.graphSelect = &GraphOSelectMethod;
  h.graphFrameSel = &GraphOFrameSelMethod;
  h.tableSelect = &TableOSelectMethod;
  h.containerSelect = &ContainerOSelectMethod;
  SetEditSelectHooks(h);
}
