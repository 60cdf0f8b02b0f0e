// Makes the assets of the packages we ship: meshes as OBJ text, textures as PNG through the
// 3D engine's own image writer, sounds as Ogg Vorbis from tones computed here, and a display
// font (a glyph page and the engine's XML description of it) rasterised from a free outline
// font. Nothing is drawn or recorded by hand, so every file can be remade from this source:
//   ombrix-assets OUTPUT-FOLDER
// The output is the same bytes on every run (fixed stream serials, no clock, no random
// seed from outside), so a package built from it keeps its checksum.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <irrlicht.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;
std::string s_out;

bool WriteText(const std::string& a_name, const std::string& a_text) {
  FILE* file = std::fopen((s_out + "/" + a_name).c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(a_text.data(), 1, a_text.size(), file) == a_text.size();
  return std::fclose(file) == 0 && ok;
}

// ---- Meshes ---------------------------------------------------------------------------------

struct Obj {
  std::string text = "# made by ombrix-assets\n";
  int vertices = 0;
  void V(double x, double y, double z, double u, double v, double nx, double ny, double nz) {
    char line[256];
    std::snprintf(line, sizeof(line), "v %.4f %.4f %.4f\nvt %.4f %.4f\nvn %.4f %.4f %.4f\n", x, y, z, u, v, nx, ny, nz);
    text += line;
    ++vertices;
  }
  // A triangle of the last vertices written, by their 1-based numbers.
  void F(int a, int b, int c) {
    char line[128];
    std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c, c);
    text += line;
  }
  void Quad(int a, int b, int c, int d) {
    F(a, b, c);
    F(a, c, d);
  }
};

// A box centred on (cx, cy, cz) with half extents hx, hy, hz, added to obj. Its texture
// repeats every `period` units along each face, so a box made at the size it is shown keeps
// the texture's true scale (a 10-unit cube scaled to a 200-unit wall would stretch it 20
// times along the wall).
void AddBox(Obj& obj, double cx, double cy, double cz, double hx, double hy, double hz, double period) {
  // Each face: normal, then two axes spanning it.
  const double faces[6][9] = {{1, 0, 0, 0, 0, -1, 0, 1, 0}, {-1, 0, 0, 0, 0, 1, 0, 1, 0},
                              {0, 1, 0, 1, 0, 0, 0, 0, -1}, {0, -1, 0, 1, 0, 0, 0, 0, 1},
                              {0, 0, 1, 1, 0, 0, 0, 1, 0},  {0, 0, -1, -1, 0, 0, 0, 1, 0}};
  const double half[3] = {hx, hy, hz};
  const double centre[3] = {cx, cy, cz};
  for (const auto& f : faces) {
    double sizeS = 0, sizeT = 0;
    for (int k = 0; k < 3; ++k) {
      sizeS += std::fabs(f[3 + k]) * 2 * half[k];
      sizeT += std::fabs(f[6 + k]) * 2 * half[k];
    }
    const int first = obj.vertices + 1;
    for (int corner = 0; corner < 4; ++corner) {
      const double s = (corner == 1 || corner == 2) ? 1 : -1;
      const double t = (corner >= 2) ? 1 : -1;
      double p[3];
      for (int k = 0; k < 3; ++k) p[k] = centre[k] + (f[k] + s * f[3 + k] + t * f[6 + k]) * half[k];
      obj.V(p[0], p[1], p[2], (s + 1) / 2 * sizeS / period, (1 - t) / 2 * sizeT / period, f[0], f[1], f[2]);
    }
    obj.Quad(first, first + 1, first + 2, first + 3);
  }
}

std::string Box(double hx, double hy, double hz, double period) {
  Obj obj;
  AddBox(obj, 0, 0, 0, hx, hy, hz, period);
  return obj.text;
}

// The gate: two posts and a lintel around an opening 12 wide and 16 high, standing on y -8
// (its object stands 8 above the ground, at the middle of the opening).
std::string Gate() {
  Obj obj;
  AddBox(obj, -7.5, 4, 0, 1.5, 12, 1.5, 8);
  AddBox(obj, 7.5, 4, 0, 1.5, 12, 1.5, 8);
  AddBox(obj, 0, 17.5, 0, 10, 1.5, 2, 8);
  return obj.text;
}

std::string Ground(double half, double tile) {
  Obj obj;
  obj.V(-half, 0, -half, 0, 0, 0, 1, 0);
  obj.V(half, 0, -half, tile, 0, 0, 1, 0);
  obj.V(half, 0, half, tile, tile, 0, 1, 0);
  obj.V(-half, 0, half, 0, tile, 0, 1, 0);
  obj.Quad(1, 4, 3, 2);
  return obj.text;
}

