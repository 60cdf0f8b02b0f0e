// Feeds arbitrary server bytes through the response parser in arbitrary read sizes, and
// the resulting body text through both answer readers.
#include "network/netHttpResponse.h"
#include "network/netScores.h"
#include "script/compiler/gmLog.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the read size, so splits inside lines and chunks are covered.
  size_t step = size_t(data[0] % 64) + 1;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  size_t length = size - 1;

  netHttpResponse response;
  for (size_t at = 0; at < length; at += step) response.Feed(bytes + at, length - at < step ? length - at : step);
  std::string text = response.Text();
  if (response.hasBody && text.size() > size_t(response.capacity)) __builtin_trap();

  int value = 0;
  netScores::SubmitAnswer(text, &value);

  // A log of its own per run: a log keeps its entries for its whole life.
  gmLog log;
  std::string script;
  netScores::CheckQueryAnswer("cb", std::string(bytes, length), &log, &script);
  return 0;
}
