// The game's side of the telemetry SDK: loads the plug-in, keeps what it
// registers, and fires events and channel values into it.
#include "sim/sim.h"
#include "dm_file.h"
#include <mutex>
#include <stdexcept>

namespace sim {
namespace {

struct event_slot {
    bool used = false;
    scs_telemetry_event_callback_t cb = nullptr;
    void *ctx = nullptr;
};
struct channel_slot {
    channel_registration reg;
    scs_telemetry_channel_callback_t cb;
    void *ctx;
};

HMODULE plugin;
scs_telemetry_init_t plugin_init_fn;
scs_telemetry_shutdown_t plugin_shutdown_fn;
telemetry_config config;
event_slot events[8];
std::vector<channel_slot> channels;
std::mutex log_mutex;
std::vector<std::string> log_lines;

/* The simulation clock, as the plug-in's performance counter sees it. */
const int64_t clock_freq = 10000000;
double clock_seconds = 1000.0;

BOOL WINAPI fake_qpc(LARGE_INTEGER *v)
{
    v->QuadPart = (int64_t)(clock_seconds * (double)clock_freq + 0.5);
    return TRUE;
}
BOOL WINAPI fake_qpf(LARGE_INTEGER *v)
{
    v->QuadPart = clock_freq;
    return TRUE;
}

void game_log_cb(scs_i32_t type, const char *text)
{
    {
        std::lock_guard<std::mutex> g(log_mutex);
        log_lines.push_back(std::to_string(type) + " " + (text ? text : "(null)"));
    }
    if (config.log_throws)
        throw std::runtime_error("game log callback");
}

scs_result_t register_event(scs_u32_t event, scs_telemetry_event_callback_t cb, void *ctx)
{
    if ((int)event == config.fail_event || event >= 8)
        return SCS_RESULT_GENERIC_ERROR;
    events[event] = { true, cb, ctx };
    return SCS_RESULT_OK;
}
scs_result_t unregister_event(scs_u32_t event)
{
    if (event < 8)
        events[event] = {};
    return SCS_RESULT_OK;
}
scs_result_t register_channel(const char *name, scs_u32_t index, scs_u32_t type, scs_u32_t flags,
                              scs_telemetry_channel_callback_t cb, void *ctx)
{
    if (config.fail_channels)
        return SCS_RESULT_GENERIC_ERROR;
    channels.push_back({ { name, index, type, flags }, cb, ctx });
    return SCS_RESULT_OK;
}
scs_result_t unregister_channel(const char *, scs_u32_t, scs_u32_t) { return SCS_RESULT_OK; }

void fire(uint32_t event)
{
    if (event < 8 && events[event].used && events[event].cb)
        events[event].cb(event, nullptr, events[event].ctx);
}

void fire_channel(const char *name, const scs_value_t &v)
{
    for (auto &c : channels)
        if (c.reg.name == name && c.cb)
            c.cb(name, c.reg.index, &v, c.ctx);
}

} // namespace

bool plugin_load(const char *path)
{
    plugin = dm_load_library(path); // a UTF-8 path, as the game loads from any folder
    if (!plugin)
        return false;
    plugin_init_fn = (scs_telemetry_init_t)(void *)GetProcAddress(plugin, "scs_telemetry_init");
    plugin_shutdown_fn = (scs_telemetry_shutdown_t)(void *)GetProcAddress(plugin, "scs_telemetry_shutdown");
    patch_import(plugin, "kernel32.dll", "QueryPerformanceCounter", (void *)fake_qpc);
    patch_import(plugin, "kernel32.dll", "QueryPerformanceFrequency", (void *)fake_qpf);
    return plugin_init_fn && plugin_shutdown_fn;
}

void plugin_unload()
{
    if (plugin)
        FreeLibrary(plugin);
    plugin = nullptr;
    plugin_init_fn = nullptr;
    plugin_shutdown_fn = nullptr;
    for (auto &e : events)
        e = {};
    channels.clear();
    std::lock_guard<std::mutex> g(log_mutex);
    log_lines.clear();
}

HMODULE plugin_module() { return plugin; }

int32_t plugin_init(uint32_t sdk_version, const telemetry_config &cfg)
{
    config = cfg;
    scs_telemetry_init_params_t params = {};
    params.game_name = cfg.game_name;
    params.game_id = cfg.game_id;
    params.game_version = cfg.game_version;
    params.log = cfg.with_log ? game_log_cb : nullptr;
    params.register_for_event = register_event;
    params.register_for_channel = register_channel;
    if (cfg.with_unregister) {
        params.unregister_from_event = unregister_event;
        params.unregister_from_channel = unregister_channel;
    }
    return plugin_init_fn(sdk_version, &params);
}

void plugin_shutdown()
{
    if (plugin_shutdown_fn)
        plugin_shutdown_fn();
}

void frame() { fire(SCS_TELEMETRY_EVENT_FRAME_END); }
void frames(int n, double dt)
{
    for (int i = 0; i < n; i++) {
        clock_seconds += dt;
        frame();
    }
}
void event_paused() { fire(SCS_TELEMETRY_EVENT_PAUSED); }
void event_started() { fire(SCS_TELEMETRY_EVENT_STARTED); }

void channel_placement(double x, double y, double z, float heading, float pitch, float roll,
                       uint32_t value_type)
{
    scs_value_t v = {};
    v.type = value_type;
    v.value_dplacement = { x, y, z, heading, pitch, roll, 0 };
    fire_channel("truck.world.placement", v);
}

void channel_speed(float speed, uint32_t value_type)
{
    scs_value_t v = {};
    v.type = value_type;
    v.value_float = speed;
    fire_channel("truck.speed", v);
}

std::vector<uint32_t> registered_events()
{
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < 8; i++)
        if (events[i].used)
            out.push_back(i);
    return out;
}

std::vector<channel_registration> registered_channels()
{
    std::vector<channel_registration> out;
    for (auto &c : channels)
        out.push_back(c.reg);
    return out;
}

std::vector<std::string> game_log()
{
    std::lock_guard<std::mutex> g(log_mutex);
    return log_lines;
}

void clock_set(double seconds) { clock_seconds = seconds; }
void clock_advance(double seconds) { clock_seconds += seconds; }
double clock_now() { return clock_seconds; }

} // namespace sim
