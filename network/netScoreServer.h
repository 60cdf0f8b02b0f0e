#ifndef NETSCORESERVER_H
#define NETSCORESERVER_H

// Where the score calls send their requests: the one place that names the score server.
// The player keeps the product's server unless "--score-server" names another (an author's
// local ombrix-scores, say); tests point it at a server of their own on the loopback.
class netScoreServer {
 public:
  static const char* Host();
  static int Port();
  static void Set(const char* host, int port);
  static void Restore();  // back to the product's server
};

#endif
