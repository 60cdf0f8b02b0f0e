// How ombrix-scores shares itself between clients: idle sockets from one address cannot
// starve the others, slow headers are cut, and X-Forwarded-For counts only from a proxy it
// was told to trust. Everything here waits on sockets (an answer or the server closing),
// never on a clock; the outer limit is only there so a broken server fails the test.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/server/scoTestServer.h"

namespace {

using scoTest::Process;
using scoTest::TempDir;

constexpr int kSafetyMs = 60'000;

// A TCP connection to the server on 127.0.0.1, made from the loopback address `from`
// (all of 127/8 is this machine, so 127.0.0.2 is another client as the server sees it).
int Connect(const char* from, int port) {
  int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from, &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(uint16_t(port));
  inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  if (sock < 0 || bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(sock, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    if (sock >= 0) close(sock);
    return -1;
  }
  return sock;
}

// Everything the server sends until it closes the connection ("" when it sent nothing).
std::string ReadToEnd(int sock) {
  std::string out;
  auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSafetyMs);
  while (std::chrono::steady_clock::now() < give_up) {
    pollfd p{sock, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    char buffer[4096];
    ssize_t n = recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) return out;
    out.append(buffer, size_t(n));
  }
  return out + "<still open>";
}

std::string Request(const char* from, int port, const std::string& extraHeaders = "") {
  int sock = Connect(from, port);
  if (sock < 0) return "<no connection>";
  std::string request = "GET / HTTP/1.1\r\nHost: scores\r\nConnection: close\r\n" + extraHeaders + "\r\n";
  send(sock, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer = ReadToEnd(sock);
  close(sock);
  return answer;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

// 250 sockets from one address that never send: eight are held (until the header
// deadline closes them), the rest are refused at once, and another client is served.
TEST(ScoreConnections, IdleSocketsFromOneAddressDoNotStarveOthers) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db"});
  ASSERT_GT(server.port, 0);
  std::vector<int> idle;
  for (int i = 0; i < 250; ++i) {
    idle.push_back(Connect("127.0.0.1", server.port));
    ASSERT_GE(idle.back(), 0) << i;
  }
  EXPECT_EQ(StatusLine(Request("127.0.0.2", server.port)), "HTTP/1.1 200 OK");

  int refused = 0, heldThenClosed = 0;
  for (int sock : idle) {
    std::string answer = ReadToEnd(sock);
    if (StatusLine(answer) == "HTTP/1.1 429 Too Many Requests")
      ++refused;
    else if (answer.empty())
      ++heldThenClosed;
    else
      ADD_FAILURE() << answer;
    close(sock);
  }
  EXPECT_EQ(heldThenClosed, 8);
  EXPECT_EQ(refused, 242);
  // The eight it held are counted off again: the address is served once they are gone.
  EXPECT_EQ(StatusLine(Request("127.0.0.1", server.port)), "HTTP/1.1 200 OK");
}

// Headers sent a byte every 50 ms never stop arriving, so no per-read timeout ends them:
// only a deadline on the whole header does.
TEST(ScoreConnections, SlowHeadersAreCut) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db"});
  ASSERT_GT(server.port, 0);
  int sock = Connect("127.0.0.1", server.port);
  ASSERT_GE(sock, 0);
  const std::string start = "GET / HTTP/1.1\r\nHost: scores\r\nX-Pad: ";
  ASSERT_EQ(send(sock, start.data(), start.size(), MSG_NOSIGNAL), ssize_t(start.size()));
  bool closed = false;
  for (int sent = 0; sent < kSafetyMs / 50 && !closed; ++sent) {
    // The server either answers 400 and closes, or just closes.
    pollfd p{sock, POLLIN, 0};
    if (poll(&p, 1, 50) > 0 || send(sock, "x", 1, MSG_NOSIGNAL) != 1)
      closed = ReadToEnd(sock).find("<still open>") == std::string::npos;
  }
  close(sock);
  EXPECT_TRUE(closed) << "the server waited for a minute of headers";
}

// The rate limit (here one request per address) counts the forwarded client only behind
// a trusted proxy; anyone else's X-Forwarded-For is ignored.
TEST(ScoreConnections, ForwardedForCountsOnlyFromTrustedProxies) {
  TempDir dir;
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> requests;  // X-Forwarded-For, status
  };
  const Case cases[] = {
      {"untrusted", {}, {{"10.0.0.1", "200"}, {"10.0.0.2", "429"}}},
      {"trusted",
       {"--trust-proxy", "127.0.0.1"},
       {{"10.0.0.1", "200"}, {"10.0.0.2", "200"}, {"10.0.0.1", "429"}, {"", "200"}, {"", "429"}}},
      // A client may prepend anything; only the hop the proxy added counts.
      {"spoofed hop", {"--trust-proxy", "127.0.0.1"}, {{"10.0.0.9, 10.0.0.1", "200"}, {"10.0.0.9, 10.0.0.1", "429"}}},
      {"chain of proxies",
       {"--trust-proxy", "127.0.0.1", "--trust-proxy", "10.9.9.9"},
       {{"10.0.0.1, 10.9.9.9", "200"}, {"10.0.0.1", "429"}}},
      {"not an address", {"--trust-proxy", "127.0.0.1"}, {{"<script>", "200"}, {"", "429"}}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--database", dir.path + "/" + c.label + ".db", "--rate", "0.001"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Process server(args);
    ASSERT_GT(server.port, 0) << c.label;
    for (const auto& r : c.requests) {
      std::string header = r.first.empty() ? "" : "X-Forwarded-For: " + r.first + "\r\n";
      EXPECT_EQ(StatusLine(Request("127.0.0.1", server.port, header)).substr(9, 3), r.second)
          << c.label << ": " << r.first;
    }
  }
}

// A trusted proxy pools connections for many clients: its are not counted.
TEST(ScoreConnections, TrustedProxyIsNotLimited) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db", "--trust-proxy", "127.0.0.1"});
  ASSERT_GT(server.port, 0);
  std::vector<int> pool;
  for (int i = 0; i < 12; ++i) pool.push_back(Connect("127.0.0.1", server.port));
  for (int sock : pool) {
    ASSERT_GE(sock, 0);
    const std::string request = "GET / HTTP/1.1\r\nHost: scores\r\nConnection: close\r\n\r\n";
    send(sock, request.data(), request.size(), MSG_NOSIGNAL);
  }
  for (int sock : pool) {
    EXPECT_EQ(StatusLine(ReadToEnd(sock)), "HTTP/1.1 200 OK");
    close(sock);
  }
}

}  // namespace
