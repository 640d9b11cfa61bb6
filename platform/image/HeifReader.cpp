// SPDX-License-Identifier: GPL-3.0-or-later
// The HEIF family's reader. Vesk reads the item tables of the 'meta' box
// itself, which answers for the photos cameras and phones write; libheif,
// loaded on first use, reads what those tables alone do not settle (crops,
// derived items, compressed or referenced data). It reads through a bounded
// reader over the descriptor the image source holds; every error it reports
// ends the read with what was taken so far.
#include "platform/image/HeifReader.h"
#include "platform/Versions.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <libheif/heif.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "platform/FileDescriptor.h"
#include "platform/image/HeifItems.h"
#include "platform/image/IsoBox.h"

namespace vesk::platform::image {
namespace {

constexpr std::size_t kMaxTopLevelBoxes = 64;
// libheif lists a handle's metadata blocks into an array of this many.
constexpr std::size_t kMaxMetadataBlocks = 16;

// An 'Exif' item starts with the offset of the TIFF header past its first 4 bytes.
std::vector<std::uint8_t> tiffOfExifItem(const std::vector<std::uint8_t>& item) {
    if (item.size() <= 4) return {};
    const std::uint64_t skip = 4 + std::uint64_t{*readU32(item, 0, true)};
    if (skip >= item.size()) return {};
    return {item.begin() + static_cast<std::ptrdiff_t>(skip), item.end()};
}

bool isCodedImage(std::uint32_t type) { return type == fourcc("hvc1") || type == fourcc("av01"); }

// The top-level boxes must all fit the file, begin with 'ftyp' and hold one
// 'meta' box of a sane size before anything reads further; answers that box.
std::optional<IsoBox> plausibleLayout(const FileBytes& file, std::string& cut) {
    const auto boxes = listIsoBoxes(file, 0, file.size(), kMaxTopLevelBoxes);
    if (boxes.empty() || boxes.front().type != fourcc("ftyp")) return std::nullopt;
    for (const IsoBox& box : boxes) {
        if (box.type != fourcc("meta")) continue;
        if (box.contentLength > kMaxHeifMetaBoxBytes) {
            cut = "a HEIF 'meta' box of " + std::to_string(box.contentLength >> 20) + " MB not read";
            return std::nullopt;
        }
        return box;
    }
    return std::nullopt;
}

// ---- Vesk's own reading of the item tables ----

// A property's fields after its version and flags.
ByteSpan fullBoxFields(ByteSpan meta, const IsoBox& box) {
    if (box.contentLength < 4) return {};
    return meta.subspan(box.contentOffset + 4, box.contentLength - 4);
}

const IsoBox* firstProperty(const std::vector<const IsoBox*>& properties, std::uint32_t type) {
    auto it = std::find_if(properties.begin(), properties.end(), [type](const IsoBox* p) { return p->type == type; });
    return it == properties.end() ? nullptr : *it;
}

// The ICC profile a 'colr' property carries ('prof' or 'rICC'); libheif
// keeps the last of several.
std::optional<ByteSpan> iccProfileOf(ByteSpan meta, const std::vector<const IsoBox*>& properties) {
    std::optional<ByteSpan> icc;
    for (const IsoBox* p : properties) {
        if (p->type != fourcc("colr") || p->contentLength < 4) continue;
        const std::uint32_t kind = *readU32(meta, p->contentOffset, true);
        if (kind == fourcc("prof") || kind == fourcc("rICC")) icc = meta.subspan(p->contentOffset + 4, p->contentLength - 4);
    }
    return icc;
}

struct BitDepths {
    int luma = 0, chroma = 0;
};

// From the decoder configuration of a coded image: 'hvcC' (whose fixed part
// is 23 bytes) or 'av1C'.
std::optional<BitDepths> bitDepthsOf(ByteSpan meta, const HeifItem& coded, const std::vector<const IsoBox*>& properties) {
    if (coded.type == fourcc("hvc1")) {
        const IsoBox* hvcC = firstProperty(properties, fourcc("hvcC"));
        if (!hvcC || hvcC->contentLength < 23) return std::nullopt;
        return BitDepths{8 + (meta[hvcC->contentOffset + 17] & 7), 8 + (meta[hvcC->contentOffset + 18] & 7)};
    }
    const IsoBox* av1C = firstProperty(properties, fourcc("av1C"));
    if (!av1C || av1C->contentLength < 4) return std::nullopt;
    const std::uint8_t flags = meta[av1C->contentOffset + 2];
    const int bits = (flags & 0x40) ? ((flags & 0x20) ? 12 : 10) : 8;
    return BitDepths{bits, bits};
}

// An auxiliary image of the primary one is its alpha when its 'auxC'
// property names one of the alpha types.
bool hasAlphaImage(ByteSpan meta, const HeifItemTables& tables, std::uint32_t primary) {
    // Each auxiliary item's properties are looked at once, however many
    // references name it: many references times many properties was quadratic.
    std::unordered_set<std::uint32_t> seen;
    for (const HeifReference& ref : tables.references) {
        if (ref.type != fourcc("auxl") || std::find(ref.to.begin(), ref.to.end(), primary) == ref.to.end()) continue;
        if (!seen.insert(ref.from).second) continue;
        const HeifItem* aux = tables.item(ref.from);
        if (!aux || (!isCodedImage(aux->type) && aux->type != fourcc("grid"))) continue;
        const IsoBox* auxC = firstProperty(tables.propertiesOf(aux->id), fourcc("auxC"));
        if (!auxC) continue;
        const ByteSpan fields = fullBoxFields(meta, *auxC);
        const std::string type(fields.begin(), std::find(fields.begin(), fields.end(), std::uint8_t{0}));
        if (type == "urn:mpeg:avc:2015:auxid:1" || type == "urn:mpeg:hevc:2015:auxid:1" ||
            type == "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha")
            return true;
    }
    return false;
}

// The bytes of a metadata item, within the file or the 'idat' box; nothing
// when they are not all there.
std::optional<std::vector<std::uint8_t>> itemData(const FileBytes& file, ByteSpan meta, const HeifItemTables& tables,
                                                  const HeifItem& item, std::uint64_t size) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    std::uint64_t at = 0;
    for (const HeifExtent& e : item.extents) {
        const std::span<std::uint8_t> piece(data.data() + at, static_cast<std::size_t>(e.length));
        if (item.construction == 0) {
            if (!file.read(e.offset, piece)) return std::nullopt;
        } else {
            if (!tables.idat || e.offset > tables.idat->contentLength || tables.idat->contentLength - e.offset < e.length)
                return std::nullopt;
            std::copy_n(meta.begin() + static_cast<std::ptrdiff_t>(tables.idat->contentOffset + e.offset), e.length,
                        piece.begin());
        }
        at += e.length;
    }
    return data;
}

enum class Read { Done, NotSettled };

// The first of the primary image's metadata items of `type` (and content
// type) that is there and within the budget, by item ID as libheif lists them.
Read metadataItem(const FileBytes& file, ByteSpan meta, const HeifItemTables& tables, std::uint32_t primary,
                  std::uint32_t type, const char* contentType, std::vector<std::uint8_t>& out, std::string& cut) {
    // One pass over the references: an item may describe the primary image in several.
    std::vector<const HeifItem*> candidates;
    for (const HeifReference& ref : tables.references) {
        if (ref.type != fourcc("cdsc") || std::find(ref.to.begin(), ref.to.end(), primary) == ref.to.end()) continue;
        const HeifItem* item = tables.item(ref.from);
        if (item && item->type == type && (!contentType || item->contentType == contentType)) candidates.push_back(item);
    }
    std::sort(candidates.begin(), candidates.end(), [](const HeifItem* a, const HeifItem* b) { return a->id < b->id; });
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    if (candidates.size() > kMaxMetadataBlocks) candidates.resize(kMaxMetadataBlocks);
    for (const HeifItem* item : candidates) {
        // Compressed blocks, data in other files or other items: libheif's.
        if (!item->contentEncoding.empty() || !item->inThisFile || item->construction > 1) return Read::NotSettled;
        if (!item->located) continue;
        std::uint64_t size = 0;
        for (const HeifExtent& e : item->extents) {
            // A length of 0 runs to the end of the file.
            if (e.length == 0) return Read::NotSettled;
            size = e.length > UINT64_MAX - size ? UINT64_MAX : size + e.length;
        }
        if (size == 0) continue;
        if (size > kMaxHeifMetadataBytes) {
            char name[5] = {char(type >> 24), char(type >> 16), char(type >> 8), char(type), 0};
            cut = std::string("a HEIF ") + name + " block of " + std::to_string(size >> 20) + " MB not read";
            continue;
        }
        if (auto data = itemData(file, meta, tables, *item, size)) {
            out = std::move(*data);
            return Read::Done;
        }
    }
    return Read::Done;
}

// The primary image as far as the item tables describe it; `settled` when
// they leave nothing to libheif. Nothing when there is no primary item.
std::optional<HeifImage> readFromItemTables(const FileBytes& file, ByteSpan meta, const HeifItemTables& tables,
                                            bool& settled) {
    settled = false;
    if (!tables.primary) return std::nullopt;
    bool open = !tables.complete || tables.repeatedIds;
    HeifImage out;
    const HeifItem* primary = tables.item(*tables.primary);
    if (primary && (isCodedImage(primary->type) || primary->type == fourcc("grid"))) {
        const auto properties = tables.propertiesOf(primary->id);
        // A grid's depth is its first tile's.
        const HeifItem* coded = primary;
        if (primary->type == fourcc("grid")) {
            const auto tiles = tables.referencedBy(primary->id, fourcc("dimg"));
            coded = tiles.empty() ? nullptr : tables.item(tiles.front());
            if (coded && !isCodedImage(coded->type)) coded = nullptr;
        }
        const auto codedProperties =
            coded == primary ? properties : coded ? tables.propertiesOf(coded->id) : std::vector<const IsoBox*>{};

        // The size as stored ('ispe'): the EXIF orientation says how to turn
        // it, as for a JPEG, so 'irot' is not applied here. A crop is libheif's.
        const IsoBox* ispe = firstProperty(properties, fourcc("ispe"));
        const ByteSpan extent = ispe ? fullBoxFields(meta, *ispe) : ByteSpan{};
        if (extent.size() >= 8 && !firstProperty(properties, fourcc("clap"))) {
            out.width = *readU32(extent, 0, true);
            out.height = *readU32(extent, 4, true);
            if (out.width > INT32_MAX || out.height > INT32_MAX) out.width = out.height = 0;
        }
        if (!out.width || !out.height) open = true;

        const auto depths = coded ? bitDepthsOf(meta, *coded, codedProperties) : std::nullopt;
        if (depths) {
            out.depth = static_cast<std::uint8_t>(depths->luma);
            out.monochrome = depths->chroma <= 0;
        } else {
            open = true;
        }
        out.hasAlpha = hasAlphaImage(meta, tables, primary->id);

        const auto icc = iccProfileOf(meta, properties);
        // Whether a grid without a profile of its own shows its tiles' is libheif's to say.
        if (!icc && coded != primary && (!coded || iccProfileOf(meta, codedProperties))) open = true;
        if (icc) out.iccProfile.assign(icc->begin(), icc->end());
    } else {
        open = true;
    }

    std::vector<std::uint8_t> exif, xmp;
    if (metadataItem(file, meta, tables, *tables.primary, fourcc("Exif"), nullptr, exif, out.budgetCut) != Read::Done)
        open = true;
    if (metadataItem(file, meta, tables, *tables.primary, fourcc("mime"), "application/rdf+xml", xmp, out.budgetCut) !=
        Read::Done)
        open = true;
    out.exifTiff = tiffOfExifItem(exif);
    out.xmp.assign(xmp.begin(), xmp.end());
    settled = !open;
    return out;
}

// ---- libheif, for what the tables leave open ----

// Loaded on first use rather than linked: its codec libraries run their
// initialisers (milliseconds) in every process that links them, and most
// processes never need it.
#define VESK_LIBHEIF_FUNCTIONS(X)                                                                         \
    X(heif_init) X(heif_get_version) X(heif_context_alloc) X(heif_context_free) X(heif_context_read_from_reader)              \
    X(heif_context_get_primary_image_handle) X(heif_image_handle_release) X(heif_image_handle_get_width) \
    X(heif_image_handle_get_height) X(heif_image_handle_get_luma_bits_per_pixel)                         \
    X(heif_image_handle_get_chroma_bits_per_pixel) X(heif_image_handle_has_alpha_channel)                \
    X(heif_image_handle_get_list_of_metadata_block_IDs) X(heif_image_handle_get_metadata_content_type)   \
    X(heif_image_handle_get_metadata_size) X(heif_image_handle_get_metadata)                             \
    X(heif_image_handle_get_raw_color_profile_size) X(heif_image_handle_get_raw_color_profile)          \
    X(heif_image_handle_get_list_of_thumbnail_IDs) X(heif_image_handle_get_thumbnail) X(heif_decode_image) \
    X(heif_image_get_plane_readonly) X(heif_image_get_primary_width) X(heif_image_get_primary_height)     \
    X(heif_image_release)

struct Libheif {
#define VESK_DECLARE(name) decltype(&::name) name = nullptr;
    VESK_LIBHEIF_FUNCTIONS(VESK_DECLARE)
#undef VESK_DECLARE
};

struct LoadedLibheif {
    const Libheif* functions = nullptr;
    std::string error;  // why it could not be loaded
};

// Loaded once; never unloaded, as readers run on any thread.
const LoadedLibheif& libheif() {
    static const LoadedLibheif loaded = [] {
        LoadedLibheif out;
        void* library = ::dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* error = ::dlerror();
            out.error = error ? error : "libheif.so.1 not found";
            return out;
        }
        static Libheif functions;
#define VESK_RESOLVE(name)                                                               \
    functions.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
    if (!functions.name) {                                                           \
        out.error = "libheif.so.1 has no " #name;                                    \
        return out;                                                                  \
    }
        VESK_LIBHEIF_FUNCTIONS(VESK_RESOLVE)
#undef VESK_RESOLVE
        functions.heif_init(nullptr);
        out.functions = &functions;
        return out;
    }();
    return loaded;
}

