#include "core/container/file_ops.h"

int64_t FileSize64(FileHandle handle) { return PlatformFileSize(handle); }

bool ReadExact(FileHandle handle, void* buffer, uint32_t count) {
    uint32_t transferred = 0;
    return PlatformRead(handle, buffer, count, &transferred) && transferred == count;
}

bool WriteExact(FileHandle handle, const void* buffer, uint32_t count) {
    uint32_t transferred = 0;
    return PlatformWrite(handle, buffer, count, &transferred) && transferred == count;
}

bool Seek64(FileHandle handle, int64_t position) { return PlatformSeek(handle, position); }

int64_t Tell64(FileHandle handle) { return PlatformTell(handle); }
