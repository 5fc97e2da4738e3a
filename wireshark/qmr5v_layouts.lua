-- The QMR5V controller's messages in Wireshark: the layouts of the
-- messages (which field follows which, what a CMD bit or a sub-command makes
-- follow), the finding of the controller among the USB devices, and the
-- protocol's registration.
--
-- The build puts this file behind the tables that it writes from the
-- decoder's own tables, in one file, qmr5v.lua; they are the local G:
--   G.instructions[code] = {name = "Data", pc = FIELDS, controller = FIELDS}
--     (false for a direction that no decoder reads)
--   FIELDS = {{name = "NBR", width = 4, meaning = "%d pulses"},
--             {name = "CMD", width = 1, codes = {[0x00] = "Reset", ...},
--              unknown = "ERROR: Unknown command"},
--             {name = "FLAG", width = 1, bits = {{3, "Source:USB", "Source:Flash"}, ...}},
--             {name = "Version", width = 11, text = true}, ...}
--     every field a direction's messages may hold, as the decoder describes
--     it: its name, its width, the form of its meaning, its code texts with
--     the error for a code they do not name, its bit rows (false: no row);
--   G.say = {unknown_instruction = "ERROR: Unknown instruction...",
--            no_parameters = "No paramters", axis = "Axe=%d", ...}
--     the texts that the decoders write beside the fields' own (the error
--     of a code no instruction has, the lines and errors the layouts
--     choose), without the report's layout around them.
-- A text fixed in the decoder's tables is thus fixed here too. Only the Lua
-- API that Wireshark 4.0 to 4.4 share is used: no bit32, no integer
-- division operator, no bitwise operators.

-- The one text of the layouts that no decoder writes: the name of a
-- message whose code no instruction has.
local S = G.say
S.unknown_instruction_name = "Unknown instruction"

---------------------------------------------------------------------------
-- The protocol and its fields

local qmr5v = Proto("qmr5v", "QMR5V stepper-motor controller")

-- "qmr5v.<instruction>.<field>": lower case, every run of other characters
-- as one "_" ("PWM max" gives pwm_max, "Buffer Management" buffer_management).
local function filter_name(name)
    return (name:lower():gsub("[^%l%d]+", "_"):gsub("^_+", ""):gsub("_+$", ""))
end

local number_field = {
    [1] = ProtoField.uint8, [2] = ProtoField.uint16, [3] = ProtoField.uint24, [4] = ProtoField.uint32,
}

local f_code = ProtoField.uint8("qmr5v.code", "Instruction", base.HEX)
local f_from = ProtoField.string("qmr5v.from", "From")
local all_fields = {f_code, f_from}

-- The boolean field of a bit row, under its field's name, named after the
-- row's text for a 1 (its text for a 0 when it has none): true when the
-- text it is named after applies ("qmr5v.data.flag.motors_on",
-- "qmr5v.data.cmd.s3_reversed").
-- A bit row's key: its bit and texts, the same in both directions.
local function row_key(row) return row[1] .. "|" .. tostring(row[2]) .. "|" .. tostring(row[3]) end

