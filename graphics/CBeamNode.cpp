#include "graphics/CBeamNode.h"

using namespace irr;

CBeamNode::CBeamNode(scene::ISceneNode* a_parent, scene::ISceneManager* a_manager)
    : ISceneNode(a_parent, a_manager, -1), box(-1, -1, -1, 1, 1, 1), color(0xFFFFFFFF) {
  material.MaterialType = video::EMT_TRANSPARENT_ADD_COLOR;
  material.Lighting = false;
}

void CBeamNode::OnRegisterSceneNode() {
  if (IsVisible) SceneManager->registerNodeForRendering(this, scene::ESNRP_AUTOMATIC);
  ISceneNode::OnRegisterSceneNode();
}

void CBeamNode::SetEnds(const core::vector3df& a_start, const core::vector3df& a_end) {
  start = a_start;
  end = a_end;
  box.reset(start);
  box.addInternalPoint(end);
}

void CBeamNode::render() {
  video::IVideoDriver* driver = SceneManager->getVideoDriver();
  scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
  if (!camera) return;
  driver->setTransform(video::ETS_WORLD, AbsoluteTransformation);
  core::vector3df s = start, e = end;
  AbsoluteTransformation.transformVect(s);
  AbsoluteTransformation.transformVect(e);
  const core::vector3df eye = camera->getAbsolutePosition();
  // Worked out in world coordinates and applied as a local offset: exact for objects that
  // are not scaled, which is how the band keeps its width on screen.
  core::vector3df side = (e - eye).crossProduct(s - eye);
  side.normalize();
  side *= width;

  video::S3DVertex vertices[4] = {
      video::S3DVertex(start + side, core::vector3df(1, 1, 0), color, core::vector2df(0, 1)),
      video::S3DVertex(start - side, core::vector3df(1, 0, 0), color, core::vector2df(1, 1)),
      video::S3DVertex(end - side, core::vector3df(0, 1, 1), color, core::vector2df(1, 0)),
      video::S3DVertex(end + side, core::vector3df(0, 0, 1), color, core::vector2df(0, 0)),
  };
  static const u16 indices[12] = {0, 2, 3, 2, 1, 3, 1, 0, 3, 2, 0, 1};
  driver->setMaterial(material);
  driver->drawIndexedTriangleList(vertices, 4, indices, 4);
}
