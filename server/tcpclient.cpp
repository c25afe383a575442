// The VI server's client: application references to other machines' VI
// servers, each a remote application record bound to one connection; their
// operations become requests, completed by the replies; remote VIs stand as
// local proxy callees.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/exec/exec.h"
#include "engine/membertab.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/gnrclist.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "server/proxy.h"
#include "server/tcpserver.h"
#include "server/viref.h"

namespace {

constexpr MgErr kPending = kVIRefPendingErr;
constexpr MgErr kPeerClosed = kVIRefPeerClosedErr;
constexpr int32 kPairSize = 8;

// A remote application record with what keeps it alive: it is freed once
// no refnum, no VI reference and no running close or completion holds it.
struct RemoteApp {
  AppRecord rec;  // first: the record's address is the remote record's
  int32 holds;
};

std::vector<RemoteApp*>& Remotes() {
  static auto* v = new std::vector<RemoteApp*>;
  return *v;
}

RemoteApp* RemoteOf(const AppRecord* app) {
  for (RemoteApp* r : Remotes())
    if (&r->rec == app) return r;
  return nullptr;
}

int32 Word(const void* p) { return int32(uintptr_t(p)); }
void FreeOp(AsyncRef a);

// The connection check of every request: 42 without a record, 66 without a
// connection.
MgErr Connection(const AppRecord* app, ConnInfo** out) {
  *out = nullptr;
  RemoteApp* r = RemoteOf(app);
  if (!r) return kVIRefGenericErr;
  ConnInfo* c = static_cast<ConnInfo*>(r->rec.connection);
  if (!c || c->state == kTSClosing) return kPeerClosed;
  *out = c;
  return kNoErr;
}

// ---- Pairs {local, server} -------------------------------------------------------------------
VIRef ServerRefOf(const ConnInfo* c, VIRef local) {
  if (!c || !c->pairs) return 0;
  for (int32 i = 0, n = GLCount(c->pairs, kPairSize); i < n; ++i) {
    VIRef pair[2] = {0, 0};
    if (GLGet(c->pairs, pair, kPairSize, i) && pair[0] == local) return pair[1];
  }
  return 0;
}

VIRef RemovePair(ConnInfo* c, VIRef local) {
  if (!c || !c->pairs) return 0;
  for (int32 i = 0, n = GLCount(c->pairs, kPairSize); i < n; ++i) {
    VIRef pair[2] = {0, 0};
    if (GLGet(c->pairs, pair, kPairSize, i) && pair[0] == local) {
      GLRemove(c->pairs, pair, kPairSize, i);
      return pair[1];
    }
  }
  return 0;
}

MgErr AddPair(ConnInfo* c, VIRef local, VIRef server) {
  if (!c->pairs && !(c->pairs = GLNew(4, kPairSize))) return kMemFullErr;
  const VIRef pair[2] = {local, server};
  return GLInsert(c->pairs, pair, kPairSize, 4, 0x7FFFFFFF) ? kMemFullErr : kNoErr;
}

// ---- Records ---------------------------------------------------------------------------------
uInt32 Identity(uInt32 value) { return value; }
MgErr TSApp_VIAttrVector(VIRefRecord* ref, int32 count, AttrEntry* vector, int32 options, MgErr* error, int32* index,
                         PStr text, AsyncCompletion completion, AsyncRef* async);
MgErr TSApp_AppAttrVector(AppRecord* app, AppRef appRef, int32 count, AttrEntry* vector, int32 options, MgErr* error,
                          int32* index, PStr text, AsyncCompletion completion, AsyncRef* async);
MgErr TSApp_VIDoMethod(VIRefRecord* ref, int32 method, int32 count, AttrEntry* params, int32 options, PStr text,
                       AsyncCompletion completion, AsyncRef* async);
MgErr TSApp_AppDoMethod(AppRecord* app, AppRef appRef, int32 method, int32 count, AttrEntry* params, int32 options,
                        PStr text, AsyncCompletion completion, AsyncRef* async);

const AppMethodTable kRemoteTable{&TSApp_GetRefByName, &TSApp_GetRefByPath, &TSApp_Release,
                                  &Identity,           &TSApp_VIAttrVector, &TSApp_AppAttrVector,
                                  &TSApp_VIDoMethod,   &TSApp_KillAsyncRef, &TSApp_ReleaseAppRef,
                                  &TSApp_AppDoMethod};

// Frees the record once nothing holds it: its connection closes with a Bye
// (or goes at once when it never started), operations left are freed.
void MaybeFree(RemoteApp* r) {
  if (!r || r->holds > 0 || r->rec.cookieCount > 0 || r->rec.viObjectCount > 0) return;
  auto& all = Remotes();
  all.erase(std::remove(all.begin(), all.end(), r), all.end());
  if (ConnInfo* c = static_cast<ConnInfo*>(r->rec.connection)) {
    c->app = nullptr;
    r->rec.connection = nullptr;
    if (c->state == kTSNew && !c->nc) TSDeleteConnection(c);
    else TSCloseConnection(c, kNoErr);
  }
  while (AsyncRef a = r->rec.asyncList) {
    r->rec.asyncList = a->next;
    FreeOp(a);
  }
  AZDisposePtr(reinterpret_cast<UPtr>(r));
}

// The member class and reply type of a vector operation.
int32 RequestTypeOf(int32 op) {
  switch (op) {
    case kAsyncAppAttrVectOp: return kTSAppPropRequest;
    case kAsyncVIAttrVectOp: return kTSVIPropRequest;
    case kAsyncAppDoMethodOp: return kTSAppMethodRequest;
    case kAsyncVIDoMethodOp: return kTSVIMethodRequest;
    default: return -1;
  }
}

// Frees an operation, with the copy of the entries a vector request keeps.
void FreeOp(AsyncRef a) {
  const int32 type = RequestTypeOf(a->op);
  if (type >= 0) {
    const bool property = type == kTSAppPropRequest || type == kTSVIPropRequest;
    if (UPtr copy = reinterpret_cast<UPtr>(uintptr_t(property ? a->param[1] : a->param[2]))) AZDisposePtr(copy);
  }
  FreeAsyncRef(a);
}

// The AsyncRef of a reply: looked up by its value in the record's list (a
// unique id from the wire is never used as an address until found), and
// unlinked.
AsyncRef TakeAsync(ConnInfo* c, uInt32 uniqueId, int32 op) {
  AppRecord* app = c ? c->app : nullptr;
  if (!app) return nullptr;
  for (AsyncRef a = app->asyncList; a; a = a->next)
    if (uInt32(Word(a)) == uniqueId && a->op == op) {
      UnlinkAsyncRef(app, a);
      return a;
    }
  return nullptr;
}

// The pending call of a local reference of the record.
AsyncRef CallOf(AppRecord* app, VIRef local) {
  for (AsyncRef a = app ? app->asyncList : nullptr; a; a = a->next)
    if (a->op == kAsyncCallVIPxCalleeOp && a->ref == local) return a;
  return nullptr;
}

// After a failure, the values the get entries of the request's vector hold
// are freed by their types (and their handle words cleared).
void FreeGetValues(AsyncRef a) {
  const int32 type = RequestTypeOf(a->op);
  if (type < 0) return;
  const bool property = type == kTSAppPropRequest || type == kTSVIPropRequest;
  const int32 method = property ? 0 : int32(a->param[0]);
  const int32 count = int32(property ? a->param[0] : a->param[1]);
  AttrEntry* vector = reinterpret_cast<AttrEntry*>(uintptr_t(property ? a->param[1] : a->param[2]));
  for (int32 i = 0; vector && i < count; ++i) {
    const AttrEntry& e = vector[i];
    if (!e.get || !e.value) continue;
    const TypeDescriptor* td = ParamVectorEntryTD(type, method, i, e.selector);
    if (!td || DataShape(td) == 0) continue;
    uChar* start = static_cast<uChar*>(e.value);
    DisposeData(td, start, start + DataSize(td));
  }
}

// Ends a remote call: the error into the call's cluster, the callee's
// element queued again.
void FinishCall(AsyncRef a, MgErr error, ConstPStr text, bool unlink) {
  DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(a->param[0]));
  AppRecord* app = a->app;
  if (ds && *ds && (*ds)->pxCallAsync == a) (*ds)->pxCallAsync = nullptr;
  PxCalleeSetCallError(ds, error, text);
  if (unlink) {
    UnlinkAsyncRef(app, a);
    FreeOp(a);
  }
  QueueElement* e = PxCalleeCallElement(ds);
  if (e && e->signature == FourCC("QELM") && e->dataSpace == ds) EnQRunQ(e);
  else DBPrintf("FinishPxCallee: the callee's element is not ready");
}

