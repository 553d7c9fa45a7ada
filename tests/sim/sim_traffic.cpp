// The simulated game's AI traffic (see sim_traffic.h).
#include "sim/sim_traffic.h"
#include <math.h>
#include <stdlib.h>

namespace sim {

namespace {

struct sim_car {
    uint8_t *car;
    float vel[3];
};
std::vector<sim_car> cars;
uint8_t *mgr_object, *entries;
uint32_t next_id;

uint64_t addr(const void *p) { return (uint64_t)(uintptr_t)p; }

void placement_at(uint8_t *car, const double pos[3], const float rot[4])
{
    struct {
        float x, y, z;
        int16_t sx, sz;
        float q[4];
    } p;
    int16_t sx = (int16_t)floor(pos[0] / 512.0 + 0.5), sz = (int16_t)floor(pos[2] / 512.0 + 0.5);
    p.x = (float)(pos[0] - sx * 512.0);
    p.y = (float)pos[1];
    p.z = (float)(pos[2] - sz * 512.0);
    p.sx = sx;
    p.sz = sz;
    memcpy(p.q, rot, sizeof p.q);
    static_assert(sizeof p == 32, "the game's placement");
    memcpy(car + traffic_off::car_placement, &p, sizeof p);
}

void world_of(const uint8_t *car, double out[3])
{
    float x = get<float>(car, 0x28), y = get<float>(car, 0x2C), z = get<float>(car, 0x30);
    int16_t sx = get<int16_t>(car, 0x34), sz = get<int16_t>(car, 0x36);
    out[0] = sx * 512.0 + x;
    out[1] = y;
    out[2] = sz * 512.0 + z;
}

void write_entries()
{
    for (size_t i = 0; i < cars.size(); i++) {
        put<uint64_t>(entries, (uint32_t)(16 * i), addr(cars[i].car));
        put<uint64_t>(entries, (uint32_t)(16 * i + 8), 0x100 + i);
    }
    put<uint64_t>(mgr_object, traffic_off::mgr_count, cars.size());
}

uint64_t density_fake(uint64_t mgr, float density)
{
    uint32_t bits;
    memcpy(&bits, &density, 4);
    record("traffic_density", mgr, bits);
    put<float>((void *)(uintptr_t)mgr, traffic_off::mgr_density, density);
    return 0;
}

float value_fake(uint64_t var) { return (float)atof((const char *)(uintptr_t)(var + traffic_off::cvar_value_text)); }

uint64_t own_callback_fake(uint64_t var)
{
    record("traffic_callback", var);
    return 1;
}

} // namespace

uint8_t *traffic_create(const char *value_text)
{
    using namespace traffic_off;
    cars.clear();
    next_id = 0;
    mgr_object = object_new(traffic_manager_size);
    entries = object_new(16 * traffic_entries_max);
    put<uint64_t>(mgr_object, mgr_entries, addr(entries));
    game_put<uint64_t>(traffic_off::manager, addr(mgr_object));
    game_function(density_fn, (void *)density_fake);
    game_function(cvar_value_fn, (void *)value_fake);
    game_function(cvar_own_callback, (void *)own_callback_fake);
    static const uint8_t refuse[3] = { 0x32, 0xC0, 0xC3 };
    game_write(cvar_refuse, refuse, sizeof refuse);
    FlushInstructionCache(GetCurrentProcess(), game_at(cvar_refuse), sizeof refuse);
    uint8_t *var = game_at(cvar);
    memset(var, 0, 0x130);
    put<uint64_t>(var, 0, addr(game_at(cvar_table)));
    memcpy(var + cvar_name, "g_traffic", 10);
    put<uint32_t>(var, cvar_kind, 2);
    put<uint64_t>(var, cvar_callback, addr(game_at(cvar_own_callback)));
    snprintf((char *)var + cvar_value_text, cvar_cached - cvar_value_text, "%s", value_text);
    put<uint8_t>(var, cvar_cached, 1);
    put<float>(var, cvar_cached_value, value_fake(addr(var)));
    put<float>(mgr_object, mgr_density, value_fake(addr(var)));
    return mgr_object;
}

void traffic_remove_manager() { game_put<uint64_t>(traffic_off::manager, 0); }
void traffic_set_count(uint64_t count) { put<uint64_t>(mgr_object, traffic_off::mgr_count, count); }

uint8_t *traffic_add_car(const traffic_car_desc &desc)
{
    using namespace traffic_off;
    if (cars.size() >= traffic_entries_max)
        return nullptr;
    uint8_t *car = object_new(traffic_car_size);
    put<uint64_t>(car, 0, addr(game_at(car_table)));
    placement_at(car, desc.pos, desc.rot);
    put<uint32_t>(car, car_type, desc.type);
    put<uint8_t>(car, car_excluded, desc.excluded ? 1 : 0);
    put<uint32_t>(car, car_id, 1000 + next_id++);
    if (desc.with_model) {
        uint8_t *model = object_new(0x200);
        put<uint32_t>(model, model_lights, desc.lights);
        put<uint32_t>(model, model_flags, desc.model_flags);
        put<uint64_t>(car, car_model, addr(model));
    }
    if (!desc.paths.empty()) {
        uint8_t *def = object_new(0x220);
        uint8_t *list = object_new(8 * desc.paths.size());
        for (size_t i = 0; i < desc.paths.size(); i++) {
            uint8_t *entry = object_new(0x20);
            uint8_t *text = object_new(desc.paths[i].size() + 1);
            memcpy(text, desc.paths[i].c_str(), desc.paths[i].size() + 1);
            put<uint64_t>(entry, entry_path, addr(text));
            put<uint64_t>(list, (uint32_t)(8 * i), addr(entry));
        }
        put<uint64_t>(def, def_entries, addr(list));
        put<uint64_t>(def, def_entry_count, desc.paths.size());
        if (!desc.colours.empty()) {
            uint8_t *colours = object_new(desc.colours.size() * sizeof(float));
            memcpy(colours, desc.colours.data(), desc.colours.size() * sizeof(float));
            put<uint64_t>(def, def_colours, addr(colours));
            put<uint64_t>(def, def_colour_count, desc.colours.size() / 3);
        }
        put<uint64_t>(car, car_definition, addr(def));
    }
    cars.push_back({ car, { desc.vel[0], desc.vel[1], desc.vel[2] } });
    write_entries();
    return car;
}

void traffic_remove_car(uint8_t *car)
{
    for (size_t i = 0; i < cars.size(); i++)
        if (cars[i].car == car) {
            cars.erase(cars.begin() + (long)i);
            break;
        }
    write_entries();
}

void traffic_move_car(uint8_t *car, const double pos[3])
{
    float rot[4];
    memcpy(rot, car + traffic_off::car_placement + 16, sizeof rot);
    placement_at(car, pos, rot);
}

void traffic_set_velocity(uint8_t *car, const float vel[3])
{
    for (auto &c : cars)
        if (c.car == car)
            memcpy(c.vel, vel, sizeof c.vel);
}

int traffic_car_count() { return (int)cars.size(); }

void traffic_advance(double dt)
{
    for (auto &c : cars) {
        double pos[3];
        world_of(c.car, pos);
        for (int k = 0; k < 3; k++)
            pos[k] += c.vel[k] * dt;
        traffic_move_car(c.car, pos);
    }
}

void traffic_frames(int n, double dt)
{
    for (int i = 0; i < n; i++) {
        traffic_advance(dt);
        frames(1, dt);
    }
}

uint8_t *traffic_cvar() { return game_at(traffic_off::cvar); }
uint64_t traffic_cvar_callback() { return get<uint64_t>(traffic_cvar(), traffic_off::cvar_callback); }
void traffic_cvar_set_callback(uint64_t callback) { put<uint64_t>(traffic_cvar(), traffic_off::cvar_callback, callback); }
uint64_t traffic_own_callback() { return addr(game_at(traffic_off::cvar_own_callback)); }
uint64_t traffic_refuse_callback() { return addr(game_at(traffic_off::cvar_refuse)); }
uint8_t traffic_cvar_cached() { return get<uint8_t>(traffic_cvar(), traffic_off::cvar_cached); }
float traffic_cvar_cached_value() { return get<float>(traffic_cvar(), traffic_off::cvar_cached_value); }
std::string traffic_cvar_text() { return (const char *)traffic_cvar() + traffic_off::cvar_value_text; }

void traffic_cvar_set(const char *value_text)
{
    using namespace traffic_off;
    uint8_t *var = traffic_cvar();
    snprintf((char *)var + cvar_value_text, cvar_cached - cvar_value_text, "%s", value_text);
    typedef uint8_t (*callback_fn)(uint64_t var);
    callback_fn cb = (callback_fn)(uintptr_t)traffic_cvar_callback();
    if (cb && !cb(addr(var)))
        return;
    float value = value_fake(addr(var));
    put<float>(var, cvar_cached_value, value);
    put<uint8_t>(var, cvar_cached, 1);
    uint64_t mgr = game_get<uint64_t>(traffic_off::manager);
    if (mgr)
        density_fake(mgr, value);
}

float traffic_density()
{
    uint64_t mgr = game_get<uint64_t>(traffic_off::manager);
    return mgr ? get<float>((void *)(uintptr_t)mgr, traffic_off::mgr_density) : -1.0f;
}

} // namespace sim
