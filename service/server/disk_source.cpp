#include "disk_source.h"

#include <winioctl.h>

#include <optional>
#include <span>

#include "source_size.h"

namespace varnox {

namespace {

std::int64_t ImageFileSize(HANDLE handle) {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle, &size) ? size.QuadPart : 0;
}

std::int64_t PhysicalDriveSize(HANDLE handle) {
    std::uint8_t geometry[24] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry, sizeof geometry, &returned,
                         nullptr)) {
        return 0;
    }
    return static_cast<std::int64_t>(SizeFromDriveGeometry(geometry).value_or(0));
}

// One volume query; a pending call is completed by waiting on the overlapped record's event.
template <std::size_t N>
std::optional<std::uint64_t> QueryVolume(HANDLE handle, DWORD code, OVERLAPPED* overlapped,
                                         std::optional<std::uint64_t> (*parse)(std::span<const std::uint8_t>)) {
    std::uint8_t output[N] = {};
    DWORD returned = 0;
    if (DeviceIoControl(handle, code, nullptr, 0, output, N, &returned, overlapped)) return parse(std::span<const std::uint8_t>(output, N));
    if (GetLastError() == ERROR_IO_PENDING && overlapped != nullptr) {
        WaitForSingleObject(overlapped->hEvent, INFINITE);
        return parse(std::span<const std::uint8_t>(output, N));
    }
    return std::nullopt;
}

std::int64_t VolumeSize(HANDLE handle) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, "Global\\KORVELSERVERINIT");
    OVERLAPPED* withEvent = overlapped.hEvent != nullptr ? &overlapped : nullptr;
    std::optional<std::uint64_t> size =
        QueryVolume<32>(handle, IOCTL_DISK_GET_PARTITION_INFO, withEvent, SizeFromPartitionInfo);
    if (!size) size = QueryVolume<144>(handle, IOCTL_DISK_GET_PARTITION_INFO_EX, withEvent, SizeFromPartitionInfoEx);
    if (!size) size = QueryVolume<8>(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, SizeFromLengthInfo);
    if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
    return static_cast<std::int64_t>(size.value_or(0));
}

}  // namespace

DiskSource OpenSource(const std::string& path) {
    DiskSource source;
    source.path = path;
    source.kind = ClassifySourcePath(path);
    source.handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source.handle == INVALID_HANDLE_VALUE) return source;
    source.ready = true;
    switch (source.kind) {
    case SourceKind::SOURCE_IMAGE_FILE:
        source.size = ImageFileSize(source.handle);
        break;
    case SourceKind::SOURCE_PHYSICAL_DRIVE:
        source.size = PhysicalDriveSize(source.handle);
        break;
    case SourceKind::SOURCE_VOLUME:
        source.size = VolumeSize(source.handle);
        break;
    }
    return source;
}

void CloseSource(DiskSource& source) {
    if (source.handle != INVALID_HANDLE_VALUE) CloseHandle(source.handle);
    source.handle = INVALID_HANDLE_VALUE;
    source.ready = false;
}

}  // namespace varnox
