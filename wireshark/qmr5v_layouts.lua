-- The QMR5V controller's messages in Wireshark: the protocol's
-- registration, the finding of the controller among the USB devices, and
-- the walker that reads a message by its layout.
--
-- The build puts this file behind the tables that it writes from the
-- decoder's own tables and layouts, in one file, qmr5v.lua; they are the
-- local G:
--   G.instructions[code] = {name = "Data", pc = FIELDS, controller = FIELDS}
--     (false for a direction that no decoder reads)
--   FIELDS = {{name = "NBR", width = 4, meaning = "%d pulses", quantity = 1, unit = "pulses"},
--             {name = "CMD", width = 1, codes = {[0x00] = "Reset", ...},
--              unknown = "ERROR: Unknown command"},
--             {name = "FLAG", width = 1, bits = {{3, "Source:USB", "Source:Flash"}, ...}},
--             {name = "BUF", width = 1, meaning = "Buffer %d%%", shows = {{100, 7}}},
--             {name = "S3", width = 4, move = {label = "S3 move (...)", bit = 2}, ...},
--             {name = "Version", width = 11, text = true}, ...}
--     every field a direction's messages may hold, as the decoder describes
--     it: its name, its width, the form of its meaning and the scale of
--     each number it shows, its code texts with the error for a code they
--     do not name, its bit rows (false: no row), and for a Data axis that
--     its steps are signed by its direction bit (its move);
--   G.layouts[code] = {pc = 3, controller = 5}: the layouts in G.steps;
--   G.steps[n] = {{kind = "read", field = "CMD"},
--                 {kind = "when", bit = 6, steps = {{kind = "read", field = "PWM"}}},
--                 {kind = "part", part = 2}, ...}
--     the steps of a layout, as the decoder runs them (a read, a numbered
--     repeat, a text, a group when byte 1 passes its test, a range check, a
--     line, a skip, a part, a stop, a named hook);
--   G.hooks: the constants and texts of the hooks;
--   G.say = {unknown_instruction = "ERROR: Unknown instruction..."}: the
--     error of a code that no instruction has;
--   G.kinds: the kinds of error by their forms.
-- A text, a field or a layout fixed in the decoder is thus fixed here too.
-- Only the Lua API that Wireshark 4.0 to 4.4 share is used: no bit32, no
-- integer division operator, no bitwise operators.

-- The one text that no decoder writes: the name of a message whose code
-- no instruction has.
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
                if d.move then
                    same.move_field = ProtoField.int32(abbr .. ".move", d.move.label, base.DEC)
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

local function conversions(form)
    local count = 0
    for c in form:gmatch("%%(.)") do if c ~= "%" then count = count + 1 end end
    return count
end

-- Form filled with v for each of its conversions.
local function filled(form, v)
    local values = {}
    for k = 1, conversions(form) do values[k] = v end
    return string.format(form, (table.unpack or unpack)(values))
end

-- The numbers that the conversions of d's meaning show for value v: each
-- scale of d.shows applied to v, or v itself. The decoder reads a value of
-- four bytes as a signed 32-bit number.
local function shown_values(d, v, count)
    if d.width == 4 then v = signed32(v) end
    local values = {}
    for k = 1, count do
        local scale = d.shows and d.shows[k]
        if scale and (scale[1] ~= 1 or scale[2] ~= 1) then
            values[k] = quotient(v * scale[1], scale[2])
        else
            values[k] = v
        end
    end
    return values
end

local Message = {}
Message.__index = Message

local function new_message(tvb, tree, code, direction)
    return setmetatable({tvb = tvb, tree = tree, code = code, fields = described[code][direction], pos = 1,
                         last = 0, numbers = {}}, Message)
end

-- Byte `index` of the message (0 past its end), the read position unmoved.
function Message:byte(index)
    if index < self.tvb:len() then return self.tvb(index, 1):uint() end
    return 0
end

-- The value of `width` bytes at the read position, the position unmoved.
function Message:peek(width)
    local value = 0
    for i = width - 1, 0, -1 do value = value * 256 + self:byte(self.pos + i) end
    return value
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

