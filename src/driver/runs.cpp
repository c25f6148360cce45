// Run set-up and the readers of the runs' image data.
//
// initialize_runs reads every run's header, checks that the runs agree, opens
// the data files and finds one intensity multiplier per run. read_volume reads
// one volume of one run; read_block_vector reads a block of consecutive voxels
// over all time points of all runs, already multiplied by the run multipliers.
// Both apply a NIfTI file's own sample scaling (scl_slope, scl_inter).
#include "driver/runs.h"

#include <sys/types.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numerics/arrays.h"
#include "numerics/warnings.h"
#include "volume/volume_header.h"

namespace {

using std::int64_t;

// Samples converted per read when they pass through the scratch buffer in
// long stretches (whole volumes after one another).
constexpr int64_t CHUNK_SAMPLES = int64_t{1} << 18;

// Bytes per stored sample; 0 for a storage type that cannot be converted.
int sample_size(int storage_type) {
    switch (storage_type) {
        case STORAGE_UCHAR: return 1;
        case STORAGE_SHORT:
        case STORAGE_USHORT: return 2;
        case STORAGE_FLOAT:
        case STORAGE_LONG: return 4;
        case STORAGE_DOUBLE: return 8;
        default: return 0;
    }
}

void report_short_read(const RunEntry *run) {
    switch (run->storage_type) {
        case STORAGE_SHORT:
        case STORAGE_USHORT: std::printf("Error reading the short integer data from file %s\n", run->fmri_file); break;
        case STORAGE_LONG: std::printf("Error reading the long integer data from file %s\n", run->fmri_file); break;
        case STORAGE_UCHAR: std::printf("Error reading the byte data from file %s\n", run->fmri_file); break;
        default: std::printf("Error reading the floating point data from file %s\n", run->fmri_file); break;
    }
}

// Reusable working storage for samples narrower or wider than a float.
OwnedVector<unsigned char> scratch_buffer;

unsigned char *scratch(int64_t bytes) {
    if (scratch_buffer.size() < bytes)
        scratch_buffer = OwnedVector<unsigned char>(bytes, "Allocation error in the sample buffer of the runs.");
    return scratch_buffer.get();
}

inline std::uint8_t reverse_bytes(std::uint8_t b) { return b; }
inline std::uint16_t reverse_bytes(std::uint16_t b) { return __builtin_bswap16(b); }
inline std::uint32_t reverse_bytes(std::uint32_t b) { return __builtin_bswap32(b); }
inline std::uint64_t reverse_bytes(std::uint64_t b) { return __builtin_bswap64(b); }

template <std::size_t N> struct BitsOf;
template <> struct BitsOf<1> { using type = std::uint8_t; };
template <> struct BitsOf<2> { using type = std::uint16_t; };
template <> struct BitsOf<4> { using type = std::uint32_t; };
template <> struct BitsOf<8> { using type = std::uint64_t; };

// How stored samples become values: value = (slope x stored + inter) x
// multiplier when scaled, stored x multiplier otherwise.
struct SampleScale {
    bool scaled;
    float slope, inter, multiplier;
};

// Converts count stored samples of type T to values. The byte reversal is the
// same as swap_16 / swap_32 applied sample by sample. src may be the same
// memory as dst when T is four bytes wide: each sample is loaded before its
// own slot is written.
template <typename T, bool Swap, bool Scaled>
void decode(const unsigned char *src, float *dst, int64_t count, const SampleScale &s) {
    using Bits = typename BitsOf<sizeof(T)>::type;
    for (int64_t i = 0; i < count; ++i) {
        Bits bits;
        std::memcpy(&bits, src + i * static_cast<int64_t>(sizeof(T)), sizeof(T));
        if constexpr (Swap) bits = reverse_bytes(bits);
        float value = static_cast<float>(std::bit_cast<T>(bits));
        if constexpr (Scaled) value = value * s.slope + s.inter;
        dst[i] = value * s.multiplier;
    }
}

template <typename T>
void decode(bool swap, const unsigned char *src, float *dst, int64_t count, const SampleScale &s) {
    if (swap)
        s.scaled ? decode<T, true, true>(src, dst, count, s) : decode<T, true, false>(src, dst, count, s);
    else
        s.scaled ? decode<T, false, true>(src, dst, count, s) : decode<T, false, false>(src, dst, count, s);
}

void decode_samples(int storage_type, bool swap, const unsigned char *src, float *dst, int64_t count,
                    const SampleScale &s) {
    switch (storage_type) {
        case STORAGE_UCHAR: decode<std::uint8_t>(swap, src, dst, count, s); break;
        case STORAGE_SHORT: decode<std::int16_t>(swap, src, dst, count, s); break;
        case STORAGE_USHORT: decode<std::uint16_t>(swap, src, dst, count, s); break;
        case STORAGE_LONG: decode<std::int32_t>(swap, src, dst, count, s); break;
        case STORAGE_DOUBLE: decode<double>(swap, src, dst, count, s); break;
        default:
            // Floats already in the machine's order need no pass when used as stored.
            if (swap || s.scaled || s.multiplier != 1.0f) decode<float>(swap, src, dst, count, s);
            break;
    }
}

// Reads count samples from the run's current stream position into out as
// values times the multiplier. Four-byte samples are read straight into out
// (one read); others pass through the scratch buffer, one read per chunk.
bool read_samples(const RunEntry *run, int64_t count, float *out, float multiplier) {
    const int size = sample_size(run->storage_type);
    const bool swap = run->byte_order != machine_byte_order();
    const SampleScale scale{run->scale_slope != 0.0f, run->scale_slope, run->scale_inter, multiplier};
    if (size == 4) {
        unsigned char *raw = reinterpret_cast<unsigned char *>(out);
        if (std::fread(raw, 4, static_cast<std::size_t>(count), run->stream) != static_cast<std::size_t>(count))
            return false;
        decode_samples(run->storage_type, swap, raw, out, count, scale);
        return true;
    }
    while (count > 0) {
        const int64_t part = count < CHUNK_SAMPLES ? count : CHUNK_SAMPLES;
        unsigned char *raw = scratch(part * size);
        if (std::fread(raw, static_cast<std::size_t>(size), static_cast<std::size_t>(part), run->stream) !=
            static_cast<std::size_t>(part))
            return false;
        decode_samples(run->storage_type, swap, raw, out, part, scale);
        out += part;
        count -= part;
    }
    return true;
}

int64_t volume_voxels(const RunEntry *run) {
    return static_cast<int64_t>(run->nx) * run->ny * run->nz;
}

// Copies the header values that describe the data into the run entry and
// refuses data layouts that the readers would misread.
int take_header(RunEntry *run, const VolumeHeader &h) {
    run->nx = h.nx;
    run->ny = h.ny;
    run->nz = h.nz;
    run->nt = h.nt;
    run->byte_order = h.byte_order;
    run->file_type = h.file_type;
    run->storage_type = h.storage_type;
    for (int i = 0; i < 3; ++i) {
        run->resolution[i] = h.resolution[i];
        run->origin[i] = h.origin[i];
        run->direction[i] = h.direction[i];
    }
    run->time_step = h.time_step;
    run->nifti = h.nifti;
    // NIfTI scaling applies when its slope is a finite number other than 0.
    const bool nifti = h.file_type == FILE_NII || h.file_type == FILE_IMG;
    const bool scaled = nifti && std::isfinite(h.scale_slope) && h.scale_slope != 0.0f;
    run->scale_slope = scaled ? h.scale_slope : 0.0f;
    run->scale_inter = scaled ? h.scale_inter : 0.0f;
    if (scaled && !std::isfinite(h.scale_inter)) {
        std::printf("Error: file %s has a scaling slope (%g) but an intercept (%g) that is not a finite number.\n",
                    run->fmri_file, static_cast<double>(h.scale_slope), static_cast<double>(h.scale_inter));
        return 1;
    }

    if (h.file_type == FILE_FREESURFER) {
        std::printf("Error: file %s is a freesurfer-style volume stored as one file per slice;\n", run->fmri_file);
        std::printf("convert it to one 4-D file (NIfTI-1 or xdisplay) for the analysis.\n");
        return 1;
    }
    if (sample_size(h.storage_type) == 0) {
        std::printf("Error: the samples of file %s have a storage type (%d) that cannot be read.\n", run->fmri_file,
                    h.storage_type);
        return 1;
    }
    if (h.data_kind == 1) {
        std::printf("Error: file %s holds complex data; only real-valued samples can be analysed.\n",
                    run->fmri_file);
        return 1;
    }
    if (!(h.data_offset >= 0.0f && h.data_offset < 9.0e18f)) {
        std::printf("Error: file %s has an invalid data offset (%g).\n", run->fmri_file,
                    static_cast<double>(h.data_offset));
        return 1;
    }
    run->data_offset = static_cast<long long>(h.data_offset);
    return 0;
}

// Opens the run's data file and makes sure that it holds every sample its
// header promises, so that a truncated file stops the set-up, not the analysis.
int open_run_data(RunEntry *run) {
    if (run->stream) std::fclose(run->stream);
    const char *path = uncompressed_name(run->fmri_file);
    if (!path) return 1;
    run->stream = std::fopen(path, "rb");
    // The stream keeps an uncompressed copy readable after its name is gone.
    release_uncompressed(run->fmri_file);
    if (!run->stream) {
        std::printf("Error: cannot open file %s.\n", run->fmri_file);
        return 1;
    }
    // The readers ask for whole stretches of samples and seek between them, so
    // stdio buffering would only add copies and extra system calls.
    std::setvbuf(run->stream, nullptr, _IONBF, 0);

    const int64_t needed = run->data_offset + volume_voxels(run) * run->nt * sample_size(run->storage_type);
    off_t size = -1;
    if (fseeko(run->stream, 0, SEEK_END) == 0) size = ftello(run->stream);
    if (size < 0) {
        std::printf("Error: cannot determine the size of file %s.\n", run->fmri_file);
        return 1;
    }
    if (static_cast<int64_t>(size) < needed) {
        std::printf("Error: file %s holds %lld bytes, but its header describes %lld bytes.\n", run->fmri_file,
                    static_cast<long long>(size), static_cast<long long>(needed));
        return 1;
    }
    return 0;
}

// Mean intensity of a run: the mean of its volume means, each a running
// single-precision sum of sample / V over every voxel.
int run_mean(RunEntry *run, float *volume, float *mean) {
    const int V = run->nx * run->ny * run->nz;
    float m = 0.0f;
    for (int t = 0; t < run->nt; ++t) {
        if (read_volume(run, t, volume)) return 1;
        float volume_mean = 0.0f;
        for (int v = 0; v < V; ++v) volume_mean += volume[v] / static_cast<float>(V);
        m += volume_mean / static_cast<float>(run->nt);
    }
    *mean = m;
    return 0;
}

// BOLD (1): scale every run to the grand mean. IRON (2): the inverse ratio.
int find_multipliers(int nruns) {
    if (GLM_input.normalize == 1)
        std::printf("Finding BOLD normalization factors assuming independent scaling factors per run:\n");
    else
        std::printf("Finding IRON normalization factors assuming progressive blood decay of irox oxide:\n");

    const int V = file_list_root.nx * file_list_root.ny * file_list_root.nz;
    OwnedVector<float> volume(V);
    OwnedVector<float> means(nruns);
    float grand_mean = 0.0f;
    int r = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next, ++r) {
        if (run_mean(run, volume.get(), &means[r])) return 1;
        grand_mean += means[r] / static_cast<float>(nruns);
    }
    r = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next, ++r) {
        const float m = means[r];
        run->multiplier = GLM_input.normalize == 1 ? grand_mean / m : m / grand_mean;
        // A run (or data set) of mean 0 would turn every sample into inf or NaN.
        if (m == 0.0f || grand_mean == 0.0f || !std::isfinite(run->multiplier)) {
            std::printf("Error: run #%d (file %s) has mean intensity %g against a grand mean of %g,\n", r + 1,
                        run->fmri_file, static_cast<double>(m), static_cast<double>(grand_mean));
            std::printf("so no normalization factor can be found.\n");
            return 1;
        }
        std::printf("Run #%d multiplier = %f\n", r + 1, static_cast<double>(run->multiplier));
    }
    return 0;
}

}  // namespace

