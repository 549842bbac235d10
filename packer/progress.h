// The progress bar of create, test and extract: one line on standard
// error, redrawn at most ten times a second, only when standard error is a
// terminal and -q was not given.
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>

class Progress {
public:
    Progress(bool wanted, const char* verb);
    ~Progress();

    // files and bytes done so far; fraction of the whole work in [0, 1]
    // (negative when unknown); totalFiles 0 when unknown.
    void Update(uint64_t files, uint64_t totalFiles, uint64_t bytes, double fraction);
    // Clears the line.
    void Finish();
    bool Enabled() const { return enabled_; }

private:
    void Draw(uint64_t files, uint64_t totalFiles, uint64_t bytes, double fraction);

    bool enabled_;
    bool drawn_ = false;
    std::string verb_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};
