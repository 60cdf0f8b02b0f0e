-- gcfull: a level's worth of live data, collected in full again and again (mirrors
-- gcfull.qv): 200 000 small entity tables, each with a nested position table, a name shared
-- with many others and a tag string of its own. Nothing becomes garbage.

function run(count, rounds)
  local heap = {}
  for i = 0, count - 1 do
    heap[i] = { id = i, name = "unit" .. (i % 5000), tag = "e" .. i, pos = { x = i % 7, y = i % 11 } }
  end
  local collections = 0
  for r = 0, rounds - 1 do
    collectgarbage("collect")
    collections = collections + 1
  end
  local sum = 0
  for i = 0, count - 1 do
    local e = heap[i]
    sum = (sum + e.id + e.pos.x * 3 + e.pos.y) % 1000003
  end
  print(string.format("gcfull %d %d %d %s %s", count, collections, sum, heap[4321].name, heap[count - 1].tag))
end

run(200000, 20)
