#ifndef SCOSERVER_H
#define SCOSERVER_H

#include "server/scoProtocol.h"
#include "server/scoRateLimiter.h"
#include "server/scoStore.h"

#include <memory>
#include <set>
#include <string>

namespace httplib {
class Server;
}

struct scoServerOptions {
  double rate = 50;  // requests a second per client address; 0 turns the limit off
  int threads = 64;  // requests served at once; above the connections a client keeps open
  bool log = true;   // one line per request on standard error
  // A client address may hold this many connections at once; more are refused at once, so
  // one address with idle sockets cannot take the threads that serve everyone else.
  int connectionsPerAddress = 8;
  // From a connection's start, or the end of its previous answer, to the end of the
  // request's headers; a connection that sends slower than this is closed.
  double headerSeconds = 2.0;
  // Reverse proxies whose X-Forwarded-For names the client: their connections are not
  // counted against a per-address limit and their requests are rate-limited and logged
  // by the forwarded address. Nobody else's X-Forwarded-For is believed.
  std::set<std::string> trustedProxies;
  scoProtocol::Checksums checksums;
};

// The HTTP side of the score server: the player's two requests and the leaderboard pages,
// over a store. Answers a submission only after the store has committed it.
class scoServer {
 public:
  scoServer(scoStore& store, scoServerOptions options);
  ~scoServer();
  scoServer(const scoServer&) = delete;
  scoServer& operator=(const scoServer&) = delete;

  // Binds to host:port (port 0 picks a free one); returns the port, or -1.
  int Bind(const std::string& host, int port);
  // Serves until Stop; false when it could not.
  bool Run();
  // Safe from any thread; requests in progress finish first.
  void Stop();

 private:
  scoStore& store;
  scoServerOptions options;
  scoRateLimiter limiter;
  std::unique_ptr<httplib::Server> http;

  void Routes();
};

#endif
