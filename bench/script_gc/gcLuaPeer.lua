-- The heaps of gmGCBench.cpp in Lua 5.4: heap[i] = { x = i } for i in 1..count, held by a
-- global, then a full collection with everything live and one with everything dead.
-- Usage: lua5.4 gcLuaPeer.lua [count]
local count = tonumber(arg[1]) or 1000000
local runs = 5

local function build()
  local t = {}
  for i = 1, count do t[i] = { x = i } end
  return t
end

heap = build()
collectgarbage("collect")
local best = math.huge
for _ = 1, runs do
  local start = os.clock()
  collectgarbage("collect")
  best = math.min(best, os.clock() - start)
end
print(string.format("  full collection, %d live tables: %.1f ms (best of %d), %.1f MB in use",
  count, best * 1000, runs, collectgarbage("count") / 1024))

best = math.huge
for _ = 1, 3 do
  heap = build()
  collectgarbage("collect")
  heap = nil
  local start = os.clock()
  collectgarbage("collect")
  best = math.min(best, os.clock() - start)
end
print(string.format("  full collection, %d dead tables: %.1f ms (best of 3)", count, best * 1000))
