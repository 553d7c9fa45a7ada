#include "runtime/auto_connect.h"

auto_connect_result auto_connect_step(auto_connect_state *s, const auto_connect_input *in)
{
    auto_connect_result r = { false, AUTO_NONE };
    if (in->has_notice && in->notice != s->last_notice) {
        s->last_notice = in->notice;
        s->paused = true;
        s->owned = false;
        r.notice_seen = true;
    }
    if (!in->enabled)
        return r;
    if (in->in_game)
        s->left_game = 0;
    else if (s->left_game == 0)
        s->left_game = in->now;

    if (in->open) {
        if (!in->in_game && s->owned && in->now - s->left_game > 3.0) {
            s->owned = false;
            r.action = AUTO_DISCONNECT;
        }
        return r;
    }
    if (!in->in_game || s->paused || in->now < s->next_attempt)
        return r;
    // Each refusal is acted on once: after the pause is lifted, the code the
    // client still reports from that refusal does not pause again.
    if (in->refusal != 0 && !s->refusal_handled) {
        if (in->refusal != 2) {
            s->refusal_handled = true;
            s->paused = true;
            r.action = AUTO_REFUSED;
            return r;
        }
        if (s->owned) {
            s->refusal_handled = true;
            s->owned = false;
            s->next_attempt = in->now + 30.0;
            r.action = AUTO_FULL;
            return r;
        }
    }
    s->next_attempt = in->now + 5.0;
    s->refusal_handled = false; // net_connect clears the client's refusal code
    r.action = AUTO_CONNECT;
    return r;
}
