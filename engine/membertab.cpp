#include "engine/membertab.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Types of the entries: one letter each.  Lower case in, upper case out.
//   v void, s string, b Boolean, p path, u U32, i I32, t a type (I16 array),
//   l an array of strings; any other letter a type the standard table does
//   not hold (the table keeps the VI properties' own descriptors below).
int32 TypeOf(char c) {
  switch (c | 0x20) {
    case 'v': return kStdTDVoid;
    case 's': return kStdTDString;
    case 'b': return kStdTDBoolean;
    case 'p': return kStdTDPath;
    case 'u': return 7;  // U32
    case 'i': return 3;  // I32
    case 't': return 44;
    case 'l': return 25;  // array of strings
    default: return -1;
  }
}

struct PropRow {
  int32 id;
  const char* name;  // null: an empty slot
  char type;
  int32 flags;
  int32 access;
};
struct MethodRow {
  int32 id;
  const char* name;
  int32 flags;
  const char* params;  // the types, the result first
  int32 required;
};

// Application properties 0-45 (help ids 20001 + id).
constexpr PropRow kAppProps[] = {
    {0, "Application:Name", 's', 0x0, 0}, {1, "Application:User Name", 's', 0x0, 0},
    {2, "Application:Version Number", 's', 0x0, 0}, {3, "Application:Kind", 'e', 0x0, 0},
    {4, "Application:Target Operating System", 'e', 0x0, 0}, {5, "Application:Target CPU", 'e', 0x0, 0},
    {6, "Operating System:Name", 's', 0x0, 0}, {7, "Operating System:Version Number", 's', 0x0, 0},
    {8, "Application:Exported VIs In Memory", 'l', 0x0, 0}, {9, "Printing:File Wrap Text Length", 'u', 0x0, 1},
    {10, "Printing:PNG Compression Level", 'u', 0x0, 1}, {11, "Printing:JPEG Quality", 'u', 0x0, 1},
    {12, "Printing:Custom Connector?", 'b', 0x0, 1}, {13, "Printing:Custom Description?", 'b', 0x0, 1},
    {14, "Printing:Custom Panel?", 'b', 0x0, 1}, {15, "Printing:Custom Panel Border?", 'b', 0x0, 1},
    {16, "Printing:Custom Controls?", 'b', 0x0, 1}, {17, "Printing:Custom Control Descriptions?", 'b', 0x0, 1},
    {18, "Printing:Custom Control Types?", 'b', 0x0, 1}, {19, "Printing:Custom Diagram?", 'b', 0x0, 1},
    {20, "Printing:Custom Diagram Hidden?", 'b', 0x0, 1}, {21, "Printing:Custom Diagram Repeat?", 'b', 0x0, 1},
    {22, "Printing:Custom SubVIs?", 'b', 0x0, 1}, {23, "Printing:Custom Hierarchy?", 'b', 0x0, 1},
    {24, "Printing:Custom History?", 'b', 0x0, 1}, {25, "Application:Directory Path", 'p', 0x0, 0},
    {26, "Server:VI Access List", 'l', 0x8, 1}, {27, "Server:TCP/IP Access List", 'l', 0x8, 1},
    {28, "Application:All VIs In Memory", 'l', 0x8, 0}, {29, "Application:Menu Launch VI", 's', 0x10, 0},
    {30, "Application:All System VIs in Memory", 'l', 0x18, 0}, {31, "Application:Menu Set", 's', 0x18, 1},
    {32, "Server:TCP Listener Active", 'b', 0x8, 1}, {33, "Display:Primary Workspace", 'r', 0x0, 0},
    {34, "Display:All Monitors", 'a', 0x0, 0}, {35, nullptr, 'v', 0x0, 0},
    {36, "Server:VI Calls Allowed", 'b', 0x18, 1}, {37, "Server:VI Operations Allowed", 'b', 0x18, 1},
    {38, "Server:Application Operations Allowed", 'b', 0x18, 1}, {39, "Server:Logging Enabled", 'b', 0x8, 1},
    {40, "Server:Logging File Path", 'p', 0x8, 1}, {41, "Printing:Custom All Controls?", 'b', 0x0, 1},
    {42, "Application:Controls Palette Open", 'b', 0x18, 1}, {43, "Application:Functions Palette Open", 'b', 0x18, 1},
    {44, "Application:Tools Palette Open", 'b', 0x18, 1}, {45, "Application:Default File Dialog Path", 'p', 0x18, 1},
};

