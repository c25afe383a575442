#include "tools/dlgwriter.h"

#include <cstring>

#include "engine/objswap.h"
#include "mgsource/byteorder.h"
#include "tools/panelwriter.h"

namespace dlgwriter {

namespace {

void Put32(rsrcw::Bytes* b, uInt32 v) {
  uChar w[4];
  PutNative32(w, v);
  b->insert(b->end(), w, w + 4);
}
void Put16(rsrcw::Bytes* b, uInt16 v) {
  uChar w[2];
  PutNative16(w, v);
  b->insert(b->end(), w, w + 2);
}
void PutCode(rsrcw::Bytes* b, uInt32 code) {  // its bytes, as it reads
  uChar w[4];
  std::memcpy(w, &code, 4);
  b->insert(b->end(), w, w + 4);
}
void PutPaddedPStr(rsrcw::Bytes* b, const std::string& s) {
  const size_t n = s.size() > 255 ? 255 : s.size();
  rsrcw::Bytes room(size_t(PaddedPStrRoom(uChar(n))), 0);
  room[0] = uChar(n);
  std::memcpy(room.data() + 1, s.data(), n);
  b->insert(b->end(), room.begin(), room.end());
}
void PutRect(rsrcw::Bytes* b, const Rect& r) {
  for (int16 v : {r.top, r.left, r.bottom, r.right}) Put16(b, uInt16(v));
}
// Flags, the three half-words (part id first), two spare bytes.
void PutHead(rsrcw::Bytes* b, uInt32 flags, uInt16 partId) {
  Put32(b, flags);
  Put16(b, partId);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, 0);
}

}  // namespace

rsrcw::Bytes BlockInMemoryOrder(const Dialog& d) {
  rsrcw::Bytes b(32, 0);
  PutNative16(b.data() + 8, uInt16(d.v));
  PutNative16(b.data() + 10, uInt16(d.h));
  PutPaddedPStr(&b, d.title);
  Put32(&b, uInt32(d.objects.size()));
  for (const ObjectRecord& o : d.objects) {
    rsrcw::Bytes r;
    PutPaddedPStr(&r, o.className);
    Put32(&r, uInt32(o.subCount >= 0 ? o.subCount : int32(o.subs.size())));
    for (const SubRsrc& s : o.subs) {
      Put32(&r, uInt32(8 + s.data.size()));
      PutCode(&r, s.type);
      r.insert(r.end(), s.data.begin(), s.data.end());
    }
    Put32(&b, uInt32(4 + r.size()));
    b.insert(b.end(), r.begin(), r.end());
  }
  Put32(&b, uInt32(d.items.size()));
  for (int32 n : d.items) Put32(&b, uInt32(n));
  if (d.keyNav) {
    Put32(&b, uInt32(d.nav.size()));
    for (int32 n : d.nav) Put32(&b, uInt32(n));
  }
  return b;
}

rsrcw::Bytes DialogBlock(const Dialog& d) { return panelwriter::ScrapInFileOrder(BlockInMemoryOrder(d)); }

rsrcw::Bytes DisplayTemplate(uInt32 flags, uInt16 partId, const std::vector<PartRef>& parts) {
  rsrcw::Bytes b;
  Put32(&b, flags);
  Put16(&b, partId);
  Put16(&b, 0);
  Put16(&b, 0);
  Put16(&b, uInt16(parts.size()));
  for (const PartRef& p : parts) {
    Put32(&b, uInt32(p.cls));
    Put16(&b, uInt16(p.rsrcId));
    Put16(&b, 0);
  }
  return panelwriter::RsrcInFileOrder(kRsrcDDOD, b);
}

rsrcw::Bytes LabelTemplate(uInt16 partId, const Rect& bounds, const std::string& text, uInt32 fontWord,
                           uInt32 flags, uInt32 fore, uInt32 back) {
  rsrcw::Bytes b;
  PutHead(&b, flags, partId);
  PutRect(&b, bounds);
  Put32(&b, fore);
  Put32(&b, back);
  b.resize(36, 0);
  Put32(&b, fontWord);
  b.resize(52, 0);
  PutPaddedPStr(&b, text);
  Put32(&b, 0);
  return panelwriter::RsrcInFileOrder(kRsrcLabl, b);
}

