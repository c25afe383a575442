// VI libraries: resource files of type QXAR that hold many VI, control,
// subroutine and run-time menu files, each compressed as one resource and
// listed in the directory ADir (the layout: archive_format.h).  The
// application's own VIs are such a library appended to the executable.
//
// The loader reads members by extracting them: into memory when the member
// is small and is to be opened at once, else into a file, one temporary file
// per member kind that is reused once the previous extraction of that kind
// has been closed.  The library tools add and remove members and report the
// first failure as a text of the run-time resource file's "_QLB tools
// errors" (STR# 14551).
//
// Every operation holds the library mutex ("ArchiveRights") for its whole
// duration; it is taken before the resource mutex, never after.  The last
// library opened read-only stays open while library operations nest and is
// closed when the outermost ends.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"

// Creates a library at path (replace: whether an existing file is replaced),
// with its palettes, their images copied from the run-time resource file and
// their titles made from name (up to its first "."): 0, or the first error;
// a library that could not be completed is removed again.
QX_EXTERN_C MgErr ArchiveCreate(Path path, ConstPStr name, Bool32 replace);
QX_EXTERN_C Bool32 IsQLBFile(Path path);

// Listings: the names as a CPStr, and per name a record of (flags, type)
// (DirEntryType) or, with 12-byte records, (flags, type, entry id); flags
// are 3 (a resource file of a known type) plus 0x10 for a top-level member.
// Sort modes: 0 directory order; 2 top-level members first, then by name;
// 3 top-level members last, then by name; any other: by name (case ignored).
// extra is not used.  The records handle may be null.
enum : int32 { kArchiveListRecords12 = 1 };  // ArchiveDirListEx option: 12-byte records
QX_EXTERN_C MgErr ArchiveDirList(Path path, CPStrHandle names, DirEntryTypeHandle types, int32 sortMode, int32 extra);
QX_EXTERN_C MgErr ArchiveDirListEx(Path path, CPStrHandle names, UHandle records, int32 sortMode, int32 extra,
                                   int32 options);
QX_EXTERN_C MgErr ArchiveDirListRef(RsrcFileRef library, CPStrHandle names, UHandle records, int32 sortMode,
                                    int32 extra);

// 0 and the member's type, or 7.  In a built application the executable's
// own library is asked first; only 7 there goes on to the library at path
// (which may be null).
QX_EXTERN_C MgErr ArchiveLookupMember(Path library, ConstPStr name, uInt32* type);
// The member named by a path inside a library: type, creator QNLX and the
// two dates of its directory entry.
QX_EXTERN_C MgErr ArchivePathMemberInfo(Path member, FileInfoRec* info);

// Extraction.  With file, the member is opened read-only and returned there
// (the caller closes it): from memory when it is small, else from the
// destination, or without one from the temporary file of its kind.  The
// palette position out is (-1, -1).
QX_EXTERN_C MgErr ArchiveExtractByPath(Path member, Path destination, RsrcFileRef* file, uInt32* type,
                                       Point* palettePosition);
QX_EXTERN_C MgErr ArchiveExtractToTmpFile(RsrcFileRef library, ConstPStr name, Path destination, RsrcFileRef* file,
                                          uInt32 type);

// Compresses a whole file into a new CPRF handle (application zone).  13 for
// an empty file.
QX_EXTERN_C MgErr ArchiveCompress(Path source, UHandle* compressed);

// Members of an open, writable library.  sourceFile is the source opened as
// a resource file, or 0 for a run-time menu file.
QX_EXTERN_C MgErr ArchiveAddMember(RsrcFileRef library, Path source, RsrcFileRef sourceFile, ConstPStr name,
                                   uInt32 type, Bool32 toPalette);
// 15 when the directory has no member of that name.
QX_EXTERN_C MgErr ArchiveRemoveMember(RsrcFileRef library, ConstPStr name);

// The library tools.  text (256 bytes, may be null) receives the first
// failure's text, or an empty string on success.  member is a path inside
// the library.  Modes of RemoveQLBFile: 0 remove, 1 extract to the
// destination then remove, 2 extract only.
QX_EXTERN_C MgErr AddQLBFile(Path member, Path source, const Point* palettePosition, Bool32 usePalette, PStr text);
QX_EXTERN_C MgErr RemoveQLBFile(Path member, Path destination, Point* palettePosition, PStr text, int32 mode,
                                RsrcFileRef* file);

// Shut-down: closes the cached library and removes every temporary file made.
QX_EXTERN_C MgErr CleanUpArchive();

// Palettes of an open library: -1 the VI palette, -2 the control palette.
// PaletteGet makes them when missing (from an old PALM when there is one)
// and returns the handles kept by the library's map, and optionally the
// palette's title and its image (an image id the caller releases).
QX_EXTERN_C MgErr PaletteGet(RsrcFileRef library, int32 paletteId, UHandle* entries, UHandle* names, PStr title,
                             int32* image);
QX_EXTERN_C MgErr PaletteAddMember(RsrcFileRef library, int32 entryId, uInt32 memberType, ConstPStr name);
QX_EXTERN_C MgErr PaletteRemoveMember(RsrcFileRef library, ConstPStr name);
// The member's previous flags, or -1 when it has no palette entry.
QX_EXTERN_C int32 PaletteSetMemberFlags(RsrcFileRef library, uInt32 memberType, ConstPStr name, int32 setBits,
                                        int32 clearBits);

// Nesting of library operations for a caller that runs several (the loader
// reading a VI and its subVIs): the cached library stays open until the
// outermost release.
QX_EXTERN_C void ArchiveHoldLibraries();
QX_EXTERN_C void ArchiveReleaseLibraries();

// The shell makes the names of temporary files (its folder, and the process
// number in place of the format's %ld); null when it can't.  Until the shell
// installs its procedure there is none and extraction to a temporary file
// gives 2.
typedef Path (*ArchiveTempPathProc)(const char* format, Path reuse);
void ArchiveSetTempPathProc(ArchiveTempPathProc proc);
ArchiveTempPathProc ArchiveTempPathProcInUse();
