#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/LogFile.h"

int OpenLogFile(const std::string& fileName) {
    int fd = -1;
    if (_sopen_s(&fd, fileName.c_str(), _O_WRONLY | _O_BINARY | _O_CREAT | _O_APPEND, _SH_DENYNO,
                 _S_IREAD | _S_IWRITE) != 0) {
        return -1;
    }
    // Only a file on disk: a pipe or a device named as the log could hold the run up.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) {
        _close(fd);
        return -1;
    }
    return fd;
}

bool LogFileSize(int fd, uint64_t& size) {
    const __int64 length = _filelengthi64(fd);
    if (length < 0) {
        return false;
    }
    size = static_cast<uint64_t>(length);
    return true;
}

void WriteLogFile(int fd, const char* data, size_t length) {
    [[maybe_unused]] const int written = _write(fd, data, static_cast<unsigned>(length));
}

void CloseLogFile(int fd) {
    _close(fd);
}
