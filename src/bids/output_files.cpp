#include "bids/output_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "bids/names.h"
#include "numerics/temp_files.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *MAP_PREFIXES[] = {"P-", "T-", "S-", "Z-"};
constexpr const char *RENAME_PREFIX = ".renaming-";

void rename_or_fail(const fs::path &from, const fs::path &to) {
    if (std::rename(from.c_str(), to.c_str()) != 0)
        throw BidsError("cannot rename " + from.string() + " to " + to.string() + ": " + std::strerror(errno));
}

}  // namespace

void write_whole_file(const fs::path &path, const std::string &text) {
    std::FILE *stream = create_output(path.c_str());
    if (!stream) throw BidsError("cannot create " + path.string() + ": " + std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (!close_output(stream, written)) throw BidsError("cannot write " + path.string());
}

void remove_named_outputs(const fs::path &dir, const std::vector<Contrast> &contrasts) {
    std::error_code ignored;
    fs::remove(dir / "contrasts.tsv", ignored);
    for (const Contrast &c : contrasts)
        for (const char *prefix : MAP_PREFIXES) fs::remove(dir / (prefix + c.file_name + ".nii"), ignored);
}

void name_maps(const fs::path &dir, const std::vector<Contrast> &contrasts) {
    // Through names of their own first, so that no map replaces another one
    // that has yet to move (a trial type named like another's identifier).
    for (const Contrast &c : contrasts)
        for (const char *prefix : MAP_PREFIXES)
            if (c.condition != c.file_name)
                rename_or_fail(dir / (prefix + c.condition + ".nii"),
                               dir / (RENAME_PREFIX + (prefix + c.file_name) + ".nii"));
    for (const Contrast &c : contrasts)
        for (const char *prefix : MAP_PREFIXES)
            if (c.condition != c.file_name)
                rename_or_fail(dir / (RENAME_PREFIX + (prefix + c.file_name) + ".nii"),
                               dir / (prefix + c.file_name + ".nii"));
}

int recorded_dof(const fs::path &s_map) {
    // A NIfTI-1 header (348 bytes), the extension flag, then one extension of
    // 16 bytes: its size, code 20 and the degrees of freedom.
    unsigned char bytes[364];
    std::ifstream in(s_map, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(bytes), sizeof bytes) || bytes[348] != 1) return -1;
    std::int32_t extension[3];
    std::memcpy(extension, bytes + 352, sizeof extension);
    return extension[0] == 16 && extension[1] == 20 ? extension[2] : -1;
}

std::string contrasts_tsv(const std::vector<Contrast> &contrasts, int dof) {
    std::string text = "name\tcondition\trows\tdof\tz_map\n";
    for (const Contrast &c : contrasts)
        text += c.name + "\t" + c.condition + "\t" + std::to_string(c.rows) + "\t" +
                (dof >= 0 ? std::to_string(dof) : "n/a") + "\tZ-" + c.file_name + ".nii\n";
    return text;
}
