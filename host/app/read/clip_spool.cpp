#include "clip_spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "interrupt.h"
#include "user_text.h"

namespace tavhost {

namespace {

// Closes a descriptor when it goes.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd > 2) close(fd);
    }
};

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

}  // namespace

bool SpooledClip::NeedsSpool(const std::string& path) {
    if (path == "-") return true;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;  // the probe says why it cannot open it
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

SpooledClip::~SpooledClip() {
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool SpooledClip::Spool(const std::string& path, std::string* error) {
    const std::string shown = path == "-" ? "standard input" : "clip " + Quoted(path);
    auto fail = [&](const std::string& why) {
        *error = "cannot read " + shown + ": " + why;
        return false;
    };
    Fd in;
    if (path == "-") {
        if (isatty(STDIN_FILENO)) return fail("it is a terminal; pipe a clip into it");
        in.fd = STDIN_FILENO;
    } else {
        // Opening a FIFO waits for its writer; a signal ends the wait.
        while ((in.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
            if (errno != EINTR) return fail(std::strerror(errno));
            if (gInterrupted) return fail("interrupted");
        }
    }
    std::string ext = std::filesystem::path(path).extension().string();
    if (ext.size() > 8 || ext.find_first_of("/\\") != std::string::npos) ext.clear();
    std::string pattern = TempFolder() + "/tavhost-clip-XXXXXX" + ext;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Fd out;
    out.fd = mkostemps(name.data(), int(ext.size()), O_CLOEXEC);
    if (out.fd < 0)
        return fail("cannot make a temporary copy: " + std::string(std::strerror(errno)));
    temp_ = name.data();
    std::vector<char> buffer(1 << 20);
    for (;;) {
        if (gInterrupted) return fail("interrupted");
        const ssize_t got = read(in.fd, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(std::strerror(errno));
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out.fd, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR) {
                if (gInterrupted) return fail("interrupted");
                continue;
            }
            if (put <= 0)
                return fail("cannot write its temporary copy: " +
                            std::string(std::strerror(put < 0 ? errno : ENOSPC)));
            done += put;
        }
    }
    if (close(out.fd) != 0) {
        out.fd = -1;
        return fail("cannot write its temporary copy: " + std::string(std::strerror(errno)));
    }
    out.fd = -1;
    return true;
}

}  // namespace tavhost
