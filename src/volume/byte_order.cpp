#include <cstdint>
#include <cstring>
#include <utility>

#include "volume/volume_header.h"

int machine_byte_order() {
    const std::uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1 ? 1 : 0;
}

void swap_16(void *two_bytes) {
    auto *b = static_cast<unsigned char *>(two_bytes);
    std::swap(b[0], b[1]);
}

void swap_32(void *four_bytes) {
    auto *b = static_cast<unsigned char *>(four_bytes);
    std::swap(b[0], b[3]);
    std::swap(b[1], b[2]);
}
