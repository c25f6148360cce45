#include "driver/globals.h"

#include <cstring>
#include <memory>
#include <vector>

#include "numerics/worker_pool.h"

int Verbose = 0;
float S_divisor = 1.0f;
int BLOCK_SIZE = 50000;
int Threads = 0;
int resels = 0;
RunEntry file_list_root;

namespace {
// Entries behind the first one; they live until the process ends.
std::vector<std::unique_ptr<RunEntry>> later_runs;
}

void build_run_list() {
    later_runs.clear();
    RunEntry *previous = nullptr;
    for (int r = 0; r < GLM_input.nruns; ++r) {
        RunEntry *entry = &file_list_root;
        if (r > 0) {
            later_runs.push_back(std::make_unique<RunEntry>());
            entry = later_runs.back().get();
            previous->next = entry;
        }
        *entry = RunEntry{};
        std::snprintf(entry->fmri_file, NAME_SIZE, "%s", GLM_input.fmri_file[r]);
        std::snprintf(entry->event_file, NAME_SIZE, "%s", GLM_input.event_file[r]);
        entry->multiplier = 1.0f;
        entry->next = nullptr;
        previous = entry;
    }
}

WorkerPool &analysis_pool() {
    static WorkerPool pool(Threads > 0 ? Threads : online_processors());
    return pool;
}