// libheif's reader over a file: reads go through the byte toolkit, and the
// bytes handed over are counted against kMaxHeifReadBytes. libheif asserts
// (and so aborts) when a read fails within a size it was told is there, so
// past the budget reads succeed with zeros and the whole result is dropped.
struct BoundedReader {
    const FileBytes& file;
    std::vector<HeifExtent> notNeeded;  // handed over as zeros, never read
    std::uint64_t position = 0;
    std::uint64_t handedOver = 0;
    bool overBudget = false;

    static BoundedReader& of(void* userdata) { return *static_cast<BoundedReader*>(userdata); }

    static std::int64_t getPosition(void* userdata) { return static_cast<std::int64_t>(of(userdata).position); }

    static int read(void* data, std::size_t size, void* userdata) {
        BoundedReader& r = of(userdata);
        const std::span out(static_cast<std::uint8_t*>(data), size);
        if (r.position > r.file.size() || r.file.size() - r.position < size) return -1;
        // Box fields come a few bytes at a time; coded data in large reads.
        bool notNeeded = false;
        if (size >= 64) {
            // The last stretch starting at or before the read.
            auto e = std::upper_bound(r.notNeeded.begin(), r.notNeeded.end(), r.position,
                                      [](std::uint64_t at, const HeifExtent& x) { return at < x.offset; });
            if (e != r.notNeeded.begin()) {
                --e;
                notNeeded = r.position - e->offset <= e->length && e->length - (r.position - e->offset) >= size;
            }
        }
        if (notNeeded) {
            std::fill(out.begin(), out.end(), std::uint8_t{0});
        } else if (r.overBudget || size > kMaxHeifReadBytes - std::min(r.handedOver, kMaxHeifReadBytes)) {
            r.overBudget = true;
            std::fill(out.begin(), out.end(), std::uint8_t{0});
        } else if (!r.file.read(r.position, out)) {
            // The file shrank under us: zeros too, never a failed read.
            std::fill(out.begin(), out.end(), std::uint8_t{0});
        }
        r.position += size;
        r.handedOver += size;
        return 0;
    }

