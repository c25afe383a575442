// The help method of panel objects (message 38): the picture the help window
// shows for an object, its caption or label with the description laid out
// below in a box of a fixed proportion, the key-navigation key named first.
// Descriptions and labels come from VI files: any length, any tags.
// User-interface thread only.
#pragma once
#include "mgsource/window/textrec.h"
#include "panel/objects.h"

// Where a finished description picture goes (the help window takes it);
// filled at start-up.  Without a taker the picture is released.
typedef void (*HelpImageTaker)(int32 picture);
void SetHelpImageTaker(HelpImageTaker taker);
HelpImageTaker HelpImageTakerInUse();

// The texts the method reads from the run-time resource file.
constexpr int32 kHelpNoDescriptionStrId = 2025;  // "No description available."
constexpr int32 kHelpKeyNavTitleList = 12001;    // entry 1 "Key Navigation"
constexpr int32 kHelpKeyNameList = 11110;        // entry n + 1: the key of navigation slot n

// A text-edit record (word-wrapped, application font, transparent
// background) over rect holding the text split at the exact tags "<B>" and
// "</B>", which are left out: text after "<B>" is set in the emphasised
// application font, text after "</B>" in the application font again.  Null
// when memory runs out.
QX_EXTERN_C TRecord HelpStyledText(const Rect* rect, const uChar* text, int32 length);
// The height of the record's text once laid out.
int32 HelpTextHeight(TRecord record);

// The box of a description w pixels wide and h high on one line under a
// label labelWidth wide: H = h + floor(sqrt(w * h / 1.62)) (in doubles, so
// long descriptions do not overflow), W = max(labelWidth, H * 13 / 8).
void HelpBoxSize(int32 w, int32 h, int32 labelWidth, int32* boxH, int32* boxW);
// Lengthens the record's rectangle by h and widens it by h * 13 / 8 up to
// ten times while the text does not fit; when it still does not, the
// rectangle becomes the text's own.  The final rectangle out.
void HelpFitText(TRecord record, int32 h, Rect* rect);

// The method of the data display classes: builds the picture and hands it
// to the help window; 1, or 0 when there is no text or no picture.
QX_EXTERN_C int32 DDOOHelpMethod(ObjHeap heap, int32 object, int32 part);
// The class's own method of slot 38 (null where the class has none).
ObjMethodAddr OHelpMethodFor(int32 cls);
// The VI an object stands for in the help window: the panel's VI for the
// panel itself, the type definition's VI for a type definition or an object
// inside one, else the panel's VI for a data display object (a controller
// answers for its display object); null for objects of other kinds.
QX_EXTERN_C UHandle OHelpVIOf(ObjHeap heap, int32 object);
// 1 when some object on the panel (or the display object of a controller
// there) has a non-empty description.
QX_EXTERN_C Bool32 PanelHasDescription(ObjHeap heap);
// Forgets the default description read on first use (tests).
void HelpForgetDefaultDescription();
