// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <unordered_set>
#include <vector>

#include "platform/Bytes.h"
#include "platform/FileSystem.h"
#include "platform/Versions.h"

namespace vesk::platform {
namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01.
constexpr double kMacEpochOffset = 978307200.0;

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// "property list over budget (nesting depth 257: more than 256)".
std::string overBudget(std::string_view what, std::uint64_t value, std::uint64_t budget) {
    std::string message = "property list over budget (";
    message += what;
    message += ' ';
    message += std::to_string(value);
    message += ": more than ";
    message += std::to_string(budget);
    message += ')';
    return message;
}

// What the conversion has spent. The scan has bounded the list before
// libplist parsed it; this keeps the conversion bounded on its own too.
struct Spent {
    PropertyListBudget budget;
    std::uint64_t byteLimit = 0;
    std::string overBudget;  // set when a budget was passed
};

bool spendBytes(Spent& spent, std::uint64_t length) {
    spent.budget.expandedBytes += length;
    if (spent.budget.expandedBytes <= spent.byteLimit) return true;
    spent.overBudget = overBudget("expanded bytes", spent.budget.expandedBytes, spent.byteLimit);
    return false;
}

// Text shows an object indented by up to 8 bytes a level of its depth: that
// counts as expanded bytes too, so that a deep list of many small objects,
// within every other budget, cannot make megabytes of indentation.
constexpr std::uint64_t kIndentBytesPerLevel = 8;

// Recursive, but never deeper than the depth budget.
std::optional<Value> fromNode(plist_t node, int depth, Spent& spent) {
    if (!node) return std::nullopt;
    if (depth > kPropertyListMaxDepth) {
        spent.overBudget = overBudget("nesting depth", static_cast<std::uint64_t>(depth), kPropertyListMaxDepth);
        return std::nullopt;
    }
    if (++spent.budget.nodes > kPropertyListMaxNodes) {
        spent.overBudget = overBudget("expanded objects", spent.budget.nodes, kPropertyListMaxNodes);
        return std::nullopt;
    }
    if (!spendBytes(spent, kIndentBytesPerLevel * static_cast<std::uint64_t>(depth))) return std::nullopt;
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
        if (!spendBytes(spent, length)) return std::nullopt;
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
        if (!spendBytes(spent, length)) return std::nullopt;
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
            auto item = fromNode(plist_array_get_item(node, i), depth + 1, spent);
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
            auto value = fromNode(item, depth + 1, spent);
            std::string k = key ? key : "";
            std::free(key);
            if (!value || !spendBytes(spent, k.size())) {
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

// XML 1.0 cannot hold the C0 controls other than tab, newline and carriage
// return, nor U+FFFE and U+FFFF, not even as character references, and a
// strict reader (xmllint, Python's plistlib) refuses the whole file for one of
// them. Such a text is written with each shown as the Dictionary text shows a
// control ("\U0001"): a file that other programs can read is worth more than
// those characters. Bytes that are not UTF-8 are left as they are, so that a
// file name that is not UTF-8 comes back as its bytes. Any other text is
// handed back as it is.
const std::string& xmlText(const std::string& text, std::string& scratch) {
    const auto forbidden = [&text](std::size_t i) -> std::optional<unsigned> {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return c;
        if (c == 0xEF && text.compare(i + 1, 2, "\xBF\xBE") == 0) return 0xFFFE;
        if (c == 0xEF && text.compare(i + 1, 2, "\xBF\xBF") == 0) return 0xFFFF;
        return std::nullopt;
    };
    std::size_t i = 0;
    while (i < text.size() && !forbidden(i)) ++i;
    if (i == text.size()) return text;
    scratch.assign(text, 0, i);
    for (; i < text.size(); ++i) {
        const auto code = forbidden(i);
        if (!code) {
            scratch += text[i];
            continue;
        }
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\U%04x", *code);
        scratch += buf;
        if (*code > 0xFF) i += 2;  // the rest of a three-byte character
    }
    return scratch;
}

plist_t toNode(const Value& v) {
    return std::visit(
        [](const auto& x) -> plist_t {
            using T = std::decay_t<decltype(x)>;
            std::string scratch;
            if constexpr (std::is_same_v<T, std::string>) {
                return plist_new_string(xmlText(x, scratch).c_str());
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
                return plist_new_string(xmlText(x.path, scratch).c_str());
            } else if constexpr (std::is_same_v<T, Array>) {
                plist_t a = plist_new_array();
                for (const auto& item : x) plist_array_append_item(a, toNode(item));
                return a;
            } else {
                plist_t d = plist_new_dict();
                for (const auto& [key, item] : x) {
                    plist_t node = toNode(item);
                    plist_dict_set_item(d, xmlText(key, scratch).c_str(), node);
                }
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

// What the scan before libplist found.
enum class Scan {
    Within,     // within every budget: libplist may parse it
    Malformed,  // no property list libplist could read either: nothing
    Refused,    // over a budget or containing itself: nothing, and why
};

struct ScanResult {
    Scan outcome = Scan::Within;
    std::string reason;
};

ScanResult malformed() { return {Scan::Malformed, {}}; }
ScanResult refused(std::string reason) { return {Scan::Refused, std::move(reason)}; }

constexpr std::size_t kBinaryHeader = 8;
constexpr std::size_t kBinaryTrailer = 32;

// A binary list as its trailer lays it out: objects from the header to the
// offset table, which gives each object's offset; containers hold object
// references (indexes into that table) of the trailer's width.
struct BinaryList {
    std::string_view bytes;
    std::uint64_t end = 0;  // where the trailer starts
    std::size_t offsetSize = 0;
    std::size_t refSize = 0;
    std::uint64_t objects = 0;
    std::uint64_t root = 0;
    std::uint64_t table = 0;

    // An object's kind (its marker's high nibble), its length (entries,
    // bytes or UTF-16 units) and where what it holds starts.
    struct Object {
        unsigned kind;
        std::uint64_t length;
        std::uint64_t contents;
    };

    static std::optional<BinaryList> fromTrailer(std::string_view b) {
        if (b.size() < kBinaryHeader + kBinaryTrailer) return std::nullopt;
        BinaryList list;
        list.bytes = b;
        list.end = b.size() - kBinaryTrailer;
        list.offsetSize = static_cast<std::uint8_t>(b[list.end + 6]);
        list.refSize = static_cast<std::uint8_t>(b[list.end + 7]);
        list.objects = bigEndian(b, list.end + 8, 8);
        list.root = bigEndian(b, list.end + 16, 8);
        list.table = bigEndian(b, list.end + 24, 8);
        if (list.offsetSize < 1 || list.offsetSize > 8 || list.refSize < 1 || list.refSize > 8 ||
            list.table < kBinaryHeader || list.table >= list.end ||
            list.objects > (list.end - list.table) / list.offsetSize || list.root >= list.objects)
            return std::nullopt;
        return list;
    }

    std::uint64_t reference(std::uint64_t at) const {
        return bigEndian(bytes, static_cast<std::size_t>(at), refSize);
    }

    std::optional<Object> object(std::uint64_t index) const {
        if (index >= objects) return std::nullopt;
        const std::uint64_t at =
            bigEndian(bytes, static_cast<std::size_t>(table + index * offsetSize), offsetSize);
        if (at < kBinaryHeader || at >= end) return std::nullopt;
        const auto marker = static_cast<std::uint8_t>(bytes[at]);
        Object o{static_cast<unsigned>(marker >> 4), static_cast<std::uint64_t>(marker & 0x0F), at + 1};
        const bool counted = o.kind == 0x4 || o.kind == 0x5 || o.kind == 0x6 || o.kind == 0x7 || o.kind == 0xA ||
                             o.kind == 0xC || o.kind == 0xD;
        if (counted && o.length == 0x0F) {  // the length follows as an integer object
            if (o.contents >= end) return std::nullopt;
            const auto lengthMarker = static_cast<std::uint8_t>(bytes[o.contents]);
            const std::size_t width = std::size_t{1} << (lengthMarker & 0x0Fu);
            if ((lengthMarker >> 4) != 0x1 || width > 8 || o.contents + 1 + width > end) return std::nullopt;
            o.length = bigEndian(bytes, static_cast<std::size_t>(o.contents + 1), width);
            o.contents += 1 + width;
        }
        return o;
    }
};

// Walks a binary list from its root as libplist would expand it, with a
// stack of its own instead of recursion: an object referred to twice is
// walked twice, so the walk stops at the node budget whatever the list's
// shape, and an object found inside itself is refused.
ScanResult scanBinaryList(std::string_view b, PropertyListBudget& budget, std::uint64_t byteLimit) {
    const auto list = BinaryList::fromTrailer(b);
    if (!list) return malformed();
    struct Container {
        std::uint64_t index;
        std::uint64_t nextReference;
        std::uint64_t referencesLeft;
    };
    std::vector<Container> path;  // the containers above the next object
    std::unordered_set<std::uint64_t> onPath;
    std::uint64_t& nodes = budget.nodes;
    std::uint64_t& expandedBytes = budget.expandedBytes;

    // Nothing while the walk may go on.
    auto visit = [&](std::uint64_t index) -> std::optional<ScanResult> {
        if (++nodes > kPropertyListMaxNodes)
            return refused(overBudget("expanded objects", nodes, kPropertyListMaxNodes));
        if (path.size() > static_cast<std::size_t>(kPropertyListMaxDepth))
            return refused(overBudget("nesting depth", path.size(), kPropertyListMaxDepth));
        expandedBytes += kIndentBytesPerLevel * path.size();
        const auto o = list->object(index);
        if (!o) return malformed();
        const std::uint64_t room = list->end - o->contents;
        switch (o->kind) {
        case 0x4:  // data
        case 0x5:  // ASCII text
        case 0x7:  // UTF-8 text
        case 0x6: {  // UTF-16 text
            const std::uint64_t unit = o->kind == 0x6 ? 2 : 1;
            if (o->length > room / unit) return malformed();
            expandedBytes += o->length * unit;
            break;
        }
        case 0xA:  // array
        case 0xC:  // set
        case 0xD: {  // dictionary: its keys' references, then its values'
            const std::uint64_t perEntry = o->kind == 0xD ? 2 : 1;
            if (o->length > room / list->refSize / perEntry) return malformed();
            if (!onPath.insert(index).second)
                return refused("property list refused (object " + std::to_string(index) + ": contains itself)");
            path.push_back({index, o->contents, o->length * perEntry});
            break;
        }
        default:  // numbers, dates, booleans, UIDs: nothing below them
            break;
        }
        if (expandedBytes > byteLimit) return refused(overBudget("expanded bytes", expandedBytes, byteLimit));
        return std::nullopt;
    };

    if (auto stop = visit(list->root)) return *stop;
    while (!path.empty()) {
        Container& top = path.back();
        if (top.referencesLeft == 0) {
            onPath.erase(top.index);
            path.pop_back();
            continue;
        }
        const std::uint64_t child = list->reference(top.nextReference);
        top.nextReference += list->refSize;
        --top.referencesLeft;
        if (auto stop = visit(child)) return *stop;  // `top` may dangle from here
    }
    return {};
}

// A streaming scan of an XML list's tags for their nesting and number.
// Markup that libplist skips (comments, processing instructions, CDATA, the
// document type) is skipped to its first possible end, never further, so the
// scan counts every tag libplist could open, and perhaps a few it would not.
ScanResult scanXmlList(std::string_view x, PropertyListBudget& budget, std::uint64_t byteLimit) {
    // <plist> and a leaf's own tag sit around the deepest object.
    constexpr std::uint64_t kMaxTagDepth = kPropertyListMaxDepth + 2;
    std::uint64_t depth = 0;
    std::uint64_t& elements = budget.nodes;
    const auto past = [&](std::string_view end, std::size_t from) {
        const std::size_t at = x.find(end, from);
        return at == std::string_view::npos ? x.size() : at + end.size();
    };
    std::size_t i = 0;
    while ((i = x.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = x.substr(i);
        if (rest.starts_with("<?")) {
            i = past("?>", i + 1);
        } else if (rest.starts_with("<!--")) {
            i = past("-->", i + 2);
        } else if (rest.starts_with("<![CDATA[")) {
            i = past("]]>", i + 9);
        } else if (rest.starts_with("<!")) {
            i = past(">", i + 2);
        } else if (rest.starts_with("</")) {
            i = past(">", i + 2);
            if (depth > 0) --depth;
        } else {
            // libplist ends a start tag at the first '>' outside double quotes.
            std::size_t j = i + 1;
            while (j < x.size() && x[j] != '>') {
                if (x[j] == '"') {
                    j = x.find('"', j + 1);
                    if (j == std::string_view::npos) j = x.size();
                }
                if (j < x.size()) ++j;
            }
            if (j >= x.size()) break;  // an unclosed tag: libplist stops there too
            if (++elements > kPropertyListMaxNodes)
                return refused(overBudget("elements", elements, kPropertyListMaxNodes));
            // <plist> and the object's own tag are no levels of its text.
            budget.expandedBytes += kIndentBytesPerLevel * (depth > 1 ? depth - 1 : 0);
            if (budget.expandedBytes > byteLimit)
                return refused(overBudget("expanded bytes", budget.expandedBytes, byteLimit));
            if (x[j - 1] != '/' && ++depth > kMaxTagDepth)
                return refused(overBudget("tag nesting depth", depth, kMaxTagDepth));
            i = j + 1;
        }
    }
    return {};
}

}  // namespace

Result<std::optional<Value>> readPropertyList(std::string_view bytes) {
    PropertyListBudget budget;
    return readPropertyList(bytes, budget);
}

Result<std::optional<Value>> readPropertyList(std::string_view bytes, PropertyListBudget& budget) {
    using Read = Result<std::optional<Value>>;
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return Read::success(std::nullopt);
    // Only shared objects make a list expand beyond its own size, so a list
    // without them is never cut for its bytes.
    const std::uint64_t byteLimit = std::max(kPropertyListMaxExpandedBytes, budget.expandedBytes + bytes.size());
    const auto spendAll = [&budget, byteLimit](std::string reason) {
        budget = {kPropertyListMaxNodes, byteLimit};
        return Read::failure(std::move(reason));
    };
    // Every list is scanned before libplist sees it: see the budgets.
    const PropertyListBudget before = budget;
    PropertyListBudget scanned = budget;
    const ScanResult scan =
        bytes.starts_with("bplist") ? scanBinaryList(bytes, scanned, byteLimit) : scanXmlList(bytes, scanned, byteLimit);
    if (scan.outcome == Scan::Refused) return spendAll(scan.reason);
    if (scan.outcome == Scan::Malformed) {
        budget = scanned;  // the walk so far was work done
        return Read::success(std::nullopt);
    }
    if (binaryListHasTextWithZeroByte(bytes)) return Read::success(std::nullopt);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    PlistPtr owner(root);
    // UTF-16 texts grow by up to a half as UTF-8, which the scan did not count.
    Spent spent{before, 2 * byteLimit, {}};
    auto value = fromNode(root, 0, spent);
    if (!spent.overBudget.empty()) return spendAll(std::move(spent.overBudget));
    budget.nodes = std::max(scanned.nodes, spent.budget.nodes);
    budget.expandedBytes = std::max(scanned.expandedBytes, spent.budget.expandedBytes);
    return Read::success(std::move(value));
}

Result<std::optional<Dictionary>> readDictionaryWithContentsOfFile(const std::string& path) {
    auto bytes = readFileBounded(path, kPropertyListMaxFileBytes);
    if (!bytes) return Result<std::optional<Dictionary>>::success(std::nullopt);
    return readDictionaryFromBytes(*bytes);
}

Result<std::optional<Dictionary>> readDictionaryFromBytes(std::string_view bytes) {
    using Read = Result<std::optional<Dictionary>>;
    if (bytes.size() > kPropertyListMaxFileBytes) return Read::success(std::nullopt);
    auto root = readPropertyList(bytes);
    if (!root) return Read::failure(root.error());
    if (!*root || !(*root)->is<Dictionary>()) return Read::success(std::nullopt);
    return Read::success(std::move(*(*root)->get<Dictionary>()));
}

std::optional<Value> parsePropertyList(std::string_view bytes) {
    auto read = readPropertyList(bytes);
    return read ? std::move(*read) : std::nullopt;
}

std::optional<Dictionary> dictionaryWithContentsOfFile(const std::string& path) {
    auto read = readDictionaryWithContentsOfFile(path);
    return read ? std::move(*read) : std::nullopt;
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

namespace vesk::platform {

std::string libplistVersion() { return VESK_LIBPLIST_VERSION; }

}  // namespace vesk::platform
