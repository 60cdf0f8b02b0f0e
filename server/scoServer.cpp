#include "server/scoServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>

namespace {

double Now()
{
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The query part of a request target, undecoded.
std::string QueryText(const httplib::Request& req)
{
  size_t mark = req.target.find('?');
  return mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
}

// Request paths come from clients: control bytes would let one forge log lines.
std::string LogSafe(const std::string& text)
{
  std::string out;
  for (unsigned char c : text.substr(0, 200))
  {
    if (c < 0x20 || c == 0x7f)
    {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
    else
      out += char(c);
  }
  return out;
}

void Plain(httplib::Response& res, int status, const std::string& text)
{
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, int status, const std::string& html)
{
  res.status = status;
  // The pages carry no script of their own, so none may run, even if escaping failed.
  res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
  res.set_content(html, "text/html; charset=utf-8");
}

}  // namespace

scoServer::scoServer(scoStore& store, scoServerOptions options)
  : store(store), options(std::move(options)), limiter(this->options.rate, std::max(1.0, 2 * this->options.rate)),
    http(std::make_unique<httplib::Server>())
{
  Routes();
}

scoServer::~scoServer() = default;

int scoServer::Bind(const std::string& host, int port)
{
  int listener = -1;
  http->set_socket_options([&listener](socket_t sock) {
    httplib::default_socket_options(sock);
    listener = sock;
  });
  int bound = port == 0 ? http->bind_to_any_port(host) : (http->bind_to_port(host, port) ? port : -1);
  // The library listens with a backlog of 5: a burst of clients connecting at once (a
  // load balancer's pool, a crowd at a game's launch) would see dropped handshakes and
  // stalls. Listening again on the same socket only raises the backlog.
  if (bound > 0 && listener >= 0)
    ::listen(listener, SOMAXCONN);
  return bound;
}

bool scoServer::Run() { return http->listen_after_bind(); }

void scoServer::Stop() { http->stop(); }

void scoServer::Routes()
{
  int threads = options.threads;
  http->new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
  http->set_payload_max_length(scoProtocol::MAX_BODY);
  // Answers are one small write; waiting to coalesce them costs a delayed-ACK round.
  http->set_tcp_nodelay(true);
  // Clients that keep a connection (a load balancer, say) may send many requests on it.
  http->set_keep_alive_max_count(1000);

  // Every request passes the rate limit before any work is done for it.
  http->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (limiter.Allow(req.remote_addr, Now()))
      return httplib::Server::HandlerResponse::Unhandled;
    Plain(res, 429, "error: too many requests\n");
    return httplib::Server::HandlerResponse::Handled;
  });

  http->Post("/submit.php", [this](const httplib::Request& req, httplib::Response& res) {
    scoProtocol::Fields form;
    scoProtocol::Submission submission;
    std::string error;
    if (!scoProtocol::ParseForm(req.body, &form, &error))
      return Plain(res, 400, "error: " + error + "\n");
    scoProtocol::Verdict verdict =
      scoProtocol::ReadSubmission(form, options.checksums, (long long)std::time(nullptr), &submission, &error);
    if (verdict != scoProtocol::ACCEPTED)
      return Plain(res, verdict, "error: " + error + "\n");
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
    if (ok)
    {
      // The page is the query for the top rows, with its fields optional.
      fields.emplace("format", "GM");
      fields.emplace("script_version", "");
      fields.emplace("params", "");
      fields.emplace("from", "1");
      fields.emplace("to", std::to_string(int(scoProtocol::MAX_ROWS)));
      ok = scoProtocol::ReadQuery(fields, &query, &error);
    }
    if (!ok)
      return Html(res, 400, scoProtocol::ErrorPage(400, error));
    Html(res, 200, scoProtocol::TablePage(query.table, store.Rows(query.table, query.from, query.to)));
  });

  http->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
    std::string what = "unknown failure";
    try
    {
      std::rethrow_exception(failure);
    }
    catch (const std::exception& e)
    {
      what = e.what();
    }
    catch (...)
    {
    }
    std::fprintf(stderr, "ombrix-scores: store failure: %s\n", LogSafe(what).c_str());
    Plain(res, 503, "error: scores are unavailable\n");
  });

  http->set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      Plain(res, res.status, res.status == 404 ? "error: not found\n" : "error: request refused\n");
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
