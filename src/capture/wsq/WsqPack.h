#pragma once
// The codec behind the program's WSQ binding: buffers handed out here are released with freeBuffer. Return
// codes: 0 done, -1 bad arguments, -2 the image or stream was refused (see lastError), -3 out of memory.

#include <cstdint>
#include <string>

namespace qev::wsq {

constexpr int kPackOk = 0;
constexpr int kPackBadArgument = -1;
constexpr int kPackRefused = -2;
constexpr int kPackNoMemory = -3;

// Compresses a raw grey buffer (top row first, width bytes per row; depth must be 8). On success *data and *size
// receive the stream; on failure *data is null and *size 0.
int compress(uint8_t** data, int* size, float bitRate, const uint8_t* raw, int width, int height, int depth, int ppi,
             const char* comment);

// Decompresses a stream into a raw grey buffer. On failure *raw is null and the sizes are 0.
int uncompress(uint8_t** raw, int* width, int* height, int* depth, int* ppi, int* lossy, const uint8_t* data, int size);

// Releases a buffer returned by compress or uncompress and nulls the caller's pointer.
void freeBuffer(uint8_t** buffer);

// Text of the last refusal on this thread.
const std::string& lastError();

} // namespace qev::wsq
