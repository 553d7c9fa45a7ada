// The simulated game's props world (see sim_props.h).
//
// Index
//   state        tables of paths, models, actors, parts, rays
//   maths        the game's composition and rotations, in f64
//   models       the factory's model objects and their slots
//   files        the file system's exists
//   placements   the composition and world-placement calls
//   physics      server, scene, cast, actors, resources, shapes, removal
//   parts        part models in slot lists
//   install      props_world_install
#include "sim/sim_props.h"
#include "sim/sim_draw.h"
#include "sim/sim_vehicles_internal.h"
#include <math.h>
#include <map>
#include <mutex>
#include <set>

namespace sim {

namespace {

/* ---- state ---- */

const uint32_t model_size = 896;
const uint32_t faulting_stub = 0x1100; /* the vehicles' faulting stub */

struct model_record_t {
    volatile LONG64 draws;
    volatile LONG64 context;
    volatile LONG render_word, draw_thread;
    volatile LONG64 hookup_ticks;
    volatile LONG64 unreferenced;
    volatile LONG64 creating_draws;
    volatile LONG creating;       /* its hookup creation (slot 30) is running */
    volatile LONG64 frames[8];    /* the render frames of its last draws, newest at frames_next - 1 */
    volatile LONG frames_next;
    const model_entry *entry;
};

std::map<std::string, model_entry> entries;
std::set<std::string> known_files;
std::vector<uint8_t *> made;
void **model_vt;
bool draws_fault;
volatile LONG model_delay;
volatile LONG hookups_delay_ms;
ground_kind ground = ground_kind::flat;
float ground_h, ground_k;
uint8_t *ground_object;
std::vector<ray_cast> cast_log;
std::mutex cast_lock;
uint8_t *server, *scene, *scene_holder;
void **server_vt;
void **actor_vt;
struct actor_t {
    placement32 place;
    bool placed, removed;
    const model_entry *entry;
};
std::map<uint8_t *, actor_t> actors;
size_t actor_count;
bool builder_result = true;
struct part_t {
    uint8_t *vehicle;
    float offset[3];
    bool cabin;
};
std::map<uint8_t *, part_t> parts; /* part model -> its vehicle */
const player *the_player;
player player_copy;
uint8_t *files_array, *files_iface;
uint8_t *light_array, *light_records;
uint64_t light_count;

/* A model's record, kept beside it (a released model's pages are gone).
 * Written by the game thread when a model is made; read by both threads. */
SRWLOCK records_lock = SRWLOCK_INIT;
std::map<const void *, model_record_t *> records;
model_record_t *rec(const uint8_t *model)
{
    AcquireSRWLockShared(&records_lock);
    auto it = records.find(model);
    model_record_t *r = it == records.end() ? nullptr : it->second;
    ReleaseSRWLockShared(&records_lock);
    return r;
}
model_record_t *rec_new(uint8_t *model)
{
    model_record_t *r = new model_record_t();
    AcquireSRWLockExclusive(&records_lock);
    records[model] = r;
    ReleaseSRWLockExclusive(&records_lock);
    return r;
}

/* ---- maths ---- */

void qmul(const double a[4], const double b[4], double out[4])
{
    double r[4] = { a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                    a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                    a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                    a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0] };
    memcpy(out, r, sizeof r);
}

/* v rotated by q (w, x, y, z). */
void qrot(const double q[4], const double v[3], double out[3])
{
    double p[4] = { 0, v[0], v[1], v[2] }, c[4] = { q[0], -q[1], -q[2], -q[3] }, t[4], r[4];
    qmul(q, p, t);
    qmul(t, c, r);
    out[0] = r[1];
    out[1] = r[2];
    out[2] = r[3];
}

void world_of(const placement32 &p, double out[3])
{
    out[0] = p.sector_x * 512.0 + p.x;
    out[1] = p.y;
    out[2] = p.sector_z * 512.0 + p.z;
}

placement32 floor_placement(const double w[3], const double q[4])
{
    placement32 p;
    double sx = floor(w[0] / 512.0), sz = floor(w[2] / 512.0);
    p.sector_x = (int16_t)sx;
    p.sector_z = (int16_t)sz;
    p.x = (float)(w[0] - sx * 512.0);
    p.y = (float)w[1];
    p.z = (float)(w[2] - sz * 512.0);
    p.qw = (float)q[0];
    p.qx = (float)q[1];
    p.qy = (float)q[2];
    p.qz = (float)q[3];
    return p;
}

placement32 compose(const placement32 &frame, const float rel[8])
{
    double q[4] = { frame.qw, frame.qx, frame.qy, frame.qz }, v[3] = { rel[0], rel[1], rel[2] }, d[3], w[3];
    qrot(q, v, d);
    world_of(frame, w);
    for (int i = 0; i < 3; i++)
        w[i] += d[i];
    double r[4] = { rel[4], rel[5], rel[6], rel[7] }, out[4];
    qmul(q, r, out);
    return floor_placement(w, out);
}

/* A world point in the frame: the inverse rotation of the difference. */
void in_frame(const placement32 &frame, const double w[3], double out[3])
{
    double f[3];
    world_of(frame, f);
    double d[3] = { w[0] - f[0], w[1] - f[1], w[2] - f[2] };
    double c[4] = { frame.qw, -frame.qx, -frame.qy, -frame.qz };
    qrot(c, d, out);
}

/* ---- models ---- */

uint64_t m_set_data(uint64_t model, uint64_t path_ptr, uint64_t look, uint64_t variant, uint64_t zero)
{
    const char *path = *(const char *const *)(uintptr_t)path_ptr;
    record("model_set_data", model, *(const uint64_t *)(uintptr_t)look, *(const uint64_t *)(uintptr_t)variant, zero);
    uint8_t *m = (uint8_t *)(uintptr_t)model;
    auto it = entries.find(path);
    if (it == entries.end() || !it->second.descriptor)
        return 0;
    const model_entry &e = it->second;
    rec(m)->entry = &e;
    put<uint64_t>(m, 0x118, (uint64_t)(uintptr_t)object_new(0x40));
    if (e.box) {
        uint8_t *desc = object_new(32), *box = object_new(0x60);
        memcpy(box + 0x30, e.box_min, 12);
        memcpy(box + 0x3C, e.box_max, 12);
        put<uint64_t>(desc, 0x18, (uint64_t)(uintptr_t)box);
        put<uint64_t>(m, 0x120, (uint64_t)(uintptr_t)desc);
    }
    if (e.loaded)
        put<uint32_t>(m, prop_off::model_flags, get<uint32_t>(m, prop_off::model_flags) | 0x100);
    return 0;
}

uint64_t m_draw(uint64_t model, uint64_t context)
{
    model_record_t *r = rec((const uint8_t *)(uintptr_t)model);
    LONG at = InterlockedIncrement(&r->frames_next) - 1;
    InterlockedExchange64(&r->frames[at % 8], (LONG64)draw_stats().frames);
    unit_draw_begin((const void *)(uintptr_t)model);
    uint64_t ctrl = game_get<uint64_t>(off::game_ctrl);
    uint64_t cam = ctrl ? get<uint64_t>((void *)(uintptr_t)ctrl, off::ctrl_camera_manager) : 0;
    InterlockedExchange(&r->render_word, cam ? (LONG)get<uint32_t>((void *)(uintptr_t)cam, 0x10) : -1);
    InterlockedExchange(&r->draw_thread, (LONG)GetCurrentThreadId());
    InterlockedExchange64(&r->context, (LONG64)context);
    if (InterlockedCompareExchange(&r->creating, 0, 0))
        InterlockedIncrement64(&r->creating_draws);
    if (LONG ms = InterlockedCompareExchange(&model_delay, 0, 0))
        Sleep((DWORD)ms);
    InterlockedIncrement64(&r->draws);
    if ((get<uint32_t>((void *)(uintptr_t)model, 8) & 0x1FFFFFF) == 0)
        InterlockedIncrement64(&r->unreferenced);
    unit_draw_end((const void *)(uintptr_t)model, false);
    return 0;
}

uint64_t m_hookup_tick(uint64_t model)
{
    InterlockedIncrement64(&rec((const uint8_t *)(uintptr_t)model)->hookup_ticks);
    return 0;
}

uint64_t m_hookup_prepare(uint64_t model)
{
    record("hookup_prepare", model);
    return 0;
}

uint8_t *light_sub, *flare_sub;

uint64_t m_hookups_create(uint64_t model, uint64_t context, uint64_t one)
{
    record("hookups_create", model, *(const uint64_t *)(uintptr_t)context, one);
    uint8_t *m = (uint8_t *)(uintptr_t)model;
    model_record_t *r = rec(m);
    if (LONG ms = InterlockedCompareExchange(&hookups_delay_ms, 0, 0)) {
        InterlockedExchange(&r->creating, 1);
        Sleep((DWORD)ms);
        InterlockedExchange(&r->creating, 0);
    }
    const model_entry *e = r->entry;
    int n = e ? e->lights + e->flares : 0;
    if (!n)
        return 0;
    uint8_t *list = object_new(8 * (size_t)n);
    for (int i = 0; i < n; i++) {
        bool flare = i >= e->lights;
        uint8_t *h = object_new(flare ? 0x248 : 0x240, unit_vtable_new());
        unit_add(h, unit_type::entry, flare ? flare_sub : light_sub);
        put<uint64_t>(list, (uint32_t)(8 * i), (uint64_t)(uintptr_t)h);
        if (!flare && light_count < 64) {
            put<uint64_t>(light_array, (uint32_t)(8 * light_count), (uint64_t)(uintptr_t)h);
            put<uint64_t>(light_records, (uint32_t)(32 * light_count + 24), (uint64_t)(uintptr_t)h);
            light_count++;
            uint8_t *ctrl = player_copy.ctrl;
            put<uint64_t>(ctrl, prop_off::ctrl_lights + 8, light_count);
            put<uint64_t>(ctrl, prop_off::ctrl_static_lights + 8, light_count);
        }
    }
    put<uint64_t>(m, prop_off::model_hookups, (uint64_t)(uintptr_t)list);
    put<uint64_t>(m, prop_off::model_hookup_count, (uint64_t)n);
    return 0;
}

uint64_t fake_create_model(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    uint8_t *m = counted_unit_create(prop_off::model_class, factory, model_size, model_vt);
    if (m) {
        rec_new(m);
        made.push_back(m);
    }
    return (uint64_t)(uintptr_t)m;
}

/* the set-up calls */
uint64_t f_alloc(uint64_t size)
{
    record("setup_alloc", size);
    return (uint64_t)(uintptr_t)object_new((size_t)size);
}
uint64_t f_construct(uint64_t block)
{
    record("setup_construct", block);
    return 0;
}
uint64_t f_ref(uint64_t out)
{
    uint8_t *ref = object_new(0x20, unit_vtable_new());
    unit_add(ref, unit_type::entry, nullptr);
    unit_ref(ref);
    *(uint64_t *)(uintptr_t)out = (uint64_t)(uintptr_t)ref;
    record("setup_ref", out, (uint64_t)(uintptr_t)ref);
    return 0;
}
uint64_t f_bind(uint64_t block, uint64_t one, uint64_t ref)
{
    record("setup_bind", block, one, ref);
    return 0;
}
uint64_t f_attach(uint64_t model, uint64_t block, uint64_t ref)
{
    record("setup_attach", model, block, ref);
    return 0;
}
uint64_t f_transform_update(uint64_t transform, uint64_t arg)
{
    record("transform_update", transform - 0x10, arg);
    return 0;
}

/* ---- files ---- */

uint64_t f_exists(uint64_t, uint64_t path_ptr)
{
    const char *path = *(const char *const *)(uintptr_t)path_ptr;
    record("file_exists");
    return known_files.count(path) ? 1 : 0;
}

/* ---- placements ---- */

uint64_t f_compose(uint64_t frame, uint64_t out, uint64_t rel)
{
    *(placement32 *)(uintptr_t)out = compose(*(const placement32 *)(uintptr_t)frame, (const float *)(uintptr_t)rel);
    return out;
}

bool vehicle_placement(uint8_t *vehicle, placement32 *out)
{
    void **vt = (void **)(uintptr_t)get<uint64_t>(vehicle, 0);
    typedef uint64_t (*get_fn)(uint64_t, placement32 *);
    return ((get_fn)vt[29])((uint64_t)(uintptr_t)vehicle, out) != 0;
}

uint64_t f_world_placement(uint64_t transform)
{
    uint8_t *m = (uint8_t *)(uintptr_t)(transform - 0x10);
    auto it = parts.find(m);
    if (it != parts.end()) {
        placement32 v;
        if (vehicle_placement(it->second.vehicle, &v)) {
            float rel[8] = { it->second.offset[0], it->second.offset[1], it->second.offset[2], 0, 1, 0, 0, 0 };
            placement32 p = compose(v, rel);
            memcpy(m + 0x30, &p, 32);
        }
    }
    return transform + 0x20;
}

/* ---- physics ---- */

bool ground_at(double x, double z, double *h)
{
    switch (ground) {
    case ground_kind::flat: *h = ground_h; return true;
    case ground_kind::slope: *h = ground_h + ground_k * x; return true;
    case ground_kind::step: *h = x < 0 ? ground_h : ground_h + ground_k; return true;
    case ground_kind::hole:
        if (fabs(x) < ground_k && fabs(z) < ground_k)
            return false;
        *h = ground_h;
        return true;
    }
    return false;
}

/* The top of a box at a frame above the world point, when the point lies
 * inside its footprint: the world height of the top. */
bool box_top(const placement32 &frame, const float mn[3], const float mx[3], double x, double z, double top_y,
             double *out)
{
    double w[3] = { x, top_y, z }, l[3];
    in_frame(frame, w, l);
    if (l[0] < mn[0] || l[0] > mx[0] || l[2] < mn[2] || l[2] > mx[2])
        return false;
    float rel[8] = { (float)l[0], mx[1], (float)l[2], 0, 1, 0, 0, 0 };
    placement32 p = compose(frame, rel);
    *out = p.y;
    return true;
}

struct hit_t {
    float x, y, z;
    int16_t sx, sz;
    float normal[3];
    uint8_t unused[4];
    uint64_t actor;
    uint32_t substance;
    float fraction;
};

uint64_t f_cast(uint64_t, uint64_t hit_ptr, uint32_t filter, uint64_t origin_ptr, uint64_t, float length,
                uint64_t)
{
    const uint8_t *o = (const uint8_t *)(uintptr_t)origin_ptr;
    double x = get<int16_t>(o, 12) * 512.0 + get<float>(o, 0), y = get<float>(o, 4),
           z = get<int16_t>(o, 14) * 512.0 + get<float>(o, 8);
    {
        std::lock_guard<std::mutex> g(cast_lock);
        cast_log.push_back({ filter, x, y, z, length });
    }
    double best = -1e30;
    uint64_t actor = 0;
    double h;
    if (ground_at(x, z, &h) && h <= y && y - h <= length) {
        best = h;
        actor = (uint64_t)(uintptr_t)ground_object;
    }
    for (auto &a : actors) {
        if (a.second.removed || !a.second.placed || !a.second.entry || !a.second.entry->box)
            continue;
        if (box_top(a.second.place, a.second.entry->box_min, a.second.entry->box_max, x, z, y, &h) && h <= y &&
            y - h <= length && h > best) {
            best = h;
            actor = (uint64_t)(uintptr_t)a.first;
        }
    }
    for (auto &p : parts) {
        placement32 frame;
        if (!vehicle_placement(p.second.vehicle, &frame))
            continue;
        float rel[8] = { p.second.offset[0], p.second.offset[1], p.second.offset[2], 0, 1, 0, 0, 0 };
        frame = compose(frame, rel);
        const uint8_t *desc = (const uint8_t *)(uintptr_t)get<uint64_t>(p.first, 0x120);
        const uint8_t *box = desc ? (const uint8_t *)(uintptr_t)get<uint64_t>(desc, 0x18) : nullptr;
        if (!box)
            continue;
        float mn[3], mx[3];
        memcpy(mn, box + 0x30, 12);
        memcpy(mx, box + 0x3C, 12);
        if (box_top(frame, mn, mx, x, z, y, &h) && h <= y && y - h <= length && h > best) {
            best = h;
            actor = (uint64_t)(uintptr_t)p.first;
        }
    }
    if (actor) {
        hit_t *hit = (hit_t *)(uintptr_t)hit_ptr;
        double sx = floor(x / 512.0), sz = floor(z / 512.0);
        hit->sx = (int16_t)sx;
        hit->sz = (int16_t)sz;
        hit->x = (float)(x - sx * 512.0);
        hit->y = (float)best;
        hit->z = (float)(z - sz * 512.0);
        hit->normal[1] = 1;
        hit->actor = actor;
        hit->substance = 7;
        hit->fraction = (float)((y - best) / length);
    }
    return actor != 0;
}

uint64_t f_new_actor(uint64_t)
{
    uint8_t *a = object_new(0x100, actor_vt);
    put<uint64_t>(a, 0x08, 0xA8A8);
    put<uint64_t>(a, 0x28, 0xA828);
    actors[a] = actor_t{};
    actor_count++;
    record("new_static_actor", (uint64_t)(uintptr_t)a);
    return (uint64_t)(uintptr_t)a;
}

uint64_t f_actor_place(uint64_t actor, uint64_t p)
{
    actor_t &a = actors[(uint8_t *)(uintptr_t)actor];
    a.place = *(const placement32 *)(uintptr_t)p;
    a.placed = true;
    record("actor_set_placement", actor);
    return 0;
}

std::map<uint64_t, const model_entry *> resources;

uint64_t f_resource(uint64_t manager, uint64_t one, uint64_t path_ptr, uint64_t kind, uint64_t, uint64_t)
{
    const char *path = *(const char *const *)(uintptr_t)path_ptr;
    record("resource_load", manager, one, kind);
    // The game looks the path up in the manager's list first: a missing or
    // freed manager faults here, as it does in the game.
    (void)*(volatile const uint64_t *)(uintptr_t)manager;
    std::string p = path;
    if (p.size() < 4)
        return 0;
    std::string pmd = p.substr(0, p.size() - 1) + "d";
    const model_entry *e = nullptr;
    for (auto &kv : entries)
        if (_stricmp(kv.first.c_str(), pmd.c_str()) == 0 && p.back() == 'c')
            e = &kv.second;
    if (!e || !e->collision)
        return 0;
    uint8_t *res = object_new(88);
    uint8_t *data = object_new(16);
    put<uint64_t>(res, 0x50, (uint64_t)(uintptr_t)data);
    resources[(uint64_t)(uintptr_t)data] = e;
    return (uint64_t)(uintptr_t)res;
}

uint64_t f_build(uint64_t data, uint64_t look, uint64_t variant, uint64_t srv, uint64_t actor, uint64_t state,
                 uint32_t zero, uint64_t transform)
{
    record("shape_build", data, srv, actor);
    (void)look;
    (void)variant;
    (void)zero;
    (void)transform;
    actors[(uint8_t *)(uintptr_t)actor].entry = resources[data];
    uint64_t *s = (uint64_t *)(uintptr_t)state;
    s[1] = (uint64_t)(uintptr_t)object_new(16);
    s[2] = 2;
    s[3] = 2;
    return builder_result;
}

uint64_t f_scene_add(uint64_t actor, uint64_t collision_scene)
{
    record("scene_add", actor, collision_scene);
    return 0;
}

uint64_t f_shapes_remove(uint64_t srv, uint64_t state)
{
    record("shapes_remove", srv, state);
    return 0;
}

uint64_t f_actor_remove(uint64_t srv, uint64_t actor)
{
    record("actor_remove", srv, actor);
    auto it = actors.find((uint8_t *)(uintptr_t)actor);
    if (it != actors.end())
        it->second.removed = true;
    return 0;
}

void place_scene(int depth)
{
    put<uint64_t>(server, 0x40, depth == 0 ? (uint64_t)(uintptr_t)scene : 0);
    put<uint64_t>(scene_holder, 0x18, (uint64_t)(uintptr_t)scene);
    put<uint64_t>(server, 0x48, depth == 1 ? (uint64_t)(uintptr_t)scene_holder : 0);
}

/* ---- parts ---- */

uint8_t *part_model_new(uint8_t *vehicle, bool cabin)
{
    uint8_t *m = vehicle_model_new(cabin);
    part_t p = { vehicle, { 0, cabin ? 1.5f : 0.0f, cabin ? -1.0f : 0.0f }, cabin };
    parts[m] = p;
    return m;
}

/* The part models of a vehicle that is gone (its pages too) leave the scene. */
void parts_forget(uint8_t *vehicle)
{
    for (auto it = parts.begin(); it != parts.end();)
        it = it->second.vehicle == vehicle ? parts.erase(it) : std::next(it);
}

void list_put(uint8_t *vehicle, uint32_t offset, uint8_t *model)
{
    uint8_t *list = object_new(8);
    put<uint64_t>(list, 0, (uint64_t)(uintptr_t)model);
    put<uint64_t>(vehicle, offset, (uint64_t)(uintptr_t)list);
    put<uint64_t>(vehicle, offset + 8, 1);
}

} // namespace

