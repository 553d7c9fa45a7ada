// The scripted HTTP server: accept, read one request, answer by its path.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "http_server.h"

namespace {

const hs_route *find_route(const hs_server *s, const char *path)
{
    for (int i = 0; i < s->route_count; i++)
        if (strcmp(s->routes[i].path, path) == 0)
            return &s->routes[i];
    return nullptr;
}

bool send_all(SOCKET c, const char *data, size_t length)
{
    while (length > 0) {
        int chunk = length > 65536 ? 65536 : (int)length;
        int n = send(c, data, chunk, 0);
        if (n <= 0)
            return false;
        data += n;
        length -= (size_t)n;
    }
    return true;
}

// One connection: the request head, then the route's answer. True when the
// socket is to be kept open (a stalled answer).
bool serve(hs_server *s, SOCKET c)
{
    DWORD timeout = 5000;
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
    setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
    char head[4096];
    int got = 0;
    while (got < (int)sizeof head - 1) {
        int n = recv(c, head + got, (int)sizeof head - 1 - got, 0);
        if (n <= 0)
            return false;
        got += n;
        head[got] = 0;
        if (strstr(head, "\r\n\r\n"))
            break;
    }
    char path[64] = "";
    sscanf(head, "GET %63s", path);
    InterlockedIncrement(&s->requests);
    const hs_route *r = find_route(s, path);
    hs_route missing = {};
    if (!r) {
        missing.status = 404;
        r = &missing;
    }
    if (r->mode == HS_STALL)
        return true;
    char line[256];
    int n = snprintf(line, sizeof line, "HTTP/1.1 %d Scripted\r\nContent-Type: application/json\r\n"
                     "Content-Length: %zu\r\nConnection: close\r\n\r\n", r->status, r->length);
    if (!send_all(c, line, (size_t)n))
        return false;
    send_all(c, r->body, r->mode == HS_CUT ? r->length / 2 : r->length);
    return false;
}

DWORD WINAPI server_thread(void *arg)
{
    hs_server *s = (hs_server *)arg;
    SOCKET l = (SOCKET)s->listener;
    while (!s->stop) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(l, &rd);
        timeval tv = { 0, 50000 };
        if (select(0, &rd, nullptr, nullptr, &tv) <= 0)
            continue;
        SOCKET c = accept(l, nullptr, nullptr);
        if (c == INVALID_SOCKET)
            continue;
        if (serve(s, c) && s->stalled_count < 16) {
            s->stalled[s->stalled_count++] = c;
            continue;
        }
        shutdown(c, SD_SEND);
        closesocket(c);
    }
    return 0;
}

} // namespace

void hs_route_add(hs_server *s, const char *path, int status, int mode, const char *body, size_t length)
{
    if (s->route_count >= HS_ROUTES)
        return;
    hs_route &r = s->routes[s->route_count++];
    snprintf(r.path, sizeof r.path, "%s", path);
    r.status = status;
    r.mode = mode;
    r.body = body;
    r.length = length;
}

bool hs_start(hs_server *s)
{
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0)
        return false;
    SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (l == INVALID_SOCKET || bind(l, (sockaddr *)&a, sizeof a) != 0 || listen(l, 8) != 0 ||
        getsockname(l, (sockaddr *)&a, &len) != 0) {
        if (l != INVALID_SOCKET)
            closesocket(l);
        WSACleanup();
        return false;
    }
    s->port = ntohs(a.sin_port);
    s->listener = l;
    s->stop = 0;
    s->thread = CreateThread(nullptr, 0, server_thread, s, 0, nullptr);
    return s->thread != nullptr;
}

void hs_stop(hs_server *s)
{
    if (!s->thread)
        return;
    InterlockedExchange(&s->stop, 1);
    WaitForSingleObject((HANDLE)s->thread, INFINITE);
    CloseHandle((HANDLE)s->thread);
    s->thread = nullptr;
    for (int i = 0; i < s->stalled_count; i++)
        closesocket((SOCKET)s->stalled[i]);
    s->stalled_count = 0;
    closesocket((SOCKET)s->listener);
    WSACleanup();
}
