#include "script/compiler/gmLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadAll(gmLog& log) {
  std::vector<std::string> entries;
  bool first = true;
  while (const char* e = log.GetEntry(first)) entries.push_back(e);
  return entries;
}

TEST(Log, FormatsEntriesAndAppendsCrLf) {
  gmLog log;
  EXPECT_TRUE(ReadAll(log).empty());
  log.LogEntry("error (%d) %s", 12, "parse error");
  log.LogEntry("%s", "");
  EXPECT_EQ(ReadAll(log), (std::vector<std::string>{"error (12) parse error\r\n", "\r\n"}));
}

TEST(Log, CutsLongEntriesToTheFormattingBuffer) {
  gmLog log;
  std::string big(5000, 'x');
  log.LogEntry("%s", big.c_str());
  log.LogEntry("after");
  std::vector<std::string> entries = ReadAll(log);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], std::string(gmLog::ENTRY_BUFFER - 1, 'x') + "\r\n");
  EXPECT_EQ(entries[1], "after\r\n");
}

TEST(Log, CursorRestartsAndPicksUpLaterEntries) {
  gmLog log;
  bool first = true;
  EXPECT_EQ(log.GetEntry(first), nullptr);
  // Enough entries to span several storage blocks.
  for (int i = 0; i < 1000; ++i) log.LogEntry("entry %d", i);
  int seen = 0;
  while (const char* e = log.GetEntry(first)) EXPECT_EQ(std::string(e), "entry " + std::to_string(seen++) + "\r\n");
  EXPECT_EQ(seen, 1000);
  log.LogEntry("late");
  const char* late = log.GetEntry(first);
  ASSERT_NE(late, nullptr);
  EXPECT_STREQ(late, "late\r\n");
  EXPECT_EQ(log.GetEntry(first), nullptr);

  first = true;
  EXPECT_STREQ(log.GetEntry(first), "entry 0\r\n");
  EXPECT_EQ(log.GetEntryCount(), 1001);
}

}  // namespace

namespace {

// Far more than the log keeps: storage stays bounded, the oldest entries go, and a reader
// with its own number resumes where it stopped or, when that entry is gone, at the oldest
// one kept.
TEST(Log, KeepsTheNewestEntriesAndReadersResume) {
  gmLog log;
  long long reader = 0;
  std::string entry(200, 'x');
  for (int i = 0; i < 20000; ++i) {
    log.LogEntry("%d %s", i, entry.c_str());
    if (i < 3) {
      const char* e = log.Next(reader);
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(std::atoi(e), i);
    }
  }
  EXPECT_EQ(log.GetEntryCount(), 20000);
  EXPECT_LE(log.GetBytesHeld(), size_t(gmLog::KEEP_BYTES) + 2 * gmLog::BLOCK_SIZE + 256);
  EXPECT_GE(log.GetBytesHeld(), size_t(gmLog::KEEP_BYTES));

  // Entry 3 was dropped long ago: the reader goes on at the oldest kept, in order, to the end.
  const char* e = log.Next(reader);
  ASSERT_NE(e, nullptr);
  int oldest = std::atoi(e);
  EXPECT_GT(oldest, 3);
  int expected = oldest + 1;
  while ((e = log.Next(reader))) EXPECT_EQ(std::atoi(e), expected++);
  EXPECT_EQ(expected, 20000);
  EXPECT_EQ(reader, 20000);

  // The shared cursor sees the same oldest entry and picks up later ones.
  bool first = true;
  EXPECT_EQ(std::atoi(log.GetEntry(first)), oldest);
  log.LogEntry("late");
  EXPECT_STREQ(log.Next(reader), "late\r\n");
  EXPECT_EQ(log.Next(reader), nullptr);
}

}  // namespace
