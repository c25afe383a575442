// Recording drawing calls into a picture and playing pictures back.
//
// While a picture is the drawing target every host primitive hands its
// opcode and arguments to DRecordPictOp instead of drawing.  Pens and fonts
// are stored as indexes into the picture's definition list (the opcode 30
// to 33 records in stream order), unless the picture holds live
// references.  IDrawPicture walks the records and repeats the calls through
// the current port, mapped from the picture's frame to a destination.
//
// Pictures come from resources, files and diagram data: playback reads no
// byte past the picture, skips records whose fields do not fit their data
// or whose indexes lie outside the definition list, and undoes everything
// it made, also when the walk ends early.  User-interface thread only.
#pragma once
#include "mgsource/draw/pictops.h"
#include "mgsource/extcode.h"

// Appends one record to the picture being recorded: pens (2, 3) and fonts
// (18) other than -1 go through PictDefineRef unless the picture is live.
// After the first append that fails nothing more is written into that
// picture (the memory-full condition stays pending).  No picture being
// recorded is reported.
void DRecordPictOp(int32 opcode, const PictOpArgs* args);
// The definition index of a pen (kind 30) or font (31) in the picture being
// recorded, writing its definition first when there is none yet; a
// standard font gives its number - 100.  -1 when the definition can't be
// written (or the pen does not exist): the caller then records nothing.
int32 PictDefineRef(int32 kind, int32 x);
// Records a text record (opcode 19) as a copy that the picture owns and
// disposes when it is released; the copy is disposed again when the record
// can't be appended.
void DRecordTextRecord(UHandle record);

// The recorder's start and end for a picture made the target (IOpen and
// IClose): the start empties the picture and its definition table, the end
// turns the table into the picture's pen count.
void PictBeginRecording(int32 image);
void PictEndRecording(int32 image);
// True once an append into the picture being recorded failed.
bool PictRecordingFailed();

// Plays a picture (kind 9) into dstRect of the current port; subRect and
// the colours are not used (the records hold theirs).  A picture playing
// into itself, and pictures nested deeper than a few levels through their
// image records, are reported and not played.
QX_EXTERN_C int32 IDrawPicture(int32 image, const Rect* subRect, const Rect* dstRect, DColor fore, DColor back,
                               DColor bwFore, DColor bwBack);
