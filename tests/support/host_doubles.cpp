#include "tests/support/host_doubles.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <utility>

namespace host_doubles {

namespace {

template <typename Fn>
AnyMethod Slot(Fn fn) {
  return reinterpret_cast<AnyMethod>(fn);
}

template <typename D>
void ReportUnexpected(D* self, const char* what) {
  self->log->Add(std::string("unexpected ") + what + "(" + self->name + ")");
  ADD_FAILURE() << "unexpected call: " << what << " on the " << self->name;
}

// Slots 0 to 2 have the same signature everywhere, so an unexpected call there
// can be reported and answered.
template <typename D>
Status PLUGIN_CALL UnexpectedQueryInterface(D* self, const Guid*, void** out) {
  ReportUnexpected(self, "QueryInterface");
  *out = nullptr;
  return 0x80004002u;
}

template <typename D>
uint32_t PLUGIN_CALL UnexpectedAddRef(D* self) {
  ReportUnexpected(self, "AddRef");
  return 1;
}

template <typename D>
uint32_t PLUGIN_CALL UnexpectedRelease(D* self) {
  ReportUnexpected(self, "Release");
  return 1;
}

// Beyond slot 2 the caller's argument count is unknown: a callee-pops
// function cannot return without wrecking the caller's stack, so the test
// program stops here, naming the test and the slot.
template <typename D, int N>
void PLUGIN_CALL UnexpectedSlot(D* self) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  fprintf(stderr, "FAILED: unexpected call of slot %d of the %s in %s.%s; stopping\n", N,
          self->name, test != nullptr ? test->test_suite_name() : "?",
          test != nullptr ? test->name() : "?");
  fflush(stderr);
  ExitProcess(3);
}

template <typename D, size_t... I>
std::array<AnyMethod, sizeof...(I)> UnexpectedTable(std::index_sequence<I...>) {
  std::array<AnyMethod, sizeof...(I)> table = {Slot(&UnexpectedSlot<D, static_cast<int>(I)>)...};
  table[kSlotQueryInterface] = Slot(&UnexpectedQueryInterface<D>);
  table[kSlotAddRef] = Slot(&UnexpectedAddRef<D>);
  table[kSlotRelease] = Slot(&UnexpectedRelease<D>);
  return table;
}

// A table of `N` slots, every one unexpected until the double sets it.
template <typename D, size_t N>
std::array<AnyMethod, N> UnexpectedTable() {
  return UnexpectedTable<D>(std::make_index_sequence<N>());
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// --- HostCallback

Status PLUGIN_CALL CallbackQueryInterface(CallbackDouble* self, const Guid* id, void** out) {
  if (!SameGuid(*id, IID_HostDialogService)) {
    ReportUnexpected(self, ("QueryInterface " + GuidText(*id)).c_str());
    *out = nullptr;
    return 0x80004002u;
  }
  self->log->Add("QueryInterface(dialog)");
  *out = self->queryResult;
  return self->queryStatus;
}

void* PLUGIN_CALL OpenResourceScope(CallbackDouble* self, void* module, uint32_t* cookie) {
  self->log->Add("OpenResourceScope");
  self->openedModules.push_back(module);
  *cookie = self->cookie;
  return self->scopeInstance;
}

Status PLUGIN_CALL CloseResourceScope(CallbackDouble* self, void* module, uint32_t cookie) {
  self->log->Add("CloseResourceScope");
  self->closes.push_back(ScopeClose{module, cookie});
  return STATUS_OK;
}

// --- HostAllocator

void* PLUGIN_CALL Allocate(AllocatorDouble* self, uint32_t size) {
  self->log->Add("Allocate(" + std::to_string(size) + ")");
  self->sizes.push_back(size);
  if (static_cast<int>(self->sizes.size()) == self->failAllocation) return nullptr;
  void* block = HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
  memset(block, self->fillPattern, size);
  self->blocks.push_back(block);
  return block;
}

Status PLUGIN_CALL Free(AllocatorDouble* self, void* block) {
  self->log->Add("Free");
  bool known = std::find(self->blocks.begin(), self->blocks.end(), block) != self->blocks.end();
  bool again = std::find(self->freed.begin(), self->freed.end(), block) != self->freed.end();
  EXPECT_TRUE(known) << "Free of a block this allocator never gave";
  EXPECT_FALSE(again) << "the same block freed twice";
  if (known && !again)
    memset(block, AllocatorDouble::kFreedPattern, HeapSize(GetProcessHeap(), 0, block));
  self->freed.push_back(block);
  return STATUS_OK;
}

// --- class instance

Status PLUGIN_CALL OwnerQueryInterface(OwnerInstance* self, const Guid* id, void** out) {
  self->log->Add(std::string("QueryInterface(") + self->name + ")");
  self->lastQueryId = id;
  self->lastQueryOut = out;
  *out = self->queryResult;
  return self->queryStatus;
}

uint32_t PLUGIN_CALL OwnerAddRef(OwnerInstance* self) {
  self->log->Add(std::string("AddRef(") + self->name + ")");
  ++self->addRefs;
  return static_cast<uint32_t>(1 + self->addRefs - self->releases);
}

uint32_t PLUGIN_CALL OwnerRelease(OwnerInstance* self) {
  self->log->Add(std::string("Release(") + self->name + ")");
  ++self->releases;
  EXPECT_LE(self->releases, self->addRefs) << "the " << self->name << " released more than held";
  if (self->onRelease) self->onRelease();
  return static_cast<uint32_t>(1 + self->addRefs - self->releases);
}

// --- HostRegistry and HostDictionary

Status PLUGIN_CALL PutValue(DictionaryDouble* self, uint32_t type, const void* value,
                            uint32_t reserved, const char* key) {
  self->log->Add(std::string("PutValue(") + key + ")");
  if (!self->failKey.empty() && self->failKey == key) return self->failStatus;
  PutRecord record{type, std::string(), reserved, key};
  if (type == kValueAnsiText) {
    record.value = static_cast<const char*>(value);
  } else if (type == kValueInt32) {
    record.value.assign(static_cast<const char*>(value), 4);
  } else {
    ADD_FAILURE() << "PutValue with type code " << type;
  }
  self->puts.push_back(record);
  return STATUS_OK;
}

Status PLUGIN_CALL AddEntry(RegistryDouble* self, uint32_t entryValue, const Guid* classId,
                            const Guid* interfaceId, HostDictionary** dictionary) {
  self->log->Add("AddEntry");
  self->entries.push_back(AddEntryRecord{entryValue, *classId, *interfaceId});
  if (self->addStatus != STATUS_OK) return self->addStatus;
  *dictionary = reinterpret_cast<HostDictionary*>(self->dictionary);
  return STATUS_OK;
}

// --- HostDialogService

void ActAsUser(HWND dialog, void* context) {
  static_cast<DialogServiceDouble*>(context)->user(dialog);
}

intptr_t PLUGIN_CALL RunModalDialog(DialogServiceDouble* self, void* instance, int32_t dialogId,
                                    DialogProcFn proc) {
  self->log->Add("RunModalDialog");
  self->runs.push_back(RunRecord{instance, dialogId, proc});
  intptr_t result = self->fixedResult;
  if (self->user) {
    result = RunDialog(static_cast<HINSTANCE>(instance), dialogId, reinterpret_cast<DLGPROC>(proc),
                       self->charset, ActAsUser, self);
  }
  self->results.push_back(result);
  return result;
}

uint32_t PLUGIN_CALL ServiceRelease(DialogServiceDouble* self) {
  self->log->Add("Release(service)");
  ++self->releases;
  return 0;
}

}  // namespace

int EventLog::Count(const std::string& event) const {
  return static_cast<int>(std::count(events_.begin(), events_.end(), event));
}

Guid ParseGuid(const char* text) {
  uint8_t nibbles[32];
  int count = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '-' || *c == '{' || *c == '}') continue;
    int digit = HexDigit(*c);
    if (digit < 0 || count == 32) {
      ADD_FAILURE() << "not an identifier: " << text;
      return Guid{};
    }
    nibbles[count++] = static_cast<uint8_t>(digit);
  }
  if (count != 32) ADD_FAILURE() << "not an identifier: " << text;
  auto field = [&](int first, int digits) {
    uint32_t value = 0;
    for (int i = first; i < first + digits; ++i) value = value << 4 | nibbles[i];
    return value;
  };
  Guid id;
  id.data1 = field(0, 8);
  id.data2 = static_cast<uint16_t>(field(8, 4));
  id.data3 = static_cast<uint16_t>(field(12, 4));
  for (int i = 0; i < 8; ++i) id.data4[i] = static_cast<uint8_t>(field(16 + 2 * i, 2));
  return id;
}

