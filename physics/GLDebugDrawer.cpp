#define GL_GLEXT_PROTOTYPES 1
#include "physics/GLDebugDrawer.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <btBulletDynamicsCommon.h>
#include <irrlicht.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "physics/BMF_BitmapFont.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"

namespace {

struct LineVertex {
  GLfloat x, y, z;
  GLubyte rgba[4];
};

struct QuadVertex {
  GLfloat x, y, z, u, v;
  GLubyte rgba[4];
};

struct Colour {
  GLubyte rgba[4];
};

// As glColor3f would store it: each component clamped to [0, 1].
Colour ToColour(const btVector3& a_colour) {
  Colour c{};
  for (int i = 0; i < 3; ++i) {
    const float v = std::isnan(a_colour[i]) ? 0.0f : std::min(1.0f, std::max(0.0f, float(a_colour[i])));
    c.rgba[i] = static_cast<GLubyte>(std::lround(v * 255.0f));
  }
  c.rgba[3] = 255;
  return c;
}

const Colour kWhite{{255, 255, 255, 255}};

// The line geometry of GLU's line-style quadrics, made once: segments as pairs of points.
// A sphere of radius 1 about the origin with its poles on Z, 8 slices and 4 stacks: the
// inner latitude circles and the meridians, as gluSphere draws them.
const std::vector<btVector3>& UnitSphere() {
  static const std::vector<btVector3> segments = [] {
    const int slices = 8, stacks = 4;
    std::vector<btVector3> s;
    const auto at = [&](int a_slice, int a_stack) {
      const double theta = 2 * M_PI * a_slice / slices, phi = M_PI * a_stack / stacks;
      return btVector3(btScalar(std::sin(theta) * std::sin(phi)), btScalar(std::cos(theta) * std::sin(phi)),
                       btScalar(std::cos(phi)));
    };
    for (int stack = 1; stack < stacks; ++stack)
      for (int slice = 0; slice < slices; ++slice) {
        s.push_back(at(slice, stack));
        s.push_back(at(slice + 1, stack));
      }
    for (int slice = 0; slice < slices; ++slice)
      for (int stack = 0; stack < stacks; ++stack) {
        s.push_back(at(slice, stack));
        s.push_back(at(slice, stack + 1));
      }
    return s;
  }();
  return segments;
}

// A cylinder of radius 1 from z 0 to z 1, 6 slices and 6 stacks: its 7 circles and 6 sides,
// as gluCylinder draws them, each side one segment instead of one per stack (the same
// picture, and every line costs its own set-up in a software rasteriser).
const std::vector<btVector3>& UnitCylinder() {
  static const std::vector<btVector3> segments = [] {
    const int slices = 6, stacks = 6;
    std::vector<btVector3> s;
    const auto at = [&](int a_slice, int a_stack) {
      const double theta = 2 * M_PI * a_slice / slices;
      return btVector3(btScalar(std::sin(theta)), btScalar(std::cos(theta)), btScalar(double(a_stack) / stacks));
    };
    for (int stack = 0; stack <= stacks; ++stack)
      for (int slice = 0; slice < slices; ++slice) {
        s.push_back(at(slice, stack));
        s.push_back(at(slice + 1, stack));
      }
    for (int slice = 0; slice < slices; ++slice) {
      s.push_back(at(slice, 0));
      s.push_back(at(slice, stacks));
    }
    return s;
  }();
  return segments;
}

// Label texts are drawn as whole quads from an alpha texture made for the pass, one slot
// per distinct text (boxes share " 0" to " 7" and " plane 0" to " plane 5"): a quad per
// glyph costs three times the set-up. The atlas grows in shelves up to its cap; a text that
// finds no room is not drawn.
constexpr int kAtlasWidth = 512, kAtlasMaxHeight = 4096;

// One camera pass of one world, gathered in world coordinates. Kept between passes so its
// arrays are allocated once.
struct Pass {
  struct Label {
    btVector3 at;
    Colour colour;
    std::size_t start, length;  // in text
  };

  // Where a text sits in the atlas, and where its quad sits from the raster position.
  struct Slot {
    int x, y, width, height, left, bottom;
  };

  std::vector<LineVertex> lines;
  std::vector<Label> labels;
  std::string text;
  std::vector<QuadVertex> quads;
  std::unordered_map<std::string, Slot> slots;
  std::vector<GLubyte> atlas;  // kAtlasWidth texels a row, rows bottom up
  int shelfX = 0, shelfY = 0, shelfHeight = 0;