// Runs an operation's completion, with no lock of the connections held (its
// caller may hold locks of its own), then frees it.
void RunCompletion(void* arg) {
  AsyncRef a = static_cast<AsyncRef>(arg);
  AsyncCompletion completion = nullptr;
  {
    TSConnLock lock;
    completion = a->completion;
  }
  if (completion) completion(a);
  if (a->errorText) AZDisposePtr(a->errorText);
  a->errorText = nullptr;
  FreeOp(a);
}

// Completes the operation (already off the list) with the error and a copy
// of the text once the connection mutex is left.
void Complete(AsyncRef a, MgErr error, ConstPStr text) {
  a->error = error;
  a->errorText = nullptr;
  if (text && (a->errorText = AZNewPtr(int32(text[0]) + 1))) PStrCpy(a->errorText, text);
  TSDefer(&RunCompletion, a);
}

// A reply to a vector operation (11, 12, 15, 16).
void VectorReply(ConnInfo* c, int32 op, const char* routine) {
  const SrvMsgHeader h = c->header;
  AsyncRef a = TakeAsync(c, h.uniqueId, op);
  if (!a) {
    DBPrintf("%s: Bad uniqueID (asyncRef=0x%lx)", routine, static_cast<unsigned long>(h.uniqueId));
    return;
  }
  if (!a->completion) {
    DBPrintf("%s: reply to killed asyncRef 0x%lx dropped", routine, static_cast<unsigned long>(h.uniqueId));
  } else {
    ParamVectorMsg m{};
    MgErr err = RcvParamVector(c->data, h.dataLength, h.type, a, &m);
    if (!err && (h.type == kTSAppPropReply || h.type == kTSVIPropReply)) {
      err = m.failError;
      a->param[2] = uInt32(m.failIndex);
    }
    Complete(a, err, nullptr);
    return;
  }
  FreeOp(a);
}

