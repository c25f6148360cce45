// Impulse response: built-in models or a three-line IRF file.
#pragma once

int GLM_read_hrf_file(int report, const char *name);

// The time step of the named IRF (a built-in name or an IRF file) without
// loading it; 0 when the name is neither. Prints nothing.
float GLM_irf_resolution(const char *name);
