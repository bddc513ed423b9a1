#include "standin_host/hosting/services/page_heap.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <vector>

namespace {

// Reserved in large stretches: the platform hands out reservations at a
// coarse granularity, and two pages a block would spend it in a few thousand.
constexpr SIZE_T kArenaBytes = 64u << 20;
// Blocks start where the platform's own heap would start them.
constexpr SIZE_T kAlignment = 8;
// Fills the bytes between a block's end and its guard page.
constexpr char kSlackByte = static_cast<char>(0xF5);

struct PageBlock {
  char* pages;  // the first committed page
  SIZE_T span;  // committed pages and the guard page after them, in bytes
  char* start;
  uint32_t size;
  std::string origin;
  std::string freedBy;  // empty while live
};

struct PageHeap {
  CRITICAL_SECTION lock;  // sessions on several threads share the one heap
  HeapKind kind = HeapKind::kPage;
  SIZE_T pageSize = 0;
  char* cursor = nullptr;  // the next unused page of the current arena
  char* arenaEnd = nullptr;
  std::vector<PageBlock> blocks;
};

PageHeap& Heap() {
  static PageHeap heap;
  // Set up in place: a critical section must not be copied once initialised.
  static const bool ready = [] {
    InitializeCriticalSection(&heap.lock);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    heap.pageSize = info.dwPageSize;
    return true;
  }();
  (void)ready;
  return heap;
}

class PageHeapLock {
 public:
  PageHeapLock() { EnterCriticalSection(&Heap().lock); }
  ~PageHeapLock() { LeaveCriticalSection(&Heap().lock); }
  PageHeapLock(const PageHeapLock&) = delete;
  PageHeapLock& operator=(const PageHeapLock&) = delete;
};

// Room for `span` bytes of pages; false when no arena can be reserved.
bool MakeRoom(PageHeap* heap, SIZE_T span) {
  if (heap->cursor != nullptr && static_cast<SIZE_T>(heap->arenaEnd - heap->cursor) >= span) {
    return true;
  }
  SIZE_T bytes = span > kArenaBytes ? span : kArenaBytes;
  void* arena = VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS);
  if (arena == nullptr) return false;
  heap->cursor = static_cast<char*>(arena);
  heap->arenaEnd = heap->cursor + bytes;
  return true;
}

PageBlock* BlockAt(const void* address) {
  const char* at = static_cast<const char*>(address);
  for (PageBlock& block : Heap().blocks) {
    if (at >= block.pages && at < block.pages + block.span) return &block;
  }
  return nullptr;
}

// Null when the address space is spent.
void* PageHeapAllocate(uint32_t size, const std::string& origin) {
  PageHeapLock locked;
  PageHeap* heap = &Heap();
  if (size == 0) size = 1;
  // Aligned as the platform's heap aligns, so a build that relies on it is
  // not blamed; the slack up to the guard page is checked at Free instead.
  SIZE_T aligned = (size + kAlignment - 1) / kAlignment * kAlignment;
  SIZE_T committed = (aligned + heap->pageSize - 1) / heap->pageSize * heap->pageSize;
  SIZE_T span = committed + heap->pageSize;  // the guard page stays reserved only
  if (!MakeRoom(heap, span)) return nullptr;
  char* pages = heap->cursor;
  if (VirtualAlloc(pages, committed, MEM_COMMIT, PAGE_READWRITE) == nullptr) return nullptr;
  heap->cursor += span;
  char* start = pages + committed - aligned;
  memset(start + size, kSlackByte, aligned - size);
  heap->blocks.push_back(PageBlock{pages, span, start, size, origin, std::string()});
  return start;
}

// The first byte between the block's end and its guard page that no longer
// holds the pattern, or null.
const char* WrittenSlack(const PageBlock& block, SIZE_T pageSize) {
  const char* guard = block.pages + block.span - pageSize;
  for (const char* at = block.start + block.size; at < guard; ++at) {
    if (*at != kSlackByte) return at;
  }
  return nullptr;
}

}  // namespace

void UseHeap(HeapKind kind) { Heap().kind = kind; }

HeapKind HeapInUse() { return Heap().kind; }

const char* HeapName(HeapKind kind) { return kind == HeapKind::kPage ? "page" : "plain"; }

std::string DescribeHeapAddress(const void* address) {
  PageHeapLock locked;
  const PageBlock* block = BlockAt(address);
  if (block == nullptr) return std::string();
  const char* at = static_cast<const char*>(address);
  std::string where;
  if (at < block->start) {
    where = std::to_string(block->start - at) + " bytes before";
  } else if (at >= block->start + block->size) {
    where = std::to_string(at - (block->start + block->size)) + " bytes past the end of";
  } else {
    where = std::to_string(at - block->start) + " bytes into";
  }
  where += block->freedBy.empty() ? " a live block of " : " a freed block of ";
  where += std::to_string(block->size) + " bytes allocated by " + block->origin;
  if (!block->freedBy.empty()) where += " and freed by " + block->freedBy;
  return where;
}

// A pointer the heap never gave, or gave back already, is left to the
// allocator's own report.
std::string PageHeapFree(void* block, const std::string& by) {
  PageHeapLock locked;
  PageBlock* record = BlockAt(block);
  if (record == nullptr || record->start != block || !record->freedBy.empty()) {
    return std::string();
  }
  std::string damage;
  if (const char* written = WrittenSlack(*record, Heap().pageSize)) {
    // Named while the block is still live, as a fault there would be.
    char at[32];
    snprintf(at, sizeof at, "%p", static_cast<const void*>(written));
    damage = std::string("a write at ") + at + ", " + DescribeHeapAddress(written);
  }
  record->freedBy = by;
  VirtualFree(record->pages, record->span - Heap().pageSize, MEM_DECOMMIT);
  return damage;
}

void* AllocateHostBlock(uint32_t size, const std::string& origin) {
  if (HeapInUse() == HeapKind::kPage) return PageHeapAllocate(size, origin);
  return HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
}

std::string FreeHostBlock(void* block, const std::string& by) {
  if (HeapInUse() == HeapKind::kPage) return PageHeapFree(block, by);
  HeapFree(GetProcessHeap(), 0, block);
  return std::string();
}
