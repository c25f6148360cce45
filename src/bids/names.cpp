#include "bids/names.h"

#include <algorithm>

namespace fs = std::filesystem;

std::string BidsName::entity(const std::string &key) const {
    for (const auto &[k, v] : entities)
        if (k == key) return v;
    return "";
}

BidsName parse_bids_name(const std::string &file_name) {
    BidsName name;
    const std::size_t dot = file_name.find('.');
    const std::string stem = file_name.substr(0, dot);
    if (dot != std::string::npos) name.extension = file_name.substr(dot);
    const std::size_t last = stem.rfind('_');
    name.suffix = last == std::string::npos ? stem : stem.substr(last + 1);
    name.valid = !name.suffix.empty() && name.suffix.find('-') == std::string::npos;
    if (last == std::string::npos) return name;
    for (std::size_t start = 0; start <= last;) {
        const std::size_t end = stem.find('_', start);
        const std::string part = stem.substr(start, end - start);
        const std::size_t dash = part.find('-');
        if (dash == std::string::npos || dash == 0 || dash + 1 == part.size())
            name.valid = false;
        else
            name.entities.emplace_back(part.substr(0, dash), part.substr(dash + 1));
        start = end + 1;
    }
    return name;
}

bool applies_to(const BidsName &metadata, const BidsName &data) {
    if (!metadata.valid || metadata.suffix != data.suffix) return false;
    return std::all_of(metadata.entities.begin(), metadata.entities.end(),
                       [&](const auto &pair) { return data.entity(pair.first) == pair.second; });
}

std::vector<fs::path> inherited_files(const fs::path &root, const fs::path &data, const std::string &suffix,
                                      const std::string &extension) {
    BidsName wanted = parse_bids_name(data.filename().string());
    wanted.suffix = suffix;
    // The folders from the root down to the data file's own.
    std::vector<fs::path> folders;
    const fs::path base = fs::weakly_canonical(root);
    for (fs::path folder = fs::weakly_canonical(data).parent_path();; folder = folder.parent_path()) {
        folders.push_back(folder);
        if (folder == base || folder == folder.parent_path()) break;
    }
    std::reverse(folders.begin(), folders.end());

    std::vector<fs::path> found;
    for (const fs::path &folder : folders) {
        std::vector<fs::path> here;
        std::error_code error;
        for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
            const std::string file = entry.path().filename().string();
            const BidsName name = parse_bids_name(file);
            if (name.extension == extension && entry.is_regular_file() && applies_to(name, wanted))
                here.push_back(entry.path());
        }
        if (here.size() > 1) {
            std::sort(here.begin(), here.end());
            throw BidsError("both " + here[0].string() + " and " + here[1].string() + " apply to " + data.string() +
                            "; a folder may hold only one");
        }
        found.insert(found.end(), here.begin(), here.end());
    }
    return found;
}
