// What the application properties and the VI methods of the local
// application ask of the layers above the server (the shell, the panels,
// the automation client), which the server does not link: filled by the
// program's start-up.  A member left null answers as a run-time without that
// layer would: no control is found, no panel is reinitialised, no version
// text, no default directory, nothing written, no variant converted (1043).
#pragma once
#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"

struct ServerUIHooks {
  // ---- Panels -----------------------------------------------------------------
  // The panel's control whose label reads the text (the shell's
  // FindCtlByLabel), 0 when none; the text of a control's label (the
  // shell's ObjGetLabelText of the object it shows), null when it has none.
  int32 (*findCtlByLabel)(ObjHeap heap, const LStr* label);
  LStrHandle (*labelText)(ObjHeap heap, int32 object);
  // The panel's controls and indicators in panel order: the index-th (from
  // 0), 0 past the last, negative for an entry that is no control.
  int32 (*controlAt)(ObjHeap heap, int32 index);
  // A control's type descriptor (null when it has none), whether it is an
  // indicator, and where its operate data lies (null when nowhere).
  const TypeDescriptor* (*controlType)(ObjHeap heap, int32 control);
  Bool32 (*isIndicator)(ObjHeap heap, int32 control);
  void* (*operateData)(ObjHeap heap, int32 control);
  // The control's operate data has just changed from old: it is shown and
  // handed to the diagram.
  void (*showValue)(ObjHeap heap, int32 control, const void* old);
  // The panel's reinitialise-to-defaults action in a transaction: its result
  // bits (0x10 failed).
  int32 (*reinitialise)(ObjHeap heap);
  // ---- Automation variants -----------------------------------------------------
  // A value into a variant (16 bytes, cleared first), a variant into an
  // initialised value of the type: 0 or an HRESULT.
  int32 (*toVariant)(const void* data, const TypeDescriptor* td, void* variant);
  int32 (*fromVariant)(const void* variant, void* data, const TypeDescriptor* td);
  // ---- The shell -----------------------------------------------------------------
  // The version text of the run-time resource file.
  ConstPStr (*versionText)();
  // The file dialog's default directory: copied into out (an existing path),
  // or set (the folder must exist).
  MgErr (*getDefaultDir)(Path out);
  MgErr (*setDefaultDir)(Path folder);
  // Writes an access list to its preference key, or removes the key when the
  // list is the default (tcpList: the TCP list, else the exported-VI list).
  MgErr (*writeAccessList)(Bool32 tcpList, CPStrHandle list);
};
void SetServerUIHooks(const ServerUIHooks& hooks);
const ServerUIHooks& ServerUI();
