#include "diagnostics.h"

#include <cstdio>

#include "progress.h"

namespace replay {

void Diagnostics::print(const std::string& line)
{
    ++errors_;
    if (progress_)
        progress_->clear();
    std::fprintf(stderr, "tracereplay: %s\n", line.c_str());
}

void Diagnostics::fileError(const std::string& path, const std::string& message)
{
    print(path + ": " + message);
}

void Diagnostics::frameError(const std::string& path, unsigned long frame,
                             const std::string& message)
{
    print(path + ": frame " + std::to_string(frame) + ": " + message);
}

void Diagnostics::error(const std::string& message)
{
    print(message);
}

}  // namespace replay
