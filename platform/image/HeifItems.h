// SPDX-License-Identifier: GPL-3.0-or-later
// The item tables of a HEIF 'meta' box, read by Vesk itself: which item is
// the primary image, what each item is and where its bytes lie, how items
// refer to each other and which properties each one has. Enough to find a
// photo's size, depth and metadata blocks without a codec library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Bytes.h"
#include "platform/image/IsoBox.h"

namespace vesk::platform::image {

struct HeifExtent {
    std::uint64_t offset = 0, length = 0;
};

struct HeifItem {
    std::uint32_t id = 0;
    std::uint32_t type = 0;  // 'hvc1', 'av01', 'grid', 'Exif', 'mime', ...
    std::string contentType, contentEncoding;  // of 'mime' items
    bool located = false;                      // 'iloc' has an entry for it
    // 0: offsets into the file; 1: into the 'idat' box; 2: into other items.
    std::uint8_t construction = 0;
    bool inThisFile = true;  // data reference 0
    std::vector<HeifExtent> extents;  // base offset added
};

struct HeifReference {
    std::uint32_t type = 0, from = 0;
    std::vector<std::uint32_t> to;
};

struct HeifItemTables {
    std::optional<std::uint32_t> primary;
    std::vector<HeifItem> items;  // in the order 'iinf' lists them
    std::vector<HeifReference> references;
    std::vector<IsoBox> properties;  // 'ipco' children; offsets into the meta content
    // Per item ID, its properties: 1-based indexes into `properties`, in order.
    std::unordered_map<std::uint32_t, std::vector<std::uint16_t>> associations;
    // Per item ID, where it stands in `items` (the first, when IDs repeat).
    std::unordered_map<std::uint32_t, std::size_t> itemAt;
    bool repeatedIds = false;
    std::optional<IsoBox> idat;
    // Whether each table that says what the primary image is was there:
    // 'pitm', 'iinf', 'iloc' and 'iprp' with 'ipco' and 'ipma'.
    bool complete = false;

    const HeifItem* item(std::uint32_t id) const;
    // The properties associated with an item, in association order.
    std::vector<const IsoBox*> propertiesOf(std::uint32_t id) const;
    // The items an item refers to by `type`, in order.
    std::vector<std::uint32_t> referencedBy(std::uint32_t from, std::uint32_t type) const;
};

// `meta` is the 'meta' box's content (from its version and flags on). Tables
// that do not parse are left empty; lists are capped, so this is bounded by
// the size of `meta`.
HeifItemTables readHeifItemTables(ByteSpan meta);

}  // namespace vesk::platform::image