  void Clear() {
    lines.clear();
    labels.clear();
    text.clear();
    quads.clear();
    slots.clear();
    atlas.clear();
    shelfX = shelfY = shelfHeight = 0;
  }

  void Line(const btVector3& a_from, const btVector3& a_to, const Colour& a_colour) {
    lines.push_back({GLfloat(a_from.x()),
                     GLfloat(a_from.y()),
                     GLfloat(a_from.z()),
                     {a_colour.rgba[0], a_colour.rgba[1], a_colour.rgba[2], a_colour.rgba[3]}});
    lines.push_back({GLfloat(a_to.x()),
                     GLfloat(a_to.y()),
                     GLfloat(a_to.z()),
                     {a_colour.rgba[0], a_colour.rgba[1], a_colour.rgba[2], a_colour.rgba[3]}});
  }

  // The segments of a unit shape, scaled per axis, under a_transform.
  void Segments(const std::vector<btVector3>& a_unit, const btTransform& a_transform, const btVector3& a_scale,
                const Colour& a_colour) {
    for (std::size_t i = 0; i + 1 < a_unit.size(); i += 2)
      Line(a_transform(a_unit[i] * a_scale), a_transform(a_unit[i + 1] * a_scale), a_colour);
  }

  void Text(const btVector3& a_at, const char* a_text, const Colour& a_colour) {
    if (!a_text || !*a_text) return;
    const std::size_t start = text.size();
    text += a_text;
    labels.push_back({a_at, a_colour, start, text.size() - start});
  }

  void Box(const btBoxShape* a_box, const btTransform& a_transform, const Colour& a_colour) {
    const btVector3 h = a_box->getHalfExtentsWithMargin();
    for (int axis = 0; axis < 3; ++axis) {
      // The four edges along this axis, at the corners of the other two.
      const int u = (axis + 1) % 3, v = (axis + 2) % 3;
      for (int corner = 0; corner < 4; ++corner) {
        btVector3 a, b;
        a[axis] = -h[axis];
        b[axis] = h[axis];
        a[u] = b[u] = (corner & 1) ? h[u] : -h[u];
        a[v] = b[v] = (corner & 2) ? h[v] : -h[v];
        Line(a_transform(a), a_transform(b), a_colour);
      }
    }
  }

  void Edges(const btPolyhedralConvexShape* a_shape, const btTransform& a_transform, const Colour& a_colour) {
    for (int i = 0; i < a_shape->getNumEdges(); ++i) {
      btVector3 a, b;
      a_shape->getEdge(i, a, b);
      Line(a_transform(a), a_transform(b), a_colour);
    }
  }

  // The number of every vertex and face plane, in white.
  void Features(const btPolyhedralConvexShape* a_shape, const btTransform& a_transform) {
    char label[32];
    for (int i = 0; i < a_shape->getNumVertices(); ++i) {
      btVector3 at;
      a_shape->getVertex(i, at);
      std::snprintf(label, sizeof label, " %d", i);
      Text(a_transform(at), label, kWhite);
    }
    for (int i = 0; i < a_shape->getNumPlanes(); ++i) {
      btVector3 normal, support;
      a_shape->getPlane(normal, support, i);
      std::snprintf(label, sizeof label, " plane %d", i);
      Text(a_transform(normal * normal.dot(support)), label, kWhite);
    }
  }

