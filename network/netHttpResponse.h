#ifndef NETHTTPRESPONSE_H
#define NETHTTPRESPONSE_H

#include <string>

// The response side of one HTTP request: headers are parsed as the bytes arrive, the body
// is gathered into a buffer whose size is fixed once (from Content-Length, or 2048 bytes
// when there is none), and the text handed to the request's handler is made at close.
// Nothing a server sends can make it read outside what it gathered or grow without bound.
class netHttpResponse {
 public:
  enum {
    DEFAULT_CAPACITY = 2048,
    // A Content-Length above this still gathers only this much: the player never expects
    // answers near it, and a hostile length must not reserve gigabytes.
    MAX_CAPACITY = 1 << 24,
    // A header line keeps its first MAX_LINE bytes; that is ample for the two headers
    // that matter and bounds what an endless line can cost.
    MAX_LINE = 1 << 16,
  };

  char status[4] = {0, 0, 0, 0};  // three characters of the status code; empty until seen
  bool inHeaders = true;
  bool chunked = false;
  int contentLength = -1;  // -1 while not known
  long long received = 0;  // body bytes seen, kept or not
  bool hasBody = false;    // the body buffer exists
  int capacity = 0;        // bytes the body buffer takes; later ones are dropped
  std::string body;

  // Parses newly received bytes; every byte is looked at once.
  void Feed(const char* data, size_t length);

  // The body text at close: the chunks decoded when the response is chunked, else the
  // gathered bytes; empty when no body buffer was ever made.
  std::string Text() const;

  // Chunk decoding that never reads past the end of data, whatever the sizes claim.
  static std::string Dechunk(const std::string& data);

 private:
  std::string line;
  bool skipLF = false;   // the last line ended with CR; an LF right after belongs to it
  bool ignored = false;  // non-2xx status: the rest of the response is discarded

  void EndLine();
  void MakeBody(long long size);
};

#endif