    static int seek(std::int64_t position, void* userdata) {
        BoundedReader& r = of(userdata);
        if (position < 0 || static_cast<std::uint64_t>(position) > r.file.size()) return -1;
        r.position = static_cast<std::uint64_t>(position);
        return 0;
    }

    static heif_reader_grow_status waitForFileSize(std::int64_t target, void* userdata) {
        return target >= 0 && static_cast<std::uint64_t>(target) <= of(userdata).file.size()
                   ? heif_reader_grow_status_size_reached
                   : heif_reader_grow_status_size_beyond_eof;
    }
};

constexpr heif_reader kReader{1, BoundedReader::getPosition, BoundedReader::read, BoundedReader::seek,
                              BoundedReader::waitForFileSize};

// The metadata blocks of `type` (and, when given, content type), the first
// that libheif hands over within the size budget.
std::optional<std::vector<std::uint8_t>> metadataBlock(const Libheif& lib, const heif_image_handle* handle,
                                                       const char* type, const char* contentType, std::string& cut) {
    heif_item_id ids[kMaxMetadataBlocks];
    const int n = lib.heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids, kMaxMetadataBlocks);
    for (int i = 0; i < n; ++i) {
        if (contentType) {
            const char* ct = lib.heif_image_handle_get_metadata_content_type(handle, ids[i]);
            if (!ct || std::strcmp(ct, contentType) != 0) continue;
        }
        const std::size_t size = lib.heif_image_handle_get_metadata_size(handle, ids[i]);
        if (size == 0) continue;
        if (size > kMaxHeifMetadataBytes) {
            cut = std::string("a HEIF ") + type + " block of " + std::to_string(size >> 20) + " MB not read";
            continue;
        }
        std::vector<std::uint8_t> data(size);
        if (lib.heif_image_handle_get_metadata(handle, ids[i], data.data()).code != heif_error_Ok) continue;
        return data;
    }
    return std::nullopt;
}

