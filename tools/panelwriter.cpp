#include "tools/panelwriter.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/link/linkinfo.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "tools/linkinfowriter.h"
#include "tools/vibuilder.h"

namespace panelwriter {

std::vector<uChar> ObjectInFileOrder(std::vector<uChar> bytes, int32 cls) {
  if (SwapObjectData(bytes.data(), int32(bytes.size()), cls, kSwapAllToFile) != kNoErr) return {};
  return bytes;
}

std::vector<uChar> RsrcInFileOrder(uInt32 type, std::vector<uChar> bytes) {
  if (SwapRsrcData(type, bytes.data(), int32(bytes.size()), kSwapAllToFile) != kNoErr) return {};
  return bytes;
}

std::vector<uChar> ScrapInFileOrder(std::vector<uChar> bytes) {
  if (SwapScrapData(bytes.data(), int32(bytes.size()), kSwapAllToFile) != kNoErr) return {};
  return bytes;
}

MgErr SwapObjectAllToFile(ObjHeap heap, int32 offset, int32 direction) {
  if (direction != kToFileOrder) return OSwapByClass(heap, offset, direction);
  int32 cls = OHBlockClass(heap, offset);
  if (cls == kClsContainer && GetObjSwapProc(cls)) {
    // The container, where its converter is registered (the controls are
    // in the program): its three handle words reversed, then the data
    // display object's fields, as that converter reads them back.
    if (OHBlockSize(heap, offset) < 4 * (kPWContainerObject + 3)) return kArgErr;
    for (int32 w = kPWContainerObject; w < kPWContainerObject + 3; ++w) {
      uChar* at = *heap + offset + 4 * w;
      PutNative32(at, __builtin_bswap32(GetNative32(at)));
    }
    return SwapObjectData(*heap + offset, OHBlockSize(heap, offset), kClsDataDisplayObject, kSwapAllToFile);
  }
  if (!ObjSwapForClass(cls)) return kNoErr;
  return SwapObjectData(*heap + offset, OHBlockSize(heap, offset), cls, kSwapAllToFile);
}

}  // namespace panelwriter

namespace panelwriter {

ObjRsrc Image(int32 imageWord, const std::string& key, const rsrcw::Bytes& icon) {
  ObjRsrc r;
  r.type = kObjImageType;
  r.data = icon;
  r.imageWord = imageWord;
  r.key = key;
  return r;
}

namespace {

bool IsObject(ObjHeap heap, int32 object) {
  bool found = false;
  struct Ctx {
    int32 object;
    bool* found;
  } ctx{object, &found};
  OHForEachBlockWith(
      heap,
      [](ObjHeap, int32 offset, void* c) {
        auto* x = static_cast<Ctx*>(c);
        if (offset == x->object) *x->found = true;
        return 0;
      },
      &ctx);
  return found;
}

}  // namespace

rsrcw::Bytes PanelHeapImage(ObjHeap heap, int32 firstNumber, const std::vector<PanelObject>& objects,
                            rsrcw::Writer* file, HeapLayout* layout) {
  if (!heap || !*heap) return {};
  for (const PanelObject& o : objects)
    if (!IsObject(heap, o.object)) return {};
  const int32 size = AZGetHandleSize(heap);
  ObjHeap copy = AZNewHandle(size);
  if (!copy) return {};
  std::memcpy(*copy, *heap, size_t(size));
  // Blocks that are not listed carry no resource number.
  OHForEachBlock(copy, [](ObjHeap h, int32 offset) {
    OHSetBlockMarkWord(h, offset, 0);
    return 0;
  });
  // Numbers in heap order.
  std::vector<size_t> order(objects.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return objects[a].object < objects[b].object; });
  HeapLayout lay;
  lay.numbers.assign(objects.size(), 0);
  lay.rsrcNumbers.assign(objects.size(), {});
  std::map<std::string, int32> images;
  std::vector<std::pair<uInt32, std::pair<int32, const rsrcw::Bytes*>>> rsrcs;
  int32 n = firstNumber;
  bool ok = true;
  for (size_t i : order) {
    const PanelObject& o = objects[i];
    lay.numbers[i] = n;
    OHSetBlockMarkWord(copy, o.object, n);
    ++n;
    const int32 blockSize = OHBlockSize(copy, o.object);
    for (const ObjRsrc& r : o.rsrcs) {
      int32 id = 0;
      if (r.imageWord >= 0) {
        auto it = r.key.empty() ? images.end() : images.find(r.key);
        if (it != images.end()) {
          id = it->second;
          lay.rsrcNumbers[i].push_back(0);
        } else {
          id = n++;
          if (!r.key.empty()) images[r.key] = id;
          lay.rsrcNumbers[i].push_back(id);
          rsrcs.push_back({r.type, {id, &r.data}});
        }
        if (r.imageWord > blockSize - 4 || id > 0x7FFF) {
          ok = false;
          continue;
        }
        PutNative32(*copy + o.object + r.imageWord, uInt32(id) << 16);
        continue;
      }
      id = n++;
      lay.rsrcNumbers[i].push_back(id);
      rsrcs.push_back({r.type, {id, &r.data}});
    }
  }
  lay.next = n;
  rsrcw::Bytes out;
  if (ok && OHByteSwapHeap(copy, &SwapObjectAllToFile, kToFileOrder) == kNoErr)
    out.assign(*copy, *copy + AZGetHandleSize(copy));
  AZDisposeHandle(copy);
  if (out.empty()) return {};
  if (file)
    for (const auto& r : rsrcs)
      if (!file->Add(r.first, r.second.first, *r.second.second)) return {};
  if (layout) *layout = lay;
  return out;
}

