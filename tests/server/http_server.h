/* A scripted HTTP/1.1 server on 127.0.0.1 for tests of the list download:
 * each path answers with a status and a body, or misbehaves (never answers,
 * or closes the connection half-way through the body it announced). It
 * runs on a thread of its own, one connection at a time; routes are set
 * before hs_start and stay fixed while it runs. Unknown paths get 404. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#define HS_ROUTES 16

enum hs_mode {
    HS_ANSWER = 0,  /* status line, Content-Length, the whole body */
    HS_STALL = 1,   /* reads the request and never answers (the socket stays open) */
    HS_CUT = 2,     /* announces the whole body, sends half of it, closes */
};

typedef struct hs_route {
    char path[64];
    int status;
    int mode;
    const char *body; /* the caller's bytes, alive while the server runs */
    size_t length;
} hs_route;

typedef struct hs_server {
    uint16_t port;
    hs_route routes[HS_ROUTES];
    int route_count;
    volatile long requests; /* requests read so far */
    /* private */
    uintptr_t listener;
    uintptr_t stalled[16];
    int stalled_count;
    void *thread;
    volatile long stop;
} hs_server;

void hs_route_add(hs_server *s, const char *path, int status, int mode, const char *body, size_t length);
bool hs_start(hs_server *s); /* any free port */
void hs_stop(hs_server *s);
