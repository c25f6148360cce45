// Interactive help menu over the help text files under $ZEP_HOME/documentation.
#pragma once

int help_menu(int mode, const char *file_name);
