#include "network/netHttpResponse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Whole(const std::string& raw) {
  netHttpResponse r;
  r.Feed(raw.data(), raw.size());
  return r.Text();
}

std::string ByteByByte(const std::string& raw) {
  netHttpResponse r;
  for (char c : raw) r.Feed(&c, 1);
  return r.Text();
}

struct Case {
  const char* name;
  std::string raw;
  std::string text;
};

TEST(netHttpResponse, BodyTextForEachKindOfResponse) {
  const std::string big(3000, 'b');
  const Case cases[] = {
      {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
      {"length cuts extra bytes", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello world", "hello"},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "hello"},
      {"chunks with extensions",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=1\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
       "hello world"},
      {"no length: first 2048 bytes", "HTTP/1.1 200 OK\r\n\r\n" + big, big.substr(0, 2048)},
      {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", ""},
      {"server error", "HTTP/1.1 500 Oops\r\n\r\nOK 3", ""},
      {"zero-byte body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nextra", ""},
      {"status line too short", "HTTP/1.1 20\r\n\r\nabc", ""},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc", ""},
      {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc", "abc"},
      {"closed inside the headers", "HTTP/1.1 200 OK\r\nContent-Le", ""},
      {"closed after the status line", "HTTP/1.1 200 OK\r\n", ""},
      {"nothing at all", "", ""},
      {"binary garbage", std::string("\x00\xff\x13\r\x80:\x01\n\x7f", 9), ""},
      {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n", ""},
      {"chunk longer than the data", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nff\r\nhel", "hel"},
      {"chunk size overflowing", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffffffffff\r\nabc",
       "abc"},
      {"negative chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n", ""},
      {"chunk size with no line end", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5", ""},
      {"long header before the length",
       "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(10000, 'x') + "\r\nContent-Length: 5\r\n\r\nhello!", "hello"},
      {"long header before chunked",
       "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(70000, 'x') +
           "\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       "hello"},
      {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 5\n\nhello", "hello"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Whole(c.raw), c.text) << c.name;
    EXPECT_EQ(ByteByByte(c.raw), c.text) << c.name << " (one byte per read)";
  }
}

TEST(netHttpResponse, HeaderFieldsAsParsed) {
  netHttpResponse r;
  std::string raw = "HTTP/1.1 201 Created\r\nContent-Length: 7\r\nTransfer-Encoding: gzip\r\n\r\n1234567890";
  r.Feed(raw.data(), raw.size());
  EXPECT_STREQ(r.status, "201");
  EXPECT_FALSE(r.inHeaders);
  EXPECT_FALSE(r.chunked) << "only the exact value \" chunked\" counts";
  EXPECT_EQ(r.contentLength, 7);
  EXPECT_EQ(r.received, 10);
  EXPECT_EQ(r.Text(), "1234567");
}

}  // namespace
