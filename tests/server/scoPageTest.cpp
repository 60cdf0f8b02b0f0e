// The leaderboard page as a real browser builds it: Debian's chromium, headless, prints
// the DOM after loading; the rows must be there in rank order and a hostile name must be
// text, not markup.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "tests/server/scoTestServer.h"

namespace {

using scoTest::Process;
using scoTest::TempDir;

std::string Browse(const std::string& url, const std::string& profile) {
  // Only the loopback is reachable, and the profile is new each time: nothing it does
  // may try the network or remember a previous run.
  const std::string command =
      "chromium --no-sandbox --headless --disable-gpu --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --disable-crash-reporter --user-data-dir='" +
      profile + "' --dump-dom '" + url + "' 2>/dev/null";
  std::string dom;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return dom;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) dom.append(buffer, n);
  pclose(pipe);
  return dom;
}

// The text of every cell of the second column (the player) of the scores table.
std::vector<std::string> PlayerCells(const std::string& dom) {
  std::vector<std::string> players;
  std::regex row("<tr><td class=\"n\">[0-9]+</td><td>(.*?)</td>");
  for (std::sregex_iterator it(dom.begin(), dom.end(), row), end; it != end; ++it) players.push_back((*it)[1]);
  return players;
}

TEST(ScorePage, ChromiumShowsRowsInOrderAndNamesAsText) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db", "--rate", "0"});
  ASSERT_GT(server.port, 0);
  httplib::Client client = server.Client();
  const std::pair<const char*, const char*> scores[] = {
      {"Ann", "10"},
      {"<script>document.title='owned'</script>", "30"},
      {"<img src=x onerror=\"document.title='owned'\">", "20"},
      {"Bob & Eve", "5"},
  };
  for (const auto& s : scores) {
    httplib::Result r = client.Post("/submit.php", scoTest::SubmitBody("Page<Game>", s.first, s.second),
                                    "application/x-www-form-urlencoded");
    ASSERT_TRUE(r && r->status == 200);
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port);

  std::string games = Browse(base + "/", dir.path + "/profile1");
  ASSERT_NE(games.find("<h1>High scores</h1>"), std::string::npos) << games;
  EXPECT_NE(games.find("Page&lt;Game&gt;</a>"), std::string::npos) << games;

  std::string dom =
      Browse(base + "/scores?script_name=Page%3CGame%3E&script_version=1.0&params=", dir.path + "/profile2");
  ASSERT_NE(dom.find("<table id=\"scores\">"), std::string::npos) << dom;
  EXPECT_EQ(PlayerCells(dom), (std::vector<std::string>{
                                  "&lt;script&gt;document.title='owned'&lt;/script&gt;",
                                  "&lt;img src=x onerror=\"document.title='owned'\"&gt;",
                                  "Ann",
                                  "Bob &amp; Eve",
                              }));
  // Had a name become markup, the browser would have made elements of it and run them.
  EXPECT_EQ(dom.find("<script"), std::string::npos);
  EXPECT_EQ(dom.find("<img"), std::string::npos);
  EXPECT_EQ(dom.find("owned</title>"), std::string::npos);
  EXPECT_NE(dom.find("<title>Page&lt;Game&gt; 1.0 - high scores</title>"), std::string::npos) << dom;
}

}  // namespace
