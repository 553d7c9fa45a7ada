/* The core UI's internal interface between its files (render and game
 * threads). Pure logic is in ui_pure.h. */
#pragma once
#include <stdint.h>
#include "dm_api.h"
#include "net/net_records.h"
#include "ui/ui_pure.h"
#include "online/online.h"
#include "online/servers.h"

struct ImFont;
struct ImDrawList;
struct ImVec2;

typedef void (*ui_draw_fn)(const dm_ui_frame_args *args);

/* shell (ui_shell.cpp) */
bool ui_add_draw_callback(ui_draw_fn fn);
void ui_remove_draw_callback(ui_draw_fn fn);
int ui_post_command(const char *line);
/* All of the lines or none of them (a join never runs half). */
int ui_post_commands(const char *const *lines, int n);
ImFont **ui_fonts(); /* {regular, semibold, bold}; any may be null */
/* The icon glyph while the icon font is merged into the UI fonts, else null:
 * without it an icon would draw as the missing-glyph mark, so the caller
 * leaves it out and lays its text out as if there were no icon. */
const char *ui_icon(const char *glyph);
float ui_get_scale();
float ui_get_size();
void ui_set_size(float size);
ui_settings *ui_settings_get(); /* render thread edits, game thread reads at start */
/* Copies the published status (zeroed while none); returns its generation. */
uint32_t ui_status_copy(ui_status *out);
/* The kick and ban notice: copies the record when its generation differs from
 * *seen; returns true when a new one was copied. */
bool ui_notice_copy(uint32_t *seen, net_kick_record *out);
uint64_t ui_tick_now();
bool ui_status_fresh(const ui_status *s);

/* The network values the snapshot is built from. The default reads the
 * network client; a test build may put its own in. */
typedef struct ui_net_source {
    bool (*is_open)();
    uint16_t (*our_id)();
    const char *(*status_line)();
    int (*list_players)(uint16_t *out, int capacity);
    const char *(*player_name)(uint16_t id);
    bool (*get_connection)(net_connection *out);
    bool (*get_kick_info)(net_kick_record *out);
} ui_net_source;
void ui_set_net_source(const ui_net_source *source); /* null: the network client */

/* The Dear ImGui version and structure sizes this core's UI code was built
 * with. ui_run checks them (ImGui::DebugCheckVersionAndDataLayout) and
 * that the plug-in's context has this layout before it touches that context.
 * The default is this build's own; a test build may put others in. */
typedef struct ui_imgui_layout {
    const char *version;
    size_t io, style, vec2, vec4, vert, idx;
} ui_imgui_layout;
void ui_set_imgui_layout(const ui_imgui_layout *layout); /* null: this build's own */

/* config.ini access for the UI and the join path: config_get, config_set. */
#include "base/core_config.h"

/* drawing (ui_draw.cpp) */
void ui_draw_main(const dm_ui_frame_args *args);
void ui_push_toast(uint32_t colour, const char *icon, const char *fmt, ...) __attribute__((format(gnu_printf, 3, 4)));
bool ui_button(const char *label, float w, float h, int style, bool enabled);
bool ui_checkbox(const char *label, bool *value);
void ui_draw_avatar(ImDrawList *dl, float cx, float cy, float radius, const char *name);
void ui_key_hint(ImDrawList *dl, float x, float y, const char *key, const char *caption);
void ui_text_clipped(ImDrawList *dl, ImFont *font, float size, float x, float y, uint32_t colour,
                        const char *text, float max_width);
void ui_text_styled(ImFont *font, float size, uint32_t colour, const char *fmt, ...) __attribute__((format(gnu_printf, 4, 5)));
void ui_banner_panel(uint32_t colour, const char *icon, const char *title, const char *subtitle, float button_w,
                        const char *button_label, int button_style, bool *pressed);
/* A button label: "<icon>  <text>" with the icon font, "<text>" without. */
void ui_icon_label(char *out, size_t size, const char *glyph, const char *text);
/* The favourite star drawn as a shape, for when there is no icon font:
 * filled for a favourite, an outline otherwise. */
void ui_draw_star(ImDrawList *dl, float cx, float cy, float radius, uint32_t colour, bool filled);
/* Text helpers on the UI fonts: size is the base size (times the scale here). */
float ui_text_width(ImFont *font, float size, const char *text);
void ui_draw_text(ImDrawList *dl, ImFont *font, float size, float x, float y, uint32_t colour, const char *text);
void ui_push_font(ImFont *font, float size); /* base size; the style's scale applies */
void ui_pop_font();

/* pages (ui_pages.cpp) */
void ui_page_players(const ui_status *s);
void ui_page_settings(const ui_status *s);

/* the Servers page (ui_servers.cpp) */
void ui_page_servers(const ui_status *s);
/* One server's card; a right click on it writes its index to *context_request. */
void ui_server_card(const ui_status *s, const server_entry *e, int index, bool fresh, int *context_request);
void ui_add_server_dialog(); /* body of the "add_server" popup */
/* Queues the join's console lines (all or none) and makes the server the
 * auto-connect target in config.ini. */
void ui_join_server(const ui_status *s, const char *host, uint16_t port);
/* The current server's name from the server list, else its host. */
const char *ui_server_display_name(const ui_status *s);

/* kick and ban notice (ui_notice.cpp) */
void ui_notice_dialog(const dm_ui_frame_args *args);
void ui_notice_reset();
void ui_draw_reset();

/* name tags (nametags_draw.cpp) */
bool nametags_enabled();

/* Icon glyphs (UTF-8). */
#define DM_ICON_SERVERS "\xee\x9d\xb4"  /* U+E774 */
#define DM_ICON_PLAYERS "\xee\x9c\x96"  /* U+E716 */
#define DM_ICON_SETTINGS "\xee\x9c\x93" /* U+E713 */
#define DM_ICON_REFRESH "\xee\x9c\xac"  /* U+E72C */
#define DM_ICON_PERSON "\xee\x9d\xbb"   /* U+E77B */
#define DM_ICON_LINK "\xee\x9c\x81"     /* U+E701 */
#define DM_ICON_WARNING "\xee\x9e\xba"  /* U+E7BA */
#define DM_ICON_PROFILE "\xee\xa5\x86"  /* U+E946 */
