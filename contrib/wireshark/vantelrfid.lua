-- Wireshark dissector for vantel-rfid link traces (pcapng files written by
-- the library with VANTEL_RFID_TRACE=FILE, by `vantel-rfid --trace FILE`
-- and by `vantel-rfid-sim --trace FILE`).
--
-- Install: copy this file into ~/.local/lib/wireshark/plugins/ (or pass
-- -X lua_script:vantelrfid.lua to wireshark or tshark).
--
-- Each packet is a 4-byte record head (version, direction, protocol,
-- family) and one frame of the reader link as it went over the line. The
-- dissector decodes the frame's head, length, command code (requests) or
-- status byte (replies), data and checksum for protocols 1, 2, 3 and 6,
-- and names the command a reply answers.

local vr = Proto("vantelrfid", "vantel-rfid reader link")

local directions = { [0] = "host to reader", [1] = "reader to host" }
local protocols = {
    [1] = "protocol 1 (AA BB, XOR)", [2] = "protocol 2 (acknowledged, XOR)",
    [3] = "protocol 3 (CRC-16)", [6] = "protocol 6 (XOR)",
}
local families = { [0] = "unknown", [1] = "first", [2] = "second" }

-- Reader commands, by their 16-bit code (sent low byte first).
local commands = {
    [0x0101] = "set baud rate", [0x0103] = "firmware version", [0x0104] = "model text / OTP serial",
    [0x0108] = "set card protocol", [0x010C] = "antenna on/off", [0x010D] = "buzzer",
    [0x010E] = "LEDs", [0x010F] = "LEDs (second set)", [0x0110] = "buzzer (extended)",
    [0x0114] = "display brightness", [0x0115] = "set date", [0x0117] = "display text",
    [0x0201] = "type A request", [0x0202] = "type A anticollision", [0x0203] = "type A select",
    [0x0204] = "halt", [0x0207] = "MIFARE authenticate (key)", [0x0208] = "MIFARE read block",
    [0x0209] = "MIFARE write block", [0x020A] = "MIFARE write value", [0x020B] = "MIFARE read value",
    [0x020C] = "MIFARE decrement", [0x020D] = "MIFARE increment", [0x020E] = "MIFARE restore",
    [0x020F] = "MIFARE transfer", [0x0210] = "type A activation (ISO 14443-4)",
    [0x0211] = "APDU exchange", [0x0212] = "type A wake and select", [0x0213] = "type A search",
    [0x0215] = "APDU batch", [0x0216] = "repeat last reply",
    [0x0301] = "type B request", [0x0303] = "CID card APDU", [0x0305] = "SAM message",
    [0x0306] = "SAM answer", [0x0403] = "SAM reset", [0x0404] = "pass-through",
    [0x0601] = "get machine id", [0x0602] = "set machine id", [0x0603] = "get serial number",
    [0x0604] = "set serial number", [0x0605] = "download key", [0x0606] = "MIFARE authenticate (stored key)",
    [0x0701] = "Ultralight request", [0x0702] = "Ultralight anticollision",
    [0x0703] = "Ultralight C authenticate", [0x0704] = "Ultralight write page",
    [0x0710] = "set Ultralight C key", [0x0711] = "set data encryption key",
    [0x0712] = "Ultralight C authenticate (stored key)",
    [0x0F01] = "set carrier", [0x0F02] = "echo (ping)", [0x0F05] = "power-off delay",
    [0x0F09] = "random bytes", [0x0F0A] = "headset jack state", [0x0F10] = "battery level",
    [0x0F30] = "packet size setting", [0x0F31] = "UART mode setting", [0x0F32] = "UART delay setting",
    [0x0F81] = "uplink frequency test", [0x7F31] = "set valid card types", [0x7F32] = "get valid card types",
    [0x0087] = "second family: card protocol", [0x008B] = "second family: SAM message",
}