std::string Sphere(double radius, int stacks, int slices) {
  Obj obj;
  for (int i = 0; i <= stacks; ++i) {
    const double theta = kPi * i / stacks;
    for (int j = 0; j <= slices; ++j) {
      const double phi = 2 * kPi * j / slices;
      const double nx = std::sin(theta) * std::cos(phi), ny = std::cos(theta), nz = std::sin(theta) * std::sin(phi);
      obj.V(radius * nx, radius * ny, radius * nz, static_cast<double>(j) / slices, static_cast<double>(i) / stacks, nx,
            ny, nz);
    }
  }
  for (int i = 0; i < stacks; ++i)
    for (int j = 0; j < slices; ++j) {
      const int a = i * (slices + 1) + j + 1, b = a + slices + 1;
      obj.Quad(a, a + 1, b + 1, b);
    }
  return obj.text;
}

std::string Gem(double radius) {
  Obj obj;
  const double points[6][3] = {{0, 1.5, 0}, {1, 0, 0}, {0, 0, 1}, {-1, 0, 0}, {0, 0, -1}, {0, -1.5, 0}};
  const int faces[8][3] = {{0, 2, 1}, {0, 3, 2}, {0, 4, 3}, {0, 1, 4}, {5, 1, 2}, {5, 2, 3}, {5, 3, 4}, {5, 4, 1}};
  for (const auto& f : faces) {
    double n[3] = {0, 0, 0};
    for (int k : f)
      for (int c = 0; c < 3; ++c) n[c] += points[k][c];
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const int first = obj.vertices + 1;
    for (int corner = 0; corner < 3; ++corner) {
      const double* p = points[f[corner]];
      obj.V(p[0] * radius, p[1] * radius, p[2] * radius, corner * 0.5, corner == 1 ? 1 : 0, n[0] / length,
            n[1] / length, n[2] / length);
    }
    obj.F(first, first + 1, first + 2);
  }
  return obj.text;
}

// ---- Textures -------------------------------------------------------------------------------

typedef std::function<irr::video::SColor(double, double)> Paint;

bool Texture(irr::video::IVideoDriver* a_driver, const std::string& a_name, unsigned a_size, const Paint& a_paint) {
  irr::video::IImage* image =
      a_driver->createImage(irr::video::ECF_A8R8G8B8, irr::core::dimension2d<irr::u32>(a_size, a_size));
  for (unsigned y = 0; y < a_size; ++y)
    for (unsigned x = 0; x < a_size; ++x) image->setPixel(x, y, a_paint((x + 0.5) / a_size, (y + 0.5) / a_size));
  const bool ok = a_driver->writeImageToFile(image, (s_out + "/" + a_name).c_str());
  image->drop();
  return ok;
}

irr::video::SColor Rgb(double r, double g, double b, double a = 1.0) {
  auto c = [](double v) { return static_cast<irr::u32>(std::lround(std::fmin(1.0, std::fmax(0.0, v)) * 255)); };
  return irr::video::SColor(c(a), c(r), c(g), c(b));
}

// A small deterministic hash for texture grain.
double Grain(int x, int y) {
  unsigned h = static_cast<unsigned>(x) * 374761393u + static_cast<unsigned>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}

// The sky's colour along a direction's height (1 straight up, -1 straight down). Below the
// horizon it stays a haze a little darker than the horizon itself: a camera looking over the
// walls sees the lower half of the sky box, which must read as distance, not as a dark band.
irr::video::SColor Sky(double up) {
  if (up < 0) return Rgb(0.78 + 0.06 * up, 0.86 + 0.06 * up, 0.98 + 0.08 * up);
  const double t = std::pow(up, 0.6);
  return Rgb(0.78 - 0.6 * t, 0.86 - 0.45 * t, 0.98 - 0.15 * t);
}

