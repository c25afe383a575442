// IVI attributes through the driver library a diagram names.
//
// The driver's entries take the session, the channel name (a C string), the
// attribute and the option word 1, then the value; the caller removes the
// arguments (so the one set entry can take a double or a 32-bit word).
#include "io/ivi.h"

#include <cstring>
#include <string>

#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/thread.h"

namespace {

const char kStringEntry[] = "Ivi_GetAttributeViString";
constexpr int32 kOption = 1;

typedef int32 (*SetWordProc)(uInt32, const char*, uInt32, int32, uInt32);
typedef int32 (*SetDoubleProc)(uInt32, const char*, uInt32, int32, float64);
typedef int32 (*SetTextProc)(uInt32, const char*, uInt32, int32, const char*);
typedef int32 (*GetProc)(uInt32, const char*, uInt32, int32, void*);
typedef int32 (*GetTextProc)(uInt32, const char*, uInt32, int32, int32, char*);

struct Entries {
  void* get = nullptr;
  void* set = nullptr;
  void* text = nullptr;
};

// The four strings of the driver description.
void DriverNames(const char* driver, const char** library, const char** getName, const char** setName) {
  const char* p = driver;
  p += std::strlen(p) + 1;
  *library = p;
  p += std::strlen(p) + 1;
  *getName = p;
  p += std::strlen(p) + 1;
  *setName = p;
}

// The session's entries, the driver loaded first when the one needed is
// not there yet (the module is not kept: the library stays loaded).  Under
// the VISA mutex, so two calls on one session load once.
int32 Load(VSesn* s, const char* driver, bool forSet, Entries* out) {
  ThMutex m = VisaMutex();
  if (m) ThMutexAcquire(m);
  int32 err = 0;
  if (!(forSet ? s->iviSet : s->iviGet)) {
    if (!driver) {
      err = kArgErr;
    } else {
      const char *library, *getName, *setName;
      DriverNames(driver, &library, &getName, &setName);
      ExtLibModule module = nullptr;
      err = LoadExternalLib(reinterpret_cast<ConstCStr>(library), &module, nullptr);
      if (!err) err = LoadExternalFunc(reinterpret_cast<ConstCStr>(setName), &module, &s->iviSet);
      if (!err) err = LoadExternalFunc(reinterpret_cast<ConstCStr>(getName), &module, &s->iviGet);
      if (!err) err = LoadExternalFunc(reinterpret_cast<ConstCStr>(kStringEntry), &module, &s->iviString);
    }
  }
  out->get = s->iviGet;
  out->set = s->iviSet;
  out->text = s->iviString;
  if (m) ThMutexRelease(m);
  return err;
}

// The channel's name as a C string, empty without one.
bool Channel(const LStrHandle* channel, std::string* name) {
  name->clear();
  return !channel || VisaCString(*channel, name);
}

}  // namespace

int32 IVISetAttribute(Cookie session, const LStrHandle* channel, const char* driver, uInt32 attribute,
                      const void* value, int32 type) {
  SesnHold held(session);
  if (!held.record()) return kArgErr;
  Entries e;
  if (int32 err = Load(held.record(), driver, true, &e)) return err;
  if (!e.set) return kArgErr;
  std::string ch;
  if (!Channel(channel, &ch) || !value) return kArgErr;
  uInt32 vi = held.session();
  if (type == kTDDBL) {
    float64 d;
    std::memcpy(&d, value, sizeof d);
    return reinterpret_cast<SetDoubleProc>(e.set)(vi, ch.c_str(), attribute, kOption, d);
  }
  if (type == kTDString) {
    LStrHandle h = *static_cast<const LStrHandle*>(value);
    std::string text;
    if (h && *h) {
      int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
      int32 n = (*h)->cnt;
      n = size < 4 || n <= 0 ? 0 : n > size - 4 ? size - 4 : n;
      text.assign(reinterpret_cast<const char*>((*h)->str), size_t(n));
    }
    // A NUL-ended copy, as the driver expects.
    char* copy = reinterpret_cast<char*>(DSNewPtr(int32(text.size() + 1)));
    if (!copy) return kMemFullErr;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    int32 st = reinterpret_cast<SetTextProc>(e.set)(vi, ch.c_str(), attribute, kOption, copy);
    DSDisposePtr(reinterpret_cast<UPtr>(copy));
    return st;
  }
  // Other types as a 32-bit word, read at the value's own width.
  int32 code = type >= kTDEnumU8 && type <= kTDEnumU32 ? type & 0x0F : type;
  uInt32 word;
  if (code == kTDBoolean) word = *static_cast<const uInt8*>(value) ? 1 : 0;
  else if (code >= kTDI8 && code <= kTDEXT) word = NumToULong(code, value);
  else std::memcpy(&word, value, sizeof word);
  return reinterpret_cast<SetWordProc>(e.set)(vi, ch.c_str(), attribute, kOption, word);
}

int32 IVIGetAttribute(Cookie session, const LStrHandle* channel, const char* driver, uInt32 attribute, void* value,
                      int32 type) {
  SesnHold held(session);
  if (!held.record()) return kArgErr;
  Entries e;
  if (int32 err = Load(held.record(), driver, false, &e)) return err;
  std::string ch;
  if (!Channel(channel, &ch) || !value) return kArgErr;
  uInt32 vi = held.session();
  if (type == kTDString) {
    if (!e.text) return kArgErr;
    auto text = reinterpret_cast<GetTextProc>(e.text);
    int32 n = text(vi, ch.c_str(), attribute, kOption, 0, nullptr);
    int32 st = n < 1 ? n : 0;
    if (n < 1) n = 0;
    if (VisaSetString(static_cast<LStrHandle*>(value), nullptr, 0) != kNoErr) return kMemFullErr;
    LStrHandle* h = static_cast<LStrHandle*>(value);
    if (DSSetHandleSize(reinterpret_cast<UHandle>(*h), 4 + n) != kNoErr) return kMemFullErr;
    (**h)->cnt = n;
    if (st == 0) {
      char* buf = reinterpret_cast<char*>((**h)->str);
      st = text(vi, ch.c_str(), attribute, kOption, n, buf);
      // The text ends at its NUL within the n bytes; the last byte is the
      // terminator's room.
      if (n >= 1) (**h)->cnt = int32(strnlen(buf, size_t(n - 1)));
    }
    return st;
  }
  if (!e.get) return kArgErr;
  auto get = reinterpret_cast<GetProc>(e.get);
  if (type == kTDBoolean) {
    uInt16 word = 0;
    int32 st = get(vi, ch.c_str(), attribute, kOption, &word);
    *static_cast<uInt8*>(value) = word != 0 ? 1 : 0;
    return st;
  }
  // The driver writes its own width: into a local buffer, then stored as the
  // caller's type (a double as it is).
  int32 code = type >= kTDEnumU8 && type <= kTDEnumU32 ? type & 0x0F : type;
  if (code < kTDI8 || code > kTDDBL) return kArgErr;
  uInt8 local[8] = {};
  int32 st = get(vi, ch.c_str(), attribute, kOption, local);
  if (code == kTDDBL) std::memcpy(value, local, 8);
  else ConvertNum(kTDI32, local, code, value);
  return st;
}
