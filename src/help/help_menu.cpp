// Interactive, text-only help browser. A help file under
// $ZEP_HOME/documentation holds entries introduced by marker lines
// "!m i": menu m (0 = the main menu), item i (0 = the menu's own page). The
// text of an entry runs from the line after its marker to the next marker.
// An item page may hand over to another help file with a line "> name".
#include "help/help_menu.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/text_lines.h"

namespace {

// Name of the file the user opened first; a file reached through a '>' line
// returns to its main menu when the user leaves it.
std::string saved_help_file_name;

// Menu and item numbers above this are refused: the entry tables are
// (menus x items) in size, and no help file needs more.
constexpr long MAX_ENTRY_NUMBER = 999;

constexpr const char *SEPARATOR_LINE = "----------------------------------------------\n";

struct Marker {
    long menu;
    long item;
    int line;  // 0-based line number of the marker line
};

class FileCloser {
public:
    explicit FileCloser(std::FILE *f) : f_(f) {}
    FileCloser(const FileCloser &) = delete;
    FileCloser &operator=(const FileCloser &) = delete;
    ~FileCloser() { if (f_) std::fclose(f_); }

private:
    std::FILE *f_;
};

// Reads "m i" after the '!' of a marker line. False when either number is missing.
bool parse_marker(const char *line, long &menu, long &item) {
    const char *p = line + 1;
    char *end = nullptr;
    errno = 0;
    menu = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE) return false;
    p = end;
    item = std::strtol(p, &end, 10);
    return end != p && errno != ERANGE;
}

// The tables built from one help file, and the file itself.
struct HelpFile {
    std::FILE *stream = nullptr;
    std::string path;
    int nmenus = 0;             // M
    OwnedVector<int> nitems;    // last item number of each menu; M for the main menu
    OwnedMatrix<int> start_line;  // line of each entry's marker, -1 for an absent entry
    OwnedMatrix<int> nlines;      // text lines of each entry

    bool present(long menu, long item) const {
        return menu >= 0 && menu < start_line.rows() && item >= 0 && item < start_line.cols();
    }

    // Prints the entry's lines as they are. With hand_over set, a line that
    // begins with '>' and names a file stops the display; the name is
    // returned through next_file and the result is true.
    bool show_entry(long menu, long item, bool hand_over, std::string &next_file) const {
        if (!present(menu, item) || start_line[menu][item] < 0) return false;
        std::rewind(stream);
        char buffer[LINE_BUFFER_SIZE];
        for (int k = 0; k <= start_line[menu][item]; ++k)
            if (!get_line(stream, buffer)) return false;
        for (int k = 0; k < nlines[menu][item]; ++k) {
            if (!get_line(stream, buffer)) break;
            if (hand_over && buffer[0] == '>') {
                const char *word = next_non_white(buffer + 1);
                std::size_t length = std::strcspn(word, " \t\r\n");
                if (length > 0) {
                    next_file.assign(word, length);
                    return true;
                }
            }
            std::printf("%s", buffer);
        }
        return false;
    }
};

