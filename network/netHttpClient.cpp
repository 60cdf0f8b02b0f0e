#include "network/netHttpClient.h"

#include "binding/gVersion.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

int s_open = 0;

// The IPv4 lookup that PLIB would do itself, done here first: PLIB falls back to 0.0.0.0
// (this very machine) for a name it cannot resolve, so it only ever sees an address.
bool SystemLookup(const std::string& host, std::string* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  char text[INET_ADDRSTRLEN] = "";
  bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0 && list;
  if (ok) {
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    ok = inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr;
  }
  if (list) freeaddrinfo(list);
  if (ok) *address = text;
  return ok;
}

netHttpClient::Lookup& CurrentLookup() {
  static netHttpClient::Lookup lookup = SystemLookup;
  return lookup;
}

// One name's lookup, shared by the requests waiting for it and by the thread doing it,
// which may outlive them all.
struct Answer {
  std::mutex lock;
  bool done = false;    // under lock
  bool ok = false;      // under lock
  std::string address;  // under lock
  std::chrono::steady_clock::time_point when;
};

enum Resolved {
  RESOLVED,
  WAITING,
  UNRESOLVED,
};

// A name server that does not answer takes seconds, so each name is looked up once a run,
// and a failed lookup is not asked again for a minute. Touched only on the thread that
// starts requests.
std::map<std::string, std::shared_ptr<Answer>>& Answers() {
  static auto* answers = new std::map<std::string, std::shared_ptr<Answer>>();
  return *answers;
}

Resolved Resolve(const std::string& host, std::string* address) {
  if (host.empty()) return UNRESOLVED;
  in_addr numeric{};
  if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
    *address = host;
    return RESOLVED;
  }
  std::shared_ptr<Answer>& answer = Answers()[host];
  if (answer) {
    std::lock_guard<std::mutex> held(answer->lock);
    if (!answer->done) return WAITING;
    if (answer->ok) {
      *address = answer->address;
      return RESOLVED;
    }
    if (std::chrono::steady_clock::now() - answer->when < std::chrono::minutes(1)) return UNRESOLVED;
  }
  answer = std::make_shared<Answer>();
  auto ask = [host, answer, lookup = CurrentLookup()] {
    std::string found;
    bool ok = lookup(host, &found);
    std::lock_guard<std::mutex> held(answer->lock);
    answer->ok = ok;
    answer->address = found;
    answer->when = std::chrono::steady_clock::now();
    answer->done = true;
  };
  if (netHttpClient::lookupsInStart)
    ask();
  else {
    try {
      std::thread(ask).detach();
    } catch (const std::system_error&) {
      ask();
    }
  }
  return Resolve(host, address);
}

}  // namespace

bool netHttpClient::lookupsInStart = false;

void netHttpClient::SetLookup(Lookup lookup) { CurrentLookup() = lookup ? std::move(lookup) : SystemLookup; }

netHttpClient::netHttpClient(int a_kind, int a_method, const std::string& a_host, int a_port, const std::string& a_path,
                             const std::string& a_callback, Handler a_handler)
    : netBufferChannel(4096, 16384),
      callback(a_callback),
      kind(a_kind),
      method(a_method),
      host(a_host),
      port(a_port),
      path(a_path),
      handler(std::move(a_handler)) {}

netHttpClient::~netHttpClient() {
  finished = true;
  close();
  if (counted) --s_open;
}

int netHttpClient::OpenCount() { return s_open; }

std::string netHttpClient::RequestText(int method, const std::string& host, const std::string& path,
                                       const std::string* body) {
  std::string text;
  if (method == METHOD_POST) {
    text += "POST " + path + " HTTP/1.1\r\n";
    text += "Content-Type: application/x-www-form-urlencoded\r\n";
    text += "Content-length: " + std::to_string(body ? body->size() : 0) + "\r\n";
  } else {
    text += "GET " + path + " HTTP/1.1\r\n";
  }
  text += "Host: " + host + "\r\n";
  text += std::string("User-agent: Ombrix ") + ombrix::kEngineVersion + " (" + ombrix::kWebAddress + ")\r\n";
  text += "Connection: close\r\n\r\n";
  if (body) text += *body;
  return text;
}

int netHttpClient::Start(const std::string* body) {
  pending = RequestText(method, host, path, body);
  pendingSent = 0;
  if (s_open >= MAX_OPEN) {
    Fail();
    return -1;
  }
  counted = true;
  ++s_open;
  resolving = true;
  Resume();
  return closed ? -1 : 0;
}

void netHttpClient::Resume() {
  if (!resolving) return;
  std::string address;
  Resolved resolved = Resolve(host, &address);
  if (resolved == WAITING) return;
  resolving = false;
  // Until the channel is open, the slot is counted here; from then on, by the channel.
  counted = false;
  --s_open;
  if (resolved == UNRESOLVED)
    Fail();
  else
    Connect(address);
}

bool netHttpClient::Connect(const std::string& address) {
  starting = true;
  bool ok = false;
  if (open()) {
    counted = true;
    ++s_open;
    ok = connect(address.c_str(), port) == 0;
  }
  starting = false;
  if (!ok) Fail();
  return ok;
}

void netHttpClient::Fail() {
  // Closing a channel that never opened calls no handleClose.
  starting = true;
  close();
  starting = false;
  if (counted) {
    counted = false;
    --s_open;
  }
  closed = true;
  std::fputs("connect failed\n", stdout);
}

void netHttpClient::FinishIfClosed() {
  if (closed) Finish();
}

bool netHttpClient::writable() { return pendingSent < pending.size(); }

void netHttpClient::handleWrite() {
  if (pendingSent >= pending.size()) return;
  size_t n = pending.size() - pendingSent;
  if (n > 16384) n = 16384;
  // Straight to the socket: PLIB's channel send cannot tell a partial write from a
  // blocked one. MSG_NOSIGNAL because a server that closes while a long body is still
  // going out must not end the player with SIGPIPE.
  int sent = netSocket::send(pending.data() + pendingSent, int(n), MSG_NOSIGNAL);
  if (sent > 0) {
    pendingSent += size_t(sent);
    if (pendingSent == pending.size()) {
      pending.clear();
      pending.shrink_to_fit();
      pendingSent = 0;
    }
  } else if (sent < 0 && !isNonBlockingError()) {
    handleError(errno);
    close();
  }
}

void netHttpClient::handleBufferRead(netBuffer& buffer) {
  response.Feed(buffer.getData(), size_t(buffer.getLength()));
  // Everything is consumed: PLIB stops reading a channel whose buffer is full.
  buffer.remove();
}

void netHttpClient::handleClose() {
  if (counted) {
    counted = false;
    --s_open;
  }
  closed = true;
  pending.clear();
  pendingSent = 0;
  netBufferChannel::handleClose();
  if (!starting) Finish();
}

void netHttpClient::Finish() {
  if (finished) return;
  finished = true;
  std::string text = response.Text();
  if (handler) handler(*this, text);
  done = true;
}
