#pragma once
// The simulator's end of the serial line: a pseudo-terminal whose slave is
// published under a stable path. The simulator keeps a handle on the slave
// itself, so a host that closes and reopens the port (the updater does so
// before every command) never makes the master see a hang-up.

#include <string>

namespace torvexsim {

class PtyLink {
public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink &) = delete;
    PtyLink &operator=(const PtyLink &) = delete;

    // Throws std::system_error.
    void open();
    // Symlink to the slave; an existing symlink there is replaced, anything
    // else is left alone and reported (std::system_error).
    void publish(const std::string &linkPath);
    // Bytes sent to the host that it has not read yet; -1 once hung up.
    int pendingToHost() const;
    // Like pulling a USB adapter: both handles closed, the host reads EOF/EIO.
    void hangUp();
    // hangUp() and the link removed.
    void close();

    int master() const { return master_; }
    const std::string &slavePath() const { return slavePath_; }
    const std::string &linkPath() const { return linkPath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace torvexsim