-- First-family status bytes and the library's error codes for them.
local statuses = {
    [0x00] = "success", [0x0A] = "general error (-21)", [0x0B] = "no such command (-22)",
    [0x0C] = "wrong argument (-24)", [0x0D] = "no card found (-30)", [0x0E] = "reader chip fault (-31)",
    [0x14] = "request failed (-32)", [0x15] = "request failed (-32)", [0x16] = "authentication failed (-34)",
    [0x17] = "read failed (-35)", [0x18] = "write failed (-36)", [0x1E] = "key change failed (-52)",
    [0x1F] = "encrypted start page not set (-53)", [0x20] = "device id not written (-54)",
    [0x21] = "serial number not written (-55)", [0x22] = "key download failed (-56)",
    [0x23] = "no stored key (-57)", [0x24] = "stored key read error (-58)", [0x25] = "stored key read error (-58)",
    [0x8E] = "command length error", [0x8F] = "command type error", [0x90] = "time-out (no reply yet)",
    [0x91] = "request checksum error",
}

local f = vr.fields
f.version = ProtoField.uint8("vantelrfid.version", "Record version")
f.direction = ProtoField.uint8("vantelrfid.direction", "Direction", base.DEC, directions)
f.protocol = ProtoField.uint8("vantelrfid.protocol", "Link protocol", base.DEC, protocols)
f.family = ProtoField.uint8("vantelrfid.family", "Reader family", base.DEC, families)
f.head = ProtoField.bytes("vantelrfid.head", "Frame head")
f.encrypted = ProtoField.bool("vantelrfid.encrypted", "Enciphered")
f.length = ProtoField.uint16("vantelrfid.length", "Length")
f.node = ProtoField.uint16("vantelrfid.node", "Node", base.HEX)
f.cmd = ProtoField.uint16("vantelrfid.cmd", "Command", base.HEX, commands)
f.status = ProtoField.uint8("vantelrfid.status", "Status", base.HEX, statuses)
f.echo = ProtoField.uint16("vantelrfid.echo", "Command echo", base.HEX, commands)
f.reply_to = ProtoField.uint16("vantelrfid.reply_to", "Reply to command", base.HEX, commands)
f.request_frame = ProtoField.framenum("vantelrfid.request_frame", "Request in frame")
f.data = ProtoField.bytes("vantelrfid.data", "Data")
f.checksum = ProtoField.uint16("vantelrfid.checksum", "Checksum", base.HEX)
f.checksum_good = ProtoField.bool("vantelrfid.checksum_good", "Checksum good")
f.trailer = ProtoField.uint8("vantelrfid.trailer", "Trailer", base.HEX)

local e_checksum = ProtoExpert.new("vantelrfid.bad_checksum", "Bad checksum", expert.group.CHECKSUM, expert.severity.ERROR)
local e_short = ProtoExpert.new("vantelrfid.short", "Frame cut short", expert.group.MALFORMED, expert.severity.ERROR)
vr.experts = { e_checksum, e_short }

-- CRC-16/MODBUS over a range of the buffer.
local function crc16(tvb, offset, length)
    local crc = 0xFFFF
    for i = offset, offset + length - 1 do
        crc = bit.bxor(crc, tvb(i, 1):uint())
        for _ = 1, 8 do
            if bit.band(crc, 1) ~= 0 then
                crc = bit.bxor(bit.rshift(crc, 1), 0xA001)
            else
                crc = bit.rshift(crc, 1)
            end
        end
    end
    return crc
end

local function xor_of(tvb, offset, length)
    local x = 0
    for i = offset, offset + length - 1 do x = bit.bxor(x, tvb(i, 1):uint()) end
    return x
end

-- The last request before each reply, found on the first pass in frame order.
local last_request = { frame = nil, cmd = nil }
local answers = {}

local function note_request(pinfo, cmd)
    if not pinfo.visited then last_request = { frame = pinfo.number, cmd = cmd } end
end

local function note_reply(pinfo, tree, tvb)
    if not pinfo.visited then answers[pinfo.number] = last_request end
    local request = answers[pinfo.number]
    if request and request.cmd then
        tree:add(f.reply_to, tvb(0, 0), request.cmd):set_generated()
        tree:add(f.request_frame, tvb(0, 0), request.frame):set_generated()
        return request.cmd
    end
end

local function add_checksum(tree, pinfo, range, good, computed)
    local item = tree:add_le(f.checksum, range)
    if computed then item:append_text(string.format(" (computed 0x%04x)", computed)) end
    tree:add(f.checksum_good, range, good):set_generated()
    if not good then tree:add_proto_expert_info(e_checksum) end
end

local function command_text(cmd)
    return string.format("0x%04X %s", cmd, commands[cmd] or "")
end

