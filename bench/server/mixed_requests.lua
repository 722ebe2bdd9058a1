-- wrk: alternate "getversion" and "getdevices" on every connection.
local targets = { "/?action=getversion", "/?action=getdevices" }
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", targets[n % 2 + 1])
end
