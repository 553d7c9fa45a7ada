/* The overlay tests' fixture: the real plug-in on the simulated game's real
 * window and swap chain, pixels read back before the game's Present, real
 * window messages and SendInput, scripted DirectInput devices, and a core
 * (none, a small test core, the real one or a test build of it). */
#pragma once
#include "sim/fixture.h"
#include "sim/sim_dinput.h"
#include "sim/sim_input.h"
#include "sim/sim_render.h"
#include <stdio.h>
#include <string>

constexpr uint32_t CLEAR = 0xFF503C2E; // R 0x2E, G 0x3C, B 0x50

inline uint32_t rgb(uint32_t rrggbb) { return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16); }

inline bool close_to(uint32_t p, uint32_t want, int tol)
{
    for (int k = 0; k < 3; k++) {
        int a = (int)((p >> (8 * k)) & 0xFF), b = (int)((want >> (8 * k)) & 0xFF);
        if ((a > b ? a - b : b - a) > tol)
            return false;
    }
    return true;
}

inline std::string hex(uint32_t p)
{
    char b[16];
    snprintf(b, sizeof b, "%06x", p & 0xFFFFFF);
    return b;
}

class overlay : public fx::game_test {
protected:
    sim::render_config rc;
    char saved_windir[MAX_PATH] = "";
    bool rendering = false;

    void SetUp() override
    {
        fx::game_test::SetUp();
        GetEnvironmentVariableA("WINDIR", saved_windir, sizeof saved_windir);
    }

    void TearDown() override
    {
        fx::game_test::TearDown();
        if (rendering)
            sim::render_close();
        SetEnvironmentVariableA("WINDIR", saved_windir[0] ? saved_windir : nullptr);
    }

    /* A Windows folder of this test's own, with free fonts under the names the
     * UI looks for (or none), and a free font standing in for the icon font
     * under the name given (none: no icon font, as under Wine). */
    void make_windows_dir(bool fonts, const char *icon_font = nullptr)
    {
        std::string win = root + "\\windows";
        CreateDirectoryA(win.c_str(), nullptr);
        CreateDirectoryA((win + "\\Fonts").c_str(), nullptr);
        if (fonts) {
            const char *src = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\";
            struct {
                const char *from, *to;
            } map[] = { { "DejaVuSans.ttf", "segoeui.ttf" },
                        { "DejaVuSans-Bold.ttf", "seguisb.ttf" },
                        { "DejaVuSans-Bold.ttf", "segoeuib.ttf" } };
            for (auto &m : map)
                ASSERT_TRUE(CopyFileA((std::string(src) + m.from).c_str(), (win + "\\Fonts\\" + m.to).c_str(), FALSE))
                    << m.from;
            if (icon_font) {
                ASSERT_TRUE(CopyFileA((std::string(src) + "DejaVuSans.ttf").c_str(),
                                      (win + "\\Fonts\\" + icon_font).c_str(), FALSE));
            }
        }
        SetEnvironmentVariableA("WINDIR", win.c_str());
    }

    void start(const char *core, bool fonts = true, const char *icon_font = nullptr)
    {
        make_windows_dir(fonts, icon_font);
        if (core)
            install_core(core, "drovemark_core.dll");
        ASSERT_TRUE(sim::render_open(rc));
        rendering = true;
        ASSERT_EQ(init(), SCS_RESULT_OK);
        sim::event_started();
        sim::game_frames(3);
    }

    // F2 once; a press the desktop did not deliver (focus still moving) is
    // pressed again, so every toggle really happens.
    void toggle_ui()
    {
        int before = log_count("[host] ui: UI mode ");
        for (int attempt = 0; attempt < 3; attempt++) {
            sim::key_input(VK_F2, true);
            sim::game_frames(1);
            sim::key_input(VK_F2, false);
            sim::game_frames(1);
            for (int i = 0; i < 50 && log_count("[host] ui: UI mode ") == before; i++) {
                Sleep(10);
                sim::game_frames(1);
            }
            if (log_count("[host] ui: UI mode ") != before)
                return;
        }
        ADD_FAILURE() << "F2 did not toggle the UI mode";
    }

    void capture(const char *png = nullptr)
    {
        ASSERT_TRUE(sim::capture_frame());
        if (png)
            sim::capture_save_png((root + "\\" + png).c_str());
    }

    int row_count(int y, uint32_t want, int tol, int x0 = 0, int x1 = -1)
    {
        return sim::capture_count(x0, y, x1 < 0 ? sim::capture_width() : x1, y + 1, want, tol);
    }

    template <class F> F core_export(const char *name)
    {
        for (int g = 9; g >= 1; g--) {
            HMODULE m = GetModuleHandleA((base + "core\\loaded_" + std::to_string(g) + ".dll").c_str());
            if (m)
                return (F)(void *)GetProcAddress(m, name);
        }
        return nullptr;
    }

    bool received(UINT msg, WPARAM wp)
    {
        for (auto &m : sim::game_messages())
            if (m.msg == msg && m.wp == wp)
                return true;
        return false;
    }
};
