// Host names and IPv4 addresses.  Every call is re-entrant: no result lives
// in shared storage.  Addresses are in network byte order.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kPlatInAddrNone = 0xFFFFFFFFu;

// The first IPv4 address of a host name; false when it does not resolve.
bool PlatHostByName(const char* name, uint32_t* address);
// The host name of an address; false when the reverse look-up fails.
bool PlatHostByAddr(uint32_t address, char* name, size_t size);
// This machine's name; false on failure.
bool PlatHostName(char* name, size_t size);
// Dotted text (also the short forms "a", "a.b", "a.b.c") to an address;
// kPlatInAddrNone when the text is not one, and for "255.255.255.255".
uint32_t PlatInetAddr(const char* text);
// The dotted text of an address.
void PlatInetNtoa(uint32_t address, char out[16]);

// Test hook: a procedure that answers by-name look-ups in place of the host's
// resolver (null: the host's again).
typedef bool (*PlatResolverProc)(const char* name, uint32_t* address);
void PlatSetResolverHook(PlatResolverProc proc);
// Test hook: a procedure that answers reverse look-ups (address to name) in
// place of the host's resolver (null: the host's again).
typedef bool (*PlatReverseResolverProc)(uint32_t address, char* name, size_t size);
void PlatSetReverseResolverHook(PlatReverseResolverProc proc);
