// The authors' pages cannot drift from the player: every entry of docs/api.md is an entry
// of "ombrix --api" with a description, every example of docs/language.md that shows output
// prints it, and docs/first-game.md's final game and CI line run as shown.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& a_path) {
  std::ifstream in(a_path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Standard output of a shell command, and its exit status.
std::string Shell(const std::string& a_command, int* a_status = nullptr) {
  std::string output;
  FILE* pipe = popen(a_command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  if (a_status) *a_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

std::vector<std::string> Lines(const std::string& a_text) {
  std::vector<std::string> lines;
  std::stringstream in(a_text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& a_text, const std::string& a_prefix) { return a_text.rfind(a_prefix, 0) == 0; }

// ---- The API reference ------------------------------------------------------------------

// What the page must hold of the listing: its headings and entries, in order. An entry of
// the page is "- `SIGNATURE` — description", its description going on in indented lines.
struct Reference {
  std::vector<std::string> keys;         // headings and "- `SIGNATURE`"
  std::vector<std::string> undescribed;  // entries without a description, or with "TODO"
};

Reference ReadReference(const std::string& a_page) {
  Reference reference;
  const std::vector<std::string> lines = Lines(a_page);
  bool inside = false;
  std::string entry;
  std::string description;
  auto close = [&]() {
    if (!entry.empty() &&
        (description.find_first_not_of(" `") == std::string::npos || description.find("TODO") != std::string::npos))
      reference.undescribed.push_back(entry);
    entry.clear();
    description.clear();
  };
  for (const std::string& line : lines) {
    if (line == "<!-- api:begin -->") {
      inside = true;
      continue;
    }
    if (line == "<!-- api:end -->") break;
    if (!inside) continue;
    if (StartsWith(line, "#")) {
      close();
      reference.keys.push_back(line);
    } else if (StartsWith(line, "- `")) {
      close();
      const size_t end = line.find('`', 3);
      entry = line.substr(0, end == std::string::npos ? line.size() : end + 1);
      reference.keys.push_back(entry);
      description = end == std::string::npos ? "" : line.substr(end + 1);
      const size_t dash = description.find("\xE2\x80\x94");  // the em dash after the signature
      description = dash == std::string::npos ? "" : description.substr(dash + 3);
    } else if (!entry.empty() && StartsWith(line, "  ")) {
      description += line;
    } else if (!line.empty()) {
      close();
    }
  }
  close();
  return reference;
}

// Empty when the page holds exactly the listing's headings and entries, in order, each
// entry described; else what differs, as a reader would fix it.
std::string CompareReference(const std::string& a_listing, const std::string& a_page) {
  std::vector<std::string> expected;
  for (const std::string& line : Lines(a_listing))
    if (StartsWith(line, "#") || StartsWith(line, "- `")) expected.push_back(line);
  const Reference page = ReadReference(a_page);
  std::string problems;
  for (const std::string& entry : page.undescribed) problems += "no description: " + entry + "\n";
  size_t i = 0;
  while (i < expected.size() && i < page.keys.size() && expected[i] == page.keys[i]) ++i;
  if (i < expected.size() || i < page.keys.size()) {
    problems += "first difference at entry " + std::to_string(i + 1) + ":\n";
    problems += "  ombrix --api: " + (i < expected.size() ? expected[i] : std::string("(end)")) + "\n";
    problems += "  docs/api.md:  " + (i < page.keys.size() ? page.keys[i] : std::string("(end)")) + "\n";
  }
  return problems;
}

TEST(ApiReference, ComparisonFindsEveryKindOfDrift) {
  const std::string listing = "# API 1\n\n## Types\n\n- `A.F(int)`\n- `A.G() -> float`\n";
  struct Case {
    const char* what;
    std::string page;
    bool matches;
  };
  const std::string begin = "intro\n<!-- api:begin -->\n# API 1\n\n## Types\n\n";
  const Case cases[] = {
      {"whole",
       begin + "- `A.F(int)` \xE2\x80\x94 Does f.\n- `A.G() -> float` \xE2\x80\x94 Gives g.\n  ```\n  x\n  ```\n<!-- "
               "api:end -->\n# Other",
       true},
      {"an entry missing", begin + "- `A.F(int)` \xE2\x80\x94 Does f.\n<!-- api:end -->", false},
      {"an entry naming nothing",
       begin + "- `A.F(int)` \xE2\x80\x94 Does f.\n- `A.G() -> float` \xE2\x80\x94 G.\n- `A.H()` \xE2\x80\x94 H.\n",
       false},
      {"a signature differing",
       begin + "- `A.F(float)` \xE2\x80\x94 Does f.\n- `A.G() -> float` \xE2\x80\x94 Gives g.\n", false},
      {"a description missing", begin + "- `A.F(int)`\n- `A.G() -> float` \xE2\x80\x94 Gives g.\n", false},
      {"a description left to do", begin + "- `A.F(int)` \xE2\x80\x94 TODO\n- `A.G() -> float` \xE2\x80\x94 Gives g.\n",
       false},
      {"a heading differing",
       "<!-- api:begin -->\n# API 2\n\n## Types\n\n- `A.F(int)` \xE2\x80\x94 f.\n- `A.G() -> float` \xE2\x80\x94 g.\n",
       false},
  };
  for (const Case& c : cases) EXPECT_EQ(CompareReference(listing, c.page).empty(), c.matches) << c.what;
}

TEST(ApiReference, DescribesWhatThePlayerRegisters) {
  const testSupport::PlayerRun run = testSupport::RunPlayer(".", {"--api"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string& listing = run.out;
  ASSERT_NE(listing.find("- `Graphics.NewMesh(text) -> handle`"), std::string::npos) << listing;
  const std::string problems = CompareReference(listing, ReadFile(fs::path(OMBRIX_SOURCE_DIR) / "docs/api.md"));
  EXPECT_EQ(problems, "") << "docs/api.md and `ombrix --api` differ";
}

TEST(ApiReference, JsonHoldsTheSameEntries) {
  const testSupport::PlayerRun markdown = testSupport::RunPlayer(".", {"--api"});
  ASSERT_EQ(markdown.status, 0) << markdown.err;
  const testSupport::PlayerRun asJson = testSupport::RunPlayer(".", {"--api", "--json"});
  ASSERT_EQ(asJson.status, 0) << asJson.err;
  const std::string& listing = markdown.out;
  const std::string& json = asJson.out;
  // Every entry of the Markdown form is a "signature" of the JSON form, in the same order.
  size_t at = 0;
  for (const std::string& line : Lines(listing)) {
    if (!StartsWith(line, "- `")) continue;
    std::string quoted;
    for (char c : line.substr(3, line.size() - 4)) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    at = json.find("\"signature\": \"" + quoted + "\"", at);
    ASSERT_NE(at, std::string::npos) << line;
  }
}

// ---- The language guide -----------------------------------------------------------------

// The ```qv blocks of a page that state output with "// expect" comments.
std::vector<std::string> ExampleBlocks(const std::string& a_page) {
  std::vector<std::string> blocks;
  std::string block;
  bool inside = false;
  for (const std::string& line : Lines(a_page)) {
    if (!inside && line == "```qv") {
      inside = true;
      block.clear();
    } else if (inside && line == "```") {
      inside = false;
      if (block.find("// expect") != std::string::npos) blocks.push_back(block);
    } else if (inside) {
      block += line + "\n";
    }
  }
  return blocks;
}

TEST(LanguageGuide, EveryExampleShowingOutputPrintsIt) {
  const std::vector<std::string> blocks = ExampleBlocks(ReadFile(fs::path(OMBRIX_SOURCE_DIR) / "docs/language.md"));
  ASSERT_GE(blocks.size(), 10u);
  const fs::path folder = fs::temp_directory_path() / ("ombrix-language-" + std::to_string(getpid()));
  fs::create_directories(folder);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const fs::path file = folder / ("example" + std::to_string(i + 1) + ".qv");
    std::ofstream(file) << blocks[i];
    int status = -1;
    const std::string report =
        Shell(std::string(OMBRIX_CONFORMANCE) + " " + OMBRIX_SCRIPT + " " + file.string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << "example " << i + 1 << " of docs/language.md:\n" << blocks[i] << report;
  }
  fs::remove_all(folder);
}

// ---- The first game -----------------------------------------------------------------

// A block of the tutorial marked for the test by the comment line before it.
struct Step {
  std::string kind;  // "run", "file" or "output"
  std::string name;  // the file written or compared
  std::string text;
};

std::vector<Step> TutorialSteps(const std::string& a_page) {
  std::vector<Step> steps;
  std::string marker;
  bool inside = false;
  for (const std::string& line : Lines(a_page)) {
    if (!inside && StartsWith(line, "<!-- test: ")) {
      marker = line.substr(11, line.size() - 11 - 4);
    } else if (!inside && StartsWith(line, "```") && !marker.empty()) {
      inside = true;
      const size_t space = marker.find(' ');
      steps.push_back({marker.substr(0, space), space == std::string::npos ? "" : marker.substr(space + 1), ""});
    } else if (inside && line == "```") {
      inside = false;
      marker.clear();
    } else if (inside) {
      steps.back().text += line + "\n";
    }
  }
  return steps;
}

std::string QuoteForShell(const std::string& a_text) {
  std::string quoted = "'";
  for (char c : a_text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The page's commands run in an empty folder, with HOME holding ombrix/build (the page's
// example location of the build) and the player on PATH, as the page's first lines set up.
TEST(FirstGame, RunsAsThePageShowsIt) {
  const std::vector<Step> steps = TutorialSteps(ReadFile(fs::path(OMBRIX_SOURCE_DIR) / "docs/first-game.md"));
  ASSERT_GE(steps.size(), 6u);
  const fs::path root = fs::temp_directory_path() / ("ombrix-first-game-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "home/ombrix");
  fs::create_directories(root / "work");
  fs::create_directory_symlink(OMBRIX_BINARY_DIR, root / "home/ombrix/build");
  const std::string environment = "cd " + QuoteForShell((root / "work").string()) +
                                  " && HOME=" + QuoteForShell((root / "home").string()) +
                                  " PATH=" + QuoteForShell(OMBRIX_BINARY_DIR) + ":\"$PATH\" bash -e -c ";
  for (const Step& step : steps) {
    if (step.kind == "file") {
      std::ofstream(root / "work" / step.name) << step.text;
    } else if (step.kind == "run") {
      int status = -1;
      const std::string output = Shell(environment + QuoteForShell(step.text) + " 2>&1", &status);
      ASSERT_EQ(status, 0) << step.text << output;
    } else if (step.kind == "output") {
      // The lines the page shows are the game's own, in the order the run printed them.
      const std::vector<std::string> recorded = Lines(ReadFile(root / "work" / step.name));
      size_t at = 0;
      for (const std::string& line : Lines(step.text)) {
        while (at < recorded.size() && recorded[at].substr(0, recorded[at].find_last_not_of(' ') + 1) != line) ++at;
        ASSERT_LT(at, recorded.size()) << "the page shows \"" << line << "\", which the run did not print";
        ++at;
      }
    }
  }
  fs::remove_all(root);
}

}  // namespace
