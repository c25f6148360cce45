// Writes a synthetic fMRI data set with a known answer: R runs of 4-D float
// NIfTI-1 images, one event file per run, a GLM control file and a text file
// that names the active regions.
//
// Two events alternate in blocks (20 s on, 20 s off); each event's square wave
// is convolved with the BOLD-monkey (or BOLD-human) impulse response and
// normalised to peak 1.
// Event 1 drives one box of voxels, event 2 another, with an amplitude given in
// percent of the baseline. Every voxel also carries a slow drift and AR(1) or
// AR(2) noise, Gaussian or Student-t, optionally with a share of its points
// replaced by 10-sigma outliers. Excluded segments are listed in the event
// files and their points carry an artifact of 20 noise s.d., as scans left
// out for motion would. With --background the voxels outside the ellipsoid
// inscribed in the volume (the "brain") are scaled down, as in a scan with a
// dark background. The same options and seed always give the same files.
//
// With --bids N the same data are written for N participants (participant p
// with seed + p - 1, so participant 1's runs equal those of the plain layout)
// as a BIDS data set: gzip-compressed runs, events tables with the trial types
// finger (event 1) and foot (event 2), RepetitionTime in a task sidecar at the
// top level, and fMRIPrep-style confounds tables under derivatives/fmriprep.
#include <nifti1_io.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
    std::string dir = "demo";
    std::string control = "control.txt";
    int nx = 32, ny = 32, nz = 8;
    int runs = 2;
    int volumes = 100;
    double tr = 2.0;
    double ar = 0.3;
    double ar2 = 0.0;
    bool student = false;  // Student-t innovations with 3 degrees of freedom
    double outliers = 0.0;  // share of points replaced by +-10 noise s.d.
    double noise = 10.0;
    double baseline = 1000.0;
    double amplitude = 3.0;  // percent of the baseline
    double drift = 2.0;      // percent of the baseline over a run
    double voxel_size = 3.0;
    double background = 1.0;  // scale of the voxels outside the brain
    bool human = false;       // responses of the BOLD-human model instead of BOLD-monkey
    std::uint64_t seed = 1;
    std::string conditions = "1 2 1-2 1,2";
    std::vector<std::string> extra;
    std::vector<std::pair<int, int>> excluded;  // time points of each run, inclusive
    int bids = 0;  // participants of a BIDS layout; 0 for the plain layout
    std::string task = "motor";
};

// Inclusive voxel ranges of an active region.
struct Box {
    int x0, x1, y0, y1, z0, z1;
    bool contains(int x, int y, int z) const {
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && z >= z0 && z <= z1;
    }
};

struct Block {
    int event;
    double on, off;
};

constexpr double BLOCK_START = 20.0;   // seconds of rest before the first block
constexpr double BLOCK_LENGTH = 20.0;  // seconds on; the same length of rest follows
constexpr double IRF_RESOLUTION = 0.1;
constexpr int IRF_POINTS = 1200;
constexpr double OUTLIER_SIZE = 10.0;   // noise s.d.
constexpr double ARTIFACT_SIZE = 20.0;  // noise s.d., on excluded points

void usage() {
    std::printf(
        "Usage: fmriglm_make_dataset [options]\n"
        "  --dir D            output directory (default demo)\n"
        "  --control NAME     control file name (default control.txt)\n"
        "  --nx N --ny N --nz N  volume size (default 32 32 8)\n"
        "  --runs R           number of runs, 1-50 (default 2)\n"
        "  --volumes T        volumes per run (default 100)\n"
        "  --tr S             repetition time in seconds (default 2)\n"
        "  --ar A             AR(1) coefficient of the noise, |A| < 1 (default 0.3)\n"
        "  --ar2 B            second AR coefficient: x[t] = A x[t-1] + B x[t-2] + e[t],\n"
        "                     stationary (|B| < 1, A + B < 1, B - A < 1; default 0)\n"
        "  --distribution D   noise distribution: gaussian (default) or t3 (Student t,\n"
        "                     3 degrees of freedom, scaled to the same s.d.)\n"
        "  --outliers F       share of points replaced by +-10 noise s.d. (default 0)\n"
        "  --exclude A-B      exclude time points A to B of every run (repeatable); they\n"
        "                     carry an artifact of +20 noise s.d.\n"
        "  --noise S          standard deviation of the noise (default 10)\n"
        "  --baseline B       baseline intensity (default 1000)\n"
        "  --amplitude P      response amplitude in percent of the baseline (default 3)\n"
        "  --drift P          slow drift in percent of the baseline over a run (default 2)\n"
        "  --voxel-size MM    voxel edge length (default 3)\n"
        "  --background F     scale the voxels outside the inscribed ellipsoid by F\n"
        "                     (default 1: no background; 0: a zero background)\n"
        "  --response R       impulse response of the generated activity and of the\n"
        "                     control file: monkey (BOLD-monkey, default) or human (BOLD-human)\n"
        "  --seed N           seed of the noise (default 1)\n"
        "  --conditions TEXT  conditions line of the control file (default \"1 2 1-2 1,2\")\n"
        "  --control-extra L  extra keyword line for the control file (repeatable)\n"
        "  --bids N           write N participants (1-99) in BIDS layout instead\n"
        "  --task NAME        task name of the BIDS layout (default motor)\n");
}

