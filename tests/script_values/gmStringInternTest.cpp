// Interning with many strings per chain: texts sharing long prefixes, texts that are prefixes
// of others, bytes above 0x7f, and destruction from any place in a chain.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "script/vm/gmMachine.h"

namespace {

// Several times more texts than chains, so every chain holds a handful of neighbours that
// often agree on their first eight bytes or more.
std::vector<std::string> Texts() {
  std::vector<std::string> texts = {"", "a", "ab", "abcdefg", "abcdefgh", "abcdefghi", "abcdefgh\x80",
                                    "abcdefgh\x7f", "\xff", "\xff\xfe", "\x80" "abcdefghijklmnopq"};
  const char* stems[] = {"k", "key_", "player_score_", "a_rather_long_common_prefix_", "\xc3\xa9t\xc3\xa9_"};
  for (const char* stem : stems) {
    for (int i = 0; i < 9000; ++i) texts.push_back(stem + std::to_string(i * 7919 % 100003));
  }
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  return texts;
}

class StringInternTest : public ::testing::Test {
 protected:
  gmMachine machine;
  std::vector<std::string> texts = Texts();
  std::mt19937 random{12};

  void Destroy(gmObject* obj) { machine.GetGC()->DestructObject(&machine, obj); }
};

TEST_F(StringInternTest, EveryTextHasExactlyOneStringWhateverTheInsertionOrder) {
  bool gc = machine.EnableGC(false);
  std::vector<std::string> shuffled = texts;
  std::shuffle(shuffled.begin(), shuffled.end(), random);
  for (const std::string& t : shuffled) machine.MakeString(t.c_str());
  int usage = machine.GetCurrentMemoryUsage();

  for (const std::string& t : texts) {
    gmStringObject* s = machine.FindString(t.c_str());
    ASSERT_NE(s, nullptr) << t;
    EXPECT_EQ(std::string(s->GetString()), t);
    EXPECT_EQ(s->GetLength(), static_cast<gmint>(t.size()));
    ASSERT_EQ(machine.MakeString(t.c_str()), s) << t;
  }
  EXPECT_EQ(machine.GetCurrentMemoryUsage(), usage);  // nothing made twice

  // Near misses of stored texts are not found.
  for (const char* t : {"abcdefghij", "abcdef", "player_score_", "key_-1", "\xff\xff", "abcdefgh\x81"}) {
    EXPECT_EQ(machine.FindString(t), nullptr) << t;
  }
  machine.EnableGC(gc);
}

TEST_F(StringInternTest, DestroyedStringsLeaveTheirChainsWithTheRestIntact) {
  bool gc = machine.EnableGC(false);
  int start = machine.GetCurrentMemoryUsage();
  // Made in a random order, so strings go in before, between and after their neighbours.
  std::vector<size_t> made(texts.size());
  for (size_t i = 0; i < made.size(); ++i) made[i] = i;
  std::shuffle(made.begin(), made.end(), random);
  std::vector<gmStringObject*> strings(texts.size());
  for (size_t i : made) strings[i] = machine.MakeString(texts[i].c_str());

  // Every other string in a random order: heads, middles and tails of chains alike.
  std::vector<size_t> order(texts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::vector<bool> gone(texts.size(), false);
  for (size_t k = 0; k < order.size(); k += 2) {
    Destroy(strings[order[k]]);
    gone[order[k]] = true;
  }

  for (size_t i = 0; i < texts.size(); ++i) {
    gmStringObject* s = machine.FindString(texts[i].c_str());
    if (gone[i]) {
      ASSERT_EQ(s, nullptr) << texts[i];
      // Made again, it is found again, in its proper place.
      strings[i] = machine.MakeString(texts[i].c_str());
      ASSERT_EQ(machine.FindString(texts[i].c_str()), strings[i]) << texts[i];
    } else {
      ASSERT_EQ(s, strings[i]) << texts[i];
    }
  }
  // Emptying everything leaves the chains empty and the figures back where they started.
  for (gmStringObject* s : strings) Destroy(s);
  for (const std::string& t : texts) ASSERT_EQ(machine.FindString(t.c_str()), nullptr) << t;
  EXPECT_EQ(machine.GetCurrentMemoryUsage(), start);
  machine.EnableGC(gc);
}

}  // namespace