// The local reference of a reply's unique id, when it is one of the
// record's.
VIRefRecord* LocalRef(ConnInfo* c, VIRef ref) {
  if (!c->app || !IsVIRefnum(uInt32(ref))) return nullptr;
  VIRefRecord* r = ResolveVIRef(ref);
  return r && r->app == c->app ? r : nullptr;
}

}  // namespace

// ---- Opening ---------------------------------------------------------------------------------

bool TSIsRemoteApp(const AppRecord* app) {
  TSConnLock lock;
  return RemoteOf(app) != nullptr;
}

ConnInfo* TSAppConnection(const AppRecord* app) {
  TSConnLock lock;
  RemoteApp* r = RemoteOf(app);
  return r ? static_cast<ConnInfo*>(r->rec.connection) : nullptr;
}

MgErr OpenAppRefByName(ConstPStr machine, uInt16 port, AppRef* appRef, PStr text, AsyncCompletion completion,
                       AsyncRef* async) {
  if (text) text[0] = 0;
  if (async) *async = nullptr;
  if (!appRef) return kArgErr;
  *appRef = kNoAppRef;
  if (!machine || !machine[0]) {
    *appRef = kLocalAppRef;
    return kNoErr;
  }
  TSConnLock lock;
  AppRecord* record = nullptr;
  AsyncRef a = nullptr;
  MgErr err = NewAppRefObjByTCP(machine, port, &record, appRef, completion, &a);
  if (err == kPending && (!completion || !async)) {
    // Nobody would learn of the end: the open is undone.
    TSApp_KillAsyncRef(record, a);
    *appRef = kNoAppRef;
    return kArgErr;
  }
  if (err == kPending) {
    a->param[0] = *appRef;
    *async = a;
  }
  return err;
}

MgErr NewAppRefObjByTCP(ConstPStr machine, uInt16 port, AppRecord** record, AppRef* appRef,
                        AsyncCompletion completion, AsyncRef* async) {
  if (record) *record = nullptr;
  if (async) *async = nullptr;
  if (appRef) *appRef = kNoAppRef;
  if (!machine || !record || !appRef) return kArgErr;
  uInt32 address = 0;
  if (MgErr err = TSNet().strToIP(machine, &address)) {
    DBPrintf("NewAppRefObjByTCP: bad machine name (\"%p\"), err=%ld", machine, long(err));
    return err;
  }
  Str255 resolved;
  if (MgErr err = TSNet().ipToStr(address, resolved, 0)) {
    DBPrintf("NewAppRefObjByTCP: couldn't get fully resolved name (\"%p\"), err=%ld", machine, long(err));
    PStrCpy(resolved, machine);
  }
  TSConnLock lock;
  if (MgErr err = TSMakeConnTable()) return err;
  RemoteApp* r = nullptr;
  for (RemoteApp* each : Remotes()) {
    const ConnInfo* c = static_cast<const ConnInfo*>(each->rec.connection);
    if (c && c->state != kTSClosing && c->address == address && c->port == port) r = each;
  }
  const bool fresh = !r;
  if (fresh) {
    r = reinterpret_cast<RemoteApp*>(AZNewPClr(int32(sizeof(RemoteApp))));
    ConnInfo* c = r ? AllocateConnection(resolved) : nullptr;
    if (!c) {
      if (r) AZDisposePtr(reinterpret_cast<UPtr>(r));
      return kMemFullErr;
    }
    r->rec.methods = kRemoteTable;
    PStrCpy(r->rec.machine, resolved);
    r->rec.name = r->rec.machine;
    r->rec.connection = c;
    c->app = &r->rec;
    c->address = address;
    c->port = port;
    Remotes().push_back(r);
  }
  *record = &r->rec;
  const AppRef cookie = NewAppRefCookie(&r->rec);
  if (!cookie) {
    MaybeFree(r);
    *record = nullptr;
    return kMemFullErr;
  }
  ++r->rec.cookieCount;
  *appRef = cookie;
  if (GetServerLogDetails())
    TSLog(kTSSideClient, "NewAppRefObjByTCP", "%s appRef=0x%08lx for \"%p\"", fresh ? "created" : "found",
          static_cast<unsigned long>(cookie), r->rec.machine);
  ConnInfo* c = static_cast<ConnInfo*>(r->rec.connection);
  if (c->flags & kTSConnHello) return kNoErr;
  MgErr err = fresh ? TSEstablishConnection(c) : kPending;
  if (err == kNoErr || err == kPending) {
    if (c->flags & kTSConnHello) return kNoErr;
    AsyncRef a = NewAsyncRef(kAsyncGetAppRefOp, &r->rec);
    if (a) {
      a->completion = completion;
      a->param[0] = cookie;
      a->connection = reinterpret_cast<void*>(uintptr_t(c->id));
      AppendAsyncRef(&r->rec, a);
      if (async) *async = a;
      return kPending;
    }
    err = kMemFullErr;
  }
  // A failure gives back what the open made.
  if (r->rec.cookieCount <= 1) {
    if (DisposeAppRefCookie(cookie) == kNoErr) --r->rec.cookieCount;
    *appRef = kNoAppRef;
    *record = nullptr;
    MaybeFree(r);
  }
  return err;
}

