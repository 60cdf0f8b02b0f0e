// Archives walked as the engine's zip reader walks them: the ones it would overrun, allocate
// without bound for, or reach before its first entry on are refused with the reason; whole
// archives, archives merely cut short and files that are no zip at all are not.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/gZipLayout.h"

namespace {

struct Entry {
  std::string name;
  std::string data;
  uint16_t method = 0;
  uint16_t flags = 0;
  int64_t packed = -1;    // the data's length when negative
  int64_t unpacked = -1;  // likewise
  int32_t nameLength = -1;
  uint16_t extraLength = 0;
  int64_t localOffset = -1;  // where the directory record says the entry starts
};

void Put(std::string& a_out, uint32_t a_value, int a_size) {
  for (int i = 0; i < a_size; ++i) a_out += char(a_value >> (8 * i) & 0xff);
}

// Local headers and data, then (unless a_directory is false) the central directory and its
// end record.
std::string Zip(const std::vector<Entry>& a_entries, bool a_directory = true) {
  std::string out, directory;
  for (const Entry& e : a_entries) {
    const uint32_t offset = uint32_t(out.size());
    const uint32_t packed = uint32_t(e.packed < 0 ? int64_t(e.data.size()) : e.packed);
    const uint32_t unpacked = uint32_t(e.unpacked < 0 ? int64_t(e.data.size()) : e.unpacked);
    const uint16_t nameLength = uint16_t(e.nameLength < 0 ? int32_t(e.name.size()) : e.nameLength);
    out += "PK\3\4";
    Put(out, 20, 2), Put(out, e.flags, 2), Put(out, e.method, 2), Put(out, 0, 4), Put(out, 0, 4);
    Put(out, packed, 4), Put(out, unpacked, 4), Put(out, nameLength, 2), Put(out, e.extraLength, 2);
    out += e.name + std::string(e.extraLength, '\0') + e.data;
    directory += "PK\1\2";
    Put(directory, 20, 2), Put(directory, 20, 2), Put(directory, e.flags, 2), Put(directory, e.method, 2);
    Put(directory, 0, 4), Put(directory, 0, 4), Put(directory, packed, 4), Put(directory, unpacked, 4);
    Put(directory, uint32_t(e.name.size()), 2), Put(directory, 0, 2), Put(directory, 0, 2), Put(directory, 0, 2);
    Put(directory, 0, 2), Put(directory, 0, 4), Put(directory, uint32_t(e.localOffset < 0 ? offset : e.localOffset), 4);
    directory += e.name;
  }
  if (!a_directory) return out;
  const uint32_t start = uint32_t(out.size());
  out += directory;
  out += "PK\5\6";
  Put(out, 0, 4), Put(out, uint32_t(a_entries.size()), 2), Put(out, uint32_t(a_entries.size()), 2);
  Put(out, uint32_t(directory.size()), 4), Put(out, start, 4), Put(out, 0, 2);
  return out;
}

std::string Walk(const std::string& a_bytes) {
  return gZipLayout::Problem(std::vector<char>(a_bytes.begin(), a_bytes.end()));
}

TEST(ZipLayout, RefusesOnlyWhatTheReaderCannotWalkSafely) {
  const Entry a{"a.txt", "hello"}, b{"b.txt", "world, again"};
  Entry longName = a, longExtra = a, huge = a, packedPastEnd = a, aes = a, behind = a;
  longName.nameLength = 0x8000;
  longExtra.extraLength = 0xffff;
  huge.method = 8, huge.unpacked = 0x80000000;
  packedPastEnd.method = 8, packedPastEnd.packed = 0xf0000000;
  aes.flags = 1, aes.method = 99;
  Entry later = b;
  later.flags = 8;
  behind.flags = 8, behind.localOffset = 3;
  const std::string whole = Zip({a, b});
  std::string farDirectory = Zip({later});
  farDirectory.replace(farDirectory.size() - 6, 4, std::string("\x00\xff\xff\xff", 4));
  // The only end record inside an entry's data, pointing at a directory that the file
  // ends with: nothing after it stops the reader.
  Entry carrier{"c.txt", ""};
  carrier.flags = 8;
  std::string record = "PK\5\6";
  Put(record, 0, 4), Put(record, 1, 2), Put(record, 1, 2), Put(record, 46, 4), Put(record, 30 + 5 + 22, 4);
  Put(record, 0, 2);
  carrier.data = record;
  std::string endless = Zip({carrier});
  endless.resize(endless.size() - 22);
  const std::string shortHeader = std::string("PK\3\4\x14\0\x08\0\0\0\0\0\0\0\0\0", 16);
  struct Case {
    const char* what;
    std::string bytes;
    std::string problem;
  };
  const Case cases[] = {
      {"whole", whole, ""},
      {"cut inside the second entry", whole.substr(0, 50), ""},
      {"cut inside a header", whole.substr(0, 40), ""},
      {"no zip at all", "just text", ""},
      {"a name of negative length", Zip({longName}),
       "entry 1 has a name or extra field longer than the player can read"},
      {"an extra field of negative length", Zip({longExtra}),
       "entry 1 has a name or extra field longer than the player can read"},
      {"2 GiB from five bytes", Zip({b, huge}), "entry 2 (a.txt) claims more bytes than its compressed data can hold"},
      {"more packed bytes than there are", Zip({packedPastEnd}),
       "entry 1 (a.txt) claims more compressed bytes than the archive holds"},
      {"encrypted", Zip({aes}), "entry 1 (a.txt) is encrypted"},
      {"sizes after the data, directory whole", Zip({a, later}), ""},
      {"sizes after the data, no directory", Zip({later}, false), "its zip directory is missing"},
      {"a record with no entry behind it", Zip({behind}), "entry 1 points at no entry header"},
      {"a directory past the end", farDirectory, "its zip directory points past the end of the archive"},
      {"a directory with nothing after it", endless, "its zip directory runs to the end of the archive"},
      {"a header cut short that sends the reader to the directory", shortHeader, "its zip directory is missing"},
  };
  for (const Case& c : cases) EXPECT_EQ(Walk(c.bytes), c.problem) << c.what;
}

}  // namespace
