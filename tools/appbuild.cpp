#include "tools/appbuild.h"
#include "tools/colorwriter.h"
#include "tools/dlgwriter.h"
#include "tools/helpwriter.h"
#include "tools/rtmwriter.h"
#include "tools/stripwriter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <filesystem>

#include "engine/exec/runcmd.h"
#include "engine/exec/menutexts.h"
#include "engine/exec/runtexts.h"
#include "engine/link/hierarchy.h"
#include "engine/link/linker.h"
#include "engine/shellsvc.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viload.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/blockmove.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/printvi.h"
#include "server/appserve.h"
#include "shell/filedlg.h"
#include "tools/vilibrary.h"

namespace qxbuild {

void AddConfigTokenStrings(rsrcw::Writer* writer) {
  std::vector<std::string> names;
  for (int32 i = 1; i <= kCfgKeyCount; ++i) names.push_back(CfgKeyTableName(i));
  writer->Add(rsrcfmt::kTypeStrList, kCfgKeyListId, rsrcw::StrList(names), std::string(kCfgKeyListName));
}

void AddLibraryToolResources(rsrcw::Writer* writer) {
  std::vector<std::string> texts(archfmt::kToolTexts, archfmt::kToolTexts + archfmt::kToolTextCount);
  writer->Add(rsrcfmt::kTypeStrList, archfmt::kToolTextsId, rsrcw::StrList(texts), std::string(archfmt::kToolTextsName));
  for (int32 id : {archfmt::kVIPaletteImage, archfmt::kCtlPaletteImage})
    for (const auto& r : PaletteImage(id)) writer->Add(r.first, id, r.second);
}

const char* const kWindowTitles[10] = {"", "", "Quenlix Root", "", "", "", "", "", "", "Help"};

const char* const kMemFullTexts[5] = {
    "Not enough memory to complete this operation.",
    "Not enough memory to open control editor.",
    "Not enough memory to change to customize mode.",
    "Not enough memory to update probe.",
    "Not enough memory to create this object.",
};

std::vector<std::pair<uInt32, rsrcw::Bytes>> IconFamilyResources(IconPixel on, IconPixel inside, uChar colour4,
                                                                  uChar colour8) {
  rsrcw::Bytes icon(128, 0), mask(128, 0), icl4(512, 0), icl8(1024, 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool black = on(x, y), filled = black || inside(x, y);
      const size_t bit = size_t(y * 4 + x / 8);
      const uChar m = uChar(0x80 >> (x % 8));
      if (black) icon[bit] |= m;
      if (filled) mask[bit] |= m;
      const uChar c4 = black ? 15 : filled ? colour4 : 0;
      icl4[size_t(y * 16 + x / 2)] |= uChar(x % 2 ? c4 : c4 << 4);
      icl8[size_t(y * 32 + x)] = black ? 255 : filled ? colour8 : 0;
    }
  rsrcw::Bytes family = icon;
  family.insert(family.end(), mask.begin(), mask.end());
  return {{FourCC("ICON"), icon}, {FourCC("icl4"), icl4}, {FourCC("icl8"), icl8}, {FourCC("ICN#"), family}};
}

void AddAppIndStrings(rsrcw::Writer* writer) {
  struct List {
    int32 id;
    const char* name;
    std::vector<std::string> texts;
  };
  std::vector<std::string> keys = {"", "Clear", "Enter", "Break", "Up", "Down", "Left", "Right",
                                   "Ins", "Del", "Home", "End", "PgUp", "PgDown", "Help"};
  for (int i = 1; i <= 12; ++i) keys.push_back("F" + std::to_string(i));
  const List lists[] = {
      {501, "_Device Manager Strings",
       {"Could not create shared memory segment.  All occurrences are private.",
        "Error loading qxdev5.dll.  The one loaded is either corrupt or old.",
        "Could not load qxdev5.dll.  It should be in Quenlix's directory."}},
      {502, "_File Manager Strings", {"<Not A Path>", "<path too long>"}},
      {500, "_Font Manager Strings", {"Smaller", "Larger", "Plain", "Bold", "Italic", "Underline", "Outline", "Strikeout"}},
      {503, "_Virtual Keys", keys},
      {504, "_Menu Modifiers", {"", "M+", "Ctrl+", "Ctrl+", "Shift+", "Caps+"}},
  };
  for (const List& l : lists) writer->Add(rsrcfmt::kTypeStrList, l.id, rsrcw::StrList(l.texts), std::string(l.name));
}

void AddRunTimeResources(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, kWindowTitlesListIdRT,
              rsrcw::StrList({kWindowTitles, kWindowTitles + 10}), std::string(kWindowTitlesListName));
  writer->Add(rsrcfmt::kTypeStrList, kMemFullTextsListId, rsrcw::StrList({kMemFullTexts, kMemFullTexts + 5}),
              std::string(kMemFullTextsListName));
  // The root VI's icon: a framed square with a dot; a new VI's: a framed
  // square with a diagonal.
  static const auto rootOn = +[](int x, int y) {
    return x == 1 || x == 30 || y == 1 || y == 30 || ((x - 16) * (x - 16) + (y - 16) * (y - 16) <= 16);
  };
  static const auto viOn = +[](int x, int y) { return x == 1 || x == 30 || y == 1 || y == 30 || x == y; };
  static const auto inside = +[](int x, int y) { return x >= 1 && x <= 30 && y >= 1 && y <= 30; };
  for (const auto& r : IconFamilyResources(rootOn, inside, 3, 43)) writer->Add(r.first, 5468, r.second);
  for (const auto& r : IconFamilyResources(viOn, inside, 9, 216)) writer->Add(r.first, 5500, r.second);
  // The loader's fallback icon for a VI without one: a framed square with a cross.
  static const auto fallbackOn = +[](int x, int y) {
    return x == 1 || x == 30 || y == 1 || y == 30 || x == y || x + y == 31;
  };
  for (const auto& r : IconFamilyResources(fallbackOn, inside, 9, 216))
    writer->Add(r.first, kFallbackVIIconId, r.second);
  // The listboxes' loaded symbols: a framed square with k + 1 bars.
  static int32 symbol = 0;
  static const auto symbolOn = +[](int x, int y) {
    return x == 1 || x == 30 || y == 1 || y == 30 || (y >= 4 && y % 2 == 0 && (y - 4) / 2 <= symbol && x > 4 && x < 27);
  };
  for (symbol = 0; symbol < kListboxSymbols; ++symbol)
    for (const auto& r : IconFamilyResources(symbolOn, inside, uChar(1 + symbol % 14), uChar(16 + 9 * symbol)))
      writer->Add(r.first, kListboxSymbolFirstId + symbol, r.second);
  // The pictures of object-reference refnums: an application (a window with
  // its title bar) and a VI (its icon's diagonal).
  static const auto appRefOn = +[](int x, int y) { return x == 1 || x == 30 || y == 1 || y == 30 || y <= 6; };
  for (const auto& r : IconFamilyResources(appRefOn, inside, 9, 216)) writer->Add(r.first, kRefnumAppImage, r.second);
  for (const auto& r : IconFamilyResources(viOn, inside, 9, 216)) writer->Add(r.first, kRefnumVIImage, r.second);
  AddVersionResources(writer);
  AddColorResources(writer);
  AddLoadWarningTexts(writer);
  AddConfigTokenStrings(writer);
  AddLibraryToolResources(writer);
  AddUnitNameStrings(writer);
  AddLoadErrorTexts(writer);
  AddMgErrTexts(writer);
  AddAppErrTexts(writer);
  AddAutomationServerTexts(writer);
  AddPrintTexts(writer);
  AddRunCommandTexts(writer);
  AddFindTexts(writer);
  AddInvalidLibraryText(writer);
  AddAppIndStrings(writer);
  AddStartUpTexts(writer);
  AddShellEventTexts(writer);
  AddContainerTexts(writer);
  // The graphs' default cursor and plot names.
  writer->Add(rsrcfmt::kTypeStrList, 314, rsrcw::StrList({"Cursor %ld", "Plot %ld"}), std::string("_Graph Strings"));
  // The cursor lock modes: the menu's title, then the modes in order.
  writer->Add(rsrcfmt::kTypeStrList, 81, rsrcw::StrList({"Locked Style Base", "Free", "Snap to point", "Lock to plot"}),
              std::string("_Locked Style Menu"));
  AddVIStringTexts(writer);
  AddPanelMenuTexts(writer);
  AddPopupItemTexts(writer);
  AddPanelImages(writer);
  AddToolBarStrips(writer);
  AddHelpResources(writer);
  AddMenuResources(writer);
  dlgwriter::AddDialogs(writer);
  dlgwriter::AddLabelTemplates(writer);
  AddFileDialogResources(writer);
  rtmw::AddRunTimeMenus(writer);
}

