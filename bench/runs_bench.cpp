// Reading a whole data set block by block: two runs of 64 x 64 x 30 voxels and
// 150 volumes each, one stored as floats, one as big-endian 16-bit integers.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/runs.h"

namespace {

constexpr int NX = 64, NY = 64, NZ = 30, NT = 150;
constexpr int V = NX * NY * NZ;

class DataSet {
public:
    DataSet() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fmriglm-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        dir_ = pattern;
        write("a", "bfloat", 4, "byte-order 1\n");
        write("b", "bshort", 2, "byte-order 0\n");
        GLM_reset_model_state();
        GLM_input.nruns = GLM.nruns = 2;
        std::snprintf(GLM_input.fmri_file[0], NAME_SIZE, "%s/a.bfloat", dir_.c_str());
        std::snprintf(GLM_input.fmri_file[1], NAME_SIZE, "%s/b.bshort", dir_.c_str());
        GLM.tr[0] = GLM.tr[1] = 2.0f;
        build_run_list();
        int total = 0;
        if (initialize_runs(&total)) std::abort();
        total_ = total;
    }
    ~DataSet() { std::filesystem::remove_all(dir_); }
    int total() const { return total_; }

private:
    void write(const std::string &name, const std::string &ext, int size, const std::string &order) {
        std::FILE *h = std::fopen((dir_ + "/" + name + ".hdr").c_str(), "w");
        std::fprintf(h, "matrix %d %d %d %d\nresolution 1 1 1 2\n%s", NX, NY, NZ, NT, order.c_str());
        std::fclose(h);
        std::vector<unsigned char> bytes(static_cast<size_t>(V) * size);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 31 + 7);
        std::FILE *d = std::fopen((dir_ + "/" + name + "." + ext).c_str(), "wb");
        for (int t = 0; t < NT; ++t) std::fwrite(bytes.data(), 1, bytes.size(), d);
        std::fclose(d);
    }
    std::string dir_;
    int total_ = 0;
};

void BM_ReadAllBlocks(benchmark::State &state) {
    static DataSet data;
    BLOCK_SIZE = static_cast<int>(state.range(0));
    std::vector<float> block(static_cast<size_t>(std::min(BLOCK_SIZE, V)) * data.total());
    for (auto _ : state) {
        for (int f = 0, n = 0; f < V; f += n) {
            if (read_block_vector(block.data(), f, &n)) std::abort();
            benchmark::DoNotOptimize(block.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(V) * data.total());
}
BENCHMARK(BM_ReadAllBlocks)->Arg(5000)->Arg(50000)->Arg(V)->Unit(benchmark::kMillisecond);

}  // namespace