// The coded image items' extents: libheif 1.15 reads every item's data while
// it opens a file, and these are only needed to decode pixels, which Vesk
// never does, so they are handed over as zeros instead of being read. Sorted
// and joined where they meet or overlap, so each read finds its stretch by a
// binary search, not a walk over thousands of items.
std::vector<HeifExtent> codedImageExtents(const HeifItemTables& tables) {
    std::vector<HeifExtent> all;
    for (const HeifItem& item : tables.items)
        if (isCodedImage(item.type) && item.located && item.construction == 0 && item.inThisFile)
            for (const HeifExtent& e : item.extents)
                if (e.length > 0 && e.length <= UINT64_MAX - e.offset) all.push_back(e);
    std::sort(all.begin(), all.end(), [](const HeifExtent& a, const HeifExtent& b) { return a.offset < b.offset; });
    std::vector<HeifExtent> out;
    for (const HeifExtent& e : all) {
        if (!out.empty() && e.offset <= out.back().offset + out.back().length) {
            const std::uint64_t end = std::max(out.back().offset + out.back().length, e.offset + e.length);
            out.back().length = end - out.back().offset;
        } else {
            out.push_back(e);
        }
    }
    return out;
}

// What libheif would be asked to hold, counted from the tables before it is
// handed the file: it reads every item's data whole (an item counted each
// time, though several name the same bytes) and inflates compressed ones,
// and no reader of ours can bound what it allocates for them. A refusal says
// why; empty when the file is within the budgets.
std::string libheifRefusal(const FileBytes& file, const HeifItemTables& tables) {
    if (tables.items.size() > kMaxLibheifItems)
        return std::to_string(tables.items.size()) + " HEIF items, more than " + std::to_string(kMaxLibheifItems) +
               ", not handed to libheif";
    std::uint64_t bytes = 0;
    std::size_t compressed = 0;
    std::uint64_t compressedBytes = 0;
    for (const HeifItem& item : tables.items) {
        std::uint64_t size = 0;
        for (const HeifExtent& e : item.extents) {
            // A length of 0 runs to the end of the file.
            const std::uint64_t length = e.length ? e.length : file.size() - std::min(file.size(), e.offset);
            size = length > UINT64_MAX - size ? UINT64_MAX : size + length;
        }
        bytes = size > UINT64_MAX - bytes ? UINT64_MAX : bytes + size;
        if (!item.contentEncoding.empty()) {
            ++compressed;
            compressedBytes = size > UINT64_MAX - compressedBytes ? UINT64_MAX : compressedBytes + size;
        }
    }
    if (bytes > kMaxHeifReadBytes)
        return "HEIF items of " + std::to_string(bytes >> 20) + " MB in all, more than " +
               std::to_string(kMaxHeifReadBytes >> 20) + " MB, not handed to libheif";
    if (compressed > kMaxLibheifCompressedItems || compressedBytes > kMaxLibheifCompressedBytes)
        return std::to_string(compressed) + " compressed HEIF items of " + std::to_string(compressedBytes) +
               " bytes, more than " + std::to_string(kMaxLibheifCompressedItems) + " of " +
               std::to_string(kMaxLibheifCompressedBytes) + ", not handed to libheif";
    return {};
}

