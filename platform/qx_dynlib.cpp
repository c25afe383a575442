#include "qx_dynlib.h"

#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "qx_drives.h"
#include "qx_file.h"

namespace {

constexpr size_t kElfHeaderSize = 52;  // the 32-bit ELF file header
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;

// The loader's last message, cleared.
std::string LoaderMessage() {
  const char* m = dlerror();
  return m ? m : "";
}

void Fail(int32_t status, int32_t hostError, std::string text, int32_t* statusOut, int32_t* errOut,
          std::string* message) {
  if (statusOut) *statusOut = status;
  if (errOut) *errOut = hostError;
  if (status != kPlatLibOK) PlatSetLastError(kPlatErrModNotFound);
  if (message) *message = std::move(text);
}

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// A failed dlopen of a file known to be a valid object: a needed library
// missing, or anything else.
void* OpenChecked(const std::string& host, int32_t* status, int32_t* hostError, std::string* message) {
  dlerror();
  if (void* lib = dlopen(host.c_str(), kOpenFlags)) return lib;
  int err = errno;
  std::string m = LoaderMessage();
  if (Contains(m, "cannot open shared object file")) Fail(kPlatLibNeedsMissing, ENOENT, m, status, hostError, message);
  else Fail(kPlatLibFailed, err ? err : EINVAL, m, status, hostError, message);
  return nullptr;
}

// A library named by its host path: the file must be there and be an i386
// shared object before the loader sees it.
void* OpenFile(const std::string& host, int32_t* status, int32_t* hostError, std::string* message) {
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    bool absent = err == ENOENT || err == ENOTDIR;
    Fail(absent ? kPlatLibNotFound : kPlatLibFailed, err, host + ": " + std::strerror(err), status, hostError,
         message);
    return nullptr;
  }
  uint8_t header[kElfHeaderSize];
  size_t got = 0;
  while (got < sizeof header) {
    ssize_t n = read(fd, header + got, sizeof header - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  close(fd);
  if (PlatLibCheckElfHeader(header, got) != kPlatLibOK) {
    Fail(kPlatLibBadFormat, ENOEXEC, host + ": not a 32-bit i386 ELF shared object", status, hostError, message);
    return nullptr;
  }
  return OpenChecked(host, status, hostError, message);
}

bool IsRegularFile(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The undecorated form of a stdcall name, "_name@N" or "name@N" -> "name";
// empty when the name is not decorated.
std::string Undecorated(const char* name) {
  const char* at = std::strrchr(name, '@');
  if (!at || !at[1]) return {};
  for (const char* d = at + 1; *d; ++d) {
    if (*d < '0' || *d > '9') return {};
  }
  const char* start = name[0] == '_' ? name + 1 : name;
  return start < at ? std::string(start, at) : std::string();
}

// The loaded segment that holds an address, in the object a library handle names.
struct SegmentSearch {
  const link_map* object;
  uintptr_t addr;
  bool writable;
  size_t bytes;  // readable (writable) bytes from addr to the segment's end
};

int FindSegment(dl_phdr_info* info, size_t, void* data) {
  auto* s = static_cast<SegmentSearch*>(data);
  if (info->dlpi_addr != s->object->l_addr || !info->dlpi_name || !s->object->l_name ||
      std::strcmp(info->dlpi_name, s->object->l_name) != 0) {
    return 0;
  }
  uintptr_t relroStart = 0, relroEnd = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_GNU_RELRO) {
      relroStart = info->dlpi_addr + ph.p_vaddr;
      relroEnd = relroStart + ph.p_memsz;
    }
  }
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    uintptr_t start = info->dlpi_addr + ph.p_vaddr, end = start + ph.p_memsz;
    if (s->addr < start || s->addr >= end) continue;
    if (s->writable) {
      // Pages made read-only after relocation are not writable.
      if (!(ph.p_flags & PF_W) || (s->addr < relroEnd && s->addr >= relroStart)) return 1;
      if (relroStart >= s->addr && relroStart < end) end = relroStart;
    } else if (!(ph.p_flags & PF_R)) {
      return 1;
    }
    s->bytes = end - s->addr;
    return 1;
  }
  return 1;
}

// Bytes from addr to the end of the segment of lib's object that holds it
// (readable, or writable when asked); 0 when addr lies in no such segment.
size_t SegmentBytes(void* lib, const void* addr, bool writable) {
  link_map* object = nullptr;
  if (!lib || dlinfo(lib, RTLD_DI_LINKMAP, &object) != 0 || !object) return 0;
  SegmentSearch s{object, reinterpret_cast<uintptr_t>(addr), writable, 0};
  dl_iterate_phdr(FindSegment, &s);
  return s.bytes;
}

}  // namespace

int32_t PlatLibCheckElfHeader(const uint8_t* b, size_t size) {
  if (!b || size < kElfHeaderSize) return kPlatLibBadFormat;
  if (b[EI_MAG0] != ELFMAG0 || b[EI_MAG1] != ELFMAG1 || b[EI_MAG2] != ELFMAG2 || b[EI_MAG3] != ELFMAG3) {
    return kPlatLibBadFormat;
  }
  if (b[EI_CLASS] != ELFCLASS32 || b[EI_DATA] != ELFDATA2LSB) return kPlatLibBadFormat;
  // e_type and e_machine, little-endian 16-bit words at 16 and 18.
  uint32_t type = uint32_t(b[16]) | (uint32_t(b[17]) << 8);
  uint32_t machine = uint32_t(b[18]) | (uint32_t(b[19]) << 8);
  return type == ET_DYN && machine == EM_386 ? kPlatLibOK : kPlatLibBadFormat;
}