[[noreturn]] void fail(const std::string &message) {
    std::fprintf(stderr, "fmriglm_make_dataset: %s\n", message.c_str());
    std::exit(1);
}

long parse_integer(const std::string &option, const char *text) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) fail(option + " needs an integer, not '" + text + "'");
    return value;
}

double parse_number(const std::string &option, const char *text) {
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value)) fail(option + " needs a number, not '" + text + "'");
    return value;
}

Options parse_options(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            usage();
            std::exit(0);
        }
        if (i + 1 >= argc) fail("option " + option + " needs a value (see --help)");
        const char *value = argv[++i];
        if (option == "--dir") o.dir = value;
        else if (option == "--control") o.control = value;
        else if (option == "--nx") o.nx = static_cast<int>(parse_integer(option, value));
        else if (option == "--ny") o.ny = static_cast<int>(parse_integer(option, value));
        else if (option == "--nz") o.nz = static_cast<int>(parse_integer(option, value));
        else if (option == "--runs") o.runs = static_cast<int>(parse_integer(option, value));
        else if (option == "--volumes") o.volumes = static_cast<int>(parse_integer(option, value));
        else if (option == "--tr") o.tr = parse_number(option, value);
        else if (option == "--ar") o.ar = parse_number(option, value);
        else if (option == "--ar2") o.ar2 = parse_number(option, value);
        else if (option == "--distribution") {
            if (std::strcmp(value, "t3") != 0 && std::strcmp(value, "gaussian") != 0)
                fail("--distribution must be gaussian or t3");
            o.student = std::strcmp(value, "t3") == 0;
        } else if (option == "--outliers") o.outliers = parse_number(option, value);
        else if (option == "--exclude") {
            int first = 0, last = 0, used = 0;
            if (std::sscanf(value, "%d-%d%n", &first, &last, &used) != 2 || value[used] != '\0')
                fail("--exclude needs time points A-B, not '" + std::string(value) + "'");
            o.excluded.emplace_back(first, last);
        }
        else if (option == "--noise") o.noise = parse_number(option, value);
        else if (option == "--baseline") o.baseline = parse_number(option, value);
        else if (option == "--amplitude") o.amplitude = parse_number(option, value);
        else if (option == "--drift") o.drift = parse_number(option, value);
        else if (option == "--voxel-size") o.voxel_size = parse_number(option, value);
        else if (option == "--background") o.background = parse_number(option, value);
        else if (option == "--response") {
            if (std::strcmp(value, "human") != 0 && std::strcmp(value, "monkey") != 0)
                fail("--response must be human or monkey");
            o.human = std::strcmp(value, "human") == 0;
        }
        else if (option == "--seed") o.seed = static_cast<std::uint64_t>(parse_integer(option, value));
        else if (option == "--conditions") o.conditions = value;
        else if (option == "--control-extra") o.extra.emplace_back(value);
        else if (option == "--bids") o.bids = static_cast<int>(parse_integer(option, value));
        else if (option == "--task") o.task = value;
        else fail("unknown option " + option + " (see --help)");
    }
    if (o.nx < 2 || o.ny < 1 || o.nz < 1 || o.nx > 4096 || o.ny > 4096 || o.nz > 4096)
        fail("sizes must be 2-4096 voxels along x and 1-4096 along y and z");
    if (o.runs < 1 || o.runs > 50) fail("--runs must be 1-50");
    if (o.volumes < 2 || o.volumes > 32767) fail("--volumes must be 2-32767");
    if (static_cast<double>(o.nx) * o.ny * o.nz * o.volumes * 4.0 > 2.0e9)
        fail("a run of more than 2 GB is not useful as a test data set");
    if (!(o.tr > 0.0)) fail("--tr must be positive");
    if (!(std::fabs(o.ar2) < 1.0 && o.ar + o.ar2 < 1.0 && o.ar2 - o.ar < 1.0))
        fail("--ar and --ar2 must give a stationary process (|B| < 1, A + B < 1, B - A < 1)");
    if (!(o.outliers >= 0.0 && o.outliers <= 1.0)) fail("--outliers must lie between 0 and 1");
    for (const auto &[first, last] : o.excluded)
        if (first < 0 || first > last || last >= o.volumes) fail("excluded time points must satisfy 0 <= A <= B < T");
    if (o.noise < 0.0) fail("--noise must not be negative");
    if (!(o.voxel_size > 0.0)) fail("--voxel-size must be positive");
    // Event 2's first block begins one block and one rest after event 1's.
    if (o.volumes * o.tr <= BLOCK_START + 2.0 * BLOCK_LENGTH)
        fail("runs must last more than 60 s so that both events occur");
    for (const std::string &line : o.extra)
        if (line.find('\n') != std::string::npos) fail("--control-extra takes one line at a time");
    if (o.conditions.find('\n') != std::string::npos) fail("--conditions must be one line");
    if (o.bids < 0 || o.bids > 99) fail("--bids must be 0-99");
    if (o.bids > 0 && !o.excluded.empty()) fail("--exclude has no form in the BIDS layout");
    for (char c : o.task)
        if (!std::isalnum(static_cast<unsigned char>(c))) fail("--task must be letters and digits");
    return o;
}