// Whether the primary image's 'irot' properties add up to a quarter or three
// quarters of a turn.
bool quarterTurned(ByteSpan meta, const HeifItemTables& tables) {
    if (!tables.primary) return false;
    bool turned = false;
    for (const IsoBox* p : tables.propertiesOf(*tables.primary))
        if (p->type == fourcc("irot") && p->contentLength >= 1 && (meta[p->contentOffset] & 1)) turned = !turned;
    return turned;
}

// Nothing when libheif could not read the file; `cut` then says so when a
// budget stopped it, `notRead` when libheif could not be loaded.
std::optional<HeifImage> readThroughLibheif(const FileBytes& file, ByteSpan meta, const HeifItemTables& tables,
                                            std::string& cut, std::string& notRead) {
    const Libheif* lib = libheif().functions;
    if (!lib) {
        notRead = "libheif could not be loaded (" + libheif().error + ")";
        return std::nullopt;
    }
    HeifImage out;
    try {
        const auto contextFree = [lib](heif_context* c) { lib->heif_context_free(c); };
        std::unique_ptr<heif_context, decltype(contextFree)> context(lib->heif_context_alloc(), contextFree);
        if (!context) return std::nullopt;
        BoundedReader reader{file, codedImageExtents(tables)};
        const bool read =
            lib->heif_context_read_from_reader(context.get(), &kReader, &reader, nullptr).code == heif_error_Ok;
        if (reader.overBudget) {
            cut = "HEIF structures past " + std::to_string(kMaxHeifReadBytes >> 20) + " MB not read";
            return std::nullopt;
        }
        if (!read) return std::nullopt;
        heif_image_handle* raw = nullptr;
        if (lib->heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok || !raw) return out;
        const auto release = [lib](heif_image_handle* h) { lib->heif_image_handle_release(h); };
        std::unique_ptr<heif_image_handle, decltype(release)> handle(raw, release);

        // libheif gives the size cropped and turned; the turn is taken back,
        // as the item tables' reading gives the size before it.
        const int width = lib->heif_image_handle_get_width(handle.get());
        const int height = lib->heif_image_handle_get_height(handle.get());
        if (width > 0 && height > 0) {
            out.width = static_cast<std::uint32_t>(width);
            out.height = static_cast<std::uint32_t>(height);
            if (quarterTurned(meta, tables)) std::swap(out.width, out.height);
        }
        const int bits = lib->heif_image_handle_get_luma_bits_per_pixel(handle.get());
        if (bits > 0 && bits <= 32) out.depth = static_cast<std::uint8_t>(bits);
        out.hasAlpha = lib->heif_image_handle_has_alpha_channel(handle.get()) != 0;
        out.monochrome = lib->heif_image_handle_get_chroma_bits_per_pixel(handle.get()) <= 0 && bits > 0;

        if (auto exif = metadataBlock(*lib, handle.get(), "Exif", nullptr, out.budgetCut))
            out.exifTiff = tiffOfExifItem(*exif);
        if (auto xmp = metadataBlock(*lib, handle.get(), "mime", "application/rdf+xml", out.budgetCut))
            out.xmp.assign(xmp->begin(), xmp->end());
        const std::size_t iccSize = lib->heif_image_handle_get_raw_color_profile_size(handle.get());
        if (iccSize > 0 && iccSize <= kMaxHeifMetadataBytes) {
            out.iccProfile.resize(iccSize);
            if (lib->heif_image_handle_get_raw_color_profile(handle.get(), out.iccProfile.data()).code != heif_error_Ok)
                out.iccProfile.clear();
        }
    } catch (...) {
        // libheif is C++ inside; nothing it throws gets past here.
    }
    return out;
}

