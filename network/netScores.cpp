#include "network/netScores.h"

#include "binding/gVersion.h"
#include "network/_gNetwork.h"
#include "network/netHttpClient.h"
#include "network/netScoreServer.h"
#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

std::string netScores::Encode(const std::string& value)
{
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value)
  {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' || c == '-' ||
        c == '.' || c == '_')
      out += char(c);
    else if (c == ' ')
      out += '+';
    else
    {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string netScores::SubmitBody(const netScoreSubmission& s)
{
  char score[64];
  std::snprintf(score, sizeof score, "%f", double(s.score));
  // A float's %f text is at most 47 characters, so score is never cut.
  return "checksum=" + Encode(s.checksum) + "&script_name=" + Encode(s.scriptName) +
         "&script_version=" + Encode(s.scriptVersion) + "&engine_version=" + Encode(ombrix::kEngineVersion) +
         "&params=" + Encode(s.params) + "&player_name=" + Encode(s.playerName) + "&score=" + score +
         "&user_timestamp=" + std::to_string(s.timestamp);
}

std::string netScores::QueryTarget(const std::string& scriptName, const std::string& scriptVersion,
                                   const std::string& params, unsigned from, unsigned to, bool dev)
{
  return "/get.php?format=GM&script_name=" + Encode(scriptName) + "&script_version=" + Encode(scriptVersion) +
         "&params=" + Encode(params) + "&from=" + std::to_string(int(from)) + "&to=" + std::to_string(int(to)) +
         "&dev=" + (dev ? "1" : "0");
}

int netScores::Timestamp() { return int(int32_t(uint32_t(uint64_t(std::time(nullptr))))); }

bool netScores::SubmitAnswer(const std::string& text, int* value)
{
  if (text.compare(0, 2, "OK") != 0)
  {
    *value = -1;
    return true;
  }
  // The number starts at the fourth character, after "OK" and one separator, and is
  // read as atoi reads it; out of range saturates.
  long long number = 0;
  size_t i = 3;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
  {
    number = number * 10 + (text[i] - '0');
    if (number > INT_MAX)
    {
      number = negative ? -(long long)INT_MIN : INT_MAX;
      break;
    }
  }
  if (negative)
    number = -number;
  if (number == 0)
    return false;
  *value = int(number);
  return true;
}

namespace {

// The callee as written: a name, or names joined by dots.
bool CalleeText(const gmCodeTreeNode* node, std::string* out)
{
  if (!node || node->kind != GMNK_EXPRESSION)
    return false;
  if (node->subtype == GMET_IDENTIFIER && !(node->flags & GMNF_MEMBER))
  {
    *out += node->data.text;
    return true;
  }
  if (node->subtype == GMET_OPERATION && node->detail == GMOP_DOT)
  {
    if (!CalleeText(node->children[0], out))
      return false;
    *out += '.';
    return CalleeText(node->children[1], out);
  }
  return false;
}

bool IsNumber(const gmCodeTreeNode* node)
{
  return node && node->kind == GMNK_EXPRESSION && node->subtype == GMET_CONSTANT &&
         (node->detail == GMCT_INT || node->detail == GMCT_FLOAT);
}

// Walks an argument list and everything below it with a stack of its own, so a deeply
// nested answer costs heap, not C stack.
bool IsDataList(const gmCodeTreeNode* first)
{
  std::vector<const gmCodeTreeNode*> todo;
  for (const gmCodeTreeNode* n = first; n; n = n->next)
    todo.push_back(n);
  while (!todo.empty())
  {
    const gmCodeTreeNode* node = todo.back();
    todo.pop_back();
    if (!node || node->kind != GMNK_EXPRESSION)
      return false;
    switch (node->subtype)
    {
    case GMET_CONSTANT:
      break;
    case GMET_OPERATION:
      if (node->detail != GMOP_NEG || !IsNumber(node->children[0]))
        return false;
      break;
    case GMET_TABLE:
      for (const gmCodeTreeNode* field = node->children[0]; field; field = field->next)
      {
        if (field->kind == GMNK_EXPRESSION && field->subtype == GMET_OPERATION && field->detail == GMOP_FIELD)
        {
          const gmCodeTreeNode* name = field->children[0];
          if (!name || name->subtype != GMET_IDENTIFIER)
            return false;
          todo.push_back(field->children[1]);
        }
        else
        {
          todo.push_back(field);
        }
      }
      break;
    default:
      return false;
    }
  }
  return true;
}

}  // namespace

int netScores::CheckQueryAnswer(const std::string& callback, const std::string& answer, gmLog* log,
                                std::string* script)
{
  std::string text = callback + "(" + answer + ");";
  gmCodeTree& tree = gmCodeTree::Get();
  if (tree.Parse(text.c_str(), log) != gmCodeTree::PARSE_OK)
  {
    tree.Reset();
    return ANSWER_NOT_SCRIPT;
  }
  const gmCodeTreeNode* root = tree.GetRoot();
  std::string callee;
  bool data = root && !root->next && root->kind == GMNK_EXPRESSION && root->subtype == GMET_CALL &&
              !root->children[2] && CalleeText(root->children[0], &callee) && callee == callback &&
              IsDataList(root->children[1]);
  tree.Reset();
  if (!data)
  {
    if (log)
      log->LogEntry("score answer for %s refused: it holds more than data", callback.c_str());
    return ANSWER_REFUSED;
  }
  *script = text;
  return ANSWER_DATA;
}

netHttpClient* netScores::Submit(_gNetwork& network, const netScoreSubmission& submission,
                                 const std::string& callback, netScoreScripts* scripts)
{
  netHttpClient* client = new netHttpClient(
    netHttpClient::KIND_SUBMIT, netHttpClient::METHOD_POST, netScoreServer::Host(), netScoreServer::Port(),
    "/submit.php", callback, [scripts](netHttpClient& c, const std::string& text) {
      int value = 0;
      if (SubmitAnswer(text, &value))
        scripts->CallScore(c.callback, value);
    });
  std::string body = SubmitBody(submission);
  client->Start(&body);
  network.Add(client);
  return client;
}

netHttpClient* netScores::Query(_gNetwork& network, const std::string& scriptName,
                                const std::string& scriptVersion, const std::string& params, unsigned from,
                                unsigned to, bool dev, const std::string& callback, netScoreScripts* scripts)
{
  netHttpClient* client = new netHttpClient(
    netHttpClient::KIND_QUERY, netHttpClient::METHOD_GET, netScoreServer::Host(), netScoreServer::Port(),
    QueryTarget(scriptName, scriptVersion, params, from, to, dev), callback,
    [scripts](netHttpClient& c, const std::string& text) {
      scripts->QueryAnswered(c);
      if (c.callback.empty())
        return;
      std::string script;
      if (CheckQueryAnswer(c.callback, text, scripts->Log(), &script) == ANSWER_DATA)
        scripts->RunAnswer(script);
    });
  client->Start();
  network.Add(client);
  return client;
}