int initialize_runs(int *total_time_points) {
    if (GLM_input.nruns < 1) {
        std::printf("Error: the GLM control file lists no runs.\n");
        return 1;
    }

    int nruns = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next, ++nruns) {
        VolumeHeader header;
        if (read_volume_header(Verbose, run->fmri_file, &header)) return 1;
        if (take_header(run, header)) return 1;
        run->multiplier = 1.0f;
    }

    const RunEntry *first = &file_list_root;
    int64_t total = 0;
    int r = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next, ++r) {
        if (run->nx != first->nx || run->ny != first->ny || run->nz != first->nz) {
            std::printf("The dimensions of file %s (%d,%d,%d) are not the same as for file %s (%d,%d,%d)\n",
                        run->fmri_file, run->nx, run->ny, run->nz, first->fmri_file, first->nx, first->ny,
                        first->nz);
            return 1;
        }
        float tr = 0.0f;
        if (GLM_get_tr(r, &tr)) {
            std::printf("Programming error in call to GLM_get_tr using nruns = %d\n", r);
            std::exit(1);
        }
        // != is also true when either value is not a number.
        if (run->time_step != tr)
            print_warning("Warning: file %s has a time step (%g) that differs from the GLM (%g)\n", run->fmri_file,
                        static_cast<double>(run->time_step), static_cast<double>(tr));
        total += run->nt;
    }
    if (total > INT32_MAX) {
        std::printf("Error: the runs hold %lld time points, more than this program can analyse.\n",
                    static_cast<long long>(total));
        return 1;
    }
    *total_time_points = static_cast<int>(total);

    std::printf("fMRI files: %d runs of dimension (x,y,z) = (%d,%d,%d) containing a total of %d time points.\n",
                nruns, first->nx, first->ny, first->nz, *total_time_points);

    resels = GLM_input.multiple_comparisons > 0 ? GLM_input.multiple_comparisons : 0;
    if (GLM_input.multiple_comparisons == 0)
        std::printf("Calculating raw pvalues without correction for multiple comparisons.\n");
    else
        std::printf("Using %d resolution elements for multiple comparisons.\n", resels);

    for (RunEntry *run = &file_list_root; run; run = run->next)
        if (open_run_data(run)) return 1;

    // Only the two known normalisations change the multipliers; any other
    // value of the field leaves the data as stored.
    if (nruns >= 2 && (GLM_input.normalize == 1 || GLM_input.normalize == 2))
        if (find_multipliers(nruns)) return 1;
    return 0;
}

