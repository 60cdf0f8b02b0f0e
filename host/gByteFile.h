#pragma once
// Bytes held in memory, read as the engine reads a file on disk: a seek to any place at or
// past the start succeeds and reads past the end return nothing. The engine's own memory
// file fails a seek past its end and stays where it was, which sends its zip reader to
// other bytes than the same archive on disk; --check must see what the player sees.
#include <irrlicht.h>

#include <algorithm>
#include <utility>
#include <vector>

class gByteFile : public irr::io::IReadFile {
 public:
  gByteFile(std::vector<char> a_bytes, const irr::io::path& a_name) : m_bytes(std::move(a_bytes)), m_name(a_name) {}

  irr::s32 read(void* a_buffer, irr::u32 a_size) override {
    if (m_position >= static_cast<long>(m_bytes.size())) return 0;
    const size_t count = std::min<size_t>(a_size, m_bytes.size() - static_cast<size_t>(m_position));
    std::copy(m_bytes.begin() + m_position, m_bytes.begin() + m_position + static_cast<long>(count),
              static_cast<char*>(a_buffer));
    m_position += static_cast<long>(count);
    return static_cast<irr::s32>(count);
  }
  bool seek(long a_position, bool a_relative = false) override {
    const long target = a_relative ? m_position + a_position : a_position;
    if (target < 0) return false;
    m_position = target;
    return true;
  }
  long getSize() const override { return static_cast<long>(m_bytes.size()); }
  long getPos() const override { return m_position; }
  const irr::io::path& getFileName() const override { return m_name; }

 private:
  std::vector<char> m_bytes;
  irr::io::path m_name;
  long m_position = 0;
};
