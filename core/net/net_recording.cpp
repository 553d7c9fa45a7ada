// The network recording: a CSV file of the local truck's sampled states at
// 10 rows a second, written by the vehicle glue with each successful sample,
// flushed every 50 rows and when it is closed. "net record" opens and closes
// it. No windows.h.
#include <stdio.h>
#include <string.h>
#include "dm_file_stream.h"
#include "dm_own_files.h"
#include "net/net_csv.h"
#include "net/net_internal.h"

namespace {

struct recording_file {
    FILE *file;
    char path[260];
    uint32_t rows;
} recording;

} // namespace

bool net_recording_is_open() { return recording.file != nullptr; }

void net_recording_start(const char *base_dir, const char *name)
{
    char path[260];
    int n;
    if (strchr(name, ':') || name[0] == '\\' || name[0] == '/')
        n = snprintf(path, sizeof path, "%s", name);
    else
        n = snprintf(path, sizeof path, "%s%s", base_dir ? base_dir : "", name);
    // A recording never replaces one of the system's own files or folders.
    FILE *f = (n > 0 && (size_t)n < sizeof path && dm_recording_path_allowed(name)) ? dm_file_open(path, "wt")
                                                                                    : nullptr;
    if (!f) {
        net_log("[core] net: can't open %s", path);
        return;
    }
    recording.file = f;
    snprintf(recording.path, sizeof recording.path, "%s", path);
    recording.rows = 0;
    fprintf(f, "%s\n", NET_CSV_HEADER);
    net_log("[core] net: recording the local truck at %u Hz to %s (see README.md)", 10u, path);
}

void net_recording_stop_logged()
{
    if (!recording.file)
        return;
    uint32_t rows = recording.rows;
    net_recording_close();
    net_log("[core] net: recording stopped (%u rows)", rows);
}

bool net_recording_close()
{
    if (!recording.file)
        return false;
    fflush(recording.file);
    fclose(recording.file);
    recording.file = nullptr;
    return true;
}

void net_recording_write(double now, const net_pose *pose)
{
    if (!recording.file || !pose)
        return;
    char row[512];
    if (net_csv_row(row, sizeof row, now, pose) < 0)
        return;
    fputs(row, recording.file);
    recording.rows++;
    if (recording.rows % 50 == 0)
        fflush(recording.file);
}
