#include "extload.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "byteorder.h"
#include "counted_strings.h"
#include "debug.h"
#include "filemgr.h"
#include "memory.h"
#include "printf.h"
#include "platform/qx_drives.h"
#include "platform/qx_dynlib.h"
#include "platform/qx_vmem.h"

namespace {

// ------------------------------------------------------------------ hooks

std::atomic<const void*> gRTTable{nullptr};
std::atomic<ExtGetFolderProc> gAppPathHook{nullptr};
std::atomic<ExtGetFolderProc> gTempDirPathHook{nullptr};
std::atomic<ExtGetAppIndStringProc> gIndStringHook{nullptr};
std::atomic<ExtIsNTFamilyProc> gNTFamilyHook{nullptr};

MgErr GetAppPath(Path p) {
  if (ExtGetFolderProc hook = gAppPathHook.load()) return hook(p);
  return FAppPath(&p);
}

MgErr GetTempDirPath(Path p) {
  if (ExtGetFolderProc hook = gTempDirPathHook.load()) return hook(p);
  return FTempDirPath(&p);
}

bool IsNTFamily() {
  ExtIsNTFamilyProc hook = gNTFamilyHook.load();
  return !hook || hook();
}

// ------------------------------------------------- what this layer loaded

// Code blocks given out by LoadExtCode, and the libraries this layer loaded,
// so that only those are ever freed.  The lock is never held while the
// loader runs: a library's start-up code may load external code itself.
enum class BlockKind { kMQ, kLibrary };
struct LoadedBlock {
  BlockKind kind;
  uInt32 size;       // "MQ": the executable block's size
  void* module;      // code library: the library and its temporary file
  std::string file;
};
enum class ModuleKind { kProgram, kByName, kCodeLibrary };
struct LoadedModule {
  ModuleKind kind;
  int32 loads;  // loads by name not yet unloaded
};

std::mutex gLoadedLock;
std::map<const void*, LoadedBlock>& Blocks() {
  static std::map<const void*, LoadedBlock> blocks;
  return blocks;
}
std::map<void*, LoadedModule>& Modules() {
  static std::map<void*, LoadedModule> modules;
  return modules;
}

void NoteModule(void* module, ModuleKind kind) {
  std::lock_guard<std::mutex> g(gLoadedLock);
  auto [it, fresh] = Modules().try_emplace(module, LoadedModule{kind, 0});
  if (kind == ModuleKind::kByName && it->second.kind == ModuleKind::kByName) ++it->second.loads;
  (void)fresh;
}

bool KnownModule(void* module) {
  std::lock_guard<std::mutex> g(gLoadedLock);
  return Modules().count(module) != 0;
}

// Calls a procedure with one word on the stack from a stack aligned as the
// platform's compilers expect, and puts the stack pointer back itself, so that
// a procedure that removes its argument (stdcall) and one that does not
// (cdecl) both return cleanly.
void CallWithOneWord(void* proc, uInt32 word) {
  __asm__ __volatile__(
      "movl %%esp, %%esi\n\t"
      "andl $-16, %%esp\n\t"
      "subl $12, %%esp\n\t"
      "pushl %%ecx\n\t"
      "call *%%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "+a"(proc), "+c"(word)
      :
      : "esi", "edx", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
}

// The host's own path of a folder the path names; false when it has none.
bool HostFolder(Path path, std::string* host) {
  char text[kHostTextBufSize];
  return FPathToHostText(path, text) == kNoErr && PlatResolveSysText(text, host, nullptr) == 0;
}

// ---------------------------------------------------------- "MQ" images

MgErr LoadMQ(const uChar* res, int32 resSize, UPtr* blockOut, int32 word1, int32 word2) {
  // Every count and offset is checked in 64-bit arithmetic before anything
  // is allocated: the image, the header inside it, the relocation table and
  // a code part that holds its header words all lie inside the resource.
  if (resSize < kMQHeaderSize) return kExtCodeFormatErr;
  const int64 lastPage = GetNative16(res + kMQLastPageBytes);
  const int64 pages = GetNative16(res + kMQPages);
  const int64 relocCount = GetNative16(res + kMQRelocCount);
  const int64 headerBytes = int64(GetNative16(res + kMQHeaderParas)) * 16;
  const int64 extra = int64(GetNative16(res + kMQExtraPages)) * kMQExtraUnit;
  const int64 entryOffset = GetNative32(res + kMQEntryOffset);
  const int64 relocOffset = GetNative16(res + kMQRelocOffset);
  const int64 imageSize = lastPage ? (pages - 1) * kMQPageSize + lastPage : pages * kMQPageSize;
  if (imageSize <= 0 || imageSize > resSize) return kExtCodeFormatErr;
  if (headerBytes < kMQHeaderSize || headerBytes > imageSize) return kExtCodeFormatErr;
  if (relocOffset + 4 * relocCount > resSize) return kExtCodeFormatErr;
  const int64 codeSize = imageSize - headerBytes;
  if (codeSize < int64(sizeof(CodeBlockHeader)) || entryOffset >= codeSize) return kExtCodeFormatErr;
  // The cleared room after the code serves the code's own data: a header
  // asking for far more than its image (16 times, and past 1 MB) is damaged,
  // not a reason to reserve up to 256 MB of executable memory.
  if (extra > std::max<int64>(kMQMaxExtraFloor, 16 * imageSize)) return kExtCodeFormatErr;
  const uInt32 blockSize = uInt32(codeSize + extra);

  uChar* block = static_cast<uChar*>(PlatCodeAlloc(blockSize));  // zeroed
  if (!block) return kMemFullErr;
  std::memcpy(block, res + headerBytes, size_t(codeSize));
  const uInt32 base = uInt32(reinterpret_cast<uintptr_t>(block));
  auto fail = [&](MgErr err) {
    PlatCodeFree(block, blockSize);
    return err;
  };

  for (int64 i = 0; i < relocCount; ++i) {
    uInt32 entry = GetNative32(res + relocOffset + 4 * i);
    bool wide = (entry & kMQReloc32) != 0;
    int64 at = entry & ~kMQReloc32;
    if (at + (wide ? 4 : 2) > codeSize) {
      // Code that misses a relocation would jump anywhere: the load fails.
      DBMgErr(__FILE__, __LINE__, kExtCodeOffsetErr, "relocation outside the code");
      return fail(kExtCodeFormatErr);
    }
    if (wide) PutNative32(block + at, GetNative32(block + at) + base);
    else PutNative16(block + at, uInt16(GetNative16(block + at) + uInt16(base)));
  }

  const uInt32 version = GetBE32(block + offsetof(CodeBlockHeader, version));
  PutNative32(block + offsetof(CodeBlockHeader, version), version);
  if (version < 2) return fail(kCINOldCompilerErr);
  if (version >= 5) return fail(kCINNewerVersionErr);

  if (version <= 3) {
    int64 entry = entryOffset;
    if (entryOffset == 0) {
      // The code starts with a jump to its entry.
      if (block[0] != 0xE9) return fail(kExtCodeFormatErr);
      entry = 5 + int64(int32(GetNative32(block + 1)));
      if (entry < 0 || entry >= codeSize) return fail(kExtCodeFormatErr);
      std::memset(block, 0, 8);
    }
    PutNative32(block + offsetof(CodeBlockHeader, entry), base + uInt32(entry));
  } else {
    uInt32 entry = GetNative32(block + offsetof(CodeBlockHeader, entry));
    if (entry < base || int64(entry - base) >= codeSize) return fail(kExtCodeFormatErr);
  }
  PutNative32(block + offsetof(CodeBlockHeader, zero24), 0);
  PutNative32(block + offsetof(CodeBlockHeader, module), 0);
  PutNative32(block + offsetof(CodeBlockHeader, word1), uInt32(word1));
  PutNative32(block + offsetof(CodeBlockHeader, word2), uInt32(word2));
  PutNative32(block + offsetof(CodeBlockHeader, entryData), base + uInt32(entryOffset));
  {
    std::lock_guard<std::mutex> g(gLoadedLock);
    Blocks()[block] = LoadedBlock{BlockKind::kMQ, blockSize, nullptr, {}};
  }
  *blockOut = block;
  return kNoErr;
}

// ------------------------------------------------------- code libraries

// The temporary folder on the host: 2 when there is no folder (or no
// memory), 75 when it has no host path.
MgErr TempFolder(std::string* host) {
  Path dir = FEmptyPath(nullptr);
  if (!dir) return kMemFullErr;
  MgErr err = GetTempDirPath(dir) ? kMemFullErr : kNoErr;
  if (!err && !HostFolder(dir, host)) err = kCINTempLibErr;
  FDisposePath(dir);
  return err;
}

MgErr LoadCodeLibrary(UHandle resource, UPtr* blockOut, int32 word1, int32 word2) {
  std::string folder;
  if (MgErr err = TempFolder(&folder)) return err;
  // The handle's bytes are read after the allocations above, which may move them.
  int32 size = AZCheckHandle(resource) == kNoErr ? AZGetHandleSize(resource) : DSGetHandleSize(resource);
  std::string file;
  if (size < 0 || PlatLibWriteImage(folder.c_str(), "qxsb", *resource, size_t(size), &file) != 0) return kCINTempLibErr;

  int32 status = 0, hostError = 0;
  std::string message;
  void* lib = PlatLibOpenHostFile(file.c_str(), &status, &hostError, &message);
  CodeBlockHeader* header = nullptr;
  MgErr err = kExtCodeFormatErr;
  if (lib) {
    auto get = reinterpret_cast<CodeBlockHeader* (*)()>(PlatLibFind(lib, "GetQXSBHeader", &message));
    if (get) header = get();
    // The header must lie in the library's own writable data: its words are
    // written below.
    if (header && PlatLibWritableBytes(lib, header) >= sizeof(CodeBlockHeader)) {
      err = GetNative32(&header->version) >= 5 ? kCINNewerVersionErr : kNoErr;
    }
  }
  if (err) {
    if (lib) PlatLibClose(lib, nullptr);
    PlatLibRemoveImage(file);
    return err;
  }
  const uInt32 self = uInt32(reinterpret_cast<uintptr_t>(header));
  PutNative32(&header->zero24, 0);
  PutNative32(&header->module, uInt32(reinterpret_cast<uintptr_t>(lib)));
  PutNative32(&header->word1, uInt32(word1));
  PutNative32(&header->word2, uInt32(word2));
  PutNative32(&header->entryData, self);
  {
    std::lock_guard<std::mutex> g(gLoadedLock);
    Blocks()[header] = LoadedBlock{BlockKind::kLibrary, 0, lib, file};
    Modules()[lib] = LoadedModule{ModuleKind::kCodeLibrary, 0};
  }
  *blockOut = reinterpret_cast<UPtr>(header);
  return kNoErr;
}

// The explanation of a failed load by name, for hosts outside the NT family.
void Explain(MgErr err, ConstCStr name, int32 hostError, PStr message) {
  Str255 fallback, format;
  if (err == kRsrcFileNotFoundErr) {
    CToPStr("A library that this library needs cannot be found.", fallback);
    GetAppIndString(kExtMsgNeededMissing, message, fallback);
  } else if (err == kSysCapacityErr) {
    CToPStr("\"%s\" is not a library of this system.", fallback);
    GetAppIndString(kExtMsgNotALibrary, format, fallback);
    PPrintfp(message, format, name);
  } else {
    CToPStr("\"%s\" could not be loaded (error %ld).", fallback);
    GetAppIndString(kExtMsgLoadFailed, format, fallback);
    PPrintfp(message, format, name, long(hostError));
  }
}

}  // namespace

MgErr GetAppIndString(int32 index, PStr text, ConstPStr defaultText) {
  if (ExtGetAppIndStringProc hook = gIndStringHook.load()) return hook(index, text, defaultText);
  if (defaultText) PStrCpy(text, defaultText);
  else text[0] = 0;
  return kRsrcNotFoundErr;
}

// ------------------------------------------------------------- interface

void ExtCodeSetRTTable(const void* table) { gRTTable.store(table); }
const void* ExtCodeRTTable() { return gRTTable.load(); }
void ExtCodeSetAppPathHook(ExtGetFolderProc proc) { gAppPathHook.store(proc); }
void ExtCodeSetTempDirPathHook(ExtGetFolderProc proc) { gTempDirPathHook.store(proc); }
void ExtCodeSetAppIndStringHook(ExtGetAppIndStringProc proc) { gIndStringHook.store(proc); }
void ExtCodeSetNTFamilyHook(ExtIsNTFamilyProc proc) { gNTFamilyHook.store(proc); }
ExtGetFolderProc ExtCodeAppPathHookInUse() { return gAppPathHook.load(); }
ExtGetFolderProc ExtCodeTempDirPathHookInUse() { return gTempDirPathHook.load(); }
ExtGetAppIndStringProc ExtCodeAppIndStringHookInUse() { return gIndStringHook.load(); }
ExtIsNTFamilyProc ExtCodeNTFamilyHookInUse() { return gNTFamilyHook.load(); }

MgErr LoadExtCode(UHandle resource, UPtr* block, int32 /*ignored*/, int32 word1, int32 word2) {
  if (block) *block = nullptr;
  if (!block) return kArgErr;
  int32 size = -1;
  if (AZCheckHandle(resource) == kNoErr) size = AZGetHandleSize(resource);
  else if (DSCheckHandle(resource) == kNoErr) size = DSGetHandleSize(resource);
  if (size < 0) return kArgErr;
  const uChar* res = *resource;
  if (size >= 2 && res[0] == 'M' && res[1] == 'Q') return LoadMQ(res, size, block, word1, word2);
  return LoadCodeLibrary(resource, block, word1, word2);
}

void UnloadExtCode(UPtr block) {
  LoadedBlock b;
  bool found = false;
  {
    std::lock_guard<std::mutex> g(gLoadedLock);
    auto it = Blocks().find(block);
    if (it != Blocks().end()) {
      found = true;
      b = it->second;
      Blocks().erase(it);
      if (b.kind == BlockKind::kLibrary) Modules().erase(b.module);
    }
  }
  if (!found) {
    DBAssert(__FILE__, __LINE__, "UnloadExtCode: not a block of loaded external code");
    return;
  }
  if (b.kind == BlockKind::kMQ) {
    PlatCodeFree(block, b.size);
    return;
  }
  std::string message;
  if (int32 e = PlatLibClose(b.module, &message)) DBPrintf("Unload Library Failed Errno=%d", int(e));
  PlatLibRemoveImage(b.file);
}

MgErr LoadExternalLib(ConstCStr name, ExtLibModule* module, PStr message) {
  if (module) *module = nullptr;
  if (!name || !module) return kArgErr;
  std::string text;
  if (std::strcmp(name, "Quenlix") == 0) {
    void* self = PlatLibProgram(&text);
    if (!self) {
      DBPrintf("Can't get program handle \"Quenlix\"");
      return kCapabilityErr;
    }
    NoteModule(self, ModuleKind::kProgram);
    *module = self;
    return kNoErr;
  }
  std::string folder;
  if (Path app = FEmptyPath(nullptr)) {
    if (GetAppPath(app) != kNoErr || !HostFolder(app, &folder)) folder.clear();
    FDisposePath(app);
  }
  int32 status = 0, hostError = 0;
  void* lib = PlatLibOpen(name, folder.empty() ? nullptr : folder.c_str(), &status, &hostError, &text);
  if (!lib) {
    DBPrintf("LoadExternalLib: LoadLibrary: error = %ld", long(hostError));
    MgErr err = status == kPlatLibNotFound      ? kFileNotFoundErr
                : status == kPlatLibBadFormat    ? kSysCapacityErr
                : status == kPlatLibNeedsMissing ? kRsrcFileNotFoundErr
                                                 : kGenericErr;
    if (message && err != kFileNotFoundErr && !IsNTFamily()) Explain(err, name, hostError, message);
    return err;
  }
  NoteModule(lib, ModuleKind::kByName);
  *module = lib;
  return kNoErr;
}

MgErr LoadAppDirLib(ConstCStr fileName, ExtLibModule* module) {
  if (module) *module = nullptr;
  if (!fileName || !module || std::strlen(fileName) > 255) return kArgErr;
  Path path = FEmptyPath(nullptr);
  if (!path) return kMemFullErr;
  MgErr err = GetAppPath(path);
  Str255 name;
  CToPStr(fileName, name);
  if (!err) err = FAppendName(path, name);
  UHandle text = nullptr;
  if (!err && !(text = FPathToCStrHandle(path))) err = kMemFullErr;
  FDisposePath(path);
  if (err) return err;
  err = LoadExternalLib(reinterpret_cast<ConstCStr>(*text), module, nullptr);
  AZDisposeHandle(text);
  return err;
}

MgErr LoadExternalFunc(ConstCStr name, ExtLibModule* module, void** procedure) {
  if (procedure) *procedure = nullptr;
  if (!name || !module || !procedure) return kArgErr;
  void* lib = *module;
  if (!lib) return kNoErr;
  if (!KnownModule(lib)) {
    DBPrintf("LoadExternalFunc: not a loaded library");
    return kArgErr;
  }
  std::string message;
  void* proc = nullptr;
  size_t n = std::strlen(name);
  if (n > 0 && std::strspn(name, "0123456789") == n) {
    // An ordinal; more than ten digits name none.
    uInt64 ordinal = 0;
    for (size_t i = 0; i < n && ordinal <= 0xFFFFFFFFu; ++i) ordinal = ordinal * 10 + uInt64(name[i] - '0');
    if (ordinal <= 0xFFFFFFFFu) proc = PlatLibFindOrdinal(lib, uInt32(ordinal), &message);
    else message = std::string("ordinal ") + name + " not found";
  } else {
    proc = PlatLibFind(lib, name, &message);
    if (!proc) proc = PlatLibFind(lib, ("_" + std::string(name)).c_str(), nullptr);
  }
  if (!proc) {
    DBPrintf("LoadExternalFunc: %s", message.c_str());
    return kRsrcNotFoundErr;
  }
  *procedure = proc;
  const void* table = gRTTable.load();
  if (void* patch = table ? PlatLibFind(lib, "_PatchQXRTGlobal@4", nullptr) : nullptr) {
    CallWithOneWord(patch, uInt32(reinterpret_cast<uintptr_t>(table)));
  }
  return kNoErr;
}

MgErr LoadExternalLibFunc(ConstCStr libraryName, ConstCStr functionName, ExtLibModule* module,
                          void** procedure, PStr message) {
  if (procedure) *procedure = nullptr;
  if (module) *module = nullptr;
  if (!module || !procedure) return kArgErr;
  MgErr err = LoadExternalLib(libraryName, module, message);
  if (!err) err = LoadExternalFunc(functionName, module, procedure);
  if (err) {
    UnloadExternalLib(*module);
    *module = nullptr;
    *procedure = nullptr;
  }
  return err;
}

void UnloadExternalLib(ExtLibModule module) {
  if (!module) return;
  {
    std::lock_guard<std::mutex> g(gLoadedLock);
    auto it = Modules().find(module);
    if (it != Modules().end() && it->second.kind != ModuleKind::kByName) return;  // kept by its owner
    if (it == Modules().end() || it->second.loads <= 0) {
      DBPrintf("Unload Library Failed Errno=%d", 22);
      return;
    }
    if (--it->second.loads == 0) Modules().erase(it);
  }
  std::string message;
  if (int32 e = PlatLibClose(module, &message)) DBPrintf("Unload Library Failed Errno=%d", int(e));
}

int32 ExtCodeBlockExtent(const void* block, Bool32* library) {
  std::lock_guard<std::mutex> g(gLoadedLock);
  auto it = Blocks().find(block);
  if (library) *library = it != Blocks().end() && it->second.kind == BlockKind::kLibrary;
  if (it == Blocks().end()) return 0;
  if (it->second.kind == BlockKind::kMQ) return int32(it->second.size);
  const size_t n = PlatLibWritableBytes(it->second.module, block);
  return n > size_t(0x7FFFFFFF) ? 0x7FFFFFFF : int32(n);
}

int32 ExtCodeBlockSize(const void* block) {
  std::lock_guard<std::mutex> g(gLoadedLock);
  auto it = Blocks().find(block);
  if (it == Blocks().end()) return 0;
  return it->second.kind == BlockKind::kMQ ? int32(it->second.size) : int32(sizeof(CodeBlockHeader));
}
