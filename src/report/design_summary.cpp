#include "report/design_summary.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "glm/reports.h"
#include "glm/state.h"
#include "numerics/matrix_inverse.h"

DesignSummary summarize_design() {
    DesignSummary s;
    const int E = GLM.nevents, B = GLM.nbasis, T = GLM.ntime;
    s.nevents = E;
    s.correlation = OwnedMatrix<double>(E > 0 ? E : 1, E > 0 ? E : 1);
    s.inflation.assign(E, std::nan(""));
    // Sums over the used time points, in double: means, then centred and raw cross products.
    OwnedVector<double> mean(B > 0 ? B : 1);
    OwnedMatrix<double> centred(B > 0 ? B : 1, B > 0 ? B : 1), raw(B > 0 ? B : 1, B > 0 ? B : 1);
    int n = 0;
    for (int b = 0; b < B; ++b) mean[b] = 0.0;
    for (int t = 0; t < T; ++t)
        if (GLM.include[t]) {
            ++n;
            for (int b = 0; b < B; ++b) mean[b] += GLM.design_unmasked[t][b];
        }
    for (int b = 0; b < B; ++b) mean[b] /= n > 0 ? n : 1;
    for (int a = 0; a < B; ++a)
        for (int b = 0; b < B; ++b) centred[a][b] = raw[a][b] = 0.0;
    for (int t = 0; t < T; ++t) {
        if (!GLM.include[t]) continue;
        const float *row = GLM.design_unmasked[t];
        for (int a = 0; a < B; ++a)
            for (int b = 0; b <= a; ++b) {
                raw[a][b] += static_cast<double>(row[a]) * row[b];
                centred[a][b] += (row[a] - mean[a]) * (row[b] - mean[b]);
            }
    }
    for (int a = 0; a < B; ++a)
        for (int b = 0; b < a; ++b) raw[b][a] = raw[a][b], centred[b][a] = centred[a][b];

    for (int a = 0; a < E; ++a)
        for (int b = 0; b < E; ++b) {
            const double scale = std::sqrt(centred[a][a] * centred[b][b]);
            s.correlation[a][b] = scale > 0.0 ? centred[a][b] / scale : std::nan("");
        }
    // The residual sum of squares of column j regressed on the others is
    // 1 / (X'X)^-1 [j][j].
    int ierr;
    if (B == 0 || dInvertSquareMatrix(B, raw.get(), &ierr)) return s;
    const bool constant = GLM.nbaseline_basis > 0;
    for (int j = 0; j < E; ++j) {
        double total = centred[j][j];
        if (!constant) total += n * mean[j] * mean[j];
        const double residual = 1.0 / raw[j][j];
        if (total > 0.0 && residual > 0.0) s.inflation[j] = total / residual;
    }
    return s;
}

RgbImage design_picture() {
    const int B = GLM.nbasis, T = GLM.ntime, R = GLM.nruns;
    const int width = std::clamp(720 / std::max(B, 1), 3, 40);
    const int row_height = std::clamp(480 / std::max(T, 1), 1, 4);
    const int height = std::min(T * row_height, 800);
    // Labels twice the font size where the columns are wide enough.
    const int scale = width >= 2 * GLYPH_HEIGHT ? 2 : 1;
    char label[32];
    int label_space = 0;
    for (int b = 0; b < B; ++b) label_space = std::max(label_space, text_length(GLM_basis_label(b, label), scale));
    const int top = label_space + 6, left = text_length(std::to_string(R).c_str(), scale) + 6;
    RgbImage image(left + B * width + 2, top + height + 2);
    const int label_step = (scale * GLYPH_HEIGHT + width - 1) / width;
    for (int b = 0; b < B; b += label_step)
        draw_text(image, left + b * width + (width - 7 * scale) / 2, top - 3, GLM_basis_label(b, label), {0, 0, 0},
                  scale, true);

    std::vector<float> low(B), high(B);
    for (int b = 0; b < B; ++b) {
        low[b] = high[b] = 0.0f;
        for (int t = 0; t < T; ++t) {
            low[b] = std::min(low[b], GLM.design_unmasked[t][b]);
            high[b] = std::max(high[b], GLM.design_unmasked[t][b]);
        }
    }
    const int gap = width >= 4 ? 1 : 0;
    for (int i = 0; i < height; ++i) {
        const int t = static_cast<int>(static_cast<long long>(i) * T / height);
        for (int b = 0; b < B; ++b) {
            const float range = high[b] - low[b];
            const float level = range > 0.0f ? (GLM.design_unmasked[t][b] - low[b]) / range : 0.0f;
            const auto gray = static_cast<std::uint8_t>(std::lround(255.0f * std::clamp(level, 0.0f, 1.0f)));
            const Rgb c = GLM.include[t] ? Rgb{gray, gray, gray}
                                         : Rgb{static_cast<std::uint8_t>(128 + gray / 2), static_cast<std::uint8_t>(gray / 2),
                                               static_cast<std::uint8_t>(gray / 2)};
            image.fill(left + b * width, top + i, width - gap, 1, c);
        }
    }
    for (int r = 0; r < R; ++r) {
        const int y = top + static_cast<int>(static_cast<long long>(GLM.run_start[r]) * height / std::max(T, 1));
        image.fill(0, y, left - 2, 1, {160, 160, 160});
        draw_text(image, 1, y + 2, std::to_string(r + 1).c_str(), {0, 0, 0}, scale);
    }
    return image;
}