namespace {

void Connected(ConnInfo* c) {
  c->state = kTSIdle;
  if (MgErr err = TSSendPlain(c, kTSClientHello, kSrvProtocolLevel, kNoErr)) {
    if (c->app) FailAsyncRefs(c->app, err);
    TSCloseConnection(c, err);
    return;
  }
  TSStartHeaderRead(c);
}

}  // namespace

MgErr TSEstablishConnection(ConnInfo* c) {
  if (!c) return kArgErr;
  c->state = kTSConnecting;
  const NCAddress remote{0, c->address, htons(c->port)};
  Cookie nc = 0;
  const MgErr err = TSNet().connect(nullptr, &remote, &TSConnectCallback, int32(c->id), -1, &nc);
  if (err && err != kPending) {
    DBPrintf("TSEstablishConnection: connect failed, err %ld", long(err));
    c->state = kTSNew;
    return err;
  }
  c->nc = nc;
  if (!err) Connected(c);
  return err;
}

MgErr TSConnectCallback(NCCompletionInfo* info, Cookie nc) {
  TSConnLock lock;
  if (!info) return kNoErr;
  ConnInfo* c = ResolveConnID(Cookie(info->data));
  if (!c || c->state != kTSConnecting) {
    // Nobody waits for this connection any more.
    if (!info->result) TSNet().close(nc);
    return kNoErr;
  }
  if (info->kind != kNCKindConnect) {
    DBPrintf("TSConnectCallback: unexpected event %ld", long(info->kind));
    return kNoErr;
  }
  if (info->result) {
    DBPrintf("TSConnectCallback: callback reports error %ld", long(info->result));
    c->nc = 0;
    c->state = kTSIdle;
    TSCloseConnection(c, info->result);
    return kNoErr;
  }
  c->nc = nc;
  Connected(c);
  return kNoErr;
}

// ---- The remote entries -------------------------------------------------------------------------

namespace {

MgErr OpenRemote(AppRef app, ConstPStr viName, Path path, const TypeDescriptor* connType, int32 options,
                 ConstPStr password, VIRef* out, AsyncCompletion completion, AsyncRef* async) {
  TSConnLock lock;
  AppRecord* record = ResolveQXAppRef(app);
  RemoteApp* ra = RemoteOf(record);
  if (!ra) return kAppRefInvalidErr;
  ConnInfo* c = nullptr;
  if (MgErr err = Connection(record, &c)) return err;
  options |= kVIRefOptNative;
  // The proxy VI: "<VI>@<machine>", cut to 255 characters.
  Str255 name;
  Str255 file;
  if (path && FNamePtr(path, file) != kNoErr) return kArgErr;
  PPrintf(name, "%p@%p", path ? file : viName, ra->rec.machine);
  UHandle vi = nullptr;
  DataSpace ds = nullptr;
  if (MgErr err = PxCalleeFindOrCreate(name, connType, &vi, &ds)) return err;
  VIRefRecord* r = NewVIRefRecord();
  const VIRef self = r ? NewVIRefCookie(r) : 0;
  if (!self || VIRefListAdd(vi, self) != kNoErr) {
    if (self) DisposeVIRefCookie(self);
    if (r) FreeVIRefRecord(r);
    if (!VIHasRefs(vi, nullptr)) DisposeVI(vi, 1);
    return kMemFullErr;
  }
  r->app = record;
  r->appRef = app;
  r->self = self;
  r->vi = vi;
  r->flags = uInt32(options) & ~uInt32(kVIRefReleasePending | kVIRefStrictlyTyped | kVIRefLoadedPanel);
  if (connType) {
    r->flags |= kVIRefStrictlyTyped;
    r->mode = kVIRefModeCall;
  }
  ++ra->rec.viObjectCount;
  AsyncRef a = NewAsyncRef(kAsyncGetVIRefOp, record);
  SrvMessage m{};
  MgErr err = a ? SrvWriteOpenRequest(uInt32(Word(a)), options, viName, path, connType, password, &m) : kMemFullErr;
  if (!err) {
    a->completion = completion;
    a->ref = self;
    a->connection = reinterpret_cast<void*>(uintptr_t(c->id));
    AppendAsyncRef(record, a);
    if ((err = TSQueueMessage(c, &m, nullptr))) UnlinkAsyncRef(record, a);
  }
  if (err) {
    SrvDisposeMessage(&m);
    if (a) FreeOp(a);
    VIRefRelease(self);
    return err;
  }
  *out = self;
  if (async) *async = a;
  return kPending;
}

}  // namespace

