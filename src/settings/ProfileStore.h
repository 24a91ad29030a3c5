#pragma once
// The target profiles on disk: one file "<name>.profile" per profile in the profiles folder
// of the program's data folder, so that a user can copy them between computers; and the
// name of the profile used last (group "Capture" of the settings file), applied at start.
#include <optional>
#include <string>
#include <vector>

#include "settings/TargetProfile.h"

class ProfileStore {
  public:
    // `folder`: where the profile files live; by default the profiles folder of
    // programDataFolder().
    explicit ProfileStore(std::string folder = defaultFolder());
    static std::string defaultFolder();
    const std::string& folder() const { return folder_; }

    // The names of the profiles there, sorted.
    std::vector<std::string> names() const;
    std::string pathOf(const std::string& name) const;
    // The profile of that name, read whole; nullopt with the reason ("<file> line 7: 'gain'
    // must be ...") in `error` when it cannot be read or does not parse.
    std::optional<TargetProfile> load(const std::string& name, std::string& error) const;
    // Writes the profile under its name, replacing the file whole (a write that fails
    // leaves the old one); false with the reason in `error`.
    bool save(const TargetProfile& profile, std::string& error) const;
    // Renames a profile's file, never over another profile; false with the reason.
    bool rename(const std::string& from, const std::string& to, std::string& error) const;
    bool remove(const std::string& name, std::string& error) const;

  private:
    std::string folder_;
};

// The profile applied last ("" when none), kept under group "Capture".
std::string readLastProfile();
bool writeLastProfile(const std::string& name);