bool Textures(irr::video::IVideoDriver* d) {
  bool ok = true;
  ok &= Texture(d, "ground.png", 128, [](double u, double v) {
    const bool line = std::fmod(u * 4, 1.0) < 0.04 || std::fmod(v * 4, 1.0) < 0.04;
    const double g = 0.45 + 0.1 * Grain(static_cast<int>(u * 128), static_cast<int>(v * 128));
    return line ? Rgb(0.75, 0.8, 0.55) : Rgb(0.25, g, 0.22);
  });
  ok &= Texture(d, "wall.png", 128, [](double u, double v) {
    const int row = static_cast<int>(v * 8);
    const double shifted = u * 4 + (row % 2) * 0.5;
    const bool mortar = std::fmod(v * 8, 1.0) < 0.1 || std::fmod(shifted, 1.0) < 0.05;
    const double n = 0.08 * Grain(static_cast<int>(u * 128), static_cast<int>(v * 128));
    return mortar ? Rgb(0.7, 0.68, 0.62) : Rgb(0.55 + n, 0.3 + n, 0.25);
  });
  ok &= Texture(d, "ball.png", 64, [](double u, double v) {
    const bool stripe = std::fmod(u * 6 + v, 1.0) < 0.5;
    return stripe ? Rgb(1.0, 0.55, 0.1) : Rgb(0.95, 0.9, 0.8);
  });
  ok &= Texture(d, "gem.png", 64, [](double u, double v) { return Rgb(0.2 + 0.3 * v, 0.8, 0.9 - 0.2 * u); });
  ok &= Texture(d, "spark.png", 32, [](double u, double v) {
    const double r = std::sqrt((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5)) * 2;
    return Rgb(1.0, 0.95, 0.7, std::pow(std::fmax(0.0, 1 - r), 2));
  });
  ok &= Texture(d, "beam.png", 32, [](double, double v) {
    const double a = 1 - std::fabs(v - 0.5) * 2;
    return Rgb(0.6 + 0.4 * a, 0.9, 1.0, a);
  });
  // The six faces of the sky, named as sky boxes look them up from "sky.png".
  ok &= Texture(d, "sky_top.png", 64, [](double, double) { return Sky(1.0); });
  ok &= Texture(d, "sky_bottom.png", 64, [](double, double) { return Sky(-1.0); });
  // Clouds only above the horizon, thinning toward it.
  for (const char* side : {"sky_left.png", "sky_right.png", "sky_front.png", "sky_back.png"})
    ok &= Texture(d, side, 64, [](double u, double v) {
      const double above = std::fmax(0.0, std::sin(v * kPi * 2));
      const double cloud = v < 0.5 ? 0.15 * std::pow(std::fmax(0.0, std::sin(u * 2 * kPi * 3)) * above, 4) : 0.0;
      const irr::video::SColor base = Sky(1 - 2 * v);
      return Rgb(base.getRed() / 255.0 + cloud, base.getGreen() / 255.0 + cloud, base.getBlue() / 255.0 + cloud);
    });
  // The gate's stone: violet blocks with pale seams, a colour nothing else in the field has.
  ok &= Texture(d, "gate.png", 64, [](double u, double v) {
    const bool seam =
        std::fmod(v * 4, 1.0) < 0.06 || std::fmod(u * 2 + (static_cast<int>(v * 4) % 2) * 0.5, 1.0) < 0.04;
    const double n = 0.08 * Grain(static_cast<int>(u * 64), static_cast<int>(v * 64));
    return seam ? Rgb(0.85, 0.8, 0.95) : Rgb(0.5 + n, 0.32 + n, 0.78 + n);
  });
  // A soft white glow, tinted by whatever shows it (billboards take a colour per edge).
  ok &= Texture(d, "glow.png", 64, [](double u, double v) {
    const double r = std::sqrt((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5)) * 2;
    return Rgb(1.0, 1.0, 1.0, std::pow(std::fmax(0.0, 1 - r), 1.5));
  });
  return ok;
}

// ---- The display font -----------------------------------------------------------------------

