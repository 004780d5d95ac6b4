#include "inf_check.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return "";
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// Physical lines joined where one ends in '\' (outside a comment), comments
// removed (a ';' outside quotes), with the number of each joined line's first.
std::vector<std::pair<int, std::string>> LogicalLines(const std::string &text)
{
    std::vector<std::pair<int, std::string>> out;
    std::istringstream in(text);
    std::string line, pending;
    int number = 0, first = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string kept;
        bool quoted = false;
        for (char c : line) {
            if (c == '"')
                quoted = !quoted;
            if (c == ';' && !quoted)
                break;
            kept.push_back(c);
        }
        kept = Trim(kept);
        if (pending.empty())
            first = number;
        if (!kept.empty() && kept.back() == '\\') {
            kept.pop_back();
            pending += kept;
            continue;
        }
        pending += kept;
        if (!Trim(pending).empty())
            out.push_back({first, Trim(pending)});
        pending.clear();
    }
    if (!Trim(pending).empty())
        out.push_back({first, Trim(pending)});
    return out;
}

// Fields split at commas outside quotes; each trimmed, its quotes removed
// ("" inside quotes is one ").
std::vector<std::string> Fields(const std::string &value)
{
    std::vector<std::string> out;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i <= value.size(); ++i) {
        const char c = i < value.size() ? value[i] : ',';
        if (c == '"') {
            if (quoted && i + 1 < value.size() && value[i + 1] == '"') {
                field.push_back('"');
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (c == ',' && !quoted) {
            out.push_back(Trim(field));
            field.clear();
            continue;
        }
        field.push_back(c);
    }
    return out;
}

} // namespace

const std::vector<InfLine> *Inf::section(const std::string &name) const
{
    const auto it = sections.find(Lower(name));
    return it == sections.end() ? nullptr : &it->second;
}

std::string Inf::value(const std::string &name, const std::string &key) const
{
    if (const auto *lines = section(name))
        for (const InfLine &l : *lines)
            if (Lower(l.key) == Lower(key) && !l.fields.empty())
                return l.fields[0];
    return "";
}

Inf ReadInf(const std::string &text)
{
    Inf inf;
    struct Raw {
        int number;
        std::string section, key, value;
    };
    std::vector<Raw> raw;
    std::map<std::string, std::string> strings;  // lower-cased token -> text
    std::string current;
    for (const auto &[number, line] : LogicalLines(text)) {
        if (line.front() == '[') {
            const size_t close = line.find(']');
            if (close == std::string::npos || Trim(line.substr(close + 1)) != "") {
                inf.faults.push_back("line " + std::to_string(number) + ": a malformed section header: " + line);
                continue;
            }
            current = Lower(Trim(line.substr(1, close - 1)));
            inf.sections[current];
            continue;
        }
        if (current.empty()) {
            inf.faults.push_back("line " + std::to_string(number) + ": an entry before any section");
            continue;
        }
        // '=' outside quotes splits the key from the value.
        size_t eq = std::string::npos;
        bool quoted = false;
        for (size_t i = 0; i < line.size() && eq == std::string::npos; ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (line[i] == '=' && !quoted)
                eq = i;
        }
        Raw r{number, current, "", line};
        if (eq != std::string::npos) {
            r.key = Trim(line.substr(0, eq));
            r.value = Trim(line.substr(eq + 1));
        }
        if (current == "strings") {
            if (r.key.empty())
                inf.faults.push_back("line " + std::to_string(number) + ": a [Strings] line without a key");
            else
                strings[Lower(r.key)] = Fields(r.value).empty() ? "" : Fields(r.value)[0];
        }
        raw.push_back(r);
    }
    // %token%: from [Strings]; %% is a percent sign; %number% a directory id,
    // kept as it stands.
    auto replace = [&](const std::string &s, int number) {
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '%') {
                out.push_back(s[i]);
                continue;
            }
            const size_t close = s.find('%', i + 1);
            if (close == std::string::npos) {
                inf.faults.push_back("line " + std::to_string(number) + ": an unterminated %token% in " + s);
                return out + s.substr(i);
            }
            const std::string token = s.substr(i + 1, close - i - 1);
            if (token.empty())
                out.push_back('%');
            else if (std::all_of(token.begin(), token.end(), [](unsigned char c) { return std::isdigit(c); }))
                out += "%" + token + "%";
            else if (strings.count(Lower(token)))
                out += strings[Lower(token)];
            else
                inf.faults.push_back("line " + std::to_string(number) + ": %" + token + "% is not in [Strings]");
            i = close;
        }
        return out;
    };
    for (const Raw &r : raw) {
        InfLine l;
        l.number = r.number;
        l.key = replace(r.key, r.number);
        for (const std::string &f : Fields(r.value))
            l.fields.push_back(r.section == "strings" ? f : replace(f, r.number));
        inf.sections[r.section].push_back(l);
    }
    return inf;
}

