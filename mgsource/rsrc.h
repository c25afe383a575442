// The resource manager: typed, numbered, optionally named blocks of data in
// resource files ("RSRC"), among them the application file appended to the
// executable.
//
// A resource is named by a four-character type and a signed 32-bit id, or by
// type and name (case ignored), or by type and 1-based index in id order.
// Loading one gives an application-zone handle that the open file's map keeps
// until RRelease, RDetach, RRemove or RCloseFile, so every request for the
// same resource returns the same handle.  Changes stay in memory until
// RUpdateFile or RCloseFile write them back and compact the file.
//
// Every call on an open file takes the one resource mutex for its whole
// duration; handles returned stay valid after the call and their data may be
// used without it.  Every file and memory image is checked whole when it is
// opened: a file that is not a sound resource file gives 13 and nothing is
// kept of it.
#pragma once
#include "extcode.h"
#include "filemgr.h"
#include "path.h"
#include "rsrc_format.h"

// An open resource file: a cookie of the manager's jar; 0 is never valid.
typedef uInt32 RsrcFileRef;
// A resource type: a four-character code (fourcc.h).
typedef uInt32 ResType;

// Attribute bits of a resource (RGetAttrs, RSetAttrs).
enum : int32 {
  kRsrcAttrChanged = int32(rsrcfmt::kAttrChanged),      // changed in memory, not yet written
  kRsrcAttrProtected = int32(rsrcfmt::kAttrProtected),  // may not be removed
};
// Modes of ROpenFile.
enum : int32 { kRsrcReadWrite = 0, kRsrcReadOnly = 1 };

// Manager life.
QX_EXTERN_C MgErr RInitResources();
QX_EXTERN_C void RExitResources();

// Files.  ROpenFile's type and creator outputs are optional.  A file whose
// resource file starts after its first byte (an appended file, found through
// the offset in its last 4 bytes) opens read-only only (8 otherwise).
QX_EXTERN_C MgErr ROpenFile(Path path, int32 mode, RsrcFileRef* ref, uInt32* fileType, uInt32* creator);
QX_EXTERN_C MgErr ROpenFileDefault(Path path, int32 mode, RsrcFileRef* ref);
// The open core: an open file positioned anywhere, or (with a null file) a
// handle holding a whole resource file, opened read-only.  On success the
// resource file owns the file or the handle; on failure the file is closed
// and the handle stays the caller's.
QX_EXTERN_C MgErr ROpenFileOrHandle(FileRef fileRef, int32 mode, RsrcFileRef* ref, uInt32* fileType,
                                    uInt32* creator, UHandle memoryImage);
QX_EXTERN_C MgErr RIsResFile(Path path, uInt32* fileType, uInt32* creator);
// Writes the changes back, then releases the file.  A failed write-back keeps
// the file open for a retry, unless the failure lies in the file itself (a
// record its map names outside the data section, 4): the file is then
// released as it is on disk and the 4 returned.
QX_EXTERN_C MgErr RCloseFile(RsrcFileRef ref);
QX_EXTERN_C MgErr RGetModDate(Path path, RsrcFileRef ref, uInt32* date, Bool32* readOnly);

// Resources of a file.
QX_EXTERN_C MgErr RGet(RsrcFileRef ref, ResType type, int32 id, UHandle* handle);
QX_EXTERN_C MgErr RGetString(RsrcFileRef ref, int32 id, UHandle* handle);
QX_EXTERN_C MgErr RGetInd(RsrcFileRef ref, ResType type, int32 index, UHandle* handle);
QX_EXTERN_C MgErr RGetNamed(RsrcFileRef ref, ResType type, ConstPStr name, UHandle* handle);
QX_EXTERN_C MgErr RCount(RsrcFileRef ref, ResType type, int32* count);
QX_EXTERN_C MgErr RCountTypes(RsrcFileRef ref, int32* count);
QX_EXTERN_C MgErr RGetIndType(RsrcFileRef ref, ResType* type, int32 index);

// Entries of list resources, 1-based.  RGetIndString copies into a 256-byte
// buffer; RGetIndLStr makes a new handle.  Both leave the list loaded.  A
// "PTH#" entry that does not unflatten gives 0 and no path.
QX_EXTERN_C MgErr RGetIndString(RsrcFileRef ref, PStr text, int32 listId, int32 index);
QX_EXTERN_C MgErr RGetIndLStr(RsrcFileRef ref, LStrHandle* text, int32 listId, int32 index);
QX_EXTERN_C MgErr RGetIndPath(RsrcFileRef ref, Path* path, int32 listId, int32 index);
QX_EXTERN_C MgErr RGetPath(RsrcFileRef ref, ResType type, int32 id, Path* path);

// Resources by handle; 15 when no open file holds the handle.
QX_EXTERN_C MgErr RFindByHandle(UHandle handle, RsrcFileRef* ref, ResType* type, int32* id);
QX_EXTERN_C MgErr RGetInfo(UHandle handle, int32* id, ResType* type, PStr name);
QX_EXTERN_C MgErr RGetAttrs(UHandle handle, int32* attrs);
QX_EXTERN_C MgErr RSize(UHandle handle, int32* size);
QX_EXTERN_C MgErr RLoad(UHandle handle);
QX_EXTERN_C MgErr RRelease(UHandle handle);
QX_EXTERN_C MgErr RDetach(UHandle handle);

// Creating and changing files.
QX_EXTERN_C MgErr RCreateFile(Path path, Bool32 replace, uInt32 creator, uInt32 fileType, int32 permissions);
QX_EXTERN_C MgErr RSetFileTypeCreator(Path path, uInt32 fileType, uInt32 creator);
QX_EXTERN_C MgErr RUpdateFile(RsrcFileRef ref);
QX_EXTERN_C MgErr RPreAllocFile(RsrcFileRef ref, int32 byteCount);
// An id the type does not use (not an error code), 0 when none is found
// below 134,217,728; 13 for an unknown file.
QX_EXTERN_C int32 RUniqueID(RsrcFileRef ref, ResType type);
QX_EXTERN_C MgErr RAdd(UHandle handle, RsrcFileRef ref, ResType type, int32 id, ConstPStr name);
// Replaces the attribute word; the changed bit of data not yet written stays
// set, so the data is written back.
QX_EXTERN_C MgErr RSetAttrs(UHandle handle, int32 attrs);
QX_EXTERN_C MgErr RChanged(UHandle handle);
QX_EXTERN_C MgErr RWrite(UHandle handle);
QX_EXTERN_C MgErr RRemove(UHandle handle, RsrcFileRef ref);