// Blocks of one run, alternating between event 1 and event 2, each cut at the end of the run.
std::vector<Block> make_blocks(double duration) {
    std::vector<Block> blocks;
    for (int k = 0;; ++k) {
        const double on = BLOCK_START + 2.0 * BLOCK_LENGTH * k;
        if (on >= duration) break;
        blocks.push_back({k % 2 == 0 ? 1 : 2, on, std::min(on + BLOCK_LENGTH, duration)});
    }
    return blocks;
}

// The BOLD-monkey impulse response: three exponentials sampled every 0.1 s.
std::vector<double> bold_monkey_irf() {
    const double tau[3] = {1.5, 4.5, 13.5};
    double amplitude[3] = {0.0, 0.7, -0.3};
    amplitude[0] = -tau[0] * (amplitude[1] / tau[1] + amplitude[2] / tau[2]);
    std::vector<double> irf(IRF_POINTS);
    for (int i = 0; i < IRF_POINTS; ++i) {
        const double t = i * IRF_RESOLUTION;
        double sum = 0.0;
        for (int k = 0; k < 3; ++k) sum += IRF_RESOLUTION * amplitude[k] / tau[k] * std::exp(-t / tau[k]);
        irf[i] = sum;
    }
    return irf;
}

// The BOLD-human impulse response: the double-gamma density g(t; 6) - g(t; 16) / 6
// (shapes 6 and 16, scale 1 s) times the sampling step, every 0.1 s over 32 s.
std::vector<double> bold_human_irf() {
    std::vector<double> irf(320);
    auto density = [](double t, double k) {
        return t > 0.0 ? std::exp((k - 1.0) * std::log(t) - t - std::lgamma(k)) : 0.0;
    };
    for (std::size_t i = 0; i < irf.size(); ++i) {
        const double t = static_cast<double>(i) * IRF_RESOLUTION;
        irf[i] = IRF_RESOLUTION * (density(t, 6.0) - density(t, 16.0) / 6.0);
    }
    return irf;
}