void AddFileDialogResources(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, kFDTextsListId, rsrcw::StrList({kFDTexts, kFDTexts + kFDTextCount}),
              std::string(kFDTextsListName));
  for (const FDKindsResource& r : FDKindsResources()) {
    rsrcw::Bytes b(4);
    PutBE32(b.data(), uInt32(r.groups.size()));
    for (const auto& [name, types] : r.groups) {
      const size_t n = std::strlen(name), room = (n + 1 + 3) / 4 * 4;
      rsrcw::Bytes text(room, 0);
      text[0] = uChar(n);
      std::memcpy(text.data() + 1, name, n);
      b.insert(b.end(), text.begin(), text.end());
      uChar word[4];
      PutBE32(word, uInt32(types.size()));
      b.insert(b.end(), word, word + 4);
      for (const char* t : types) b.insert(b.end(), t, t + 4);
    }
    writer->Add(FourCC("FDFL"), r.id, b, std::string(r.name));
  }
}

rsrcw::Bytes GlyphRectList(int32 count) {
  rsrcw::Bytes b(2 + 8 * size_t(count), 0);
  PutBE16(b.data(), uInt16(count));
  for (int32 i = 0; i < count; ++i) {
    const int16 top = int16(i / kGlyphColumns * kGlyphCell), left = int16(i % kGlyphColumns * kGlyphCell);
    const int16 r[4] = {top, left, int16(top + kGlyphCell), int16(left + kGlyphCell)};
    for (int k = 0; k < 4; ++k) PutBE16(b.data() + 2 + 8 * i + 2 * k, uInt16(r[k]));
  }
  return b;
}

