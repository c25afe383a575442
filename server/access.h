// The VI server's two access lists: the TCP list of the hosts that may
// connect, and the exported-VI list of the VIs an untrusted client may open.
//
// Each list is a list of texts: "+" (allow) or "-" (deny) and a pattern.
// The lists parse into two process-wide tables (an entry count, then the
// entries in list order), and a check tries the entries from the last to
// the first: the first that matches decides, and when none does the answer
// is denied.  Later entries therefore override earlier ones.
//
// The tables are rebuilt on the user-interface thread (start-up, the
// preferences, the application properties) while checks run in the network
// completions: a check holds the table it started with, which stays alive
// until the check lets it go, so that host-name look-ups run with no lock
// held.
#pragma once
#include <cstddef>
#include <vector>

#include "mgsource/extcode.h"
#include "mgsource/path.h"

// Entry kinds (the low four bits of the flags) and the flag bits.
enum : int32 { kAccessSyntaxError = 1, kAccessAll = 2, kAccessExact = 3, kAccessNameOrPath = 4,
               kAccessPrefix = 5, kAccessDomainOrWildPath = 6 };
constexpr int32 kAccessKindMask = 0xF;
constexpr int32 kAccessAllowFlag = 0x20000;
constexpr int32 kAccessLookupFailed = 0x10000;  // the client record's: its reverse look-up failed

// One entry of each table.  text is a counted string: the pattern without
// its sign as entered, or the whole entry text when it had a syntax error.
// Address and mask are in network byte order.
struct TcpAccessEntry {
  int32 flags;
  uInt32 mask;
  uInt32 address;
  uChar text[256];
};
struct VIAccessEntry {
  int32 flags;
  uChar text[256];
};
static_assert(sizeof(TcpAccessEntry) == 268 && offsetof(TcpAccessEntry, address) == 8 &&
              offsetof(TcpAccessEntry, text) == 12 && sizeof(VIAccessEntry) == 260,
              "access entries: fields in order");
// The client a TCP check is made for: the look-up flag, its address
// (network order) and its host name, looked up when an entry needs it.
struct TcpAccessClient {
  int32 flags;
  uInt32 address;
  uChar name[256];
};

// A TCP entry: "*" every host (2); four dotted numbers (3, mask all ones);
// up to three numbers then "*" (5, the numbers' bytes and their mask shifted
// to the top); "*." and a domain (6); else a host name (4).  True when it
// parses; a syntax error is kind 1 without the allow flag.
QX_EXTERN_C Bool32 QXSParseTcpEntry(ConstPStr text, uInt32* address, uInt32* mask, int32* flags);
// An exported-VI entry: "*" (2), a name (3), a path with "\" (4), either
// with the wildcards "*", "?" or "`" (5, 6).
QX_EXTERN_C Bool32 QXSParseViEntry(ConstPStr text, int32* flags);

// Parse a list (a CPStr list) into its table: a null list frees the table,
// so that the list's check denies everything.  Each entry is shown on the
// status line and in the debug output; the end says whether any entry had a
// syntax error.  0, or 2 when memory is short (the table is then freed).
// The list itself is kept as a copy: the current list.
QX_EXTERN_C MgErr QXSSpecifyTcpAccess(CPStrHandle list);
QX_EXTERN_C MgErr QXSSpecifyViAccess(CPStrHandle list);
// The current lists (null when none).
CPStrHandle QXSTcpAccessList();
CPStrHandle QXSViAccessList();
// Frees both tables and both lists (at exit).
void QXSDisposeAccessLists();
// Copies of the tables' entries, for tests and diagnostics; false when the
// list has no table.
bool QXSCopyTcpTable(std::vector<TcpAccessEntry>* out);
bool QXSCopyViTable(std::vector<VIAccessEntry>* out);

// 1 when the host at the address (network order) may connect, 0 when not.
// Denied at once while the server is not listening or has no table.  A host
// name entry is resolved at each check, a domain entry looks the client's
// name up once per check; an entry that cannot be decided that way matches
// only a paranoid check, and only when it denies.
QX_EXTERN_C Bool32 QXSTcpAccessAllowed(uInt32 address, Bool32 paranoid);
// 1 when an untrusted client may open the VI of that name and path (null:
// an empty text), 0 when not.  Denied at once unless VI calls or VI
// operations are allowed and the table exists.
QX_EXTERN_C Bool32 QXSViAccessAllowed(ConstPStr name, Path path);

// The status line the parse writes to (the splash window's); filled at
// start-up.  Null: no status line.
typedef void (*AccessStatusProc)(ConstPStr text);
void QXSSetAccessStatusProc(AccessStatusProc proc);
AccessStatusProc QXSAccessStatusProcInUse();
