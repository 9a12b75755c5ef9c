// Captures compressed with gzip, read as the capture inside. A gzip input
// is recognised by its first two bytes, whatever its name, and wrapped in a
// stdio stream that inflates it (zlib) as the capture reader reads; several
// gzip members one after the other read as one capture, as gunzip gives
// them. The stream owns the compressed stream it reads from and the zlib
// state; both go with fclose.
#ifndef TOOLS_TRACEREPLAY_GUNZIPSTREAM_H
#define TOOLS_TRACEREPLAY_GUNZIPSTREAM_H

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <string>

namespace replay {

class GunzipStream;

inline bool isGzip(const uint8_t* head, size_t bytes)
{
    return bytes >= 2 && head[0] == 0x1F && head[1] == 0x8B;
}

// The uncompressed content of `compressed` as a stream (which then owns
// `compressed`), with its first `headBytes` bytes copied to `head` (fewer
// only at the end of the content) and left to be read. Null when nothing
// could be inflated: `compressed` is closed and `error` says why.
std::FILE* openGunzip(std::FILE* compressed, uint8_t* head, size_t& headBytes,
                      const GunzipStream*& state, std::string& error);

// Why the content ended early, or empty: a read of the stream that failed
// or ended before the capture did is explained here.
std::string gunzipProblem(const GunzipStream* state);

}  // namespace replay

#endif
