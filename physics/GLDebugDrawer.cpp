#include "physics/GLDebugDrawer.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <btBulletDynamicsCommon.h>
#include <irrlicht.h>

#include <cstdio>

#include "graphics/sceGraphics.h"
#include "physics/BMF_BitmapFont.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"

namespace {

void Text(const char* a_text) { BMF_BitmapFont::Get().Draw(a_text); }

void TextAt(const btVector3& a_at, const char* a_text) {
  glRasterPos3f(a_at.x(), a_at.y(), a_at.z());
  Text(a_text);
}

void MultiplyBy(const btTransform& a_transform) {
  btScalar m[16];
  a_transform.getOpenGLMatrix(m);
  GLfloat f[16];
  for (int i = 0; i < 16; ++i) f[i] = static_cast<GLfloat>(m[i]);
  glMultMatrixf(f);
}

void Line(const btVector3& a_from, const btVector3& a_to) {
  glVertex3f(a_from.x(), a_from.y(), a_from.z());
  glVertex3f(a_to.x(), a_to.y(), a_to.z());
}

// Made once: a quadric is an allocation, and the style never changes.
GLUquadric* LineQuadric() {
  static GLUquadric* quadric = [] {
    GLUquadric* q = gluNewQuadric();
    if (q) gluQuadricDrawStyle(q, GLU_LINE);
    return q;
  }();
  return quadric;
}

void DrawBox(const btBoxShape* a_box) {
  const btVector3 h = a_box->getHalfExtentsWithMargin();
  glBegin(GL_LINES);
  for (int axis = 0; axis < 3; ++axis) {
    // The four edges along this axis, at the corners of the other two.
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (int corner = 0; corner < 4; ++corner) {
      btVector3 a, b;
      a[axis] = -h[axis];
      b[axis] = h[axis];
      a[u] = b[u] = (corner & 1) ? h[u] : -h[u];
      a[v] = b[v] = (corner & 2) ? h[v] : -h[v];
      Line(a, b);
    }
  }
  glEnd();
}

void DrawEdges(const btPolyhedralConvexShape* a_shape) {
  glBegin(GL_LINES);
  for (int i = 0; i < a_shape->getNumEdges(); ++i) {
    btVector3 a, b;
    a_shape->getEdge(i, a, b);
    Line(a, b);
  }
  glEnd();
}

// The number of every vertex and face plane, in white.
void DrawFeatures(const btPolyhedralConvexShape* a_shape) {
  glColor3f(1, 1, 1);
  char text[32];
  for (int i = 0; i < a_shape->getNumVertices(); ++i) {
    btVector3 at;
    a_shape->getVertex(i, at);
    std::snprintf(text, sizeof text, " %d", i);
    TextAt(at, text);
  }
  for (int i = 0; i < a_shape->getNumPlanes(); ++i) {
    btVector3 normal, support;
    a_shape->getPlane(normal, support, i);
    std::snprintf(text, sizeof text, " plane %d", i);
    TextAt(normal * normal.dot(support), text);
  }
}

}  // namespace

void GLDebugDrawer::drawLine(const btVector3& a_from, const btVector3& a_to, const btVector3& a_color) {
  if (debugMode <= 0) return;
  glBegin(GL_LINES);
  glColor3f(a_color.x(), a_color.y(), a_color.z());
  Line(a_from, a_to);
  glEnd();
}

void GLDebugDrawer::drawContactPoint(const btVector3& a_point, const btVector3& a_normal, btScalar a_distance,
                                     int a_lifeTime, const btVector3& a_color) {
  if (!(debugMode & DBG_DrawContactPoints)) return;
  glBegin(GL_LINES);
  glColor3f(a_color.x(), a_color.y(), a_color.z());
  Line(a_point, a_point + a_normal * a_distance);
  glEnd();
  char text[32];
  std::snprintf(text, sizeof text, " %d", a_lifeTime);
  TextAt(a_point, text);
}

// Bullet's warnings are a library's log: standard error, like the engine's.
void GLDebugDrawer::reportErrorWarning(const char* a_text) { std::fprintf(stderr, "%s\n", a_text ? a_text : ""); }

void GLDebugDrawer::draw3dText(const btVector3& a_location, const char* a_text) { TextAt(a_location, a_text); }

