/* The network recording's CSV lines and the local truck's pose from
 * telemetry. No windows.h. */
#pragma once
#include <stddef.h>
#include "dm_api.h"
#include "net/net_records.h"

#define NET_CSV_HEADER "t,pid,flags,x,y,z,qw,qx,qy,qz,vx,vy,vz,steer,speed,rpm,tx,ty,tz,tqw,tqx,tqy,tqz"
/* One row with its newline; returns the length, or -1 when cut. */
int net_csv_row(char *out, size_t size, double now, const net_pose *pose);
