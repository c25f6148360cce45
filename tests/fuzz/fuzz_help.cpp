// Help files and the dialogue over them (the input's first and second parts:
// the file, then the answers typed); a page may hand over to
// documentation/other.txt.
#include <cstdio>

#include "harness.h"
#include "help/help_menu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("documentation/help.txt", fuzz::part(data, size, 0));
    fuzz::write_file("answers.txt", fuzz::part(data, size, 1));
    fuzz::run([] { return std::freopen("answers.txt", "r", stdin) ? help_menu(0, "help.txt") : 1; }, false);
    return 0;
}
