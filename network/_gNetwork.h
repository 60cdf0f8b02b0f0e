#ifndef _GNETWORK_H
#define _GNETWORK_H

#include "network/netScores.h"
#include "scene/gPtrList.h"

#include <functional>
#include <string>
#include <unordered_map>

class gmMachineEx;
class netHttpClient;

// The network module: the requests in flight, in the order they were made, and the
// per-frame step that progresses them. It owns the listed clients and frees each one in
// the step that sees it done. As the script global Network it starts the score calls and
// takes their answers back to scripts.
class _gNetwork : private netScoreScripts {
 public:
  // The module the script global Network wraps; made by its first construction.
  static _gNetwork* instance;

  gPtrList requests;  // of netHttpClient
  // Where answers are called back; taken from the current script host at the first score
  // call when not set.
  gmMachineEx* machine = nullptr;

  _gNetwork() = default;
  ~_gNetwork();
  _gNetwork(const _gNetwork&) = delete;
  _gNetwork& operator=(const _gNetwork&) = delete;

  // Starts PLIB's socket layer and routes its warnings to the warning sink. Once per
  // process, before the first request; later calls do nothing.
  static void Init();

  // Where PLIB's warnings go (a refused or reset connection, say). The default writes
  // them to standard error, as PLIB itself would; nullptr restores it.
  using WarningSink = std::function<void(const char* message)>;
  static void SetWarningSink(WarningSink sink);

  // Lists a started client; the module owns it from now on.
  void Add(netHttpClient* client) override;

  // The network step of the frame: one PLIB poll that does not wait, which sends queued
  // bytes, reads what has arrived and finishes closed requests; then every done request
  // is dropped from the list and freed.
  void Poll();
  // The end of a game: every request in flight closed and freed unanswered, with its
  // fallback timer forgotten (the clock drops its own), and no machine to answer into.
  void Teardown();

  // Script side; both return 0 at once, the answer comes later through the callback.
  int SubmitScore(const char* scriptName, const char* scriptVersion, const char* params, const char* playerName,
                  float score, const char* callback);
  int GetScore(const char* scriptName, const char* scriptVersion, const char* params, unsigned int from,
               unsigned int to, const char* callback);

  static int RegisterScriptType(gmMachineEx* machine);

 private:
  // The fallback timer of each query still waiting for its answer.
  std::unordered_map<netHttpClient*, int> timers;

  gmMachineEx* Machine();
  void CallScore(const std::string& callback, int value) override;
  void QueryAnswered(netHttpClient& client) override;
  void RunAnswer(const std::string& script) override;
  gmLog* Log() override;
};

#endif
