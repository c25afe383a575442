// Test tooling: a VI's resources written as the loader reads them, from the
// same constants: the header 'QXIN' (in file order), 'RSID', the version
// resources, the compiled code 'VICD', the connector pane and type map, the
// data-space type map and its deflated default data, the saved types
// 'DTHP', the link information of the VI and of its data space, strings,
// title, icon, run-time menu path and, for kind 2, the datalog binding.
//
//   vif::VIFile v;
//   v.name = "Main.vi";
//   v.entries = {tdb::I32().WithFlags(kDSEntryStored)};
//   v.code = SomeEmittedBlock();
//   rsrcw::Writer w(FourCC("QXIN"), FourCC("QNLX"));
//   vif::Add(w, v);
//
// A field left empty writes no resource, so tests can leave out any one.
// The subroutine-file builder writes 'PLAT', 'QXSB' and 'LIsb' named by the
// subroutine.
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/link/linkinfo.h"
#include "engine/vi/virecord.h"
#include "mgsource/objheap.h"
#include "tools/panelwriter.h"
#include "tools/rsrcwriter.h"
#include "tools/tdbuilder.h"

namespace vif {

typedef std::vector<uChar> Bytes;

struct VIFile {
  std::string name = "Main.vi";
  std::string rsidName;         // the RSID's name; empty: the VI's name
  bool writeRsid = true;
  int32 rsrcId = 128;
  uInt32 flags = 0, flags2 = 0, marks = 0, eState = kVIStateIdle;
  int16 priority = 1, viKind = 7;
  int32 execSystem = 0;                    // 1: the standard system (execution threads)
  uInt16 windowOptions = 0;                // the panel window's parts while the VI runs
  uInt32 rtMenuWord = 0;                   // the run-time menu word (bits 0-1 the menu's source)
  uInt32 version = kRunTimeVersion;
  std::optional<uInt32> readerVersion;     // 'vers' 4 of the VI's file
  std::optional<Bytes> code;               // VICD; the header's code word says so
  bool codeWord = true;                    // the header's has-code word (when code is given)
  bool typesWord = true;                   // the header's has-types word
  std::optional<tdb::TD> connPane;         // CPCT
  std::optional<tdb::TD> connTypeMap = tdb::Cluster({});  // CPTM
  std::vector<tdb::TD> entries;            // data-space entries after the 528-byte header
  std::vector<std::pair<int32, int32>> defaultWords;  // (data-space offset, value) set in DFDS
  bool writeDSTM = true, writeDFDS = true, writeLIds = true, writeLIvi = true;
  std::vector<std::optional<tdb::TD>> types;  // DTHP; none when empty
  std::vector<LinkInfoRef> viRefs, dsRefs;    // references of LIvi and LIds
  std::string liviName;                       // the name inside LIvi; empty: the VI's name
  std::optional<std::vector<std::string>> strings;  // STRG: a count and Pascal strings
  std::optional<std::string> title;                  // TITL 0
  std::optional<Bytes> rtMenuPath;                   // RTMP: a flattened path
  bool icon = false;                                 // an icon family of the VI's id
  // Kind 2: DLDR (words in memory order; written big-endian), DLLP, FPTD and CPMp.
  std::optional<std::vector<uInt32>> datalog;
  std::optional<Bytes> logPath;
  std::optional<tdb::TD> logRecordType;             // FPTD: stored inside a one-element cluster
  std::optional<std::vector<uInt16>> controlMap;    // CPMp
  // Raw resources that replace or add to the above: type -> bytes.
  std::map<uInt32, Bytes> raw;
};

// The 452-byte header in file order.
Bytes Header(const VIFile& v);
// The stored (file-order) bytes of a descriptor.
Bytes StoredTD(const tdb::TD& td);
// The stored 'FPTD' of a log record type: the record type as the only
// element of a cluster, in file order.
Bytes StoredLogType(const tdb::TD& recordType);
// The deflated default data of the entries (their empty values, then the
// 32-bit words given at their data-space offsets).
Bytes DefaultData(const std::vector<tdb::TD>& entries, const std::vector<std::pair<int32, int32>>& words = {});
// Every resource of the VI, in the order they are added.
struct Resource {
  uInt32 type;
  int32 id;
  Bytes bytes;
  std::optional<std::string> name;
};
std::vector<Resource> Resources(const VIFile& v);
// Adds every resource of the VI to the file.
void Add(rsrcw::Writer& file, const VIFile& v);
// The whole file.
Bytes Write(const VIFile& v);

// The whole file with a panel heap that the panel writer stores: a root
// "Front Panel" object (objects, when given, adds more to the heap, the
// root's offset given), the heap flags given, and the panel's resources
// ('FPHP', 'LIfp', ...) passed through edit before they join the VI's.
// Empty when the panel cannot be written.
// The resources the added objects load are those objectRsrcs holds once
// objects has run.
Bytes WriteWithPanel(const VIFile& v, uInt32 heapFlags = 0,
                     const std::function<void(std::vector<Resource>&)>& edit = nullptr,
                     const std::function<void(ObjHeap, int32)>& objects = nullptr,
                     const std::vector<panelwriter::PanelObject>* objectRsrcs = nullptr);

// A VI's code whose initialisation installs a controller procedure that
// answers 0; with marks, it first stores 0x1234 and the run-time table's
// address (a patched word) in the data space's first two entries.
Bytes ControllerCode(bool marks);

// A subroutine file: "PLAT" (the processor word), "QXSB" (the code) and,
// when given, "LIsb", each named by the subroutine.
struct SubrFile {
  std::string name = "Sub";
  int32 rsrcId = 300;
  std::optional<uInt32> platform = FourCC("i386");
  std::optional<Bytes> code;
  std::optional<LinkInfoRecords> linkInfo;
};
Bytes WriteSubrFile(const SubrFile& s);

}  // namespace vif