// Expected response of one event at every volume of a run, peak 1.
std::vector<double> make_regressor(const Options &o, const std::vector<Block> &blocks, int event,
                                   const std::vector<double> &irf) {
    const double duration = o.volumes * o.tr;
    const int fine = static_cast<int>(std::ceil(duration / IRF_RESOLUTION)) + 1;
    std::vector<double> paradigm(fine, 0.0);
    for (const Block &b : blocks) {
        if (b.event != event) continue;
        for (int i = 0; i < fine; ++i) {
            const double t = i * IRF_RESOLUTION;
            if (t >= b.on && t < b.off) paradigm[i] = 1.0;
        }
    }
    std::vector<double> response(fine, 0.0);
    for (int i = 0; i < fine; ++i) {
        double sum = 0.0;
        for (int k = 0; k <= i && k < static_cast<int>(irf.size()); ++k) sum += irf[k] * paradigm[i - k];
        response[i] = sum;
    }
    std::vector<double> regressor(o.volumes);
    double peak = 0.0;
    for (int t = 0; t < o.volumes; ++t) {
        const int i = std::min(fine - 1, static_cast<int>(std::lround(t * o.tr / IRF_RESOLUTION)));
        regressor[t] = response[i];
        peak = std::max(peak, std::fabs(regressor[t]));
    }
    if (peak > 0.0)
        for (double &value : regressor) value /= peak;
    return regressor;
}

// Normal deviates from a 64-bit Mersenne twister by the Box-Muller transform,
// so that the values depend on the seed alone, not on the standard library.
class Gaussian {
public:
    explicit Gaussian(std::uint64_t seed) : engine_(seed) {}
    double next() {
        if (have_spare_) {
            have_spare_ = false;
            return spare_;
        }
        const double u1 = 1.0 - uniform();  // (0, 1]
        const double u2 = uniform();
        const double radius = std::sqrt(-2.0 * std::log(u1));
        const double angle = 2.0 * std::numbers::pi * u2;
        spare_ = radius * std::sin(angle);
        have_spare_ = true;
        return radius * std::cos(angle);
    }

    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

private:
    std::mt19937_64 engine_;
    double spare_ = 0.0;
    bool have_spare_ = false;
};

// Inside the ellipsoid inscribed in the volume: semi-axes of half the size
// along each axis, around the volume's centre.
bool in_brain(const Options &o, int x, int y, int z) {
    const auto term = [](int i, int n) { return (i - 0.5 * (n - 1)) / (0.5 * n); };
    return term(x, o.nx) * term(x, o.nx) + term(y, o.ny) * term(y, o.ny) + term(z, o.nz) * term(z, o.nz) <= 1.0;
}

std::FILE *create(const std::filesystem::path &path) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) fail("cannot create " + path.string());
    return f;
}

void finish(std::FILE *f, const std::filesystem::path &path) {
    if (std::ferror(f) || std::fclose(f) != 0) fail("error writing " + path.string());
}

// A single-file NIfTI-1 header for float samples, centred on the origin, with
// a quaternion transform (qform_code 1) and the TR as the fourth voxel size.
nifti_1_header make_header(const Options &o) {
    nifti_1_header h;
    std::memset(&h, 0, sizeof h);
    h.sizeof_hdr = 348;
    h.dim[0] = 4;
    h.dim[1] = static_cast<short>(o.nx);
    h.dim[2] = static_cast<short>(o.ny);
    h.dim[3] = static_cast<short>(o.nz);
    h.dim[4] = static_cast<short>(o.volumes);
    h.dim[5] = h.dim[6] = h.dim[7] = 1;
    h.datatype = NIFTI_TYPE_FLOAT32;
    h.bitpix = 32;
    h.vox_offset = 352.0f;
    h.xyzt_units = NIFTI_UNITS_MM | NIFTI_UNITS_SEC;
    h.qform_code = NIFTI_XFORM_SCANNER_ANAT;
    h.sform_code = 0;

    const float size = static_cast<float>(o.voxel_size);
    const int n[3] = {o.nx, o.ny, o.nz};
    mat44 m;
    std::memset(&m, 0, sizeof m);
    for (int i = 0; i < 3; ++i) {
        m.m[i][i] = size;
        m.m[i][3] = -0.5f * static_cast<float>(n[i] - 1) * size;
    }
    m.m[3][3] = 1.0f;
    float qb, qc, qd, qx, qy, qz, dx, dy, dz, qfac;
    nifti_mat44_to_quatern(m, &qb, &qc, &qd, &qx, &qy, &qz, &dx, &dy, &dz, &qfac);
    h.quatern_b = qb;
    h.quatern_c = qc;
    h.quatern_d = qd;
    h.qoffset_x = qx;
    h.qoffset_y = qy;
    h.qoffset_z = qz;
    h.pixdim[0] = qfac;
    h.pixdim[1] = dx;
    h.pixdim[2] = dy;
    h.pixdim[3] = dz;
    h.pixdim[4] = static_cast<float>(o.tr);
    std::snprintf(h.descrip, sizeof h.descrip, "synthetic fMRI data set");
    std::memcpy(h.magic, "n+1", 4);
    return h;
}

