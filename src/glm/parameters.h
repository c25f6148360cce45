// Setters of model parameters that rebuild the design, and drug efficiency.
#pragma once

int GLM_shape_for_drug(int e);
float GLM_get_time_constant(int e);
int GLM_set_time_constant(int e, float tau);
int GLM_increment_onset_times(int e, float dt);
float GLM_DrugEfficiency();
