#ifndef NETHTTPCLIENT_H
#define NETHTTPCLIENT_H

#include "network/netHttpResponse.h"

#include <plib/netBuffer.h>
#include <plib/netChannel.h>

#include <functional>
#include <string>

// One HTTP/1.1 request to the score server, as a channel of the PLIB net library. It is
// created and started by a score call, listed in the network module, progressed by the
// module's per-frame poll, and finished when the server closes the connection: the body
// text then goes to the handler that the score call gave it, and done is set.
//
// Nothing here waits on the network: a host name is looked up on a thread of its own, and
// the request waits, listed, until the module's poll finds the answer and connects.
class netHttpClient : public netBufferChannel {
 public:
  // Turns a host name into a dotted IPv4 address; false when it cannot. Runs on a lookup
  // thread (or in Start, with lookupsInStart).
  using Lookup = std::function<bool(const std::string& host, std::string* address)>;
  // The lookup for names from now on (a name server that takes its time, in a benchmark);
  // nullptr restores the system's. Answers already known are kept.
  static void SetLookup(Lookup lookup);
  // Names are looked up inside Start, which then waits for the answer, as before there was
  // a lookup thread: tests that drive frames by hand keep every request's frames exact.
  static bool lookupsInStart;

  enum Method {
    METHOD_GET = 1,
    METHOD_POST = 2,
  };

  enum Kind {
    KIND_SUBMIT = 1,
    KIND_QUERY = 2,
  };

  // Requests whose connection is still open, at most; past it Start fails. PLIB's poll
  // aborts the process beyond 256 channels and select cannot watch descriptors past
  // 1024, so a script that starts requests faster than the server closes them must be
  // stopped here rather than there.
  enum { MAX_OPEN = 64 };

  // Receives the body text once the response is complete (empty on any failure).
  using Handler = std::function<void(netHttpClient& client, const std::string& text)>;

  bool done = false;
  std::string callback;  // script function to notify, kept for the handler
  int kind;
  int method;
  std::string host;
  int port;
  std::string path;  // request target: path and query
  netHttpResponse response;
  Handler handler;

  netHttpClient(int kind, int method, const std::string& host, int port, const std::string& path,
                const std::string& callback, Handler handler);
  ~netHttpClient() override;
  netHttpClient(const netHttpClient&) = delete;
  netHttpClient& operator=(const netHttpClient&) = delete;

  // Queues the whole request for host:port and connects, at once when the host's address
  // is known (or is an address), else once its lookup has answered; the body (POST only)
  // may be of any length. Returns 0, or -1 after printing "connect failed\n" when the
  // connection cannot be started (a failed lookup prints it when the answer comes); the
  // request then finishes with an empty body at the next poll.
  int Start(const std::string* body = nullptr);

  // Called by the network module before each PLIB poll: connects a request whose host's
  // lookup has answered.
  void Resume();

  // The bytes Start queues, for the method, host, target and body given.
  static std::string RequestText(int method, const std::string& host, const std::string& path, const std::string* body);

  // Called by the network module after each PLIB poll: finishes a request whose
  // connection ended while it was being started.
  void FinishIfClosed();

  // Channels currently open (connected or connecting).
  static int OpenCount();

 private:
  std::string pending;  // request bytes not yet handed to the socket
  size_t pendingSent = 0;
  bool starting = false;  // inside Start: a close then is finished at the next poll
  bool closed = false;
  bool finished = false;   // the handler has been given the text
  bool counted = false;    // counted in OpenCount
  bool resolving = false;  // waiting for the host's lookup (counted in OpenCount meanwhile)

  // Opens the channel and connects to the address; false (closed, "connect failed" said)
  // when it cannot.
  bool Connect(const std::string& address);
  void Fail();

  // PLIB's output buffer is fixed at 16384 bytes and refuses anything larger; the request
  // is written from our own pending bytes instead, so any length goes out whole.
  bool writable() override;
  void handleWrite() override;
  void handleBufferRead(netBuffer& buffer) override;
  void handleClose() override;

  void Finish();
};

#endif
