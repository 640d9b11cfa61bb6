// The libheif adapter. libheif reads through a bounded reader over the
// descriptor the image source holds; every error it reports ends the read
// with what was taken so far.
#include "platform/image/HeifReader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/image/IsoBox.h"

namespace vesk::platform::image {
namespace {

constexpr std::size_t kMaxTopLevelBoxes = 64;
constexpr std::size_t kMaxMetaChildren = 256;
constexpr std::uint64_t kMaxItems = 65536;

struct Extent {
    std::uint64_t offset = 0, length = 0;
};

// The file extents of the coded image items ('hvc1' and 'av01' tiles and
// images), read from the 'meta' box's 'iinf' and 'iloc'. libheif 1.15
// reads every item's data while it opens a file; these are only ever needed
// to decode pixels, which Vesk never does, so they are handed over as zeros
// instead of being read. Anything not understood here is read as usual.
std::vector<Extent> codedImageExtents(ByteSpan meta) {
    std::vector<Extent> out;
    const SpanSource source(meta);
    if (meta.size() < 4) return out;
    std::vector<std::uint32_t> coded;  // item IDs
    std::optional<IsoBox> iloc;
    for (const IsoBox& child : listIsoBoxes(source, 4, meta.size(), kMaxMetaChildren)) {
        if (child.type == fourcc("iloc")) iloc = child;
        if (child.type != fourcc("iinf")) continue;
        const auto version = readU8(meta, child.contentOffset);
        if (!version) continue;
        const std::uint64_t entriesAt = child.contentOffset + 4 + (*version == 0 ? 2 : 4);
        for (const IsoBox& infe : listIsoBoxes(source, entriesAt, child.end(), kMaxItems)) {
            if (infe.type != fourcc("infe")) continue;
            const auto v = readU8(meta, infe.contentOffset);
            if (!v || *v < 2) continue;
            const std::uint64_t at = infe.contentOffset + 4;
            const auto id = *v == 2 ? readUnsigned(meta, at, 2, true) : readUnsigned(meta, at, 4, true);
            const auto type = readU32(meta, at + (*v == 2 ? 2 : 4) + 2, true);
            if (id && type && (*type == fourcc("hvc1") || *type == fourcc("av01")))
                coded.push_back(static_cast<std::uint32_t>(*id));
        }
    }
    if (!iloc || coded.empty()) return out;
    std::uint64_t at = iloc->contentOffset;
    const auto version = readU8(meta, at);
    const auto sizes = readU8(meta, at + 4), sizes2 = readU8(meta, at + 5);
    if (!version || !sizes || !sizes2 || *version > 2) return out;
    const std::size_t offsetSize = *sizes >> 4, lengthSize = *sizes & 15, baseSize = *sizes2 >> 4;
    const std::size_t indexSize = *version >= 1 ? (*sizes2 & 15) : 0;
    const auto field = [&](std::size_t width) -> std::optional<std::uint64_t> {
        if (width == 0) return 0;
        auto v = readUnsigned(meta, at, width, true);
        at += width;
        return v;
    };
    at += 6;
    const auto count = field(*version < 2 ? 2 : 4);
    if (!count) return out;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(*count, kMaxItems) && at < iloc->end(); ++i) {
        const auto id = field(*version < 2 ? 2 : 4);
        const auto method = *version >= 1 ? field(2) : std::optional<std::uint64_t>(0);
        const auto reference = field(2);
        const auto base = field(baseSize);
        const auto extents = field(2);
        if (!id || !method || !reference || !base || !extents) return out;
        const bool wanted = (*method & 15) == 0 && *reference == 0 &&
                            std::find(coded.begin(), coded.end(), static_cast<std::uint32_t>(*id)) != coded.end();
        for (std::uint64_t e = 0; e < *extents; ++e) {
            const auto index = field(indexSize);
            const auto offset = field(offsetSize);
            const auto length = field(lengthSize);
            if (!index || !offset || !length) return out;
            if (wanted && *length > 0 && *offset <= UINT64_MAX - *base) out.push_back({*base + *offset, *length});
        }
    }
    return out;
}

void prepareLibheif() {
    static std::once_flag once;
    // Loads the codec plugins once; never undone, as readers run on any thread.
    std::call_once(once, [] { heif_init(nullptr); });
}

// libheif's reader over a file: reads go through the byte toolkit, and the
// bytes handed over are counted against kMaxHeifReadBytes. libheif asserts
// (and so aborts) when a read fails within a size it was told is there, so
// past the budget reads succeed with zeros and the whole result is dropped.
struct BoundedReader {
    const FileBytes& file;
    std::vector<Extent> notNeeded;  // handed over as zeros, never read
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
        const bool notNeeded = size >= 64 && std::any_of(r.notNeeded.begin(), r.notNeeded.end(), [&](const Extent& e) {
            return r.position >= e.offset && r.position - e.offset <= e.length && e.length - (r.position - e.offset) >= size;
        });
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

// The top-level boxes must all fit the file, begin with 'ftyp' and hold one
// 'meta' box of a sane size before libheif is given anything; answers that box.
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

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};

// The metadata blocks of `type` (and, when given, content type), the first
// that libheif hands over within the size budget.
std::optional<std::vector<std::uint8_t>> metadataBlock(const heif_image_handle* handle, const char* type,
                                                       const char* contentType, std::string& cut) {
    heif_item_id ids[16];
    const int n = heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids, 16);
    for (int i = 0; i < n; ++i) {
        if (contentType) {
            const char* ct = heif_image_handle_get_metadata_content_type(handle, ids[i]);
            if (!ct || std::strcmp(ct, contentType) != 0) continue;
        }
        const std::size_t size = heif_image_handle_get_metadata_size(handle, ids[i]);
        if (size == 0) continue;
        if (size > kMaxHeifMetadataBytes) {
            cut = std::string("a HEIF ") + type + " block of " + std::to_string(size >> 20) + " MB not read";
            continue;
        }
        std::vector<std::uint8_t> data(size);
        if (heif_image_handle_get_metadata(handle, ids[i], data.data()).code != heif_error_Ok) continue;
        return data;
    }
    return std::nullopt;
}

}  // namespace

