// The host's side of the contract: the instance header and the services the
// module calls, with their slot positions. Slot numbers are binary interface.
#pragma once

#include "host/abi.h"

struct HostCallback {
  const AnyMethod* methods;
};
struct HostAllocator {
  const AnyMethod* methods;
};
struct HostRegistry {
  const AnyMethod* methods;
};
struct HostDictionary {
  const AnyMethod* methods;
};
struct HostDialogService {
  const AnyMethod* methods;
};

// The leading words of every class instance, filled by the host. Word 0 is
// the instance's own method table, so the instance is itself an interface.
struct HostObjectHeader {
  const AnyMethod* instanceMethods;
  uint32_t unused;
  HostCallback* callback;
  HostAllocator* allocator;
};

enum HostCallbackSlot : int { kCallbackOpenResourceScope = 5, kCallbackCloseResourceScope = 6 };
enum HostAllocatorSlot : int { kAllocatorAllocate = 3, kAllocatorFree = 4 };
enum HostRegistrySlot : int { kRegistryAddEntry = 7 };
enum HostDictionarySlot : int { kDictionaryPutValue = 6 };
enum HostDialogServiceSlot : int { kDialogServiceRunModalDialog = 41 };

// Type codes of HostDictionary::PutValue.
enum PutValueType : uint32_t { kValueAnsiText = 9, kValueInt32 = 3 };

// {AC96CF89-0045-5879-0000-0040105023FB}
constexpr Guid IID_HostDialogService = {
    0xAC96CF89, 0x0045, 0x5879, {0x00, 0x00, 0x00, 0x40, 0x10, 0x50, 0x23, 0xFB}};

// A standard dialog procedure (DLGPROC on Win32).
typedef intptr_t(PLUGIN_CALL* DialogProcFn)(void* window, uint32_t message, uintptr_t wParam,
                                            intptr_t lParam);

typedef void*(PLUGIN_CALL* OpenResourceScopeFn)(HostCallback* self, void* module, uint32_t* cookie);
typedef Status(PLUGIN_CALL* CloseResourceScopeFn)(HostCallback* self, void* module,
                                                  uint32_t cookie);
typedef void*(PLUGIN_CALL* AllocateFn)(HostAllocator* self, uint32_t size);
typedef Status(PLUGIN_CALL* FreeFn)(HostAllocator* self, void* block);
typedef Status(PLUGIN_CALL* AddEntryFn)(HostRegistry* self, uint32_t entryValue,
                                        const Guid* classId, const Guid* interfaceId,
                                        HostDictionary** dictionary);
typedef Status(PLUGIN_CALL* PutValueFn)(HostDictionary* self, uint32_t type, const void* value,
                                        uint32_t reserved, const char* key);
typedef intptr_t(PLUGIN_CALL* RunModalDialogFn)(HostDialogService* self, void* instance,
                                                int32_t dialogId, DialogProcFn proc);

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(HostObjectHeader) == 16, "four 32-bit words");
static_assert(offsetof(HostObjectHeader, callback) == 8, "callback is word 2");
static_assert(offsetof(HostObjectHeader, allocator) == 12, "allocator is word 3");
#endif