rsrcw::Bytes CosmeticTemplate(uInt16 partId, const Rect& bounds, ImagePair image, uInt32 fore, uInt32 back) {
  rsrcw::Bytes b;
  PutHead(&b, 0, partId);
  PutRect(&b, bounds);
  Put32(&b, fore);
  Put32(&b, back);
  Put32(&b, image.kind);
  Put32(&b, image.number);
  return panelwriter::RsrcInFileOrder(kRsrcCosm, b);
}

rsrcw::Bytes NumericTemplate(int16 representation, int16 format) {
  rsrcw::Bytes b;
  Put16(&b, uInt16(representation));
  Put16(&b, uInt16(format));
  for (int i = 0; i < 4; ++i) Put32(&b, 0);  // four empty counted texts
  return panelwriter::RsrcInFileOrder(kRsrcSNUM, b);
}

rsrcw::Bytes ListboxTemplate(uInt32 labelRsrcId, uInt32 mode) {
  rsrcw::Bytes b;
  Put32(&b, labelRsrcId);
  Put32(&b, mode);
  return panelwriter::RsrcInFileOrder(kRsrcSLBX, b);
}

namespace {
void PutPairs(rsrcw::Bytes* b, const std::vector<ImagePair>& images) {
  Put32(b, uInt32(images.size()));
  for (const ImagePair& p : images) {
    Put32(b, p.kind);
    Put32(b, p.number);
  }
}
}  // namespace

rsrcw::Bytes MultiCosmeticTemplate(uInt16 partId, const Rect& bounds, const std::vector<ImagePair>& images) {
  rsrcw::Bytes b;
  PutHead(&b, 0, partId);
  PutRect(&b, bounds);
  b.resize(28, 0);
  PutPairs(&b, images);
  return panelwriter::RsrcInFileOrder(kRsrcMCos, b);
}

rsrcw::Bytes BigMultiCosmeticTemplate(uInt16 partId, const std::vector<BigImage>& images) {
  rsrcw::Bytes b;
  PutHead(&b, 0, partId);
  Put32(&b, uInt32(images.size()));
  for (const BigImage& i : images) {
    PutRect(&b, i.bounds);
    Put32(&b, i.fore);
    Put32(&b, i.back);
    Put32(&b, i.image.kind);
    Put32(&b, i.image.number);
  }
  return panelwriter::RsrcInFileOrder(kRsrcBCos, b);
}

rsrcw::Bytes MultiLabelTemplate(uInt16 partId, const Rect& bounds, const std::vector<ImagePair>& images,
                                uInt32 fontWord, const std::vector<std::string>& texts) {
  rsrcw::Bytes b;
  PutHead(&b, 0, partId);
  PutRect(&b, bounds);
  b.resize(28, 0);
  PutPairs(&b, images);
  Put32(&b, fontWord);
  Put32(&b, uInt32(texts.size()));
  for (const std::string& t : texts) PutPaddedPStr(&b, t);
  return panelwriter::RsrcInFileOrder(kRsrcMLbl, b);
}

void AddLabelTemplates(rsrcw::Writer* writer) {
  const Rect r{0, 0, 16, 40};
  // A free label takes typed text: placed, it gets the key focus.
  writer->Add(kRsrcLabl, kFreeLabelTemplateId, LabelTemplate(0, r, "", 0, kTypedTextFlag));
  writer->Add(kRsrcLabl, kRootLabelTemplateId, LabelTemplate(0, r, "", 0, kTypedTextFlag));
}

ObjectRecord DisplayItem(const std::string& className, const std::string& label, const Rect& bounds, uInt32 flags) {
  ObjectRecord o;
  o.className = className;
  o.subs.push_back({kRsrcDDOD, DisplayTemplate(flags, 0, {{kClsLabel, -1}})});
  o.subs.push_back({kRsrcLabl, LabelTemplate(kLabelPartId, bounds, label)});
  return o;
}
ObjectRecord StringItem(const std::string& label, const Rect& bounds) {
  return DisplayItem("String", label, bounds, 1);
}
ObjectRecord ButtonItem(const std::string& text, const Rect& bounds) {
  return DisplayItem("Boolean", text, bounds, 0x8000);
}
// An alert's message: a string whose one part is its text part (11), which
// the alert layout sizes to the message.
ObjectRecord MessageItem(const Rect& bounds) {
  ObjectRecord o;
  o.className = "String";
  o.subs.push_back({kRsrcDDOD, DisplayTemplate(1, 0, {{kClsLabel, -1}})});
  o.subs.push_back({kRsrcLabl, LabelTemplate(kTextPartId, bounds, "")});
  return o;
}
ObjectRecord FreeLabel(const std::string& text, const Rect& bounds) {
  ObjectRecord o;
  o.className = "Label";
  o.subs.push_back({kRsrcLabl, LabelTemplate(0, bounds, text)});
  return o;
}

