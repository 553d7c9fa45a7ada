// Our own accessory lists for the other players: the local truck's and its
// coupled trailer's accessories as look entries, handed to the network client
// once a second (it sends a list only when it changed). Game thread only.
#include <string.h>
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/look_list.h"
#include "net/net.h"
#include "vehicles/vehicle_game.h"
#include "vehicles/vehicles.h"

namespace {

/* The accessory container is the definition at actor_off::definition: its
 * pointer array and count are DEF_ACCESSORY_DATA and DEF_ACCESSORY_COUNT. */

const double publish_period = 1.0;
double next_publish_time;

/* The entries of one list; static, one list at a time (game thread). */
char entries[NET_ACC_MAX][NET_ACC_PATH_MAX + 1];
const char *entry_ptrs[NET_ACC_MAX];

int collect(uint64_t container)
{
    int n = 0;
    uint64_t count = 0, array = 0;
    if (!container || !probe_read(container, 32) || !game_read_guarded(container + DEF_ACCESSORY_COUNT, &count) ||
        !count || !game_read_guarded(container + DEF_ACCESSORY_DATA, &array))
        return 0;
    for (uint64_t i = 0; i < count && n < NET_ACC_MAX; i++) {
        uint64_t accessory = 0;
        if (!game_read_guarded(array + 8 * i, &accessory))
            break;
        if (!accessory)
            continue;
        look_format_accessory(accessory, entries[n], sizeof entries[n]);
        entry_ptrs[n] = entries[n];
        n++;
    }
    return n;
}

} // namespace

void net_send_local_accessories(int list, uint64_t container)
{
    int n = 0;
    // Accessories are game memory that may change under us: a fault while
    // walking them publishes nothing this time rather than ending the frame.
    if (!dm_guarded([&] { n = collect(container); }))
        return;
    net_set_local_accessories(list, entry_ptrs, n);
}

void local_accessories_tick(double now)
{
    if (now < next_publish_time || !game_build_ok())
        return;
    next_publish_time = now + publish_period;
    uint64_t block = game_player_block_guarded(), truck = block ? game_local_truck() : 0;
    if (!truck) {
        net_send_local_accessories(1, 0);
        return;
    }
    net_send_local_accessories(0, game_read_guarded_or_zero<uint64_t>(truck + actor_off::definition));
    uint64_t trailer = game_read_guarded_or_zero<uint64_t>(block + GAME_PLAYER_TRAILER);
    bool coupled = trailer && game_is_trailer_actor(trailer) &&
                   game_read_guarded_or_zero<uint64_t>(trailer + actor_off::coupled_to) == truck;
    net_send_local_accessories(1, coupled ? game_read_guarded_or_zero<uint64_t>(trailer + actor_off::definition) : 0);
}
