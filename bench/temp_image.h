#pragma once
// The image a benchmark server serves: a file of a given size in the temp folder, with
// contents that are not all zero (so nothing can take a shortcut on empty blocks),
// removed again when the server ends.

#include <windows.h>

#include <cstdint>
#include <string>

namespace varnox::bench {

class TempImage {
public:
    TempImage() = default;
    ~TempImage();
    TempImage(const TempImage&) = delete;
    TempImage& operator=(const TempImage&) = delete;

    // Empty on success, else the failed call with its error code.
    std::string Create(std::uint64_t size);

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace varnox::bench
