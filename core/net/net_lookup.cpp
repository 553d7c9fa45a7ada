// The server's name lookup: an overlapped GetAddrInfoExW for IPv4 datagram
// addresses whose completion sets a manual-reset event that net_tick polls
// without waiting, so the game thread never blocks on the resolver. A lookup
// that fails is tried again 10 s later; leaving cancels a pending one and
// waits for it at most 2 s.
#include "net/net_client_state.h"
#include <stdio.h>
#include <stdlib.h>
#include "base/plain_text.h"

extern "C" {
// Not declared by mingw's headers.
WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);
WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED lpOverlapped);
}

// The request block lives on the heap: when a cancel does not complete in
// time the block (and its event) are abandoned to the system, which may still
// write into them; no completion routine points into us.
struct net_lookup_request {
    OVERLAPPED overlapped;
    ADDRINFOEXW *result;
    HANDLE cancel;
    HANDLE event;
    bool done_at_once;
};

namespace {

void free_request(net_lookup_request *r)
{
    if (r->result)
        FreeAddrInfoExW(r->result);
    free(r);
}

/* The host as logs and the status line show it. */
const char *shown_host(char out[64])
{
    return text_clean(out, 64, net_client.connection.host, sizeof net_client.connection.host);
}

bool cannot_resolve(int code)
{
    char host[64];
    snprintf(net_client.status, sizeof net_client.status, "can't resolve '%s' (%d)", shown_host(host), code);
    return false;
}

} // namespace

bool net_lookup_start()
{
    net_lookup_state &lookup = net_client.lookup;
    if (!lookup.event)
        lookup.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!lookup.event)
        return cannot_resolve((int)GetLastError());
    ResetEvent(lookup.event);
    wchar_t wide[129];
    if (MultiByteToWideChar(CP_UTF8, 0, net_client.connection.host, -1, wide, 129) <= 0)
        return cannot_resolve((int)GetLastError());
    net_lookup_request *r = (net_lookup_request *)calloc(1, sizeof *r);
    if (!r)
        return cannot_resolve((int)ERROR_OUTOFMEMORY);
    r->event = lookup.event;
    r->overlapped.hEvent = lookup.event;
    ADDRINFOEXW hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    int rc = GetAddrInfoExW(wide, nullptr, NS_DNS, nullptr, &hints, &r->result, nullptr, &r->overlapped, nullptr,
                            &r->cancel);
    if (rc == NO_ERROR) {
        r->done_at_once = true;
        SetEvent(lookup.event);
    } else if (rc != WSA_IO_PENDING) {
        free_request(r);
        return cannot_resolve(rc);
    }
    lookup.request = r;
    lookup.pending = true;
    return true;
}

void net_lookup_retry_later(double now)
{
    net_log("[net] %s; retrying in 10 s", net_client.status);
    net_client.lookup.retry_at = now + 10;
}

void net_lookup_poll(double now)
{
    net_lookup_state &lookup = net_client.lookup;
    if (WaitForSingleObject(lookup.request->event, 0) != WAIT_OBJECT_0)
        return;
    net_lookup_request *r = lookup.request;
    lookup.request = nullptr;
    lookup.pending = false;
    int rc = r->done_at_once ? 0 : GetAddrInfoExOverlappedResult(&r->overlapped);
    bool found = false;
    if (rc == 0) {
        for (ADDRINFOEXW *a = r->result; a; a = (ADDRINFOEXW *)a->ai_next) {
            if (a->ai_family == AF_INET && a->ai_addr && a->ai_addrlen >= sizeof(sockaddr_in)) {
                net_client.server.sin_addr = ((sockaddr_in *)a->ai_addr)->sin_addr;
                found = true;
                break;
            }
        }
    }
    free_request(r);
    if (!found) {
        cannot_resolve(rc ? rc : WSAHOST_NOT_FOUND);
        net_lookup_retry_later(now);
        return;
    }
    char text[32], host[64];
    net_address_text(text, sizeof text, net_client.server.sin_addr);
    net_log("[net] %s is %s; connecting", shown_host(host), text);
    net_client.last_receive_time = now;
    net_send_hello();
}

void net_lookup_cancel()
{
    net_lookup_state &lookup = net_client.lookup;
    lookup.retry_at = 0;
    if (!lookup.request)
        return;
    net_lookup_request *r = lookup.request;
    lookup.request = nullptr;
    lookup.pending = false;
    if (r->done_at_once) {
        free_request(r);
        return;
    }
    GetAddrInfoExCancel(&r->cancel);
    if (WaitForSingleObject(r->event, 2000) == WAIT_OBJECT_0) {
        free_request(r);
        return;
    }
    // Still running: leave the block and its event to the lookup.
    lookup.event = nullptr;
}

void net_lookup_close()
{
    if (net_client.lookup.event) {
        CloseHandle(net_client.lookup.event);
        net_client.lookup.event = nullptr;
    }
}
