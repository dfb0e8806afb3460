// The configuration area of a card: locations 0x00 to 0x3F, which the dump
// shows and an image holds.
#ifndef CARDTOOL_CONFIG_AREA_H
#define CARDTOOL_CONFIG_AREA_H

#include <cstdint>

constexpr uint32_t CONFIG_LOCATIONS = 64;

// A set of locations, bit n for location n.
using location_mask = uint64_t;
static_assert(CONFIG_LOCATIONS <= 64, "a location_mask holds a bit for each location");

inline location_mask bit(uint32_t location) { return location_mask{1} << location; }
inline unsigned count_bits(location_mask bits) {
    return static_cast<unsigned>(__builtin_popcountll(bits));
}

#endif
