// A bounded load generator for ombrix-scores on the loopback, from a build without
// sanitizers:
//   build/bench/server/scores_bench [--database postgresql://...] [--requests N] [--seconds S]
// It starts the server itself (--rate 0, a fresh SQLite file unless a database is given),
// then keeps 32 connections busy, first with submissions spread over ten tables, then with
// queries of a table's top ten. Each phase ends after N requests or S seconds, whichever
// comes first. Prints requests a second and the 50th and 99th percentile latencies, with
// the ratio to the targets (2000 submissions/s and 10000 queries/s, p99 under 20 ms).
// Last, on a server with its default connection limits: 250 sockets from 127.0.0.1 that
// never send, and meanwhile one request at a time from 127.0.0.2, timed from connecting to
// the end of the answer (target: every one under 100 ms), against the same requests made
// with no idle sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "tests/support/scoreServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Phase {
  double seconds = 0;
  long long done = 0;
  long long failed = 0;
  std::vector<double> latencies;  // milliseconds
};

template <typename Send>
Phase Run(int port, int connections, long long requests, double seconds, Send send) {
  Phase phase;
  std::atomic<long long> next{0};
  std::atomic<long long> failed{0};
  std::vector<std::vector<double>> latencies(static_cast<size_t>(connections));
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c)
    threads.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (;;) {
        long long i = next++;
        if (i >= requests || Clock::now() >= deadline) break;
        Clock::time_point begin = Clock::now();
        bool ok = send(client, i);
        latencies[size_t(c)].push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        if (!ok) ++failed;
      }
    });
  for (std::thread& t : threads) t.join();
  phase.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& l : latencies) phase.latencies.insert(phase.latencies.end(), l.begin(), l.end());
  phase.done = (long long)phase.latencies.size();
  phase.failed = failed;
  std::sort(phase.latencies.begin(), phase.latencies.end());
  return phase;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

void Report(const char* what, const Phase& phase, double target) {
  double rate = double(phase.done) / phase.seconds;
  double p99 = Percentile(phase.latencies, 0.99);
  std::printf(
      "%-12s %8lld requests in %5.2f s: %8.0f/s (target %5.0f, ratio %.2f), p50 %6.2f ms, p99 %6.2f ms"
      " (target 20, ratio %.2f)%s\n",
      what, phase.done, phase.seconds, rate, target, rate / target, Percentile(phase.latencies, 0.5), p99, p99 / 20.0,
      phase.failed ? (", " + std::to_string(phase.failed) + " failed").c_str() : "");
}

int ConnectFrom(const char* from, int port) {
  int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{}, remote{};
  local.sin_family = remote.sin_family = AF_INET;
  inet_pton(AF_INET, from, &local.sin_addr);
  inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  remote.sin_port = htons(uint16_t(port));
  if (sock >= 0 && (bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
                    connect(sock, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0)) {
    close(sock);
    return -1;
  }
  return sock;
}

// Milliseconds from connecting to the end of a leaderboard page's answer; -1 on failure.
double TimedRequest(const char* from, int port) {
  Clock::time_point begin = Clock::now();
  int sock = ConnectFrom(from, port);
  if (sock < 0) return -1;
  const char request[] = "GET / HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
  send(sock, request, sizeof request - 1, MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(sock, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, size_t(n));
  close(sock);
  if (answer.compare(0, 12, "HTTP/1.1 200") != 0) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

std::vector<double> TimedRequests(int port, int count) {
  std::vector<double> out;
  for (int i = 0; i < count; ++i) out.push_back(TimedRequest("127.0.0.2", port));
  std::sort(out.begin(), out.end());
  return out;
}

void IdleSockets(const std::string& database) {
  testSupport::ScoreServerProcess server({"--rate", "0", "--database", database, "--connections", "8"});
  const int port = server.port;
  if (port <= 0) {
    std::fprintf(stderr, "the server did not start\n");
    return;
  }
  constexpr int kIdle = 250, kRequests = 50;
  std::vector<double> alone = TimedRequests(port, kRequests);
  std::vector<int> idle;
  for (int i = 0; i < kIdle; ++i) idle.push_back(ConnectFrom("127.0.0.1", port));
  std::vector<double> crowded = TimedRequests(port, kRequests);
  for (int sock : idle)
    if (sock >= 0) close(sock);
  server.Stop(SIGTERM);
  int failed = int(std::count(crowded.begin(), crowded.end(), -1.0));
  std::printf(
      "idle sockets %d from one address: another's request p50 %6.2f ms, max %6.2f ms (target 100,"
      " ratio %.2f); alone p50 %6.2f ms, max %6.2f ms (ratio of max crowded / alone %.2f)%s\n",
      kIdle, Percentile(crowded, 0.5), crowded.back(), crowded.back() / 100.0, Percentile(alone, 0.5), alone.back(),
      alone.back() > 0 ? crowded.back() / alone.back() : 0.0,
      failed ? (", " + std::to_string(failed) + " failed").c_str() : "");
}

}  // namespace

int main(int argc, char** argv) {
  std::string database;
  long long requests = 40000;
  double seconds = 10;
  int connections = 32;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--database")
      database = argv[i + 1];
    else if (a == "--requests")
      requests = std::atoll(argv[i + 1]);
    else if (a == "--seconds")
      seconds = std::atof(argv[i + 1]);
    else {
      std::fprintf(stderr, "usage: %s [--database URL] [--requests N] [--seconds S]\n", argv[0]);
      return 2;
    }
  }
  char dir[] = "/tmp/ombrix-scores-bench-XXXXXX";
  bool sqlite = database.empty();
  if (sqlite) {
    if (!mkdtemp(dir)) return 1;
    database = std::string(dir) + "/scores.db";
  }
  testSupport::ScoreServerProcess server({"--rate", "0", "--connections", "0", "--database", database});
  const int port = server.port;
  if (port <= 0) {
    std::fprintf(stderr, "the server did not start\n");
    return 1;
  }
  const std::string run = std::to_string(::getpid());
  std::printf("ombrix-scores on %s, %d connections, at most %lld requests or %.0f s a phase\n",
              sqlite ? "SQLite" : "PostgreSQL", connections, requests, seconds);

  Phase submit = Run(port, connections, requests, seconds, [&](httplib::Client& c, long long i) {
    std::string body = "checksum=ABC&script_name=Bench" + run + "&script_version=1&engine_version=7.10&params=t" +
                       std::to_string(i % 10) + "&player_name=p" + std::to_string(i) +
                       "&score=" + std::to_string((i * 7919) % 100003) + ".000000&user_timestamp=0";
    httplib::Result r = c.Post("/submit.php", body, "application/x-www-form-urlencoded");
    if (r && r->status == 200 && r->body.compare(0, 3, "OK ") == 0) return true;
    std::fprintf(stderr, "submission failed: %s\n",
                 r ? (std::to_string(r->status) + " " + r->body).c_str() : httplib::to_string(r.error()).c_str());
    return false;
  });
  Report("submissions", submit, 2000);

  Phase query = Run(port, connections, requests, seconds, [&](httplib::Client& c, long long i) {
    httplib::Result r = c.Get("/get.php?format=GM&script_name=Bench" + run + "&script_version=1&params=t" +
                              std::to_string(i % 10) + "&from=1&to=10&dev=0");
    return r && r->status == 200 && r->body.size() > 2;
  });
  Report("queries", query, 10000);

  server.Stop(SIGTERM);
  IdleSockets(database);
  if (sqlite) {
    std::string command = std::string("rm -rf '") + dir + "'";
    if (std::system(command.c_str()) != 0) return 1;
  }
  return 0;
}