void AddPanelImages(rsrcw::Writer* writer) {
  // The glyph bitmap: 94 cells of 16 x 16 pixels in rows of 16, each a
  // frame with its number in dots along the bottom, as 1-bit rows.
  constexpr int32 kRows = (kGlyphCells + kGlyphColumns - 1) / kGlyphColumns;
  constexpr int32 kWidth = kGlyphColumns * kGlyphCell, kHeight = kRows * kGlyphCell, kRowBytes = kWidth / 8;
  rsrcw::Bytes bitmap(4 + size_t(kRowBytes * kHeight), 0);
  PutBE16(bitmap.data(), uInt16(kHeight));
  PutBE16(bitmap.data() + 2, uInt16(kWidth));
  for (int32 cell = 0; cell < kGlyphCells; ++cell) {
    const int32 top = cell / kGlyphColumns * kGlyphCell, left = cell % kGlyphColumns * kGlyphCell;
    for (int32 y = 1; y < kGlyphCell - 1; ++y)
      for (int32 x = 1; x < kGlyphCell - 1; ++x) {
        const bool frame = x == 1 || y == 1 || x == kGlyphCell - 2 || y == kGlyphCell - 2;
        const bool dot = y == kGlyphCell - 5 && x >= 3 && x < 10 && (cell >> (x - 3) & 1);
        if (!frame && !dot) continue;
        const int32 px = left + x, py = top + y;
        bitmap[4 + size_t(py * kRowBytes + px / 8)] |= uChar(0x80 >> (px % 8));
      }
  }
  writer->Add(FourCC("BMAP"), kGlyphBitmapId, bitmap, std::string("FPGlyphs"));
  writer->Add(FourCC("nrct"), kGlyphBitmapId, GlyphRectList(kGlyphCells), std::string("FPGlyphRects"));
  // The stored control images 140 to 168: a framed square with a bar, in
  // colours that tell them apart.
  static const auto barOn = +[](int x, int y) { return x == 2 || x == 29 || y == 2 || y == 29 || (y >= 14 && y <= 17); };
  static const auto inside = +[](int x, int y) { return x >= 2 && x <= 29 && y >= 2 && y <= 29; };
  for (int32 i = 0; i < kStoredImages; ++i)
    for (const auto& r : IconFamilyResources(barOn, inside, uChar(1 + i % 14), uChar(16 + 7 * i)))
      writer->Add(r.first, kStoredImageFirstId + i, r.second);
}

void AddPanelMenuTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, kRadixMenuListId,
              rsrcw::StrList({"Format Base", "Decimal", "Hex", "Octal", "Binary"}), std::string("_Radix menu"));
  writer->Add(rsrcfmt::kTypeStrList, kPathValidityMenuListId,
              rsrcw::StrList({"Path Validity Base", "Valid Path", "Not a Path"}),
              std::string("_Path Validity menu"));
}

void AddPopupItemTexts(rsrcw::Writer* writer) {
  static const struct { int32 code; const char* text; } kItems[] = {
      {1, "Description..."},        {6, "Reinitialize to Default"}, {24, "Show Last Element"},
      {25, "Empty Array"},          {124, "Cut Data"},              {125, "Copy Data"},
      {126, "Paste Data"},          {128, "Start Selection"},       {129, "End Selection"},
      {158, "Smooth Updates"},      {159, "Show Selection"},        {170, "Empty Table"},
      {171, "Ramp"},                {184, "Interpolate Color"},     {223, "Select All"},
      {247, "Selection Scrolling"}, {265, "Online Help"},           {266, "Marker Spacing"},
      {267, "Add Marker"},          {268, "Delete Marker"},         {269, "Marker Color"},
      {277, "Tag Browser..."},      {316, "Explain Error"},         {317, "Explain Warning"},
      {318, "Create Tag..."},       {319, "Edit Tag..."},           {320, "Copy Tag..."},
  };
  std::vector<std::string> texts(kPopupItemCount);
  for (const auto& i : kItems) texts[size_t(i.code - 1)] = i.text;
  writer->Add(rsrcfmt::kTypeStrList, 300, rsrcw::StrList(texts), std::string("_PopUp Items"));
  writer->Add(rsrcfmt::kFlatPathTag, 2000,
              rsrcw::FlatPath(1, {std::begin(kTagBrowserVIPath), std::end(kTagBrowserVIPath)}),
              std::string("tag browser path"));
  writer->Add(rsrcfmt::kFlatPathTag, 2001,
              rsrcw::FlatPath(1, {std::begin(kTagConfigVIPath), std::end(kTagConfigVIPath)}),
              std::string("tag config path"));
  writer->Add(rsrcfmt::kTypeStrList, 18100, rsrcw::StrList({std::begin(kTagBrowserParams), std::end(kTagBrowserParams)}));
  writer->Add(rsrcfmt::kTypeStrList, 18101, rsrcw::StrList({std::begin(kTagConfigParams), std::end(kTagConfigParams)}));
}

