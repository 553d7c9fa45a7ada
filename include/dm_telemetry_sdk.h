/* Our own declarations of the game's telemetry SDK, as far as the plug-in
 * and the simulated game use it (x64, Microsoft calling convention). */
#ifndef DM_TELEMETRY_SDK_H
#define DM_TELEMETRY_SDK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t scs_result_t;
typedef uint32_t scs_u32_t;
typedef int32_t scs_i32_t;

#define SCS_RESULT_OK 0
#define SCS_RESULT_UNSUPPORTED (-1)
#define SCS_RESULT_GENERIC_ERROR (-7)

#define SCS_MAKE_VERSION(major, minor) (((scs_u32_t)(major) << 16) | (scs_u32_t)(minor))
#define SCS_TELEMETRY_VERSION_1_00 SCS_MAKE_VERSION(1, 0)
#define SCS_TELEMETRY_VERSION_1_01 SCS_MAKE_VERSION(1, 1)

#define SCS_TELEMETRY_EVENT_FRAME_END 2u
#define SCS_TELEMETRY_EVENT_PAUSED 3u
#define SCS_TELEMETRY_EVENT_STARTED 4u

#define SCS_VALUE_TYPE_FLOAT 5u
#define SCS_VALUE_TYPE_DPLACEMENT 11u

#define SCS_U32_NIL 0xFFFFFFFFu
#define SCS_LOG_TYPE_MESSAGE 0

typedef struct scs_value_dplacement_t {
    double x, y, z;
    float heading, pitch, roll;
    float pad;
} scs_value_dplacement_t;

typedef struct scs_value_t {
    scs_u32_t type;
    uint32_t pad;
    union {
        float value_float;
        scs_value_dplacement_t value_dplacement;
    };
} scs_value_t;

typedef void (*scs_log_t)(scs_i32_t type, const char *message);
typedef void (*scs_telemetry_event_callback_t)(scs_u32_t event, const void *event_info, void *context);
typedef scs_result_t (*scs_telemetry_register_for_event_t)(scs_u32_t event,
        scs_telemetry_event_callback_t callback, void *context);
typedef scs_result_t (*scs_telemetry_unregister_from_event_t)(scs_u32_t event);
typedef void (*scs_telemetry_channel_callback_t)(const char *name, scs_u32_t index,
        const scs_value_t *value, void *context);
typedef scs_result_t (*scs_telemetry_register_for_channel_t)(const char *name, scs_u32_t index,
        scs_u32_t type, scs_u32_t flags, scs_telemetry_channel_callback_t callback, void *context);
typedef scs_result_t (*scs_telemetry_unregister_from_channel_t)(const char *name, scs_u32_t index,
        scs_u32_t type);

typedef struct scs_telemetry_init_params_t {
    const char *game_name;
    const char *game_id;
    scs_u32_t game_version;
    uint32_t pad;
    scs_log_t log;
    scs_telemetry_register_for_event_t register_for_event;
    scs_telemetry_unregister_from_event_t unregister_from_event;
    scs_telemetry_register_for_channel_t register_for_channel;
    scs_telemetry_unregister_from_channel_t unregister_from_channel;
} scs_telemetry_init_params_t;

typedef scs_result_t (*scs_telemetry_init_t)(scs_u32_t version, const scs_telemetry_init_params_t *params);
typedef void (*scs_telemetry_shutdown_t)(void);

#ifdef __cplusplus
}
#define SCS_STATIC_ASSERT static_assert
#else
#define SCS_STATIC_ASSERT _Static_assert
#endif

SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, game_name) == 0, "game_name");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, game_id) == 8, "game_id");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, game_version) == 16, "game_version");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, log) == 24, "log");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, register_for_event) == 32, "register_for_event");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, unregister_from_event) == 40, "unregister_from_event");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, register_for_channel) == 48, "register_for_channel");
SCS_STATIC_ASSERT(offsetof(scs_telemetry_init_params_t, unregister_from_channel) == 56, "unregister_from_channel");
SCS_STATIC_ASSERT(sizeof(scs_telemetry_init_params_t) == 64, "init params size");
SCS_STATIC_ASSERT(offsetof(scs_value_t, type) == 0, "value.type");
SCS_STATIC_ASSERT(offsetof(scs_value_t, value_float) == 8, "value payload");
SCS_STATIC_ASSERT(offsetof(scs_value_dplacement_t, y) == 8, "dplacement.y");
SCS_STATIC_ASSERT(offsetof(scs_value_dplacement_t, z) == 16, "dplacement.z");
SCS_STATIC_ASSERT(offsetof(scs_value_dplacement_t, heading) == 24, "dplacement.heading");
SCS_STATIC_ASSERT(offsetof(scs_value_dplacement_t, pitch) == 28, "dplacement.pitch");
SCS_STATIC_ASSERT(offsetof(scs_value_dplacement_t, roll) == 32, "dplacement.roll");
SCS_STATIC_ASSERT(sizeof(scs_value_dplacement_t) == 40, "dplacement size");

#endif
