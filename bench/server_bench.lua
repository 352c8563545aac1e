-- wrk script for server_bench: each wrk thread (one connection each) posts events to a session
-- of its own, as a clerk working in the post and rank window would: narrowing the proposed
-- post and rank lists while typing, and clicking the declaration in the list.
--
-- SHENBAO_SESSIONS names a file with one session per line: "COOKIE CSRF". As the browser does,
-- each request says which state version the thread holds (X-State-Version), so that answers
-- carry only what changed.

local sessions = {}
local file = assert(io.open(os.getenv("SHENBAO_SESSIONS"), "r"))
for line in file:lines() do
  local cookie, csrf = line:match("^(%S+) (%S+)$")
  if cookie then sessions[#sessions + 1] = {cookie = cookie, csrf = csrf} end
end
file:close()

local next_session = 0
function setup(thread)
  next_session = next_session + 1
  local s = sessions[(next_session - 1) % #sessions + 1]
  thread:set("cookie", s.cookie)
  thread:set("csrf", s.csrf)
end

local events = {
  '{"kind":"filter","target":"dw_4","row":1,"column":"ndzw","text":"副"}',
  '{"kind":"filter","target":"dw_4","row":1,"column":"ndzw","text":"01"}',
  '{"kind":"filter","target":"dw_4","row":1,"column":"ndzw","text":""}',
  '{"kind":"select","target":"dw_1","row":1}',
  '{"kind":"filter","target":"dw_4","row":1,"column":"ndjb","text":"县"}',
  '{"kind":"filter","target":"dw_4","row":1,"column":"ndjb","text":""}',
}
local counter = 0
local version = nil
local failures = 0

function request()
  counter = counter + 1
  local body = events[(counter - 1) % #events + 1]
  local headers = {
    ["Cookie"] = cookie,
    ["X-CSRF-Token"] = csrf,
    ["Content-Type"] = "application/json",
  }
  if version then headers["X-State-Version"] = version end
  return wrk.format("POST", "/api/event", headers, body)
end

function response(status, headers, body)
  if status ~= 200 then failures = failures + 1 end
  version = body:match('"version":(%d+)')
end
