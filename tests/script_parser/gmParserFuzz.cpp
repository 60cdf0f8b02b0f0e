// Any byte string must end in a tree or a logged error: no crash, hang or stack exhaustion.
#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // The parser takes NUL-terminated text; bytes after an embedded NUL are simply unseen.
  std::string text(reinterpret_cast<const char*>(data), size);
  gmLog log;
  gmCodeTree& tree = gmCodeTree::Get();
  tree.Parse(text.c_str(), &log);
  tree.Reset();
  return 0;
}
