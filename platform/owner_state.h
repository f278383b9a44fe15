#pragma once
// The owners of the platform layer (File, DirectoryReader, Image) keep their platform's state
// behind a pointer. Moving one hands the state over and leaves the source without any, so that a
// move allocates nothing (it is noexcept); the source gets a fresh state when it is used again.
#include <memory>

namespace platform {

template <typename State>
void EnsureState(std::unique_ptr<State>& state) {
    if (!state) state.reset(new State);
}

}  // namespace platform
