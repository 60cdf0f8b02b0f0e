// ombrix-script [--no-debug] FILE... | -e TEXT | (standard input)
//
// Runs script texts in order on one machine built as the player builds it, each compiled and
// run at once as the player loads a script, but named after its file so that errors point
// at FILE(line). Script print output goes to standard output; after each text the machine's
// new log entries go to standard error. Exit status 0 when every file was found and
// compiled, 1 otherwise. --no-debug compiles what follows without line instructions and debug
// records, as a host that does not need error lines would (the player always keeps them).

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "binding/gScriptMachine.h"
#include "host/gPlayerScriptApi.h"
#include "script/vm/gmMachine.h"

namespace {

void PrintLine(gmMachine*, const char* a_text) {
  std::fputs(a_text, stdout);
  std::fputc('\n', stdout);
}

// The compiler's "error (5) parse error" reads "FILE(5) : parse error", as run-time errors
// and editors have it.
std::string CompileErrorLine(const char* a_entry, const char* a_name) {
  int line = 0;
  int used = 0;
  if (a_name && std::sscanf(a_entry, "error (%d) %n", &line, &used) == 1 && used > 0)
    return std::string(a_name) + "(" + std::to_string(line) + ") : " + (a_entry + used);
  return a_entry;
}

// Log entries end in "\r\n" and error positions begin with one; a terminal wants "\n".
void ShowNewLogEntries(gmMachine& a_machine, long long& a_shown, const char* a_compiledName) {
  std::fflush(stdout);
  while (const char* entry = a_machine.GetLog().Next(a_shown)) {
    const std::string text = CompileErrorLine(entry, a_compiledName);
    for (char c : text) {
      if (c != '\r') std::fputc(c, stderr);
    }
  }
  std::fflush(stderr);
}

// True when the text compiled.
bool RunText(gmMachine& a_machine, const std::string& a_text, const char* a_name, long long& a_shown) {
  int errors = a_machine.RunString(a_text.c_str(), nullptr, true, a_name);
  ShowNewLogEntries(a_machine, a_shown, errors ? a_name : nullptr);
  return errors == 0;
}

// LoadScript in the runner reads the file beside it, as the player reads it from its
// package, and runs it named after the file.
bool LoadFile(gScriptHost* a_host, const char* a_name) {
  std::string text;
  if (!gReadScriptFile(a_name, text)) {
    std::fflush(stdout);
    std::fprintf(stderr, "Script %s not found!\n", a_name);
    return false;
  }
  return a_host->GetMachine()->RunString(text.c_str(), nullptr, true, a_name) == 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: ombrix-script [--no-debug] [FILE | -e TEXT]...\n"
               "       (no FILE or TEXT: the script is read from standard input)\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line even into a pipe: what a script printed before a fatal error must not be
  // lost in a buffer.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  gmMachine::s_printCallback = PrintLine;
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  host->loadScript = LoadFile;
  gmMachine* machine = host->GetMachine();
  long long shown = 0;
  bool ok = true;

  int first = 1;
  if (first < argc && std::strcmp(argv[first], "--no-debug") == 0) {
    machine->debugMode = false;
    ++first;
  }
  if (first >= argc) {
    std::string text;
    for (std::istreambuf_iterator<char> it(std::cin), end; it != end; ++it) {
      if (*it != '\0') text += *it;
    }
    ok = RunText(*machine, text, "stdin", shown);
    return ok ? 0 : 1;
  }

  for (int i = first; i < argc; ++i) {
    if (std::strcmp(argv[i], "-e") == 0) {
      if (i + 1 >= argc) return Usage();
      ok = RunText(*machine, argv[++i], "-e", shown) && ok;
      continue;
    }
    std::string text;
    if (!gReadScriptFile(argv[i], text)) {
      std::fflush(stdout);
      std::fprintf(stderr, "Script %s not found!\n", argv[i]);
      ok = false;
      continue;
    }
    ok = RunText(*machine, text, argv[i], shown) && ok;
  }
  return ok ? 0 : 1;
}
