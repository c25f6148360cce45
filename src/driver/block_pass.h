// One pass over all voxels of the runs, block by block, on the threads of a
// pool: every block is read once, and its voxels are handed out in chunks.
#pragma once

#include <cstdint>
#include <functional>

#include "driver/progress.h"
#include "numerics/worker_pool.h"

// A block in memory: the series of voxels first ... first + count - 1, the
// value of voxel first + j at time point tau at data[tau * count + j].
struct VoxelBlock {
    float *data;
    std::int64_t first;
    int count;
};

// Voxels of one chunk (a multiple of the vector width of the fits).
constexpr int kVoxelChunk = 64;

// Calls chunk(thread, block, begin, end) for the voxels [begin, end) of every
// block (j indices within the block), on all threads of the pool, then
// after_block(block) on the calling thread once all chunks of the block are
// done; progress (when given) is told of every finished chunk. With more than
// one thread the next block is read while the current one is worked on (two
// block buffers); with one thread there is one buffer. A block that cannot
// be read ends the program with status 1 (the reader has printed why).
void for_each_block(WorkerPool &pool, std::int64_t ntime, VoxelProgress *progress,
                    const std::function<void(int, const VoxelBlock &, int, int)> &chunk,
                    const std::function<void(const VoxelBlock &)> &after_block = nullptr);