local function status_text(status)
    return string.format("status 0x%02X %s", status, statuses[status] or "")
end

-- A request body: command code (low byte first), then data.
local function request_body(tvb, tree, pinfo, offset, length)
    if length < 2 then
        tree:add_proto_expert_info(e_short)
        return "(short body)"
    end
    local cmd = tvb(offset, 2):le_uint()
    tree:add_le(f.cmd, tvb(offset, 2))
    if length > 2 then tree:add(f.data, tvb(offset + 2, length - 2)) end
    note_request(pinfo, cmd)
    return command_text(cmd)
end

-- A reply body: status, then data.
local function reply_body(tvb, tree, pinfo, offset, length)
    if length < 1 then
        tree:add_proto_expert_info(e_short)
        return "(short body)"
    end
    local status = tvb(offset, 1):uint()
    tree:add(f.status, tvb(offset, 1))
    if length > 1 then tree:add(f.data, tvb(offset + 1, length - 1)) end
    local cmd = note_reply(pinfo, tree, tvb)
    return status_text(status) .. (cmd and (" to " .. command_text(cmd)) or "")
end

-- Protocol 3: 02|42 02 len(lo,hi) body crc(lo,hi), and 55 from the host.
local function protocol3(tvb, tree, pinfo, to_reader)
    local n = tvb:len()
    if n < 6 then tree:add_proto_expert_info(e_short) return "(short frame)" end
    tree:add(f.head, tvb(0, 2))
    tree:add(f.encrypted, tvb(0, 1), tvb(0, 1):uint() == 0x42)
    local length = tvb(2, 2):le_uint()
    tree:add_le(f.length, tvb(2, 2))
    if 4 + length + 2 > n then tree:add_proto_expert_info(e_short) return "(cut short)" end
    local text = to_reader and request_body(tvb, tree, pinfo, 4, length) or reply_body(tvb, tree, pinfo, 4, length)
    local computed = crc16(tvb, 2, length + 2)
    add_checksum(tree, pinfo, tvb(4 + length, 2), computed == tvb(4 + length, 2):le_uint(), computed)
    if to_reader and n > 4 + length + 2 then tree:add(f.trailer, tvb(4 + length + 2, 1)) end
    return text
end

-- Protocol 6 from the host: 02 02 body xor 55; the body is code, one or two
-- length bytes, data, except the echo 02 0F ... and the repeat request 16 02.
local function protocol6_request(tvb, tree, pinfo)
    local n = tvb:len()
    if n < 5 then tree:add_proto_expert_info(e_short) return "(short frame)" end
    tree:add(f.head, tvb(0, 2))
    local body, size = 2, n - 4
    local text
    local first, second = tvb(2, 1):uint(), tvb(3, 1):uint()
    if (first == 0x16 and second == 0x02 and size == 2) or (first == 0x02 and second == 0x0F) then
        text = request_body(tvb, tree, pinfo, body, size)
    else
        tree:add(f.cmd, tvb(2, 1), first)
        local length_bytes = (second + 2 == size) and 1 or 2
        tree:add(f.length, tvb(3, length_bytes), tvb(3, length_bytes):uint())
        if size > 1 + length_bytes then tree:add(f.data, tvb(body + 1 + length_bytes, size - 1 - length_bytes)) end
        note_request(pinfo, first)
        text = command_text(first)
    end
    local computed = xor_of(tvb, 1, size + 1)
    add_checksum(tree, pinfo, tvb(n - 2, 1), computed == tvb(n - 2, 1):uint())
    tree:add(f.trailer, tvb(n - 1, 1))
    return text
end

-- Protocol 6 from the reader: 02 form status L data xor (form 42: L is two
-- bytes, high first).
local function protocol6_reply(tvb, tree, pinfo)
    local n = tvb:len()
    if n < 5 then tree:add_proto_expert_info(e_short) return "(short frame)" end
    tree:add(f.head, tvb(0, 2))
    local length_bytes = tvb(1, 1):uint() == 0x42 and 2 or 1
    local length = tvb(3, length_bytes):uint()
    tree:add(f.length, tvb(3, length_bytes), length)
    local data_at = 3 + length_bytes
    if data_at + length + 1 > n then tree:add_proto_expert_info(e_short) return "(cut short)" end
    local status = tvb(2, 1):uint()
    tree:add(f.status, tvb(2, 1))
    if length > 0 then tree:add(f.data, tvb(data_at, length)) end
    local cmd = note_reply(pinfo, tree, tvb)
    local computed = xor_of(tvb, 1, data_at + length - 1)
    add_checksum(tree, pinfo, tvb(data_at + length, 1), computed == tvb(data_at + length, 1):uint())
    return status_text(status) .. (cmd and (" to " .. command_text(cmd)) or "")
