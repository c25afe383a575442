// The component layer: per-thread initialisation, result codes, interface
// records, the in-process class table with its running objects, and the
// interface table through which threads share interfaces.
//
// A thread initialises the layer before it uses component objects and undoes
// it before it ends.  The first initialisation of a thread answers 0; each
// further one, in either threading model, answers 1 and must be undone as
// well.  The model of the first call stays the thread's model.
#pragma once
#include <cstddef>
#include <cstdint>

enum : int32_t { kPlatComDone = 0, kPlatComAlready = 1 };

// Initialises the layer for the calling thread: with multithreaded set the
// thread joins the free-threaded model, else it gets an apartment of its own.
int32_t PlatComInit(bool multithreaded);
// Undoes one initialisation of the calling thread; nothing when none is left.
void PlatComUninit();
// The calling thread's count of initialisations not undone yet, and whether
// it is in the free-threaded model (false without any).
int32_t PlatComInitCount();
bool PlatComMultithreaded();
// The initialisations of all threads not undone yet (those of ended threads
// are given back).
int32_t PlatComProcessCount();

// ---- Result codes ------------------------------------------------------------------
// A result is negative on failure; its low 16 bits and facility say which.
typedef int32_t PlatHResult;
constexpr bool PlatSucceeded(PlatHResult r) { return r >= 0; }
enum : int32_t {
  kPlatOk = 0,
  kPlatFalse = 1,
  kPlatNotImpl = int32_t(0x80004001u),
  kPlatNoInterface = int32_t(0x80004002u),
  kPlatPointer = int32_t(0x80004003u),
  kPlatFail = int32_t(0x80004005u),
  kPlatInvalidHandle = int32_t(0x80070006u),
  kPlatOutOfMemory = int32_t(0x8007000Eu),
  kPlatInvalidArg = int32_t(0x80070057u),
  kPlatNoAggregation = int32_t(0x80040110u),
  kPlatClassNotRegistered = int32_t(0x80040154u),
  kPlatNotRunning = int32_t(0x800401E3u),
  kPlatClassString = int32_t(0x800401F3u),
  kPlatClassNotAvailable = int32_t(0x80040111u),
  kPlatDisconnected = int32_t(0x80010108u),
  // Results of dispatch calls and of the value operations.
  kPlatDispUnknownInterface = int32_t(0x80020001u),
  kPlatDispMemberNotFound = int32_t(0x80020003u),
  kPlatDispParamNotFound = int32_t(0x80020004u),
  kPlatDispTypeMismatch = int32_t(0x80020005u),
  kPlatDispUnknownName = int32_t(0x80020006u),
  kPlatDispNoNamedArgs = int32_t(0x80020007u),
  kPlatDispBadVarType = int32_t(0x80020008u),
  kPlatDispException = int32_t(0x80020009u),
  kPlatDispOverflow = int32_t(0x8002000Au),
  kPlatDispBadIndex = int32_t(0x8002000Bu),
  kPlatDispUnknownLcid = int32_t(0x8002000Cu),
  kPlatDispArrayLocked = int32_t(0x8002000Du),
  kPlatDispBadParamCount = int32_t(0x8002000Eu),
  kPlatDispParamNotOptional = int32_t(0x8002000Fu),
};
// The text of a result for messages: its length, written (cut to max - 1
// bytes and NUL-terminated) when out is given; 0, and an empty text, for a
// result the layer has no text of.
uint32_t PlatComMessageText(PlatHResult code, char* out, uint32_t max);

// ---- Identifiers and interfaces ------------------------------------------------------
struct PlatGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(PlatGuid) == 16, "identifier: 16 bytes");
inline bool PlatGuidEqual(const PlatGuid& a, const PlatGuid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         __builtin_memcmp(a.data4, b.data4, 8) == 0;
}
extern const PlatGuid kPlatGuidNull;
extern const PlatGuid kPlatIidUnknownRecord;
extern const PlatGuid kPlatIidDispatch;
extern const PlatGuid kPlatIidClassFactory;
extern const PlatGuid kPlatIidRunnable;
extern const PlatGuid kPlatIidInterfaceTable;
extern const PlatGuid kPlatClsidInterfaceTable;

