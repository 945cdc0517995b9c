// The growing block both HTTP implementations collect a body in: doubling
// growth (a feed arrives in thousands of small reads), a hard size limit and
// zero padding after the data. Internal to the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/http.h"
#include "platform/memory.h"

namespace feedlet {
namespace platform {

class HttpBody {
public:
    HttpBody(size_t max_bytes, size_t padding) : max_bytes_(max_bytes), padding_(padding) {}
    ~HttpBody() { free(data_); }
    HttpBody(const HttpBody&) = delete;
    HttpBody& operator=(const HttpBody&) = delete;

    // Appends n bytes; kTooLarge or kNoMemory when they cannot be kept.
    HttpStatus Append(const void* bytes, size_t n) {
        if (n > max_bytes_ || length_ > max_bytes_ - n) return HttpStatus::kTooLarge;
        size_t needed = length_ + n + padding_;
        if (needed > capacity_ && !Grow(needed)) return HttpStatus::kNoMemory;
        std::memcpy(data_ + length_, bytes, n);
        length_ += n;
        return HttpStatus::kOk;
    }

    // Hands the block over, padded with zero bytes; an empty body still gets
    // a block. kNoMemory when not even that could be allocated.
    HttpStatus Release(unsigned char** data, size_t* length) {
        if (length_ + padding_ > capacity_ && !Grow(length_ + padding_)) return HttpStatus::kNoMemory;
        std::memset(data_ + length_, 0, padding_);
        *data = data_;
        *length = length_;
        data_ = nullptr;
        length_ = capacity_ = 0;
        return HttpStatus::kOk;
    }

private:
    bool Grow(size_t needed) {
        size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
        while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
        // Never reserve more than the largest body allowed needs.
        size_t ceiling = max_bytes_ + padding_;
        if (capacity > ceiling && needed <= ceiling) capacity = ceiling;
        auto* grown = static_cast<unsigned char*>(platform::Reallocate(data_, capacity));
        if (!grown) return false;
        data_ = grown;
        capacity_ = capacity;
        return true;
    }

    size_t max_bytes_;
    size_t padding_;
    unsigned char* data_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
};

}  // namespace platform
}  // namespace feedlet