  void Shape(const btTransform& a_transform, const btCollisionShape* a_shape, const Colour& a_colour, int a_mode) {
    if (!a_shape) return;
    if (a_shape->isCompound()) {
      const btCompoundShape* compound = static_cast<const btCompoundShape*>(a_shape);
      for (int i = compound->getNumChildShapes() - 1; i >= 0; --i)
        Shape(a_transform * compound->getChildTransform(i), compound->getChildShape(i), a_colour, a_mode);
      return;
    }
    if (!(a_mode & btIDebugDraw::DBG_DrawWireframe)) {
      switch (a_shape->getShapeType()) {
        case BOX_SHAPE_PROXYTYPE:
          Box(static_cast<const btBoxShape*>(a_shape), a_transform, a_colour);
          // A box is a polyhedron as well: its corners and faces get their numbers too.
          if (a_mode == btIDebugDraw::DBG_DrawFeaturesText)
            Features(static_cast<const btPolyhedralConvexShape*>(a_shape), a_transform);
          break;
        case SPHERE_SHAPE_PROXYTYPE: {
          const btScalar r = static_cast<const btSphereShape*>(a_shape)->getRadius();
          Segments(UnitSphere(), a_transform, btVector3(r, r, r), a_colour);
          break;
        }
        case CAPSULE_SHAPE_PROXYTYPE: {
          const btCapsuleShape* capsule = static_cast<const btCapsuleShape*>(a_shape);
          const btScalar r = capsule->getRadius(), half = capsule->getHalfHeight();
          // The quadric's cylinder runs along +Z from 0; the capsule along Y from -half: a
          // quarter turn about X, (x, y, z) to (x, z, -y).
          const btTransform side(btMatrix3x3(1, 0, 0, 0, 0, 1, 0, -1, 0), btVector3(0, -half, 0));
          Segments(UnitCylinder(), a_transform * side, btVector3(r, r, 2 * half), a_colour);
          for (const btScalar y : {-half, half})
            Segments(UnitSphere(), a_transform * btTransform(btMatrix3x3::getIdentity(), btVector3(0, y, 0)),
                     btVector3(r, r, r), a_colour);
          break;
        }
        default:
          if (a_shape->isPolyhedral()) {
            const btPolyhedralConvexShape* polyhedron = static_cast<const btPolyhedralConvexShape*>(a_shape);
            Edges(polyhedron, a_transform, a_colour);
            if (a_mode == btIDebugDraw::DBG_DrawFeaturesText) Features(polyhedron, a_transform);
          }
          break;
      }
    }
    if (a_mode & btIDebugDraw::DBG_DrawText) Text(a_transform.getOrigin(), a_shape->getName(), a_colour);
  }

  void World(const btCollisionWorld& a_world, int a_mode) {
    const btCollisionObjectArray& objects = a_world.getCollisionObjectArray();
    for (int i = 0; i < objects.size(); ++i) {
      const btCollisionObject* object = objects[i];
      btVector3 colour(1, 0.5f, 0);
      switch (object->getActivationState()) {
        case ACTIVE_TAG:
          colour.setValue(2, 0.5f, 0);
          break;
        case ISLAND_SLEEPING:
          colour.setValue(1, 1.5f, 0);
          break;
        default:
          break;
      }
      Shape(object->getWorldTransform(), object->getCollisionShape(), ToColour(colour), a_mode);
    }
  }

