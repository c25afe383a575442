// Compressed members come from files: any bytes as a CPRF resource are
// checked and expanded in pieces of any size, never past the resource or
// the output; what expands compresses and expands again to the same bytes.
// The first byte sets the piece size; the rest is the resource, in a block
// of exactly its size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/vi/archive_internal.h"
#include "fuzz_support.h"

namespace {

std::vector<uChar> Expand(const uChar* p, int32 size, uInt32 piece, MgErr* err) {
  archive::CprfReader r;
  std::vector<uChar> out;
  *err = r.Open(p, size);
  if (*err) return out;
  out.resize(r.Size());
  uInt32 at = 0;
  while (r.Remaining()) {
    const uInt32 n = r.Remaining() < piece ? r.Remaining() : piece;
    // Each piece into a block of exactly its size.
    std::unique_ptr<uChar[]> buf(new uChar[n]);
    r.Next(buf.get(), n);
    std::memcpy(out.data() + at, buf.get(), n);
    at += n;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = FuzzStartManagers();
  if (!ready || size < 1 || size > 1 << 16) return 0;
  const uInt32 piece = 1u + uInt32(data[0]) * 397u;
  const int32 n = int32(size - 1);
  std::unique_ptr<uChar[]> bytes(new uChar[n ? size_t(n) : 1]);
  if (n) std::memcpy(bytes.get(), data + 1, size_t(n));
  MgErr err;
  const std::vector<uChar> out = Expand(bytes.get(), n, piece, &err);
  FUZZ_CHECK(err == kNoErr || err == kEOFErr || err == kRsrcFileNotFoundErr);
  if (err) return 0;
  FUZZ_CHECK(out.size() == GetBE32(bytes.get()));
  // Bytes whose bit is clear are zero.
  const uChar* bitmap = bytes.get() + 4;
  for (size_t i = 0; i < out.size(); ++i)
    if (!((bitmap[i / 8] >> (i % 8)) & 1)) FUZZ_CHECK(out[i] == 0);
  // Compressed again and expanded, the same bytes; never larger than the
  // resource it came from.
  archive::CprfWriter w;
  FUZZ_CHECK(w.Begin(uInt32(out.size())) == kNoErr);
  w.Feed(out.data(), uInt32(out.size()));
  UHandle h = w.Finish();
  FUZZ_CHECK(h && AZGetHandleSize(h) <= n);
  const std::vector<uChar> again = Expand(*h, AZGetHandleSize(h), piece + 13, &err);
  FUZZ_CHECK(err == kNoErr && again == out);
  AZDisposeHandle(h);
  return 0;
}