// An interface is the address of a record whose first word points to its
// slot table.  Every table starts with the three slots of the unknown
// interface: the object as another interface with a reference added (or
// kPlatNoInterface and null), and adding and dropping a reference (each
// answers the count after it).  An object goes when its last reference does.
struct PlatComUnknown;
struct PlatComUnknownSlots {
  PlatHResult (*queryInterface)(PlatComUnknown* self, const PlatGuid* iid, void** out);
  uint32_t (*addRef)(PlatComUnknown* self);
  uint32_t (*release)(PlatComUnknown* self);
};
struct PlatComUnknown {
  const PlatComUnknownSlots* slots;
};
// The unknown slots of any interface record.
inline PlatComUnknown* PlatAsUnknown(void* record) { return static_cast<PlatComUnknown*>(record); }
inline uint32_t PlatComAddRef(void* record) { return PlatAsUnknown(record)->slots->addRef(PlatAsUnknown(record)); }
inline uint32_t PlatComRelease(void* record) { return PlatAsUnknown(record)->slots->release(PlatAsUnknown(record)); }
inline PlatHResult PlatComQuery(void* record, const PlatGuid& iid, void** out) {
  return PlatAsUnknown(record)->slots->queryInterface(PlatAsUnknown(record), &iid, out);
}

// The text form of an identifier: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// 38 characters, hexadecimal digits in upper case (either case reads).
constexpr uint32_t kPlatGuidTextLength = 38;
void PlatGuidToText(const PlatGuid& guid, char out[kPlatGuidTextLength + 1]);
// kPlatClassString, out untouched, for a text that is not exactly that form.
PlatHResult PlatGuidFromText(const char* text, PlatGuid* out);

// ---- Dispatch interfaces ----------------------------------------------------------------
struct PlatVariant;
typedef uint16_t* PlatBstr;  // qx_comvar.h
// The arguments of a call: count values, the last argument first; the first
// namedCount of them are named by the ids in namedIds, the others go by
// position.
struct PlatDispParams {
  PlatVariant* args;
  int32_t* namedIds;
  uint32_t count;
  uint32_t namedCount;
};
// What a call that answers kPlatDispException says of its failure; the
// caller frees the three texts.
struct PlatExcepInfo {
  uint16_t code;
  uint16_t reserved;
  PlatBstr source;
  PlatBstr description;
  PlatBstr helpFile;
  uint32_t helpContext;
  void* reserved2;
  void* deferredFill;
  int32_t scode;
};
static_assert(sizeof(PlatExcepInfo) == 32, "exception information: eight words");
enum : uint16_t {
  kPlatDispatchMethod = 1,
  kPlatDispatchPropertyGet = 2,
  kPlatDispatchPropertyPut = 4,
  kPlatDispatchPropertyPutRef = 8,
};
// The named id of the value a property put or put by reference passes.
constexpr int32_t kPlatDispIdPropertyPut = -3;
constexpr uint32_t kPlatLocaleSystemDefault = 0x800;

// The dispatch interface: the unknown slots, then its type information
// (count and entry), the ids of member names, and the call of a member.
struct PlatComDispatch;
struct PlatComDispatchSlots {
  PlatHResult (*queryInterface)(PlatComDispatch* self, const PlatGuid* iid, void** out);
  uint32_t (*addRef)(PlatComDispatch* self);
  uint32_t (*release)(PlatComDispatch* self);
  PlatHResult (*getTypeInfoCount)(PlatComDispatch* self, uint32_t* count);
  PlatHResult (*getTypeInfo)(PlatComDispatch* self, uint32_t index, uint32_t locale, void** info);
  PlatHResult (*getIdsOfNames)(PlatComDispatch* self, const PlatGuid* iid, uint16_t** names, uint32_t count,
                               uint32_t locale, int32_t* ids);
  PlatHResult (*invoke)(PlatComDispatch* self, int32_t member, const PlatGuid* iid, uint32_t locale,
                        uint16_t flags, PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception,
                        uint32_t* argError);
};
struct PlatComDispatch {
  const PlatComDispatchSlots* slots;
};
static_assert(sizeof(PlatComDispatchSlots) == 7 * sizeof(void*) && sizeof(PlatComUnknownSlots) == 3 * sizeof(void*),
              "slot tables of 7 and 3 entries");

