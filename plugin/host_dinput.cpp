// The game's DirectInput devices in UI mode: the device tables found by a
// probe get Acquire, GetDeviceState and GetDeviceData hooks, which take the
// keyboard and the mouse from the game while UI mode is on (their reads come
// back empty) and give them back with one DIERR_INPUTLOST, so that keys held
// meanwhile do not stick. F2 never shows in what the game reads.
//
// Index of this file:
// - state
// - device table
// - hooks
// - probe
// - teardown
#define DIRECTINPUT_VERSION 0x0800
#include "host_overlay.h"
#include "dm_module.h"
#include <dinput.h>
#include <stdio.h>
#include <string.h>

namespace {

// ---- state ----

const DWORD DM_DIK_F2 = 0x3C;

enum { KIND_OTHER = 0, KIND_KEYBOARD = 1, KIND_MOUSE = 2 };
const char *const kind_names[3] = { "other", "keyboard", "mouse" };
const char *const kind_log_names[3] = { "other (left alone)", "keyboard", "mouse" };

struct host_dinput_device {
    void *device;
    int32_t kind;
    volatile uint8_t taken;        // we unacquired it for UI mode
    volatile uint8_t lost_pending; // the next buffered read reports input lost
};
host_dinput_device devices[16];
volatile LONG device_count;
SRWLOCK device_lock = SRWLOCK_INIT;

// Slots 7 (Acquire), 9 (GetDeviceState) and 10 (GetDeviceData); slot 8 is
// Unacquire. The hooks find the entries they replaced by the device's own
// table (host_object_previous), so a table's entries are never called for
// another table's device, whatever order the probes found the tables in.
enum { DI_ACQUIRE = 0, DI_STATE = 1, DI_DATA = 2 };
const int di_slots[3] = { 7, 9, 10 };
struct di_table {
    void **vtable;
    host_slot_patch patch[3];
};
di_table di_tables[4];
int di_table_count;
volatile LONG state_logged[3], data_logged[3];

typedef HRESULT(STDMETHODCALLTYPE *acquire_fn)(IDirectInputDevice8W *);
typedef HRESULT(STDMETHODCALLTYPE *state_fn)(IDirectInputDevice8W *, DWORD, void *);
typedef HRESULT(STDMETHODCALLTYPE *data_fn)(IDirectInputDevice8W *, DWORD, DIDEVICEOBJECTDATA *, DWORD *, DWORD);

bool in_ui() { return host_ui_mode != 0; }

template <class F> F previous(IDirectInputDevice8W *dev, int which)
{
    return (F)host_object_previous(dev, di_slots[which]);
}

bool readable(const void *p, size_t n)
{
    MEMORY_BASIC_INFORMATION mbi;
    if (!p || !VirtualQuery(p, &mbi, sizeof mbi) || mbi.State != MEM_COMMIT)
        return false;
    if (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD))
        return false;
    return (const uint8_t *)p + n <= (const uint8_t *)mbi.BaseAddress + mbi.RegionSize;
}

// ---- device table ----

host_dinput_device *host_dinput_device_lookup(void *dev)
{
    AcquireSRWLockShared(&device_lock);
    LONG n = device_count;
    for (LONG i = 0; i < n; i++)
        if (devices[i].device == dev) {
            ReleaseSRWLockShared(&device_lock);
            return &devices[i];
        }
    ReleaseSRWLockShared(&device_lock);

    auto *d = (IDirectInputDevice8W *)dev;
    DIDEVCAPS caps = {};
    caps.dwSize = sizeof caps;
    int kind = KIND_OTHER;
    if (SUCCEEDED(d->GetCapabilities(&caps))) {
        BYTE type = (BYTE)(caps.dwDevType & 0xFF);
        kind = type == 0x13 ? KIND_KEYBOARD : type == 0x12 ? KIND_MOUSE : KIND_OTHER;
    }
    host_dinput_device *rec = nullptr;
    bool added = false;
    AcquireSRWLockExclusive(&device_lock);
    for (LONG i = 0; i < device_count; i++)
        if (devices[i].device == dev)
            rec = &devices[i];
    if (!rec && device_count < 16) {
        rec = &devices[device_count];
        rec->device = dev;
        rec->kind = kind;
        rec->taken = 0;
        rec->lost_pending = 0;
        InterlockedIncrement(&device_count);
        added = true;
    }
    ReleaseSRWLockExclusive(&device_lock);
    if (added)
        host_log("[host] ui: dinput device %p is %s", dev, kind_log_names[kind]);
    return rec; // none when the table is full: treated as other
}

// ---- hooks ----

// UI mode takes a keyboard or mouse from the game once: unacquired (so it
// buffers nothing and an exclusive mouse lets go) and marked so that the
// game's first buffered read afterwards reports input lost.
void take_for_ui(IDirectInputDevice8W *dev, host_dinput_device *rec)
{
    if (rec->taken)
        return;
    dev->Unacquire();
    rec->taken = 1;
    rec->lost_pending = 1;
}

