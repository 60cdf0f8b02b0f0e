#ifndef GMSCANNER_H
#define GMSCANNER_H

// Splitting a text into tokens on its own, without parsing: for tests and tools that show
// what the parser is given.

#include <string>
#include <vector>

struct gmScannedToken {
  int token;         // token number: 258 and up, or the character code of a one-character token
  int line;          // line counter after the token was read
  std::string text;  // the matched text
};

void gmScanText(const char* text, std::vector<gmScannedToken>& tokens);

#endif
