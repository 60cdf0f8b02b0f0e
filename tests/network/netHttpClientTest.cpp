#include "network/_gNetwork.h"
#include "network/netHttpClient.h"
#include "tests/network/netTestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kAgent = "User-agent: Ombrix 7.10 (https://ombrix.org)\r\n";

class netHttpClientTest : public ::testing::Test {
 protected:
  netTestServer server;
  _gNetwork network;
  std::vector<std::string> warnings;
  std::vector<std::string> answers;

  void SetUp() override {
    _gNetwork::Init();
    _gNetwork::SetWarningSink([this](const char* m) { warnings.push_back(m); });
    // Frame for frame the same every run; the lookup thread has a test of its own.
    netHttpClient::lookupsInStart = true;
  }
  void TearDown() override {
    _gNetwork::SetWarningSink(nullptr);
    netHttpClient::lookupsInStart = false;
    netHttpClient::SetLookup(nullptr);
  }

  netHttpClient* Get(const std::string& path, const std::string& host = "127.0.0.1", int port = -1) {
    netHttpClient* c =
        new netHttpClient(netHttpClient::KIND_QUERY, netHttpClient::METHOD_GET, host, port < 0 ? server.port : port,
                          path, "cb", [this](netHttpClient&, const std::string& t) { answers.push_back(t); });
    c->Start();
    network.Add(c);
    return c;
  }

  void Frame() {
    server.Pump();
    network.Poll();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

  // Frames until the list is empty; false when it never empties.
  bool RunUntilIdle(int maxFrames = 2000) {
    for (int i = 0; i < maxFrames; ++i) {
      Frame();
      if (network.requests.count == 0) return true;
    }
    return false;
  }
};

TEST_F(netHttpClientTest, GetSendsExactRequestAndGathersTheBody) {
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 5\r\n", "hello")}});
  Get("/get.php?format=GM&x=1");
  EXPECT_EQ(network.requests.count, 1);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0],
            "GET /get.php?format=GM&x=1 HTTP/1.1\r\n"
            "Host: 127.0.0.1\r\n" +
                kAgent + "Connection: close\r\n\r\n");
  EXPECT_EQ(answers, (std::vector<std::string>{"hello"}));
}

TEST_F(netHttpClientTest, PostSendsTheWholeBodyWhateverItsLength) {
  // Far past PLIB's 16384-byte output buffer and the kernel's socket buffers.
  std::string body;
  for (int i = 0; body.size() < 300000; ++i) body += "field" + std::to_string(i) + "=value&";
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 4\r\n", "OK 1")}});
  netHttpClient* c =
      new netHttpClient(netHttpClient::KIND_SUBMIT, netHttpClient::METHOD_POST, "localhost", server.port, "/submit.php",
                        "cb", [this](netHttpClient&, const std::string& t) { answers.push_back(t); });
  EXPECT_EQ(c->Start(&body), 0);
  network.Add(c);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0],
            "POST /submit.php HTTP/1.1\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-length: " +
                std::to_string(body.size()) +
                "\r\n"
                "Host: localhost\r\n" +
                kAgent + "Connection: close\r\n\r\n" + body);
  EXPECT_EQ(answers, (std::vector<std::string>{"OK 1"}));
}

TEST_F(netHttpClientTest, ResponseOverSeveralReadsIsGatheredOnceInOrder) {
  std::string body;
  for (int i = 0; i < 10000; ++i) body += char('a' + i % 26);
  std::string raw = netTestServer::Response("200 OK", "Content-Length: 10000\r\n", body);
  netTestReply reply;
  for (size_t at = 0; at < raw.size(); at += 700) reply.pieces.push_back(raw.substr(at, 700));
  server.Queue(reply);
  Get("/");
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], body);
}

TEST_F(netHttpClientTest, TwoRequestsInOneFrameBothFinish) {
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 3\r\n", "one")}});
  server.Queue({{netTestServer::Response("200 OK", "Transfer-Encoding: chunked\r\n", "3\r\ntwo\r\n0\r\n\r\n")}});
  Get("/a");
  Get("/b");
  EXPECT_EQ(network.requests.count, 2);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(server.requests.size(), 2u);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_TRUE((answers[0] == "one" && answers[1] == "two") || (answers[0] == "two" && answers[1] == "one"));
}

TEST_F(netHttpClientTest, FailuresEndWithOneEmptyAnswer) {
  // Refused: the connect call itself may succeed (non-blocking); the refusal then shows
  // as an error and a close at a later poll.
  Get("/", "127.0.0.1", netTestServer::ClosedPort());
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(answers, (std::vector<std::string>{""}));
  EXPECT_FALSE(warnings.empty()) << "PLIB's network warning reaches the sink";

  // Closed by the server before any byte of an answer.
  answers.clear();
  server.Queue({{}});
  Get("/");
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(answers, (std::vector<std::string>{""}));
}

