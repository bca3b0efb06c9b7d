-- Switches from scene A to scene B through the transition named in the
-- environment's TAV_OBS_TRANSITION two seconds after loading, then stops
-- the recording two seconds after that.
obs = obslua

local step = 0

local function find_transition(name)
	local found = nil
	local list = obs.obs_frontend_get_transitions()
	for _, t in ipairs(list) do
		if obs.obs_source_get_name(t) == name then
			found = obs.obs_source_get_ref(t)
		end
	end
	obs.source_list_release(list)
	return found
end

local function find_scene(name)
	local found = nil
	local list = obs.obs_frontend_get_scenes()
	for _, s in ipairs(list) do
		if obs.obs_source_get_name(s) == name then
			found = obs.obs_source_get_ref(s)
		end
	end
	obs.source_list_release(list)
	return found
end

function tick()
	step = step + 1
	if step == 1 then
		local name = os.getenv("TAV_OBS_TRANSITION") or "Cut"
		local t = find_transition(name)
		if t ~= nil then
			obs.obs_frontend_set_current_transition(t)
			obs.obs_source_release(t)
		else
			print("transition not found: " .. name)
		end
		local b = find_scene("B")
		obs.obs_frontend_set_current_scene(b)
		obs.obs_source_release(b)
	elseif step == 3 then
		obs.obs_frontend_recording_stop()
		obs.timer_remove(tick)
	end
end

function script_load(settings)
	obs.timer_add(tick, 2000)
end
