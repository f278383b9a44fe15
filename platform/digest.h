#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

// Incremental SHA-256 (FIPS 180-4). Every resource is released by the destructor.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Begin();
    bool Update(const void* data, size_t size);
    bool Finish(Sha256Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
