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
    std::uint64_t position = 0;
    std::uint64_t handedOver = 0;
    bool overBudget = false;

    static BoundedReader& of(void* userdata) { return *static_cast<BoundedReader*>(userdata); }

    static std::int64_t getPosition(void* userdata) { return static_cast<std::int64_t>(of(userdata).position); }

    static int read(void* data, std::size_t size, void* userdata) {
        BoundedReader& r = of(userdata);
        const std::span out(static_cast<std::uint8_t*>(data), size);
        if (r.position > r.file.size() || r.file.size() - r.position < size) return -1;
        if (r.overBudget || size > kMaxHeifReadBytes - std::min(r.handedOver, kMaxHeifReadBytes)) {
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
// 'meta' box of a sane size before libheif is given anything.
bool plausibleLayout(const FileBytes& file, std::string& cut) {
    const auto boxes = listIsoBoxes(file, 0, file.size(), kMaxTopLevelBoxes);
    if (boxes.empty() || boxes.front().type != fourcc("ftyp")) return false;
    for (const IsoBox& box : boxes) {
        if (box.type != fourcc("meta")) continue;
        if (box.contentLength > kMaxHeifMetaBoxBytes) {
            cut = "a HEIF 'meta' box of " + std::to_string(box.contentLength >> 20) + " MB not read";
            return false;
        }
        return true;
    }
    return false;
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
    if (!plausibleLayout(file, out.budgetCut)) {
        if (out.budgetCut.empty()) return std::nullopt;
        return out;
    }
    prepareLibheif();
    try {
        std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
        if (!context) return std::nullopt;
        BoundedReader reader{file};
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
