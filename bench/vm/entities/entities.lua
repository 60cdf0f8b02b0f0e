-- entities: a game's per-frame update (mirrors entities.qv): a few hundred objects held in
-- tables, each moved by its own update member (a method call with self) with float vector
-- arithmetic, bounced off the walls of an arena and tested against a moving player.
-- Positions stay on a 1/16 grid and velocities on a 1/4 grid, small enough that float32
-- and float64 compute identical values.

local function update(self, dt)
  self.vy = self.vy - world.gravity * dt
  self.x = self.x + self.vx * dt
  self.y = self.y + self.vy * dt
  self.z = self.z + self.vz * dt
  if self.x > 32.0 then
    self.x = 64.0 - self.x
    self.vx = -self.vx
  elseif self.x < -32.0 then
    self.x = -64.0 - self.x
    self.vx = -self.vx
  end
  if self.z > 32.0 then
    self.z = 64.0 - self.z
    self.vz = -self.vz
  elseif self.z < -32.0 then
    self.z = -64.0 - self.z
    self.vz = -self.vz
  end
  if self.y < 0.0 then
    self.y = -self.y
    self.vy = -self.vy
    if self.vy > 6.0 then
      self.vy = 6.0
    end
  end
  local dx = self.x - world.px
  local dz = self.z - world.pz
  if dx * dx + dz * dz < 16.0 then
    self:hit()
  end
end

local function hit(self)
  world.hits = world.hits + 1
  self.hp = self.hp - 1
  if self.hp == 0 then
    world.respawns = world.respawns + 1
    self:spawn()
  end
end

local function spawn(self)
  self.x = (nextRandom() % 1025 - 512) * 0.0625
  self.y = (nextRandom() % 257) * 0.0625
  self.z = (nextRandom() % 1025 - 512) * 0.0625
  self.vx = (nextRandom() % 33 - 16) * 0.25
  self.vy = 0.0
  self.vz = (nextRandom() % 33 - 16) * 0.25
  self.hp = 3
end

function nextRandom()
  world.seed = (world.seed * 75 + 74) % 65537
  return world.seed
end

function Entity()
  local e = { x = 0.0, y = 0.0, z = 0.0, vx = 0.0, vy = 0.0, vz = 0.0, hp = 0,
              update = update, hit = hit, spawn = spawn }
  e:spawn()
  return e
end

function run(count, frames)
  world = { gravity = 1.0, px = 0.0, pz = 0.0, pvx = 0.5, pvz = 0.25, hits = 0, respawns = 0, seed = 12345 }
  local objects = {}
  for i = 0, count - 1 do
    objects[i] = Entity()
  end
  local dt = 0.25
  for f = 0, frames - 1 do
    world.px = world.px + world.pvx
    world.pz = world.pz + world.pvz
    if world.px > 24.0 or world.px < -24.0 then
      world.pvx = -world.pvx
    end
    if world.pz > 24.0 or world.pz < -24.0 then
      world.pvz = -world.pvz
    end
    for i = 0, count - 1 do
      objects[i]:update(dt)
    end
  end
  local sx, sy, sz = 0.0, 0.0, 0.0
  for i = 0, count - 1 do
    local o = objects[i]
    sx = sx + o.x
    sy = sy + o.y
    sz = sz + o.z
  end
  print(string.format("entities %d %d %d %f %f %f", count, world.hits, world.respawns, sx, sy, sz))
end

run(400, 6000)
