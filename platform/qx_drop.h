// Files dropped on windows.
//
// A window accepts dropped files while its extended style has
// kPlatWsExAcceptFiles: given at creation, or set through
// PlatSetWindowExStyle or PlatDragAcceptFiles.  A drop of file names on a
// window that accepts them posts it DropFiles with a drop handle in wParam;
// the receiver reads the names and the point through the handle and frees it
// with PlatDragFinish.  Windows that do not accept files get nothing.  Drop
// handles that were finished, and values that never were drop handles, are
// refused by every call.
#pragma once
#include <cstdint>

#include "platform/qx_window.h"

typedef uint32_t PlatDrop;

// The longest file name a drop carries, in bytes without the NUL.
constexpr uint32_t kPlatDropMaxName = 259;
// Asks for the count in PlatDragQueryFile.
constexpr uint32_t kPlatDropCount = 0xFFFFFFFFu;

// False (kPlatErrInvalidHandle) for a window that does not exist.
bool PlatDragAcceptFiles(PlatWindow w, bool accept);
bool PlatAcceptsFiles(PlatWindow w);

// Drops count names at the client point (x, y) of w.  False with
// kPlatErrAccessDenied when w does not accept files (nothing is posted),
// kPlatErrInvalidHandle for a window that does not exist,
// kPlatErrInvalidParam for no names, a null or empty name or one longer
// than kPlatDropMaxName.
bool PlatDropFiles(PlatWindow w, const char* const* names, int32_t count, int32_t x, int32_t y);

// index kPlatDropCount: the number of names.  Otherwise the length of name
// index; with a buffer, the name is copied, cut to size - 1 bytes and
// NUL-terminated, and the bytes copied are returned.  0 for a bad handle or
// index.
uint32_t PlatDragQueryFile(PlatDrop d, uint32_t index, char* buffer, uint32_t size);
// The client point of the drop; false for a bad handle.
bool PlatDragQueryPoint(PlatDrop d, int32_t* x, int32_t* y);
// Frees the handle; false for a bad one.
bool PlatDragFinish(PlatDrop d);
// Drop handles not yet finished (tests look for leaks with it).
int32_t PlatDropLiveCount();
