// The simulated game's economy and its freight-row routine (see sim_economy.h).
//
// Index of this file:
//   state          the economy's objects, the scripted answers
//   lookups        company, cargo and city display-name fakes
//   strings        game string assign and free
//   generator      the offer generator
//   job block      pick, prepare, take, free
//   row routine    its bytes and the fake its body calls
//   content        economy_create and what tests add
//   rows           the freight list drawn on the render thread, a throwing
//                  row, two threads in one row
#include "sim/sim_economy.h"
#include "sim/sim_draw.h"
#include <windows.h>
#include "dm_seh.h"
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

namespace sim {
namespace {

using namespace econ_off;

/* ---- state ---- */

world eco_world;
uint8_t *player_object;
std::vector<uint8_t *> companies, cargos;
volatile LONG rows_installed;
volatile LONG rows_running;
bool generator_refuses;
int32_t prepare_status, take_result;
SRWLOCK lock = SRWLOCK_INIT; // the company list and the drawn rows
std::vector<drawn_row> drawing, last_rows;
uint64_t row_frames;
uint64_t last_result;
uint8_t *rows_memory; // room for the freight list's rows
const size_t rows_max = 512;
volatile uint64_t throwing_offer; // its row throws from inside the routine
uint64_t rows_caught;

/* Two threads inside the routine at once (economy_rows_overlap): a1 names
 * the thread. */
const uint64_t overlap_first = 0x0E1, overlap_second = 0x0E2;
struct overlap_run {
    HANDLE first_inside, second_inside, first_left;
    drawn_row seen[2];
    bool waited[2];
    uint8_t *rows;
};
overlap_run overlap;

uint8_t *economy() { return eco_world.economy; }

uint8_t *text_copy(const char *text)
{
    size_t n = strlen(text);
    uint8_t *copy = object_new(n + 1);
    memcpy(copy, text, n + 1);
    return copy;
}

uint8_t *find_company(uint64_t co, uint64_t city)
{
    for (uint8_t *c : companies)
        if (get<uint64_t>(c, company_token) == co && get<uint64_t>(c, company_city) == city)
            return c;
    return nullptr;
}

uint8_t *find_cargo(uint64_t token)
{
    for (uint8_t *c : cargos)
        if (get<uint64_t>(c, cargo_token) == token)
            return c;
    return nullptr;
}

uint8_t *company_from_name(const char *name)
{
    const char *dot = strchr(name, '.');
    if (!dot)
        return nullptr;
    std::string co(name, dot - name);
    return find_company(economy_token(co.c_str()), economy_token(dot + 1));
}

struct city_name {
    uint64_t city;
    uint8_t *display;
};
std::vector<city_name> city_names;

/* ---- lookups ---- */

uint64_t fake_company_lookup(uint64_t co, uint64_t city, uint64_t, uint64_t)
{
    return (uint64_t)(uintptr_t)find_company(*(uint64_t *)co, *(uint64_t *)city);
}

uint64_t fake_cargo_lookup(uint64_t cargo, uint64_t, uint64_t, uint64_t)
{
    return (uint64_t)(uintptr_t)find_cargo(*(uint64_t *)cargo);
}

uint64_t fake_city_display_name(uint64_t city, uint64_t, uint64_t, uint64_t)
{
    for (auto &c : city_names)
        if (c.city == *(uint64_t *)city)
            return (uint64_t)(uintptr_t)c.display;
    return 0;
}

/* ---- strings ---- */

const char *string_text(uint64_t s) { return (const char *)(uintptr_t)get<uint64_t>((void *)s, 0x10); }

uint64_t fake_string_assign(uint64_t s, uint64_t text, uint64_t, uint64_t)
{
    record("string_assign", s, get<uint64_t>((void *)s, 0), get<uint64_t>((void *)s, 8));
    const char *t = (const char *)(uintptr_t)text;
    size_t n = strlen(t);
    char *copy = (char *)malloc(n + 1);
    memcpy(copy, t, n + 1);
    put<uint64_t>((void *)s, 0x10, (uint64_t)(uintptr_t)copy);
    put<uint64_t>((void *)s, 0x18, n);
    return s;
}

uint64_t fake_string_free(uint64_t s, uint64_t, uint64_t, uint64_t)
{
    record("string_free", s);
    free((void *)(uintptr_t)get<uint64_t>((void *)s, 0x10));
    put<uint64_t>((void *)s, 0x10, 0);
    return 0;
}

/* ---- generator ---- */

uint64_t fake_offer_generator(uint64_t eco, uint64_t cargo, uint64_t source, uint64_t target)
{
    record("offer_generator", eco, cargo, source, target);
    AcquireSRWLockExclusive(&lock);
    uint8_t *company = company_from_name(string_text(source));
    uint8_t *c = find_cargo(economy_token(string_text(cargo)));
    uint8_t *offer = company && get<uint64_t>(company, company_offer_count)
                         ? get<uint8_t *>(get<uint8_t *>(company, company_offers), 0)
                         : nullptr;
    if (offer && c && !generator_refuses) {
        put<uint64_t>(offer, offer_target, (uint64_t)(uintptr_t)text_copy(string_text(target)));
        put<uint64_t>(offer, offer_cargo, (uint64_t)(uintptr_t)c);
        put<uint32_t>(offer, offer_urgency, 0);
        put<uint16_t>(offer, offer_km, 999);
        put<uint32_t>(offer, offer_units, 20);
    }
    ReleaseSRWLockExclusive(&lock);
    return 0;
}

/* ---- job block ---- */

uint64_t fake_pick(uint64_t eco, uint64_t from, uint64_t to, uint64_t block)
{
    record("job_pick", eco, *(uint64_t *)from, *(uint64_t *)to);
    uint8_t *a = nullptr, *b = nullptr;
    for (uint8_t *c : companies) {
        if (!a && get<uint64_t>(c, company_city) == *(uint64_t *)from)
            a = c;
        if (!b && get<uint64_t>(c, company_city) == *(uint64_t *)to)
            b = c;
    }
    if (!a || !b || cargos.empty())
        return 0;
    uint8_t *k = (uint8_t *)(uintptr_t)block;
    put<uint64_t>(k, 0, get<uint64_t>(a, company_token));
    put<uint64_t>(k, 8, get<uint64_t>(a, company_city));
    put<uint64_t>(k, 0x10, get<uint64_t>(b, company_token));
    put<uint64_t>(k, 0x18, get<uint64_t>(b, company_city));
    put<uint64_t>(k, 0x20, get<uint64_t>(cargos[0], cargo_token));
    put<uint8_t>(k, block_type, 1);
    memcpy(k + block_trailer, "box", 4);
    return 1;
}

uint64_t fake_prepare(uint64_t block, uint64_t tp, uint64_t has_truck, uint64_t)
{
    record("job_prepare", block, tp & 0xFF, has_truck & 0xFF);
    put<uint64_t>((void *)block, block_prepared, (uint64_t)(uintptr_t)object_new(0x40));
    return (uint64_t)(uint32_t)prepare_status;
}

uint64_t fake_take(uint64_t block, uint64_t, uint64_t, uint64_t)
{
    record("job_take", block, get<uint64_t>((void *)block, block_prepared));
    return (uint64_t)(uint32_t)take_result;
}

uint64_t fake_free(uint64_t block, uint64_t, uint64_t, uint64_t)
{
    record("job_free", block, get<uint64_t>((void *)block, block_prepared));
    put<uint64_t>((void *)block, block_prepared, 0);
    return 0;
}

/* ---- row routine ---- */

drawn_row read_row(uint64_t row)
{
    drawn_row r = {};
    r.offer = get<uint64_t>((void *)row, 8);
    r.header = get<uint64_t>((void *)row, 0x18);
    if (r.offer) {
        uint8_t *cargo = get<uint8_t *>((void *)r.offer, offer_cargo);
        if (cargo)
            r.cargo.assign(get<const char *>(cargo, cargo_name), get<uint32_t>(cargo, cargo_name_length));
    }
    return r;
}

/* As the game's compiler throws: non-continuable, four parameters. */
__attribute__((noinline)) void row_throw(uint64_t row)
{
    ULONG_PTR info[4] = { 0x19930520, (ULONG_PTR)row, 0, (ULONG_PTR)GetModuleHandleW(nullptr) };
    RaiseException(row_throw_code, EXCEPTION_NONCONTINUABLE, 4, info);
}

uint64_t row_fake(uint64_t a1, uint64_t, uint64_t row)
{
    if (a1 == overlap_first || a1 == overlap_second) {
        int k = a1 == overlap_first ? 0 : 1;
        overlap.seen[k] = read_row(row);
        SetEvent(k == 0 ? overlap.first_inside : overlap.second_inside);
        HANDLE until = k == 0 ? overlap.second_inside : overlap.first_left;
        overlap.waited[k] = WaitForSingleObject(until, overlap_wait_ms) == WAIT_OBJECT_0;
        return row_result;
    }
    bool throws = false;
    {
        drawn_row r = read_row(row);
        throws = throwing_offer && r.offer == throwing_offer;
        drawing.push_back(r);
    }
    if (throws)
        row_throw(row);
    return row_result;
}

void put_u64(uint8_t *at, uint64_t v) { memcpy(at, &v, 8); }

/* Its unwind data (sim_economy_image.S) describes the first 20 bytes. */
void write_row_routine()
{
    uint8_t code[row_routine_size] = {
        0x48, 0x89, 0x54, 0x24, 0x10,             // mov [rsp+0x10], rdx
        0x55,                                     // push rbp
        0x41, 0x54,                               // push r12
        0x48, 0x8D, 0xAC, 0x24, 0xA8, 0xEE, 0xFF, 0xFF, // lea rbp, [rsp-0x1158] (16 bytes: the hooked prologue)
        0x48, 0x83, 0xEC, 0x28,                   // sub rsp, 0x28
        0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0,       // mov rax, row_fake (a1, a2, row still in rcx, rdx, r8)
        0xFF, 0xD0,                               // call rax
        0x48, 0x83, 0xC4, 0x28,                   // add rsp, 0x28
        0x41, 0x5C,                               // pop r12
        0x5D,                                     // pop rbp
        0xC3,                                     // ret
    };
    put_u64(code + 22, (uint64_t)(uintptr_t)&row_fake);
    game_write(row_routine, code, sizeof code);
}

} // namespace

/* ---- content ---- */

uint64_t economy_token(const char *name)
{
    static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz_";
    size_t n = strlen(name);
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) {
        const char *hit = strchr(alphabet, name[i]);
        v = v * 38 + (hit && name[i] ? (uint64_t)(hit - alphabet + 1) : 0);
    }
    return v;
}

