#include "server/srvstatus.h"

void SrvStatusText(PStr text) {
  if (text) text[0] = 0;
}