std::optional<HeifImage> readHeif(const FileBytes& file) {
    HeifImage out;
    const auto meta = plausibleLayout(file, out.budgetCut);
    if (!meta) {
        if (out.budgetCut.empty()) return std::nullopt;
        return out;
    }
    const auto metaBytes = readIsoBoxContent(file, *meta, kMaxHeifMetaBoxBytes);
    if (!metaBytes) return std::nullopt;
    prepareLibheif();
    try {
        std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
        if (!context) return std::nullopt;
        BoundedReader reader{file, codedImageExtents(*metaBytes)};
        const bool read = heif_context_read_from_reader(context.get(), &kReader, &reader, nullptr).code == heif_error_Ok;
        if (reader.overBudget) {
            out.budgetCut = "HEIF structures past " + std::to_string(kMaxHeifReadBytes >> 20) + " MB not read";
            return out;
        }
        if (!read) return std::nullopt;
        heif_image_handle* raw = nullptr;
        if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok || !raw) return out;
        std::unique_ptr<heif_image_handle, HandleRelease> handle(raw);

        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        if (width > 0 && height > 0) {
            out.width = static_cast<std::uint32_t>(width);
            out.height = static_cast<std::uint32_t>(height);
        }
        const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
        if (bits > 0 && bits <= 32) out.depth = static_cast<std::uint8_t>(bits);
        out.hasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
        out.monochrome = heif_image_handle_get_chroma_bits_per_pixel(handle.get()) <= 0 && bits > 0;

        // The block starts with the offset of the TIFF header past these 4 bytes.
        if (auto exif = metadataBlock(handle.get(), "Exif", nullptr, out.budgetCut); exif && exif->size() > 4) {
            const std::uint64_t skip = 4 + std::uint64_t{*readU32(*exif, 0, true)};
            if (skip < exif->size()) out.exifTiff.assign(exif->begin() + static_cast<std::ptrdiff_t>(skip), exif->end());
        }
        if (auto xmp = metadataBlock(handle.get(), "mime", "application/rdf+xml", out.budgetCut))
            out.xmp.assign(xmp->begin(), xmp->end());
        const std::size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle.get());
        if (iccSize > 0 && iccSize <= kMaxHeifMetadataBytes) {
            out.iccProfile.resize(iccSize);
            if (heif_image_handle_get_raw_color_profile(handle.get(), out.iccProfile.data()).code != heif_error_Ok)
                out.iccProfile.clear();
        }
    } catch (...) {
        // libheif is C++ inside; nothing it throws gets past here.
    }
    return out;
}

}  // namespace vesk::platform::image
