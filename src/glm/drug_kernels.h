// Drug-IRF kernels of an event, sampled at the IRF resolution.
#pragma once

// Releases any kernels of event index e and builds them from its two time
// constants and HRF.resolution.
void GLMInternal_make_drug_kernels(int e);
