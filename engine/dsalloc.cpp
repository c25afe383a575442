// The allocation pass: entries appended to a VI's data space and to its
// DataSpaceTD, aligned by padding entries, and the pass for one panel object.
//
// After a memory failure (error flag 2) the pass goes on counting and placing
// entries, so that the offsets handed out stay consistent, but writes
// nothing.  What it publishes in the DataSpaceTD (size word, entry count) and
// in the data space (used size) is only what was really written: the entries
// counted after the failure are not in the handles, and walkers of the
// descriptor must never be told they are.
#include "engine/dsalloc.h"

#include <cstring>

#include "engine/datamgr.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"

namespace {

constexpr int32 kGrowSlack = 2048;

DSAllocState gState{};
// What is really in the handles: descriptors, their entry count, and the end
// of the last entry whose data was allocated.
int32 gTDWritten = 0;
int16 gCountWritten = 0;
int32 gDataWritten = 0;
// The data block's address when the pass began.
const void* gBlockAtBegin = nullptr;

EnginePanelHooks gHooks{};
DSMovedProc gMovedProc = nullptr;

void ClearState() {
  int32 kept0 = gState.kept[0], kept1 = gState.kept[1];
  gState = DSAllocState{};
  gState.kept[0] = kept0;
  gState.kept[1] = kept1;
  gState.alignLimit = 1;
  gTDWritten = 0;
  gCountWritten = 0;
  gDataWritten = 0;
  gBlockAtBegin = nullptr;
}

bool Inside(const void* p, UHandle h, int32 size) {
  if (!h || !*h || size <= 0) return false;
  const uChar* b = *h;
  const uChar* q = static_cast<const uChar*>(p);
  return q >= b && q < b + size;
}

// The cluster header of the DataSpaceTD: the size word (0xFFFF at 65,535 or
// more, the handle then holding the true size) and the entry count.
void WriteTDHeader(UHandle td, int32 used, int16 count) {
  PutNative16(*td, used >= 0xFFFF ? kTDSizeInHolder : uInt16(used));
  PutNative16(*td + 4, uInt16(count));
}

// The alignment the end of data needs before an entry of this descriptor.
int32 EntryAlignment(const uChar* td) {
  uChar code = td[2];
  if ((code >= kTDCSG && code <= kTDCXT) || (code >= kTDUnitCSG && code <= kTDUnitCXT)) code = uChar(code - 3);
  switch (code) {
    case kTDString: case kTDHandle: case kTDPath: case kTDString33: case kTDString37:
    case kTDArray: case kTDRefnum: case kTDTypedRef:
      return 4;
    case kTDCluster:
      return int16(GetNative16(td + 4)) > 0 ? EntryAlignment(td + 6) : 1;
    case kTDWrapper:
      return EntryAlignment(td + 4);
    default:
      if (code >= 1 && code <= 30) {
        int32 n = NumSize(code);
        return n < 1 ? 1 : (n > 8 ? 8 : n);
      }
      return 1;
  }
}

void AlignDSEnd(const TypeDescriptor* td) {
  int32 a = EntryAlignment(reinterpret_cast<const uChar*>(td));
  int32 end = gState.endOfData;
  int32 aligned = (end + a - 1) / a * a;
  if (aligned != end) AllocDSBlock(aligned - end, 0, 0, 1);
}

// Grows a handle to need + the slack, cleared; false when it cannot.
bool Grow(UHandle h, int32 need, int32* allocated) {
  int64 want = int64(need) + kGrowSlack;
  if (want > 0x7FFFFFFF || DSSetHSzClr(h, int32(want)) != kNoErr) return false;
  *allocated = int32(want);
  return true;
}

// Makes the pass write nothing from here on (handles that cannot be used).
void Refuse(const char* why) {
  DBAssert(__FILE__, __LINE__, why);
  gState.errorFlags |= kDSAllocMemErr;
}

void MarkDeep(uChar* td, uChar bits) {
  td[3] |= bits;
  uChar code = td[2];
  if (code != kTDCluster && code != kTDUnion) return;
  int32 n = int16(GetNative16(td + 4));
  uChar* e = td + 6;
  for (int32 i = 0; i < n; ++i) {
    uInt16 sz = GetNative16(e);
    if (sz < 4) break;
    MarkDeep(e, bits);
    e += sz;
  }
}

}  // namespace

const DSAllocState* DSAllocCurrentState() { return &gState; }

