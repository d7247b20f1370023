// A restic repository served over HTTP by "rclone serve restic" on the
// loopback interface, for tests of remote servers and of many hosts.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine_harness.h"

namespace harness {

inline int free_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

inline bool accepts(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class RcloneServer {
  public:
    // One user "u" with password "secret", unless access gives other
    // options (an htpasswd file, private repositories).
    RcloneServer(const std::string &dir, int port, std::vector<std::string> access = {})
        : port_(port) {
        std::string addr = "127.0.0.1:" + std::to_string(port);
        if (access.empty()) {
            access = {"--user", "u", "--pass", "secret"};
        }
        std::vector<std::string> args = {"serve", "restic", "--addr", addr};
        args.insert(args.end(), access.begin(), access.end());
        args.push_back(dir);
        pid_ = start("/usr/bin/rclone", args);
        for (int i = 0; i < 100 && pid_ > 0 && !accepts(port); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~RcloneServer() { stop(); }
    RcloneServer(const RcloneServer &) = delete;
    RcloneServer &operator=(const RcloneServer &) = delete;
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool running() const { return pid_ > 0 && accepts(port_); }
    // A rest: location of repository NAME on this server.
    std::string location(const std::string &name, const std::string &user = "u",
                         const std::string &password = "secret") const {
        return "rest:http://" + user + ":" + password + "@127.0.0.1:" + std::to_string(port_) +
               "/" + name + "/";
    }

  private:
    int port_;
    pid_t pid_ = -1;
};

} // namespace harness
