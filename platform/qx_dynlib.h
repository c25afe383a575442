// Libraries loaded at run time: i386 ELF shared objects, over dlopen, dlsym
// and dlclose.
//
// Names: a name holding "\" is a file in the system's path form
// ("C:\dir\lib.so"), whose file is opened and its ELF header checked before
// it is loaded; a bare name is looked for in the application's folder, then
// along the loader's own search.  Lookups of a name the library does not
// export try its undecorated form when it is stdcall-decorated ("_name@N" or
// "name@N" gives "name"); ordinals are looked up in the table the library
// exports as QXOrdinals: 32-bit ordinal and address pairs ended by ordinal 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Why a load failed.
enum PlatLibStatus : int32_t {
  kPlatLibOK = 0,
  kPlatLibNotFound = 1,       // the library's own file is not there
  kPlatLibBadFormat = 2,      // not a 32-bit i386 ELF shared object
  kPlatLibNeedsMissing = 3,   // a library it needs cannot be found
  kPlatLibFailed = 4,         // anything else (an undefined symbol ...)
};

// The host error (PlatLastError, qx_file.h) a failed load or lookup leaves
// for the calling thread: a library that could not be loaded (missing, or
// not a loadable library), and a name the library does not export.
enum : int32_t { kPlatErrModNotFound = 126, kPlatErrProcNotFound = 127 };

// An ELF header: 52 bytes or more starting with the magic, class 32-bit,
// little-endian, machine i386, type shared object.  kPlatLibOK or
// kPlatLibBadFormat.
int32_t PlatLibCheckElfHeader(const uint8_t* bytes, size_t size);

// Loads a library; appFolder is the application's folder in host form (or
// null).  On failure returns null, with the status, the host error (an errno
// value) and the loader's message.
void* PlatLibOpen(const char* name, const char* appFolder, int32_t* status, int32_t* hostError,
                  std::string* message);
// Loads the library in a host file: the file must be there and pass the ELF
// header check before the loader sees it.
void* PlatLibOpenHostFile(const char* hostPath, int32_t* status, int32_t* hostError, std::string* message);
// The program itself; null (with the loader's message) when it can't be had.
void* PlatLibProgram(std::string* message);
// Unloads a library of PlatLibOpen; 0, or the host error with the message.
int32_t PlatLibClose(void* lib, std::string* message);

// The address of an exported name, or null with the loader's message.
void* PlatLibFind(void* lib, const char* name, std::string* message);
// The address the library's QXOrdinals table gives an ordinal (at most
// 65,535 pairs are read), or null with a message.
void* PlatLibFindOrdinal(void* lib, uint32_t ordinal, std::string* message);
// The bytes from addr to the end of the writable segment of the library's
// own image that holds it (pages made read-only after relocation excluded);
// 0 when addr lies in none.
size_t PlatLibWritableBytes(void* lib, const void* addr);

// Writes bytes to a new file "<prefix>XXXXXX" in a host folder, through to
// the disk, and closes it; 0 with the file's host path, or the host error
// (the file is then gone).
int32_t PlatLibWriteImage(const char* folder, const char* prefix, const void* bytes, size_t size,
                          std::string* path);
// Removes such a file; 0 or the host error.
int32_t PlatLibRemoveImage(const std::string& path);