HRESULT di_acquire(IDirectInputDevice8W *dev)
{
    host_dinput_device *rec = host_dinput_device_lookup(dev);
    int kind = rec ? rec->kind : KIND_OTHER;
    if (in_ui() && kind != KIND_OTHER) {
        // A game that acquires before each read must not get its device
        // back in UI mode: it would buffer what is typed into the overlay
        // (replayed to the game afterwards) and keep an exclusive mouse.
        take_for_ui(dev, rec);
        return DI_OK;
    }
    HRESULT hr = previous<acquire_fn>(dev, DI_ACQUIRE)(dev);
    if (SUCCEEDED(hr) && rec)
        rec->taken = 0;
    return hr;
}

HRESULT di_state(IDirectInputDevice8W *dev, DWORD size, void *data)
{
    host_dinput_device *rec = host_dinput_device_lookup(dev);
    int kind = rec ? rec->kind : KIND_OTHER;
    if (InterlockedExchange(&state_logged[kind], 1) == 0)
        host_log("[host] ui: game reads %s with GetDeviceState(%lu bytes)", kind_names[kind], (unsigned long)size);
    if (kind != KIND_OTHER) {
        if (in_ui()) {
            take_for_ui(dev, rec);
            if (data)
                memset(data, 0, size);
            return DI_OK;
        }
        if (rec->taken && SUCCEEDED(previous<acquire_fn>(dev, DI_ACQUIRE)(dev)))
            rec->taken = 0;
        if (!rec->taken)
            rec->lost_pending = 0; // a state reader sees current keys: nothing to reset
    }
    HRESULT hr = previous<state_fn>(dev, DI_STATE)(dev, size, data);
    if (SUCCEEDED(hr) && kind == KIND_KEYBOARD && data && size >= 61)
        ((uint8_t *)data)[DM_DIK_F2] = 0;
    return hr;
}

HRESULT di_data(IDirectInputDevice8W *dev, DWORD rec_size, DIDEVICEOBJECTDATA *data, DWORD *count, DWORD flags)
{
    host_dinput_device *rec = host_dinput_device_lookup(dev);
    int kind = rec ? rec->kind : KIND_OTHER;
    if (InterlockedExchange(&data_logged[kind], 1) == 0)
        host_log("[host] ui: game reads %s with GetDeviceData(%lu-byte records)", kind_names[kind],
                 (unsigned long)rec_size);
    if (kind != KIND_OTHER) {
        if (in_ui()) {
            take_for_ui(dev, rec);
            if (count)
                *count = 0;
            return DI_OK;
        }
        if (rec->taken && SUCCEEDED(previous<acquire_fn>(dev, DI_ACQUIRE)(dev)))
            rec->taken = 0;
        // Also when the game's own Acquire already took the device back.
        if (!rec->taken && rec->lost_pending) {
            rec->lost_pending = 0;
            if (count)
                *count = 0;
            host_log("[host] ui: %s back to the game (DIERR_INPUTLOST once so held keys reset)", kind_names[kind]);
            return DIERR_INPUTLOST;
        }
    }
    HRESULT hr = previous<data_fn>(dev, DI_DATA)(dev, rec_size, data, count, flags);
    // The records handed over lose F2, from a peek as from a read; a
    // count-only read (null buffer) has no records to filter.
    if (SUCCEEDED(hr) && kind == KIND_KEYBOARD && rec_size >= 4 && data && count) {
        DWORD kept = 0;
        for (DWORD i = 0; i < *count; i++) {
            const uint8_t *src = (const uint8_t *)data + (size_t)i * rec_size;
            if (*(const uint32_t *)src == DM_DIK_F2)
                continue;
            if (kept != i)
                memmove((uint8_t *)data + (size_t)kept * rec_size, src, rec_size);
            kept++;
        }
        *count = kept;
    }
    return hr;
}

// Each hook's body runs under the guard; a fault reads as a failed call.
template <int T> HRESULT STDMETHODCALLTYPE host_dinput_acquire_hook(IDirectInputDevice8W *d)
{
    host_in_flight_scope scope;
    HRESULT hr = DIERR_GENERIC;
    host_hook_guarded("dinput Acquire hook", [&] { hr = di_acquire(d); });
    return hr;
}
template <int T> HRESULT STDMETHODCALLTYPE host_dinput_get_device_state_hook(IDirectInputDevice8W *d, DWORD n, void *p)
{
    host_in_flight_scope scope;
    HRESULT hr = DIERR_GENERIC;
    host_hook_guarded("dinput GetDeviceState hook", [&] { hr = di_state(d, n, p); });
    return hr;
}
template <int T>
HRESULT STDMETHODCALLTYPE host_dinput_get_device_data_hook(IDirectInputDevice8W *d, DWORD sz, DIDEVICEOBJECTDATA *p,
                                                           DWORD *n, DWORD f)
{
    host_in_flight_scope scope;
    HRESULT hr = DIERR_GENERIC;
    host_hook_guarded("dinput GetDeviceData hook", [&] { hr = di_data(d, sz, p, n, f); });
    return hr;
}

