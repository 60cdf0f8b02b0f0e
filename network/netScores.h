#ifndef NETSCORES_H
#define NETSCORES_H

#include <string>

class gmLog;
class netHttpClient;

// What a score request needs from the module that runs it: a list that polls it, and the
// script side for when its answer arrives. The network module implements it over the
// machine; the score calls below only decide what to do.
class netScoreScripts {
 public:
  virtual ~netScoreScripts() = default;
  // Lists a started request, which is owned, polled and freed by the list from now on.
  virtual void Add(netHttpClient* client) = 0;
  // Calls the global function named callback with one integer (a submission's answer).
  virtual void CallScore(const std::string& callback, int value) = 0;
  // A query's answer has arrived (empty on failure), before anything is run.
  virtual void QueryAnswered(netHttpClient& client) = 0;
  // Compiles and runs a checked query answer: the callback's name, "(", answer, ");".
  virtual void RunAnswer(const std::string& script) = 0;
  // Where refusals and syntax errors of query answers are written.
  virtual gmLog* Log() = 0;
};

struct netScoreSubmission {
  std::string checksum;  // the package checksum, or "dev" in developer mode
  std::string scriptName;
  std::string scriptVersion;
  std::string params;
  std::string playerName;
  float score = 0.0f;
  int timestamp = 0;  // seconds since 1970, low 32 bits
};

// The score calls' requests and the reading of their answers.
class netScores {
 public:
  // A field value encoded by the form rules (letters, digits and "*-._" as they are, a
  // blank as "+", every other byte as %XX), so the server decodes exactly what the
  // script passed, whatever it holds.
  static std::string Encode(const std::string& value);

  static std::string SubmitBody(const netScoreSubmission& submission);
  static std::string QueryTarget(const std::string& scriptName, const std::string& scriptVersion,
                                 const std::string& params, unsigned from, unsigned to, bool dev);

  // Now in seconds since 1970 UTC, the low 32 bits read as a signed number.
  static int Timestamp();

  // A submission's answer: true when the callback is to be called, with *value. "OK"
  // and a number other than 0 pass the number; "OK 0" or "OK" alone call nothing;
  // anything else, the empty text included, passes -1.
  static bool SubmitAnswer(const std::string& text, int* value);

  enum {
    ANSWER_DATA = 0,        // *script holds the text to run
    ANSWER_NOT_SCRIPT = 1,  // syntax error, written to the log by the parser
    ANSWER_REFUSED = 2,     // valid script but more than data; one log entry says so
  };

  // A query's answer is the argument list of the callback in the script language. It
  // reaches us over plain HTTP, so it is run only when every argument is data: constants,
  // a minus on a number, and table constructors of such (positional or named fields).
  static int CheckQueryAnswer(const std::string& callback, const std::string& answer, gmLog* log, std::string* script);

  // Start a request to the score server and list it through scripts; the answer is read as
  // above and handed to scripts. Both return the listed client.
  static netHttpClient* Submit(const netScoreSubmission& submission, const std::string& callback,
                               netScoreScripts* scripts);
  static netHttpClient* Query(const std::string& scriptName, const std::string& scriptVersion,
                              const std::string& params, unsigned from, unsigned to, bool dev,
                              const std::string& callback, netScoreScripts* scripts);
};

#endif