// Opens the file and builds its entry tables. Returns 0, or 1 after a message.
int load_help_file(int mode, const char *file_name, HelpFile &help) {
    const char *home = std::getenv("ZEP_HOME");
    if (!home) {
        std::printf("For help, quit and define the environment variable ZEP_HOME, and then re-start.\n");
        return 1;
    }
    help.path = std::string(home) + "/documentation/" + file_name;
    help.stream = std::fopen(help.path.c_str(), "r");
    if (!help.stream) {
        std::printf("Error: cannot open the file %s.\n", help.path.c_str());
        std::printf("The environment variable ZEP_HOME is set to %s\n", home);
        std::printf("If this is incorrect, quit, define this environment variable, and re-start.\n");
        return 1;
    }
    if (mode == 0) saved_help_file_name = file_name;
    std::printf("Help from file %s\n", help.path.c_str());

    // Every pass reads lines the same way (pieces of over-long lines count as
    // lines of their own), so the line numbers agree between the passes.
    char buffer[LINE_BUFFER_SIZE];
    int nmarkers = 0, total_lines = 0;
    while (get_line(help.stream, buffer)) {
        if (buffer[0] == '!') ++nmarkers;
        ++total_lines;
    }
    if (nmarkers == 0) {
        std::printf("Warning: file %s holds no menu entries.\n", help.path.c_str());
        return 1;
    }

    std::vector<Marker> markers;
    markers.reserve(static_cast<std::size_t>(nmarkers));
    std::rewind(help.stream);
    for (int line = 0; get_line(help.stream, buffer); ++line) {
        if (buffer[0] != '!') continue;
        Marker marker{0, 0, line};
        if (!parse_marker(buffer, marker.menu, marker.item)) {
            std::printf("Warning: menu entry %d in file %s does not hold two numbers after '!'.\n",
                        static_cast<int>(markers.size()), help.path.c_str());
            return 1;
        }
        markers.push_back(marker);
    }

    // Each marker either continues the current menu with the next item or
    // opens the next menu; a marker that agrees with neither in any of its two
    // numbers is out of order.
    long current_menu = 0, current_item = 0, largest_menu = 0, largest_item = 0;
    for (std::size_t k = 0; k < markers.size(); ++k) {
        const long m = markers[k].menu, i = markers[k].item;
        if (m != current_menu && i != current_item + 1 && m != current_menu + 1 && i != current_item) {
            std::printf("Warning: menu entry %d in file %s is %ld %ld,\n", static_cast<int>(k),
                        help.path.c_str(), m, i);
            std::printf("but it should be either %ld %ld or %ld %ld,\n", current_menu, current_item + 1,
                        current_menu + 1, current_item);
            return 1;
        }
        if (m < 0 || i < 0 || m > MAX_ENTRY_NUMBER || i > MAX_ENTRY_NUMBER) {
            std::printf("Warning: menu entry %d in file %s is %ld %ld,\n", static_cast<int>(k),
                        help.path.c_str(), m, i);
            std::printf("but menu and item numbers must lie between 0 and %ld.\n", MAX_ENTRY_NUMBER);
            return 1;
        }
        if (m == current_menu + 1) {
            current_menu = m;
            current_item = 0;
        } else if (i == current_item + 1) {
            current_item = i;
        }
        if (m > largest_menu) largest_menu = m;
        if (i > largest_item) largest_item = i;
    }

    // The tables are sized by the largest menu number rather than by the last
    // marker's: the order check lets a later marker return to a lower menu,
    // and every marker must fit.
    const int nmenus = static_cast<int>(largest_menu) + 1;
    const int nitem_slots = static_cast<int>(largest_item) + 1;
    help.nmenus = nmenus;
    help.nitems = OwnedVector<int>(nmenus, "Allocation error in int_vector().");
    help.start_line = OwnedMatrix<int>(nmenus, nitem_slots, "Allocation failure 1 in int_matrix().",
                                       "Allocation failure 2 in int_matrix().");
    help.nlines = OwnedMatrix<int>(nmenus, nitem_slots, "Allocation failure 1 in int_matrix().",
                                   "Allocation failure 2 in int_matrix().");
    for (int m = 0; m < nmenus; ++m) {
        help.nitems[m] = 0;
        for (int i = 0; i < nitem_slots; ++i) {
            help.start_line[m][i] = -1;
            help.nlines[m][i] = 0;
        }
    }
    for (std::size_t k = 0; k < markers.size(); ++k) {
        const long m = markers[k].menu, i = markers[k].item;
        const int next_line = k + 1 < markers.size() ? markers[k + 1].line : total_lines;
        help.nitems[m] = static_cast<int>(i);
        help.start_line[m][i] = markers[k].line;
        help.nlines[m][i] = next_line - markers[k].line - 1;
    }
    help.nitems[0] = nmenus;
    return 0;
}

