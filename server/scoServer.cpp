#include "server/scoServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The query part of a request target, undecoded.
std::string QueryText(const httplib::Request& req) {
  size_t mark = req.target.find('?');
  return mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
}

// Request paths come from clients: control bytes would let one forge log lines.
std::string LogSafe(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 200)) {
    if (c < 0x20 || c == 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else
      out += char(c);
  }
  return out;
}

void Plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  // The pages carry no script of their own, so none may run, even if escaping failed.
  res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
  res.set_content(html, "text/html; charset=utf-8");
}

// An IPv4 client of a socket listening on IPv6 as its plain IPv4 address, so that limits
// and --trust-proxy see one name for it whichever way the server listens.
std::string NumericAddress(sockaddr_storage address, socklen_t length, int* port) {
  if (address.ss_family == AF_INET6) {
    const sockaddr_in6 six = *reinterpret_cast<const sockaddr_in6*>(&address);
    if (IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) {
      sockaddr_in four{};
      four.sin_family = AF_INET;
      four.sin_port = six.sin6_port;
      std::memcpy(&four.sin_addr, six.sin6_addr.s6_addr + 12, 4);
      std::memset(&address, 0, sizeof address);
      std::memcpy(&address, &four, sizeof four);
      length = sizeof four;
    }
  }
  char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return std::string();
  if (port) *port = std::atoi(service);
  return host;
}

