// The embedded-object host: the objects a front-panel container holds.
//
// An object is made from a state file of our own format, lives in a window
// (or none), has bounds in that window's client coordinates, may be active
// in place, may take the keyboard focus, records the ambient colours, name
// and font its container tells it, and hands out a picture of itself and a
// dispatch interface.  While it lives in a window it paints its colour and
// a one-pixel black frame into the window's retained surface, within its
// bounds, at the end of every paint of that window and of its site: a child
// window of the window over the object's bounds, by which the program finds
// the object (the container library's slots 10 and 26).
//
// State file, big-endian, kQxEmbedStateSize bytes: "QXEO", version 1, the
// kind tag (four characters), natural width and height (i32), flags (u32,
// kQxEmbedState*), colour (0x00RRGGBB).  A shorter file, another magic or
// version, or a negative size is refused (1).
//
// Objects are made and used on one thread at a time; the table is locked so
// that the paint hook may read it from the painting thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_com.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_window.h"

enum : uint32_t {
  kQxEmbedStateTakesFocus = 0x1,   // the object accepts the keyboard focus
  kQxEmbedStateNaturalSize = 0x2,  // the container sizes itself to the object
  kQxEmbedStateRunOnly = 0x4,      // misc flag bit 0: shown and focused only while running
  kQxEmbedStateNoInPlace = 0x8,    // no misc flag 0x100: never activated in place
};
constexpr int32_t kQxEmbedStateSize = 28;
constexpr uint32_t kQxEmbedMiscRunOnly = 0x1, kQxEmbedMiscInPlace = 0x100;
constexpr uint32_t kQxEmbedLoadNaturalSize = 0x1;  // the load's flag: size the container to the object

struct QxEmbedState {
  uint32_t kind = 0;
  int32_t width = 0, height = 0;
  uint32_t flags = 0;
  uint32_t colour = 0;
};
// The state's bytes (kQxEmbedStateSize).
std::vector<uint8_t> QxEmbedWriteState(const QxEmbedState& state);
// False for bytes that hold no state (read within len only).
bool QxEmbedReadState(const uint8_t* bytes, int32_t len, QxEmbedState* state);

// The container library: an i386 shared object of its own (built beside the
// program), exporting its 28 entries under the names of kQxContainerNames in
// slot order, plain C calling convention.  Its objects are made from and
// saved to state files named by the caller; tokens are never 0.
constexpr const char* kQxContainerLibName = "libqxcontainer.so";
constexpr int kQxContainerSlots = 28;
extern const char* const kQxContainerNames[kQxContainerSlots];

// The recorded picture of an object: its size and colour, drawn as the
// colour filling the size with a black frame.
struct QxEmbedPicture {
  int32_t width = 0, height = 0;
  uint32_t colour = 0;
};
// The ambient font as the library receives it, by value.
struct QxEmbedFontDesc {
  uint32_t size;       // 32
  uint16_t* face;      // wide string, at most 255 characters, or null
  uint32_t sizeLow;    // the font size
  uint32_t sizeHigh;   // 0
  int16_t weight;
  int16_t charset;
  int32_t italic, underline, strikethrough;
};
static_assert(sizeof(void*) != 4 || sizeof(QxEmbedFontDesc) == 32, "font description: 32 bytes");

// The entries' types, by slot.
extern "C" {
typedef int32_t (*QxcTokenProc)(int32_t token);                                     // 2, 13, 14, 24
typedef int32_t (*QxcDispatchProc)(int32_t token, PlatComDispatch** out);            // 4
typedef int32_t (*QxcLoadProc)(int32_t* token, PlatWindow window, int32_t px, int32_t py, int32_t ex, int32_t ey,
                               int32_t ox, int32_t oy, const char* file, int32_t* flags);  // 5
typedef int32_t (*QxcSaveProc)(int32_t token, const char* file);                    // 6
typedef int32_t (*QxcSetBoundsProc)(int32_t token, int32_t px, int32_t py, int32_t ex, int32_t ey);  // 7
typedef int32_t (*QxcGetBoundsProc)(int32_t token, int32_t* ex, int32_t* ey);        // 8
typedef int32_t (*QxcAdoptProc)(int32_t token, PlatWindow window, int32_t ox, int32_t oy);  // 9
typedef int32_t (*QxcSetOriginProc)(PlatWindow child, int32_t ox, int32_t oy);       // 10
typedef int32_t (*QxcPictureProc)(int32_t token, QxEmbedPicture* out);               // 15
typedef int32_t (*QxcColourProc)(int32_t token, uint32_t colour);                    // 17, 18
typedef int32_t (*QxcNameProc)(int32_t token, const uint16_t* name);                 // 19
typedef int32_t (*QxcFontProc)(int32_t token, QxEmbedFontDesc font);                 // 20
typedef int32_t (*QxcFocusProc)(int32_t token, int32_t word);                        // 23
typedef int32_t (*QxcGetTokenProc)(PlatWindow child, void** record);                 // 26
typedef int32_t (*QxcSetTokenProc)(int32_t token, void* record);                     // 27
}

// What a test reads back of an object; false for no object.
struct QxEmbedInfo {
  QxEmbedState state;
  PlatWindow window = 0;
  PlatWindow site = 0;  // the object's child window in its window, 0 for none
  PlatRect bounds{};
  bool active = false, focused = false;
  uint32_t foreground = 0, background = 0;
  std::string name, font;
  int32_t fontSize = 0;
  uint32_t dispatchRefs = 0;  // references on the dispatch interface, the host's included
  void* record = nullptr;     // the record registered for the token (slot 27)
  int32_t lastFocusWord = 0;
};
// The library's test entries (looked up by name like the others):
// "QxcQueryObject" (bool (int32_t token, QxEmbedInfo*)), "QxcObjectCount"
// (int32_t ()) and the failure seams "QxcFailNextLoad" (void (int32_t code):
// the next load fails with code, 0 none) and "QxcFailAdoptions" (same type:
// every adoption fails with code until it is 0).
extern "C" {
typedef bool (*QxcQueryProc)(int32_t token, QxEmbedInfo* info);
typedef int32_t (*QxcCountProc)();
typedef void (*QxcFailProc)(int32_t code);
}
