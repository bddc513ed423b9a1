#include "standin_host/hosting/services/allocator.h"

#include <string.h>
#include <windows.h>

#include <string>

#include "standin_host/hosting/services/page_heap.h"
#include "standin_host/system/console.h"

namespace {

Status PLUGIN_CALL AllocatorQueryInterface(HostAllocator* self, const Guid* iid, void** out) {
  RecordCall(StateOf<Allocator>(self)->problemList, "HostAllocator.QueryInterface(%s) = 0x%08X",
             FormatGuid(*iid).c_str(), kHostNoInterface);
  return NoInterface(out);
}
uint32_t PLUGIN_CALL AllocatorAddRef(HostAllocator* self) {
  Allocator* allocator = StateOf<Allocator>(self);
  RecordCall(allocator->problemList, "HostAllocator.AddRef = %d", allocator->references + 1);
  return static_cast<uint32_t>(++allocator->references);
}
uint32_t PLUGIN_CALL AllocatorRelease(HostAllocator* self) {
  Allocator* allocator = StateOf<Allocator>(self);
  RecordCall(allocator->problemList, "HostAllocator.Release = %d", allocator->references - 1);
  return CountRelease(&allocator->references, allocator->problemList, "HostAllocator");
}
void* PLUGIN_CALL Allocate(HostAllocator* self, uint32_t size) {
  return AllocateBlock(StateOf<Allocator>(self), size);
}
Status PLUGIN_CALL Free(HostAllocator* self, void* block) {
  Allocator* allocator = StateOf<Allocator>(self);
  if (BlockSize(allocator, block) == 0) {
    RecordCall(allocator->problemList, "HostAllocator.Free(%s) = 0x%08X",
               AddressName(allocator, block).c_str(), kHostInvalidArgument);
    std::string known = DescribeHeapAddress(block);
    ReportProblem(
        allocator->problemList, "Free was given %p, which is no live block of this allocator (%s)",
        block,
        known.empty() ? "the host never handed it out, or it was freed already" : known.c_str());
    return kHostInvalidArgument;
  }
  FreeBlock(allocator, block);
  return STATUS_OK;
}

const AnyMethod* AllocatorMethods() {
  static const std::array<AnyMethod, kAllocatorFree + 1> table = [] {
    auto slots = UnexpectedTable<kAllocatorKind>(std::make_index_sequence<kAllocatorFree + 1>());
    slots[kSlotQueryInterface] = Slot(AllocatorQueryInterface);
    slots[kSlotAddRef] = Slot(AllocatorAddRef);
    slots[kSlotRelease] = Slot(AllocatorRelease);
    slots[kAllocatorAllocate] = Slot(Allocate);
    slots[kAllocatorFree] = Slot(Free);
    return slots;
  }();
  return table.data();
}

}  // namespace

void InitAllocator(Allocator* allocator, ProblemList* problemList) {
  allocator->object = {{AllocatorMethods()}, allocator};
  allocator->problemList = problemList;
  allocator->live.clear();
  allocator->requests = allocator->allocations = allocator->frees = 0;
  allocator->references = 0;
  allocator->failAt = allocator->refusedAt = 0;
  allocator->phase = "the host";
}

std::string AddressName(const Allocator* allocator, const void* address) {
  const char* at = static_cast<const char*>(address);
  for (const Allocator::Block& live : allocator->live) {
    const char* start = static_cast<const char*>(live.address);
    if (at < start || at >= start + live.size) continue;
    std::string name = "block " + std::to_string(live.request);
    return at == start ? name : name + "+" + std::to_string(at - start);
  }
  return MaskedAddress(address);
}

uint32_t BlockSize(const Allocator* allocator, const void* block) {
  for (const Allocator::Block& live : allocator->live) {
    if (live.address == block) return live.size;
  }
  return 0;
}

void* AllocateBlock(Allocator* allocator, uint32_t size) {
  uint32_t request = ++allocator->requests;
  if (request == allocator->failAt) {
    allocator->refusedAt = request;
    Print("  Allocation %u: %u bytes for %s, refused on purpose (--fail-allocation)\n", request,
          size, allocator->phase);
    RecordCall(allocator->problemList, "Allocate(%u) = null, refused on purpose (request %u)", size,
               request);
    return nullptr;
  }
  void* block = AllocateHostBlock(
      size, std::string(allocator->phase) + " (allocation " + std::to_string(request) + ")");
  if (block == nullptr) {
    RecordCall(allocator->problemList, "Allocate(%u) = null (request %u)", size, request);
    return nullptr;
  }
  Print("  Allocation %u: %u bytes for %s\n", request, size, allocator->phase);
  // Fresh blocks are not zeroed by the host; the pattern makes it visible.
  memset(block, 0xCD, size);
  allocator->live.push_back(Allocator::Block{block, size == 0 ? 1 : size, request});
  ++allocator->allocations;
  RecordCall(allocator->problemList, "Allocate(%u) = block %u", size, request);
  return block;
}

void FreeBlock(Allocator* allocator, void* block) {
  for (size_t i = 0; i < allocator->live.size(); ++i) {
    if (allocator->live[i].address != block) continue;
    RecordCall(allocator->problemList, "Free(block %u)", allocator->live[i].request);
    allocator->live.erase(allocator->live.begin() + static_cast<ptrdiff_t>(i));
    std::string damage = FreeHostBlock(block, allocator->phase);
    if (!damage.empty()) {
      ReportProblem(allocator->problemList,
                    "expected the plug-in to write only inside the blocks it is given; %s, found "
                    "when %s freed it",
                    damage.c_str(), allocator->phase);
    }
    ++allocator->frees;
    return;
  }
}

bool RefusedSince(const Allocator* allocator, uint32_t requestsBefore) {
  return allocator->refusedAt != 0 && allocator->refusedAt > requestsBefore;
}
