// A client and an in-process test server on 127.0.0.1; the test drives the clock.
#pragma once
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "net/net.h"
#include "net/net_internal.h"
#include "net/net_win.h"
#include "net/net_wire.h"
#include "testserver.h"
#include "log_capture.h"

struct net_fixture : ::testing::Test {
    ts_server srv;
    double now = 100.0;

    void SetUp() override
    {
        net_reset_for_tests();
        net_set_log(fx::capture_log);
        fx::captured_clear();
        ASSERT_TRUE(ts_start(&srv, 0));
    }
    void TearDown() override
    {
        net_reset_for_tests();
        ts_stop(&srv);
    }
    /* A player key path in the temp folder, with no file there yet. */
    std::string fresh_key(const char *tag)
    {
        char dir[MAX_PATH], key[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        snprintf(key, sizeof key, "%s%s_%lu.key", dir, tag, GetCurrentProcessId());
        DeleteFileA(key);
        return key;
    }
    /* One frame: the client ticks, then the server answers. */
    void frame(double dt = 0.05)
    {
        now += dt;
        net_tick(now);
        Sleep(1);
        ts_poll(&srv, now);
        Sleep(1);
    }
    void run(double seconds, double dt = 0.05)
    {
        double end = now + seconds;
        while (now < end)
            frame(dt);
    }
    bool connect(const char *name = "tester")
    {
        bool ok = net_connect("127.0.0.1", srv.port, name, 0, now);
        Sleep(1);
        ts_poll(&srv, now);
        Sleep(1);
        return ok;
    }
    /* Frames until cond holds, at most the given seconds of clock. */
    template <class F> bool until(F cond, double seconds = 3.0)
    {
        double end = now + seconds;
        while (now < end) {
            if (cond())
                return true;
            frame();
        }
        return cond();
    }
    bool joined() { return until([] { return net_our_player_id() != 0; }); }
    bool logged(const std::string &text)
    {
        for (auto &l : fx::captured())
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
    ts_client *me() { return ts_find_name(&srv, "tester"); }
};