bool AddPanelHeap(rsrcw::Writer& file, ObjHeap heap, int32 rsrcId, const std::string& viName, int32 firstNumber,
                  const std::vector<PanelObject>& objects, HeapLayout* layout) {
  rsrcw::Bytes image = PanelHeapImage(heap, firstNumber, objects, &file, layout);
  if (image.empty()) return false;
  LinkInfoRecords info;
  info.classCode = kPanelHeapKind;
  info.name = viName;
  rsrcw::Bytes link = liw::Write(info);
  if (link.empty()) return false;
  return file.Add(kPanelHeapKind, rsrcId, image) && file.Add(kLinkInfoPanel, rsrcId, link);
}

ObjHeap ReadStoredHeap(const rsrcw::Bytes& file, int32 rsrcId, uInt32* ref) {
  *ref = 0;
  UHandle fh = AZNewHandle(int32(file.size()));
  if (!fh) return nullptr;
  std::memcpy(*fh, file.data(), file.size());
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, ref, nullptr, nullptr, fh) != kNoErr) {
    AZDisposeHandle(fh);
    *ref = 0;
    return nullptr;
  }
  UHandle h = nullptr;
  if (RGet(*ref, kPanelHeapKind, rsrcId, &h) != kNoErr || RDetach(h) != kNoErr) return nullptr;
  if (OHByteSwapHeap(h, &OSwapByClass, kToMemoryOrder) != kNoErr) {
    AZDisposeHandle(h);
    return nullptr;
  }
  OHLinkHeap(h);
  return h;
}

namespace {

void Be32(rsrcw::Bytes& b, uInt32 v) {
  for (int i = 3; i >= 0; --i) b.push_back(uChar(v >> (8 * i)));
}
void Be16(rsrcw::Bytes& b, uInt32 v) {
  b.push_back(uChar(v >> 8));
  b.push_back(uChar(v));
}
void Run(rsrcw::Bytes& b, const TextRun& r) {
  Be32(b, r.start);
  Be32(b, uInt32(r.font));
  Be32(b, r.colour);
}

}  // namespace

rsrcw::Bytes TextRecordRsrc(const SavedText& t) {
  rsrcw::Bytes b;
  Be32(b, t.flags);
  Be32(b, t.mode);
  Be32(b, t.storeText ? 0 : 1);
  for (int16 v : t.view) Be16(b, uInt16(v));
  for (int16 v : {t.view[0], t.view[1], t.view[2], t.view[3]}) Be32(b, uInt32(int32(v)));
  Be32(b, 0);  // line table
  Be32(b, t.background);
  Be32(b, uInt32(t.selStart));
  Be32(b, uInt32(t.selEnd));
  Be16(b, t.carried[0]);
  Be16(b, t.carried[1]);
  Be32(b, uInt32(t.runs.size()));
  Run(b, t.insertion);
  for (const TextRun& r : t.runs) Run(b, r);
  if (t.storeText) {
    Be32(b, uInt32(t.text.size()));
    b.insert(b.end(), t.text.begin(), t.text.end());
  }
  return b;
}