enum class Path { Either, ItemTables, Libheif };

std::optional<HeifImage> read(const FileBytes& file, Path path) {
    HeifImage out;
    const auto meta = plausibleLayout(file, out.budgetCut);
    if (!meta) {
        if (out.budgetCut.empty()) return std::nullopt;
        return out;
    }
    const auto metaBytes = readIsoBoxContent(file, *meta, kMaxHeifMetaBoxBytes);
    if (!metaBytes) return std::nullopt;
    const HeifItemTables tables = readHeifItemTables(*metaBytes);
    std::optional<HeifImage> own;
    if (path != Path::Libheif) {
        bool settled = false;
        own = readFromItemTables(file, *metaBytes, tables, settled);
        if (settled) return own;
        if (path == Path::ItemTables) return std::nullopt;
    }
    std::string cut = libheifRefusal(file, tables), notRead;
    if (cut.empty())
        if (auto image = readThroughLibheif(file, *metaBytes, tables, cut, notRead)) return image;
    // libheif could not read it, could not be loaded, or was not let: what
    // the tables read stands, and says it is not all there is.
    if (own) {
        if (notRead.empty()) {
            if (!own->budgetCut.empty()) own->budgetCut += ", ";
            own->budgetCut += (cut.empty() ? "" : cut + ", ") + "the HEIF file could not be read in full";
        }
        own->notRead = notRead;
        return own;
    }
    if (cut.empty() && notRead.empty()) return std::nullopt;
    out.budgetCut = cut;
    out.notRead = notRead;
    return out;
}

}  // namespace

