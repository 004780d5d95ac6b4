// The adapter model's answer to a mode query.
#include <algorithm>

#include "profile.h"
#include "zerval_hooks.h"

namespace sim {

static bool Listed(const std::vector<uint16_t> &list, uint16_t value)
{
    return list.empty() || std::find(list.begin(), list.end(), value) != list.end();
}

static bool ControllerCan(const Profile &p, const Query &q, uint16_t rate)
{
    const uint64_t pixels = uint64_t(q.width) * q.height;
    if (q.width == 0 || q.height == 0 || !Listed(p.depths, q.bitsPerPixel) || !Listed(p.rates, rate))
        return false;
    if ((p.maxWidth && q.width > p.maxWidth) || (p.maxHeight && q.height > p.maxHeight))
        return false;
    if (p.videoMemoryBytes && pixels * ((q.bitsPerPixel + 7u) / 8u) > p.videoMemoryBytes)
        return false;
    return !(p.maxPixelRate && pixels * rate > p.maxPixelRate);
}

static bool MonitorCan(const Profile &p, const Query &q, uint16_t rate)
{
    if ((p.monitorMinRefresh && rate < p.monitorMinRefresh) || (p.monitorMaxRefresh && rate > p.monitorMaxRefresh))
        return false;
    if (p.monitorMaxLineRate && uint64_t(q.height) * rate > p.monitorMaxLineRate)
        return false;
    if (p.monitorMaxPixelRate && uint64_t(q.width) * q.height * rate > p.monitorMaxPixelRate)
        return false;
    return p.monitorModes.empty() ||
           std::find(p.monitorModes.begin(), p.monitorModes.end(), text::MonitorMode{q.width, q.height, rate}) !=
               p.monitorModes.end();
}

Decision Decide(const Profile &p, const Query &query)
{
    Decision d;
    d.answer = query;
    const uint16_t rate = (query.flags & ZERVAL_QUERY_DEFAULT_REFRESH) ? p.defaultRefresh : query.refresh;
    d.answer.refresh = rate;
    d.accepted = ControllerCan(p, query, rate) &&
                 ((query.flags & ZERVAL_QUERY_ENUMERATE) || MonitorCan(p, query, rate));
    if (d.accepted) {
        const bool tv = p.tvAttributes && query.width <= p.tvMaxWidth && query.height <= p.tvMaxHeight;
        d.answer.attributes = p.attributes | (tv ? p.tvAttributes : 0);
    }
    return d;
}

} // namespace sim
