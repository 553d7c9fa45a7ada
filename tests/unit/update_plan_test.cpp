// The updater's plan for one check: which listed files differ (and which
// files on disk were asked about), every decision with its status line and
// flag, and the status once the files are written.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "online/update_plan.h"

namespace {

// The disk as the plan sees it: a listed file matches when its path begins
// with "same"; every question is noted as "<file letter>:<path>".
struct fake_disk {
    std::string asked;
    bool staged_matches = false, next_matches = false;
};

bool fake_matches(update_local_file file, const update_file_entry *e, void *ctx)
{
    fake_disk *d = (fake_disk *)ctx;
    const char letter[] = { 'P', 'L', 'S', 'N' };
    d->asked += std::string(1, letter[file]) + ":" + e->path + " ";
    if (file == UPDATE_LOCAL_STAGED_CORE)
        return d->staged_matches;
    if (file == UPDATE_LOCAL_NEXT_CORE)
        return d->next_matches;
    return strncmp(e->path, "same", 4) == 0;
}

update_file_entry entry(const char *name, const char *path)
{
    update_file_entry e = {};
    snprintf(e.name, sizeof e.name, "%s", name);
    snprintf(e.path, sizeof e.path, "%s", path);
    e.size = 1;
    return e;
}

update_manifest manifest(std::initializer_list<update_file_entry> files, int32_t api = 3)
{
    update_manifest m;
    snprintf(m.build, sizeof m.build, "%s", "rel-7");
    m.api = api;
    m.files = files;
    return m;
}

update_local local_of(fake_disk *disk)
{
    update_local l = {};
    l.plugin_known = true;
    l.install = true;
    l.api_version = 3;
    l.build_id = "rel-6-g0123abc";
    l.matches = fake_matches;
    l.ctx = disk;
    return l;
}

int index_of(const update_manifest &m, const update_file_entry *e) { return e ? (int)(e - m.files.data()) : -1; }

} // namespace

TEST(update_plan, TheLastDifferingLineOfEachNameIsPicked)
{
    const char *P = "drovemark.dll", *C = "drovemark_core.dll";
    struct {
        const char *what;
        update_manifest m;
        bool plugin_known;
        int plugin, core; // indexes into the lines, -1 none
        const char *asked;
    } cases[] = {
        { "all the same", manifest({ entry(P, "same-p"), entry(C, "same-c") }), true, -1, -1, "P:same-p L:same-c " },
        { "both differ", manifest({ entry(P, "new-p"), entry(C, "new-c") }), true, 0, 1, "P:new-p L:new-c " },
        { "plug-in unknown: never asked, never picked", manifest({ entry(P, "new-p"), entry(C, "new-c") }), false, -1, 1,
          "L:new-c " },
        { "a later differing line replaces", manifest({ entry(C, "new-1"), entry(C, "new-2"), entry(P, "new-p1"),
                                                        entry(P, "new-p2") }),
          true, 3, 1, "L:new-1 L:new-2 P:new-p1 P:new-p2 " },
        { "a later matching line clears nothing", manifest({ entry(C, "new-1"), entry(C, "same-2"), entry(P, "new-p"),
                                                             entry(P, "same-p") }),
          true, 2, 0, "L:new-1 L:same-2 P:new-p P:same-p " },
    };
    for (auto &c : cases) {
        fake_disk disk;
        update_local local = local_of(&disk);
        local.plugin_known = c.plugin_known;
        update_plan plan;
        update_plan_pick(&c.m, &local, &plan);
        EXPECT_EQ(index_of(c.m, plan.plugin), c.plugin) << c.what;
        EXPECT_EQ(index_of(c.m, plan.core), c.core) << c.what;
        EXPECT_EQ(disk.asked, c.asked) << c.what;
    }
}

