// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/CodeSummary.h"

#include <algorithm>

#include "platform/PropertyList.h"
#include "platform/Value.h"
#include "platform/macho/MachOConstants.h"

namespace vesk {

namespace {

namespace pf = platform;
namespace mo = platform::macho;
using Slices = pf::Result<std::vector<mo::SliceDetails>>;

constexpr const char* kDot = " · ";

std::string sliceName(const mo::SliceDetails& slice) { return sliceArchitectureName(slice.cputype, slice.cpusubtype); }

std::string targetText(const mo::PlatformTarget& t) { return mo::platformName(t.platform) + " " + mo::versionText(t.minimum) + "+"; }

std::string signatureText(const mo::CodeSignature& s) {
    if (s.kind == mo::SignatureKind::None) return "unsigned";
    std::string out = s.kind == mo::SignatureKind::AdHoc ? "ad hoc signed" : "signed";
    if (!s.teamId.empty()) out += ", Team " + s.teamId;
    if (s.flags & mo::CS_RUNTIME) out += ", hardened runtime";
    if (s.flags & mo::CS_REQUIRE_LV) out += ", library validation";
    return out;
}

std::string libraryVersions(const mo::LinkedLibrary& library) {
    return mo::versionText(library.currentVersion) + " (compatible " + mo::versionText(library.compatibilityVersion) + ")";
}

// Each different text once, in first-seen order; per slice when they differ.
template <typename F>
std::string perSlice(const std::vector<mo::SliceDetails>& slices, F text) {
    std::vector<std::string> texts;
    for (const auto& slice : slices) texts.push_back(text(slice));
    if (std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t == texts.front(); }))
        return texts.front();
    std::string out;
    for (std::size_t i = 0; i < slices.size(); ++i)
        if (!texts[i].empty()) out += (out.empty() ? "" : "; ") + sliceName(slices[i]) + ": " + texts[i];
    return out;
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string architecturesText(const Slices& slices) {
    if (!slices) return slices.error();
    std::string out;
    for (const auto& slice : *slices) out += (out.empty() ? "" : " + ") + sliceName(slice);
    return out;
}

void add(std::vector<PropertyRow>& rows, const std::string& group, const std::string& key, const std::string& readable,
         const std::string& raw) {
    rows.push_back({group, key, key, readable, raw});
}

void addSliceRows(const std::string& prefix, const mo::SliceDetails& slice, std::vector<PropertyRow>& rows) {
    const std::string group = prefix + sliceName(slice);
    add(rows, group, "File type", mo::fileTypeName(slice.filetype), pf::hexText(slice.filetype));
    add(rows, group, "CPU", sliceName(slice),
        pf::hexText(static_cast<std::uint32_t>(slice.cputype)) + " " + pf::hexText(static_cast<std::uint32_t>(slice.cpusubtype)));
    for (const auto& t : slice.targets)
        add(rows, group, "Platform", targetText(t) + ", SDK " + mo::versionText(t.sdk),
            t.fromBuildVersion ? "LC_BUILD_VERSION" : "LC_VERSION_MIN");
    if (slice.uuid) add(rows, group, "UUID", mo::uuidText(*slice.uuid), mo::uuidText(*slice.uuid));
    if (slice.installName)
        add(rows, group, "Install name", slice.installName->name, libraryVersions(*slice.installName));
    for (const auto& path : slice.rpaths) add(rows, group, "Run path", path, "LC_RPATH");
    add(rows, group, "Load commands", std::to_string(slice.loadCommands), pf::hexText(slice.flags));

    const std::string libraries = group + kDot + "Libraries";
    for (const auto& library : slice.libraries)
        add(rows, libraries, library.name, library.kind, libraryVersions(library));

    const std::string signature = group + kDot + "Signature";
    const auto& s = slice.signature;
    add(rows, signature, "Signature", signatureText(s), std::to_string(s.blobCount) + " blobs");
    if (s.kind == mo::SignatureKind::None) return;
    add(rows, signature, "Identifier", s.identifier, s.identifier);
    if (!s.teamId.empty()) add(rows, signature, "Team ID", s.teamId, s.teamId);
    std::string flags;
    for (const auto& name : mo::signatureFlagNames(s.flags)) flags += (flags.empty() ? "" : ", ") + name;
    add(rows, signature, "Flags", flags.empty() ? "none" : flags, pf::hexText(s.flags));
    if (!s.cdHash.empty()) add(rows, signature, "CDHash", s.cdHash, "SHA-256, first 20 bytes");
    if (!s.entitlements.empty()) add(rows, signature, "Entitlements", "XML, " + count(s.entitlements.size(), "byte", "bytes"), s.entitlements);
    if (s.derEntitlementBytes)
        add(rows, signature, "DER entitlements", count(s.derEntitlementBytes, "byte", "bytes"), "DER");
    // Each entitlement a row of its own, as the XML names it.
    if (const auto plist = pf::parsePropertyList(s.entitlements))
        if (const auto* entitlements = plist->get<pf::Dictionary>())
            for (const auto& [key, value] : *entitlements) {
                const std::string text = value.get<bool>() ? (*value.get<bool>() ? "yes" : "no") : pf::describe(&value);
                add(rows, group + kDot + "Entitlements", key, text, pf::describe(&value));
            }
}

void addSlicesRows(const std::string& prefix, const Slices& slices, std::vector<PropertyRow>& rows) {
    if (!slices) {
        add(rows, prefix.empty() ? "Code" : prefix.substr(0, prefix.size() - std::string(kDot).size()), "Error",
            slices.error(), slices.error());
        return;
    }
    for (const auto& slice : *slices) addSliceRows(prefix, slice, rows);
}

std::string stringArray(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? ", " : "") + pf::jsonString(texts[i]);
    return out + "]";
}