ObjectRecord RingItem(const Rect& bounds) {
  ObjectRecord o;
  o.className = "Ring";
  o.subs.push_back({kRsrcDDOD, DisplayTemplate(0, 0, {{kClsMultiLabel, -1}})});
  o.subs.push_back({kRsrcMLbl, MultiLabelTemplate(12, bounds, {}, 0, {""})});
  o.subs.push_back({kRsrcSNUM, NumericTemplate(3, 0)});
  return o;
}

ObjectRecord ListItem(const Rect& bounds) {
  return ObjectRecord{"Listbox",
                      {{kRsrcDDOD, DisplayTemplate(0, 0, {})},
                       {kRsrcSLBX, ListboxTemplate(0xFFFFFFFF, 0)},
                       {kRsrcLabl, LabelTemplate(0, bounds, "")}}};
}

Dialog FileDialogBox() {
  Dialog d;
  d.title = "_File Dialog";
  d.objects = {
      ListItem({60, 10, 260, 250}),          StringItem("Name", {270, 10, 286, 250}),
      RingItem({36, 10, 54, 250}),           RingItem({36, 260, 54, 370}),
      ButtonItem("Eject", {64, 270, 86, 370}), ButtonItem("New...", {94, 270, 116, 370}),
      ButtonItem("Select", {124, 270, 146, 370}), ButtonItem("OK", {234, 270, 256, 370}),
      ButtonItem("Cancel", {264, 270, 286, 370}), MessageItem({8, 10, 28, 370}),
      RingItem({296, 10, 314, 180}),         StringItem("Pattern", {296, 190, 312, 370}),
  };
  for (int32 i = 0; i < 12; ++i) d.items.push_back(i);
  d.nav[0] = 7;
  return d;
}

Dialog NewFolderBox() {
  Dialog d;
  d.title = "_Directory or VI Lib";
  d.objects = {StringItem("Name", {36, 10, 52, 290}),   ButtonItem("Directory", {64, 10, 86, 100}),
               ButtonItem("VI Library", {64, 110, 86, 200}), ButtonItem("Cancel", {64, 210, 86, 290}),
               MessageItem({8, 10, 28, 290})};
  for (int32 i = 0; i < 5; ++i) d.items.push_back(i);
  return d;
}

Dialog LoadProgressDialog() {
  Dialog d;
  d.title = "Loading";
  d.v = 150;
  d.h = 150;
  d.objects = {
      StringItem("VI", {10, 10, 26, 330}),       StringItem("Path", {30, 10, 46, 330}),
      StringItem("Progress", {50, 10, 66, 330}), ButtonItem("Stop", {100, 120, 122, 190}),
      ButtonItem("Skip", {100, 200, 122, 270}), StringItem("Phase", {70, 10, 86, 100}),
      StringItem("Item", {70, 110, 86, 330}),    FreeLabel("Opening VIs", {2, 10, 8, 330}),
  };
  d.items = {0, 1, 2, 3, 4, 5, 6};
  d.nav[0] = 3;
  d.nav[1] = 4;
  return d;
}

Dialog StatusDialog() {
  Dialog d;
  d.title = "_NoButton";
  d.objects = {MessageItem({10, 10, 40, 300})};
  d.items = {0};
  d.keyNav = false;
  return d;
}

Dialog AlertDialog(const std::vector<std::string>& buttons) {
  static const char* const kNames[] = {"_NoButton", "_OneButton", "_TwoButton", "_Three Button Dialog"};
  Dialog d;
  d.title = kNames[buttons.size() < 4 ? buttons.size() : 0];
  int16 left = 10;
  for (const std::string& text : buttons) {
    d.objects.push_back(ButtonItem(text, {60, left, 82, int16(left + 70)}));
    left = int16(left + 90);
  }
  d.objects.push_back(MessageItem({10, 10, 40, 300}));
  for (int32 i = 0; i < int32(d.objects.size()); ++i) d.items.push_back(i);
  return d;
}

