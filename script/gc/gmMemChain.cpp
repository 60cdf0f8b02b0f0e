#include "script/gc/gmMemChain.h"

#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "script/gmAssert.h"

static size_t RoundUp(size_t a_value, size_t a_to) { return (a_value + a_to - 1) & ~(a_to - 1); }

namespace {

// Large blocks start on a cache line (big node arrays are read all over; a node must not
// straddle two lines); the block record sits just before the data, in the line in front.
const size_t kLargeAlign = 64;
static_assert(kLargeAlign >= 32, "the block record fits in front of the data");

void* LargeData(void* a_raw) { return static_cast<char*>(a_raw) + kLargeAlign; }
void* LargeRaw(void* a_data) { return static_cast<char*>(a_data) - kLargeAlign; }

// Chunks grow by doubling up to one huge page, the size at which the system can back a chunk
// with a single page: a heap that only grows (nothing is collected until a script asks)
// then takes one page fault per 2 MB instead of one per 4 KB.
const size_t kHugePage = gmHugePageBytes;

}  // namespace

void* gmSystemAlloc(size_t a_bytes) {
  if (a_bytes == 0 || a_bytes % gmHugePageBytes != 0) return ::operator new(a_bytes);
  void* p = std::aligned_alloc(gmHugePageBytes, a_bytes);
  if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(p, a_bytes, MADV_HUGEPAGE);
#endif
  return p;
}

void gmSystemFree(void* a_ptr, size_t a_bytes) {
  if (a_bytes == 0 || a_bytes % gmHugePageBytes != 0)
    ::operator delete(a_ptr);
  else
    std::free(a_ptr);
}

gmMemChain::gmMemChain(size_t a_elementSize, size_t a_elementsPerChunk)
    : m_elementSize(RoundUp(a_elementSize ? a_elementSize : 1, 8)),
      m_chunkBytes(m_elementSize * (a_elementsPerChunk ? a_elementsPerChunk : 1)) {}

gmMemChain::~gmMemChain() { ResetAndFreeMemory(); }

gmMemChain::Chunk* gmMemChain::NextChunk(size_t a_minBytes) {
  // Reuse the chunks kept by a reset before asking the system for a new one.
  Chunk* prev = m_current;
  Chunk* c = m_current ? m_current->next : m_first;
  while (c && c->capacity < a_minBytes) {
    prev = c;
    c = c->next;
  }
  if (!c) {
    size_t capacity = a_minBytes > m_chunkBytes ? a_minBytes : m_chunkBytes;
    c = static_cast<Chunk*>(gmSystemAlloc(sizeof(Chunk) + capacity));
    c->next = nullptr;
    c->capacity = capacity;
    m_systemBytes += sizeof(Chunk) + capacity;
    if (m_chunkBytes < kHugePage - sizeof(Chunk))
      m_chunkBytes = m_chunkBytes * 2 < kHugePage - sizeof(Chunk) ? m_chunkBytes * 2 : kHugePage - sizeof(Chunk);
    if (prev)
      prev->next = c;
    else
      m_first = c;
  } else if (prev != m_current) {
    // Skipped chunks that were too small stay for later elements: move c up front.
    prev->next = c->next;
    if (m_current) {
      c->next = m_current->next;
      m_current->next = c;
    } else {
      c->next = m_first;
      m_first = c;
    }
  }
  c->used = 0;
  m_current = c;
  return c;
}

void* gmMemChain::Alloc() {
  Chunk* c = m_current;
  if (!c || c->used + m_elementSize > c->capacity) c = NextChunk(m_elementSize);
  void* p = Data(c) + c->used;
  c->used += m_elementSize;
  return p;
}

void* gmMemChain::AllocBytes(size_t a_size, size_t a_align) {
  GM_ASSERT(a_align && a_align <= 16 && (a_align & (a_align - 1)) == 0, "alignments are powers of two up to 16");
  Chunk* c = m_current;
  if (c) {
    size_t start = RoundUp(c->used, a_align);
    if (start + a_size <= c->capacity) {
      c->used = start + a_size;
      return Data(c) + start;
    }
  }
  c = NextChunk(a_size);
  c->used = a_size;
  return Data(c);
}

void gmMemChain::Reset() {
  m_current = nullptr;
  for (Chunk* c = m_first; c; c = c->next) {
    GM_MEM_UNPOISON(Data(c), c->capacity);
    c->used = 0;
  }
}

void gmMemChain::ResetAndFreeMemory() {
  Chunk* c = m_first;
  while (c) {
    Chunk* next = c->next;
    GM_MEM_UNPOISON(Data(c), c->capacity);
    gmSystemFree(c, sizeof(Chunk) + c->capacity);
    c = next;
  }
  m_first = m_current = nullptr;
  m_systemBytes = 0;
}

// ---- gmMemFixedSet ------------------------------------------------------------------------