/* A vehicle's model object: the model table (in the image, whether or not
 * the props world is installed), one reference, loaded, and the box of a
 * cabin or of a chassis. */
uint8_t *vehicle_model_new(bool cabin)
{
    uint8_t *m = object_new(model_size, (void **)game_at(prop_off::model_vtable));
    rec_new(m);
    put<uint32_t>(m, 8, 1);
    put<uint32_t>(m, prop_off::model_flags, 0x100);
    uint8_t *desc = object_new(32), *box = object_new(0x60);
    const float cmn[3] = { -1.2f, -1.0f, -1.0f }, cmx[3] = { 1.2f, 1.2f, 1.0f };
    const float tmn[3] = { -1.25f, 0.0f, -3.0f }, tmx[3] = { 1.25f, 1.2f, 3.0f };
    memcpy(box + 0x30, cabin ? cmn : tmn, 12);
    memcpy(box + 0x3C, cabin ? cmx : tmx, 12);
    put<uint64_t>(desc, 0x18, (uint64_t)(uintptr_t)box);
    put<uint64_t>(m, 0x120, (uint64_t)(uintptr_t)desc);
    return m;
}

/* ---- the interface ---- */

void model_add(const model_entry &e)
{
    entries[e.path] = e;
    known_files.insert(e.path);
}
void file_add(const char *path) { known_files.insert(path); }
std::vector<uint8_t *> models_made() { return made; }
model_seen model_draws(const uint8_t *model)
{
    model_record_t *r = rec(model);
    model_seen s = {};
    if (!r)
        return s;
    s.draws = (uint64_t)InterlockedCompareExchange64(&r->draws, 0, 0);
    s.context = (uint64_t)InterlockedCompareExchange64(&r->context, 0, 0);
    s.render_word = (uint32_t)InterlockedCompareExchange(&r->render_word, 0, 0);
    s.draw_thread = (uint32_t)InterlockedCompareExchange(&r->draw_thread, 0, 0);
    s.hookup_ticks = (uint64_t)InterlockedCompareExchange64(&r->hookup_ticks, 0, 0);
    s.unreferenced_draws = (uint64_t)InterlockedCompareExchange64(&r->unreferenced, 0, 0);
    s.creating_draws = (uint64_t)InterlockedCompareExchange64(&r->creating_draws, 0, 0);
    return s;
}
bool model_drawn_in_frame(const uint8_t *model, uint64_t frame)
{
    model_record_t *r = rec(model);
    for (int i = 0; r && i < 8; i++)
        if (i < InterlockedCompareExchange(&r->frames_next, 0, 0) &&
            (uint64_t)InterlockedCompareExchange64(&r->frames[i], 0, 0) == frame)
            return true;
    return false;
}
void model_set_loaded(uint8_t *model, bool loaded)
{
    uint32_t f = get<uint32_t>(model, prop_off::model_flags);
    put<uint32_t>(model, prop_off::model_flags, loaded ? f | 0x100 : f & ~0x100u);
}
std::vector<uint8_t *> model_hookups(const uint8_t *model)
{
    std::vector<uint8_t *> out;
    const uint8_t *list = (const uint8_t *)(uintptr_t)get<uint64_t>(model, prop_off::model_hookups);
    uint64_t n = get<uint64_t>(model, prop_off::model_hookup_count);
    for (uint64_t i = 0; list && i < n; i++)
        out.push_back((uint8_t *)(uintptr_t)get<uint64_t>(list, (uint32_t)(8 * i)));
    return out;
}
bool hookup_is_flare(const uint8_t *hookup)
{
    unit *u = unit_of(hookup);
    return u && u->cls == flare_sub;
}
void model_draw_faults(bool faults)
{
    draws_fault = faults;
    vtable_set(model_vt, 18, faults ? (void *)game_at(faulting_stub) : (void *)m_draw);
}

