// Loading of external code: code modules held in resources and libraries
// called by name or ordinal.
//
// A code resource is either an "MQ" image, relocated into a block of
// executable memory, or a code library: an i386 ELF shared object, written to
// a "qxsb" temporary file and loaded from there.  Libraries named by the
// diagrams are shared objects too, loaded by name through the platform layer
// (platform/qx_dynlib.h gives the rules for names, ordinals and decorated names).
#pragma once
#include "extcode.h"
#include "path.h"

// The words at the start of a loaded code block (the header of an "MQ"
// image, or the header a code library's GetQXSBHeader answers).
struct CodeBlockHeader {
  uChar jump[8];      // versions 2 and 3: a jump to the entry when the entry offset is 0; cleared
  uInt32 reserved8;
  uInt32 version;     // 2, 3 or 4 (big-endian in an "MQ" image, converted in place)
  uInt32 entry;       // the entry procedure's address
  uInt32 reserved20;
  uInt32 zero24;      // 0
  uInt32 module;      // the library's module for a code library, 0 for an "MQ" block
  uInt32 word1;       // the caller's two words
  uInt32 word2;
  uInt32 entryData;   // block + entry offset ("MQ"), or the header itself (code library)
};
static_assert(sizeof(CodeBlockHeader) == 44 && offsetof(CodeBlockHeader, version) == 12 &&
                  offsetof(CodeBlockHeader, entry) == 16 && offsetof(CodeBlockHeader, zero24) == 24 &&
                  offsetof(CodeBlockHeader, module) == 28 && offsetof(CodeBlockHeader, word1) == 32 &&
                  offsetof(CodeBlockHeader, word2) == 36 && offsetof(CodeBlockHeader, entryData) == 40,
              "code block header layout");

// The "MQ" image header: little-endian fields.
enum : int32 {
  kMQLastPageBytes = 2,  // bytes used in the last 512-byte page, 0 for a whole page
  kMQPages = 4,          // 512-byte pages of the image, header included
  kMQRelocCount = 6,
  kMQHeaderParas = 8,    // header size in 16-byte units
  kMQExtraPages = 10,    // bytes to reserve after the code, in 4,096-byte units
  kMQEntryOffset = 20,   // 32-bit: offset of the entry data within the code
  kMQRelocOffset = 24,   // offset of the relocation table in the resource
  kMQHeaderSize = 26,
  kMQPageSize = 512,
  kMQExtraUnit = 4096,
  kMQMaxExtraFloor = 1 << 20,  // extra room any image may ask for; more only up to 16 times its image
};
enum : uInt32 { kMQReloc32 = 0x80000000u };  // a relocation entry of a 32-bit word

// A loaded library (the program itself among them).
typedef void* ExtLibModule;

// Loads the code resource held in a handle: an "MQ" image into a new block
// of executable memory, or else a code library.  *block is the code block, or
// the library's own header.  0; 1 for a null or foreign handle; 2 no memory;
// 23 a malformed image or library; 75 the library's temporary file could not
// be made; 76 a version below 2; 86 a version of 5 or more.  Nothing is left
// behind on failure.
QX_EXTERN_C MgErr LoadExtCode(UHandle resource, UPtr* block, int32 ignored, int32 word1, int32 word2);
// Frees a block of LoadExtCode; for a code library, unloads it and deletes
// its temporary file.  A block LoadExtCode did not give, or gave and took
// back, is refused with a failure report.
QX_EXTERN_C void UnloadExtCode(UPtr block);

// The size of a loaded code block of LoadExtCode: the whole executable block
// of an "MQ" image, the header of a code library; 0 for any other address.
int32 ExtCodeBlockSize(const void* block);
// The bytes from a loaded code block's start that its owner may read and
// write: the whole block of an "MQ" image; for a code library, its writable
// data from the header on.  *library tells which (null: not asked).  0 for
// any other address.
int32 ExtCodeBlockExtent(const void* block, Bool32* library);

// Loads a library by name; "Quenlix" is the program itself.  *module is 0
// whenever the result is not 0: 7 the library is not there, 12 it is not a
// library of this processor, 13 a library it needs is missing, 42 anything
// else, 53 the program's own module can't be had.  message (a 256-byte Pascal
// string, or null) receives an explanation when the host is not of the NT
// family.
QX_EXTERN_C MgErr LoadExternalLib(ConstCStr name, ExtLibModule* module, PStr message);
// LoadExternalLib of fileName in the application's folder; 2 out of memory.
QX_EXTERN_C MgErr LoadAppDirLib(ConstCStr fileName, ExtLibModule* module);
// Looks a procedure up in a loaded library: a name of digits only is an
// ordinal; a name not found is tried with "_" in front.  When found, the
// library's "_PatchQXRTGlobal@4" is called with the run-time table's address.
// 15 when not found; 0 and nothing looked up for a null module; 1 for a
// module this layer did not load.
QX_EXTERN_C MgErr LoadExternalFunc(ConstCStr name, ExtLibModule* module, void** procedure);
// Both of the above; on failure the library is unloaded and both outputs are 0.
QX_EXTERN_C MgErr LoadExternalLibFunc(ConstCStr libraryName, ConstCStr functionName, ExtLibModule* module,
                                      void** procedure, PStr message);
// Unloads a library of LoadExternalLib, unless it is null or the program.
QX_EXTERN_C void UnloadExternalLib(ExtLibModule module);

// Start-up hooks.  The run-time function table's address, passed to the
// libraries that ask for it (the engine sets it; null until then).
void ExtCodeSetRTTable(const void* table);
const void* ExtCodeRTTable();

// The shell's services, filled at start-up.  Until then: the program's
// folder (FAppPath), the temporary folder of the file manager
// (FTempDirPath), the given default text with 15, and the NT family.
typedef MgErr (*ExtGetFolderProc)(Path path);  // fills an existing path handle
typedef MgErr (*ExtGetAppIndStringProc)(int32 index, PStr text, ConstPStr defaultText);
typedef Bool32 (*ExtIsNTFamilyProc)();
void ExtCodeSetAppPathHook(ExtGetFolderProc proc);
void ExtCodeSetTempDirPathHook(ExtGetFolderProc proc);
void ExtCodeSetAppIndStringHook(ExtGetAppIndStringProc proc);
void ExtCodeSetNTFamilyHook(ExtIsNTFamilyProc proc);
// The four installed now (null where none is), in the order above.
ExtGetFolderProc ExtCodeAppPathHookInUse();
ExtGetFolderProc ExtCodeTempDirPathHookInUse();
ExtGetAppIndStringProc ExtCodeAppIndStringHookInUse();
ExtIsNTFamilyProc ExtCodeNTFamilyHookInUse();
// Entry index (0 to 64) of the run-time's string table into text: 0, or
// non-zero with the default (or an empty string) copied when the shell has
// not installed its procedure or the entry cannot be read.
MgErr GetAppIndString(int32 index, PStr text, ConstPStr defaultText);

// The shell's message numbers of the explanations.
enum : int32 { kExtMsgLoadFailed = 13, kExtMsgNeededMissing = 27, kExtMsgNotALibrary = 28 };