void AddMenuResources(rsrcw::Writer* writer) {
  for (const MenuTextList& l : kMenuTextLists)
    writer->Add(rsrcfmt::kTypeStrList, l.id, rsrcw::StrList({l.entries, l.entries + l.count}), std::string(l.name));
  std::vector<int32> ids;
  for (const ShellText& t : kShellTexts)
    if (std::find(ids.begin(), ids.end(), t.list) == ids.end()) ids.push_back(t.list);
  for (int32 id : ids) {
    std::vector<std::string> texts;
    for (const ShellText& t : kShellTexts)
      if (t.list == id) {
        if (texts.size() < size_t(t.index)) texts.resize(size_t(t.index));
        texts[size_t(t.index - 1)] = t.text;
      }
    writer->Add(rsrcfmt::kTypeStrList, id, rsrcw::StrList(texts));
  }
  const std::string credits = std::string(kAboutCredits[0]) + "\r" + kAboutCredits[1];
  writer->Add(FourCC("TEXT"), kAboutCreditsTextId, rsrcw::BytesOf(credits), std::string("Credits"));
  writer->Add(FourCC("TEXT"), kSplashTextId, rsrcw::BytesOf(std::string(kSplashText)), std::string("Splash"));
  writer->Add(FourCC("DSIM"), kSplashImageColour, LaunchPicture(false), std::string("Launch"));
  writer->Add(FourCC("DSIM"), kSplashImageMono, LaunchPicture(true), std::string("Launch BW"));
}

void AddVIStringTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, 19001,
              rsrcw::StrList({
                  "Importing the strings of \"%p\" from \"%s\" stopped on an error.\r\n",
                  "%ld warning(s) importing the strings of \"%p\" from \"%s\".\r\n",
                  "Error in %p: %p (line %ld) at: %p",
                  "Error: %p (line %ld) at: %p",
                  "Warning: the VI has version %p, the string file version %p.",
                  "",
                  "Warning in %p: unknown attribute (line %ld) at: %p",
                  "Imported the strings of \"%p\" from \"%s\".\r\n",
                  "", "", "", "", "", "",
                  "The VI string file could not be read.",
                  "The string import's log file could not be written.",
                  "unknown tag",
                  "unexpected tag",
                  "syntax error",
                  "unexpected end of file",
                  "unknown attribute",
                  "bad attribute value",
                  "the part id differs from the object's",
                  "the part order differs from the object's",
                  "the control class differs from the object's",
                  "no section of this VI in the file",
                  "memory is full",
                  "the value does not match the control's data",
                  "",
                  "the cell position differs from the table's",
                  "the control's name differs from its label",
                  "the number of ring items differs from the ring's",
                  "a path component could not be added",
              }),
              std::string("_VI string import"));
}

void AddContainerTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, kContainerTextsListId,
              rsrcw::StrList({"Error %ld occurred loading the embedded control \"%p\".", "Abort", "Continue"}),
              std::string("_Container Errors"));
}

void AddShellEventTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, 15001, rsrcw::StrList({"Loading \"%p\""}), std::string());
  writer->Add(rsrcfmt::kTypeStrList, 317,
              rsrcw::StrList({"",
                              "Application memory full.  Saving and closing VIs can free memory.  You might need to "
                              "increase the virtual memory in your system."}),
              std::string());
}

bool AppendToProgram(const std::string& exeHost, const rsrcw::Bytes& resourceFile, const std::string& outHost,
                     std::string* error, uInt32 flags) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    std::error_code ec;
    std::filesystem::remove(outHost, ec);
    return false;
  };
  rsrcw::Bytes program = rsrcw::ReadHostFile(exeHost);
  if (program.empty()) return fail("can't read " + exeHost);
  if (program.size() + resourceFile.size() > 0xFFFFFFFFu - rsrcfmt::kTrailerSize)
    return fail("the application would pass 4 GB");
  uInt32 offset = uInt32(program.size());
  program.insert(program.end(), resourceFile.begin(), resourceFile.end());
  rsrcw::Bytes trailer = rsrcw::AppTrailer(offset, flags);
  program.insert(program.end(), trailer.begin(), trailer.end());
  if (!rsrcw::WriteHostFile(outHost, program)) return fail("can't write " + outHost);
  struct stat st;
  if (stat(exeHost.c_str(), &st) != 0 || chmod(outHost.c_str(), st.st_mode & 07777) != 0)
    return fail("can't set the permissions of " + outHost + ": " + std::strerror(errno));
  return true;
}