void ground_set(ground_kind kind, float h, float k)
{
    ground = kind;
    ground_h = h;
    ground_k = k;
}
uint64_t ground_actor() { return (uint64_t)(uintptr_t)ground_object; }
std::vector<ray_cast> rays()
{
    std::lock_guard<std::mutex> g(cast_lock);
    return cast_log;
}

void part_models_add(uint8_t *vehicle, bool cabin)
{
    list_put(vehicle, prop_off::chassis_slots, part_model_new(vehicle, false));
    if (cabin)
        list_put(vehicle, prop_off::cabin_slots, part_model_new(vehicle, true));
}
uint8_t *part_model(const uint8_t *vehicle, bool cabin)
{
    for (auto &p : parts)
        if (p.second.vehicle == vehicle && p.second.cabin == cabin)
            return p.first;
    return nullptr;
}
void part_models_remove(uint8_t *vehicle)
{
    put<uint64_t>(vehicle, prop_off::chassis_slots + 8, 0);
    put<uint64_t>(vehicle, prop_off::cabin_slots + 8, 0);
    parts_forget(vehicle);
}

std::vector<uint8_t *> actors_live()
{
    std::vector<uint8_t *> out;
    for (auto &a : actors)
        if (!a.second.removed)
            out.push_back(a.first);
    return out;
}
size_t actors_made() { return actor_count; }

