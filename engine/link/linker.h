// The linker's tables and its name table.
//
// Every item the linker knows is named by a Pascal string compared without
// regard to letter case.  Names are interned once in the NAME heap, an object
// sub-heap whose heap extension is a table of 751 chain heads; a name block
// (class 2) holds the offset of the next block of its chain, a reference
// count and the name:
//
//   +0 next block offset (0 ends the chain)   +4 reference count   +8 PStr
//
// Chains are sorted ascending by PStrCaseCmp, so two link entries name the
// same item exactly when their name words hold the same block offset.  The
// bucket of a name selects both its name chain and its link hash chain.
//
// The tables (the NAME heap, the LinkTable of 36-byte entries and the link
// bucket array) are made by the linker's start-up; they have no lock and are
// used only on the thread that loads and links VIs.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"

// ---- the NAME heap ------------------------------------------------------------------
constexpr uInt32 kNameHeapKind = FourCC("NAME");
constexpr int32 kNameHeapDataSize = 16382;
constexpr int32 kLinkBucketCount = 751;
// The heap extension: the chain heads, one 32-bit offset per bucket.
constexpr int32 kNameTableSize = kLinkBucketCount * 4;  // 3,004 bytes
constexpr int32 kNameTableClass = 6;
// Name blocks.
constexpr int32 kNameBlockClass = 2;
enum : int32 { kNameBlockNext = 0, kNameBlockRefCount = 4, kNameBlockName = 8 };
constexpr int32 kNameBlockOverhead = 9;  // a name of n characters takes n + 9 bytes

// ---- the link table -----------------------------------------------------------------
// One record of the LinkTable.  Index fields name records by their index;
// record 0 is the table's header, so index 0 also means no entry.
struct LinkEntry {
  uInt32 classFlags;  // bits 31-24 class index, bits 7-0 flags (kLinkFlag*)
  int32 name;         // the interned name block in the NAME heap
  uInt32 owner;       // public: the item; alias: the public entry; reference: the holder's entry
  int32 sites;        // LKHP heap: site list of a reference, clone list of a public entry
  int32 typeBlock;    // NAME heap: copy of the type block, or 0
  int32 referrers;    // public: first bound reference; reference: next to the same target
  int32 ownRefs;      // public: first reference held; reference: next held by the same owner
  int32 chain;        // next in the hash chain; a bound reference: its target
  Path path;          // the item's file, or the path recorded for the target
};
static_assert(sizeof(LinkEntry) == 36, "link entry size");
static_assert(offsetof(LinkEntry, name) == 4 && offsetof(LinkEntry, owner) == 8 &&
              offsetof(LinkEntry, sites) == 12 && offsetof(LinkEntry, typeBlock) == 16 &&
              offsetof(LinkEntry, referrers) == 20 && offsetof(LinkEntry, ownRefs) == 24 &&
              offsetof(LinkEntry, chain) == 28 && offsetof(LinkEntry, path) == 32,
              "link entry offsets");

enum : uInt32 {
  kLinkFlagPublic = 0x80,      // the item itself
  kLinkFlagReference = 0x40,   // a reference to an item
  kLinkFlagUnresolved = 0x20,  // a reference whose target is not in the table
  kLinkFlagIncomplete = 0x08,  // the target has unresolved or incomplete references
  kLinkFlagAlias = 0x01,
  kLinkFlagsMask = 0xFF,
  kLinkRecordFree = 0xFF000000,
  kLinkRecordHeader = 0xFE000000,
};
inline int32 LinkEntryClass(const LinkEntry& e) { return int32(e.classFlags >> 24); }

// ---- reference classes --------------------------------------------------------------
enum : int32 {
  kLinkClassVI = 0,         // QXIN
  kLinkClassDataSpace = 1,  // VIDS
  kLinkClassPanel = 2,      // FPHP
  kLinkClassSubr = 3,       // QXSB
  kLinkClassGenH = 4,       // GENH
  kLinkClassCustomCtl = 5,  // QXCC
  kLinkClassLibFunc = 6,    // XFun
  kLinkClassProxy = 7,      // QXPR
  kLinkClassCount = 8,
  kLinkClassNone = 8,       // "NONE": no class
};
// The codes of the class table, by index.
constexpr uInt32 kLinkClassCodes[kLinkClassCount] = {
    FourCC("QXIN"), FourCC("VIDS"), FourCC("FPHP"), FourCC("QXSB"),
    FourCC("GENH"), FourCC("QXCC"), FourCC("XFun"), FourCC("QXPR"),
};
constexpr uInt32 kLinkClassNoneCode = FourCC("NONE");