// VI properties 500-568 (help ids from 20300, rising with the id).
constexpr PropRow kVIProps[] = {
    {500, "VI Name", 's', 0xc0, 0}, {501, "VI Path", 'p', 0xc0, 0}, {502, "VI Description", 's', 0xc0, 0},
    {503, "History:Entire Text", 's', 0xc0, 0}, {504, nullptr, 'v', 0x21, 1},
    {505, "Front Panel Window:Title Bar Visible", 'b', 0x2, 0}, {506, "Front Panel Window:Closable", 'b', 0x2, 0},
    {507, "Front Panel Window:Resizeable", 'b', 0x2, 0}, {508, "Front Panel Window:Allow Runtime PopUp", 'b', 0x0, 0},
    {509, "Front Panel Window:Highlight Return Button", 'b', 0x0, 0},
    {510, "Front Panel Window:Size To Screen", 'b', 0x0, 0}, {511, "Front Panel Window:Auto Center", 'b', 0x0, 0},
    {512, "Front Panel Window:Show Scroll Bars", 'b', 0x0, 0}, {513, "Front Panel Window:Show Menu Bar", 'b', 0x0, 0},
    {514, "Tool Bar:Visible", 'b', 0x0, 0}, {515, "Tool Bar:Show Run Button", 'b', 0x0, 0},
    {516, "Tool Bar:Show Free Run Button", 'b', 0x0, 0}, {517, "Tool Bar:Show Abort Button", 'b', 0x0, 0},
    {518, "Execution:Allow Debugging", 'b', 0x0, 0}, {519, nullptr, 'v', 0x0, 0},
    {520, "Front Panel Window:Is Dialog", 'b', 0x2, 0}, {521, "Execution:Show Front Panel On Load", 'b', 0x0, 0},
    {522, "Execution:Show Front Panel On Call", 'b', 0x0, 0}, {523, "Execution:Close After Call", 'b', 0x0, 0},
    {524, "Execution:Run When Opened", 'b', 0x0, 0}, {525, "Execution:Is Reentrant", 'b', 0x0, 0},
    {526, "Execution:Priority", 'e', 0x0, 0}, {527, "History:Use Defaults", 'b', 0xc0, 0},
    {528, "History:Always Add Comments At Save", 'b', 0xc0, 0},
    {529, "History:Prompt for Comments At Close", 'b', 0xc0, 0},
    {530, "History:Prompt for Comments At Save", 'b', 0xc0, 0},
    {531, "History:Record Application Comments", 'b', 0xc0, 0}, {532, "Help:Document Tag", 's', 0xc0, 0},
    {533, "Help:Document Path", 'p', 0xc0, 0}, {534, "Front Panel Window:Open", 'b', 0xe1, 1},
    {535, "Front Panel Window:Is Frontmost", 'b', 0xe1, 1}, {536, "Front Panel Window:Window Bounds", 'r', 0xc3, 1},
    {537, "Modifications:VI Modifications Bitset", 'u', 0xc0, 0},
    {538, "Modifications:Front Panel Mods Bitset", 'u', 0xc0, 0},
    {539, "Modifications:Block Diagram Mods Bitset", 'u', 0x0, 0}, {540, "Metrics:Code Size", 'u', 0x0, 0},
    {541, "Metrics:Total Data Size", 'u', 0x0, 0}, {542, "Metrics:Size of Front Panel", 'u', 0xc2, 0},
    {543, "Metrics:Size of Block Diagram", 'u', 0x6, 0}, {544, "Callers' Names", 'l', 0xc0, 0},
    {545, "Callees' Names", 'l', 0xc0, 0}, {546, nullptr, 'v', 0x0, 0}, {547, nullptr, 'v', 0x0, 0},
    {548, nullptr, 'v', 0x0, 0}, {549, "Auto Logging:Log File Path", 'p', 0x0, 0},
    {550, "Auto Logging:Log at Finish", 'b', 0x0, 0}, {551, "Auto Logging:Print at Finish", 'b', 0x0, 0},
    {552, "Front Panel Window:Origin", 'o', 0xc3, 1}, {553, "Front Panel Window:Title", 's', 0x3, 1},
    {554, "Connector Pane", 'f', 0x20, 4}, {555, "Execution:Suspend On Call", 'b', 0x0, 0},
    {556, "Front Panel Window:Panel Bounds", 'r', 0xc3, 1}, {557, "Execution:State", 'e', 0xc0, 0},
    {558, "Edit Mode On Open", 'b', 0x0, 0}, {559, "Execution:Preferred Exec System", 'e', 0x0, 0},
    {560, "Modifications:User Changes", 'b', 0xd0, 0}, {561, "Front Panel Window:Custom Title", 'b', 0x1, 1},
    {562, "VI Type", 'e', 0xc0, 0}, {563, "Execution:Shrink Data After Call", 'b', 0x19, 0},
    {564, "History:Revision Number", 'i', 0xc0, 0}, {565, "Connector Pane Data", 'c', 0x10, 0},
    {566, "Metrics:Advanced", 'c', 0x10, 0}, {567, "Block Diagram Window:Open", 'b', 0x3f, 0},
    {568, "Block Diagram Window:Window Bounds", 'r', 0x3f, 0},
};

