// Captures compressed with gzip or zstd, read as the capture inside. A
// compressed input is recognised by its first bytes, whatever its name, and
// wrapped in a stdio stream that decompresses it (zlib, libzstd) as the
// capture reader reads; several compressed members (frames) one after the
// other read as one capture, as gunzip and unzstd give them. The stream owns
// the compressed stream it reads from and the decompressor; both go with
// fclose.
#ifndef TOOLS_TRACEREPLAY_COMPRESSEDINPUT_H
#define TOOLS_TRACEREPLAY_COMPRESSEDINPUT_H

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <string>

namespace replay {

class Decompressor;

// The first bytes of a gzip or zstd input.
bool isCompressed(const uint8_t* head, size_t bytes);

// The decompressed content of `compressed` as a stream (which then owns
// `compressed`), with its first `headBytes` bytes copied to `head` (fewer
// only at the end of the content) and left to be read. Null when nothing
// could be decompressed: `compressed` is closed and `error` says why.
std::FILE* openDecompressed(std::FILE* compressed, uint8_t* head, size_t& headBytes,
                            const Decompressor*& state, std::string& error);

// Why the content ended early, or empty: a read of the stream that failed
// or ended before the capture did is explained here.
std::string decompressionProblem(const Decompressor* state);

}  // namespace replay

#endif
