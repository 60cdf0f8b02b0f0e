// What a request must be to reach the store, and what the player receives: every answer
// is read back by the player's own parser and machine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "binding/gScriptMachine.h"
#include "network/netScores.h"
#include "script/compiler/gmLog.h"
#include "script/vm/gmMachine.h"
#include "server/scoProtocol.h"
#include "server/scoRateLimiter.h"

namespace {

using scoProtocol::Fields;

TEST(ScoreProtocol, ParseForm) {
  struct Case {
    std::string text;
    bool ok;
    Fields fields;
  };
  const Case cases[] = {
      {"a=1&b=two+words&c=%41%2b%26%3D", true, {{"a", "1"}, {"b", "two words"}, {"c", "A+&="}}},
      {"", true, {}},
      {"a=&b&&c=1", true, {{"a", ""}, {"b", ""}, {"c", "1"}}},
      {"a=x=y", true, {{"a", "x=y"}}},
      {"a=%zz", false, {}},
      {"a=%4", false, {}},
      {"a=%", false, {}},
      {"a=1&a=2", false, {}},
      {"%61=1&a=2", false, {}},
  };
  for (const Case& c : cases) {
    Fields fields;
    std::string error;
    EXPECT_EQ(scoProtocol::ParseForm(c.text, &fields, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(fields, c.fields) << c.text;
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(ScoreProtocol, CleanText) {
  const std::pair<std::string, bool> cases[] = {
      {"Ann", true},
      {"", true},
      {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xae", true},
      {"`\"'<>&;(){}", true},
      {std::string("a\0b", 3), false},
      {"line\nbreak", false},
      {"tab\t", false},
      {"\x7f", false},
      {"\xc2\x85", false},          // a C1 control
      {"\xc0\xaf", false},          // overlong "/"
      {"\xe0\x80\xaf", false},      // overlong, three bytes
      {"\xed\xa0\x80", false},      // a surrogate
      {"\xf4\x90\x80\x80", false},  // past U+10FFFF
      {"\xe6\x97", false},          // cut short
      {"\x80", false},
      {"\xff", false},
  };
  for (const auto& c : cases) EXPECT_EQ(scoProtocol::IsCleanText(c.first), c.second) << testing::PrintToString(c.first);
}

Fields Submission() {
  return {{"checksum", "0123456789ABCDEF0123456789ABCDEF01234567"},
          {"script_name", "Game"},
          {"script_version", "1.0"},
          {"engine_version", "7.10"},
          {"params", ""},
          {"player_name", "Ann"},
          {"score", "12.500000"},
          {"user_timestamp", "-5"}};
}

TEST(ScoreProtocol, Submissions) {
  scoProtocol::Submission s;
  std::string error;
  ASSERT_EQ(scoProtocol::ReadSubmission(Submission(), {}, 1000, &s, &error), scoProtocol::ACCEPTED) << error;
  EXPECT_EQ(s.table.scriptName, "Game");
  EXPECT_FALSE(s.table.dev);
  EXPECT_EQ(s.entry.score, 12.5);
  EXPECT_EQ(s.entry.time, 1000);
  EXPECT_EQ(s.entry.userTime, -5);

  struct Case {
    const char* field;
    std::string value;  // "<erase>" removes the field
    int verdict;
  };
  const Case cases[] = {
      {"score", "-3", scoProtocol::ACCEPTED},
      {"score", "3.4e38", scoProtocol::ACCEPTED},
      {"score", "339999995214436424907732413799364296704.000000", scoProtocol::ACCEPTED},
      {"player_name", "", scoProtocol::ACCEPTED},
      {"player_name", std::string(64, 'x'), scoProtocol::ACCEPTED},
      {"engine_version", "<erase>", scoProtocol::ACCEPTED},
      {"user_timestamp", "<erase>", scoProtocol::ACCEPTED},
      {"score", "nan", scoProtocol::BAD_REQUEST},
      {"score", "inf", scoProtocol::BAD_REQUEST},
      {"score", "1e999", scoProtocol::BAD_REQUEST},
      {"score", "0x10", scoProtocol::BAD_REQUEST},
      {"score", " 1", scoProtocol::BAD_REQUEST},
      {"score", "1.5x", scoProtocol::BAD_REQUEST},
      {"score", ".", scoProtocol::BAD_REQUEST},
      {"score", "", scoProtocol::BAD_REQUEST},
      {"score", "<erase>", scoProtocol::BAD_REQUEST},
      {"player_name", std::string(65, 'x'), scoProtocol::BAD_REQUEST},
      {"player_name", "bad\xff", scoProtocol::BAD_REQUEST},
      {"player_name", "<erase>", scoProtocol::BAD_REQUEST},
      {"script_name", "", scoProtocol::BAD_REQUEST},
      {"script_name", "<erase>", scoProtocol::BAD_REQUEST},
      {"params", std::string(257, 'p'), scoProtocol::BAD_REQUEST},
      {"checksum", "", scoProtocol::BAD_REQUEST},
      {"user_timestamp", "soon", scoProtocol::BAD_REQUEST},
  };
  for (const Case& c : cases) {
    Fields form = Submission();
    if (c.value == "<erase>")
      form.erase(c.field);
    else
      form[c.field] = c.value;
    error.clear();
    EXPECT_EQ(scoProtocol::ReadSubmission(form, {}, 0, &s, &error), c.verdict) << c.field << "=" << c.value;
    EXPECT_EQ(error.empty(), c.verdict == scoProtocol::ACCEPTED) << error;
  }
}

TEST(ScoreProtocol, ChecksumListRefusesOtherBuildsButNotDevelopers) {
  scoProtocol::Checksums list = {{"Game", {"GOOD"}}};
  struct Case {
    const char* script;
    const char* checksum;
    int verdict;
  };
  const Case cases[] = {
      {"Game", "GOOD", scoProtocol::ACCEPTED},
      {"Game", "EVIL", scoProtocol::REFUSED},
      {"Game", "dev", scoProtocol::ACCEPTED},
      {"Other", "EVIL", scoProtocol::ACCEPTED},
  };
  for (const Case& c : cases) {
    Fields form = Submission();
    form["script_name"] = c.script;
    form["checksum"] = c.checksum;
    scoProtocol::Submission s;
    std::string error;
    EXPECT_EQ(scoProtocol::ReadSubmission(form, list, 0, &s, &error), c.verdict) << c.script << " " << c.checksum;
    if (c.verdict == scoProtocol::ACCEPTED) {
      EXPECT_EQ(s.table.dev, std::string(c.checksum) == "dev");
    }
  }
}

TEST(ScoreProtocol, ChecksumsFile) {
  char path[] = "/tmp/ombrix-checksums-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string good = "# accepted builds\nGame AAAA\n\n  Game BBBB  \nOther CCCC\n";
  ASSERT_EQ(write(fd, good.data(), good.size()), ssize_t(good.size()));
  close(fd);
  scoProtocol::Checksums list;
  std::string error;
  ASSERT_TRUE(scoProtocol::ReadChecksums(path, &list, &error)) << error;
  EXPECT_EQ(list, (scoProtocol::Checksums{{"Game", {"AAAA", "BBBB"}}, {"Other", {"CCCC"}}}));

  std::FILE* file = std::fopen(path, "w");
  std::fputs("Game AAAA\nGame\n", file);
  std::fclose(file);
  EXPECT_FALSE(scoProtocol::ReadChecksums(path, &list, &error));
  EXPECT_NE(error.find(":2:"), std::string::npos) << error;
  unlink(path);
  EXPECT_FALSE(scoProtocol::ReadChecksums(path, &list, &error));
}

TEST(ScoreProtocol, Queries) {
  struct Case {
    std::string text;
    bool ok;
    long long from, to;
    bool dev;
  };
  const Case cases[] = {
      {"format=GM&script_name=G&script_version=1&params=&from=1&to=10&dev=0", true, 1, 10, false},
      {"format=GM&script_name=G&script_version=1&params=&from=0&to=10&dev=1", true, 1, 10, true},
      {"format=GM&script_name=G&script_version=1&params=&from=-1&to=-2147483648&dev=0", true, 1, -2147483648LL, false},
      {"format=GM&script_name=G&script_version=1&params=&from=5&to=100000", true, 5, 104, false},
      {"format=GM&script_name=G&script_version=1&params=&from=1&to=2&dev=2", false, 0, 0, false},
      {"format=JSON&script_name=G&script_version=1&params=&from=1&to=2", false, 0, 0, false},
      {"script_name=G&script_version=1&params=&from=1&to=2", false, 0, 0, false},
      {"format=GM&script_name=G&script_version=1&params=&from=a&to=2", false, 0, 0, false},
      {"format=GM&script_name=G&script_version=1&params=&from=1", false, 0, 0, false},
      {"format=GM&script_name=G&script_version=1&params=&from=1&to=99999999999999999999", false, 0, 0, false},
      {"format=GM&script_name=%FF&script_version=1&params=&from=1&to=2", false, 0, 0, false},
  };
  for (const Case& c : cases) {
    Fields fields;
    scoProtocol::Query q;
    std::string error;
    ASSERT_TRUE(scoProtocol::ParseForm(c.text, &fields, &error)) << c.text;
    EXPECT_EQ(scoProtocol::ReadQuery(fields, &q, &error), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(q.from, c.from) << c.text;
    EXPECT_EQ(q.to, c.to) << c.text;
    EXPECT_EQ(q.table.dev, c.dev) << c.text;
  }
}

// Answers go through the player's check and are run on its machine: every hostile name
// arrives as the very text that was submitted, and nothing in it runs.
TEST(ScoreProtocol, AnswersRoundTripThroughThePlayer) {
  const std::vector<std::string> names = {
      "Ann",
      "\"); sysCollectGarbage(); (\"",
      "`); print(`owned`); (`",
      "``",
      "`",
      "\\\" \\n \\",
      "*/ /* // <script>",
      "\xe6\x97\xa5\xe6\x9c\xac",
      "",
  };
  std::vector<scoRow> rows;
  for (size_t i = 0; i < names.size(); ++i)
    rows.push_back(
        scoRow{static_cast<long long>(i + 1), names[i], i % 2 ? -2.5 * double(i) : 1e20 + double(i), 1700000000});
  const std::string answer = scoProtocol::ScriptAnswer(rows);

  gmLog log;
  std::string script;
  ASSERT_EQ(netScores::CheckQueryAnswer("got", answer, &log, &script), netScores::ANSWER_DATA) << answer;

  static std::vector<std::string>* s_printed;
  std::vector<std::string> printed;
  s_printed = &printed;
  gmPrintCallback saved = gmMachine::s_printCallback;
  // print ends each line with the blank that separates its arguments.
  gmMachine::s_printCallback = [](gmMachine*, const char* text) {
    std::string line = text;
    if (!line.empty() && line.back() == ' ') line.pop_back();
    s_printed->push_back(line);
  };
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false);
  gmMachine* machine = host->GetMachine();
  ASSERT_EQ(machine->RunString("global got = function(t) { for (i = 0; t[i] != null; i += 1) {"
                               " r = t[i]; print(typeName(r.rank), r.rank, typeName(r.score), typeName(r.time));"
                               " print(\"[\" + r.player + \"]\"); } };"),
            0);
  ASSERT_EQ(machine->RunString(script.c_str()), 0) << script;
  gmMachine::s_printCallback = saved;

  ASSERT_EQ(printed.size(), 2 * names.size()) << answer;
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(printed[2 * i], "int " + std::to_string(i + 1) + " float int");
    EXPECT_EQ(printed[2 * i + 1], "[" + names[i] + "]") << answer;
  }
  EXPECT_EQ(scoProtocol::ScriptAnswer({}), "{}");
}

TEST(ScoreProtocol, NumbersStayFloats) {
  const std::pair<double, const char*> cases[] = {
      {10, "10.0"}, {-3, "-3.0"}, {12.5, "12.5"}, {0.1, "0.1"}, {3.4e38, "3.4e+38"}, {1e-7, "1e-07"}, {0, "0.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(scoProtocol::ScriptNumber(c.first), c.second);
}

TEST(ScoreProtocol, PagesEscapeEveryText) {
  scoTable t{"<b>G</b>", "1\"", "a&b", false};
  const std::string page = scoProtocol::TablePage(t, {scoRow{1, "<script>alert(1)</script>", 5, 0}});
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  const std::string games = scoProtocol::GamesPage({scoGame{t, 3}});
  EXPECT_NE(games.find("href=\"/scores?script_name=%3Cb%3EG%3C%2Fb%3E&amp;script_version=1%22&amp;params=a%26b\""),
            std::string::npos)
      << games;
  EXPECT_EQ(games.find("<b>"), std::string::npos);
}

TEST(ScoreRateLimiter, BurstThenRate) {
  scoRateLimiter limiter(2, 4);
  int allowed = 0;
  for (int i = 0; i < 10; ++i) allowed += limiter.Allow("a", 100.0);
  EXPECT_EQ(allowed, 4);
  EXPECT_TRUE(limiter.Allow("b", 100.0)) << "addresses have buckets of their own";
  EXPECT_TRUE(limiter.Allow("a", 100.5));
  EXPECT_FALSE(limiter.Allow("a", 100.6));
  EXPECT_FALSE(limiter.Allow("a", 50.0)) << "a clock that goes back adds nothing";
  allowed = 0;
  for (int i = 0; i < 10; ++i) allowed += limiter.Allow("a", 1000.0);
  EXPECT_EQ(allowed, 4) << "a long pause refills only the burst";

  // A flood of addresses: past the bound, new ones wait until old buckets have refilled.
  scoRateLimiter crowd(2, 4);
  for (int i = 0; i < scoRateLimiter::MAX_TRACKED; ++i) ASSERT_TRUE(crowd.Allow(std::to_string(i), 0.0));
  EXPECT_FALSE(crowd.Allow("late", 0.0));
  EXPECT_TRUE(crowd.Allow("7", 0.1)) << "a known address is still served";
  EXPECT_FALSE(crowd.Allow("late", 0.5));
  EXPECT_TRUE(crowd.Allow("late", 5.0));

  scoRateLimiter off(0, 0);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(off.Allow("a", 0));
}

}  // namespace
