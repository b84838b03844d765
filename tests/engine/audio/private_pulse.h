#pragma once
// A PulseAudio server of the test's own, with one null sink, reachable only through a socket
// in a temporary folder. SDL is pointed at it through PULSE_SERVER. The test starts it, kills
// it, freezes it and starts it again; the destructor ends it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "temp_folder.h"

namespace qtam::test {

class PrivatePulse {
public:
    PrivatePulse() {
        ::mkdir((dir_ / "rt").c_str(), 0700);
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        setenv("PULSE_SERVER", ("unix:" + Socket()).c_str(), 1);
    }
    ~PrivatePulse() { Kill(); }
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // True once the server answers on its socket.
    bool Start() {
        ::unlink(Socket().c_str());
        pid_ = ::fork();
        if (pid_ == 0) {
            setenv("HOME", dir_.path().c_str(), 1);
            setenv("XDG_RUNTIME_DIR", (dir_ / "rt").c_str(), 1);
            const std::string protocol =
                "module-native-protocol-unix socket=" + Socket() + " auth-anonymous=1";
            const std::string log = dir_ / "pulse.log";
            std::freopen(log.c_str(), "a", stdout);
            std::freopen(log.c_str(), "a", stderr);
            ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                     "-L", "module-null-sink", "-L", protocol.c_str(), nullptr);
            ::_exit(127);
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        struct stat st {};
        while (::stat(Socket().c_str(), &st) != 0) {
            if (std::chrono::steady_clock::now() > end || ::waitpid(pid_, nullptr, WNOHANG) != 0)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // Ends the server as a crash would.
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Stops the server without ending it: its clients' streams stand still.
    void Freeze() { ::kill(pid_, SIGSTOP); }
    // A new output device, as when one is plugged in; its name is `description`. Returns the
    // module number that RemoveDevice takes, or -1.
    int AddDevice(const std::string& description) {
        const std::string command = "pactl load-module module-null-sink sink_name=" + description +
                                    " sink_properties=device.description=" + description +
                                    " 2>/dev/null";
        FILE* out = ::popen(command.c_str(), "r");
        if (out == nullptr) return -1;
        int module = -1;
        if (std::fscanf(out, "%d", &module) != 1) module = -1;
        ::pclose(out);
        return module;
    }
    bool RemoveDevice(int module) {
        const std::string command = "pactl unload-module " + std::to_string(module);
        return std::system(command.c_str()) == 0;
    }

private:
    std::string Socket() const { return dir_ / "pulse.sock"; }
    TempFolder dir_;
    pid_t pid_ = -1;
};

}  // namespace qtam::test