Dialog VIInfoDialog() {
  Dialog d;
  d.title = "_VI Get Info";
  d.v = 120;
  d.h = 120;
  // Items 1 to 20: OK and Cancel, then the locking, password and revision
  // items (hidden at run time) among the texts the dialog fills.
  const Rect b{260, 330, 282, 400}, c{260, 250, 282, 320};
  auto row = [](int16 top, int16 left, int16 right) { return Rect{top, left, int16(top + 16), right}; };
  d.objects = {
      ButtonItem("OK", b),
      ButtonItem("Cancel", c),
      StringItem("Locked", row(230, 10, 120)),
      StringItem("Description:", {60, 10, 130, 400}),
      StringItem("Password", row(230, 130, 240)),
      StringItem("Revision", row(230, 250, 320)),
      StringItem("Revision History", row(250, 10, 120)),
      StringItem("Change Password", row(250, 130, 240)),
      StringItem("Path:", row(140, 10, 400)),
      StringItem("Size on disk:", row(160, 10, 200)),
      StringItem("Lock", row(270, 10, 120)),
      StringItem("Unlock", row(270, 130, 240)),
      StringItem("Front Panel:", row(180, 10, 200)),
      StringItem("Block Diagram:", row(180, 210, 400)),
      StringItem("Code:", row(200, 10, 200)),
      StringItem("Data:", row(200, 210, 400)),
      StringItem("Total:", row(220, 10, 200)),
      StringItem("Name:", row(30, 10, 400)),
      StringItem("Revision Number", row(290, 10, 120)),
      StringItem("Password Set", row(290, 130, 240)),
  };
  for (int32 i = 0; i < 20; ++i) d.items.push_back(i);
  d.nav[0] = 0;
  d.nav[1] = 1;
  return d;
}

ObjectRecord RingItem(const std::string& label, const Rect& bounds, const std::vector<std::string>& texts) {
  constexpr uInt16 kRingTextPartId = 12;
  ObjectRecord o;
  o.className = "Ring";
  o.subs.push_back({kRsrcDDOD, DisplayTemplate(0, 0, {{kClsLabel, -1}, {kClsMultiLabel, -1}})});
  o.subs.push_back({kRsrcLabl, LabelTemplate(kLabelPartId, bounds, label)});
  const Rect box{bounds.top, int16(bounds.right + 4), bounds.bottom, int16(bounds.right + 164)};
  o.subs.push_back({kRsrcMLbl, MultiLabelTemplate(kRingTextPartId, box, {}, 0, texts)});
  o.subs.push_back({kRsrcSNUM, NumericTemplate(3, 0)});
  return o;
}
ObjectRecord NumericItem(const std::string& label, const Rect& bounds, int16 representation) {
  ObjectRecord o;
  o.className = "Numeric";
  o.subs.push_back({kRsrcDDOD, DisplayTemplate(0, 0, {{kClsLabel, -1}})});
  o.subs.push_back({kRsrcLabl, LabelTemplate(kLabelPartId, bounds, label)});
  o.subs.push_back({kRsrcSNUM, NumericTemplate(representation, 0)});
  return o;
}
ObjectRecord ColorBoxItem(const std::string& label, const Rect& bounds) {
  ObjectRecord o = NumericItem(label, bounds, 7);  // U32
  o.className = "Color Box";
  return o;
}
ObjectRecord ListboxItem(const std::string& label, const Rect& bounds) {
  ObjectRecord o;
  o.className = "Listbox";
  o.subs.push_back({kRsrcDDOD, DisplayTemplate(0, 0, {})});
  o.subs.push_back({kRsrcSLBX, ListboxTemplate(0xFFFFFFFF, 0)});
  o.subs.push_back({kRsrcLabl, LabelTemplate(0, bounds, label)});
  return o;
}

