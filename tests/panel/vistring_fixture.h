// A panel for the string import: a free label, a string control with its
// name label, a ring with its items, a cluster holding a string and a
// numeric part that reads nothing; and the section of a string file that
// matches it, with its parts replaceable.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "panel/objects.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace vsfix {

struct Panel {
  int32 label, stringDco, string, name, ringDco, ring, items, cluster, inner;
};

// An object with its owner word set (lists are set by the caller).
inline int32 Obj(ObjHeap h, int32 cls, int32 owner = 0, int16 id = 0) {
  const int32 o = vib::NewObject(h, cls, ClassRecord(cls)->instanceSize, 0, id, 0);
  ObjSetWord(h, o, kPWOwner, owner);
  return o;
}
inline void SetText(ObjHeap h, int32 o, const std::string& s) {
  const Rect r{0, 0, 20, 100};
  TRecord t = TNew(&r, 0, reinterpret_cast<const uChar*>(s.data()), int32(s.size()), kAppFont, 0, kTransparentColor);
  ObjSetWord(h, o, kPWLabelText, int32(uintptr_t(t)));
}
inline std::string TextOf(ObjHeap h, int32 o) {
  TRecord t = reinterpret_cast<TRecord>(uintptr_t(uInt32(ObjWord(h, o, kPWLabelText))));
  UHandle s = t ? TGetText(t) : nullptr;
  return s ? std::string(reinterpret_cast<const char*>(*s + 4), GetNative32(*s)) : std::string();
}
inline UHandle ItemList(const std::vector<std::string>& items) {
  std::string b(4, '\0');
  PutNative32(reinterpret_cast<uChar*>(b.data()), uInt32(items.size()));
  for (const std::string& s : items) b += char(s.size()) + s;
  UHandle h = AZNewHandle(int32(b.size()));
  std::memcpy(*h, b.data(), b.size());
  return h;
}
// A data controller on the root around a display object of the class.
inline int32 Control(ObjHeap h, int32 cls, const tdb::TD& td, int32* display) {
  std::vector<uChar> bytes = td.Bytes();
  const TypeID t = NewTypeIDForTD(h, tdb::AsTD(bytes));
  const int32 dco = Obj(h, kClsFPDataController);
  *display = Obj(h, cls, dco);
  ObjSetWord(h, dco, kPWDCOTypeId, int32(t));
  ObjSetWord(h, *display, kPWDDOTypeId, int32(t));
  ObjSetWord(h, dco, kPWDCODisplay, *display);
  return dco;
}

// Further top-level objects, one of each other class that reads elements
// of its own or none (controls wrapped in CONTROL, the rest bare), and
// their elements in a syntaxVersion 2 file.
struct Extra {
  int32 cls;
  bool control;
  const char* elements;
};
inline const std::vector<Extra>& Extras() {
  static const std::vector<Extra> extras = {
      {kClsBoolean, true, "<DESC></DESC>"}, {kClsPicture, true, "<DESC></DESC>"},
      {kClsTypeDefinition, true, "<DESC></DESC>"}, {kClsNumeric, true, "<DESC></DESC>"},
      {kClsColorRamp, true, "<DESC></DESC>"}, {kClsColorBox, true, "<DESC></DESC>"},
      {kClsSlide, true, "<DESC></DESC>"}, {kClsKnob, true, "<DESC></DESC>"}, {kClsRefNum, true, "<DESC></DESC>"},
      {kClsPath, true, "<DESC></DESC><DEFAULT><PATH></PATH></DEFAULT>"},
      {kClsTable, true, "<DESC></DESC><PRIV></PRIV><DEFAULT></DEFAULT>"},
      {kClsListbox, true, "<DESC></DESC><LBLABEL></LBLABEL><PRIV><ITEMS></ITEMS></PRIV>"},
      {kClsGraphChart, true, "<DESC></DESC><PRIV></PRIV>"}, {kClsScale, true, ""},
      {kClsContainer, false, "<DESC></DESC>"}, {kClsUserItem, false, "<DESC></DESC>"},
      {kClsGrouperObject, false, "<GROUPER></GROUPER>"}, {kClsCosmetic, false, ""}, {kClsSelLabel, false, ""},
  };
  return extras;
}

