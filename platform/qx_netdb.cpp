#include "platform/qx_netdb.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {
std::atomic<PlatResolverProc> gResolver{nullptr};
std::atomic<PlatReverseResolverProc> gReverse{nullptr};
}

bool PlatHostByName(const char* name, uint32_t* address) {
  if (!name || !address) return false;
  if (PlatResolverProc p = gResolver.load()) return p(name, address);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &res) != 0 || !res) return false;
  bool found = false;
  for (addrinfo* a = res; a; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
      *address = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(res);
  return found;
}

bool PlatHostByAddr(uint32_t address, char* name, size_t size) {
  if (!name || size == 0) return false;
  if (PlatReverseResolverProc p = gReverse.load()) return p(address, name, size);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  return getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof a, name, socklen_t(size), nullptr, 0, NI_NAMEREQD) == 0;
}

bool PlatHostName(char* name, size_t size) {
  if (!name || size == 0) return false;
  if (gethostname(name, size) != 0) return false;
  name[size - 1] = 0;
  return true;
}

uint32_t PlatInetAddr(const char* text) {
  in_addr a{};
  if (!text || !inet_aton(text, &a)) return kPlatInAddrNone;
  return a.s_addr;
}

void PlatInetNtoa(uint32_t address, char out[16]) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void PlatSetResolverHook(PlatResolverProc proc) { gResolver.store(proc); }
void PlatSetReverseResolverHook(PlatReverseResolverProc proc) { gReverse.store(proc); }
