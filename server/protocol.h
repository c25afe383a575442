// The VI server's messages, byte for byte: a 16-byte header and a data
// block of the length the header gives, every integer big-endian, type
// descriptors in their file byte order and values in the flat form.
//
// The writers build one data block per message (an application-zone handle
// of exactly the header's data length, or none); handing it to a connection
// is the connection's business (SrvSender).  The readers take a block as it
// came from a peer: every count and length is checked against the bytes
// left before it is used, nothing is read past the block, and a block that
// fails a check changes no output of the caller.  Bad input answers 1 in a
// request and 42 in a reply.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "server/appserve.h"

// ---- The header ------------------------------------------------------------------------
struct SrvMsgHeader {
  MgErr error;      // 0, or an error code (the data is then a counted-string error text)
  int32 type;       // kTS*
  uInt32 uniqueId;  // per type: the protocol level, an AsyncRef, a VIRef, or echoed
  int32 dataLength; // bytes of data that follow
};
constexpr int32 kSrvMsgHeaderSize = 16;
constexpr int32 kSrvProtocolLevel = 5;
// Writes and reads the four words big-endian at offsets 0, 4, 8 and 12.
void SrvMsgHeaderWrite(const SrvMsgHeader& header, uChar out[kSrvMsgHeaderSize]);
SrvMsgHeader SrvMsgHeaderRead(const uChar in[kSrvMsgHeaderSize]);

// The twenty message types.
enum : int32 {
  kTSClientHello = 0,
  kTSAppPropRequest = 1,
  kTSVIPropRequest = 2,
  kTSGetVIRefRequest = 3,
  kTSCallVIRequest = 4,
  kTSAppMethodRequest = 5,
  kTSVIMethodRequest = 6,
  kTSReleaseRef = 7,
  kTSClientBye = 8,
  kTSResetDownRequest = 9,
  kTSServerHello = 10,
  kTSAppPropReply = 11,
  kTSVIPropReply = 12,
  kTSGetVIRefReply = 13,
  kTSCallVIReply = 14,
  kTSAppMethodReply = 15,
  kTSVIMethodReply = 16,
  kTSServerBye = 17,
  kTSErrorStopSend = 18,
  kTSResetDownReply = 19,
  kTSMessageTypes = 20,
};
// The flags of a type: a reply to an asynchronous request (its unique id is
// the requester's AsyncRef), a property (attribute vector) operation, a
// VI-level operation (member class 1, else the application's class 0), sent
// by the client, carries data.
enum : int32 { kTSFlagAsyncReply = 0x01, kTSFlagProperty = 0x02, kTSFlagVILevel = 0x04, kTSFlagFromClient = 0x08,
               kTSFlagData = 0x10 };
// The type's flags (0 outside 0..19) and name ("unknown" outside).
int32 SrvMsgFlags(int32 type);
const char* SrvMsgName(int32 type);
// Whether the message carries data: with an error, a text when its length
// says so; without one, what the type's data flag says.
Bool32 SrvMsgHasData(const SrvMsgHeader& header);
// The type an error reply to the request type takes: request + 10 for
// types 1-6, 10 for a Hello; -1 for any other.
int32 SrvErrorReplyType(int32 requestType);

// ---- Messages ready for a connection ---------------------------------------------------------
// A header and its data block (an application-zone handle of exactly
// dataLength bytes, null when there is none).
struct SrvMessage {
  SrvMsgHeader header;
  UHandle data;
};
void SrvDisposeMessage(SrvMessage* message);
// Hands a message to a connection: 0, the data handle then belonging to the
// connection; or the connection's refusal (66 for a connection that is new
// or closing), the message staying the caller's.
typedef MgErr (*SrvSendProc)(void* connection, SrvMessage* message);
struct SrvSender {
  SrvSendProc send;
  void* connection;
};

// The server's texts of error replies.
extern const char kSrvErrorText[];          // "Error"
extern const char kSrvBadProtocolText[];    // "Bad protocol level"
extern const char kSrvOutputsErrorText[];   // "Error sending back outputs."
// An error reply: the error, the unique id and the type given; the data is
// the text as a counted string (a missing text is the single byte 0).  2
// when memory is short.
MgErr SrvMakeErrorReply(int32 type, uInt32 uniqueId, MgErr error, ConstPStr text, SrvMessage* out);
// The counted-string text of an error reply's data block: 0, or 1 (text
// empty) when the block is empty or the text runs past it.
MgErr SrvReadErrorText(const uChar* data, int32 length, Str255 text);
// A message with no data (Hello, Bye, Release VI Ref, Reset Down...).
SrvMessage SrvPlainMessage(int32 type, uInt32 uniqueId, MgErr error);

// ---- Parameter vectors (types 1, 2, 5, 6, 11, 12, 15, 16) ----------------------------------------
// One vector message as the writer takes it and the reader gives it.
struct ParamVectorMsg {
  int32 type;
  uInt32 uniqueId;
  VIRef ref;          // VI-level requests (2, 6): the server's reference
  int32 method;       // method messages (5, 6, 15, 16): the selector
  int32 count;        // entries of the vector
  AttrEntry* vector;  // {get flag, selector (properties), value}
  int32 failIndex;    // property replies: the failing entry's 1-based index
  MgErr failError;    // and its error
};
// The type descriptor an entry travels with: the property's, or the
// method's parameter's (entry i is parameter i); null when untyped.
const TypeDescriptor* ParamVectorEntryTD(int32 type, int32 method, int32 index, int32 selector);
// The data block of a vector message, filled in the order of the format;
// item lengths count the descriptor and the value (present for the set
// entries of a request and every entry of a reply), rounded up to even, 0
// for an entry without a value pointer or whose selector has no type.  1 for
// a type that carries no vector, a negative count or a value whose flat
// form does not fit; 2 when memory is short.
MgErr SrvWriteParamVector(const ParamVectorMsg& message, SrvMessage* out);
// Sends a vector.  For a request the operation's AsyncRef is made first
// (operation 3, 2, 6 or 5 for types 2, 1, 6, 5), keeping the entry count and
// the vector (methods: the selector, the count and the vector), the
// completion, the local reference and the connection; its address is the
// message's unique id, and it joins the application record's list before
// the message goes.  Any failure frees it again.  For a reply no AsyncRef is
// made.  0, or the error of building or of the connection.
MgErr SendParamVector(const SrvSender& to, AppRecord* app, ParamVectorMsg* message, VIRef localRef,
                      AsyncCompletion completion, AsyncRef* out);
