// One-line error reports on standard error, counted so that the exit code
// can tell whether anything was skipped.
#ifndef TOOLS_TRACEREPLAY_DIAGNOSTICS_H
#define TOOLS_TRACEREPLAY_DIAGNOSTICS_H

#include <string>

namespace replay {

class Progress;

class Diagnostics {
public:
    explicit Diagnostics(Progress* progress = nullptr) : progress_(progress) {}

    // "tracereplay: FILE: MESSAGE"
    void fileError(const std::string& path, const std::string& message);
    // "tracereplay: FILE: frame N: MESSAGE"
    void frameError(const std::string& path, unsigned long frame, const std::string& message);
    // "tracereplay: MESSAGE"
    void error(const std::string& message);

    unsigned long errors() const { return errors_; }

private:
    void print(const std::string& line);

    Progress* progress_;
    unsigned long errors_ = 0;
};

}  // namespace replay

#endif
