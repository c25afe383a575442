// The embedded-object state file and the container library's entry names.
#include "platform/qx_embed.h"

namespace {

constexpr uint32_t kMagic = 0x5158454F;  // "QXEO"
constexpr uint32_t kVersion = 1;

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

}  // namespace

const char* const kQxContainerNames[kQxContainerSlots] = {
    "QxcInsertObject",         "QxcInsertFile",           "QxcDestroyObject",
    "QxcGetObjectDispatch",    "QxcGetObjectDispatchSingle", "QxcLoadObject",
    "QxcSaveObject",           "QxcSetObjectBounds",      "QxcGetObjectBounds",
    "QxcAdoptObject",          "QxcSetOrigin",            "QxcObjectGetPopupMenu",
    "QxcObjectDoVerb",         "QxcActivateObject",       "QxcDeactivateObject",
    "QxcObjectToPicture",      "QxcOpenEditObject",       "QxcObjAmbBGColorChange",
    "QxcObjAmbFGColorChange",  "QxcObjAmbDisplayNameChange", "QxcObjAmbFontChange",
    "QxcObjAmbUIDeadChange",   "QxcObjAmbUserModeChange", "QxcFocusObject",
    "QxcObjectMiscFlags",      "QxcInsertObjectSilent",   "QxcGetTokenOfObj",
    "QxcSetTokenOfObj"};

std::vector<uint8_t> QxEmbedWriteState(const QxEmbedState& st) {
  std::vector<uint8_t> b;
  b.reserve(kQxEmbedStateSize);
  Put32(b, kMagic);
  Put32(b, kVersion);
  Put32(b, st.kind);
  Put32(b, uint32_t(st.width));
  Put32(b, uint32_t(st.height));
  Put32(b, st.flags);
  Put32(b, st.colour & 0xFFFFFF);
  return b;
}

bool QxEmbedReadState(const uint8_t* p, int32_t len, QxEmbedState* st) {
  if (!p || len < kQxEmbedStateSize || !st) return false;
  if (Get32(p) != kMagic || Get32(p + 4) != kVersion) return false;
  QxEmbedState r;
  r.kind = Get32(p + 8);
  r.width = int32_t(Get32(p + 12));
  r.height = int32_t(Get32(p + 16));
  r.flags = Get32(p + 20);
  r.colour = Get32(p + 24) & 0xFFFFFF;
  if (r.width < 0 || r.height < 0) return false;
  *st = r;
  return true;
}

