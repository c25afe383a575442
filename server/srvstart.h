// The VI server's and the automation server's start and end as the shell's
// start-up calls them.  No TCP listener or automation server exists on this
// platform: the starts answer as a failed start would, the ends do nothing,
// and the access lists are kept.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// Reads the VI server's log keys; when "server.tcp.enabled" is set, the
// listener cannot start: the debug text and 53.  Else 0.
QX_EXTERN_C MgErr TCPServerInit();
// Starts (on) or stops the TCP listener: no listener can start on this
// platform yet, so a start writes the debug text and answers 53; a stop 0.
QX_EXTERN_C MgErr SetServerListening(Bool32 on);
// The log keys as read (a null path or none before TCPServerInit).
struct SrvLogSettings {
  int32 logDetails;
  int32 log;
  Path logPath;
};
const SrvLogSettings& SrvLogKeys();
// The automation server: nothing to start or stop.
QX_EXTERN_C void OleServerStart();
QX_EXTERN_C void OleServerStop();
// Whether the TCP listener runs (the host access list denies everyone
// while it does not).  The setter is for tests: SetServerListening records
// the listener's state itself.
Bool32 SrvIsListening();
void SrvTestSetListening(Bool32 on);
// TCPServerInit's log path and the access lists are let go.
void SrvDisposeStartState();
// Server logging: on or off, and the log file's path (a copy is kept); the
// title names the occasion.  Until the log file is written these keep the
// state only.  GetServerLogging copies the path into path (an existing
// path) and the state into on, either of which may be null.
QX_EXTERN_C MgErr SetServerLogging(Bool32 on, ConstPStr title);
QX_EXTERN_C MgErr SetServerLogPath(Path path, ConstPStr title);
QX_EXTERN_C MgErr GetServerLogging(Path path, Bool32* on);
