// Running the analysis program as a child process.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The fmriglm program beside this program's executable when there is one,
// else the name fmriglm, looked up in PATH.
std::string analysis_program();

// Runs program with its arguments in folder dir, standard input from
// /dev/null, standard output and error into the file log. The exit status,
// or -1 when the program could not be started or did not exit normally.
int run_program_in(const std::string &program, const std::vector<std::string> &arguments,
                   const std::filesystem::path &dir, const std::filesystem::path &log);

// The first line of the log that holds "Error", or "" when none does.
std::string first_error_line(const std::filesystem::path &log);