int read_volume(RunEntry *run, int t, float *out) {
    const int64_t V = volume_voxels(run);
    const off_t position = run->data_offset + static_cast<int64_t>(t) * V * sample_size(run->storage_type);
    if (fseeko(run->stream, position, SEEK_SET) != 0 || !read_samples(run, V, out, 1.0f)) {
        report_short_read(run);
        return 1;
    }
    return 0;
}

int read_block_vector(float *out, int first_voxel, int *count) {
    const int64_t V = volume_voxels(&file_list_root);
    if (first_voxel < 0 || first_voxel >= V) {
        std::printf("Programming error: a data block starts at voxel %d of a volume of %lld voxels.\n", first_voxel,
                    static_cast<long long>(V));
        std::exit(1);
    }
    const int64_t n = first_voxel + static_cast<int64_t>(BLOCK_SIZE) > V ? V - first_voxel : BLOCK_SIZE;
    *count = static_cast<int>(n);

    int64_t p = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next) {
        const int size = sample_size(run->storage_type);
        const off_t start = run->data_offset + first_voxel * static_cast<int64_t>(size);
        bool ok = fseeko(run->stream, start, SEEK_SET) == 0;
        if (ok && n == V) {
            // The block covers whole volumes, which follow each other in the file.
            ok = read_samples(run, n * run->nt, out + p, run->multiplier);
        } else {
            const off_t skip = (V - n) * size;
            for (int t = 0; ok && t < run->nt; ++t) {
                ok = read_samples(run, n, out + p + t * n, run->multiplier);
                if (ok && t + 1 < run->nt) ok = fseeko(run->stream, skip, SEEK_CUR) == 0;
            }
        }
        if (!ok) {
            report_short_read(run);
            return 1;
        }
        p += n * run->nt;
    }
    return 0;
}

int open_image_file(RunEntry *image, const VolumeHeader &header) {
    if (take_header(image, header)) return 1;
    image->multiplier = 1.0f;
    return open_run_data(image);
}
