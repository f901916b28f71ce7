#include "model/ByteIO.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

// Closes its descriptor on every path out of a load or a save.
class FileHandle {
public:
    explicit FileHandle(int fd) : fd(fd) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle()
    {
        if (fd >= 0) ::close(fd);
    }
    int Get() const { return fd; }
    // Closes now and reports the result: a failed close can mean lost data.
    int Close()
    {
        const int rc = ::close(fd);
        fd = -1;
        return rc;
    }

private:
    int fd;
};

int openForReading(const std::string& fileName, uint64_t& fileSize)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FileError(errno, "Cannot open", fileName);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int err = errno;
        ::close(fd);
        throw FileError(err, "Cannot open", fileName);
    }
    // A folder or a device has no size to check counts against.
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw FileError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, "Cannot open", fileName);
    }
    fileSize = uint64_t(info.st_size);
    return fd;
}

// A name beside the target that no other save picks: process id, a per-process
// counter and a random part.
std::string temporaryNameFor(const std::filesystem::path& target)
{
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    std::string name = "." + target.filename().string() + ".kelvane-" + std::to_string(::getpid()) +
                       "-" + std::to_string(counter++) + "-" + std::to_string(random() % 100000);
    return (target.parent_path() / name).string();
}

// The interrupt test sets KELVANE_TEST_PAUSE_SAVES to a file name. Each save
// then makes that file and waits between listing its temporary name and
// creating the file, so that the test's signal lands in that gap every time;
// and waits again once the file is made, so that a file made after the
// cleanup would still be there when the process ends (the front end waits too).
void pauseForInterruptTest(bool beforeCreating)
{
    static const char* const marker = std::getenv("KELVANE_TEST_PAUSE_SAVES");
    if (!marker) return;
    if (beforeCreating) ::close(::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    std::this_thread::sleep_for(std::chrono::milliseconds(beforeCreating ? 200 : 800));
}

// The temporary files that saves have in flight, for RemoveTemporaryFilesForExit.
std::mutex inFlightMutex;
std::set<std::string> inFlight;

// A save's temporary file, listed and created under one lock: the cleanup
// then finds every file made before it runs, and no file is made after it,
// since it never gives the lock back. The name is taken off the list only
// after the rename or the removal.
class InFlightFile {
public:
    // Creates name exclusively; Fd() is -1 and Error() holds errno when it cannot.
    explicit InFlightFile(std::string name) : name(std::move(name))
    {
        std::lock_guard lock(inFlightMutex);
        inFlight.insert(this->name);
        pauseForInterruptTest(true);
        fd = ::open(this->name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return;
        error = errno;
        inFlight.erase(this->name);
    }
    ~InFlightFile()
    {
        if (fd < 0) return;
        std::lock_guard lock(inFlightMutex);
        inFlight.erase(name);
    }
    InFlightFile(const InFlightFile&) = delete;
    InFlightFile& operator=(const InFlightFile&) = delete;
    int Fd() const { return fd; }
    int Error() const { return error; }

private:
    std::string name;
    int fd = -1;
    int error = 0;
};

// A symbolic link is followed, so the save replaces the file it points to.
std::filesystem::path resolvedTarget(const std::string& fileName)
{
    std::error_code ec;
    std::filesystem::path target(fileName);
    if (std::filesystem::is_symlink(target, ec)) {
        auto resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    if (target.parent_path().empty()) target = std::filesystem::path(".") / target;
    return target;
}

}  // namespace

FileError::FileError(int errorCode, const std::string& action, std::string fileName)
    : std::system_error(errorCode, std::generic_category(), action + " \"" + fileName + "\""), fileName(std::move(fileName))
{
}

// ---- ByteReader ----

ByteReader::ByteReader(std::span<const uint8_t> bytes) : window(bytes), total(bytes.size()) {}

ByteReader::ByteReader(int fd, uint64_t fileSize, std::string fileName)
    : total(fileSize), fd(fd), buffer(kBufferSize), fileName(std::move(fileName))
{
}

void ByteReader::ReadFromFile(uint8_t* dst, std::size_t n)
{
    while (n > 0) {
        const ssize_t got = ::read(fd, dst, n);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw FileError(errno, "Cannot read", fileName);
        if (got == 0) throw FileError(EIO, "The file became shorter while reading", fileName);
        dst += got;
        n -= std::size_t(got);
    }
}

void ByteReader::Refill()
{
    const std::size_t want = std::size_t(std::min<uint64_t>(buffer.size(), BytesLeft()));
    ReadFromFile(buffer.data(), want);
    window = std::span<const uint8_t>(buffer.data(), want);
    windowPos = 0;
}

void ByteReader::Read(void* dst, std::size_t n)
{
    assert(n <= BytesLeft());
    auto* out = static_cast<uint8_t*>(dst);
    while (n > 0) {
        if (windowPos == window.size()) {
            // A large block bypasses the buffer: frames are read once, in place.
            if (fd >= 0 && n >= buffer.size()) {
                ReadFromFile(out, n);
                consumed += n;
                return;
            }
            Refill();
        }
        const std::size_t take = std::min(n, window.size() - windowPos);
        std::memcpy(out, window.data() + windowPos, take);
        windowPos += take;
        consumed += take;
        out += take;
        n -= take;
    }
}

uint16_t ByteReader::U16()
{
    uint8_t b[2];
    Read(b, 2);
    return uint16_t(b[0] | (b[1] << 8));
}

int32_t ByteReader::I32()
{
    uint8_t b[4];
    Read(b, 4);
    return int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24));
}

