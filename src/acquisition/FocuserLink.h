#pragma once
// The focuser of the camera library, for the acquisition thread: a move asked for on any
// thread is sent between exposures, and what the library says of the focuser is published
// for the window thread.
#include <cstdint>
#include <mutex>

struct TarviApi;

struct FocuserStatus {
    bool present = false;  // the camera library has a focuser
    int32_t position = 0;
    int32_t minimum = 0, maximum = 0;
    // From a move asked for (or one another program started) until the focuser reports its
    // position reached.
    bool moving = false;
};

class FocuserLink {
  public:
    // Asks for the absolute position (any thread); clamped to the focuser's range when sent.
    // The status says moving from this call on.
    void moveTo(int32_t position);
    FocuserStatus status() const;
    // Between exposures, on the acquisition thread: sends a move asked for and reads the
    // focuser.
    void service(const TarviApi& api);

  private:
    mutable std::mutex mutex_;
    int32_t asked_ = 0;
    uint64_t serial_ = 0;  // moves asked for
    uint64_t sent_ = 0;    // of those, the last one sent (acquisition thread)
    FocuserStatus status_;
};