TEST_F(netHttpClientTest, UnresolvableHostNeverReachesThisMachine) {
  testing::internal::CaptureStdout();
  netHttpClient* c =
      new netHttpClient(netHttpClient::KIND_QUERY, netHttpClient::METHOD_GET, "no-such-host.invalid", server.port, "/",
                        "cb", [this](netHttpClient&, const std::string& t) { answers.push_back(t); });
  EXPECT_EQ(c->Start(), -1);
  network.Add(c);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "connect failed\n");
  EXPECT_TRUE(answers.empty()) << "the answer comes in the network step, not inside the call";
  Frame();
  EXPECT_EQ(answers, (std::vector<std::string>{""}));
  EXPECT_EQ(network.requests.count, 0);
  for (int i = 0; i < 20; ++i) Frame();
  EXPECT_EQ(server.accepted, 0) << "PLIB's 0.0.0.0 fallback would have connected here";
}

// A name server that keeps the lookup waiting holds back only the requests to that name:
// frames go on, and the requests connect at the first poll after the answer (both on one
// lookup). A name that cannot be found fails each request with an empty answer then.
TEST_F(netHttpClientTest, HostLookupsWaitOffTheFrame) {
  netHttpClient::lookupsInStart = false;
  struct Gate {
    std::mutex lock;
    std::condition_variable signal;
    bool open = false;
    int asked = 0;
  };
  auto gate = std::make_shared<Gate>();
  // The lookup thread may outlive a failed test: it holds the gate, which ends opened.
  struct Opener {
    std::shared_ptr<Gate> gate;
    ~Opener() {
      std::lock_guard<std::mutex> held(gate->lock);
      gate->open = true;
      gate->signal.notify_all();
    }
  } opener{gate};
  const std::string name = "slow-" + std::to_string(::getpid()) + ".test";
  netHttpClient::SetLookup([gate, name](const std::string& host, std::string* address) {
    std::unique_lock<std::mutex> held(gate->lock);
    ++gate->asked;
    gate->signal.wait(held, [&] { return gate->open; });
    *address = "127.0.0.1";
    return host == name;
  });
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 3\r\n", "one")}});
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 3\r\n", "two")}});
  testing::internal::CaptureStdout();
  Get("/a", name);
  Get("/b", name);
  Get("/c", "missing-" + name);
  for (int i = 0; i < 30; ++i) Frame();
  EXPECT_EQ(network.requests.count, 3);
  EXPECT_EQ(server.accepted, 0);
  EXPECT_TRUE(answers.empty());
  {
    std::lock_guard<std::mutex> held(gate->lock);
    gate->open = true;
    gate->signal.notify_all();
  }
  // The lookups end on their own thread, whenever it is given the processor: frames run
  // until the list is empty, with only a safety limit.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (network.requests.count != 0 && std::chrono::steady_clock::now() < limit) Frame();
  ASSERT_EQ(network.requests.count, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "connect failed\n");
  std::sort(answers.begin(), answers.end());
  EXPECT_EQ(answers, (std::vector<std::string>{"", "one", "two"}));
  std::lock_guard<std::mutex> held(gate->lock);
  EXPECT_EQ(gate->asked, 2) << "one lookup per name";
}

TEST_F(netHttpClientTest, ServerThatNeverClosesKeepsTheRequestListed) {
  netTestReply reply;
  reply.pieces = {netTestServer::Response("200 OK", "Content-Length: 100\r\n", "partial")};
  reply.close = false;
  server.Queue(reply);
  Get("/");
  for (int i = 0; i < 100; ++i) Frame();
  EXPECT_EQ(network.requests.count, 1);
  EXPECT_TRUE(answers.empty());
  netHttpClient* c = static_cast<netHttpClient*>(network.requests.items[0]);
  EXPECT_EQ(c->response.body, "partial");
  EXPECT_FALSE(c->done);
}

TEST_F(netHttpClientTest, HandlerMayStartAnotherRequest) {
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 5\r\n", "first")}});
  server.Queue({{netTestServer::Response("200 OK", "Content-Length: 6\r\n", "second")}});
  netHttpClient* c = new netHttpClient(netHttpClient::KIND_QUERY, netHttpClient::METHOD_GET, "127.0.0.1", server.port,
                                       "/1", "cb", [this](netHttpClient&, const std::string& t) {
                                         answers.push_back(t);
                                         if (t == "first") Get("/2");
                                       });
  c->Start();
  network.Add(c);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(answers, (std::vector<std::string>{"first", "second"}));
}

TEST_F(netHttpClientTest, OpenRequestsAreBounded) {
  testing::internal::CaptureStdout();
  for (int i = 0; i < netHttpClient::MAX_OPEN + 3; ++i) {
    netTestReply reply;
    reply.close = false;
    server.Queue(reply);
    Get("/");
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "connect failed\nconnect failed\nconnect failed\n");
  for (int i = 0; i < 50; ++i) Frame();
  EXPECT_EQ(answers.size(), 3u);
  EXPECT_EQ(network.requests.count, netHttpClient::MAX_OPEN);
  EXPECT_EQ(netHttpClient::OpenCount(), netHttpClient::MAX_OPEN);
}

}  // namespace
