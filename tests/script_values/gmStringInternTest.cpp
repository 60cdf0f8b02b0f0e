// Interning with many strings: texts sharing long prefixes, texts that are prefixes of others,
// bytes above 0x7f, texts whose hashes agree in every bit, and destruction in any order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "script/vm/gmMachine.h"

namespace {

uint32_t Hash(const std::string& a_text) {
  uint32_t h = 0;
  for (char c : a_text) h = h * 33u + static_cast<uint32_t>(static_cast<int>(static_cast<signed char>(c)));
  return h;
}

// a_text with two non-NUL bytes appended so that its hash picks chain a_chain of 8192.
std::string Steer(const std::string& a_text, uint32_t a_chain) {
  uint32_t base = Hash(a_text) * 33u * 33u;
  for (int b1 = -128; b1 < 128; ++b1) {
    if (b1 == 0) continue;
    int b2 = static_cast<int>((a_chain - base - static_cast<uint32_t>(b1) * 33u) & 8191u);
    if (b2 >= 8192 - 128) b2 -= 8192;
    if (b2 != 0 && b2 >= -128 && b2 < 128) return a_text + static_cast<char>(b1) + static_cast<char>(b2);
  }
  return a_text;
}

// Several times more texts than chains, so every chain holds a handful of neighbours that
// often agree on their first eight bytes or more.
std::vector<std::string> Texts() {
  std::vector<std::string> texts = {"",
                                    "a",
                                    "ab",
                                    "abcdefg",
                                    "abcdefgh",
                                    "abcdefghi",
                                    "abcdefgh\x80",
                                    "abcdefgh\x7f",
                                    "\xff",
                                    "\xff\xfe",
                                    "\x80",
                                    "abcdefghijklmnopq",
                                    "abcdefghijklmno",
                                    "abcdefghijklmnop",
                                    "abcdefghijklmnopq",
                                    "abcdefghijklmnop\x80",
                                    "abcdefghijklmnop\x7f",
                                    "abcdefghijklmno\xff"};
  const char* stems[] = {"k",
                         "key_",
                         "player_score_",
                         "fifteen_bytes_p",
                         "sixteen_bytes_pf",
                         "a_rather_long_common_prefix_",
                         "\xc3\xa9t\xc3\xa9_"};
  for (const char* stem : stems) {
    for (int i = 0; i < 9000; ++i) texts.push_back(stem + std::to_string(i * 7919 % 100003));
  }
  // Hundreds of texts in one chain, agreeing on far more than their first sixteen bytes, and
  // runs of them where each is a prefix of the next.
  std::vector<std::string> bases;
  for (int i = 0; i < 60; ++i) bases.push_back("one_chain_with_a_long_shared_prefix_" + std::to_string(i * 37 % 61));
  for (int n = 6; n <= 16; ++n) bases.push_back(std::string("around_sixteen_bytes").substr(0, n));
  for (std::string t : bases) {
    for (int step = 0; step < 5; ++step) {
      t = Steer(t, 4321);
      texts.push_back(t);
    }
  }
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  return texts;
}

int Sign(int a_value) { return (a_value > 0) - (a_value < 0); }

// Chains are ordered by keys and read texts only where keys tie, so a key must order texts of
// every length as strcmp does, and equal keys of texts shorter than a key must mean equal
// texts. Each text here has neighbours differing from it in one byte only, at every position,
// and neighbours that are its prefixes.
TEST(StringKeyTest, KeysOrderTextsOfEveryLengthAsByteComparisonDoes) {
  const char alphabet[] = {'\x01', 'a', '\x7f', '\x80', '\xff'};
  std::mt19937 random(7);
  std::vector<std::string> texts;
  for (int base = 0; base < 2; ++base) {
    std::string t;
    for (int k = 0; k < 20; ++k) t += alphabet[random() % 5];
    for (size_t length = 0; length <= t.size(); ++length) {
      std::string prefix = t.substr(0, length);
      texts.push_back(prefix);
      for (size_t at = 0; at < length; ++at) {
        for (char c : alphabet) {
          std::string v = prefix;
          v[at] = c;
          texts.push_back(v);
        }
      }
    }
  }
  for (const std::string& a : texts) {
    gmStringKey ka = gmStringKeyOf(a.c_str(), static_cast<int>(a.size()));
    for (const std::string& b : texts) {
      gmStringKey kb = gmStringKeyOf(b.c_str(), static_cast<int>(b.size()));
      int order = Sign(std::strcmp(a.c_str(), b.c_str()));
      if (gmStringKeyEqual(ka, kb)) {
        ASSERT_TRUE(a.size() >= 16 || a == b) << a << " / " << b;
        ASSERT_EQ(a.compare(0, 16, b, 0, 16), 0) << a << " / " << b;
      } else {
        ASSERT_EQ(gmStringKeyBelow(ka, kb) ? -1 : 1, order) << a << " / " << b;
      }
    }
  }
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
  // The fixture really crowds one chain.
  EXPECT_GE(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return (Hash(t) & 8191u) == 4321u; }),
            300);
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

// "AB" and "B!" hash alike (65 * 33 + 66 == 66 * 33 + 33), and so does every text made of
// such pairs: all of them start their probe at one slot and sit in one run, which
// destruction must close up without cutting any of the others off.
TEST_F(StringInternTest, TextsOfOneHashStayFoundAsNeighboursAreDestroyed) {
  bool gc = machine.EnableGC(false);
  std::vector<std::string> same;
  for (int bits = 0; bits < 1024; ++bits) {
    std::string t;
    for (int i = 0; i < 10; ++i) t += (bits >> i & 1) ? "B!" : "AB";
    same.push_back(t);
  }
  ASSERT_EQ(Hash(same.front()), Hash(same.back()));
  std::vector<gmStringObject*> strings;
  for (const std::string& t : same) strings.push_back(machine.MakeString(t.c_str()));

  std::vector<size_t> order(same.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::vector<bool> gone(same.size(), false);
  for (size_t k = 0; k < order.size(); ++k) {
    Destroy(strings[order[k]]);
    gone[order[k]] = true;
    // Every so often, everything left is still found, and nothing gone is.
    if (k % 97 != 0) continue;
    for (size_t i = 0; i < same.size(); ++i) {
      ASSERT_EQ(machine.FindString(same[i].c_str()), gone[i] ? nullptr : strings[i]) << same[i];
    }
  }
  machine.EnableGC(gc);
}

}  // namespace
