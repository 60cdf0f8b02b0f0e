#include "script/compiler/gmLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

gmLog::gmLog() = default;

gmLog::~gmLog() {
  Block* block = first;
  while (block) {
    Block* next = block->next;
    std::free(block);
    block = next;
  }
}

void gmLog::LogEntry(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogEntryV(format, args);
  va_end(args);
}

void gmLog::LogEntryV(const char* format, va_list args) {
  char buffer[ENTRY_BUFFER + 2];
  int written = std::vsnprintf(buffer, ENTRY_BUFFER, format ? format : "", args);
  if (written < 0) buffer[0] = '\0';
  // A "%c" of 0 would otherwise hide the rest of the entry from readers and the cursor.
  size_t length = std::strlen(buffer);
  buffer[length++] = '\r';
  buffer[length++] = '\n';

  size_t need = length + 1;
  if (!last || last->size - last->used < need) {
    size_t size = need > size_t(BLOCK_SIZE) ? need : size_t(BLOCK_SIZE);
    Block* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
    if (!block) return;  // Out of memory: the entry is lost rather than the process.
    block->next = nullptr;
    block->size = size;
    block->used = 0;
    block->firstEntry = entryCount;
    if (last)
      last->next = block;
    else
      first = block;
    last = block;
    bytesHeld += sizeof(Block) + size;
    DropOldBlocks();
  }
  std::memcpy(last->Data() + last->used, buffer, length);
  last->Data()[last->used + length] = '\0';
  last->used += need;
  ++entryCount;
}

void gmLog::DropOldBlocks() {
  while (first != last && bytesHeld - (sizeof(Block) + first->size) >= size_t(KEEP_BYTES)) {
    Block* old = first;
    first = old->next;
    bytesHeld -= sizeof(Block) + old->size;
    // A cursor in the released block goes on with the oldest entry still kept.
    if (cursorBlock == old) {
      cursorBlock = first;
      cursorOffset = 0;
    }
    if (nextBlock == old) nextNumber = -1;
    std::free(old);
  }
}

const char* gmLog::GetEntry(bool& firstCall) {
  if (firstCall) {
    firstCall = false;
    cursorBlock = first;
    cursorOffset = 0;
  }
  // A cursor that ran off the end of the last block picks up entries added since.
  while (cursorBlock && cursorOffset >= cursorBlock->used) {
    if (!cursorBlock->next) return nullptr;
    cursorBlock = cursorBlock->next;
    cursorOffset = 0;
  }
  if (!cursorBlock) {
    // The log was empty when the cursor started; begin at whatever exists now.
    if (!first) return nullptr;
    cursorBlock = first;
    cursorOffset = 0;
    if (cursorBlock->used == 0) return nullptr;
  }
  const char* entry = cursorBlock->Data() + cursorOffset;
  cursorOffset += std::strlen(entry) + 1;
  return entry;
}

bool gmLog::Find(long long a_entry, Block*& a_block, size_t& a_offset, long long& a_number) {
  if (a_entry >= entryCount || !first) return false;
  if (a_entry == nextNumber && nextBlock) {
    a_block = nextBlock;
    a_offset = nextOffset;
    a_number = nextNumber;
  } else {
    Block* block = first;
    if (a_entry < block->firstEntry) a_entry = block->firstEntry;
    while (block->next && block->next->firstEntry <= a_entry) block = block->next;
    size_t offset = 0;
    for (long long n = block->firstEntry; n < a_entry; ++n) offset += std::strlen(block->Data() + offset) + 1;
    a_block = block;
    a_offset = offset;
    a_number = a_entry;
  }
  // The entry may begin the next block (the previous one was full).
  while (a_offset >= a_block->used) {
    if (!a_block->next) return false;
    a_block = a_block->next;
    a_offset = 0;
  }
  return true;
}

const char* gmLog::Next(long long& a_next) {
  Block* block;
  size_t offset;
  long long number;
  if (!Find(a_next, block, offset, number)) return nullptr;
  const char* entry = block->Data() + offset;
  a_next = number + 1;
  nextBlock = block;
  nextOffset = offset + std::strlen(entry) + 1;
  nextNumber = a_next;
  return entry;
}
