// Printed descriptions of the model.
#pragma once

void GLM_describe_input_files();
void GLM_describe_stimuli();
void GLM_describe_basis_functions();
void GLM_describe_conditions();
int GLM_get_condition_string(int condition, char *out);
// The name of a design column, as in the first line of basis.dat: event_1,
// ..., then offset0, offset1, ..., slope0, ... (the baseline terms of each run).
const char *GLM_basis_label(int column, char label[32]);
