// The Windows error codes the program reports or acts on, by portable names: the Linux and
// simulated backends report the same codes where the Windows functions they stand in for would,
// so logs and outcomes match on every build.
#pragma once

#include <cstdint>

inline constexpr uint32_t kErrorFileNotFound = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
inline constexpr uint32_t kErrorGenFailure = 31;            // ERROR_GEN_FAILURE
inline constexpr uint32_t kErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
inline constexpr uint32_t kErrorInsufficientBuffer = 122;   // ERROR_INSUFFICIENT_BUFFER
inline constexpr uint32_t kErrorNoMoreItems = 259;          // ERROR_NO_MORE_ITEMS
inline constexpr uint32_t kErrorIoIncomplete = 996;         // ERROR_IO_INCOMPLETE
inline constexpr uint32_t kErrorIoPending = 997;            // ERROR_IO_PENDING
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
