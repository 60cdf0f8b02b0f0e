// scriptConformance RUNNER CASE.qv
//
// Runs one script case through the runner (from the case's folder, by its bare name, so
// error positions read "case.qv(line)") and compares what it printed with the expectations
// written in the case's comments:
//
//   // expect: TEXT                 the next line of standard output
//   // expect log: TEXT             the next non-empty line of the machine log
//   // expect runtime error: TEXT   a log line that begins with TEXT (what failed may
//                                   follow), then the error position of this line:
//                                   "case.qv(N) : " and the line's first 79 bytes
//   // expect compile error: TEXT   the log line "case.qv(N) : TEXT" with N this line, and
//                                   exit status 1: nothing of the text runs
//   // expect exit: N               the runner's exit status (0 without this)
//   // expect more log              further log lines may follow the expected ones (a
//                                   call stack thousands of calls deep)
//
// Trailing blanks are ignored on both sides (print ends each value with a space) and empty
// log lines are skipped; everything else must match line for line, nothing more or less.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string RightTrim(std::string a_text) {
  while (!a_text.empty() &&
         (a_text.back() == ' ' || a_text.back() == '\t' || a_text.back() == '\r' || a_text.back() == '\n'))
    a_text.pop_back();
  return a_text;
}

std::vector<std::string> Lines(const std::string& a_text, bool a_skipEmpty) {
  std::vector<std::string> lines;
  std::istringstream in(a_text);
  std::string line;
  while (std::getline(in, line)) {
    line = RightTrim(line);
    if (a_skipEmpty && line.empty()) continue;
    lines.push_back(line);
  }
  if (!a_skipEmpty) {
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
  }
  return lines;
}

std::string ReadFile(const std::string& a_path) {
  std::ifstream in(a_path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Text after "// <tag>" on the line, or false.
bool Annotation(const std::string& a_line, const std::string& a_tag, std::string& a_value) {
  std::string marker = "// " + a_tag;
  size_t at = a_line.find(marker);
  if (at == std::string::npos) return false;
  a_value = RightTrim(a_line.substr(at + marker.size()));
  if (!a_value.empty() && a_value[0] == ' ') a_value.erase(0, 1);
  return true;
}

// Lines whose expectation ends with kAnyTail match any line that starts with the rest: a
// run-time error's fixed text, which the machine follows with what failed.
const char kAnyTail[] = "\x01...";

bool Matches(const std::string& a_expected, const std::string& a_actual) {
  const size_t tail = sizeof(kAnyTail) - 1;
  if (a_expected.size() >= tail && a_expected.compare(a_expected.size() - tail, tail, kAnyTail) == 0)
    return a_actual.compare(0, a_expected.size() - tail, a_expected, 0, a_expected.size() - tail) == 0;
  return a_expected == a_actual;
}

bool Compare(const char* a_what, const std::vector<std::string>& a_expected, const std::vector<std::string>& a_actual) {
  bool same = a_expected.size() == a_actual.size();
  for (size_t i = 0; same && i < a_expected.size(); ++i) same = Matches(a_expected[i], a_actual[i]);
  if (same) return true;
  std::cerr << "--- " << a_what << " differs\nexpected:\n";
  for (const std::string& l : a_expected) std::cerr << "  |" << l << "\n";
  std::cerr << "actual:\n";
  for (const std::string& l : a_actual) std::cerr << "  |" << l << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: scriptConformance RUNNER CASE.qv\n";
    return 2;
  }
  const std::string runner = argv[1];
  const std::string path = argv[2];
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  std::vector<std::string> expectOut, expectLog;
  int expectExit = 0;
  bool moreLog = false;
  {
    std::vector<std::string> source = Lines(ReadFile(path), false);
    for (size_t i = 0; i < source.size(); ++i) {
      const std::string& line = source[i];
      std::string value;
      if (Annotation(line, "expect compile error:", value)) {
        expectLog.push_back(name + "(" + std::to_string(i + 1) + ") : " + value);
        expectExit = 1;
      } else if (Annotation(line, "expect runtime error:", value)) {
        expectLog.push_back(value + kAnyTail);
        expectLog.push_back(RightTrim(name + "(" + std::to_string(i + 1) + ") : " + line.substr(0, 79)));
      } else if (Annotation(line, "expect log:", value)) {
        expectLog.push_back(value);
      } else if (Annotation(line, "expect more log", value)) {
        moreLog = true;
      } else if (Annotation(line, "expect exit:", value)) {
        expectExit = std::atoi(value.c_str());
      } else if (Annotation(line, "expect:", value)) {
        expectOut.push_back(value);
      }
    }
  }

  char errPath[] = "/tmp/scriptConformanceXXXXXX";
  int errFile = mkstemp(errPath);
  if (errFile < 0) {
    std::perror("mkstemp");
    return 2;
  }
  close(errFile);

  int toParent[2];
  if (pipe(toParent) != 0) return 2;
  pid_t child = fork();
  if (child == 0) {
    dup2(toParent[1], 1);
    close(toParent[0]);
    close(toParent[1]);
    if (!std::freopen(errPath, "w", stderr)) _exit(127);
    if (chdir(folder.c_str()) != 0) _exit(127);
    execl(runner.c_str(), runner.c_str(), name.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toParent[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(toParent[0], buffer, sizeof(buffer))) > 0) out.append(buffer, static_cast<size_t>(n));
  close(toParent[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::string err = ReadFile(errPath);
  std::remove(errPath);

  bool ok = true;
  ok = Compare("standard output", expectOut, Lines(out, false)) && ok;
  std::vector<std::string> log = Lines(err, true);
  if (moreLog && log.size() > expectLog.size()) log.resize(expectLog.size());
  ok = Compare("log", expectLog, log) && ok;
  if (!WIFEXITED(status)) {
    std::cerr << "--- the runner did not exit normally (status " << status << ")\n";
    ok = false;
  } else if (WEXITSTATUS(status) != expectExit) {
    std::cerr << "--- exit status " << WEXITSTATUS(status) << ", expected " << expectExit << "\n";
    ok = false;
  }
  return ok ? 0 : 1;
}