void economy_create(const world &w)
{
    InterlockedExchange(&rows_installed, 0);
    AcquireSRWLockExclusive(&lock);
    eco_world = w;
    companies.clear();
    cargos.clear();
    city_names.clear();
    last_rows.clear();
    drawing.clear();
    row_frames = 0;
    last_result = 0;
    throwing_offer = 0;
    rows_caught = 0;
    generator_refuses = false;
    prepare_status = take_result = 0;
    uint8_t *list = object_new(8 * 64);
    put<uint64_t>(economy(), economy_companies, (uint64_t)(uintptr_t)list);
    put<uint32_t>(economy(), economy_company_count, 0);
    player_object = object_new(0x100);
    put<uint64_t>(player_object, 0x28, 0x10B0001);
    put<uint64_t>(player_object, 0x30, 0x10B0002);
    put<uint64_t>(player_object, 0x38, 0x10B0003);
    put<uint64_t>(economy(), economy_player, (uint64_t)(uintptr_t)player_object);
    rows_memory = object_new(0x20 * rows_max);
    ReleaseSRWLockExclusive(&lock);

    game_function(company_lookup, (void *)fake_company_lookup);
    game_function(cargo_lookup, (void *)fake_cargo_lookup);
    game_function(city_display_name, (void *)fake_city_display_name);
    game_function(string_assign, (void *)fake_string_assign);
    game_function(string_free, (void *)fake_string_free);
    game_function(offer_generator, (void *)fake_offer_generator);
    game_function(block_pick, (void *)fake_pick);
    game_function(block_prepare, (void *)fake_prepare);
    game_function(block_take, (void *)fake_take);
    game_function(block_free, (void *)fake_free);
    for (uint32_t i = 0; i < 28; i++) {
        char text[32];
        snprintf(text, sizeof text, "result %u", i);
        game_put<uint64_t>(result_texts + 8 * i, (uint64_t)(uintptr_t)text_copy(text));
    }
    write_row_routine();
    // The game's code pages are execute-read: a hook must change that itself.
    game_protect(game_at(row_routine), row_routine_size, PAGE_EXECUTE_READ);
    FlushInstructionCache(GetCurrentProcess(), game_at(row_routine), row_routine_size);
    InterlockedExchange(&rows_installed, 1);
}

