// Flattened data from files and the wire: any bytes read into data of a set
// of types from memory, from a counted string and from a stream, then
// written and read again, then disposed; and flattened types with their data
// converted between the two format versions.
//
// The first byte picks the mode and type; bit 7 selects the version
// conversion, bit 6 the old booleans.  Every source lies in a buffer of
// exactly its size, so that the sanitizer sees any read past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "tools/tdbuilder.h"

namespace {

using Bytes = std::vector<uChar>;

// Any report while reading or converting is a fault (FuzzArmed).
void Drop(const char*) {}

std::vector<Bytes> MakeTypes() {
  using namespace tdb;
  using tdb::Path;
  std::vector<TD> tds = {
      Array(Cluster({Array(String()), I16()}), {kTDVariable, kTDVariable}),
      Cluster({Union({Cluster({I16(), String(4)}), Cluster({I16(), Path()}), Cluster({I16(), EXT()})}), Handle()}),
      Array(Union({Cluster({I16(), I8()}), Cluster({I16(), Block(40)})})),
      Cluster({Path(), Array(Path()), Handle(), Array(Handle())}),
      Array(Boolean(), {kTDVariable, kTDVariable, kTDVariable}),
      Cluster({EXT(), CXT(), Array(EXT()), Array(CDB()), Array(CSG())}),
      Cluster({String(3), String(TDFixed(5)), Array(String(2)), Array(String(TDFixed(3)), {2})}),
      Array(Cluster({Array(I32(), {TDFixed(2), 3}), Boolean(), Enum(kTDEnumU8, {"a", "b"})})),
      Cluster({Variant(), Array(Variant()), Refnum(3), Typedef("t", Array(U16()))}),
      Array(Cluster({I16(), I32(), Enum(kTDEnumU16, {"x"})})),
      Cluster({Array(Cluster({})), Array(Void()), StringOf(kTDString33), StringOf(kTDString37, 6)}),
      Array(Cluster({Array(U8(), {TDFixed(4)})}), {2}),
      // Elements whose memory is far beyond their flat bytes: refused, under
      // the target's malloc limit.
      Array(String(1 << 20)),
      Array(Union({Cluster({I16()}), Cluster({I16(), Block(100000)})})),
  };
  std::vector<Bytes> out;
  for (auto& t : tds) out.push_back(t.Bytes());
  return out;
}

struct Datum {
  explicit Datum(const TypeDescriptor* td) : td(td), size(DataSize(td)), buf(new uChar[size > 0 ? size : 1]) {
    ok = InitEmptyData(td, buf.get()) == kNoErr;
  }
  ~Datum() { DisposeData(td, buf.get(), buf.get() + size); }
  const TypeDescriptor* td;
  int32 size;
  std::unique_ptr<uChar[]> buf;
  bool ok;
};

struct Stream {
  const uChar* p;
  int32 len;
  int32 pos;
  static MgErr Read(void* buf, int32 n, void* ctx) {
    Stream* s = static_cast<Stream*>(ctx);
    if (n < 0) return kArgErr;
    if (n > s->len - s->pos) {
      s->pos = s->len;
      return kEOFErr;
    }
    if (buf && n > 0) std::memcpy(buf, s->p + s->pos, size_t(n));
    s->pos += n;
    return kNoErr;
  }
  static MgErr Check(void* ctx, int32 n) {
    Stream* s = static_cast<Stream*>(ctx);
    if (n <= s->len - s->pos) return kNoErr;
    s->pos = s->len;
    return kEOFErr;
  }
};

// Reads bytes as data of the type from memory, a string and a stream; what
// was read is written, and reading that back writes the same bytes.
// When the memory reader and the stream reader both take the bytes, they
// take the same number of them: the stream is never left out of step.
void ReadAll(const TypeDescriptor* td, const uChar* data, int32 n, int32 flags) {
  std::unique_ptr<uChar[]> exact(new uChar[size_t(n) + 4]);
  if (n) std::memcpy(exact.get() + 4, data, size_t(n));
  uChar* bytes = exact.get() + 4;
  UHandle src = &bytes;  // a handle whose block is exactly the bytes
  int32 used = UnFlattenData(src, 0, td, nullptr, n, flags);
  {
    Datum d(td);
    if (!d.ok) return;
    if (UnFlattenFromMem(src, 0, td, d.buf.get(), n, flags) != used) std::abort();  // measuring differs
    if (used <= n) {
      LStrHandle once = reinterpret_cast<LStrHandle>(DSNewHandle(0));
      if (once && FlattenToLStr(once, td, d.buf.get(), flags) == kNoErr) {
        Datum e(td);
        if (e.ok && !UnFlattenFromString(once, td, e.buf.get(), flags)) {
          LStrHandle twice = reinterpret_cast<LStrHandle>(DSNewHandle(0));
          if (twice && FlattenToLStr(twice, td, e.buf.get(), flags) == kNoErr) {
            if ((*once)->cnt != (*twice)->cnt ||
                std::memcmp((*once)->str, (*twice)->str, size_t((*once)->cnt)) != 0)
              std::abort();  // reading what was written changed it
          }
          if (twice) DSDisposeHandle(reinterpret_cast<UHandle>(twice));
        } else if (e.ok) {
          std::abort();  // what was written did not read back
        }
      }
      if (once) DSDisposeHandle(reinterpret_cast<UHandle>(once));
    }
  }
  {
    // The same bytes as a counted string.
    PutNative32(exact.get(), uInt32(n));
    uChar* str = exact.get();
    Datum d(td);
    if (d.ok) UnFlattenFromString(reinterpret_cast<LStrHandle>(&str), td, d.buf.get(), flags);
  }
  {
    Datum d(td);
    Stream s{bytes, n, 0};
    if (d.ok && UnFlattenFromStream(td, d.buf.get(), &Stream::Read, &s, flags) == kNoErr && used <= n &&
        s.pos != used)
      std::abort();  // the stream read out of step with the memory reader
    Stream skip{bytes, n, 0};
    if (UnFlattenFromStream(td, nullptr, &Stream::Read, &skip, flags) == kNoErr && used <= n && skip.pos != used)
      std::abort();
  }
}

// The rest: a type-array length byte, the type's bytes, then the data.
void Convert(const uChar* data, int32 n, int32 toPrevious) {
  if (n < 1) return;
  int32 typeBytes = data[0] * 2;
  if (typeBytes > n - 1) typeBytes = (n - 1) & ~1;
  int32 dataBytes = n - 1 - typeBytes;
  UHandle type = DSNewHandle(4 + typeBytes);
  LStrHandle src = reinterpret_cast<LStrHandle>(DSNewHandle(4 + dataBytes));
  UHandle outType = DSNewHandle(0);
  LStrHandle out = reinterpret_cast<LStrHandle>(DSNewHandle(0));
  if (type && src && outType && out) {
    PutNative32(*type, uInt32(typeBytes / 2));
    std::memcpy(*type + 4, data + 1, size_t(typeBytes));
    (*src)->cnt = dataBytes;
    if (dataBytes) std::memcpy((*src)->str, data + 1 + typeBytes, size_t(dataBytes));
    FuzzArmed() = true;
    if (ConvertFlatDataVersion(type, outType, src, out, toPrevious) == kNoErr) {
      // Converted data goes back the other way.
      UHandle backType = DSNewHandle(0);
      LStrHandle back = reinterpret_cast<LStrHandle>(DSNewHandle(0));
      if (backType && back) ConvertFlatDataVersion(outType, backType, out, back, !toPrevious);
      if (backType) DSDisposeHandle(backType);
      if (back) DSDisposeHandle(reinterpret_cast<UHandle>(back));
    }
    FuzzArmed() = false;
  }
  for (UHandle h : {type, reinterpret_cast<UHandle>(src), outType, reinterpret_cast<UHandle>(out)})
    if (h) DSDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<Bytes>* types = [] {
    MemInit();
    PlatSetAlertProc(FuzzAbortWhenArmed);
    PlatSetDebugSink(Drop);
    DBSetContinueAfterFailure(1);
    SetFlatCheckAvailProc(&Stream::Check);
    return new std::vector<Bytes>(MakeTypes());
  }();
  if (size < 1 || size > 100000) return 0;
  uint8_t sel = data[0];
  int32 n = int32(size - 1);
  int32 flags = (sel & 0x40) ? kFlatOldBooleans : 0;
  if (sel & 0x80) {
    Convert(data + 1, n, sel & 1);
    return 0;
  }
  const Bytes& td = (*types)[(sel & 0x3F) % types->size()];
  FuzzArmed() = true;
  ReadAll(reinterpret_cast<const TypeDescriptor*>(td.data()), data + 1, n, flags);
  FuzzArmed() = false;
  return 0;
}
