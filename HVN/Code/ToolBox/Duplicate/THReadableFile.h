// A regular file opened for reading, for the hashing and comparing of the duplicate finder:
// the open never follows a final symbolic link and never blocks (a FIFO or device put in a
// file's place is refused, not read), and the descriptor closes with the object.
// One object per thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class THReadableFile {
public:
    THReadableFile() = default;
    ~THReadableFile();
    THReadableFile(const THReadableFile&) = delete;
    THReadableFile& operator=(const THReadableFile&) = delete;
    THReadableFile(THReadableFile&& other) noexcept;
    THReadableFile& operator=(THReadableFile&& other) noexcept;

    // Opens path; false (with error holding "<path>: <system error text>") when it cannot be
    // opened or is no regular file.
    bool open(const std::string& path, std::string* error = nullptr);
    // The same for the entry `name` of the folder open at folderFd.
    bool openAt(int folderFd, const char* name, const std::string& pathForMessages,
                std::string* error = nullptr);
    bool isOpen() const { return fd_ >= 0; }
    void close();

    // The length and identity of the open file at the time it was opened.
    uint64_t size() const { return size_; }
    uint64_t device() const { return device_; }
    uint64_t inode() const { return inode_; }
    int fd() const { return fd_; }

    // Reads up to length bytes at offset, retrying short reads and interruptions until
    // length bytes are read or the end of the file is reached. The number of bytes read, or
    // -1 on a read error (errno set).
    ssize_t readAt(void* buffer, size_t length, uint64_t offset) const;

private:
    bool finishOpen(int fd, const std::string& path, std::string* error);

    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
};
