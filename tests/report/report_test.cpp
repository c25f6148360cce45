// report.html of whole analyses, checked against the maps with numpy, scipy and statsmodels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "report/peaks.h"
#include "report/rgb_image.h"
#include "report/slice_montage.h"
#include "support/cli.h"

TEST(Report, NamesConditionsShowsPicturesFindsRegionsAndFlagsCollinearEvents) {
    TempDir tmp;
    const std::string script = tmp.write("report.py", R"PY(
import os, sys, re, subprocess, numpy as np, nibabel as nib
from PIL import Image
from scipy import ndimage, stats
from statsmodels.stats.outliers_influence import variance_inflation_factor
exe, gen, d = sys.argv[1:]
def analyse(sub, extra, edit=lambda w: None):
    w = f"{d}/{sub}"
    subprocess.run([gen, "--dir", w, "--nx", "16", "--ny", "12", "--nz", "6", "--volumes", "80"]
                   + sum((["--control-extra", e] for e in extra), []), check=True, capture_output=True)
    edit(w)
    r = subprocess.run([exe, "control.txt"], cwd=w, capture_output=True, text=True)
    assert r.returncode == 0, r.stdout
    html = open(f"{w}/report.html").read()
    for name, width, height in re.findall(r'<img src="([^"]+)" width="(\d+)" height="(\d+)"', html):
        assert Image.open(f"{w}/{name.replace('%2C', ',')}").size == (int(width), int(height)), name
    return w, html, r.stdout
w, html, _ = analyse("demo", ["report demo run", "AR 1"])
assert "<h1>fmriglm report: demo run</h1>" in html and html.count("<img") == 5
assert re.findall(r'href="#condition-(\d+)"', html) == ["1", "2", "3", "4"], html
mask = os.umask(0o22); os.umask(mask)  # maps and pictures are readable as the user's mask allows
assert all(os.stat(f"{w}/{f}").st_mode & 0o777 == 0o666 & ~mask for f in ("T-1.nii", "report.html", "report-T-1.png"))
px = np.asarray(Image.open(f"{w}/report-T-1.png").convert("RGB")).reshape(-1, 3).astype(int)
grey = px[(px[:, 0] == px[:, 1]) & (px[:, 1] == px[:, 2]), 0]  # the mean image below the 99th centile is not white
assert ((grey > 0) & (grey < 220)).mean() > 0.2, np.unique(grey, return_counts=True)
boxes = np.loadtxt(f"{w}/regions.txt", dtype=int)[:, 1:].reshape(2, 3, 2)
dof = int(re.search(r"Degrees of freedom</th><td class=\"l\">(\d+)<", html)[1])
for k, (c, expected) in enumerate((("1", {1}), ("2", {2}), ("1-2", {1, 2}), ("1,2", {1, 2}))):
    part = html.split(f'<h2 id="condition-{k + 1}">Condition {c}</h2>')[1].split("<h2")[0]
    t = nib.load(f"{w}/T-{c}.nii")
    T, affine = np.asarray(t.dataobj)[..., 0], t.affine
    thr = float(re.search(r"\|T\| &gt; ([\d.]+);", part)[1])
    assert abs(thr - (stats.t.isf(5e-4, dof) if "," not in c else np.sqrt(stats.f.isf(1e-3, 2, dof)))) < 1e-3
    labels = [ndimage.label(s * T > thr, np.ones((3, 3, 3)))[0] for s in (1, -1)]
    assert f"; {(abs(T) > thr).sum()} voxels beyond it in {labels[0].max() + labels[1].max()} clusters" in part
    # The montage: voxels beyond it in colour, 8 x 8 pixels each, slice z in tile z, y upward; labels left out.
    name = re.search(r'<img src="([^"]+)"', part)[1].replace("%2C", ",")
    img = np.asarray(Image.open(f"{w}/{name}").convert("RGB")).astype(int)
    (nx, ny, nz), cols = T.shape, int(np.ceil(np.sqrt(T.shape[2])))
    want, label = np.zeros(img.shape[:2], bool), np.zeros(img.shape[:2], bool)
    corner = lambda z: (z // cols * (ny * 8 + 2) + 1, z % cols * (nx * 8 + 2) + 1)
    for x, y, z in zip(*np.nonzero(abs(T) > thr)):
        want[corner(z)[0] + (ny - 1 - y) * 8:][:8, corner(z)[1] + x * 8:][:, :8] = True
    for z in range(nz):
        label[corner(z)[0]:][:10, corner(z)[1]:][:, :6 * len(str(z)) + 2] = True
    got = (img[..., 0] != img[..., 1]) | (img[..., 1] != img[..., 2])
    assert want.any() and (got == want)[~label].all(), (name, np.argwhere((got != want) & ~label)[:5])
    hit = set()
    for row in re.findall(r'<tr class="peak">(.*?)</tr>', part):
        n, x, y, z, *rest = re.findall(r"<td>([^<]*)</td>", row)
        x, y, z, world, value, size = int(x), int(y), int(z), np.array(rest[:3], float), float(rest[3]), int(rest[4])
        assert abs(T[x, y, z] - value) < 6e-3 and np.allclose(affine @ [x, y, z, 1], [*world, 1], atol=0.051)
        lab = labels[value < 0]
        assert (lab == lab[x, y, z]).sum() == size, row
        hit |= {e + 1 for e, b in enumerate(boxes) if all(b[i][0] <= v <= b[i][1] for i, v in enumerate((x, y, z)))}
    assert hit == expected, (c, hit)

def collinear(w):  # event 3: event 1 one second later; run 1 also starts one after its end
    for r in (1, 2):
        text = open(f"{w}/run{r}.glm").read()
        ones = [l.split() for l in text.split("1 square\n")[1].split("\n\n")[0].splitlines()]
        three = "".join(f"{float(a) + 1:g} {float(b) + 1:g}\n" for a, b in ones) + ("170 175\n" * (r == 1))
        open(f"{w}/run{r}.glm", "w").write(text.rstrip("\n") + "\n\n3 square\n" + three)
        with open(f"{w}/run{r}.nii", "r+b") as f:  # and the runs have neither qform nor sform
            f.seek(252), f.write(bytes(4))
w, html, out = analyse("collinear", ["report", "z-maps", "notify"], collinear)
assert re.search(r"Warning: event_1 and event_3 are correlated \(r = 0\.9\d\d\)", html), html
assert re.search(r"Warning: event_3 has a variance inflation factor of \d\d\.\d \(above 10\)", html), html
assert "|Z| &gt; 3.291;" in html and "report-Z-1-2.png" in html
assert html.count(": z of the two-sided p of the t test, signed like t") == 3, html  # conditions 1, 2, 1-2
late = re.search(r"Warning: stimulus \d+ of event 3 in run1.glm starts at 170 s.*", out)[0]
assert f'<pre class="warn">{late}</pre>' in html
X = np.loadtxt(f"{w}/basis.dat", skiprows=1)[:, 1:]
vifs = [float(v) for v in re.findall(r"<td[^>]*>([^<]*)</td>", re.search(r"VIF</th>(.*)</tr>", html)[1])]
assert np.allclose(vifs, [variance_inflation_factor(X, j) for j in range(3)], atol=6e-3), vifs
zooms = nib.load(f"{w}/run1.nii").header.get_zooms()[:3]
assert "World coordinates through the voxel sizes (no qform or sform) of the maps." in html and "<tr class=\"peak\">" in html
for row in re.findall(r'<tr class="peak">(.*?)</tr>', html):
    x, y, z, *world = [float(v) for v in re.findall(r"<td>([^<]*)</td>", row)[1:7]]
    assert np.allclose(np.multiply([x, y, z], zooms), world, atol=0.051), row
os.remove(f"{w}/report.html"), os.mkdir(f"{w}/report.html")  # a report that cannot be written fails the run
r = subprocess.run([exe, "control.txt"], cwd=w, capture_output=True, text=True)
assert r.returncode == 1 and "Error: cannot write the report report.html.\n" in r.stdout, r
)PY");
    const std::string command = "'" FMRIGLM_PYTHON "' '" + script + "' '" FMRIGLM_EXE "' '" FMRIGLM_MAKE_DATASET
                                "' '" + tmp.path() + "' > '" + tmp.file("py.txt") + "' 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << read_file(tmp.file("py.txt"));
}

// Glyphs keep to five of their six columns: the sixth separates the characters. A montage of more slices
// than it shows spreads them from the first to the last; its colours rise from the threshold to the top. A
// voxel beyond the threshold is a cluster wherever it lies.
TEST(Report, GlyphsMontagesAndClusters) {
    std::string all;
    for (char c = 32; c < 127; ++c) all += c;
    RgbImage image(text_length(all.c_str()) + 1, GLYPH_HEIGHT);
    draw_text(image, 0, 0, all.c_str(), {0, 0, 0});
    int lit[2] = {0, 0};  // in the glyphs' columns, in the separating ones
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < GLYPH_HEIGHT; ++y) lit[x % GLYPH_ADVANCE == 5] += image.data()[3 * (y * image.width() + x)] == 0;
    EXPECT_GT(lit[0], 500);
    EXPECT_EQ(lit[1], 0);

    const MontageLayout layout = montage_layout(2, 2, 79);  // 8 pixels per voxel, tiles of 18, 7 columns
    ASSERT_EQ(layout.slices.size(), 40u);
    EXPECT_EQ(std::vector<int>({layout.slices[1], layout.slices[39]}), std::vector<int>({2, 78}));
    std::vector<float> map(2 * 2 * 79, 0.0f);
    map[0] = 2.5f, map[2 * 4 + 1] = -3.0f;  // voxel (0, 0) of slice 0 (tile 0), (1, 0) of slice 2 (tile 1)
    const RgbImage montage = slice_montage(layout, std::vector<std::uint8_t>(map.size(), 0), map.data(), 2.0f, 3.0f);
    const std::uint8_t *row = montage.data() + 3 * 13 * montage.width();  // pixel row 13 crosses both voxels
    EXPECT_EQ(std::vector<int>(row + 3 * 5, row + 3 * 6), std::vector<int>({255, 128, 0}));  // halfway red to yellow
    EXPECT_EQ(std::vector<int>(row + 3 * 31, row + 3 * 32), std::vector<int>({0, 255, 255}));
    const MapPeaks peaks = find_peaks(map.data(), 2, 2, 79, 2.0f, 10);
    EXPECT_EQ(peaks.clusters, 2);
    EXPECT_EQ(peaks.peaks.size(), 2u);
}
