#include "baseline.h"

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace bench {

std::vector<Value> ReadBaseline(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read the baseline " + path);
    std::vector<Value> values;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.rfind('\t');
        Value v;
        size_t used = 0;
        try {
            if (tab == std::string::npos)
                throw std::invalid_argument("no tab");
            v.name = line.substr(0, tab);
            v.value = std::stoull(line.substr(tab + 1), &used);
        } catch (const std::exception &) {
            used = 0;
        }
        if (used == 0 || tab + 1 + used != line.size())
            throw std::runtime_error(path + ":" + std::to_string(n) + ": expected \"name<TAB>number\"");
        values.push_back(v);
    }
    return values;
}

void WriteBaseline(const std::string &path, const std::vector<Value> &values)
{
    std::ofstream out(path);
    out << "# zerval.sys under the emulator: figures that zerval-bench compares each run with.\n"
           "# Deterministic; rewrite with `zerval-bench --write-baseline bench/baseline.txt`.\n";
    for (const Value &v : values)
        out << v.name << '\t' << v.value << '\n';
    if (!out)
        throw std::runtime_error("cannot write the baseline " + path);
}

Comparison Compare(const std::vector<Value> &baseline, const std::vector<Value> &measured, double tolerance)
{
    std::map<std::string, uint64_t> now;
    for (const Value &v : measured)
        now[v.name] = v.value;
    Comparison c;
    std::map<std::string, bool> known;
    for (const Value &b : baseline) {
        known[b.name] = true;
        const auto it = now.find(b.name);
        if (it == now.end()) {
            c.regressions.push_back({b.name, b.value, 0, true});
            continue;
        }
        const double base = static_cast<double>(b.value);
        const double m = static_cast<double>(it->second);
        if (m > base * (1 + tolerance))
            c.regressions.push_back({b.name, b.value, it->second, false});
        else if (m < base * (1 - tolerance))
            c.improvements.push_back({b.name, b.value, it->second, false});
    }
    for (const Value &v : measured)
        if (!known.count(v.name))
            c.unbaselined.push_back(v.name);
    return c;
}

} // namespace bench