void AddLoadErrorTexts(rsrcw::Writer* writer) {
  static const char* const kTexts[kLoadErrorsCount] = {
      "Quenlix load error code %ld: %p",
      "Could not load front panel link information.",
      "Could not load front panel.",
      "Front panel load detected link error.",
      "Could not load block diagram link information.",
      "Could not load block diagram.",
      "Block diagram load detected link error.",
      "Could not load VI resource.",
      "Version of VI is newer than Quenlix version.",
      "Version of VI is too old to convert to current Quenlix version.",
      "VI cannot be converted to current version because it has no block diagram.",
      "Could not load connector type map.",
      "Could not load icon.",
      "Could not load data space type map.",
      "Could not load default data.",
      "Could not load data space link information.",
      "Could not load VI's link information.",
      "",
      "",
      "",
      "An external subroutine required for execution could not be found.",
      "",
      "There is not enough memory to load this VI.",
      "This VI cannot be loaded because it is broken and has no block diagram.",
      "This VI cannot be loaded because it is from an incompatible alpha, beta, or development system.",
      "This VI cannot be loaded because it contains objects not recognized by Quenlix.",
      "Could not load VI history.",
      "Could not get VI file modification date.",
      "Could not register VI with data type manager.",
      "Could not initialize password.",
      "Could not load run-time menu path.",
  };
  const std::string first = "An error occurred loading VI '%p'.";
  writer->Add(rsrcfmt::kTypeString, kLoadErrorStrId, rsrcw::BytesOf(char(first.size()) + first),
              std::string(kLoadErrorStrName));
  writer->Add(rsrcfmt::kTypeStrList, kLoadErrorsListId, rsrcw::StrList({kTexts, kTexts + kLoadErrorsCount}),
              std::string(kLoadErrorsListName));
}

rsrcw::Bytes VersResource(uInt32 version, const std::string& text) {
  rsrcw::Bytes b(6, 0);
  PutBE32(b.data(), version);
  for (int i = 0; i < 2; ++i) {
    b.push_back(uChar(text.size()));
    b.insert(b.end(), text.begin(), text.end());
  }
  return b;
}

void AddVersionResources(rsrcw::Writer* writer) {
  writer->Add(kVersRsrcType, kVersOwnId, VersResource(kRunTimeVersion, "5.0.1"), std::string("QX app"));
  writer->Add(kVersRsrcType, 2, VersResource(kRunTimeVersion, "5.0.1"), std::string("QX system"));
  writer->Add(kVersRsrcType, 3, VersResource(kOldestConvertibleVersion, "4.0"), std::string("oldest loadable"));
  writer->Add(kVersRsrcType, kVersOldestId, VersResource(kOldestConvertibleVersion, "4.0"),
              std::string("oldest compatible"));
  writer->Add(kVersRsrcType, 5, VersResource(0, ""), std::string("Language"));
}

const char* const kAutomationServerGuids[6] = {
    "{51584301-0100-4F4C-4541-50504C434C53}", "{51584301-0101-4F4C-4541-505054595045}",
    "{51584301-0102-4F4C-4541-5050494E5446}", "{51584301-0103-4F4C-4554-4C4942524152}",
    "{51584301-0104-4F4C-4556-49494E544646}", "{51584301-0105-4F4C-4556-495459504545}",
};
constexpr char kCountMismatchText[] =
    "Quenlix : number of parameters specified by paramNames do not match the number of values specified by "
    "paramVals.";
const char* const kAutomationServerTexts[15] = {
    "Quenlix : paramNames type mismatch. Expected 1D array of strings or 1D array of string variants.",
    "Quenlix : paramVals type mismatch. Expected 1D array of variants.",
    "Quenlix : parameter names not specified.",
    kCountMismatchText,
    "Quenlix : parameter %p not found in the VI's connector pane. ",
    "Quenlix : %p is a required parameter. A value for %p needs to be supplied.",
    "Quenlix : parameter %p type mismatch. ",
    "Quenlix : ",
    "Quenlix: Unknown Error.",
    "Quenlix : VI execution terminated by the server.",
    "Quenlix : Unknown class.",
    "Quenlix : Unknown method.",
    "Quenlix : Unknown property.",
    "Quenlix : Number of parameters dont match.",
    "Quenlix : Server is shutting down.",
};

void AddAutomationServerTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, 25000, rsrcw::StrList({kAutomationServerGuids, kAutomationServerGuids + 6}));
  writer->Add(rsrcfmt::kTypeStrList, 25001, rsrcw::StrList({"Quenlix", kAutomationTypeLibName}));
  writer->Add(rsrcfmt::kTypeStrList, 18300, rsrcw::StrList({kAutomationServerTexts, kAutomationServerTexts + 15}));
}

void AddStartUpTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, 29370,
              rsrcw::StrList({"There is less than %ldK of disk space available on volume %z.  Quenlix cannot run until "
                              "you make more disk space available.",
                              "There is less than %ldK of disk space available on volume %z.  Quenlix can run, but we "
                              "recommend that you make more disk space available.",
                              "Could not determine the amount of disk space on volume %z. Error = %ld."}));
  writer->Add(rsrcfmt::kTypeStrList, 11200, rsrcw::StrList({"single", "double", "extended"}));
  writer->Add(rsrcfmt::kTypeStrList, 15003,
              rsrcw::StrList({"Automation libraries could not be initialized.",
                              "You need to install a newer component runtime.",
                              "You need to install the component runtime.", "Automation Not Implemented"}));
  // The VI server's status line of the about box.
  writer->Add(rsrcfmt::kTypeStrList, 30060,
              rsrcw::StrList({"TCP Server active on port %ld", "TCP Server inactive:  listen failed with error %ld",
                              "TCP Server inactive"}));
}

void AddLoadWarningTexts(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, kLoadWarningsListId,
              rsrcw::StrList({kLoadWarningTexts, kLoadWarningTexts + kLoadWarningsCount}),
              std::string(kLoadWarningsListName));
}

void AddLinkerTexts(rsrcw::Writer* writer) {
  const std::string text = "The recursive use of \"%p\" is not allowed.";
  writer->Add(rsrcfmt::kTypeString, kRecursiveUseStrId, rsrcw::BytesOf(char(text.size()) + text));
}

void AddRunCommandTexts(rsrcw::Writer* writer) {
  for (const RunTextList& list : kRunTextLists) {
    std::vector<std::string> texts(size_t(RunTextCount(list.id)));
    for (const RunText& t : kRunTexts)
      if (t.list == list.id) texts[size_t(t.index - 1)] = t.text;
    if (list.name) writer->Add(rsrcfmt::kTypeStrList, list.id, rsrcw::StrList(texts), std::string(list.name));
    else writer->Add(rsrcfmt::kTypeStrList, list.id, rsrcw::StrList(texts));
  }
  writer->Add(rsrcfmt::kTypeStrList, kToolBarTipListId,
              rsrcw::StrList({std::begin(kToolBarTips), std::end(kToolBarTips)}), std::string(kToolBarTipListName));
  const std::string resetting = kResettingText;
  writer->Add(rsrcfmt::kTypeString, kResettingStrId, rsrcw::BytesOf(char(resetting.size()) + resetting));
}

void AddFindTexts(rsrcw::Writer* writer) {
  static const struct {
    int32 id;
    const char* name;
  } kLists[] = {{kLoadingStringsListId, kLoadingStringsListName}, {kYesNoListId, kYesNoListName},
                {kFilePromptsListId, kFilePromptsListName}, {kCantLoadListId, kCantLoadListName},
                {kLoadPhaseListId, nullptr}};
  for (const auto& list : kLists) {
    std::vector<std::string> texts;
    for (int32 i = 0; i < kLoadTextCount; ++i) {
      const LoadText& t = kLoadTexts[i];
      if (t.list != list.id) continue;
      if (texts.size() < size_t(t.index)) texts.resize(size_t(t.index));
      texts[size_t(t.index - 1)] = t.text;
    }
    // The file dialog's prompts that the search does not use.
    if (list.id == kFilePromptsListId) {
      static const std::pair<size_t, const char*> kPrompts[] = {{17, "Save the VI (%p) as:"}};
      for (const auto& [index, text] : kPrompts) {
        if (texts.size() < index) texts.resize(index);
        if (texts[index - 1].empty()) texts[index - 1] = text;
      }
    }
    if (list.name) writer->Add(rsrcfmt::kTypeStrList, list.id, rsrcw::StrList(texts), std::string(list.name));
    else writer->Add(rsrcfmt::kTypeStrList, list.id, rsrcw::StrList(texts));
  }
}

