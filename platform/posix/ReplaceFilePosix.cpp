#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/ReplaceFile.h"
#include "platform/Text.h"
#include "platform/posix/FdCloser.h"

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// The file to replace, and the mode and owner it has (exists false when there is none yet).
// A link is followed to its file; a link to nothing is replaced itself.
bool FindTarget(std::string& target, struct stat& info, bool& exists) {
    exists = false;
    if (lstat(target.c_str(), &info) != 0) {
        return errno == ENOENT;
    }
    if (S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(target.c_str(), resolved) == nullptr) {
            return errno == ENOENT;
        }
        target = resolved;
        if (stat(target.c_str(), &info) != 0) {
            return false;
        }
    }
    exists = true;
    return true;
}

}  // namespace

bool ReplaceFileAtomically(const std::wstring& path, const std::string& bytes, uint32_t& error) {
    std::string target = Narrow(path);
    struct stat info {};
    bool exists = false;
    if (!FindTarget(target, info, exists)) {
        error = static_cast<uint32_t>(errno);
        return false;
    }
    mode_t mode = 0;
    if (exists) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = static_cast<mode_t>(0666 & ~mask);
    }

    std::string temp = target + ".XXXXXX";
    FdCloser file;
    file.fd = mkstemp(temp.data());
    if (file.fd < 0) {
        error = static_cast<uint32_t>(errno);
        return false;
    }
    if (exists && fchown(file.fd, info.st_uid, info.st_gid) != 0) {
        // Not permitted for other users' files: the file then belongs to us.
    }
    int code = 0;
    if (fchmod(file.fd, mode) != 0 || !WriteAll(file.fd, bytes) || fsync(file.fd) != 0) {
        code = errno;
    }
    // close reports a write that failed late (on NFS, say).
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0 && code == 0) {
        code = errno;
    }
    if (code == 0 && rename(temp.c_str(), target.c_str()) != 0) {
        code = errno;
    }
    if (code != 0) {
        unlink(temp.c_str());
        error = static_cast<uint32_t>(code);
        return false;
    }
    // Make the rename itself durable.
    const size_t slash = target.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    FdCloser dir;
    dir.fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0) {
        fsync(dir.fd);
    }
    return true;
}
