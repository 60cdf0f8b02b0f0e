#pragma once
// The engine's zip reader walks an archive's local headers from the front and trusts every
// length in them: a name or extra-field length of 0x8000 or more is read as negative and
// overruns a heap buffer, a size an entry declares is allocated whole when the entry is
// opened, encrypted entries send it through sub-fields of signed lengths, and a directory
// record with no entry header behind it makes it reach before its first entry. Before an
// archive is mounted, or read by --check, its layout is walked here the same way, and an
// archive the reader cannot walk safely is refused with the reason. An archive merely cut
// short is not refused: the reader stops at the cut, as the walk does.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace irr {
namespace io {
class IFileSystem;
}
}  // namespace irr

class gZipLayout {
 public:
  // Reads a_size bytes at a_offset into a_out; false when they are not all there.
  using Reader = std::function<bool(uint64_t a_offset, void* a_out, size_t a_size)>;

  // Empty when the reader can walk the a_size bytes that a_read gives; otherwise why not,
  // as a phrase ("entry 3 (ball.obj) claims more bytes than its compressed data can hold").
  static std::string Problem(const Reader& a_read, uint64_t a_size);
  static std::string Problem(const std::vector<char>& a_bytes);
  // The named file, opened through a_fileSystem as the mount would open it.
  static std::string Problem(irr::io::IFileSystem* a_fileSystem, const std::string& a_name);

  // The offset of the archive's end-of-directory record, found anywhere within the last
  // 64 KiB plus its own 22 bytes, or -1. The reader walks the entries from the front and
  // never needs it, so an archive cut short (an interrupted copy) still mounts, with
  // entries missing or holding bytes from elsewhere: its absence is the sign of that.
  static long EndRecord(const std::vector<char>& a_bytes);
  // The checksum (CRC-32) the directory behind a_endRecord keeps for each entry name. The
  // reader never compares them, so damaged bytes inside an archive that is whole otherwise
  // reach the game unnoticed. Entries the directory cannot be walked to are left out.
  static std::map<std::string, uint32_t> Checksums(const std::vector<char>& a_bytes, long a_endRecord);

  // The most a compressed entry may declare it holds, for its compressed size: deflate
  // shrinks at most about 1032 to 1; the rest allows for other methods and small entries.
  static uint64_t MaxUnpacked(uint64_t a_packed) { return a_packed * 1032 + (1u << 20); }
};
