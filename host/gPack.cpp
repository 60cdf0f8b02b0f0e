#include "host/gPack.h"

#include <irrlicht.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "host/gPackage.h"
#include "host/gPackageCheck.h"
#include "host/gZipLayout.h"

namespace {

namespace fs = std::filesystem;

// 1980-01-01 00:00:00, the earliest time a zip entry can carry.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
// Made on Unix (3) by zip 2.0; a plain file readable by everyone, writable by its owner.
constexpr uint16_t kMadeBy = (3 << 8) | 20;
constexpr uint16_t kNeeded = 20;
constexpr uint32_t kFileAttributes = 0100644u << 16;
constexpr int kDeflateLevel = 9;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
// Without the 64-bit extensions, which the engine's reader does not know, and within the
// signed 32-bit sizes of its files.
constexpr size_t kMaxEntries = 0xffff;
constexpr uint64_t kMaxArchive = 0x7fffffffu;

void Put16(std::string& a_out, uint32_t a_value) {
  a_out += static_cast<char>(a_value & 0xff);
  a_out += static_cast<char>((a_value >> 8) & 0xff);
}

void Put32(std::string& a_out, uint32_t a_value) {
  Put16(a_out, a_value & 0xffff);
  Put16(a_out, a_value >> 16);
}

// Raw deflate, as zip entries hold it; empty when it fails or does not shrink the bytes.
std::string Deflate(const std::string& a_bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  std::string out(deflateBound(&stream, static_cast<uLong>(a_bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(a_bytes.data()));
  stream.avail_in = static_cast<uInt>(a_bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END || out.size() >= a_bytes.size()) return "";
  return out;
}

std::string Sha1(const std::string& a_bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(a_bytes.data(), a_bytes.size(), digest, &length, EVP_sha1(), nullptr) != 1) return "";
  return gPackage::HexDigits(digest, length);
}

std::string Lower(std::string a_text) {
  for (char& c : a_text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a_text;
}

std::string BareName(const std::string& a_path) {
  const size_t slash = a_path.rfind('/');
  return slash == std::string::npos ? a_path : a_path.substr(slash + 1);
}

void Say(const std::string& a_line) {
  std::printf("%s\n", a_line.c_str());
  std::fflush(stdout);
}

}  // namespace

bool gPack::LeftOut(const std::string& a_relativePath) {
  size_t start = 0;
  while (start <= a_relativePath.size()) {
    const size_t end = std::min(a_relativePath.find('/', start), a_relativePath.size());
    const std::string part = a_relativePath.substr(start, end - start);
    if (!part.empty() && part[0] == '.') return true;
    start = end + 1;
  }
  const std::string name = BareName(a_relativePath);
  if (!name.empty() && name.back() == '~') return true;
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".swp") == 0;
}

bool gPack::Collect(const std::string& a_directory, const std::string& a_leaveOut, std::vector<Entry>& a_entries,
                    std::string& a_error) {
  std::error_code failed;
  const fs::path root = fs::absolute(a_directory, failed);
  if (failed || !fs::is_directory(root, failed)) {
    a_error = a_directory + " is not a directory";
    return false;
  }
  std::vector<std::pair<std::string, fs::path>> files;
  fs::recursive_directory_iterator it(root, fs::directory_options::none, failed), end;
  for (; !failed && it != end; it.increment(failed)) {
    const fs::path& path = it->path();
    const std::string relative = path.lexically_relative(root).generic_string();
    if (LeftOut(relative)) {
      if (it->is_directory(failed)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(failed)) continue;
    if (!a_leaveOut.empty() && fs::equivalent(path, a_leaveOut, failed)) continue;
    files.emplace_back(relative, path);
  }
  if (failed) {
    a_error = "cannot list " + a_directory + ": " + failed.message();
    return false;
  }
  std::sort(files.begin(), files.end());
  if (files.size() > kMaxEntries) {
    a_error = a_directory + " holds more than " + std::to_string(kMaxEntries) + " files, more than a package can";
    return false;
  }
  a_entries.clear();
  uint64_t total = 0;
  for (const auto& [name, path] : files) {
    std::ifstream in(path, std::ios::binary);
    Entry entry{name, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
    if (!in || in.bad()) {
      a_error = name + " cannot be read";
      return false;
    }
    total += entry.bytes.size();
    if (total > kMaxArchive) {
      a_error = a_directory + " holds more than 2 GiB, more than a package can";
      return false;
    }
    a_entries.push_back(std::move(entry));
  }
  return true;
}

std::string gPack::Archive(const std::vector<Entry>& a_entries) {
  std::string archive;
  std::string directory;
  for (const Entry& entry : a_entries) {
    const uint32_t crc =
        static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(entry.bytes.data()),
                                    static_cast<uInt>(entry.bytes.size())));
    const std::string packed = Deflate(entry.bytes);
    const bool stored = packed.empty();
    const std::string& data = stored ? entry.bytes : packed;
    const uint16_t method = stored ? kStored : kDeflated;
    const uint32_t offset = static_cast<uint32_t>(archive.size());

    Put32(archive, 0x04034b50);
    Put16(archive, kNeeded);
    Put16(archive, 0);
    Put16(archive, method);
    Put16(archive, kDosTime);
    Put16(archive, kDosDate);
    Put32(archive, crc);
    Put32(archive, static_cast<uint32_t>(data.size()));
    Put32(archive, static_cast<uint32_t>(entry.bytes.size()));
    Put16(archive, static_cast<uint32_t>(entry.name.size()));
    Put16(archive, 0);
    archive += entry.name;
    archive += data;

    Put32(directory, 0x02014b50);
    Put16(directory, kMadeBy);
    Put16(directory, kNeeded);
    Put16(directory, 0);
    Put16(directory, method);
    Put16(directory, kDosTime);
    Put16(directory, kDosDate);
    Put32(directory, crc);
    Put32(directory, static_cast<uint32_t>(data.size()));
    Put32(directory, static_cast<uint32_t>(entry.bytes.size()));
    Put16(directory, static_cast<uint32_t>(entry.name.size()));
    Put16(directory, 0);  // extra field
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, kFileAttributes);
    Put32(directory, offset);
    directory += entry.name;
  }
  const uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
  archive += directory;
  Put32(archive, 0x06054b50);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, static_cast<uint32_t>(a_entries.size()));
  Put16(archive, static_cast<uint32_t>(a_entries.size()));
  Put32(archive, static_cast<uint32_t>(directory.size()));
  Put32(archive, directoryOffset);
  Put16(archive, 0);
  return archive;
}

