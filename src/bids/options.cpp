#include "bids/options.h"

#include <cstdio>
#include <cstdlib>

#include "bids/layout.h"

namespace fs = std::filesystem;

namespace {

void print_usage() {
    std::printf(
        "Usage: fmriglm-bids BIDS_DIR OUT_DIR --task TASK [options]\n"
        "Analyses every run of TASK of each participant (and session) of a BIDS data set with fmriglm\n"
        "and writes the maps to OUT_DIR/sub-XX[/ses-YY]/.\n"
        "  --participant L ...   only these participants (labels, with or without sub-)\n"
        "  --session L ...       only these sessions (labels, with or without ses-)\n"
        "  --contrast C ...      contrasts of trial types: a-b, a, a+b, or a,b for an F test\n"
        "                        (default: one t test per trial type)\n"
        "  --confounds A,B,...   confound columns of each run's confounds table\n"
        "  --confounds-file P    where that table is: a path relative to BIDS_DIR (or absolute) with\n"
        "                        {dir} (sub-01/func), {stem} (sub-01_task-T_run-1) and wildcards; alone,\n"
        "                        every column is a confound (default: {stem}_desc-confounds_timeseries.tsv\n"
        "                        beside the run or under derivatives/*/)\n"
        "  --noise M             ols, ar1, ar2 or iwls (default ar1)\n"
        "  --irf NAME            impulse response: a built-in name or an IRF file (default %s)\n"
        "  --mask M              auto (found from the data), none, or a mask image (default auto)\n"
        "Prints one line per participant; exit status 1 when any participant failed.\n",
        DEFAULT_IRF);
}

bool refuse(const std::string &message) {
    std::printf("fmriglm-bids: %s\n\n", message.c_str());
    print_usage();
    return false;
}

std::vector<std::string> split_commas(const std::string &text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        if (comma > start) parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

}  // namespace

std::string BidsOptions::model_lines() const {
    std::string lines = "IRF " + irf + "\n";
    if (noise == "ar1" || noise == "ar2") lines += "AR " + noise.substr(2) + "\n";
    if (noise == "iwls") lines += "noise-model iWLS\n";
    if (mask != "none") lines += "mask " + mask + "\n";
    return lines;
}

bool parse_bids_options(int argc, char **argv, BidsOptions *o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            print_usage();
            std::exit(0);
        }
        if (word.compare(0, 2, "--") != 0) {
            positional.push_back(word);
            continue;
        }
        std::vector<std::string> values;
        while (i + 1 < argc && std::string(argv[i + 1]).compare(0, 2, "--") != 0) values.emplace_back(argv[++i]);
        const bool many = word == "--participant" || word == "--session" || word == "--contrast";
        if (values.empty() || (!many && values.size() > 1))
            return refuse(word + (values.empty() ? " needs a value" : " takes one value"));
        if (word == "--participant")
            for (const std::string &v : values) o->participants.push_back(strip_prefix(v, "sub-"));
        else if (word == "--session")
            for (const std::string &v : values) o->sessions.push_back(strip_prefix(v, "ses-"));
        else if (word == "--contrast") o->contrasts.insert(o->contrasts.end(), values.begin(), values.end());
        else if (word == "--task") o->task = values[0];
        else if (word == "--confounds") o->confounds = split_commas(values[0]);
        else if (word == "--confounds-file") o->confounds_file = values[0];
        else if (word == "--noise") o->noise = values[0];
        else if (word == "--irf") o->irf = values[0];
        else if (word == "--mask") o->mask = values[0];
        else return refuse("unknown option " + word);
    }
    if (positional.size() != 2) return refuse("give the BIDS folder and the output folder");
    if (o->task.empty()) return refuse("--task is required");
    if (o->noise != "ols" && o->noise != "ar1" && o->noise != "ar2" && o->noise != "iwls")
        return refuse("--noise takes ols, ar1, ar2 or iwls, not " + o->noise);
    o->root = fs::absolute(positional[0]).lexically_normal();
    o->out = fs::absolute(positional[1]).lexically_normal();
    if (!fs::is_directory(o->root)) return refuse(o->root.string() + " is not a folder");
    // Files named on the command line are found from here; the analyses run elsewhere.
    if (fs::exists(o->irf)) o->irf = fs::absolute(o->irf).string();
    if (o->mask != "auto" && o->mask != "none") o->mask = fs::absolute(o->mask).string();
    return true;
}
