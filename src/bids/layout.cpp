#include "bids/layout.h"

#include <algorithm>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// Labels of the folders named prefix-LABEL in folder, sorted.
std::vector<std::string> labelled_folders(const fs::path &folder, const std::string &prefix) {
    std::vector<std::string> labels;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory() && name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            labels.push_back(name.substr(prefix.size()));
    }
    std::sort(labels.begin(), labels.end());
    return labels;
}

std::vector<BidsRun> runs_in(const fs::path &root, const fs::path &folder, const std::string &task) {
    std::vector<BidsRun> runs;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(root / folder / "func", error)) {
        const std::string file = entry.path().filename().string();
        BidsName name = parse_bids_name(file);
        if (!name.valid || name.suffix != "bold" || name.entity("task") != task) continue;
        if (name.extension != ".nii" && name.extension != ".nii.gz") continue;
        runs.push_back(
            {entry.path(), file.substr(0, file.size() - name.extension.size() - 5), folder / "func", std::move(name)});
    }
    std::sort(runs.begin(), runs.end(), [](const BidsRun &a, const BidsRun &b) {
        const long ra = std::strtol(a.name.entity("run").c_str(), nullptr, 10);
        const long rb = std::strtol(b.name.entity("run").c_str(), nullptr, 10);
        return ra != rb ? ra < rb : a.stem < b.stem;
    });
    return runs;
}

}  // namespace

std::vector<std::string> list_participants(const fs::path &root) { return labelled_folders(root, "sub-"); }

std::string strip_prefix(const std::string &label, const std::string &prefix) {
    return label.compare(0, prefix.size(), prefix) == 0 ? label.substr(prefix.size()) : label;
}

std::vector<BidsSession> find_sessions(const fs::path &root, const std::string &participant, const std::string &task,
                                       const std::vector<std::string> &wanted_sessions) {
    const fs::path subject = "sub-" + participant;
    if (!fs::is_directory(root / subject)) throw BidsError("no folder " + (root / subject).string());
    std::vector<BidsSession> sessions;
    const std::vector<std::string> labels = labelled_folders(root / subject, "ses-");
    if (labels.empty()) {
        sessions.push_back({"", runs_in(root, subject, task)});
    } else {
        for (const std::string &label : labels)
            if (wanted_sessions.empty() ||
                std::find(wanted_sessions.begin(), wanted_sessions.end(), label) != wanted_sessions.end())
                sessions.push_back({label, runs_in(root, subject / ("ses-" + label), task)});
    }
    std::erase_if(sessions, [](const BidsSession &s) { return s.runs.empty(); });
    return sessions;
}
