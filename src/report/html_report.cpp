#include "report/html_report.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "glm/reports.h"
#include "glm/state.h"
#include "numerics/temp_files.h"
#include "numerics/warnings.h"
#include "report/design_summary.h"
#include "report/peaks.h"
#include "report/slice_montage.h"

namespace {

constexpr double REPORT_P = 0.001;
constexpr double CORRELATION_LIMIT = 0.8, INFLATION_LIMIT = 10.0;
constexpr int REPORT_PEAKS = 10;

const char *const STYLE =
    "body{font-family:sans-serif;margin:1.5em;max-width:80em;color:#222}\n"
    "table{border-collapse:collapse;margin:.5em 0}\n"
    "td,th{border:1px solid #bbb;padding:2px 6px;text-align:right}\n"
    "th{background:#eee}\n"
    ".l{text-align:left}\n"
    ".high{background:#f4b0b0}\n"
    ".warn{color:#a00000}\n"
    "img{image-rendering:pixelated;border:1px solid #888}\n";

// Text with the characters that HTML gives a meaning escaped.
void put(std::FILE *f, const std::string &text) {
    for (char c : text) switch (c) {
            case '&': std::fputs("&amp;", f); break;
            case '<': std::fputs("&lt;", f); break;
            case '>': std::fputs("&gt;", f); break;
            case '"': std::fputs("&quot;", f); break;
            default: std::fputc(c, f);
        }
}

// A file name as a relative link: bytes other than letters, digits and -._~
// are percent-encoded.
std::string link(const std::string &name) {
    std::string out;
    for (unsigned char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~';
        char code[4];
        std::snprintf(code, sizeof code, "%%%02X", c);
        out += plain ? std::string(1, static_cast<char>(c)) : std::string(code);
    }
    return out;
}

std::string format(const char *fmt, double a, double b = 0.0, double c = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

void row(std::FILE *f, const char *name, const std::string &value) {
    std::fprintf(f, "<tr><th class=\"l\">%s</th><td class=\"l\">", name);
    put(f, value);
    std::fputs("</td></tr>\n", f);
}

void picture(std::FILE *f, const std::string &name, const RgbImage &image, const char *alt) {
    std::fprintf(f, "<p><img src=\"%s\" width=\"%d\" height=\"%d\" alt=\"%s\"></p>\n", link(name).c_str(),
                 image.width(), image.height(), alt);
}

std::string noise_text() {
    std::string text = GLM_input.noise_model == NOISE_IWLS   ? "iteratively reweighted least squares (iWLS)"
                       : GLM_input.noise_model == NOISE_FPET ? "fPET weighting"
                                                             : "ordinary least squares";
    if (GLM_input.noise_model != NOISE_OLS && GLM_input.noise_model_parameter != 0.0f)
        text += format(", parameter %g", GLM_input.noise_model_parameter);
    if (GLM_input.AR_order > 0)
        text += format("; AR(%g) prewhitening, smoothing %g", GLM_input.AR_order, GLM_input.AR_smoothing);
    return text;
}

std::string excluded_text() {
    const int excluded = GLM.ntime - GLM.ninclude;
    std::string text = std::to_string(GLM.ntime) + " in total, " + std::to_string(excluded) + " excluded";
    for (int j = 0; j < GLM.nexcluded && j < MAX_EXCLUDED; ++j)
        text += (j ? ", " : " (time points ") + std::to_string(GLM.excluded_start[j]) + "-" +
                std::to_string(GLM.excluded_stop[j]) + (j + 1 == GLM.nexcluded ? ")" : "");
    return text;
}

void write_model(std::FILE *f, const ReportInputs &in, int nconditions) {
    std::fputs("<h2>Model</h2>\n<table>\n", f);
    row(f, "Control file", in.control_file);
    std::fputs("<tr><th class=\"l\">Runs</th><td class=\"l\"><table>\n<tr><th>run</th><th class=\"l\">image</th>"
               "<th class=\"l\">events</th><th class=\"l\">table</th><th>time points</th><th>TR (s)</th></tr>\n", f);
    for (int r = 0; r < GLM_input.nruns && r < MAX_RUNS; ++r) {
        std::fprintf(f, "<tr><td>%d</td>", r + 1);
        for (const char *name : {GLM_input.fmri_file[r], GLM_input.event_file[r], GLM_input.table_file[r]}) {
            std::fputs("<td class=\"l\">", f);
            put(f, name);
            std::fputs("</td>", f);
        }
        std::fprintf(f, "<td>%d</td><td>%g</td></tr>\n", GLM.run_stop[r] - GLM.run_start[r] + 1,
                     static_cast<double>(GLM.tr[r]));
    }
    std::fputs("</table></td></tr>\n", f);
    row(f, "IRF", GLM_input.irf_file[0] ? GLM_input.irf_file : "none (events enter the design unconvolved)");
    row(f, "Baseline terms", std::to_string(GLM_input.nbaseline_terms) + " per run");
    row(f, "Noise model", noise_text());
    if (GLM_input.preGLM_frequency_band[0] != 0.0f || GLM_input.preGLM_frequency_band[1] != 0.0f)
        row(f, "Frequency filter", format("%g to %g Hz", GLM_input.preGLM_frequency_band[0],
                                          GLM_input.preGLM_frequency_band[1]));
    row(f, "Time points", excluded_text());
    row(f, "Design columns", std::to_string(GLM.nbasis) + " (" + std::to_string(GLM.nevents) + " events)");
    row(f, "Degrees of freedom", std::to_string(GLM_get_DOF()));
    if (GLM_input.mask_file[0]) {
        long long kept = 0;
        const long long V = static_cast<long long>(in.nx) * in.ny * in.nz;
        for (long long v = 0; v < V; ++v) kept += !in.mask || in.mask[v];
        row(f, "Mask", std::string(GLM_input.mask_file) + ": " + std::to_string(kept) + " of " + std::to_string(V) +
                           " voxels analysed");
    }
    if (GLM_input.multiple_comparisons)
        row(f, "P maps", "corrected for " + std::to_string(GLM_input.multiple_comparisons) +
                             " resolution elements (the thresholds below are not)");
    std::fputs("<tr><th class=\"l\">Conditions</th><td class=\"l\">", f);
    for (int c = 0; c < nconditions; ++c) {
        std::fprintf(f, "%s<a href=\"#condition-%d\">", c ? ", " : "", c + 1);
        put(f, GLM.condition_string[c]);
        std::fputs("</a>", f);
    }
    std::fputs(nconditions ? "</td></tr>\n" : "none</td></tr>\n", f);
    row(f, "Run time", format("%.2f s", in.seconds));
    std::fputs("</table>\n", f);
}

bool write_design(std::FILE *f) {
    const RgbImage image = design_picture();
    if (!write_png("report-design.png", image)) {
        std::printf("Error: cannot write the picture report-design.png.\n");
        return false;
    }
    picture(f, "report-design.png", image, "design matrix");
    std::fprintf(f, "<p>The design matrix: one column per regressor (labels as in basis.dat), time points downward "
                    "with the first time point of each run numbered at the left; each column from black (its "
                    "lowest value or 0) to white (its highest value or 0)%s.</p>\n",
                 GLM.ntime > GLM.ninclude ? "; excluded time points are red" : "");
    const DesignSummary s = summarize_design();
    const int E = s.nevents;
    if (E == 0) return true;
    char label[32], other[32];
    std::fputs("<h3>Event columns: correlations and variance inflation</h3>\n<table>\n<tr><th></th>", f);
    for (int b = 0; b < E; ++b) std::fprintf(f, "<th>%s</th>", GLM_basis_label(b, label));
    std::fputs("</tr>\n", f);
    std::vector<std::string> warnings;
    for (int a = 0; a < E; ++a) {
        std::fprintf(f, "<tr><th class=\"l\">%s</th>", GLM_basis_label(a, label));
        for (int b = 0; b < E; ++b) {
            const double r = s.correlation[a][b];
            const bool high = a != b && std::fabs(r) > CORRELATION_LIMIT;
            std::fprintf(f, "<td%s>%s</td>", high ? " class=\"high\"" : "",
                         std::isnan(r) ? "-" : format("%.2f", r).c_str());
            if (high && b > a)
                warnings.push_back(std::string("Warning: ") + label + " and " + GLM_basis_label(b, other) +
                                   format(" are correlated (r = %.3f).", r));
        }
        std::fputs("</tr>\n", f);
    }
    std::fputs("<tr><th class=\"l\">VIF</th>", f);
    for (int b = 0; b < E; ++b) {
        const double vif = s.inflation[b];
        std::fprintf(f, "<td%s>%s</td>", vif > INFLATION_LIMIT ? " class=\"high\"" : "",
                     std::isnan(vif) ? "-" : format("%.2f", vif).c_str());
        if (vif > INFLATION_LIMIT)
            warnings.push_back(std::string("Warning: ") + GLM_basis_label(b, label) +
                               format(" has a variance inflation factor of %.1f (above 10).", vif));
    }
    std::fputs("</tr>\n</table>\n", f);
    std::fprintf(f, "<p>Correlations over the time points used; VIF: 1 / (1 - R<sup>2</sup>) of the column's "
                    "regression on all other columns of the design.</p>\n");
    for (const std::string &w : warnings) {
        std::fputs("<p class=\"warn\">", f);
        put(f, w);
        std::fputs("</p>\n", f);
    }
    if (warnings.empty())
        std::fputs("<p>No two event columns are correlated beyond |r| = 0.8, and no variance inflation factor "
                   "exceeds 10.</p>\n", f);
    return true;
}

bool write_condition(std::FILE *f, const ReportInputs &in, int c, const MontageLayout &layout,
                     const std::vector<std::uint8_t> &background) {
    const long long V = static_cast<long long>(in.nx) * in.ny * in.nz;
    const float *map = in.maps[c];
    const int rows = GLM.condition_nrows[c];
    const char *letter = in.z_maps ? "Z" : "T";
    const double threshold = map_threshold(REPORT_P, rows, GLM.DOF, in.z_maps);
    float top = 0.0f;
    for (long long v = 0; v < V; ++v)
        if (std::isfinite(map[v]) && std::fabs(map[v]) > top) top = std::fabs(map[v]);
    const float cut = std::isnan(threshold) ? INFINITY : static_cast<float>(threshold);

    const std::string condition = GLM.condition_string[c];
    const std::string name = std::string("report-") + letter + "-" + condition + ".png";
    const RgbImage image = slice_montage(layout, background, map, cut, top);
    if (!write_png(name.c_str(), image)) {
        std::printf("Error: cannot write the picture %s.\n", name.c_str());
        return false;
    }
    std::fprintf(f, "<h2 id=\"condition-%d\">Condition ", c + 1);
    put(f, condition);
    std::fputs("</h2>\n<p>", f);
    put(f, std::string(letter) + "-" + condition);
    if (in.z_maps)
        std::fputs(rows == 1 ? ": z of the two-sided p of the t test, signed like t"
                             : (": z of the upper tail of the F test of " + std::to_string(rows) + " rows").c_str(),
                   f);
    else
        std::fputs(rows == 1 ? ": t statistic"
                             : (": square root of F of the test of " + std::to_string(rows) +
                                " rows, signed like its largest contrast")
                                   .c_str(),
                   f);
    std::fprintf(f, ", %g degrees of freedom.", static_cast<double>(GLM.DOF));
    if (std::isnan(threshold)) {
        std::fputs(" Without degrees of freedom there is no threshold.</p>\n", f);
        picture(f, name, image, "slices");
        return true;
    }
    const MapPeaks found = find_peaks(map, in.nx, in.ny, in.nz, cut, REPORT_PEAKS);
    std::fprintf(f, " Threshold p &lt; 0.001 (uncorrected): |%s| &gt; %.3f; %lld voxels beyond it in %d clusters "
                    "(voxels joined through faces, edges or corners).</p>\n",
                 letter, threshold, found.voxels, found.clusters);
    picture(f, name, image, "slices");
    const int first = layout.slices.front(), last = layout.slices.back();
    std::fprintf(f, "<p>Axial slices z = %d to %d (%d of %d), voxel x to the right, y upward, over the baseline "
                    "map; red to yellow: %s from %.2f to %.2f, blue to cyan: from %.2f to %.2f.</p>\n",
                 first, last, static_cast<int>(layout.slices.size()), in.nz, letter, threshold,
                 static_cast<double>(top), -threshold, -static_cast<double>(top));
    if (found.peaks.empty()) return true;
    std::fprintf(f, "<table>\n<tr><th>peak</th><th>x</th><th>y</th><th>z</th><th>x (mm)</th><th>y (mm)</th>"
                    "<th>z (mm)</th><th>%s</th><th>cluster (voxels)</th></tr>\n", letter);
    const Mat44 &A = in.voxel_to_world;
    for (std::size_t k = 0; k < found.peaks.size(); ++k) {
        const Peak &p = found.peaks[k];
        double world[3];
        for (int i = 0; i < 3; ++i)
            world[i] = static_cast<double>(A.m[i][0]) * p.x + static_cast<double>(A.m[i][1]) * p.y +
                       static_cast<double>(A.m[i][2]) * p.z + A.m[i][3];
        std::fprintf(f, "<tr class=\"peak\"><td>%d</td><td>%d</td><td>%d</td><td>%d</td><td>%.1f</td><td>%.1f</td>"
                        "<td>%.1f</td><td>%.2f</td><td>%d</td></tr>\n",
                     static_cast<int>(k + 1), p.x, p.y, p.z, world[0], world[1], world[2],
                     static_cast<double>(p.value), p.cluster_size);
    }
    std::fputs("</table>\n<p>World coordinates through ", f);
    put(f, in.world_source);
    std::fputs(" of the maps.</p>\n", f);
    return true;
}

}  // namespace

bool write_report(const ReportInputs &in) {
    const int nconditions = GLM.nconditions;
    std::FILE *f = create_output("report.html");
    if (!f) {
        std::printf("Error: cannot write the report report.html.\n");
        return false;
    }
    std::fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>fmriglm report", f);
    if (GLM_input.report_title[0]) std::fputs(": ", f), put(f, GLM_input.report_title);
    std::fprintf(f, "</title>\n<style>\n%s</style>\n</head>\n<body>\n<h1>fmriglm report", STYLE);
    if (GLM_input.report_title[0]) std::fputs(": ", f), put(f, GLM_input.report_title);
    char when[64] = "";
    const std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    std::fprintf(f, "</h1>\n<p>Written %s.</p>\n", when);

    write_model(f, in, nconditions);
    std::fputs("<h2>Design</h2>\n", f);
    bool ok = write_design(f);

    const MontageLayout layout = montage_layout(in.nx, in.ny, in.nz);
    const std::vector<std::uint8_t> background =
        background_levels(in.mean, static_cast<long long>(in.nx) * in.ny * in.nz);
    for (int c = 0; ok && c < nconditions; ++c) ok = write_condition(f, in, c, layout, background);

    std::fputs("<h2>Warnings of the run</h2>\n", f);
    const std::vector<std::string> &warnings = printed_warnings();
    if (warnings.empty()) std::fputs("<p>None.</p>\n", f);
    for (const std::string &w : warnings) {
        std::fputs("<pre class=\"warn\">", f);
        put(f, w);
        std::fputs("</pre>\n", f);
    }
    std::fprintf(f, "<p>Run time %.2f s.</p>\n</body>\n</html>\n", in.seconds);
    if (!ok) {
        close_output(f, false);
        return false;
    }
    if (!close_output(f)) {
        std::printf("Error: cannot write the report report.html.\n");
        return false;
    }
    return true;
}
