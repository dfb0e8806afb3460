// The configuration area of a card: locations 0x00 to 0x3F, which the dump
// shows and an image holds.
#ifndef CARDTOOL_CONFIG_AREA_H
#define CARDTOOL_CONFIG_AREA_H

#include <cstdint>

constexpr uint32_t CONFIG_LOCATIONS = 64;

#endif