-- Adds the bit fields of description d to `fields` (by row_key), made
-- under `abbr`.
local function bit_fields(abbr, d, fields)
    fields = fields or {taken = {}}
    for _, row in ipairs(d.bits or {}) do
        local key = row_key(row)
        if not fields[key] then
            local text = row[2] or row[3]
            local name = abbr .. "." .. filter_name(text)
            if fields.taken[name] then name = name .. "_bit" .. row[1] end
            fields.taken[name] = true
            local labels = row[2] and {row[2], row[3] or ("not " .. row[2])} or {row[3], "not " .. row[3]}
            fields[key] = ProtoField.bool(name, text, 8 * d.width, labels, 2 ^ row[1])
            all_fields[#all_fields + 1] = fields[key]
        end
    end
    return fields
end

-- described[code][direction][name]: the field's description, with its
-- ProtoField, the decimal field of its quantity (".value"), of a Data
-- message's move (".move") and its bit fields. Both directions of an
-- instruction share a filter name for a field of the same name and kind
-- ("qmr5v.data.nbr").
local described = {}
local codes = {}
for code in pairs(G.instructions) do codes[#codes + 1] = code end
table.sort(codes) -- the fields registered in the order of the codes
for _, code in ipairs(codes) do
    local instruction = G.instructions[code]
    local stem = "qmr5v." .. filter_name(instruction.name) .. "."
    local shared = {}
    described[code] = {}
    for _, direction in ipairs({"pc", "controller"}) do
        local by_name = {}
        for _, d in ipairs(instruction[direction] or {}) do
            local kind = d.text and "text" or d.width
            local same = shared[d.name]
            if not same or same.kind ~= kind then
                local abbr = stem .. filter_name(d.name)
                if same then abbr = abbr .. "_" .. direction end
                local f = d.text and ProtoField.string(abbr, d.name) or number_field[d.width](abbr, d.name, base.HEX)
                all_fields[#all_fields + 1] = f
                same = {kind = kind, field = f, abbr = abbr, bit_fields = bit_fields(abbr, d)}
                if d.quantity then
                    same.value_field = ProtoField.int32(abbr .. ".value",
                        d.name .. " value" .. (d.unit and (" (" .. d.unit .. ")") or ""), base.DEC)
                    all_fields[#all_fields + 1] = same.value_field
                end
                if code == 0x44 and direction == "pc" and d.name:match("^S%d$") then
                    same.move_field = ProtoField.int32(abbr .. ".move", d.name .. " move (steps, signed by CMD)", base.DEC)
                    all_fields[#all_fields + 1] = same.move_field
                end
                shared[d.name] = same
            else
                bit_fields(same.abbr, d, same.bit_fields)
            end
            by_name[d.name] = setmetatable({field = same.field, value_field = same.value_field,
                                            move_field = same.move_field, bit_fields = same.bit_fields},
                                           {__index = d})
        end
        described[code][direction] = by_name
    end
end
qmr5v.fields = all_fields

-- One expert field for each kind of error, "qmr5v.error.<kind>": the kinds
-- of vornlog's JSON Lines and summary. Each is a value without a meaning in
-- a message that is read whole (a short one too), so the group is
-- Protocol, never Malformed.
local e_kinds = {}
local all_experts = {}
local kind_names = {}
for form, kind in pairs(G.kinds) do kind_names[#kind_names + 1] = form end
table.sort(kind_names)
for _, form in ipairs(kind_names) do
    local kind = G.kinds[form]
    e_kinds[kind.name] = ProtoExpert.new("qmr5v.error." .. kind.name, kind.meaning,
        expert.group.PROTOCOL, expert.severity.WARN)
    all_experts[#all_experts + 1] = e_kinds[kind.name]
end
local e_short = ProtoExpert.new("qmr5v.short", "Past the end of the message",
    expert.group.PROTOCOL, expert.severity.NOTE)
all_experts[#all_experts + 1] = e_short
qmr5v.experts = all_experts

---------------------------------------------------------------------------
-- Reading a message: bytes in message order, little-endian values, bytes
-- past the end of the message read as 0 (as the decoder reads them).

local function bit_of(value, n) return math.floor(value / 2 ^ n) % 2 end

local function signed32(v) if v >= 0x80000000 then return v - 0x100000000 end return v end

-- Integer division truncated toward zero.
local function quotient(a, b)
    local q = math.floor(math.abs(a) / b)
    if a < 0 then return -q end
    return q
end

local function pwm_percent(v) return v, math.floor(v * 100 / 255) end

local Message = {}
Message.__index = Message

local function new_message(tvb, tree, code, direction)
    return setmetatable({tvb = tvb, tree = tree, code = code, fields = described[code][direction], pos = 1}, Message)
end

-- Byte `index` of the message (0 past its end), the read position unmoved.
function Message:byte(index)
    if index < self.tvb:len() then return self.tvb(index, 1):uint() end
    return 0
end

-- The range of `width` bytes at the read position as far as the message
-- holds them (nil when it holds none), and their bytes.
function Message:take(width)
    local have = math.max(0, math.min(width, self.tvb:len() - self.pos))
    local range = have > 0 and self.tvb(self.pos, have) or nil
    local bytes = {}
    for i = 0, width - 1 do bytes[i + 1] = self:byte(self.pos + i) end
    self.pos = self.pos + width
    return range, bytes, have < width
end

function Message:skip(width) self.pos = self.pos + width end

-- An error on `item`, its expert field that of its kind, which its form
-- (the text before its values are filled in) names.
local function add_error(item, text, form)
    item:add_proto_expert_info(e_kinds[G.kinds[form or text].name], text)
end

function Message:error(item, text, form) add_error(item, text, form) end

local function conversions(form)
    local count = 0
    for c in form:gmatch("%%(.)") do if c ~= "%" then count = count + 1 end end
    return count
end

-- Reads field `name` and adds it under the message: "NBR: 0x000003E8 ->
-- 1000 pulses", then its bit rows. Its meaning is its code's text, or the
-- form of its meaning, filled by `how.args(value)` (the value itself by
-- default); `how.text` gives a meaning the layout chose, `how.error` an
-- error text in its place; `how.show` replaces the value shown (a status
-- the report normalises). Returns the value and the item.
function Message:field(name, how)
    how = how or {}
    local d = self.fields[name]
    local range, bytes, short = self:take(d.width)
    local value = 0
    for i = d.width, 1, -1 do value = value * 256 + bytes[i] end
    if how.show then value = how.show end
    local item = range and self.tree:add(d.field, range, value) or self.tree:add(d.field, value)

    local text, err, err_form = how.text, how.error, how.error_form
    local shown -- the values that the meaning's form shows
    if not text and not err then
        local form = d.meaning
        if d.codes then
            form = d.codes[value]
            if not form then err = d.unknown end
        end
        if form and form ~= "" then
            if conversions(form) > 0 then
                shown = {(how.args or function(v) return v end)(value)}
                text = string.format(form, (table.unpack or unpack)(shown))
            else
                text = form
            end
        end
    end
    -- A quantity: the number that the field's own meaning shows (or that
    -- the layout gives with the meaning it chose).
    local quantity = how.quantity
    if quantity == nil and d.quantity and shown and not how.text and not how.error and d.codes == nil then
        quantity = shown[d.quantity]
    end
    local label = string.format("%s: 0x%0" .. (2 * d.width) .. "X", name, value)
    if text or err then label = label .. " -> " .. (text or err) end
    item:set_text(label)
    if quantity ~= nil then
        local add = range and function(f, v) return item:add(f, range, v) end or function(f, v) return item:add(f, v) end
        add(d.value_field, quantity):set_generated()
        if d.move_field and how.move then add(d.move_field, how.move(value)):set_generated() end
    end
    if err then self:error(item, err, err_form) end
    if short then item:add_proto_expert_info(e_short, "Past the end of the message: read as 0") end
    if self.summary == nil then self.summary = text or err or false end
    if d.bits and how.bits ~= false then self:bits(item, value, d.bits, range, d.bit_fields) end
    return value, item, range
end

-- Characters written raw by the report, shown with escapes for the bytes
-- that are not printable.
local function printable(bytes, count)
    local out = {}
    for i = 1, count do
        local b = bytes[i]
        out[i] = (b >= 0x20 and b < 0x7F) and string.char(b) or string.format("\\x%02X", b)
    end
    return table.concat(out)
end

-- Reads the characters of field `name`, `count` of them (its width when
-- not given); `empty` is shown instead when the first is 0.
function Message:text(name, count, empty)
    local d = self.fields[name]
    count = count or d.width
    local range, bytes = self:take(count)
    local value = printable(bytes, count)
    if empty and bytes[1] == 0 then value = empty end
    local item = range and self.tree:add(d.field, range, value) or self.tree:add(d.field, value)
    item:set_text(name .. ": " .. value)
    if self.summary == nil then self.summary = value end
    return item
end

-- The bit rows of `value` under `item`, one for each row that has a text
-- for the bit's value: ".... 1... = Source:USB", each its boolean field.
function Message:bits(item, value, rows, range, fields)
    for _, row in ipairs(rows) do
        local n = row[1]
        local set = bit_of(value, n)
        local text
        if set == 1 then text = row[2] else text = row[3] end
        if text then
            local mask = {}
            for k = 7, 0, -1 do
                mask[#mask + 1] = (k == n) and tostring(set) or "."
                if k == 4 then mask[#mask + 1] = " " end
            end
            local label = table.concat(mask) .. " = " .. text
            -- True when the text the field is named after applies.
            local applies = (row[2] and set == 1) or (not row[2] and set == 0)
            local f, v = fields[row_key(row)], applies and 2 ^ n or 0
            local row_item = range and item:add(f, range, v) or item:add(f, v)
            row_item:set_text(label)
        end
    end
end

-- A line of the report that is no field ("No paramters").
function Message:line(text, parent)
    return (parent or self.tree):add(text)
end

---------------------------------------------------------------------------
-- The layouts: one function for each instruction and direction, reading
-- the fields after the instruction code in message order.

local layouts = {}

-- The status block of the Data and Information replies.
local function status_reply(m)
    if m.code == 0x49 then -- any ST but 0 is shown as 0xFF
        m:field("ST", {show = m:byte(1) == 0 and 0x00 or 0xFF})
    else
        m:field("ST")
    end
    m:field("BUF", {args = function(v) return math.floor(v * 100 / 7) end})
    for _, name in ipairs({"SEG", "FLAG", "INPUT"}) do m:field(name) end
    m:field("PWMA", {args = pwm_percent})
    m:field("PWMM", {args = pwm_percent})
    m:field("KEYB")
    m:field("STOP")
    m:field("NBR", {args = signed32})
end

local function steps(v) return quotient(signed32(v), 2) end

layouts[0x44] = {
    pc = function(m)
        local cmd = m:byte(1)
        if bit_of(cmd, 7) == 1 then -- the end of the data: its bit alone, nothing follows
            local _, item, range = m:field("CMD", {bits = false})
            local last = m.fields.CMD.bits[#m.fields.CMD.bits]
            m:bits(item, cmd, {last}, range, m.fields.CMD.bit_fields)
            m.summary = last[2]
            return
        end
        m:field("CMD")
        m.summary = nil -- the pulses tell more
        m:field("NBR", {args = signed32})
        for n = 1, 5 do
            local bit = bit_of(cmd, n - 1) -- 0: the axis reversed, its move negative
            m:field("S" .. n, {args = steps, move = function(v) return bit == 1 and steps(v) or -steps(v) end})
        end
        if bit_of(cmd, 6) == 1 then m:field("PWM", {args = pwm_percent}) end
        if bit_of(cmd, 5) == 1 then
            m:field("F_ACC")
            m:field("F_DEC")
            m:field("NBR_DEC", {args = signed32})
        end
    end,
    controller = status_reply,
}

layouts[0x49] = {
    pc = function(m) m:line(S.no_parameters) end,
    controller = status_reply,
}

layouts[0x42] = {
    pc = function(m)
        local cmd = m:field("CMD")
        if cmd == 0x02 then -- the place in the flash memory the segments come from
            m:field("BCK")
            m:field("ADR")
        end
    end,
    controller = function(m) m:field("RET", {show = m:byte(1) == 0 and 0x00 or 0xFF}) end,
}

layouts[0x53] = {
    pc = function(m) m:field("CMD") end,
    controller = function(m)
        m:field("RET")
        m:field("SEG")
        m:field("NBR", {args = signed32})
    end,
}

-- MOFF: 0 is its code's text, 1 to 127 a delay in its meaning's form,
-- anything above its error.
local function moff(m, v)
    if v >= 1 and v <= 127 then return {text = string.format(m.fields.MOFF.meaning, v), quantity = v} end
    return {}
end

-- The three parts of a table, one layout for both directions.
local function low_part(m)
    m:text("Table name", nil, S.empty_name)
    for n = 1, 5 do m:field("A" .. n) end
    -- OUTn's meaning is the axis of bits 0 to 2, its signal bits follow.
    for n = 1, 10 do
        local v = m:byte(m.pos)
        local axis = v % 8
        if axis == 0 then
            m:field("OUT" .. n, {text = S.axis_not_used, bits = false})
        elseif axis > 5 then
            m:field("OUT" .. n, {error = string.format(S.axis_invalid, axis), error_form = S.axis_invalid, bits = false})
        else
            m:field("OUT" .. n, {text = string.format(S.axis, axis)})
        end
    end
    m:field("FREQ", {args = function(v) return v * 10 end})
    local slope = m:byte(m.pos)
    m:field("SLOPE", slope <= 0x0F and {} or {error = S.invalid_slope})
    m:field("PWM max", {args = pwm_percent})
    m:field("MOFF", moff(m, m:byte(m.pos)))
    m:field("FLAGS")
    m:field("IO1")
    m:field("LANG")
end

local function high_part(m)
    local per_mm = {}
    for n = 1, 5 do per_mm[n] = m:field("S" .. n) end
    -- An axis without steps for 1 mm shows no speeds; their bytes are read.
    for _, form in ipairs({"V%dM", "V%dMA"}) do
        for n = 1, 5 do
            if per_mm[n] == 0 then
                m:skip(2)
            else
                m:field(string.format(form, n), {args = function(v) return v, v / per_mm[n] end})
            end
        end
    end
end

local function upper_part(m)
    for n = 1, 5 do m:field("ORI" .. n) end
end

local table_parts = {[0x03] = low_part, [0x04] = low_part, [0x05] = high_part, [0x06] = high_part,
                     [0x07] = upper_part, [0x08] = upper_part}

layouts[0x54] = {
    pc = function(m)
        local number = m:byte(2) -- the table a sub-command names
        local cmd = m:field("CMD", {args = function() return number end})
        if not m.fields.CMD.codes[cmd] then return end
        if cmd == 0x01 then
            m:field("NBR", number <= 2 and {} or
                {error = string.format(S.invalid_table_number, number), error_form = S.invalid_table_number})
        else
            m:skip(1)
        end
        if cmd % 2 == 0 and table_parts[cmd] then table_parts[cmd](m) end
    end,
    controller = function(m)
        local first, number = m:byte(1), m:byte(2)
        -- A status shows as RET, an echoed read sub-command as CMD.
        local name = (first == 0x00 or first == 0xFF) and "RET" or "CMD"
        m:field(name, {args = function() return number end})
        if not m.fields[name].codes[first] then return end
        m:skip(1)
        if first % 2 == 1 and table_parts[first] then table_parts[first](m) end
    end,
}

layouts[0x47] = {
    pc = function(m)
        if m:field("CMD") == 0x03 then m:field("VAL") end
    end,
    controller = function(m)
        m:field("RET")
        m:field("VAL")
    end,
}

layouts[0x4D] = {
    pc = function(m)
        if m:field("CMD") == 0x03 then m:field("MOFF", moff(m, m:byte(2))) end
    end,
    controller = function(m)
        m:field("RET")
        m:field("MOFF", moff(m, m:byte(2)))
    end,
}

layouts[0x4F] = {
    pc = function(m) m:field("CMD") end,
    controller = function(m) m:field("RET") end,
}

layouts[0x50] = {
    pc = function(m)
        local cmd = m:field("CMD")
        if cmd == 0x00 or cmd == 0x01 then m:field("VAL", {args = pwm_percent}) end
    end,
    controller = function(m)
        m:field("ST")
        m:field("AMO")
        m:field("PWMA", {args = pwm_percent})
        m:field("PWMM", {args = pwm_percent})
    end,
}

-- LCD: byte 1 is a line code (a string follows) or a command code.
local function bounded(v, low, high, error_form)
    if v >= low and v <= high then return {} end
    return {error = string.format(error_form, v, v), error_form = error_form}
end

layouts[0x4C] = {
    pc = function(m)
        if m.fields.LINE.codes[m:byte(1)] then
            m:field("LINE")
            m:field("POS", bounded(m:byte(2), 0, 19, S.invalid_position))
            local length = m:field("LEN", bounded(m:byte(3), 1, 20, S.invalid_length))
            m:text("STRING", length)
            return
        end
        if m:field("CMD") == 0x06 then
            m:field("CHAR", bounded(m:byte(2), 0, 7, S.invalid_character))
            for row = 0, 7 do m:field("C" .. row) end
        end
    end,
    controller = function(m) m:field("RET") end,
}

layouts[0x5A] = {
    pc = function(m)
        if m:byte(1) + 256 * m:byte(2) ~= 0xAA55 then
            m:field("Reset sequence", {error = S.no_reset_sequence})
            return
        end
        m:field("Reset sequence")
        m:field("BLDR")
    end,
}

layouts[0x56] = {
    pc = function(m) m:line(S.no_parameters) end,
    controller = function(m) m:text("Version") end,
}

layouts[0x46] = {
    pc = function(m) m:line(S.no_parameters) end,
    controller = function(m)
        for _, name in ipairs({"ID", "TYPE", "SIZE", "WPS"}) do m:field(name) end
    end,
}

---------------------------------------------------------------------------
-- One message

local f_transfer = Field.new("usb.transfer_type")
local f_endpoint = Field.new("usb.endpoint_address")
local f_urb_type = Field.new("usb.urb_type")
local f_irp_direction = Field.new("usb.irp_info.direction")
local f_bus = Field.new("usb.bus_id")
local f_address = Field.new("usb.device_address")

local BULK, INTERRUPT = 3, 1
local SUBMISSION, COMPLETION = 83, 67 -- usbmon's 'S' and 'C'

-- The USB address that the USB dissector gives a side of the packet:
-- "BUS.ADDR" and the endpoint for a device ("1.7.1"), nil for the host.
local function usb_address(address)
    local bus, device, endpoint = tostring(address):match("^(%d+)%.(%d+)%.(%d+)$")
    if not bus then return nil end
    return bus .. "." .. device, tonumber(endpoint)
end

-- "PC" or "QMR5V" when the packet carries a message: the data of a bulk or
-- interrupt transfer on an endpoint other than 0, at its submission for an
-- OUT transfer and at its completion for an IN transfer. Nil otherwise.
-- Without a protocol tree (tshark's first pass when no filter needs one)
-- the USB fields have no values: the packet's addresses tell the direction
-- then, and only the transfer that carries data comes with data (an OUT
-- submission, an IN completion).
local function sender(tvb, pinfo)
    if tvb:len() == 0 then return nil end
    local transfer, endpoint = f_transfer(), f_endpoint()
    if not transfer or not endpoint then
        local from_device, from_endpoint = usb_address(pinfo.src)
        local to_device, to_endpoint = usb_address(pinfo.dst)
        if from_device and from_endpoint % 128 ~= 0 then return "QMR5V" end
        if to_device and to_endpoint % 128 ~= 0 then return "PC" end
        return nil
    end
    if transfer.value ~= BULK and transfer.value ~= INTERRUPT then return nil end
    local ep = endpoint.value
    if ep % 128 == 0 then return nil end
    local event
    local urb, irp = f_urb_type(), f_irp_direction()
    if urb then
        event = urb.value
    elseif irp then -- USBPcap: 1 from the device, 0 to it
        event = irp.value == 1 and COMPLETION or SUBMISSION
    else
        return nil
    end
    if ep >= 128 then
        if event == COMPLETION then return "QMR5V" end
    elseif event == SUBMISSION then
        return "PC"
    end
    return nil
end

local function device_of(pinfo)
    local bus, address = f_bus(), f_address()
    if not bus or not address then return usb_address(pinfo.src) or usb_address(pinfo.dst) end
    return bus.value .. "." .. address.value
end

local function dissect_message(tvb, pinfo, tree, from)
    pinfo.cols.protocol:set("QMR5V")
    local code = tvb(0, 1):uint()
    local instruction = G.instructions[code]
    local direction = from == "PC" and "pc" or "controller"
    local layout = layouts[code] and layouts[code][direction]
    local name = layout and instruction.name or S.unknown_instruction_name

    local root = tree:add(qmr5v, tvb())
    root:append_text(", " .. name .. ", from " .. from)
    root:add(f_from, from):set_generated()
    local code_item = root:add(f_code, tvb(0, 1))
    code_item:set_text(string.format("Instruction: 0x%02X -> %s", code, name))

    local summary
    if layout then
        local m = new_message(tvb, root, code, direction)
        layout(m)
        summary = m.summary
    else
        add_error(code_item, S.unknown_instruction)
    end
    local info = from .. ": " .. name
    if summary and summary ~= "" then info = info .. ", " .. summary end
    pinfo.cols.info:set(info)
    return tvb:len()
end

---------------------------------------------------------------------------
-- Finding the controller's traffic

qmr5v.prefs.device = Pref.string("Device (BUS.ADDR)", "",
    "The controller's USB device as bus and address (\"1.7\"). Empty: the controller is " ..
    "recognised by its messages (a PC message that begins with an instruction code answered " ..
    "by the same code).")
qmr5v.prefs.interface_class = Pref.uint("Interface class", 0,
    "Decode the bulk and interrupt transfers of the USB interfaces of this class (255: vendor " ..
    "specific) as the controller's messages, when the capture holds the device's descriptors. 0: none.")

-- Devices recognised as the controller, by "BUS.ADDR": the number of the
-- frame that showed it. A device is recognised when an IN message of it
-- begins with the instruction code of its last PC message: IN messages of
-- other codes between them (an interrupt endpoint's) change nothing, as in
-- vornlog. Filled in the first pass over the file only, so that every
-- later pass (tshark -2, Wireshark's details pane) sees the whole file's
-- answer and decodes the messages before the first answer too.
local recognised = {}
local pending = {} -- the code of a device's last PC message, awaiting its answer

function qmr5v.init()
    recognised = {}
    pending = {}
end

local function is_controller(pinfo, device, from, code)
    local wanted = qmr5v.prefs.device
    if wanted ~= "" then return device == wanted end
    if not pinfo.visited and not recognised[device] then
        if from == "PC" then
            local instruction = G.instructions[code]
            pending[device] = instruction and instruction.pc and code or nil
        else
            if pending[device] == code then recognised[device] = pinfo.number end
        end
    end
    return recognised[device] ~= nil
end

local function heuristic(tvb, pinfo, tree)
    local from = sender(tvb, pinfo)
    if not from then return false end
    local device = device_of(pinfo)
    if not device or not is_controller(pinfo, device, from, tvb(0, 1):uint()) then return false end
    dissect_message(tvb, pinfo, tree, from)
    return true
end

-- Called through a dissector table (Decode As, the interface class):
-- every message of the device is the controller's.
function qmr5v.dissector(tvb, pinfo, tree)
    local from = sender(tvb, pinfo)
    if not from then return 0 end
    return dissect_message(tvb, pinfo, tree, from)
end

qmr5v:register_heuristic("usb.bulk", heuristic)
qmr5v:register_heuristic("usb.interrupt", heuristic)

-- Decode As: by device (bus and address) and by product (vendor and product
-- ids), the USB tables that offer it.
for _, name in ipairs({"usb.device", "usb.product"}) do
    local ok, dissectors = pcall(DissectorTable.get, name)
    if ok and dissectors then dissectors:add_for_decode_as(qmr5v) end
end

-- By interface class: the USB bulk and interrupt tables are keyed by the
-- interface's class but take no Decode As, so a preference names the class.
local added_class = 0
local function apply_interface_class()
    local class = qmr5v.prefs.interface_class
    if class == added_class then return end
    for _, name in ipairs({"usb.bulk", "usb.interrupt"}) do
        local ok, dissectors = pcall(DissectorTable.get, name)
        if ok and dissectors then
            if added_class ~= 0 then dissectors:remove(added_class, qmr5v) end
            if class ~= 0 then dissectors:add(class, qmr5v) end
        end
    end
    added_class = class
end

function qmr5v.prefs_changed()
    apply_interface_class()
end
