// What every service object of the host shares: the object the module sees
// with the host's state behind it, method tables whose unused slots stop the
// run, and reference counting that notices over-release.
#pragma once

#include <stddef.h>

#include <array>
#include <string>
#include <utility>

#include "host/abi.h"
#include "standin_host/records/problem_list.h"

// Statuses the host's services answer when they refuse a request.
constexpr Status kHostNoInterface = 0x80004002u;
constexpr Status kHostInvalidArgument = 0x80070057u;

// The object the module sees, and the host state behind it. Standard layout,
// so a pointer to `iface` is a pointer to the whole.
template <typename Interface, typename State>
struct ServiceObject {
  Interface iface;
  State* state;
};

// Which host object a method table belongs to, for messages.
enum ServiceKind : int {
  kInstanceKind,
  kCallbackKind,
  kAllocatorKind,
  kRegistryKind,
  kDictionaryKind,
  kDialogKind
};

// A slot this host does not offer has no known arguments, so no call to it
// can return safely under __stdcall: the run stops there.
[[noreturn]] void StopOnUnexpectedSlot(int kind, int slot);

template <int Kind, int Slot>
void PLUGIN_CALL UnexpectedSlot() {
  StopOnUnexpectedSlot(Kind, Slot);
}

template <int Kind, size_t... Slots>
std::array<AnyMethod, sizeof...(Slots)> UnexpectedTable(std::index_sequence<Slots...>) {
  return {{&UnexpectedSlot<Kind, static_cast<int>(Slots)>...}};
}

template <typename Fn>
AnyMethod Slot(Fn fn) {
  return reinterpret_cast<AnyMethod>(fn);
}

template <typename State, typename Interface>
State* StateOf(Interface* iface) {
  return reinterpret_cast<ServiceObject<Interface, State>*>(iface)->state;
}

Status NoInterface(void** out);
uint32_t CountRelease(int32_t* references, ProblemList* problemList, const char* what);

std::string FormatGuid(const Guid& guid);
bool SameGuid(const Guid& a, const Guid& b);
