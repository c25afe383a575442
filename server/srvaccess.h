// The grammar of the VI server's access-list entries: "+" (allow) or "-"
// (deny) and a pattern, for the TCP host list and the exported-VI list.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// Entry kinds (the low four bits of the flags) and the allow flag.
enum : int32 { kAccessSyntaxError = 1, kAccessAll = 2, kAccessExact = 3, kAccessNameOrPath = 4,
               kAccessPrefix = 5, kAccessDomainOrWildPath = 6 };
constexpr int32 kAccessAllowFlag = 0x20000;

// A TCP entry: "*" every host (2); four dotted numbers (3, mask all ones);
// up to three numbers then "*" (5, the numbers' bytes and their mask shifted
// to the top); "*." and a domain (6); else a host name (4).  Address and
// mask in network byte order.  True when it parses; a syntax error is kind
// 1 without the allow flag.
QX_EXTERN_C Bool32 QXSParseTcpEntry(ConstPStr text, uInt32* address, uInt32* mask, int32* flags);
// An exported-VI entry: "*" (2), a name (3), a path with "\" (4), either
// with the wildcards "*", "?" or "`" (5, 6).
QX_EXTERN_C Bool32 QXSParseViEntry(ConstPStr text, int32* flags);
// The exported-VI list's verdict on an untrusted open of the VI of that
// name and path: 1 allowed, 0 denied.  Until the lists decide, every
// untrusted caller is denied ("QXSViAccessAllowed: %p returns DENIED").
QX_EXTERN_C Bool32 QXSViAccessAllowed(ConstPStr name, Path path);
