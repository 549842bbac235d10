#include "packer/progress.h"

#include <stdio.h>
#include <unistd.h>

namespace {

std::string Duration(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

Progress::Progress(bool wanted, const char* verb)
    : enabled_(wanted && isatty(STDERR_FILENO)), verb_(verb), start_(std::chrono::steady_clock::now()) {
    lastDraw_ = start_;
}

Progress::~Progress() { Finish(); }

void Progress::Update(uint64_t files, uint64_t totalFiles, uint64_t bytes, double fraction) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    Draw(files, totalFiles, bytes, fraction);
}

void Progress::Draw(uint64_t files, uint64_t totalFiles, uint64_t bytes, double fraction) {
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const int kWidth = 24;
    std::string bar;
    if (fraction >= 0) {
        if (fraction > 1) fraction = 1;
        int filled = static_cast<int>(fraction * kWidth);
        bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
    }
    char line[256];
    int n = snprintf(line, sizeof line, "\r\033[K%s %s", verb_.c_str(), bar.c_str());
    if (totalFiles) n += snprintf(line + n, sizeof line - n, "%llu/%llu files", (unsigned long long)files, (unsigned long long)totalFiles);
    else n += snprintf(line + n, sizeof line - n, "%llu files", (unsigned long long)files);
    n += snprintf(line + n, sizeof line - n, "  %.1f MB", bytes / 1e6);
    if (elapsed > 0.2) n += snprintf(line + n, sizeof line - n, "  %.1f MB/s", bytes / 1e6 / elapsed);
    if (fraction > 0.01 && fraction < 1 && elapsed > 1) {
        n += snprintf(line + n, sizeof line - n, "  %s left", Duration(elapsed / fraction - elapsed).c_str());
    }
    fputs(line, stderr);
    fflush(stderr);
    drawn_ = true;
}

void Progress::Finish() {
    if (enabled_ && drawn_) {
        fputs("\r\033[K", stderr);
        fflush(stderr);
    }
    drawn_ = false;
}
