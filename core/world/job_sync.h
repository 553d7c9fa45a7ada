/* What the server-job sync (job_sync.cpp) offers the job command: the
 * tagged-offer set, the freight-row hook and the job table's entries. Game
 * thread only. */
#pragma once
#include <stdint.h>
#include "world/job_text.h"
#include "net/net_records.h"

/* Installs the freight-row hook once (logs whether it went in). */
void job_install_row_hook();

/* The tagged-offer set: tag an offer, empty the set, read it. */
void job_tag(uint64_t offer);
void job_untag_all();
const job_tags *job_tagged();

/* The used entries of the job table in order: at most max jobs and the
 * offer each holds (0 none); returns the count. */
int job_table_list(server_job *jobs, uint64_t *offers, int max);