// Application methods 2000-2018 (help ids 22000 + id - 2000).
constexpr MethodRow kAppMethods[] = {
    {2000, "Print Function To Printer", 0x10, "vsebbbbb", 6},
    {2001, "Print Function To HTML", 0x10, "vspbeeip", 5},
    {2002, "Print Function To RTF", 0x10, "vspbeiipb", 6},
    {2003, "Print Function To Text", 0x10, "vspbe", 2},
    {2004, nullptr, 0x0, "", 0},
    {2005, "Mass Compile", 0x0, "vppbub", 4},
    {2006, "Compare VIs", 0x10, "vffbBSbbbbbb", 9},
    {2007, "Check In Out", 0x10, "vpbb", 0},
    {2008, "Check Out Status", 0x10, "Bp", 0},
    {2009, "Checkout Mod Dates", 0x10, "vpUUU", 3},
    {2010, "History Since", 0x10, "Spu", 1},
    {2011, "Read Linker Info from File", 0x10, "Aab", 0},
    {2012, "Convert Function Panel", 0x18, "Pppppuu", 4},
    {2013, "Quit", 0x18, "V", 0},
    {2014, "Bring To Front", 0x0, "V", 0},
    {2015, "Write Linker Info from File", 0x10, "vaaa", 1},
    {2016, "Build Application", 0x10, "vppsu", 0},
    {2017, "Build Distribution", 0x10, "vaa", 0},
    {2018, "Convert Type and Data", 0x18, "vbtsTS", 0},
};

// VI methods 1000-1022 (help ids 21000 + id - 1000).
constexpr MethodRow kVIMethods[] = {
    {1000, "Export VI Strings", 0xc2, "vpbpb", 3},
    {1001, "Import VI Strings", 0xc2, "vpbp", 2},
    {1002, "Save Instrument", 0xc2, "vpbb", 3},
    {1003, "Run VI", 0x2, "Vb", 1},
    {1004, "Abort VI", 0x2, "V", 0},
    {1005, "Print VI To Printer", 0xc2, "vebbbbb", 6},
    {1006, "Print VI To HTML", 0xc2, "vpbeeip", 5},
    {1007, "Print VI To RTF", 0xc2, "vpbeiipb", 6},
    {1008, "Print VI To Text", 0xc2, "vpbe", 2},
    {1009, "Set Control Value", 0xc2, "Vsts", 0},
    {1010, "Get Control Value", 0xc2, "SsT", 0},
    {1011, "Make Current Values Default", 0x82, "V", 0},
    {1012, "Reinitialize All To Default", 0x82, "V", 0},
    {1013, nullptr, 0xc2, "", 0},
    {1014, nullptr, 0xc2, "", 0},
    {1015, nullptr, 0x2, "", 0},
    {1016, "Get Panel Image", 0xc2, "vbiAAR", 5},
    {1017, nullptr, 0x2, "", 0},
    {1018, "Revert VI", 0xc2, "V", 0},
    {1019, "Print Panel To Printer", 0x2, "Vb", 1},
    {1020, "Get All Control Values", 0xc2, "Ab", 1},
    {1021, "Get Lock State", 0xc0, "EB", 1},
    {1022, "Set Lock State", 0xc0, "vebsb", 3},
};

// One class record of the table.
struct AutoMemberClass {
  int32 propCount, propBase;
  std::vector<AutoPropInfo> props;
  int32 methodCount, methodBase;
  std::vector<AutoMethodInfo> methods;
  std::vector<std::vector<AutoParamInfo>> params;
};
// The process-wide table: the application class, then the VI class.
struct AutoMemberTable {
  int32 count;
  std::array<AutoMemberClass, kAutoClassCount> classes;
};

