#include <cstdio>
#include <cstring>

#include "volume/volume_header.h"

namespace {
struct ExtensionCode {
    const char *extension;
    int code;
};
constexpr ExtensionCode extension_codes[] = {
    {"bshort", FILE_BSHORT}, {"bfloat", FILE_BFLOAT}, {"blong", FILE_BLONG}, {"ushort", FILE_USHORT},
    {"bdouble", FILE_BDOUBLE}, {"nii", FILE_NII},     {"img", FILE_IMG},
};
}  // namespace

// The extension is the text after the last '.', copied into scratch (which
// holds NAME_SIZE characters); a line end at the end of the name is removed
// from the name itself.
int get_extension(char *file_name, int *file_type, char *scratch) {
    std::size_t length = std::strlen(file_name);
    if (length > 0 && file_name[length - 1] == '\n') file_name[--length] = '\0';
    const char *dot = std::strrchr(file_name, '.');
    if (!dot) {
        std::printf("The file name has no extension!\n");
        return 1;
    }
    std::snprintf(scratch, NAME_SIZE, "%s", dot + 1);
    *file_type = FILE_UNKNOWN;
    for (const ExtensionCode &e : extension_codes)
        if (std::strcmp(scratch, e.extension) == 0) *file_type = e.code;
    return 0;
}

// result holds NAME_SIZE characters; a name that would not fit is refused.
int replace_extension(const char *file_name, int *file_type, const char *new_extension, char *result) {
    char name[NAME_SIZE];
    char extension[NAME_SIZE];
    if (std::snprintf(name, sizeof name, "%s", file_name) >= static_cast<int>(sizeof name)) {
        std::printf("Error: the file name %s is too long.\n", file_name);
        return 1;
    }
    if (get_extension(name, file_type, extension)) return 1;
    const std::size_t stem = static_cast<std::size_t>(std::strrchr(name, '.') - name) + 1;
    if (stem + std::strlen(new_extension) >= static_cast<std::size_t>(NAME_SIZE)) {
        std::printf("Error: the file name %s is too long.\n", file_name);
        return 1;
    }
    std::memcpy(result, name, stem);
    std::strcpy(result + stem, new_extension);
    return 0;
}