int gPack::Run(irr::IrrlichtDevice* a_device, const std::string& a_directory, const std::string& a_output) {
  std::error_code failed;
  // Absolute now: the check enters the directory.
  const fs::path output = fs::absolute(a_output, failed);
  const fs::path directory = fs::absolute(a_directory, failed);
  if (!fs::is_directory(directory, failed)) {
    Say("Nothing was packed: " + a_directory + " is not a directory");
    return 1;
  }
  const fs::path outputFolder = output.parent_path();
  if (!fs::is_directory(outputFolder, failed)) {
    Say("Nothing was packed: the folder of " + a_output + " does not exist");
    return 1;
  }

  if (gPackageCheck::Run(a_device, a_directory, /*a_developer=*/true, &gPack::LeftOut) != 0) {
    Say("Nothing was packed: " + a_directory + " has the problems above");
    return 1;
  }

  std::vector<Entry> entries;
  std::string error;
  if (!gPack::Collect(directory.string(), output.string(), entries, error)) {
    Say("Nothing was packed: " + error);
    return 1;
  }
  // The check reads only what the player reaches from the directory; in the package every
  // file is found by its bare name, wherever it stands, so names are compared again here.
  std::map<std::string, std::string> seen;
  int clashes = 0;
  for (const Entry& entry : entries) {
    const auto [at, added] = seen.emplace(Lower(BareName(entry.name)), entry.name);
    if (added) continue;
    Say(at->second + " and " + entry.name +
        " have the same name once folders and letter case are ignored; the game can open only one of them");
    ++clashes;
  }
  if (clashes) {
    Say("Nothing was packed: " + a_directory + " has the problems above");
    return 1;
  }

  const std::string archive = Archive(entries);
  const std::string damage = gZipLayout::Problem(std::vector<char>(archive.begin(), archive.end()));
  if (archive.size() > kMaxArchive || !damage.empty()) {
    Say("Nothing was packed: the package would be too large for the player to read");
    return 1;
  }

  const fs::path partial = output.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(archive.data(), static_cast<std::streamsize>(archive.size()));
    out.close();
    if (!out) {
      fs::remove(partial, failed);
      Say("Nothing was packed: " + a_output + " cannot be written");
      return 1;
    }
  }
  fs::rename(partial, output, failed);
  if (failed) {
    fs::remove(partial, failed);
    Say("Nothing was packed: " + a_output + " cannot be written");
    return 1;
  }
  Say("Packed " + a_output + ": " + std::to_string(entries.size()) + (entries.size() == 1 ? " file, " : " files, ") +
      std::to_string(archive.size()) + " bytes, checksum " + Sha1(archive));
  return 0;
}
