// The simulated game's DirectInput keyboard and mouse: real dinput8 devices
// whose table slots 7 to 10 are wrapped so that the game's reads return
// scripted input, under Windows' acquire rules (sim_dinput.h).
//
// Index of this file:
// - state
// - the layer in the device table
// - devices
// - exports
#include "sim/sim_dinput.h"
#include "sim/sim_render.h"
#include "sim/sim_render_internal.h"
#include <string.h>
#include <mutex>
#include <vector>

namespace sim {
namespace {

// ---- state ----

typedef HRESULT(STDMETHODCALLTYPE *acquire_fn)(IDirectInputDevice8W *);
typedef HRESULT(STDMETHODCALLTYPE *state_fn)(IDirectInputDevice8W *, DWORD, void *);
typedef HRESULT(STDMETHODCALLTYPE *data_fn)(IDirectInputDevice8W *, DWORD, DIDEVICEOBJECTDATA *, DWORD *, DWORD);

struct scripted_device {
    IDirectInputDevice8W *dev;
    int kind;
    int acquired;
    int unacquires;
    uint8_t state[256];
    DIMOUSESTATE mouse;
    std::vector<DIDEVICEOBJECTDATA> queue;
};
IDirectInput8W *dinput;
scripted_device scripted[24];
int scripted_count;
void **di_vtable;
acquire_fn real_acquire, real_unacquire;
state_fn real_state;
data_fn real_data;
std::mutex di_mutex;
DWORD di_sequence;

scripted_device *find(IDirectInputDevice8W *d)
{
    for (int i = 0; i < scripted_count; i++)
        if (scripted[i].dev == d)
            return &scripted[i];
    return nullptr;
}

scripted_device *by_kind(int kind)
{
    for (int i = 0; i < 2 && i < scripted_count; i++)
        if (scripted[i].kind == kind)
            return &scripted[i];
    return nullptr;
}

// Windows buffers a device's events only while it is acquired; Wine's
// devices keep collecting them (their own event thread runs on), which would
// hide a device that an overlay forgot to unacquire.
void queue_event(scripted_device *s, const DIDEVICEOBJECTDATA &r)
{
    if (s->acquired)
        s->queue.push_back(r);
}

// ---- the layer in the device table ----

HRESULT STDMETHODCALLTYPE layer_acquire(IDirectInputDevice8W *d)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_acquire(d);
    bool was = s->acquired;
    s->acquired = 1;
    return was ? S_FALSE : DI_OK;
}

HRESULT STDMETHODCALLTYPE layer_unacquire(IDirectInputDevice8W *d)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_unacquire(d);
    bool was = s->acquired;
    s->acquired = 0;
    s->unacquires++;
    return was ? DI_OK : DI_NOEFFECT;
}

HRESULT STDMETHODCALLTYPE layer_state(IDirectInputDevice8W *d, DWORD size, void *data)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_state(d, size, data);
    if (!s->acquired)
        return DIERR_NOTACQUIRED;
    if (!data)
        return E_POINTER;
    const void *src = s->kind == DI_MOUSE ? (const void *)&s->mouse : (const void *)s->state;
    size_t n = s->kind == DI_MOUSE ? sizeof s->mouse : sizeof s->state;
    memset(data, 0, size);
    memcpy(data, src, size < n ? size : n);
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE layer_data(IDirectInputDevice8W *d, DWORD rec_size, DIDEVICEOBJECTDATA *data, DWORD *count,
                                     DWORD flags)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = find(d);
    if (!s)
        return real_data(d, rec_size, data, count, flags);
    if (!s->acquired)
        return DIERR_NOTACQUIRED;
    if (!count || rec_size != sizeof(DIDEVICEOBJECTDATA))
        return DIERR_INVALIDPARAM;
    DWORD n = (DWORD)s->queue.size();
    if (data) {
        if (n > *count)
            n = *count;
        for (DWORD i = 0; i < n; i++)
            data[i] = s->queue[i];
    }
    if (!(flags & DIGDD_PEEK))
        s->queue.erase(s->queue.begin(), s->queue.begin() + n);
    *count = n;
    return DI_OK;
}

