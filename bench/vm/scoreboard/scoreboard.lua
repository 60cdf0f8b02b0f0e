-- scoreboard: the text side of a game (mirrors scoreboard.qv): every frame the scores
-- change, the players are sorted by score and name, and a HUD line and a scoreboard are
-- built by concatenation and formatting. Every text is looked up in a table of the texts
-- seen so far, so the checksum depends on every character built.

function better(a, b)
  if a.score ~= b.score then
    return a.score > b.score
  end
  return a.name < b.name
end

function note(texts, text)
  local id = texts.seen[text]
  if id == nil then
    id = texts.distinct
    texts.seen[text] = id
    texts.distinct = texts.distinct + 1
  end
  texts.check = (texts.check * 31 + id) % 1000003
end

function run(players, frames)
  local entries = {}
  local order = {}
  for i = 0, players - 1 do
    entries[i] = { name = "player" .. i, score = 0, best = 0, lives = 3 }
    order[i] = entries[i]
  end
  local seed = 777
  local texts = { seen = {}, distinct = 0, check = 0 }
  for f = 0, frames - 1 do
    for i = 0, players - 1 do
      seed = (seed * 75 + 74) % 65537
      local e = entries[i]
      e.score = e.score + seed % 50
      if seed % 97 == 0 then
        e.lives = e.lives - 1
        if e.lives == 0 then
          e.lives = 3
          e.score = 0
        end
      end
      if e.score > e.best then
        e.best = e.score
      end
    end
    for i = 1, players - 1 do
      local e = order[i]
      local j = i - 1
      while j >= 0 and better(e, order[j]) do
        order[j + 1] = order[j]
        j = j - 1
      end
      order[j + 1] = e
    end
    local top = order[0]
    note(texts, "Score: " .. top.score .. "  Lives: " .. top.lives .. "  Time: " ..
                math.floor(f / 30) .. ":" .. (f % 30) .. "  Leader: " .. top.name)
    local board = string.format("Frame %d (%f s)\n", f, f * 0.03125)
    for r = 0, players - 1 do
      local e = order[r]
      board = board .. string.format("%d. %s %d/%d x%d #%x\n", r + 1, e.name, e.score, e.best, e.lives, e.score)
    end
    note(texts, board)
  end
  local top = order[0]
  print(string.format("scoreboard %d %d %s %d/%d", texts.distinct, texts.check, top.name, top.score, top.best))
end

run(16, 12000)