  // Every label as a quad in window coordinates, placed where glBitmap would put them
  // from a raster position at the label's point: labels whose point the view volume clips
  // are not drawn; the others keep the point's depth.
  void LayOutLabels() {
    GLfloat modelView[16], projection[16];
    GLint viewport[4];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLfloat m[16];  // projection times model-view, column-major
    for (int c = 0; c < 4; ++c)
      for (int r = 0; r < 4; ++r) {
        float sum = 0;
        for (int k = 0; k < 4; ++k) sum += projection[k * 4 + r] * modelView[c * 4 + k];
        m[c * 4 + r] = sum;
      }
    for (const Label& label : labels) {
      const float p[3] = {float(label.at.x()), float(label.at.y()), float(label.at.z())};
      float clip[4];
      for (int r = 0; r < 4; ++r) clip[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
      const float w = clip[3];
      if (!(w > 0) || std::fabs(clip[0]) > w || std::fabs(clip[1]) > w || std::fabs(clip[2]) > w) continue;
      const Slot* slot = Place(text.substr(label.start, label.length));
      if (!slot) continue;
      const float x0 = std::floor(viewport[0] + (clip[0] / w + 1) * 0.5f * viewport[2]) + float(slot->left);
      const float y0 = std::floor(viewport[1] + (clip[1] / w + 1) * 0.5f * viewport[3]) + float(slot->bottom);
      const float x1 = x0 + float(slot->width), y1 = y0 + float(slot->height);
      const float z = clip[2] / w;
      // Texture coordinates in texels: the texture matrix scales them to the atlas.
      const float u0 = float(slot->x), v0 = float(slot->y), u1 = u0 + float(slot->width), v1 = v0 + float(slot->height);
      const GLubyte* c = label.colour.rgba;
      quads.push_back({x0, y0, z, u0, v0, {c[0], c[1], c[2], c[3]}});
      quads.push_back({x1, y0, z, u1, v0, {c[0], c[1], c[2], c[3]}});
      quads.push_back({x1, y1, z, u1, v1, {c[0], c[1], c[2], c[3]}});
      quads.push_back({x0, y1, z, u0, v1, {c[0], c[1], c[2], c[3]}});
    }
    // Older GL takes only power-of-two textures.
    std::size_t height = 1;
    while (height * kAtlasWidth < atlas.size()) height *= 2;
    atlas.resize(height * kAtlasWidth, 0);
  }

  // a_text's slot, drawn into the atlas on its first use in the pass; null when it has no
  // glyph with a bitmap or the atlas is full. Glyphs go where glBitmap would put them: each
  // at the pen less its origin, the pen moving by its advance.
  const Slot* Place(const std::string& a_text) {
    const auto found = slots.find(a_text);
    if (found != slots.end()) return found->second.width > 0 ? &found->second : nullptr;
    const BMF_BitmapFont& font = BMF_BitmapFont::Get();
    int left = 0, right = 0, bottom = 0, top = 0, pen = 0;
    bool any = false;
    for (const char ch : a_text) {
      const BMF_BitmapFont::Glyph& glyph = font.glyphs[static_cast<unsigned char>(ch)];
      if (glyph.offset >= 0 && glyph.width > 0 && glyph.height > 0) {
        const int x = pen - glyph.xOrigin, y = -glyph.yOrigin;
        left = any ? std::min(left, x) : x;
        right = any ? std::max(right, x + glyph.width) : x + glyph.width;
        bottom = any ? std::min(bottom, y) : y;
        top = any ? std::max(top, y + glyph.height) : y + glyph.height;
        any = true;
      }
      pen += glyph.advance;
    }
    Slot slot{0, 0, 0, 0, left, bottom};
    const int width = std::min(right - left, kAtlasWidth), height = top - bottom;
    if (any && width > 0 && height > 0) {
      if (shelfX + width > kAtlasWidth) {
        shelfY += shelfHeight;
        shelfX = shelfHeight = 0;
      }
      if (shelfY + height <= kAtlasMaxHeight) {
        slot = Slot{shelfX, shelfY, width, height, left, bottom};
        shelfX += width;
        shelfHeight = std::max(shelfHeight, height);
        if (atlas.size() < std::size_t(shelfY + shelfHeight) * kAtlasWidth)
          atlas.resize(std::size_t(shelfY + shelfHeight) * kAtlasWidth, 0);
        Blit(a_text, slot);
      }
    }
    const Slot& placed = slots.emplace(a_text, slot).first->second;
    return placed.width > 0 ? &placed : nullptr;
  }

  void Blit(const std::string& a_text, const Slot& a_slot) {
    const BMF_BitmapFont& font = BMF_BitmapFont::Get();
    int pen = 0;
    for (const char ch : a_text) {
      const BMF_BitmapFont::Glyph& glyph = font.glyphs[static_cast<unsigned char>(ch)];
      const int bytesPerRow = (glyph.width + 7) / 8;
      for (int row = 0; glyph.offset >= 0 && row < glyph.height; ++row)
        for (int column = 0; column < glyph.width; ++column) {
          const std::size_t at = std::size_t(glyph.offset) + std::size_t(row * bytesPerRow + column / 8);
          if (at >= font.bitmaps.size() || !(static_cast<unsigned char>(font.bitmaps[at]) & (0x80 >> (column % 8))))
            continue;
          const int x = pen - glyph.xOrigin + column - a_slot.left, y = -glyph.yOrigin + row - a_slot.bottom;
          if (x >= 0 && x < a_slot.width && y >= 0 && y < a_slot.height)
            atlas[std::size_t(a_slot.y + y) * kAtlasWidth + std::size_t(a_slot.x + x)] = 255;
        }
      pen += glyph.advance;
    }
  }

  void DrawLines() const {
    if (lines.empty()) return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(LineVertex), &lines[0].x);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(LineVertex), lines[0].rgba);
    glDrawArrays(GL_LINES, 0, GLsizei(lines.size()));
    glDisableClientState(GL_COLOR_ARRAY);
  }

