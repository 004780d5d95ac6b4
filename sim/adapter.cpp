#include "adapter.h"

#include <algorithm>

namespace sim {

void Adapter::after(Callee callee)
{
    if (afterHook && table_ != nullptr)
        afterHook(*table_, callee);
}

uint32_t Adapter::attachRmx(uint64_t context, uint64_t param)
{
    CallRecord c{Callee::AttachRMX};
    c.args = {context, param};
    log_.add(c);
    return 0;
}

uint32_t Adapter::attach(uint64_t context, uint64_t param, HookTable &table, uint64_t attachParam)
{
    table_ = &table;
    CallRecord c{Callee::Attach};
    c.args = {context, param, 0, attachParam};
    c.table = table.view();
    log_.add(c);
    if (onAttach) {
        onAttach(table);
    } else {
        for (int h = 0; h < kHookCount - 1; ++h)
            if (profile.hooks & HookBit(static_cast<Hook>(h)))
                table.fill(static_cast<Hook>(h));
    }
    return 0;
}

uint32_t Adapter::init(InitBuffer &buffer, Entry via)
{
    CallRecord c{Callee::Init};
    c.via = via;
    c.bufferZero = std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; });
    c.result = onInit ? onInit(buffer) : (profile.initSucceeds ? 1u : 0u);
    buffer.fill(kInitBufferFill);
    log_.add(c);
    after(Callee::Init);
    return static_cast<uint32_t>(c.result);
}

uint32_t Adapter::queryMode(Query &query, uint32_t zero, const RawQuery *raw, Entry via)
{
    CallRecord c{Callee::QueryMode};
    c.via = via;
    if (raw != nullptr)
        c.raw = *raw;
    c.args = {0, zero};
    c.in = query;
    if (onQueryMode) {
        c.result = onQueryMode(query);
    } else {
        const Decision d = Decide(profile, query);
        query = d.answer;
        c.result = d.accepted ? 1u : 0u;
    }
    c.out = query;
    log_.add(c);
    after(Callee::QueryMode);
    return static_cast<uint32_t>(c.result);
}

uint32_t Adapter::setMode(const Query &query, uint32_t zero, uint32_t option, Entry via)
{
    CallRecord c{Callee::SetMode};
    c.via = via;
    c.args = {0, zero, option};
    c.in = query;
    c.result = onSetMode ? onSetMode(query, option) : (Decide(profile, query).accepted ? 1u : 0u);
    log_.add(c);
    after(Callee::SetMode);
    return static_cast<uint32_t>(c.result);
}

int32_t Adapter::passThrough(uint32_t a, uint32_t b, uint32_t c3, Entry via)
{
    CallRecord c{Callee::PassThrough};
    c.via = via;
    c.args = {a, b, c3};
    const int32_t r = onPassThrough ? onPassThrough(a, b, c3) : profile.passThroughResult;
    c.result = static_cast<uint32_t>(r);
    log_.add(c);
    after(Callee::PassThrough);
    return r;
}

uint32_t Adapter::function(uint32_t value, Entry via)
{
    CallRecord c{Callee::Function};
    c.via = via;
    c.args = {value};
    c.result = onFunction ? onFunction(value) : profile.functionResult;
    log_.add(c);
    after(Callee::Function);
    return static_cast<uint32_t>(c.result);
}

uint32_t Adapter::getFreeFramebufferSize(Entry via)
{
    CallRecord c{Callee::GetFreeFramebufferSize};
    c.via = via;
    c.result = onGetFreeFramebufferSize ? onGetFreeFramebufferSize() : profile.freeFramebufferBytes;
    log_.add(c);
    after(Callee::GetFreeFramebufferSize);
    return static_cast<uint32_t>(c.result);
}

void Adapter::setInitialValue(Entry via)
{
    CallRecord c{Callee::SetInitialValue};
    c.via = via;
    log_.add(c);
    after(Callee::SetInitialValue);
}

uint32_t Adapter::tvControl(uint32_t a, uint32_t b, uint32_t c3)
{
    CallRecord c{Callee::TvControl};
    c.args = {a, b, c3};
    c.result = onTvControl ? onTvControl(a, b, c3) : profile.tvControlResult;
    log_.add(c);
    after(Callee::TvControl);
    return static_cast<uint32_t>(c.result);
}

} // namespace sim