inline Panel Build(ObjHeap h, int32 root, bool enumRing = false) {
  Panel p{};
  p.label = Obj(h, kClsLabel);
  SetText(h, p.label, "Hello");
  p.stringDco = Control(h, kClsString, tdb::String(), &p.string);
  p.name = Obj(h, kClsLabel, p.string, 16);
  SetText(h, p.name, "Name");
  const int32 digital = Obj(h, kClsNumeric, p.string, int16(kPartDigital));
  ObjSetWord(h, p.string, kObjPartList / 4, vib::NewList(h, {p.name, digital}));
  p.ringDco = Control(h, kClsRing, enumRing ? tdb::Enum(kTDEnumU16, {"a", "b", "c", "d"}) : tdb::U16(), &p.ring);
  p.items = Obj(h, kClsMultiLabel, p.ring, 12);
  SetText(h, p.items, "a");
  ObjSetWord(h, p.items, 11, int32(uintptr_t(ItemList({"a", "b", "c", "d"}))));
  ObjSetWord(h, p.ring, kObjPartList / 4, vib::NewList(h, {p.items}));
  int32 clusterDco = Control(h, kClsCluster, tdb::Cluster({tdb::String()}), &p.cluster);
  p.inner = Obj(h, kClsString, p.cluster);
  ObjSetWord(h, p.cluster, kPWClusterElements, vib::NewList(h, {p.inner}));
  std::vector<int32> top = {p.label, p.stringDco, p.ringDco, clusterDco};
  for (const Extra& e : Extras()) {
    int32 display = 0;
    top.push_back(e.control && e.cls != kClsScale
                      ? Control(h, e.cls, e.cls == kClsPath ? tdb::Path() : tdb::U8(), &display)
                      : Obj(h, e.cls));
  }
  ObjSetWord(h, root, kRootObjectListWord, vib::NewList(h, top));
  return p;
}

// The file's parts that tests change.
struct File {
  std::string viName = "Test", name = "Name", ringItems = "abcd", label = "Hello", head = "", tail = "";
};
inline std::string ExtraElements() {
  std::string s;
  for (auto e = Extras().rbegin(); e != Extras().rend(); ++e)
    s += e->control ? "<CONTROL ID=" + std::to_string(e->cls) + " name=\"\">" + e->elements + "</CONTROL>\r\n"
                    : std::string(e->elements) + "\r\n";
  return s;
}
inline std::string Section(const File& f) {
  std::string items;
  for (char c : f.ringItems) items += std::string("<STRING>") + c + "</STRING>";
  return f.head + "<VI QXversion=0 revision=1 name=\"" + f.viName + "\" syntaxVersion=2>\r\n" +
         "<TITLE>Title</TITLE>\r\n<HELP_PATH></HELP_PATH><HELP_TAG></HELP_TAG>" +
         "<RTM_PATH type=\"default\"></RTM_PATH>\r\n<DESC></DESC>\r\n<CONTENT>\r\n" + ExtraElements() +
         "<CONTROL ID=83 name=\"\"><DESC></DESC><CONTENT>" +
         "<CONTROL ID=81 name=\"\"><DESC></DESC><DEFAULT><STRING></STRING></DEFAULT></CONTROL>" +
         "</CONTENT></CONTROL>\r\n" +
         "<CONTROL ID=87 name=\"\"><DESC></DESC><PARTS><PART ID=12 order=0><MLABEL><STRINGS>" + items +
         "</STRINGS></MLABEL></PART></PARTS></CONTROL>\r\n" +
         "<CONTROL ID=81 name=\"" + f.name + "\"><DESC></DESC><PARTS></PARTS>" +
         "<DEFAULT><STRING></STRING></DEFAULT></CONTROL>\r\n" +
         "<LABEL><STEXT>" + f.label + "</STEXT></LABEL>\r\n</CONTENT>\r\n</VI>\r\n" + f.tail;
}

}  // namespace vsfix
