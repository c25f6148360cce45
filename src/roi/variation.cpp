#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "glm/parameters.h"
#include "roi/roi_analysis.h"

Variation vary_root = {0, -1, 0, nullptr, nullptr};

namespace {
std::vector<std::unique_ptr<Variation>> later_variations;
}

void reset_GLM_variations() {
    later_variations.clear();
    vary_root = Variation{0, -1, 0, nullptr, nullptr};
}

int add_GLM_variation(const char *id, int kind) {
    if (std::strlen(id) != 1) {
        std::printf("Error: event ID %s should be only 1 character long (1-9, a-z, A-Z)\n", id);
        return 1;
    }
    Variation *record = &vary_root;
    if (vary_root.event_index != -1) {
        later_variations.push_back(std::make_unique<Variation>());
        record = later_variations.back().get();
        Variation *last = &vary_root;
        while (last->next) last = last->next;
        last->next = record;
    }
    record->event_id = id[0];
    record->event_index = 0;
    record->kind = kind;
    record->setter = kind == 1 ? GLM_set_time_constant : GLM_increment_onset_times;
    record->next = nullptr;
    return 0;
}
