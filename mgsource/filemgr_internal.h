// Helpers shared by the parts of the file manager.
#pragma once
#include "filemgr.h"

struct PlatFile;

namespace filemgr_detail {

// The manager error of a host error code.
MgErr HostErrToMgErr(int32 code);
// Host seconds since 1970 as the system's seconds since 1904, pinned to the
// 32-bit range.
uInt32 HostTimeToSecs(int64 unixSecs);
int64 SecsToHostTime(uInt32 secs);
// The permission bits reported for a folder, a read-only file or a file.
int32 PermissionsOf(bool isDir, bool readOnly);

inline PlatFile* Plat(FileRef ref) { return reinterpret_cast<PlatFile*>(ref); }

}  // namespace filemgr_detail