bool SameGuid(const Guid& a, const Guid& b) { return memcmp(&a, &b, sizeof(Guid)) == 0; }

std::string GuidText(const Guid& id) {
  char text[40];
  snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
           static_cast<unsigned long>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1],
           id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

CallbackDouble::CallbackDouble(EventLog* log) : log(log) {
  static const auto table = [] {
    auto slots = UnexpectedTable<CallbackDouble, 7>();
    slots[kSlotQueryInterface] = Slot(&CallbackQueryInterface);
    slots[kCallbackOpenResourceScope] = Slot(&OpenResourceScope);
    slots[kCallbackCloseResourceScope] = Slot(&CloseResourceScope);
    return slots;
  }();
  methods = table.data();
}

AllocatorDouble::AllocatorDouble(EventLog* log) : log(log) {
  static const auto table = [] {
    auto slots = UnexpectedTable<AllocatorDouble, 5>();
    slots[kAllocatorAllocate] = Slot(&Allocate);
    slots[kAllocatorFree] = Slot(&Free);
    return slots;
  }();
  methods = table.data();
}

AllocatorDouble::~AllocatorDouble() {
  for (void* block : blocks) HeapFree(GetProcessHeap(), 0, block);
}

bool AllocatorDouble::FreedBlocksUntouched() const {
  for (void* block : freed) {
    const uint8_t* bytes = static_cast<const uint8_t*>(block);
    SIZE_T size = HeapSize(GetProcessHeap(), 0, block);
    for (SIZE_T i = 0; i < size; ++i) {
      if (bytes[i] != kFreedPattern) return false;
    }
  }
  return true;
}