enum class Answer { quit, main_menu, back, number, unknown, end_of_input };

// Reads one answer line from standard input. A line that begins with an
// integer is a number (0 meaning the main menu); an empty line goes back in a
// sub-menu and quits in the main menu; the words q, quit and b act as typed.
Answer read_answer(bool main_menu, long &number) {
    char line[LINE_BUFFER_SIZE];
    if (!std::fgets(line, sizeof line, stdin)) return Answer::end_of_input;
    if (!std::strchr(line, '\n')) {  // one typed line is one answer, however long
        int ch;
        while ((ch = std::getchar()) != EOF && ch != '\n') {}
    }
    const char *p = next_non_white(line);
    const char *digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (std::isdigit(static_cast<unsigned char>(*digits))) {
        number = std::strtol(p, nullptr, 10);  // out-of-range values saturate and are refused later
        return number == 0 ? Answer::main_menu : Answer::number;
    }
    const std::size_t length = std::strcspn(p, " \t\r\n");
    const std::string word(p, length);
    if (word.empty()) return main_menu ? Answer::quit : Answer::back;
    if (word == "q" || word == "quit") return Answer::quit;
    if (word == "b") return Answer::back;
    return Answer::unknown;
}

void print_bad_option(int largest) {
    std::printf("Bad option. Choose '0', 'b', 'q', or a number from 1 to %d\n", largest);
}

enum class Outcome { leave, leave_all, hand_over };

// Runs the dialogue over one loaded file.
Outcome browse(const HelpFile &help, std::string &next_file) {
    long menu = 0, item = 0;
    for (;;) {
        item = 0;
        if (menu != 0 && help.nitems[menu] == 0) menu = 0;
        help.show_entry(menu, 0, false, next_file);  // a menu's own page is printed as it is

        std::printf("%s", SEPARATOR_LINE);
        std::printf("--- choose item: 0 = main menu, return = back \n");
        std::printf("%s", SEPARATOR_LINE);
        std::printf(menu == 0 ? "help > " : "help >> ");
        std::fflush(stdout);

        long number = 0;
        switch (read_answer(menu == 0, number)) {
            case Answer::end_of_input:
                std::printf("\n");
                return Outcome::leave_all;
            case Answer::quit:
                return Outcome::leave;
            case Answer::main_menu:
                menu = 0;
                item = 0;
                break;
            case Answer::back:
                if (item != 0) item = 0;
                else menu = 0;
                break;
            case Answer::number:
                if (menu == 0) {
                    if (number < 1 || number > help.nmenus - 1) print_bad_option(help.nmenus - 1);
                    else menu = number;
                } else if (number < 0 || number > help.nitems[menu]) {
                    print_bad_option(help.nitems[menu]);
                } else {
                    item = number;
                }
                break;
            case Answer::unknown:
                print_bad_option(menu == 0 ? help.nmenus - 1 : help.nitems[menu]);
                break;
        }
        if (item == 0 && help.nitems[menu] != 0) continue;
        // An item page, or the page of a menu without items: here a '>' line
        // hands over to another help file.
        if (help.show_entry(menu, item, menu != 0, next_file)) return Outcome::hand_over;
    }
}

}  // namespace

// Opening another file through a '>' line, and coming back from it to the
// first file's main menu, are done by this loop rather than by nested calls,
// so that browsing back and forth does not deepen the stack.
int help_menu(int mode, const char *file_name) {
    std::string name = file_name;
    for (;;) {
        std::string next_file;
        Outcome outcome;
        {
            HelpFile help;
            const int result = load_help_file(mode, name.c_str(), help);
            FileCloser closer(help.stream);
            if (result != 0) return result;
            outcome = browse(help, next_file);
        }
        if (outcome == Outcome::hand_over) {
            mode = 1;
            name = next_file;
        } else if (outcome == Outcome::leave && mode == 1) {
            mode = 0;
            name = saved_help_file_name;
        } else {
            return 0;
        }
    }
}
