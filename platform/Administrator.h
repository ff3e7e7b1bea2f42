#pragma once

// True only when the process runs with administrative rights: on Windows, when an access
// check grants the caller's token access reserved to the Administrators group; on POSIX,
// when the effective user is root.
bool IsAdministrator();