MgErr TSApp_GetRefByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                         ConstPStr password, VIRef* out, PStr, AsyncCompletion completion, AsyncRef* async) {
  return OpenRemote(app, name, nullptr, connType, options, password, out, completion, async);
}

MgErr TSApp_GetRefByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr password,
                         VIRef* out, PStr, AsyncCompletion completion, AsyncRef* async) {
  return OpenRemote(app, nullptr, path, connType, options, password, out, completion, async);
}

MgErr TSApp_Release(VIRefRecord* r) {
  TSConnLock lock;
  RemoteApp* ra = r ? RemoteOf(r->app) : nullptr;
  if (!ra) return kArgErr;
  const VIRef self = r->self;
  if (ConnInfo* c = static_cast<ConnInfo*>(ra->rec.connection)) {
    if (const VIRef server = RemovePair(c, self)) TSSendPlain(c, kTSReleaseRef, uInt32(server), kNoErr);
  }
  --ra->rec.viObjectCount;
  // Operations still waiting for the reference complete to nobody.
  for (AsyncRef a = ra->rec.asyncList; a; a = a->next)
    if (a->ref == self && a->op != kAsyncCallVIPxCalleeOp) a->completion = nullptr;
  UHandle vi = r->vi && *r->vi ? r->vi : nullptr;
  if (vi && (VIRec(vi)->flags & kVIFlagReentrant) && r->callDS) PxCalleeDisposeClone(vi, r->callDS);
  if (vi && !VIRefListRemove(vi, self))
    DBPrintf("TSApp_Release: didn't find ref (0x%lx) in \"%p\"'s reflist!!", static_cast<unsigned long>(uInt32(self)),
             VIRec(vi)->name);
  DisposeVIRefCookie(self);
  FreeVIRefRecord(r);
  if (vi && !VIHasRefs(vi, nullptr)) DisposeVI(vi, 1);
  MaybeFree(ra);
  return kNoErr;
}

namespace {

// The request keeps its own copy of the entries (a caller's vector may be a
// temporary of one property); the values stay the caller's.
MgErr SendVector(AppRecord* app, VIRefRecord* ref, int32 type, int32 method, int32 count, AttrEntry* vector,
                 AsyncCompletion completion, AsyncRef* async) {
  TSConnLock lock;
  if (async) *async = nullptr;
  ConnInfo* c = nullptr;
  if (MgErr err = Connection(app, &c)) return err;
  VIRef server = 0;
  if (ref && !(server = ServerRefOf(c, ref->self))) return kVIRefInvalidErr;
  if (count < 0 || (count > 0 && !vector) || count > 0x7FFFFFF / int32(sizeof(AttrEntry))) return kArgErr;
  AttrEntry* copy = nullptr;
  if (count > 0) {
    if (!(copy = reinterpret_cast<AttrEntry*>(AZNewPtr(count * int32(sizeof(AttrEntry)))))) return kMemFullErr;
    std::memcpy(copy, vector, size_t(count) * sizeof(AttrEntry));
  }
  ParamVectorMsg m{type, 0, server, method, count, copy, 0, 0};
  AsyncRef a = nullptr;
  const MgErr err = SendParamVector(TSSender(c), app, &m, ref ? ref->self : 0, completion, &a);
  if (err) {
    if (copy) AZDisposePtr(reinterpret_cast<UPtr>(copy));
    return err;
  }
  if (async) *async = a;
  return kPending;
}

MgErr TSApp_VIAttrVector(VIRefRecord* ref, int32 count, AttrEntry* vector, int32, MgErr*, int32*, PStr,
                         AsyncCompletion completion, AsyncRef* async) {
  return SendVector(ref->app, ref, kTSVIPropRequest, 0, count, vector, completion, async);
}

MgErr TSApp_AppAttrVector(AppRecord* app, AppRef, int32 count, AttrEntry* vector, int32, MgErr*, int32*, PStr,
                          AsyncCompletion completion, AsyncRef* async) {
  return SendVector(app, nullptr, kTSAppPropRequest, 0, count, vector, completion, async);
}

MgErr TSApp_VIDoMethod(VIRefRecord* ref, int32 method, int32 count, AttrEntry* params, int32, PStr,
                       AsyncCompletion completion, AsyncRef* async) {
  return SendVector(ref->app, ref, kTSVIMethodRequest, method, count, params, completion, async);
}

MgErr TSApp_AppDoMethod(AppRecord* app, AppRef, int32 method, int32 count, AttrEntry* params, int32, PStr,
                        AsyncCompletion completion, AsyncRef* async) {
  return SendVector(app, nullptr, kTSAppMethodRequest, method, count, params, completion, async);
}

}  // namespace

