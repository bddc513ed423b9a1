// The memory a faulting instruction addressed, worked out from its bytes and
// the registers, for when the platform does not say: under a user-mode
// emulator a fault on an inaccessible page reaches the process as an illegal
// instruction, without the address an access violation carries.
#pragma once

#include <windows.h>

struct MemoryOperand {
  const void* address;
  bool write;
};

// False when the instruction is not a plain move to or from memory through
// a register-based address.
bool DecodeMemoryOperand(const CONTEXT& context, MemoryOperand* operand);
