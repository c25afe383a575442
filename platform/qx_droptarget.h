// Drags between programs: the process's OLE start count, one drop target
// registered per window, external locks that keep objects alive, and data
// objects that offer a list of files and a text as global memory blocks.
//
// Objects are reference counted: AddRef and Release answer the count after
// the change, and an object goes away when its count reaches 0.  Whoever
// keeps an object pointer beyond a call holds a reference of its own.
// Registration and lookups are safe from any thread; a drop target is called
// on the thread that drags (the user-interface thread).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_com.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_window.h"

// The component layer's results (qx_com.h) and those of drag and drop.
typedef PlatHResult PlatOleResult;
enum : int32_t {
  kPlatOleOk = kPlatOk,
  kPlatOleFalse = kPlatFalse,
  kPlatOleNoInterface = kPlatNoInterface,
  kPlatOleInvalidArg = kPlatInvalidArg,
  kPlatOleOutOfMemory = kPlatOutOfMemory,
  kPlatOleBadFormat = int32_t(0x80040064u),
  kPlatOleNotRegistered = int32_t(0x80040100u),
  kPlatOleAlreadyRegistered = int32_t(0x80040101u),
  kPlatOleInvalidWindow = int32_t(0x80040102u),
  kPlatOleNotInitialized = int32_t(0x800401F0u),
  kPlatOleChangedMode = int32_t(0x80010106u),
};
constexpr bool PlatOleSucceeded(PlatOleResult r) { return r >= 0; }

enum : uint32_t { kPlatIidUnknown = 1, kPlatIidDropTarget = 2, kPlatIidDataObject = 3 };

class PlatUnknown {
 public:
  // The object as the interface iid with a reference added, or
  // kPlatOleNoInterface and *out null.
  virtual PlatOleResult QueryInterface(uint32_t iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  virtual ~PlatUnknown() = default;
};

// Clipboard formats, the one medium (a global memory block) and the one
// aspect a data object serves.
enum : uint32_t { kPlatCfText = 1, kPlatCfFileList = 15 };
enum : uint32_t { kPlatMediumGlobal = 1 };
enum : uint32_t { kPlatAspectContent = 1 };
struct PlatFormat {
  uint32_t format;
  uint32_t targetDevice;  // 0: none
  uint32_t aspect;
  int32_t index;  // -1: all of it
  uint32_t medium;
};
struct PlatMedium {
  uint32_t medium;  // 0: nothing
  PlatGlobal global;
};
// Frees the medium's block and clears it.
void PlatReleaseMedium(PlatMedium* medium);

class PlatDataObject : public PlatUnknown {
 public:
  // A new block the caller releases with PlatReleaseMedium, or
  // kPlatOleBadFormat for a format the object does not offer (or asked
  // for another medium, aspect, index or a target device),
  // kPlatOleOutOfMemory.
  virtual PlatOleResult GetData(const PlatFormat& format, PlatMedium* medium) = 0;
  // kPlatOleOk when GetData would give the format, else kPlatOleBadFormat.
  virtual PlatOleResult QueryGetData(const PlatFormat& format) = 0;
};

// Data objects with one reference: a list of file names (kPlatCfFileList)
// or a text (kPlatCfText, NUL-terminated).  Null for no names.
PlatDataObject* PlatNewFilesDataObject(const std::vector<std::string>& names);
PlatDataObject* PlatNewTextDataObject(const std::string& text);
// The data objects alive (tests look for leaks with it).
int32_t PlatDataObjectLiveCount();

// The file-list block: a 32-bit offset (native order) of the names from the
// block's start, then NUL-terminated names; an empty name or the block's end
// ends the list, and a name cut by the block's end ends there.  Blocks come
// from other programs: nothing outside the block is read.
// index kPlatDropCount (qx_drop.h): the number of names.  Otherwise the
// length of name index; with a buffer, the name is copied, cut to size - 1
// bytes and NUL-terminated, and the bytes copied are returned.  0 for a bad
// block, offset or index.
uint32_t PlatFileListQuery(PlatGlobal block, uint32_t index, char* buffer, uint32_t size);
// Builds a file-list block (tests hand-make others); 0 when memory runs out.
PlatGlobal PlatFileListBlock(const std::vector<std::string>& names);

// Effects a target answers, and the key state of a drag.
enum : uint32_t { kPlatDropEffectNone = 0, kPlatDropEffectCopy = 1 };
enum : uint32_t { kPlatDragLeftButton = 1 };
struct PlatScreenPoint {
  int32_t x, y;
};

class PlatDropTarget : public PlatUnknown {
 public:
  virtual PlatOleResult DragEnter(PlatDataObject* data, uint32_t keyState, PlatScreenPoint at, uint32_t* effect) = 0;
  virtual PlatOleResult DragOver(uint32_t keyState, PlatScreenPoint at, uint32_t* effect) = 0;
  virtual PlatOleResult DragLeave() = 0;
  virtual PlatOleResult Drop(PlatDataObject* data, uint32_t keyState, PlatScreenPoint at, uint32_t* effect) = 0;
};

// Interface lookup and reference counting for an object of our own that
// serves one interface (and the unknown one); it deletes itself when its
// last reference goes.  It starts with the references its maker asks for.
template <class Interface, uint32_t kIid>
class PlatCounted : public Interface {
 public:
  PlatOleResult QueryInterface(uint32_t iid, void** out) override {
    if (!out) return kPlatOleInvalidArg;
    if (iid != kPlatIidUnknown && iid != kIid) {
      *out = nullptr;
      return kPlatOleNoInterface;
    }
    this->AddRef();
    *out = static_cast<Interface*>(this);
    return kPlatOleOk;
  }
  uint32_t AddRef() override { return refs_.fetch_add(1) + 1; }
  uint32_t Release() override {
    const uint32_t left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  explicit PlatCounted(uint32_t refs) : refs_(refs) {}

 private:
  std::atomic<uint32_t> refs_;
};

// The process's OLE start: the first start answers kPlatOleOk, each
// further one kPlatOleFalse, and each is undone by one PlatOleUninit on
// the same thread.  A start also initialises the calling thread's component
// layer (qx_com.h) in the apartment model; a thread in the free-threaded
// model is refused (kPlatOleChangedMode) and nothing is counted.
PlatOleResult PlatOleInit();
void PlatOleUninit();
int32_t PlatOleStartCount();

// Registers the window's drop target, adding a reference.
// kPlatOleNotInitialized while OLE is not started, kPlatOleInvalidArg
// for a null target, kPlatOleInvalidWindow for a window that does not
// exist, kPlatOleAlreadyRegistered for a window that has one.  The
// targets of windows destroyed unrevoked are given up then.
PlatOleResult PlatRegisterDropTarget(PlatWindow w, PlatDropTarget* target);
// Revokes the registration and gives its reference back;
// kPlatOleNotRegistered when there is none.
PlatOleResult PlatRevokeDropTarget(PlatWindow w);
// The window's target with a reference for the caller, or null.
PlatDropTarget* PlatDropTargetOf(PlatWindow w);

// Locks an object (adding a reference that the unlock gives back) so that
// it stays alive while only outside code knows it.  Unlocking an object
// without locks: kPlatOleInvalidArg.  A null object: kPlatOleInvalidArg.
PlatOleResult PlatLockObjectExternal(PlatUnknown* object, bool lock);
