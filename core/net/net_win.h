/* State shared by the network client's Winsock and file parts. */
#pragma once
#include <stdint.h>
#include "net/net_internal.h"

struct net_key_state {
    bool loaded;
    uint8_t secret[64];
    uint8_t pub[32];
};
extern net_key_state net_key;

/* Test hook: replaces recvfrom on the connection socket (null restores it).
 * Same contract as recvfrom: bytes, or -1 with the error in *error. */
typedef int (*net_recv_fn)(uintptr_t sock, char *buf, int len, void *from, int *fromlen, int *error);
void net_set_recv_fn(net_recv_fn fn);
/* Test helper: forgets every client state of this process (sockets closed). */
void net_reset_for_tests();
