#pragma once
// A string shared between the window thread and the acquisition thread: replaced whole
// by one store and read as a whole copy, never seen half-built.
#include <atomic>
#include <memory>
#include <string>

class SharedText {
  public:
    SharedText() : value_(std::make_shared<const std::string>()) {}
    explicit SharedText(std::string initial)
        : value_(std::make_shared<const std::string>(std::move(initial))) {}
    void Set(std::string text) {
        std::atomic_store(&value_, std::make_shared<const std::string>(std::move(text)));
    }
    std::string Get() const { return *std::atomic_load(&value_); }

  private:
    std::shared_ptr<const std::string> value_;
};