MgErr TSApp_KillAsyncRef(AppRecord* app, AsyncRef a) {
  TSConnLock lock;
  RemoteApp* ra = RemoteOf(app);
  if (!ra || !a) return kArgErr;
  switch (a->op) {
    case kAsyncGetAppRefOp: {
      a->completion = nullptr;
      const AppRef refnum = AppRef(a->param[0]);
      a->param[0] = 0;
      return refnum ? TSApp_ReleaseAppRef(app, refnum) : kNoErr;
    }
    case kAsyncGetVIRefOp: {
      a->completion = nullptr;
      const VIRef ref = a->ref;
      return IsVIRefnum(uInt32(ref)) ? VIRefRelease(ref) : kNoErr;
    }
    case kAsyncAppAttrVectOp:
    case kAsyncVIAttrVectOp:
    case kAsyncAppDoMethodOp:
    case kAsyncVIDoMethodOp: a->completion = nullptr; return kNoErr;
    case kAsyncCallVIPxCalleeOp: {
      // The reset's reply ends the call.
      ConnInfo* c = nullptr;
      if (MgErr err = Connection(app, &c)) return err;
      const VIRef server = ServerRefOf(c, a->ref);
      return server ? TSSendPlain(c, kTSResetDownRequest, uInt32(server), kNoErr) : kVIRefInvalidErr;
    }
    default:
      DBAssert(__FILE__, __LINE__, "TSApp_KillAsyncRef: not an operation of a remote application");
      return kVIRefGenericErr;
  }
}

MgErr TSApp_ReleaseAppRef(AppRecord* app, AppRef appRef) {
  TSConnLock lock;
  RemoteApp* ra = RemoteOf(app);
  if (!ra) return kArgErr;
  MgErr err = appRef ? DisposeAppRefCookie(appRef) : kArgErr;
  if (!err) --ra->rec.cookieCount;
  if (ra->rec.cookieCount > 0 || ra->rec.viObjectCount > 0) ra->rec.flags |= kAppRecReleased;
  MaybeFree(ra);
  return err;
}

// ---- Calls -------------------------------------------------------------------------------------

MgErr TSSendCall(VIRef localRef, DataSpace ds) {
  TSConnLock lock;
  VIRefRecord* r = ResolveVIRef(localRef);
  if (!r || !RemoteOf(r->app)) return kVIRefGenericErr;
  ConnInfo* c = nullptr;
  if (MgErr err = Connection(r->app, &c)) return err;
  const VIRef server = ServerRefOf(c, localRef);
  if (!server) return kVIRefInvalidErr;
  auto* table = ds && *ds ? static_cast<ParamTable*>((*ds)->callTable) : nullptr;
  UHandle pane = r->vi && *r->vi ? VIRec(r->vi)->connPane : nullptr;
  if (!table || table->tag != kParamTableTag || !pane || !*pane || (*ds)->pxCallAsync) return kArgErr;
  const auto* p = reinterpret_cast<const TypeDescriptor*>(*pane);
  int16 terminals = 0;
  std::memcpy(&terminals, *pane + 4, sizeof terminals);
  SrvMessage m{};
  MgErr err = SrvWriteCallParams(kTSCallVIRequest, uInt32(localRef), server, p, table->slots, terminals, &m);
  if (err) return err;
  AsyncRef a = NewAsyncRef(kAsyncCallVIPxCalleeOp, r->app);
  if (!a) {
    SrvDisposeMessage(&m);
    return kMemFullErr;
  }
  a->ref = localRef;
  a->connection = reinterpret_cast<void*>(uintptr_t(c->id));
  a->param[0] = uInt32(Word(ds));
  AppendAsyncRef(r->app, a);
  (*ds)->pxCallAsync = a;
  if ((err = TSQueueMessage(c, &m, nullptr))) {
    SrvDisposeMessage(&m);
    (*ds)->pxCallAsync = nullptr;
    UnlinkAsyncRef(r->app, a);
    FreeOp(a);
  }
  return err;
}

void FinishPxCallee(VIRef localRef, MgErr error, ConstPStr text, Bool32 unlink) {
  TSConnLock lock;
  VIRefRecord* r = IsVIRefnum(uInt32(localRef)) ? ResolveVIRef(localRef) : nullptr;
  AsyncRef a = r && RemoteOf(r->app) ? CallOf(r->app, localRef) : nullptr;
  if (!a) {
    DBPrintf("FinishPxCallee: Bad uniqueID (viref=0x%08lx)", static_cast<unsigned long>(uInt32(localRef)));
    return;
  }
  FinishCall(a, error, text, unlink != 0);
}

// ---- Replies -----------------------------------------------------------------------------------

void FailAsyncRefs(AppRecord* app, MgErr error) {
  RemoteApp* ra = RemoteOf(app);
  if (!ra) return;
  ++ra->holds;
  std::vector<AsyncRef> all;
  while (AsyncRef a = app->asyncList) {
    UnlinkAsyncRef(app, a);
    all.push_back(a);
  }
  for (AsyncRef a : all) {
    if (a->op == kAsyncCallVIPxCalleeOp) {
      // A call ends here, while its callee's data space is sure to live: the
      // references the close releases next may dispose of the callee.
      FinishCall(a, error, nullptr, false);
      FreeOp(a);
      continue;
    }
    if (error) FreeGetValues(a);
    const int32 op = a->op;
    const AppRef refnum = AppRef(a->param[0]);
    const VIRef local = a->ref;
    const bool opening = op == kAsyncGetVIRefOp && a->completion;
    Complete(a, error, nullptr);
    if (op == kAsyncGetAppRefOp && error && refnum) TSApp_ReleaseAppRef(app, refnum);
    // A reference whose open failed does not stay.
    if (opening && error && IsVIRefnum(uInt32(local)))
      if (VIRefRecord* r = ResolveVIRef(local); r && r->app == app) VIRefRelease(local);
  }
  --ra->holds;
  MaybeFree(ra);
}