// A connection's socket for the library's request parser. Reads give up at a deadline for
// the request (its headers, then its body), whatever the pace of the bytes, so a client
// that sends a byte a second cannot hold a thread any longer than one that sends nothing.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int a_sock, int readSeconds, int writeSeconds)
      : sock(a_sock), readMs(readSeconds * 1000), writeMs(writeSeconds * 1000) {}

  void ReadsBy(Clock::time_point a_deadline) { deadline = a_deadline; }
  bool Buffered() const { return at < filled; }

  // Until a byte of the next request is here (true), or until the deadline or a stop.
  bool AwaitRequest(Clock::time_point until, const std::atomic<int>& listening) const {
    while (!Buffered()) {
      int left = MsUntil(until);
      if (left <= 0 || listening == INVALID_SOCKET) return false;
      // Short slices, so stopping the server never waits for an idle client.
      int ready = Poll(POLLIN, std::min(left, 100));
      if (ready < 0) return false;
      if (ready > 0) return true;
    }
    return true;
  }

  bool is_readable() const override { return Buffered() || Poll(POLLIN, ReadWait()) > 0; }
  bool is_writable() const override { return Poll(POLLOUT, writeMs) > 0; }

  ssize_t read(char* ptr, size_t size) override {
    if (!Buffered()) {
      if (!is_readable()) return -1;
      ssize_t n;
      do n = ::recv(sock, buffer, sizeof buffer, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      at = 0;
      filled = size_t(n);
    }
    size_t n = std::min(size, filled - at);
    std::memcpy(ptr, buffer + at, n);
    at += n;
    return ssize_t(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do n = ::send(sock, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      ip = NumericAddress(address, length, &port);
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      ip = NumericAddress(address, length, &port);
  }

  socket_t socket() const override { return sock; }

 private:
  int sock;
  int readMs;
  int writeMs;
  Clock::time_point deadline;
  char buffer[4096];
  size_t at = 0;
  size_t filled = 0;

  static int MsUntil(Clock::time_point t) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return int(std::max<long long>(0, std::min<long long>(left + 1, 1 << 30)));
  }

  int ReadWait() const { return std::min(readMs, MsUntil(deadline)); }

  int Poll(short events, int ms) const {
    pollfd p{sock, events, 0};
    int ready;
    do ready = ::poll(&p, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready;
  }
};

bool IsAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// The client behind trusted proxies: X-Forwarded-For read from its end (the hop the
// nearest proxy added), skipping proxies we trust, up to the first address we do not.
std::string ForwardedClient(const std::string& header, const std::set<std::string>& trusted, std::string fallback) {
  size_t end = header.size();
  while (end > 0) {
    size_t comma = header.rfind(',', end - 1);
    size_t start = comma == std::string::npos ? 0 : comma + 1;
    std::string hop = header.substr(start, end - start);
    hop.erase(0, hop.find_first_not_of(" \t"));
    hop.erase(hop.find_last_not_of(" \t") + 1);
    if (!IsAddress(hop)) return fallback;
    fallback = hop;
    if (!trusted.count(hop)) return hop;
    if (comma == std::string::npos) break;
    end = comma;
  }
  return fallback;
}

// The library's server with our own connection handling: a per-address connection count
// checked before anything is read, the header deadline, and the trusted proxies' clients.
class Listener : public httplib::Server {
 public:
  explicit Listener(const scoServerOptions& a_options) : options(a_options) {}

 private:
  const scoServerOptions& options;
  std::mutex lock;
  std::unordered_map<std::string, int> held;  // connections open per address; no zero entries

  bool Admit(const std::string& address) {
    if (options.trustedProxies.count(address) || options.connectionsPerAddress <= 0) return true;
    std::lock_guard<std::mutex> guard(lock);
    int& count = held[address];
    if (count >= options.connectionsPerAddress) {
      if (count == 0) held.erase(address);
      return false;
    }
    ++count;
    return true;
  }

  void Leave(const std::string& address) {
    if (options.trustedProxies.count(address) || options.connectionsPerAddress <= 0) return;
    std::lock_guard<std::mutex> guard(lock);
    auto found = held.find(address);
    if (found != held.end() && --found->second <= 0) held.erase(found);
  }

  bool process_and_close_socket(socket_t sock) override {
    ConnectionStream stream(sock, int(read_timeout_sec_), int(write_timeout_sec_));
    std::string address;
    int port = 0;
    stream.get_remote_ip_and_port(address, port);
    bool served = false;
    if (Admit(address)) {
      // Answers are one small write; waiting to coalesce them costs a delayed-ACK round.
      int on = 1;
      setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      served = Serve(stream, options.trustedProxies.count(address) > 0);
      Leave(address);
    } else {
      // Said without reading the request: whatever the client sent is not worth a thread.
      static const char refusal[] =
          "HTTP/1.1 429 Too Many Requests\r\nContent-Type: text/plain; charset=utf-8\r\n"
          "Content-Length: 28\r\nConnection: close\r\n\r\nerror: too many connections\n";
      ::send(sock, refusal, sizeof refusal - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
  }

  bool Serve(ConnectionStream& stream, bool proxy) {
    auto headerTime = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.headerSeconds));
    // A proxy keeps its connections between requests, as long as the library lets any
    // client; everyone else has the header deadline from the end of the last answer.
    auto idleTime = proxy ? std::chrono::seconds(keep_alive_timeout_sec_) : headerTime;
    bool served = false;
    for (size_t left = keep_alive_max_count_; left > 0; --left) {
      Clock::time_point start = Clock::now();
      if (!stream.AwaitRequest(start + idleTime, svr_sock_)) break;
      stream.ReadsBy((proxy ? Clock::now() : start) + headerTime);
      bool closed = false;
      served = process_request(stream, left == 1, closed, [&](httplib::Request& req) {
        // A body is at most 16 KiB: ten seconds leave room for the slowest honest link.
        stream.ReadsBy(Clock::now() + std::chrono::seconds(10));
        if (proxy && req.has_header("X-Forwarded-For"))
          req.remote_addr =
              ForwardedClient(req.get_header_value("X-Forwarded-For"), options.trustedProxies, req.remote_addr);
      });
      if (!served || closed) break;
    }
    return served;
  }
};

}  // namespace

scoServer::scoServer(scoStore& a_store, scoServerOptions a_options)
    : store(a_store),
      options(std::move(a_options)),
      limiter(options.rate, std::max(1.0, 2 * options.rate)),
      http(std::make_unique<Listener>(options)) {
  Routes();
}

scoServer::~scoServer() = default;

int scoServer::Bind(const std::string& host, int port) {
  int listener = -1;
  http->set_socket_options([&listener](socket_t sock) {
    httplib::default_socket_options(sock);
    listener = sock;
  });
  int bound = port == 0 ? http->bind_to_any_port(host) : (http->bind_to_port(host, port) ? port : -1);
  // The library listens with a backlog of 5: a burst of clients connecting at once (a
  // load balancer's pool, a crowd at a game's launch) would see dropped handshakes and
  // stalls. Listening again on the same socket only raises the backlog.
  if (bound > 0 && listener >= 0) ::listen(listener, SOMAXCONN);
  return bound;
}

bool scoServer::Run() { return http->listen_after_bind(); }

void scoServer::Stop() { http->stop(); }

void scoServer::Routes() {
  int threads = options.threads;
  http->new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
  http->set_payload_max_length(scoProtocol::MAX_BODY);
  // Clients that keep a connection (a load balancer, say) may send many requests on it.
  http->set_keep_alive_max_count(1000);

  // Every request passes the rate limit before any work is done for it.
  http->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (limiter.Allow(req.remote_addr, Now())) return httplib::Server::HandlerResponse::Unhandled;
    Plain(res, 429, "error: too many requests\n");
    return httplib::Server::HandlerResponse::Handled;
  });

  http->Post("/submit.php", [this](const httplib::Request& req, httplib::Response& res) {
    scoProtocol::Fields form;
    scoProtocol::Submission submission;
    std::string error;
    if (!scoProtocol::ParseForm(req.body, &form, &error)) return Plain(res, 400, "error: " + error + "\n");
    scoProtocol::Verdict verdict =
        scoProtocol::ReadSubmission(form, options.checksums, (long long)std::time(nullptr), &submission, &error);
    if (verdict != scoProtocol::ACCEPTED) return Plain(res, verdict, "error: " + error + "\n");
    submission.entry.timeAtCommit = true;
    long long rank = store.Submit(submission.table, submission.entry);
    Plain(res, 200, "OK " + std::to_string(rank));
  });

  http->Get("/get.php", [this](const httplib::Request& req, httplib::Response& res) {
    scoProtocol::Fields fields;
    scoProtocol::Query query;
    std::string error;
    if (!scoProtocol::ParseForm(QueryText(req), &fields, &error) || !scoProtocol::ReadQuery(fields, &query, &error))
      return Plain(res, 400, "error: " + error + "\n");
    Plain(res, 200, scoProtocol::ScriptAnswer(store.Rows(query.table, query.from, query.to)));
  });

  http->Get("/", [this](const httplib::Request& req, httplib::Response& res) {
    scoProtocol::Fields fields;
    std::string error;
    if (!scoProtocol::ParseForm(QueryText(req), &fields, &error))
      return Html(res, 400, scoProtocol::ErrorPage(400, error));
    Html(res, 200, scoProtocol::GamesPage(store.Games(fields.count("dev") && fields["dev"] == "1")));
  });

  http->Get("/scores", [this](const httplib::Request& req, httplib::Response& res) {
    scoProtocol::Fields fields;
    scoProtocol::Query query;
    std::string error;
    bool ok = scoProtocol::ParseForm(QueryText(req), &fields, &error);
    if (ok) {
      // The page is the query for the top rows, with its fields optional.
      fields.emplace("format", "GM");
      fields.emplace("script_version", "");
      fields.emplace("params", "");
      fields.emplace("from", "1");
      fields.emplace("to", std::to_string(int(scoProtocol::MAX_ROWS)));
      ok = scoProtocol::ReadQuery(fields, &query, &error);
    }
    if (!ok) return Html(res, 400, scoProtocol::ErrorPage(400, error));
    Html(res, 200, scoProtocol::TablePage(query.table, store.Rows(query.table, query.from, query.to)));
  });

  http->set_exception_handler([](const httplib::Request&, httplib::Response& res, const std::exception_ptr& failure) {
    std::string what = "unknown failure";
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {}
    std::fprintf(stderr, "ombrix-scores: store failure: %s\n", LogSafe(what).c_str());
    Plain(res, 503, "error: scores are unavailable\n");
  });

  http->set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Plain(res, res.status, res.status == 404 ? "error: not found\n" : "error: request refused\n");
  });

  if (options.log)
    http->set_logger([](const httplib::Request& req, const httplib::Response& res) {
      char when[32];
      std::time_t now = std::time(nullptr);
      std::tm utc{};
      gmtime_r(&now, &utc);
      std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
      std::fprintf(stderr, "%s %s %s %s %d %zu\n", when, req.remote_addr.c_str(), LogSafe(req.method).c_str(),
                   LogSafe(req.path).c_str(), res.status, res.body.size());
    });
}
