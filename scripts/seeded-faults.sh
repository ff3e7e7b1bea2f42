#!/usr/bin/env bash
# Seeds one fault at a time into the sources, rebuilds, runs the tests and records whether
# any test failed. A fault no test catches is a gap in the tests; after trimming tests the
# same faults must still be caught. Run from a clean checkout (it restores every file it
# touches, and refuses to start on a tree with changes to the files it seeds).
#
#   bash scripts/seeded-faults.sh [preset] [filter]
#
# preset: the native preset to build and test (default linux). filter: run only the faults
# whose name contains it. Prints one line per fault and a closing "N passed, N failed" line,
# where passed means caught. Exits 1 when a fault is missed or cannot be applied.
set -u
cd "$(dirname "$0")/.."
preset=${1:-linux}
filter=${2:-}

# name ~ file ~ text as it is ~ text with the fault. Each "as it is" text must occur in the
# file; its first occurrence is replaced.
faults() {
    cat <<'LIST'
app-empty-file-name~app/Options.cpp~BadArgument(argument) || argument[0] == '\0'~BadArgument(argument)
app-failed-update-exit-0~app/Driver.cpp~            status = 1;~            status = 0;
app-serial-filter-inverted~app/Driver.cpp~!wideSerial.empty() && record.serial != wideSerial~!wideSerial.empty() && record.serial == wideSerial
app-list-format~app/Driver.cpp~"Device: %04x:%04x  serial/id=%s\n"~"Device: %04X:%04x  serial/id=%s\n"
app-no-device-message~app/Driver.cpp~Error: No single 7352 device is attached.~Error: No 7352 device is attached.
app-lock-skipped~app/Driver.cpp~AcquireRunLock(lockWaitMs) == RunLockStatus::Busy~AcquireRunLock(lockWaitMs) == RunLockStatus::Busy && false
app-help-text~app/Help.cpp~List attached devices *1~List attached devices
app-option-clash-allowed~app/Options.cpp~        } else if (pending != commandLine.mode) {~        } else if (pending != commandLine.mode && false) {
app-long-option-abbreviated~app/Options.cpp~        if (std::strlen(option.name) != nameLength ||~        if (std::strlen(option.name) < nameLength ||
app-check-drift-status~app/Driver.cpp~return failed ? 1 : drift ? kExitDrift : 0;~return failed ? 1 : 0;
app-if-needed-always~app/Driver.cpp~needed = !check.differences.empty();~needed = true;
app-json-on-stdout~app/Driver.cpp~        ConsoleSendOutputToError(true);~        ConsoleSendOutputToError(false);
settings-three-digit-value~settings/KemoHWData.cpp~count != 2 || text.size() != 2~count < 2
platform-hex-digit~platform/Text.cpp~return static_cast<int>(c - U'a' + 10);~return static_cast<int>(c - U'a' + 11);
settings-max-exclusive~settings/KemoHWData.cpp~!tooLow && value <= max~!tooLow && value < max
settings-record-constant~settings/KemoHWData.cpp~{0x01, 0x01, 0x14, 0x64, 0x00, 0x00, 0x01, 0x01}~{0x01, 0x01, 0x14, 0x65, 0x00, 0x00, 0x01, 0x01}
settings-image-offset~settings/KemoHWData.cpp~rawCfg.get() + kCfgImageOffsetInAnswer~rawCfg.get() + kCfgImageOffsetInAnswer + 1
settings-min-exclusive~settings/KemoHWData.cpp~const bool tooLow = value < min;~const bool tooLow = value <= min && min > 0;
settings-table-range~settings/SettingsItems.h~{kKeyBrightness, kSectionGeneral, 0x38, 120, 0x00, 0x20, 0x1D},~{kKeyBrightness, kSectionGeneral, 0x38, 120, 0x00, 0x21, 0x1D},
devices-query-marker~devices/KemoVideoFlash.cpp~    report[5] = kQueryMarker;~    report[5] = 0;
devices-reset-no-flush~devices/KemoVideoFlash.cpp~    if (!channel.flushDeviceQueue()) {<NL>        return ResetOutcome::NotSent;~    if (false) {<NL>        return ResetOutcome::NotSent;
devices-no-leave-on-lost-answer~devices/KemoVideoFlashUpdate.cpp~        if (entered == ResetOutcome::Unanswered) {~        if (false) {
devices-write-status-mask~devices/KemoVideoFlashUpdate.cpp~return (status & 0xC0) != 0;~return (status & 0x80) != 0;
devices-record-header~devices/KemoVideoFlashUpdate.cpp~report[1] = static_cast<uint8_t>(dataLength + kRecordHeaderLength);~report[1] = static_cast<uint8_t>(dataLength + kRecordHeaderLength - 1);
devices-commit-length~devices/KemoVideoFlashUpdate.cpp~    commit[1] = kCommitLength;~    commit[1] = kCommitLength + 1;
devices-feature-length~devices/KemoVideoFlash.cpp~answer.length = caps.FeatureReportByteLength;~answer.length = caps.FeatureReportByteLength - 1;
devices-reset-pause~devices/KemoVideoFlashUpdate.cpp~constexpr uint32_t kAfterResetMs = 8000;~constexpr uint32_t kAfterResetMs = 800;
devices-component-table~devices/KemoVideoFlash.cpp~constexpr uint32_t kComponentTableOffset = 7;~constexpr uint32_t kComponentTableOffset = 8;
devices-reset-status-rule~devices/KemoVideoFlash.cpp~if ((status[1] & 0x01) != 0) {~if ((status[1] & 0xC0) == 0) {
devices-query-status-rule~devices/KemoVideoFlash.cpp~if ((status[1] & 0x01) == 0) {~if (status[1] == 0) {
devices-short-answer-kept~settings/SettingsItems.h~kCfgAnswerMinSize = kCfgImageOffsetInAnswer + kCfgImageSize;~kCfgAnswerMinSize = kCfgImageOffsetInAnswer + kCfgImageSize - 1;
devices-leave-when-gone~devices/KemoVideoFlashUpdate.cpp~    if (!channel.isConnected()) {<NL>        return;~    if (false) {<NL>        return;
devices-query-no-flush~devices/KemoVideoFlash.cpp~    if (!channel.flushDeviceQueue()) {<NL>        return std::nullopt;~    if (false) {<NL>        return std::nullopt;
devices-query-wait~devices/KemoVideoFlash.h~kQueryAnswerTimeoutMs = 3000;~kQueryAnswerTimeoutMs = 3200;
devices-feature-report-id~devices/KemoVideoFlash.cpp~    if (!channel.getFeature(answer.bytes.get(), answer.length)) {~    answer.bytes[0] = 1;<NL>    if (!channel.getFeature(answer.bytes.get(), answer.length)) {
discovery-vid-pid-swapped~discovery/DeviceIdParsing.cpp~ParseIdPiece(pieces[0], L"VID", vid) && ParseIdPiece(pieces[1], L"PID", pid)~ParseIdPiece(pieces[0], L"VID", pid) && ParseIdPiece(pieces[1], L"PID", vid)
discovery-zero-id~discovery/DeviceIdParsing.cpp~    return id != 0;~    return true;
discovery-single-monitor~discovery/ZelHidDisplayList.cpp~    if (!result.empty()) {~    if (result.size() > 1) {
discovery-hub-rule~discovery/ZelHidDisplayList.cpp~    return hubFound && hubVid == kPlacementHubVid && hubPid == kPlacementHubPid;~    return true;
discovery-linux-bluetooth-on-hub~discovery/linux/EnumerateHidLinux.cpp~const bool onUsb = probe->bus == hidraw::kBusUsb;~const bool onUsb = true;
discovery-linux-serial-pair-split~discovery/linux/Udev.cpp~            units.pop_back();  // the pair's low half is beyond the cut~
discovery-linux-hex-short~discovery/linux/Udev.cpp~digits > 4 || text.size() != digits~digits > 4 || text.size() > digits
discovery-linux-port-separator~discovery/linux/Udev.cpp~sysname.find_last_of("-.")~sysname.find_last_of(".")
discovery-linux-bound-interface~discovery/linux/EnumerateUsbLinux.cpp~if (driver == nullptr || std::string(driver) == "usbfs") {~if (true) {
log-line-end~log/Log.cpp~    line += "\r\n";~    line += "\n";
log-level-filter~log/Log.cpp~const bool passes = level <= handler.GetLevel();~const bool passes = level < handler.GetLevel();
log-fifo-blocks~platform/posix/LogFilePosix.cpp~O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666);~O_NOCTTY | O_NOFOLLOW, 0666);
log-cap-one-line-late~log/Log.cpp~    if (size >= maxFileSize) {~    if (size > maxFileSize) {
log-message-cut-short~log/Log.cpp~constexpr size_t kMaxMessageLength = 1023;~constexpr size_t kMaxMessageLength = 1022;
platform-profile-blank~platform/PortableProfile.cpp~c == u'\f' || c == u'\r'~c == u'\r'
platform-profile-case~platform/PortableProfile.cpp~? static_cast<char16_t>(c - 32) : c;~? c : c;
platform-utf16-surrogates~platform/Text.cpp~(0x10000 + ((unit - 0xD800) << 10)~(0x1000 + ((unit - 0xD800) << 10)
platform-replace-target~platform/posix/ReplaceFilePosix.cpp~rename(temp.c_str(), target.c_str())~rename(temp.c_str(), (target + "x").c_str())
platform-replace-mode-lost~platform/posix/ReplaceFilePosix.cpp~if (fchmod(file.fd, mode) != 0 ||~if (fchmod(file.fd, 0600) != 0 ||
platform-lock-not-flock~platform/posix/FileLockPosix.cpp~if (flock(fd, LOCK_EX | LOCK_NB) == 0) {~if (struct flock l{F_WRLCK, SEEK_SET, 0, 0, 0}; fcntl(fd, F_OFD_SETLK, &l) == 0) {
platform-lock-any-owner~platform/posix/FileLockPosix.cpp~} else if (info.st_uid != geteuid()) {~} else if (false) {
platform-lock-follows-links~platform/posix/FileLockPosix.cpp~O_CLOEXEC | O_NOFOLLOW | O_NOCTTY~O_CLOEXEC | O_NOCTTY
hid-report-length~hid/ReportDescriptor.cpp~(longest + 7) / 8 + 1)~(longest + 7) / 8)
hid-hup-ignored~hid/linux/HidTransportLinux.cpp~(POLLERR | POLLHUP | POLLNVAL)) != 0) {~(POLLNVAL)) != 0) {
hid-gone-not-marked~hid/HidIo.cpp~    connected = false;<NL>    return true;~    return true;
hid-terminate-no-cancel~hid/HidIo.cpp~    transport->cancel();~
hid-late-write-lost~hid/HidIo.cpp~            break;  // finished right at the limit~            return false;
hid-linux-eintr-ends-wait~hid/linux/HidTransportLinux.cpp~if (errno == EINTR && left > 0) {~if (errno == EINTR && left < 0) {
hid-linux-eio-write-gone~hid/linux/HidLibLinux.cpp~(fromRead && error == EIO)~error == EIO
hid-linux-unnumbered-offset~hid/linux/HidTransportLinux.cpp~uint8_t* target = numberedReports ? buffer : buffer + 1;~uint8_t* target = buffer;
hid-linux-other-collection-kept~hid/linux/HidTransportLinux.cpp~if (declares(kHidpInput, buffer[0])) {~if (true) {
hid-linux-collection-path~hid/linux/HidLibLinux.cpp~"%s%02zu"~"%s%zu"
hid-linux-write-no-retry~hid/linux/HidTransportLinux.cpp~if (error != EAGAIN && error != EWOULDBLOCK) {~if (true) {
hid-linux-late-reports-unbounded~hid/linux/HidTransportLinux.cpp~++lateReports > kQueuedReports~++lateReports > 100000
hid-any-error-gone~hid/HidIo.cpp~    if (error != kErrorDeviceNotConnected) {~    if (error == 0) {
hid-late-read-gone-logged~hid/HidIo.cpp~if (gone(error) && how.end == HidWaitEnd::AtOnce) {~if (gone(error)) {
hid-write-limit~hid/HidIo.cpp~constexpr uint32_t kWriteTimeoutMs = 5000;~constexpr uint32_t kWriteTimeoutMs = 4000;
sim-record-rule~sim/SimController.cpp~return (status & 0xC0) == 0;~return (status & 0x80) == 0;
sim-lock-reload-skipped~sim/SimRunLock.cpp~            sim::ReloadState();~            (void)0;
sim-state-mode-lost~sim/SimStateFormat.cpp~(m.updateMode ? "update" : "normal")~(m.updateMode ? "normal" : "normal")
LIST
}

touched=$(faults | cut -d'~' -f2 | sort -u)
if ! git diff --quiet -- $touched; then
    echo "seeded-faults: the files to seed have changes; commit or stash them first" >&2
    exit 2
fi
ctestLog=$(mktemp)
trap 'git checkout -q -- $touched; rm -f "$ctestLog"' EXIT

cmake --preset "$preset" >/dev/null || exit 2
cmake --build --preset "$preset" -j2 >/dev/null || { echo "seeded-faults: the clean tree does not build" >&2; exit 2; }

caught=0
missed=0
while IFS='~' read -r name file before after; do
    [ -n "$name" ] || continue
    case "$name" in *"$filter"*) ;; *) continue ;; esac
    # Literal replacement of the first occurrence; <NL> in the table stands for a line end.
    if ! python3 - "$file" "$before" "$after" <<'PY'
import sys
path, before, after = sys.argv[1], sys.argv[2], sys.argv[3]
unescape = lambda s: s.replace('<NL>', '\n')
before, after = unescape(before), unescape(after)
text = open(path, encoding='utf-8').read()
if before not in text:
    sys.exit(1)
open(path, 'w', encoding='utf-8').write(text.replace(before, after, 1))
PY
    then
        echo "NOT APPLIED $name ($file)"
        missed=$((missed + 1))
        continue
    fi
    if ! cmake --build --preset "$preset" -j2 >/dev/null 2>&1; then
        result="caught (build)"
    elif ctest --preset "$preset" -j4 --timeout 300 >"$ctestLog" 2>&1; then
        result="MISSED"
    else
        # Which tests caught it: a test no fault fails is one to look at when trimming.
        result="caught by $(sed -n '/tests FAILED:/,$p' "$ctestLog" | grep -oE ' - [^ ]+' | cut -c4- | tr '\n' ' ')"
    fi
    git checkout -q -- "$file"
    echo "$result $name"
    if [ "$result" = MISSED ]; then missed=$((missed + 1)); else caught=$((caught + 1)); fi
done < <(faults)
cmake --build --preset "$preset" -j2 >/dev/null 2>&1
echo "seeded faults: $caught passed, $missed failed"
[ "$missed" -eq 0 ]