namespace {
const size_t kClassBytes[] = {8, 16, 24, 32, 64, 128, 256, 512};
const size_t kClassPerChunk[] = {64, 64, 64, 64, 32, 32, 16, 16};
// Each class block is an 8-byte size word followed by the data (keeps the data 8-aligned).
const size_t kBlockHeader = 8;
}  // namespace

gmMemFixedSet::gmMemFixedSet() {
  for (int i = 0; i < NUM_CLASSES; ++i) {
    m_chains[i] = new gmMemChain(kBlockHeader + kClassBytes[i], kClassPerChunk[i]);
    m_free[i] = nullptr;
  }
}

gmMemFixedSet::~gmMemFixedSet() {
  // Deleting a chain unpoisons its chunks.
  for (int i = 0; i < NUM_CLASSES; ++i) delete m_chains[i];
  LargeBlock* b = m_large;
  while (b) {
    LargeBlock* next = b->next;
    std::free(LargeRaw(b + 1));
    b = next;
  }
}

int gmMemFixedSet::ClassOf(size_t a_size) {
  if (a_size <= 32) return a_size <= 8 ? 0 : static_cast<int>((a_size - 1) >> 3);
  if (a_size <= 64) return 4;
  if (a_size <= 128) return 5;
  if (a_size <= 256) return 6;
  return 7;
}

size_t gmMemFixedSet::ChargedBytes(size_t a_size) {
  return a_size > static_cast<size_t>(MAX_CLASS_BYTES) ? a_size : kClassBytes[ClassOf(a_size)];
}

void* gmMemFixedSet::Alloc(size_t a_size, size_t a_charged) {
  if (a_charged > static_cast<size_t>(MAX_CLASS_BYTES)) {
    void* raw = std::aligned_alloc(kLargeAlign, RoundUp(kLargeAlign + a_size, kLargeAlign));
    if (!raw) return nullptr;
    LargeBlock* b = static_cast<LargeBlock*>(LargeData(raw)) - 1;
    b->prev = nullptr;
    b->next = m_large;
    b->bytes = a_size;
    b->size = a_charged;
    if (m_large) m_large->prev = b;
    m_large = b;
    m_bytesAllocated += a_charged;
    return b + 1;
  }
  int cls = ClassOf(a_charged);
  m_bytesAllocated += kClassBytes[cls];
  if (FreeBlock* f = m_free[cls]) {
    GM_MEM_UNPOISON(f, kClassBytes[cls]);
    m_free[cls] = f->next;
    return f;
  }
  uint64_t* block = static_cast<uint64_t*>(m_chains[cls]->Alloc());
  block[0] = kClassBytes[cls];
  return block + 1;
}

void* gmMemFixedSet::Realloc(void* a_ptr, size_t a_size, size_t a_charged) {
  if (!a_ptr) return Alloc(a_size, a_charged);
  uint64_t size = static_cast<uint64_t*>(a_ptr)[-1];
  const uint64_t maxClass = static_cast<uint64_t>(MAX_CLASS_BYTES);
  if (size > maxClass && a_charged > maxClass) {
    // realloc keeps the 16-byte alignment of the system allocator, not the cache line of
    // a fresh large block; the data stays where the record says, whatever the alignment.
    LargeBlock* b = static_cast<LargeBlock*>(a_ptr) - 1;
    void* raw = std::realloc(LargeRaw(b + 1), RoundUp(kLargeAlign + a_size, kLargeAlign));
    if (!raw) return nullptr;
    b = static_cast<LargeBlock*>(LargeData(raw)) - 1;
    if (b->prev)
      b->prev->next = b;
    else
      m_large = b;
    if (b->next) b->next->prev = b;
    m_bytesAllocated = m_bytesAllocated - b->size + a_charged;
    b->bytes = a_size;
    b->size = a_charged;
    return b + 1;
  }
  void* p = Alloc(a_size, a_charged);
  if (!p) return nullptr;
  size_t had =
      size > maxClass ? static_cast<size_t>((static_cast<LargeBlock*>(a_ptr) - 1)->bytes) : static_cast<size_t>(size);
  std::memcpy(p, a_ptr, had < a_size ? had : a_size);
  Free(a_ptr);
  return p;
}

void gmMemFixedSet::Free(void* a_ptr) {
  if (!a_ptr) return;
  uint64_t size = static_cast<uint64_t*>(a_ptr)[-1];
  if (size > static_cast<uint64_t>(MAX_CLASS_BYTES)) {
    LargeBlock* b = static_cast<LargeBlock*>(a_ptr) - 1;
    if (b->prev)
      b->prev->next = b->next;
    else
      m_large = b->next;
    if (b->next) b->next->prev = b->prev;
    m_bytesAllocated -= b->size;
    std::free(LargeRaw(b + 1));
    return;
  }
  int cls = ClassOf(static_cast<size_t>(size));
  m_bytesAllocated -= kClassBytes[cls];
  FreeBlock* f = static_cast<FreeBlock*>(a_ptr);
  f->next = m_free[cls];
  m_free[cls] = f;
  GM_MEM_POISON(f, kClassBytes[cls]);
}