std::string libraryJson(const mo::LinkedLibrary& l) {
    return "{\"name\": " + pf::jsonString(l.name) + ", \"kind\": " + pf::jsonString(l.kind) +
           ", \"currentVersion\": " + pf::jsonString(mo::versionText(l.currentVersion)) +
           ", \"compatibilityVersion\": " + pf::jsonString(mo::versionText(l.compatibilityVersion)) + "}";
}

std::string sliceJson(const mo::SliceDetails& slice) {
    std::string out = "{\"architecture\": " + pf::jsonString(sliceName(slice)) +
                      ", \"cputype\": " + std::to_string(slice.cputype) +
                      ", \"cpusubtype\": " + std::to_string(slice.cpusubtype) +
                      ", \"fileType\": " + pf::jsonString(mo::fileTypeName(slice.filetype)) + ", \"platforms\": [";
    for (std::size_t i = 0; i < slice.targets.size(); ++i) {
        const auto& t = slice.targets[i];
        out += (i ? ", " : "") + std::string("{\"platform\": ") + pf::jsonString(mo::platformName(t.platform)) +
               ", \"minimum\": " + pf::jsonString(mo::versionText(t.minimum)) +
               ", \"sdk\": " + pf::jsonString(mo::versionText(t.sdk)) +
               ", \"command\": " + pf::jsonString(t.fromBuildVersion ? "LC_BUILD_VERSION" : "LC_VERSION_MIN") + "}";
    }
    out += "], \"uuid\": " + (slice.uuid ? pf::jsonString(mo::uuidText(*slice.uuid)) : std::string("null"));
    out += ", \"installName\": " + (slice.installName ? libraryJson(*slice.installName) : std::string("null"));
    out += ", \"libraries\": [";
    for (std::size_t i = 0; i < slice.libraries.size(); ++i) out += (i ? ", " : "") + libraryJson(slice.libraries[i]);
    out += "], \"rpaths\": " + stringArray(slice.rpaths);
    const auto& s = slice.signature;
    static constexpr const char* kKinds[] = {"none", "adhoc", "signed"};
    out += ", \"signature\": {\"kind\": " + pf::jsonString(kKinds[static_cast<int>(s.kind)]);
    if (s.kind != mo::SignatureKind::None) {
        out += ", \"identifier\": " + pf::jsonString(s.identifier) +
               ", \"teamId\": " + (s.teamId.empty() ? std::string("null") : pf::jsonString(s.teamId)) +
               ", \"flags\": " + stringArray(mo::signatureFlagNames(s.flags)) +
               ", \"cdHash\": " + (s.cdHash.empty() ? std::string("null") : pf::jsonString(s.cdHash)) +
               ", \"entitlements\": " + (s.entitlements.empty() ? std::string("null") : pf::jsonString(s.entitlements)) +
               ", \"derEntitlementBytes\": " + std::to_string(s.derEntitlementBytes);
    }
    return out + "}}";
}

std::string slicesJson(const Slices& slices) {
    std::string out = "\"slices\": [";
    if (slices)
        for (std::size_t i = 0; i < slices->size(); ++i) out += (i ? ", " : "") + sliceJson((*slices)[i]);
    return out + "], \"error\": " + (slices ? std::string("null") : pf::jsonString(slices.error()));
}

std::vector<std::string> asksFor(const mo::BundleDetails& details) {
    std::vector<std::string> names;
    for (const auto& [key, reason] : details.usage)
        if (std::string name = mo::usageName(key); std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    return names;
}

}  // namespace