void *const di_hooks[4][3] = {
    { (void *)host_dinput_acquire_hook<0>, (void *)host_dinput_get_device_state_hook<0>,
      (void *)host_dinput_get_device_data_hook<0> },
    { (void *)host_dinput_acquire_hook<1>, (void *)host_dinput_get_device_state_hook<1>,
      (void *)host_dinput_get_device_data_hook<1> },
    { (void *)host_dinput_acquire_hook<2>, (void *)host_dinput_get_device_state_hook<2>,
      (void *)host_dinput_get_device_data_hook<2> },
    { (void *)host_dinput_acquire_hook<3>, (void *)host_dinput_get_device_state_hook<3>,
      (void *)host_dinput_get_device_data_hook<3> },
};

// ---- probe ----

void add_table(void **vt)
{
    for (int i = 0; i < di_table_count; i++)
        if (di_tables[i].vtable == vt)
            return;
    if (di_table_count < 4)
        di_tables[di_table_count++].vtable = vt;
}

bool inside(const void *p, const uint8_t *lo, const uint8_t *hi) { return (const uint8_t *)p >= lo && (const uint8_t *)p < hi; }

void probe_one(char letter, const GUID &iid, decltype(&DirectInput8Create) create, const uint8_t *lo,
               const uint8_t *hi)
{
    IUnknown *di = nullptr;
    HMODULE self = dm_module_at((const void *)&host_dinput_probe);
    HRESULT hr = create(self, 0x0800, iid, (void **)&di, nullptr);
    IUnknown *dev = nullptr;
    if (SUCCEEDED(hr) && di) {
        // IDirectInput8A and W share the layout: CreateDevice is slot 3.
        if (letter == 'W')
            hr = ((IDirectInput8W *)di)->CreateDevice(GUID_SysKeyboard, (IDirectInputDevice8W **)&dev, nullptr);
        else
            hr = ((IDirectInput8A *)di)->CreateDevice(GUID_SysKeyboard, (IDirectInputDevice8A **)&dev, nullptr);
    }
    if (FAILED(hr) || !dev) {
        host_log("[host] ui: dinput probe %c failed (0x%08lx)", letter, (unsigned long)hr);
    } else {
        void **vt = *(void ***)dev;
        add_table(vt);
        if (!inside(vt, lo, hi)) {
            // A layer that wraps the devices: find dinput8.dll's device inside.
            void **obj = (void **)dev;
            for (int i = 1; i <= 31; i++) {
                if (!readable(&obj[i], sizeof(void *)))
                    break;
                void *field = obj[i];
                if (!readable(field, sizeof(void *)))
                    continue;
                void **inner = *(void ***)field;
                if (inside(inner, lo, hi) && readable(inner, 88)) {
                    char mod[MAX_PATH];
                    host_module_name(vt, mod, sizeof mod);
                    host_log("[host] ui: dinput probe %c is a wrapper (%s); inner device at +0x%x, vtable %p "
                             "(dinput8.dll)",
                             letter, mod, (unsigned)(i * sizeof(void *)), (void *)inner);
                    add_table(inner);
                    break;
                }
            }
        }
        dev->Release();
    }
    if (di)
        di->Release();
}

} // namespace

bool host_dinput_probe()
{
    HMODULE di8 = GetModuleHandleW(L"dinput8.dll");
    if (!di8)
        di8 = LoadLibraryW(L"dinput8.dll");
    auto create = di8 ? (decltype(&DirectInput8Create))(void *)GetProcAddress(di8, "DirectInput8Create") : nullptr;
    if (!create) {
        host_log("[host] ui: no DirectInput8Create");
        return false;
    }
    auto *lo = (const uint8_t *)di8;
    auto *nt = (const IMAGE_NT_HEADERS64 *)(lo + ((const IMAGE_DOS_HEADER *)lo)->e_lfanew);
    const uint8_t *hi = lo + nt->OptionalHeader.SizeOfImage;
    probe_one('W', IID_IDirectInput8W, create, lo, hi);
    probe_one('A', IID_IDirectInput8A, create, lo, hi);
    for (int t = 0; t < di_table_count; t++) {
        di_table &tab = di_tables[t];
        bool ok = true;
        for (int k = 0; k < 3 && ok; k++)
            ok = host_patch_slot(&tab.patch[k], &tab.vtable[di_slots[k]], di_hooks[t][k]);
        char mod[MAX_PATH];
        host_module_name(tab.vtable, mod, sizeof mod);
        host_log("[host] ui: dinput device vtable %p (%s) %s", (void *)tab.vtable, mod, ok ? "hooked" : "HOOK FAILED");
    }
    return di_table_count > 0;
}

// ---- teardown ----

bool host_dinput_teardown()
{
    bool clean = true;
    for (int t = 0; t < di_table_count; t++) {
        for (auto &p : di_tables[t].patch)
            clean &= host_unpatch_slot(&p);
        di_tables[t].vtable = nullptr;
    }
    di_table_count = 0;
    AcquireSRWLockExclusive(&device_lock);
    device_count = 0;
    ReleaseSRWLockExclusive(&device_lock);
    return clean;
}
