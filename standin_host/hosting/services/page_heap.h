// Host memory kept like a full page heap: every block starts on an 8-byte
// boundary, as the platform's heap gives them, as close to the end of its
// pages as that allows, and the next page is never accessible, so a byte
// written or read past the page faults at once; the few bytes between the
// block's end and that page hold a pattern that Free checks. A freed block's
// pages become inaccessible and their addresses are never handed out again in
// this process, so any use after Free faults too. Blocks are remembered for the life of the
// process, so a fault or a bad Free can be told in terms of the block it hit.
#pragma once

#include <stdint.h>

#include <string>

enum class HeapKind { kPage, kPlain };

// Chosen once per process, before the first session (--heap).
void UseHeap(HeapKind kind);
HeapKind HeapInUse();
const char* HeapName(HeapKind kind);

// A block for the plug-in from the heap in use. From the page heap, it ends
// less than 8 bytes before a page does, and freeing makes its pages
// inaccessible for good; `origin` and `by` name the calls that allocated and
// freed it. Free returns what was written past the block's end, as
// DescribeHeapAddress tells it ("a write at 0012FFF4, 0 bytes past the end
// of a live block ..."), or an empty text.
void* AllocateHostBlock(uint32_t size, const std::string& origin);
std::string FreeHostBlock(void* block, const std::string& by);

// What `address` is to the page heap, as a report names it: "8 bytes into a
// block of 12 bytes allocated by X, freed by Y", "4 bytes past the end of a
// live block ...". Empty when it lies in no block nor its guard page.
std::string DescribeHeapAddress(const void* address);
