// Inserting a new object described by a creation record.
#include "panel/trinsert.h"

#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "panel/fpinit.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/textparts.h"

namespace {

constexpr int32 kInsertAtEnd = 0x7FFFFFFF;
constexpr int16 kLabelPart = 16;
constexpr int32 kAnswerInserted = 1, kAnswerMemFull = 2;
constexpr int32 kResultRefused = 16, kResultInserted = 128;

UHandle OwnerVI(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 ? reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(ext + kHeapExtOwner)))) : nullptr;
}

}  // namespace

int32 TRInsertNewObject(ObjHeap heap, int32 owner, void* dialogRecord, CreationRecord* record, int32 placeFlag) {
  record->placeFlag = 0;
  // The flags field names the template the object is made from.
  const int32 object = FPNewObjectAt(heap, record->point, record->kind, record->className, record->creatorWord,
                                     int32(record->flags));
  if (!object) {
    record->newObject = 0;
    return kResultRefused;
  }
  const int32 answer = OInsert(heap, owner, object, kInsertAtEnd);
  if (answer != kAnswerInserted) {
    DisposeObjectTree(heap, object);
    if (answer == kAnswerMemFull) MemFullAlert(0, 1);
    else WBeep();
    return 0;
  }
  int32 result = 0;
  if (record->deferPlace) {
    record->placeFlag = placeFlag;
    record->newObject = object;
    record->newOwner = owner;
  } else if (!placeFlag) {
    if (const int32 label = FindPart(heap, object, kLabelPart, 0))
      ObjSetWord(heap, label, 0, ObjWord(heap, label, 0) | int32(kObjFlagHidden));
    OSize(heap, object, nullptr, 0);
  } else {
    result = PlaceNewObject(heap, owner, object, static_cast<TransactionFrame*>(dialogRecord),
                            reinterpret_cast<ActionParams*>(record));
  }
  OInval(heap, object, 0);
  if (UHandle vi = OwnerVI(heap))
    VIDocMod(vi, reinterpret_cast<UHandle>(heap),
             ClassRecord(ObjClass(heap, object))->categoryB == kCatCOSM ? kDocModCosmetic : kDocModObject);
  return result | kResultInserted;
}
