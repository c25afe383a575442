// Type information: the members of dispatch interfaces (names, dispatch
// ids, kinds, parameter types) read from a file of our own format, and
// dispatch calls made through it into an object's member slots.
//
// The file (all numbers big-endian):
//   "QXTI", major and minor version (16 bits each), the language id (32),
//   the library's identifier (16 bytes: 32, 16, 16 bits, then 8 bytes), the
//   interface count (32), then each interface: its identifier, its name
//   (a length byte and the bytes), its member count (32), and each member:
//   dispatch id (32, signed), kind (16: 1 method, 2 property get, 4
//   property put), result type (16, a variant type; 0 none), name,
//   parameter count (16), and each parameter: type (16; 12 any variant),
//   flags (16: 1 in, 2 out, 0x10 optional), name.
// Members are in slot order: member i is slot 7 + i of the object's slot
// table (after the seven of the dispatch interface).
#pragma once
#include <cstdint>

#include "platform/qx_com.h"
#include "platform/qx_comvar.h"

enum : int32_t {
  kPlatTypeLibLoadFailed = int32_t(0x80029C4Au),   // not a type-information file, or unreadable
  kPlatTypeElementNotFound = int32_t(0x8002802Bu),  // no interface of that identifier
};
enum : uint16_t { kPlatMemberMethod = 1, kPlatMemberGet = 2, kPlatMemberPut = 4 };
enum : uint16_t { kPlatParamIn = 1, kPlatParamOut = 2, kPlatParamOptional = 0x10 };
// Limits a file must keep.
constexpr uint32_t kPlatTypeLibMaxInterfaces = 64, kPlatTypeLibMaxMembers = 4096, kPlatTypeLibMaxParams = 32;

struct PlatTypeLib;
// Reads a library from bytes: kPlatTypeLibLoadFailed for bytes that break
// the format (a count or length past the end, a kind or limit out of range,
// bytes left over), kPlatOutOfMemory, kPlatInvalidArg for a null out.
PlatHResult PlatTypeLibRead(const uint8_t* bytes, uint32_t size, PlatTypeLib** out);
// Reads the file of the file layer's text (qx_file.h; kPlatTypeLibLoadFailed
// when it cannot be read).
PlatHResult PlatTypeLibLoad(const char* fileText, PlatTypeLib** out);
void PlatTypeLibRelease(PlatTypeLib* lib);  // null does nothing
uint32_t PlatTypeLibLanguage(const PlatTypeLib* lib);
const PlatGuid& PlatTypeLibId(const PlatTypeLib* lib);

// The type information of the library's interface iid, with one reference
// (released with PlatComRelease; it keeps the library): kPlatOk,
// kPlatTypeElementNotFound, kPlatInvalidArg, kPlatOutOfMemory.
PlatHResult PlatTypeLibInfoOfGuid(PlatTypeLib* lib, const PlatGuid& iid, void** info);
// The member count of the interface (0 for null).
uint32_t PlatTypeInfoMemberCount(const void* info);
// Dispatch ids of a member name and its parameter names (the parameters'
// positions), compared without regard to case: kPlatDispUnknownName with
// -1 in each id not found.
PlatHResult PlatTypeInfoIdsOfNames(const void* info, uint16_t** names, uint32_t count, int32_t* ids);

// A member slot: the arguments in declaration order, each changed to the
// parameter's type (an absent optional one is an error value holding
// kPlatDispParamNotFound), and the result for the caller.
typedef PlatHResult (*PlatMemberSlot)(void* object, PlatVariant* args, uint32_t count, PlatVariant* result);
// Calls the member of the id whose kind matches flags (a method call finds
// a property get too) through the object's slot table: the arguments placed
// by name (a put's value by the put id) or position and changed to their
// types.  kPlatDispMemberNotFound, kPlatDispBadParamCount,
// kPlatDispParamNotOptional, kPlatDispParamNotFound and a change's failure
// (kPlatDispTypeMismatch, ...) with the argument's index in argError; a
// member's failure is kPlatDispException with its code as the exception's
// scode.
PlatHResult PlatTypeInfoInvoke(const void* info, void* object, int32_t member, uint16_t flags,
                               PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception,
                               uint32_t* argError);