// Reads a vector.  A request (request null) builds a new vector: one entry
// per item, a cleared value buffer of the type's size for every typed entry
// that has an item; set values are unflattened into theirs, get entries skip
// their bytes.  A reply is checked against the vector its request left in
// the AsyncRef (the entry count, get flags and selectors equal, else 42) and
// its values are unflattened into that vector's value buffers only once the
// whole block has passed.  A received descriptor must equal the expected
// one (42); an unknown method selector, or more entries than the method has
// parameters, is 1.  On an error a vector built here is freed and the count
// set to 0.
MgErr RcvParamVector(UHandle data, int32 length, int32 type, AsyncRef request, ParamVectorMsg* out);
// Frees a vector built by RcvParamVector: each value by its type, then the
// vector.
void DisposeParamVector(int32 type, int32 method, int32 count, AttrEntry* vector);

// ---- Opening a reference (types 3 and 13) ------------------------------------------------------
struct OpenRequest {
  int32 options;                 // the low two bits are the server's
  Path path;                     // open by path (null: by name)
  Str255 name;                   // open by name
  TypeDescriptor* connType;      // the connector pane, memory order (null: not strictly typed)
  Bool32 hasPassword;
  Str255 password;
};
// Options, then a counted name (path null) or the flat path, padded to even;
// the connector pane's descriptor in file order, or the 16-bit 0; then,
// when given and not empty, the password as a flat string padded to even.
MgErr SrvWriteOpenRequest(uInt32 uniqueId, int32 options, ConstPStr name, Path path, const TypeDescriptor* connType,
                          ConstPStr password, SrvMessage* out);
// 1 for a block shorter than its fields, a name or path past its end, a
// descriptor that is incomplete, too small or runs past the block, or a
// password longer than the bytes left or than 255 characters; 2 when memory
// is short.  The password is read only when more than 4 bytes follow the
// descriptor.  Free the result with SrvDisposeOpenRequest.
MgErr SrvReadOpenRequest(UHandle data, int32 length, OpenRequest* out);
void SrvDisposeOpenRequest(OpenRequest* request);
// The reply: the server's reference and the reentrant flag (1 or 0).
MgErr SrvWriteOpenReply(uInt32 uniqueId, VIRef ref, Bool32 reentrant, SrvMessage* out);
MgErr SrvReadOpenReply(const uChar* data, int32 length, VIRef* ref, Bool32* reentrant);

// ---- Calls (types 4 and 14) -------------------------------------------------------------------
// One slot of a call's parameter table per connector-pane terminal: where
// the terminal's value lies and whether it is present (an input given, an
// output asked for).
struct CallTermSlot {
  void* value;
  int32 present;
};
static_assert(sizeof(void*) != 4 || sizeof(CallTermSlot) == 8, "a terminal slot: two words");
constexpr uInt16 kConnTermOutput = 0x100;  // a connector-pane terminal's flag word: an output
// The parameter table of a call through a reference: a header, then one slot
// per connector-pane terminal.  The callee's table is the caller's copy.
struct ErrorIOCluster;
struct ParamTable {
  uInt32 tag;             // "PTAB"
  uInt32 flags;           // kParamTableCallInProgress
  ErrorIOCluster* error;  // the call's error cluster
  VIRef ref;              // the reference the call goes through
  CallTermSlot slots[1];  // one per terminal
};
constexpr uInt32 kParamTableTag = (uInt32('P') << 24) | (uInt32('T') << 16) | (uInt32('A') << 8) | uInt32('B');
constexpr uInt32 kParamTableCallInProgress = 0x800000;
static_assert(sizeof(void*) != 4 || (offsetof(ParamTable, error) == 8 && offsetof(ParamTable, slots) == 16),
              "parameter table: a four-word header, then the slots");
// The call inputs (type 4: the server's reference, then per terminal in
// pane order an input's descriptor and value, an asked-for output as length
// 1 and no bytes, an absent terminal as 0) or the call outputs (type 14:
// asked-for outputs carry descriptor and value, every other terminal 0).
// The slots are one per terminal of the pane.  1 for a pane that is no
// connector pane, slots that do not match it or a value whose flat form
// does not fit; 2 when memory is short.
MgErr SrvWriteCallParams(int32 type, uInt32 uniqueId, VIRef serverRef, const TypeDescriptor* connPane,
                         const CallTermSlot* slots, int32 slotCount, SrvMessage* out);
// Reads call inputs (type 4, into the server's parameter table; the
// server's reference into serverRef) or outputs (type 14, into the
// caller's).  A nonzero length marks the terminal present; the terminals
// whose bytes travel this way must carry the terminal's own descriptor
// (42) and a value that fits its item.  The whole block is checked before
// any slot or value is written.
MgErr RcvCallParams(UHandle data, int32 length, int32 type, const TypeDescriptor* connPane, CallTermSlot* slots,
                    int32 slotCount, VIRef* serverRef);