// An object that must be put in its running state before use answers this
// interface: the unknown slots, then its start.
struct PlatComRunnable;
struct PlatComRunnableSlots {
  PlatHResult (*queryInterface)(PlatComRunnable* self, const PlatGuid* iid, void** out);
  uint32_t (*addRef)(PlatComRunnable* self);
  uint32_t (*release)(PlatComRunnable* self);
  PlatHResult (*run)(PlatComRunnable* self);
};
struct PlatComRunnable {
  const PlatComRunnableSlots* slots;
};

// ---- The class table -----------------------------------------------------------------
// Classes are made in this process, whatever server kinds the caller allows.
enum : uint32_t { kPlatClassInproc = 1, kPlatClassInprocHandler = 2, kPlatClassLocal = 4 };
// A class's maker: a new object as the interface iid with one reference.
typedef PlatHResult (*PlatComFactory)(const PlatGuid* iid, void** out);
// Registers a class (a class registered again gets the new maker).
// kPlatInvalidArg for a null identifier or maker, kPlatOutOfMemory.
PlatHResult PlatComRegisterClass(const PlatGuid& clsid, PlatComFactory factory);
// Removes a class: kPlatOk, kPlatFalse when it was not registered.  The
// layer's own classes (the interface table) can be removed and registered
// again with their makers below.
PlatHResult PlatComRevokeClass(const PlatGuid& clsid);
// A new object of the class as the interface iid: kPlatInvalidArg for a
// null identifier or out, kPlatNoAggregation when an outer object is given,
// kPlatClassNotRegistered for an unknown class (or no allowed server kind),
// else the maker's result, or that of the class object registered for the
// class (PlatComRegisterClassObject, its objects behind proxies).
PlatHResult PlatComCreateInstance(const PlatGuid* clsid, PlatComUnknown* outer, uint32_t context,
                                  const PlatGuid* iid, void** out);
// The running-object table: an object announced as the running one of its
// class, kept with a reference until revoked.  A class has at most one
// running object; announcing another replaces it.  The token is never 0.
PlatHResult PlatComRegisterActive(PlatComUnknown* object, const PlatGuid& clsid, uint32_t* token);
// kPlatInvalidArg for a token not in the table.
PlatHResult PlatComRevokeActive(uint32_t token);
// The running object of the class with a reference for the caller, or
// kPlatNotRunning and null.
PlatHResult PlatComGetActiveObject(const PlatGuid* clsid, PlatComUnknown** out);
// Puts an object in its running state: its runnable interface's start when
// it has one, else kPlatOk (it runs once made).  kPlatInvalidArg for null.
PlatHResult PlatComRun(PlatComUnknown* object);

// ---- Class objects ----------------------------------------------------------------
// A class object makes the objects of its class: the unknown slots, then
// the making of a new object as the interface iid (outer: an object that
// would aggregate it) and the lock that keeps its server loaded.
struct PlatComClassFactory;
struct PlatComClassFactorySlots {
  PlatHResult (*queryInterface)(PlatComClassFactory* self, const PlatGuid* iid, void** out);
  uint32_t (*addRef)(PlatComClassFactory* self);
  uint32_t (*release)(PlatComClassFactory* self);
  PlatHResult (*createInstance)(PlatComClassFactory* self, PlatComUnknown* outer, const PlatGuid* iid, void** out);
  PlatHResult (*lockServer)(PlatComClassFactory* self, int32_t lock);
};
struct PlatComClassFactory {
  const PlatComClassFactorySlots* slots;
};
// Offers the class object (held with a reference of its own) to every
// creation of the class whose allowed server kinds meet context, for as
// many objects as are asked, until revoked.  The cookie is never 0.
// kPlatInvalidArg for a null object or cookie, kPlatNoInterface when the
// object is no class object.  A class registered with a maker above is made
// by the maker.
PlatHResult PlatComRegisterClassObject(const PlatGuid& clsid, PlatComUnknown* object, uint32_t context,
                                       uint32_t* cookie);
// Withdraws the class object of the cookie and drops its reference;
// kPlatInvalidArg for an unknown cookie.
PlatHResult PlatComRevokeClassObject(uint32_t cookie);

