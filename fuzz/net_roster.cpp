// A run of datagrams from the server into the roster, as the client's
// dispatch hands them on: joins, drops, states, accessory parts, roles,
// messages and kicks, for a handful of player ids so that they meet; every
// player sampled for interpolation in both modes along the way.
//
// Index:
// - on_datagram: the dispatch of one datagram's payload
// - check_roster: what must hold of the roster after each datagram
// - LLVMFuzzerTestOneInput: the run, taken from the input as records of
//   u8 type, u8 player (mod 5), u32 sequence, u8 hundredths of a second
//   since the last, u16 payload length (cut to what is left), the payload
#include <vector>
#include "fuzz_check.h"
#include "net/net_internal.h"
#include "net/net_wire.h"

namespace {

const uint16_t our_id = 1;

void on_datagram(uint8_t type, uint16_t player, uint32_t seq, const uint8_t *p, size_t n, double now)
{
    char status[128];
    uint8_t reason = n >= 1 ? p[0] : 0;
    switch (type) {
    case NET_REFUSED:
        if (reason == 4 || reason == 5)
            net_roster_record_kick(reason == 4 ? 5 : 4, p, n, now, status, sizeof status);
        break;
    case NET_PLAYER_DROPPED:
        if (player == our_id && (reason == 4 || reason == 5))
            net_roster_record_kick(reason, p, n, now, status, sizeof status);
        else
            net_roster_on_dropped(player, p, n);
        break;
    case NET_PLAYER_JOINED: net_roster_on_joined(player, our_id, p, n, now); break;
    case NET_STATE: net_roster_on_state(player, seq, p, n, now); break;
    case NET_ACC_PART: net_roster_on_acc_part(player, p, n); break;
    case NET_ROLE: net_roster_on_role(player, our_id, p, n); break;
    case NET_MESSAGE: net_roster_on_message(p, n); break;
    }
}

void check_roster(double now)
{
    for (auto &pl : net_roster) {
        if (!pl.used)
            continue;
        FUZZ_CHECK(pl.id != our_id && strnlen(pl.name, sizeof pl.name) <= 32);
        FUZZ_CHECK(pl.count >= 0 && pl.count <= NET_RING && pl.head >= 0 && pl.head < NET_RING);
        for (int list = 0; list < 2; list++) {
            const net_acc_block &b = pl.acc[list];
            FUZZ_CHECK(b.part_count <= NET_ACC_PARTS);
            if (!b.complete)
                continue;
            // The joined list holds as many texts as announced (an entry may hold a NUL of its own).
            uint32_t hash, count;
            const char *entries;
            FUZZ_CHECK(net_player_accessories(pl.id, list, &hash, &entries, &count) && entries);
        }
        net_pose pose;
        for (int mode = 1; mode <= 2; mode++) {
            net_set_interp_mode(mode);
            net_sample_player(pl.id, now, &pose);
        }
    }
    net_kick_record kick;
    if (net_get_kick_info(&kick))
        FUZZ_CHECK(strnlen(kick.text, sizeof kick.text) <= NET_TEXT_MAX);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    // The roster starts empty: the previous run ends with a reset.
    double now = 100.0;
    const uint8_t *at = d, *end = d + len;
    while (end - at >= 9) {
        uint8_t type = at[0];
        uint16_t player = at[1] % 5;
        uint32_t seq = net_get_u32(at + 2);
        now += at[6] / 100.0;
        size_t n = net_get_u16(at + 7);
        at += 9;
        if (n > (size_t)(end - at))
            n = (size_t)(end - at);
        std::vector<uint8_t> payload(at, at + n); // exactly its length
        at += n;
        on_datagram(type, player, seq, payload.data(), payload.size(), now);
        check_roster(now);
        net_roster_drop_stale(now);
    }
    net_roster_reset();
    return 0;
}