InfPackage CheckDriverPackage(const std::string &text, const std::string &sourceRoot)
{
    const Inf inf = ReadInf(text);
    InfPackage pkg;
    pkg.faults = inf.faults;
    auto fault = [&](const std::string &s) { pkg.faults.push_back(s); };
    auto need = [&](const std::string &name, const std::string &why) {
        if (inf.section(name) == nullptr)
            fault("no [" + name + "] section (" + why + ")");
        return inf.section(name);
    };

    // [Version]: an NT INF of a display adapter, its provider and version.
    if (need("Version", "every INF has one")) {
        const std::string signature = Lower(inf.value("Version", "Signature"));
        if (signature != "$windows nt$" && signature != "$chicago$")
            fault("[Version] Signature is '" + inf.value("Version", "Signature") + "', not \"$Windows NT$\"");
        for (const char *key : {"Class", "ClassGUID", "Provider", "DriverVer"})
            if (inf.value("Version", key).empty())
                fault(std::string("[Version] has no ") + key);
        if (!std::regex_match(inf.value("Version", "ClassGUID"),
                              std::regex("\\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\\}")))
            fault("[Version] ClassGUID '" + inf.value("Version", "ClassGUID") + "' is not a braced GUID");
        const auto *version = inf.section("Version");
        for (const InfLine &l : *version)
            if (Lower(l.key) == "driverver") {
                if (l.fields.size() != 2 || !std::regex_match(l.fields[0], std::regex("\\d\\d/\\d\\d/\\d{4}")) ||
                    !std::regex_match(l.fields[1], std::regex("\\d+(\\.\\d+){3}")))
                    fault("line " + std::to_string(l.number) + ": DriverVer is not mm/dd/yyyy,w.x.y.z");
                else
                    pkg.driverVersion = l.fields[1];
            }
    }

    // Source disks and files: each file's disk is listed; its place under
    // the source root is the disk's path (fourth field) and the file's
    // subfolder (second field).
    std::map<std::string, std::string> diskPaths;
    if (const auto *disks = need("SourceDisksNames", "where the files come from"))
        for (const InfLine &l : *disks)
            diskPaths[l.key] = l.fields.size() > 3 ? l.fields[3] : "";
    std::map<std::string, std::string> filePlaces;  // lower-cased name -> path
    if (const auto *files = need("SourceDisksFiles", "which disk each file is on"))
        for (const InfLine &l : *files) {
            const std::string disk = l.fields.empty() ? "" : l.fields[0];
            if (!diskPaths.count(disk)) {
                fault("line " + std::to_string(l.number) + ": " + l.key + " is on disk '" + disk +
                      "', which [SourceDisksNames] does not list");
                continue;
            }
            std::string place = diskPaths[disk] + "/" + (l.fields.size() > 1 ? l.fields[1] : "") + "/" + l.key;
            std::replace(place.begin(), place.end(), '\\', '/');
            filePlaces[Lower(l.key)] = place;
        }

    // Models: [Manufacturer] -> models section -> install section.
    std::vector<std::string> installs;
    if (const auto *makers = need("Manufacturer", "who makes the device"))
        for (const InfLine &l : *makers) {
            const std::string models = l.fields.empty() ? "" : l.fields[0];
            const auto *modelLines = need(models, "the models of " + l.key);
            if (modelLines == nullptr)
                continue;
            for (const InfLine &m : *modelLines) {
                if (m.fields.size() < 2 || m.fields[1].empty())
                    fault("line " + std::to_string(m.number) + ": model " + m.key + " has no hardware ID");
                if (!m.fields.empty() && need(m.fields[0], "the install section of " + m.key))
                    installs.push_back(m.fields[0]);
            }
        }
    if (installs.empty())
        fault("no model names an install section");

    std::set<std::string> copiedLower;
    for (const std::string &install : installs) {
        const auto *lines = inf.section(install);
        for (const InfLine &l : *lines) {
            if (Lower(l.key) != "copyfiles")
                continue;
            for (const std::string &copy : l.fields) {
                const auto *files = need(copy, "CopyFiles of [" + install + "]");
                if (files == nullptr)
                    continue;
                std::string dirid = inf.value("DestinationDirs", copy);
                if (dirid.empty())
                    dirid = inf.value("DestinationDirs", "DefaultDestDir");
                if (dirid != "12")
                    fault("[" + copy + "] goes to directory id '" + dirid + "', not 12 (the drivers folder)");
                for (const InfLine &f : *files) {
                    const std::string name = f.key.empty() ? (f.fields.empty() ? "" : f.fields[0]) : f.key;
                    pkg.copied.push_back(name);
                    copiedLower.insert(Lower(name));
                    if (!filePlaces.count(Lower(name)))
                        fault("line " + std::to_string(f.number) + ": " + name + " is not in [SourceDisksFiles]");
                    else if (!std::filesystem::is_regular_file(sourceRoot + "/" + filePlaces[Lower(name)]))
                        fault("line " + std::to_string(f.number) + ": " + name + " is not at " +
                              filePlaces[Lower(name)] + " under " + sourceRoot);
                }
            }
        }
        // [install.Services]: AddService = name, flags, service-install-section.
        const auto *services = inf.section(install + ".Services");
        if (services == nullptr) {
            fault("no [" + install + ".Services] section (the services the package adds)");
            continue;
        }
        for (const InfLine &l : *services) {
            if (Lower(l.key) != "addservice")
                continue;
            if (l.fields.size() < 3 || l.fields[0].empty()) {
                fault("line " + std::to_string(l.number) + ": AddService needs a name, flags and an install section");
                continue;
            }
            pkg.services.push_back(l.fields[0]);
            const auto *service = need(l.fields[2], "how service " + l.fields[0] + " is installed");
            if (service == nullptr)
                continue;
            for (const char *key : {"ServiceType", "StartType", "ErrorControl", "ServiceBinary"})
                if (inf.value(l.fields[2], key).empty())
                    fault("[" + l.fields[2] + "] has no " + key);
            const std::string binary = inf.value(l.fields[2], "ServiceBinary");
            const std::string prefix = "%12%\\";
            if (binary.rfind(prefix, 0) != 0)
                fault("[" + l.fields[2] + "] ServiceBinary '" + binary + "' is not in the drivers folder (%12%\\)");
            else if (!copiedLower.count(Lower(binary.substr(prefix.size()))))
                fault("service " + l.fields[0] + "'s image " + binary.substr(prefix.size()) +
                      " is not among the files copied");
        }
    }
    return pkg;
}
