// The clipboard of the platform layer, shared by every thread of the process.
//
// One thread at a time holds it open for one owner window; opening fails
// while another owner (or the same window from another thread) holds it.
// Emptying frees every item and makes the opener the clipboard's owner.  An
// item is a handle the clipboard takes over: text and OEM text are global
// blocks (qx_globalmem.h) holding NUL-terminated text, a bitmap or a palette
// is a drawing object (qx_drawobj.h).  Each format has a check that refuses
// handles that are freed or of the wrong kind, and a deleter that frees what
// the clipboard holds when it is emptied or the item replaced.  Metafiles
// (qx_metafile.h) are checked and deleted as metafile handles; another
// handler may be installed in their place.
//
// Viewers form a chain: the clipboard knows only its head; each viewer keeps
// the next one and passes the change message on.  When the clipboard is
// closed after a change, the head receives DrawClipboard.
#pragma once
#include <cstdint>
#include <string>

#include "platform/qx_window.h"

enum PlatClipFormat : uint32_t {
  kPlatClipText = 1,
  kPlatClipBitmap = 2,
  kPlatClipOemText = 7,
  kPlatClipPalette = 9,
  kPlatClipMetafile = 14,
};

// What a format's items are checked and freed with; both are called without
// the clipboard's lock held.
typedef bool (*PlatClipValidProc)(uintptr_t data);
typedef void (*PlatClipDeleteProc)(uintptr_t data);
// Installs the handler of one of the formats above (null procedures remove
// it); false for another format.
bool PlatClipboardSetFormatHandler(uint32_t format, PlatClipValidProc valid, PlatClipDeleteProc del);

// Opens the clipboard for owner (0: the calling thread alone).  False with
// kPlatErrAccessDenied while another owner or thread holds it, with
// kPlatErrInvalidHandle for an owner window that does not exist.  Opening
// again by the holder succeeds; one close closes it.  A thread that ends
// holding it closes it.
bool PlatOpenClipboard(PlatWindow owner);
// Closes it; false (kPlatErrAccessDenied) when the calling thread does not
// hold it.  After a change the viewer chain is told.
bool PlatCloseClipboard();
// Frees every item and makes the opener the owner; only the holder.
bool PlatEmptyClipboard();
// Puts an item, replacing (and freeing) the one of the same format.  The
// clipboard owns data once this succeeds; on failure the caller keeps it:
// kPlatErrAccessDenied when not held by the caller, kPlatErrInvalidParam
// for a format without a handler or a handle the clipboard already holds
// under another format, kPlatErrInvalidHandle for data its check refuses.
bool PlatSetClipboardData(uint32_t format, uintptr_t data);
// The item of a format, still owned by the clipboard; 0 when there is none
// or the caller does not hold the clipboard.
uintptr_t PlatGetClipboardData(uint32_t format);
bool PlatIsClipboardFormatAvailable(uint32_t format);
// The window that emptied the clipboard last (0 for none).
PlatWindow PlatGetClipboardOwner();
// The thread holding the clipboard open, 0 when it is closed.
uint32_t PlatClipboardHolder();

// Makes w the head of the viewer chain and returns the previous head (0
// for none), which w keeps as its next viewer.  0 with kPlatErrInvalidHandle,
// and no change, for a window that does not exist.
PlatWindow PlatSetClipboardViewer(PlatWindow w);
// Takes remove out of the chain: when it is the head, next becomes the head;
// otherwise the head is sent ChangeCBChain(remove, next), which each viewer
// passes on until the one before remove links to next.  False for a null
// window.
bool PlatChangeClipboardChain(PlatWindow remove, PlatWindow next);
PlatWindow PlatGetClipboardViewer();

// A display's selection behind the clipboard.  taken: a change was closed,
// the display's selection becomes ours.  foreign: another program owns the
// selection now; then text is read from it (readText, CR LF line ends, code
// page 1252) in place of the clipboard's own, and hasText answers for it.
// All are called without the clipboard's lock; null removes the host.
struct PlatClipboardHost {
  void (*taken)();
  bool (*foreign)();
  bool (*hasText)();
  bool (*readText)(std::string* out);
};
void PlatClipboardSetHost(const PlatClipboardHost* host);

// Empties, closes and forgets the chain (tests and shut-down).
void PlatClipboardReset();
