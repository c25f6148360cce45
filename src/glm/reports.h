// Printed descriptions of the model.
#pragma once

void GLM_describe_input_files();
void GLM_describe_stimuli();
void GLM_describe_basis_functions();
// The basis.dat label of design column b (event_1, offset0, slope1, ...);
// out holds at least 32 characters.
void GLM_basis_column_label(int b, char *out);
void GLM_describe_conditions();
int GLM_get_condition_string(int condition, char *out);
