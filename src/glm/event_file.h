// Reader of one run's event file.
#pragma once

int GLM_read_event_file(const char *path, int run, int ntime_run);
void GLMInternal_describe_event_format(int shape);
