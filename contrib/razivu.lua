-- Wireshark dissector for the razivu RPC wire format.
--
-- A message (a call or a reply) is a run of fields with nothing between them.
-- A field is a type tag ("#" function name, "s" string, "i" integer, "b"
-- boolean, "r" return code, "a" byte array), a five-character length, "|",
-- then, except for a return code (whose length slot holds the code) and a
-- null value (length -1), the data and "|" again. Fields are reassembled
-- when TCP cuts them.
--
-- Use:   tshark -X lua_script:razivu.lua -r capture.pcap
-- or copy the file to ~/.local/lib/wireshark/plugins/ for Wireshark.
-- Connections are found by their first bytes; to name server ports, set
-- razivu.ports (Preferences > Protocols > RAZIVU, or -o razivu.ports:7000).
-- Calls are the bytes sent to the server, replies the bytes it sends back.

local razivu = Proto("razivu", "razivu RPC")

local header_len = 7
local max_data = 999   -- the decoders read at most this much data
local kinds = { ["#"] = "function", s = "string", i = "integer", b = "boolean",
                r = "return", a = "bytes" }

local f = {
    message = ProtoField.string("razivu.message", "Message"),
    field   = ProtoField.none("razivu.field", "Field"),
    tag     = ProtoField.string("razivu.tag", "Type tag"),
    kind    = ProtoField.string("razivu.kind", "Kind"),
    length  = ProtoField.int32("razivu.length", "Length"),
    value   = ProtoField.string("razivu.value", "Value"),
    number  = ProtoField.int32("razivu.number", "Number"),
    data    = ProtoField.bytes("razivu.data", "Data"),
}
razivu.fields = { f.message, f.field, f.tag, f.kind, f.length, f.value, f.number, f.data }

local e_not_field = ProtoExpert.new("razivu.not_field", "Not a razivu field",
                                    expert.group.MALFORMED, expert.severity.ERROR)
razivu.experts = { e_not_field }

razivu.prefs.ports = Pref.range("Server ports", "", "TCP ports razivu servers listen on", 65535)

local registered_ports = ""
function razivu.prefs_changed()
    local tcp = DissectorTable.get("tcp.port")
    if registered_ports ~= "" then tcp:remove(registered_ports, razivu) end
    registered_ports = razivu.prefs.ports
    if registered_ports ~= "" then tcp:add(registered_ports, razivu) end
end

-- A number as the decoders read it (C's atoi): blanks, a sign, digits.
local function atoi(text)
    return tonumber(text:match("^%s*([+-]?%d+)") or "0") or 0
end

-- The bytes a field takes, or nil and why it is not a field.
local function field_size(tvb, offset)
    local tag = tvb(offset, 1):string()
    if kinds[tag] == nil then return nil, "unknown type tag" end
    if tvb(offset + 6, 1):uint() ~= 124 then return nil, "no separator after the length" end
    local len = atoi(tvb(offset + 1, 5):string())
    if tag == "r" or len < 0 then return header_len, len end
    if len > max_data then return nil, "a length no decoder reads" end
    return header_len + len + 1, len
end

-- Server endpoints seen by the heuristic: "address:port" -> true.
local servers = {}

local function endpoint(addr, port) return tostring(addr) .. ":" .. port end

-- "call" for bytes a client sends, "reply" for the server's.
local function message_of(pinfo, first_tag)
    if pinfo.match_uint == pinfo.dst_port then return "call" end
    if pinfo.match_uint == pinfo.src_port then return "reply" end
    local src, dst = endpoint(pinfo.src, pinfo.src_port), endpoint(pinfo.dst, pinfo.dst_port)
    if servers[dst] then return "call" end
    if servers[src] then return "reply" end
    if first_tag == "#" then servers[dst] = true; return "call" end
    servers[src] = true
    return "reply"
end

-- The value as `razivu dump` shows it.
local function value_text(tag, tvb, offset, len)
    if tag == "r" then return tostring(len) end
    if len < 0 then return "null" end
    if len == 0 then return tag == "i" and "0" or "" end
    local data = tvb(offset + header_len, len)
    if tag == "a" then return data:bytes():tohex(true) end
    if tag == "b" then return tostring(data:uint(0, 1) - 48) end
    if tag == "i" then return tostring(atoi(data:string())) end
    return data:string()
end

local function add_field(tree, tvb, offset, size, len)
    local tag = tvb(offset, 1):string()
    local value = value_text(tag, tvb, offset, len)
    local item = tree:add(f.field, tvb(offset, size))
    item:set_text(kinds[tag] .. " " .. value)
    item:add(f.tag, tvb(offset, 1))
    item:add(f.kind, tvb(offset, 1), kinds[tag])
    item:add(f.length, tvb(offset + 1, 5), len)
    item:add(f.value, tvb(offset, size), value)
    if tag == "i" or tag == "b" or tag == "r" then
        item:add(f.number, tvb(offset, size), tonumber(value))
    elseif len > 0 then
        item:add(f.data, tvb(offset + header_len, len))
    end
    return tag, value
end

function razivu.dissector(tvb, pinfo, tree)
    local total = tvb:len()
    local offset = 0
    local summary = {}
    local root = nil
    while offset < total do
        if total - offset < header_len then
            pinfo.desegment_offset = offset
            pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
            break
        end
        local size, len_or_why = field_size(tvb, offset)
        if root == nil then
            root = tree:add(razivu, tvb(offset))
            local message = message_of(pinfo, tvb(offset, 1):string())
            root:add(f.message, tvb(offset, 1), message)
            pinfo.cols.protocol = "RAZIVU"
            pinfo.cols.info = message
        end
        if size == nil then
            root:add_proto_expert_info(e_not_field, "not a field at byte " .. offset .. ": " .. len_or_why)
            offset = total
            break
        end
        if total - offset < size then
            pinfo.desegment_offset = offset
            pinfo.desegment_len = size - (total - offset)
            break
        end
        local tag, value = add_field(root, tvb, offset, size, len_or_why)
        summary[#summary + 1] = tag == "#" and value or (tag .. " " .. value)
        offset = offset + size
    end
    if root ~= nil then
        pinfo.cols.info:append(" " .. table.concat(summary, ", "))
    end
    return total
end

-- Bytes that begin like a field header claim the conversation.
local function heuristic(tvb, pinfo, tree)
    if tvb:len() < header_len then return false end
    if field_size(tvb, 0) == nil and kinds[tvb(0, 1):string()] == nil then return false end
    if tvb(6, 1):uint() ~= 124 or not tvb(1, 5):string():match("^[ +%-%d]+$") then return false end
    pinfo.conversation = razivu
    razivu.dissector(tvb, pinfo, tree)
    return true
end
razivu:register_heuristic("tcp", heuristic)
