#include "glm/design_search.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "glm/paradigm.h"
#include "glm/state.h"

namespace {

// Columns kept per event: the one of the current parameters and the one just
// before, which an undone shift asks for again.
constexpr int KEPT_PER_EVENT = 2;

struct Column {
    std::vector<std::uint32_t> key;  // the bits of every input
    std::vector<float> values;       // ntime values
    std::uint64_t used = 0;
};

struct Store {
    bool active = false;
    std::vector<std::array<Column, KEPT_PER_EVENT>> events;
    std::vector<std::uint32_t> key;  // of the last look-up
    int key_event = -1;
    std::uint64_t clock = 0;
};
Store store;

void add(std::vector<std::uint32_t> &key, float v) { key.push_back(std::bit_cast<std::uint32_t>(v)); }
void add(std::vector<std::uint32_t> &key, int v) { key.push_back(static_cast<std::uint32_t>(v)); }
void add(std::vector<std::uint32_t> &key, const float *v, int n) {
    const std::size_t at = key.size();
    key.resize(at + n);
    std::memcpy(key.data() + at, v, sizeof(float) * n);
}

// Everything the column of a stimulus event is built from: the grid, the
// event's shape, parameters and stimuli, its kernels, the IRF, the fPET
// integration and the event's scale.
void make_key(int e, int S, std::vector<std::uint32_t> &key) {
    key.clear();
    const int n = GLM.nstims[e];
    for (int v : {GLM.ntime, S, GLM.event_shape[e], n, GLM_input.fPET_analysis, HRF.active, GLM.drug_irf_length[e]})
        add(key, v);
    for (float v : {GLM.tr[0], GLM.time_constant[e], GLM.time_constant2[e], GLM.alpha[e],
                    GLM.event_scale[GLM.event_number[e]], HRF.resolution})
        add(key, v);
    add(key, GLM.stim_on[e], n);
    add(key, GLM.stim_off[e], n);
    add(key, GLM.stim_magnitude[e], n);
    if (HRF.active && HRF.irf) {
        add(key, HRF.npoints);
        add(key, HRF.irf, HRF.npoints);
    }
    if (GLM.event_shape[e] == SHAPE_DRUG_IRF) {
        if (GLM.drug_irf_rise[e]) add(key, GLM.drug_irf_rise[e], GLM.drug_irf_length[e]);
        if (GLM.drug_irf_decay[e]) add(key, GLM.drug_irf_decay[e], GLM.drug_irf_length[e]);
    }
}

}  // namespace

GLMDesignSearchScope::GLMDesignSearchScope() {
    store = Store{};
    store.active = true;
    store.events.resize(MAX_EVENTS);
}

GLMDesignSearchScope::~GLMDesignSearchScope() {
    store = Store{};
    GLMInternal_release_convolution_transforms();
}

bool GLMInternal_design_search_active() { return store.active; }

bool GLMInternal_reuse_column(int e, int S) {
    make_key(e, S, store.key);
    store.key_event = e;
    for (Column &c : store.events[e])
        if (c.key == store.key && static_cast<int>(c.values.size()) == GLM.ntime) {
            c.used = ++store.clock;
            for (int k = 0; k < GLM.ntime; ++k) GLM.design_matrix[k][e] = c.values[k];
            return true;
        }
    return false;
}

void GLMInternal_keep_column(int e) {
    if (store.key_event != e) return;
    Column *slot = &store.events[e][0];
    for (Column &c : store.events[e])
        if (c.used < slot->used) slot = &c;
    slot->key.swap(store.key);  // the old key's storage serves the next look-up
    store.key_event = -1;
    slot->values.resize(GLM.ntime);
    for (int k = 0; k < GLM.ntime; ++k) slot->values[k] = GLM.design_matrix[k][e];
    slot->used = ++store.clock;
}
