// Binary conventions shared by the module and the host: calling convention,
// statuses and identifiers. No platform headers, so the platform-free parts
// build anywhere.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Spelled the way every Windows compiler understands, MSVC's included.
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define PLUGIN_CALL __stdcall
#else
#define PLUGIN_CALL
#endif

typedef uint32_t Status;

constexpr Status STATUS_OK = 0;
constexpr Status ERR_OUT_OF_MEMORY = 0x80040002u;
constexpr Status ERR_IN_USE = 0x80040003u;
constexpr Status ERR_NO_INTERFACE = 0x80040004u;
constexpr Status ERR_NO_CLASS = 0x80040005u;
// Generic failure, for a platform failure that carries no error code.
constexpr Status ERR_FAIL = 0x80004005u;

// Windows in-memory GUID layout.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16, "GUID is 16 bytes");

// Every interface slot is stored as this type and cast to its real signature
// at the call.
typedef void(PLUGIN_CALL* AnyMethod)();

// Positions shared by every interface.
enum UnknownSlot : int { kSlotQueryInterface = 0, kSlotAddRef = 1, kSlotRelease = 2 };

typedef Status(PLUGIN_CALL* QueryInterfaceFn)(void* self, const Guid* iid, void** out);
typedef uint32_t(PLUGIN_CALL* AddRefFn)(void* self);
typedef uint32_t(PLUGIN_CALL* ReleaseFn)(void* self);

// Calls slot `slot` of any object whose first word is its method table.
template <typename Fn>
inline Fn MethodAt(const void* object, int slot) {
  return reinterpret_cast<Fn>((*static_cast<const AnyMethod* const*>(object))[slot]);
}
