// The HostAllocator: every block the plug-in takes, counted so that leaks,
// double frees and foreign addresses show, with one request refusable on
// purpose (--fail-allocation).
#pragma once

#include <string>
#include <vector>

#include "host/host_interfaces.h"
#include "standin_host/hosting/services/service_object.h"

struct Allocator {
  struct Block {
    void* address;
    uint32_t size;
    uint32_t request;  // the allocation request that made it
  };
  ServiceObject<HostAllocator, Allocator> object;
  ProblemList* problemList;
  std::vector<Block> live;
  uint32_t requests;  // every request, the refused one included
  uint32_t allocations;
  uint32_t frees;
  int32_t references;
  uint32_t failAt;     // the request to refuse (--fail-allocation), 0 for none
  uint32_t refusedAt;  // the request that was refused, 0 while none was
  const char* phase;   // what the host is doing, for the report
};

void InitAllocator(Allocator* allocator, ProblemList* problemList);

// The size of a live block from the allocator, 0 for any other address.
uint32_t BlockSize(const Allocator* allocator, const void* block);
// A block's address as the call record names it: "block 3" (the request
// that made it), "block 3+8" inside it, else masked.
std::string AddressName(const Allocator* allocator, const void* address);
// Null for the request that --fail-allocation names, as when memory runs out.
void* AllocateBlock(Allocator* allocator, uint32_t size);
void FreeBlock(Allocator* allocator, void* block);

// True when the allocation refused on purpose happened after `requestsBefore`
// requests, i.e. during the call that began then.
bool RefusedSince(const Allocator* allocator, uint32_t requestsBefore);