-- The bit rows of `value` under `item`, one for each row that has a text
-- for the bit's value: ".... 1... = Source:USB", each its boolean field.
-- Returns the texts shown.
function Message:bits(item, value, rows, range, fields)
    local shown = {}
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
            shown[#shown + 1] = text
        end
    end
    return shown
end

-- Reads field `name` and adds it under the message: "NBR: 0x000003E8 ->
-- 1000 pulses", then its bit rows. Its meaning is its code's text (its
-- "%d" the byte after the field, with `how.number_after`), or the form of
-- its meaning filled with the numbers it shows (`how.shown(value)` gives
-- them instead); `how.text`
-- gives a meaning the layout chose, `how.error` an error text in its place,
-- `how.meaning` takes the form of the meaning over the code texts.
-- `how.rows` are the bit rows shown (false: none), `how.info` what the
-- field leaves to the Info column ("after": nothing, "rows": its rows'
-- texts). Returns the value.
function Message:read(name, how)
    local d = self.fields[name]
    local number_after = self:byte(self.pos + d.width)
    local range, bytes, short = self:take(d.width)
    local value = 0
    for i = d.width, 1, -1 do value = value * 256 + bytes[i] end
    if how.nonzero_as_ff and value ~= 0 then value = 0xFF end
    self.last = value
    local item = range and self.tree:add(d.field, range, value) or self.tree:add(d.field, value)

    local text, err, err_form = how.text, how.error, how.error_form
    local shown -- the numbers that the meaning's form shows
    if not text and not err then
        local form = d.meaning
        local coded = d.codes and not how.meaning
        if coded then
            form = d.codes[value]
            if not form then err = d.unknown end
        end
        if form and form ~= "" then
            local count = conversions(form)
            if count == 0 then
                text = form
            elseif coded then
                text = string.format(form, how.number_after and number_after or 0)
            else
                shown = how.shown and {how.shown(value)} or shown_values(d, value, count)
                text = string.format(form, (table.unpack or unpack)(shown))
            end
        end
    end
    -- A quantity: the number that the field's own meaning shows.
    local quantity = d.quantity and shown and shown[d.quantity]
    local label = string.format("%s: 0x%0" .. (2 * d.width) .. "X", name, value)
    if text or err then label = label .. " -> " .. (text or err) end
    item:set_text(label)
    if quantity ~= nil then
        local add = range and function(f, v) return item:add(f, range, v) end or function(f, v) return item:add(f, v) end
        add(d.value_field, quantity):set_generated()
        -- A Data axis's steps, negative when its direction bit is 0.
        if d.move_field then
            add(d.move_field, bit_of(self:byte(1), d.move.bit) == 1 and quantity or -quantity):set_generated()
        end
    end
    if err then add_error(item, err, err_form) end
    if short then item:add_proto_expert_info(e_short, "Past the end of the message: read as 0") end
    if self.summary == nil and not how.info then self.summary = text or err or false end
    local rows = how.rows
    if rows == nil then rows = d.bits end
    if rows then
        local texts = self:bits(item, value, rows, range, d.bit_fields)
        if how.info == "rows" and self.summary == nil then self.summary = table.concat(texts, ", ") end
    end
    return value
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
function Message:characters(name, count, empty)
    local d = self.fields[name]
    count = count or d.width
    local range, bytes = self:take(count)
    local value = printable(bytes, count)
    if empty and bytes[1] == 0 then value = empty end
    local item = range and self.tree:add(d.field, range, value) or self.tree:add(d.field, value)
    item:set_text(name .. ": " .. value)
    if self.summary == nil then self.summary = value end
end

---------------------------------------------------------------------------
-- The walker of the layouts (G.steps): each step of a message's layout in
-- turn, a group's steps when byte 1 passes its test; a step returns false
-- when nothing more is read.

local run_steps

-- The hooks: what the decoder names rather than says in steps.
local hooks = {}

-- OUT1 to OUT10 of a table: the axis of their low bits as the meaning, the
-- signal bits below when it names one.
function hooks.outputs(m, s)
    local o = G.hooks.outputs
    for _, name in ipairs(s.names) do
        local axis = m:byte(m.pos) % o.axes
        if axis == 0 then
            m:read(name, {text = o.not_used, rows = false})
        elseif axis > o.last_axis then
            m:read(name, {error = string.format(o.invalid, axis), error_form = o.invalid, rows = false})
        else
            m:read(name, {text = string.format(o.axis, axis)})
        end
    end
end

-- The speeds of a table's axes in mm/s, by the steps for 1 mm that the
-- repeat before read; an axis without them shows none (its bytes are read).
function hooks.speeds(m, s)
    for i, name in ipairs(s.names) do
        local per_mm = m.numbers[i] or 0
        if per_mm == 0 then
            m:skip(m.fields[name].width)
        else
            m:read(name, {shown = function(v) return v, v / per_mm end})
        end
    end
end

local steps = {}

function steps.read(m, s)
    local value = m:read(s.field, {nonzero_as_ff = s.nonzero_as_ff, number_after = s.number_after, rows = s.rows,
                                   info = s.info})
    -- A code that the table does not name ends a message whose code texts
    -- take the byte after the field.
    return not (s.number_after and not m.fields[s.field].codes[value])
end

-- Each number of a numbered field, its values kept for a hook after it.
steps["repeat"] = function(m, s)
    for i, name in ipairs(s.names) do m.numbers[i] = m:read(name, {}) end
    return true
end

function steps.text(m, s)
    m:characters(s.field, s.counted and m.last or nil, s.empty)
    return true
end

function steps.when(m, s)
    local command = m:byte(1)
    local holds
    if s.bit then
        holds = bit_of(command, s.bit) == 1
    elseif s.codes then
        holds = s.codes[command] ~= nil
    else
        holds = command >= s.low and command <= s.high
    end
    return not holds or run_steps(m, s.steps)
end

function steps.check(m, s)
    local d = m.fields[s.field]
    local v = m:peek(d.width)
    if d.width == 4 then v = signed32(v) end
    if v >= s.low and v <= s.high then
        m:read(s.field, {meaning = true})
    elseif s.invalid == "codes" then
        m:read(s.field, {})
    else
        m:read(s.field, {error = filled(s.error, v), error_form = s.error})
        return s.invalid ~= "ends"
    end
    return true
end

-- Report text that is no field ("No paramters").
function steps.line(m, s)
    m.tree:add(s.text)
    return true
end

function steps.skip(m, s)
    m:skip(s.bytes)
    return true
end

function steps.part(m, s) return run_steps(m, G.steps[s.part]) end

function steps.stop() return false end

function steps.hook(m, s)
    hooks[s.hook](m, s)
    return true
end

run_steps = function(m, list)
    for _, s in ipairs(list) do
        if not steps[s.kind](m, s) then return false end
    end
    return true
end

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
    local layout = G.layouts[code] and G.layouts[code][direction]
    local name = layout and instruction.name or S.unknown_instruction_name

    local root = tree:add(qmr5v, tvb())
    root:append_text(", " .. name .. ", from " .. from)
    root:add(f_from, from):set_generated()
    local code_item = root:add(f_code, tvb(0, 1))
    code_item:set_text(string.format("Instruction: 0x%02X -> %s", code, name))

    local summary
    if layout then
        local m = new_message(tvb, root, code, direction)
        run_steps(m, G.steps[layout])
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