CodeReading readCode(const std::string& path, ReportKind kind) {
    CodeReading code;
    code.bundle = kind == ReportKind::Bundle;
    if (code.bundle)
        code.details = mo::readBundleDetails(path);
    else
        code.details.executable = mo::readCodeDetailsOfFile(path);
    return code;
}

std::string codeLine(const Slices& slices) {
    if (!slices) return slices.error();
    if (slices->empty()) return {};
    std::string out = architecturesText(slices);
    const std::string targets = perSlice(*slices, [](const mo::SliceDetails& s) {
        std::string text;
        for (const auto& t : s.targets) text += (text.empty() ? "" : ", ") + targetText(t);
        return text;
    });
    if (!targets.empty()) out += kDot + targets;
    const std::string sdks = perSlice(*slices, [](const mo::SliceDetails& s) {
        return s.targets.empty() ? std::string() : "SDK " + mo::versionText(s.targets.front().sdk);
    });
    if (!sdks.empty()) out += kDot + sdks;
    out += kDot + perSlice(*slices, [](const mo::SliceDetails& s) { return signatureText(s.signature); });
    std::vector<std::string> names;
    for (const auto& slice : *slices)
        for (const auto& library : slice.libraries)
            if (std::find(names.begin(), names.end(), library.name) == names.end()) names.push_back(library.name);
    return out + kDot + count(names.size(), "library", "libraries");
}

void addCodeSummary(const CodeReading& code, Summary& summary) {
    const auto& d = code.details;
    if (const std::string line = codeLine(d.executable); !line.empty()) summary.lines.push_back({"Code", line});
    if (!code.bundle) return;
    for (const auto& [key, text] : d.identity) {
        if (key == std::string_view("CFBundleIdentifier")) summary.lines.push_back({"Identifier", text});
        if (key == std::string_view("CFBundleShortVersionString")) summary.lines.push_back({"Version", text});
    }
    if (!d.nested.empty()) {
        std::string nested;
        for (const auto& n : d.nested) nested += (nested.empty() ? "" : ", ") + n.relativePath.substr(n.relativePath.rfind('/') + 1);
        summary.lines.push_back({"Contains", nested});
    }
    summary.asksFor = asksFor(d);
}

std::vector<PropertyRow> codeRows(const CodeReading& code) {
    std::vector<PropertyRow> rows;
    const auto& d = code.details;
    if (!code.bundle) {
        addSlicesRows("", d.executable, rows);
        return rows;
    }
    for (const auto& [key, text] : d.identity) add(rows, "Bundle", key, text, text);
    for (const auto& [key, reason] : d.usage) add(rows, "Bundle", key, "asks for " + mo::usageName(key), reason);
    const std::string executable = d.executableName.empty() ? "Executable" : d.executableName;
    addSlicesRows(executable + kDot, d.executable, rows);
    for (const auto& n : d.nested) add(rows, "Nested code", n.relativePath, architecturesText(n.slices), codeLine(n.slices));
    if (d.nestedCut) add(rows, "Nested code", "…", "more nested code than the tree lists", "");
    return rows;
}

std::string codeJson(const CodeReading& code) {
    const auto& d = code.details;
    std::string out = "{\"bundle\": ";
    if (code.bundle) {
        out += "{\"identity\": {";
        for (std::size_t i = 0; i < d.identity.size(); ++i)
            out += (i ? ", " : "") + pf::jsonString(d.identity[i].first) + ": " + pf::jsonString(d.identity[i].second);
        out += "}, \"asksFor\": " + stringArray(asksFor(d)) + ", \"usage\": {";
        for (std::size_t i = 0; i < d.usage.size(); ++i)
            out += (i ? ", " : "") + pf::jsonString(d.usage[i].first) + ": " + pf::jsonString(d.usage[i].second);
        out += "}, \"executable\": " + (d.executableName.empty() ? std::string("null") : pf::jsonString(d.executableName));
        out += ", \"nested\": [";
        for (std::size_t i = 0; i < d.nested.size(); ++i) {
            const auto& n = d.nested[i];
            std::vector<std::string> archs;
            if (n.slices)
                for (const auto& s : *n.slices) archs.push_back(sliceName(s));
            out += (i ? ", " : "") + std::string("{\"path\": ") + pf::jsonString(n.relativePath) +
                   ", \"architectures\": " + stringArray(archs) +
                   ", \"error\": " + (n.slices ? std::string("null") : pf::jsonString(n.slices.error())) + "}";
        }
        out += "]}";
    } else {
        out += "null";
    }
    return out + ", " + slicesJson(d.executable) + "}";
}

}  // namespace vesk
