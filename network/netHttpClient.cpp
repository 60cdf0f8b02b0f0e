#include "network/netHttpClient.h"

#include "binding/gVersion.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <cstdio>
#include <utility>

namespace {

int s_open = 0;

// The IPv4 lookup that PLIB would do itself, done here first: PLIB falls back to 0.0.0.0
// (this very machine) for a name it cannot resolve, so it only ever sees an address. The
// lookup blocks the frame, for seconds when the name server does not answer, so each name
// is looked up once a run, and a failed lookup is not retried for a minute.
bool Resolve(const std::string& host, std::string* address)
{
  if (host.empty())
    return false;
  struct Known
  {
    bool ok;
    std::string address;
    std::chrono::steady_clock::time_point when;
  };
  static std::map<std::string, Known> known;
  const auto now = std::chrono::steady_clock::now();
  auto found = known.find(host);
  if (found != known.end() && (found->second.ok || now - found->second.when < std::chrono::minutes(1)))
  {
    *address = found->second.address;
    return found->second.ok;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  char text[INET_ADDRSTRLEN] = "";
  bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0 && list;
  if (ok)
  {
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    ok = inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr;
  }
  if (list)
    freeaddrinfo(list);
  known[host] = Known{ok, ok ? text : "", now};
  if (ok)
    *address = text;
  return ok;
}

}  // namespace

netHttpClient::netHttpClient(int kind, int method, const std::string& host, int port,
                             const std::string& path, const std::string& callback, Handler handler)
  : netBufferChannel(4096, 16384),
    callback(callback),
    kind(kind),
    method(method),
    host(host),
    port(port),
    path(path),
    handler(std::move(handler))
{
}

netHttpClient::~netHttpClient()
{
  finished = true;
  close();
  if (counted)
    --s_open;
}

int netHttpClient::OpenCount() { return s_open; }

std::string netHttpClient::RequestText(int method, const std::string& host, const std::string& path,
                                       const std::string* body)
{
  std::string text;
  if (method == METHOD_POST)
  {
    text += "POST " + path + " HTTP/1.1\r\n";
    text += "Content-Type: application/x-www-form-urlencoded\r\n";
    text += "Content-length: " + std::to_string(body ? body->size() : 0) + "\r\n";
  }
  else
  {
    text += "GET " + path + " HTTP/1.1\r\n";
  }
  text += "Host: " + host + "\r\n";
  text += std::string("User-agent: Ombrix ") + ombrix::kEngineVersion + " (" + ombrix::kWebAddress + ")\r\n";
  text += "Connection: close\r\n\r\n";
  if (body)
    text += *body;
  return text;
}

int netHttpClient::Start(const std::string* body)
{
  pending = RequestText(method, host, path, body);
  pendingSent = 0;

  starting = true;
  bool ok = false;
  std::string address;
  if (s_open < MAX_OPEN && Resolve(host, &address) && open())
  {
    counted = true;
    ++s_open;
    ok = connect(address.c_str(), port) == 0;
  }
  if (!ok)
    close();
  closed = closed || !ok;
  starting = false;

  if (!ok)
  {
    std::fputs("connect failed\n", stdout);
    return -1;
  }
  return 0;
}

void netHttpClient::FinishIfClosed()
{
  if (closed)
    Finish();
}

bool netHttpClient::writable() { return pendingSent < pending.size(); }

void netHttpClient::handleWrite()
{
  if (pendingSent >= pending.size())
    return;
  size_t n = pending.size() - pendingSent;
  if (n > 16384)
    n = 16384;
  // Straight to the socket: PLIB's channel send cannot tell a partial write from a
  // blocked one. MSG_NOSIGNAL because a server that closes while a long body is still
  // going out must not end the player with SIGPIPE.
  int sent = netSocket::send(pending.data() + pendingSent, int(n), MSG_NOSIGNAL);
  if (sent > 0)
  {
    pendingSent += size_t(sent);
    if (pendingSent == pending.size())
    {
      pending.clear();
      pending.shrink_to_fit();
      pendingSent = 0;
    }
  }
  else if (sent < 0 && !isNonBlockingError())
  {
    handleError(errno);
    close();
  }
}

void netHttpClient::handleBufferRead(netBuffer& buffer)
{
  response.Feed(buffer.getData(), size_t(buffer.getLength()));
  // Everything is consumed: PLIB stops reading a channel whose buffer is full.
  buffer.remove();
}

void netHttpClient::handleClose()
{
  if (counted)
  {
    counted = false;
    --s_open;
  }
  closed = true;
  pending.clear();
  pendingSent = 0;
  netBufferChannel::handleClose();
  if (!starting)
    Finish();
}

void netHttpClient::Finish()
{
  if (finished)
    return;
  finished = true;
  std::string text = response.Text();
  if (handler)
    handler(*this, text);
  done = true;
}
