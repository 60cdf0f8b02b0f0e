#include "network/netHttpResponse.h"

#include <climits>
#include <cstring>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The decimal value of a header value as the C library's atoi reads it (blanks, a sign,
// digits), saturating instead of overflowing.
long long DecimalValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) {
      value = INT_MAX;
      break;
    }
  }
  return negative ? -value : value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}

}  // namespace

void netHttpResponse::MakeBody(long long size) {
  hasBody = true;
  capacity = size < 0 ? 0 : size > MAX_CAPACITY ? int(MAX_CAPACITY) : int(size);
  body.clear();
}

void netHttpResponse::EndLine() {
  if (line.empty()) {
    inHeaders = false;
    if (contentLength == -1) MakeBody(DEFAULT_CAPACITY);
    return;
  }

  size_t colon = line.find(':');
  if (colon == std::string::npos) {
    // Only the first such line is the status line; later ones carry nothing we use.
    if (status[0]) return;
    if (line.size() >= 12)
      std::memcpy(status, line.data() + 9, 3);
    else
      std::memcpy(status, "???", 3);  // too short to hold a status code: not a success
    if (status[0] != '2') {
      contentLength = 0;
      ignored = true;
    }
    return;
  }

  size_t nameLength = colon;
  const char* name = line.data();
  if (nameLength == 14 && std::memcmp(name, "Content-Length", 14) == 0) {
    long long value = DecimalValue(line.substr(colon + 1));
    contentLength = int(value);
    MakeBody(value);
  } else if (nameLength == 17 && std::memcmp(name, "Transfer-Encoding", 17) == 0 &&
             line.compare(colon + 1, std::string::npos, " chunked") == 0) {
    chunked = true;
  }
}

void netHttpResponse::Feed(const char* data, size_t length) {
  size_t i = 0;
  while (i < length && !ignored) {
    if (skipLF) {
      skipLF = false;
      if (data[i] == '\n') {
        ++i;
        continue;
      }
    }
    if (inHeaders) {
      // A line ends at its CR (the LF after it is skipped); a bare LF ends one as well.
      const char* start = data + i;
      size_t n = 0;
      while (i + n < length && start[n] != '\r' && start[n] != '\n') ++n;
      if (line.size() < MAX_LINE) line.append(start, n < MAX_LINE - line.size() ? n : MAX_LINE - line.size());
      i += n;
      if (i == length) break;
      skipLF = data[i] == '\r';
      ++i;
      EndLine();
      line.clear();
      continue;
    }
    size_t n = length - i;
    received += (long long)n;
    if (hasBody && body.size() < size_t(capacity)) {
      size_t room = size_t(capacity) - body.size();
      body.append(data + i, n < room ? n : room);
    }
    i = length;
  }
}

std::string netHttpResponse::Dechunk(const std::string& data) {
  std::string out;
  size_t pos = 0;
  const size_t end = data.size();
  while (pos < end) {
    while (pos < end && IsSpace(data[pos])) ++pos;
    bool negative = false;
    if (pos < end && (data[pos] == '+' || data[pos] == '-')) negative = data[pos++] == '-';
    if (pos + 1 < end && data[pos] == '0' && (data[pos + 1] | 0x20) == 'x' && pos + 2 < end &&
        HexDigit(data[pos + 2]) >= 0)
      pos += 2;
    unsigned long long size = 0;
    bool digits = false;
    for (int d; pos < end && (d = HexDigit(data[pos])) >= 0; ++pos) {
      digits = true;
      if (size <= end) size = size * 16 + unsigned(d);
    }
    if (!digits || size == 0 || negative) break;
    size_t lineEnd = data.find('\n', pos);
    if (lineEnd == std::string::npos) break;
    pos = lineEnd + 1;
    size_t take = size < end - pos ? size_t(size) : end - pos;
    out.append(data, pos, take);
    pos += take;
  }
  return out;
}

std::string netHttpResponse::Text() const {
  if (!hasBody) return std::string();
  return chunked ? Dechunk(body) : body;
}
