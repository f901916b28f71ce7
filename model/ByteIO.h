#pragma once
// Bytes and files: little-endian byte cursors over memory or over an open
// file, and the reading and atomic writing of whole files. This is the only
// code that touches the operating system's files; the formats' readers and
// writers see nothing but the two cursors.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

// What the file layer throws: the operating system's error code, and a
// message naming what was being done, the file and the cause, as in
// Cannot open "hero.mdl": No such file or directory
class FileError : public std::system_error {
public:
    FileError(int errorCode, const std::string& action, std::string fileName);
    const std::string& FileName() const { return fileName; }

private:
    std::string fileName;
};

// A float's bits as the file stores them, and back. Byte copies rather than
// std::bit_cast: the WebAssembly toolchain's library has no <bit> casts yet.
inline float FloatFromBits(int32_t bits)
{
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
inline int32_t BitsOfFloat(float value)
{
    int32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

class ByteReader {
public:
    // Reads from bytes in memory; they must outlive the reader.
    explicit ByteReader(std::span<const uint8_t> bytes);
    // Reads fileSize bytes from fd through a buffer. Large reads go straight
    // into the caller's memory, so a model is never held twice while loading.
    ByteReader(int fd, uint64_t fileSize, std::string fileName);

    uint64_t BytesLeft() const { return total - consumed; }
    // Copies n bytes into dst. The caller checks n <= BytesLeft() first.
    // Throws FileError when the file cannot be read.
    void Read(void* dst, std::size_t n);
    uint16_t U16();
    int32_t I32();
    // A float as its bits: a NaN in a damaged file comes back as it was.
    float F32() { return FloatFromBits(I32()); }

private:
    // Reads exactly n bytes from the file, or throws.
    void ReadFromFile(uint8_t* dst, std::size_t n);
    void Refill();

    std::span<const uint8_t> window;  // bytes at hand: all of memory, or the buffer
    std::size_t windowPos = 0;
    uint64_t total = 0;
    uint64_t consumed = 0;
    int fd = -1;
    std::vector<uint8_t> buffer;
    std::string fileName;
};

class ByteWriter {
public:
    // Appends to sink.
    explicit ByteWriter(std::vector<uint8_t>& sink);
    // Writes to fd through a buffer; Flush() must end the writing.
    ByteWriter(int fd, std::string fileName);

    void Write(const void* src, std::size_t n);
    void U16(uint16_t value);
    void I32(int32_t value);
    void F32(float value) { I32(BitsOfFloat(value)); }
    // Hands buffered bytes to the file. Throws FileError.
    void Flush();

private:
    void WriteToFile(const uint8_t* data, std::size_t n);

    std::vector<uint8_t>* sink = nullptr;
    int fd = -1;
    std::vector<uint8_t> buffer;
    std::string fileName;
};

// Reads the whole of a small file, for tests and tools. Throws FileError.
std::vector<uint8_t> ReadWholeFile(const std::string& fileName);
// Opens FileName for reading, hands read a cursor over the whole file and
// closes it; returns what read returns. Throws FileError when the file cannot
// be opened, read or closed.
bool ReadFileThrough(const std::string& FileName, const std::function<bool(ByteReader&)>& read);
// Up to count bytes from the start of a regular file (fewer when it is
// shorter); none when it is no regular file or cannot be read.
std::vector<uint8_t> ReadFileStart(const std::string& FileName, std::size_t count);

// Writes FileName through a temporary file in the same folder, filled by
// writeBytes, that replaces the target only once it is complete on disk; on
// any failure the temporary file is removed, an existing target is left as it
// was, and FileError (errno and file name) is thrown. A replaced file keeps
// its permissions; a symbolic link keeps pointing at the file it named.
void WriteFileAtomically(const std::string& FileName, const std::function<void(ByteWriter&)>& writeBytes);

// Removes the temporary file of every WriteFileAtomically in progress, for a
// front end about to end the process on a signal: each target is then either
// complete or as it was. Every write that goes on afterwards waits, before it
// makes a temporary file or after it replaces its target, until the process
// ends. Not async-signal-safe: call it from a thread that waits for signals.
void RemoveTemporaryFilesForExit();
