// Words of the type heap shared by its source files.
#pragma once
#include <cstdint>

#include "mgsource/byteorder.h"
#include "typemgr.h"

namespace tyh {

// Reports of the type heap name this source.
inline constexpr char kSourceFile[] = "typemgr";

extern ObjHeap gHeap;

inline int32 Rd(ObjHeap h, int32 at) { return int32(GetNative32(*h + at)); }
inline void Wr(ObjHeap h, int32 at, int32 v) { PutNative32(*h + at, uInt32(v)); }

inline int32 Ext() { return int32(OHWord(gHeap, kOHExtension)); }
inline int32 VIList() { return Rd(gHeap, Ext() + kTypeHeapExtVIList); }
inline void SetVIList(int32 list) { Wr(gHeap, Ext() + kTypeHeapExtVIList, list); }
inline int32 SharedList() { return Rd(gHeap, Ext() + kTypeHeapExtSharedList); }
inline void SetSharedList(int32 list) { Wr(gHeap, Ext() + kTypeHeapExtSharedList, list); }

inline UHandle RecVI(int32 rec) { return reinterpret_cast<UHandle>(uintptr_t(uInt32(Rd(gHeap, rec + kITRVI)))); }
inline TypeDescriptor* TDAt(ObjHeap h, int32 off) { return reinterpret_cast<TypeDescriptor*>(*h + off); }
inline int32 TDSize(const void* td) { return int32(GetNative16(static_cast<const uChar*>(td))); }

// The VI record's cached position in the VI list.
inline int32 CachedIndex(UHandle vi) { return int32(GetNative32(*vi + kVITypeHeapIndex)); }
inline void SetCachedIndex(UHandle vi, int32 i) { PutNative32(*vi + kVITypeHeapIndex, uInt32(i)); }

// True when the type heap exists; an assertion otherwise.
bool HaveHeap();

}  // namespace tyh