// ---- the linker's tables ------------------------------------------------------------
// The NAME heap, the LinkTable (a handle of LinkEntry records) and the link
// bucket array (751 entry indices, the 3,004-byte start-up block of
// AZPBlocks); null until the linker starts.
extern ObjHeap gLinkNameHeap;
extern UHandle gLinkTable;
extern int32* gLinkBuckets;

// ---- the name table -----------------------------------------------------------------
// The bucket of a name, 0 to 750 (the empty or null name: 0).  Only the
// letters A to Z are folded to lower case.
QX_EXTERN_C int32 LinkNameHash(ConstPStr name);
// Finds the block of a name equal to `name` ignoring case, or links a new one
// (reference count 0) into its chain before the first greater block.  Returns
// the bucket; *nameBlock is the block, or 0 when the heap could not grow (a
// failure report is made and the chain is left as it was).
QX_EXTERN_C int32 InternLinkName(ConstPStr name, int32* nameBlock);
// Unlinks a name block from its chain and frees it; an offset that is not a
// block of its chain is left alone.
QX_EXTERN_C void ReleaseLinkName(int32 nameBlock);
// The class index of a code: 0 to 7, 8 for "NONE", -1 for any other code.
QX_EXTERN_C int32 LinkClassIndex(uInt32 classCode);
// The public entry of the bucket's chain with that name block and class, or
// 0.  A request for class 7 (a VI reached as a proxy) looks for class 0.
QX_EXTERN_C int32 FindLinkEntry(int32 bucket, int32 classIndex, int32 nameBlock);

// The name of a name block (valid until the next allocation in the heap).
ConstPStr LinkNameOf(int32 nameBlock);
// The reference count word of a name block.
int32 LinkNameRefCount(int32 nameBlock);
void LinkNameSetRefCount(int32 nameBlock, int32 count);

// ---- the linker proper --------------------------------------------------------------
// The LKHP heap: site lists of references and clone lists of public entries,
// counted lists (a 32-bit count, then the values) of the offset-list kind.
constexpr uInt32 kLinkHeapKind = FourCC("LKHP");
constexpr int32 kLinkHeapDataSize = 32766;
constexpr int32 kLinkListClass = 6;         // site lists, clone lists and type-block copies
constexpr int32 kCloneListNewSize = 20;     // an empty clone list
constexpr int32 kExternSiteListSize = 18;   // the site list a new extern reference starts with
// The table: 1,000 records at start, grown by 40 at a time.
constexpr int32 kLinkTableInitial = 1000;
constexpr int32 kLinkTableGrowth = 40;
// The header record's words: classFlags 0xFE000000, then these.
enum : int32 { kLinkHdrNextFree = 1, kLinkHdrCapacity = 2, kLinkHdrFreeCount = 3, kLinkHdrTag = 4 };
constexpr uInt32 kLinkHdrTag1 = FourCC(" LIN");
constexpr uInt32 kLinkHdrTag2 = FourCC("KER ");
// Site offsets a method accepts in a data space besides those after its header.
constexpr int32 kDSLinkSite176 = 176;
// The least size of a panel's type-definition object that a VI reference
// links: through its link word (word 11).
constexpr int32 kTypeDefMinSize = 48;
// The header of a subroutine record; sites start after it.
constexpr int32 kSubrRecordHeader = 56;

// The run-time resource file's text for a type definition used recursively
// on a front panel ('STR ', "%p" the VI's name).
constexpr int32 kRecursiveUseStrId = 2023;

// Methods of a reference class.  Entry indices are the table's; a site index
// of -1 means every site of the reference.
typedef int32 (*LinkPatchProc)(int32 target, int32 ref, int32 siteIndex);
typedef int32 (*LinkUnpatchProc)(int32 ref, int32 siteIndex);
// Load results: 0 not found, 1 found after a search, 2 found where expected,
// 5 stop loading, 6 continue without the missing items.
typedef int32 (*LinkLoadProc)(ConstPStr name, Path basePath, Path refPath, uInt32 requesterClass,
                              const void* typeBlock, int32 flags);
