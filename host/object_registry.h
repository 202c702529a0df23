// The engine's objects are plain records handed to the driver; the state
// behind each is found again by the record's address.
#pragma once

#include <map>
#include <mutex>

namespace host {

template <class State>
class Registry {
  public:
    void Add(const void* object, State* state) {
        std::lock_guard guard(lock_);
        states_[object] = state;
    }
    void Remove(const void* object) {
        std::lock_guard guard(lock_);
        states_.erase(object);
    }
    State* Find(const void* object) {
        std::lock_guard guard(lock_);
        auto found = states_.find(object);
        return found == states_.end() ? nullptr : found->second;
    }

  private:
    std::mutex lock_;
    std::map<const void*, State*> states_;
};

}  // namespace host