void physics_fault(physics_step step)
{
    void *stub = game_at(faulting_stub);
    switch (step) {
    case physics_step::cast: vtable_set((void **)(uintptr_t)get<uint64_t>(scene, 0), 22, stub); break;
    case physics_step::resource: game_function_faulting(prop_off::resource_load); break;
    case physics_step::new_actor: vtable_set(server_vt, 12, stub); break;
    case physics_step::build: game_function_faulting(prop_off::shape_build); break;
    case physics_step::set_placement: vtable_set(actor_vt, 34, stub); break;
    case physics_step::add: game_function_faulting(prop_off::scene_add); break;
    case physics_step::remove_shapes: game_function_faulting(prop_off::shapes_remove); break;
    case physics_step::remove_actor: game_function_faulting(prop_off::actor_remove); break;
    case physics_step::hookups: vtable_set(model_vt, 30, stub); break;
    }
}
void model_draw_delay(uint32_t ms) { InterlockedExchange(&model_delay, (LONG)ms); }
void model_hookups_delay(uint32_t ms) { InterlockedExchange(&hookups_delay_ms, (LONG)ms); }
void shape_builder_result(bool result) { builder_result = result; }
void scene_depth(int depth) { place_scene(depth); }
uint8_t *physics_scene() { return scene; }

