// Per-thread initialisation of the component layer.
//
// A thread initialises the layer before it uses component objects and undoes
// it before it ends.  The first initialisation of a thread answers 0; each
// further one, in either threading model, answers 1 and must be undone as
// well.  The model of the first call stays the thread's model.
#pragma once
#include <cstdint>

enum : int32_t { kPlatComDone = 0, kPlatComAlready = 1 };

// Initialises the layer for the calling thread: with multithreaded set the
// thread joins the free-threaded model, else it gets an apartment of its own.
int32_t PlatComInit(bool multithreaded);
// Undoes one initialisation of the calling thread; nothing when none is left.
void PlatComUninit();
// The calling thread's count of initialisations not undone yet, and whether
// it is in the free-threaded model (false without any).
int32_t PlatComInitCount();
bool PlatComMultithreaded();
// The initialisations of all threads not undone yet (those of ended threads
// are given back).
int32_t PlatComProcessCount();
