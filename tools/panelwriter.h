// Test tooling: panel objects, panel resources and scraps written wholly in
// file order, from the same field tables the engine converts with; and the
// stored panel heap of a VI file with the resources its objects load.
//
//   ObjHeap panel = vib::NewPanel(vi);
//   int32 label = vib::NewObject(panel, kClsLabel, 40, owner, 16);
//   panelwriter::AddPanelHeap(file, panel, rsrcId, "Main.vi", 100,
//       {{label, {panelwriter::Image(24, "frame", icon), {kTextRecordType, textRecord}}}});
//
// The heap is written as it is in memory, converted to file order: every
// field from the class tables (SwapObjectAllToFile), the block headers by
// the heap conversion.  Each listed object gets a resource number n in heap
// order, stored in the word 8 bytes before it; its resources follow as
// n + 1, n + 2, ... in the order given, which must be the order its load
// method reads them.  An image named by a key already written for an earlier
// object is shared: it takes no number and its reference names the first.
#pragma once
#include <utility>
#include <string>
#include <vector>

#include "engine/objswap.h"
#include "tools/rsrcwriter.h"

namespace panelwriter {

// The file-order bytes of an object of class cls given in memory order;
// empty when the layout doesn't fit the bytes.
std::vector<uChar> ObjectInFileOrder(std::vector<uChar> memoryBytes, int32 cls);
// The same for a panel resource of the given type and for a scrap.
std::vector<uChar> RsrcInFileOrder(uInt32 type, std::vector<uChar> memoryBytes);
std::vector<uChar> ScrapInFileOrder(std::vector<uChar> memoryBytes);

// A per-object procedure for OHByteSwapHeap that writes every field of each
// object in file order (direction 1), by the class of its block.
MgErr SwapObjectAllToFile(ObjHeap heap, int32 offset, int32 direction);

// The resource type of the images of panel objects: an icon family of one
// 128-byte member.
constexpr uInt32 kObjImageType = FourCC("ICON");
constexpr int32 kObjImageBytes = 128;

// One resource an object loads, in file order.  For an image, imageWord is
// the byte offset in the object of the image reference that names it (its
// high half becomes the image's number) and key names the image for sharing.
struct ObjRsrc {
  ObjRsrc() = default;
  ObjRsrc(uInt32 type, rsrcw::Bytes data, int32 imageWord = -1, std::string key = {})
      : type(type), data(std::move(data)), imageWord(imageWord), key(std::move(key)) {}
  uInt32 type = 0;
  rsrcw::Bytes data;
  int32 imageWord = -1;
  std::string key;
};
// An image resource of the object, referred to by the word at imageWord.
ObjRsrc Image(int32 imageWord, const std::string& key, const rsrcw::Bytes& icon = rsrcw::Bytes(kObjImageBytes));

struct PanelObject {
  int32 object;                // offset in the heap
  std::vector<ObjRsrc> rsrcs;  // in the order the load method reads them
};

// Where things went: per listed object (in the order given) its resource
// number and the number of each of its resources (0 for a shared image).
struct HeapLayout {
  std::vector<int32> numbers;
  std::vector<std::vector<int32>> rsrcNumbers;
  int32 next = 0;  // the first number not used
};

// The heap's bytes in file order with the objects numbered from firstNumber
// (the heap itself is left as it was); empty when an object is not in the
// heap or the conversion fails.  The resources are added to file when it is
// given.
rsrcw::Bytes PanelHeapImage(ObjHeap heap, int32 firstNumber, const std::vector<PanelObject>& objects,
                            rsrcw::Writer* file = nullptr, HeapLayout* layout = nullptr);
// Adds the heap as 'FPHP' of rsrcId with its objects' resources and its
// 'LIfp' of the same id (the VI's name, no references); false when a part
// cannot be written or an id is taken.
bool AddPanelHeap(rsrcw::Writer& file, ObjHeap heap, int32 rsrcId, const std::string& viName, int32 firstNumber,
                  const std::vector<PanelObject>& objects, HeapLayout* layout = nullptr);

// For tests: opens the bytes of a written file as a read-only resource file
// and reads its 'FPHP' of rsrcId back in memory order (detached, converted
// by OSwapByClass, put in the heap list), as the heap loader does; null on
// any failure.
ObjHeap ReadStoredHeap(const rsrcw::Bytes& file, int32 rsrcId, uInt32* ref);  // ref: the RsrcFileRef

// A saved text record ("TRec"): the fixed part, the insertion style and the
// runs (font indices of the file's font table), then the text unless
// storeText is false (the text word then reads 1: no text stored).
struct TextRun {
  uInt32 start = 0;
  int32 font = 0;  // index in the file's font table
  uInt32 colour = 0;
};
struct SavedText {
  std::string text;
  TextRun insertion;
  std::vector<TextRun> runs;
  uInt32 flags = 0, mode = 1;
  int16 view[4] = {0, 0, 20, 100};
  uInt32 background = 0x1000000;
  bool storeText = true;
  int32 selStart = 0, selEnd = 0;
  uInt16 carried[2] = {0, 0};  // the two words kept through copies and loads
};
rsrcw::Bytes TextRecordRsrc(const SavedText& t);

// A font table ("FTAB" 128) of the entries (an empty name: an entry without
// a font); entries from `first` on are mapped.  New form: 16-byte entries.
struct FontEntry {
  std::string name;
  int16 size = 12;
  uInt16 style = 0;
  int16 weight = 0;
};
rsrcw::Bytes FontTableRsrc(const std::vector<FontEntry>& entries, int32 first = 0, bool newForm = true,
                           uInt32 version = 0);

// A graph object of a type code with its parts: one plot area, one x and
// one y scale, and a legend (with the label that sets its row height) when
// its rectangle is not empty.  The graph's private block and each scale's
// record live in the VI's data space: their words hold the offsets of their
// entries' descriptors in the data space's descriptor (the loader computes
// the data offsets from them), made by the caller with the panel's own
// descriptors.  The value's type is typeId in the heap's type list.
struct GraphSpec {
  int16 type = 1;  // waveform graph
  Rect bounds{0, 0, 200, 300};
  Rect plotArea{20, 40, 180, 280};
  uInt32 plotBack = 0;  // the plot area's background (plots are white at first)
  Rect legend{0, 0, 0, 0};     // none while empty
  int32 typeId = 0;
  // Data offset and descriptor offset of the graph's private block and of
  // each scale's record.
  int32 stateAt = 0, stateTD = 0;
  int32 xScaleAt = 0, xScaleTD = 0, yScaleAt = 0, yScaleTD = 0;
};
struct GraphObject {
  int32 graph = 0, plotArea = 0, xScale = 0, yScale = 0, legend = 0;
};
// All zero when memory is short.
GraphObject NewGraph(ObjHeap heap, int32 owner, const GraphSpec& s);

// The words (data-space offset, native value) of a linear scale record at
// data offset `at`, for code to store: min at pixel pixelStart, max at
// pixelEnd, major markers from min every increment, no offset, multiplier 1.
std::vector<std::pair<int32, int32>> ScaleRecordWords(int32 at, float64 min, float64 max, float64 increment,
                                                      int16 pixelStart, int16 pixelEnd);

}  // namespace panelwriter
