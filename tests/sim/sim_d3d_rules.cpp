// Windows' rule for ResizeBuffers, which Wine does not keep: the call fails
// with DXGI_ERROR_INVALID_CALL while a view of a back buffer is bound in any
// device-context state of the device, the active one or one swapped out with
// SwapDeviceContextState (the state object keeps its bindings, and with them
// a reference to the buffer). The immediate context's table gets three
// wrappers that follow what is bound where: OMSetRenderTargets, ClearState
// and SwapDeviceContextState.
#include "sim/sim_render.h"
#include "sim/sim_render_internal.h"
#include <d3d11_1.h>
#include <mutex>

namespace sim {
namespace {

enum { SLOT_OM_SET_RENDER_TARGETS = 33, SLOT_CLEAR_STATE = 110, SLOT_SWAP_STATE = 131 };

typedef void(STDMETHODCALLTYPE *set_targets_fn)(ID3D11DeviceContext *, UINT, ID3D11RenderTargetView *const *,
                                                ID3D11DepthStencilView *);
typedef void(STDMETHODCALLTYPE *clear_state_fn)(ID3D11DeviceContext *);
typedef void(STDMETHODCALLTYPE *swap_state_fn)(ID3D11DeviceContext1 *, ID3DDeviceContextState *,
                                               ID3DDeviceContextState **);

set_targets_fn real_set_targets;
clear_state_fn real_clear_state;
swap_state_fn real_swap_state;

std::mutex rules_mutex;
bool active_bound; // the active state has a view of the game's back buffer bound
struct inactive_state {
    ID3DDeviceContextState *state; // not referenced
    bool bound;
};
inactive_state inactive[16];
int inactive_count;

void *back_buffer; // the game's back buffer 0 as it last took it (not referenced)

bool is_back_buffer_view(ID3D11RenderTargetView *v)
{
    if (!v || !back_buffer)
        return false;
    ID3D11Resource *res = nullptr;
    v->GetResource(&res);
    bool same = res && (void *)res == back_buffer;
    if (res)
        res->Release();
    return same;
}

void STDMETHODCALLTYPE rules_set_targets(ID3D11DeviceContext *ctx, UINT n, ID3D11RenderTargetView *const *views,
                                         ID3D11DepthStencilView *depth)
{
    bool bound = false;
    for (UINT i = 0; views && i < n; i++)
        bound |= is_back_buffer_view(views[i]);
    {
        std::lock_guard<std::mutex> g(rules_mutex);
        active_bound = bound;
    }
    real_set_targets(ctx, n, views, depth);
}

void STDMETHODCALLTYPE rules_clear_state(ID3D11DeviceContext *ctx)
{
    {
        std::lock_guard<std::mutex> g(rules_mutex);
        active_bound = false;
    }
    real_clear_state(ctx);
}

void STDMETHODCALLTYPE rules_swap_state(ID3D11DeviceContext1 *ctx, ID3DDeviceContextState *state,
                                        ID3DDeviceContextState **previous)
{
    ID3DDeviceContextState *old = nullptr;
    real_swap_state(ctx, state, &old);
    {
        // The bindings stay with the state that goes out; the one that
        // comes in brings its own (none when it is new).
        std::lock_guard<std::mutex> g(rules_mutex);
        bool incoming = false;
        for (int i = 0; i < inactive_count; i++)
            if (inactive[i].state == state) {
                incoming = inactive[i].bound;
                inactive[i] = inactive[--inactive_count];
                break;
            }
        if (old && inactive_count < 16)
            inactive[inactive_count++] = { old, active_bound };
        active_bound = incoming;
    }
    if (previous)
        *previous = old;
    else if (old)
        old->Release();
}

} // namespace

void d3d_rules_install(ID3D11DeviceContext *context)
{
    if (real_set_targets)
        return;
    void **vt = *(void ***)context;
    real_set_targets = (set_targets_fn)vt[SLOT_OM_SET_RENDER_TARGETS];
    real_clear_state = (clear_state_fn)vt[SLOT_CLEAR_STATE];
    real_swap_state = (swap_state_fn)vt[SLOT_SWAP_STATE];
    patch_slot(&vt[SLOT_OM_SET_RENDER_TARGETS], (void *)rules_set_targets);
    patch_slot(&vt[SLOT_CLEAR_STATE], (void *)rules_clear_state);
    patch_slot(&vt[SLOT_SWAP_STATE], (void *)rules_swap_state);
}

void d3d_rules_back_buffer(ID3D11Texture2D *buffer)
{
    ID3D11Resource *res = nullptr;
    if (buffer)
        buffer->QueryInterface(__uuidof(ID3D11Resource), (void **)&res);
    back_buffer = res;
    if (res)
        res->Release();
}

void d3d_rules_reset()
{
    std::lock_guard<std::mutex> g(rules_mutex);
    active_bound = false;
    inactive_count = 0;
}

bool d3d_rules_back_buffer_bound(IDXGISwapChain *)
{
    std::lock_guard<std::mutex> g(rules_mutex);
    bool bound = active_bound;
    for (int i = 0; i < inactive_count; i++)
        bound |= inactive[i].bound;
    return bound;
}

} // namespace sim
