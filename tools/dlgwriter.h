// Test and build tooling: preloaded panel blocks of dialogs ('DLG2'), laid
// out in memory order and converted to file order by the engine's own scrap
// tables (panelwriter::ScrapInFileOrder); the templates their objects read
// (converted by the engine's resource tables); and the run-time's dialogs.
//
//   dlgwriter::Dialog d;
//   d.title = "Hello";
//   d.objects.push_back(dlgwriter::StringItem("name", {10, 10, 26, 200}));
//   d.items = {0};
//   writer.Add(dlgwriter::kDLG2, 900, dlgwriter::DialogBlock(d));
#pragma once
#include <string>
#include <vector>

#include "mgsource/fourcc.h"
#include "mgsource/rects.h"
#include "tools/rsrcwriter.h"

namespace dlgwriter {

constexpr uInt32 kDLG2 = FourCC("DLG2");
constexpr int32 kLoadProgressDialogId = 6306;
constexpr int32 kStatusDialogId = 2299;
constexpr int32 kOneButtonAlertId = 2300, kTwoButtonAlertId = 3400, kThreeButtonAlertId = 6308;

// A template an object reads, in file order.
struct SubRsrc {
  uInt32 type;
  rsrcw::Bytes data;
};
struct ObjectRecord {
  std::string className;
  std::vector<SubRsrc> subs;
  // The count written before the sub-resources; -1: their number.
  int32 subCount = -1;
};
struct Dialog {
  std::string title;
  int16 v = 0, h = 0;  // the window's origin
  std::vector<ObjectRecord> objects;
  std::vector<int32> items;  // object numbers, item 1 first
  bool keyNav = true;
  std::vector<int32> nav = std::vector<int32>(55, -1);  // object numbers, -1 empty
};

// The block in memory order, and in file order (empty when the layout does
// not convert).
rsrcw::Bytes BlockInMemoryOrder(const Dialog& d);
rsrcw::Bytes DialogBlock(const Dialog& d);

// Templates in file order.
struct PartRef {
  int32 cls;
  int16 rsrcId;
};
rsrcw::Bytes DisplayTemplate(uInt32 flags, uInt16 partId, const std::vector<PartRef>& parts);
// fontWord: first byte the font kind (below 8: predefined), second the
// predefined font's index; flags: the object's flags word.
rsrcw::Bytes LabelTemplate(uInt16 partId, const Rect& bounds, const std::string& text, uInt32 fontWord = 0,
                           uInt32 flags = 0, uInt32 fore = 0, uInt32 back = 0);
constexpr uInt32 kTypedTextFlag = 1u << 20;  // the object takes typed text
struct ImagePair {
  uInt32 kind, number;
};
// fore, back: the colours (0x00RRGGBB).
rsrcw::Bytes CosmeticTemplate(uInt16 partId, const Rect& bounds, ImagePair image = {0, 0}, uInt32 fore = 0,
                              uInt32 back = 0);
rsrcw::Bytes NumericTemplate(int16 representation, int16 format);
rsrcw::Bytes ListboxTemplate(uInt32 labelRsrcId, uInt32 mode);
rsrcw::Bytes MultiCosmeticTemplate(uInt16 partId, const Rect& bounds, const std::vector<ImagePair>& images);
struct BigImage {
  Rect bounds;
  uInt32 fore, back;
  ImagePair image;
};
rsrcw::Bytes BigMultiCosmeticTemplate(uInt16 partId, const std::vector<BigImage>& images);
rsrcw::Bytes MultiLabelTemplate(uInt16 partId, const Rect& bounds, const std::vector<ImagePair>& images,
                                uInt32 fontWord, const std::vector<std::string>& texts);
// The free-label templates a new label is made from ("Labl" 128; 133 for
// labels of the hidden root VI).
constexpr int32 kFreeLabelTemplateId = 128, kRootLabelTemplateId = 133;
void AddLabelTemplates(rsrcw::Writer* writer);

// Objects: a display object of the class with one label part (the label
// reads its template as the next sub-resource), and a free label.
ObjectRecord DisplayItem(const std::string& className, const std::string& label, const Rect& bounds,
                         uInt32 flags = 0);
ObjectRecord StringItem(const std::string& label, const Rect& bounds);
ObjectRecord ButtonItem(const std::string& text, const Rect& bounds);
ObjectRecord FreeLabel(const std::string& text, const Rect& bounds);
constexpr uInt16 kLabelPartId = 16, kTextPartId = 11;
// An alert's message item: a string with its text part (11) only.
ObjectRecord MessageItem(const Rect& bounds);

// The run-time's dialogs: the load progress box (items 1, 2, 6 and 7 texts,
// 3 the progress text, 4 and 5 buttons; Return presses 4 and Escape 5) and
// the status box without buttons (one text item, no key navigation) and
// the one-, two- and three-button alerts ("OK"; "OK", "Cancel"; "Yes",
// "No", "Cancel").
Dialog LoadProgressDialog();
Dialog StatusDialog();
// The alerts: buttons first (items 1 to n), the message item after them;
// the resource name is the title.
Dialog AlertDialog(const std::vector<std::string>& buttons);
// A ring of texts (a numeric value, the item texts in part 12).
ObjectRecord RingItem(const Rect& bounds);
// A listbox with its label.
ObjectRecord ListItem(const Rect& bounds);
// The file dialog (items 1 list, 2 name, 3 path ring, 4 drive ring, 5 to 9
// buttons "Eject", "New...", "Select", "OK", "Cancel", 10 prompt, 11 kind
// ring, 12 pattern) and its new-folder box (1 name, 2 "Directory", 3 "VI
// Library", 4 "Cancel", 5 prompt).
constexpr int32 kFileDialogId = 1700, kNewFolderBoxId = 1800;
Dialog FileDialogBox();
Dialog NewFolderBox();
// The VI Info dialog: items 1 to 20 as the shell fills them.
constexpr int32 kVIInfoDialogId = 3700;
Dialog VIInfoDialog();
// A control's description dialog ("_Description"): items 1 "OK" and 2
// "Cancel", 3 the description's text, 4 its title.
constexpr int32 kDescriptionDialogId = 1300;
Dialog DescriptionDialog();
// The colour dialog ("_Colors"): items 1 "OK" and 2 "Cancel", 3 to 5 the
// red, green and blue parts (I32), 6 a colour box, 7 the caption.
constexpr int32 kColorsDialogId = 1200;
Dialog ColorsDialog();
// Our own control templates: a ring (its label, its item texts as part 12,
// I32 values), a colour box (its label, U32 values), a labelled numeric of
// the representation, a labelled listbox.
ObjectRecord RingItem(const std::string& label, const Rect& bounds, const std::vector<std::string>& texts);
ObjectRecord ColorBoxItem(const std::string& label, const Rect& bounds);
ObjectRecord NumericItem(const std::string& label, const Rect& bounds, int16 representation);
ObjectRecord ListboxItem(const std::string& label, const Rect& bounds);
// The preferences dialog: the page ring (item 3, all fourteen pages), the
// items of every page the dialog numbers, with their labels, and empty
// labels for the numbers no page uses (items 1 to 140).
constexpr int32 kPreferencesDialogId = 6300;
Dialog PreferencesDialog();
void AddDialogs(rsrcw::Writer* writer);

}  // namespace dlgwriter
