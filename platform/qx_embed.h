// The embedded-object host: the objects a front-panel container holds.
//
// An object is made from a state file of our own format, lives in a window
// (or none), has bounds in that window's client coordinates, may be active
// in place, may take the keyboard focus, records the ambient colours, name
// and font its container tells it, and hands out a picture of itself and a
// dispatch interface.  While it lives in a window it paints its colour and
// a one-pixel black frame into the window's retained surface, within its
// bounds, at the end of every paint of that window, as a child window
// would.
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

// Makes an object from a state file: its token (never 0) and the load's
// flags (kQxEmbedLoadNaturalSize); 1 for bad state, or the code the failure
// seam was given.  The object is inactive, in window (0: none) at bounds,
// or at its natural size from the bounds' top left when it asks for it.
int32_t QxEmbedLoad(const uint8_t* state, int32_t len, PlatWindow window, const PlatRect& bounds, int32_t* token,
                    uint32_t* loadFlags);
// The object's state as a state file (its natural size kept); 1 for no object.
int32_t QxEmbedSave(int32_t token, std::vector<uint8_t>* out);
// Destroys the object (releasing the host's reference on its dispatch
// interface); 1 for no object.
int32_t QxEmbedDestroy(int32_t token);
// Activates in place (on) or deactivates; 1 for no object.
int32_t QxEmbedActivate(int32_t token, bool on);
// The misc flags (kQxEmbedMisc*); 0 for no object.
uint32_t QxEmbedMiscFlags(int32_t token);
// Moves the object into a window (0: none); 1 for no object or a window that
// does not exist.
int32_t QxEmbedSetWindow(int32_t token, PlatWindow window);
int32_t QxEmbedSetBounds(int32_t token, const PlatRect& bounds);
int32_t QxEmbedGetBounds(int32_t token, PlatRect* bounds);
// Gives the object the keyboard focus: 0 when it took it, 1 when it refused
// (or there is no object).
int32_t QxEmbedFocus(int32_t token, bool backwards);
int32_t QxEmbedAmbientForeground(int32_t token, uint32_t colour);
int32_t QxEmbedAmbientBackground(int32_t token, uint32_t colour);
int32_t QxEmbedAmbientName(int32_t token, const char* name);
int32_t QxEmbedAmbientFont(int32_t token, const char* face, int32_t size);
// The recorded picture of the object: its size and colour, drawn as the
// colour filling the size with a black frame.
struct QxEmbedPicture {
  int32_t width = 0, height = 0;
  uint32_t colour = 0;
};
int32_t QxEmbedGetPicture(int32_t token, QxEmbedPicture* picture);
// The object's dispatch interface, lent (no reference added); 1 for no object.
int32_t QxEmbedDispatch(int32_t token, PlatComDispatch** out);

// What a test reads back of an object; false for no object.
struct QxEmbedInfo {
  QxEmbedState state;
  PlatWindow window = 0;
  PlatRect bounds{};
  bool active = false, focused = false;
  uint32_t foreground = 0, background = 0;
  std::string name, font;
  int32_t fontSize = 0;
  uint32_t dispatchRefs = 0;  // references on the dispatch interface, the host's included
};
bool QxEmbedQuery(int32_t token, QxEmbedInfo* info);
// The number of live objects.
int32_t QxEmbedCount();
// The failure seam: the next load fails with code (0: none).
void QxEmbedFailNextLoad(int32_t code);
