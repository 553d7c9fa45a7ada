/* One HTTP GET over WinHTTP for the online services (the server list and the
 * updater), run on their worker threads. Each service passes its own limits;
 * the result says what went wrong and each service words it in its own texts.
 *
 * Every wait is bounded: the session's time-outs, the receive time-out set on
 * the request as well (the session's alone does not bound the wait for the
 * response head everywhere), and an optional deadline for the whole request,
 * checked between reads together with the cancel flag. A body shorter than
 * its Content-Length is a cut download, not a shorter text. */
#pragma once
#include <windows.h>
#include <stddef.h>

typedef struct http_limits {
    const wchar_t *agent; /* user agent */
    DWORD resolve_ms, connect_ms, send_ms, receive_ms;
    size_t cap;       /* most body bytes */
    DWORD deadline_ms; /* the whole request; 0 = none */
} http_limits;

/* The session of the GET in flight, so that another thread can cancel it. */
typedef struct http_cancel {
    SRWLOCK lock;
    void *session; /* HINTERNET */
    volatile LONG cancelled;
} http_cancel;

enum http_result {
    HTTP_OK = 0,
    HTTP_URL_TOO_LONG,  /* not UTF-8, or longer than 1023 UTF-16 characters */
    HTTP_BAD_URL,       /* WinHTTP cannot split it, or no host */
    HTTP_NO_WINHTTP,    /* no session */
    HTTP_CANCELLED,     /* http_cancel_now came first (error: operation cancelled) */
    HTTP_UNREACHABLE,   /* connect, send or the response head failed */
    HTTP_STATUS,        /* not 200: status (0 unreadable) */
    HTTP_TOO_BIG,       /* more than cap bytes would come */
    HTTP_READ_FAILED,   /* a query, read or allocation for the body failed */
    HTTP_TOO_SLOW,      /* past the deadline (error: time-out) */
    HTTP_CUT,           /* size bytes of announced came (error: connection error) */
};

typedef struct http_reply {
    char *body;  /* HTTP_OK: malloc'ed (the caller frees it), a NUL after size; else null */
    size_t size; /* body bytes (HTTP_CUT: the bytes that came) */
    unsigned long error;          /* the system or WinHTTP error of any failure but the URL, status and size */
    unsigned long status;         /* HTTP_STATUS */
    unsigned long long announced; /* HTTP_CUT: the Content-Length */
} http_reply;

/* GETs url (UTF-8) within the limits. */
http_result http_get(const char *url, const http_limits *limits, http_cancel *cancel, http_reply *out);

void http_cancel_init(http_cancel *c);
/* Marks the slot cancelled and closes the session of a GET in flight: on
 * Windows that ends a blocked call at once; under Wine a blocked receive
 * runs on to its time-out, and the GET ends at its next check. */
void http_cancel_now(http_cancel *c);
