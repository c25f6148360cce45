// Files that appear under their final names only when they are complete.
//
// An output file is written under a temporary name in the directory of its
// final name and renamed into place by close_output once every write has
// succeeded. Temporary files still pending when the program ends - by exit,
// after a failure, or on a termination signal - are removed, so a file under
// its final name is always whole. The same removal covers the program's
// private temporary files (create_temporary).
#pragma once

#include <cstdio>
#include <string>

// Pending temporary files are removed at exit. This removes them on SIGHUP,
// SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU and SIGABRT too, after which the
// signal takes its usual effect; signals that are ignored stay ignored. SIGXFSZ is ignored, so
// that a file size limit fails the write (which is reported) instead of
// ending the program.
void install_temp_file_removal();

// Opens a new temporary file beside final_name (mode 0666 less the umask) for
// writing; nullptr, with errno set, when it cannot be created.
std::FILE *create_output(const char *final_name);

// Closes a stream of create_output. When complete is true and every write and
// the close succeeded, the file takes its final name (and then the files
// attached to it take theirs) and the result is true; otherwise the file and
// the files attached to it are removed and the result is false.
bool close_output(std::FILE *stream, bool complete = true);

// Closes `part`, another stream of create_output, whose file then takes its
// final name right after the file of `owner` does, or is removed with it.
// False (and part removed) when a write of part failed.
bool attach_output(std::FILE *part, std::FILE *owner);

// Creates a private temporary file (mode 0600) in dir and returns a
// descriptor open for writing, with its name in *name; -1, with errno set,
// on failure. The file is removed at the end of the program unless
// remove_temporary removed it before.
int create_temporary(const char *dir, std::string *name);
void remove_temporary(const std::string &name);
