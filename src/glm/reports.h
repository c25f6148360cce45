// Printed descriptions of the model.
#pragma once

void GLM_describe_input_files();
void GLM_describe_stimuli();
void GLM_describe_basis_functions();
void GLM_describe_conditions();
int GLM_get_condition_string(int condition, char *out);