// Unloads a subroutine or library function whose last referrer went.
typedef void (*LinkUnloadProc)(int32 entry);

// One row of the class table (five 32-bit words).
struct LinkClass {
  uInt32 code;
  LinkPatchProc patch;
  LinkLoadProc load;
  LinkUnpatchProc unpatch;
  uInt32 flags;  // bit 0: public entries carry a clone list
};
static_assert(sizeof(LinkClass) == 20 && offsetof(LinkClass, patch) == 4 && offsetof(LinkClass, load) == 8 &&
                  offsetof(LinkClass, unpatch) == 12 && offsetof(LinkClass, flags) == 16,
              "link class row");
constexpr uInt32 kLinkClassHasClones = 1;

extern LinkClass* gLinkClasses;  // 8 rows in the 160-byte start-up block
extern ObjHeap gLinkHeap;        // the LKHP heap

// The load methods and the unloads of subroutines and library functions are
// those of the loader; until it installs them the load methods answer 0 and
// an unload does nothing.  Null restores those defaults.
struct LinkLoadMethods {
  LinkLoadProc load[kLinkClassCount];  // null entries answer 0
  LinkUnloadProc unloadSubr;           // QXSB
  LinkUnloadProc unloadLibFunc;        // XFun
};
void SetLinkLoadMethods(const LinkLoadMethods* methods);

// What the linker asks of the VI instances, the execution, the shell and the
// panel.  InitLinker fills the members that the engine answers itself when
// they are null (the loaded-VI list, the root VI, user events through the
// shell's hook, a clone's start, the dispose procedure, disposing a data
// space, the missing run-time entries of a VI's code); an installer that
// comes later starts from LinkServices().  The others (setVIBad,
// propagatePriority, reevalSubVIState of the run commands, and
// subrHasUnitAccess of the load methods) stay null until their owners install
// them.  Each null member answers as "not available": no VI is loaded, no
// event is posted, nothing else is done.
struct LinkerServices {
  void (*setVIBad)(UHandle vi);
  Bool32 (*isVILoaded)(UHandle vi);
  void (*insertLoadedVI)(UHandle vi);
  Bool32 (*removeLoadedVI)(UHandle vi);
  UHandle (*rootVI)();
  void (*propagatePriority)(UHandle callee);   // the callee's priorities from its callers
  void (*reevalSubVIState)(UHandle caller);    // the caller's flags 8 and 16
  void (*postUserEvent)(int32 subCode, UHandle vi);
  // A clone's start: initialise it, its compiled initialisation, its panel
  // data (kinds other than 8) and procedure slot 17.
  MgErr (*initClone)(UHandle vi, UHandle ds);
  void (*callDisposeProc)(UHandle ds);
  void (*disposeDataSpace)(UHandle ds);        // without unlinking
  Bool32 (*usesMissingRTEntries)(UHandle vi);
  Bool32 (*subrHasUnitAccess)(const void* record);
  // Writes a word into loaded code whose pages may be sealed; false when the
  // pages cannot be opened.  Null: the platform's write, which opens each
  // page for the write and gives it back the access it had.
  Bool32 (*writeCodeWord)(void* at, uInt32 value);
};
void SetLinkerServices(const LinkerServices* services);
const LinkerServices& LinkServices();

// What the linker asks of the front-panel object system, installed by it at
// start-up: bind a type-definition object to a VI (or none), change the
// flag bits of an object (answering the old ones), and the id of a built-in
// object class by name.  Null members: nothing is bound, flags read 0, no
// class has the name.
struct LinkPanelHooks {
  void (*typeDefSetLink)(ObjHeap heap, int32 object, UHandle vi);
  uInt32 (*objectFlags)(ObjHeap heap, int32 object, uInt32 set, uInt32 clear);
  int32 (*classIdByName)(ConstPStr name);
};
void SetLinkPanelHooks(const LinkPanelHooks* hooks);
const LinkPanelHooks& LinkPanel();