// ---- ByteWriter ----

ByteWriter::ByteWriter(std::vector<uint8_t>& sink) : sink(&sink) {}

ByteWriter::ByteWriter(int fd, std::string fileName) : fd(fd), fileName(std::move(fileName))
{
    buffer.reserve(kBufferSize);
}

void ByteWriter::WriteToFile(const uint8_t* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) throw FileError(errno, "Cannot write", fileName);
        data += done;
        n -= std::size_t(done);
    }
}

void ByteWriter::Write(const void* src, std::size_t n)
{
    const auto* bytes = static_cast<const uint8_t*>(src);
    if (sink) {
        sink->insert(sink->end(), bytes, bytes + n);
        return;
    }
    if (buffer.size() + n > kBufferSize) {
        Flush();
        if (n >= kBufferSize) {
            WriteToFile(bytes, n);
            return;
        }
    }
    buffer.insert(buffer.end(), bytes, bytes + n);
}

void ByteWriter::U16(uint16_t value)
{
    const uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
    Write(b, 2);
}

void ByteWriter::I32(int32_t value)
{
    const auto u = uint32_t(value);
    const uint8_t b[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    Write(b, 4);
}

void ByteWriter::Flush()
{
    if (sink || buffer.empty()) return;
    WriteToFile(buffer.data(), buffer.size());
    buffer.clear();
}

std::vector<uint8_t> ReadWholeFile(const std::string& fileName)
{
    uint64_t size = 0;
    FileHandle file(openForReading(fileName, size));
    std::vector<uint8_t> bytes(size);
    ByteReader in(file.Get(), size, fileName);
    in.Read(bytes.data(), bytes.size());
    return bytes;
}

bool ReadFileThrough(const std::string& FileName, const std::function<bool(ByteReader&)>& read)
{
    // Opened for reading only: a model on a read-only medium loads as well.
    uint64_t size = 0;
    FileHandle file(openForReading(FileName, size));
    ByteReader in(file.Get(), size, FileName);
    const bool result = read(in);
    if (file.Close() != 0) throw FileError(errno, "Cannot close", FileName);
    return result;
}

std::vector<uint8_t> ReadFileStart(const std::string& FileName, std::size_t count)
{
    std::vector<uint8_t> bytes;
    // A pipe would block the open until something writes to it.
    std::error_code error;
    if (!std::filesystem::is_regular_file(FileName, error)) return bytes;
    try {
        uint64_t size = 0;
        FileHandle file(openForReading(FileName, size));
        bytes.resize(std::size_t(std::min<uint64_t>(size, count)));
        ByteReader in(file.Get(), size, FileName);
        in.Read(bytes.data(), bytes.size());
    } catch (const FileError&) {  // the full read that follows says why
        bytes.clear();
    }
    return bytes;
}

void WriteFileAtomically(const std::string& FileName, const std::function<void(ByteWriter&)>& writeBytes)
{
    const std::filesystem::path target = resolvedTarget(FileName);
    std::string tempName;
    std::optional<InFlightFile> listed;
    // O_EXCL with a fresh name: never write through someone else's file.
    for (int attempt = 0; !listed || listed->Fd() < 0; ++attempt) {
        tempName = temporaryNameFor(target);
        listed.emplace(tempName);
        if (listed->Fd() < 0 && (listed->Error() != EEXIST || attempt > 100))
            throw FileError(listed->Error(), "Cannot create a file to save", FileName);
    }
    const int fd = listed->Fd();
    FileHandle file(fd);
    pauseForInterruptTest(false);
    try {
        // The replacement keeps the permissions of the file it replaces.
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

        ByteWriter out(fd, FileName);
        writeBytes(out);
        out.Flush();
        // Only a file whose bytes are on disk may take the target's place.
        if (::fsync(fd) != 0) throw FileError(errno, "Cannot write", FileName);
        if (file.Close() != 0) throw FileError(errno, "Cannot write", FileName);
        if (::rename(tempName.c_str(), target.c_str()) != 0) throw FileError(errno, "Cannot replace", FileName);
    } catch (...) {
        ::unlink(tempName.c_str());
        throw;
    }
    // The new name should survive a power cut too; a folder that refuses this
    // still holds the complete file, so a failure here is not reported.
    const int dirFd = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void RemoveTemporaryFilesForExit()
{
    // The lock is never given back, so no save makes another temporary file
    // before the process ends; a save whose file is removed here fails at its
    // rename and leaves its target as it was.
    inFlightMutex.lock();
    for (const std::string& name : inFlight) ::unlink(name.c_str());
}
