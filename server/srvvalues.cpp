#include "server/srvvalues.h"

#include <cstring>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/flatten.h"
#include "mgsource/memory.h"

namespace srvval {

void PutBool(void* value, bool on) { *static_cast<uInt8*>(value) = on ? 1 : 0; }
bool GetBool(const void* value) { return *static_cast<const uInt8*>(value) != 0; }
void PutI32(void* value, int32 v) { std::memcpy(value, &v, sizeof v); }
int32 GetI32(const void* value) {
  int32 v;
  std::memcpy(&v, value, sizeof v);
  return v;
}
void PutI16(uChar* at, int32 v) {
  const int16 w = int16(v);
  std::memcpy(at, &w, sizeof w);
}
int16 GetI16(const uChar* at) {
  int16 w;
  std::memcpy(&w, at, sizeof w);
  return w;
}

void PutRect(void* value, const Rect& r) {
  auto* at = static_cast<uChar*>(value);
  PutI16(at, r.left);
  PutI16(at + 2, r.top);
  PutI16(at + 4, r.right);
  PutI16(at + 6, r.bottom);
}
Rect GetRect(const void* value) {
  const auto* at = static_cast<const uChar*>(value);
  return Rect{GetI16(at + 2), GetI16(at), GetI16(at + 6), GetI16(at + 4)};
}

MgErr SetString(LStrHandle* slot, const uChar* bytes, int32 n) {
  LStrHandle h = *slot;
  if (!h) {
    h = reinterpret_cast<LStrHandle>(DSNewHandle(n + 4));
    if (!h) return kMemFullErr;
    *slot = h;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(h), n + 4) != kNoErr) {
    return kMemFullErr;
  }
  (*h)->cnt = n;
  if (n > 0) std::memcpy((*h)->str, bytes, size_t(n));
  return kNoErr;
}
MgErr SetPString(void* value, ConstPStr text) { return SetString(static_cast<LStrHandle*>(value), text + 1, text[0]); }
MgErr SetPath(void* value, Path p) { return CopyPath(p, static_cast<Path*>(value)); }

int32 HandleSize(UHandle h) {
  if (!h) return -1;
  if (MemIsDSHandle(h)) return DSGetHandleSize(h);
  return AZIsHandle(h) ? AZGetHandleSize(h) : -1;
}

bool StringBytes(LStrHandle h, const uChar** bytes, int32* n) {
  *bytes = nullptr;
  *n = 0;
  if (!h) return true;
  const int32 size = HandleSize(reinterpret_cast<UHandle>(h));
  if (size < 4 || (*h)->cnt < 0 || (*h)->cnt > size - 4) return false;
  *bytes = (*h)->str;
  *n = (*h)->cnt;
  return true;
}

bool ArrayElements(UHandle h, int32 elemSize, uChar** first, int32* count) {
  *first = nullptr;
  *count = 0;
  if (!h) return true;
  const int32 size = HandleSize(h);
  int32 n = 0;
  if (size < 4) return false;
  std::memcpy(&n, *h, sizeof n);
  if (n < 0 || int64(n) * elemSize > size - 4) return false;
  *first = *h + 4;
  *count = n;
  return true;
}

uChar* SizeArray(UHandle* slot, const TypeDescriptor* element, int32 count, MgErr* err) {
  int32 sizes[1] = {count};
  int32* list = sizes;
  *err = ArrayResize(element, 1, slot, &list);
  if (*err || !*slot) return nullptr;
  return **slot + AlignDatum(element, 4);
}

const TypeDescriptor* ArrayElement(const TypeDescriptor* array) {
  const auto* p = reinterpret_cast<const uChar*>(array);
  return reinterpret_cast<const TypeDescriptor*>(p + 6 + 4 * GetI16(p + 4));
}

std::vector<int32> ElementOffsets(const TypeDescriptor* cluster) {
  const int16 n = GetI16(reinterpret_cast<const uChar*>(cluster) + 4);
  std::vector<int32> at;
  int32 offset = 0;
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* e = ElemTD(cluster, i);
    offset = AlignDatum(e, offset);
    at.push_back(offset);
    offset += DataSize(e);
  }
  return at;
}

MgErr SetNames(void* value, const std::vector<ConstPStr>& names) {
  const TypeDescriptor* str = StdTDTable[kStdTDString];
  const size_t stride = size_t(DataSize(str));
  MgErr err = kNoErr;
  auto* slot = static_cast<UHandle*>(value);
  if (!SizeArray(slot, str, int32(names.size()), &err)) return err ? err : MgErr(kMemFullErr);
  for (size_t i = 0; !err && i < names.size(); ++i) {
    // The handle may move while its strings are made: the element's address
    // is taken again each time.
    LStrHandle s = nullptr;
    std::memcpy(&s, **slot + AlignDatum(str, 4) + i * stride, sizeof s);
    err = SetString(&s, names[i] + 1, names[i][0]);
    std::memcpy(**slot + AlignDatum(str, 4) + i * stride, &s, sizeof s);
  }
  return err;
}

std::vector<int16> TypeWords(const TypeDescriptor* td) {
  const int32 size = td ? int32(uInt16(GetI16(reinterpret_cast<const uChar*>(td)))) : 0;
  if (size < 4 || size == kTDSizeInHolder) return {};
  std::vector<int16> words(size_t(size + 1) / 2, 0);
  std::memcpy(words.data(), td, size_t(size));
  TDByteSwap(reinterpret_cast<TypeDescriptor*>(words.data()), 1, 0);
  return words;
}

MgErr SetWords(UHandle* slot, const std::vector<int16>& words) {
  MgErr err = kNoErr;
  uChar* at = SizeArray(slot, StdTDTable[2], int32(words.size()), &err);
  if (!at) return err ? err : MgErr(kMemFullErr);
  if (!words.empty()) std::memcpy(at, words.data(), words.size() * sizeof(int16));
  return kNoErr;
}

}  // namespace srvval
