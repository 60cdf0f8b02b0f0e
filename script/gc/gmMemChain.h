#ifndef GMMEMCHAIN_H
#define GMMEMCHAIN_H

// The engine's small-allocation storage. gmMemChain hands out memory from a list of chunks
// it never returns to the system before it is destroyed; gmMemFixed adds a free list for one
// element size (object shells, call-frame records); gmMemFixedSet is the size-class
// allocator behind table nodes, string texts and other engine buffers.

#include <cstddef>
#include <cstdint>

// Freed elements and blocks are poisoned under AddressSanitizer: the objects and buffers
// that live here are recycled, never returned to the system, so without this a use after
// the collector destroyed an object would go unnoticed.
#if defined(__SANITIZE_ADDRESS__)
#define GM_MEM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GM_MEM_ASAN 1
#endif
#endif
#if defined(GM_MEM_ASAN)
#include <sanitizer/asan_interface.h>
#define GM_MEM_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define GM_MEM_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define GM_MEM_POISON(p, n) ((void)(p), (void)(n))
#define GM_MEM_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// Memory straight from the system for the engine's own large buffers. A size that is a
// multiple of gmHugePageBytes is aligned to it and offered huge pages: buffers that large are
// written all over soon after they are made, and one fault per 2 MB costs far less than one
// per 4 KB. Free must be told the size the block was made with.
const size_t gmHugePageBytes = size_t(2) << 20;
void* gmSystemAlloc(size_t a_bytes);
void gmSystemFree(void* a_ptr, size_t a_bytes);

class gmMemChain {
 public:
  // The first chunk holds a_elementsPerChunk elements of a_elementSize bytes (rounded up to
  // 8); each chunk taken from the system after it is twice the last, up to one huge page.
  gmMemChain(size_t a_elementSize, size_t a_elementsPerChunk);
  ~gmMemChain();
  gmMemChain(const gmMemChain&) = delete;
  gmMemChain& operator=(const gmMemChain&) = delete;

  // The next element of the current chunk, moving on to the next chunk (reused or new) when
  // it is full.
  void* Alloc();
  // The next range of a_size bytes aligned to a_align (a power of two, at most 16). A range
  // larger than a chunk gets a chunk of its own size.
  void* AllocBytes(size_t a_size, size_t a_align = 8);

  // Forget every allocation but keep the chunks for reuse.
  void Reset();
  // Give every chunk back to the system.
  void ResetAndFreeMemory();

  size_t GetElementSize() const { return m_elementSize; }
  // Bytes of chunk memory held from the system.
  size_t GetSystemMemUsed() const { return m_systemBytes; }

 private:
  struct Chunk {
    Chunk* next;
    size_t capacity;  // data bytes
    size_t used;
    size_t pad;  // keeps the data 16-byte aligned
  };
  static char* Data(Chunk* a_chunk) { return reinterpret_cast<char*>(a_chunk + 1); }
  Chunk* NextChunk(size_t a_minBytes);

  Chunk* m_first = nullptr;
  Chunk* m_current = nullptr;
  size_t m_elementSize;
  size_t m_chunkBytes;
  size_t m_systemBytes = 0;
};

class gmMemFixed {
 public:
  gmMemFixed(size_t a_elementSize, size_t a_elementsPerChunk) : m_chain(a_elementSize, a_elementsPerChunk) {}

  void* Alloc() {
    if (m_freeList) {
      FreeElement* e = m_freeList;
      GM_MEM_UNPOISON(e, m_chain.GetElementSize());
      m_freeList = e->next;
      return e;
    }
    return m_chain.Alloc();
  }
  void Free(void* a_ptr) {
    FreeElement* e = static_cast<FreeElement*>(a_ptr);
    e->next = m_freeList;
    m_freeList = e;
    GM_MEM_POISON(e, m_chain.GetElementSize());
  }
  void Reset() {
    m_freeList = nullptr;
    m_chain.Reset();
  }
  size_t GetElementSize() const { return m_chain.GetElementSize(); }
  size_t GetSystemMemUsed() const { return m_chain.GetSystemMemUsed(); }

 private:
  struct FreeElement {
    FreeElement* next;
  };
  FreeElement* m_freeList = nullptr;
  gmMemChain m_chain;
};

// Size classes of 8, 16, 24, 32, 64, 128, 256 and 512 bytes, each a chain of blocks with a
// free list; larger requests get their own system allocation, kept on a list so the set can
// release them all. Every block carries its size just before the data, so Free needs no size.
// GetBytesAllocated counts what callers were handed: the class size, or the exact size of a
// large block (headers excluded).
class gmMemFixedSet {
 public:
  static const int MAX_CLASS_BYTES = 512;

  gmMemFixedSet();
  ~gmMemFixedSet();
  gmMemFixedSet(const gmMemFixedSet&) = delete;
  gmMemFixedSet& operator=(const gmMemFixedSet&) = delete;

  // At least a_size bytes, 8-byte aligned. A size of 0 takes the smallest class.
  void* Alloc(size_t a_size) { return Alloc(a_size, a_size); }
  // a_size bytes counted as a block of a_charged bytes (a_charged >= a_size): a buffer
  // stored more tightly than the figure the usage reports.
  void* Alloc(size_t a_size, size_t a_charged);
  // The block grown or shrunk to a_size bytes counted as a_charged, contents kept up to the
  // smaller size; a large block that stays large is resized in place where the system can
  // (no second copy while it grows). Null when the system refuses, the block untouched.
  void* Realloc(void* a_ptr, size_t a_size, size_t a_charged);
  // Null is ignored.
  void Free(void* a_ptr);
  // What a block of a_size bytes counts: its class size, or a_size above 512.
  static size_t ChargedBytes(size_t a_size);

  size_t GetBytesAllocated() const { return m_bytesAllocated; }

 private:
  static const int NUM_CLASSES = 8;
  struct LargeBlock {
    LargeBlock* prev;
    LargeBlock* next;
    uint64_t bytes;  // the caller's size; size below is what the usage counts
    uint64_t size;   // must stay last: every block's size sits just before its data
  };
  struct FreeBlock {
    FreeBlock* next;
  };
  static int ClassOf(size_t a_size);

  gmMemChain* m_chains[NUM_CLASSES];
  FreeBlock* m_free[NUM_CLASSES];
  LargeBlock* m_large = nullptr;
  size_t m_bytesAllocated = 0;
};

#endif
