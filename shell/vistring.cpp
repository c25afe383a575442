#include "shell/vistring.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "engine/exec/runcmd.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/support.h"

namespace {

VIStringHooks gHooks{};

// The VI's kinds that have strings to import, and the execution-state bits
// of a running VI.
constexpr int16 kKindVI = 2, kKindGlobal = 4, kKindControl = 6;
constexpr uInt32 kStateRunningBits = 0x2 | 0x8;
constexpr int32 kExcerptBytes = 60;
constexpr int32 kMessageBytes = 4096;
// The result of an import that stopped on an error.
constexpr MgErr kImportFailed = 42;

// The run-time menu word of the VI record: its low two bits are the menu
// kind (0 default, 1 minimal, 2 custom file).
uInt32& RTMenuWord(UHandle vi) { return VIRec(vi)->rtMenuWord; }

// A formatted entry of the message list ("" when it has none).
std::string Message(int32 entry, ...) {
  Str255 format;
  if (RGetIndString(RunTimeRsrcFile(), format, kVIStringMessagesListId, entry) != kNoErr) format[0] = 0;
  char out[kMessageBytes];
  va_list ap;
  va_start(ap, entry);
  const int32 n = SPrintfv(out, kMessageBytes, reinterpret_cast<const char*>(format + 1), format[0], ap);
  va_end(ap);
  return std::string(out, size_t(n < 0 ? 0 : n));
}

// The file text from the position, at most 60 bytes.
void Excerpt(UHandle text, uInt32 position, PStr out) {
  const int32 n = VSLStrLen(text);
  int32 len = position < uInt32(n) ? n - int32(position) : 0;
  if (len > kExcerptBytes) len = kExcerptBytes;
  out[0] = uChar(len);
  if (len) std::memcpy(out + 1, VSLStrBytes(text) + position, size_t(len));
}

void ClassName(ObjHeap heap, uInt32 object, PStr name) {
  name[0] = 0;
  if (object && heap && gHooks.className) gHooks.className(heap, int32(object), name);
}

std::string PathText(Path p) {
  const int32 n = p ? SPrintf(nullptr, "%z", p) : 0;
  if (n <= 0 || n >= kMessageBytes) return std::string();
  char buf[kMessageBytes];
  SPrintf(buf, "%z", p);
  return std::string(buf);
}

// True when the next thing after white space is a tag ("<" not doubled).
bool TagFollows(const ImportStringsRequest* rq) {
  const uChar* b = VSLStrBytes(rq->text);
  const int32 n = VSLStrLen(rq->text);
  int32 p = int32(rq->position);
  while (p < n && (b[p] == ' ' || b[p] == '\t' || b[p] == '\r' || b[p] == '\n')) ++p;
  return p < n && b[p] == '<' && !(p + 1 < n && b[p + 1] == '<');
}

std::string ErrorMessage(const ImportStringsContext& c, ObjHeap heap, UHandle text) {
  Str255 errText, excerpt, cls;
  errText[0] = 0;
  if (int32 entry = VSErrorTextEntry(c.errCode))
    if (RGetIndString(RunTimeRsrcFile(), errText, kVIStringMessagesListId, entry) != kNoErr) errText[0] = 0;
  Excerpt(text, c.errPosition, excerpt);
  if (c.errObject) {
    ClassName(heap, c.errObject, cls);
    return Message(kVSMsgErrorInObject, cls, errText, long(c.errLine), excerpt);
  }
  return Message(kVSMsgError, errText, long(c.errLine), excerpt);
}

std::string WarningTexts(const ImportStringsContext& c, ObjHeap heap, UHandle text, uInt32 viVersion,
                         uInt32 fileVersion) {
  std::string all;
  const int32 kept = c.warnCount < kImportWarningSlots ? c.warnCount : kImportWarningSlots;
  for (int32 i = 0; i < kept; ++i) {
    const ImportStringsWarning& w = c.warnings[i];
    if (!all.empty()) all += "\r\n";
    if (w.code == kVSVersion) {
      Str255 mine, theirs;
      VersToPStr(viVersion, mine);
      VersToPStr(fileVersion, theirs);
      all += Message(kVSMsgVersionWarning, mine, theirs);
    } else {
      Str255 cls, excerpt;
      ClassName(heap, w.object, cls);
      Excerpt(text, w.position, excerpt);
      all += Message(kVSMsgAttrWarning, cls, long(w.line), excerpt);
    }
  }
  return all;
}

void Alert(const std::string& s) {
  Str255 p;
  const size_t n = s.size() < 255 ? s.size() : 255;
  p[0] = uChar(n);
  std::memcpy(p + 1, s.data(), n);
  OneButtonAlert(kAlertPStr, p, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

void FileFailure(MgErr err, uInt8 showAlerts, int32 alertEntry) {
  DBPrintf("ImportVIStrings: error on file operation: %ld", long(err));
  if (showAlerts) Alert(Message(alertEntry));
}

// Opens the log for appending, or creates it.
MgErr OpenLog(Path log, FileRef* ref) {
  if (FMOpen(ref, log, kAccessReadWrite, 1) == kNoErr) {
    if (MgErr err = FMSeek(*ref, 0, kFEnd)) {
      FMClose(*ref);
      return err;
    }
    return kNoErr;
  }
  return FCreate(ref, log, FGetDefPerm(0666), kAccessReadWrite, 1, nullptr);
}

// Reads the whole file into a data-zone counted string.
MgErr ReadWhole(Path file, UHandle* out) {
  FileRef ref = nullptr;
  if (MgErr err = FMOpen(&ref, file, kAccessRead, 1)) return err;
  int32 size = 0;
  MgErr err = FGetEOF(ref, &size);
  UHandle h = nullptr;
  if (!err && (size < 0 || size > 0x7FFFFFFF - 4)) err = kMemFullErr;
  if (!err && !(h = DSNewHandle(size + 4))) err = kMemFullErr;
  int32 actual = 0;
  if (!err) {
    err = FMRead(ref, size, &actual, *h + 4);
    if (err == kEOFErr) err = kNoErr;
  }
  FMClose(ref);
  if (err) {
    if (h) DSDisposeHandle(h);
    return err;
  }
  PutNative32(*h, uInt32(actual < 0 ? 0 : actual));
  *out = h;
  return kNoErr;
}

// Replaces an application-zone counted string with the text (null: none).
bool ReplaceAZText(UHandle* slot, LStrHandle text) {
  const int32 n = VSLStrLen(reinterpret_cast<UHandle>(text));
  UHandle h = *slot;
  if (!h) {
    h = AZNewHandle(4 + n);
    if (!h) return false;
  } else if (AZSetHandleSize(h, 4 + n) != kNoErr) {
    return false;
  }
  PutNative32(*h, uInt32(n));
  if (n) std::memcpy(*h + 4, VSLStrBytes(reinterpret_cast<UHandle>(text)), size_t(n));
  *slot = h;
  return true;
}

// The steps of the section's top level (title to description); an error
// code (recorded by the caller) or 0; *changed set by each change.
int32 ReadTopLevel(UHandle vi, ImportStringsRequest* rq, const VSVIAttrs& attrs, LStrHandle* scratch, bool* changed) {
  // The title.
  if (int32 r = ExpectTag(rq, kTagTITLE, false)) return r;
  int32 tag = -1;
  bool closing = false;
  if (TagFollows(rq))
    if (int32 r = PeekTag(rq, &tag, &closing)) return r;
  int32 titleChanged = 0;
  if (tag == kTagNO_TITLE && !closing) {
    if (int32 r = ReadNoTitleTag(rq)) return r;
    if (SetVITitle(vi, nullptr, &titleChanged) != kNoErr) return kVSMemory;
  } else {
    if (int32 r = ReadElementText(rq, scratch)) return r;
    Str255 title;
    const int32 n = VSLStrLen(reinterpret_cast<UHandle>(*scratch));
    title[0] = uChar(n < 255 ? n : 255);
    std::memcpy(title + 1, VSLStrBytes(reinterpret_cast<UHandle>(*scratch)), title[0]);
    if (SetVITitle(vi, title, &titleChanged) != kNoErr) return kVSMemory;
  }
  if (titleChanged) *changed = true;
  if (int32 r = ExpectTag(rq, kTagTITLE, true)) return r;

  if (attrs.syntaxVersion >= 2) {
    // The help path.
    Path path = nullptr;
    Bool32 differs = 0;
    if (int32 r = ReadOptionalPath(rq, kTagHELP_PATH, VIRec(vi)->helpPath, &path, &differs, 0)) return r;
    if (differs) {
      Path& mine = VIRec(vi)->helpPath;
      if (path && mine) {
        const MgErr err = FPathCpy(mine, path);
        FDisposePath(path);
        if (err) return kVSMemory;
      } else {
        if (mine) FDisposePath(mine);
        mine = path;
      }
      *changed = true;
    } else if (path) {
      FDisposePath(path);
    }
    // The help tag.
    if (int32 r = ReadStringElement(rq, kTagHELP_TAG, scratch)) return r;
    UHandle& helpTag = VIRec(vi)->helpTag;
    if (VSLStrLen(reinterpret_cast<UHandle>(*scratch)) > 0) {
      if (!helpTag || !VSLStrEqual(helpTag, reinterpret_cast<UHandle>(*scratch))) {
        if (!ReplaceAZText(&helpTag, *scratch)) return kVSMemory;
        *changed = true;
      }
    } else if (helpTag) {
      AZDisposeHandle(helpTag);
      helpTag = nullptr;
      *changed = true;
    }
    // The run-time menu, for ordinary VIs.
    if (VIRec(vi)->viKind == kKindVI) {
      int32 type = -1;
      if (int32 r = ReadRTMPathTag(rq, &type)) return r;
      Path menu = nullptr;
      int32 kind = type < 0 ? 0 : type;
      if (type == 2 || type < 0) {
        if (int32 r = PeekTag(rq, &tag, &closing)) return r;
        if (type == 2 || !(tag == kTagRTM_PATH && closing)) {
          if (int32 r = ReadPathElement(rq, &menu, 0)) return r;
          kind = 2;
        }
      }
      if (int32 r = ExpectTag(rq, kTagRTM_PATH, true)) {
        if (menu) FDisposePath(menu);
        return r;
      }
      Path& mine = VIRec(vi)->rtMenuPath;
      const bool sameKind = int32(RTMenuWord(vi) & 3) == kind;
      if (sameKind && !(menu && mine && FPathCmp(menu, mine) != 0)) {
        if (menu) FDisposePath(menu);
      } else {
        if (mine) FDisposePath(mine);
        mine = menu;
        RTMenuWord(vi) = (RTMenuWord(vi) & ~3u) | uInt32(kind);
        *changed = true;
      }
    }
  }
  // The description.
  if (int32 r = ReadStringElement(rq, kTagDESC, scratch)) return r;
  UHandle& description = VIRec(vi)->strings;
  if (VSLStrLen(reinterpret_cast<UHandle>(*scratch)) > 0 &&
      (!description || !VSLStrEqual(description, reinterpret_cast<UHandle>(*scratch)))) {
    if (!ReplaceAZText(&description, *scratch)) return kVSMemory;
    *changed = true;
  }
  return 0;
}

}  // namespace

VIStringHooks SetVIStringHooks(const VIStringHooks& hooks) {
  const VIStringHooks former = gHooks;
  gHooks = hooks;
  return former;
}

int32 VSErrorTextEntry(int32 code) {
  if (code >= 1 && code <= 9) return 16 + code;
  if (code >= 12 && code <= 19) return 14 + code;
  return 0;
}

int32 FindVISection(ImportStringsRequest* rq, ConstPStr viName) {
  rq->position = 0;
  rq->context->line = 1;
  for (;;) {
    SkipWhiteSpace(rq);
    if (rq->position >= uInt32(VSLStrLen(rq->text))) return kVSNoSection;
    const uInt32 start = rq->position;
    const int32 line = rq->context->line;
    VSVIAttrs attrs;
    if (ReadVITag(rq, &attrs, false) == 0 && PStrCaseEqual(attrs.name, viName)) {
      rq->position = start;
      rq->context->line = line;
      return 0;
    }
    rq->position = start;
    rq->context->line = line;
    if (SkipVISection(rq)) return kVSNoSection;
  }
}

MgErr ImportVIStrings(UHandle vi, Path stringFile, uInt8 showAlerts, Path logFile) {
  if (!vi || !*vi) return kArgErr;
  const int16 kind = VIRec(vi)->viKind;
  if (kind != kKindVI && kind != kKindGlobal && kind != kKindControl) return kNoErr;
  if (VIRec(vi)->eState & kStateRunningBits) return kNoErr;
  const bool logWanted = logFile && FIsAPath(logFile) && !FIsEmptyPath(logFile) && FPathCmp(logFile, stringFile) != 0;
  if (!VIRec(vi)->panelHeap)
    if (MgErr err = LoadFPHeap(vi)) return err;
  ObjHeap heap = VIRec(vi)->panelHeap;
  if (!heap) return kArgErr;

  UHandle text = nullptr;
  if (MgErr err = ReadWhole(stringFile, &text)) {
    FileFailure(err, showAlerts, kVSMsgFileAlert);
    return err;
  }
  ImportStringsContext context;
  InitImportContext(&context);
  ImportStringsRequest rq{};
  rq.text = text;
  rq.context = &context;
  const bool wasImporting = VIRec(vi)->flags & kVIFlagImporting;
  VIRec(vi)->flags |= kVIFlagImporting;

  LStrHandle scratch = reinterpret_cast<LStrHandle>(DSNewHandle(100));
  Str255 viName;
  PStrCpy(viName, VIRec(vi)->name);
  bool changed = false;
  int32 reply = 0;
  VSVIAttrs attrs;
  int32 r = scratch ? FindVISection(&rq, viName) : kVSMemory;
  if (r) {
    rq.position = 0;
    context.line = 1;
  }
  if (!r) r = ReadVITag(&rq, &attrs, true);
  if (!r && attrs.version != int32(VIRec(vi)->version))
    RecordImportError(&context, kVSVersion, 0, rq.position);
  if (!r && !PStrCaseEqual(attrs.name, viName)) {
    rq.position = 0;
    r = kVSNoSection;
  }
  rq.syntaxVersion = attrs.syntaxVersion;
  if (!r) r = ReadTopLevel(vi, &rq, attrs, &scratch, &changed);
  if (!r) {
    reply = gHooks.importPanel ? gHooks.importPanel(heap, &rq) : RecordImportError(&context, kArgErr, 0, rq.position);
    if (reply & kImportChanged) changed = true;
    if (!(reply & (kImportStop | kImportNoMemory))) r = ExpectTag(&rq, kTagVI, true);
  }
  if (changed || (reply & kImportChanged)) VIDocMod(vi, nullptr, kVIStringsDocMod);
  if (!wasImporting) VIRec(vi)->flags &= ~kVIFlagImporting;
  if (r) {
    if (rq.position) SkipWhiteSpace(&rq);  // the message points at what follows
    RecordImportError(&context, r, 0, rq.position);
  }

  // The log and the alerts.
  MgErr result = kNoErr;
  const bool failed = context.errCode != -1;
  std::string body;
  if (failed) body = ErrorMessage(context, heap, text);
  else if (context.warnCount > 0)
    body = WarningTexts(context, heap, text, VIRec(vi)->version, uInt32(attrs.version));
  if (logWanted) {
    FileRef log = nullptr;
    if (MgErr err = OpenLog(logFile, &log)) {
      FileFailure(err, showAlerts, kVSMsgLogAlert);
      result = err;
    } else {
      const std::string path = PathText(stringFile);
      std::string header;
      if (failed) header = Message(kVSMsgHeaderError, viName, path.c_str());
      else if (context.warnCount > 0) header = Message(kVSMsgHeaderWarnings, long(context.warnCount), viName, path.c_str());
      else header = Message(kVSMsgHeaderDone, viName, path.c_str());
      const std::string rule = std::string(44, '#') + "\r\n";
      const uInt32 now = TimeInSecs();
      char date[kLocaleDateBufSize];
      DateToLocaleCStr(now, 2, date);  // the locale's long format
      std::string when = date;
      when += " ";
      when += TimeCString(now, 1);
      const std::string entry = rule + header + when + "\r\n" + rule + body;
      if (FPrintf(log, "%s", entry.c_str()) < 0) result = kFileIOErr;
      FFlush(log);
      FMClose(log);
    }
  }
  if (showAlerts && !body.empty() && result == kNoErr) Alert(body);

  if (scratch) DSDisposeHandle(reinterpret_cast<UHandle>(scratch));
  DSDisposeHandle(text);
  if (result) return result;
  if (reply & kImportNoMemory) return kMemFullErr;
  if (failed) return kImportFailed;
  return kNoErr;
}
