// fmriglm-bids: the analyses of a BIDS data set, one participant after another.
#include <chrono>
#include <cstdio>
#include <exception>

#include "bids/analysis.h"
#include "bids/layout.h"
#include "bids/options.h"
#include "numerics/temp_files.h"

int main(int argc, char **argv) {
    BidsOptions options;
    if (!parse_bids_options(argc, argv, &options)) return 1;
    install_temp_file_removal();
    const bool named = !options.participants.empty();
    const std::vector<std::string> participants = named ? options.participants : list_participants(options.root);
    if (participants.empty()) {
        std::printf("fmriglm-bids: no participant folders (sub-*) in %s\n", options.root.c_str());
        return 1;
    }
    int failed = 0, analysed = 0;
    for (const std::string &participant : participants) {
        const auto start = std::chrono::steady_clock::now();
        // A participant found by listing the folders may have no runs of this task.
        if (!named && find_sessions(options.root, participant, options.task, options.sessions).empty()) {
            std::printf("sub-%s: skipped, no runs of task %s\n", participant.c_str(), options.task.c_str());
            continue;
        }
        std::string error;
        try {
            analyse_participant(options, participant);
        } catch (const std::exception &e) {
            error = e.what();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (error.empty()) {
            std::printf("sub-%s: done in %.1f s\n", participant.c_str(), seconds);
            ++analysed;
        } else {
            std::printf("sub-%s: FAILED after %.1f s: %s\n", participant.c_str(), seconds, error.c_str());
            ++failed;
        }
        std::fflush(stdout);
    }
    if (analysed + failed == 0) std::printf("fmriglm-bids: no participant has runs of task %s\n", options.task.c_str());
    return failed || analysed == 0 ? 1 : 0;
}
