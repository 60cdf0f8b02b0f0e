#pragma once
// A beam: a textured band from `start` to `end` (local coordinates), `width` to each side,
// turned about its length toward the active camera each time it is drawn.
#include <irrlicht.h>

class CBeamNode : public irr::scene::ISceneNode {
 public:
  CBeamNode(irr::scene::ISceneNode* a_parent, irr::scene::ISceneManager* a_manager);

  void OnRegisterSceneNode() override;
  void render() override;
  const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override { return box; }
  irr::video::SMaterial& getMaterial(irr::u32) override { return material; }
  irr::u32 getMaterialCount() const override { return 1; }

  // The box holding exactly both end points (the band's width is not in it).
  void SetEnds(const irr::core::vector3df& a_start, const irr::core::vector3df& a_end);

  irr::video::SMaterial material;
  irr::core::vector3df start;
  irr::core::vector3df end;
  irr::core::aabbox3d<irr::f32> box;
  irr::f32 width = 32.0f;
  irr::video::SColor color;
};
