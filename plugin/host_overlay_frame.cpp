// One Dear ImGui frame per game Present, on the render thread with host_lock
// held, in which the core draws through dm_core_ui.
//
// Index of this file:
// - state
// - context and attach
// - drawing into the back buffer
// - the frame
// - teardown
#include "dm_file.h"
#include "dm_windows_dir.h"
#include "host_overlay.h"
#include <d3d11_1.h>
#include <dxgi1_4.h>
#include <stdio.h>
#include <string.h>
#include "imgui.h"
#include "imgui_internal.h"
#include "imgui_impl_dx11.h"
#include "imgui_impl_win32.h"

namespace {

// ---- state ----

ImGuiContext *imgui_ctx;
IDXGISwapChain *chain; // the attached chain (not referenced)
ID3D11Device *device;
ID3D11DeviceContext *context;
ID3D11DeviceContext1 *context1;
ID3DDeviceContextState *own_state;
ID3D11RenderTargetView *rtv;
UINT bb_width, bb_height;
bool f2_held;
char font_path[MAX_PATH];

// What the game had bound while the overlay draws, so that a fault in the
// middle of the draw can put it back (host_overlay_frame_recover). With the
// overlay's own device-context state that is the game's state object; else
// every part of the pipeline that the overlay's draw sets (the render
// targets, and what Dear ImGui's backend saves and restores itself, which a
// fault in its draw would skip).
struct game_bindings {
    bool drawing;
    bool isolated;                 // our own state is swapped in
    ID3DDeviceContextState *state; // the game's state, swapped out
    ID3D11RenderTargetView *targets[D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT];
    ID3D11DepthStencilView *depth;
    UINT viewport_count, scissor_count;
    D3D11_VIEWPORT viewports[D3D11_VIEWPORT_AND_SCISSORRECT_OBJECT_COUNT_PER_PIPELINE];
    D3D11_RECT scissors[D3D11_VIEWPORT_AND_SCISSORRECT_OBJECT_COUNT_PER_PIPELINE];
    ID3D11RasterizerState *rasterizer;
    ID3D11BlendState *blend;
    FLOAT blend_factor[4];
    UINT sample_mask;
    ID3D11DepthStencilState *depth_stencil;
    UINT stencil_ref;
    ID3D11ShaderResourceView *ps_resource;
    ID3D11SamplerState *ps_sampler;
    ID3D11PixelShader *ps;
    ID3D11VertexShader *vs;
    ID3D11GeometryShader *gs;
    UINT ps_instance_count, vs_instance_count, gs_instance_count;
    ID3D11ClassInstance *ps_instances[256], *vs_instances[256], *gs_instances[256];
    ID3D11Buffer *vs_constants;
    D3D11_PRIMITIVE_TOPOLOGY topology;
    ID3D11Buffer *index_buffer, *vertex_buffer;
    DXGI_FORMAT index_format;
    UINT index_offset, vertex_stride, vertex_offset;
    ID3D11InputLayout *layout;
};
game_bindings game;

// ---- context and attach ----

bool create_imgui()
{
    if (!ImGui::DebugCheckVersionAndDataLayout(IMGUI_VERSION, sizeof(ImGuiIO), sizeof(ImGuiStyle), sizeof(ImVec2),
                                               sizeof(ImVec4), sizeof(ImDrawVert), sizeof(ImDrawIdx))) {
        host_log("[host] ui: Dear ImGui version or data layout mismatch; overlay off");
        return false;
    }
    imgui_ctx = ImGui::CreateContext();
    ImGui::SetCurrentContext(imgui_ctx);
    ImGuiIO &io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NoMouse | ImGuiConfigFlags_NoMouseCursorChange;
    io.IniFilename = host_imgui_ini;
    // Recovery from a faulting core UI must never stop on an assert or
    // show its debugging tooltip in the player's game.
    io.ConfigErrorRecovery = true;
    io.ConfigErrorRecoveryEnableAssert = false;
    io.ConfigErrorRecoveryEnableTooltip = false;
    char dir[MAX_PATH];
    dm_windows_dir(dir, sizeof dir);
    snprintf(font_path, sizeof font_path, "%s\\Fonts\\segoeui.ttf", dir);
    ImFont *font = nullptr;
    if (dir[0] && dm_file_attributes(font_path) != INVALID_FILE_ATTRIBUTES)
        font = io.Fonts->AddFontFromFileTTF(font_path, 18.0f);
    if (!font)
        io.Fonts->AddFontDefault();
    ImGui::StyleColorsDark();
    ImGui::GetStyle().WindowRounding = 4.0f;
    return true;
}

bool host_overlay_attach(IDXGISwapChain *sc)
{
    if (FAILED(sc->GetDevice(__uuidof(ID3D11Device), (void **)&device)) || !device) {
        device = nullptr;
        host_log("[host] ui: the swap chain has no D3D11 device (dx12?); overlay off");
        return false;
    }
    device->GetImmediateContext(&context);
    if (host_overlay_isolate()) {
        ID3D11Device1 *device1 = nullptr;
        HRESULT hr = E_NOINTERFACE;
        if (SUCCEEDED(device->QueryInterface(__uuidof(ID3D11Device1), (void **)&device1)) && device1 &&
            SUCCEEDED(hr = context->QueryInterface(__uuidof(ID3D11DeviceContext1), (void **)&context1)) && context1) {
            UINT flags = (device->GetCreationFlags() & D3D11_CREATE_DEVICE_SINGLETHREADED)
                             ? D3D11_1_CREATE_DEVICE_CONTEXT_STATE_SINGLETHREADED
                             : 0;
            D3D_FEATURE_LEVEL level = device->GetFeatureLevel();
            hr = device1->CreateDeviceContextState(flags, &level, 1, D3D11_SDK_VERSION, __uuidof(ID3D11Device),
                                                   nullptr, &own_state);
        }
        host_release(device1);
        if (FAILED(hr) || !own_state) {
            own_state = nullptr;
            host_release(context1);
        }
        host_log("[host] ui: own device-context state %s (0x%08lx)", own_state ? "ready" : "FAILED, using save/restore",
                 (unsigned long)hr);
    }
    DXGI_SWAP_CHAIN_DESC desc = {};
    sc->GetDesc(&desc);
    if (desc.OutputWindow != host_game_window())
        host_subclass_window(desc.OutputWindow);
    ImGui_ImplWin32_Init(desc.OutputWindow);
    ImGui_ImplDX11_Init(device, context);
    chain = sc;
    ImGui::GetIO().LogFilename = nullptr;
    return true;
}

void host_overlay_release()
{
    if (ImGui::GetCurrentContext() && ImGui::GetIO().BackendRendererUserData)
        ImGui_ImplDX11_Shutdown();
    host_release(own_state);
    host_release(context1);
    if (ImGui::GetCurrentContext() && ImGui::GetIO().BackendPlatformUserData)
        ImGui_ImplWin32_Shutdown();
    host_release(rtv);
    host_release(context);
    host_release(device);
    chain = nullptr;
    bb_width = bb_height = 0;
}

// ---- drawing into the back buffer ----

bool make_rtv()
{
    ID3D11Texture2D *tex = nullptr;
    if (FAILED(chain->GetBuffer(0, __uuidof(ID3D11Texture2D), (void **)&tex)) || !tex)
        return false;
    HRESULT hr = device->CreateRenderTargetView(tex, nullptr, &rtv);
    D3D11_TEXTURE2D_DESC desc;
    tex->GetDesc(&desc);
    tex->Release();
    if (FAILED(hr) || !rtv) {
        rtv = nullptr;
        return false;
    }
    if (desc.Width != bb_width || desc.Height != bb_height) {
        host_log("[host] ui: back buffer %ux%u format %d", desc.Width, desc.Height, (int)desc.Format);
        bb_width = desc.Width;
        bb_height = desc.Height;
    }
    return true;
}

void save_game_pipeline()
{
    game_bindings &g = game;
    context->OMGetRenderTargets(D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT, g.targets, &g.depth);
    g.viewport_count = g.scissor_count = D3D11_VIEWPORT_AND_SCISSORRECT_OBJECT_COUNT_PER_PIPELINE;
    context->RSGetViewports(&g.viewport_count, g.viewports);
    context->RSGetScissorRects(&g.scissor_count, g.scissors);
    context->RSGetState(&g.rasterizer);
    context->OMGetBlendState(&g.blend, g.blend_factor, &g.sample_mask);
    context->OMGetDepthStencilState(&g.depth_stencil, &g.stencil_ref);
    context->PSGetShaderResources(0, 1, &g.ps_resource);
    context->PSGetSamplers(0, 1, &g.ps_sampler);
    g.ps_instance_count = g.vs_instance_count = g.gs_instance_count = 256;
    context->PSGetShader(&g.ps, g.ps_instances, &g.ps_instance_count);
    context->VSGetShader(&g.vs, g.vs_instances, &g.vs_instance_count);
    context->GSGetShader(&g.gs, g.gs_instances, &g.gs_instance_count);
    context->VSGetConstantBuffers(0, 1, &g.vs_constants);
    context->IAGetPrimitiveTopology(&g.topology);
    context->IAGetIndexBuffer(&g.index_buffer, &g.index_format, &g.index_offset);
    context->IAGetVertexBuffers(0, 1, &g.vertex_buffer, &g.vertex_stride, &g.vertex_offset);
    context->IAGetInputLayout(&g.layout);
}

void restore_game_pipeline()
{
    game_bindings &g = game;
    context->OMSetRenderTargets(D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT, g.targets, g.depth);
    context->RSSetViewports(g.viewport_count, g.viewports);
    context->RSSetScissorRects(g.scissor_count, g.scissors);
    context->RSSetState(g.rasterizer);
    context->OMSetBlendState(g.blend, g.blend_factor, g.sample_mask);
    context->OMSetDepthStencilState(g.depth_stencil, g.stencil_ref);
    context->PSSetShaderResources(0, 1, &g.ps_resource);
    context->PSSetSamplers(0, 1, &g.ps_sampler);
    context->PSSetShader(g.ps, g.ps_instances, g.ps_instance_count);
    context->VSSetShader(g.vs, g.vs_instances, g.vs_instance_count);
    context->GSSetShader(g.gs, g.gs_instances, g.gs_instance_count);
    context->VSSetConstantBuffers(0, 1, &g.vs_constants);
    context->IASetPrimitiveTopology(g.topology);
    context->IASetIndexBuffer(g.index_buffer, g.index_format, g.index_offset);
    context->IASetVertexBuffers(0, 1, &g.vertex_buffer, &g.vertex_stride, &g.vertex_offset);
    context->IASetInputLayout(g.layout);
    for (auto *&v : g.targets)
        host_release(v);
    host_release(g.depth);
    host_release(g.rasterizer);
    host_release(g.blend);
    host_release(g.depth_stencil);
    host_release(g.ps_resource);
    host_release(g.ps_sampler);
    host_release(g.ps);
    host_release(g.vs);
    host_release(g.gs);
    for (UINT i = 0; i < g.ps_instance_count; i++)
        host_release(g.ps_instances[i]);
    for (UINT i = 0; i < g.vs_instance_count; i++)
        host_release(g.vs_instances[i]);
    for (UINT i = 0; i < g.gs_instance_count; i++)
        host_release(g.gs_instances[i]);
    host_release(g.vs_constants);
    host_release(g.index_buffer);
    host_release(g.vertex_buffer);
    host_release(g.layout);
}

// Puts back what the game had bound and drops our references to it.
void restore_game_bindings()
{
    if (game.isolated) {
        // Our view must not stay bound inside our own state object: a view
        // of the back buffer bound in any state keeps the buffer referenced,
        // and the game's next ResizeBuffers would fail.
        context->OMSetRenderTargets(0, nullptr, nullptr);
        context1->SwapDeviceContextState(game.state, nullptr);
        host_release(game.state);
    } else {
        restore_game_pipeline();
    }
    game.drawing = false;
}

void draw_to_back_buffer()
{
    ImDrawData *data = ImGui::GetDrawData();
    game = {};
    if (own_state && context1) {
        context1->SwapDeviceContextState(own_state, &game.state);
        game.isolated = true;
    } else {
        save_game_pipeline();
    }
    game.drawing = true;
    context->OMSetRenderTargets(1, &rtv, nullptr);
    ImGui_ImplDX11_RenderDrawData(data);
    restore_game_bindings();
}

void draw_notice()
{
    ImGui::SetNextWindowPos(ImVec2(20, 20), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("drovemark", nullptr, ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse)) {
        ImGui::TextUnformatted(host_core_ui_state() == 0 ? "No core loaded." : "This core has no UI (dm_core_ui).");
        ImGui::TextUnformatted("F2 closes UI mode.");
    }
    ImGui::End();
}

} // namespace

