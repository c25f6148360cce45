// Every test starts from an empty model state: a listener registered by
// model_state.cpp releases whatever the previous test left in GLM and HRF
// (builds, conditions, tables, kernels, impulse response) and resets the
// rest. Storage a test borrows into the model state must be handed back
// (set to null) before the test ends.
#pragma once

// Releases all storage held by GLM and HRF (sized by the current counts) and
// resets both records and GLM_input.
void release_model_state();
