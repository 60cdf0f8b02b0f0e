#pragma once
// Ogg Vorbis files made at test time from generated signals, so that no audio file comes
// from elsewhere: tones per channel, silence, and chains of streams.
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

namespace audTest {

// a_sample(channel, frame) in [-1, 1]. The stream's serial number tells the links of a
// chain apart.
inline std::string EncodeOgg(int a_channels, int a_rate, int a_frames, const std::function<float(int, int)>& a_sample,
                             int a_serial = 1, float a_quality = 0.3f) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, a_channels, a_rate, a_quality) != 0) std::abort();
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, a_serial);

  std::string out;
  auto write = [&out](const ogg_page& a_page) {
    out.append(reinterpret_cast<const char*>(a_page.header), static_cast<size_t>(a_page.header_len));
    out.append(reinterpret_cast<const char*>(a_page.body), static_cast<size_t>(a_page.body_len));
  };
  ogg_packet header, headerComment, headerCode;
  vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &headerComment);
  ogg_stream_packetin(&stream, &headerCode);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page)) write(page);

  auto drain = [&]() {
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page)) write(page);
      }
    }
  };
  const int chunk = 1024;
  for (int at = 0; at < a_frames; at += chunk) {
    const int n = a_frames - at < chunk ? a_frames - at : chunk;
    float** buffer = vorbis_analysis_buffer(&dsp, n);
    for (int c = 0; c < a_channels; ++c)
      for (int f = 0; f < n; ++f) buffer[c][f] = a_sample(c, at + f);
    vorbis_analysis_wrote(&dsp, n);
    drain();
  }
  vorbis_analysis_wrote(&dsp, 0);
  drain();
  while (ogg_stream_flush(&stream, &page)) write(page);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

// A sine of a_hertz at a_amplitude.
inline float Sine(float a_amplitude, float a_hertz, int a_rate, int a_frame) {
  return a_amplitude * static_cast<float>(std::sin(2.0 * M_PI * a_hertz * a_frame / a_rate));
}

// White noise from a fixed hash, the same every run: it compresses badly, so a stream of it
// spreads over many pages.
inline float Noise(float a_amplitude, int a_frame) {
  unsigned h = static_cast<unsigned>(a_frame) * 2654435761u;
  h ^= h >> 15;
  return a_amplitude * ((h & 0xffff) / 32768.0f - 1.0f);
}

// a_seconds of one tone on every channel.
inline std::string ToneOgg(int a_channels, int a_rate, float a_seconds, float a_hertz = 440.0f,
                           float a_amplitude = 0.5f) {
  return EncodeOgg(a_channels, a_rate, static_cast<int>(a_seconds * a_rate),
                   [=](int, int f) { return Sine(a_amplitude, a_hertz, a_rate, f); });
}

}  // namespace audTest
