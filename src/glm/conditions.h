// Conditions (contrasts over events).
#pragma once

int GLM_define_conditions(int define, const char *text, int *count);
