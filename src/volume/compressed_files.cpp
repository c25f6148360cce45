// Gzip-compressed NIfTI-1 files (.nii.gz) are read through an uncompressed
// copy, made once per file on its first use, so that the readers seek in it as
// in any .nii file and memory does not grow with the file. The copy goes to
// $TMPDIR when that is set, else to the current directory, which holds the
// results and has been found writable: /tmp is often a memory-backed file
// system, where a copy would take as much memory as the data.
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "numerics/arrays.h"
#include "numerics/temp_files.h"
#include "volume/volume_header.h"

namespace {

constexpr unsigned CHUNK_BYTES = 1u << 18;

struct Copy {
    std::string name, path;
};
std::list<Copy> copies;  // references stay valid while others come and go

bool write_all(int fd, const unsigned char *bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// Decompresses file_name into a new temporary file; its name, or "" after a message.
std::string decompress(const char *file_name) {
    gzFile in = gzopen(file_name, "rb");
    if (!in) {
        std::printf("Error: cannot open file %s.\n", file_name);
        return "";
    }
    const char *tmpdir = std::getenv("TMPDIR");
    const char *dir = tmpdir && tmpdir[0] ? tmpdir : ".";
    std::string path;
    const int fd = create_temporary(dir, &path);
    if (fd < 0) {
        std::printf("Error: cannot create a file in %s for the uncompressed data of %s (%s).\n", dir, file_name,
                    std::strerror(errno));
        gzclose(in);
        return "";
    }
    OwnedVector<unsigned char> buffer(CHUNK_BYTES, "Allocation error in the buffer of a compressed file.");
    int count;
    bool written = true;
    while (written && (count = gzread(in, buffer.get(), CHUNK_BYTES)) > 0)
        written = write_all(fd, buffer.get(), static_cast<std::size_t>(count));
    int error = errno;
    // A cut or damaged stream ends the reading with an error that zlib keeps.
    int code;
    std::string why = gzerror(in, &code);
    const std::string prefix = std::string(file_name) + ": ";
    if (why.compare(0, prefix.size(), prefix) == 0) why.erase(0, prefix.size());
    if (gzclose(in) != Z_OK && code == Z_OK) code = Z_BUF_ERROR, why = "unexpected end of file";
    if (close(fd) != 0 && written) written = false, error = errno;
    if (!written)
        std::printf("Error: cannot write the uncompressed data of %s to %s (%s).\n", file_name, path.c_str(),
                    std::strerror(error));
    else if (code == Z_ERRNO)
        std::printf("Error: cannot read file %s (%s).\n", file_name, std::strerror(error));
    else if (code != Z_OK)
        std::printf("Error: the compressed file %s is damaged or incomplete (%s).\n", file_name, why.c_str());
    if (!written || code != Z_OK) {
        remove_temporary(path);
        return "";
    }
    return path;
}

}  // namespace

bool is_compressed_nifti(const char *file_name) {
    const std::size_t length = std::strlen(file_name);
    return length > 7 && std::strcmp(file_name + length - 7, ".nii.gz") == 0;
}

const char *uncompressed_name(const char *file_name) {
    if (!is_compressed_nifti(file_name)) return file_name;
    for (const Copy &c : copies)
        if (c.name == file_name) return c.path.c_str();
    std::string path = decompress(file_name);
    if (path.empty()) return nullptr;
    copies.push_back({file_name, std::move(path)});
    return copies.back().path.c_str();
}

void release_uncompressed(const char *file_name) {
    for (auto c = copies.begin(); c != copies.end(); ++c)
        if (c->name == file_name) {
            remove_temporary(c->path);
            copies.erase(c);
            return;
        }
}
