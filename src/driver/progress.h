// Progress lines of a pass over the voxels. The voxels of a block are done in
// chunks by several threads, in any order; the lines still come in voxel
// order, each as soon as every voxel up to it is done.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class VoxelProgress {
public:
    // line(v) prints the line of voxel v, called for every v that is a
    // multiple of nvoxels / 100 (every voxel in volumes of fewer than 100).
    VoxelProgress(std::int64_t nvoxels, std::function<void(std::int64_t)> line)
        : step_(nvoxels / 100), line_(std::move(line)) {}

    // A new block: voxels first ... first + count - 1 in chunks of `chunk`.
    void start_block(std::int64_t first, std::int64_t count, int chunk) {
        first_ = first;
        count_ = count;
        chunk_ = chunk;
        next_ = 0;
        done_.assign(static_cast<std::size_t>((count + chunk - 1) / chunk), 0);
    }

    // Chunk c of the block is done (any thread).
    void chunk_done(std::int64_t c) {
        std::lock_guard<std::mutex> hold(lock_);
        done_[static_cast<std::size_t>(c)] = 1;
        for (; next_ < static_cast<std::int64_t>(done_.size()) && done_[static_cast<std::size_t>(next_)]; ++next_) {
            const std::int64_t begin = first_ + next_ * chunk_;
            const std::int64_t end = first_ + std::min<std::int64_t>(count_, (next_ + 1) * chunk_);
            for (std::int64_t v = begin; v < end; ++v)
                if (step_ <= 0 || v % step_ == 0) line_(v);
        }
    }

private:
    std::int64_t step_;
    std::function<void(std::int64_t)> line_;
    std::mutex lock_;
    std::int64_t first_ = 0, count_ = 0, next_ = 0;
    int chunk_ = 1;
    std::vector<char> done_;
};
