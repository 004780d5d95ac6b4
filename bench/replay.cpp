#include "replay.h"

#include <cstring>
#include <map>

#include "host_doubles.h"
#include "platform.h"

namespace bench {

Replay::Replay(const sim::CallLog &recorded)
{
    std::map<uint64_t, int> blockOf;  // recorded address -> allocation index
    for (const sim::CallRecord &c : recorded.calls()) {
        Op op{};
        op.callee = c.callee;
        for (int i = 0; i < 4; ++i)
            op.args[i] = static_cast<ULONG>(c.args[static_cast<size_t>(i)]);
        const sim::RawQuery raw = sim::ToRaw(c.in);
        std::memcpy(&op.query, raw.data(), sizeof op.query);
        op.block = -1;
        if (c.callee == sim::Callee::AllocatePool) {
            op.block = static_cast<int>(blockOf.size());
            blockOf[c.result] = op.block;
        } else if (c.callee == sim::Callee::FreePool || c.callee == sim::Callee::ZeroMemory) {
            const auto it = blockOf.find(c.args[0]);
            if (it != blockOf.end())
                op.block = it->second;
        }
        ops_.push_back(op);
    }
    blocks_.resize(blockOf.size());
    if (const DllExt *attached = hostsim::AttachedTable())
        table_ = *attached;
}

void Replay::run()
{
    for (Op &op : ops_) {
        const ULONG *a = op.args;
        switch (op.callee) {
        case sim::Callee::AttachRMX: AttachRMX(a[0], a[1]); break;
        case sim::Callee::Attach:
            std::memset(&table_, 0, sizeof table_);
            table_.Size = sizeof table_;
            table_.pfnTvControl = S_RMX_Control;
            Attach(a[0], a[1], &table_, a[3]);
            break;
        case sim::Callee::Init: table_.pfnInit(scratch_); break;
        case sim::Callee::QueryMode: {
            ModeQuery q = op.query;
            table_.pfnQueryMode(&q, 0);
            break;
        }
        case sim::Callee::SetMode: {
            ModeQuery q = op.query;
            table_.pfnSetMode(&q, 0, a[2]);
            break;
        }
        case sim::Callee::PassThrough: table_.pfnPassThrough(a[0], a[1], a[2]); break;
        case sim::Callee::Function: table_.pfnFunction(a[0]); break;
        case sim::Callee::GetFreeFramebufferSize: table_.pfnGetFreeFramebufferSize(); break;
        case sim::Callee::SetInitialValue: table_.pfnSetInitialValue(); break;
        case sim::Callee::TvControl: S_RMX_Control(a[0], a[1], a[2]); break;
        case sim::Callee::AllocatePool:
            blocks_[static_cast<size_t>(op.block)] =
                ExAllocatePoolWithTag(static_cast<POOL_TYPE>(a[0]), a[1], a[2]);
            break;
        case sim::Callee::FreePool: ExFreePool(blocks_[static_cast<size_t>(op.block)]); break;
        case sim::Callee::ZeroMemory:
            // The module zeroes its init buffer, its table and the published
            // array; the replay zeroes as many bytes of its own.
            if (op.block >= 0)
                VideoPortZeroMemory(blocks_[static_cast<size_t>(op.block)], a[1]);
            else if (a[1] <= sizeof scratch_)
                VideoPortZeroMemory(scratch_, a[1]);
            break;
        }
    }
}

} // namespace bench