// Help ids: helpBase + the id's offset, or with packed set helpBase + the
// count of named entries before it (the VI class's ids skip its empty
// slots: 20300 to 20363).
template <size_t N>
void FillProps(AutoMemberClass* t, const PropRow (&rows)[N], int32 helpBase, bool packed = false) {
  t->propCount = int32(N);
  t->propBase = rows[0].id;
  int32 named = 0;
  for (const PropRow& r : rows) {
    const int32 help = helpBase + (packed ? named : r.id - rows[0].id);
    t->props.push_back(r.name ? AutoPropInfo{help, TypeOf(r.type), r.flags, r.access, r.name}
                              : AutoPropInfo{-1, -1, r.flags, 0, ""});
    if (r.name) ++named;
  }
}

template <size_t N>
void FillMethods(AutoMemberClass* t, const MethodRow (&rows)[N], int32 helpBase) {
  t->methodCount = int32(N);
  t->methodBase = rows[0].id;
  t->params.resize(N);
  for (size_t i = 0; i < N; ++i)
    for (const char* p = rows[i].params; *p; ++p)
      t->params[i].push_back({TypeOf(*p), (*p >= 'A' && *p <= 'Z') || p == rows[i].params ? kAutoParamOut
                                                                                           : kAutoParamIn});
  for (size_t i = 0; i < N; ++i) {
    const MethodRow& r = rows[i];
    t->methods.push_back({r.name ? helpBase + r.id - rows[0].id : -1, r.flags, int32(t->params[i].size()),
                          r.required, t->params[i].empty() ? nullptr : t->params[i].data(), r.name ? r.name : ""});
  }
}

const AutoMemberTable& Tables() {
  static const auto* table = [] {
    auto* t = new AutoMemberTable{kAutoClassCount, {}};
    FillProps(&t->classes[kAutoClassApp], kAppProps, 20001);
    FillMethods(&t->classes[kAutoClassApp], kAppMethods, 22000);
    FillProps(&t->classes[kAutoClassVI], kVIProps, 20300, true);
    FillMethods(&t->classes[kAutoClassVI], kVIMethods, 21000);
    return t;
  }();
  return *table;
}

const TypeDescriptor* StdTD(int32 index) {
  return index >= 0 && index < kStdTDCount ? StdTDTable[index] : nullptr;
}

// ---- The descriptors of the VI properties the standard table does not hold ----
// Built once in memory order: a 16-bit size, the code, the flags byte, the
// type part and, for a named element, its Pascal name padded to even.
typedef std::vector<uChar> TDBytes;

void Put16(TDBytes* b, int32 v) {
  b->push_back(uChar(v & 0xFF));
  b->push_back(uChar((v >> 8) & 0xFF));
}
void Put32(TDBytes* b, int32 v) {
  Put16(b, v & 0xFFFF);
  Put16(b, int32(uInt32(v) >> 16));
}
void PutPStr(TDBytes* b, const char* text) {
  const size_t n = std::strlen(text);
  b->push_back(uChar(n));
  b->insert(b->end(), text, text + n);
}
TDBytes Make(TDTypeCode code, const TDBytes& part, const char* name = nullptr) {
  TDBytes b{0, 0, code, uChar(name ? kTDFlagName : 0)};
  b.insert(b.end(), part.begin(), part.end());
  if (name) {
    PutPStr(&b, name);
    if (b.size() & 1) b.push_back(0);
  }
  b[0] = uChar(b.size() & 0xFF);
  b[1] = uChar(b.size() >> 8);
  return b;
}
TDBytes Num(TDTypeCode code, const char* name = nullptr) { return Make(code, {}, name); }
TDBytes Str(const char* name = nullptr) {
  TDBytes part;
  Put32(&part, kTDVariable);
  return Make(kTDString, part, name);
}
TDBytes Array(const TDBytes& element, const char* name = nullptr) {
  TDBytes part;
  Put16(&part, 1);
  Put32(&part, kTDVariable);
  part.insert(part.end(), element.begin(), element.end());
  return Make(kTDArray, part, name);
}
TDBytes Cluster(const std::vector<TDBytes>& elements, const char* name = nullptr) {
  TDBytes part;
  Put16(&part, int32(elements.size()));
  for (const TDBytes& e : elements) part.insert(part.end(), e.begin(), e.end());
  return Make(kTDCluster, part, name);
}
TDBytes Enum32(const std::vector<const char*>& items, const char* name = nullptr) {
  TDBytes part;
  Put16(&part, int32(items.size()));
  for (const char* item : items) PutPStr(&part, item);
  if (part.size() & 1) part.push_back(0);
  return Make(kTDEnumU32, part, name);
}

