#include "physics/objPhyCloth.h"

#include <algorithm>
#include <unordered_map>

#include "binding/gmNativeType.h"

objPhyCloth::objPhyCloth(const char* a_name, objPhysics* a_owner) : name(a_name ? a_name : ""), owner(a_owner) {}

objPhyCloth::~objPhyCloth() {
  CutWrappers();
  for (Particle* particle : particles) delete particle;
}

int objPhyCloth::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objPhyCloth> type(a_machine, "_ObjPhyCloth");
  return type.Register();
}

void objPhyCloth::AddBuffer(irr::scene::IMeshBuffer* a_buffer) {
  if (!a_buffer || a_buffer->getVertexType() != irr::video::EVT_STANDARD || a_buffer->getIndexType() != irr::video::EIT_16BIT)
    return;
  AddBuffer(static_cast<irr::video::S3DVertex*>(a_buffer->getVertices()), a_buffer->getVertexCount(),
            a_buffer->getIndices(), a_buffer->getIndexCount());
}

void objPhyCloth::AddBuffer(irr::video::S3DVertex* a_vertices, irr::u32 a_vertexCount, const irr::u16* a_indices,
                            irr::u32 a_indexCount) {
  if (!a_vertices) return;
  std::vector<Particle*> holder(a_vertexCount, nullptr);
  for (irr::u32 v = 0; v < a_vertexCount; ++v) {
    irr::video::S3DVertex* vertex = &a_vertices[v];
    Particle* found = nullptr;
    for (Particle* particle : particles) {
      // Exact equality: only vertices that are one point in the mesh move as one.
      if (particle->position.X == vertex->Pos.X && particle->position.Y == vertex->Pos.Y &&
          particle->position.Z == vertex->Pos.Z) {
        found = particle;
        break;
      }
    }
    if (!found) {
      found = new Particle();
      found->position = vertex->Pos;
      particles.push_back(found);
    }
    found->vertices.push_back(vertex);
    holder[v] = found;
  }
  if (!a_indices) return;
  for (irr::u32 i = 0; i + 2 < a_indexCount; i += 3) {
    if (a_indices[i] >= a_vertexCount || a_indices[i + 1] >= a_vertexCount || a_indices[i + 2] >= a_vertexCount) continue;
    Particle* const corners[3] = {holder[a_indices[i]], holder[a_indices[i + 1]], holder[a_indices[i + 2]]};
    for (int e = 0; e < 3; ++e) {
      Particle* p = corners[e];
      Particle* q = corners[(e + 1) % 3];
      if (p == q) continue;
      const auto has = [](const Particle* a_at, const Particle* a_other) {
        return std::find(a_at->neighbours.begin(), a_at->neighbours.end(), a_other) != a_at->neighbours.end();
      };
      if (has(p, q) || has(q, p)) continue;
      p->neighbours.push_back(q);
      p->restLengths.push_back(p->position.getDistanceFrom(q->position));
    }
  }
}

void objPhyCloth::Step() {
  if (particles.empty()) return;
  float top = particles[0]->position.Y;
  for (const Particle* particle : particles) top = std::max(top, particle->position.Y);
  // The particles on the top level keep their height exactly: falling by one and rising by
  // one again would round some of them off it.
  for (Particle* particle : particles) {
    particle->delta.set(0, 0, 0);
    if (particle->position.Y != top) particle->position.Y -= 1.0f;
  }
  for (Particle* p : particles) {
    for (size_t k = 0; k < p->neighbours.size(); ++k) {
      Particle* n = p->neighbours[k];
      if (p->position.Y == top && n->position.Y == top) continue;
      const irr::core::vector3df d = p->position - n->position;
      const float length = d.getLength();
      // Two ends at one point give the spring no direction.
      if (length == 0) continue;
      const irr::core::vector3df correction = d * 0.5f * (1.0f - p->restLengths[k] / length);
      const float share = 2.0f * top - p->position.Y - n->position.Y;
      const float weightP = (top - p->position.Y) / share;
      const float weightN = (top - n->position.Y) / share;
      p->delta -= correction * weightP;
      n->delta += correction * weightN;
    }
  }
  for (Particle* particle : particles) {
    particle->position += particle->delta;
    for (irr::video::S3DVertex* vertex : particle->vertices) vertex->Pos = particle->position;
  }
}