// ---- the frame ----

void host_overlay_frame(IDXGISwapChain *sc)
{
    if (!imgui_ctx) {
        if (!create_imgui()) {
            host_overlay_off();
            return;
        }
        if (!host_overlay_attach(sc)) {
            host_overlay_release();
            ImGui::DestroyContext(imgui_ctx);
            imgui_ctx = nullptr;
            host_overlay_off();
            return;
        }
        InterlockedExchange(&host_imgui_ready, 1);
        host_log("[host] ui: ImGui %s ready on render thread %lu (F2 toggles UI mode)", IMGUI_VERSION,
                 GetCurrentThreadId());
    }
    ImGui::SetCurrentContext(imgui_ctx);

    if (sc != chain) {
        DXGI_SWAP_CHAIN_DESC desc;
        if (FAILED(sc->GetDesc(&desc)) || desc.OutputWindow != host_game_window())
            return; // never draw on another window's chain
        ID3D11Device *dev = nullptr;
        sc->GetDevice(__uuidof(ID3D11Device), (void **)&dev);
        bool same = dev && dev == device;
        host_log("[host] ui: the game made a new swap chain %p (device %s)", (void *)sc, same ? "same" : "new");
        if (!same) {
            host_release(dev);
            host_overlay_release();
            if (!host_overlay_attach(sc)) {
                host_overlay_release();
                host_overlay_off();
                return;
            }
        } else {
            host_release(dev);
            host_release(rtv);
            chain = sc;
        }
    }

    if (!rtv && !make_rtv())
        return;

    bool f2 = (GetAsyncKeyState(VK_F2) & 0x8000) != 0 && GetForegroundWindow() == host_game_window();
    if (f2 && !f2_held)
        host_ui_mode_set(host_ui_mode == 0);
    f2_held = f2;

    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::GetIO().DisplaySize = ImVec2((float)bb_width, (float)bb_height);
    ImGui::NewFrame();

    uint32_t mode = host_ui_mode ? 1 : 0;
    if (host_core_ui_state() == 2)
        host_core_ui_call((float)bb_width, (float)bb_height, mode);
    else if (mode)
        draw_notice();
    ImGui::SetCurrentContext(imgui_ctx); // the core may have left its own copy's pointer; ours is unchanged

    ImGui::Render();
    draw_to_back_buffer();
}

void host_overlay_frame_recover()
{
    if (game.drawing && context)
        restore_game_bindings();
}

void host_overlay_drop_view(IDXGISwapChain *sc)
{
    if (sc == chain)
        host_release(rtv);
}

void host_ui_fill_args(dm_ui_frame_args *args)
{
    args->imgui_context = imgui_ctx;
    ImGuiMemAllocFunc alloc = nullptr;
    ImGuiMemFreeFunc free_fn = nullptr;
    void *user = nullptr;
    ImGui::GetAllocatorFunctions(&alloc, &free_fn, &user);
    args->alloc_func = alloc;
    args->free_func = free_fn;
    args->alloc_user_data = user;
}

// ---- teardown ----

bool host_overlay_made() { return imgui_ctx != nullptr; }

void host_overlay_release_all()
{
    if (!host_imgui_ready && !imgui_ctx)
        return;
    if (imgui_ctx) {
        ImGui::SetCurrentContext(imgui_ctx);
        host_overlay_release();
        ImGui::DestroyContext(imgui_ctx);
        imgui_ctx = nullptr;
    }
    InterlockedExchange(&host_imgui_ready, 0);
    f2_held = false;
}