Dialog PreferencesDialog() {
  Dialog d;
  d.title = "Preferences";
  d.v = 80;
  d.h = 80;
  // Every control starts at the same place: the dialog moves each page's
  // controls into place when it shows the page.
  const Rect at{25, 5, 41, 205};
  enum Kind { kButton, kCheck, kString, kI32, kSGL, kColor, kList, kRing };
  struct Item {
    int32 number;
    Kind kind;
    const char* label;
    std::vector<std::string> texts;
  };
  const std::vector<Item> items = {
      {1, kButton, "OK", {}}, {2, kButton, "Cancel", {}},
      {3, kRing, "", {"Paths", "Performance and Disk", "Front Panel", "Block Diagram", "Debugging", "Colors", "Fonts",
                      "Printing", "History", "Time and Date", "Miscellaneous", "Server: Configuration",
                      "Server: TCP/IP Access", "Server: Exported VIs"}},
      {5, kRing, "", {"Library Directory*", "Temporary Directory*", "Default Directory*", "Menus Directory*",
                      "VI Search Path"}},
      {6, kCheck, "Use default", {}}, {7, kList, "", {}}, {8, kButton, "Browse...", {}},
      {9, kRing, "Special paths", {"<vilib>", "<vilib>\\*", "<topvi>", "<topvi>\\*", "<foundvi>", "<foundvi>\\*"}},
      {10, kString, "", {}}, {11, kButton, "Insert Before", {}}, {12, kButton, "Insert After", {}},
      {13, kButton, "Replace", {}}, {14, kButton, "Remove", {}},
      {24, kCheck, "Deallocate memory as soon as possible", {}}, {25, kCheck, "Use default timer", {}},
      {26, kCheck, "Check available disk space during launch", {}}, {27, kI32, "Abort if less than (KBytes)", {}},
      {28, kCheck, "Use default", {}}, {29, kI32, "Warn if less than (KBytes)", {}}, {30, kCheck, "Use default", {}},
      {31, kCheck, "Multithreading", {}}, {32, kString, "", {}},
      {40, kCheck, "Use smooth updates during drawing", {}},
      {41, kCheck, "End text entry with Return key (same as Enter key)", {}},
      {42, kCheck, "Override system default function key settings", {}},
      {43, kCheck, "Use localized decimal point", {}}, {44, kI32, "Blink speed (milliseconds)", {}},
      {45, kCheck, "Use default", {}},
      {59, kCheck, "Use default colors", {}}, {60, kColor, "Scrollbar", {}}, {61, kColor, "Menu Text", {}},
      {62, kColor, "Menu Background", {}}, {63, kColor, "Blink Foreground", {}},
      {64, kColor, "Blink Background", {}},
      {76, kCheck, "Standard printing", {}}, {77, kCheck, "Allow printer dithering", {}},
      {78, kCheck, "PostScript printing", {}}, {79, kCheck, "PostScript level 2", {}},
      {80, kCheck, "Bitmap printing", {}}, {81, kCheck, "Color/Grayscale printing", {}},
      {82, kCheck, "User defined margins", {}}, {83, kCheck, "Margins in inches", {}},
      {84, kCheck, "Margins in mm", {}}, {85, kSGL, "Top", {}}, {86, kSGL, "Left", {}}, {87, kSGL, "Right", {}},
      {88, kSGL, "Bottom", {}},
      {99, kCheck, "Month first (M/D/Y)", {}}, {100, kCheck, "Day first (D/M/Y)", {}},
      {101, kCheck, "Year first (Y/M/D)", {}}, {102, kString, "Date Separator", {}},
      {103, kCheck, "12-hour (AM/PM)", {}}, {104, kCheck, "24-hour (Military Time)", {}},
      {105, kString, "Time Separator", {}},
      {110, kCheck, "Show tip-strips", {}}, {111, kCheck, "Use native file dialogs", {}},
      {112, kCheck, "Allow drop-through clicks", {}}, {113, kCheck, "Use hot menus", {}},
      {114, kCheck, "Skip navigation dialog on launch", {}}, {115, kCheck, "Automatically close VISA sessions", {}},
      {116, kCheck, "Treat read-only VIs as locked", {}},
      {118, kCheck, "Enable TCP/IP protocol", {}}, {119, kI32, "Port", {}},
      {120, kCheck, "Enable ActiveX protocol", {}}, {121, kCheck, "Allow VI Calls", {}},
      {122, kCheck, "Allow VI Methods and Properties", {}},
      {123, kCheck, "Allow Application Methods and Properties", {}},
      {127, kList, "TCP/IP Access List", {}}, {128, kString, "Host", {}}, {129, kCheck, "Allow Access", {}},
      {130, kCheck, "Deny Access", {}}, {131, kButton, "Add", {}}, {132, kButton, "Remove", {}},
      {133, kCheck, "Strict Checking", {}},
      {135, kList, "Exported VIs", {}}, {136, kString, "", {}}, {137, kCheck, "Allow Access", {}},
      {138, kCheck, "Deny Access", {}}, {139, kButton, "Add", {}}, {140, kButton, "Remove", {}},
  };
  size_t next = 0;
  for (int32 number = 1; number <= 140; ++number) {
    if (next < items.size() && items[next].number == number) {
      const Item& it = items[next++];
      switch (it.kind) {
        case kButton:
          d.objects.push_back(ButtonItem(it.label, number == 1   ? Rect{300, 330, 322, 400}
                                                   : number == 2 ? Rect{300, 250, 322, 320}
                                                                 : at));
          break;
        case kCheck: d.objects.push_back(DisplayItem("Boolean", it.label, at)); break;
        case kString: d.objects.push_back(StringItem(it.label, at)); break;
        case kI32: d.objects.push_back(NumericItem(it.label, at, 3)); break;
        case kSGL: d.objects.push_back(NumericItem(it.label, at, 9)); break;
        case kColor: d.objects.push_back(ColorBoxItem(it.label, at)); break;
        case kList: d.objects.push_back(ListboxItem(it.label, {25, 5, 145, 305})); break;
        case kRing: d.objects.push_back(RingItem(it.label, number == 3 ? Rect{2, 5, 18, 45} : at, it.texts)); break;
      }
    } else {
      d.objects.push_back(FreeLabel("", at));
    }
    d.items.push_back(number - 1);
  }
  d.nav[0] = 0;
  d.nav[1] = 1;
  return d;
}