// The linker's hooks into the VI instances and its own services (InitLinker
// installs them too).
void InstallLinkerHooks();
QX_EXTERN_C void InitLinker();
// Disposes the link table and the linker's two heaps at shut-down.
void FinishLinker();
// Enters a public item: 0 entered and bound, 1 already there (nothing
// changes), 2 memory full (nothing entered).
QX_EXTERN_C int16 AddLinkEntry(const void* object, ConstPStr name, const void* typeBlock, uInt32 classCode,
                               Path path);
QX_EXTERN_C void UnlinkItemByName(ConstPStr name, uInt32 classCode);
// Removes the public entry of that name and class only when its item is
// `owner` (as UnlinkItemByName does); 1 when removed, 0 when there is no
// such entry or another item holds the name (no report either way).
QX_EXTERN_C Bool32 UnlinkItemOwnedBy(ConstPStr name, uInt32 classCode, const void* owner);
QX_EXTERN_C int32 LookupLinkItem(ConstPStr name, uInt32 classCode, int32* entry);
QX_EXTERN_C int32 FindOrLoadLinkItem(ConstPStr name, uInt32 classCode, uInt32* object);
QX_EXTERN_C int32 GetLinkItemName(ConstPStr ownerName, uInt32 ownerClass, int32 site, uInt32 refClass,
                                  PStr name);
QX_EXTERN_C int16 AddExtern(const void* owner, int32 site, ConstPStr ownerName, uInt32 ownerClass,
                            ConstPStr refName, const void* typeBlock, uInt32 refClass, Path basePath,
                            Path refPath);
QX_EXTERN_C int16 RemExtern(const void* owner, int32 site, ConstPStr ownerName, uInt32 ownerClass,
                            ConstPStr refName, uInt32 refClass);
QX_EXTERN_C void RelinkReentrantCallers(UHandle vi, Bool32 makeReentrant);
QX_EXTERN_C Bool32 VIHasLoadedCaller(UHandle vi);
QX_EXTERN_C void ConnectSubVI(UHandle callee, UHandle caller, const void* calleeType, int32 refTypeBlock,
                              Bool32 proxy);
QX_EXTERN_C void UnconnectSubVI(UHandle callee, UHandle caller, Bool32 proxy);
QX_EXTERN_C UHandle LinkNewDataSpace(UHandle vi, int32 dsEntry);
QX_EXTERN_C int32 LinkDisposeDataSpace(UHandle ds, int32 dsEntry);
QX_EXTERN_C UHandle NewDSFromDefaults(UHandle vi);

// The methods of the classes.
int32 InstPatchMethod(int32 target, int32 ref, int32 siteIndex);
int32 InstUnpatchMethod(int32 ref, int32 siteIndex);
int32 CloneReentrantDS(int32 target, int32 ref, int32 siteIndex);
int32 VIDSUnpatchMethod(int32 ref, int32 siteIndex);
int32 SubrPatchMethod(int32 target, int32 ref, int32 siteIndex);
int32 SubrUnpatchMethod(int32 ref, int32 siteIndex);
int32 GenhPatchMethod(int32 target, int32 ref, int32 siteIndex);
int32 GenhUnpatchMethod(int32 ref, int32 siteIndex);
int32 XFunPatchMethod(int32 target, int32 ref, int32 siteIndex);
int32 XFunUnpatchMethod(int32 ref, int32 siteIndex);

// Entries: made unbound and unchained; 0 when memory is full.
int32 NewLinkEntry(int32 classIndex, int32 nameBlock, uInt32 owner, const void* typeBlock, Path path);
int32 NewRefEntry(int32 classIndex, int32 nameBlock, int32 ownerEntry, const int32* sites, int32 siteCount,
                  int32 listSize, const void* typeBlock, Path path);
// Binding and unbinding.
void Resolve(int32 bucket, int32 entry);
void UnbindLinkRef(int32 ref);
void DisposeLinkEntry(int32 entry);
// Record allocation (0: the table could not grow) and freeing.
int32 AllocLinkRecord();
void FreeLinkRecord(int32 index);

// The record of an index; re-read after every call that may move the table.
inline LinkEntry& LE(int32 i) { return reinterpret_cast<LinkEntry*>(*gLinkTable)[i]; }
int32 LinkTableCapacity();