uint8_t *economy_cargo(const char *name)
{
    uint8_t *c = object_new(0x40);
    put<uint64_t>(c, cargo_token, economy_token(name));
    size_t n = strlen(name);
    uint8_t *text = object_new(n); // not NUL-terminated: the length counts
    memcpy(text, name, n);
    put<uint64_t>(c, cargo_name, (uint64_t)(uintptr_t)text);
    put<uint32_t>(c, cargo_name_length, (uint32_t)n);
    cargos.push_back(c);
    return c;
}

uint8_t *economy_company(const char *company, const char *city, double x, double z, bool placed)
{
    uint8_t *c = object_new(0x100);
    put<uint64_t>(c, company_token, economy_token(company));
    put<uint64_t>(c, company_city, economy_token(city));
    put<uint64_t>(c, company_offers, (uint64_t)(uintptr_t)object_new(8 * company_offers_max));
    uint8_t *item = object_new(0x80);
    uint8_t *pos = object_new(12);
    put<int32_t>(pos, 0, (int32_t)lround(x * 256));
    put<int32_t>(pos, 4, 0);
    put<int32_t>(pos, 8, (int32_t)lround(z * 256));
    put<uint64_t>(item, item_owner, placed ? (uint64_t)(uintptr_t)c : 0);
    put<uint64_t>(item, item_position, (uint64_t)(uintptr_t)pos);
    put<uint64_t>(c, company_item, (uint64_t)(uintptr_t)item);
    AcquireSRWLockExclusive(&lock);
    uint8_t *list = get<uint8_t *>(economy(), economy_companies);
    uint32_t n = get<uint32_t>(economy(), economy_company_count);
    put<uint64_t>(list, 8 * n, (uint64_t)(uintptr_t)c);
    put<uint32_t>(economy(), economy_company_count, n + 1);
    companies.push_back(c);
    ReleaseSRWLockExclusive(&lock);
    return c;
}

