// Impulse response: built-in models or a three-line IRF file.
#pragma once

int GLM_read_hrf_file(int report, const char *name);
