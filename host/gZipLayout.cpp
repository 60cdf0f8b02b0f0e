#include "host/gZipLayout.h"

#include <irrlicht.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50, kCentralSignature = 0x02014b50, kEndSignature = 0x06054b50;
constexpr size_t kLocalSize = 30, kCentralSize = 46, kEndSize = 22;
constexpr uint16_t kEncrypted = 1, kSizesAfterData = 8, kAesMethod = 99;
// Lengths at or past this are negative to the reader.
constexpr uint32_t kSignedLimit = 0x8000;

uint32_t Little(const unsigned char* a_bytes, int a_size) {
  uint32_t value = 0;
  for (int i = a_size - 1; i >= 0; --i) value = value << 8 | a_bytes[i];
  return value;
}

class Walk {
 public:
  Walk(const gZipLayout::Reader& a_read, uint64_t a_size) : m_read(a_read), m_size(a_size) {}

  std::string Run() {
    uint64_t offset = 0;
    for (int index = 1;; ++index) {
      // The reader stops at the first place that does not start a local header. It reads a
      // header cut short as far as it goes and the rest as zeros, takes in the name before
      // it looks at the flags, and lists the entry with its declared sizes however far the
      // archive goes. A name or data cut short ends the walk, as it ends the reader's: an
      // archive cut short mounts what it holds before the cut, and the entries it lost say
      // so when they are opened.
      unsigned char header[kLocalSize] = {};
      const size_t got = size_t(std::min<uint64_t>(kLocalSize, m_size - offset));
      if (got < 4 || !m_read(offset, header, got) || Little(header, 4) != kLocalSignature) return "";
      uint64_t data = 0;
      std::string name;
      bool cut = got < kLocalSize;
      std::string why = cut ? Fields(header, index, name) : LocalHeader(offset, index, &data, &name, &cut);
      if (!why.empty()) return why;
      if (Little(header + 6, 2) & kSizesAfterData) return Directory();
      why = Sizes(index, name, Little(header + 8, 2), Little(header + 18, 4), Little(header + 22, 4));
      if (!why.empty() || cut) return why;
      const uint64_t packed = Little(header + 18, 4);
      if (data > m_size || m_size - data < packed) return "";
      offset = data + packed;
    }
  }

 private:
  static std::string Entry(int a_index, const std::string& a_name) {
    return "entry " + std::to_string(a_index) + (a_name.empty() ? "" : " (" + a_name + ")");
  }

  // What the reader does with a header's lengths and flags before it reaches the data.
  static std::string Fields(const unsigned char* a_header, int a_index, const std::string& a_name) {
    if (Little(a_header + 26, 2) >= kSignedLimit || Little(a_header + 28, 2) >= kSignedLimit)
      return Entry(a_index, "") + " has a name or extra field longer than the player can read";
    // Encrypted entries of that method take the reader through sub-fields of signed lengths.
    if ((Little(a_header + 6, 2) & kEncrypted) && Little(a_header + 8, 2) == kAesMethod)
      return Entry(a_index, a_name) + " is encrypted";
    return "";
  }

  // The local header at a_offset: its name and where its data starts; *a_cut when its
  // name and extra field run past the end of the archive.
  std::string LocalHeader(uint64_t a_offset, int a_index, uint64_t* a_data, std::string* a_name, bool* a_cut) {
    unsigned char header[kLocalSize];
    if (a_offset > m_size || m_size - a_offset < kLocalSize || !m_read(a_offset, header, kLocalSize) ||
        Little(header, 4) != kLocalSignature)
      return Entry(a_index, "") + " points at no entry header";
    const uint32_t nameLength = Little(header + 26, 2), extraLength = Little(header + 28, 2);
    *a_cut = m_size - a_offset - kLocalSize < uint64_t(nameLength) + extraLength;
    if (!*a_cut && nameLength) {
      a_name->assign(nameLength, '\0');
      if (!m_read(a_offset + kLocalSize, &(*a_name)[0], nameLength)) return Entry(a_index, "") + " cannot be read";
    }
    *a_data = a_offset + kLocalSize + nameLength + extraLength;
    return Fields(header, a_index, *a_name);
  }

  // The reader allocates a compressed entry's declared sizes, packed and unpacked, whole
  // when it is opened.
  std::string Sizes(int a_index, const std::string& a_name, uint32_t a_method, uint32_t a_packed,
                    uint32_t a_unpacked) const {
    if (a_method == 0) return "";
    if (a_packed > m_size) return Entry(a_index, a_name) + " claims more compressed bytes than the archive holds";
    if (a_unpacked > gZipLayout::MaxUnpacked(a_packed))
      return Entry(a_index, a_name) + " claims more bytes than its compressed data can hold";
    return "";
  }

