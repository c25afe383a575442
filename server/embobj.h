// Embedded ActiveX objects as a front-panel container holds them: the
// object record, the container library's entry that hands out an object's
// dispatch interface, and the automation refnums that let diagrams drive
// the object.
#pragma once
#include <cstddef>

#include "mgsource/cookie.h"
#include "mgsource/extcode.h"
#include "platform/qx_com.h"

// The reference-counted dispatch interface of an object: the component
// layer's dispatch record.
typedef PlatComDispatch EmbDispatch;

// The embedded-object record (a relocatable handle owned by the container).
struct EmbObjectRec {
  int32 kind;         // 1: an object record; anything else is refused
  int32 token;        // the container library's id of the object, 0 for none
  int32 miscFlags;    // 0x100: the object may be activated in place
  int32 dispatchRef;  // automation refnum of the object's dispatch interface, or 0
  int32 window;       // the window the object lives in, 0 for the root window
};
static_assert(sizeof(EmbObjectRec) == 20 && offsetof(EmbObjectRec, dispatchRef) == 12, "object record");
constexpr int32 kEmbObjectKind = 1;
constexpr MgErr kEmbNotAnObject = 4000;

// The entries of the container library that the engine calls; a missing one
// answers 15 wherever it is needed.  Filled by the library loader.
struct EmbContainerProcs {
  // OleGetObjectIDispatchSingle: the object's dispatch pointer (lent, no
  // reference added for the caller), or null; 0 on success.
  int32 (*getObjectIDispatchSingle)(int32 token, EmbDispatch** out);
};
// Installs the entries (null members stay missing); the former set.
EmbContainerProcs EmbSetContainerProcs(const EmbContainerProcs& procs);

// Fetches the dispatch interface of the record's object, makes an
// automation refnum of it (no clean-up registration), caches it in the
// record and returns it; 0 when the record is no object record, the object
// gives no interface or the library lacks the entry.  A cached refnum that
// still names the same interface is kept and returned.
QX_EXTERN_C int32 EmbUpdateDispatch(UHandle record);

// ---- Automation refnums ----------------------------------------------------------------
// A refnum's information is the dispatch pointer with one reference held,
// or, when the jar was opened with the interface table (automation in
// several threads), the table's cookie of the interface: every use then
// fetches the interface from the table on the calling thread.
//
// Opens the jar (made on first use otherwise) with the table, or without it
// (null).  2 when the jar cannot be made; 1 when live refnums hold the other
// form.
MgErr AutoRefJarOpen(PlatComInterfaceTable* table);
// A refnum of the jar holding the interface; 0 with error 2 when memory is
// short or the table refuses it (or 1 for a null pointer).
MgErr AutoRefNewForDispatch(EmbDispatch* dispatch, Cookie* refnum);
// Whether the value is a live refnum of the jar.
Bool32 IsAutomationRefnum(Cookie value);
// The interface of a refnum with a reference for the caller: 0, or 1 (null
// out) for no refnum or when the table no longer has it.
MgErr AutoRefGetDispatch(Cookie refnum, EmbDispatch** out);
// Drops the refnum and its reference (or table cookie): 0, or 1 for no
// refnum ("Error releasing Cookie" when the value is not one of the jar's).
MgErr AutoRefRelease(Cookie refnum);
// Releases every refnum and the jar, and forgets the table; shut-down (and
// tests), when no other thread uses refnums any more.
void AutoRefReleaseAll();