// ---- devices ----

scripted_device *make_scripted(const GUID &guid, const DIDATAFORMAT *fmt, int kind)
{
    if (!dinput || scripted_count >= 24)
        return nullptr;
    IDirectInputDevice8W *d = nullptr;
    if (FAILED(dinput->CreateDevice(guid, &d, nullptr)) || !d)
        return nullptr;
    d->SetDataFormat(fmt);
    scripted_device &s = scripted[scripted_count++];
    s.dev = d;
    s.kind = kind;
    s.acquired = 0;
    s.unacquires = 0;
    memset(s.state, 0, sizeof s.state);
    memset(&s.mouse, 0, sizeof s.mouse);
    s.queue.clear();
    void **vt = *(void ***)d;
    if (!di_vtable) {
        di_vtable = vt;
        real_acquire = (acquire_fn)vt[7];
        real_unacquire = (acquire_fn)vt[8];
        real_state = (state_fn)vt[9];
        real_data = (data_fn)vt[10];
        patch_slot(&vt[7], (void *)layer_acquire);
        patch_slot(&vt[8], (void *)layer_unacquire);
        patch_slot(&vt[9], (void *)layer_state);
        patch_slot(&vt[10], (void *)layer_data);
    }
    return &s;
}

} // namespace

void di_open()
{
    if (dinput)
        return;
    if (FAILED(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W, (void **)&dinput,
                                  nullptr)))
        dinput = nullptr;
    make_scripted(GUID_SysKeyboard, &c_dfDIKeyboard, DI_KEYBOARD);
    make_scripted(GUID_SysMouse, &c_dfDIMouse, DI_MOUSE);
}

void di_reset()
{
    std::lock_guard<std::mutex> g(di_mutex);
    for (int i = 0; i < scripted_count; i++) {
        scripted[i].acquired = 0;
        scripted[i].unacquires = 0;
        scripted[i].queue.clear();
        memset(scripted[i].state, 0, sizeof scripted[i].state);
    }
}

// ---- exports ----

IDirectInputDevice8W *di_device(di_kind kind)
{
    scripted_device *s = by_kind(kind);
    return s ? s->dev : nullptr;
}

void di_script_key(uint8_t code, bool down)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(DI_KEYBOARD);
    if (!s)
        return;
    s->state[code] = down ? 0x80 : 0;
    DIDEVICEOBJECTDATA r = {};
    r.dwOfs = code;
    r.dwData = down ? 0x80 : 0;
    r.dwTimeStamp = GetTickCount();
    r.dwSequence = ++di_sequence;
    queue_event(s, r);
    for (int i = 2; i < scripted_count; i++) { // extra keyboards see the same keys
        scripted[i].state[code] = s->state[code];
        queue_event(&scripted[i], r);
    }
}

void di_script_mouse(int dx, int dy, bool button0)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(DI_MOUSE);
    if (!s)
        return;
    s->mouse.lX = dx;
    s->mouse.lY = dy;
    s->mouse.rgbButtons[0] = button0 ? 0x80 : 0;
    DIDEVICEOBJECTDATA r = {};
    r.dwOfs = DIMOFS_X;
    r.dwData = (DWORD)dx;
    r.dwSequence = ++di_sequence;
    queue_event(s, r);
}

int di_acquired(di_kind kind)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(kind);
    return s ? s->acquired : 0;
}

int di_unacquire_count(di_kind kind)
{
    std::lock_guard<std::mutex> g(di_mutex);
    scripted_device *s = by_kind(kind);
    return s ? s->unacquires : 0;
}

IDirectInputDevice8W *di_extra_device(int index)
{
    while (scripted_count < 2 + index + 1 && scripted_count < 24)
        if (!make_scripted(GUID_SysKeyboard, &c_dfDIKeyboard, DI_KEYBOARD))
            return nullptr;
    return 2 + index < scripted_count ? scripted[2 + index].dev : nullptr;
}

} // namespace sim