TDBytes Rectangle(const char* name = "Rectangle") {
  return Cluster({Num(kTDI16, "left"), Num(kTDI16, "top"), Num(kTDI16, "right"), Num(kTDI16, "bottom")}, name);
}

TDBytes PathTD(const char* name = nullptr) {
  TDBytes part;
  Put32(&part, kTDVariable);
  return Make(kTDPath, part, name);
}
TDBytes Words(const char* name = nullptr) { return Array(Num(kTDI16), name); }
// The numbered items "<stem> 1" .. "<stem> n" after the first.
std::vector<std::string> Numbered(const char* first, const char* stem, int32 n) {
  std::vector<std::string> items{first};
  for (int32 i = 1; i <= n; ++i) items.push_back(std::string(stem) + " " + std::to_string(i));
  return items;
}
TDBytes NumberedEnum(const char* first, const char* stem, int32 n, const char* name = nullptr) {
  const std::vector<std::string> items = Numbered(first, stem, n);
  std::vector<const char*> texts;
  for (const std::string& item : items) texts.push_back(item.c_str());
  return Enum32(texts, name);
}
TDBytes PrintFormat() { return Enum32({"Custom", "Standard", "Using Panel", "Using SubVI", "Complete"}); }
TDBytes ImageFormat() { return Enum32({"PNG", "JPEG", "GIF"}); }
TDBytes LockState() {
  return Enum32({"invalid lock state", "Not Locked", "Locked (No Password)", "Password-protected"}, "VI Lock State");
}
TDBytes VIRefnum() {
  TDBytes refnum;
  Put16(&refnum, kRefnumObject);
  Put16(&refnum, 0);
  Put16(&refnum, 0);
  return Make(kTDRefnum, refnum);
}

// Keys of the own descriptors: the class, the member id and, for a method
// parameter, its index (-1 for a property).
struct OwnKey {
  int32 cls, id, param;
  bool operator==(const OwnKey&) const = default;
};