rsrcw::Bytes FontTableRsrc(const std::vector<FontEntry>& entries, int32 first, bool newForm, uInt32 version) {
  const uInt32 entrySize = newForm ? 16 : 12;
  rsrcw::Bytes b;
  Be32(b, (newForm ? 0x10000u : 0u) | (version & 0xFF));
  Be16(b, uInt32(first));
  Be16(b, uInt32(entries.size()));
  uInt32 names = 8 + entrySize * uInt32(entries.size());
  rsrcw::Bytes tail;
  for (const FontEntry& e : entries) {
    Be32(b, e.name.empty() ? 0 : names + uInt32(tail.size()));
    Be16(b, uInt16(e.size));
    Be16(b, e.style);
    Be16(b, uInt16(e.weight));
    if (newForm) {
      Be16(b, 0);
      Be16(b, 0);
    }
    Be16(b, 0);  // the last metric of the new form, padding of the old
    if (!e.name.empty()) {
      tail.push_back(uChar(e.name.size()));
      tail.insert(tail.end(), e.name.begin(), e.name.end());
    }
  }
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

namespace {

// The instance sizes of the classes a graph is made of, and where the
// graph and its parts keep their fields (bytes of the objects).
constexpr int32 kGraphBytes = 100, kScaleBytes = 52, kCosmeticBytes = 36, kLabelBytes = 40;
constexpr int32 kBoundsAt = 16, kCosmeticForeAt = 28, kCosmeticBackAt = 32;
constexpr int32 kGraphTypeIdAt = 4 * 9, kGraphStateAt = 4 * 11, kGraphStateTDAt = 4 * 12, kGraphLegendLabelAt = 4 * 18,
                kGraphLegendNameWidthAt = 4 * 20, kGraphKindAt = 98;
constexpr int32 kScaleAt = 4 * 7, kScaleTDAt = 4 * 8;
// Part ids: the x and y scales, the plot area, the legend.
constexpr int16 kXScalePart = 18, kYScalePart = 19, kPlotAreaPart = 28, kLegendPart = 32;
constexpr int32 kLegendNameWidth = 50;

void SetRect(ObjHeap heap, int32 obj, const Rect& r) { std::memcpy(*heap + obj + kBoundsAt, &r, sizeof r); }

}  // namespace

GraphObject NewGraph(ObjHeap heap, int32 owner, const GraphSpec& s) {
  GraphObject g;
  g.graph = vib::NewObject(heap, kClsGraphChart, kGraphBytes, owner);
  if (!g.graph) return {};
  PutNative16(*heap + g.graph + kGraphKindAt, uInt16(s.type));
  PutNative32(*heap + g.graph + kGraphTypeIdAt, uInt32(s.typeId));
  PutNative32(*heap + g.graph + kGraphStateAt, uInt32(s.stateAt));
  PutNative32(*heap + g.graph + kGraphStateTDAt, uInt32(s.stateTD));
  SetRect(heap, g.graph, s.bounds);
  g.plotArea = vib::NewObject(heap, kClsCosmetic, kCosmeticBytes, g.graph, kPlotAreaPart);
  g.xScale = g.plotArea ? vib::NewObject(heap, kClsScale, kScaleBytes, g.graph, kXScalePart) : 0;
  g.yScale = g.xScale ? vib::NewObject(heap, kClsScale, kScaleBytes, g.graph, kYScalePart) : 0;
  if (!g.yScale) return {};
  SetRect(heap, g.plotArea, s.plotArea);
  PutNative32(*heap + g.plotArea + kCosmeticForeAt, 0);
  PutNative32(*heap + g.plotArea + kCosmeticBackAt, s.plotBack);
  // The scales span the plot area; their records say where min and max lie.
  SetRect(heap, g.xScale, s.plotArea);
  SetRect(heap, g.yScale, s.plotArea);
  PutNative32(*heap + g.xScale + kScaleAt, uInt32(s.xScaleAt));
  PutNative32(*heap + g.xScale + kScaleTDAt, uInt32(s.xScaleTD));
  PutNative32(*heap + g.yScale + kScaleAt, uInt32(s.yScaleAt));
  PutNative32(*heap + g.yScale + kScaleTDAt, uInt32(s.yScaleTD));
  if (s.legend.bottom > s.legend.top && s.legend.right > s.legend.left) {
    g.legend = vib::NewObject(heap, kClsCosmetic, kCosmeticBytes, g.graph, kLegendPart);
    const int32 label = g.legend ? vib::NewObject(heap, kClsLabel, kLabelBytes, g.graph) : 0;
    if (!label) return {};
    SetRect(heap, g.legend, s.legend);
    SetRect(heap, label, Rect{0, 0, 14, 30});
    PutNative32(*heap + g.graph + kGraphLegendLabelAt, uInt32(label));
    PutNative32(*heap + g.graph + kGraphLegendNameWidthAt, kLegendNameWidth);
  }
  return g;
}

std::vector<std::pair<int32, int32>> ScaleRecordWords(int32 at, float64 min, float64 max, float64 increment,
                                                      int16 pixelStart, int16 pixelEnd) {
  std::vector<std::pair<int32, int32>> out;
  const auto f64 = [&](int32 field, float64 v) {
    uInt32 w[2];
    std::memcpy(w, &v, sizeof v);
    out.push_back({at + field, int32(w[0])});
    out.push_back({at + field + 4, int32(w[1])});
  };
  // min, max, first marker, increment, minor increment, multiplier.
  f64(0, min);
  f64(8, max);
  f64(16, min);
  f64(24, increment);
  f64(32, increment / 2);
  f64(40, 1.0);
  // The pixel start and end, two 16-bit fields of one word.
  out.push_back({at + 76, int32(uInt32(uInt16(pixelStart)) << 16)});  // the radius stays 0
  out.push_back({at + 80, int32(uInt16(pixelEnd))});
  return out;
}

}  // namespace panelwriter