Dialog DescriptionDialog() {
  Dialog d;
  d.title = "_Description";
  d.v = 120;
  d.h = 120;
  // The description: a string control with its text part; the title: a
  // message string.
  ObjectRecord text;
  text.className = "String";
  text.subs.push_back({kRsrcDDOD, DisplayTemplate(0, 0, {{kClsLabel, -1}})});
  text.subs.push_back({kRsrcLabl, LabelTemplate(kTextPartId, {40, 10, 160, 320}, "")});
  d.objects = {
      ButtonItem("OK", {170, 250, 192, 320}),
      ButtonItem("Cancel", {170, 170, 192, 240}),
      text,
      MessageItem({10, 10, 30, 320}),
  };
  for (int32 i = 0; i < 4; ++i) d.items.push_back(i);
  d.nav[0] = 0;
  d.nav[1] = 1;
  return d;
}

Dialog ColorsDialog() {
  Dialog d;
  d.title = "_Colors";
  d.v = 120;
  d.h = 120;
  d.objects = {
      ButtonItem("OK", {130, 150, 152, 220}),   ButtonItem("Cancel", {130, 70, 152, 140}),
      NumericItem("Red", {40, 10, 56, 70}, 3),  NumericItem("Green", {70, 10, 86, 70}, 3),
      NumericItem("Blue", {100, 10, 116, 70}, 3), ColorBoxItem("", {40, 110, 116, 220}),
      MessageItem({10, 10, 30, 220}),
  };
  for (int32 i = 0; i < 7; ++i) d.items.push_back(i);
  d.nav[0] = 0;
  d.nav[1] = 1;
  return d;
}

void AddDialogs(rsrcw::Writer* writer) {
  writer->Add(kDLG2, kColorsDialogId, DialogBlock(ColorsDialog()), ColorsDialog().title);
  writer->Add(kDLG2, kDescriptionDialogId, DialogBlock(DescriptionDialog()), DescriptionDialog().title);
  writer->Add(kDLG2, kPreferencesDialogId, DialogBlock(PreferencesDialog()), PreferencesDialog().title);
  writer->Add(kDLG2, kVIInfoDialogId, DialogBlock(VIInfoDialog()), VIInfoDialog().title);
  writer->Add(kDLG2, kLoadProgressDialogId, DialogBlock(LoadProgressDialog()));
  writer->Add(kDLG2, kStatusDialogId, DialogBlock(StatusDialog()), StatusDialog().title);
  const struct {
    int32 id;
    std::vector<std::string> buttons;
  } kAlerts[] = {{kOneButtonAlertId, {"OK"}},
                 {kTwoButtonAlertId, {"OK", "Cancel"}},
                 {kThreeButtonAlertId, {"Yes", "No", "Cancel"}}};
  for (const auto& a : kAlerts) {
    const Dialog d = AlertDialog(a.buttons);
    writer->Add(kDLG2, a.id, DialogBlock(d), d.title);
  }
  writer->Add(kDLG2, kFileDialogId, DialogBlock(FileDialogBox()), FileDialogBox().title);
  writer->Add(kDLG2, kNewFolderBoxId, DialogBlock(NewFolderBox()), NewFolderBox().title);
}

}  // namespace dlgwriter
