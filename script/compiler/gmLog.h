#ifndef GMLOG_H
#define GMLOG_H

#include <cstdarg>
#include <cstddef>

// The machine's message log, shared by the parser, the code generator and the machine.
// Entries are kept in order for the life of the log: nothing clears them, because the host
// reads them again from the first one and counts what it has already shown.
class gmLog
{
public:
  // Formatting happens into a buffer of this size (the text is cut to fit), then "\r\n"
  // is appended, so a stored entry holds at most ENTRY_BUFFER + 1 characters.
  enum { ENTRY_BUFFER = 2048, BLOCK_SIZE = 2048 };

  gmLog();
  ~gmLog();
  gmLog(const gmLog&) = delete;
  gmLog& operator=(const gmLog&) = delete;

  void LogEntry(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
  void LogEntryV(const char* format, va_list args);

  // Restartable cursor: pass first = true to begin at the oldest entry (it is set to false);
  // each further call returns the next entry, and nullptr once past the newest. Entries
  // written after nullptr was returned are returned by later calls.
  const char* GetEntry(bool& first);

  int GetEntryCount() const { return entryCount; }

private:
  // Entries are packed into a chain of blocks; an entry never straddles two blocks, and a
  // block is only ever appended to, so returned pointers stay valid for the log's life.
  struct Block
  {
    Block* next;
    size_t size;
    size_t used;
    char* Data() { return reinterpret_cast<char*>(this + 1); }
  };

  Block* first = nullptr;
  Block* last = nullptr;
  int entryCount = 0;

  // Cursor: the block being read and the offset of the next entry in it.
  Block* cursorBlock = nullptr;
  size_t cursorOffset = 0;
};

#endif
