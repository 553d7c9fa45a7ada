/* Reload blocks: what a core hands the next core build across a hot reload
 * (the connection, the spawned vehicle and trailer). Not in this build:
 * every entry point is a stub in runtime_stubs.cpp. */
#pragma once

void reload_blocks_map();
void reload_blocks_write();
void reload_restore_net(double now); /* first frame: reconnect from the net block */