// The printable ASCII characters of an outline font, rasterised at a_pixels with the font
// library's own hinting and anti-aliasing, each with a dark edge one pixel wide so that text
// stays legible over sky and field alike. The glyphs are white: a text's colour tints them
// and leaves the edge dark. Written as a_name.png (one page, glyphs in rows) and a_name.xml,
// the description the engine's font loader reads: the page, and per character its rectangle
// on the page. Each rectangle is the glyph's advance plus the edge on both sides; an
// underhang and overhang of -1 take the edge back out of the spacing.
bool Font(irr::video::IVideoDriver* a_driver, const std::string& a_name, const char* a_outline, int a_pixels) {
  FT_Library library;
  if (FT_Init_FreeType(&library) != 0) return false;
  FT_Face face;
  if (FT_New_Face(library, a_outline, 0, &face) != 0 ||
      FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(a_pixels)) != 0) {
    std::fprintf(stderr, "ombrix-assets: cannot use the outline font %s\n", a_outline);
    FT_Done_FreeType(library);
    return false;
  }
  const int ascender = static_cast<int>(face->size->metrics.ascender >> 6);
  const int lineHeight = static_cast<int>(face->size->metrics.height >> 6);
  const int edge = 1, cellHeight = lineHeight + 2 * edge, pageWidth = 512;

  struct Glyph {
    int c, x, y, width;
    std::vector<float> coverage;  // cellHeight rows of width, before the edge is added
  };
  std::vector<Glyph> glyphs;
  int x = 0, y = 0;
  bool ok = true;
  for (int c = 32; c < 127 && ok; ++c) {
    if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_RENDER) != 0) {
      ok = false;
      break;
    }
    const FT_GlyphSlot slot = face->glyph;
    Glyph g;
    g.c = c;
    g.width = static_cast<int>(slot->advance.x >> 6) + 2 * edge;
    g.coverage.assign(static_cast<size_t>(g.width) * static_cast<size_t>(cellHeight), 0.0f);
    const FT_Bitmap& bitmap = slot->bitmap;
    for (unsigned row = 0; row < bitmap.rows; ++row)
      for (unsigned col = 0; col < bitmap.width; ++col) {
        const int px = edge + slot->bitmap_left + static_cast<int>(col);
        const int py = edge + ascender - slot->bitmap_top + static_cast<int>(row);
        if (px < 0 || px >= g.width || py < 0 || py >= cellHeight) continue;
        g.coverage[static_cast<size_t>(py) * static_cast<size_t>(g.width) + static_cast<size_t>(px)] =
            bitmap.buffer[row * bitmap.pitch + col] / 255.0f;
      }
    if (x + g.width > pageWidth) {
      x = 0;
      y += cellHeight;
    }
    g.x = x;
    g.y = y;
    x += g.width;
    glyphs.push_back(std::move(g));
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  if (!ok) return false;

  unsigned pageHeight = 16;
  while (pageHeight < static_cast<unsigned>(y + cellHeight)) pageHeight *= 2;
  irr::video::IImage* page =
      a_driver->createImage(irr::video::ECF_A8R8G8B8, irr::core::dimension2d<irr::u32>(pageWidth, pageHeight));
  page->fill(irr::video::SColor(0, 0, 0, 0));
  std::string xml = "<?xml version=\"1.0\"?>\n<font type=\"bitmap\">\n<Texture index=\"0\" filename=\"" + a_name +
                    ".png\" hasAlpha=\"true\" />\n";
  for (const Glyph& g : glyphs) {
    auto at = [&](int px, int py) {
      return px < 0 || py < 0 || px >= g.width || py >= cellHeight
                 ? 0.0f
                 : g.coverage[static_cast<size_t>(py) * static_cast<size_t>(g.width) + static_cast<size_t>(px)];
    };
    for (int py = 0; py < cellHeight; ++py)
      for (int px = 0; px < g.width; ++px) {
        const float ink = at(px, py);
        float around = 0.0f;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) around = std::fmax(around, at(px + dx, py + dy));
        // Ink over its dark edge: the colour is the ink's share of what covers the pixel.
        const double alpha = std::fmax(ink, 0.85 * around);
        const double white = alpha > 0 ? ink / alpha : 0.0;
        page->setPixel(static_cast<irr::u32>(g.x + px), static_cast<irr::u32>(g.y + py),
                       Rgb(white, white, white, alpha));
      }
    std::string c(1, static_cast<char>(g.c));
    if (c == "\"")
      c = "&quot;";
    else if (c == "&")
      c = "&amp;";
    else if (c == "<")
      c = "&lt;";
    else if (c == ">")
      c = "&gt;";
    char line[160];
    std::snprintf(line, sizeof(line), "<c c=\"%s\" r=\"%d, %d, %d, %d\" u=\"-%d\" o=\"-%d\" />\n", c.c_str(), g.x, g.y,
                  g.x + g.width, g.y + cellHeight, edge, edge);
    xml += line;
  }
  xml += "</font>\n";
  ok = a_driver->writeImageToFile(page, (s_out + "/" + a_name + ".png").c_str());
  page->drop();
  return ok && WriteText(a_name + ".xml", xml);
}

// ---- Sounds ---------------------------------------------------------------------------------

