-- vectors: steering with small vector tables made afresh by every operation (mirrors
-- vectors.qv), as game code written with vector helpers does: allocation and collection
-- of short-lived tables, calls through global helpers and field access. Positions stay on
-- a 1/16 grid and velocities on a 1/4 grid, so float32 and float64 agree exactly.

function vec(x, y, z)
  return { x = x, y = y, z = z }
end

function vadd(a, b)
  return vec(a.x + b.x, a.y + b.y, a.z + b.z)
end

function vsub(a, b)
  return vec(a.x - b.x, a.y - b.y, a.z - b.z)
end

function vscale(a, s)
  return vec(a.x * s, a.y * s, a.z * s)
end

function vdot(a, b)
  return a.x * b.x + a.y * b.y + a.z * b.z
end

-- One step of 0.25 towards the sign of each component.
function vsteer(a)
  local s = vec(0.0, 0.0, 0.0)
  if a.x > 0.0 then s.x = 0.25 elseif a.x < 0.0 then s.x = -0.25 end
  if a.y > 0.0 then s.y = 0.25 elseif a.y < 0.0 then s.y = -0.25 end
  if a.z > 0.0 then s.z = 0.25 elseif a.z < 0.0 then s.z = -0.25 end
  return s
end

function vclamp(a, limit)
  local c = vec(a.x, a.y, a.z)
  if c.x > limit then c.x = limit elseif c.x < -limit then c.x = -limit end
  if c.y > limit then c.y = limit elseif c.y < -limit then c.y = -limit end
  if c.z > limit then c.z = limit elseif c.z < -limit then c.z = -limit end
  return c
end

function nextRandom(state)
  state.seed = (state.seed * 75 + 74) % 65537
  return state.seed
end

function point(state)
  return vec((nextRandom(state) % 769 - 384) * 0.0625, (nextRandom(state) % 385) * 0.0625,
             (nextRandom(state) % 769 - 384) * 0.0625)
end

function run(count, frames)
  local state = { seed = 4242 }
  local agents = {}
  for i = 0, count - 1 do
    agents[i] = { pos = point(state), vel = vec(0.0, 0.0, 0.0), target = point(state) }
  end
  local arrivals = 0
  for f = 0, frames - 1 do
    for i = 0, count - 1 do
      local a = agents[i]
      local to = vsub(a.target, a.pos)
      if vdot(to, to) < 16.0 then
        arrivals = arrivals + 1
        a.target = point(state)
      else
        a.vel = vclamp(vadd(a.vel, vsteer(to)), 2.0)
        a.pos = vadd(a.pos, vscale(a.vel, 0.25))
      end
    end
  end
  local sum = vec(0.0, 0.0, 0.0)
  for i = 0, count - 1 do
    sum = vadd(sum, agents[i].pos)
  end
  print(string.format("vectors %d %d %f %f %f", count, arrivals, sum.x, sum.y, sum.z))
end

run(200, 2000)
