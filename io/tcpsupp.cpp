#include "io/tcpsupp.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "engine/exec/callchain.h"
#include "engine/exec/exec.h"
#include "engine/vi/dataspace.h"
#include "io/netconn.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

constexpr MgErr kPendingErr = 55;

int32 RecWord(TCPWaitRec* rec) { return int32(uintptr_t(rec)); }
TCPWaitRec* RecOf(const NCCompletionInfo* info) {
  return reinterpret_cast<TCPWaitRec*>(uintptr_t(uInt32(info->data)));
}

// The clean-up of a connection: closed with the top-level VI of its run.
int32 CloseProc(void* cookie) { return NCClose(Cookie(uintptr_t(cookie))); }
void* CookieWord(Cookie c) { return reinterpret_cast<void*>(uintptr_t(c)); }
void RegisterClose(Cookie c) { RTSetCleanupProc(&CloseProc, CookieWord(c), kCleanupTopVI); }

// The waiting clump goes back on its run queue, once.  Only a clump that
// still waits is queued: a reset takes waiting clumps back (under the data
// space's "dsRights", ending their wait), and a completion that comes after
// that, from the close its clean-up makes, must not queue the clump again.
void Requeue(TCPWaitRec* rec) {
  QueueElement* e = rec->waiting;
  if (!e) return;
  rec->waiting = nullptr;
  DataSpaceHeader* h = e->dataSpace ? *e->dataSpace : nullptr;
  ThMutex rights = h ? h->entrance.dsRights : nullptr;
  ThMutexAcquire(rights);
  if (QEEndWait(e)) EnQRunQ(e);
  ThMutexRelease(rights);
}

// The string holds the first n bytes of what was read.
MgErr ShrinkTo(LStrHandle s, int32 n) {
  if (!s || !*s) return kArgErr;
  if (n < 0) n = 0;
  MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(s), n + 4);
  // The block is at least n + 4 bytes either way.
  (*s)->cnt = n;
  return err;
}

void SetText(LStrHandle s, ConstPStr text) {
  if (!s) return;
  const int32 n = text ? text[0] : 0;
  if (DSSetHandleSize(reinterpret_cast<UHandle>(s), n + 4) != kNoErr) {
    if (*s && DSGetHandleSize(reinterpret_cast<UHandle>(s)) >= 4) (*s)->cnt = 0;
    return;
  }
  (*s)->cnt = n;
  if (n) std::memcpy((*s)->str, text + 1, size_t(n));
}

void FillListenOutputs(TCPWaitRec* rec, MgErr result, Cookie accepted, const NCAddress& peer) {
  Cookie* connOut = static_cast<Cookie*>(rec->output);
  if (result != kNoErr) {
    if (connOut) *connOut = rec->connection;
    if (rec->portOutput) *rec->portOutput = 0;
    SetText(rec->addressOutput, nullptr);
    return;
  }
  if (connOut) *connOut = accepted;
  if (rec->portOutput) *rec->portOutput = ntohs(peer.port);
  if (!rec->addressOutput) return;
  Str255 text;
  text[0] = 0;
  if (NCIPToStr2(peer.address, text, rec->resolve ? 0 : 1) != kNoErr) text[0] = 0;
  SetText(rec->addressOutput, text);
}

bool Expect(const NCCompletionInfo* info, int32 kind) {
  if (info && info->kind == kind && info->data) return true;
  DBAssert("tcpsupp", __LINE__, "TCP completion of an unexpected kind");
  return false;
}

MgErr OpenDone(NCCompletionInfo* info, Cookie) {
  if (!Expect(info, kNCKindConnect)) return kNoErr;
  TCPWaitRec* rec = RecOf(info);
  rec->result = info->result;
  Requeue(rec);
  return kNoErr;
}

MgErr ListenDone(NCCompletionInfo* info, Cookie) {
  if (!Expect(info, kNCKindAccept)) return kNoErr;
  TCPWaitRec* rec = RecOf(info);
  rec->result = info->result;
  rec->connection = Cookie(info->words[0]);
  NCAddress peer;
  std::memcpy(&peer, &info->words[1], sizeof peer);
  FillListenOutputs(rec, rec->result, rec->connection, peer);
  Requeue(rec);
  return kNoErr;
}

MgErr ReadDone(NCCompletionInfo* info, Cookie) {
  if (!Expect(info, kNCKindRead)) return kNoErr;
  TCPWaitRec* rec = RecOf(info);
  rec->result = info->result;
  const int32 requested = info->words[0], done = info->words[1];
  if (done < requested) (void)ShrinkTo(static_cast<LStrHandle>(rec->output), done);
  Requeue(rec);
  return kNoErr;
}

MgErr WriteDone(NCCompletionInfo* info, Cookie) {
  if (!Expect(info, kNCKindWrite)) return kNoErr;
  TCPWaitRec* rec = RecOf(info);
  if (int32* out = static_cast<int32*>(rec->output)) *out = info->words[1];
  rec->result = info->result;
  Requeue(rec);
  return kNoErr;
}

// A whole-flag write of no string: a zero count.
const uInt32 kZeroCount = 0;

}  // namespace