void economy_city_name(const char *city, const char *display)
{
    city_names.push_back({ economy_token(city), text_copy(display) });
}

uint8_t *economy_offer(uint8_t *company, const char *target, uint8_t *cargo, uint16_t km, uint32_t urgency)
{
    uint8_t *o = object_new(0x80);
    put<uint64_t>(o, offer_target, (uint64_t)(uintptr_t)text_copy(target));
    put<uint64_t>(o, offer_cargo, (uint64_t)(uintptr_t)cargo);
    put<uint16_t>(o, offer_km, km);
    put<uint32_t>(o, offer_urgency, urgency);
    put<uint32_t>(o, offer_units, 10);
    AcquireSRWLockExclusive(&lock);
    uint64_t n = get<uint64_t>(company, company_offer_count);
    put<uint64_t>(get<uint8_t *>(company, company_offers), (uint32_t)(8 * n), (uint64_t)(uintptr_t)o);
    put<uint64_t>(company, company_offer_count, n + 1);
    ReleaseSRWLockExclusive(&lock);
    return o;
}

uint8_t *economy_offer_at(const uint8_t *company, size_t index)
{
    return get<uint8_t *>(get<uint8_t *>(company, company_offers), (uint32_t)(8 * index));
}

std::string economy_offer_target(const uint8_t *offer) { return get<const char *>(offer, offer_target); }

void economy_generator_refuses(bool refuse) { generator_refuses = refuse; }

void economy_player_truck(bool has_truck)
{
    if (!has_truck) {
        put<uint64_t>(player_object, 0x80, 0);
        return;
    }
    uint8_t *entry = object_new(0x50), *p = object_new(0x10), *list = object_new(8);
    put<int32_t>(entry, 8, -1);
    put<int32_t>(p, 8, -1);
    put<uint64_t>(entry, 0x48, (uint64_t)(uintptr_t)p);
    put<uint64_t>(list, 0, (uint64_t)(uintptr_t)entry);
    put<uint64_t>(player_object, 0x78, (uint64_t)(uintptr_t)list);
    put<uint64_t>(player_object, 0x80, 1);
}

void economy_prepare_status(int32_t status) { prepare_status = status; }
void economy_take_result(int32_t result) { take_result = result; }
void economy_result_text(uint32_t code, const char *text)
{
    game_put<uint64_t>(result_texts + 8 * code, (uint64_t)(uintptr_t)text_copy(text));
}

/* ---- rows ---- */

typedef uint64_t (*row_fn)(uint64_t, uint64_t, uint64_t);