OwnerInstance::OwnerInstance(EventLog* log, CallbackDouble* callback, AllocatorDouble* allocator,
                             const char* name)
    : name(name), log(log) {
  static const auto table = [] {
    auto slots = UnexpectedTable<OwnerInstance, 3>();
    slots[kSlotQueryInterface] = Slot(&OwnerQueryInterface);
    slots[kSlotAddRef] = Slot(&OwnerAddRef);
    slots[kSlotRelease] = Slot(&OwnerRelease);
    return slots;
  }();
  object.header.instanceMethods = table.data();
  object.header.unused = kUnusedWord;
  object.header.callback = reinterpret_cast<HostCallback*>(callback);
  object.header.allocator = reinterpret_cast<HostAllocator*>(allocator);
  memset(object.classData, kClassDataPattern, sizeof object.classData);
}

bool OwnerInstance::InstanceDataUntouched() const {
  if (object.header.unused != kUnusedWord) return false;
  for (uint8_t byte : object.classData) {
    if (byte != kClassDataPattern) return false;
  }
  return true;
}

DictionaryDouble::DictionaryDouble(EventLog* log) : log(log) {
  static const auto table = [] {
    auto slots = UnexpectedTable<DictionaryDouble, 7>();
    slots[kDictionaryPutValue] = Slot(&PutValue);
    return slots;
  }();
  methods = table.data();
}

RegistryDouble::RegistryDouble(EventLog* log, DictionaryDouble* dictionary)
    : log(log), dictionary(dictionary) {
  static const auto table = [] {
    auto slots = UnexpectedTable<RegistryDouble, 8>();
    slots[kRegistryAddEntry] = Slot(&AddEntry);
    return slots;
  }();
  methods = table.data();
}

DialogServiceDouble::DialogServiceDouble(EventLog* log) : log(log) {
  static const auto table = [] {
    auto slots = UnexpectedTable<DialogServiceDouble, kDialogServiceRunModalDialog + 1>();
    slots[kSlotRelease] = Slot(&ServiceRelease);
    slots[kDialogServiceRunModalDialog] = Slot(&RunModalDialog);
    return slots;
  }();
  methods = table.data();
}

}  // namespace host_doubles