// The descriptors of the typed members whose types the standard table does
// not hold: VI and application properties and method parameters.
const std::vector<std::pair<OwnKey, TDBytes>>& OwnTDs() {
  static const auto* tds = [] {
    auto* m = new std::vector<std::pair<OwnKey, TDBytes>>;
    const auto add = [m](int32 cls, int32 id, int32 param, TDBytes td) {
      m->push_back({{cls, id, param}, std::move(td)});
    };
    const auto vi = [&](int32 id, TDBytes td) { add(kAutoClassVI, id, -1, std::move(td)); };
    const auto app = [&](int32 id, TDBytes td) { add(kAutoClassApp, id, -1, std::move(td)); };
    vi(526, Enum32({"invalid priority", "background priority", "normal priority", "above normal priority",
                    "high priority", "time critical priority", "subroutine"}));
    vi(536, Rectangle());
    vi(552, Cluster({Num(kTDI16, "Horizontal"), Num(kTDI16, "Vertical")}, "Point"));
    vi(554, VIRefnum());
    vi(556, Rectangle());
    vi(557, Enum32({"Bad", "Idle", "Run top level", "Running"}));
    vi(559, Enum32({"invalid execution system", "user interface", "standard", "instrument i/o", "data acquisition",
                    "other 1", "other 2", "same as caller"},
                   "Prefferred Execution System"));
    vi(562, Enum32({"invalid VI type", "Standard VI", "Control VI", "Global VI"}));
    vi(565, Cluster({Num(kTDI16, "resID"), Num(kTDI16, "permutation"),
                     Array(Cluster({Num(kTDU16, "flags"), Array(Num(kTDI16), "typedesc"), Str("name")}))}));
    std::vector<TDBytes> metrics;
    for (const char* n : {"# nodes", "# signals", "# structures", "# diagrams", "diag depth", "# controls",
                          "# indicators", "# inputs", "# outputs", "# global reads", "# global writes",
                          "# local reads", "# local writes", "# attr reads", "# attr writes", "# cins", "# dlls",
                          "diagram width", "diagram height"})
      metrics.push_back(Num(kTDU32, n));
    vi(566, Cluster(metrics));
    vi(568, Rectangle());
    app(3, Enum32({"invalid app kind", "Development System", "Run-Time System", "Evaluation System",
                   "Embedded System"}));
    app(4, NumberedEnum("invalid OS target", "OS target", 13, "ApplicationOSTarget"));
    app(5, NumberedEnum("invalid CPU target", "CPU target", 7));
    app(33, Rectangle());
    app(34, Array(Cluster({Rectangle("bounds"), Num(kTDI16, "depth")})));
    const TDBytes paths = Array(PathTD());
    for (int32 id : {2000, 2001, 2002, 2003}) add(kAutoClassApp, id, id == 2000 ? 2 : 4, PrintFormat());
    add(kAutoClassApp, 2001, 5, ImageFormat());
    add(kAutoClassApp, 2006, 1, VIRefnum());
    add(kAutoClassApp, 2006, 2, VIRefnum());
    // The linker list: per file its path, its kind and its U32 words.
    add(kAutoClassApp, 2011, 0,
        Array(Cluster({PathTD(), Enum32({"Instrument", "Control", "CIN", "External subroutine", "Shared library",
                                         "Run-time menu", "Help file", "Palette menu"}),
                       Array(Num(kTDU32))})));
    add(kAutoClassApp, 2011, 1, paths);
    add(kAutoClassApp, 2015, 1, paths);
    add(kAutoClassApp, 2015, 2, paths);
    add(kAutoClassApp, 2015, 3, Array(Str()));
    add(kAutoClassApp, 2017, 1, paths);
    add(kAutoClassApp, 2017, 2, Array(Num(kTDI32)));
    add(kAutoClassApp, 2018, 2, Words());
    add(kAutoClassApp, 2018, 4, Words());
    add(kAutoClassVI, 1005, 1, PrintFormat());
    for (int32 id : {1006, 1007, 1008}) add(kAutoClassVI, id, 3, PrintFormat());
    add(kAutoClassVI, 1006, 4, ImageFormat());
    add(kAutoClassVI, 1009, 2, Words());
    add(kAutoClassVI, 1010, 2, Words());
    add(kAutoClassVI, 1016, 3, Array(Num(kTDU8)));
    add(kAutoClassVI, 1016, 4, Array(Num(kTDU32)));
    add(kAutoClassVI, 1016, 5, Rectangle());
    // All control values: per control its name, its type and its flat data.
    add(kAutoClassVI, 1020, 0, Array(Cluster({Str("name"), Words("type desc"), Str("flat data")})));
    add(kAutoClassVI, 1021, 0, LockState());
    add(kAutoClassVI, 1022, 1, LockState());
    return m;
  }();
  return *tds;
}

const TypeDescriptor* OwnTD(OwnKey key) {
  for (const auto& [k, bytes] : OwnTDs())
    if (k == key) return reinterpret_cast<const TypeDescriptor*>(bytes.data());
  return nullptr;
}

}  // namespace

const AutoPropInfo* PropInfoLookup(int32 cls, int32 id) {
  if (cls < 0 || cls >= kAutoClassCount) return nullptr;
  const AutoMemberClass& t = Tables().classes[size_t(cls)];
  if (id < t.propBase || id - t.propBase >= t.propCount) return nullptr;
  return &t.props[size_t(id - t.propBase)];
}

const AutoMethodInfo* MethodInfoLookup(int32 cls, int32 id) {
  if (cls < 0 || cls >= kAutoClassCount) return nullptr;
  const AutoMemberClass& t = Tables().classes[size_t(cls)];
  if (id < t.methodBase || id - t.methodBase >= t.methodCount) return nullptr;
  return &t.methods[size_t(id - t.methodBase)];
}

const TypeDescriptor* PropInfoTypeDesc(int32 cls, int32 id) {
  const AutoPropInfo* p = PropInfoLookup(cls, id);
  if (!p || p->helpId < 0) return nullptr;
  if (const TypeDescriptor* td = StdTD(p->typeIndex)) return td;
  return OwnTD({cls, id, -1});
}

const TypeDescriptor* MethodParamTypeDesc(int32 cls, int32 id, int32 param) {
  const AutoMethodInfo* m = MethodInfoLookup(cls, id);
  if (!m || param < 0 || param >= m->paramCount) return nullptr;
  if (const TypeDescriptor* td = StdTD(m->params[param].typeIndex)) return td;
  return OwnTD({cls, id, param});
}
