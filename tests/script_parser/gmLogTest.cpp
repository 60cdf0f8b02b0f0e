#include "script/compiler/gmLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadAll(gmLog& log)
{
  std::vector<std::string> entries;
  bool first = true;
  while (const char* e = log.GetEntry(first))
    entries.push_back(e);
  return entries;
}

TEST(Log, FormatsEntriesAndAppendsCrLf)
{
  gmLog log;
  EXPECT_TRUE(ReadAll(log).empty());
  log.LogEntry("error (%d) %s", 12, "parse error");
  log.LogEntry("%s", "");
  EXPECT_EQ(ReadAll(log), (std::vector<std::string>{"error (12) parse error\r\n", "\r\n"}));
}

TEST(Log, CutsLongEntriesToTheFormattingBuffer)
{
  gmLog log;
  std::string big(5000, 'x');
  log.LogEntry("%s", big.c_str());
  log.LogEntry("after");
  std::vector<std::string> entries = ReadAll(log);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], std::string(gmLog::ENTRY_BUFFER - 1, 'x') + "\r\n");
  EXPECT_EQ(entries[1], "after\r\n");
}

TEST(Log, CursorRestartsAndPicksUpLaterEntries)
{
  gmLog log;
  bool first = true;
  EXPECT_EQ(log.GetEntry(first), nullptr);
  // Enough entries to span several storage blocks.
  for (int i = 0; i < 1000; ++i)
    log.LogEntry("entry %d", i);
  int seen = 0;
  while (const char* e = log.GetEntry(first))
    EXPECT_EQ(std::string(e), "entry " + std::to_string(seen++) + "\r\n");
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

} // namespace