/* ---- install ---- */

void props_world_install(const player &p)
{
    entries.clear();
    known_files.clear();
    AcquireSRWLockExclusive(&records_lock);
    for (auto &kv : records)
        delete kv.second;
    records.clear();
    ReleaseSRWLockExclusive(&records_lock);
    made.clear();
    actors.clear();
    actor_count = 0;
    parts.clear();
    resources.clear();
    {
        std::lock_guard<std::mutex> g(cast_lock);
        cast_log.clear();
    }
    draws_fault = false;
    model_delay = 0;
    hookups_delay_ms = 0;
    builder_result = true;
    ground_set(ground_kind::flat, 0.0f);
    player_copy = p;
    the_player = &player_copy;
    // the model class and its table
    class_init(game_at(prop_off::model_class), "model_object", nullptr);
    put<uint64_t>(game_at(prop_off::model_class), 8, (uint64_t)(uintptr_t)fake_create_model);
    model_vt = vtable_at(prop_off::model_vtable, vtable_max_slots);
    unit_vtable_fill(model_vt, nullptr);
    vtable_set(model_vt, 17, (void *)m_hookup_tick);
    vtable_set(model_vt, 18, (void *)m_draw);
    vtable_set(model_vt, 30, (void *)m_hookups_create);
    vtable_set(model_vt, 33, (void *)m_set_data);
    vtable_set(model_vt, 40, (void *)m_hookup_prepare);
    game_function(prop_off::alloc, (void *)f_alloc);
    game_function(prop_off::setup_construct, (void *)f_construct);
    game_function(prop_off::setup_ref, (void *)f_ref);
    game_function(prop_off::setup_bind, (void *)f_bind);
    game_function(prop_off::setup_attach, (void *)f_attach);
    game_function(prop_off::transform_update, (void *)f_transform_update);
    game_function(prop_off::world_placement, (void *)f_world_placement);
    game_function(prop_off::compose, (void *)f_compose);
    // the file system
    files_iface = object_new(8, vtable_new(8));
    vtable_set((void **)(uintptr_t)get<uint64_t>(files_iface, 0), 4, (void *)f_exists);
    files_array = object_new(40);
    put<uint64_t>(files_array, 32, (uint64_t)(uintptr_t)files_iface);
    game_put<uint64_t>(prop_off::files, (uint64_t)(uintptr_t)files_array);
    game_put<uint64_t>(prop_off::files_count, 5);
    // physics
    server_vt = vtable_new(vtable_max_slots);
    vtable_set(server_vt, 12, (void *)f_new_actor);
    server = object_new(1024, server_vt);
    void **scene_vt = vtable_at(prop_off::scene_vtable, vtable_max_slots);
    vtable_set(scene_vt, 22, (void *)f_cast);
    scene = object_new(0x100, scene_vt);
    scene_holder = object_new(0x40);
    place_scene(0);
    put<uint64_t>(p.ctrl, prop_off::ctrl_physics_server, (uint64_t)(uintptr_t)server);
    put<uint64_t>(p.ctrl, prop_off::ctrl_collision_scene, (uint64_t)(uintptr_t)object_new(0x40));
    actor_vt = vtable_new(vtable_max_slots);
    vtable_set(actor_vt, 34, (void *)f_actor_place);
    ground_object = object_new(0x40);
    game_put<uint64_t>(prop_off::resource_manager, (uint64_t)(uintptr_t)object_new(0x200));
    game_function(prop_off::resource_load, (void *)f_resource);
    game_function(prop_off::shape_build, (void *)f_build);
    game_function(prop_off::scene_add, (void *)f_scene_add);
    game_function(prop_off::shapes_remove, (void *)f_shapes_remove);
    game_function(prop_off::actor_remove, (void *)f_actor_remove);
    // hookup classes and the controller's light lists
    class_init(game_at(prop_off::light_class), "light", nullptr);
    class_init(game_at(prop_off::flare_class), "flare_blink", nullptr);
    light_sub = class_new("light_omni", game_at(prop_off::light_class));
    flare_sub = class_new("flare_blink_lamp", game_at(prop_off::flare_class));
    light_array = object_new(8 * 64);
    light_records = object_new(32 * 64);
    light_count = 0;
    put<uint64_t>(p.ctrl, prop_off::ctrl_lights, (uint64_t)(uintptr_t)light_array);
    put<uint64_t>(p.ctrl, prop_off::ctrl_static_lights, (uint64_t)(uintptr_t)light_records);
    // the local truck's parts, and those of the vehicles and trailers the
    // factory makes from now on
    part_models_add(p.truck, true);
    made_observer = [](uint8_t *object, uint32_t class_record) {
        if (class_record == phys::class_record)
            part_models_add(object, true);
        else if (class_record == trl::class_record)
            part_models_add(object, false);
    };
    // A vehicle's part models go with it: no ray meets them afterwards.
    destroyed_observer = parts_forget;
}

} // namespace sim
