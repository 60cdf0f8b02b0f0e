#ifndef GMLOG_H
#define GMLOG_H

#include <cstdarg>
#include <cstddef>

// The machine's message log, shared by the parser, the code generator and the machine.
// Entries are kept in order and numbered from 0 in the order they were written. The log
// holds only the newest KEEP_BYTES or so of entries: a game whose per-frame function fails
// every frame writes hundreds of megabytes an hour, and every reader has long shown the old
// ones. Readers that keep a number (gmLog::Next) resume where they stopped; an entry dropped
// before they got to it is skipped.
class gmLog {
 public:
  // Formatting happens into a buffer of this size (the text is cut to fit), then "\r\n"
  // is appended, so a stored entry holds at most ENTRY_BUFFER + 1 characters.
  enum { ENTRY_BUFFER = 2048, BLOCK_SIZE = 2048 };
  // Storage kept before the oldest blocks are released: at least this much of the newest
  // entries stays readable.
  enum { KEEP_BYTES = 1024 * 1024 };

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

  // Restartable cursor: pass first = true to begin at the oldest entry kept (it is set to
  // false); each further call returns the next entry, and nullptr once past the newest.
  // Entries written after nullptr was returned are returned by later calls. A returned
  // pointer stays valid until the next entry is written.
  const char* GetEntry(bool& first);

  // A reader's own cursor: the entry numbered a_next, or the oldest kept when that one was
  // dropped already; a_next is moved past it. nullptr (a_next unchanged) when there is no
  // such entry yet. Resuming where the previous call stopped costs nothing per entry kept.
  const char* Next(long long& a_next);

  // Entries written over the log's life, dropped ones included: the number the next entry
  // will have.
  long long GetEntryCount() const { return entryCount; }
  // Bytes of storage held now.
  size_t GetBytesHeld() const { return bytesHeld; }

 private:
  // Entries are packed into a chain of blocks; an entry never straddles two blocks, and a
  // block is only ever appended to, until it is released whole as the oldest one.
  struct Block {
    Block* next;
    size_t size;
    size_t used;
    long long firstEntry;  // number of the block's first entry
    char* Data() { return reinterpret_cast<char*>(this + 1); }
  };

  void DropOldBlocks();
  // Position of the entry numbered a_entry (the oldest kept when it is older); false when it
  // does not exist yet.
  bool Find(long long a_entry, Block*& a_block, size_t& a_offset, long long& a_number);

  Block* first = nullptr;
  Block* last = nullptr;
  long long entryCount = 0;
  size_t bytesHeld = 0;

  // Cursor of GetEntry: the block being read and the offset of the next entry in it.
  Block* cursorBlock = nullptr;
  size_t cursorOffset = 0;
  // Where Next last stopped, so a reader that resumes there needs no search.
  Block* nextBlock = nullptr;
  size_t nextOffset = 0;
  long long nextNumber = -1;
};

#endif