  // Entries whose sizes follow their data send the reader to the central directory, where
  // it takes every entry in turn until a header does not start there.
  std::string Directory() {
    int64_t record = EndRecord();
    unsigned char end[kEndSize];
    if (record < 0 || !m_read(uint64_t(record), end, kEndSize)) return "its zip directory is missing";
    uint64_t at = Little(end + 16, 4);
    if (at >= m_size) return "its zip directory points past the end of the archive";
    for (int index = 1;; ++index) {
      unsigned char header[kCentralSize];
      // The reader stops at the first record whose signature is wrong; with fewer than
      // four bytes left it reads the last record's signature again, and goes on for ever.
      if (at > m_size || m_size - at < 4) return "its zip directory runs to the end of the archive";
      if (!m_read(at, header, 4) || Little(header, 4) != kCentralSignature) return "";
      if (m_size - at < kCentralSize || !m_read(at, header, kCentralSize))
        return Entry(index, "") + " has a directory record cut short";
      const uint32_t nameLength = Little(header + 28, 2), extraLength = Little(header + 30, 2),
                     commentLength = Little(header + 32, 2);
      // Signed to the reader as well: a negative length sends it back to a record it has
      // read, for ever.
      if (nameLength >= kSignedLimit || extraLength >= kSignedLimit || commentLength >= kSignedLimit)
        return Entry(index, "") + " has a directory record longer than the player can read";
      if (m_size - at - kCentralSize < uint64_t(nameLength) + extraLength + commentLength)
        return Entry(index, "") + " has a directory record that runs past the end of the archive";
      // Each record's local header must be there: the reader takes the sizes from the record
      // for the entry that header made, and with no header there is no entry to take them.
      uint64_t data = 0;
      std::string name;
      bool cut = false;
      std::string why = LocalHeader(Little(header + 42, 4), index, &data, &name, &cut);
      if (!why.empty()) return why;
      if (cut) return Entry(index, "") + " runs past the end of the archive";
      why = Sizes(index, name, Little(header + 10, 2), Little(header + 20, 4), Little(header + 24, 4));
      if (!why.empty()) return why;
      at += kCentralSize + nameLength + extraLength + commentLength;
    }
  }

  // Where the reader finds the end record: stepping back from the last place it can start,
  // four bytes a step, looking at the first byte of each step's four, and stepping back by
  // one to three instead when that byte is the record's second, third or fourth. It misses
  // records that ours at any byte would find, so its own search is the one that counts.
  int64_t EndRecord() const {
    if (m_size < kEndSize) return -1;
    int64_t at = int64_t(m_size - kEndSize);
    while (at > 0) {
      unsigned char window[4];
      if (!m_read(uint64_t(at), window, 4)) return -1;
      if (Little(window, 4) == kEndSignature) return at;
      const int back = window[0] == 0x4b ? 1 : window[0] == 0x05 ? 2 : window[0] == 0x06 ? 3 : 4;
      at -= back;
    }
    return -1;
  }

  const gZipLayout::Reader& m_read;
  uint64_t m_size;
};

}  // namespace

std::string gZipLayout::Problem(const Reader& a_read, uint64_t a_size) { return Walk(a_read, a_size).Run(); }

long gZipLayout::EndRecord(const std::vector<char>& a_bytes) {
  if (a_bytes.size() < kEndSize) return -1;
  const auto* bytes = reinterpret_cast<const unsigned char*>(a_bytes.data());
  const size_t lowest = a_bytes.size() > kEndSize + 65535 ? a_bytes.size() - kEndSize - 65535 : 0;
  for (size_t at = a_bytes.size() - kEndSize + 1; at-- > lowest;)
    if (Little(bytes + at, 4) == kEndSignature) return static_cast<long>(at);
  return -1;
}

std::map<std::string, uint32_t> gZipLayout::Checksums(const std::vector<char>& a_bytes, long a_endRecord) {
  std::map<std::string, uint32_t> checksums;
  if (a_endRecord < 0 || size_t(a_endRecord) + kEndSize > a_bytes.size()) return checksums;
  const auto* bytes = reinterpret_cast<const unsigned char*>(a_bytes.data());
  const size_t end = static_cast<size_t>(a_endRecord);
  const uint32_t count = Little(bytes + end + 10, 2);
  size_t at = Little(bytes + end + 16, 4);
  for (uint32_t i = 0; i < count; ++i) {
    if (at > end || end - at < kCentralSize || Little(bytes + at, 4) != kCentralSignature) break;
    const size_t nameLength = Little(bytes + at + 28, 2), extra = Little(bytes + at + 30, 2),
                 comment = Little(bytes + at + 32, 2);
    if (end - at - kCentralSize < nameLength) break;
    checksums[std::string(a_bytes.data() + at + kCentralSize, nameLength)] = Little(bytes + at + 16, 4);
    at += kCentralSize + nameLength + extra + comment;
  }
  return checksums;
}

std::string gZipLayout::Problem(const std::vector<char>& a_bytes) {
  return Problem(
      [&a_bytes](uint64_t a_offset, void* a_out, size_t a_size) {
        if (a_offset > a_bytes.size() || a_bytes.size() - a_offset < a_size) return false;
        std::memcpy(a_out, a_bytes.data() + a_offset, a_size);
        return true;
      },
      a_bytes.size());
}

std::string gZipLayout::Problem(irr::io::IFileSystem* a_fileSystem, const std::string& a_name) {
  irr::io::IReadFile* file = a_fileSystem->createAndOpenFile(a_name.c_str());
  // The mount itself says what it says of a file it cannot open.
  if (!file) return "";
  const uint64_t size = static_cast<uint64_t>(std::max<long>(file->getSize(), 0));
  std::string why = Problem(
      [file](uint64_t a_offset, void* a_out, size_t a_size) {
        return file->seek(static_cast<long>(a_offset)) &&
               file->read(a_out, static_cast<irr::u32>(a_size)) == static_cast<irr::s32>(a_size);
      },
      size);
  file->drop();
  return why;
}