void AllocBeginPass(UHandle vi) {
  if (gState.active) {
    DBAssert(__FILE__, __LINE__, "AllocBeginPass: a pass is already active");
    return;
  }
  ClearState();
  gState.active = 1;
  VIRecord* r = vi && *vi ? VIRec(vi) : nullptr;
  UHandle ds = r ? r->dataSpace : nullptr;
  UHandle td = r ? r->dsTypeMap : nullptr;
  int32 dsSize = ds ? DSGetHandleSize(ds) : -1;
  int32 tdSize = td ? DSGetHandleSize(td) : -1;
  if (dsSize < kDataSpaceHeaderSize || tdSize < 6) {
    Refuse("AllocBeginPass: the VI has no data space or no data-space type");
    return;
  }
  int32 used = DSHdr(ds)->size;
  uInt16 sizeWord = GetNative16(*td);
  int32 tdUsed = sizeWord == kTDSizeInHolder ? tdSize : sizeWord;
  if (used < kDataSpaceHeaderSize || used > dsSize || tdUsed < 6 || tdUsed > tdSize) {
    Refuse("AllocBeginPass: the data space's sizes disagree with its handles");
    return;
  }
  gState.dataSpace = gState.dataSpaceCopy = ds;
  gBlockAtBegin = *ds;
  gState.typeDesc = gState.typeDescCopy = td;
  gState.dataAllocated = dsSize;
  gState.tdAllocated = tdSize;
  gState.endOfData = gDataWritten = used;
  gState.tdUsed = gTDWritten = tdUsed;
  gState.entryCount = gCountWritten = int16(GetNative16(*td + 4));
}

void AllocEndPass() {
  if (!gState.active) {
    DBAssert(__FILE__, __LINE__, "AllocEndPass without AllocBeginPass");
    return;
  }
  UHandle ds = gState.dataSpace, td = gState.typeDesc;
  if (ds && td) {
    // Only what was written is published (see the file comment).
    int32 dataEnd = gState.errorFlags & kDSAllocMemErr ? gDataWritten : gState.endOfData;
    int32 tdEnd = gState.errorFlags & kDSAllocMemErr ? gTDWritten : gState.tdUsed;
    int16 count = gState.errorFlags & kDSAllocMemErr ? gCountWritten : gState.entryCount;
    DSHdr(ds)->size = dataEnd;
    DSSetHandleSize(ds, dataEnd);
    // Words recorded for the block where it was are stale once it moved.
    DataSpaceHeader* h = DSHdr(ds);
    if (*ds != gBlockAtBegin && (h->relocPair[0] || h->relocPair[1])) h->relocPair[0] = h->relocPair[1] = 0;
    WriteTDHeader(td, tdEnd, count);
    // From 65,535 bytes on the handle's size is the descriptor's size.
    if (DSSetHandleSize(td, tdEnd) != kNoErr && tdEnd >= 0xFFFF)
      DBAssert(__FILE__, __LINE__, "AllocEndPass: the data-space type could not be trimmed");
  }
  ClearState();
}

int32 CreateDSEntry(const TypeDescriptor* td, int32* tdOffset, Bool32 stored) {
  if (tdOffset) *tdOffset = 0;
  if (!gState.active || !td) {
    DBAssert(__FILE__, __LINE__, "CreateDSEntry outside a pass or without a descriptor");
    return 0;
  }
  if (Inside(td, gState.dataSpace, gState.dataAllocated) || Inside(td, gState.typeDesc, gState.tdAllocated)) {
    // Growing the handles would move it under our feet.
    Refuse("CreateDSEntry: the descriptor lies inside the handles being grown");
    return 0;
  }
  uInt16 tdSize = td->size;
  if (tdSize < 4 || tdSize == kTDSizeInHolder) {
    Refuse("CreateDSEntry: an entry descriptor must be 4 to 65,534 bytes");
    return 0;
  }
  AlignDSEnd(td);
  int32 size = DataSize(td);
  if (int64(gState.endOfData) + size > 0x7FFFFFFF || int64(gState.tdUsed) + tdSize > 0x7FFFFFFF ||
      gState.entryCount == 0x7FFF) {
    Refuse("CreateDSEntry: the data space cannot hold more");
    return gState.endOfData;
  }
  int32 at = gState.tdUsed;
  if (tdOffset) *tdOffset = at;
  int32 offset = gState.endOfData;
  gState.endOfData += size;
  gState.tdUsed += tdSize;
  gState.entryCount += 1;
  gState.lastTDOffset = at;
  if (gState.errorFlags & kDSAllocMemErr) return offset;

  if (gState.tdUsed > gState.tdAllocated && !Grow(gState.typeDesc, gState.tdUsed, &gState.tdAllocated)) {
    gState.errorFlags |= kDSAllocMemErr;
    return offset;
  }
  uChar* dst = *gState.typeDesc + at;
  std::memcpy(dst, td, tdSize);
  dst[3] = uChar(stored ? (dst[3] | kDSEntryStored) : (dst[3] & ~kDSEntryStored));
  if (gState.endOfData > gState.dataAllocated &&
      !Grow(gState.dataSpace, gState.endOfData, &gState.dataAllocated)) {
    gState.errorFlags |= kDSAllocMemErr;
    return offset;
  }
  // The entry is in both handles now: the descriptor may say so.
  gTDWritten = gState.tdUsed;
  gCountWritten = gState.entryCount;
  gDataWritten = gState.endOfData;
  WriteTDHeader(gState.typeDesc, gTDWritten, gCountWritten);
  if (InitEmptyData(reinterpret_cast<const TypeDescriptor*>(*gState.typeDesc + at), *gState.dataSpace + offset) !=
      kNoErr)
    gState.errorFlags |= kDSAllocMemErr;
  return offset;
}