  // The quads of LayOutLabels, textured from the pass's atlas on unit 0 in an orthographic
  // projection of the viewport whose z is the labels' normalised depth. The texture lives
  // only for the pass: the drawing owns no GL object that could outlive its context.
  void DrawLabels() const {
    if (quads.empty()) return;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1], viewport[1] + viewport[3], 1, -1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glActiveTexture(GL_TEXTURE0);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    const int atlasHeight = int(atlas.size() / kAtlasWidth);
    glScalef(1.0f / kAtlasWidth, 1.0f / float(atlasHeight), 1.0f);

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, kAtlasWidth, atlasHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE, atlas.data());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_TEXTURE_2D);
    // Only the glyph's own texels, as glBitmap draws only its set bits.
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);

    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(QuadVertex), &quads[0].x);
    glTexCoordPointer(2, GL_FLOAT, sizeof(QuadVertex), &quads[0].u);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(QuadVertex), quads[0].rgba);
    glDrawArrays(GL_QUADS, 0, GLsizei(quads.size()));
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_ALPHA_TEST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &texture);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
  }
};

Pass& ThePass() {
  static Pass pass;
  return pass;
}

void Text(const char* a_text) { BMF_BitmapFont::Get().Draw(a_text); }

void TextAt(const btVector3& a_at, const char* a_text) {
  glRasterPos3f(a_at.x(), a_at.y(), a_at.z());
  Text(a_text);
}

void ImmediateLine(const btVector3& a_from, const btVector3& a_to) {
  glVertex3f(a_from.x(), a_from.y(), a_from.z());
  glVertex3f(a_to.x(), a_to.y(), a_to.z());
}

}  // namespace

void GLDebugDrawer::drawLine(const btVector3& a_from, const btVector3& a_to, const btVector3& a_color) {
  if (debugMode <= 0) return;
  glBegin(GL_LINES);
  glColor3f(a_color.x(), a_color.y(), a_color.z());
  ImmediateLine(a_from, a_to);
  glEnd();
}

void GLDebugDrawer::drawContactPoint(const btVector3& a_point, const btVector3& a_normal, btScalar a_distance,
                                     int a_lifeTime, const btVector3& a_color) {
  if (!(debugMode & DBG_DrawContactPoints)) return;
  glBegin(GL_LINES);
  glColor3f(a_color.x(), a_color.y(), a_color.z());
  ImmediateLine(a_point, a_point + a_normal * a_distance);
  glEnd();
  char text[32];
  std::snprintf(text, sizeof text, " %d", a_lifeTime);
  TextAt(a_point, text);
}

// Bullet's warnings are a library's log: standard error, like the engine's.
void GLDebugDrawer::reportErrorWarning(const char* a_text) { std::fprintf(stderr, "%s\n", a_text ? a_text : ""); }

void GLDebugDrawer::draw3dText(const btVector3& a_location, const char* a_text) { TextAt(a_location, a_text); }

void GLDebugDrawer::DrawOverlay(gScene* a_scene, irr::video::IVideoDriver* a_driver) {
  scePhysics* physics = a_scene ? a_scene->physics : nullptr;
  if (!physics || !physics->drawDebug) return;
  if (!a_driver || a_driver->getDriverType() != irr::video::EDT_OPENGL) return;

  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
  // Client arrays are read from memory only while no buffer object is bound.
  GLint arrayBuffer = 0;
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  GLint units = 1;
  glGetIntegerv(GL_MAX_TEXTURE_UNITS, &units);
  for (GLint unit = units - 1; unit >= 0; --unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_3D);
    glDisable(GL_TEXTURE_CUBE_MAP);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glClientActiveTexture(GL_TEXTURE0 + unit);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_SECONDARY_COLOR_ARRAY);
  glDisableClientState(GL_FOG_COORD_ARRAY);
  glDisable(GL_LIGHTING);
  glDisable(GL_BLEND);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_FOG);
  glDisable(GL_CULL_FACE);
  glMatrixMode(GL_MODELVIEW);
  DrawWorld(physics);
  glBindBuffer(GL_ARRAY_BUFFER, GLuint(arrayBuffer));
  glPopClientAttrib();
  glPopAttrib();
  // The engine goes on drawing with the model-view matrix as the current one.
  glMatrixMode(GL_MODELVIEW);
}

void GLDebugDrawer::DrawWorld(scePhysics* a_physics) {
  if (!a_physics || !a_physics->drawDebug || !a_physics->world) return;
  a_physics->Admit();
  Pass& pass = ThePass();
  pass.Clear();
  pass.World(*a_physics->world, a_physics->debugDrawer.getDebugMode());
  pass.DrawLines();
  pass.LayOutLabels();
  pass.DrawLabels();
}