end

-- Protocol 1: AA BB len(lo,hi), a 00 stuffed after every AA of what follows.
local function protocol1(tvb, tree, pinfo, to_reader)
    local n = tvb:len()
    if n < 7 then tree:add_proto_expert_info(e_short) return "(short frame)" end
    tree:add(f.head, tvb(0, 2))
    tree:add_le(f.length, tvb(2, 2))
    -- Unstuff the rest into a new buffer.
    local bytes = ByteArray.new()
    local i = 4
    while i < n do
        local b = tvb(i, 1):uint()
        bytes:append(tvb(i, 1):bytes())
        i = i + ((b == 0xAA) and 2 or 1)
    end
    local plain = bytes:tvb("Unstuffed frame")
    local m = plain:len()
    if m < 3 then tree:add_proto_expert_info(e_short) return "(cut short)" end
    tree:add_le(f.node, plain(0, 2))
    local text
    if to_reader then
        text = request_body(plain, tree, pinfo, 2, m - 3)
        local computed = xor_of(tvb, 3, n - 4)
        add_checksum(tree, pinfo, tvb(n - 1, 1), computed == tvb(n - 1, 1):uint())
    else
        if m < 6 then tree:add_proto_expert_info(e_short) return "(cut short)" end
        tree:add_le(f.echo, plain(2, 2))
        text = reply_body(plain, tree, pinfo, 4, m - 5)
        add_checksum(tree, pinfo, plain(m - 1, 1), xor_of(plain, 1, m - 1) == 0)
    end
    return text
end

-- Protocol 2 from the host: 01 b0 n-1 b1.. xor 10 03 (no reply frames).
local function protocol2(tvb, tree, pinfo)
    local n = tvb:len()
    if n < 6 then tree:add_proto_expert_info(e_short) return "(short frame)" end
    tree:add(f.head, tvb(0, 1))
    local rest = tvb(2, 1):uint()
    tree:add(f.length, tvb(2, 1), rest)
    if 3 + rest + 3 > n then tree:add_proto_expert_info(e_short) return "(cut short)" end
    local body = ByteArray.new()
    body:append(tvb(1, 1):bytes())
    if rest > 0 then body:append(tvb(3, rest):bytes()) end
    local text = request_body(body:tvb("Body"), tree, pinfo, 0, rest + 1)
    add_checksum(tree, pinfo, tvb(3 + rest, 1), xor_of(tvb, 0, 3 + rest) == tvb(3 + rest, 1):uint())
    return text
end

function vr.dissector(tvb, pinfo, root)
    if tvb:len() < 4 then return 0 end
    pinfo.cols.protocol = "VANTELRFID"
    local tree = root:add(vr, tvb())
    tree:add(f.version, tvb(0, 1))
    tree:add(f.direction, tvb(1, 1))
    tree:add(f.protocol, tvb(2, 1))
    tree:add(f.family, tvb(3, 1))
    local to_reader = tvb(1, 1):uint() == 0
    local protocol = tvb(2, 1):uint()
    local frame = tvb(4):tvb()
    local text
    if protocol == 3 then
        text = protocol3(frame, tree, pinfo, to_reader)
    elseif protocol == 6 then
        text = to_reader and protocol6_request(frame, tree, pinfo) or protocol6_reply(frame, tree, pinfo)
    elseif protocol == 1 then
        text = protocol1(frame, tree, pinfo, to_reader)
    elseif protocol == 2 and to_reader then
        text = protocol2(frame, tree, pinfo)
    else
        text = "(unknown protocol)"
    end
    pinfo.cols.info = (to_reader and "host > reader  " or "reader > host  ") .. text
    return tvb:len()
end

function vr.init()
    last_request = { frame = nil, cmd = nil }
    answers = {}
end

local encap = wtap_encaps and wtap_encaps.USER0 or wtap.USER0
DissectorTable.get("wtap_encap"):add(encap, vr)
