// The updater's GET over WinHTTP (synchronous, on the worker thread).
//
// Every wait is bounded: the session's time-outs (name resolution, connect,
// send 10 s; receive as built), the receive-response time-out set on each
// request as well (the session's receive time-out alone does not bound the
// wait for the response header everywhere), and a deadline for the whole
// request, checked between reads together with the slot's cancel flag. A
// cancel closes the session, which ends a transfer at its next WinHTTP call.
// A body shorter than its Content-Length is a failed download.
#include <winsock2.h>
#include <stdio.h>
#include <wchar.h>
#include <winhttp.h>
#include "update.h"

namespace {

void error_text(char *err, size_t size, const char *fmt, unsigned long v)
{
    if (size)
        snprintf(err, size, fmt, v);
}

/* Stores the session in the slot unless it was cancelled. */
bool slot_take(update_http_slot *slot, HINTERNET session)
{
    AcquireSRWLockExclusive(&slot->lock);
    bool cancelled = slot->cancelled != 0;
    if (!cancelled)
        slot->session = session;
    ReleaseSRWLockExclusive(&slot->lock);
    return !cancelled;
}

/* Closes the session unless a cancel already has. */
void slot_release(update_http_slot *slot, HINTERNET session)
{
    AcquireSRWLockExclusive(&slot->lock);
    if (slot->session == session) {
        WinHttpCloseHandle(session);
        slot->session = nullptr;
    }
    ReleaseSRWLockExclusive(&slot->lock);
}

} // namespace

void update_cancel_http(update_http_slot *slot)
{
    AcquireSRWLockExclusive(&slot->lock);
    slot->cancelled = 1;
    if (slot->session) {
        WinHttpCloseHandle((HINTERNET)slot->session);
        slot->session = nullptr;
    }
    ReleaseSRWLockExclusive(&slot->lock);
}

bool update_http_get(const char *url, size_t cap, DWORD deadline_ms, std::vector<uint8_t> *out, char *err,
                     size_t err_size, update_http_slot *slot)
{
    ULONGLONG deadline = GetTickCount64() + deadline_ms;
    wchar_t wurl[1024], host[256], path[1024];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url, -1, wurl, 1024) == 0) {
        error_text(err, err_size, "URL too long", 0);
        return false;
    }
    URL_COMPONENTS uc = {};
    uc.dwStructSize = sizeof uc;
    uc.lpszHostName = host;
    uc.dwHostNameLength = 256;
    uc.lpszUrlPath = path;
    uc.dwUrlPathLength = 1024;
    uc.dwExtraInfoLength = (DWORD)-1; // the query stays part of the path
    if (!WinHttpCrackUrl(wurl, 0, 0, &uc) || uc.dwHostNameLength == 0) {
        error_text(err, err_size, "bad URL", 0);
        return false;
    }
    HINTERNET session = WinHttpOpen(L"drovemark-update/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        error_text(err, err_size, "WinHTTP unavailable (%lu)", GetLastError());
        return false;
    }
    WinHttpSetTimeouts(session, 10000, 10000, 10000, (int)update_build.receive_ms);
    if (!slot_take(slot, session)) {
        WinHttpCloseHandle(session);
        error_text(err, err_size, "stopped", 0);
        return false;
    }

    out->clear();
    bool ok = false;
    HINTERNET conn = WinHttpConnect(session, host, uc.nPort, 0);
    HINTERNET req = nullptr;
    if (conn)
        req = WinHttpOpenRequest(conn, L"GET", path, nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 uc.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    DWORD header_wait = update_build.receive_ms;
    if (!req || !WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &header_wait, sizeof header_wait) ||
        !WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(req, nullptr)) {
        error_text(err, err_size, "can't reach the update server (error %lu)", GetLastError());
        goto done;
    }
    {
        DWORD status = 0, status_size = sizeof status;
        if (!WinHttpQueryHeaders(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX))
            status = 0;
        if (status != 200) {
            error_text(err, err_size, "the update server answered HTTP %lu", status);
            goto done;
        }
    }
    for (;;) {
        if (slot->cancelled) {
            error_text(err, err_size, "stopped", 0);
            goto done;
        }
        if (GetTickCount64() > deadline) {
            error_text(err, err_size, "download took longer than %lu s", deadline_ms / 1000);
            goto done;
        }
        DWORD avail = 0;
        if (!WinHttpQueryDataAvailable(req, &avail)) {
            error_text(err, err_size, "download failed (%lu)", GetLastError());
            goto done;
        }
        if (avail == 0)
            break;
        if (out->size() + avail > cap) {
            error_text(err, err_size, "download too big", 0);
            goto done;
        }
        size_t at = out->size();
        out->resize(at + avail);
        DWORD got = 0;
        if (!WinHttpReadData(req, out->data() + at, avail, &got)) {
            error_text(err, err_size, "download failed (%lu)", GetLastError());
            goto done;
        }
        out->resize(at + got);
    }
    {
        // A connection closed early can end the body without an error: the
        // announced length tells.
        wchar_t length[32];
        DWORD length_size = sizeof length;
        if (WinHttpQueryHeaders(req, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, length,
                                &length_size, WINHTTP_NO_HEADER_INDEX) &&
            wcstoull(length, nullptr, 10) != out->size()) {
            snprintf(err, err_size, "download cut short (%zu of %llu bytes)", out->size(),
                     (unsigned long long)wcstoull(length, nullptr, 10));
            goto done;
        }
    }
    ok = true;
done:
    if (!ok)
        out->clear();
    if (req)
        WinHttpCloseHandle(req);
    if (conn)
        WinHttpCloseHandle(conn);
    slot_release(slot, session);
    return ok;
}
