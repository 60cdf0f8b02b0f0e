#include "network/netScores.h"

#include "binding/gVersion.h"
#include "network/netHttpClient.h"
#include "network/netScoreServer.h"
#include "script/compiler/gmDataCall.h"
#include "script/compiler/gmLog.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>

std::string netScores::Encode(const std::string& value) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' || c == '-' ||
        c == '.' || c == '_')
      out += char(c);
    else if (c == ' ')
      out += '+';
    else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string netScores::SubmitBody(const netScoreSubmission& s) {
  char score[64];
  std::snprintf(score, sizeof score, "%f", double(s.score));
  // A float's %f text is at most 47 characters, so score is never cut.
  return "checksum=" + Encode(s.checksum) + "&script_name=" + Encode(s.scriptName) +
         "&script_version=" + Encode(s.scriptVersion) + "&engine_version=" + Encode(ombrix::kEngineVersion) +
         "&params=" + Encode(s.params) + "&player_name=" + Encode(s.playerName) + "&score=" + score +
         "&user_timestamp=" + std::to_string(s.timestamp);
}

std::string netScores::QueryTarget(const std::string& scriptName, const std::string& scriptVersion,
                                   const std::string& params, unsigned from, unsigned to, bool dev) {
  return "/get.php?format=GM&script_name=" + Encode(scriptName) + "&script_version=" + Encode(scriptVersion) +
         "&params=" + Encode(params) + "&from=" + std::to_string(int(from)) + "&to=" + std::to_string(int(to)) +
         "&dev=" + (dev ? "1" : "0");
}

int netScores::Timestamp() { return int(int32_t(uint32_t(uint64_t(std::time(nullptr))))); }

bool netScores::SubmitAnswer(const std::string& text, int* value) {
  if (text.compare(0, 2, "OK") != 0) {
    *value = -1;
    return true;
  }
  // The number starts at the fourth character, after "OK" and one separator, and is
  // read as atoi reads it; out of range saturates.
  long long number = 0;
  size_t i = 3;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > INT_MAX) {
      number = negative ? -(long long)INT_MIN : INT_MAX;
      break;
    }
  }
  if (negative) number = -number;
  if (number == 0) return false;
  *value = int(number);
  return true;
}

int netScores::CheckQueryAnswer(const std::string& callback, const std::string& answer, gmLog* log,
                                std::string* script) {
  std::string text = callback + "(" + answer + ");";
  const gmDataCallResult result = gmCheckDataCall(text.c_str(), callback.c_str(), log);
  if (result == GM_NOT_SCRIPT) return ANSWER_NOT_SCRIPT;
  if (result != GM_DATA_CALL) {
    if (log) log->LogEntry("score answer for %s refused: it holds more than data", callback.c_str());
    return ANSWER_REFUSED;
  }
  *script = text;
  return ANSWER_DATA;
}

netHttpClient* netScores::Submit(const netScoreSubmission& submission, const std::string& callback,
                                 netScoreScripts* scripts) {
  netHttpClient* client = new netHttpClient(netHttpClient::KIND_SUBMIT, netHttpClient::METHOD_POST,
                                            netScoreServer::Host(), netScoreServer::Port(), "/submit.php", callback,
                                            [scripts](netHttpClient& c, const std::string& text) {
                                              int value = 0;
                                              if (SubmitAnswer(text, &value)) scripts->CallScore(c.callback, value);
                                            });
  std::string body = SubmitBody(submission);
  client->Start(&body);
  scripts->Add(client);
  return client;
}

netHttpClient* netScores::Query(const std::string& scriptName, const std::string& scriptVersion,
                                const std::string& params, unsigned from, unsigned to, bool dev,
                                const std::string& callback, netScoreScripts* scripts) {
  netHttpClient* client =
      new netHttpClient(netHttpClient::KIND_QUERY, netHttpClient::METHOD_GET, netScoreServer::Host(),
                        netScoreServer::Port(), QueryTarget(scriptName, scriptVersion, params, from, to, dev), callback,
                        [scripts](netHttpClient& c, const std::string& text) {
                          scripts->QueryAnswered(c);
                          if (c.callback.empty()) return;
                          std::string script;
                          if (CheckQueryAnswer(c.callback, text, scripts->Log(), &script) == ANSWER_DATA)
                            scripts->RunAnswer(script);
                        });
  client->Start();
  scripts->Add(client);
  return client;
}