void write_event_file(const std::filesystem::path &path, const Options &o, const std::vector<Block> &blocks) {
    std::FILE *f = create(path);
    std::fprintf(f, "%g\n", o.tr);
    for (int event = 1; event <= 2; ++event) {
        std::fprintf(f, "\n%d square\n", event);
        for (const Block &b : blocks)
            if (b.event == event) std::fprintf(f, "%g %g\n", b.on, b.off);
    }
    if (!o.excluded.empty()) std::fprintf(f, "\n-\n");
    for (const auto &[first, last] : o.excluded) std::fprintf(f, "%d %d\n", first, last);
    finish(f, path);
}

void write_control_file(const std::filesystem::path &path, const Options &o) {
    std::FILE *f = create(path);
    std::fprintf(f, "# Synthetic data set: %d runs of %d x %d x %d voxels, %d volumes each, TR %g s\n", o.runs,
                 o.nx, o.ny, o.nz, o.volumes, o.tr);
    std::fprintf(f, o.human ? "IRF BOLD-human\n" : "IRF BOLD-monkey\n");
    for (const std::string &line : o.extra) std::fprintf(f, "%s\n", line.c_str());
    std::fprintf(f, "conditions %s\n", o.conditions.c_str());
    std::fprintf(f, "runs:\n");
    for (int r = 1; r <= o.runs; ++r) std::fprintf(f, "run%d.nii run%d.glm\n", r, r);
    finish(f, path);
}

void write_regions(const std::filesystem::path &path, const Options &o, const Box boxes[2]) {
    std::FILE *f = create(path);
    std::fprintf(f, "# Active regions: event x0 x1 y0 y1 z0 z1 (inclusive voxel indices)\n");
    std::fprintf(f, "# amplitude %g percent of baseline %g, noise s.d. %g, AR(1) %g\n", o.amplitude, o.baseline,
                 o.noise, o.ar);
    for (int e = 0; e < 2; ++e)
        std::fprintf(f, "%d %d %d %d %d %d %d\n", e + 1, boxes[e].x0, boxes[e].x1, boxes[e].y0, boxes[e].y1,
                     boxes[e].z0, boxes[e].z1);
    finish(f, path);
}

// A run image, written plain or gzip-compressed (a name ending in .gz).
class ImageWriter {
public:
    explicit ImageWriter(const std::filesystem::path &path) : path_(path) {
        if (path.extension() != ".gz") file_ = create(path);
        else if (!(gz_ = gzopen(path.c_str(), "wb"))) fail("cannot create " + path.string());
    }
    void write(const void *data, std::size_t bytes) {
        if (gz_) ok_ = ok_ && gzwrite(gz_, data, static_cast<unsigned>(bytes)) == static_cast<int>(bytes);
        else ok_ = ok_ && std::fwrite(data, 1, bytes, file_) == bytes;
    }
    void close() {
        if (!gz_) return finish(file_, path_);
        if (gzclose(gz_) != Z_OK || !ok_) fail("error writing " + path_.string());
    }

private:
    std::filesystem::path path_;
    std::FILE *file_ = nullptr;
    gzFile gz_ = nullptr;
    bool ok_ = true;
};

void write_text(const std::filesystem::path &path, const std::string &text) {
    std::filesystem::create_directories(path.parent_path());
    std::FILE *f = create(path);
    std::fputs(text.c_str(), f);
    finish(f, path);
}

