#include "compressedInput.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace replay {

namespace {

constexpr size_t kCompressedChunk = 1 << 16;
constexpr int kGzipWindowBits = 16 + MAX_WBITS;  // gzip header and trailer, largest window

constexpr uint8_t kZstdMagic[] = {0x28, 0xB5, 0x2F, 0xFD};

}  // namespace

// One compressed format: reads the compressed stream it owns and gives the
// content.
class Decompressor {
public:
    explicit Decompressor(std::FILE* compressed) : compressed_(compressed), in_(kCompressedChunk) {}
    virtual ~Decompressor() { std::fclose(compressed_); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Up to `size` content bytes; fewer only at the end; -1 on an error
    // (problem() says which).
    virtual ssize_t read(uint8_t* out, size_t size) = 0;
    const std::string& problem() const { return problem_; }

protected:
    // More compressed bytes into in_; false at the end or on an error.
    size_t refill()
    {
        const size_t got = std::fread(in_.data(), 1, in_.size(), compressed_);
        if (got == 0 && std::ferror(compressed_))
            problem_ = std::strerror(errno);
        return got;
    }

    ssize_t result(size_t n)
    {
        if (n == 0 && !problem_.empty()) {
            errno = EIO;
            return -1;
        }
        return static_cast<ssize_t>(n);
    }

    std::FILE* compressed_;
    std::vector<uint8_t> in_;
    std::string problem_;
};

namespace {

class GunzipStream : public Decompressor {
public:
    explicit GunzipStream(std::FILE* compressed) : Decompressor(compressed)
    {
        zlibReady_ = inflateInit2(&z_, kGzipWindowBits) == Z_OK;
        if (!zlibReady_)
            problem_ = "zlib cannot start";
    }

    ~GunzipStream() override
    {
        if (zlibReady_)
            inflateEnd(&z_);
    }

    ssize_t read(uint8_t* out, size_t size) override
    {
        size_t n = 0;
        while (n < size && problem_.empty() && !ended_) {
            if (z_.avail_in == 0 && !refillInput())
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
        return result(n);
    }

private:
    bool refillInput()
    {
        const size_t got = refill();
        z_.next_in = in_.data();
        z_.avail_in = static_cast<uInt>(got);
        if (got > 0)
            return true;
        if (problem_.empty() && inMember_)
            problem_ = "gzip data cut short";
        ended_ = true;
        return false;
    }

    // After a member: another may follow (cat a.gz b.gz); anything else
    // after the last one is ignored, as gunzip does with trailing zeros.
    void nextMember()
    {
        inMember_ = false;
        if (z_.avail_in == 0 && !refillInput())
            return;
        if (z_.next_in[0] != 0x1F) {
            ended_ = true;
            return;
        }
        inflateReset(&z_);
        inMember_ = true;
    }

    z_stream z_{};
    bool zlibReady_ = false;
    bool inMember_ = true;
    bool ended_ = false;
};

// zstd frames one after the other, as unzstd reads them.
class ZstdStream : public Decompressor {
public:
    explicit ZstdStream(std::FILE* compressed)
        : Decompressor(compressed), stream_(ZSTD_createDStream())
    {
        if (!stream_)
            problem_ = "zstd cannot start";
    }

    ~ZstdStream() override { ZSTD_freeDStream(stream_); }

    ssize_t read(uint8_t* out, size_t size) override
    {
        ZSTD_outBuffer output{out, size, 0};
        while (output.pos < size && problem_.empty() && !ended_) {
            if (input_.pos == input_.size && !refillInput())
                break;
            const size_t left = ZSTD_decompressStream(stream_, &output, &input_);
            if (ZSTD_isError(left))
                problem_ = std::string("zstd data: ") + ZSTD_getErrorName(left);
            inFrame_ = left != 0;
        }
        return result(output.pos);
    }

private:
    bool refillInput()
    {
        input_ = {in_.data(), refill(), 0};
        if (input_.size > 0)
            return true;
        if (problem_.empty() && inFrame_)
            problem_ = "zstd data cut short";
        ended_ = true;
        return false;
    }

    ZSTD_DStream* stream_;
    ZSTD_inBuffer input_{nullptr, 0, 0};
    bool inFrame_ = true;
    bool ended_ = false;
};

// The stdio cookie: the bytes read ahead for the magic number first, then
// the inflated stream.
struct Cookie {
    std::unique_ptr<Decompressor> stream;
    uint8_t head[8] = {};
    size_t headBytes = 0;
    size_t headUsed = 0;
};

ssize_t readCookie(void* cookie, char* buffer, size_t size)
{
    auto* c = static_cast<Cookie*>(cookie);
    const size_t fromHead = std::min(size, c->headBytes - c->headUsed);
    std::memcpy(buffer, c->head + c->headUsed, fromHead);
    c->headUsed += fromHead;
    if (fromHead == size)
        return static_cast<ssize_t>(size);
    const ssize_t got =
        c->stream->read(reinterpret_cast<uint8_t*>(buffer) + fromHead, size - fromHead);
    if (got < 0)
        return fromHead > 0 ? static_cast<ssize_t>(fromHead) : -1;
    return static_cast<ssize_t>(fromHead) + got;
}

int closeCookie(void* cookie)
{
    delete static_cast<Cookie*>(cookie);
    return 0;
}

}  // namespace

bool isCompressed(const uint8_t* head, size_t bytes)
{
    const bool gzip = bytes >= 2 && head[0] == 0x1F && head[1] == 0x8B;
    return gzip ||
           (bytes >= sizeof kZstdMagic && std::memcmp(head, kZstdMagic, sizeof kZstdMagic) == 0);
}

std::FILE* openDecompressed(std::FILE* compressed, uint8_t* head, size_t& headBytes,
                            const Decompressor*& state, std::string& error)
{
    auto* cookie = new Cookie;
    if (head[0] == 0x1F)
        cookie->stream = std::make_unique<GunzipStream>(compressed);
    else
        cookie->stream = std::make_unique<ZstdStream>(compressed);
    const size_t wanted = std::min(headBytes, sizeof cookie->head);
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = cookie->stream->read(cookie->head + got, wanted - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got == 0) {
        error = cookie->stream->problem().empty() ? "empty file (compressed)"
                                                  : cookie->stream->problem();
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
    state = cookie->stream.get();
    return stream;
}

std::string decompressionProblem(const Decompressor* state)
{
    return state ? state->problem() : std::string();
}

}  // namespace replay
