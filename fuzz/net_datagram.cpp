// Any datagram from any host, as the client takes it: the header, then the
// payload parser of its type (the info reply is read whole, from the info
// socket). A payload that parses is built again by the type's builder and
// must parse back to the same record.
//
// Index:
// - rebuild: a builder's output, copied to a buffer of exactly its length
// - one check per packet type, in the order of the type numbers
// - LLVMFuzzerTestOneInput: the header, then the type's check
#include <vector>
#include "fuzz_check.h"
#include "net/net_wire.h"

namespace {

/* Builders write into a generous buffer; the result is copied into one of
 * exactly the returned length, so a parser reading past it is caught. */
struct rebuild {
    uint8_t room[4096];
    std::vector<uint8_t> bytes;
    bool ok = false;
    void take(int len)
    {
        ok = len >= 0;
        FUZZ_CHECK(len <= (int)sizeof room);
        if (ok)
            bytes.assign(room, room + len);
    }
    const uint8_t *p() const { return bytes.data(); }
    size_t n() const { return bytes.size(); }
};

/* Characters after the terminator do not belong to the text. */
void clear_after_nul(char *s, size_t size)
{
    size_t n = strnlen(s, size);
    if (n < size)
        memset(s + n, 0, size - n);
}

void check_hello(const uint8_t *p, size_t n)
{
    uint32_t nonce, nonce2;
    uint16_t proto, proto2;
    char name[33], name2[33];
    if (!net_parse_hello(p, n, &nonce, &proto, name))
        return;
    rebuild b;
    b.take(net_build_hello(b.room, sizeof b.room, nonce, name));
    if (!name[0]) { // a name whose first byte is NUL: the builder sends no empty name
        FUZZ_CHECK(!b.ok);
        return;
    }
    FUZZ_CHECK(b.ok && net_parse_hello(b.p(), b.n(), &nonce2, &proto2, name2));
    FUZZ_CHECK(nonce2 == nonce && proto2 == NET_PROTOCOL_VERSION && strcmp(name, name2) == 0);
}

void check_reason(const uint8_t *p, size_t n)
{
    uint8_t reason, reason2;
    char text[NET_TEXT_MAX + 1], text2[NET_TEXT_MAX + 1];
    bool has, has2;
    FUZZ_CHECK(net_parse_reason(p, n, &reason, text, &has)); // never refuses: absent is reason 0
    FUZZ_CHECK(has ? (reason == 4 || reason == 5) : text[0] == 0);
    rebuild b;
    b.take(net_build_reason(b.room, sizeof b.room, reason, text));
    FUZZ_CHECK(b.ok && net_parse_reason(b.p(), b.n(), &reason2, text2, &has2));
    FUZZ_CHECK(reason2 == reason && strcmp(text, text2) == 0);
}

void check_joined(const uint8_t *p, size_t n)
{
    char name[33], name2[33];
    if (!net_parse_joined(p, n, name))
        return;
    FUZZ_CHECK(strlen(name) <= 32);
    rebuild b;
    b.take(net_build_name(b.room, sizeof b.room, name));
    FUZZ_CHECK(b.ok && net_parse_joined(b.p(), b.n(), name2) && strcmp(name, name2) == 0);
}

void check_info_reply(const uint8_t *d, size_t len)
{
    uint32_t nonce, nonce2;
    uint16_t proto, proto2;
    uint8_t players, players2, max, max2;
    char name[256], name2[256];
    if (!net_parse_info_reply(d, len, &nonce, &proto, &players, &max, name))
        return;
    rebuild b;
    net_write_header(b.room, NET_INFO_REPLY, 0, 0);
    int n = net_build_info_reply(b.room + NET_HEADER_SIZE, sizeof b.room - NET_HEADER_SIZE, nonce, proto,
                                 players, max, name);
    b.take(n < 0 ? -1 : NET_HEADER_SIZE + n);
    FUZZ_CHECK(b.ok && net_parse_info_reply(b.p(), b.n(), &nonce2, &proto2, &players2, &max2, name2));
    FUZZ_CHECK(nonce2 == nonce && proto2 == proto && players2 == players && max2 == max);
    FUZZ_CHECK(strcmp(name, name2) == 0);
}

void check_state(const uint8_t *p, size_t n)
{
    uint32_t ms, ms2, hash, hash2;
    net_pose pose, pose2;
    if (!net_parse_state(p, n, &ms, &pose, &hash))
        return;
    rebuild b;
    b.take(net_build_state(b.room, sizeof b.room, ms, &pose, hash));
    FUZZ_CHECK(b.ok && b.n() == 73u + (pose.has_trailer ? 40 : 0) + (pose.has_lights ? 5 : 0));
    FUZZ_CHECK(net_parse_state(b.p(), b.n(), &ms2, &pose2, &hash2));
    // The block flags of the rebuilt state say which blocks it carries.
    pose.flags = (uint8_t)((pose.flags & ~(2 | 8)) | (pose.has_trailer ? 2 : 0) | (pose.has_lights ? 8 : 0));
    FUZZ_CHECK(ms2 == ms && hash2 == hash && fuzz_same(pose, pose2));
}

void check_acc_part(const uint8_t *p, size_t n)
{
    net_acc_part_head h;
    if (!net_parse_acc_part_head(p, n, &h))
        return;
    FUZZ_CHECK(h.list <= 1 && h.count >= 1 && h.count <= 32 && h.index < h.count);
    int span = net_acc_part_span(p, n, h.entries);
    if (span < 0)
        return;
    // The announced entries lie within the payload, one length byte each.
    FUZZ_CHECK((size_t)span <= n - 8 && span >= h.entries);
    size_t at = 8;
    for (int i = 0; i < h.entries; i++)
        at += 1 + p[at];
    FUZZ_CHECK(at == 8 + (size_t)span);
}

void check_time_of_day(const uint8_t *p, size_t n)
{
    double s, s2;
    float r, r2;
    if (!net_parse_time_of_day(p, n, &s, &r))
        return;
    FUZZ_CHECK(s >= 0 && s < 86400 && r > 0 && r <= 1000);
    rebuild b;
    b.take(net_build_time_of_day(b.room, sizeof b.room, s, r));
    FUZZ_CHECK(b.ok && net_parse_time_of_day(b.p(), b.n(), &s2, &r2) && fuzz_same(s, s2) && fuzz_same(r, r2));
}

void check_weather(const uint8_t *p, size_t n)
{
    uint8_t kind, kind2, roll, roll2;
    float secs, secs2;
    if (!net_parse_weather(p, n, &kind, &roll, &secs))
        return;
    rebuild b;
    b.take(net_build_weather(b.room, sizeof b.room, kind, roll, secs));
    FUZZ_CHECK(b.ok && net_parse_weather(b.p(), b.n(), &kind2, &roll2, &secs2));
    FUZZ_CHECK(kind2 == kind && roll2 == roll && fuzz_same(secs, secs2));
}

void check_prop(const uint8_t *p, size_t n, uint16_t owner)
{
    prop_state prop, prop2;
    if (!net_parse_prop(p, n, owner, &prop))
        return;
    FUZZ_CHECK(prop.server_id != 0 && prop.light_mode <= 7 && prop.attach_part <= 3);
    FUZZ_CHECK(strlen(prop.model) <= NET_PROP_PATH_MAX);
    rebuild b;
    b.take(net_build_prop(b.room, sizeof b.room, &prop));
    if (!prop.model[0]) { // a path whose first byte is NUL: the sender omits such a prop
        FUZZ_CHECK(!b.ok);
        return;
    }
    FUZZ_CHECK(b.ok && net_parse_prop(b.p(), b.n(), owner, &prop2));
    clear_after_nul(prop.model, sizeof prop.model);
    FUZZ_CHECK(fuzz_same(prop, prop2));
}

void check_u32(const uint8_t *p, size_t n)
{
    uint32_t v, v2;
    if (!net_parse_u32(p, n, &v))
        return;
    rebuild b;
    b.take(net_build_u32(b.room, sizeof b.room, v));
    FUZZ_CHECK(b.ok && net_parse_u32(b.p(), b.n(), &v2) && v2 == v);
}

void check_prop_list(const uint8_t *p, size_t n)
{
    static uint32_t ids[NET_PROP_IDS_MAX], ids2[NET_PROP_IDS_MAX];
    uint16_t count, count2;
    if (!net_parse_prop_list(p, n, ids, &count))
        return;
    FUZZ_CHECK(count <= NET_PROP_IDS_MAX);
    rebuild b;
    b.take(net_build_prop_list(b.room, sizeof b.room, ids, count));
    FUZZ_CHECK(b.ok && net_parse_prop_list(b.p(), b.n(), ids2, &count2) && count2 == count);
    FUZZ_CHECK(memcmp(ids, ids2, 4 * (size_t)count) == 0);
}

void check_layout_cmd(const uint8_t *p, size_t n)
{
    uint8_t op, op2;
    char name[33], name2[33];
    if (!net_parse_layout_cmd(p, n, &op, name))
        return;
    rebuild b;
    b.take(net_build_layout_cmd(b.room, sizeof b.room, op, name));
    FUZZ_CHECK(b.ok && net_parse_layout_cmd(b.p(), b.n(), &op2, name2));
    FUZZ_CHECK(op2 == op && strcmp(name, name2) == 0);
}

void check_message(const uint8_t *p, size_t n)
{
    char text[NET_TEXT_MAX + 1], text2[NET_TEXT_MAX + 1];
    if (!net_parse_message(p, n, text))
        return;
    rebuild b;
    b.take(net_build_text(b.room, sizeof b.room, text));
    FUZZ_CHECK(b.ok && net_parse_message(b.p(), b.n(), text2) && strcmp(text, text2) == 0);
}

void check_traffic_defs(const uint8_t *p, size_t n)
{
    static traffic_car_definition def, def2;
    if (!net_parse_traffic_defs(p, n, &def))
        return;
    FUZZ_CHECK(def.net_id != 0 && def.path_count <= NET_TRAFFIC_PATHS_MAX);
    size_t total = 6;
    for (uint32_t i = 0; i < def.path_count; i++)
        total += 1 + strlen(def.paths[i]);
    rebuild b;
    b.take(net_build_traffic_defs(b.room, sizeof b.room, &def));
    if (total > NET_TRAFFIC_DEFS_MAX) { // the receiver takes more than a sender sends
        FUZZ_CHECK(!b.ok);
        return;
    }
    FUZZ_CHECK(b.ok && b.n() == total && net_parse_traffic_defs(b.p(), b.n(), &def2));
    for (uint32_t i = 0; i < def.path_count; i++)
        clear_after_nul(def.paths[i], sizeof def.paths[i]);
    FUZZ_CHECK(fuzz_same(def, def2));
}

void check_traffic_cars(const uint8_t *p, size_t n)
{
    static traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM];
    uint32_t ms;
    int count;
    if (!net_parse_traffic_cars(p, n, &ms, cars, &count))
        return;
    FUZZ_CHECK(count >= 0 && count <= NET_TRAFFIC_CARS_PER_DATAGRAM);
    rebuild b;
    b.take(net_build_traffic_cars(b.room, sizeof b.room, ms, cars, count));
    FUZZ_CHECK(b.ok && b.n() == 5 + 30 * (size_t)count);
    // The rebuilt records are the received bytes, but for a quaternion
    // component of -32768: below -1 after scaling, the sender's clamp makes it -32767.
    std::vector<uint8_t> want(p, p + b.n());
    for (int i = 0; i < count; i++)
        for (int k = 0; k < 4; k++) {
            uint8_t *q = &want[5 + 30 * (size_t)i + 16 + 2 * (size_t)k];
            if (net_get_u16(q) == 0x8000)
                net_put_u16(q, (uint16_t)-32767);
        }
    FUZZ_CHECK(memcmp(want.data(), b.p(), b.n()) == 0);
}

