#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/Bytes.h"
#include "platform/FileSystem.h"

namespace vesk::platform {
namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01.
constexpr double kMacEpochOffset = 978307200.0;
// Property lists nest rarely beyond a handful of levels; a deep one is hostile.
constexpr int kMaxDepth = 256;

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<Value> fromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t u = 0;
        plist_get_uint_val(node, &u);
        // libplist keeps negative integers in two's complement.
        return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING: {
        // The copying getter asserts that the text holds no zero byte, which a
        // binary list can break; the pointer getter takes the stored length.
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return Value(text ? std::string(text, length) : std::string());
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return Value(Date{sec + usec / 1e6 + kMacEpochOffset});
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
        return Value(bytes ? Data(bytes, bytes + length) : Data());
    }
    case PLIST_UID: {
        std::uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return Value(Dictionary{{"CF$UID", Value(static_cast<std::int64_t>(uid))}});
    }
    case PLIST_ARRAY: {
        Array array;
        const std::uint32_t n = plist_array_get_size(node);
        array.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            auto item = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!item) return std::nullopt;
            array.push_back(std::move(*item));
        }
        return Value(std::move(array));
    }
    case PLIST_DICT: {
        Dictionary dict;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            auto value = fromNode(item, depth + 1);
            std::string k = key ? key : "";
            std::free(key);
            if (!value) {
                std::free(it);
                return std::nullopt;
            }
            dict.insert_or_assign(std::move(k), std::move(*value));
        }
        std::free(it);
        return Value(std::move(dict));
    }
    default:
        return std::nullopt;
    }
}

plist_t toNode(const Value& v) {
    return std::visit(
        [](const auto& x) -> plist_t {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return plist_new_string(x.c_str());
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return plist_new_uint(static_cast<std::uint64_t>(x));
            } else if constexpr (std::is_same_v<T, double>) {
                return plist_new_real(x);
            } else if constexpr (std::is_same_v<T, bool>) {
                return plist_new_bool(x ? 1 : 0);
            } else if constexpr (std::is_same_v<T, Date>) {
                const double since2001 = x.secondsSince1970 - kMacEpochOffset;
                const auto sec = static_cast<std::int32_t>(since2001);
                return plist_new_date(sec, static_cast<std::int32_t>((since2001 - sec) * 1e6));
            } else if constexpr (std::is_same_v<T, Data>) {
                return plist_new_data(reinterpret_cast<const char*>(x.data()), x.size());
            } else if constexpr (std::is_same_v<T, Url>) {
                return plist_new_string(x.path.c_str());
            } else if constexpr (std::is_same_v<T, Array>) {
                plist_t a = plist_new_array();
                for (const auto& item : x) plist_array_append_item(a, toNode(item));
                return a;
            } else {
                plist_t d = plist_new_dict();
                for (const auto& [key, item] : x) plist_dict_set_item(d, key.c_str(), toNode(item));
                return d;
            }
        },
        v.storage());
}

// Binary lists are big-endian throughout; callers have checked that the
// field lies inside the list.
std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t width) {
    const ByteSpan span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return readUnsigned(span, at, width, true).value_or(0);
}

// libplist asserts, and so aborts the process, when a key of a binary list
// holds a zero byte. Such a list is refused before libplist sees it: every
// text object is looked at through the offset table, within bounds.
bool binaryListHasTextWithZeroByte(std::string_view b) {
    constexpr std::size_t kHeader = 8, kTrailer = 32;
    if (b.size() < kHeader + kTrailer || b.substr(0, 8) != "bplist00") return false;
    const std::size_t trailer = b.size() - kTrailer;
    const std::size_t offsetSize = static_cast<std::uint8_t>(b[trailer + 6]);
    const std::uint64_t count = bigEndian(b, trailer + 8, 8);
    const std::uint64_t table = bigEndian(b, trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || table >= trailer || count > (trailer - table) / offsetSize)
        return false;  // malformed: libplist refuses it on its own
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = bigEndian(b, static_cast<std::size_t>(table + i * offsetSize), offsetSize);
        if (at >= trailer) continue;
        const auto marker = static_cast<std::uint8_t>(b[at]);
        const unsigned kind = marker >> 4;
        if (kind != 0x5 && kind != 0x6) continue;  // ASCII and UTF-16 texts
        std::uint64_t length = marker & 0x0F;
        std::uint64_t start = at + 1;
        if (length == 0x0F) {  // the length follows as an integer object
            if (start >= trailer || (static_cast<std::uint8_t>(b[start]) >> 4) != 0x1) continue;
            const std::size_t width = std::size_t{1} << (static_cast<std::uint8_t>(b[start]) & 0x03);
            if (start + 1 + width > trailer) continue;
            length = bigEndian(b, static_cast<std::size_t>(start + 1), width);
            start += 1 + width;
        }
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        if (start > trailer || length > (trailer - start) / unit) continue;
        for (std::uint64_t k = 0; k < length; ++k) {
            const std::size_t p = static_cast<std::size_t>(start + k * unit);
            if (b[p] == '\0' && (unit == 1 || b[p + 1] == '\0')) return true;
        }
    }
    return false;
}

}  // namespace

std::optional<Value> parsePropertyList(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    if (binaryListHasTextWithZeroByte(bytes)) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    PlistPtr owner(root);
    return fromNode(root, 0);
}

std::optional<Dictionary> dictionaryWithContentsOfFile(const std::string& path) {
    // A property list worth showing in a text field is far below this.
    constexpr std::size_t kMaxPlistBytes = 16 * 1024 * 1024;
    auto bytes = readFileBounded(path, kMaxPlistBytes);
    if (!bytes) return std::nullopt;
    auto root = parsePropertyList(*bytes);
    if (!root || !root->is<Dictionary>()) return std::nullopt;
    return std::move(*root->get<Dictionary>());
}

std::string toXmlPropertyList(const Value& value) {
    PlistPtr root(toNode(value));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string out(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    return out;
}

}  // namespace vesk::platform
