#include "script/compiler/gmLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

gmLog::gmLog() = default;

gmLog::~gmLog()
{
  Block* block = first;
  while (block)
  {
    Block* next = block->next;
    std::free(block);
    block = next;
  }
}

void gmLog::LogEntry(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogEntryV(format, args);
  va_end(args);
}

void gmLog::LogEntryV(const char* format, va_list args)
{
  char buffer[ENTRY_BUFFER + 2];
  int written = std::vsnprintf(buffer, ENTRY_BUFFER, format ? format : "", args);
  if (written < 0)
    buffer[0] = '\0';
  // A "%c" of 0 would otherwise hide the rest of the entry from readers and the cursor.
  size_t length = std::strlen(buffer);
  buffer[length++] = '\r';
  buffer[length++] = '\n';

  size_t need = length + 1;
  if (!last || last->size - last->used < need)
  {
    size_t size = need > size_t(BLOCK_SIZE) ? need : size_t(BLOCK_SIZE);
    Block* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
    if (!block)
      return; // Out of memory: the entry is lost rather than the process.
    block->next = nullptr;
    block->size = size;
    block->used = 0;
    if (last)
      last->next = block;
    else
      first = block;
    last = block;
  }
  std::memcpy(last->Data() + last->used, buffer, length);
  last->Data()[last->used + length] = '\0';
  last->used += need;
  ++entryCount;
}

const char* gmLog::GetEntry(bool& firstCall)
{
  if (firstCall)
  {
    firstCall = false;
    cursorBlock = first;
    cursorOffset = 0;
  }
  // A cursor that ran off the end of the last block picks up entries added since.
  while (cursorBlock && cursorOffset >= cursorBlock->used)
  {
    if (!cursorBlock->next)
      return nullptr;
    cursorBlock = cursorBlock->next;
    cursorOffset = 0;
  }
  if (!cursorBlock)
  {
    // The log was empty when the cursor started; begin at whatever exists now.
    if (!first)
      return nullptr;
    cursorBlock = first;
    cursorOffset = 0;
    if (cursorBlock->used == 0)
      return nullptr;
  }
  const char* entry = cursorBlock->Data() + cursorOffset;
  cursorOffset += std::strlen(entry) + 1;
  return entry;
}
