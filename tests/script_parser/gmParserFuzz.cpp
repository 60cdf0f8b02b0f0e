// Any byte string must end in a tree or a logged error: no crash, hang or stack exhaustion.
// From the repository root:
//   CC=clang CXX=clang++ cmake -S . -B fuzz-build -DOMBRIX_FUZZ=ON -DOMBRIX_TESTS=ON -DOMBRIX_BENCH=OFF
//   cmake --build fuzz-build --target script_parser_fuzzer
//   mkdir -p fuzz-build/parser-corpus
//   fuzz-build/tests/script_parser/script_parser_fuzzer fuzz-build/parser-corpus \
//     -dict=tests/script_parser/gmParser.dict -timeout=10 -max_total_time=600
#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser takes NUL-terminated text; bytes after an embedded NUL are simply unseen.
  std::string text(reinterpret_cast<const char*>(data), size);
  gmLog log;
  gmCodeTree& tree = gmCodeTree::Get();
  tree.Parse(text.c_str(), &log);
  tree.Reset();
  return 0;
}