// Objects a class object registered for kPlatClassLocal makes live in a
// server: the client gets a proxy of the object's dispatch interface (the
// proxy answers the unknown and dispatch interfaces, and every other one the
// object has, with the dispatch slots; an object without a dispatch
// interface is handed over as it is).  Disconnecting the object drops the
// references its proxies hold; every call through them afterwards answers
// kPlatDisconnected (adding and dropping references still count the proxy's
// own).  kPlatInvalidArg for null; kPlatOk for an object without proxies.
PlatHResult PlatComDisconnectObject(PlatComUnknown* object);
// Proxies alive (tests look for leaks with it).
uint32_t PlatComProxyCount();
// A class object lives in the apartment of the thread that registered it:
// a creation from another thread is made there (the creator waits as a
// proxy's caller does) and the proxy's calls run there as well.

// ---- Apartments ------------------------------------------------------------------------
// An object lives on the thread that made it.  Marshalling its interface
// into a stream and unmarshalling it on another thread gives that thread a
// proxy (counted above) whose calls are posted to the object's thread as
// windowless ComCall messages and run when that thread dispatches them (its
// message loop); the caller waits, running the calls posted to its own
// queue meanwhile, so calls back into its apartment work.  The object's
// reference is taken and dropped on its own thread.  Disconnecting the
// object (on its thread) answers the calls still queued for that thread;
// a caller whose object is disconnected before its call ran gets
// kPlatDisconnected.
struct PlatComStream;
// A stream in a global memory block: kPlatInvalidArg, kPlatOutOfMemory.
PlatHResult PlatComStreamCreate(PlatComStream** out);
void PlatComStreamRewind(PlatComStream* s);
void PlatComStreamRelease(PlatComStream* s);  // null does nothing
// Writes the object's interface iid (served through its dispatch slots) at
// the stream's position, for the calling thread's apartment: kPlatOk,
// kPlatInvalidArg for a null stream or object, the object's refusal of iid,
// kPlatFail when the stream has no room.  The stream entry holds a
// reference until it is unmarshalled.
PlatHResult PlatComMarshalInterface(PlatComStream* s, const PlatGuid& iid, PlatComUnknown* object);
// Reads an interface written by PlatComMarshalInterface, once: a proxy as
// iid in *out.  kPlatPointer for a null out, kPlatInvalidArg for a stream
// that holds no such entry (or one already read), kPlatOutOfMemory.
PlatHResult PlatComUnmarshalInterface(PlatComStream* s, const PlatGuid& iid, void** out);
// The procedure a caller waiting for another apartment runs each time it
// wakes, after the calls posted to it: a thread that must keep serving its
// own kind of work (the user-interface thread's posted requests) does it
// there.  Null removes it.
void PlatComSetWaitProc(void (*proc)());

// ---- The interface table ------------------------------------------------------------
// Interfaces registered under cookies and fetched again, with a reference
// added, on any thread; one process-wide table, made through the class
// table (kPlatClsidInterfaceTable, kPlatIidInterfaceTable).
struct PlatComInterfaceTable;
struct PlatComInterfaceTableSlots {
  PlatHResult (*queryInterface)(PlatComInterfaceTable* self, const PlatGuid* iid, void** out);
  uint32_t (*addRef)(PlatComInterfaceTable* self);
  uint32_t (*release)(PlatComInterfaceTable* self);
  // Keeps the interface (as iid) with a reference of its own; the cookie is
  // never 0.  kPlatInvalidArg for a null interface or cookie,
  // kPlatNoInterface when the object lacks iid, kPlatOutOfMemory.
  PlatHResult (*registerInterface)(PlatComInterfaceTable* self, PlatComUnknown* object, const PlatGuid* iid,
                                   uint32_t* cookie);
  // The interface of the cookie as iid with a reference for the caller;
  // kPlatInvalidArg for an unknown cookie or a null out.
  PlatHResult (*getInterface)(PlatComInterfaceTable* self, uint32_t cookie, const PlatGuid* iid, void** out);
  // Drops the cookie and its reference; kPlatInvalidArg for an unknown one.
  PlatHResult (*revokeInterface)(PlatComInterfaceTable* self, uint32_t cookie);
};
struct PlatComInterfaceTable {
  const PlatComInterfaceTableSlots* slots;
};
// The maker of the interface table's class (registered at first use of the
// class table).
PlatHResult PlatComInterfaceTableFactory(const PlatGuid* iid, void** out);
// Interfaces the table holds (tests look for leaks with it).
uint32_t PlatComInterfaceTableCount();
