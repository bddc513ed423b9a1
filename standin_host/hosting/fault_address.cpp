#include "standin_host/hosting/fault_address.h"

namespace {

// The general registers in the order the instruction set numbers them.
DWORD Register(const CONTEXT& context, int number) {
  const DWORD registers[] = {context.Eax, context.Ecx, context.Edx, context.Ebx,
                             context.Esp, context.Ebp, context.Esi, context.Edi};
  return registers[number & 7];
}

// Moves with a ModRM operand: to memory (88, 89, C6, C7) or from it (8A,
// 8B, and 0F B6/B7/BE/BF, the widening loads). Sets `write`; false for any
// other opcode.
bool IsMove(const BYTE** code, bool* write) {
  BYTE opcode = *(*code)++;
  if (opcode == 0x0F) {
    BYTE second = *(*code)++;
    *write = false;
    return second == 0xB6 || second == 0xB7 || second == 0xBE || second == 0xBF;
  }
  *write = opcode == 0x88 || opcode == 0x89 || opcode == 0xC6 || opcode == 0xC7;
  return *write || opcode == 0x8A || opcode == 0x8B;
}

}  // namespace

bool DecodeMemoryOperand(const CONTEXT& context, MemoryOperand* operand) {
  const BYTE* code = reinterpret_cast<const BYTE*>(context.Eip);
  while (*code == 0x66 || *code == 0xF0) ++code;  // operand size, lock
  if (!IsMove(&code, &operand->write)) return false;
  BYTE modrm = *code++;
  int mod = modrm >> 6;
  int rm = modrm & 7;
  if (mod == 3) return false;  // a register, not memory
  DWORD address = 0;
  if (rm == 4) {
    BYTE sib = *code++;
    int base = sib & 7;
    int index = (sib >> 3) & 7;
    if (index != 4) address += Register(context, index) << (sib >> 6);
    if (base == 5 && mod == 0) {
      address += *reinterpret_cast<const DWORD*>(code);
      code += 4;
    } else {
      address += Register(context, base);
    }
  } else if (rm == 5 && mod == 0) {
    address = *reinterpret_cast<const DWORD*>(code);
    code += 4;
  } else {
    address = Register(context, rm);
  }
  if (mod == 1) address += static_cast<DWORD>(static_cast<signed char>(*code));
  if (mod == 2) address += *reinterpret_cast<const DWORD*>(code);
  operand->address = reinterpret_cast<const void*>(address);
  return true;
}
