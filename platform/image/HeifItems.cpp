// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/HeifItems.h"

#include <algorithm>

namespace vesk::platform::image {
namespace {

constexpr std::size_t kMaxMetaChildren = 256;
// Real files have tens of items (an iPhone photo: a grid of 48 tiles).
constexpr std::size_t kMaxItems = 65536;
constexpr std::size_t kMaxProperties = 4096;
constexpr std::size_t kMaxAssociations = 1 << 20;
// Extents may take no bytes at all (every field width zero), so their
// number is capped rather than left to the size of the box.
constexpr std::size_t kMaxExtents = 65536;

// Big-endian fields read one after another within [at, end); the first one
// that does not fit fails this and every later read.
struct Cursor {
    ByteSpan bytes;
    std::uint64_t at, end;
    bool ok = true;

    std::uint64_t take(std::size_t width) {
        if (!ok || width > 8 || at > end || end - at < width) {
            ok = false;
            return 0;
        }
        const auto v = width == 0 ? std::optional<std::uint64_t>(0) : readUnsigned(bytes, at, width, true);
        if (!v) ok = false;
        at += width;
        return v.value_or(0);
    }
    std::uint32_t u8() { return static_cast<std::uint32_t>(take(1)); }
    std::uint32_t u16() { return static_cast<std::uint32_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    // A NUL-terminated text; one that runs to the end of its box is taken whole.
    std::string text() {
        std::string s;
        while (ok && at < end) {
            const auto c = readU8(bytes, at++);
            if (!c || *c == 0) break;
            s.push_back(static_cast<char>(*c));
        }
        return s;
    }
};

Cursor contentOf(ByteSpan meta, const IsoBox& box) { return {meta, box.contentOffset, box.end()}; }

void readItemInfo(ByteSpan meta, const IsoBox& iinf, HeifItemTables& out) {
    const SpanSource source(meta);
    Cursor c = contentOf(meta, iinf);
    const std::uint32_t version = c.u8();
    c.take(3);
    c.take(version == 0 ? 2 : 4);
    if (!c.ok) return;
    for (const IsoBox& infe : listIsoBoxes(source, c.at, iinf.end(), kMaxItems)) {
        if (infe.type != fourcc("infe")) continue;
        Cursor e = contentOf(meta, infe);
        const std::uint32_t v = e.u8();
        e.take(3);
        // Versions 0 and 1 carry no item type: nothing a photo's metadata uses.
        if (v < 2) continue;
        HeifItem item;
        item.id = v == 2 ? e.u16() : e.u32();
        e.u16();  // protection index
        item.type = e.u32();
        if (!e.ok) continue;
        e.text();  // name
        if (item.type == fourcc("mime")) {
            item.contentType = e.text();
            item.contentEncoding = e.text();
        }
        if (out.itemAt.emplace(item.id, out.items.size()).second)
            out.items.push_back(std::move(item));
        else
            out.repeatedIds = true;
    }
}

void readItemLocations(ByteSpan meta, const IsoBox& iloc, HeifItemTables& out) {
    Cursor c = contentOf(meta, iloc);
    const std::uint32_t version = c.u8();
    c.take(3);
    const std::uint32_t sizes = c.u8(), sizes2 = c.u8();
    if (!c.ok || version > 2) return;
    const std::size_t offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = sizes2 >> 4;
    const std::size_t indexSize = version >= 1 ? (sizes2 & 15) : 0;
    const std::uint64_t count = c.take(version < 2 ? 2 : 4);
    std::size_t extentsLeft = kMaxExtents;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(count, kMaxItems) && c.ok; ++i) {
        const auto id = static_cast<std::uint32_t>(c.take(version < 2 ? 2 : 4));
        const std::uint64_t method = version >= 1 ? c.u16() & 15 : 0;
        const std::uint32_t reference = c.u16();
        const std::uint64_t base = c.take(baseSize);
        const std::uint32_t extents = c.u16();
        if (extents > extentsLeft) return;
        extentsLeft -= extents;
        std::vector<HeifExtent> found;
        bool fits = true;
        for (std::uint32_t e = 0; e < extents && c.ok; ++e) {
            c.take(indexSize);
            const std::uint64_t offset = c.take(offsetSize);
            const std::uint64_t length = c.take(lengthSize);
            if (offset > UINT64_MAX - base) fits = false;
            found.push_back({base + offset, length});
        }
        if (!c.ok) return;
        const auto at = out.itemAt.find(id);
        if (at == out.itemAt.end() || out.items[at->second].located) continue;
        HeifItem* const it = &out.items[at->second];
        it->located = fits;
        it->construction = static_cast<std::uint8_t>(method);
        it->inThisFile = reference == 0;
        if (fits) it->extents = std::move(found);
    }
}

void readItemReferences(ByteSpan meta, const IsoBox& iref, HeifItemTables& out) {
    const SpanSource source(meta);
    Cursor c = contentOf(meta, iref);
    const std::uint32_t version = c.u8();
    c.take(3);
    if (!c.ok) return;
    const std::size_t idSize = version == 0 ? 2 : 4;
    for (const IsoBox& box : listIsoBoxes(source, c.at, iref.end(), kMaxItems)) {
        Cursor r = contentOf(meta, box);
        HeifReference ref{box.type, static_cast<std::uint32_t>(r.take(idSize)), {}};
        const std::uint32_t count = r.u16();
        for (std::uint32_t i = 0; i < count && r.ok; ++i) {
            const auto to = static_cast<std::uint32_t>(r.take(idSize));
            if (r.ok) ref.to.push_back(to);
        }
        if (r.ok) out.references.push_back(std::move(ref));
    }
}

// 'iprp' holds the properties ('ipco') and which items have them ('ipma').
bool readItemProperties(ByteSpan meta, const IsoBox& iprp, HeifItemTables& out) {
    const SpanSource source(meta);
    bool ipco = false, ipma = false;
    std::size_t associations = 0;
    for (const IsoBox& box : listIsoBoxes(source, iprp.contentOffset, iprp.end(), kMaxMetaChildren)) {
        if (box.type == fourcc("ipco") && !ipco) {
            out.properties = listIsoBoxes(source, box.contentOffset, box.end(), kMaxProperties);
            ipco = true;
        } else if (box.type == fourcc("ipma")) {
            Cursor c = contentOf(meta, box);
            const std::uint32_t version = c.u8();
            const std::uint32_t flags = static_cast<std::uint32_t>(c.take(3));
            const std::uint32_t entries = c.u32();
            for (std::uint32_t i = 0; i < entries && c.ok && associations < kMaxAssociations; ++i) {
                const auto item = static_cast<std::uint32_t>(version < 1 ? c.u16() : c.u32());
                const std::uint32_t count = c.u8();
                for (std::uint32_t k = 0; k < count && c.ok; ++k) {
                    // The top bit says "essential"; the rest is the index.
                    const std::uint32_t index = (flags & 1) ? c.u16() & 0x7fff : c.u8() & 0x7f;
                    if (c.ok && index != 0) {
                        out.associations[item].push_back(static_cast<std::uint16_t>(index));
                        ++associations;
                    }
                }
            }
            ipma = ipma || c.ok;
        }
    }
    return ipco && ipma;
}

}  // namespace

const HeifItem* HeifItemTables::item(std::uint32_t id) const {
    const auto at = itemAt.find(id);
    return at == itemAt.end() ? nullptr : &items[at->second];
}

std::vector<const IsoBox*> HeifItemTables::propertiesOf(std::uint32_t id) const {
    std::vector<const IsoBox*> out;
    if (const auto it = associations.find(id); it != associations.end())
        for (std::uint16_t index : it->second)
            if (index <= properties.size()) out.push_back(&properties[index - 1]);
    return out;
}

std::vector<std::uint32_t> HeifItemTables::referencedBy(std::uint32_t from, std::uint32_t type) const {
    std::vector<std::uint32_t> out;
    for (const HeifReference& r : references)
        if (r.type == type && r.from == from) out.insert(out.end(), r.to.begin(), r.to.end());
    return out;
}

HeifItemTables readHeifItemTables(ByteSpan meta) {
    HeifItemTables out;
    const SpanSource source(meta);
    std::optional<IsoBox> iinf, iloc, iref, iprp;
    bool twice = false;
    for (const IsoBox& child : listIsoBoxes(source, 4, meta.size(), kMaxMetaChildren)) {
        auto keep = [&](std::optional<IsoBox>& slot) {
            twice = twice || slot.has_value();
            if (!slot) slot = child;
        };
        if (child.type == fourcc("pitm")) {
            Cursor c = contentOf(meta, child);
            const std::uint32_t version = c.u8();
            c.take(3);
            const auto id = static_cast<std::uint32_t>(c.take(version == 0 ? 2 : 4));
            if (c.ok && !out.primary) out.primary = id;
        } else if (child.type == fourcc("iinf")) {
            keep(iinf);
        } else if (child.type == fourcc("iloc")) {
            keep(iloc);
        } else if (child.type == fourcc("iref")) {
            keep(iref);
        } else if (child.type == fourcc("iprp")) {
            keep(iprp);
        } else if (child.type == fourcc("idat")) {
            keep(out.idat);
        }
    }
    if (iinf) readItemInfo(meta, *iinf, out);
    if (iloc) readItemLocations(meta, *iloc, out);
    if (iref) readItemReferences(meta, *iref, out);
    const bool properties = iprp && readItemProperties(meta, *iprp, out);
    out.complete = out.primary && iinf && iloc && properties && !twice;
    return out;
}

}  // namespace vesk::platform::image
