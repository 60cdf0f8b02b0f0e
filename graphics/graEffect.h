#pragma once
// What billboards, particle systems and beams share: unlit, blended by the texture's alpha
// channel, with texels below alpha 1/255 left out; and the texture setter that reports a
// handle without a texture.
namespace irr {
namespace scene {
class ISceneNode;
}
}  // namespace irr
class graTexture;

void graEffectMaterials(irr::scene::ISceneNode* a_node);

// Layer 0 of every material, or "Missing texture" and no change.
void graSetTexture(irr::scene::ISceneNode* a_node, graTexture* a_texture);