void AddInvalidLibraryText(rsrcw::Writer* writer) {
  const std::string text =
      "A CIN tried to load a 16-bit DLL.  This operation is not supported under Quenlix for Windows 95 or "
      "Windows NT.  The CIN and DLL must be recompiled.";
  writer->Add(rsrcfmt::kTypeString, kInvalidLibraryStrId, rsrcw::BytesOf(char(text.size()) + text),
              std::string(kInvalidLibraryStrName));
}

void AddMgErrTexts(rsrcw::Writer* writer) {
  std::vector<std::string> texts;
  for (MgErr code = 1; code <= kMgErrTextCount; ++code) texts.push_back(DBMgErrText(code));
  writer->Add(rsrcfmt::kTypeStrList, kMgErrTextsListId, rsrcw::StrList(texts), std::string(kMgErrTextsListName));
}

void AddAppErrTexts(rsrcw::Writer* writer) {
  // Entry N is the text of application error 999 + N; the codes without a
  // text of their own read the unspecified error's.
  static const struct {
    MgErr code;
    const char* text;
  } kTexts[] = {
      {1000, "VI is currently not idle."},
      {1001, "VI's front panel is not open."},
      {1002, "VI contains one or more invalid Type Definitions."},
      {1003, "VI is not executable."},
      {kVINotInMemory, "VI is not in memory."},
      {1005, "VI execution has been disabled in VI Setup."},
      {1010, "No default or operate data."},
      {kPrinterNotResponding, "Printer not responding. Check printer configuration."},
      {kAppErrUnspecified, kUnspecifiedErrText},
      {kAppRefInvalidErr, "Application Reference is invalid."},
      {kVIRefInvalidErr, "VI Reference is invalid."},
      {kVIRefReserveErr,
       "Reference can not be reserved as requested or is in improper reservation mode for requested operation."},
      {kVIRefSelectorErr, "Attribute selector is invalid."},
      {kVIRefReadOnlyErr, "Attribute is read-only."},
      {kVIRefEditReservedErr, "VI Reference is already reserved for editing."},
      {kVIRefTypeErr, "VI Reference type does not match VI connector pane."},
      {kVIRefAccessErr, "Server access denied."},
      {1033, "Bad run-time menu file version."},
      {1034, "Bad run-time menu file."},
      {kVIRefKindErr, "Operation is invalid for this type of VI."},
      {kVIRefMethodErr, "Method selector is invalid."},
      {kVIRefProtocolErr, "Incompatible VI Server protocol version."},
      {kVIRefParamMissingErr, "Required parameter missing."},
      {kVIRefAbortedErr, "VI was aborted."},
      {kVIRefRecursiveErr, "Attempted recursive call."},
      {kVIRefUnsupportedErr, ""},
      {kVIRefUnreservedErr, ""},
  };
  std::vector<std::string> texts(kAppErrTextCount, kUnspecifiedErrText);
  for (const auto& t : kTexts) texts[size_t(t.code - kAppErrBase - 1)] = t.text;
  writer->Add(rsrcfmt::kTypeStrList, kAppErrTextsListId, rsrcw::StrList(texts), std::string("_App Error Strings"));
}

void AddPrintTexts(rsrcw::Writer* writer) {
  std::vector<std::string> texts(kPrintFailedText);
  texts[kPrintOptionsOffText - 1] = "All VI print options are currently turned off.";
  texts[kPrintFailedText - 1] = "Unable to print.  Make sure you have installed and selected a default printer.";
  writer->Add(rsrcfmt::kTypeStrList, kPrintTextsList, rsrcw::StrList(texts));
}

}  // namespace qxbuild
