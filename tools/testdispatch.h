// A dispatch class for tests of the automation client, served by the
// component layer's class table: a method with an optional middle argument,
// a twin class that takes no named arguments, properties (one with an
// index), a method that raises an exception, and a running instance.
#pragma once
#include <cstdint>
#include <string>

#include "platform/qx_comvar.h"

extern const PlatGuid kTestDispatchClass;
extern const PlatGuid kTestDispatchTwinClass;  // the same members, no named arguments

enum : int32_t {
  // Join(a, [b], c): the text of each argument joined by "|", "missing" for
  // an absent one; a and c are required.
  kTestMemberJoin = 1,
  // Value: a variant property (get, put, put by reference).
  kTestMemberValue = 2,
  // Fail(): raises the exception set with TestDispatchSetException.
  kTestMemberFail = 3,
  // Item(index): a variant property of four entries.
  kTestMemberItem = 4,
};

// Registers (or removes) both classes.
void TestDispatchRegister();
void TestDispatchRevoke();
// Announces a new object of the class as its running one (on), or withdraws
// it (off).  The running object, with a reference for the caller, or null.
PlatHResult TestDispatchSetRunning(bool on);
PlatComDispatch* TestDispatchRunning();
// The texts of the exception Fail raises (empty: absent).
void TestDispatchSetException(const std::string& source, const std::string& description,
                              const std::string& helpFile, uint32_t context);

struct TestDispatchCounts {
  int32_t live;         // objects alive
  int32_t made;         // objects made
  int32_t runs;         // starts of the running state
  int32_t lastFlags;    // the call kind of the last call
  uint32_t lastNamed;   // named arguments of the last call
  uint32_t lastCount;   // arguments of the last call
  int32_t calls;        // calls of any member
};
TestDispatchCounts TestDispatchCountsNow();
// The references an object of the class holds now.
uint32_t TestDispatchRefs(PlatComDispatch* object);