int32 CreateDSEntry_Old(UHandle tdHandle, int32 offset, int32* tdOffset, Bool32 stored) {
  if (!tdHandle || !*tdHandle || offset < 0) {
    DBAssert(__FILE__, __LINE__, "CreateDSEntry_Old without a descriptor");
    if (tdOffset) *tdOffset = 0;
    return 0;
  }
  return CreateDSEntry(reinterpret_cast<const TypeDescriptor*>(*tdHandle + offset), tdOffset, stored);
}

int32 AllocDSBlock(int32 count, int32 /*unused*/, Bool32 stored, int32 align) {
  int32 a = int32(uInt32(align) & (0u - uInt32(align)));
  if (a < 1) a = 1;
  if (a > 8) a = 8;
  int32 end = gState.endOfData;
  int32 gap = (a - end % a) % a;
  if (gap) {
    PadBlockTD pad = MakePadBlockTD(gap);
    CreateDSEntry(reinterpret_cast<const TypeDescriptor*>(&pad), nullptr, 0);
  }
  PadBlockTD block = MakePadBlockTD(count);
  return CreateDSEntry(reinterpret_cast<const TypeDescriptor*>(&block), nullptr, stored);
}

int16 DSAllocErrorFlags() { return gState.errorFlags; }
void DSAllocSetError(int16 flag) { gState.errorFlags |= flag; }
int32 DSAllocEndOfData() { return gState.endOfData; }

void DSAllocMarkEntryTD(int32 tdOffset, uChar bits) {
  if (!gState.active || !gState.typeDesc || tdOffset < 6 || tdOffset + 4 > gTDWritten) {
    DBAssert(__FILE__, __LINE__, "DSAllocMarkEntryTD: no such entry");
    return;
  }
  MarkDeep(*gState.typeDesc + tdOffset, bits);
}

MgErr AllocObjDataSpace(ObjHeap heap, int32 object) {
  UHandle vi = PanelHeapOwner(heap);
  if (!vi || !*vi) {
    DBAssert(__FILE__, __LINE__, "AllocObjDataSpace: the heap has no owner VI");
    return kArgErr;
  }
  AllocBeginPass(vi);
  if (gHooks.oAllocate) gHooks.oAllocate(heap, object);
  MgErr result = gState.errorFlags ? kMemFullErr : kNoErr;
  AllocEndPass();
  UHandle ds = VIRec(vi)->dataSpace;
  if (ds && *ds && DSGetHandleSize(ds) >= kDataSpaceHeaderSize &&
      DSHdr(ds)->selfPtr != DSHdr(ds)) {
    // Running code holds addresses into the block.
    QX_ASSERT((VIRec(vi)->eState & 0xA) == 0);
    if (gMovedProc) gMovedProc(ds);
  }
  return result;
}

void SetEnginePanelHooks(const EnginePanelHooks* hooks) { gHooks = hooks ? *hooks : EnginePanelHooks{}; }
const EnginePanelHooks* GetEnginePanelHooks() { return &gHooks; }
void SetDataSpaceMovedProc(DSMovedProc proc) { gMovedProc = proc; }
