// Stand-ins for the host's services and class instances, for tests that call
// the module's code as the host would. Every double writes each call it
// receives into one shared EventLog, so a test can assert the exact order and
// count of host calls across all of them. Slots a double does not implement
// fail the test when called.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "host/host_interfaces.h"
#include "standin_host/user/dialog_driver.h"

namespace host_doubles {

class EventLog {
 public:
  void Add(const std::string& event) { events_.push_back(event); }
  const std::vector<std::string>& events() const { return events_; }
  int Count(const std::string& event) const;
  void Clear() { events_.clear(); }

 private:
  std::vector<std::string> events_;
};

// "ED521726-737B-11CE-8A1D-08000757FC90" in the Windows in-memory layout;
// tests state identifiers as text so a wrong constant in the module shows.
Guid ParseGuid(const char* text);
bool SameGuid(const Guid& a, const Guid& b);
std::string GuidText(const Guid& id);

struct ScopeClose {
  void* module;
  uint32_t cookie;
};

// The HostCallback: resource scopes and the dialog-service query.
struct CallbackDouble {
  explicit CallbackDouble(EventLog* log);

  const AnyMethod* methods;
  const char* name = "callback";
  EventLog* log;

  // What OpenResourceScope yields, and the cookie it writes.
  void* scopeInstance = nullptr;
  uint32_t cookie = 0xC00C1E5u;
  // The answer to QueryInterface(IID_HostDialogService).
  Status queryStatus = STATUS_OK;
  void* queryResult = nullptr;

  std::vector<void*> openedModules;
  std::vector<ScopeClose> closes;
};

// A HostAllocator that hands out blocks filled with `fillPattern` and keeps
// freed blocks (refilled with kFreedPattern) until it is destroyed, so a write
// after Free shows.
struct AllocatorDouble {
  static constexpr uint8_t kFreedPattern = 0xDD;

  explicit AllocatorDouble(EventLog* log);
  ~AllocatorDouble();
  AllocatorDouble(const AllocatorDouble&) = delete;
  AllocatorDouble& operator=(const AllocatorDouble&) = delete;

  const AnyMethod* methods;
  const char* name = "allocator";
  EventLog* log;

  uint8_t fillPattern = 0xCD;
  // 1-based number of the Allocate call that returns null; 0 for none.
  int failAllocation = 0;

  std::vector<uint32_t> sizes;  // every Allocate, failed ones included
  std::vector<void*> blocks;    // every block handed out
  std::vector<void*> freed;

  bool FreedBlocksUntouched() const;
};

// A class instance as the host allocates it: the header at the start of 28
// bytes.
struct HostInstance {
  HostObjectHeader header;
  uint8_t classData[12];
};
static_assert(sizeof(HostInstance) == 28, "class instances are 28 bytes");

// Counts the references the module takes on the instance at its start; the
// bookkeeping after the instance is the test's alone.
struct OwnerInstance {
  static constexpr uint32_t kUnusedWord = 0xAAAAAAAAu;
  static constexpr uint8_t kClassDataPattern = 0xAB;

  OwnerInstance(EventLog* log, CallbackDouble* callback, AllocatorDouble* allocator,
                const char* name = "owner");

  HostInstance object;

  const char* name;
  EventLog* log;

  int addRefs = 0;
  int releases = 0;
  // The answer to any QueryInterface.
  Status queryStatus = 0x80004002u;
  void* queryResult = nullptr;
  const Guid* lastQueryId = nullptr;
  void** lastQueryOut = nullptr;
  // Runs inside each Release, to observe the module's state at that moment.
  std::function<void()> onRelease;

  HostObjectHeader* instance() { return &object.header; }
  // The module uses only the header's three interface words.
  bool InstanceDataUntouched() const;
};

struct PutRecord {
  uint32_t type;
  std::string value;  // text without its terminator, or the integer's 4 bytes
  uint32_t reserved;
  std::string key;
};

struct DictionaryDouble {
  explicit DictionaryDouble(EventLog* log);

  const AnyMethod* methods;
  const char* name = "dictionary";
  EventLog* log;

  // PutValue of `failKey` answers `failStatus` (and stores nothing).
  std::string failKey;
  Status failStatus = STATUS_OK;

  std::vector<PutRecord> puts;
};

struct AddEntryRecord {
  uint32_t entryValue;
  Guid classId;
  Guid interfaceId;
};

struct RegistryDouble {
  RegistryDouble(EventLog* log, DictionaryDouble* dictionary);

  const AnyMethod* methods;
  const char* name = "registry";
  EventLog* log;

  Status addStatus = STATUS_OK;
  DictionaryDouble* dictionary;

  std::vector<AddEntryRecord> entries;
};

struct RunRecord {
  void* instance;
  int32_t dialogId;
  DialogProcFn proc;
};

// The dialog service. With a `user`, RunModalDialog really runs the dialog
// from the given instance through the platform's dialog manager and `user`
// acts on it once it is open; without one it answers `fixedResult` and shows
// nothing.
struct DialogServiceDouble {
  explicit DialogServiceDouble(EventLog* log);

  const AnyMethod* methods;
  const char* name = "service";
  EventLog* log;

  std::function<void(HWND)> user;
  DialogCharset charset = DialogCharset::kAnsi;
  intptr_t fixedResult = -1;

  std::vector<RunRecord> runs;
  std::vector<intptr_t> results;
  int releases = 0;
};

}  // namespace host_doubles
