// Reader of a run's table of extra regressors.
#pragma once

int GLM_read_table_file(const char *name, int run, int ntime_run);
