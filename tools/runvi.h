// Test tooling: top-level VIs whose compiled code runs a few clump patterns
// that the execution tests need (yielding until reset, a second clump,
// waiting, ending at once, a TCP query), written as files the loader reads.
//
//   vif::VIFile v = runvi::File("spin", runvi::Clumps::kSpin);
//   rsrcw::WriteHostFile(path, vif::Write(v));
//
// The data after the 528-byte header holds two round counters, the
// completion address, the flag record, the run element and a second clump.
// While it runs, the top-level code holds the VI's entrance (owner and busy
// words), as the run commands expect of a running VI.  Counters and the
// words other threads read are written with locked instructions.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "engine/vi/dataspace.h"
#include "tools/i386emit.h"
#include "tools/vifile.h"

namespace runvi {

constexpr int32 kRounds = kDataSpaceHeaderSize;  // rounds of the top-level clump
constexpr int32 kRounds2 = kRounds + 4;          // rounds of the second clump
constexpr int32 kFinish = kRounds + 8;           // the completion address
constexpr int32 kFlag = kRounds + 12;            // the flag record
constexpr int32 kRun = kRounds + 16;             // the run element
constexpr int32 kClump = kRun + int32(sizeof(QueueElement));  // the second clump
constexpr int32 kEnd = kClump + int32(sizeof(QueueElement));

// The TCP query's data after kEnd.
constexpr int32 kTCPPort = kEnd;             // the peer's port, host order
constexpr int32 kTCPConn = kEnd + 4;         // the connection
constexpr int32 kTCPWritten = kEnd + 8;      // the bytes written
constexpr int32 kTCPResults = kEnd + 12;     // open, write, read and close results (-1 until made)
constexpr int32 kTCPText = kEnd + 28;        // string: what is written
constexpr int32 kTCPLine = kEnd + 32;        // string: the line read
constexpr int32 kTCPRecs = kEnd + 36;        // the open, write and read nodes' wait records
constexpr int32 kTCPRecSize = 36;
constexpr int32 kTCPEnd = kTCPRecs + 3 * kTCPRecSize;
// The server's listener and its wait's time-out (5000 ms unless set).
constexpr int32 kTCPListener = kTCPEnd, kTCPWaitMs = kTCPEnd + 4;
constexpr int32 kTCPServeEnd = kTCPEnd + 8;

// The sum's data after kEnd: two inputs and their sum, the data-space
// entries named "a", "b" and "sum" as the connector pane's terminals are.
constexpr int32 kAddA = kEnd, kAddB = kEnd + 4, kAddSum = kEnd + 8;

// The property node's data after kEnd: the offset of its panel object (a
// stored word), its call record (ten words) and its values, one cluster of
// two I32 (the value written, then the value read).
constexpr int32 kPropObject = kEnd, kPropRecord = kEnd + 4, kPropValues = kEnd + 44, kPropEnd = kEnd + 52;
// The node's position written, and the position it then reads back when the
// panel clamps it.
constexpr int32 kPropWritten = -20000, kPropClamped = -16000;
// The caller's data after kEnd: the strictly typed reference it calls Add.vi
// through, its two inputs and the sum, the prepare's result, the error
// cluster, its parameter table and the callee's (Add's three terminals
// each), and the callee's data space.
constexpr int32 kCallRef = kEnd, kCallA = kEnd + 4, kCallB = kEnd + 8, kCallSum = kEnd + 12;
constexpr int32 kCallResult = kEnd + 16, kCallCluster = kEnd + 20, kCallerTable = kEnd + 32;
constexpr int32 kCalleeTable = kEnd + 72, kCalleeDS = kEnd + 112, kCallEnd = kEnd + 116;

enum class Clumps {
  // The top-level clump yields until it is reset; called as a subVI it
  // counts rounds the same way, then leaves the VI for its caller.
  kSpin,
  kPair,  // it first schedules a second clump, chained to the run element, that does the same
  kWait,  // it waits (run state 2) for what never comes
  kOnce,  // it counts one round and ends
  // It counts one round, asks to load a 16-bit library (whose alert shows
  // that it ran), asks the application to quit and ends.
  kQuit,
  // It opens a connection to this machine at kTCPPort, writes "*IDN?\r\n",
  // reads a line (mode 2, at most 64 bytes), closes and ends.  Each node
  // that may wait does what compiled diagrams do: its wait record in the
  // data, the clump parked in run state 3 while the operation is pending,
  // resumed by the completion (at TCPFinishWait for the open).
  kTCPQuery,
  // The query, then the line read written back before the close; then it
  // asks the application to quit.
  kTCPEcho,
  // It listens on kTCPPort, waits kTCPWaitMs for a connection (run state 3
  // while pending), writes "*IDN?\r\n" to it, closes both and asks the
  // application to quit.
  kTCPServe,
  // It stores the sum of "a" and "b" in "sum" and ends; the VI's connector
  // pane has inputs "a" and "b" and the indicator "sum" (I32 each).  Called
  // as a subVI, it takes the parameter table from its data space's call
  // word when one is there: each input present is read through its slot
  // first, and the sum written through its slot when asked for.
  kAdd,
  // A property node of two entries on the panel object at kPropObject:
  // "Left" written kPropWritten, then "Left" read; when it reads
  // kPropClamped it asks to load a 16-bit library (whose alert shows it).
  // Then it asks the application to quit and ends.  The VI runs in the
  // user-interface execution system, where property nodes run.
  kProperty,
  // It calls Add through the reference at kCallRef: its table made, the
  // call prepared (the result kept at kCallResult), Add entered on the
  // data space the prepare gives, the native call ended once Add is back.
  kCaller,
};

// The start of a compiled initialisation (cdecl, data space and mode): the
// normal procedures filled, the header pointed at the flag record and the run
// element at those data offsets, and the run element made one of the data
// space; EBP holds the entry's argument and EDX the data space after it.
void EmitInitHead(emit::Code* code, int32 flagAt, int32 runAt);
// A property node, the clump's element in ESI: fills the call record at
// `record` in the data space (two words not read, the panel heap and the
// data space's type descriptor handle from the data space's header, the
// object from the data word at objectAt, the offset of the node's cluster
// descriptor in that handle, the address of its values, the entry count and
// one word per entry: the property number, top bit set for a write), then
// calls the transfer with the record and the element.  EAX, ECX and EDX
// are not kept.
void EmitPropertyNode(emit::Code* code, int32 record, int32 objectAt, int32 typesAt, int32 valuesAt,
                      const std::vector<uInt32>& entries);
// The offset in the data space's descriptor (DataSpaceType) of the
// descriptor of entries[index].
int32 EntryTypeOffset(const std::vector<tdb::TD>& entries, size_t index);
// Add's entry for a caller (the element in EAX, the data space in EBP): the
// table taken from the call word when there is one, the present inputs read
// through their slots, the sum made (and written through its slot when
// asked for), then out through VIExit.
void EmitAddForCaller(emit::Code& c);
// The code block: the compiled initialisation, then the clumps.
std::vector<uint8_t> Code(Clumps kind);
// A top-level VI (kind 2) of the standard execution system with that code.
vif::VIFile File(const std::string& name, Clumps kind, int16 priority = 1, uInt32 flags = 0);

}  // namespace runvi
