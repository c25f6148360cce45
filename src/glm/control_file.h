// Reader of the GLM control file.
#pragma once

int GLM_read_control_file(const char *path, int verbose);
// One keyword line: 0 decoded, 1 the runs follow, -1 a bad argument (message
// printed), -2 a word that is not a keyword, -3 a number that is not finite
// (no message).
int GLMInternal_decode_keyword(char *line);
void GLMInternal_describe_glm_format();

// With an IRF in force: moves every OFF time of event index e that equals an
// ON time of the same event one IRF step earlier (ON times in stored order,
// each move seen by the later comparisons).
void GLMInternal_separate_abutting_stimuli(int e);
