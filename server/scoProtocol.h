#ifndef SCOPROTOCOL_H
#define SCOPROTOCOL_H

#include "server/scoStore.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// What the player sends and what it is answered, with every check a request passes before
// it reaches the store. Nothing here touches the network or the database.
namespace scoProtocol {

// Bounds on what a request may carry, in bytes of UTF-8.
enum {
  MAX_NAME = 64,     // script name, player name
  MAX_VERSION = 32,  // script version, engine version
  MAX_PARAMS = 256,
  MAX_CHECKSUM = 64,
  MAX_ROWS = 100,        // rows one query or one page returns
  MAX_BODY = 16 * 1024,  // a submission body; the player's are a few hundred bytes
};

using Fields = std::map<std::string, std::string>;

// Splits a form body or query string into decoded fields ("+" is a blank, %XX a byte).
// False, with *error set, on a malformed escape or a field given twice: either would let
// two readers of one request see different values.
bool ParseForm(const std::string& text, Fields* fields, std::string* error);

// Valid UTF-8 (no overlong forms, surrogates or code points past U+10FFFF) with no control
// characters: a name that passes can be shown, stored and logged as it is.
bool IsCleanText(const std::string& text);

struct Submission {
  scoTable table;
  scoEntry entry;
};

// Package checksums accepted per script name; a script name that is not listed accepts any.
using Checksums = std::map<std::string, std::set<std::string>>;

// Reads a file of "SCRIPT_NAME CHECKSUM" lines (blank lines and "#" comments skipped).
bool ReadChecksums(const std::string& path, Checksums* checksums, std::string* error);

enum Verdict {
  ACCEPTED = 0,
  BAD_REQUEST = 400,
  REFUSED = 403,  // a checksum the list does not accept
};

// Checks a submission form; on failure *error is the reason, safe to send back.
Verdict ReadSubmission(const Fields& form, const Checksums& checksums, long long now, Submission* out,
                       std::string* error);

struct Query {
  scoTable table;
  long long from = 1;
  long long to = 1;
};

// Checks a query. Ranks below 1 start at 1 and a range past MAX_ROWS is cut to it, so a
// game that asks for "0 to 10" or "1 to 1000" still gets rows; to below from is empty.
bool ReadQuery(const Fields& query, Query* out, std::string* error);

// The callback's argument list: one table whose positional entries are the rows in rank
// order, each a table of rank, player, score and time. Strings are back-quoted literals,
// inside which nothing but a doubled back quote has any meaning.
std::string ScriptAnswer(const std::vector<scoRow>& rows);

// A script literal for a text, and for a finite number (always read back as a float).
std::string ScriptString(const std::string& text);
std::string ScriptNumber(double value);

// The leaderboard pages: every text escaped, no script, readable on a narrow screen.
std::string GamesPage(const std::vector<scoGame>& games);
std::string TablePage(const scoTable& table, const std::vector<scoRow>& rows);
std::string ErrorPage(int status, const std::string& message);
std::string HtmlEscape(const std::string& text);
std::string UrlEncode(const std::string& text);

}  // namespace scoProtocol

#endif
