#include "driver/block_pass.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "driver/globals.h"
#include "driver/runs.h"
#include "numerics/arrays.h"

namespace {

// A block buffer in huge pages where the system offers them: the fits read
// it time point by time point, a whole block row apart, which with small
// pages costs a page-table walk per time point.
struct BlockBuffer {
    static constexpr std::size_t kHuge = std::size_t{1} << 21;
    std::unique_ptr<float, void (*)(void *)> data{nullptr, std::free};
    explicit BlockBuffer(std::int64_t count = 0) {
        if (count <= 0) return;
        const std::size_t bytes = (static_cast<std::size_t>(count) * sizeof(float) + kHuge - 1) / kHuge * kHuge;
        data.reset(static_cast<float *>(std::aligned_alloc(kHuge, bytes)));
        if (!data) alloc_error("Allocation error in the block buffer.");
        madvise(data.get(), bytes, MADV_HUGEPAGE);
    }
    float *get() const { return data.get(); }
};

}  // namespace

void for_each_block(WorkerPool &pool, std::int64_t ntime, VoxelProgress *progress,
                    const std::function<void(int, const VoxelBlock &, int, int)> &chunk,
                    const std::function<void(const VoxelBlock &)> &after_block) {
    const RunEntry &run = file_list_root;
    const std::int64_t V = static_cast<std::int64_t>(run.nx) * run.ny * run.nz;
    if (V <= 0) return;
    const std::int64_t size = (BLOCK_SIZE < V ? BLOCK_SIZE : V) * ntime;
    const bool ahead = pool.threads() > 1 && V > BLOCK_SIZE;
    BlockBuffer buffers[2] = {BlockBuffer(size), BlockBuffer(ahead ? size : 0)};

    auto read = [&](float *data, std::int64_t first, VoxelBlock *block) {
        int n = 0;
        if (read_block_vector(data, static_cast<int>(first), &n)) return false;
        if (n < 1) {
            std::printf("Error: no voxels read at voxel %lld.\n", static_cast<long long>(first));
            return false;
        }
        *block = VoxelBlock{data, first, n};
        return true;
    };
    VoxelBlock current{}, next{};
    if (!read(buffers[0].get(), 0, &current)) std::exit(1);
    for (int b = 0;; b ^= ahead ? 1 : 0) {
        const std::int64_t following = current.first + current.count;
        const std::int64_t chunks = (current.count + kVoxelChunk - 1) / kVoxelChunk;
        if (progress) progress->start_block(current.first, current.count, kVoxelChunk);
        bool read_ok = true;
        const auto body = [&](int thread, std::int64_t c) {
            const int begin = static_cast<int>(c * kVoxelChunk);
            const int end = begin + kVoxelChunk < current.count ? begin + kVoxelChunk : current.count;
            chunk(thread, current, begin, end);
            if (progress) progress->chunk_done(c);
        };
        if (ahead && following < V)
            pool.run(chunks, body, [&] { read_ok = read(buffers[b ^ 1].get(), following, &next); });
        else
            pool.run(chunks, body);
        if (after_block) after_block(current);
        if (following >= V) break;
        if (!ahead) read_ok = read(buffers[0].get(), following, &next);
        if (!read_ok) std::exit(1);
        current = next;
    }
}