void check_traffic_ids(const uint8_t *p, size_t n)
{
    static uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED], ids2[NET_TRAFFIC_IDS_ACCEPTED];
    uint8_t flags, flags2;
    uint16_t count, count2;
    if (!net_parse_traffic_ids(p, n, &flags, ids, &count))
        return;
    FUZZ_CHECK(count <= NET_TRAFFIC_IDS_ACCEPTED);
    rebuild b;
    b.take(net_build_traffic_ids(b.room, sizeof b.room, ids, count, flags));
    FUZZ_CHECK(b.ok && net_parse_traffic_ids(b.p(), b.n(), &flags2, ids2, &count2));
    FUZZ_CHECK(flags2 == flags && count2 == count && memcmp(ids, ids2, 4 * (size_t)count) == 0);
}

void check_owner(const uint8_t *p, size_t n)
{
    uint16_t owner, owner2;
    uint32_t slot, slot2;
    if (!net_parse_owner(p, n, &owner, &slot))
        return;
    FUZZ_CHECK(slot <= 255 || slot == 0xFFFFFFFFu);
    rebuild b;
    b.take(net_build_owner(b.room, sizeof b.room, owner, slot == 0xFFFFFFFFu ? -1 : (int)slot));
    FUZZ_CHECK(b.ok && net_parse_owner(b.p(), b.n(), &owner2, &slot2) && owner2 == owner && slot2 == slot);
}

