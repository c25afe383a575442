#include "server/srvstart.h"

#include <atomic>

#include "server/access.h"

namespace {

std::atomic<Bool32> gListening{0};

}  // namespace

Bool32 SrvIsListening() { return gListening.load(); }
void SrvTestSetListening(Bool32 on) { gListening.store(on ? 1 : 0); }

void SrvDisposeStartState() {
  TCPServerDispose();
  QXSDisposeAccessLists();
}
