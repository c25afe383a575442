#include "rtlib/filehooks.h"

#include <string>

#include "engine/shellsvc.h"
#include "platform/qx_alert.h"
#include "rtlib/datalog.h"

namespace {

MgErr NoDialog(int32, int32, ConstPStr, Path, PStr, ConstPStr, int32) { return kCancelErr; }
// The host's temporary folder until the shell names its own.
MgErr HostTempDir(Path out) {
  Path host = nullptr;
  if (MgErr err = FTempDirPath(&host)) return err;
  MgErr err = FPathCpy(out, host);
  FDisposePath(host);
  return err;
}
MgErr NoFolder(Path) { return kFileNotFoundErr; }
Bool32 NoTarget(UHandle) { return 0; }
Bool32 NotARefnum(uInt32) { return 0; }
int32 NoCallByRef(int32, void*, void*) { return kCapabilityErr; }


// Installs a table of hooks: the given one (the defaults when null), each
// listed member that is left null taking its default.
template <class Table, class... Member>
void Install(Table& live, const Table* given, const Table& defaults, Member Table::*... members) {
  live = given ? *given : defaults;
  ((live.*members = live.*members ? live.*members : defaults.*members), ...);
}

const FileShellHooks kDefaultShell{&HeadlessTwoButtonAlert, &NoDialog,   &HostTempDir, &NoFolder,
                                   &NoFolder,               &NoTarget,   &NotARefnum};
const RefnumKindHooks kDefaultKinds{&NotARefnum, &NotARefnum, &NotARefnum, &NotARefnum, &NotARefnum, &NoCallByRef};

// Filled at start-up, before any diagram runs; read without a lock after.
FileShellHooks gShell = kDefaultShell;
RefnumKindHooks gKinds = kDefaultKinds;
DatalogProcs gDatalog = DatalogFileProcs();

}  // namespace

int32 HeadlessTwoButtonAlert(int32 kind, const void* message, ConstPStr /*button1*/, ConstPStr /*button2*/,
                             int32 defaultButton, int32 /*h*/, int32 /*v*/) {
  std::string text;
  if (kind == kAlertCStr) {
    if (message) text = static_cast<const char*>(message);
  } else if (kind == kAlertPStr) {
    if (const uChar* p = static_cast<const uChar*>(message)) text.assign(reinterpret_cast<const char*>(p + 1), p[0]);
  }
  // OK and Cancel, or Yes and No when the second button is the default:
  // headless, the answer is the default one.
  const int32 answer = PlatAlert(nullptr, text.c_str(), defaultButton == 2 ? kPlatYesNo : kPlatOKCancel, kPlatIconNone);
  return answer == kPlatAnsOK || answer == kPlatAnsYes ? 1 : 0;
}

void SetFileShellHooks(const FileShellHooks* hooks) {
  using H = FileShellHooks;
  Install(gShell, hooks, kDefaultShell, &H::twoButtonAlert, &H::fileDialog, &H::tempDirPath, &H::viLibPath,
          &H::defaultDirPath, &H::targetValid, &H::isMenuRefnum);
}
const FileShellHooks& FileShell() { return gShell; }

void SetRefnumKindHooks(const RefnumKindHooks* hooks) {
  using H = RefnumKindHooks;
  Install(gKinds, hooks, kDefaultKinds, &H::isNetConnection, &H::isVisaSession, &H::isAutomationRefnum,
          &H::isAppRefnum, &H::isVIRefnum, &H::callByRefStep);
}
const RefnumKindHooks& RefnumKinds() { return gKinds; }

void SetDatalogProcs(const DatalogProcs* procs) {
  using P = DatalogProcs;
  Install(gDatalog, procs, DatalogFileProcs(), &P::validRecordType, &P::checkType, &P::convert, &P::create, &P::read,
          &P::write, &P::seek, &P::count);
}
const DatalogProcs& Datalog() { return gDatalog; }

const TypeDescriptor* DatalogRecordType(const TypeDescriptor* refnumType) {
  if (!refnumType) return nullptr;
  const TypeDescriptor* t = SkipTypedefs(refnumType);
  if (!t || t->code != kTDRefnum || t->size < 10) return nullptr;
  const uChar* p = reinterpret_cast<const uChar*>(t);
  int16 kind;
  __builtin_memcpy(&kind, p + 4, 2);
  if (kind != kRefnumDatalog) return nullptr;
  const TypeDescriptor* rec = reinterpret_cast<const TypeDescriptor*>(p + 6);
  if (rec->size < 4 || rec->size > t->size - 6) return nullptr;
  return rec;
}
