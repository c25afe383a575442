// Byte and 16-bit I/O port input and output.
//
// Real in and out instructions run only when the environment variable
// QX_REAL_PORT_IO is "1" and the host grants the calling thread access to
// the port (ioperm for ports below 0x400, the I/O privilege level above);
// the layer asks for that access only under the switch.  Otherwise port
// reads give 0 and writes are dropped, and the first such access writes one
// line to the debug output.
#pragma once
#include <cstdint>

uint8_t PlatPortIn8(uint16_t port);
uint16_t PlatPortIn16(uint16_t port);
void PlatPortOut8(uint16_t port, uint8_t value);
void PlatPortOut16(uint16_t port, uint16_t value);

// Test hook: true makes every access take the simulated path, whatever the
// switch says; false gives the switch back its say.
void PlatPortForceSimulated(bool on);
// True once a simulated access has written its debug line (the line is
// written once per process).  Test hook: PlatPortResetNotice forgets it.
bool PlatPortNoticeWritten();
void PlatPortResetNotice();

// The port routines under the names external code and compiled code call:
// _inp answers the byte read and _inpw the 16-bit word; _outp writes the low
// byte of its value and answers that byte, _outpw writes the word and answers it.
extern "C" int _inp(unsigned short port);
extern "C" unsigned short _inpw(unsigned short port);
extern "C" int _outp(unsigned short port, int value);
extern "C" unsigned short _outpw(unsigned short port, unsigned short value);
