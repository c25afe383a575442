// Class ids by name and the link of a type-definition object to its VI.
#include "engine/link/linker.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "panel/objects.h"

namespace {

bool IsTypeDef(ObjHeap heap, int32 object) {
  if (heap && *heap && object > 0 && ObjClass(heap, object) == kClassTypeDef) return true;
  DBAssert(__FILE__, __LINE__, "a type-definition link of an object of another class");
  return false;
}

uInt32 ObjectFlagBits(ObjHeap heap, int32 object, uInt32 set, uInt32 clear) {
  if (!heap || !*heap || object <= 0) return 0;
  const uInt32 old = uInt32(ObjWord(heap, object, kObjFlags / 4));
  ObjSetWord(heap, object, kObjFlags / 4, int32((old | set) & ~clear));
  return old;
}

void SetLinkOfTypeDef(ObjHeap heap, int32 object, UHandle vi) { TypeDefSetLink(heap, object, vi); }

}  // namespace

int32 ClassIdByName(ConstPStr name) {
  if (!name) return 0;
  const ObjClassRecord* const* table = ClassIdTable();
  // The filler records are no class: their name never matches.
  for (int32 id = 0; id < kClassIdCount; ++id)
    if (table[id]->methodCount != 0 && PStrCmp(table[id]->name, name) == 0) return id;
  return 0;
}

UHandle TypeDefGetLink(ObjHeap heap, int32 object) {
  if (!IsTypeDef(heap, object)) return nullptr;
  if (uInt32(ObjWord(heap, object, kObjFlags / 4)) & kTypeDefLinkStale) return nullptr;
  return reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, object, kTypeDefLinkWord))));
}

void TypeDefSetLink(ObjHeap heap, int32 object, UHandle vi) {
  if (!IsTypeDef(heap, object)) return;
  ObjSetWord(heap, object, kTypeDefLinkWord, int32(uintptr_t(vi)));
  ObjectFlagBits(heap, object, 0, kTypeDefLinkStale);
}

void PanelInstallLinkHooks() {
  LinkPanelHooks hooks{};
  hooks.typeDefSetLink = &SetLinkOfTypeDef;
  hooks.objectFlags = &ObjectFlagBits;
  hooks.classIdByName = &ClassIdByName;
  SetLinkPanelHooks(&hooks);
}