namespace {

/* One row under the list's own handler, which catches a throwing row. */
struct row_call {
    uint64_t row, result;
};
void row_call_body(void *p)
{
    auto *c = (row_call *)p;
    c->result = ((row_fn)game_at(row_routine))(0xF1, 0xF2, c->row);
}
long row_catch_filter(EXCEPTION_POINTERS *pointers, void *)
{
    return pointers->ExceptionRecord->ExceptionCode == row_throw_code ? EXCEPTION_EXECUTE_HANDLER
                                                                     : EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI overlap_first_thread(void *)
{
    ((row_fn)game_at(row_routine))(overlap_first, 0xF2, (uint64_t)(uintptr_t)overlap.rows);
    SetEvent(overlap.first_left);
    return 0;
}

DWORD WINAPI overlap_second_thread(void *)
{
    if (WaitForSingleObject(overlap.first_inside, overlap_wait_ms) == WAIT_OBJECT_0)
        ((row_fn)game_at(row_routine))(overlap_second, 0xF2, (uint64_t)(uintptr_t)(overlap.rows + 0x20));
    return 0;
}

} // namespace

void economy_draw_rows()
{
    if (!rows_running || !rows_installed)
        return;
    AcquireSRWLockExclusive(&lock);
    drawing.clear();
    size_t n = 0;
    auto add = [&](uint64_t offer, uint64_t header) {
        if (n == rows_max)
            return;
        uint8_t *row = rows_memory + 0x20 * n++;
        put<uint64_t>(row, 8, offer);
        put<uint64_t>(row, 0x18, header);
    };
    add(companies.empty() || !get<uint64_t>(companies[0], company_offer_count)
            ? 0
            : (uint64_t)(uintptr_t)economy_offer_at(companies[0], 0),
        1);
    for (uint8_t *c : companies)
        for (uint64_t i = 0; i < get<uint64_t>(c, company_offer_count); i++)
            if (uint8_t *o = economy_offer_at(c, i))
                add((uint64_t)(uintptr_t)o, 0);
    uint64_t r = 0;
    for (size_t i = 0; i < n; i++) {
        row_call c = { (uint64_t)(uintptr_t)(rows_memory + 0x20 * i), 0 };
        if (dm_seh_call(row_call_body, &c, row_catch_filter, nullptr))
            r = c.result;
        else
            rows_caught++;
    }
    last_rows = drawing;
    last_result = r;
    row_frames++;
    ReleaseSRWLockExclusive(&lock);
}

void economy_rows_start()
{
    InterlockedExchange(&rows_running, 1);
    draw_thread_start();
}

void economy_rows_stop()
{
    InterlockedExchange(&rows_running, 0);
    draw_thread_stop();
}

std::vector<drawn_row> economy_rows()
{
    AcquireSRWLockShared(&lock);
    std::vector<drawn_row> r = last_rows;
    ReleaseSRWLockShared(&lock);
    return r;
}

uint64_t economy_row_last_result()
{
    AcquireSRWLockShared(&lock);
    uint64_t r = last_result;
    ReleaseSRWLockShared(&lock);
    return r;
}

void economy_row_unwinds(const uint8_t *offer) { throwing_offer = (uint64_t)(uintptr_t)offer; }

uint64_t economy_rows_caught()
{
    AcquireSRWLockShared(&lock);
    uint64_t n = rows_caught;
    ReleaseSRWLockShared(&lock);
    return n;
}

bool economy_rows_overlap(const uint8_t *offer, drawn_row seen[2])
{
    if (!overlap.rows)
        overlap.rows = object_new(0x40);
    put<uint64_t>(overlap.rows, 8, (uint64_t)(uintptr_t)offer);
    put<uint64_t>(overlap.rows, 0x28, (uint64_t)(uintptr_t)offer);
    overlap.seen[0] = overlap.seen[1] = drawn_row{};
    overlap.waited[0] = overlap.waited[1] = false;
    overlap.first_inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    overlap.second_inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    overlap.first_left = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2] = { CreateThread(nullptr, 0, overlap_first_thread, nullptr, 0, nullptr),
                          CreateThread(nullptr, 0, overlap_second_thread, nullptr, 0, nullptr) };
    bool ended = WaitForMultipleObjects(2, threads, TRUE, 4 * overlap_wait_ms) == WAIT_OBJECT_0;
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    seen[0] = overlap.seen[0];
    seen[1] = overlap.seen[1];
    if (!ended)
        return false; // the threads still hold the events: they stay open
    CloseHandle(overlap.first_inside);
    CloseHandle(overlap.second_inside);
    CloseHandle(overlap.first_left);
    return overlap.waited[0] && overlap.waited[1];
}

bool economy_rows_wait(uint64_t n, int timeout_ms)
{
    auto frames = [] {
        AcquireSRWLockShared(&lock);
        uint64_t f = row_frames;
        ReleaseSRWLockShared(&lock);
        return f;
    };
    uint64_t until = frames() + n;
    DWORD start = GetTickCount();
    while (frames() < until) {
        if ((int)(GetTickCount() - start) > timeout_ms)
            return false;
        Sleep(1);
    }
    return true;
}

} // namespace sim
