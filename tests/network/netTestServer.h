#ifndef NETTESTSERVER_H
#define NETTESTSERVER_H

// A small HTTP server of the tests' own on 127.0.0.1, on a port the system picks. It never
// blocks: the test pumps it once per frame beside the network step, so both sides move
// frame by frame in one thread. Each accepted connection takes the next queued reply.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

struct netTestReply {
  std::vector<std::string> pieces;  // sent one per frame once the request is complete
  int delayFrames = 0;              // frames to wait after the request before the first piece
  bool close = true;                // close after the last piece
};

class netTestServer {
 public:
  int port = 0;
  std::vector<std::string> requests;  // complete requests, in the order they ended
  int accepted = 0;

  netTestServer() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0)
      std::abort();
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    fcntl(listener, F_SETFL, O_NONBLOCK);
  }

  ~netTestServer() {
    for (Connection& c : connections)
      if (c.fd >= 0) ::close(c.fd);
    ::close(listener);
  }

  // A port nothing listens on: bound once, then released.
  static int ClosedPort() {
    netTestServer probe;
    return probe.port;
  }

  void Queue(netTestReply reply) { replies.push_back(std::move(reply)); }

  // Text of a whole response with the given status line, headers and body.
  static std::string Response(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "\r\n" + body;
  }

  void Pump() {
    for (;;) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) break;
      fcntl(fd, F_SETFL, O_NONBLOCK);
      Connection c;
      c.fd = fd;
      if (!replies.empty()) {
        c.reply = replies.front();
        replies.pop_front();
      }
      connections.push_back(c);
      ++accepted;
    }
    for (Connection& c : connections) {
      if (c.fd < 0) continue;
      char buffer[65536];
      for (;;) {
        ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        c.received.append(buffer, size_t(n));
      }
      if (!c.complete && RequestComplete(c.received)) {
        c.complete = true;
        requests.push_back(c.received);
      }
      if (!c.complete) continue;
      if (c.reply.delayFrames > 0) {
        --c.reply.delayFrames;
        continue;
      }
      if (c.outgoing.empty() && c.next < c.reply.pieces.size()) c.outgoing = c.reply.pieces[c.next++];
      while (!c.outgoing.empty()) {
        ssize_t n = send(c.fd, c.outgoing.data(), c.outgoing.size(), MSG_NOSIGNAL);
        if (n <= 0) break;  // the client reads in a later frame
        c.outgoing.erase(0, size_t(n));
      }
      if (c.outgoing.empty() && c.next == c.reply.pieces.size() && c.reply.close) {
        ::close(c.fd);
        c.fd = -1;
      }
    }
  }

 private:
  struct Connection {
    int fd = -1;
    std::string received;
    bool complete = false;
    size_t next = 0;
    std::string outgoing;  // rest of the piece being sent
    netTestReply reply;
  };

  int listener = -1;
  std::deque<netTestReply> replies;
  std::vector<Connection> connections;

  // Headers ended, and as many body bytes as the (lower-case l) Content-length names.
  static bool RequestComplete(const std::string& text) {
    size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    size_t body = 0;
    size_t at = text.find("Content-length: ");
    if (at != std::string::npos && at < end) body = std::strtoul(text.c_str() + at + 16, nullptr, 10);
    return text.size() >= end + 4 + body;
  }
};

#endif
