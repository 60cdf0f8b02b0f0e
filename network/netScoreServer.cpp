#include "network/netScoreServer.h"

#include <string>

namespace {
constexpr const char* kDefaultHost = "scores.ombrix.org";
constexpr int kDefaultPort = 80;

std::string& HostText() {
  static std::string host = kDefaultHost;
  return host;
}
int s_port = kDefaultPort;
}  // namespace

const char* netScoreServer::Host() { return HostText().c_str(); }
int netScoreServer::Port() { return s_port; }

void netScoreServer::Set(const char* host, int port) {
  HostText() = host ? host : "";
  s_port = port;
}

void netScoreServer::Restore() { Set(kDefaultHost, kDefaultPort); }
