#include "server/scoProtocol.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace scoProtocol {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(const std::string& text, size_t begin, size_t end, std::string* out) {
  out->clear();
  for (size_t i = begin; i < end; ++i) {
    char c = text[i];
    if (c == '+')
      *out += ' ';
    else if (c == '%') {
      if (i + 2 >= end) return false;
      int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      *out += char(high * 16 + low);
      i += 2;
    } else
      *out += c;
  }
  return true;
}

const std::string* Find(const Fields& fields, const char* name) {
  auto it = fields.find(name);
  return it == fields.end() ? nullptr : &it->second;
}

// A required text field that is clean and within its bound.
bool TextField(const Fields& fields, const char* name, size_t limit, bool mayBeEmpty, std::string* out,
               std::string* error) {
  const std::string* value = Find(fields, name);
  if (!value) {
    *error = std::string("missing field ") + name;
    return false;
  }
  if (value->size() > limit) {
    *error = std::string("field ") + name + " longer than " + std::to_string(limit) + " bytes";
    return false;
  }
  if (!mayBeEmpty && value->empty()) {
    *error = std::string("empty field ") + name;
    return false;
  }
  if (!IsCleanText(*value)) {
    *error = std::string("field ") + name + " is not clean UTF-8 text";
    return false;
  }
  *out = *value;
  return true;
}

// A decimal integer of at most 18 digits, with an optional minus.
bool Integer(const std::string& text, long long* out) {
  size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
  if (i == text.size() || text.size() - i > 18) return false;
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return false;
  *out = std::strtoll(text.c_str(), nullptr, 10);
  return true;
}

// Plain decimal notation only: strtod alone would also take "nan", "inf", hex floats and
// leading blanks.
bool Number(const std::string& text, double* out) {
  size_t i = 0, n = text.size();
  if (n == 0 || n > 64) return false;
  if (text[i] == '-' || text[i] == '+') ++i;
  size_t digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
    size_t exponent = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++exponent;
    if (exponent == 0) return false;
  }
  if (i != n) return false;
  double value = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(value)) return false;
  *out = value == 0.0 ? 0.0 : value;  // no negative zero in the table
  return true;
}

bool TableFields(const Fields& fields, scoTable* table, std::string* error) {
  return TextField(fields, "script_name", MAX_NAME, false, &table->scriptName, error) &&
         TextField(fields, "script_version", MAX_VERSION, true, &table->scriptVersion, error) &&
         TextField(fields, "params", MAX_PARAMS, true, &table->params, error);
}

}  // namespace

bool ParseForm(const std::string& text, Fields* fields, std::string* error) {
  fields->clear();
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('&', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) {
      size_t equals = text.find('=', at);
      if (equals == std::string::npos || equals > end) equals = end;
      std::string name, value;
      if (!Decode(text, at, equals, &name) || !Decode(text, equals < end ? equals + 1 : end, end, &value)) {
        *error = "malformed percent escape";
        return false;
      }
      if (!fields->emplace(std::move(name), std::move(value)).second) {
        *error = "field given twice";
        return false;
      }
    }
    at = end + 1;
  }
  return true;
}

bool IsCleanText(const std::string& text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned c = p[i];
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7f) return false;
      ++i;
      continue;
    }
    size_t length;
    unsigned code;
    if (c >= 0xc2 && c <= 0xdf)
      length = 2, code = c & 0x1f;
    else if (c >= 0xe0 && c <= 0xef)
      length = 3, code = c & 0x0f;
    else if (c >= 0xf0 && c <= 0xf4)
      length = 4, code = c & 0x07;
    else
      return false;
    if (i + length > n) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((p[i + k] & 0xc0) != 0x80) return false;
      code = (code << 6) | (p[i + k] & 0x3f);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10ffff ||
        (code >= 0xd800 && code <= 0xdfff) || (code >= 0x80 && code < 0xa0))
      return false;
    i += length;
  }
  return true;
}

bool ReadChecksums(const std::string& path, Checksums* checksums, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    std::string name, checksum, extra;
    if (!(words >> name) || name[0] == '#') continue;
    if (!(words >> checksum) || (words >> extra)) {
      *error = path + ":" + std::to_string(number) + ": expected SCRIPT_NAME CHECKSUM";
      return false;
    }
    (*checksums)[name].insert(checksum);
  }
  return true;
}

Verdict ReadSubmission(const Fields& form, const Checksums& checksums, long long now, Submission* out,
                       std::string* error) {
  Submission s;
  std::string score, userTime;
  if (!TableFields(form, &s.table, error) || !TextField(form, "player_name", MAX_NAME, true, &s.entry.player, error) ||
      !TextField(form, "checksum", MAX_CHECKSUM, false, &s.entry.checksum, error) ||
      !TextField(form, "score", 64, false, &score, error))
    return BAD_REQUEST;
  if (!Number(score, &s.entry.score)) {
    *error = "score is not a finite number";
    return BAD_REQUEST;
  }
  if (Find(form, "engine_version") &&
      !TextField(form, "engine_version", MAX_VERSION, true, &s.entry.engineVersion, error))
    return BAD_REQUEST;
  if (const std::string* stamp = Find(form, "user_timestamp"))
    if (!Integer(*stamp, &s.entry.userTime)) {
      *error = "user_timestamp is not an integer";
      return BAD_REQUEST;
    }
  s.table.dev = s.entry.checksum == "dev";
  auto listed = checksums.find(s.table.scriptName);
  if (!s.table.dev && listed != checksums.end() && !listed->second.count(s.entry.checksum)) {
    *error = "package checksum not accepted for this script";
    return REFUSED;
  }
  s.entry.time = now;
  *out = std::move(s);
  return ACCEPTED;
}

