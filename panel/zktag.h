// The process-wide tag list: the names "Tag" controls accept.  Installed as
// an application-zone handle of a count and packed 5-byte entries (an LStr
// handle of the name, a flag byte), guarded by the tag-list mutex; callers
// pass lists of the same layout in data-zone handles.
#pragma once
#include "panel/objects.h"

// Replaces the installed list by a copy of list (null: an empty list) and
// redraws the tag controls of every open panel.  1 for a list that fails its
// checks (the installed list stays as it was), 2 when memory runs out (no
// list stays installed).
QX_EXTERN_C MgErr InstallTagList(UHandle list);
// 1 when the text equals an installed name (letter case ignored), else 0.
QX_EXTERN_C int32 StringInTagList(LStrHandle text);
// Whether the text of the control's part 11 (or of the given part) is an
// installed name; a blank text is not.
QX_EXTERN_C int32 IsValidTag(ObjHeap heap, int32 control, int32 textPart);
// The item provider of tag controls over the installed list (another list
// answers 0): a negative index answers the count; otherwise *text points at
// a copy of the name held for the calling thread until its next call,
// *attributes is 33 for an entry whose flag byte is set, and the result is
// the name's length (an empty text, attributes 0 and 0 past the end).
QX_EXTERN_C int32 TagListItem(ObjHeap heap, int32 object, UHandle list, const uChar** text, int32* attributes,
                              int32 index);
// The installed list, null when none is.
UHandle TagListHandle();
// Start-up: the mutex and the empty list; shut-down: both disposed.
QX_EXTERN_C MgErr InitTagLists();
QX_EXTERN_C void DisposeTagLists();

// The nearest array up the owner chain whose element (word 10) is the step
// below, 0 when there is none.
QX_EXTERN_C int32 FindOwnerArray(ObjHeap heap, int32 object);