void GLDebugDrawer::DrawOverlay(gScene* a_scene) {
  scePhysics* physics = a_scene ? a_scene->physics : nullptr;
  if (!physics || !physics->drawDebug || !a_scene->graphics || !a_scene->graphics->sceneManager) return;
  irr::video::IVideoDriver* driver = a_scene->graphics->sceneManager->getVideoDriver();
  if (!driver || driver->getDriverType() != irr::video::EDT_OPENGL) return;

  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
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
  }
  glDisable(GL_LIGHTING);
  glDisable(GL_BLEND);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_FOG);
  glDisable(GL_CULL_FACE);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  DrawWorld(physics);
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopClientAttrib();
  glPopAttrib();
  // The engine goes on drawing with the model-view matrix as the current one.
  glMatrixMode(GL_MODELVIEW);
}

void GLDebugDrawer::DrawWorld(scePhysics* a_physics) {
  if (!a_physics || !a_physics->drawDebug || !a_physics->world) return;
  const int mode = a_physics->debugDrawer.getDebugMode();
  const btCollisionObjectArray& objects = a_physics->world->getCollisionObjectArray();
  for (int i = 0; i < objects.size(); ++i) {
    const btCollisionObject* object = objects[i];
    btVector3 color(1, 0.5f, 0);
    switch (object->getActivationState()) {
      case ACTIVE_TAG:
        color.setValue(2, 0.5f, 0);
        break;
      case ISLAND_SLEEPING:
        color.setValue(1, 1.5f, 0);
        break;
      default:
        break;
    }
    DrawShape(object->getWorldTransform(), object->getCollisionShape(), color, mode);
  }
}

void GLDebugDrawer::DrawShape(const btTransform& a_transform, const btCollisionShape* a_shape, const btVector3& a_color,
                              int a_mode) {
  if (!a_shape) return;
  glPushMatrix();
  MultiplyBy(a_transform);
  if (a_shape->isCompound()) {
    const btCompoundShape* compound = static_cast<const btCompoundShape*>(a_shape);
    for (int i = compound->getNumChildShapes() - 1; i >= 0; --i)
      DrawShape(compound->getChildTransform(i), compound->getChildShape(i), a_color, a_mode);
    glPopMatrix();
    return;
  }
  glEnable(GL_COLOR_MATERIAL);
  glColor3f(a_color.x(), a_color.y(), a_color.z());
  if (!(a_mode & DBG_DrawWireframe)) {
    GLUquadric* quadric = LineQuadric();
    switch (a_shape->getShapeType()) {
      case BOX_SHAPE_PROXYTYPE:
        DrawBox(static_cast<const btBoxShape*>(a_shape));
        // A box is a polyhedron as well: its corners and faces get their numbers too.
        if (a_mode == DBG_DrawFeaturesText) DrawFeatures(static_cast<const btPolyhedralConvexShape*>(a_shape));
        break;
      case SPHERE_SHAPE_PROXYTYPE:
        if (quadric) gluSphere(quadric, static_cast<const btSphereShape*>(a_shape)->getRadius(), 8, 4);
        break;
      case CAPSULE_SHAPE_PROXYTYPE: {
        const btCapsuleShape* capsule = static_cast<const btCapsuleShape*>(a_shape);
        const btScalar radius = capsule->getRadius(), half = capsule->getHalfHeight();
        if (!quadric) break;
        glPushMatrix();
        glTranslatef(0, -half, 0);
        // The quadric's cylinder runs along +Z; the capsule along +Y.
        glRotatef(-90, 1, 0, 0);
        gluCylinder(quadric, radius, radius, 2 * half, 6, 6);
        glPopMatrix();
        for (const btScalar y : {-half, half}) {
          glPushMatrix();
          glTranslatef(0, y, 0);
          gluSphere(quadric, radius, 8, 4);
          glPopMatrix();
        }
        break;
      }
      default:
        if (a_shape->isPolyhedral()) {
          const btPolyhedralConvexShape* polyhedron = static_cast<const btPolyhedralConvexShape*>(a_shape);
          DrawEdges(polyhedron);
          if (a_mode == DBG_DrawFeaturesText) DrawFeatures(polyhedron);
        }
        break;
    }
  }
  glRasterPos3f(0, 0, 0);
  if (a_mode & DBG_DrawText) Text(a_shape->getName());
  glPopMatrix();
}
