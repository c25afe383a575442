// What the VI server keeps of its start.  The TCP server's own start and
// listener are in server/tcpserver.h.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "server/tcpserver.h"

// Whether the TCP listener runs (the host access list denies everyone
// while it does not).  The listener records its state; the setter is also
// for tests.
Bool32 SrvIsListening();
void SrvTestSetListening(Bool32 on);
// The end of shut-down: the TCP server's connections, log and tables and
// the access lists are let go.
void SrvDisposeStartState();
