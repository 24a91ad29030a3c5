// The cameras an INDI server offers, listed on a connection of its own (for the camera
// choice), so that the camera in use is not disturbed.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "IndiSession.h"

#pragma GCC visibility push(default)
#include "IndiCam.h"
#include "tarvidll.h"
#pragma GCC visibility pop

namespace indicam {
namespace {
// A client of its own that only notes the cameras a server announces, for the camera choice.
class ListingClient : public INDI::BaseClient {
  public:
    // The cameras, in order of appearance, once the server has gone quiet for a moment (it
    // lists every device's properties at once when a client connects).
    std::vector<std::string> cameras() {
        const auto start = Clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        while (!down_ && Clock::now() - start < kListingTime &&
               (Clock::now() - last_ < 400ms || Clock::now() - start < 300ms))
            changed_.wait_for(lock, 50ms);
        return cameras_;
    }

  protected:
    void newProperty(INDI::Property p) override {
        bool camera = p.isNameMatch("CCD_EXPOSURE");
        if (p.isNameMatch("DRIVER_INFO") && p.getType() == INDI_TEXT) {
            auto* iface = p.getText()->findWidgetByName("DRIVER_INTERFACE");
            camera = iface && iface->getText() &&
                     (std::atoi(iface->getText()) & INDI::BaseDevice::CCD_INTERFACE);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        last_ = Clock::now();
        const std::string device = p.getDeviceName();
        if (camera && std::find(cameras_.begin(), cameras_.end(), device) == cameras_.end())
            cameras_.push_back(device);
        changed_.notify_all();
    }
    void serverDisconnected(int /*exitCode*/) override {
        std::lock_guard<std::mutex> lock(mutex_);
        down_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> cameras_;
    Clock::time_point last_ = Clock::now();
    bool down_ = false;
};

// Copies text into buffer, cut to fit, zero-terminated.
void copyOut(const std::string& text, char* buffer, int size) {
    if (!buffer || size < 1) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}
}  // namespace
}  // namespace indicam

using namespace indicam;

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int CameraListDevices(const char* server, char* buffer, int size) {
    std::string host = "localhost";
    int port = 7624;
    const std::string address = server ? server : "";
    std::string why;
    if (!address.empty() && !parseServer(address, &host, &port, &why)) {
        copyOut(why, buffer, size);
        return -1;
    }
    ListingClient lister;
    lister.setServer(host.c_str(), static_cast<unsigned>(port));
    lister.setConnectionTimeout(3, 0);
    bool connected = false;
    send([&] { connected = lister.connectServer(); });
    if (!connected) {
        copyOut("no INDI server at " + host + ":" + std::to_string(port), buffer, size);
        return -1;
    }
    const std::vector<std::string> cameras = lister.cameras();
    lister.disconnectServer();
    std::string names;
    int count = 0;
    for (const std::string& name : cameras) {
        if (size < 1 || names.size() + name.size() + 1 >= static_cast<size_t>(size)) break;
        names += name + "\n";
        ++count;
    }
    copyOut(names, buffer, size);
    return count;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