void CliRcvAppAttrVectReply(ConnInfo* c) { VectorReply(c, kAsyncAppAttrVectOp, "CliRcvAppAttrVectReply"); }
void CliRcvVIAttrVectReply(ConnInfo* c) { VectorReply(c, kAsyncVIAttrVectOp, "CliRcvVIAttrVectReply"); }
void CliRcvAppDoMethReply(ConnInfo* c) { VectorReply(c, kAsyncAppDoMethodOp, "CliRcvAppDoMethReply"); }
void CliRcvVIDoMethReply(ConnInfo* c) { VectorReply(c, kAsyncVIDoMethodOp, "CliRcvVIDoMethReply"); }

void CliRcvGetVIRefReply(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  AsyncRef a = TakeAsync(c, h.uniqueId, kAsyncGetVIRefOp);
  if (!a) {
    DBPrintf("CliRcvGetVIRefReply: Bad uniqueID (asyncRef=0x%lx)", static_cast<unsigned long>(h.uniqueId));
    return;
  }
  VIRef server = 0;
  Bool32 reentrant = 0;
  MgErr err = SrvReadOpenReply(c->data ? *c->data : nullptr, h.dataLength, &server, &reentrant);
  if (err) err = kVIRefGenericErr;
  VIRefRecord* r = a->completion ? LocalRef(c, a->ref) : nullptr;
  if (!r) {
    // The open was given up: the server's reference goes again.
    if (!err && server) TSSendPlain(c, kTSReleaseRef, uInt32(server), kNoErr);
    if (a->completion) Complete(a, err ? err : kVIRefInvalidErr, nullptr);
    else FreeOp(a);
    return;
  }
  if (!err) {
    UHandle vi = r->vi;
    DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
    if (reentrant) {
      PxCalleeMarkReentrant(vi);
      if (r->mode == kVIRefModeCall) err = PxCalleeNewClone(vi, &ds);
    }
    r->callDS = ds;
    if (!err) err = AddPair(c, r->self, server);
    if (err) {
      TSSendPlain(c, kTSReleaseRef, uInt32(server), kNoErr);
      VIRefRelease(r->self);
    }
  } else {
    VIRefRelease(r->self);
  }
  Complete(a, err, nullptr);
}

void CliRcvCallVIReply(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  const VIRef local = VIRef(h.uniqueId);
  VIRefRecord* r = LocalRef(c, local);
  AsyncRef a = r ? CallOf(c->app, local) : nullptr;
  if (!a) {
    DBPrintf("FinishPxCallee: Bad uniqueID (viref=0x%08lx)", static_cast<unsigned long>(h.uniqueId));
    return;
  }
  DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(a->param[0]));
  auto* table = ds && *ds ? static_cast<ParamTable*>((*ds)->callTable) : nullptr;
  UHandle pane = r->vi && *r->vi ? VIRec(r->vi)->connPane : nullptr;
  MgErr err = kVIRefGenericErr;
  if (table && table->tag == kParamTableTag && pane && *pane) {
    int16 terminals = 0;
    std::memcpy(&terminals, *pane + 4, sizeof terminals);
    err = RcvCallParams(c->data, h.dataLength, kTSCallVIReply, reinterpret_cast<const TypeDescriptor*>(*pane),
                        table->slots, terminals, nullptr);
  }
  // Outputs that cannot be read end the call with that error, never as a
  // success.
  if (err)
    DBPrintf("CliRcvCallVIReply: err=%ld; could not read call outputs on \"%p\"", long(err),
             r->vi && *r->vi ? VIRec(r->vi)->name : reinterpret_cast<ConstPStr>(""));
  FinishCall(a, err, nullptr, true);
}

void TSClientHello(ConnInfo* c) {
  c->flags |= kTSConnHello;
  AppRecord* app = c->app;
  RemoteApp* ra = RemoteOf(app);
  if (!ra) return;
  // The opens of the application reference that waited for the Hello.
  ++ra->holds;
  std::vector<AsyncRef> opens;
  for (AsyncRef a = app->asyncList; a; a = a->next)
    if (a->op == kAsyncGetAppRefOp) opens.push_back(a);
  for (AsyncRef a : opens) {
    UnlinkAsyncRef(app, a);
    Complete(a, kNoErr, nullptr);
  }
  --ra->holds;
  MaybeFree(ra);
}

void TSClientResetDownReply(ConnInfo* c) {
  const VIRef local = VIRef(c->header.uniqueId);
  AsyncRef a = LocalRef(c, local) ? CallOf(c->app, local) : nullptr;
  if (!a) {
    DBPrintf("FinishPxCallee: Bad uniqueID (viref=0x%08lx)", static_cast<unsigned long>(uInt32(local)));
    return;
  }
  FinishCall(a, c->header.error, nullptr, true);
}