bool Ogg(const std::string& a_name, const std::vector<float>& a_samples, int a_rate, int a_serial) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, 1, a_rate, 0.3f) != 0) return false;
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_comment_add_tag(&comment, "ENCODER", "ombrix-assets");
  vorbis_dsp_state dsp;
  vorbis_block block;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, a_serial);
  std::string bytes;
  ogg_page page;
  ogg_packet header, commentPacket, codebook;
  vorbis_analysis_headerout(&dsp, &comment, &header, &commentPacket, &codebook);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &commentPacket);
  ogg_stream_packetin(&stream, &codebook);
  auto take = [&](ogg_page& p) {
    bytes.append(reinterpret_cast<const char*>(p.header), static_cast<size_t>(p.header_len));
    bytes.append(reinterpret_cast<const char*>(p.body), static_cast<size_t>(p.body_len));
  };
  while (ogg_stream_flush(&stream, &page)) take(page);

  size_t done = 0;
  bool ended = false;
  while (!ended) {
    const size_t chunk = std::min<size_t>(1024, a_samples.size() - done);
    if (chunk > 0) {
      float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(chunk));
      for (size_t i = 0; i < chunk; ++i) buffer[0][i] = a_samples[done + i];
      done += chunk;
    }
    vorbis_analysis_wrote(&dsp, static_cast<int>(chunk));
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page)) {
          take(page);
          if (ogg_page_eos(&page)) ended = true;
        }
      }
    }
    if (chunk == 0 && !ended) {
      while (ogg_stream_flush(&stream, &page)) take(page);
      ended = true;
    }
  }
  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return WriteText(a_name, bytes);
}

std::vector<float> Tone(double a_seconds, int a_rate, const std::function<double(double)>& a_wave) {
  std::vector<float> samples(static_cast<size_t>(a_seconds * a_rate));
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(a_wave(static_cast<double>(i) / a_rate));
  return samples;
}

bool Sounds() {
  const int rate = 22050;
  bool ok = true;
  ok &= Ogg("pickup.ogg",
            Tone(0.3, rate,
                 [](double t) {
                   const double f = 600 + 2400 * t;
                   return 0.6 * std::exp(-8 * t) * std::sin(2 * kPi * (600 * t + 1200 * t * t)) * (f > 0);
                 }),
            rate, 101);
  ok &= Ogg("bump.ogg",
            Tone(0.2, rate,
                 [](double t) {
                   const double noise = Grain(static_cast<int>(t * 22050), 7) - 0.5;
                   return std::exp(-20 * t) * (0.7 * std::sin(2 * kPi * 110 * t) + 0.3 * noise);
                 }),
            rate, 102);
  ok &= Ogg("goal.ogg",
            Tone(0.9, rate,
                 [](double t) {
                   const double notes[3] = {523.25, 659.25, 783.99};
                   const int n = std::min(2, static_cast<int>(t / 0.25));
                   return 0.5 * std::exp(-3 * (t - n * 0.25)) * std::sin(2 * kPi * notes[n] * t);
                 }),
            rate, 103);
  // Whole cycles of both partials in one second, so the loop has no seam.
  ok &= Ogg(
      "hum.ogg",
      Tone(1.0, rate, [](double t) { return 0.25 * std::sin(2 * kPi * 110 * t) + 0.12 * std::sin(2 * kPi * 220 * t); }),
      rate, 104);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ombrix-assets OUTPUT-FOLDER\n");
    return 2;
  }
  s_out = argv[1];
  bool ok = WriteText("cube.obj", Box(5, 5, 5, 10)) && WriteText("wall.obj", Box(5, 5, 5, 5)) &&
            WriteText("ground.obj", Ground(100, 20)) && WriteText("ball.obj", Sphere(5, 12, 24)) &&
            WriteText("gem.obj", Gem(2)) && WriteText("gate.obj", Gate());
  // Blocks in the sizes the shipped packages show them (width x height x depth), the texture
  // repeating every 10 units like the ground's, so no block shows it stretched.
  const int blocks[][3] = {{200, 8, 4}, {4, 8, 200},  {12, 12, 12}, {20, 12, 8},
                           {24, 4, 24}, {10, 30, 10}, {30, 3, 20},  {5, 20, 40}};
  for (const auto& b : blocks) {
    const std::string name =
        "box" + std::to_string(b[0]) + "x" + std::to_string(b[1]) + "x" + std::to_string(b[2]) + ".obj";
    ok = ok && WriteText(name, Box(b[0] / 2.0, b[1] / 2.0, b[2] / 2.0, 10));
  }
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
  if (!device) return 1;
  device->getLogger()->setLogLevel(irr::ELL_ERROR);
  ok = ok && Textures(device->getVideoDriver()) && Font(device->getVideoDriver(), "font", OMBRIX_FONT_OUTLINE, 18);
  device->drop();
  ok = ok && Sounds();
  if (!ok) std::fprintf(stderr, "ombrix-assets: could not write every asset into %s\n", s_out.c_str());
  return ok ? 0 : 1;
}