bool ReadQuery(const Fields& query, Query* out, std::string* error) {
  Query q;
  const std::string* format = Find(query, "format");
  if (!format || *format != "GM") {
    *error = "format must be GM";
    return false;
  }
  if (!TableFields(query, &q.table, error)) return false;
  const std::string* from = Find(query, "from");
  const std::string* to = Find(query, "to");
  if (!from || !to || !Integer(*from, &q.from) || !Integer(*to, &q.to)) {
    *error = "from and to must be integers";
    return false;
  }
  const std::string* dev = Find(query, "dev");
  if (dev && *dev != "0" && *dev != "1") {
    *error = "dev must be 0 or 1";
    return false;
  }
  q.table.dev = dev && *dev == "1";
  if (q.from < 1) q.from = 1;
  if (q.to > q.from + MAX_ROWS - 1) q.to = q.from + MAX_ROWS - 1;
  *out = std::move(q);
  return true;
}

std::string ScriptString(const std::string& text) {
  std::string out = "`";
  for (char c : text) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

std::string ScriptNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  std::string out = text;
  // "10" would be read back as an int; every score is a float.
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

std::string ScriptAnswer(const std::vector<scoRow>& rows) {
  std::string out = "{";
  for (size_t i = 0; i < rows.size(); ++i) {
    const scoRow& r = rows[i];
    out += i ? ", " : " ";
    out += "{rank = " + std::to_string(r.rank) + ", player = " + ScriptString(r.player) +
           ", score = " + ScriptNumber(r.score) + ", time = " + std::to_string(r.time) + "}";
  }
  out += rows.empty() ? "}" : " }";
  return out;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UrlEncode(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_')
      out += char(c);
    else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

namespace {

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" +
         HtmlEscape(title) +
         "</title><style>"
         "body{font-family:sans-serif;margin:0 auto;padding:0.5em;max-width:40em}"
         "table{border-collapse:collapse;width:100%}"
         "th,td{text-align:left;padding:0.3em 0.5em;border-bottom:1px solid #ccc;overflow-wrap:anywhere}"
         "td.n,th.n{text-align:right}"
         "</style></head><body>\n" +
         body + "</body></html>\n";
}

std::string TableLink(const scoTable& t) {
  return "/scores?script_name=" + UrlEncode(t.scriptName) + "&amp;script_version=" + UrlEncode(t.scriptVersion) +
         "&amp;params=" + UrlEncode(t.params) + (t.dev ? "&amp;dev=1" : "");
}

std::string TableTitle(const scoTable& t) {
  std::string title = t.scriptName + " " + t.scriptVersion;
  if (!t.params.empty()) title += " (" + t.params + ")";
  if (t.dev) title += " [dev]";
  return title;
}

}  // namespace

std::string GamesPage(const std::vector<scoGame>& games) {
  std::string body = "<h1>High scores</h1>\n";
  if (games.empty())
    body += "<p>No scores yet.</p>\n";
  else {
    body +=
        "<table id=\"games\"><thead><tr><th>Game</th><th>Version</th><th>Mode</th>"
        "<th class=\"n\">Scores</th></tr></thead><tbody>\n";
    for (const scoGame& g : games)
      body += "<tr><td><a href=\"" + TableLink(g.table) + "\">" + HtmlEscape(g.table.scriptName) + "</a></td><td>" +
              HtmlEscape(g.table.scriptVersion) + "</td><td>" + HtmlEscape(g.table.params) +
              (g.table.dev ? " [dev]" : "") + "</td><td class=\"n\">" + std::to_string(g.count) + "</td></tr>\n";
    body += "</tbody></table>\n";
  }
  return Page("High scores", body);
}

std::string TablePage(const scoTable& table, const std::vector<scoRow>& rows) {
  std::string body = "<p><a href=\"/\">All games</a></p>\n<h1>" + HtmlEscape(TableTitle(table)) + "</h1>\n";
  if (rows.empty())
    body += "<p>No scores yet.</p>\n";
  else {
    body +=
        "<table id=\"scores\"><thead><tr><th class=\"n\">Rank</th><th>Player</th><th class=\"n\">Score</th>"
        "<th>Date (UTC)</th></tr></thead><tbody>\n";
    for (const scoRow& r : rows) {
      char when[32] = "";
      std::time_t t = std::time_t(r.time);
      std::tm utc{};
      if (gmtime_r(&t, &utc)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &utc);
      char score[64];
      std::snprintf(score, sizeof score, "%.15g", r.score);
      body += "<tr><td class=\"n\">" + std::to_string(r.rank) + "</td><td>" + HtmlEscape(r.player) +
              "</td><td class=\"n\">" + score + "</td><td>" + when + "</td></tr>\n";
    }
    body += "</tbody></table>\n";
  }
  return Page(TableTitle(table) + " - high scores", body);
}

std::string ErrorPage(int status, const std::string& message) {
  return Page("Error " + std::to_string(status),
              "<h1>Error " + std::to_string(status) + "</h1>\n<p>" + HtmlEscape(message) + "</p>\n");
}

}  // namespace scoProtocol
