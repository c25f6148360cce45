// Assembly of the design matrix (basis functions).
#pragma once

int GLM_define_basis_functions();
