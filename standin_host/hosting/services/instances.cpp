#include "standin_host/hosting/services/instances.h"

#include <string.h>

namespace {

Instance* InstanceOf(HostObjectHeader* header) {
  char* block = reinterpret_cast<char*>(header) - offsetof(Instance::Block, header);
  return reinterpret_cast<Instance::Block*>(block)->instance;
}

// The host serves no interface from its instances; the module only forwards
// queries here.
Status PLUGIN_CALL InstanceQueryInterface(HostObjectHeader* self, const Guid* iid, void** out) {
  RecordCall(InstanceOf(self)->problemList, "instance.QueryInterface(%s) = 0x%08X",
             FormatGuid(*iid).c_str(), kHostNoInterface);
  return NoInterface(out);
}
uint32_t PLUGIN_CALL InstanceAddRef(HostObjectHeader* self) {
  Instance* instance = InstanceOf(self);
  RecordCall(instance->problemList, "instance.AddRef = %d", instance->references + 1);
  ++instance->addRefs;
  ++instance->tally->references;
  return static_cast<uint32_t>(++instance->references);
}
// The header goes back to the allocator with the last reference, whoever
// holds it, so a header used after that faults like any freed block.
void GiveBackHeader(Instance* instance) {
  EnterCall(instance->problemList, "destroy hook(%s)",
            AddressName(instance->allocator, &instance->block->header).c_str());
  instance->destroyHook(&instance->block->header);
  LeaveCall(instance->problemList, "destroy hook");
  FreeBlock(instance->allocator, instance->block);
  instance->block = nullptr;
}

uint32_t PLUGIN_CALL InstanceRelease(HostObjectHeader* self) {
  Instance* instance = InstanceOf(self);
  RecordCall(instance->problemList, "instance.Release = %d", instance->references - 1);
  ++instance->releases;
  --instance->tally->references;
  uint32_t count = CountRelease(&instance->references, instance->problemList, "class instance");
  if (instance->references == 0) {
    ReportProblem(instance->problemList,
                  "the plug-in released the host's own reference on the instance of class %s "
                  "(AddRef %u, Release %u); the host gave its header back",
                  FormatGuid(instance->classId).c_str(), instance->addRefs, instance->releases);
    GiveBackHeader(instance);
  }
  return count;
}

const AnyMethod* InstanceMethods() {
  static const std::array<AnyMethod, kSlotRelease + 1> table = {
      {Slot(InstanceQueryInterface), Slot(InstanceAddRef), Slot(InstanceRelease)}};
  return table.data();
}

}  // namespace

Instance* CreateInstance(InstanceTally* tally, Allocator* allocator, HostCallback* callback,
                         const Guid& classId, uint32_t size, InstanceCreateHook createHook,
                         InstanceDestroyHook destroyHook) {
  ProblemList* problemList = allocator->problemList;
  if (size < sizeof(HostObjectHeader)) {
    ReportProblem(problemList, "class %s declares instances of %u bytes, too small for the header",
                  FormatGuid(classId).c_str(), size);
    return nullptr;
  }
  uint32_t blockSize = static_cast<uint32_t>(offsetof(Instance::Block, header)) + size;
  uint32_t requestsBefore = allocator->requests;
  Instance::Block* block = static_cast<Instance::Block*>(AllocateBlock(allocator, blockSize));
  if (block == nullptr) {
    if (RefusedSince(allocator, requestsBefore)) {
      ReportHostCausedFailure(problemList,
                              "No instance of class %s: the host's own allocation was refused; "
                              "the class is skipped",
                              FormatGuid(classId).c_str());
    } else {
      ReportProblem(problemList, "out of memory for an instance of %u bytes", size);
    }
    return nullptr;
  }
  memset(block, 0, blockSize);
  Instance* instance =
      new Instance{problemList, allocator, tally, classId, size, destroyHook, block, 1, 0, 0};
  ++tally->live;
  ++tally->references;
  block->instance = instance;
  block->header.instanceMethods = InstanceMethods();
  block->header.unused = 0;
  block->header.callback = callback;
  block->header.allocator = &allocator->object.iface;
  EnterCall(problemList, "create hook(%s)", AddressName(allocator, &block->header).c_str());
  Status status = createHook(&block->header);
  LeaveCall(problemList, "create hook = 0x%08X", status);
  if (status != STATUS_OK) {
    ReportProblem(problemList, "the create hook of class %s failed with 0x%08X",
                  FormatGuid(classId).c_str(), status);
    FreeBlock(allocator, block);
    --tally->live;
    --tally->references;
    delete instance;
    return nullptr;
  }
  return instance;
}

HostObjectHeader* InstanceHeader(Instance* instance) { return &instance->block->header; }

void DestroyInstance(Instance* instance) {
  if (instance->block != nullptr && instance->references != 1) {
    ReportProblem(instance->problemList,
                  "the instance of class %s holds %d references once its interfaces are "
                  "released; only the host's 1 should remain (AddRef %u, Release %u)",
                  FormatGuid(instance->classId).c_str(), instance->references, instance->addRefs,
                  instance->releases);
  }
  --instance->tally->live;
  if (instance->block != nullptr) {
    // The host's own reference goes last; it takes the header with it even
    // when the plug-in still counts some, as it cannot use them any more.
    --instance->references;
    --instance->tally->references;
    GiveBackHeader(instance);
  }
  delete instance;
}
