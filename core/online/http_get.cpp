// The online services' HTTP GET over WinHTTP (synchronous, on a worker
// thread): time-outs, size cap, deadline, cut-body check and cancel.
#include <winsock2.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <winhttp.h>
#include "online/http_get.h"

namespace {

/* Stores the session in the slot unless it was cancelled. */
bool slot_take(http_cancel *c, HINTERNET session)
{
    AcquireSRWLockExclusive(&c->lock);
    bool cancelled = c->cancelled != 0;
    if (!cancelled)
        c->session = session;
    ReleaseSRWLockExclusive(&c->lock);
    return !cancelled;
}

/* Closes the session unless a cancel already has. */
void slot_release(http_cancel *c, HINTERNET session)
{
    AcquireSRWLockExclusive(&c->lock);
    if (c->session == session) {
        WinHttpCloseHandle(session);
        c->session = nullptr;
    }
    ReleaseSRWLockExclusive(&c->lock);
}

http_result fail(http_reply *out, http_result r, unsigned long error)
{
    out->error = error;
    return r;
}

/* The response body into out; the request's status was 200. */
http_result read_body(HINTERNET req, const http_limits *lim, http_cancel *c, ULONGLONG deadline, http_reply *out)
{
    size_t room = 0;
    for (;;) {
        if (c->cancelled)
            return fail(out, HTTP_CANCELLED, ERROR_WINHTTP_OPERATION_CANCELLED);
        if (lim->deadline_ms && GetTickCount64() > deadline)
            return fail(out, HTTP_TOO_SLOW, ERROR_WINHTTP_TIMEOUT);
        DWORD avail = 0;
        if (!WinHttpQueryDataAvailable(req, &avail))
            return fail(out, HTTP_READ_FAILED, GetLastError());
        if (avail == 0)
            break;
        if (out->size + avail > lim->cap)
            return HTTP_TOO_BIG;
        if (out->size + avail + 1 > room) { // twice what is needed, never past the cap
            size_t want = (out->size + avail) * 2 + 2;
            if (want > lim->cap + 1)
                want = lim->cap + 1;
            char *grown = (char *)realloc(out->body, want);
            if (!grown)
                return fail(out, HTTP_READ_FAILED, ERROR_NOT_ENOUGH_MEMORY);
            out->body = grown;
            room = want;
        }
        DWORD got = 0;
        if (!WinHttpReadData(req, out->body + out->size, avail, &got))
            return fail(out, HTTP_READ_FAILED, GetLastError());
        out->size += got;
        if (got == 0)
            break;
    }
    // A connection closed early can end the body without an error: the
    // announced length tells.
    wchar_t length[32];
    DWORD length_size = sizeof length;
    if (WinHttpQueryHeaders(req, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, length, &length_size,
                            WINHTTP_NO_HEADER_INDEX)) {
        out->announced = wcstoull(length, nullptr, 10);
        if (out->announced != out->size)
            return fail(out, HTTP_CUT, ERROR_WINHTTP_CONNECTION_ERROR);
    }
    if (!out->body && !(out->body = (char *)malloc(1))) // an empty body is an empty text
        return fail(out, HTTP_READ_FAILED, ERROR_NOT_ENOUGH_MEMORY);
    out->body[out->size] = 0;
    return HTTP_OK;
}

} // namespace

void http_cancel_init(http_cancel *c)
{
    InitializeSRWLock(&c->lock);
    c->session = nullptr;
    c->cancelled = 0;
}

void http_cancel_now(http_cancel *c)
{
    AcquireSRWLockExclusive(&c->lock);
    c->cancelled = 1;
    if (c->session) {
        WinHttpCloseHandle((HINTERNET)c->session);
        c->session = nullptr;
    }
    ReleaseSRWLockExclusive(&c->lock);
}

http_result http_get(const char *url, const http_limits *lim, http_cancel *c, http_reply *out)
{
    memset(out, 0, sizeof *out);
    ULONGLONG deadline = GetTickCount64() + lim->deadline_ms;
    wchar_t wurl[1024], host[256];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url, -1, wurl, 1024) == 0)
        return HTTP_URL_TOO_LONG;
    URL_COMPONENTS uc;
    memset(&uc, 0, sizeof uc);
    uc.dwStructSize = sizeof uc;
    uc.dwSchemeLength = uc.dwHostNameLength = uc.dwUrlPathLength = uc.dwExtraInfoLength = (DWORD)-1;
    if (!WinHttpCrackUrl(wurl, 0, 0, &uc) || uc.dwHostNameLength == 0 || uc.dwHostNameLength >= 256)
        return HTTP_BAD_URL;
    memcpy(host, uc.lpszHostName, uc.dwHostNameLength * sizeof(wchar_t));
    host[uc.dwHostNameLength] = 0;
    // The path points into the URL: the query follows it in the same text.
    const wchar_t *object = uc.dwUrlPathLength ? uc.lpszUrlPath : L"/";

    HINTERNET session = WinHttpOpen(lim->agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return fail(out, HTTP_NO_WINHTTP, GetLastError());
    WinHttpSetTimeouts(session, (int)lim->resolve_ms, (int)lim->connect_ms, (int)lim->send_ms, (int)lim->receive_ms);
    if (!slot_take(c, session)) {
        WinHttpCloseHandle(session);
        return fail(out, HTTP_CANCELLED, ERROR_WINHTTP_OPERATION_CANCELLED);
    }

    http_result r = HTTP_OK;
    HINTERNET conn = WinHttpConnect(session, host, uc.nPort, 0), req = nullptr;
    if (conn)
        req = WinHttpOpenRequest(conn, L"GET", object, nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 uc.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    DWORD head_wait = lim->receive_ms; // the wait for the response head: 90 s by default
    if (!req || !WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &head_wait, sizeof head_wait) ||
        !WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(req, nullptr)) {
        DWORD error = GetLastError();
        r = c->cancelled ? fail(out, HTTP_CANCELLED, ERROR_WINHTTP_OPERATION_CANCELLED)
                         : fail(out, HTTP_UNREACHABLE, error);
    } else {
        DWORD status = 0, status_size = sizeof status;
        if (!WinHttpQueryHeaders(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX))
            status = 0;
        out->status = status;
        r = status == 200 ? read_body(req, lim, c, deadline, out) : HTTP_STATUS;
    }
    if (r != HTTP_OK) {
        free(out->body);
        out->body = nullptr;
    }
    if (req)
        WinHttpCloseHandle(req);
    if (conn)
        WinHttpCloseHandle(conn);
    slot_release(c, session);
    return r;
}
