// ombrix-scores: the score server the player's Network.SubmitScore and Network.GetScore
// talk to, with a leaderboard page. One command on a laptop (SQLite in the current
// directory), or many instances against one PostgreSQL database.
#include "server/scoServer.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

void Usage(FILE* out) {
  std::fputs(
      "Usage: ombrix-scores [options]\n"
      "Serves the player's score submissions and queries, and a leaderboard page at /.\n"
      "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8080; port 0 picks one)\n"
      "  --database PATH        SQLite file (default scores.db), made when missing\n"
      "  --database postgresql://USER@HOST/DB  PostgreSQL instead; several servers may share it\n"
      "  --rate N               requests a second per client address, bursts of 2N\n"
      "                         (default 50; 0 turns the limit off)\n"
      "  --checksums FILE       accepted package checksums, lines of SCRIPT_NAME CHECKSUM;\n"
      "                         other checksums of a listed script are refused\n"
      "  --connections N        connections one client address may hold at once (default 8;\n"
      "                         0: no limit); more are refused at once\n"
      "  --trust-proxy ADDRESS  a reverse proxy whose X-Forwarded-For names the client\n"
      "                         (repeat for several); its connections are not limited\n"
      "  --help                 print this and exit\n"
      "Prints the address it listens on to standard output, and one line per request\n"
      "to standard error. SIGINT or SIGTERM stops it cleanly.\n",
      out);
}

// "HOST:PORT" or "[IPV6]:PORT".
bool SplitAddress(const std::string& text, std::string* host, int* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6) return false;
  std::string name = text.substr(0, colon);
  if (name.front() == '[') {
    if (name.size() < 3 || name.back() != ']') return false;
    name = name.substr(1, name.size() - 2);
  }
  int value = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (value > 65535) return false;
  *host = name;
  *port = value;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ombrix-scores: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = "127.0.0.1:8080", database = "scores.db", checksumsFile;
  scoServerOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      Usage(stdout);
      return 0;
    }
    bool valued = arg == "--listen" || arg == "--database" || arg == "--rate" || arg == "--checksums" ||
                  arg == "--trust-proxy" || arg == "--connections";
    if (!valued) {
      Usage(stderr);
      return Fail("unknown option " + arg);
    }
    if (i + 1 >= argc) return Fail(arg + " needs a value");
    std::string value = argv[++i];
    if (arg == "--listen")
      listen = value;
    else if (arg == "--database")
      database = value;
    else if (arg == "--checksums")
      checksumsFile = value;
    else if (arg == "--connections") {
      char* end = nullptr;
      long count = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || count < 0 || count > 100000)
        return Fail("--connections needs a whole number from 0 up");
      options.connectionsPerAddress = int(count);
    } else if (arg == "--trust-proxy") {
      // Kept in the form the server prints peers in, so "::0001" is "::1".
      unsigned char bytes[sizeof(in6_addr)];
      char text[INET6_ADDRSTRLEN] = "";
      int family = inet_pton(AF_INET, value.c_str(), bytes) == 1 ? AF_INET : AF_INET6;
      if ((family == AF_INET6 && inet_pton(AF_INET6, value.c_str(), bytes) != 1) ||
          !inet_ntop(family, bytes, text, sizeof text))
        return Fail("--trust-proxy needs an IP address, not " + value);
      options.trustedProxies.insert(text);
    } else {
      char* end = nullptr;
      options.rate = std::strtod(value.c_str(), &end);
      if (value.empty() || *end || !(options.rate >= 0 && options.rate <= 1e9))
        return Fail("--rate needs a number from 0 up");
    }
  }
  std::string host;
  int port = 0;
  if (!SplitAddress(listen, &host, &port)) return Fail("--listen needs ADDRESS:PORT, not " + listen);
  if (!checksumsFile.empty()) {
    std::string error;
    if (!scoProtocol::ReadChecksums(checksumsFile, &options.checksums, &error)) return Fail(error);
  }

  // Blocked before any thread starts, so every thread inherits the mask and only the
  // waiter below ever takes these signals.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<scoStore> store;
  try {
    store = scoStore::Open(database);
  } catch (const std::exception& e) {
    return Fail(std::string("cannot open the database: ") + e.what());
  }

  scoServer server(*store, options);
  int bound = server.Bind(host, port);
  if (bound < 0) return Fail("cannot listen on " + listen);

  std::thread waiter([&server, stops] {
    int signal = 0;
    sigwait(&stops, &signal);
    server.Stop();
  });

  std::printf("ombrix-scores: listening on %s%s%s:%d\n", host.find(':') != std::string::npos ? "[" : "", host.c_str(),
              host.find(':') != std::string::npos ? "]" : "", bound);
  std::fflush(stdout);
  bool served = server.Run();
  // Ends the waiter when the server stopped on its own: SIGTERM is blocked everywhere, so
  // this only wakes its sigwait.
  pthread_kill(waiter.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
  waiter.join();
  store.reset();
  std::fprintf(stderr, "ombrix-scores: stopped\n");
  return served ? 0 : 1;
}
