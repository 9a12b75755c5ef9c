#include "gunzipStream.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace replay {

namespace {

constexpr size_t kCompressedChunk = 1 << 16;
constexpr int kGzipWindowBits = 16 + MAX_WBITS;  // gzip header and trailer, largest window

}  // namespace

class GunzipStream {
public:
    explicit GunzipStream(std::FILE* compressed) : compressed_(compressed), in_(kCompressedChunk)
    {
        zlibReady_ = inflateInit2(&z_, kGzipWindowBits) == Z_OK;
        if (!zlibReady_)
            problem_ = "zlib cannot start";
    }

    ~GunzipStream()
    {
        if (zlibReady_)
            inflateEnd(&z_);
        std::fclose(compressed_);
    }

    // Up to `size` uncompressed bytes; fewer only at the end; -1 on an error
    // (problem() says which).
    ssize_t read(uint8_t* out, size_t size)
    {
        size_t n = 0;
        while (n < size && problem_.empty() && !ended_) {
            if (z_.avail_in == 0 && !refill())
                break;
            z_.next_out = out + n;
            z_.avail_out = static_cast<uInt>(size - n);
            const int result = inflate(&z_, Z_NO_FLUSH);
            n = size - z_.avail_out;
            if (result == Z_STREAM_END)
                nextMember();
            else if (result != Z_OK && result != Z_BUF_ERROR)
                problem_ = std::string("gzip data: ") + (z_.msg ? z_.msg : "corrupt");
        }
        if (n == 0 && !problem_.empty()) {
            errno = EIO;
            return -1;
        }
        return static_cast<ssize_t>(n);
    }

    const std::string& problem() const { return problem_; }

private:
    bool refill()
    {
        const size_t got = std::fread(in_.data(), 1, in_.size(), compressed_);
        z_.next_in = in_.data();
        z_.avail_in = static_cast<uInt>(got);
        if (got > 0)
            return true;
        if (std::ferror(compressed_))
            problem_ = std::strerror(errno);
        else if (inMember_)
            problem_ = "gzip data cut short";
        ended_ = true;
        return false;
    }

    // After a member: another may follow (cat a.gz b.gz); anything else
    // after the last one is ignored, as gunzip does with trailing zeros.
    void nextMember()
    {
        inMember_ = false;
        if (z_.avail_in == 0 && !refill())
            return;
        if (z_.next_in[0] != 0x1F) {
            ended_ = true;
            return;
        }
        inflateReset(&z_);
        inMember_ = true;
    }

    std::FILE* compressed_;
    std::vector<uint8_t> in_;
    z_stream z_{};
    bool zlibReady_ = false;
    bool inMember_ = true;
    bool ended_ = false;
    std::string problem_;
};

namespace {

// The stdio cookie: the bytes read ahead for the magic number first, then
// the inflated stream.
struct GunzipCookie {
    GunzipStream stream;
    uint8_t head[8] = {};
    size_t headBytes = 0;
    size_t headUsed = 0;

    explicit GunzipCookie(std::FILE* compressed) : stream(compressed) {}
};

ssize_t readCookie(void* cookie, char* buffer, size_t size)
{
    auto* c = static_cast<GunzipCookie*>(cookie);
    const size_t fromHead = std::min(size, c->headBytes - c->headUsed);
    std::memcpy(buffer, c->head + c->headUsed, fromHead);
    c->headUsed += fromHead;
    if (fromHead == size)
        return static_cast<ssize_t>(size);
    const ssize_t got =
        c->stream.read(reinterpret_cast<uint8_t*>(buffer) + fromHead, size - fromHead);
    if (got < 0)
        return fromHead > 0 ? static_cast<ssize_t>(fromHead) : -1;
    return static_cast<ssize_t>(fromHead) + got;
}

int closeCookie(void* cookie)
{
    delete static_cast<GunzipCookie*>(cookie);
    return 0;
}

}  // namespace

std::FILE* openGunzip(std::FILE* compressed, uint8_t* head, size_t& headBytes,
                      const GunzipStream*& state, std::string& error)
{
    auto* cookie = new GunzipCookie(compressed);
    const size_t wanted = std::min(headBytes, sizeof cookie->head);
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = cookie->stream.read(cookie->head + got, wanted - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got == 0) {
        error = cookie->stream.problem().empty() ? "empty file (gzip)" : cookie->stream.problem();
        delete cookie;
        return nullptr;
    }
    cookie->headBytes = got;
    std::FILE* stream = fopencookie(cookie, "r", {readCookie, nullptr, nullptr, closeCookie});
    if (!stream) {
        error = std::strerror(errno);
        delete cookie;
        return nullptr;
    }
    std::memcpy(head, cookie->head, got);
    headBytes = got;
    state = &cookie->stream;
    return stream;
}

std::string gunzipProblem(const GunzipStream* state)
{
    return state ? state->problem() : std::string();
}

}  // namespace replay