TEST(update_plan, EachDecisionHasItsStatusAndFlag)
{
    struct {
        const char *what;
        bool plugin, core; // differing entries
        int32_t api;       // the host's is 3
        bool flagged, staged_matches, next_matches, old_stays, install;
        const char *build_id;
        update_plan_kind kind;
        int available;
        const char *status;
        const char *asked; // staged or next core questions
    } cases[] = {
        { "core waits staged", false, true, 3, true, true, false, false, true, "rel-6", UPDATE_PLAN_STAGED, -1,
          "build rel-7 downloaded; it installs when you leave the server", "S:c " },
        { "staged file but no flag: downloaded again", false, true, 3, false, true, false, false, true, "rel-6",
          UPDATE_PLAN_DOWNLOAD, 1, "downloading build rel-7", "" },
        { "flag but another file staged", false, true, 3, true, false, false, false, true, "rel-6",
          UPDATE_PLAN_DOWNLOAD, 1, "downloading build rel-7", "S:c " },
        { "next core waits (no flag needed)", true, true, 4, false, false, true, false, true, "rel-6",
          UPDATE_PLAN_STAGED, -1, "build rel-7 downloaded; it installs when you leave the server and restart the game",
          "N:c " },
        { "staged even over a dev build", false, true, 3, true, true, false, false, false, "rel-6-dirty",
          UPDATE_PLAN_STAGED, -1, "build rel-7 downloaded; it installs when you leave the server", "S:c " },
        { "current", false, false, 3, true, true, true, false, true, "rel-6", UPDATE_PLAN_CURRENT, 0,
          "up to date (build rel-7)", "" },
        { "current, old plug-in still loaded", false, false, 9, false, false, false, true, true, "rel-6-dirty",
          UPDATE_PLAN_CURRENT, 0, "build rel-7 installed; restart the game to finish", "" },
        { "dev build", true, false, 3, false, false, false, false, true, "rel-6-dirty", UPDATE_PLAN_DEV_BUILD, 1,
          "build rel-7 available; not installing over a dev build (rel-6-dirty)", "" },
        { "dev build before the reinstall refusal", false, true, 4, false, false, false, false, true, "x-dirty",
          UPDATE_PLAN_DEV_BUILD, 1, "build rel-7 available; not installing over a dev build (x-dirty)", "N:c " },
        { "no install flag", true, true, 3, false, false, false, false, false, "rel-6", UPDATE_PLAN_AVAILABLE, 1,
          "build rel-7 available", "" },
        { "another interface without a plug-in", false, true, -2, false, false, false, false, true, "rel-6",
          UPDATE_PLAN_REINSTALL, 1, "build rel-7 needs a reinstall (plugin API 3 -> -2): run install.cmd", "N:c " },
        { "another interface with a plug-in", true, true, 4, false, false, false, false, true, "rel-6",
          UPDATE_PLAN_DOWNLOAD, 1, "downloading build rel-7", "N:c " },
        { "only the plug-in, another interface", true, false, 4, false, false, false, false, true, "rel-6",
          UPDATE_PLAN_DOWNLOAD, 1, "downloading build rel-7", "" },
    };
    for (auto &c : cases) {
        update_manifest m = manifest({ entry("drovemark.dll", "p"), entry("drovemark_core.dll", "c") }, c.api);
        fake_disk disk;
        disk.staged_matches = c.staged_matches;
        disk.next_matches = c.next_matches;
        update_local local = local_of(&disk);
        local.core_staged = c.flagged;
        local.old_plugin_stays = c.old_stays;
        local.install = c.install;
        local.build_id = c.build_id;
        update_plan plan;
        plan.plugin = c.plugin ? &m.files[0] : nullptr;
        plan.core = c.core ? &m.files[1] : nullptr;
        update_plan_decide(&m, &local, &plan);
        EXPECT_EQ(plan.kind, c.kind) << c.what;
        EXPECT_EQ(plan.available, c.available) << c.what;
        EXPECT_STREQ(plan.status, c.status) << c.what;
        EXPECT_EQ(plan.same_api, c.api == 3) << c.what;
        EXPECT_EQ(disk.asked, c.asked) << c.what;
    }
}

TEST(update_plan, StatusOnceWritten)
{
    update_manifest m = manifest({ entry("drovemark.dll", "p"), entry("drovemark_core.dll", "c") });
    struct {
        bool plugin, core, same_api;
        const char *status;
    } cases[] = {
        { false, true, true, "build rel-7 downloaded; it installs when you leave the server" },
        { true, true, true, "build rel-7 downloaded; it installs when you leave the server (plugin: restart the game)" },
        { true, true, false, "build rel-7 installed; restart the game to finish" },
        { true, false, true, "build rel-7 installed; restart the game to finish" },
    };
    for (auto &c : cases) {
        update_plan plan = {};
        plan.plugin = c.plugin ? &m.files[0] : nullptr;
        plan.core = c.core ? &m.files[1] : nullptr;
        plan.same_api = c.same_api;
        char text[UPDATE_STATUS_MAX];
        update_plan_done_status(&m, &plan, text, sizeof text);
        EXPECT_STREQ(text, c.status) << c.plugin << c.core << c.same_api;
    }
}
