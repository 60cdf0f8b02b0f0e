#include "network/_gNetwork.h"

#include "network/netHttpClient.h"

#include "binding/gScriptHost.h"
#include "binding/gmNativeType.h"
#include "clock/_gClock.h"
#include "scene/gScriptCall.h"

#include <plib/netChannel.h>
#include <plib/ul.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

_gNetwork::WarningSink& Sink() {
  static _gNetwork::WarningSink sink;
  return sink;
}

void PlibError(ulSeverity, char* message) {
  if (Sink())
    Sink()(message);
  else
    std::fprintf(stderr, "%s\n", message);
}

const char* Text(const char* text) { return text ? text : ""; }

}  // namespace

_gNetwork* _gNetwork::instance = nullptr;

_gNetwork::~_gNetwork() {
  if (instance == this) instance = nullptr;
  for (int i = 0; i < requests.count; ++i) delete static_cast<netHttpClient*>(requests.items[i]);
}

void _gNetwork::Teardown() {
  while (requests.count > 0) {
    delete static_cast<netHttpClient*>(requests.Get(requests.count - 1));
    requests.RemoveAt(requests.count - 1);
  }
  timers.clear();
  machine = nullptr;
}

void _gNetwork::Init() {
  static bool started = false;
  if (started) return;
  started = true;
  netInit();
  ulSetErrorCallback(PlibError);
}

void _gNetwork::SetWarningSink(WarningSink sink) { Sink() = std::move(sink); }

void _gNetwork::Add(netHttpClient* client) { requests.Append(client); }

void _gNetwork::Poll() {
  for (int i = 0; i < requests.count; ++i) static_cast<netHttpClient*>(requests.items[i])->Resume();
  netChannel::poll(0);
  // Only the requests open when the pass began: one that a handler starts (a callback that
  // asks again) is polled from the next frame on. A request that fails at once would
  // otherwise be finished, and asked for again, in this same pass for ever.
  std::vector<netHttpClient*> due(requests.count);
  for (int i = 0; i < requests.count; ++i) due[i] = static_cast<netHttpClient*>(requests.items[i]);
  for (netHttpClient* client : due) {
    client->FinishIfClosed();
    if (!client->done) continue;
    for (int i = 0; i < requests.count; ++i) {
      if (requests.items[i] == client) {
        requests.RemoveAt(i);
        break;
      }
    }
    delete client;
  }
}

gmMachineEx* _gNetwork::Machine() {
  if (!machine && gScriptHost::Current()) machine = gScriptHost::Current()->GetMachine();
  return machine;
}

int _gNetwork::SubmitScore(const char* scriptName, const char* scriptVersion, const char* params,
                           const char* playerName, float score, const char* callback) {
  Machine();
  const gScriptHost* host = gScriptHost::Current();
  netScoreSubmission submission;
  submission.checksum = host ? host->checksum : "";
  submission.scriptName = Text(scriptName);
  submission.scriptVersion = Text(scriptVersion);
  submission.params = Text(params);
  submission.playerName = Text(playerName);
  submission.score = score;
  submission.timestamp = netScores::Timestamp();
  netScores::Submit(submission, Text(callback), this);
  return 0;
}

int _gNetwork::GetScore(const char* scriptName, const char* scriptVersion, const char* params, unsigned int from,
                        unsigned int to, const char* callback) {
  gmMachineEx* m = Machine();
  const gScriptHost* host = gScriptHost::Current();
  // The timer answers with an empty table when the server is slow or never answers; it is
  // added before the request starts, so even a request that fails at once finds it.
  int timer = 0;
  if (_gClock::instance && m) timer = _gClock::instance->AddTimer(TIMER_ONCE, 1000, Text(callback), m->MakeTable());
  netHttpClient* client = netScores::Query(Text(scriptName), Text(scriptVersion), Text(params), from, to,
                                           host && host->developer, Text(callback), this);
  if (timer) timers[client] = timer;
  return 0;
}

void _gNetwork::CallScore(const std::string& callback, int value) {
  gScriptCall::Global(Machine(), callback.c_str(), {gmVariable(gmint(value))});
}

void _gNetwork::QueryAnswered(netHttpClient& client) {
  auto found = timers.find(&client);
  if (found == timers.end()) return;
  if (_gClock::instance) _gClock::instance->RemoveTimer(found->second);
  timers.erase(found);
}

void _gNetwork::RunAnswer(const std::string& script) {
  if (gmMachineEx* m = Machine()) m->RunString(script.c_str());
}

gmLog* _gNetwork::Log() { return Machine() ? &Machine()->GetLog() : nullptr; }

int _gNetwork::RegisterScriptType(gmMachineEx* machine) {
  gmNativeType<_gNetwork> type(machine, "_Network");
  type.ModuleConstructor(&instance);
  type.Method("SubmitScore", &_gNetwork::SubmitScore);
  type.Method("GetScore", &_gNetwork::GetScore);
  return type.Register();
}
