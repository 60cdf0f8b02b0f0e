#include "physics/objPhyCloth.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "binding/gConsole.h"
#include "binding/gmNativeType.h"

objPhyCloth::objPhyCloth(const char* a_name, objPhysics* a_owner) : name(a_name ? a_name : ""), owner(a_owner) {}

objPhyCloth::~objPhyCloth() {
  CutWrappers();
  for (Particle* particle : particles) delete particle;
  for (irr::scene::IMeshBuffer* buffer : buffers) buffer->drop();
}

irr::scene::IAnimatedMesh* (*objPhyCloth::meshOf)(const graMesh* a_mesh) = nullptr;

int objPhyCloth::RegisterScriptType(gmMachineEx* a_machine) { return RegisterScriptType(a_machine, nullptr); }

int objPhyCloth::RegisterScriptType(gmMachineEx* a_machine, void (*a_bindAddMesh)(gmNativeType<objPhyCloth>& a_type)) {
  gmNativeType<objPhyCloth> type(a_machine, "_ObjPhyCloth");
  if (a_bindAddMesh) a_bindAddMesh(type);
  return type.Register();
}

namespace {

// The exact bits of a position, so that equal positions meet in one hash bucket. Both
// zeros count as one, as they compare equal.
struct PositionKey {
  irr::u32 bits[3];
  explicit PositionKey(const irr::core::vector3df& a_p) {
    const float coordinates[3] = {a_p.X == 0 ? 0.0f : a_p.X, a_p.Y == 0 ? 0.0f : a_p.Y, a_p.Z == 0 ? 0.0f : a_p.Z};
    std::memcpy(bits, coordinates, sizeof bits);
  }
  bool operator==(const PositionKey& a_other) const { return std::memcmp(bits, a_other.bits, sizeof bits) == 0; }
};

struct PositionHash {
  size_t operator()(const PositionKey& a_key) const {
    size_t h = a_key.bits[0];
    h = h * 0x9E3779B97F4A7C15ull + a_key.bits[1];
    h = h * 0x9E3779B97F4A7C15ull + a_key.bits[2];
    return h ^ (h >> 29);
  }
};

}  // namespace

void objPhyCloth::AddMesh(graMesh* a_mesh) {
  irr::scene::IAnimatedMesh* animated = a_mesh && meshOf ? meshOf(a_mesh) : nullptr;
  irr::scene::IMesh* mesh = animated ? animated->getMesh(0, 255, -1, -1) : nullptr;
  irr::scene::IMeshBuffer* buffer = mesh && mesh->getMeshBufferCount() > 0 ? mesh->getMeshBuffer(0) : nullptr;
  if (!buffer || buffer->getVertexCount() == 0) {
    gConsole::Line("mesh is empty");
    return;
  }
  AddBuffer(buffer);
}

void objPhyCloth::AddBuffer(irr::scene::IMeshBuffer* a_buffer) {
  if (!a_buffer || a_buffer->getVertexCount() == 0) return;
  // Positions through the buffer's accessor: vertex types differ in size, and a cast to the
  // standard vertex would read the others with the wrong stride.
  const auto position = [a_buffer](irr::u32 a_i) { return &a_buffer->getPosition(a_i); };
  const irr::u32 indexCount = a_buffer->getIndices() ? a_buffer->getIndexCount() : 0;
  if (a_buffer->getIndexType() == irr::video::EIT_32BIT) {
    const irr::u32* indices = reinterpret_cast<const irr::u32*>(a_buffer->getIndices());
    Build(a_buffer->getVertexCount(), position, indexCount, [indices](irr::u32 a_i) { return indices[a_i]; });
  } else {
    const irr::u16* indices = a_buffer->getIndices();
    Build(a_buffer->getVertexCount(), position, indexCount,
          [indices](irr::u32 a_i) { return static_cast<irr::u32>(indices[a_i]); });
  }
  if (std::find(buffers.begin(), buffers.end(), a_buffer) == buffers.end()) {
    a_buffer->grab();
    buffers.push_back(a_buffer);
  }
}

void objPhyCloth::AddBuffer(irr::video::S3DVertex* a_vertices, irr::u32 a_vertexCount, const irr::u16* a_indices,
                            irr::u32 a_indexCount) {
  if (!a_vertices) return;
  Build(
      a_vertexCount, [a_vertices](irr::u32 a_i) { return &a_vertices[a_i].Pos; }, a_indices ? a_indexCount : 0,
      [a_indices](irr::u32 a_i) { return static_cast<irr::u32>(a_indices[a_i]); });
}

template <class PositionAt, class IndexAt>
void objPhyCloth::Build(irr::u32 a_vertexCount, PositionAt a_position, irr::u32 a_indexCount, IndexAt a_index) {
  // Exact equality: only vertices that are one point in the mesh move as one. Particles of
  // earlier meshes are found at their current positions, the first in list order winning.
  std::unordered_map<PositionKey, Particle*, PositionHash> byPosition;
  byPosition.reserve(particles.size() + a_vertexCount);
  for (Particle* particle : particles) byPosition.emplace(PositionKey(particle->position), particle);
  std::vector<Particle*> holder(a_vertexCount, nullptr);
  for (irr::u32 v = 0; v < a_vertexCount; ++v) {
    irr::core::vector3df* vertex = a_position(v);
    // A not-a-number coordinate equals nothing, itself included: a particle of its own.
    const bool comparable = vertex->X == vertex->X && vertex->Y == vertex->Y && vertex->Z == vertex->Z;
    Particle** slot = comparable ? &byPosition.emplace(PositionKey(*vertex), nullptr).first->second : nullptr;
    Particle* found = slot ? *slot : nullptr;
    if (!found) {
      found = new Particle();
      found->position = *vertex;
      particles.push_back(found);
      if (slot) *slot = found;
    }
    found->vertices.push_back(vertex);
    holder[v] = found;
  }
  const auto has = [](const Particle* a_at, const Particle* a_other) {
    return std::find(a_at->neighbours.begin(), a_at->neighbours.end(), a_other) != a_at->neighbours.end();
  };
  for (irr::u32 i = 0; i + 2 < a_indexCount; i += 3) {
    const irr::u32 corner[3] = {a_index(i), a_index(i + 1), a_index(i + 2)};
    if (corner[0] >= a_vertexCount || corner[1] >= a_vertexCount || corner[2] >= a_vertexCount) continue;
    Particle* const corners[3] = {holder[corner[0]], holder[corner[1]], holder[corner[2]]};
    for (int e = 0; e < 3; ++e) {
      Particle* p = corners[e];
      Particle* q = corners[(e + 1) % 3];
      // A degenerate triangle names one particle twice; a spring to itself has no length.
      if (p == q) continue;
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
      // Two ends at one point give the spring no direction (and a not-a-number length
      // would spread to every particle it touches).
      if (!(length > 0)) continue;
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
    for (irr::core::vector3df* vertex : particle->vertices) *vertex = particle->position;
  }
  for (irr::scene::IMeshBuffer* buffer : buffers) buffer->setDirty(irr::scene::EBT_VERTEX);
}
