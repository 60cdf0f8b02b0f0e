#pragma once
// A beam of an object (script type _ObjGraBeam), drawn by a CBeamNode under the object's
// root.
#include <string>

#include "binding/gVector3.h"
#include "binding/gmWrappable.h"

class CBeamNode;
class gmMachineEx;
class graTexture;
class objGraphics;

class objGraBeam : public gmWrappable {
 public:
  static int RegisterScriptType(gmMachineEx* a_machine);

  objGraBeam(const char* a_name, objGraphics* a_owner);
  // Takes the node out of the scene: a beam deleted stops being drawn at once.
  ~objGraBeam();
  objGraBeam(const objGraBeam&) = delete;
  objGraBeam& operator=(const objGraBeam&) = delete;

  void Texture(graTexture* a_texture);
  void Color(float a_red, float a_green, float a_blue, float a_alpha);
  // Half the band's width.
  void Size(float a_width);
  void From(float a_x, float a_y, float a_z);
  void To(float a_x, float a_y, float a_z);
  void To(const gVector3& a_end);
  gVector3 To();

  std::string name;
  CBeamNode* node = nullptr;
  objGraphics* owner;
};