void TSHandleDataReadWithError(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  Str255 text;
  SrvReadErrorText(c->data ? *c->data : nullptr, h.dataLength, text);
  RemoteApp* ra = RemoteOf(c->app);
  if (ra) ++ra->holds;
  switch (h.type) {
    case kTSClientHello:
    case kTSClientBye:
    case kTSServerBye: TSCloseConnection(c, h.error); break;
    case kTSServerHello:
      if (c->app) FailAsyncRefs(c->app, h.error);
      break;
    case kTSAppPropReply:
    case kTSVIPropReply:
    case kTSGetVIRefReply:
    case kTSAppMethodReply:
    case kTSVIMethodReply: {
      static const int32 kOps[] = {kAsyncAppAttrVectOp, kAsyncVIAttrVectOp, kAsyncGetVIRefOp, -1, kAsyncAppDoMethodOp,
                                   kAsyncVIDoMethodOp};
      AsyncRef a = TakeAsync(c, h.uniqueId, kOps[h.type - kTSAppPropReply]);
      if (!a) {
        DBPrintf("TSHandleDataReadWithError: %s: Bad uniqueID (0x%lx) return", SrvMsgName(h.type),
                 static_cast<unsigned long>(h.uniqueId));
        break;
      }
      if (h.type == kTSGetVIRefReply) {
        const VIRef local = a->ref;
        if (a->completion && LocalRef(c, local)) VIRefRelease(local);
      } else {
        FreeGetValues(a);
      }
      Complete(a, h.error, text);
      break;
    }
    case kTSCallVIReply: {
      const VIRef local = VIRef(h.uniqueId);
      AsyncRef a = LocalRef(c, local) ? CallOf(c->app, local) : nullptr;
      if (a) FinishCall(a, h.error, text, true);
      else DBPrintf("FinishPxCallee: Bad uniqueID (viref=0x%08lx)", static_cast<unsigned long>(h.uniqueId));
      break;
    }
    case kTSErrorStopSend: {
      const VIRef local = VIRef(h.uniqueId);
      AsyncRef a = LocalRef(c, local) ? CallOf(c->app, local) : nullptr;
      if (!a) {
        DBPrintf("TSHandleDataReadWithError:kTSErrorStopSend:Bad uniqueID (viRef=0x%08lx)",
                 static_cast<unsigned long>(h.uniqueId));
        break;
      }
      // The calling VI stops with the server's error.
      PxCalleeErrorNotify(reinterpret_cast<DataSpace>(uintptr_t(a->param[0])), h.error, text);
      break;
    }
    case kTSAppPropRequest:
    case kTSVIPropRequest:
    case kTSGetVIRefRequest:
    case kTSCallVIRequest:
    case kTSAppMethodRequest:
    case kTSVIMethodRequest:
    case kTSReleaseRef:
    case kTSResetDownRequest:
    case kTSResetDownReply: break;
    default: DBPrintf("TSHandleDataReadWithError: unexpected message %ld", long(h.type)); break;
  }
  if (ra) {
    --ra->holds;
    MaybeFree(ra);
  }
}

void TSClientClose(ConnInfo* c, MgErr error) {
  AppRecord* app = c->app;
  RemoteApp* ra = RemoteOf(app);
  if (ra) {
    ++ra->holds;
    FailAsyncRefs(app, error);
  }
  TSLog(kTSSideClient, "Closing connection", "CLIENT closing ref=0x%08lx; \"%p\"", static_cast<unsigned long>(c->id),
        c->name);
  while (c->pairs && GLCount(c->pairs, kPairSize) > 0) {
    VIRef pair[2] = {0, 0};
    GLRemove(c->pairs, pair, kPairSize, 0);
    if (GetServerLogDetails())
      TSLog(kTSSideClient, "Closing connection", "TSCloseConnection: releasing leftover client ref 0x%08lx",
            static_cast<unsigned long>(uInt32(pair[0])));
    if (IsVIRefnum(uInt32(pair[0]))) VIRefRelease(pair[0]);
  }
  if (ra) {
    ra->rec.connection = nullptr;
    c->app = nullptr;
    --ra->holds;
    MaybeFree(ra);
  }
}

void TSDisposeRemoteApps() {
  TSConnLock lock;
  // The local references of remote VIs go first: they point at the records.
  std::vector<VIRef> refs(size_t(std::max<int32>(VIRefList(nullptr, 0), 0)));
  refs.resize(size_t(std::max<int32>(0, std::min<int32>(VIRefList(refs.data(), int32(refs.size())), int32(refs.size())))));
  for (VIRef ref : refs)
    if (VIRefRecord* r = ResolveVIRef(ref); r && RemoteOf(r->app)) VIRefRelease(ref);
  std::vector<RemoteApp*> all = Remotes();
  for (RemoteApp* r : all) {
    r->rec.cookieCount = 0;
    r->rec.viObjectCount = 0;
    r->holds = 0;
    MaybeFree(r);
  }
}
