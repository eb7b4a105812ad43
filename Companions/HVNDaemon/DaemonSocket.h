// The daemon's listening socket at a path such as $HALVORN_ROOT/run/halvorn/HVNDamonObject.sock.
//
// Opening it: the folder above the socket's folder must exist (created when missing, 0755);
// the socket's folder is created or taken over as root's, mode 0755, and must be a real
// folder (a symbolic link there is refused, never followed). A socket left there by a daemon
// that is gone is removed; anything else at the socket's name (a file, a link, a socket
// another daemon still serves) makes opening fail and stays. The new socket belongs to the
// served user, mode 0600: root and that user may connect, nobody else.
//
// Threads: one owner.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace hvndaemon {

class DaemonSocket {
public:
    // Opens and listens; nullopt with errorText when it cannot.
    static std::optional<DaemonSocket> open(const std::string& path, uid_t owner, gid_t group,
                                            std::string* errorText);

    DaemonSocket(DaemonSocket&& other) noexcept;
    DaemonSocket& operator=(DaemonSocket&&) = delete;
    DaemonSocket(const DaemonSocket&) = delete;
    ~DaemonSocket();  // close()

    int fd() const { return fd_; }
    // Stops listening and removes the socket file when it is still the one this made.
    void close();

private:
    DaemonSocket() = default;
    int fd_ = -1;
    int folderFd_ = -1;
    std::string name_;
    ino_t inode_ = 0;
    dev_t device_ = 0;
};

}  // namespace hvndaemon
