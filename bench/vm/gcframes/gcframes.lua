-- gcframes: a game's frames, each leaving short-lived garbage behind (mirrors gcframes.qv)
-- and asking for collection work once per frame. A thousand entities stay live, each a
-- table with nested position and velocity tables and a name.

function run(count, frames)
  local world = {}
  for i = 0, count - 1 do
    world[i] = { name = "unit" .. i, pos = { x = i % 32, y = 0, z = i % 17 }, vel = { x = 1, y = 0, z = -1 }, hits = 0 }
  end
  local events = 0
  for f = 0, frames - 1 do
    for i = 0, count - 1 do
      local e = world[i]
      local p = e.pos
      local v = e.vel
      local next = { x = (p.x + v.x) % 64, y = p.y, z = (p.z + v.z + 64) % 64 }
      if (next.x + next.z + f) % 97 == 0 then
        local event = { who = e, text = e.name .. " hit at " .. f, frame = f }
        e.hits = e.hits + 1
        events = events + 1
      end
      e.pos = next
    end
    collectgarbage("step")
  end
  local hits = 0
  for i = 0, count - 1 do
    hits = (hits + world[i].hits * (i + 1)) % 1000003
  end
  print(string.format("gcframes %d %d %d %d", count, frames, events, hits))
end

run(1000, 1500)
