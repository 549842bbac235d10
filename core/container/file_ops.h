// File operations with 64-bit sizes and positions. They report failure in
// their result; the caller turns it into the right exit.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

int64_t FileSize64(FileHandle handle);
// One system read (write) of `count` bytes; true only when exactly `count`
// bytes moved. A count of 0 succeeds.
bool ReadExact(FileHandle handle, void* buffer, uint32_t count);
bool WriteExact(FileHandle handle, const void* buffer, uint32_t count);
// To an absolute position; false when the system refuses (negative position).
bool Seek64(FileHandle handle, int64_t position);
// The current position, or -1.
int64_t Tell64(FileHandle handle);