void check_job(const uint8_t *p, size_t n)
{
    server_job job, job2;
    if (!net_parse_job(p, n, &job))
        return;
    rebuild b;
    b.take(net_build_job(b.room, sizeof b.room, &job));
    FUZZ_CHECK(b.ok && net_parse_job(b.p(), b.n(), &job2) && fuzz_same(job, job2));
}

void check_auth_reply(const uint8_t *p, size_t n)
{
    uint8_t pub[32], sig[64];
    if (!net_parse_auth_reply(p, n, pub, sig))
        return;
    rebuild b;
    b.take(net_build_auth_reply(b.room, sizeof b.room, pub, sig));
    FUZZ_CHECK(b.ok && b.n() == n && memcmp(b.p(), p, n) == 0);
}

void check_role(const uint8_t *p, size_t n)
{
    uint32_t tag, tag2, colour, colour2;
    char text[NET_ROLE_MAX + 1], text2[NET_ROLE_MAX + 1];
    if (!net_parse_role(p, n, &tag, &colour, text))
        return;
    FUZZ_CHECK(strlen(text) <= NET_ROLE_MAX);
    rebuild b;
    b.take(net_build_role(b.room, sizeof b.room, tag, colour, text));
    FUZZ_CHECK(b.ok && net_parse_role(b.p(), b.n(), &tag2, &colour2, text2));
    FUZZ_CHECK(tag2 == tag && colour2 == colour && strcmp(text, text2) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    if (len > NET_RECV_BUFFER) // the receive buffer holds no more
        return 0;
    check_info_reply(d, len);
    net_header h, h2;
    if (!net_read_header(d, len, &h))
        return 0;
    uint8_t again[NET_HEADER_SIZE];
    net_write_header(again, h.type, h.seq, h.player);
    FUZZ_CHECK(net_read_header(again, sizeof again, &h2));
    FUZZ_CHECK(h2.type == h.type && h2.seq == h.seq && h2.player == h.player);

    // The payload on its own, so reading past it is caught.
    std::vector<uint8_t> payload(d + NET_HEADER_SIZE, d + len);
    const uint8_t *p = payload.data();
    size_t n = payload.size();
    switch (h.type) {
    case NET_HELLO: check_hello(p, n); break;
    case NET_REFUSED:
    case NET_PLAYER_DROPPED: check_reason(p, n); break;
    case NET_PLAYER_JOINED: check_joined(p, n); break;
    case NET_STATE: check_state(p, n); break;
    case NET_ACC_PART: check_acc_part(p, n); break;
    case NET_TIME_OF_DAY: check_time_of_day(p, n); break;
    case NET_WEATHER: check_weather(p, n); break;
    case NET_PROP: check_prop(p, n, h.player); break;
    case NET_PROP_REMOVED:
    case NET_JOB_REMOVED: check_u32(p, n); break;
    case NET_PROP_LIST: check_prop_list(p, n); break;
    case NET_LAYOUT_CMD: check_layout_cmd(p, n); break;
    case NET_MESSAGE: check_message(p, n); break;
    case NET_TRAFFIC_DEFS: check_traffic_defs(p, n); break;
    case NET_TRAFFIC_CARS: check_traffic_cars(p, n); break;
    case NET_TRAFFIC_IDS: check_traffic_ids(p, n); break;
    case NET_TRAFFIC_OWNER: check_owner(p, n); break;
    case NET_JOB: check_job(p, n); break;
    case NET_AUTH_REPLY: check_auth_reply(p, n); break;
    case NET_ROLE: check_role(p, n); break;
    default: break; // welcome, leave, keep-alive, info query, auth challenge: no payload parser
    }
    return 0;
}
