#include "captureMerge.h"

namespace replay {

namespace {

bool isEarlier(const struct timeval& a, const struct timeval& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

}  // namespace

CaptureMerge::CaptureMerge(std::vector<std::unique_ptr<CaptureFile>> files,
                           Diagnostics& diagnostics)
    : diagnostics_(diagnostics)
{
    for (auto& file : files) {
        std::string error;
        if (!file->open(error)) {
            diagnostics_.fileError(file->path(), error);
            continue;
        }
        sources_.push_back(Source{std::move(file), {}, false, false});
    }
    for (Source& source : sources_)
        refill(source);
}

void CaptureMerge::refill(Source& source)
{
    source.hasPending = false;
    if (source.done)
        return;
    std::string error;
    switch (source.file->next(source.pending, error)) {
    case CaptureFile::Read::Frame:
        source.hasPending = true;
        return;
    case CaptureFile::Read::Error:
        diagnostics_.frameError(source.file->path(), source.pending.number, error);
        break;
    case CaptureFile::Read::End:
        break;
    }
    source.done = true;
}

bool CaptureMerge::next(MergedFrame& merged)
{
    if (handedOut_) {
        refill(*handedOut_);
        handedOut_ = nullptr;
    }
    Source* earliest = nullptr;
    for (Source& source : sources_) {
        if (!source.hasPending)
            continue;
        if (!earliest || isEarlier(source.pending.time, earliest->pending.time))
            earliest = &source;
    }
    if (!earliest)
        return false;
    merged.frame = earliest->pending;
    merged.file = earliest->file.get();
    handedOut_ = earliest;
    return true;
}

}  // namespace replay
