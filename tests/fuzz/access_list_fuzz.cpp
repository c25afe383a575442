// Stored access lists as the configuration file gives them: listed as the
// preferences show them, with their glyphs, and stored back; then parsed
// into the VI server's table and checked against a client.  The listing and
// the parse stay inside the handle whatever the count and lengths say, and a
// round trip keeps every entry it accepted.  Every entry of the table
// re-parses from its text to the same kind, flags, address and mask; a list
// without an allowing entry, or ending in "-*", lets no client in.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/counted_strings.h"
#include "mgsource/occur.h"
#include "mgsource/prefs.h"
#include "platform/qx_netdb.h"
#include "server/access.h"
#include "server/srvstart.h"
#include "shell/prefdlg.h"

QX_EXTERN_C MgErr ThInit();

namespace {

// The resolvers answer from the input's own bits, never from the network:
// names of an even length resolve, addresses with an odd last byte have a
// name ("h" and the byte).
bool Forward(const char* name, uint32_t* address) {
  const size_t n = std::strlen(name);
  if (n & 1) return false;
  *address = uint32_t(n) * 0x01010101u;
  return true;
}
bool Reverse(uint32_t address, char* name, size_t size) {
  const uint8_t last = uint8_t(address >> 24);
  if (!(last & 1)) return false;
  std::snprintf(name, size, "h%u.example.com", unsigned(last));
  return true;
}

// The entry text a table entry came from: its sign and pattern, or the
// whole text of a syntax error.
void EntryText(int32 flags, const uChar* tableText, uChar out[258]) {
  const bool whole = (flags & kAccessKindMask) == kAccessSyntaxError;
  out[0] = uChar(tableText[0] + (whole ? 0 : 1));
  if (!whole) out[1] = (flags & kAccessAllowFlag) ? '+' : '-';
  std::memcpy(out + (whole ? 1 : 2), tableText + 1, tableText[0]);
}

void CheckReparse(bool tcp) {
  uChar text[258];
  if (tcp) {
    std::vector<TcpAccessEntry> table;
    QXSCopyTcpTable(&table);
    for (const TcpAccessEntry& e : table) {
      EntryText(e.flags, e.text, text);
      uInt32 address = 1, mask = 1;
      int32 flags = 0;
      QXSParseTcpEntry(text, &address, &mask, &flags);
      FUZZ_CHECK(flags == e.flags && address == e.address && mask == e.mask);
    }
  } else {
    std::vector<VIAccessEntry> table;
    QXSCopyViTable(&table);
    for (const VIAccessEntry& e : table) {
      EntryText(e.flags, e.text, text);
      int32 flags = 0;
      QXSParseViEntry(text, &flags);
      FUZZ_CHECK(flags == e.flags);
    }
  }
}

bool AnyAllows(bool tcp) {
  if (tcp) {
    std::vector<TcpAccessEntry> table;
    QXSCopyTcpTable(&table);
    for (const auto& e : table)
      if (e.flags & kAccessAllowFlag) return true;
  } else {
    std::vector<VIAccessEntry> table;
    QXSCopyViTable(&table);
    for (const auto& e : table)
      if (e.flags & kAccessAllowFlag) return true;
  }
  return false;
}

Bool32 Check(bool tcp, uint32_t address, bool paranoid, ConstPStr name) {
  return tcp ? QXSTcpAccessAllowed(address, paranoid) : QXSViAccessAllowed(name, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    bool ok = FuzzStartManagers();
    ThInit();
    OccurInit();
    PlatSetResolverHook(&Forward);
    PlatSetReverseResolverHook(&Reverse);
    SrvTestSetListening(1);
    PrefSet(kPrefServerVICallsEnabled, 1);
    return ok;
  }();
  (void)started;
  if (size < 1 || size > 1 << 14) return 0;
  const bool tcp = data[0] & 1;
  const bool paranoid = data[0] & 2;
  // The client: the address of the first four bytes, the name of the first
  // up to 31 bytes.
  FuzzReader r{data, size};
  const uint32_t address = r.Word();
  uChar name[32];
  name[0] = uChar(size - 1 < 31 ? size - 1 : 31);
  std::memcpy(name + 1, data + 1, name[0]);
  UHandle h = AZNewHandle(int32(size - 1));
  if (!h) return 0;
  if (size > 1) std::memcpy(*h, data + 1, size - 1);
  CPStrHandle stored = reinterpret_cast<CPStrHandle>(h);
  const auto items = PrefListAccess(stored, tcp);
  if (items.empty()) __builtin_trap();
  CPStrHandle back = PrefStoreAccess(items);
  if (back) {
    const auto again = PrefListAccess(back, tcp);
    size_t kept = 0;
    for (const auto& it : items) kept += it.text.empty() ? 0 : 1;
    if (kept && again.size() != kept) __builtin_trap();
    for (size_t i = 0, j = 0; kept && i < items.size(); ++i) {
      if (items[i].text.empty()) continue;
      if (again[j].text != items[i].text || PrefGlyphAllows(again[j].glyph) != PrefGlyphAllows(items[i].glyph))
        __builtin_trap();
      ++j;
    }
    AZDisposeHandle(reinterpret_cast<UHandle>(back));
  }
  // The stored bytes as they are, parsed and checked.
  const MgErr err = tcp ? QXSSpecifyTcpAccess(stored) : QXSSpecifyViAccess(stored);
  FUZZ_CHECK(err == kNoErr || err == kMemFullErr);
  if (err == kNoErr) {
    CheckReparse(tcp);
    const Bool32 allowed = Check(tcp, address, paranoid, name);
    if (!AnyAllows(tcp)) FUZZ_CHECK(!allowed);
    // "-*" at the end decides for everyone.
    UHandle copy = reinterpret_cast<UHandle>(stored);
    if (CPStrSize(stored) >= 4 && (*stored)->cnt >= 0 && AZHandToHand(&copy) == kNoErr) {
      CPStrHandle denied = reinterpret_cast<CPStrHandle>(copy);
      // Only a list whose strings all lie in the handle can take one more.
      if (CPStrSize(denied) == AZGetHandleSize(copy) &&
          CPStrInsert(denied, reinterpret_cast<ConstPStr>("\x02-*"), (*denied)->cnt) == kNoErr &&
          (tcp ? QXSSpecifyTcpAccess(denied) : QXSSpecifyViAccess(denied)) == kNoErr)
        FUZZ_CHECK(!Check(tcp, address, paranoid, name));
      AZDisposeHandle(copy);
    }
  }
  QXSDisposeAccessLists();
  AZDisposeHandle(h);
  return 0;
}
