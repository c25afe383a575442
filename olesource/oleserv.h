// The automation server: its identifiers and names, its registry entries,
// the class object that makes Application objects, the two object lists,
// and its start, stop and unregistration.  Everything here runs on the
// user-interface thread but the lists, which VI threads change too (under
// each list's mutex).
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/thread.h"
#include "platform/qx_com.h"
#include "platform/qx_event.h"
#include "platform/qx_thread.h"

// ---- Identifiers and names -------------------------------------------------------------
// The string lists of the run-time resource file: the six identifiers (as
// "{...}" texts), then the product name and the type library's file name.
constexpr int32 kOleServerGuidList = 25000;
constexpr int32 kOleServerNameList = 25001;
enum : int32 {
  kOleGuidAppClass = 1,       // the Application object's class
  kOleGuidAppTypeInfo = 2,    // the Application interface of its type information
  kOleGuidAppInterface = 3,   // the Application interface as registered
  kOleGuidTypeLib = 4,        // the type library
  kOleGuidVIInterface = 5,    // the VirtualInstrument interface as registered
  kOleGuidVITypeInfo = 6,     // the VirtualInstrument interface of its type information
  kOleGuidCount = 6,
};
constexpr int32 kOleServerMajor = 5, kOleServerMinor = 0;
// Identifier number item (1 to 6) as the start read it; all zero before,
// for an item the list lacks, and for any other number.
const PlatGuid& OleServerGuid(int32 item);
// The product name (item 1 of the name list, else "Quenlix") and the type
// library's file name (item 2, else "quenlix50.tlb").
std::string OleProductName();
std::string OleTypeLibFileName();
// Item of a string list of the run-time resource file: false when absent.
bool OleListText(int32 list, int32 item, std::string* out);
// The class of the proxies of both interfaces in their registry entries.
extern const PlatGuid kOleProxyClassId;

// ---- Object lists ------------------------------------------------------------------------
// A counted list of 32-bit object pointers in a relocatable block, guarded
// by its own mutex, which callers hold around a walk (it is re-entrant).
class OleObjectList {
 public:
  OleObjectList() = default;
  ~OleObjectList();
  OleObjectList(const OleObjectList&) = delete;
  OleObjectList& operator=(const OleObjectList&) = delete;
  // The empty list and its mutex: 0, or 2 when either cannot be made.
  MgErr Init();
  // Inserts at the position (kAppend or past the end: at the end): 0 or 2.
  static constexpr int32 kAppend = 0x7FFFFFFF;
  MgErr Insert(void* element, int32 position);
  // Removes and returns the element at the index (null outside the list).
  void* DeleteAt(int32 index);
  // Removes the element's first entry: true when there was one.
  bool Remove(void* element);
  int32 Count();
  void* At(int32 index);  // null outside 0..count-1
  // The index of the last element whose first word is the key, -1 for none.
  int32 FindByKey(uInt32 key);
  void Lock();
  void Unlock();

 private:
  UHandle block_ = nullptr;  // the count, then the pointers
  ThMutex mutex_ = nullptr;
};

// A VI object's thread as the server knows it, in the VI thread list: its
// handle, its id and the object's completion event.  Records are made with
// new; whoever takes one off the list owns it and closes the handle.
struct OleVIThreadRec {
  PlatThread* thread;
  uInt32 threadId;
  PlatEvent* event;
};

// ---- The server's state -------------------------------------------------------------------
// "server.ole.enabled" as the start-up read it.
Bool32 OleServerEnabled();
// Set once by the stop, read by every automation entry point.
Bool32 OleServerShuttingDown();
// The thread that started the server (0 before).
uInt32 OleServerUIThreadId();
// The lists (null before the start made them and after the stop).
OleObjectList* OleAppObjectList();
OleObjectList* OleVIThreadList();
// The registration cookie of the class object (0 for none).
uInt32 OleServerCookie();

// ---- The class object ---------------------------------------------------------------------
// The class factory of the Application object: the unknown slots, then
// CreateInstance and LockServer.  Made with count 0; the last release
// deletes it.
struct OleClassFactory {
  PlatComClassFactory face;  // first: the object is its interface
  int32 refs;
  static OleClassFactory* New();  // null when memory is short
};

// ---- Start, stop, unregistration ----------------------------------------------------------
// Reads the identifiers, writes the registry entries, registers the class
// object for local servers and makes both lists: 0 or the failure (an
// identifier text that does not parse 0x8007000E; a registry failure its
// code, logged, with no class object registered).  The server is stopped
// after any failure.
QX_EXTERN_C int32 OleServerStart();
// Sets the shut-down flag, withdraws the class object, disconnects every
// Application object (last first), ends every VI thread (last first: off
// the list, its event signalled, its quit posted, its end awaited, its
// record freed) and lets go of the lists and the shared type information.
QX_EXTERN_C void OleServerStop();
// Removes the registry entries the start writes: 1, or 0 when a text the
// keys are named by is missing from the run-time resource file (which is
// opened for the purpose when no one has it open).
QX_EXTERN_C int32 OleServerUnregister();
// Deletes the sub-key of the key with everything below it; failures are
// ignored.  An empty or null name does nothing.
void OleRegDeleteTree(uInt32 parent, const char* subKey);

// The Application objects' shared type information: one reference per
// object and one for the process, all given back by the stop.  The
// Application object (oleapp.cpp) takes and drops its references here.
void* OleAppTypeInfo();
void OleSetAppTypeInfo(void* info);