std::optional<HeifImage> readHeif(const FileBytes& file) { return read(file, Path::Either); }

std::optional<HeifImage> readHeifFromItemTables(const FileBytes& file) { return read(file, Path::ItemTables); }

std::optional<HeifImage> readHeifThroughLibheif(const FileBytes& file) { return read(file, Path::Libheif); }

std::optional<DecodedPicture> decodeHeifPreview(const std::string& path, std::uint64_t maxPixels) {
    // Not a FIFO or a device: only a regular file is read, and opening never waits.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const FileBytes file(fd.get());
    std::string cut;
    const auto meta = plausibleLayout(file, cut);
    if (!meta) return std::nullopt;
    const auto metaBytes = readIsoBoxContent(file, *meta, kMaxHeifMetaBoxBytes);
    if (!metaBytes) return std::nullopt;
    const Libheif* lib = libheif().functions;
    if (!lib || !libheifRefusal(file, readHeifItemTables(*metaBytes)).empty()) return std::nullopt;
    try {
        const auto contextFree = [lib](heif_context* c) { lib->heif_context_free(c); };
        std::unique_ptr<heif_context, decltype(contextFree)> context(lib->heif_context_alloc(), contextFree);
        // The coded data is read this time, within the same byte budget.
        BoundedReader reader{file, {}};
        if (!context || lib->heif_context_read_from_reader(context.get(), &kReader, &reader, nullptr).code != heif_error_Ok ||
            reader.overBudget)
            return std::nullopt;
        const auto release = [lib](heif_image_handle* h) { lib->heif_image_handle_release(h); };
        heif_image_handle* raw = nullptr;
        if (lib->heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok || !raw) return std::nullopt;
        std::unique_ptr<heif_image_handle, decltype(release)> handle(raw, release);
        // The file's own thumbnail, where it has one: a few hundred pixels
        // across, it decodes in a fraction of the primary image's time.
        heif_item_id thumbnail = 0;
        heif_image_handle* small = nullptr;
        if (lib->heif_image_handle_get_list_of_thumbnail_IDs(handle.get(), &thumbnail, 1) == 1 &&
            lib->heif_image_handle_get_thumbnail(handle.get(), thumbnail, &small).code == heif_error_Ok && small)
            handle.reset(small);
        const auto width = static_cast<std::uint64_t>(std::max(0, lib->heif_image_handle_get_width(handle.get())));
        const auto height = static_cast<std::uint64_t>(std::max(0, lib->heif_image_handle_get_height(handle.get())));
        if (width == 0 || height == 0 || width * height > maxPixels) return std::nullopt;
        heif_image* decoded = nullptr;
        // Turned and mirrored as the file's own properties say.
        if (lib->heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code !=
                heif_error_Ok ||
            !decoded)
            return std::nullopt;
        const auto imageFree = [lib](heif_image* i) { lib->heif_image_release(i); };
        std::unique_ptr<heif_image, decltype(imageFree)> image(decoded, imageFree);
        int stride = 0;
        const std::uint8_t* plane = lib->heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        const int w = lib->heif_image_get_primary_width(image.get()), h = lib->heif_image_get_primary_height(image.get());
        if (!plane || reader.overBudget || w <= 0 || h <= 0 || stride < w * 4 ||
            static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) > maxPixels)
            return std::nullopt;
        DecodedPicture out{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), {}};
        out.rgba.resize(std::size_t(w) * std::size_t(h) * 4);
        for (int y = 0; y < h; ++y)
            std::memcpy(out.rgba.data() + std::size_t(y) * std::size_t(w) * 4, plane + std::size_t(y) * std::size_t(stride),
                        std::size_t(w) * 4);
        return out;
    } catch (...) {
        // libheif is C++ inside; nothing it throws gets past here.
    }
    return std::nullopt;
}

}  // namespace vesk::platform::image

namespace vesk::platform {

std::string libheifVersion() {
    const auto& loaded = image::libheif();
    return loaded.functions ? loaded.functions->heif_get_version() : "not loaded: " + loaded.error;
}

}  // namespace vesk::platform