MgErr TCPOpenConCover(TCPWaitRec* rec, int32 timeout, const uInt16* localPort, const uInt16* remotePort,
                      Cookie* connOut, LStrHandle address) {
  if (connOut) *connOut = 0;
  if (!rec) return kArgErr;
  Str255 host;
  host[0] = 0;
  if (address && *address) LToPStr(*address, host);
  uInt32 ip = 0;
  MgErr err = NCStrToIP2(host, &ip);
  if (err != kNoErr) {
    rec->connection = 0;
    rec->waiting = nullptr;
    return err;
  }
  const NCAddress local{0, 0, htons(localPort ? *localPort : 0)};
  const NCAddress remote{0, ip, htons(remotePort ? *remotePort : 0)};
  // The record's connection is written by the manager before a completion
  // can run, so the clump finds it whichever thread resumes it.
  err = NCConnectConn(&local, &remote, &OpenDone, RecWord(rec), timeout, &rec->connection);
  if (connOut) *connOut = rec->connection;
  if (err != kPendingErr) rec->waiting = nullptr;
  if (err == kNoErr) RegisterClose(rec->connection);
  return err;
}

MgErr TCPCreateListenCover(const uInt16* port, Cookie* connOut) {
  if (!connOut) return kArgErr;
  *connOut = 0;
  const NCAddress local{0, 0, htons(port ? *port : 0)};
  MgErr err = NCOpenListener(&local, connOut);
  if (err == kNoErr) RegisterClose(*connOut);
  return err;
}

MgErr TCPWaitListenCover(TCPWaitRec* rec) {
  if (!rec) return kArgErr;
  NCAddress peer{};
  const int32 timeout = rec->timeout ? *rec->timeout : -1;
  MgErr err = NCWaitOnListener(rec->listener, timeout, &ListenDone, RecWord(rec), &rec->connection, &peer);
  if (err != kPendingErr) {
    rec->result = err;
    rec->waiting = nullptr;
    FillListenOutputs(rec, err, rec->connection, peer);
    if (err == kNoErr) RegisterClose(rec->connection);
  }
  return err;
}

MgErr TCPReadCover(Cookie conn, int32 count, int32 timeout, TCPWaitRec* rec, int32 mode) {
  if (!rec) return kArgErr;
  // count + 4 must fit the string block's size.
  if (count < 0 || count > kTCPMaxReadCount) {
    rec->waiting = nullptr;
    return kArgErr;
  }
  if (count == 0) {
    rec->waiting = nullptr;
    return kNoErr;
  }
  LStrHandle s = static_cast<LStrHandle>(rec->output);
  // A string that cannot hold the count is left as it was and nothing is read.
  if (!s) {
    s = reinterpret_cast<LStrHandle>(DSNewHandle(count + 4));
    if (!s) {
      rec->waiting = nullptr;
      return kMemFullErr;
    }
    rec->output = s;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(s), count + 4) != kNoErr) {
    rec->waiting = nullptr;
    return kMemFullErr;
  }
  (*s)->cnt = count;
  rec->connection = conn;
  // Modes outside 0..3 read as mode 0 does.
  if (mode < 0 || mode > 3) mode = 0;
  int32 n = count;
  MgErr err = NCReadConn(conn, (*s)->str, &n, timeout, &ReadDone, RecWord(rec), mode);
  if (err == kPendingErr) return err;
  if (n < count) {
    MgErr rerr = ShrinkTo(s, n);
    if (rerr != kNoErr) DBPrintf("TCPReadCover:error (%d) on resizing handle!!!", int(rerr));
  }
  rec->waiting = nullptr;
  return err;
}

MgErr TCPWriteCover(Cookie conn, LStrHandle string, int32 timeout, TCPWaitRec* rec, int32 whole) {
  if (!rec) return kArgErr;
  int32* out = static_cast<int32*>(rec->output);
  if (!out) {
    rec->waiting = nullptr;
    return kArgErr;
  }
  // The bytes the string's block really holds, whatever its count says.
  int32 len = 0;
  if (string && *string) {
    const int32 room = DSGetHandleSize(reinterpret_cast<UHandle>(string)) - 4;
    len = LStrLen(*string);
    if (len > room) len = room > 0 ? room : 0;
  }
  UPtr buffer;
  int32 count;
  if (whole == 1) {
    // The count goes first, in this machine's order, as the reader's whole
    // flag expects it.
    buffer = string && *string ? reinterpret_cast<UPtr>(*string) : const_cast<UPtr>(
                                                                        reinterpret_cast<const uChar*>(&kZeroCount));
    count = len + 4;
  } else {
    buffer = string && *string ? (*string)->str : nullptr;
    count = len;
  }
  *out = count;
  rec->connection = conn;
  MgErr err = NCWriteConn(conn, buffer, out, timeout, &WriteDone, RecWord(rec));
  if (err != kPendingErr) rec->waiting = nullptr;
  return err;
}

MgErr TCPCloseConCover(Cookie conn) {
  RTSetCleanupProc(&CloseProc, CookieWord(conn), kCleanupRemove);
  return NCClose(conn);
}

MgErr TCPFinishWait(TCPWaitRec* rec) {
  if (!rec) return kArgErr;
  if (rec->result == kNoErr) RegisterClose(rec->connection);
  return rec->result;
}
