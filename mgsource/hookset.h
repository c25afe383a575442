// Start-up hook sets: a layer keeps a struct of function pointers that the
// layers above it fill at start-up, one setter a struct.
#pragma once

// Copies the members named that are given (non-null) into *slots and keeps
// the others; returns the former set.
template <class Hooks, class... Fn>
Hooks SetGivenHooks(Hooks* slots, const Hooks& given, Fn Hooks::*... members) {
  Hooks old = *slots;
  ((given.*members ? void(slots->*members = given.*members) : void()), ...);
  return old;
}
