// Type-information files as the reader meets them: raw bytes, or the
// server's own library (as the tools write it) with bytes changed and cut.
// Only "read" or "not a library" may come back; the server's library
// unchanged reads with its 50 and 118 members; a library read gives its
// language as the bytes hold it; and names, ids and calls of any shape
// through what was read reach only the slots its interfaces count.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "platform/qx_typeinfo.h"
#include "tools/appbuild.h"
#include "tools/typeinfowriter.h"

namespace {

// The object the calls reach: a slot table of exactly the interface's
// count in a block of its own, so that a slot read past it is a fault the
// address checker reports.
PlatHResult Slot(void*, PlatVariant* args, uint32_t count, PlatVariant*) {
  if (count && !args) __builtin_trap();
  return count % 3 == 2 ? kPlatFail : kPlatOk;
}

PlatGuid Server(int item) {
  PlatGuid g{};
  PlatGuidFromText(qxbuild::kAutomationServerGuids[item - 1], &g);
  return g;
}

bool Allowed(PlatHResult r) {
  return r == kPlatOk || r == kPlatDispMemberNotFound || r == kPlatDispBadParamCount ||
         r == kPlatDispParamNotOptional || r == kPlatDispParamNotFound || r == kPlatDispTypeMismatch ||
         r == kPlatDispOverflow || r == kPlatDispBadVarType || r == kPlatDispException;
}

void Calls(FuzzReader& in, const void* info) {
  const uint32_t count = PlatTypeInfoMemberCount(info);
  if (count > kPlatTypeLibMaxMembers) __builtin_trap();
  std::vector<void*> table(7 + count, reinterpret_cast<void*>(&Slot));
  table.shrink_to_fit();
  void* const* object = table.data();
  for (int call = 0; call < 4 && in.n; ++call) {
    const int32_t id = int32_t(in.Word());
    const uint16_t flags = uint16_t(in.Byte() & 0xF);
    const uint32_t n = in.Byte() % 4, named = in.Byte() % (n + 1);
    PlatVariant args[3] = {};
    int32_t ids[3] = {};
    for (uint32_t i = 0; i < n && i < 3; ++i) {
      args[i].vt = (in.Byte() & 1) ? kPlatVtI4 : kPlatVtBool;
      args[i].i4 = int32_t(in.Word());
      ids[i] = int32_t(int8_t(in.Byte()));
    }
    PlatDispParams dp{args, ids, n > 3 ? 3 : n, named};
    PlatVariant result{};
    PlatExcepInfo e{};
    uint32_t argError = 0;
    const PlatHResult r = PlatTypeInfoInvoke(info, &object, id, flags, &dp, &result, &e, &argError);
    if (!Allowed(r)) __builtin_trap();
    PlatVariantClear(&result);
    uint16_t name[8] = {};
    for (int i = 0; i < 7; ++i) name[i] = in.Byte();
    uint16_t* names[1] = {name};
    int32_t out = 0;
    const PlatHResult q = PlatTypeInfoIdsOfNames(info, names, 1, &out);
    if (q != kPlatOk && q != kPlatDispUnknownName) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in{data, size};
  std::vector<uint8_t> bytes;
  const uint8_t mode = in.Byte();
  bool pristine = false;
  if (mode & 1) {
    bytes = tiw::Write(tiw::ServerLibrary());
    const uint32_t edits = in.Byte() % 8;
    for (uint32_t i = 0; i < edits; ++i) {
      const uint32_t at = (in.Byte() << 8 | in.Byte()) % bytes.size();
      bytes[at] = in.Byte();
    }
    if (mode & 2) bytes.resize((in.Byte() << 8 | in.Byte()) % (bytes.size() + 1));
    pristine = edits == 0 && !(mode & 2);
  } else {
    const size_t k = in.Word() % (in.n + 1);
    bytes.assign(in.p, in.p + k);
    in.p += k;
    in.n -= k;
  }
  PlatTypeLib* lib = nullptr;
  const PlatHResult r = PlatTypeLibRead(bytes.data(), uint32_t(bytes.size()), &lib);
  if (r != kPlatOk && r != kPlatTypeLibLoadFailed) __builtin_trap();
  if ((r == kPlatOk) != (lib != nullptr)) __builtin_trap();
  if (pristine && r != kPlatOk) __builtin_trap();
  if (!lib) return 0;
  if (bytes.size() < 32 || std::memcmp(bytes.data(), "QXTI", 4) != 0) __builtin_trap();
  const uint32_t lcid = uint32_t(bytes[8]) << 24 | uint32_t(bytes[9]) << 16 | uint32_t(bytes[10]) << 8 | bytes[11];
  if (PlatTypeLibLanguage(lib) != lcid) __builtin_trap();
  for (int item : {2, 6}) {
    void* info = nullptr;
    const PlatHResult f = PlatTypeLibInfoOfGuid(lib, Server(item), &info);
    if (f != kPlatOk && f != kPlatTypeElementNotFound) __builtin_trap();
    if (pristine && PlatTypeInfoMemberCount(info) != (item == 2 ? 50u : 118u)) __builtin_trap();
    if (info) {
      Calls(in, info);
      PlatComRelease(info);
    }
  }
  PlatTypeLibRelease(lib);
  return 0;
}