std::string format(const char *pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string bids_events(const std::vector<Block> &blocks) {
    std::string text = "onset\tduration\ttrial_type\n";
    for (const Block &b : blocks)
        text += format("%g", b.on) + "\t" + format("%g", b.off - b.on) + (b.event == 1 ? "\tfinger\n" : "\tfoot\n");
    return text;
}

// An fMRIPrep-style confounds table: the mean signal of each volume, tissue
// signals, head motion as a random walk, its backward differences and the
// framewise displacement; the derivative columns start with n/a.
std::string bids_confounds(const Options &o, std::uint64_t seed, const std::vector<double> &means) {
    static const char *const MOTION[6] = {"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z"};
    std::string text = "global_signal\tcsf\twhite_matter", derivatives;
    for (const char *name : MOTION) {
        text += std::string("\t") + name;
        derivatives += std::string("\t") + name + "_derivative1";
    }
    text += derivatives + "\tframewise_displacement\n";
    Gaussian gaussian(seed);
    double motion[6] = {0, 0, 0, 0, 0, 0}, step[6];
    for (int t = 0; t < o.volumes; ++t) {
        std::string row = format("%.6f", means[t]) + format("\t%.6f", 0.9 * o.baseline + o.noise * gaussian.next()) +
                          format("\t%.6f", 0.8 * o.baseline + o.noise * gaussian.next());
        double displacement = 0.0;
        for (int k = 0; k < 6; ++k) {
            step[k] = (k < 3 ? 0.02 : 0.0005) * gaussian.next();
            motion[k] += step[k];
            row += format("\t%.6g", motion[k]);
            displacement += (k < 3 ? 1.0 : 50.0) * std::fabs(step[k]);
        }
        for (int k = 0; k < 6; ++k) row += t == 0 ? "\tn/a" : format("\t%.6g", step[k]);
        text += row + (t == 0 ? "\tn/a\n" : format("\t%.6g\n", displacement));
    }
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = parse_options(argc, argv);
    const std::filesystem::path dir = o.dir;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) fail("cannot create the directory " + o.dir + ": " + error.message());

    // Event 1 in a box on the low-x side, event 2 in its mirror image.
    const int w = std::max(1, o.nx / 4);
    const int ex = o.nx / 8;
    const int y0 = o.ny / 4, z0 = o.nz / 4;
    const int y1 = y0 + std::max(1, o.ny / 2) - 1, z1 = z0 + std::max(1, o.nz / 2) - 1;
    const Box boxes[2] = {{ex, ex + w - 1, y0, y1, z0, z1}, {o.nx - ex - w, o.nx - 1 - ex, y0, y1, z0, z1}};

    const double duration = o.volumes * o.tr;
    const std::vector<Block> blocks = make_blocks(duration);
    const std::vector<double> irf = o.human ? bold_human_irf() : bold_monkey_irf();
    const std::vector<double> regressor[2] = {make_regressor(o, blocks, 1, irf), make_regressor(o, blocks, 2, irf)};

    const nifti_1_header header = make_header(o);
    const std::int64_t V = static_cast<std::int64_t>(o.nx) * o.ny * o.nz;
    const double scale = o.baseline * o.amplitude / 100.0;
    // A stationary start: x[0] has the process variance, x[1] its lag-1
    // correlation a / (1 - b) with x[0]; then innovations of the s.d. that keeps
    // the variance at noise^2.
    const double a = o.ar, b = o.ar2;
    const double rho1 = a / (1.0 - b);
    const double second = o.noise * std::sqrt(1.0 - rho1 * rho1);
    const double innovation = o.noise * std::sqrt((1.0 + b) * ((1.0 - b) * (1.0 - b) - a * a) / (1.0 - b));
    std::vector<bool> excluded(o.volumes, false);
    for (const auto &[first, last] : o.excluded)
        for (int t = first; t <= last; ++t) excluded[t] = true;
    std::vector<float> volume(V);
    std::vector<double> noise(V), previous(V);
    Gaussian gaussian(o.seed);
    // A unit-variance draw of the chosen distribution (t3 / sqrt(3) = z / sqrt(chi2 with 3 DOF)).
    auto draw = [&] {
        const double z = gaussian.next();
        if (!o.student) return z;
        double chi2 = 0.0;
        for (int k = 0; k < 3; ++k) {
            const double g = gaussian.next();
            chi2 += g * g;
        }
        return z / std::sqrt(chi2);
    };

    // The runs of one data set; after each run, done(r, the mean of each volume).
    const auto write_runs = [&](const auto &image_name, const auto &done) {
        for (int r = 1; r <= o.runs; ++r) {
            ImageWriter image(image_name(r));
            const char extender[4] = {0, 0, 0, 0};
            image.write(&header, sizeof header);
            image.write(extender, 4);
            std::vector<double> means(o.volumes);
            for (std::int64_t v = 0; v < V; ++v) noise[v] = o.noise * draw();
            for (int t = 0; t < o.volumes; ++t) {
                const double u = static_cast<double>(t) / (o.volumes - 1) - 0.5;
                const double drift = o.baseline * o.drift / 100.0 * (u + 0.5 * u * u);
                std::int64_t v = 0;
                for (int z = 0; z < o.nz; ++z)
                    for (int y = 0; y < o.ny; ++y)
                        for (int x = 0; x < o.nx; ++x, ++v) {
                            if (t > 0) {
                                const double next = t == 1 ? rho1 * noise[v] + second * draw()
                                                           : a * noise[v] + b * previous[v] + innovation * draw();
                                previous[v] = noise[v];
                                noise[v] = next;
                            }
                            double value = o.baseline + drift + noise[v];
                            if (o.outliers > 0.0 && gaussian.uniform() < o.outliers)
                                value += (gaussian.uniform() < 0.5 ? OUTLIER_SIZE : -OUTLIER_SIZE) * o.noise - noise[v];
                            if (excluded[t]) value += ARTIFACT_SIZE * o.noise;
                            for (int e = 0; e < 2; ++e)
                                if (boxes[e].contains(x, y, z)) value += scale * regressor[e][t];
                            if (!in_brain(o, x, y, z)) value *= o.background;
                            volume[v] = static_cast<float>(value);
                            means[t] += value / static_cast<double>(V);
                        }
                image.write(volume.data(), sizeof(float) * volume.size());
            }
            image.close();
            done(r, means);
        }
    };

    if (o.bids == 0) {
        write_runs([&](int r) { return dir / ("run" + std::to_string(r) + ".nii"); },
                   [&](int r, const std::vector<double> &) {
                       write_event_file(dir / ("run" + std::to_string(r) + ".glm"), o, blocks);
                   });
        write_control_file(dir / o.control, o);
        write_regions(dir / "regions.txt", o, boxes);
        std::printf("Wrote %d runs of %d x %d x %d voxels and %d volumes (TR %g s) into %s\n", o.runs, o.nx, o.ny,
                    o.nz, o.volumes, o.tr, o.dir.c_str());
        return 0;
    }

    const std::string description = "{\n  \"Name\": \"Synthetic fMRI data set\",\n  \"BIDSVersion\": \"1.8.0\"";
    write_text(dir / "dataset_description.json", description + "\n}\n");
    write_text(dir / ("task-" + o.task + "_bold.json"),
               "{\n  \"TaskName\": \"" + o.task + "\",\n  \"RepetitionTime\": " + format("%g", o.tr) + "\n}\n");
    const std::filesystem::path prep = dir / "derivatives" / "fmriprep";
    write_text(prep / "dataset_description.json", description +
                                                      ",\n  \"DatasetType\": \"derivative\",\n"
                                                      "  \"GeneratedBy\": [{\"Name\": \"fmriglm_make_dataset\"}]\n}\n");
    std::string participants = "participant_id\n";
    for (int p = 1; p <= o.bids; ++p) {
        char label[16];
        std::snprintf(label, sizeof label, "sub-%02d", p);
        participants += std::string(label) + "\n";
        std::filesystem::create_directories(dir / label / "func");
        const auto stem = [&](int r) { return std::string(label) + "_task-" + o.task + "_run-" + std::to_string(r); };
        gaussian = Gaussian(o.seed + p - 1);
        write_runs([&](int r) { return dir / label / "func" / (stem(r) + "_bold.nii.gz"); },
                   [&](int r, const std::vector<double> &means) {
                       write_text(dir / label / "func" / (stem(r) + "_events.tsv"), bids_events(blocks));
                       write_text(prep / label / "func" / (stem(r) + "_desc-confounds_timeseries.tsv"),
                                  bids_confounds(o, (o.seed + p - 1) * 1000 + r, means));
                   });
    }
    write_text(dir / "participants.tsv", participants);
    write_regions(dir / "regions.txt", o, boxes);
    std::printf("Wrote %d participants of %d runs of %d x %d x %d voxels and %d volumes (TR %g s), task %s, into %s\n",
                o.bids, o.runs, o.nx, o.ny, o.nz, o.volumes, o.tr, o.task.c_str(), o.dir.c_str());
    return 0;
}
