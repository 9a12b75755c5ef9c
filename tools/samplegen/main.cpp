// samplegen: writes the bundled sample captures into a directory.
#include <cstdio>
#include <exception>
#include <string>

#include "scenario.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: samplegen DIRECTORY\n"
                     "Writes the sample capture files into DIRECTORY (which must exist).\n");
        return 2;
    }
    try {
        for (const samplegen::SampleFile& sample : samplegen::sampleFiles()) {
            std::string path = std::string(argv[1]) + "/" + sample.name;
            samplegen::CaptureWriter writer(path, sample.linkType);
            for (const samplegen::TimedFrame& frame : sample.frames)
                writer.write(frame.micros, frame.bytes);
            std::printf("%s: %zu frames\n", path.c_str(), sample.frames.size());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "samplegen: %s\n", error.what());
        return 1;
    }
    return 0;
}