void* PlatLibOpen(const char* name, const char* appFolder, int32_t* status, int32_t* hostError,
                  std::string* message) {
  Fail(kPlatLibOK, 0, "", status, hostError, message);
  if (!name || !*name) {
    Fail(kPlatLibNotFound, ENOENT, "no library name", status, hostError, message);
    return nullptr;
  }
  if (std::strchr(name, '\\')) {
    std::string host;
    if (PlatResolveSysText(name, &host, nullptr) != 0) {
      Fail(kPlatLibNotFound, ENOENT, std::string(name) + ": no such volume or bad name", status, hostError, message);
      return nullptr;
    }
    return OpenFile(host, status, hostError, message);
  }
  if (appFolder && *appFolder) {
    std::string beside = appFolder;
    if (beside.back() != '/') beside += '/';
    beside += name;
    if (IsRegularFile(beside)) return OpenFile(beside, status, hostError, message);
  }
  dlerror();
  if (void* lib = dlopen(name, kOpenFlags)) return lib;
  int err = errno;
  std::string m = LoaderMessage();
  // The loader names the library it could not open first in its message.
  std::string own = std::string(name) + ": cannot open shared object file";
  if (m.compare(0, own.size(), own) == 0) Fail(kPlatLibNotFound, ENOENT, m, status, hostError, message);
  else if (Contains(m, "cannot open shared object file")) Fail(kPlatLibNeedsMissing, ENOENT, m, status, hostError, message);
  else if (Contains(m, "ELF") || Contains(m, "file too short")) Fail(kPlatLibBadFormat, ENOEXEC, m, status, hostError, message);
  else Fail(kPlatLibFailed, err ? err : EINVAL, m, status, hostError, message);
  return nullptr;
}

void* PlatLibOpenHostFile(const char* hostPath, int32_t* status, int32_t* hostError, std::string* message) {
  Fail(kPlatLibOK, 0, "", status, hostError, message);
  if (!hostPath || !*hostPath) {
    Fail(kPlatLibNotFound, ENOENT, "no library file", status, hostError, message);
    return nullptr;
  }
  return OpenFile(hostPath, status, hostError, message);
}

void* PlatLibProgram(std::string* message) {
  dlerror();
  void* self = dlopen(nullptr, RTLD_NOW);
  if (!self && message) *message = LoaderMessage();
  return self;
}

int32_t PlatLibClose(void* lib, std::string* message) {
  dlerror();
  if (lib && dlclose(lib) == 0) return 0;
  int err = errno;
  if (message) *message = LoaderMessage();
  return err ? err : EINVAL;
}

void* PlatLibFind(void* lib, const char* name, std::string* message) {
  if (!lib || !name) {
    if (message) *message = "no library or no name";
    PlatSetLastError(kPlatErrProcNotFound);
    return nullptr;
  }
  dlerror();
  if (void* p = dlsym(lib, name)) return p;
  std::string first = LoaderMessage();
  std::string plain = Undecorated(name);
  if (!plain.empty()) {
    dlerror();
    if (void* p = dlsym(lib, plain.c_str())) return p;
    dlerror();
  }
  if (message) *message = first.empty() ? std::string(name) + ": undefined symbol" : first;
  PlatSetLastError(kPlatErrProcNotFound);
  return nullptr;
}

void* PlatLibFindOrdinal(void* lib, uint32_t ordinal, std::string* message) {
  dlerror();
  const auto* table = static_cast<const uint32_t*>(lib ? dlsym(lib, "QXOrdinals") : nullptr);
  if (!table) {
    if (message) *message = "the library exports no ordinal table";
    return nullptr;
  }
  // The table is read no further than its own segment.
  size_t pairs = SegmentBytes(lib, table, false) / 8;
  if (pairs > 65535) pairs = 65535;
  for (size_t i = 0; i < pairs && table[2 * i] != 0; ++i) {
    if (table[2 * i] == ordinal) return reinterpret_cast<void*>(uintptr_t(table[2 * i + 1]));
  }
  if (message) *message = "ordinal " + std::to_string(ordinal) + " not found";
  return nullptr;
}

size_t PlatLibWritableBytes(void* lib, const void* addr) { return SegmentBytes(lib, addr, true); }

int32_t PlatLibWriteImage(const char* folder, const char* prefix, const void* bytes, size_t size,
                          std::string* path) {
  if (!folder || !*folder || !prefix) return EINVAL;
  std::string name = folder;
  if (name.back() != '/') name += '/';
  name += prefix;
  name += "XXXXXX";
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t done = 0;
  int err = 0;
  while (done < size) {
    ssize_t n = write(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += size_t(n);
  }
  if (!err && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && !err) err = errno;
  if (err) {
    unlink(name.c_str());
    return err;
  }
  if (path) *path = name;
  return 0;
}

int32_t PlatLibRemoveImage(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }
