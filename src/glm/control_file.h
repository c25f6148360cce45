// Reader of the GLM control file.
#pragma once

int GLM_read_control_file(const char *path, int verbose);
int GLMInternal_decode_keyword(char *line);
void GLMInternal_describe_glm_format();
