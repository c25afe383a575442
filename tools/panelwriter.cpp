#include "tools/panelwriter.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/link/linkinfo.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "tools/linkinfowriter.h"

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

}  // namespace panelwriter
